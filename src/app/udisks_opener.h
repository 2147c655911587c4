// Read access to a disk through UDisks2, for a user outside the `disk`
// group: the disk service opens the device read-only on the caller's behalf
// once polkit allows it (asking for a password where the policy says so) and
// hands back the descriptor over D-Bus.
#pragma once

#include <QDBusConnection>
#include <QString>
#include <atomic>
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

  // Makes Open the core's way in to disks that open(2) refused, for the
  // rest of the process. The opener lives as long as the process.
  static void InstallForSystemBus();

 private:
  QString BlockObjectOf(const QString& devicePath);
  bool MayAskUser() const;

  QDBusConnection bus_;
  bool privateBus_ = false;
  // Once the user said no to a request made while the disk list was being
  // built, later lists do not ask again; a scan the user starts still may.
  std::atomic<bool> listRefused_{false};
};

}  // namespace qm
