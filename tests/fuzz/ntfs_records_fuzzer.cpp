// NTFS file records from the bytes up: fixups, the attribute walk, names,
// run lists, attribute lists whose extents live in other records, resident
// data, and the data streams behind them with their sparse and LZNT1
// compressed units.
//
// The input is read as the start of a $MFT on a volume of 512-byte sectors
// and clusters: record 0 (the input's first KiB) describes the $MFT itself,
// so attribute lists and parent references point at the input's other
// records, and data runs at its clusters.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "disk/sector_source.h"
#include "engines/ntfs/lznt1.h"
#include "engines/ntfs/ntfs_data_reader.h"
#include "engines/ntfs/ntfs_file_name.h"
#include "engines/ntfs/ntfs_file_record.h"
#include "engines/ntfs/ntfs_run_list.h"
#include "engines/ntfs/ntfs_volume.h"
#include "fuzz_workspace.h"

namespace {

constexpr size_t kRecordBytes = 1024;
// Records looked at per input.
constexpr uint64_t kMaxRecords = 16;
// Bytes of a stream read per record.
constexpr uint64_t kMaxStreamBytes = 256 * 1024;

void WalkRecord(qm::ntfs::MutableBytes record) {
  qm::ntfs::IsFileRecordCandidate(record, 512);
  // The walk below must hold on any bytes, torn blocks included, so it is
  // given the whole record rather than its sound part.
  (void)qm::ntfs::ApplyFixups(record);
  qm::ntfs::RecordHeader header;
  qm::ntfs::ParseRecordHeader(record, header);
  qm::ntfs::AttributeWalker walker(record);
  qm::ntfs::Attribute attribute;
  while (walker.Next(attribute)) {
    qm::ntfs::Bytes value;
    qm::ntfs::ResidentValue(attribute, value);
    qm::ntfs::NonResidentHeader nonResident;
    if (qm::ntfs::ReadNonResidentHeader(attribute, nonResident)) {
      qm::ntfs::RunList runs;
      qm::ntfs::DecodeRunList(attribute, runs);
      qm::ntfs::RunListClusters(runs);
    }
    qm::ntfs::FileNameInfo name;
    if (attribute.type == 0x30) qm::ntfs::ParseFileName(attribute, name);
  }
  qm::ntfs::SummarizeRecord(record);
}

void ReadThroughVolume(const std::string& image) {
  qm::SectorSource source;
  if (source.OpenImageSource(image) != 0) return;
  qm::ntfs::NtfsGeometry geometry;
  geometry.sectorsPerCluster = 1;
  geometry.totalSectors = source.totalSectors();
  qm::ntfs::NtfsVolume volume(&source, geometry);
  if (volume.LoadMftRuns() != 0 || volume.mftRuns().empty()) {
    qm::ntfs::DataRun whole;
    whole.clusterCount = source.totalSectors();
    volume.SetMftRuns({whole});
  }
  const uint64_t records = std::min(volume.MftRecordCount(), kMaxRecords);
  std::vector<uint8_t> record;
  for (uint64_t number = 0; number < records; ++number) {
    if (volume.ReadMftRecord(number, record) != 0) continue;
    qm::ntfs::DataStream stream;
    if (volume.LocateData(record, stream) == 0) {
      const uint64_t bytes = std::min(stream.dataSize, kMaxStreamBytes);
      qm::ntfs::StreamData(volume, stream, bytes, [](const uint8_t*, size_t) { return 0; });
    }
    qm::ntfs::RunList runs;
    volume.FindAttributeRunsInRecord(record, 0x80, runs);
    if (auto sector = volume.RecordNumberToSector(number)) {
      std::vector<uint8_t> resident;
      volume.ReadResidentData(*sector, resident);
      uint64_t size = 0;
      volume.ReadDataSize(*sector, size);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qm::fuzz::ClearAfterInput clear;

  // Each record on its own, exactly as long as the input gives it.
  for (size_t offset = 0; offset < size && offset < kMaxRecords * kRecordBytes;
       offset += kRecordBytes) {
    std::vector<uint8_t> record(data + offset, data + std::min(size, offset + kRecordBytes));
    WalkRecord(record);
  }

  // The input after the first record as one LZNT1 compression unit of 16
  // clusters of 4 KiB.
  if (size > kRecordBytes) {
    std::vector<uint8_t> unit(16 * 4096);
    qm::ntfs::DecompressLznt1({data + kRecordBytes, size - kRecordBytes}, unit);
  }

  ReadThroughVolume(qm::fuzz::FuzzWorkspace::Get().WriteImage(data, size));
  return 0;
}
