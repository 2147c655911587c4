#include "app/process_wnd.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QMetaObject>
#include <QTimer>
#include <QVBoxLayout>

#include "app/message_box.h"
#include "engines/file_recovery_parse.h"
#include "ui/skin_loader.h"

namespace qm {

namespace {
constexpr int kRefreshMs = 50;
}

void WorkerQuery::Answer(bool yes) {
  {
    std::lock_guard guard(mutex_);
    if (done_) return;
    done_ = true;
    answer_ = yes;
  }
  settled_.notify_all();
}

void WorkerQuery::Withdraw() {
  {
    std::lock_guard guard(mutex_);
    done_ = true;
  }
  settled_.notify_all();
}

bool WorkerQuery::Settled() const {
  std::lock_guard guard(mutex_);
  return done_;
}

bool WorkerQuery::Wait(bool fallback) {
  std::unique_lock guard(mutex_);
  settled_.wait(guard, [this] { return done_; });
  return answer_.value_or(fallback);
}

CProcessWnd::CProcessWnd(QWidget* owner) : QDialog(owner, Qt::Dialog | Qt::FramelessWindowHint) {
  setModal(true);
}

CProcessWnd::~CProcessWnd() { StopWorker(); }

void CProcessWnd::StopWorker() {
  // Only a window destroyed while its worker runs gets here with a live
  // thread: it is told to cancel and waited for. A question it waits on
  // would never be answered now, as this thread is the one to answer it.
  std::shared_ptr<WorkerQuery> query;
  {
    std::lock_guard guard(lock_);
    cancelRequested_ = true;
    query = std::move(openQuery_);
  }
  resumed_.notify_all();
  if (query) query->Withdraw();
  if (worker_.joinable()) worker_.join();
}

bool CProcessWnd::Build(const QString& className, const QString& layoutName, const QStringList& controls,
                        const QString& languageSection, QSize size, const QStringList& closeButtons,
                        QString* error) {
  LoadedLayout layout = SkinLoader::Load(layoutName, controls + closeButtons);
  if (!layout.root) {
    if (error != nullptr) *error = layout.error;
    return false;
  }
  setObjectName(className);
  content_ = layout.root.release();
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->addWidget(content_);
  resize(size.expandedTo(content_->minimumSize()));

  const LanguageStore& store = LanguageStore::Instance();
  messages_ = store.Section("Messages");
  store.ApplyWindowTexts(content_, languageSection);
  if (auto* title = FindControl(content_, "title")) setWindowTitle(title->property("text").toString());

  for (const QString& name : closeButtons) {
    connect(FindControlAs<QAbstractButton>(content_, name), &QAbstractButton::clicked, this,
            [this] { reject(); });
  }
  refresh_ = new QTimer(this);
  refresh_->setInterval(kRefreshMs);
  connect(refresh_, &QTimer::timeout, this, [this] {
    std::lock_guard guard(lock_);
    if (!fresh_) return;
    fresh_ = false;
    ShowFigures();
  });
  if (QWidget* owner = parentWidget()) move(owner->frameGeometry().center() - rect().center());
  return true;
}

void CProcessWnd::StartWorker() {
  if (worker_.joinable() || workerFinished_) return;
  refresh_->start();
  worker_ = std::thread([this] { Run(); });
}

int CProcessWnd::exec() {
  StartWorker();
  return QDialog::exec();
}

int CProcessWnd::Report(const std::function<void()>& store) {
  std::unique_lock guard(lock_);
  // While the cancel question is open the work stands still here; the
  // answer decides whether it goes on.
  const bool waits = paused_;
  resumed_.wait(guard, [this] { return !paused_ || cancelRequested_; });
  if (cancelRequested_) return kCancelCode;
  if (waits) AfterPause();
  store();
  fresh_ = true;
  return 0;
}

void CProcessWnd::Store(const std::function<void()>& store) {
  std::lock_guard guard(lock_);
  store();
  fresh_ = true;
}

bool CProcessWnd::CancelRequested() {
  std::lock_guard guard(lock_);
  return cancelRequested_;
}

bool CProcessWnd::Ask(const QString& question, bool fallback, const QString& yesText, const QString& noText) {
  auto query = std::make_shared<WorkerQuery>(question, yesText, noText);
  {
    std::lock_guard guard(lock_);
    if (cancelRequested_) return fallback;
    openQuery_ = query;
  }
  // Queued, never blocking: the window's thread may be busy with another
  // question, or about to join this thread.
  QMetaObject::invokeMethod(
      this,
      [this, query] {
        if (query->Settled()) return;
        query->Answer(CMessageBox::Show(CMessageBox::Question, this, query->Question(), query->YesText(),
                                        query->NoText()) == CMessageBox::Ok);
      },
      Qt::QueuedConnection);
  const bool answer = query->Wait(fallback);
  std::lock_guard guard(lock_);
  if (openQuery_ == query) openQuery_.reset();
  return answer;
}

void CProcessWnd::FinishWork(std::function<void()> then) {
  // Posted before the flag is set, so that whoever sees the flag finds the
  // call already queued.
  QMetaObject::invokeMethod(
      this,
      [this, then = std::move(then)] {
        {
          // The last figures, even those stored after the last tick.
          std::lock_guard guard(lock_);
          fresh_ = false;
          ShowFigures();
        }
        refresh_->stop();
        if (then) then();
      },
      Qt::QueuedConnection);
  workerFinished_ = true;
}

void CProcessWnd::CloseFromWorker(int result) {
  if (questionOpen_) {
    pendingClose_ = result;
    return;
  }
  if (isVisible()) done(result);
  else setResult(result);
}

void CProcessWnd::reject() {
  if (workerFinished_ && CloseWhenDone()) return;
  AskToCancel();
}

void CProcessWnd::AskToCancel() {
  if (questionOpen_) return;
  {
    // The worker waits at its next report while the question is open; the
    // lock itself stays free for the figures and the worker's other calls.
    std::lock_guard guard(lock_);
    if (cancelRequested_) return;
    paused_ = true;
  }
  questionOpen_ = true;
  const bool finishedBefore = workerFinished_;
  const int answer = CMessageBox::Show(CMessageBox::Question, this, CancelQuestion());
  questionOpen_ = false;
  const bool yes = answer == CMessageBox::Ok && !finishedBefore;
  {
    std::lock_guard guard(lock_);
    paused_ = false;
    if (yes) cancelRequested_ = true;
  }
  resumed_.notify_all();
  if (yes) OnCancelConfirmed();
  if (yes && worker_.joinable()) {
    WaitForWorker();
    AfterCancel();
  }
  if (pendingClose_ != 0) {
    const int result = pendingClose_;
    pendingClose_ = 0;
    done(result);
  }
}

void CProcessWnd::WaitForWorker() {
  // Keeps painting and takes the worker's posted calls while it winds down;
  // the user's clicks wait.
  QEventLoop loop;
  QTimer poll;
  connect(&poll, &QTimer::timeout, &loop, [&] {
    if (workerFinished_) loop.quit();
  });
  poll.start(kRefreshMs);
  if (!workerFinished_) loop.exec(QEventLoop::ExcludeUserInputEvents);
  // The worker's last posted call (its close) runs before we go on.
  QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
}

}  // namespace qm
