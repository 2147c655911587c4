#include "app/recovery_destination.h"

#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "app/formatting.h"
#include "app/language_store.h"
#include "app/message_box.h"
#include "app/message_format.h"
#include "platform/errors.h"

namespace qm {

namespace {

// Creates and removes a file of its own in `folder`: only that shows a
// read-only mount, a folder of another user or an ACL alike. 0 or errno.
int ProbeWrite(const std::filesystem::path& folder) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::filesystem::path probe =
        folder / (".quillmark-write-test-" + std::to_string(::getpid()) + "-" + std::to_string(attempt));
    const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return errno;
    }
    ::close(fd);
    ::unlink(probe.c_str());
    return 0;
  }
  return EEXIST;
}

QString SizeText(uint64_t bytes) { return QString::fromStdString(FormatSize(static_cast<int64_t>(bytes))); }

QString Text(const char* key) { return LanguageStore::Instance().Text("Messages", key); }

}  // namespace

uint64_t BytesToRecover(const std::vector<FoundFileRecord>& records) {
  uint64_t total = 0;
  for (const FoundFileRecord& record : records) {
    if (record.isDirectory == 0) total += record.fileSize;
  }
  return total;
}

DestinationCheck CheckRecoveryDestination(const std::filesystem::path& chosen, uint64_t neededBytes) {
  DestinationCheck check;
  check.neededBytes = neededBytes;
  // The recovery makes the folders that are not there yet; the nearest
  // one that is must take them.
  std::filesystem::path folder = chosen;
  std::error_code ec;
  while (!std::filesystem::exists(folder, ec) && folder.has_relative_path()) folder = folder.parent_path();
  check.errnoValue = ProbeWrite(folder);
  switch (check.errnoValue) {
    case 0:
      break;
    case EROFS:
      check.problem = DestinationCheck::kReadOnly;
      return check;
    case EACCES:
    case EPERM:
      check.problem = DestinationCheck::kNoPermission;
      return check;
    case ENOSPC:
    case EDQUOT:
      // Not even an empty file fits.
      check.problem = DestinationCheck::kNoRoom;
      return check;
    default:
      check.problem = DestinationCheck::kCannotWrite;
      return check;
  }
  struct statvfs space {};
  if (::statvfs(folder.c_str(), &space) != 0) return check;  // unknown room: the copies will tell
  check.freeBytes = static_cast<uint64_t>(space.f_bavail) * space.f_frsize;
  if (neededBytes > check.freeBytes) check.problem = DestinationCheck::kNoRoom;
  return check;
}

QString DestinationProblemText(const DestinationCheck& check, const QString& folder) {
  switch (check.problem) {
    case DestinationCheck::kNone:
      return {};
    case DestinationCheck::kReadOnly:
      return FillMessage(Text("MSG1451"), {folder});
    case DestinationCheck::kNoPermission:
      return FillMessage(Text("MSG1452"), {folder});
    case DestinationCheck::kCannotWrite:
      return FillMessage(Text("MSG1453"),
                         {folder, QString::fromStdString(ErrorText(ErrorFromErrno(check.errnoValue)))});
    case DestinationCheck::kNoRoom: {
      if (check.errnoValue != 0) return FillMessage(Text("MSG1479"), {folder});
      const uint64_t missing = check.neededBytes > check.freeBytes ? check.neededBytes - check.freeBytes : 0;
      return FillMessage(Text("MSG1454"), {SizeText(check.neededBytes), folder, SizeText(check.freeBytes),
                                           SizeText(missing)});
    }
  }
  return {};
}

QString ChooseRecoveryDestination(const std::function<QString(QWidget*)>& choose, QWidget* owner,
                                  const std::vector<FoundFileRecord>& records) {
  const uint64_t needed = BytesToRecover(records);
  for (;;) {
    QString folder = choose(owner);
    if (folder.isEmpty()) return {};
    while (folder.size() > 1 && (folder.endsWith(u'/') || folder.endsWith(u'\\'))) folder.chop(1);
    const DestinationCheck check = CheckRecoveryDestination(folder.toStdString(), needed);
    const QString problem = DestinationProblemText(check, folder);
    if (problem.isEmpty()) return folder;
    // The sizes are what the file system recorded, which a damaged entry
    // may overstate: short of room, the user may still go on, and the
    // files that fit are recovered.
    if (check.problem == DestinationCheck::kNoRoom && check.errnoValue == 0) {
      if (CMessageBox::Show(CMessageBox::Confirm, owner, problem) == CMessageBox::Ok) return folder;
      continue;
    }
    CMessageBox::Show(CMessageBox::Warning, owner, problem);
  }
}

}  // namespace qm
