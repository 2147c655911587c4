// The modal window that owns one long operation's worker thread: scanning,
// sorting the results into categories, recovering files, copying a disk.
//
// The worker and the window share a lock, a cancel flag and a finished
// flag. The worker's progress callbacks never touch a widget: under the
// lock they check the cancel flag and store the latest figures, which the
// window shows on a 50 ms timer (at most 20 updates a second).
//
// No lock is held while a question is open. Asking whether to cancel only
// marks the work as paused: the worker's next report waits for the answer
// (No lets it go on where it stood, Yes makes that report return the cancel
// code), while everything else that takes the lock carries on. A question
// the worker itself puts (go on with an interrupted scan?) is a query: the
// worker posts it to the window's thread and waits on it, and a window
// that is torn down meanwhile withdraws it, so that the worker it joins is
// never left waiting for a window thread that no longer listens.
#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "app/language_store.h"

class QTimer;

namespace qm {

// A yes/no question from a worker thread, answered on the window's thread.
class WorkerQuery {
 public:
  explicit WorkerQuery(QString question, QString yesText = {}, QString noText = {})
      : question_(std::move(question)), yesText_(std::move(yesText)), noText_(std::move(noText)) {}
  const QString& Question() const { return question_; }
  // What the two buttons say; empty for OK and Cancel.
  const QString& YesText() const { return yesText_; }
  const QString& NoText() const { return noText_; }
  // The window's answer; the first answer or withdrawal counts.
  void Answer(bool yes);
  // Nobody will answer (the window is going away): the waiting worker gets
  // `fallback` from Wait.
  void Withdraw();
  bool Settled() const;
  // Blocks the worker until the query is answered or withdrawn.
  bool Wait(bool fallback);

 private:
  const QString question_;
  const QString yesText_;
  const QString noText_;
  mutable std::mutex mutex_;
  std::condition_variable settled_;
  bool done_ = false;
  std::optional<bool> answer_;
};

class CProcessWnd : public QDialog {
  Q_OBJECT
 public:
  // What the window closed with.
  enum CloseResult { kFinished = 1, kCancelled = 2, kFailed = 3 };

  ~CProcessWnd() override;

  // Starts the worker when first shown, then waits for the window to close.
  int exec() override;

  bool WorkerFinished() const { return workerFinished_; }
  QWidget* Content() const { return content_; }

 protected:
  explicit CProcessWnd(QWidget* owner);

  // Loads the layout, applies the language section's texts and fixes the
  // size. False with `error` set when the layout is missing or lacks a
  // control. `closeButtons` ask to cancel (or close once finished).
  bool Build(const QString& className, const QString& layoutName, const QStringList& controls,
             const QString& languageSection, QSize size, const QStringList& closeButtons,
             QString* error);

  // The worker reports through the derived window's members, so each
  // derived destructor calls this first.
  void StopWorker();
  // Starts the worker (exec does, when first shown).
  void StartWorker();

  // The worker's body; runs once on the worker thread.
  virtual void Run() = 0;
  // Shows the figures stored by the worker (UI thread, under the lock).
  virtual void ShowFigures() = 0;
  // The question asked before cancelling ("MSG0709" ...).
  virtual QString CancelQuestion() const = 0;
  // The user confirmed cancelling; the worker is still running. Work that
  // does not report (a conversion) is told to stop here.
  virtual void OnCancelConfirmed() {}
  // After the user confirmed cancelling and the worker has ended: windows
  // whose worker does not close them close here.
  virtual void AfterCancel() {}
  // A close request once the work is done (recovery: Finish).
  virtual bool CloseWhenDone() { return false; }
  // The worker goes on after standing still at a report while the cancel
  // question was open (worker thread, under the lock).
  virtual void AfterPause() {}

  // For the worker's callbacks: the cancel code once the user has confirmed
  // cancelling, else runs `store` under the lock and returns 0.
  int Report(const std::function<void()>& store);
  // For the worker: stores under the lock without asking about cancelling;
  // never waits for an open question.
  void Store(const std::function<void()>& store);
  bool CancelRequested();
  // For the worker: asks the user `question` on the window's thread and
  // waits for the answer without holding the lock. True for OK. Returns
  // `fallback` at once when cancelling was confirmed, and when the window
  // is torn down before the user answered. `yesText` and `noText` name
  // the buttons when OK and Cancel would not say what they do.
  bool Ask(const QString& question, bool fallback, const QString& yesText = {}, const QString& noText = {});

  // For the worker, as its last act: sets the finished flag, then runs
  // `then` on the UI thread (posted, never waited for).
  void FinishWork(std::function<void()> then);
  // Closes the window with `result` on the UI thread unless a question is
  // open; the question's end closes it then.
  void CloseFromWorker(int result);

  // The texts of the "Messages" section, fetched once when built.
  QString Message(const char* key) const { return messages_.value(key); }
  void AskToCancel();

  void reject() override;

  std::recursive_mutex lock_;
  QWidget* content_ = nullptr;

 private:
  void WaitForWorker();

  TextSection messages_;
  QTimer* refresh_ = nullptr;
  std::thread worker_;
  bool cancelRequested_ = false;  // written by the UI thread, both under lock_
  bool paused_ = false;           // the cancel question is open; under lock_
  bool fresh_ = false;            // figures stored since last shown; under lock_
  std::condition_variable_any resumed_;       // paused_ or cancelRequested_ changed
  std::shared_ptr<WorkerQuery> openQuery_;    // the worker waits on it; under lock_
  std::atomic<bool> workerFinished_ = false;
  bool questionOpen_ = false;     // UI thread only
  int pendingClose_ = 0;          // UI thread only: a close that waits for the question
};

}  // namespace qm
