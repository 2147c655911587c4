#include "app/single_instance.h"

#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QRegularExpression>
#include <QStandardPaths>
#include <unistd.h>

namespace qm {

namespace {

constexpr int kAnswerMs = 2000;
constexpr char kRaise[] = "raise\n";

}  // namespace

SingleInstance::SingleInstance(QString name) : name_(std::move(name)) {
  if (name_.isEmpty()) name_ = DefaultName(QProcessEnvironment::systemEnvironment(), getuid());
}

QString SingleInstance::DefaultName(const QProcessEnvironment& environment, uint uid) {
  // A Wayland display is named by a socket name or path, an X display by
  // host:number.screen; either becomes a file-name-safe part.
  QString display = "nodisplay";
  if (const QString wayland = environment.value("WAYLAND_DISPLAY"); !wayland.isEmpty()) {
    display = "wayland-" + wayland;
  } else if (const QString x11 = environment.value("DISPLAY"); !x11.isEmpty()) {
    display = "x11-" + x11;
  }
  static const QRegularExpression unsafe("[^A-Za-z0-9._-]");
  display.replace(unsafe, "_");

  QString folder = environment.value("XDG_RUNTIME_DIR");
  if (folder.isEmpty() || !QFileInfo(folder).isDir()) {
    folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  }
  if (folder.isEmpty()) folder = QDir::tempPath();
  return QDir(folder).filePath(QString("quillmark-%1-%2.socket").arg(uid).arg(display));
}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::Claim() {
  QLocalSocket probe;
  probe.connectToServer(name_);
  if (probe.waitForConnected(kAnswerMs)) {
    probe.write(kRaise);
    probe.waitForBytesWritten(kAnswerMs);
    probe.disconnectFromServer();
    return false;
  }
  // Nobody answers: a socket file left by a copy that crashed is stale.
  QLocalServer::removeServer(name_);
  server_ = new QLocalServer(this);
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  if (!server_->listen(name_)) {
    // Two copies starting at the same moment: the one that lost the race is
    // the second copy.
    delete server_;
    server_ = nullptr;
    return false;
  }
  connect(server_, &QLocalServer::newConnection, this, [this] {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
      connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
        if (socket->readAll().startsWith("raise")) emit RaiseRequested();
      });
      connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    }
  });
  return true;
}

}  // namespace qm
