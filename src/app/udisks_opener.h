// Read access to a disk through UDisks2, for a user outside the `disk`
// group: the disk service opens the device read-only on the caller's behalf
// once polkit allows it (asking for a password where the policy says so) and
// hands back the descriptor over D-Bus.
#pragma once

#include <QDBusConnection>
#include <QString>
#include <string>

namespace qm {

class UDisksOpener {
 public:
  // The system bus (DBUS_SYSTEM_BUS_ADDRESS, where set, names it).
  UDisksOpener();
  // The bus at `address`: a private bus with a stand-in service.
  explicit UDisksOpener(const QString& address);
  ~UDisksOpener();
  UDisksOpener(const UDisksOpener&) = delete;
  UDisksOpener& operator=(const UDisksOpener&) = delete;

  // Opens `devicePath` read-only; on success returns 0 and sets `fd` to a
  // descriptor the caller owns. Fails with "Permission denied" when the
  // service is not there, refuses, or the user dismissed the password dialog.
  int Open(const std::string& devicePath, int& fd);

  // Whether opens made on this thread, while the scope lives, may ask the
  // user: yes where the user asked for a disk ("Scan" on a disk that could
  // not be read), no for the disk list built at start and on every plug-in
  // (its worker makes a silent scope), where a password dialog would come
  // unasked. Scopes nest; each thread has its own.
  class AskScope {
   public:
    explicit AskScope(bool mayAsk = true);
    ~AskScope();
    AskScope(const AskScope&) = delete;
    AskScope& operator=(const AskScope&) = delete;

   private:
    int previous_;
  };

  // Whether an open made now, on this thread, may ask the user: the
  // innermost scope's answer; without one, yes except on the window's
  // thread (a scan opens its devices on its worker, for the user).
  static bool MayAskUser();

  // Makes Open the core's way in to disks that open(2) refused, for the
  // rest of the process. The opener lives as long as the process.
  static void InstallForSystemBus();

 private:
  QString BlockObjectOf(const QString& devicePath);

  QDBusConnection bus_;
  bool privateBus_ = false;
};

}  // namespace qm
