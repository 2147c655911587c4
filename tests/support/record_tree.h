// The folder tree a scan lists, walked from the root through ListChildren
// as the front ends walk it. Header-only: the support library does not link
// the engines, the suites that walk trees do.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "engines/file_recovery_parse.h"

namespace qm::test {

// A record reached from the root: its '/'-separated path from there, and the
// depth it was listed at (0 = in the root).
struct ListedRecord {
  std::string path;
  uint32_t depth = 0;
  FoundFileRecord record;
};

struct TreeWalk {
  // Folders listed at this depth are not entered: a loop in a damaged tree
  // ends there.
  uint32_t maxDepth = 16;
  // Only the records of this engine kind (EngineKind, as the record stores
  // it); folders of other kinds are not entered.
  std::optional<uint32_t> engineKind = std::nullopt;
};

// Every record reached from the root, breadth first: each folder's listing in
// the engine's order, a folder before what it holds. A listing that fails is
// a test failure.
inline std::vector<ListedRecord> ListTree(IFileRecoveryParse& engine, const TreeWalk& walk = {}) {
  std::vector<ListedRecord> listed;
  // Where each folder's children go, and the folder itself (none: the root).
  std::vector<std::optional<ListedRecord>> folders{std::nullopt};
  for (size_t next = 0; next < folders.size(); ++next) {
    const std::optional<ListedRecord> folder = folders[next];
    const uint32_t depth = folder ? folder->depth + 1 : 0;
    std::vector<FoundFileRecord> children;
    EXPECT_EQ(engine.ListChildren(folder ? &folder->record : nullptr, depth, children), 0)
        << "listing " << (folder ? folder->path : "the root");
    for (const FoundFileRecord& child : children) {
      if (walk.engineKind && child.engineKind != *walk.engineKind) continue;
      ListedRecord item{folder ? folder->path + "/" + child.Name() : child.Name(), depth, child};
      if (child.isDirectory && depth < walk.maxDepth) folders.push_back(item);
      listed.push_back(std::move(item));
    }
  }
  return listed;
}

// The files (not folders) of a listing by path; a path listed twice is a
// test failure.
inline std::map<std::string, FoundFileRecord> FilesByPath(const std::vector<ListedRecord>& listed) {
  std::map<std::string, FoundFileRecord> files;
  for (const ListedRecord& item : listed) {
    if (!item.record.isDirectory) {
      EXPECT_TRUE(files.emplace(item.path, item.record).second) << "listed twice: " << item.path;
    }
  }
  return files;
}

}  // namespace qm::test
