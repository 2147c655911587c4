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
  files_.clear();
  parentRecordReads_ = 0;
  tally_ = {};
  started_ = lastEstimate_ = std::chrono::steady_clock::now();
  secondsLeft_ = -1;
  // Files found before a stop or a read error are still written; their
  // folders are not.
  int rc = MftPass();
  CheckContentInDiskOrder();
  WriteFiles();
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
// possible with clusters smaller than a record) is read on its own. Records
// past the end of the source (an image cut short) are counted, not read.
int NtfsMftScanner::MftPass() {
  const NtfsGeometry& g = volume_.geometry();
  const uint32_t spr = static_cast<uint32_t>(g.sectorsPerRecord);
  const uint32_t bps = static_cast<uint32_t>(g.bytesPerSector);
  const size_t recordSize = static_cast<size_t>(g.recordSize);
  const uint64_t records = std::min<uint64_t>(volume_.MftRecordCount(), uint64_t{UINT32_MAX} + 1);
  const uint64_t sourceSectors = volume_.source()->info().lengthBytes / bps;
  std::vector<uint8_t> chunk(size_t{kRecordsPerStep} * recordSize);
  std::vector<uint8_t> single;
  // Room for a deleted file per record the source holds, up to a bound:
  // pages are only touched as files are noted, and the list is never moved
  // while it grows.
  const uint64_t recordsInSource = volume_.source()->info().lengthBytes / recordSize;
  files_.reserve(static_cast<size_t>(std::min({records, recordsInSource, uint64_t{kReservedFiles}})));
  uint64_t number = 0;
  while (number < records) {
    uint64_t left = 0;
    const auto sector = volume_.MftSectorOf(number * spr, &left);
    uint64_t count = std::min<uint64_t>({kRecordsPerStep, left / spr, records - number});
    if (sector && *sector < sourceSectors)
      count = std::min(count, (sourceSectors - *sector) / spr);
    if (!sector) {
      // A sparse run: no records in it.
      number += std::max<uint64_t>(std::min(left / spr, records - number), 1);
    } else if (*sector >= sourceSectors) {
      // The rest of the run lies past the end of the source: counted at once,
      // however many records a damaged run list claims there.
      const uint64_t past = std::max<uint64_t>(std::min(left / spr, records - number), 1);
      tally_.recordsPastEnd += past;
      number += past;
    } else if (count == 0 && left >= spr) {
      ++tally_.recordsPastEnd;  // the record straddles the end of the source
      ++number;
    } else if (count == 0) {
      if (volume_.ReadMftRecordBytes(number, single) == 0)
        ParseRecord(single, static_cast<uint32_t>(number), *sector);
      ++number;
    } else {
      // An unreadable record is skipped; the pass goes on with the next.
      std::vector<SectorRange> bad;
      const int rc = volume_.source()->ReadSectorsFilling(static_cast<uint32_t>(count * spr),
                                                          chunk.data(), *sector, bps, bad);
      if (rc != 0 && rc != err::kReadFault) return rc;
      size_t nextBad = 0;
      for (uint64_t i = 0; i < count; ++i) {
        const uint64_t first = *sector + i * spr;
        while (nextBad < bad.size() && bad[nextBad].first + bad[nextBad].count <= first) ++nextBad;
        if (nextBad < bad.size() && bad[nextBad].first < first + spr) {
          skipped_.Add(first, spr);
          continue;
        }
        ParseRecord(MutableBytes(chunk.data() + i * recordSize, recordSize),
                    static_cast<uint32_t>(number + i), *sector + i * spr);
      }
      number += count;
    }
    if (int rc = Report(number, records); rc != 0) return rc;
  }
  return 0;
}

void NtfsMftScanner::FillCommon(FoundFileRecord& r, uint32_t number, uint64_t sector,
                                const std::string& name, uint64_t created, uint64_t modified,
                                uint64_t accessed, uint64_t size) const {
  const NtfsGeometry& g = volume_.geometry();
  r.volumeLetter = volumeLetter_;
  r.engineKind = static_cast<uint32_t>(EngineKind::kNtfsQuick);
  r.entryId = number;
  r.clusterBytes = g.ClusterBytes();
  r.creationTime = created;
  r.accessTime = accessed;
  r.writeTime = modified;
  r.fileSize = size;
  r.anchorSector = sector;
  r.volumeStartSector = g.volumeStartSector;
  r.SetName(name);
}

void NtfsMftScanner::Append(const FoundFileRecord& r, uint64_t key, uint32_t directoryId,
                            const char* name) {
  FoundFileRecord* slot = log_.ReserveRecord();
  if (!slot) return;
  std::memcpy(slot, &r, sizeof r);
  slot->recordIndex = static_cast<uint32_t>(log_.RecordCount());
  log_.AddRelation(key, slot->recordIndex, directoryId, name);
}

void NtfsMftScanner::ParseRecord(MutableBytes record, uint32_t number, uint64_t sector) {
  RecordHeader header;
  if (!ParseRecordHeader(record, header)) return;
  const bool directory = header.flags & kRecordIsDirectory;
  // Live files are passed over. Every directory, live or deleted, is noted:
  // the parent chains of the deleted files are followed through them once
  // the pass is done.
  if (!directory && (number <= kLastSystemRecord || (header.flags & kRecordInUse))) return;
  // A torn record is read only as far as its write got; a file listed from
  // it is marked damaged.
  const size_t sound = ApplyFixups(record);
  const bool torn = sound < record.size();
  if (torn) ++tally_.tornRecords;
  if (sound == 0) return;
  const Bytes usable = record.first(sound);
  if (directory)
    NoteDirectory(usable, number, sector);
  else
    NoteDeletedFile(usable, number, sector, torn);
}

void NtfsMftScanner::NoteDirectory(Bytes record, uint32_t number, uint64_t sector) {
  const RecordSummary s = SummarizeRecord(record);
  if (!s.hasName) return;
  FolderNode& node = folders_[number];
  node.continues = true;
  node.parent = s.first.parent;
  node.sector = sector;
  node.created = s.first.creationTime;
  node.modified = s.first.modificationTime;
  node.accessed = s.first.accessTime;
  node.name = s.name;
}

void NtfsMftScanner::NoteDeletedFile(Bytes record, uint32_t number, uint64_t sector, bool torn) {
  const RecordSummary s = SummarizeRecord(record);
  if (!s.hasName) return;
  PendingFile file;
  file.number = number;
  file.parent = s.first.parent;
  file.sector = sector;
  file.size = s.first.realSize;
  file.created = s.first.creationTime;
  file.modified = s.first.modificationTime;
  file.accessed = s.first.accessTime;
  file.name = s.name;
  if (s.hasData) {
    file.size = s.dataSize;
  } else if (s.hasAttributeList) {
    DataStream stream;
    if (volume_.LocateData(record, stream) == 0) file.size = stream.dataSize;
  }
  PlanContentCheck(record, file);
  if (torn) {
    file.contentOk = kContentMismatch;
    file.checkSector = 0;
  }
  files_.push_back(std::move(file));
}

// Content is checked unless the file's first bytes contradict its
// extension. An empty resident file has nothing that could match, so it
// counts as overwritten. Checks that read a sector of their own wait until
// the pass is done, so that they can be made in disk order.
void NtfsMftScanner::PlanContentCheck(Bytes record, PendingFile& file) {
  file.contentOk = 1;
  file.checkSector = 0;
  const std::string extension = ExtensionOf(file.name);
  if (file.name.find('.') == std::string::npos) return;
  DataStream stream;
  if (volume_.LocateData(record, stream) != 0) return;
  const NtfsGeometry& g = volume_.geometry();
  const uint32_t bps = static_cast<uint32_t>(g.bytesPerSector);
  signatures_.sectorSize = bps;
  if (stream.resident) {
    if (stream.residentBytes.empty()) {
      file.contentOk = 0;
      return;
    }
    // Resident bytes live inside the MFT record, at no sector of their own:
    // the tests that read on from the file's start must find nothing to read.
    const SectorSource* source = signatures_.source;
    signatures_.source = nullptr;
    signatures_.startSector = signatures_.currentSector = 0;
    const int ok = CheckContentByExtension(stream.residentBytes.data(),
                                           stream.residentBytes.size(), extension, signatures_);
    signatures_.source = source;
    file.contentOk = ok != 0;
    return;
  }
  if (stream.runs.empty() || stream.runs.front().sparse) return;
  const uint64_t sector =
      g.volumeStartSector + stream.runs.front().lcn * static_cast<uint32_t>(g.sectorsPerCluster);
  if (sector == 0) return;
  if (!(stream.flags & (kAttrFlagCompressed | kAttrFlagEncrypted))) {
    file.checkSector = sector;
    return;
  }
  // The stored bytes are not the file's: look at what they decode to.
  std::vector<uint8_t> first;
  const int rc = StreamData(volume_, stream, std::min<uint64_t>(stream.dataSize, bps),
                            [&](const uint8_t* data, size_t length) {
                              first.insert(first.end(), data, data + length);
                              return first.size() >= bps ? kStopped : 0;
                            });
  if (rc == err::kInvalidData) {
    file.contentOk = 0;
    return;
  }
  if (first.empty()) return;
  signatures_.startSector = signatures_.currentSector = sector;
  file.contentOk = CheckContentByExtension(first.data(), first.size(), extension, signatures_) != 0;
}

uint32_t NtfsMftScanner::CheckSector(uint64_t sector, const std::string& name) {
  const uint32_t bps = static_cast<uint32_t>(volume_.geometry().bytesPerSector);
  std::vector<uint8_t> first(bps);
  uint32_t got = 0;
  if (volume_.source()->ReadSectors(1, first.data(), sector, bps, &got) != 0) return 1;
  signatures_.sectorSize = bps;
  signatures_.startSector = signatures_.currentSector = sector;
  return CheckContentByExtension(first.data(), first.size(), ExtensionOf(name), signatures_) != 0;
}

// Small deleted files lie scattered over the volume; reading their first
// sectors in the order of the disk instead of the $MFT's keeps the reads
// going one way.
void NtfsMftScanner::CheckContentInDiskOrder() {
  std::vector<size_t> order;
  for (size_t i = 0; i < files_.size(); ++i)
    if (files_[i].checkSector != 0) order.push_back(i);
  std::sort(order.begin(), order.end(),
            [&](size_t a, size_t b) { return files_[a].checkSector < files_[b].checkSector; });
  for (size_t i : order) {
    files_[i].contentOk = CheckSector(files_[i].checkSector, files_[i].name);
    files_[i].checkSector = 0;
  }
}

void NtfsMftScanner::WriteFiles() {
  for (const PendingFile& file : files_) {
    FoundFileRecord r{};
    FillCommon(r, file.number, file.sector, file.name, file.created, file.modified, file.accessed,
               file.size);
    r.isDirectory = 0;
    r.isDeleted = 1;
    r.contentOk = file.contentOk;
    const uint32_t depth = DepthUnder(file.parent);
    Append(r, DirectoryKey(depth, file.parent), file.number, nullptr);
  }
  files_.clear();
  files_.shrink_to_fit();
}

// A folder the $MFT pass did not note (not a directory, no name left, or
// never read) does not continue towards the root.
NtfsMftScanner::FolderNode& NtfsMftScanner::Folder(uint32_t number) { return folders_[number]; }

void NtfsMftScanner::QueueDirectory(uint32_t number) {
  if (queued_.insert(number).second) pending_.push_back(number);
}

// Depth counts the folders between a file and the root: 0 in the root, 1 in
// a folder of the root. The depth of each folder on the way is remembered,
// so a chain is followed once per folder, not once per file. A chain that
// comes back to a folder already on it, or runs absurdly deep, is cut at the
// last folder walked: that one is filed in the root as a lost folder, so
// everything under it can be listed and counted.
uint32_t NtfsMftScanner::DepthUnder(uint32_t parent) {
  std::vector<uint32_t> path;
  std::unordered_set<uint32_t> onPath;
  int64_t tail = 0;
  uint32_t current = parent;
  while (current != kRootDirectoryRecord) {
    FolderNode& node = Folder(current);
    if (node.depth >= 0) {
      tail = node.depth;
      break;
    }
    if (onPath.count(current) || path.size() >= kMaxDepth) {
      FolderNode& last = Folder(path.back());
      last.continues = false;
      last.cut = true;
      ++tally_.loopsCut;
      break;
    }
    onPath.insert(current);
    path.push_back(current);
    QueueDirectory(current);
    if (!node.continues) break;
    current = node.parent;
  }
  for (size_t i = 0; i < path.size(); ++i)
    Folder(path[i]).depth = static_cast<int64_t>(path.size() - i) + tail;
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

// A queued folder is written with its own name when the $MFT pass found its
// record holding a directory; otherwise (reused by a file, unreadable, no
// name left, or cut from a loop) as a lost folder, so that the files filed
// under its number are not orphaned.
void NtfsMftScanner::WriteDirectory(uint32_t number) {
  const FolderNode node = Folder(number);
  if (!node.continues || node.cut) {
    WriteLostFolder(number);
    return;
  }
  FoundFileRecord r{};
  FillCommon(r, number, node.sector, node.name, node.created, node.modified, node.accessed, 0);
  r.isDirectory = 1;
  r.contentOk = 1;
  const uint32_t depth = DepthUnder(node.parent);
  Append(r, DirectoryKey(depth, node.parent), number, r.name);
}

}  // namespace qm::ntfs
