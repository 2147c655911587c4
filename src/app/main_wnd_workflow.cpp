// The main window's long steps: scanning, sorting the results into their
// categories, recovering, and copying a disk into an image. Each runs in
// its progress window; the window here prepares it and takes the result.
#include <QAbstractButton>
#include <QFileDialog>
#include <QFileInfo>
#include <QComboBox>
#include <QLabel>
#include <QSignalBlocker>
#include <QTreeView>
#include <QSocketNotifier>
#include <QThread>
#include <QTreeWidget>

#include "app/create_image_process_wnd.h"
#include "app/file_type_tree.h"
#include "app/formatting.h"
#include "app/image_destination.h"
#include "app/image_file_dialog.h"
#include "app/keep_folders_option.h"
#include "app/language_store.h"
#include "app/main_wnd.h"
#include "app/message_box.h"
#include "app/message_format.h"
#include "app/recover_process_wnd.h"
#include "app/recovery_destination.h"
#include "app/result_browser.h"
#include "app/result_folder_model.h"
#include "app/scan_process_wnd.h"
#include "app/search_process_wnd.h"
#include "disk/watch/device_watch.h"
#include "app/error_words.h"
#include "platform/errors.h"
#include "results/categories.h"
#include "session/same_disk.h"
#include "ui/skin_loader.h"

namespace qm {

namespace {

// The type options of the file-type page, by group, with the category a
// fully checked group stands for.
struct TypeGroup {
  const char* name;
  FileCategory category;
};
const TypeGroup kTypeGroups[] = {{"FileTypePhoto", FileCategory::kPhoto},
                                 {"FileTypeAudio", FileCategory::kAudio},
                                 {"FileTypeVideo", FileCategory::kVideo},
                                 {"FileTypeOffice", FileCategory::kDocument},
                                 {"FileTypeZip", FileCategory::kArchive}};

// The filter entries of a type option: the extensions its "extensions"
// property lists ("jpg|jpeg": one box for a type's spellings), or the one
// its name ends in ("TypePng").
std::string OptionFilter(const QAbstractButton* option) {
  QString extensions = option->property("extensions").toString();
  if (extensions.isEmpty()) extensions = option->objectName().mid(4);
  std::string text;
  for (const QString& extension : extensions.toLower().split(u'|', Qt::SkipEmptyParts)) {
    text += (text.empty() ? "*." : "|*.") + extension.trimmed().toStdString();
  }
  return text;
}

QString DefaultImageToSave(QWidget* owner, const QString& proposed) {
  QFileDialog dialog(owner);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setNameFilter("Image Files (*.img)");
  dialog.setDefaultSuffix("img");
  dialog.selectFile(proposed);
  return dialog.exec() == QDialog::Accepted ? dialog.selectedFiles().value(0) : QString();
}

QString DefaultRecoveryFolder(QWidget* owner) {
  return QFileDialog::getExistingDirectory(owner, LanguageStore::Instance().Text("Messages", "MSG1507"));
}

// "/DCIM/100CANON" for a file found there, "/" in the root; empty for a
// carved file, which was found by its content and has no folder.
QString FolderPathText(const ScanItemPtr& item, const FoundFileRecord& record) {
  IFileRecoveryParse* engine = item != nullptr ? item->Engine() : nullptr;
  if (engine == nullptr || record.engineKind == static_cast<uint32_t>(EngineKind::kCarving)) return {};
  std::string path;
  if (engine->GetFullPath(record, path) != 0) return {};
  while (!path.empty() && path.back() == '/') path.pop_back();
  return "/" + QString::fromStdString(path);
}

}  // namespace

std::string CMainWnd::CategoryFilter() const {
  // Every option left checked means every type, the unknown ones too. A
  // group left whole stands for its whole list, not only the few types
  // the page names; otherwise the checked types are taken one by one.
  std::vector<std::string> parts;
  bool everything = true;
  for (const TypeGroup& group : kTypeGroups) {
    const QList<QAbstractButton*> options = FindControl(layout_, group.name)->findChildren<QAbstractButton*>();
    std::vector<std::string> checked;
    for (QAbstractButton* option : options) {
      if (option->isChecked()) checked.push_back(OptionFilter(option));
    }
    everything = everything && checked.size() == static_cast<size_t>(options.size());
    if (checked.size() == static_cast<size_t>(options.size())) {
      parts.push_back(CategoryListText(group.category));
    } else {
      parts.insert(parts.end(), checked.begin(), checked.end());
    }
  }
  const bool others = FindControlAs<QAbstractButton>(layout_, "OptOtherFileItem")->isChecked();
  if (others) parts.push_back("*.other");
  everything = everything && others;
  // Everything means the types no list names as well (".other").
  if (everything) return EscapeFilterText(AllTypesFilter({}) + "|*.other");
  if (parts.empty()) return BuildCategoryFilter({});
  std::string text;
  for (const std::string& part : parts) text += (text.empty() ? "" : "|") + part;
  return EscapeFilterText(text);
}

void CMainWnd::StartScan() {
  QTreeWidgetItem* row = disks_->View()->currentItem();
  if (const int disk = disks_->UnreadableDiskOf(row); disk >= 0) {
    AskForDiskAccess(disk);
    return;
  }
  ScanItems items = disks_->ItemsToScan(row);
  if (!diskChosen_ || items.empty()) {
    CMessageBox::Show(CMessageBox::Information, this, Message("MSG0505"));
    return;
  }
  scanFromTypePage_ = CurrentPage() == Page::kFileTypes;
  RunScan(std::move(items), scanMode_);
}

void CMainWnd::SortResults(ScanItems scanned) {
  QString error;
  auto window = CSearchProcessWnd::Create(std::move(scanned), CategoryFilter(), &results_, this, &error);
  if (!window) {
    CMessageBox::Show(CMessageBox::Error, this, error);
    return;
  }
  window->GroupInto(&grouped_);
  const int result = window->exec();
  OnSortingFinished();
  if (result == CProcessWnd::kFailed)
    CMessageBox::Show(CMessageBox::Warning, this, window->FailureText());
}

void CMainWnd::ClearResults() {
  EndPreview();
  ui_.folderTree->setModel(nullptr);
  folderModel_.reset();
  folderSources_.clear();
  const QSignalBlocker quiet(ui_.folderSource);
  ui_.folderSource->clear();
  browser_->Clear();
  selection_.Clear();
  browser_->RefreshSummary();
  results_.clear();
  grouped_.clear();
  resultCount_ = 0;
}

void CMainWnd::ShowFolders(int index) {
  QTreeView* folders = ui_.folderTree;
  folders->setModel(nullptr);
  folderModel_.reset();
  if (index < 0 || index >= static_cast<int>(folderSources_.size())) return;
  IFileRecoveryParse* engine = folderSources_[index]->Engine();
  if (engine == nullptr) return;
  folderModel_ = std::make_unique<ResultFolderModel>(*engine);
  // The folders offer the files the type view lists, no others.
  auto shown = std::make_shared<ResultFolderModel::KeySet>();
  for (const FileTypeTree::Group& group : browser_->TypeTree().Groups()) {
    for (const FoundFileRecord& record : *group.records) shown->insert(ResultSelection::KeyOf(record));
  }
  ResultFolderModel* model = folderModel_.get();
  model->ChooseFrom(std::move(shown), selection_, ui_.folderSource->itemText(index));
  folders->setModel(model);
  folders->setColumnWidth(ResultFolderModel::kName, 170);
  // The volume's row opens as it arrives; choosing a folder lists its files.
  connect(model, &QAbstractItemModel::rowsInserted, folders, [folders, model](const QModelIndex& parent, int first) {
    if (!parent.isValid() && first == 0) folders->expand(model->index(0, 0));
  });
  connect(folders->selectionModel(), &QItemSelectionModel::currentChanged, model,
          [this, model](const QModelIndex& current) {
            if (ResultFolderModel::Records files = model->FilesAt(current)) browser_->ShowFiles(std::move(files));
          });
  // Ticks made in either view show in the other.
  connect(model, &ResultFolderModel::SelectionChanged, browser_, &ResultBrowser::SyncChecks);
  connect(browser_, &ResultBrowser::SelectionChanged, model, &ResultFolderModel::RefreshChecks);
}

void CMainWnd::OnSortingFinished() {
  resultCount_ = 0;
  for (const auto& [extension, records] : grouped_) resultCount_ += records.size();
  browser_->ShowGroups(std::move(grouped_));
  grouped_.clear();
  browser_->Model().SetPathSource(
      [this](const FoundFileRecord& record) { return FolderPathText(ItemFor(record), record); });
  // A category's files are shown at once rather than an empty list.
  browser_->ShowFirstCategory();
  browser_->RefreshSummary();
  // The folder view offers each scanned volume; the chooser shows only
  // when there is more than one.
  QComboBox* chooser = ui_.folderSource;
  {
    const QSignalBlocker quiet(chooser);
    chooser->clear();
    folderSources_ = lastScanned_;
    std::erase_if(folderSources_, [](const ScanItemPtr& item) { return item->Engine() == nullptr; });
    for (const ScanItemPtr& item : folderSources_) {
      const QString source = QString::fromStdString(item->SourcePath()).section(u'/', -1);
      chooser->addItem(source.isEmpty() ? QString::number(item->Key()) : source);
    }
  }
  chooser->setVisible(folderSources_.size() > 1);
  ShowFolders(folderSources_.empty() ? -1 : 0);
  ui_.tabRecover->setEnabled(true);
  ShowPage(Page::kResults);
  emit ResultsReady();
}

void CMainWnd::Recover(const std::vector<FoundFileRecord>& records, QWidget* owner) {
  if (records.empty()) return;
  if (owner == nullptr) owner = this;
  const auto choose = services_.chooseRecoveryFolder ? services_.chooseRecoveryFolder : DefaultRecoveryFolder;
  const QString folder = ChooseRecoveryDestination(choose, owner, records);
  if (folder.isEmpty()) return;
  // Writing onto a disk being recovered from can overwrite what is still
  // to be found there.
  for (const ScanItemPtr& item : disks_->ScannedItems()) {
    const std::string source = item->SourcePath();
    if (source.empty() || session::SharedDisk(source, folder.toStdString()).empty()) continue;
    if (CMessageBox::Show(CMessageBox::Confirm, owner, Message("MSG0805")) != CMessageBox::Ok) return;
    break;
  }
  QString error;
  auto window = CRecoverProcessWnd::Create(
      RecoverJob{disks_->ScannedItems(), records, folder, KeepFolderStructure()}, owner, &error);
  if (!window) {
    CMessageBox::Show(CMessageBox::Error, owner, error);
    return;
  }
  window->exec();
}

void CMainWnd::LoadImage() {
  const auto choose = services_.chooseImageToLoad ? services_.chooseImageToLoad : ChooseImageToLoad;
  const QString path = choose(this);
  if (path.isEmpty()) return;
  RememberImageFolder(path);
  QTreeWidgetItem* row = disks_->AddImage(path);
  disks_->View()->setCurrentItem(row);
}

void CMainWnd::CreateImage() {
  QTreeWidgetItem* row = disks_->View()->currentItem();
  const VolumeRecord* volume = disks_->VolumeOf(row);
  const DiskRecord* disk = disks_->DiskOf(row);
  const bool wholeDisk = volume == nullptr && disk != nullptr && disks_->KindOf(row) == CDiskList::RowKind::kDisk;
  if (row == nullptr || (volume == nullptr && !wholeDisk)) {
    CMessageBox::Show(CMessageBox::Information, this, Message("MSG0216"));
    return;
  }
  ImageCopySource source;
  QString proposed;
  uint64_t bytes = 0;
  std::string device;
  if (volume != nullptr) {
    const size_t at = volume->devicePath.rfind('@');
    if (at != std::string::npos) {
      // A volume inside an image file: its range of that file.
      source.sourcePath = volume->devicePath.substr(0, at);
      source.startSector = volume->startSector;
      source.sectorCount = volume->sectorCount;
    } else {
      source.sourcePath = volume->devicePath;
    }
    device = volume->devicePath;
    bytes = volume->sectorCount != 0 && disk != nullptr ? volume->sectorCount * disk->sectorSize : volume->totalBytes;
    proposed = ProposedImageName(volume->devicePath);
  } else {
    source.sourcePath = disk->path;
    device = disk->path;
    bytes = disk->sectors * disk->sectorSize;
    proposed = QString("Physical Disk %1").arg(disk->diskNumber + 1);
  }
  if (disk != nullptr) source.sectorSize = disk->sectorSize;

  const auto choose = services_.chooseImageToSave ? services_.chooseImageToSave : DefaultImageToSave;
  QString imagePath;
  for (;;) {
    imagePath = choose(this, proposed + ".img");
    if (imagePath.isEmpty()) return;
    const QString refusal =
        RefuseImageDestination(bytes, InspectDestination(imagePath.toStdString(), device, wholeDisk));
    if (refusal.isEmpty()) break;
    CMessageBox::Show(CMessageBox::Information, this, Message(refusal.toLatin1().constData()));
  }

  QString error;
  auto window = CCreateImageProcessWnd::Create(source, imagePath, this, &error);
  if (!window) {
    CMessageBox::Show(CMessageBox::Error, this, error);
    return;
  }
  const int result = window->exec();
  if (result == CProcessWnd::kFailed) {
    QThread::msleep(100);
    QString text = Message("MSG0217");
    const int code = window->CopyResult();
    if (code == err::kAccessDenied) text = Message("MSG0506");
    text += "\n\n" + ErrorWords(code);
    CMessageBox::Show(CMessageBox::Information, this, text);
  }
  if (CMessageBox::Show(CMessageBox::Question, this, Message("MSG0214")) != CMessageBox::Ok) return;
  scanMode_ = kDeepScan;
  imageMode_ = false;
  EnterDiskPage();
  disks_->View()->setCurrentItem(disks_->AddImage(imagePath));
}

void CMainWnd::AskForDiskAccess(int disk) {
  // The user chose this disk: the system's disk service may now ask for a
  // password. The window keeps painting while the answer is awaited.
  disks_->Reread(disk);
  disks_->WaitForRefresh();
  QTreeWidgetItem* row = disks_->DiskRowOf(disk);
  if (row == nullptr) return;  // unplugged meanwhile
  if (disks_->UnreadableDiskOf(row) >= 0) {
    CMessageBox::Show(CMessageBox::Information, this, row->child(0)->text(0));
    return;
  }
  // Its partitions are there now; the user picks what to scan.
  row->setExpanded(true);
  disks_->View()->setCurrentItem(row);
}

void CMainWnd::RefreshDisks(CDiskList::RefreshMode mode) { disks_->Refresh(mode, scanRunning_); }

void CMainWnd::WatchDevices() {
  deviceWatch_ = std::make_unique<DeviceWatch>();
  // Without the kernel's events (no udev in a container) the list is built
  // once and not refreshed.
  if (deviceWatch_->Start() != 0) {
    deviceWatch_.reset();
    return;
  }
  deviceNotifier_ = new QSocketNotifier(deviceWatch_->fd(), QSocketNotifier::Read, this);
  connect(deviceNotifier_, &QSocketNotifier::activated, this, [this] {
    const std::optional<DeviceRefresh> due = deviceWatch_->Process();
    if (!due) return;
    if (due->removal) RefreshDisks(CDiskList::RefreshMode::kRemoval);
    if (due->arrival) RefreshDisks(CDiskList::RefreshMode::kArrival);
  });
}

}  // namespace qm
