#include "engines/ntfs/ntfs_mft_scanner.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "engines/ntfs/ntfs_data_reader.h"
#include "platform/errors.h"
#include "platform/text.h"

namespace qm::ntfs {

namespace {

constexpr int kStopped = 1;  // a sink's way of saying "enough bytes"

std::string ExtensionOf(const std::string& name) {
  const size_t dot = name.rfind('.');
  return dot == std::string::npos ? std::string() : name.substr(dot + 1);
}

}  // namespace

int NtfsMftScanner::Run() {
  pending_.clear();
  queued_.clear();
  folders_.clear();
  parentRecordReads_ = 0;
  started_ = lastEstimate_ = std::chrono::steady_clock::now();
  secondsLeft_ = -1;
  int rc = MftPass();
  if (rc == 0) DirectoryPass();
  if (rc == 0 && progress_) {
    const uint64_t total = volume_.MftRecordCount();
    rc = Report(total, total);
  }
  return rc;
}

int NtfsMftScanner::Report(uint64_t done, uint64_t total) {
  const auto now = std::chrono::steady_clock::now();
  if (scale_ == 100 &&
      std::chrono::duration_cast<std::chrono::milliseconds>(now - lastEstimate_).count() >=
          kEstimateIntervalMs) {
    const int64_t elapsed = std::chrono::duration_cast<std::chrono::seconds>(now - started_).count();
    if (elapsed > 0 && done > 0) {
      const uint64_t perSecond = std::max<uint64_t>(done / static_cast<uint64_t>(elapsed), 1);
      secondsLeft_ = static_cast<int64_t>((total - done) / perSecond);
    }
    lastEstimate_ = now;
  }
  if (!progress_) return 0;
  const int step = total == 0 ? 100 : static_cast<int>(done * 100 / total);
  return progress_(user_, step, scale_, secondsLeft_, 0, 0, 0, 0);
}

// The $MFT is read as one stream of records, in steps of up to 1024 records
// that lie contiguously in one run. A record that straddles two runs (only
// possible with clusters smaller than a record) is read on its own.
int NtfsMftScanner::MftPass() {
  const NtfsGeometry& g = volume_.geometry();
  const uint32_t spr = static_cast<uint32_t>(g.sectorsPerRecord);
  const size_t recordSize = static_cast<size_t>(g.recordSize);
  const uint64_t records = std::min<uint64_t>(volume_.MftRecordCount(), uint64_t{UINT32_MAX} + 1);
  std::vector<uint8_t> chunk(size_t{kRecordsPerStep} * recordSize);
  std::vector<uint8_t> single;
  uint64_t number = 0;
  while (number < records) {
    uint64_t left = 0;
    const auto sector = MftSectorOf(number * spr, volume_.mftRuns(), g, &left);
    uint64_t count = std::min<uint64_t>({kRecordsPerStep, left / spr, records - number});
    if (!sector) {
      number += std::max<uint64_t>(count, 1);
    } else if (count == 0) {
      if (volume_.ReadMftRecord(number, single) == 0)
        ParseDeletedRecord(single, static_cast<uint32_t>(number), *sector);
      ++number;
    } else {
      // An unreadable record is skipped; the pass goes on with the next.
      std::vector<SectorRange> bad;
      const int rc = volume_.source()->ReadSectorsFilling(static_cast<uint32_t>(count * spr), chunk.data(),
                                                          *sector, static_cast<uint32_t>(g.bytesPerSector), bad);
      if (rc != 0 && rc != err::kReadFault) return rc;
      size_t nextBad = 0;
      for (uint64_t i = 0; i < count; ++i) {
        const uint64_t first = *sector + i * spr;
        while (nextBad < bad.size() && bad[nextBad].first + bad[nextBad].count <= first) ++nextBad;
        if (nextBad < bad.size() && bad[nextBad].first < first + spr) {
          skipped_.Add(first, spr);
          continue;
        }
        ParseDeletedRecord(MutableBytes(chunk.data() + i * recordSize, recordSize),
                           static_cast<uint32_t>(number + i), *sector + i * spr);
      }
      number += count;
    }
    if (int rc = Report(number, records); rc != 0) return rc;
  }
  return 0;
}

void NtfsMftScanner::FillCommon(FoundFileRecord& r, const RecordSummary& s, uint32_t number,
                                uint64_t sector) const {
  const NtfsGeometry& g = volume_.geometry();
  r.volumeLetter = volumeLetter_;
  r.engineKind = static_cast<uint32_t>(EngineKind::kNtfsQuick);
  r.entryId = number;
  r.clusterBytes = g.ClusterBytes();
  r.creationTime = s.first.creationTime;
  r.accessTime = s.first.accessTime;
  r.writeTime = s.first.modificationTime;
  r.fileSize = s.first.realSize;
  r.anchorSector = sector;
  r.volumeStartSector = g.volumeStartSector;
  r.SetName(s.name);
}

void NtfsMftScanner::Append(const FoundFileRecord& r, uint64_t key, uint32_t directoryId,
                            const char* name) {
  FoundFileRecord* slot = log_.ReserveRecord();
  if (!slot) return;
  std::memcpy(slot, &r, sizeof r);
  slot->recordIndex = static_cast<uint32_t>(log_.RecordCount());
  log_.AddRelation(key, slot->recordIndex, directoryId, name);
}

void NtfsMftScanner::ParseDeletedRecord(MutableBytes record, uint32_t number, uint64_t sector) {
  if (number <= kLastSystemRecord) return;
  RecordHeader header;
  if (!ParseRecordHeader(record, header)) return;
  // Live files and every directory, live or deleted, are passed over here.
  if (header.flags & (kRecordInUse | kRecordIsDirectory)) return;
  ApplyFixups(record);
  const RecordSummary s = SummarizeRecord(record);
  if (!s.hasName) return;

  FoundFileRecord r{};
  FillCommon(r, s, number, sector);
  r.isDirectory = 0;
  r.isDeleted = 1;
  if (s.hasData) {
    r.fileSize = s.dataSize;
  } else if (s.hasAttributeList) {
    DataStream stream;
    if (volume_.LocateData(record, stream) == 0) r.fileSize = stream.dataSize;
  }
  const uint32_t depth = DepthUnder(s.first.parent);
  r.contentOk = ContentOk(record, s.name);
  Append(r, DirectoryKey(depth, s.first.parent), number, nullptr);
}

// 1 unless the file's first bytes contradict its extension. An empty
// resident file has nothing that could match, so it counts as overwritten.
uint32_t NtfsMftScanner::ContentOk(Bytes record, const std::string& name) {
  const std::string extension = ExtensionOf(name);
  if (name.find('.') == std::string::npos) return 1;
  DataStream stream;
  if (volume_.LocateData(record, stream) != 0) return 1;
  const NtfsGeometry& g = volume_.geometry();
  const uint32_t bps = static_cast<uint32_t>(g.bytesPerSector);
  signatures_.sectorSize = bps;
  if (stream.resident) {
    if (stream.residentBytes.empty()) return 0;
    // Resident bytes live inside the MFT record, at no sector of their own:
    // the tests that read on from the file's start must find nothing to read.
    const SectorSource* source = signatures_.source;
    signatures_.source = nullptr;
    signatures_.startSector = signatures_.currentSector = 0;
    const int ok = CheckContentByExtension(stream.residentBytes.data(),
                                           stream.residentBytes.size(), extension, signatures_);
    signatures_.source = source;
    return ok != 0;
  }
  if (stream.runs.empty() || stream.runs.front().sparse) return 1;
  const uint64_t sector =
      g.volumeStartSector + stream.runs.front().lcn * static_cast<uint32_t>(g.sectorsPerCluster);
  if (sector == 0) return 1;
  std::vector<uint8_t> first;
  if (stream.flags & (kAttrFlagCompressed | kAttrFlagEncrypted)) {
    // The stored bytes are not the file's: look at what they decode to.
    const int rc = StreamData(volume_, stream, std::min<uint64_t>(stream.dataSize, bps),
                              [&](const uint8_t* data, size_t length) {
                                first.insert(first.end(), data, data + length);
                                return first.size() >= bps ? kStopped : 0;
                              });
    if (rc == err::kInvalidData) return 0;
    if (first.empty()) return 1;
  } else {
    first.resize(bps);
    uint32_t got = 0;
    if (volume_.source()->ReadSectors(1, first.data(), sector, bps, &got) != 0) return 1;
  }
  signatures_.startSector = signatures_.currentSector = sector;
  return CheckContentByExtension(first.data(), first.size(), extension, signatures_) != 0;
}

NtfsMftScanner::FolderNode& NtfsMftScanner::Folder(uint32_t number) {
  auto [it, inserted] = folders_.try_emplace(number);
  if (!inserted) return it->second;
  // Each folder record is read once per scan, however many files name it.
  ++parentRecordReads_;
  std::vector<uint8_t> record;
  RecordHeader header;
  if (volume_.ReadMftRecord(number, record) == 0 && ParseRecordHeader(record, header) &&
      (header.flags & kRecordIsDirectory)) {
    AttributeWalker walker(record);
    Attribute a;
    FileNameInfo info;
    while (walker.Next(a)) {
      if (a.type == kAttrFileName && ParseFileName(a, info)) {
        it->second.continues = true;
        it->second.parent = info.parent;
        break;
      }
    }
  }
  return it->second;
}

void NtfsMftScanner::QueueDirectory(uint32_t number) {
  if (queued_.insert(number).second) pending_.push_back(number);
}

// Depth counts the folders between a file and the root: 0 in the root, 1 in
// a folder of the root. The depth of each folder on the way is remembered,
// so a chain is followed once per folder, not once per file.
uint32_t NtfsMftScanner::DepthUnder(uint32_t parent) {
  std::vector<uint32_t> path;
  std::unordered_set<uint32_t> onPath;
  int64_t tail = 0;
  bool remember = true;
  uint32_t current = parent;
  while (current != kRootDirectoryRecord) {
    FolderNode& node = Folder(current);
    if (node.depth >= 0) {
      tail = node.depth;
      break;
    }
    if (!onPath.insert(current).second || path.size() >= kMaxDepth) {
      remember = false;  // a loop or an absurd chain: depth as far as walked
      break;
    }
    path.push_back(current);
    QueueDirectory(current);
    if (!node.continues) break;
    current = node.parent;
  }
  if (remember) {
    for (size_t i = 0; i < path.size(); ++i)
      Folder(path[i]).depth = static_cast<int64_t>(path.size() - i) + tail;
  }
  return static_cast<uint32_t>(path.size() + static_cast<size_t>(tail));
}

void NtfsMftScanner::DirectoryPass() {
  // Folders found on the way up are appended while this runs.
  for (size_t i = 0; i < pending_.size(); ++i) WriteDirectory(pending_[i]);
}

void NtfsMftScanner::WriteLostFolder(uint32_t number) {
  FoundFileRecord r{};
  r.volumeLetter = volumeLetter_;
  r.engineKind = static_cast<uint32_t>(EngineKind::kNtfsQuick);
  r.isDirectory = 1;
  r.contentOk = 1;
  r.entryId = number;
  r.clusterBytes = kNoClusterChain;
  r.volumeStartSector = volume_.geometry().volumeStartSector;
  char name[32];
  std::snprintf(name, sizeof name, "LostFolder%u", number);
  r.SetName(name);
  Append(r, DirectoryKey(0, kRootDirectoryRecord), number, r.name);
}

// A queued folder is written with its own name when its record still holds a
// directory; otherwise (reused by a file, unreadable, no name left) as a lost
// folder, so that the files filed under its number are not orphaned.
void NtfsMftScanner::WriteDirectory(uint32_t number) {
  std::vector<uint8_t> record;
  RecordHeader header;
  if (volume_.ReadMftRecord(number, record) != 0 || !ParseRecordHeader(record, header) ||
      !(header.flags & kRecordIsDirectory)) {
    WriteLostFolder(number);
    return;
  }
  const RecordSummary s = SummarizeRecord(record);
  if (!s.hasName) {
    WriteLostFolder(number);
    return;
  }
  if (number <= kLastSystemRecord) return;
  FoundFileRecord r{};
  FillCommon(r, s, number, volume_.RecordNumberToSector(number).value_or(0));
  r.isDirectory = 1;
  r.contentOk = 1;
  const uint32_t depth = DepthUnder(s.first.parent);
  Append(r, DirectoryKey(depth, s.first.parent), number, r.name);
}

}  // namespace qm::ntfs
