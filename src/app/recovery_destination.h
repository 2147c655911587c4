// Whether the chosen files can be recovered into a folder: it must take new
// files, and its drive must have room for all of them. Both are asked before
// the first file is copied, so that a read-only or full destination is told
// once, with the reason, rather than found out file by file.
#pragma once

#include <QString>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <vector>

#include "results/found_file_record.h"

class QWidget;

namespace qm {

struct DestinationCheck {
  enum Problem { kNone, kReadOnly, kNoPermission, kCannotWrite, kNoRoom };
  Problem problem = kNone;
  int errnoValue = 0;       // why a file could not be made there
  uint64_t freeBytes = 0;   // what an ordinary user may still write there
  uint64_t neededBytes = 0;
};

// The bytes the files among `records` hold; folders take no room.
uint64_t BytesToRecover(const std::vector<FoundFileRecord>& records);

// Makes and deletes a file in `folder` (or, when it is not there yet, the
// nearest folder above it that is) to learn whether it takes new files,
// then compares its drive's free space with `neededBytes`.
DestinationCheck CheckRecoveryDestination(const std::filesystem::path& folder, uint64_t neededBytes);

// What a failed check means for `folder` and what to do next, in the
// current language; empty when the check passed.
QString DestinationProblemText(const DestinationCheck& check, const QString& folder);

// Asks `choose` for a folder until one passes the check for `records`,
// saying over `owner` what is wrong with each that does not; one short of
// room is taken when the user says to go on. Without a trailing '/'; empty
// when the user cancels.
QString ChooseRecoveryDestination(const std::function<QString(QWidget*)>& choose, QWidget* owner,
                                  const std::vector<FoundFileRecord>& records);

}  // namespace qm
