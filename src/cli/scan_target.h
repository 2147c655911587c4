// What a source named on the command line resolves to (session::ParseSource,
// against the disk table the terminal tool made at start-up).
#pragma once

#include <string>

#include "platform/disk_table.h"
#include "session/scan_source.h"

namespace qm::cli {

using ScanTarget = session::ScanSource;

}  // namespace qm::cli
