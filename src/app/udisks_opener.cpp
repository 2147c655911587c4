#include "app/udisks_opener.h"

#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QThread>
#include <QUuid>
#include <QVariantMap>

#include "platform/errors.h"
#include "platform/privileged_open.h"

namespace qm {

namespace {

constexpr const char* kService = "org.freedesktop.UDisks2";
constexpr const char* kManagerPath = "/org/freedesktop/UDisks2/Manager";
constexpr const char* kManagerInterface = "org.freedesktop.UDisks2.Manager";
constexpr const char* kBlockInterface = "org.freedesktop.UDisks2.Block";
constexpr const char* kBlockDevicesPath = "/org/freedesktop/UDisks2/block_devices/";
// A password dialog waits for the user; a refusal without one comes at once.
constexpr int kAskingTimeoutMs = 120 * 1000;
constexpr int kSilentTimeoutMs = 10 * 1000;

// UDisks2 names a block object after the device node's file name, each byte
// outside [A-Za-z0-9] written as _xx: /dev/dm-0 is block_devices/dm_2d0.
QString ObjectPathFor(const QString& devicePath) {
  const QByteArray name = devicePath.section('/', -1).toUtf8();
  QString path = kBlockDevicesPath;
  for (const char byte : name) {
    const auto c = static_cast<unsigned char>(byte);
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
      path += QChar(c);
    else
      path += QString("_%1").arg(c, 2, 16, QChar('0'));
  }
  return path;
}

// A scan opens its devices on a worker thread: the user asked for that disk
// and waits for it. Anything else the window's thread opens came unasked.
bool OnWindowThread() {
  return QCoreApplication::instance() != nullptr &&
         QThread::currentThread() == QCoreApplication::instance()->thread();
}

// The innermost AskScope of this thread: -1 none, 0 silent, 1 may ask.
thread_local int tAskPolicy = -1;

}  // namespace

UDisksOpener::AskScope::AskScope(bool mayAsk) : previous_(tAskPolicy) { tAskPolicy = mayAsk ? 1 : 0; }
UDisksOpener::AskScope::~AskScope() { tAskPolicy = previous_; }

UDisksOpener::UDisksOpener() : bus_(QDBusConnection::systemBus()) {}

UDisksOpener::UDisksOpener(const QString& address)
    : bus_(QDBusConnection::connectToBus(address, "quillmark-udisks-" + QUuid::createUuid().toString())),
      privateBus_(true) {}

UDisksOpener::~UDisksOpener() {
  if (privateBus_) QDBusConnection::disconnectFromBus(bus_.name());
}

bool UDisksOpener::MayAskUser() { return tAskPolicy >= 0 ? tAskPolicy == 1 : !OnWindowThread(); }

QString UDisksOpener::BlockObjectOf(const QString& devicePath) {
  // Resolving asks the service itself; services older than ResolveDevice
  // answer with an error, and the name the device node gives is used.
  QDBusMessage resolve = QDBusMessage::createMethodCall(kService, kManagerPath, kManagerInterface, "ResolveDevice");
  resolve << QVariantMap{{"path", devicePath}} << QVariantMap{};
  const QDBusMessage reply = bus_.call(resolve, QDBus::Block, kSilentTimeoutMs);
  if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()) {
    const auto objects = qdbus_cast<QList<QDBusObjectPath>>(reply.arguments().constFirst());
    if (!objects.isEmpty()) return objects.constFirst().path();
  }
  return ObjectPathFor(devicePath);
}

int UDisksOpener::Open(const std::string& devicePath, int& fd) {
  fd = -1;
  if (!bus_.isConnected()) return err::kAccessDenied;
  const QString object = BlockObjectOf(QString::fromStdString(devicePath));

  const bool ask = MayAskUser();
  QDBusMessage open = QDBusMessage::createMethodCall(kService, object, kBlockInterface, "OpenDevice");
  open << QString("r") << QVariantMap{{"auth.no_user_interaction", !ask}};
  open.setInteractiveAuthorizationAllowed(ask);
  const QDBusMessage reply = bus_.call(open, QDBus::Block, ask ? kAskingTimeoutMs : kSilentTimeoutMs);
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return err::kAccessDenied;
  const auto descriptor = qdbus_cast<QDBusUnixFileDescriptor>(reply.arguments().constFirst());
  if (!descriptor.isValid()) return err::kAccessDenied;
  // The reply's descriptor is closed with it; the caller gets its own.
  fd = ::fcntl(descriptor.fileDescriptor(), F_DUPFD_CLOEXEC, 0);
  return fd >= 0 ? err::kSuccess : LastError();
}

void UDisksOpener::InstallForSystemBus() {
  SetPrivilegedOpener([](const std::string& devicePath, int& fd) {
    // Connected on first need: a session that reads every disk itself never
    // talks to the system bus. Never destroyed, as the connection must not
    // outlive the application object.
    static UDisksOpener* const opener = new UDisksOpener();
    return opener->Open(devicePath, fd);
  });
}

}  // namespace qm
