#include "engines/fat/fast_fat_recovery.h"

#include <algorithm>

#include "engines/volume_warnings.h"
#include "platform/errors.h"

namespace qm {

namespace {

// Contiguous clusters are read together, up to this many bytes at a time.
constexpr uint32_t kContentRunBytes = 0x100000;

}  // namespace

CFastFatRecovery::CFastFatRecovery() = default;
CFastFatRecovery::~CFastFatRecovery() = default;

uint32_t CFastFatRecovery::RootId() const {
  return volume_.geometry().IsFat32() ? volume_.geometry().rootCluster : 0;
}

int CFastFatRecovery::FinishOpen(int rc, uint16_t volumeLetter) {
  if (rc == 0) rc = volume_.Open(source_, partitionStartPending_, partitionSectorsPending_);
  if (rc != 0) {
    source_.Close();
    return rc;
  }
  volumeLetter_ = volumeLetter;
  signatureContext_.source = &source_;
  signatureContext_.sectorSize = volume_.deviceSectorSize();
  open_ = true;
  NoteVolumeDamage();
  return err::kSuccess;
}

void CFastFatRecovery::NoteVolumeDamage() {
  if (volume_.missingBytes() > 0)
    AddWarning(VolumeCutShortWarning(volume_.declaredBytes(), volume_.partitionBytes()));
  if (volume_.rootClusterDamaged())
    AddWarning(DamagedMetadataWarning("The boot sector's first cluster of the root folder (" +
                                      std::to_string(volume_.geometry().rootCluster) +
                                      ", not a cluster of this volume)"));
}

int CFastFatRecovery::OpenImage(const std::string& imagePath, uint16_t volumeLetter) {
  if (open_) return err::kSuccess;
  int rc = source_.OpenImageSource(imagePath);
  partitionStartPending_ = 0;
  partitionSectorsPending_ = source_.totalSectors();
  return FinishOpen(rc, volumeLetter);
}

int CFastFatRecovery::OpenDisk(int driveIndex, uint64_t startSector, uint64_t sectorCount,
                               uint16_t volumeLetter) {
  if (open_) return err::kSuccess;
  int rc = source_.OpenPhysicalDriveSource(Disks(), driveIndex);
  partitionStartPending_ = startSector;
  partitionSectorsPending_ = sectorCount;
  return FinishOpen(rc, volumeLetter);
}

int CFastFatRecovery::NextFreeExtent(uint64_t* start, uint64_t* length) {
  if (start == nullptr || length == nullptr) return 1;
  *length = 0;
  if (!open_) return 1;
  if (!bitmap_.IsBuilt()) bitmap_.Build(volume_);
  bitmap_.NextFreeExtent(volume_, *start, *length);
  return 1;
}

int CFastFatRecovery::BuildClusterBitmap() {
  if (open_) bitmap_.Build(volume_);
  return err::kSuccess;
}

// The rest of a run whose read stopped at an unreadable sector, with zeros
// for every sector that cannot be read; those are noted as parts of the file.
int CFastFatRecovery::FillUnreadable(uint64_t offset, uint32_t bytes, const FoundFileRecord& record,
                                     uint64_t remaining, uint32_t& got) {
  const uint32_t sectorSize = volume_.deviceSectorSize();
  const uint64_t first = volume_.AbsoluteSector(offset);
  std::vector<SectorRange> bad;
  const int rc = source_.ReadSectorsFilling((bytes - got) / sectorSize, workBuffer_.data() + got,
                                            first + got / sectorSize, sectorSize, bad);
  if (rc != 0 && rc != err::kReadFault) return rc;
  got = bytes;
  const uint64_t fileSize = record.fileSize;
  const uint64_t runStart = fileSize - remaining;
  for (const SectorRange& r : bad) {
    const uint64_t at = runStart + (r.first - first) * sectorSize;
    if (at >= fileSize) break;
    NoteUnreadable(at, std::min<uint64_t>(r.count * sectorSize, fileSize - at));
  }
  return err::kSuccess;
}

// Content of a file: its cluster chain from entryId, contiguous clusters read
// together. Where the chain stops at a free cluster before fileSize bytes
// (a deleted file laid around live data), the file goes on in the next free
// cluster; where it stops at an end marker or loops, the file is short.
int CFastFatRecovery::ReadFileContent(const FoundFileRecord& record, const ContentSink& sink) {
  if (!open_) return err::kInvalidHandle;
  if (record.clusterBytes > kMaxClusterBytes) return err::kWriteFault;
  uint64_t remaining = record.fileSize;
  if (remaining == 0) return err::kSuccess;
  const FatGeometry& g = volume_.geometry();
  if (!g.IsDataCluster(record.entryId)) return err::kInvalidData;
  const uint32_t clusterBytes = g.clusterBytes;
  const uint32_t runClusters = std::max<uint32_t>(1, kContentRunBytes / clusterBytes);
  if (workBuffer_.size() < uint64_t{runClusters} * clusterBytes)
    workBuffer_.resize(uint64_t{runClusters} * clusterBytes);

  // Brent's cycle detection over the clusters visited: a looping chain is
  // caught in time proportional to its length, with no memory per cluster.
  uint32_t tortoise = record.entryId;
  uint64_t power = 1, lambda = 0;
  auto seenBefore = [&](uint32_t c) {
    if (c == tortoise) return true;
    if (power == lambda) {
      tortoise = c;
      power *= 2;
      lambda = 0;
    }
    ++lambda;
    return false;
  };

  uint32_t cluster = record.entryId;
  while (remaining > 0) {
    const uint64_t wanted = (remaining + clusterBytes - 1) / clusterBytes;
    const uint32_t limit = static_cast<uint32_t>(std::min<uint64_t>(runClusters, wanted));
    uint32_t count = 1;
    uint32_t last = cluster;
    uint32_t next = 0;
    bool haveNext = volume_.NextInChain(last, next);
    bool loop = false;
    while (haveNext && count < limit && next == last + 1) {
      if (seenBefore(next)) {
        loop = true;
        break;
      }
      last = next;
      ++count;
      haveNext = volume_.NextInChain(last, next);
    }
    // The file's last cluster is read only as far as the sectors it fills:
    // a small file costs its own size, not a whole cluster.
    const uint32_t sectorBytes = volume_.deviceSectorSize();
    const uint64_t wantedBytes = (remaining + sectorBytes - 1) / sectorBytes * sectorBytes;
    const uint32_t bytes =
        static_cast<uint32_t>(std::min<uint64_t>(uint64_t{count} * clusterBytes, wantedBytes));
    uint32_t got = 0;
    const uint64_t offset = g.ClusterOffset(cluster);
    int rc = volume_.ReadBytes(offset, bytes, workBuffer_.data(), got);
    if (rc == err::kReadFault && got < bytes) rc = FillUnreadable(offset, bytes, record, remaining, got);
    const uint32_t use = static_cast<uint32_t>(std::min<uint64_t>(got, remaining));
    if (use > 0) {
      if (int stop = sink(workBuffer_.data(), use); stop != 0) return stop;
      remaining -= use;
    }
    if (rc != 0) return rc;
    if (got < bytes) return err::kReadFault;
    if (remaining == 0) break;
    if (loop) return err::kHandleEof;
    if (!haveNext) {
      uint32_t entry = 0;
      const bool freed = volume_.Entry(last, entry) == 0 && entry == 0;
      if (!freed || !volume_.NextFreeAfter(last, next)) return err::kHandleEof;
    }
    if (seenBefore(next)) return err::kHandleEof;
    cluster = next;
  }
  return err::kSuccess;
}

}  // namespace qm
