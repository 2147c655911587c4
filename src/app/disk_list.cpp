#include "app/disk_list.h"

#include <QColor>
#include <QEventLoop>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QMetaObject>
#include <QTreeWidget>
#include <utility>

#include "app/formatting.h"
#include "app/local_format.h"
#include "app/language_store.h"
#include "app/session_scan_item.h"
#include "app/udisks_opener.h"
#include "disk/partitions/partition_table.h"
#include "disk/sector_source.h"
#include "disk/volumes/file_system_probe.h"
#include "disk/volumes/volume_enumerator.h"
#include "app/error_words.h"
#include "platform/errors.h"

namespace qm {

namespace {

enum Column { kNameColumn = 0, kFileSystemColumn = 1, kSizeColumn = 2 };

QString Size(uint64_t bytes) { return LocalSize(static_cast<int64_t>(bytes)); }

QString Messages(const char* key) { return LanguageStore::Instance().Text("Messages", key); }

QString DeviceName(const VolumeRecord& volume) {
  const QString path = QString::fromStdString(volume.devicePath);
  return path.mid(path.lastIndexOf(u'/') + 1);
}

// The file system of a stretch of an image file, as libblkid names it;
// empty fields when none is recognised.
FileSystemInfo ProbeImage(const QString& path, uint64_t offset, uint64_t length) {
  FileSystemInfo info;
  SectorSource source;
  if (source.OpenImageSource(path.toStdString()) == 0) ProbeFileSystem(source.handle().fd(), offset, length, info);
  return info;
}

// "/home/ana/disk.img, partition 1": a partition of an image as people
// name it, rather than the IMAGE@N the engines are given.
QString ImageSourceName(const QString& path, int partition) {
  return Messages("MSG1552").arg(path).arg(partition);
}

// "NAME  LABEL": how rows show a volume's label.
QString WithLabel(const QString& name, const std::string& label) {
  return label.empty() ? name : name + "  " + QString::fromStdString(label);
}

bool Scannable(const VolumeRecord& volume) {
  // Unallocated stretches have no device of their own to open; a disk
  // that cannot be read shows as a disk row with why in its tooltip.
  return volume.kind == VolumeRecord::Kind::kVolume || volume.kind == VolumeRecord::Kind::kEmptyDisk;
}

}  // namespace

DiskSnapshot EnumerateDisks(DiskTable& table) {
  DiskSnapshot snapshot;
  VolumeEnumerator enumerator(table);
  if (enumerator.EnumerateVolumes() == 0) return snapshot;
  enumerator.GetAllVolumes(snapshot.volumes);
  snapshot.disks = enumerator.disks();
  // Scanning a partition inside a loaded image puts the image into the
  // table, where the engines find it by index; it already has its rows
  // under the loaded images and must not come back as a disk.
  std::erase_if(snapshot.disks, [&table](const auto& disk) { return table.IsAdded(disk.first); });
  std::erase_if(snapshot.volumes, [&table](const VolumeRecord& volume) { return table.IsAdded(volume.diskNumber); });
  return snapshot;
}

DiskSnapshot EnumerateSystemDisks() { return EnumerateDisks(DiskTable::System()); }

CDiskList::CDiskList(QTreeWidget* view, Enumerator enumerate, VolumeItemFactory volumeItems,
                     ImageItemFactory imageItems)
    : QObject(view), view_(view), enumerate_(std::move(enumerate)), volumeItems_(std::move(volumeItems)),
      imageItems_(std::move(imageItems)) {
  if (!volumeItems_) {
    volumeItems_ = [](const VolumeRecord& volume) -> ScanItemPtr {
      return std::make_shared<SessionScanItem>(volume.letter, volume.devicePath, QString(),
                                               GetScanHistory(), DiskTable::System());
    };
  }
  if (!imageItems_) {
    imageItems_ = [](uint16_t tag, const QString& path) -> ScanItemPtr {
      return std::make_shared<SessionScanItem>(tag, path.toStdString(), path, GetScanHistory(),
                                               DiskTable::System());
    };
  }
  // Every row with details shows them, a whole disk's as well.
  connect(view_, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* row) {
    if (row != nullptr && !InfoLines(row).isEmpty()) emit RowChosen(row);
  });
  // The name takes the room the file system and size leave, so that the
  // list needs no sideways scrolling in a small window.
  if (view_->columnCount() == 3) {
    QHeaderView* header = view_->header();
    header->setStretchLastSection(false);
    header->setSectionResizeMode(kNameColumn, QHeaderView::Stretch);
    header->setSectionResizeMode(kFileSystemColumn, QHeaderView::ResizeToContents);
    header->setSectionResizeMode(kSizeColumn, QHeaderView::ResizeToContents);
  }
  view_->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(view_, &QTreeWidget::customContextMenuRequested, this, &CDiskList::ShowMenu);
  view_->installEventFilter(this);
  connect(view_, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* row) {
    if (KindOf(row) == RowKind::kDisk || KindOf(row) == RowKind::kImageGroup) row->setExpanded(!row->isExpanded());
  });
}

CDiskList::~CDiskList() {
  if (worker_.joinable()) worker_.join();
}

CDiskList::RowKind CDiskList::KindOf(const QTreeWidgetItem* row) const {
  const auto found = rows_.find(row);
  return found != rows_.end() ? found->second.kind : RowKind::kDisk;
}

ScanItemPtr CDiskList::ItemOf(const QTreeWidgetItem* row) const {
  const auto found = rows_.find(row);
  return found != rows_.end() ? found->second.item : nullptr;
}

const VolumeRecord* CDiskList::VolumeOf(const QTreeWidgetItem* row) const {
  const auto found = rows_.find(row);
  return found != rows_.end() && found->second.kind == RowKind::kVolume ? &found->second.volume : nullptr;
}

const DiskRecord* CDiskList::DiskOf(const QTreeWidgetItem* row) const {
  const auto found = rows_.find(row);
  if (found == rows_.end()) return nullptr;
  const RowKind kind = found->second.kind;
  if (kind != RowKind::kDisk && kind != RowKind::kVolume) return nullptr;
  const auto disk = knownDisks_.find(found->second.diskNumber);
  return disk != knownDisks_.end() ? &disk->second : nullptr;
}

QString CDiskList::ImagePathOf(const QTreeWidgetItem* row) const {
  const auto found = rows_.find(row);
  return found != rows_.end() ? found->second.imagePath : QString();
}

ScanItems CDiskList::ItemsToScan(const QTreeWidgetItem* row) const {
  ScanItems items;
  if (row == nullptr) return items;
  if (ScanItemPtr own = ItemOf(row)) {
    items.push_back(own);
    return items;
  }
  for (int i = 0; i < row->childCount(); ++i) {
    if (ScanItemPtr child = ItemOf(row->child(i))) items.push_back(child);
  }
  return items;
}

ScanItems CDiskList::ScannedItems() const {
  // Items sit at every depth: a volume under its disk, an image under the
  // image group, a partition of an image under its image.
  ScanItems items;
  const std::function<void(const QTreeWidgetItem*)> collect = [&](const QTreeWidgetItem* row) {
    if (ScanItemPtr item = ItemOf(row); item && item->Engine() != nullptr) items.push_back(item);
    for (int i = 0; i < row->childCount(); ++i) collect(row->child(i));
  };
  for (int top = 0; top < view_->topLevelItemCount(); ++top) collect(view_->topLevelItem(top));
  items.insert(items.end(), retired_.begin(), retired_.end());
  return items;
}

QTreeWidgetItem* CDiskList::DiskRow(int diskNumber) const {
  for (int top = 0; top < view_->topLevelItemCount(); ++top) {
    QTreeWidgetItem* row = view_->topLevelItem(top);
    const auto found = rows_.find(row);
    if (found != rows_.end() && found->second.kind == RowKind::kDisk && found->second.diskNumber == diskNumber)
      return row;
  }
  return nullptr;
}

QTreeWidgetItem* CDiskList::AddDiskRow(const DiskRecord& disk) {
  auto* row = new QTreeWidgetItem;
  // Disks stay above the loaded images.
  const int at = imageGroup_ != nullptr ? view_->indexOfTopLevelItem(imageGroup_) : view_->topLevelItemCount();
  view_->insertTopLevelItem(at, row);
  rows_[row] = Row{RowKind::kDisk, disk.diskNumber, {}, {}, nullptr};
  FillTexts(row);
  row->setExpanded(true);
  return row;
}

void CDiskList::AddVolumeRow(QTreeWidgetItem* diskRow, const VolumeRecord& volume) {
  auto* row = new QTreeWidgetItem(diskRow);
  rows_[row] = Row{RowKind::kVolume, volume.diskNumber, volume, {}, volumeItems_(volume)};
  FillTexts(row);
}

void CDiskList::AddUnreadableRow(QTreeWidgetItem* diskRow, int error) {
  // Says why the disk shows no volumes, and what to do about it.
  auto* row = new QTreeWidgetItem(diskRow);
  rows_[row] = Row{RowKind::kUnreadable, diskRow != nullptr ? rows_.at(diskRow).diskNumber : -1, {}, {}, nullptr};
  row->setFlags(Qt::ItemIsEnabled);
  row->setFirstColumnSpanned(true);
  const QString reason = ErrorWords(error);
  row->setText(kNameColumn, error == err::kAccessDenied ? reason + ". " + Messages("MSG0506") : reason);
  row->setToolTip(kNameColumn, row->text(kNameColumn));
  row->setForeground(kNameColumn, QColor(0x7B, 0x87, 0x94));
}

void CDiskList::RemoveRow(QTreeWidgetItem* row) {
  while (row->childCount() > 0) RemoveRow(row->child(0));
  rows_.erase(row);
  delete row;
}

void CDiskList::FillTexts(QTreeWidgetItem* row) {
  const Row& data = rows_.at(row);
  switch (data.kind) {
    case RowKind::kDisk: {
      const auto found = knownDisks_.find(data.diskNumber);
      const DiskRecord disk = found != knownDisks_.end() ? found->second : DiskRecord{};
      // Numbered from 0 as quillmark-cli numbers them, so that what a user
      // reads here can be typed there.
      QString text = QString("%1 %2").arg(Messages(disk.removable ? "MSG0202" : "MSG0201")).arg(data.diskNumber);
      if (!disk.model.empty()) text += "  " + QString::fromStdString(disk.model);
      row->setText(kNameColumn, text);
      row->setText(kSizeColumn, disk.sectors != 0 ? Size(disk.sectors * disk.sectorSize) : QString());
      row->setIcon(kNameColumn, QIcon(disk.removable ? ":/skin/images/disk_usb.svg" : ":/skin/images/disk.svg"));
      QString tip = QString::fromStdString(disk.path);
      if (disk.openError != 0) tip += "\n" + ErrorWords(disk.openError);
      row->setToolTip(kNameColumn, tip);
      break;
    }
    case RowKind::kVolume: {
      const VolumeRecord& v = data.volume;
      QString text = WithLabel(DeviceName(v), v.label);
      if (!v.mountPoint.empty()) text += "  (" + QString::fromStdString(v.mountPoint) + ")";
      row->setText(kNameColumn, text);
      row->setToolTip(kNameColumn, QString::fromStdString(v.devicePath));
      row->setText(kFileSystemColumn, QString::fromStdString(v.fileSystemName));
      row->setText(kSizeColumn, Size(v.totalBytes));
      const auto disk = knownDisks_.find(v.diskNumber);
      const bool removable = disk != knownDisks_.end() && disk->second.removable;
      row->setIcon(kNameColumn, QIcon(removable ? ":/skin/images/drive_usb.svg" : ":/skin/images/drive.svg"));
      break;
    }
    case RowKind::kUnreadable:
      break;
    case RowKind::kImageGroup:
      row->setText(kNameColumn, Messages("MSG1505"));
      row->setIcon(kNameColumn, QIcon(":/skin/images/image_file.svg"));
      break;
    case RowKind::kImage: {
      const VolumeRecord& v = data.volume;
      const QFileInfo file(data.imagePath);
      if (v.partitionNumber > 0) {
        const QString name = QString("%1 %2").arg(Messages("MSG0203").remove(u':')).arg(v.partitionNumber);
        row->setText(kNameColumn, WithLabel(name, v.label));
        row->setToolTip(kNameColumn, ImageSourceName(data.imagePath, v.partitionNumber));
        row->setIcon(kNameColumn, QIcon(":/skin/images/drive.svg"));
      } else {
        row->setText(kNameColumn, WithLabel(file.fileName(), v.label));
        row->setToolTip(kNameColumn, data.imagePath);
        row->setIcon(kNameColumn, QIcon(":/skin/images/image_file.svg"));
      }
      row->setText(kFileSystemColumn, QString::fromStdString(v.fileSystemName));
      row->setText(kSizeColumn, Size(v.totalBytes));
      break;
    }
  }
}

void CDiskList::Retranslate() {
  std::vector<QTreeWidgetItem*> pending;
  for (int i = 0; i < view_->topLevelItemCount(); ++i) pending.push_back(view_->topLevelItem(i));
  while (!pending.empty()) {
    QTreeWidgetItem* row = pending.back();
    pending.pop_back();
    if (rows_.count(row) != 0) FillTexts(row);
    for (int i = 0; i < row->childCount(); ++i) pending.push_back(row->child(i));
  }
}

void CDiskList::Refresh(RefreshMode mode, bool scanRunning, bool mayAskUser) {
  due_.build = due_.build || mode == RefreshMode::kBuild;
  due_.arrival = due_.arrival || mode == RefreshMode::kArrival;
  due_.removal = due_.removal || mode == RefreshMode::kRemoval;
  due_.scanRunning = scanRunning;
  due_.mayAskUser = due_.mayAskUser || mayAskUser;
  if (!worker_.joinable()) StartEnumeration();
}

void CDiskList::StartEnumeration() {
  const Due due = std::exchange(due_, Due{});
  worker_ = std::thread([this, due] {
    DiskSnapshot snapshot;
    {
      UDisksOpener::AskScope policy(due.mayAskUser);
      snapshot = enumerate_();
    }
    // The list's destructor joins this thread, so the list is alive here;
    // a call still queued when it goes is dropped with it.
    QMetaObject::invokeMethod(
        this,
        [this, due, snapshot = std::move(snapshot)] {
          worker_.join();
          Apply(due, snapshot);
          if (!due_.empty()) StartEnumeration();
          emit Refreshed();
        },
        Qt::QueuedConnection);
  });
}

void CDiskList::WaitForRefresh() {
  QEventLoop loop;
  const auto connection = connect(this, &CDiskList::Refreshed, &loop, [this, &loop] {
    if (!Refreshing()) loop.quit();
  });
  if (Refreshing()) loop.exec(QEventLoop::ExcludeUserInputEvents);
  disconnect(connection);
}

void CDiskList::Apply(const Due& due, const DiskSnapshot& snapshot) {
  // One snapshot serves every request made while the last one ran: a
  // build replaces the rows; otherwise departures go before arrivals.
  if (due.build) {
    ApplyMode(RefreshMode::kBuild, snapshot, due.scanRunning);
    return;
  }
  if (due.removal) ApplyMode(RefreshMode::kRemoval, snapshot, due.scanRunning);
  // Dropped only now, so that a snapshot taken before the user allowed
  // access cannot bring back the old rows for good.
  for (const int disk : due.reread) {
    if (QTreeWidgetItem* row = DiskRow(disk)) RemoveRow(row);
  }
  if (due.arrival) ApplyMode(RefreshMode::kArrival, snapshot, due.scanRunning);
}

void CDiskList::ApplyMode(RefreshMode mode, const DiskSnapshot& snapshot, bool scanRunning) {
  if (mode == RefreshMode::kBuild) {
    for (int top = view_->topLevelItemCount() - 1; top >= 0; --top) {
      QTreeWidgetItem* row = view_->topLevelItem(top);
      if (row != imageGroup_) RemoveRow(row);
    }
  }
  if (mode == RefreshMode::kRemoval) {
    // A disk is gone when it left the enumeration or when one of the
    // volumes it had is no longer there (its medium was changed).
    std::map<int, bool> gone;
    for (const VolumeRecord& old : knownVolumes_) {
      bool still = false;
      for (const VolumeRecord& now : snapshot.volumes) {
        still = still || (now.diskNumber == old.diskNumber && now.startSector == old.startSector &&
                          now.devicePath == old.devicePath);
      }
      if (!still) gone[old.diskNumber] = true;
    }
    for (const auto& [number, known] : knownDisks_) {
      if (snapshot.disks.find(number) == snapshot.disks.end()) gone[number] = true;
    }
    for (const auto& [number, unused] : gone) {
      if (QTreeWidgetItem* row = DiskRow(number)) RemoveRow(row);
    }
  }
  knownDisks_ = snapshot.disks;
  knownVolumes_ = snapshot.volumes;
  if (mode == RefreshMode::kRemoval) return;

  QTreeWidgetItem* arrived = nullptr;
  std::map<int, bool> added;  // disks given rows in this refresh
  for (const VolumeRecord& volume : snapshot.volumes) {
    QTreeWidgetItem* diskRow = DiskRow(volume.diskNumber);
    if (diskRow != nullptr && added.find(volume.diskNumber) == added.end()) continue;  // known before
    const auto disk = snapshot.disks.find(volume.diskNumber);
    if (diskRow == nullptr) {
      DiskRecord record = disk != snapshot.disks.end() ? disk->second : DiskRecord{};
      record.diskNumber = volume.diskNumber;
      diskRow = AddDiskRow(record);
      added[volume.diskNumber] = true;
    }
    if (volume.kind == VolumeRecord::Kind::kUnreadableDisk) {
      AddUnreadableRow(diskRow, disk != snapshot.disks.end() ? disk->second.openError : err::kReadFault);
      continue;
    }
    if (!Scannable(volume)) continue;
    const bool removable = disk != snapshot.disks.end() && disk->second.removable;
    AddVolumeRow(diskRow, volume);
    if (mode == RefreshMode::kArrival && removable && arrived == nullptr) arrived = diskRow->child(diskRow->childCount() - 1);
  }
  if (arrived != nullptr && !scanRunning) view_->setCurrentItem(arrived);
}

int CDiskList::UnreadableDiskOf(const QTreeWidgetItem* row) const {
  const auto found = rows_.find(row);
  if (found == rows_.end()) return -1;
  const RowKind kind = found->second.kind;
  const bool onlyTheNote = kind == RowKind::kDisk && row->childCount() == 1 && KindOf(row->child(0)) == RowKind::kUnreadable;
  return kind == RowKind::kUnreadable || onlyTheNote ? found->second.diskNumber : -1;
}

void CDiskList::Reread(int diskNumber) {
  due_.reread.push_back(diskNumber);
  Refresh(RefreshMode::kArrival, false, true);
}

QTreeWidgetItem* CDiskList::AddImage(const QString& path) {
  if (imageGroup_ == nullptr) {
    imageGroup_ = new QTreeWidgetItem;
    view_->addTopLevelItem(imageGroup_);
    rows_[imageGroup_] = Row{RowKind::kImageGroup, -1, {}, {}, nullptr};
    FillTexts(imageGroup_);
    imageGroup_->setExpanded(true);
  }
  auto* row = new QTreeWidgetItem(imageGroup_);
  // An image of a whole disk shows its partitions beneath it, each scanned
  // on its own (IMAGE@N) with a tag of its own; scanning the image row
  // scans them all, as for a disk.
  PartitionTable table;
  std::string reason;
  std::vector<const PartitionEntry*> usable;
  if (ReadImagePartitionTable(path.toStdString(), table, reason) == 0) {
    for (const PartitionEntry& entry : table.entries) {
      if (entry.usable()) usable.push_back(&entry);
    }
  }
  const uint64_t fileBytes = static_cast<uint64_t>(QFileInfo(path).size());
  // The rows name each file system and label as libblkid sees them; the
  // engines judge the file system again when they scan.
  const auto withFileSystem = [&path](Row& data, uint64_t offset, uint64_t length) {
    const FileSystemInfo info = ProbeImage(path, offset, length);
    data.volume.fileSystemName = info.name;
    data.volume.label = info.label;
    data.volume.totalBytes = length;
  };
  if (usable.empty()) {
    Row data{RowKind::kImage, -1, {}, path, imageItems_(++nextImageTag_, path)};
    withFileSystem(data, 0, fileBytes);
    rows_[row] = data;
    FillTexts(row);
    return row;
  }
  Row whole{RowKind::kImage, -1, {}, path, nullptr};
  whole.volume.totalBytes = fileBytes;
  rows_[row] = whole;
  FillTexts(row);
  for (const PartitionEntry* entry : usable) {
    auto* child = new QTreeWidgetItem(row);
    const QString source = path + "@" + QString::number(entry->number);
    Row data{RowKind::kImage, -1, {}, path, imageItems_(++nextImageTag_, source)};
    data.volume.partitionNumber = entry->number;
    data.volume.startSector = entry->startSector;
    data.volume.sectorCount = entry->sectorCount;
    data.volume.devicePath = source.toStdString();
    withFileSystem(data, entry->startSector * table.sectorSize, entry->sectorCount * table.sectorSize);
    rows_[child] = data;
    FillTexts(child);
  }
  row->setExpanded(true);
  return row->child(0);
}

bool CDiskList::RemoveImage(QTreeWidgetItem* row) {
  if (KindOf(row) != RowKind::kImage || row == nullptr) return false;
  if (row->parent() != imageGroup_) row = row->parent();  // a partition: the whole image goes
  const std::function<void(const QTreeWidgetItem*)> keepScanned = [&](const QTreeWidgetItem* r) {
    if (ScanItemPtr item = ItemOf(r); item && item->Engine() != nullptr) retired_.push_back(item);
    for (int i = 0; i < r->childCount(); ++i) keepScanned(r->child(i));
  };
  keepScanned(row);
  QTreeWidgetItem* group = imageGroup_;
  const int at = group->indexOfChild(row);
  RemoveRow(row);
  if (group->childCount() == 0) {
    imageGroup_ = nullptr;
    RemoveRow(group);
    PrepareForPage(false);
  } else {
    view_->setCurrentItem(group->child(std::min(at, group->childCount() - 1)));
  }
  return true;
}

void CDiskList::ShowMenu(const QPoint& at) {
  QTreeWidgetItem* row = view_->itemAt(at);
  if (KindOf(row) != RowKind::kImage || row == nullptr) return;
  auto* menu = new QMenu(view_);
  menu->setAttribute(Qt::WA_DeleteOnClose);
  menu->addAction(Messages("MSG1551"), this, [this, row] {
    // The row may have gone with the disks while the menu was open.
    if (rows_.count(row) != 0) RemoveImage(row);
  });
  menu->popup(view_->viewport()->mapToGlobal(at));
}

bool CDiskList::eventFilter(QObject* watched, QEvent* event) {
  if (watched == view_ && event->type() == QEvent::KeyPress &&
      static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete && RemoveImage(view_->currentItem())) {
    return true;
  }
  return QObject::eventFilter(watched, event);
}

void CDiskList::PrepareForPage(bool imageWorkflow) {
  if (imageGroup_ != nullptr) imageGroup_->setHidden(imageWorkflow);
  QTreeWidgetItem* firstVolume = nullptr;
  for (int top = 0; top < view_->topLevelItemCount(); ++top) {
    QTreeWidgetItem* diskRow = view_->topLevelItem(top);
    if (KindOf(diskRow) != RowKind::kDisk) continue;
    for (int i = 0; i < diskRow->childCount(); ++i) {
      QTreeWidgetItem* row = diskRow->child(i);
      if (KindOf(row) != RowKind::kVolume) continue;
      const DiskRecord* disk = DiskOf(row);
      if (disk != nullptr && disk->removable) {
        view_->setCurrentItem(row);
        return;
      }
      if (firstVolume == nullptr) firstVolume = row;
    }
  }
  if (firstVolume != nullptr) view_->setCurrentItem(firstVolume);
}

QStringList CDiskList::InfoLines(const QTreeWidgetItem* row) const {
  const auto found = rows_.find(row);
  if (found == rows_.end()) return {};
  const Row& data = found->second;
  const auto line = [](const char* key, const QString& value) {
    return value.isEmpty() ? Messages(key) : Messages(key) + " " + value;
  };
  if (data.kind == RowKind::kVolume) {
    const VolumeRecord& v = data.volume;
    const QString unknown = QString::fromUtf8("\u2014");  // not reported by an unmounted volume
    return {line("MSG0203", DeviceName(v)),
            line("MSG0204", QString::fromStdString(v.label)),
            line("MSG0205", QString::fromStdString(v.fileSystemName)),
            line("MSG0206", Size(v.totalBytes)),
            line("MSG0207", v.usageKnown ? Size(v.usedBytes) : unknown),
            line("MSG0208", v.usageKnown ? Size(v.freeBytes) : unknown)};
  }
  if (data.kind == RowKind::kDisk) {
    const DiskRecord* disk = DiskOf(row);
    if (disk == nullptr) return {};
    // A disk that reports no model (virtio, many card readers) gets no
    // empty "Model:" line.
    QStringList lines = {line("MSG1553", QString::fromStdString(disk->path))};
    if (!disk->model.empty()) lines << line("MSG1554", QString::fromStdString(disk->model));
    lines << line("MSG0206", disk->sectors != 0 ? Size(disk->sectors * disk->sectorSize) : QString());
    while (lines.size() < 6) lines << QString();
    return lines;
  }
  if (data.kind == RowKind::kImage) {
    const VolumeRecord& v = data.volume;
    const QString size = Size(v.totalBytes);
    if (v.partitionNumber > 0) {
      return {line("MSG0209", ImageSourceName(data.imagePath, v.partitionNumber)),
              line("MSG0204", QString::fromStdString(v.label)),
              line("MSG0205", QString::fromStdString(v.fileSystemName)),
              line("MSG0206", size), QString(), QString()};
    }
    if (ItemOf(row) == nullptr) {  // a whole disk: its partitions have the details
      return {line("MSG0209", data.imagePath), line("MSG0210", size), QString(), QString(), QString(), QString()};
    }
    return {line("MSG0209", data.imagePath), line("MSG0204", QString::fromStdString(v.label)),
            line("MSG0205", QString::fromStdString(v.fileSystemName)), line("MSG0210", size), QString(), QString()};
  }
  return {};
}

}  // namespace qm
