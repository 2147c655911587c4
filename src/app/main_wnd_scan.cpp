// The main window's scan: running it in the mode the user chose, telling
// why a volume could not be scanned, and what the results page offers to
// scan next when a quick scan found nothing or the user stopped the scan.
#include <QFileInfo>
#include <QLabel>
#include <QStringList>

#include "app/language_store.h"
#include "app/main_wnd.h"
#include "app/message_box.h"
#include "app/scan_process_wnd.h"
#include "platform/errors.h"

namespace qm {

namespace {

int WindowMode(int mode) {
  switch (mode) {
    case CMainWnd::kQuickScan: return CScanProcessWnd::kQuick;
    case CMainWnd::kFormattedScan: return CScanProcessWnd::kWhole;
    default: return CScanProcessWnd::kDeep;
  }
}

// A sector is the least a disk image holds.
constexpr qint64 kSectorBytes = 512;

}  // namespace

QString CMainWnd::ModeName(int mode) const {
  switch (mode) {
    case kQuickScan: return Message("MSG1311");
    case kFormattedScan: return Message("MSG1313");
    case kByFileType: return Message("MSG1314");
    default: return Message("MSG1312");
  }
}

QString CMainWnd::ModeDescription(int mode) const {
  switch (mode) {
    case kQuickScan: return Message("MSG0101");
    case kFormattedScan: return Message("MSG0103");
    case kByFileType: return Message("MSG1315");
    default: return Message("MSG0102");
  }
}

QString CMainWnd::ModeInfoText() const {
  return modeChosen_ ? ModeDescription(scanMode_) : LanguageStore::Instance().Text("MainWnd", "TxtMainInfo");
}

void CMainWnd::RunScan(ScanItems items, int mode, std::optional<bool> resume) {
  // The views of the last results let go of them, and the engines of the
  // last scan close before their volumes are opened again.
  ClearResults();
  for (const ScanItemPtr& item : lastScanned_) item->Close();
  lastScanned_ = items;

  QString error;
  auto window = CScanProcessWnd::Create(items, WindowMode(mode), this, &error);
  if (!window) {
    CMessageBox::Show(CMessageBox::Error, this, error);
    return;
  }
  if (resume) window->AnswerResume(*resume);
  scanRunning_ = true;
  const int result = window->exec();
  scanRunning_ = false;
  lastScanMode_ = mode;
  lastScanStopped_ = window->Stopped();
  lastScanPercent_ = window->StoppedAtPercent();
  if (result == CProcessWnd::kFailed) {
    const ScanItemPtr failed = window->FailedItem();
    if (ExplainFailedScan(window->FailureCode(), window->FailureText(), failed, mode) && failed) {
      window.reset();
      scanMode_ = kDeepScan;
      RunScan({failed}, kDeepScan);
      return;
    }
  }
  window.reset();
  // What was scanned, also when the scan was stopped, is sorted; an item
  // that could not be opened holds no engine.
  ScanItems scanned;
  for (const ScanItemPtr& item : items) {
    if (item->Engine() != nullptr) scanned.push_back(item);
  }
  ShowScanWarnings(scanned);
  if (!scanned.empty()) SortResults(scanned);
}

bool CMainWnd::ExplainFailedScan(int code, const QString& detail, const ScanItemPtr& failed, int mode) {
  const auto withDetail = [&detail](QString text) { return detail.isEmpty() ? text : text + "\n\n" + detail; };
  // Not a matter of rights: the volume holds a file system that only a
  // deep scan reads, and the text says so.
  if (code == err::kNotSupported) {
    CMessageBox::Show(CMessageBox::Warning, this, detail);
    return false;
  }
  if (code == err::kAccessDenied) {
    CMessageBox::Show(CMessageBox::Warning, this, withDetail(Message("MSG0506")));
    return false;
  }
  // A file the user loaded that is no disk image is no matter of rights
  // either: what it holds is said, and a deep scan offered where one can
  // find something in it.
  const QString image = failed ? failed->ImagePath() : QString();
  const QFileInfo file(image);
  const QString name = file.fileName();
  if (!image.isEmpty() && file.isFile() && file.size() < kSectorBytes) {
    CMessageBox::Show(CMessageBox::Warning, this, Message(file.size() == 0 ? "MSG1333" : "MSG1334").arg(name));
    return false;
  }
  if (code == err::kInvalidParameter && mode == kQuickScan && failed) {
    const QString offer = image.isEmpty() ? Message("MSG1332") : Message("MSG1331").arg(name);
    return CMessageBox::Show(CMessageBox::Question, this, offer, Message("MSG1307"), QString()) == CMessageBox::Ok;
  }
  CMessageBox::Show(CMessageBox::Warning, this, withDetail(Message("MSG1335")));
  return false;
}

void CMainWnd::ShowScanWarnings(const ScanItems& scanned) {
  // An image cut short, damaged file system structures: the scan went on,
  // but what it lists may be incomplete, and the user hears why.
  for (const ScanItemPtr& item : scanned) {
    const std::vector<std::string> warnings = item->Engine()->ScanWarnings();
    if (warnings.empty()) continue;
    const QString image = item->ImagePath();
    const QString name = image.isEmpty() ? QString::fromStdString(item->SourcePath()) : QFileInfo(image).fileName();
    QStringList lines;
    for (const std::string& warning : warnings) lines << QString::fromStdString(warning);
    CMessageBox::Show(CMessageBox::Warning, this, Message("MSG1336").arg(name) + "\n\n" + lines.join("\n"));
  }
}

QString CMainWnd::FollowUpScanText() const {
  if (lastScanned_.empty()) return {};
  if (lastScanStopped_) return Message(lastScanMode_ == kQuickScan ? "MSG1306" : "MSG1305");
  if (lastScanMode_ == kQuickScan && resultCount_ == 0) return Message("MSG1307");
  return {};
}

void CMainWnd::RunFollowUpScan() {
  const ScanItems items = lastScanned_;
  if (lastScanStopped_) {
    // A stopped deep scan goes on from its kept position; a quick one is
    // quick enough to run again.
    RunScan(items, lastScanMode_, lastScanMode_ == kQuickScan ? std::nullopt : std::optional<bool>(true));
    return;
  }
  scanMode_ = kDeepScan;
  modeChosen_ = true;
  RunScan(items, kDeepScan);
}

void CMainWnd::ResultsBanner(QString& title, QString& text) const {
  const QString count = QString::number(resultCount_);
  if (lastScanStopped_) {
    title = Message("MSG1301").arg(lastScanPercent_).arg(count);
    text = Message(lastScanMode_ == kQuickScan ? "MSG1303" : "MSG1302");
  } else {
    title = Message("MSG0801");
    text = lastScanMode_ == kQuickScan && resultCount_ == 0 ? Message("MSG1304")
           : resultCount_ == 1                              ? Message("MSG1601")
                                                             : QString(Message("MSG0802")).replace("%s", count);
  }
  // The mode the results come from is named with them.
  title += QString::fromUtf8(" · ") + ModeName(lastScanMode_);
}

}  // namespace qm
