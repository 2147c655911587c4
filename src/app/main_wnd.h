// The application's main window: the "skin.ui" layout with its caption band,
// pages and help menu, and the workflow from what to look for, to where, to
// the scan, its results and their recovery.
#pragma once

#include <QString>
#include <QWidget>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "app/disk_list.h"
#include "app/main_wnd_controls.h"
#include "app/preview_display.h"
#include "app/preview_state.h"
#include "app/result_selection.h"
#include "results/found_file_record.h"

class QAbstractButton;
class QMenu;
class QSocketNotifier;
class QTreeWidgetItem;

namespace qm {

class DeviceWatch;
class ResultBrowser;
class ResultFolderModel;
class SkinNotifications;
struct Notification;

// What the window works with besides its layout; tests put fakes here.
struct MainWndServices {
  CDiskList::Enumerator enumerate = EnumerateSystemDisks;
  CDiskList::VolumeItemFactory volumeItems;  // null: volumes open through the scan session
  CDiskList::ImageItemFactory imageItems;    // likewise for images
  bool watchDevices = true;
  // Questions to the user that need a file dialog; each returns an empty
  // text when the user cancels.
  std::function<QString(QWidget* owner)> chooseImageToLoad;
  std::function<QString(QWidget* owner, const QString& proposedName)> chooseImageToSave;
  std::function<QString(QWidget* owner)> chooseRecoveryFolder;
};

class CMainWnd : public QWidget {
  Q_OBJECT
 public:
  static constexpr const char* kTitle = "Quillmark Free";
  // kFormattedScan searches every sector, also those the file system uses;
  // kByFileType is a deep scan that lists only the file types ticked.
  enum ScanMode { kQuickScan = 0, kDeepScan = 1, kFormattedScan = 2, kByFileType = 3 };
  // The pages of the workflow, in the order of the layout's page stack.
  enum class Page { kStart = 0, kDisks = 1, kFileTypes = 2, kResults = 3 };

  // Null when the layout is missing or lacks a control; `error` says which.
  static std::unique_ptr<CMainWnd> Create(QString* error, MainWndServices services = {});
  ~CMainWnd() override;

  // Makes a language current and shows the window's texts in it.
  void ChangeLanguage(const QString& language);
  // Sets every text of the window from the current language.
  void ApplyTexts();

  QWidget* Layout() const { return layout_; }
  QMenu* HelpMenu() const { return helpMenu_; }
  CDiskList* Disks() const { return disks_; }
  Page CurrentPage() const;
  int Mode() const { return scanMode_; }
  bool ImageWorkflow() const { return imageMode_; }
  // How many files the category sorting of the last scan returned; the
  // records themselves are in the category tree's groups.
  size_t ResultCount() const { return resultCount_; }
  // The files checked for recovery, and the views that check them.
  ResultSelection& Selection() { return selection_; }
  ResultBrowser* Browser() const { return browser_; }

  // The steps of the workflow, as the buttons run them.
  void StartScan();
  void CreateImage();
  void LoadImage();
  // Recovers `records` into a folder the user chooses; the questions and
  // the recovery window open over `owner` (the main window when null).
  void Recover(const std::vector<FoundFileRecord>& records, QWidget* owner = nullptr);
  // Previews the file list's row in the pane below the list.
  void PreviewRow(int row);
  // Previews a record of the last scan; a folder gets a note instead.
  void PreviewRecord(const FoundFileRecord& record);
  // Opens the shown preview in the preview window.
  void OpenPreviewWindow();
  const PreviewState& Preview() const { return previewState_; }
  const PreviewTarget& PreviewPane() const { return preview_; }
  // Brings the disk list up to date after disks came or went.
  void RefreshDisks(CDiskList::RefreshMode mode);
  // Reads a disk that could not be read again, letting the system's disk
  // service ask the user for access; says why when it still cannot be read.
  void AskForDiskAccess(int disk);

 signals:
  void QuitRequested();
  // The category sorting of a scan is done and Results() holds its records.
  void ResultsReady();

 private:
  explicit CMainWnd(MainWndServices services);
  bool eventFilter(QObject* watched, QEvent* event) override;
  // Empty, or why the menu's layout cannot be used.
  QString BuildHelpMenu();
  void WatchDevices();
  void OnNotification(const Notification& notification);
  void ShowPage(Page page);
  // The rows and headings the views made in the language chosen before.
  void RetranslateViews();
  void EnterDiskPage();
  void OnCategoryBox(QAbstractButton* box, bool checked);
  void ShowDiskInfo(QTreeWidgetItem* row);
  void SortResults(ScanItems scanned);
  void ClearResults();
  void ShowFolders(int index);
  void OnSortingFinished();
  // Scans `items` in `mode`; `resume` answers the question whether to go on
  // with an interrupted deep scan before it is asked.
  void RunScan(ScanItems items, int mode, std::optional<bool> resume = std::nullopt);
  // After a scan that could not open a volume: tells the user why, and
  // true when they chose to deep-scan `failed` instead.
  bool ExplainFailedScan(int code, const QString& detail, const ScanItemPtr& failed, int mode);
  void ShowScanWarnings(const ScanItems& scanned);
  // What the results page offers to scan next (resume, deep scan), as the
  // text of its button; empty when nothing.
  QString FollowUpScanText() const;
  void RunFollowUpScan();
  QString ModeName(int mode) const;
  QString ModeDescription(int mode) const;
  // The start page's line under the mode buttons when none is pointed at.
  QString ModeInfoText() const;
  void ResultsBanner(QString& title, QString& text) const;
  void SetUpPreview();
  void ShowPreviewInPane();
  ScanItemPtr ItemFor(const FoundFileRecord& record) const;
  // Stops the shown preview and deletes its copies.
  void EndPreview();
  std::string CategoryFilter() const;
  QString Message(const char* key) const;

  MainWndServices services_;
  QWidget* layout_ = nullptr;
  MainWndControls ui_;
  QMenu* helpMenu_ = nullptr;
  SkinNotifications* notifications_ = nullptr;
  CDiskList* disks_ = nullptr;
  std::unique_ptr<DeviceWatch> deviceWatch_;
  QSocketNotifier* deviceNotifier_ = nullptr;

  int scanMode_ = kDeepScan;
  bool modeChosen_ = false;  // the user chose a mode, not the default
  // The last scan: its mode, and whether and where the user stopped it.
  int lastScanMode_ = kDeepScan;
  bool lastScanStopped_ = false;
  int lastScanPercent_ = 0;
  bool imageMode_ = false;
  bool diskChosen_ = false;
  bool scanRunning_ = false;
  bool scanFromTypePage_ = false;
  ScanItems lastScanned_;
  std::vector<FoundFileRecord> results_;  // filled by the sorting, then grouped
  std::map<std::string, std::vector<FoundFileRecord>> grouped_;
  size_t resultCount_ = 0;
  ResultSelection selection_;
  ResultBrowser* browser_ = nullptr;
  ScanItems folderSources_;  // the scanned items the folder view can show
  std::unique_ptr<ResultFolderModel> folderModel_;
  PreviewState previewState_;
  PreviewTarget preview_;
  bool previewShown_ = false;       // the pane shows previewState_
  QWidget* previewWindow_ = nullptr;  // while the preview window is open
};

}  // namespace qm
