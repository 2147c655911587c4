// One running copy per user and display: the first copy listens on a local
// socket in the user's runtime folder; a later copy on the same display
// tells it to raise its window and ends. A copy on another display (a
// second seat, a nested or virtual X server) runs on its own.
#pragma once

#include <QObject>
#include <QProcessEnvironment>
#include <QString>

class QLocalServer;

namespace qm {

class SingleInstance : public QObject {
  Q_OBJECT
 public:
  // `name` (a socket path, or a bare name Qt puts in its temporary folder)
  // defaults to DefaultName() of this process's environment.
  explicit SingleInstance(QString name = {});
  ~SingleInstance() override;

  // The socket for the user `uid` on the display `environment` names
  // (WAYLAND_DISPLAY, else DISPLAY, else none), in $XDG_RUNTIME_DIR. Where
  // that is unset or not a folder: Qt's private runtime folder for the user
  // under the temporary folder; the user id in the name keeps users apart
  // there too.
  static QString DefaultName(const QProcessEnvironment& environment, uint uid);

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
