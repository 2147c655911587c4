// The list of places to scan: one row per disk with its volumes as child
// rows, and the disk images the user loaded under an "Image File" row. Each
// volume and image row holds the scan item that later holds its engine.
//
// The rows are built from an enumeration of the disks when the window
// starts and brought up to date when disks come and go. Enumerating opens
// every disk, and a disk the user may not read is asked of the disk service
// with calls that can take seconds, so it runs on a worker thread; the rows
// change when its snapshot arrives on the window's thread. An arrival adds the
// rows of new disks (and selects a new removable one unless a scan runs), a
// removal drops the rows of disks that are gone. A dropped row lets go of
// its scan item; a progress window still working on it keeps it, and its
// engine, until it is done.
#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <map>
#include <thread>
#include <vector>

#include "app/scan_item.h"
#include "disk/volumes/disk_record.h"
#include "disk/volumes/volume_record.h"

class QEvent;
class QPoint;
class QTreeWidget;
class QTreeWidgetItem;

namespace qm {

class DiskTable;

// What an enumeration of the disks found.
struct DiskSnapshot {
  std::map<int, DiskRecord> disks;
  std::vector<VolumeRecord> volumes;  // disk by disk, in order on each disk
};

// The disks of `table`, through the volume enumerator; images appended to
// the table while scanning are left out.
DiskSnapshot EnumerateDisks(DiskTable& table);
// The same for the system's table.
DiskSnapshot EnumerateSystemDisks();

class CDiskList : public QObject {
  Q_OBJECT
 public:
  enum class RefreshMode { kBuild, kArrival, kRemoval };
  enum class RowKind { kDisk, kVolume, kImageGroup, kImage, kUnreadable };

  using Enumerator = std::function<DiskSnapshot()>;
  using VolumeItemFactory = std::function<ScanItemPtr(const VolumeRecord&)>;
  using ImageItemFactory = std::function<ScanItemPtr(uint16_t tag, const QString& path)>;

  // The default factories open volumes and images through the scan session.
  CDiskList(QTreeWidget* view, Enumerator enumerate, VolumeItemFactory volumeItems = {},
            ImageItemFactory imageItems = {});
  // Waits for an enumeration still running.
  ~CDiskList() override;

  // Builds the list afresh, or adds the disks that arrived, or removes the
  // disks that left, once a fresh enumeration has come in; returns at
  // once. An arrival selects the first volume of a new removable disk
  // unless `scanRunning`. Requests made while an enumeration runs are
  // served together by the next one. `mayAskUser`: the enumeration may let
  // the disk service ask the user for access (the user chose a disk).
  void Refresh(RefreshMode mode, bool scanRunning = false, bool mayAskUser = false);
  // Whether an enumeration runs or is due.
  bool Refreshing() const { return worker_.joinable() || !due_.empty(); }
  // Keeps the event loop running, without the user's input, until the
  // requests made so far are in the rows.
  void WaitForRefresh();

  // Adds a loaded image under the "Image File" row; it gets the next tag
  // (1001, 1002, ...). An image holding a partition table gets a row per
  // usable partition beneath it, each with a tag. Returns the row to
  // choose: the image's, or its first partition's.
  QTreeWidgetItem* AddImage(const QString& path);
  // Takes a loaded image (the one `row` is, or a partition of) off the
  // list; false when `row` is no image. What was scanned on it stays in
  // ScannedItems(), so its results can still be previewed and recovered;
  // tags are not given out again. The Delete key and the row's context
  // menu ask for this.
  bool RemoveImage(QTreeWidgetItem* row);

  // On entering the page of disks: image rows shown only outside the image
  // workflow; the first volume of a removable disk selected, else the
  // first volume of the first disk.
  void PrepareForPage(bool imageWorkflow);

  RowKind KindOf(const QTreeWidgetItem* row) const;
  // The scan item of a volume or image row; null for other rows.
  ScanItemPtr ItemOf(const QTreeWidgetItem* row) const;
  const VolumeRecord* VolumeOf(const QTreeWidgetItem* row) const;
  const DiskRecord* DiskOf(const QTreeWidgetItem* row) const;
  QString ImagePathOf(const QTreeWidgetItem* row) const;
  // What scanning `row` scans: its own item, or for a disk row every
  // volume under it, in row order.
  ScanItems ItemsToScan(const QTreeWidgetItem* row) const;
  // Every item that holds an engine, those of removed images included.
  ScanItems ScannedItems() const;

  // The six information lines shown for a disk, volume or image row
  // (blank lines where a row has less to say); empty for other rows.
  QStringList InfoLines(const QTreeWidgetItem* row) const;

  QTreeWidget* View() const { return view_; }
  // The number of the disk `row` stands for when that disk could not be
  // read (its row or its note), else -1.
  int UnreadableDiskOf(const QTreeWidgetItem* row) const;
  // Reads a disk again as if it had just been plugged in: after the user
  // allowed access to it, so the disk service may ask the user.
  void Reread(int diskNumber);
  QTreeWidgetItem* DiskRowOf(int diskNumber) const { return DiskRow(diskNumber); }
  // Words the rows again in the current language.
  void Retranslate();

 signals:
  // A disk, volume or image row became the current row.
  void RowChosen(QTreeWidgetItem* row);
  // An enumeration's snapshot is in the rows.
  void Refreshed();

 private:
  struct Row {
    RowKind kind = RowKind::kDisk;
    int diskNumber = -1;
    VolumeRecord volume;
    QString imagePath;
    ScanItemPtr item;
  };

  // What the next enumeration is for.
  struct Due {
    bool build = false;
    bool arrival = false;
    bool removal = false;
    bool scanRunning = false;
    bool mayAskUser = false;
    std::vector<int> reread;  // disks whose rows the snapshot replaces
    bool empty() const { return !build && !arrival && !removal; }
  };

  void StartEnumeration();
  void Apply(const Due& due, const DiskSnapshot& snapshot);
  void ApplyMode(RefreshMode mode, const DiskSnapshot& snapshot, bool scanRunning);
  QTreeWidgetItem* DiskRow(int diskNumber) const;
  QTreeWidgetItem* AddDiskRow(const DiskRecord& disk);
  void AddVolumeRow(QTreeWidgetItem* diskRow, const VolumeRecord& volume);
  void AddUnreadableRow(QTreeWidgetItem* diskRow, int error);
  void RemoveRow(QTreeWidgetItem* row);
  void FillTexts(QTreeWidgetItem* row);
  void ShowMenu(const QPoint& at);
  bool eventFilter(QObject* watched, QEvent* event) override;

  QTreeWidget* view_;
  Enumerator enumerate_;
  VolumeItemFactory volumeItems_;
  ImageItemFactory imageItems_;
  std::map<const QTreeWidgetItem*, Row> rows_;
  std::map<int, DiskRecord> knownDisks_;
  std::vector<VolumeRecord> knownVolumes_;
  QTreeWidgetItem* imageGroup_ = nullptr;
  uint16_t nextImageTag_ = 1000;
  ScanItems retired_;  // scanned items of images taken off the list
  Due due_;             // requested, not yet enumerated for
  std::thread worker_;  // the running enumeration
};

}  // namespace qm
