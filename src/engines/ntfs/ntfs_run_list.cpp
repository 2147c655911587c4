#include "engines/ntfs/ntfs_run_list.h"

namespace qm::ntfs {

uint64_t DecodeRunList(const Attribute& attribute, RunList& out) {
  NonResidentHeader header;
  if (!ReadNonResidentHeader(attribute, header)) return 0;
  const Bytes bytes = attribute.bytes;
  size_t p = header.runListOffset;
  uint64_t cluster = 0;
  uint64_t appended = 0;
  while (p < bytes.size()) {
    const uint8_t h = bytes[p];
    if (h == 0) break;
    const size_t lengthBytes = h & 0x0F;
    const size_t offsetBytes = h >> 4;
    if (lengthBytes == 0 || lengthBytes > 8 || offsetBytes > 8) break;
    if (!Fits(bytes, p + 1, lengthBytes + offsetBytes)) break;
    const uint8_t* field = bytes.data() + p + 1;

    uint64_t count = 0;
    for (size_t i = 0; i < lengthBytes; ++i) count |= uint64_t{field[i]} << (8 * i);
    DataRun run;
    run.clusterCount = count;
    if (offsetBytes == 0) {
      run.sparse = true;
    } else {
      uint64_t raw = 0;
      for (size_t i = 0; i < offsetBytes; ++i) raw |= uint64_t{field[lengthBytes + i]} << (8 * i);
      // Sign-extend from the top bit of the last byte.
      if (offsetBytes < 8 && (field[lengthBytes + offsetBytes - 1] & 0x80))
        raw |= ~uint64_t{0} << (8 * offsetBytes);
      const int64_t delta = static_cast<int64_t>(raw);
      if (delta < 0 ? uint64_t(-(delta + 1)) + 1 > cluster : uint64_t(delta) > UINT64_MAX - cluster)
        break;
      cluster += static_cast<uint64_t>(delta);
      run.lcnDelta = delta;
      run.lcn = cluster;
    }
    if (count == 0) break;
    out.push_back(run);
    appended = appended + count < appended ? UINT64_MAX : appended + count;
    p += 1 + lengthBytes + offsetBytes;
  }
  return appended;
}

uint64_t RunListClusters(const RunList& runs) {
  uint64_t total = 0;
  for (const DataRun& r : runs) total = total + r.clusterCount < total ? UINT64_MAX : total + r.clusterCount;
  return total;
}

}  // namespace qm::ntfs
