#include "results/history_entry.h"

#include <cstring>

#include "platform/text.h"

namespace qm {

// The path fields are reached through byte pointers: the struct is packed, so
// a char16_t pointer into it need not be aligned.
namespace {

std::string ReadPathField(const uint8_t* field) {
  return Utf16LeBytesToUtf8(field, kHistoryPathUnits);
}

bool WritePathField(const std::string& path, uint8_t* field) {
  std::memset(field, 0, kHistoryPathUnits * 2);
  std::u16string wide = Utf8ToUtf16(path);
  if (wide.size() >= kHistoryPathUnits) return false;
  for (size_t i = 0; i < wide.size(); ++i) {
    field[2 * i] = static_cast<uint8_t>(wide[i] & 0xFF);
    field[2 * i + 1] = static_cast<uint8_t>(wide[i] >> 8);
  }
  return true;
}

template <size_t Offset>
uint8_t* FieldOf(HistoryEntry* entry) {
  return reinterpret_cast<uint8_t*>(entry) + Offset;
}
template <size_t Offset>
const uint8_t* FieldOf(const HistoryEntry* entry) {
  return reinterpret_cast<const uint8_t*>(entry) + Offset;
}

}  // namespace

std::string HistoryEntry::ImagePath() const {
  return ReadPathField(FieldOf<offsetof(HistoryEntry, imagePath)>(this));
}
std::string HistoryEntry::Folder() const {
  return ReadPathField(FieldOf<offsetof(HistoryEntry, folder)>(this));
}
bool HistoryEntry::SetImagePath(const std::string& path) {
  return WritePathField(path, FieldOf<offsetof(HistoryEntry, imagePath)>(this));
}
bool HistoryEntry::SetFolder(const std::string& path) {
  return WritePathField(path, FieldOf<offsetof(HistoryEntry, folder)>(this));
}

}  // namespace qm
