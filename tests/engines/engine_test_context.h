// The context an engine made by hand in a test works in: the scan folder the
// test started in the process's scan history, that history, and the
// process's disk table (which the test may have filled with its images).
#pragma once

#include "engines/file_recovery_parse.h"
#include "platform/disk_table.h"
#include "results/scan_history.h"

namespace qm::test {

inline EngineContext TestContext() {
  EngineContext context;
  context.scanFolder = GetScanHistory().CurrentScanFolder();
  context.diskTable = &DiskTable::System();
  context.history = &GetScanHistory();
  return context;
}

}  // namespace qm::test
