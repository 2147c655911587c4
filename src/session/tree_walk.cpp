#include "session/tree_walk.h"

#include <set>
#include <vector>

#include "engines/extraction/destination_names.h"

namespace qm::session {

int WalkTree(IFileRecoveryParse& engine,
             const std::function<void(const FoundFileRecord&, uint32_t, const std::string&)>& visit) {
  // Depth first with an explicit stack: a folder's contents come right after
  // it, and no depth of nesting can exhaust the call stack.
  struct Frame {
    std::vector<FoundFileRecord> items;
    size_t next = 0;
    uint32_t depth = 0;  // the depth the items lie at
    std::string path;    // their folder path
  };
  std::vector<Frame> stack(1);
  if (int rc = engine.ListChildren(nullptr, 0, stack[0].items); rc != 0) return rc;
  std::set<uint64_t> seen;
  int result = 0;
  while (!stack.empty()) {
    Frame& top = stack.back();
    if (top.next >= top.items.size()) {
      stack.pop_back();
      continue;
    }
    const FoundFileRecord record = top.items[top.next++];
    const uint32_t depth = top.depth;
    visit(record, depth, top.path);
    if (record.isDirectory == 0 || depth + 1 > 4096 ||
        !seen.insert((uint64_t{depth + 1} << 32) | record.entryId).second)
      continue;
    Frame child;
    child.depth = depth + 1;
    child.path = top.path + SafeFileName(record.Name()) + "/";
    if (int rc = engine.ListChildren(&record, child.depth, child.items); rc != 0) result = rc;
    stack.push_back(std::move(child));  // `top` is not used past this point
  }
  return result;
}

std::string SafeFolderPath(IFileRecoveryParse& engine, const FoundFileRecord& record) {
  std::string raw;
  if (engine.GetFullPath(record, raw) != 0) return {};
  std::string out, part;
  for (char c : raw) {
    if (c == '/' || c == '\\') {
      if (!part.empty()) out += SafeFileName(part) + "/";
      part.clear();
    } else {
      part += c;
    }
  }
  if (!part.empty()) out += SafeFileName(part) + "/";
  return out;
}

}  // namespace qm::session
