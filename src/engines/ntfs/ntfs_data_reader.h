// Streams the bytes of an NTFS data stream: resident data from the record,
// non-resident data cluster by cluster through its runs.
//
// Sparse runs read as zeros and so does everything past the initialized
// size. Compressed streams are decoded one compression unit at a time: a unit
// whose clusters are all on disk is stored as is, one with no clusters on
// disk is zeros, any other holds LZNT1 data in its leading clusters.
#pragma once

#include <cstdint>
#include <vector>

#include "engines/extraction/content_reader.h"
#include "engines/ntfs/ntfs_volume.h"

namespace qm::ntfs {

// Bytes delivered per step of an uncompressed stream.
inline constexpr uint32_t kContentStepBytes = 0x10000;

// Delivers the first `byteCount` bytes of `stream` to `sink`, in file order.
// 0 when all of them were delivered; the sink's stopping value; a read error;
// 38 when the runs end before byteCount; 13 for compressed data that does not
// decode or a compression unit that is out of range; 50 for an encrypted
// stream, whose stored bytes are ciphertext and no file's content.
// Unreadable sectors go out as zeros and, when `unreadable` is given, are
// appended to it as byte ranges of the stream (a compressed unit with an
// unreadable sector goes out as zeros whole).
int StreamData(const NtfsVolume& volume, const DataStream& stream, uint64_t byteCount,
               const ContentSink& sink, std::vector<ByteRange>* unreadable = nullptr);

// A found file's content from its fixed-up record: locates the unnamed $DATA
// and streams its first `byteCount` bytes as StreamData does. 13 when the
// record holds no $DATA that can be read.
int StreamRecordData(const NtfsVolume& volume, Bytes record, uint64_t byteCount,
                     const ContentSink& sink, std::vector<ByteRange>& unreadable);

}  // namespace qm::ntfs
