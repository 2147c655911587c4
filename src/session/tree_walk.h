// Walking the tree a scan found, the way every front end shows it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "engines/file_recovery_parse.h"

namespace qm::session {

// Visits every record of the scanned tree depth first, each folder's
// contents right after the folder. `depth` is the directory depth the record
// lies at (root entries: 0); `folder` is its folder path ("" in the root,
// else "a/b/", each name made safe for a destination). A folder met twice (a
// loop in a damaged volume) is not entered again.
int WalkTree(IFileRecoveryParse& engine,
             const std::function<void(const FoundFileRecord&, uint32_t depth,
                                      const std::string& folder)>& visit);

// "a/b/" of a record, each component made safe for the destination.
std::string SafeFolderPath(IFileRecoveryParse& engine, const FoundFileRecord& record);

}  // namespace qm::session
