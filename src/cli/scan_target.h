// The terminal tool names sources against the process's disk table.
#pragma once

#include <string>

#include "platform/disk_table.h"
#include "session/scan_source.h"

namespace qm::cli {

using ScanTarget = session::ScanSource;

inline int ParseSource(const std::string& text, ScanTarget& target, std::string& message) {
  return session::ParseSource(text, DiskTable::System(), target, message);
}

}  // namespace qm::cli
