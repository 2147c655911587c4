// One running copy per user: the first copy listens on a local socket; a
// later copy tells it to raise its window and ends.
#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

namespace qm {

class SingleInstance : public QObject {
  Q_OBJECT
 public:
  // `name` defaults to one per user, so that two users each run their own.
  explicit SingleInstance(QString name = {});
  ~SingleInstance() override;

  // True when this process is the first: it now listens for later starts.
  // False when another copy answered; it has been asked to raise its window.
  bool Claim();

  QString Name() const { return name_; }

 signals:
  void RaiseRequested();

 private:
  QString name_;
  QLocalServer* server_ = nullptr;
};

}  // namespace qm
