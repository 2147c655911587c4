#include "app/formatting.h"

#include <cstdio>

#include "platform/filetime.h"
#include "results/categories.h"

namespace qm {

namespace {

std::string Printf(const char* format, auto... args) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, format, args...);
  return buffer;
}

}  // namespace

std::string FormatSize(int64_t bytes) {
  constexpr int64_t kKiB = 1024;
  constexpr int64_t kMiB = kKiB * 1024;
  constexpr int64_t kGiB = kMiB * 1024;
  constexpr int64_t kTiB = kGiB * 1024;
  const auto scaled = [bytes](int64_t unit) { return static_cast<double>(bytes) / static_cast<double>(unit); };
  if (bytes >= kTiB) return Printf("%.2f TB", scaled(kTiB));
  if (bytes >= kGiB) return Printf("%.2f GB", scaled(kGiB));
  if (bytes >= kMiB) return Printf("%.2f MB", scaled(kMiB));
  if (bytes >= kKiB) return Printf("%.2f KB", scaled(kKiB));
  return Printf("%lld Bytes", static_cast<long long>(bytes));
}

std::string FormatDuration(int64_t seconds) {
  const auto s = static_cast<long long>(seconds);
  if (s >= 3600) return Printf("%lld Hour %lld Min", s / 3600, (s % 3600) / 60);
  if (s >= 60) return Printf("%lld Min %lld Sec", s / 60, s % 60);
  return Printf("%lld Sec", s);
}

std::string FormatFileTime(uint64_t fileTime) {
  const CivilTime t = FileTimeToCivil(fileTime);
  return Printf("%d-%d-%d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute, t.second);
}

std::string FileIconPath(std::string_view type, bool contentOk) {
  std::string lower(type);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  const auto icon = [contentOk](const char* base) {
    return std::string("FileIcon/") + base + (contentOk ? "" : "_error") + ".svg";
  };
  if (lower == "folder") return "FileIcon/folder.svg";
  if (lower == "exe") return icon("exe");
  switch (CategoryOfExtension(lower)) {
    case FileCategory::kPhoto: return icon("image");
    case FileCategory::kAudio: return icon("music");
    case FileCategory::kVideo: return icon("video");
    case FileCategory::kDocument: return icon("doc");
    case FileCategory::kArchive: return icon("zip");
    case FileCategory::kOthers: break;
  }
  return icon("default");
}

}  // namespace qm
