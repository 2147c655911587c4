#include "engines/ntfs/ntfs_volume.h"

#include <algorithm>
#include <cstring>

#include "platform/errors.h"

namespace qm::ntfs {

namespace {

uint64_t SaturatingMul(uint64_t a, uint64_t b) {
  if (a != 0 && b > UINT64_MAX / a) return UINT64_MAX;
  return a * b;
}

bool IsWanted(const Attribute& a, uint32_t type) {
  return a.type == type && (type != kAttrData || a.nameLength == 0);
}

// The extent of attribute `type` that starts at `vcn` inside one record.
bool FindExtent(Bytes record, uint32_t type, uint64_t vcn, Attribute& out) {
  AttributeWalker walker(record);
  Attribute a;
  NonResidentHeader h;
  while (walker.Next(a)) {
    if (IsWanted(a, type) && ReadNonResidentHeader(a, h) && h.lowestVcn == vcn) {
      out = a;
      return true;
    }
  }
  return false;
}

struct ListEntry {
  uint64_t lowestVcn;
  uint64_t recordNumber;
};

// $ATTRIBUTE_LIST entry: 0x00 type, 0x04 entry length, 0x06 name length,
// 0x08 lowest VCN, 0x10 file reference (48-bit record number, 16-bit
// sequence), 0x18 attribute id, 0x1A name.
std::vector<ListEntry> ParseAttributeList(Bytes list, uint32_t type) {
  constexpr size_t kEntryHeader = 0x1A;
  std::vector<ListEntry> entries;
  size_t off = 0;
  while (Fits(list, off, kEntryHeader)) {
    const uint8_t* p = list.data() + off;
    const uint32_t entryType = Le32(p);
    const uint16_t length = Le16(p + 4);
    if (entryType == 0 || entryType == kAttrEnd || length < kEntryHeader || length > list.size() - off)
      break;
    if (entryType == type && (type != kAttrData || p[6] == 0))
      entries.push_back({Le64(p + 8), Le64(p + 0x10) & 0xFFFFFFFFFFFFull});
    off += length;
  }
  std::stable_sort(entries.begin(), entries.end(),
                   [](const ListEntry& a, const ListEntry& b) { return a.lowestVcn < b.lowestVcn; });
  return entries;
}

// A record read whole: its fixups checked and applied, and the record cut
// to the blocks that a torn write left sound.
int CheckFixups(std::vector<uint8_t>& record) {
  if (!HasFileSignature(record)) return kNoFileRecord;
  const size_t sound = ApplyFixups(record);
  if (sound == 0) return kNoFileRecord;
  record.resize(sound);
  return 0;
}

}  // namespace

std::optional<uint64_t> MftSectorOf(uint64_t index, const RunList& mftRuns, const NtfsGeometry& g,
                                    uint64_t* leftInRun) {
  return MftRunMap(mftRuns, g).SectorOf(index, leftInRun);
}

std::optional<uint64_t> RecordNumberToSector(uint64_t number, const RunList& mftRuns,
                                             const NtfsGeometry& g) {
  const uint64_t spr = static_cast<uint32_t>(g.sectorsPerRecord);
  if (number > UINT64_MAX / spr) return std::nullopt;
  return MftSectorOf(number * spr, mftRuns, g);
}

NtfsVolume::NtfsVolume(const SectorSource* source, const NtfsGeometry& geometry)
    : source_(source), geometry_(geometry) {
  if (source_ == nullptr || geometry_.bytesPerSector <= 0) return;
  const uint64_t sourceSectors = source_->info().lengthBytes / static_cast<uint32_t>(geometry_.bytesPerSector);
  presentSectors_ = sourceSectors > geometry_.volumeStartSector ? sourceSectors - geometry_.volumeStartSector : 0;
}

uint64_t NtfsVolume::DeclaredClusters() const {
  if (geometry_.sectorsPerCluster <= 0) return 0;
  return geometry_.totalSectors / static_cast<uint32_t>(geometry_.sectorsPerCluster) + 1;
}

uint64_t NtfsVolume::PresentClusters() const {
  if (geometry_.sectorsPerCluster <= 0) return 0;
  const uint64_t spc = static_cast<uint32_t>(geometry_.sectorsPerCluster);
  return std::min(DeclaredClusters(), presentSectors_ / spc + (presentSectors_ % spc != 0));
}

std::optional<uint64_t> NtfsVolume::RecordNumberToSector(uint64_t number) const {
  const uint64_t spr = static_cast<uint32_t>(geometry_.sectorsPerRecord);
  if (number > UINT64_MAX / spr) return std::nullopt;
  return mftMap_.SectorOf(number * spr);
}

uint64_t NtfsVolume::MftRecordCount() const {
  const uint64_t sectors = SaturatingMul(RunListClusters(mftRuns_), static_cast<uint32_t>(geometry_.sectorsPerCluster));
  return sectors / static_cast<uint32_t>(geometry_.sectorsPerRecord);
}

int NtfsVolume::ReadFileRecord(uint64_t sector, std::vector<uint8_t>& record) const {
  if (!source_) return err::kInvalidHandle;
  record.assign(static_cast<size_t>(geometry_.recordSize), 0);
  uint32_t got = 0;
  const int rc = source_->ReadSectors(static_cast<uint32_t>(geometry_.sectorsPerRecord), record.data(),
                                      sector, static_cast<uint32_t>(geometry_.bytesPerSector), &got);
  if (rc != 0) return rc;
  return CheckFixups(record);
}

int NtfsVolume::ReadMftRecord(uint64_t number, std::vector<uint8_t>& record) const {
  if (int rc = ReadMftRecordBytes(number, record); rc != 0) return rc;
  return CheckFixups(record);
}

// A record straddles two runs only on volumes with clusters smaller than a
// record; it is then mapped and read sector by sector.
int NtfsVolume::ReadMftRecordBytes(uint64_t number, std::vector<uint8_t>& record) const {
  if (!source_) return err::kInvalidHandle;
  const auto first = RecordNumberToSector(number);
  if (!first) return kAttributeNotFound;
  const uint32_t spr = static_cast<uint32_t>(geometry_.sectorsPerRecord);
  const uint32_t bps = static_cast<uint32_t>(geometry_.bytesPerSector);
  record.assign(static_cast<size_t>(geometry_.recordSize), 0);
  uint32_t got = 0;
  const auto last = MftSectorOf(number * spr + spr - 1);
  if (last && *last == *first + spr - 1) return source_->ReadSectors(spr, record.data(), *first, bps, &got);
  for (uint32_t i = 0; i < spr; ++i) {
    const auto sector = MftSectorOf(number * spr + i);
    if (!sector) return kAttributeNotFound;
    if (int rc = source_->ReadSectors(1, record.data() + size_t{i} * bps, *sector, bps, &got); rc != 0)
      return rc;
  }
  return 0;
}

int NtfsVolume::LoadMftRuns() {
  SetMftRuns({});
  mftRunsCut_ = false;
  std::vector<uint8_t> record;
  if (int rc = ReadFileRecord(geometry_.mftStartSector, record); rc != 0) return rc;
  Attribute data;
  if (!FindExtent(record, kAttrData, 0, data)) return kAttributeNotFound;
  RunList runs;
  DecodeRunList(data, runs);
  // The first extent alone maps the records that hold the later extents.
  SetMftRuns(runs);
  AttributeWalker walker(record);
  Attribute a;
  while (walker.Next(a)) {
    if (a.type != kAttrAttributeList) continue;
    RunList all;
    if (FollowAttributeList(record, a, kAttrData, all) > RunListClusters(runs)) runs = std::move(all);
    break;
  }

  // The $MFT cannot reach past the volume: cut the list where it would.
  const uint64_t volumeClusters = DeclaredClusters();
  RunList kept;
  uint64_t clusters = 0;
  mftRunsCut_ = false;
  for (DataRun run : runs) {
    const uint64_t wanted = run.clusterCount;
    if (clusters >= volumeClusters || (!run.sparse && run.lcn >= volumeClusters)) {
      mftRunsCut_ = true;
      break;
    }
    if (!run.sparse) run.clusterCount = std::min(run.clusterCount, volumeClusters - run.lcn);
    run.clusterCount = std::min(run.clusterCount, volumeClusters - clusters);
    if (run.clusterCount != wanted) mftRunsCut_ = true;
    clusters += run.clusterCount;
    kept.push_back(run);
  }
  SetMftRuns(std::move(kept));
  return mftRuns_.empty() ? kAttributeNotFound : 0;
}

uint64_t NtfsVolume::FollowAttributeList(Bytes record, const Attribute& list, uint32_t type,
                                         RunList& out, NonResidentHeader* first,
                                         uint16_t* firstFlags) const {
  std::vector<uint8_t> nonResidentBytes;
  Bytes listBytes;
  if (!list.nonResident) {
    if (!ResidentValue(list, listBytes)) return 0;
  } else {
    NonResidentHeader h;
    RunList listRuns;
    if (!ReadNonResidentHeader(list, h) || DecodeRunList(list, listRuns) == 0) return 0;
    const uint64_t bytes = std::min(h.dataSize, kMaxAttributeListBytes);
    if (ReadRunBytes(listRuns, bytes, nonResidentBytes) != 0) return 0;
    listBytes = nonResidentBytes;
  }

  RecordHeader own;
  if (!ParseRecordHeader(record, own)) return 0;
  uint64_t nextVcn = 0;
  uint64_t collected = 0;
  std::vector<uint8_t> extension;
  uint64_t extensionNumber = UINT64_MAX;
  bool extensionReadable = false;
  for (const ListEntry& entry : ParseAttributeList(listBytes, type)) {
    // Entries are in VCN order: one that starts inside what is already
    // collected repeats or contradicts it.
    if (entry.lowestVcn < nextVcn) continue;
    Bytes holder = record;
    if (entry.recordNumber != own.recordNumber) {
      if (entry.recordNumber != extensionNumber) {
        extensionNumber = entry.recordNumber;
        extensionReadable = ReadMftRecord(entry.recordNumber, extension) == 0;
      }
      if (!extensionReadable) continue;
      holder = extension;
    }
    Attribute extent;
    NonResidentHeader h;
    if (!FindExtent(holder, type, entry.lowestVcn, extent) || !ReadNonResidentHeader(extent, h)) continue;
    // What lies between the previous extent and this one is lost: a sparse
    // run keeps the clusters after it where they belong.
    RunList runs;
    const uint64_t clusters = DecodeRunList(extent, runs);
    if (clusters == 0 || clusters > UINT64_MAX - entry.lowestVcn) continue;
    if (entry.lowestVcn > nextVcn) out.push_back({entry.lowestVcn - nextVcn, 0, 0, true});
    out.insert(out.end(), runs.begin(), runs.end());
    if (entry.lowestVcn == 0) {
      if (first) *first = h;
      if (firstFlags) *firstFlags = extent.flags;
    }
    collected += clusters;
    nextVcn = entry.lowestVcn + clusters;
  }
  return collected;
}

int NtfsVolume::FindAttributeRunsInRecord(Bytes record, uint32_t type, RunList& out) const {
  AttributeWalker walker(record);
  Attribute a;
  std::optional<Attribute> list;
  std::optional<Attribute> found;
  while (walker.Next(a)) {
    if (a.type == kAttrAttributeList && !list) list = a;
    if (IsWanted(a, type) && !found) found = a;
  }
  if (list) {
    RunList collected;
    if (FollowAttributeList(record, *list, type, collected) > 0) {
      out.insert(out.end(), collected.begin(), collected.end());
      return 0;
    }
  }
  if (found && found->nonResident) {
    DecodeRunList(*found, out);
    return 0;
  }
  return kAttributeNotFound;
}

int NtfsVolume::FindAttributeRuns(uint64_t recordSector, uint32_t type, RunList& out) const {
  std::vector<uint8_t> record;
  if (int rc = ReadFileRecord(recordSector, record); rc != 0) return rc;
  return FindAttributeRunsInRecord(record, type, out);
}

int NtfsVolume::LocateData(Bytes record, DataStream& out) const {
  out = DataStream{};
  AttributeWalker walker(record);
  Attribute a;
  std::optional<Attribute> list;
  std::optional<Attribute> data;
  while (walker.Next(a)) {
    if (a.type == kAttrAttributeList && !list) list = a;
    if (IsWanted(a, kAttrData) && !data) data = a;
  }
  if (data && !data->nonResident) {
    Bytes value;
    if (!ResidentValue(*data, value)) return kAttributeNotFound;
    out.resident = true;
    out.residentBytes.assign(value.begin(), value.end());
    out.dataSize = out.initializedSize = value.size();
    return 0;
  }
  NonResidentHeader first;
  bool haveFirst = false;
  if (list) {
    NonResidentHeader h;
    h.lowestVcn = UINT64_MAX;  // stays so when the list names no extent at VCN 0
    uint16_t flags = 0;
    if (FollowAttributeList(record, *list, kAttrData, out.runs, &h, &flags) > 0 && h.lowestVcn == 0) {
      first = h;
      out.flags = flags;
      haveFirst = true;
    } else {
      out.runs.clear();
    }
  }
  if (!haveFirst && data) {
    if (!ReadNonResidentHeader(*data, first)) return kAttributeNotFound;
    DecodeRunList(*data, out.runs);
    out.flags = data->flags;
    haveFirst = true;
  }
  if (!haveFirst) return kAttributeNotFound;
  out.dataSize = first.dataSize;
  out.initializedSize = std::min(first.initializedSize, first.dataSize);
  out.compressionUnit = first.compressionUnit;
  return 0;
}

int NtfsVolume::ReadResidentData(uint64_t recordSector, std::vector<uint8_t>& data) const {
  std::vector<uint8_t> record;
  const int rc = ReadFileRecord(recordSector, record);
  if (rc == kNoFileRecord) return kNoResidentData;
  if (rc != 0) return rc;
  AttributeWalker walker(record);
  Attribute a;
  while (walker.Next(a)) {
    if (!IsWanted(a, kAttrData)) continue;
    if (a.nonResident) return kNoResidentData;
    Bytes value;
    if (!ResidentValue(a, value)) return err::kInvalidParameter;
    data.assign(value.begin(), value.end());
    return 0;
  }
  return kNoResidentData;
}

int NtfsVolume::ReadDataSize(uint64_t recordSector, uint64_t& size) const {
  std::vector<uint8_t> record;
  if (int rc = ReadFileRecord(recordSector, record); rc != 0) return rc;
  DataStream stream;
  if (LocateData(record, stream) != 0) return err::kInvalidParameter;
  size = stream.dataSize;
  return 0;
}

int NtfsVolume::ReadRunBytes(const RunList& runs, uint64_t byteCount, std::vector<uint8_t>& out) const {
  if (!source_) return err::kInvalidHandle;
  const uint32_t bps = static_cast<uint32_t>(geometry_.bytesPerSector);
  const uint64_t spc = static_cast<uint32_t>(geometry_.sectorsPerCluster);
  const uint64_t clusterBytes = geometry_.ClusterBytes();
  byteCount = std::min(byteCount, SaturatingMul(presentSectors_, bps));
  out.assign(static_cast<size_t>(byteCount), 0);
  constexpr uint64_t kPiece = 1 << 20;
  std::vector<uint8_t> piece;
  uint64_t pos = 0;
  for (const DataRun& run : runs) {
    if (pos >= byteCount) break;
    const uint64_t take = std::min(SaturatingMul(run.clusterCount, clusterBytes), byteCount - pos);
    const uint64_t first = SaturatingMul(run.lcn, spc);
    if (!run.sparse && first < presentSectors_) {
      const uint64_t inside = std::min(take, SaturatingMul(presentSectors_ - first, bps));
      for (uint64_t done = 0; done < inside;) {
        const uint64_t bytes = std::min(kPiece, inside - done);
        const uint32_t sectors = static_cast<uint32_t>((bytes + bps - 1) / bps);
        piece.resize(size_t{sectors} * bps);
        uint32_t got = 0;
        const int rc = source_->ReadSectors(sectors, piece.data(),
                                            geometry_.volumeStartSector + first + done / bps, bps, &got);
        if (rc != 0) return rc;
        std::memcpy(out.data() + pos + done, piece.data(), static_cast<size_t>(bytes));
        done += bytes;
      }
    }
    pos += take;
  }
  return 0;
}

}  // namespace qm::ntfs
