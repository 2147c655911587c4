#include "app/single_instance.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <unistd.h>

namespace qm {

namespace {

constexpr int kAnswerMs = 2000;
constexpr char kRaise[] = "raise\n";

}  // namespace

SingleInstance::SingleInstance(QString name) : name_(std::move(name)) {
  if (name_.isEmpty()) name_ = QString("quillmark-%1").arg(getuid());
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
