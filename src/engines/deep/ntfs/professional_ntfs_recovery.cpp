#include "engines/deep/ntfs/professional_ntfs_recovery.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <unordered_set>

#include "engines/deep/ntfs/ntfs_cluster_size.h"
#include "engines/ntfs/ntfs_data_reader.h"
#include "engines/ntfs/ntfs_file_record.h"
#include "engines/ntfs/ntfs_geometry.h"
#include "engines/ntfs/ntfs_volume.h"
#include "engines/volume_warnings.h"
#include "platform/errors.h"
#include "platform/filetime.h"

namespace qm {

namespace {

std::string ExtensionOf(const std::string& name) {
  const size_t dot = name.rfind('.');
  return dot == std::string::npos ? std::string() : name.substr(dot + 1);
}

bool IsMftName(const std::string& name) {
  if (name.size() != 4) return false;
  std::string lower = name;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
  return lower == "$mft";
}

// A header whose sizes contradict each other or the record is not walked.
bool SaneHeader(const ntfs::RecordHeader& h, uint32_t recordSize) {
  return h.bytesInUse <= recordSize && h.firstAttribute <= recordSize &&
         h.firstAttribute <= h.bytesInUse;
}

}  // namespace

CProfessionalNtfsRecovery::CProfessionalNtfsRecovery() = default;

CProfessionalNtfsRecovery::~CProfessionalNtfsRecovery() {
  if (log_) log_->CloseScanLog();
  source_.Close();
}

int CProfessionalNtfsRecovery::OpenImage(const std::string& imagePath, uint16_t volumeLetter) {
  if (open_) return err::kSuccess;
  return FinishOpen(source_.OpenImageSource(imagePath), 0, 0, volumeLetter);
}

int CProfessionalNtfsRecovery::OpenDisk(int driveIndex, uint64_t startSector, uint64_t sectorCount,
                                        uint16_t volumeLetter) {
  if (open_) return err::kSuccess;
  int rc = source_.OpenPhysicalDriveSource(Disks(), driveIndex);
  if (rc == 0 && sectorCount == 0) rc = err::kInvalidParameter;
  return FinishOpen(rc, startSector, sectorCount, volumeLetter);
}

// Records are 1024 bytes on 512-byte sectors and one sector on larger ones;
// the cluster size is only guessed until records show it.
int CProfessionalNtfsRecovery::FinishOpen(int rc, uint64_t startSector, uint64_t sectorCount,
                                          uint16_t volumeLetter) {
  if (rc != 0) {
    source_.Close();
    return rc;
  }
  const bool drive = sectorCount != 0;
  bytesPerSector_ = drive && source_.info().sectorSize != 0 ? source_.info().sectorSize : 512;
  sectorsPerRecord_ = bytesPerSector_ == 512 ? 2 : 1;
  recordSize_ = bytesPerSector_ * static_cast<uint32_t>(sectorsPerRecord_);
  volumeStart_ = startSector;
  volumeSectors_ = drive ? sectorCount : source_.info().lengthBytes / bytesPerSector_;
  volumeLetter_ = volumeLetter;
  sectorsPerCluster_ = ntfs::GuessSectorsPerCluster(volumeSectors_, bytesPerSector_);
  signatures_.source = &source_;
  signatures_.sectorSize = bytesPerSector_;
  mftCopies_.clear();
  EnterBootSectorMft();
  open_ = true;
  return err::kSuccess;
}

ntfs::NtfsGeometry CProfessionalNtfsRecovery::GeometryFor(uint64_t volumeStart,
                                                          int32_t sectorsPerCluster) const {
  ntfs::NtfsGeometry g;
  g.bytesPerSector = static_cast<int32_t>(bytesPerSector_);
  g.sectorsPerCluster = sectorsPerCluster;
  g.sectorsPerRecord = sectorsPerRecord_;
  g.recordSize = static_cast<int32_t>(recordSize_);
  g.fixupCount = static_cast<int32_t>(recordSize_ / ntfs::kFixupStride);
  g.volumeStartSector = volumeStart;
  return g;
}

// The MFT the volume's boot sector names, when the boot sector survived.
void CProfessionalNtfsRecovery::EnterBootSectorMft() {
  std::vector<uint8_t> boot(ntfs::kBootReadBytes);
  uint32_t got = 0;
  if (source_.ReadSectors(static_cast<uint32_t>(boot.size() / bytesPerSector_), boot.data(),
                          volumeStart_, bytesPerSector_, &got) != 0)
    return;
  ntfs::NtfsGeometry g;
  if (!ntfs::IsNtfsBootSector(boot) || !ntfs::ParseNtfsGeometry(boot, volumeStart_, g)) return;
  std::vector<uint8_t> record;
  if (ReadRecord(g.mftStartSector, record)) EnterMftCopy(g.mftStartSector, record, g.sectorsPerCluster);
}

// An MFT's record 0 maps the rest of that MFT through its $DATA runs.
void CProfessionalNtfsRecovery::EnterMftCopy(uint64_t sector, ntfs::Bytes record,
                                             int32_t sectorsPerCluster) {
  if (mftCopies_.size() >= kMaxMftCopies && !mftCopies_.count(sector)) return;
  ntfs::AttributeWalker walker(record);
  ntfs::Attribute a;
  auto runs = std::make_shared<ntfs::RunList>();
  while (walker.Next(a)) {
    if (a.type == ntfs::kAttrAttributeList) break;
    if (a.type != ntfs::kAttrData || a.nameLength != 0 || !a.nonResident) continue;
    ntfs::NonResidentHeader header;
    if (ntfs::ReadNonResidentHeader(a, header) && header.lowestVcn == 0) ntfs::DecodeRunList(a, *runs);
    break;
  }
  if (runs->empty() || runs->front().sparse) return;
  if (sectorsPerCluster <= 0) {
    const auto shown = ntfs::SectorsPerClusterFromRecord(record, bytesPerSector_);
    sectorsPerCluster = shown ? *shown : sectorsPerCluster_;
  }
  const uint64_t spc = static_cast<uint32_t>(sectorsPerCluster);
  const uint64_t first = runs->front().lcn;
  if (first > sector / spc) return;
  MftCopy copy;
  copy.volumeStart = sector - first * spc;
  copy.sectorsPerCluster = sectorsPerCluster;
  copy.map = std::make_shared<ntfs::MftRunMap>(*runs, GeometryFor(copy.volumeStart, sectorsPerCluster));
  copy.runs = std::move(runs);
  mftCopies_[sector] = std::move(copy);
}

// The first MFT whose runs put record `number` exactly at `sector` owns it;
// without one, the record is taken to lie in a contiguous MFT of the volume
// that was opened.
ntfs::RecordLocator CProfessionalNtfsRecovery::LocatorFor(uint32_t number, uint64_t sector) const {
  ntfs::RecordLocator locator;
  locator.sectorsPerRecord = sectorsPerRecord_;
  const uint64_t index = uint64_t{number} * static_cast<uint32_t>(sectorsPerRecord_);
  for (const auto& [key, copy] : mftCopies_) {
    if (copy.map->SectorOf(index) != sector) continue;
    locator.volumeStart = copy.volumeStart;
    locator.sectorsPerCluster = copy.sectorsPerCluster;
    locator.runs = copy.runs;
    locator.map = copy.map;
    return locator;
  }
  locator.volumeStart = volumeStart_;
  locator.sectorsPerCluster = sectorsPerCluster_;
  if (sector >= index) locator.contiguousBase = sector - index;
  return locator;
}

bool CProfessionalNtfsRecovery::ReadRecord(uint64_t sector, std::vector<uint8_t>& record) const {
  record.assign(recordSize_, 0);
  uint32_t got = 0;
  if (source_.ReadSectors(static_cast<uint32_t>(sectorsPerRecord_), record.data(), sector,
                          bytesPerSector_, &got) != 0)
    return false;
  ntfs::RecordHeader header;
  if (!ntfs::ParseRecordHeader(record, header) || !SaneHeader(header, recordSize_)) return false;
  // A record torn by an interrupted write is kept only as far as it is sound.
  const size_t sound = ntfs::ApplyFixups(record);
  record.resize(sound);
  return sound != 0;
}

int CProfessionalNtfsRecovery::BeginDeepScan(const std::string& resumeLogName) {
  NewLog();
  folderDepths_.clear();
  written_.clear();
  tornRecords_ = 0;
  scanning_ = false;
  const std::string name = resumeLogName.empty()
                               ? MakeLogBaseName(LogPrefix().c_str(), volumeStart_, LocalNow())
                               : resumeLogName;
  if (int rc = OpenLog(name); rc != 0) return rc;
  // Folders an interrupted run already wrote are not written twice.
  const uint64_t count = log_->RecordCount();
  for (uint64_t i = 1; i <= count && i <= UINT32_MAX; ++i) {
    FoundFileRecord r{};
    if (log_->ReadRecord(static_cast<uint32_t>(i), r) == 0 && r.isDirectory)
      written_.insert(uint32_t{r.entryId});
  }
  scanning_ = true;
  return err::kSuccess;
}

void CProfessionalNtfsRecovery::OnFileRecord(const uint8_t* data, size_t bytes, uint64_t sector) {
  if (!scanning_ || data == nullptr || bytes < recordSize_) return;
  work_.assign(data, data + recordSize_);
  ntfs::RecordHeader header;
  if (!ntfs::ParseRecordHeader(work_, header) || !SaneHeader(header, recordSize_)) return;
  // Folders are rebuilt from the parent references of the files in them.
  if (header.flags & ntfs::kRecordIsDirectory) return;
  // A torn record (a write cut short) is read only up to its first torn
  // block, and the file listed from it is marked damaged.
  const size_t sound = ntfs::ApplyFixups(work_);
  const bool torn = sound < work_.size();
  if (sound == 0) return;
  work_.resize(sound);
  const ntfs::RecordSummary s = ntfs::SummarizeRecord(work_);
  if (!s.hasName) return;
  if (header.recordNumber == ntfs::kMftRecord) {
    if (IsMftName(s.first.name)) EnterMftCopy(sector, work_, 0);
    return;
  }
  if (header.recordNumber <= ntfs::kLastSystemRecord) return;
  const auto shown = ntfs::SectorsPerClusterFromRecord(work_, bytesPerSector_);
  if (shown) sectorsPerCluster_ = *shown;

  const ntfs::RecordLocator locator = LocatorFor(header.recordNumber, sector);
  // What the record shows of its own clusters beats what its MFT suggests:
  // volumes formatted over each other can keep their MFTs in one place.
  const int32_t spc = shown ? *shown : locator.sectorsPerCluster;
  const auto depth = DepthUnder(s.first.parent, locator);
  FoundFileRecord r{};
  r.volumeLetter = volumeLetter_;
  r.engineKind = EngineKind();
  r.isDirectory = 0;
  r.isDeleted = (header.flags & ntfs::kRecordInUse) ? 0 : 1;
  r.entryId = header.recordNumber;
  r.clusterBytes = static_cast<uint32_t>(spc) * bytesPerSector_;
  r.creationTime = s.first.creationTime;
  r.writeTime = s.first.modificationTime;
  r.accessTime = s.first.accessTime;
  r.fileSize = s.hasData ? s.dataSize : s.first.realSize;
  r.anchorSector = sector;
  r.volumeStartSector = locator.volumeStart;
  r.SetName(s.name);
  if (torn) ++tornRecords_;
  r.contentOk = torn ? kContentMismatch : CheckContent(work_, s.name, locator.volumeStart, spc);
  const uint64_t key = depth ? DirectoryKey(*depth, s.first.parent) : DirectoryKey(0, RootId());
  Append(r, key, nullptr);
}

// Folders are remembered once: every later file in the same folder finds
// its depth without reading a record. A chain that leads round in a loop or
// runs absurdly deep is cut at the last folder walked, which is filed in the
// root as lost, as is a folder whose record no longer holds a folder.
std::optional<uint32_t> CProfessionalNtfsRecovery::DepthUnder(uint32_t parent,
                                                              const ntfs::RecordLocator& locator) {
  if (parent == RootId()) return 0;
  if (const auto known = folderDepths_.find(parent); known != folderDepths_.end())
    return known->second + 1;
  std::vector<Folder> path;
  std::unordered_set<uint32_t> onPath;
  std::vector<uint8_t> record;
  uint32_t tail = 0;  // the depth of the last folder on the path
  uint32_t p = parent;
  while (p != RootId()) {
    if (onPath.count(p) || path.size() >= kMaxDepth) {
      path.back().lost = true;
      break;
    }
    if (const auto known = folderDepths_.find(p); known != folderDepths_.end()) {
      tail = known->second + 1;
      break;
    }
    if (folderDepths_.size() + path.size() >= kMaxFolders) {
      if (path.empty()) return std::nullopt;
      path.back().lost = true;
      break;
    }
    Folder f;
    f.number = p;
    f.volumeStart = locator.volumeStart;
    f.sectorsPerCluster = locator.sectorsPerCluster;
    const auto sector = locator.Locate(p);
    ntfs::RecordHeader header;
    if (sector && ReadRecord(*sector, record) && ntfs::ParseRecordHeader(record, header) &&
        (header.flags & ntfs::kRecordIsDirectory)) {
      const ntfs::RecordSummary s = ntfs::SummarizeRecord(record);
      if (s.hasName) {
        f.lost = false;
        f.parent = s.first.parent;
        f.sector = *sector;
        f.created = s.first.creationTime;
        f.modified = s.first.modificationTime;
        f.accessed = s.first.accessTime;
        f.name = s.name;
      }
    }
    onPath.insert(p);
    path.push_back(std::move(f));
    if (path.back().lost) break;
    p = path.back().parent;
  }
  // Written from the root down, so that a folder's parent is in the log first.
  for (size_t i = path.size(); i-- > 0;) {
    Folder& f = path[i];
    f.depth = f.lost ? 0 : tail + static_cast<uint32_t>(path.size() - 1 - i);
    folderDepths_[f.number] = f.depth;
    WriteFolder(f);
  }
  return folderDepths_[parent] + 1;
}

void CProfessionalNtfsRecovery::WriteFolder(const Folder& f) {
  if (!written_.insert(f.number).second) return;
  FoundFileRecord r{};
  r.volumeLetter = volumeLetter_;
  r.engineKind = EngineKind();
  r.isDirectory = 1;
  r.contentOk = 1;
  r.entryId = f.number;
  r.clusterBytes = static_cast<uint32_t>(f.sectorsPerCluster) * bytesPerSector_;
  if (f.lost) {
    char name[32];
    std::snprintf(name, sizeof name, "LostFolder%u", f.number);
    r.SetName(name);
    Append(r, DirectoryKey(0, RootId()), r.name);
    return;
  }
  r.isDeleted = 1;
  r.creationTime = f.created;
  r.writeTime = f.modified;
  r.accessTime = f.accessed;
  r.anchorSector = f.sector;
  r.volumeStartSector = f.volumeStart;
  r.SetName(f.name);
  Append(r, DirectoryKey(f.depth, f.parent), r.name);
}

// Whether the file's first bytes agree with its extension: resident data as
// it lies in the record, otherwise the first sector of its first run.
uint32_t CProfessionalNtfsRecovery::CheckContent(ntfs::Bytes record, const std::string& name,
                                                 uint64_t volumeStart, int32_t sectorsPerCluster) {
  const std::string extension = ExtensionOf(name);
  if (extension.empty()) return 1;
  const ntfs::NtfsVolume volume(&source_, GeometryFor(volumeStart, sectorsPerCluster));
  ntfs::DataStream stream;
  if (volume.LocateData(record, stream) != 0) return 1;
  signatures_.sectorSize = bytesPerSector_;
  if (stream.resident) {
    if (stream.residentBytes.empty()) return 0;
    signatures_.source = nullptr;
    signatures_.startSector = signatures_.currentSector = 0;
    const int ok = CheckContentByExtension(stream.residentBytes.data(), stream.residentBytes.size(),
                                           extension, signatures_);
    signatures_.source = &source_;
    return ok != 0;
  }
  if (stream.runs.empty() || stream.runs.front().sparse) return 1;
  const uint64_t spc = static_cast<uint32_t>(sectorsPerCluster);
  if (stream.runs.front().lcn > (UINT64_MAX - volumeStart) / spc) return 0;
  const uint64_t sector = volumeStart + stream.runs.front().lcn * spc;
  std::vector<uint8_t> first;
  if (stream.flags & (ntfs::kAttrFlagCompressed | ntfs::kAttrFlagEncrypted)) {
    // The stored bytes are not the file's: look at what they decode to. An
    // encrypted stream gives nothing to look at and is not judged.
    const int rc = ntfs::StreamData(volume, stream, std::min<uint64_t>(stream.dataSize, bytesPerSector_),
                                    [&](const uint8_t* bytes, size_t length) {
                                      first.insert(first.end(), bytes, bytes + length);
                                      return first.size() >= bytesPerSector_ ? 1 : 0;
                                    });
    if (rc == err::kInvalidData) return 0;
    if (first.empty()) return 1;
  } else {
    first.resize(bytesPerSector_);
    uint32_t got = 0;
    if (source_.ReadSectors(1, first.data(), sector, bytesPerSector_, &got) != 0) return 0;
  }
  signatures_.startSector = signatures_.currentSector = sector;
  return CheckContentByExtension(first.data(), first.size(), extension, signatures_) != 0;
}

void CProfessionalNtfsRecovery::Append(const FoundFileRecord& r, uint64_t key, const char* name) {
  FoundFileRecord* slot = log_->ReserveRecord();
  if (!slot) return;
  std::memcpy(slot, &r, sizeof r);
  slot->recordIndex = static_cast<uint32_t>(log_->RecordCount());
  log_->AddRelation(key, slot->recordIndex, r.entryId, name);
}

// Folders are written as they are met; what is left is to make the log
// whole on disk.
int CProfessionalNtfsRecovery::FinishDeepScan() {
  if (!scanning_) return err::kSuccess;
  folderDepths_.clear();
  scanning_ = false;
  if (tornRecords_ > 0) AddWarning(TornRecordsWarning(tornRecords_));
  return log_->FlushScanLog();
}

int CProfessionalNtfsRecovery::FlushLog() {
  return log_ && log_->IsOpen() ? log_->FlushScanLog() : err::kSuccess;
}

// The record is read again where it was found; its runs are taken relative
// to the volume it was found to belong to.
int CProfessionalNtfsRecovery::ReadFileContent(const FoundFileRecord& record, const ContentSink& sink) {
  if (!open_) return err::kInvalidHandle;
  if (record.isDirectory) return err::kInvalidParameter;
  if (record.fileSize == 0) return err::kSuccess;
  const uint32_t spc = record.clusterBytes / bytesPerSector_;
  if (spc == 0 || spc > 128 || record.clusterBytes % bytesPerSector_ != 0) return err::kInvalidData;
  std::vector<uint8_t> fileRecord;
  if (!ReadRecord(record.anchorSector, fileRecord)) return err::kInvalidData;
  ntfs::RecordHeader header;
  if (!ntfs::ParseRecordHeader(fileRecord, header) || (header.flags & ntfs::kRecordIsDirectory))
    return err::kInvalidData;
  ntfs::NtfsVolume volume(&source_, GeometryFor(record.volumeStartSector, static_cast<int32_t>(spc)));
  // With its MFT known, extents named by an attribute list can be read too.
  const ntfs::RecordLocator locator = LocatorFor(record.entryId, record.anchorSector);
  if (locator.runs) volume.SetMftRuns(*locator.runs);
  std::vector<ByteRange> unreadable;
  const int rc = ntfs::StreamRecordData(volume, fileRecord, record.fileSize, sink, unreadable);
  for (const ByteRange& r : unreadable) NoteUnreadable(r.offset, r.length);
  return rc;
}

}  // namespace qm
