// What a recovery reports about a file that did not come out whole.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/errors.h"

namespace qm {

// A stretch of a file, in bytes from its start.
struct ByteRange {
  uint64_t offset = 0;
  uint64_t length = 0;
  bool operator==(const ByteRange&) const = default;
};

struct RecoveryProblem {
  // Where the file was to be written.
  std::string intendedPath;
  // Where it now lies: the intended path for a damaged file, NAME.partial
  // for a failed one that had some content, empty when nothing was kept.
  std::string keptPath;
  // err::kCrc for a damaged file (written whole, with zeros standing in for
  // `unreadable`); any other code for a failed one.
  int error = 0;
  std::vector<ByteRange> unreadable;
  uint64_t bytesWritten = 0;

  bool damaged() const { return error == err::kCrc; }
};

}  // namespace qm
