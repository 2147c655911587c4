// One partition or loaded disk image that the user chose to scan. The main
// window owns the items; the scan window opens and scans them; the engine a
// scan leaves behind stays in its item for browsing, sorting, preview and
// recovery until the item is scanned again or closed.
#pragma once

#include <QString>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engines/file_recovery_parse.h"

namespace qm {

class ScanItem {
 public:
  virtual ~ScanItem() = default;

  // The tag every record of this item carries as its volumeLetter: a
  // partition's letter-like number, or an image's tag.
  virtual uint16_t Key() const = 0;
  // Empty for a partition.
  virtual QString ImagePath() const = 0;
  // The block device or file that is read, to keep recovered files off it;
  // empty when unknown.
  virtual std::string SourcePath() const { return {}; }
  // Null until opened.
  virtual IFileRecoveryParse* Engine() const = 0;
  // The folder holding the scan log of the last scan; empty when unknown.
  virtual std::string ScanFolder() const { return {}; }

  // Drops the engine of an earlier scan and opens a new one for a quick or
  // deep scan. 0, or an error code with `message` for the user.
  virtual int Open(bool deep, std::string& message) = 0;
  // After a deep Open: an interrupted deep scan of this volume that Scan
  // would go on with.
  virtual bool CanResume() const = 0;
  // Makes Scan start afresh; the interrupted scan's folder is deleted.
  virtual void StartAfresh() = 0;
  // Before a deep Scan: whether every sector is searched, also those the
  // volume's file system holds in use (after a format they may still hold
  // the old folders), rather than its free space only.
  virtual void SetWholeVolume(bool whole) = 0;
  // Scans into a new scan folder (or the one resumed). The engine's result:
  // 0, the cancel code, or an error with `message`.
  virtual int Scan(ScanProgressFn progress, void* user, std::string& message) = 0;
  // Drops the engine.
  virtual void Close() = 0;
};

// Items are shared: a window working on an item keeps it, and with it its
// engine, alive even when its disk is unplugged meanwhile and its row goes.
using ScanItemPtr = std::shared_ptr<ScanItem>;
using ScanItems = std::vector<ScanItemPtr>;

}  // namespace qm
