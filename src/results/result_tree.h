// The directory tree of a scan log as the front ends walk it.
//
// The root's children are the list of the smallest key (asked for as key 0).
// A folder that lies in the root has depth 1, its subfolders depth 2, and so
// on; the children of a folder at depth d are filed under the key
// d * 2^32 + the folder's entryId. The caller keeps track of d.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "results/found_file_record.h"
#include "results/scan_log_store.h"

namespace qm {

// The key under which the children of `folder` (at `depth`) are filed.
inline uint64_t ChildrenKey(const FoundFileRecord& folder, uint32_t depth) {
  return DirectoryKey(depth, folder.entryId);
}

// Appends the records directly in the root, sorted.
int ListRootChildren(ScanLogStore& store, std::vector<FoundFileRecord>& out);
// Appends the records directly in `folder`, which lies at `depth` (>= 1).
int ListFolderChildren(ScanLogStore& store, const FoundFileRecord& folder, uint32_t depth,
                       std::vector<FoundFileRecord>& out);

// Joins the names of an ancestor chain (nearest folder first, as
// AncestorChain gives it) root-first, each followed by '/': "a/b/".
std::string FolderPathFromChain(const std::vector<FoundFileRecord>& chain);
// The folder path of a record ("" for a record in the root). 0, 87 or an
// error code.
int FolderPathOf(ScanLogStore& store, const FoundFileRecord& record, std::string& path);

}  // namespace qm
