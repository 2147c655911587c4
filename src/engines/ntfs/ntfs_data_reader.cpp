#include "engines/ntfs/ntfs_data_reader.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "engines/ntfs/lznt1.h"
#include "platform/errors.h"

namespace qm::ntfs {

namespace {

// Compression units above this size do not occur (NTFS compresses only
// volumes with clusters of up to 4 KiB, in units of 16 clusters).
constexpr uint64_t kMaxCompressionUnitBytes = 1 << 20;

uint64_t SaturatingMul(uint64_t a, uint64_t b) {
  if (a != 0 && b > UINT64_MAX / a) return UINT64_MAX;
  return a * b;
}

class StreamWriter {
 public:
  StreamWriter(const DataStream& stream, uint64_t total, const ContentSink& sink,
               std::vector<ByteRange>* unreadable)
      : initialized_(std::min(stream.initializedSize, total)), total_(total), sink_(sink),
        unreadable_(unreadable) {}

  uint64_t position() const { return position_; }
  uint64_t remaining() const { return total_ - position_; }

  // Delivers up to `length` bytes of `data` (the stream's bytes at the
  // current position); what lies past the initialized size goes out as
  // zeros.
  int Deliver(uint8_t* data, uint64_t length) {
    length = std::min(length, remaining());
    if (position_ + length > initialized_) {
      const uint64_t keep = initialized_ > position_ ? initialized_ - position_ : 0;
      std::memset(data + keep, 0, static_cast<size_t>(length - keep));
    }
    position_ += length;
    return length ? sink_(data, static_cast<size_t>(length)) : 0;
  }

  // `length` bytes from `offset` past the current position are zeros that
  // stand in for unreadable sectors.
  void NoteUnreadable(uint64_t offset, uint64_t length) {
    if (unreadable_ == nullptr || offset >= remaining()) return;
    const uint64_t at = position_ + offset;
    length = std::min(length, remaining() - offset);
    if (!unreadable_->empty() && unreadable_->back().offset + unreadable_->back().length == at)
      unreadable_->back().length += length;
    else
      unreadable_->push_back({at, length});
  }

 private:
  uint64_t initialized_;
  uint64_t total_;
  const ContentSink& sink_;
  std::vector<ByteRange>* unreadable_;
  uint64_t position_ = 0;
};

// Reads clusters with zeros for unreadable sectors; `damaged` is set when
// there were any.
int ReadClusters(const NtfsVolume& volume, uint64_t lcn, uint64_t clusters, uint8_t* out,
                 bool& damaged) {
  const NtfsGeometry& g = volume.geometry();
  const uint64_t spc = static_cast<uint32_t>(g.sectorsPerCluster);
  const uint64_t sectors = SaturatingMul(clusters, spc);
  const uint64_t first = SaturatingMul(lcn, spc);
  if (sectors > UINT32_MAX || first > UINT64_MAX - g.volumeStartSector) return err::kInvalidParameter;
  std::vector<SectorRange> bad;
  const int rc = volume.source()->ReadSectorsFilling(static_cast<uint32_t>(sectors), out,
                                                     g.volumeStartSector + first,
                                                     static_cast<uint32_t>(g.bytesPerSector), bad);
  if (rc == err::kReadFault) damaged = true;
  return rc == err::kReadFault ? 0 : rc;
}

int StreamPlain(const NtfsVolume& volume, const DataStream& stream, StreamWriter& out) {
  const NtfsGeometry& g = volume.geometry();
  const uint32_t bps = static_cast<uint32_t>(g.bytesPerSector);
  const uint64_t spc = static_cast<uint32_t>(g.sectorsPerCluster);
  const uint64_t clusterBytes = g.ClusterBytes();
  std::vector<uint8_t> buffer(kContentStepBytes);
  for (const DataRun& run : stream.runs) {
    const uint64_t runBytes = SaturatingMul(run.clusterCount, clusterBytes);
    const uint64_t firstSector = SaturatingMul(run.lcn, spc);
    for (uint64_t offset = 0; offset < runBytes && out.remaining() > 0;) {
      const uint64_t step = std::min<uint64_t>({kContentStepBytes, runBytes - offset, out.remaining()});
      const uint32_t sectors = static_cast<uint32_t>((step + bps - 1) / bps);
      if (run.sparse) {
        std::memset(buffer.data(), 0, static_cast<size_t>(step));
      } else {
        if (firstSector > UINT64_MAX - g.volumeStartSector - offset / bps) return err::kInvalidParameter;
        const uint64_t readStart = g.volumeStartSector + firstSector + offset / bps;
        std::vector<SectorRange> bad;
        const int rc = volume.source()->ReadSectorsFilling(sectors, buffer.data(), readStart, bps, bad);
        if (rc != 0 && rc != err::kReadFault) return rc;
        for (const SectorRange& r : bad) out.NoteUnreadable((r.first - readStart) * bps, r.count * bps);
      }
      if (int rc = out.Deliver(buffer.data(), step); rc != 0) return rc;
      offset += step;
    }
    if (out.remaining() == 0) break;
  }
  return out.remaining() == 0 ? 0 : err::kHandleEof;
}

// Walks a run list in VCN order, handing out the clusters of one
// compression unit at a time.
class UnitCursor {
 public:
  explicit UnitCursor(const RunList& runs) : runs_(runs) {}

  // Appends the pieces of the next `clusters` clusters; false once the runs
  // are exhausted before the first of them.
  bool Next(uint64_t clusters, std::vector<DataRun>& pieces) {
    pieces.clear();
    while (clusters > 0 && index_ < runs_.size()) {
      const DataRun& run = runs_[index_];
      const uint64_t take = std::min(clusters, run.clusterCount - used_);
      DataRun piece = run;
      piece.clusterCount = take;
      piece.lcn = run.lcn + used_;
      pieces.push_back(piece);
      clusters -= take;
      used_ += take;
      if (used_ == run.clusterCount) {
        ++index_;
        used_ = 0;
      }
    }
    return !pieces.empty();
  }

 private:
  const RunList& runs_;
  size_t index_ = 0;
  uint64_t used_ = 0;
};

int StreamCompressed(const NtfsVolume& volume, const DataStream& stream, StreamWriter& out) {
  const uint64_t clusterBytes = volume.geometry().ClusterBytes();
  if (stream.compressionUnit > 8) return err::kInvalidData;
  const uint64_t unitClusters = uint64_t{1} << stream.compressionUnit;
  const uint64_t unitBytes = unitClusters * clusterBytes;
  if (unitBytes > kMaxCompressionUnitBytes) return err::kInvalidData;

  std::vector<uint8_t> stored(static_cast<size_t>(unitBytes));
  std::vector<uint8_t> unit(static_cast<size_t>(unitBytes));
  std::vector<DataRun> pieces;
  UnitCursor cursor(stream.runs);
  while (out.remaining() > 0) {
    if (!cursor.Next(unitClusters, pieces)) return err::kHandleEof;
    uint64_t onDisk = 0;
    uint64_t mapped = 0;
    bool anySparse = false;
    bool damaged = false;
    for (const DataRun& piece : pieces) {
      mapped += piece.clusterCount;
      anySparse |= piece.sparse;
      if (piece.sparse) continue;
      const int rc = ReadClusters(volume, piece.lcn, piece.clusterCount,
                                  stored.data() + onDisk * clusterBytes, damaged);
      if (rc != 0) return rc;
      onDisk += piece.clusterCount;
    }
    if (damaged && anySparse) {
      // Compressed data with a hole in it does not decode: the unit is lost.
      std::fill(unit.begin(), unit.end(), 0);
      out.NoteUnreadable(0, mapped * clusterBytes);
    } else if (!anySparse) {
      if (damaged) out.NoteUnreadable(0, mapped * clusterBytes);
      std::memcpy(unit.data(), stored.data(), unit.size());
    } else if (onDisk == 0) {
      std::fill(unit.begin(), unit.end(), 0);
    } else if (!DecompressLznt1({stored.data(), static_cast<size_t>(onDisk * clusterBytes)}, unit)) {
      return err::kInvalidData;
    }
    if (int rc = out.Deliver(unit.data(), mapped * clusterBytes); rc != 0) return rc;
  }
  return 0;
}

}  // namespace

int StreamData(const NtfsVolume& volume, const DataStream& stream, uint64_t byteCount,
               const ContentSink& sink, std::vector<ByteRange>* unreadable) {
  if (byteCount == 0) return 0;
  if (stream.resident) {
    const uint64_t length = std::min<uint64_t>(byteCount, stream.residentBytes.size());
    if (int rc = sink(stream.residentBytes.data(), static_cast<size_t>(length)); rc != 0) return rc;
    return length == byteCount ? 0 : err::kHandleEof;
  }
  if (stream.flags & kAttrFlagEncrypted) return err::kNotSupported;
  if (!volume.source()) return err::kInvalidHandle;
  StreamWriter out(stream, byteCount, sink, unreadable);
  if ((stream.flags & kAttrFlagCompressed) && stream.compressionUnit != 0)
    return StreamCompressed(volume, stream, out);
  return StreamPlain(volume, stream, out);
}

int StreamRecordData(const NtfsVolume& volume, Bytes record, uint64_t byteCount,
                     const ContentSink& sink, std::vector<ByteRange>& unreadable) {
  DataStream stream;
  if (volume.LocateData(record, stream) != 0) return err::kInvalidData;
  return StreamData(volume, stream, byteCount, sink, &unreadable);
}

}  // namespace qm::ntfs
