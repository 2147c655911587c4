// Opening, writing, flushing and closing a scan log.
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <new>
#include <utility>

#include "platform/errors.h"
#include "results/scan_log_impl.h"

namespace qm {

namespace fs = std::filesystem;

namespace {

constexpr uint64_t kRecordSize = kFoundFileRecordSize;
constexpr uint64_t kDirInfoSize = sizeof(DirInfoEntry);
constexpr uint64_t kMaxRecords = UINT32_MAX;  // record indices are 32-bit

// A base name is one file name in the scan folder, never a path.
bool IsPlainFileName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find('/') == std::string::npos && name.find('\0') == std::string::npos;
}

}  // namespace

void ScanLogStore::Impl::Reset() {
  mainFile.Close();
  relationFile.Close();
  dirInfoFile.Close();
  mainPath.clear();
  relationPath.clear();
  dirInfoPath.clear();
  std::vector<uint8_t>().swap(buffer);
  used = 0;
  recordCount = storedRecords = 0;
  pendingError = 0;
  RelationMap().swap(relations);
  relationsDirty = false;
  relationFileBytes = 0;
  std::vector<DirInfoEntry>().swap(directories);
  directoriesStored = 0;
  dirInfoHasTail = false;
  dirInfoById.clear();
  recordIndexBuilt = false;
  std::vector<uint32_t>().swap(entryIds);
  std::vector<uint8_t>().swap(folderFlags);
  folderById.clear();
  ownersBuilt = false;
  std::vector<uint64_t>().swap(ownerKey);
  std::vector<bool>().swap(hasOwner);
  published = 0;
  writer = {};
}

int ScanLogStore::Impl::Open(const fs::path& folder, const std::string& baseName) {
  if (!IsPlainFileName(baseName) || folder.empty()) return err::kInvalidName;
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (ec) {
    std::error_code ignored;
    if (!fs::is_directory(folder, ignored)) return ErrorFromErrno(ec.value());
  }

  mainPath = folder / baseName;
  relationPath = folder / (baseName + "_Relation");
  dirInfoPath = folder / (baseName + "_DirInfo");

  int result = mainFile.OpenReadWrite(mainPath);
  if (result == 0) result = relationFile.OpenReadWrite(relationPath);
  uint64_t mainBytes = 0, relationBytes = 0;
  if (result == 0) result = mainFile.Size(mainBytes);
  if (result == 0) result = relationFile.Size(relationBytes);
  if (result != 0) return result;

  // A partial record at the end (a write cut short) is not counted; the
  // next record is written over it.
  storedRecords = recordCount = std::min(mainBytes / kRecordSize, kMaxRecords);
  LoadRelations(relationBytes);

  try {
    buffer.assign(kBufferCapacity, 0);
  } catch (const std::bad_alloc&) {
    result = err::kNotEnoughMemory;
  }

  int dirResult = dirInfoFile.OpenReadWrite(dirInfoPath);
  uint64_t dirBytes = 0;
  if (dirResult == 0) dirResult = dirInfoFile.Size(dirBytes);
  if (dirResult == 0) dirResult = LoadDirInfo(dirBytes);
  return dirResult != 0 ? dirResult : result;
}

void ScanLogStore::Impl::LoadRelations(uint64_t fileBytes) {
  relationFileBytes = fileBytes;
  if (fileBytes == 0) return;
  const uint64_t wanted = std::min(fileBytes, MaxRelationTextBytes(recordCount));
  std::string text(wanted, '\0');
  size_t got = 0;
  relationFile.ReadAt(0, text.data(), text.size(), got);
  text.resize(got);
  relations = ParseRelationText(text, recordCount);
}

int ScanLogStore::Impl::LoadDirInfo(uint64_t fileBytes) {
  // Every usable entry names a record of the log, so a list much longer than
  // the log is damage and only its start is read.
  const uint64_t whole = std::min(fileBytes / kDirInfoSize, 2 * recordCount + 1024);
  dirInfoHasTail = fileBytes != whole * kDirInfoSize;
  constexpr uint64_t kChunk = 4096;
  for (uint64_t first = 0; first < whole; first += kChunk) {
    const uint64_t count = std::min(kChunk, whole - first);
    const size_t start = directories.size();
    directories.resize(start + count);
    size_t got = 0;
    int r = dirInfoFile.ReadAt(first * kDirInfoSize, directories.data() + start,
                               count * kDirInfoSize, got);
    directories.resize(start + got / kDirInfoSize);
    for (size_t i = start; i < directories.size(); ++i) IndexDirInfo(i);
    if (r != 0) return r;
    if (got != count * kDirInfoSize) break;
  }
  directoriesStored = directories.size();
  return err::kSuccess;
}

void ScanLogStore::Impl::IndexDirInfo(size_t position) {
  const DirInfoEntry& entry = directories[position];
  if (entry.recordIndex == 0 || entry.recordIndex > recordCount) return;
  dirInfoById.emplace(uint32_t{entry.directoryId}, static_cast<uint32_t>(position));
}

int ScanLogStore::Impl::WriteBuffer(bool keepOnFailure) {
  if (used == 0) return err::kSuccess;
  const size_t count = static_cast<size_t>(used) / kRecordSize;
  int result = mainFile.WriteAt(storedRecords * kRecordSize, buffer.data(), used);
  if (result != 0 && keepOnFailure) return result;
  if (result != 0) std::memset(buffer.data(), 0, used);  // the hole reads as zeros
  NoteWritten(buffer.data(), count);
  storedRecords += count;
  used = 0;
  return result;
}

int ScanLogStore::Impl::Flush(bool reportPending) {
  if (!IsOpen()) return err::kInvalidHandle;
  int result = WriteBuffer(true);
  if (result != 0) return result;

  // The side files are rewritten only when they changed, so a flush before
  // every listing costs nothing once the scan is over.
  if (relationsDirty) {
    const std::string text = FormatRelationText(relations);
    result = relationFile.WriteAt(0, text.data(), text.size());
    if (result != 0) return result;
    // Shorter text than before (a damaged file was read): cut the old tail,
    // which would otherwise be read back as relations.
    if (text.size() < relationFileBytes) relationFile.Truncate(text.size());
    relationFileBytes = text.size();
    relationsDirty = false;
  }
  if (directoriesStored < directories.size() || dirInfoHasTail) {
    // Entries are only ever appended: write the new ones after the stored.
    const size_t fresh = directories.size() - directoriesStored;
    if (fresh > 0) {
      result = dirInfoFile.WriteAt(directoriesStored * kDirInfoSize,
                                   directories.data() + directoriesStored, fresh * kDirInfoSize);
      if (result != 0) return result;
    }
    if (dirInfoHasTail) dirInfoFile.Truncate(directories.size() * kDirInfoSize);
    directoriesStored = directories.size();
    dirInfoHasTail = false;
  }
  if (reportPending && pendingError != 0) return std::exchange(pendingError, 0);
  return err::kSuccess;
}

void ScanLogStore::Impl::NoteWritten(const uint8_t* records, size_t count) {
  if (recordIndexBuilt) AppendToRecordIndex(records, count);
}

void ScanLogStore::Impl::AppendToRecordIndex(const uint8_t* records, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    FoundFileRecord record;
    std::memcpy(&record, records + i * kRecordSize, kRecordSize);
    const uint32_t index = static_cast<uint32_t>(entryIds.size() + 1);
    entryIds.push_back(uint32_t{record.entryId});
    folderFlags.push_back(record.isDirectory != 0 ? 1 : 0);
    if (record.isDirectory != 0) folderById.emplace(uint32_t{record.entryId}, index);
  }
}

ScanLogStore::ScanLogStore() : impl_(std::make_unique<Impl>()) {}

ScanLogStore::~ScanLogStore() { CloseScanLog(); }

int ScanLogStore::OpenScanLogIn(const fs::path& folder, const std::string& baseName) {
  CloseScanLog();
  // An absolute path names a log the user picked, wherever it lies; any
  // other name must be a plain file name inside the scan folder.
  const fs::path given(baseName);
  std::lock_guard lock(impl_->mutex);
  impl_->writer = std::this_thread::get_id();
  int result;
  try {
    result = given.is_absolute() ? impl_->Open(given.parent_path(), given.filename().string())
                                 : impl_->Open(folder, baseName);
    impl_->PublishReserved();
  } catch (const std::bad_alloc&) {
    impl_->Reset();
    return err::kNotEnoughMemory;
  }
  // Without its write buffer the log stays open for reading (result 8);
  // any other failure closes it: a log without its side files would lose
  // the folder structure at the next flush.
  if (result != 0 && result != err::kNotEnoughMemory) impl_->Reset();
  return result;
}

FoundFileRecord* ScanLogStore::ReserveRecord() {
  Impl& s = *impl_;
  std::lock_guard lock(s.mutex);
  s.PublishReserved();
  if (!s.IsOpen() || s.buffer.size() != static_cast<size_t>(kBufferCapacity)) return nullptr;
  if (s.recordCount >= kMaxRecords) return nullptr;
  if (s.used + static_cast<int>(kRecordSize) > kBufferCapacity) {
    // The engine goes on; the failure is reported by the next FlushScanLog.
    if (int r = s.WriteBuffer(false); r != 0 && s.pendingError == 0) s.pendingError = r;
  }
  uint8_t* slot = s.buffer.data() + s.used;
  std::memset(slot, 0, kRecordSize);
  s.used += static_cast<int>(kRecordSize);
  ++s.recordCount;
  return reinterpret_cast<FoundFileRecord*>(slot);
}

int ScanLogStore::SetContentOk(uint32_t recordIndex, uint32_t value) {
  Impl& s = *impl_;
  std::lock_guard lock(s.mutex);
  s.PublishReserved();
  if (!s.IsOpen()) return err::kInvalidHandle;
  if (recordIndex == 0 || recordIndex > s.recordCount) return err::kInvalidParameter;
  const uint64_t at = (uint64_t{recordIndex} - 1) * kRecordSize + offsetof(FoundFileRecord, contentOk);
  if (recordIndex > s.storedRecords) {
    std::memcpy(s.buffer.data() + (at - s.storedRecords * kRecordSize), &value, sizeof value);
    return err::kSuccess;
  }
  return s.mainFile.WriteAt(at, &value, sizeof value);
}

void ScanLogStore::AddRelation(uint64_t directoryKey, uint32_t recordIndex, uint32_t directoryId,
                               const char* name) {
  Impl& s = *impl_;
  std::lock_guard lock(s.mutex);
  s.PublishReserved();
  if (!s.IsOpen() || recordIndex == 0 || recordIndex > s.recordCount) return;
  try {
    s.relations[directoryKey].push_back(recordIndex);
    s.relationsDirty = true;
    s.NoteOwner(directoryKey, recordIndex);
    if (name != nullptr) {
      DirInfoEntry entry{};
      entry.directoryId = directoryId;
      entry.recordIndex = recordIndex;
      CopyNameToField(name, entry.name, sizeof entry.name);
      s.directories.push_back(entry);
      s.IndexDirInfo(s.directories.size() - 1);
    }
  } catch (const std::bad_alloc&) {
    if (s.pendingError == 0) s.pendingError = err::kNotEnoughMemory;
  }
}

int ScanLogStore::FlushScanLog() {
  std::lock_guard lock(impl_->mutex);
  impl_->PublishReserved();
  try {
    return impl_->Flush(true);
  } catch (const std::bad_alloc&) {
    return err::kNotEnoughMemory;
  }
}

void ScanLogStore::CloseScanLog() {
  if (IsOpen()) FlushScanLog();
  std::lock_guard lock(impl_->mutex);
  impl_->Reset();
}

uint64_t ScanLogStore::RecordCount() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->IsOpen() ? impl_->VisibleRecords() : 0;
}

int ScanLogStore::SetListProgress(ListProgressFn callback, void* user) {
  std::lock_guard lock(impl_->mutex);
  if (!impl_->IsOpen()) return err::kInvalidParameter;
  impl_->listProgress = callback;
  impl_->listProgressUser = user;
  return err::kSuccess;
}

void ScanLogStore::SetIncludeDamaged(bool include) {
  std::lock_guard lock(impl_->mutex);
  impl_->includeDamaged = include;
}

bool ScanLogStore::IsOpen() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->IsOpen();
}

const fs::path& ScanLogStore::MainPath() const { return impl_->mainPath; }

}  // namespace qm
