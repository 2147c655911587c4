#include "results/result_tree.h"

namespace qm {

int ListRootChildren(ScanLogStore& store, std::vector<FoundFileRecord>& out) {
  return store.ListChildren(0, out);
}

int ListFolderChildren(ScanLogStore& store, const FoundFileRecord& folder, uint32_t depth,
                       std::vector<FoundFileRecord>& out) {
  return store.ListChildren(ChildrenKey(folder, depth), out);
}

std::string FolderPathFromChain(const std::vector<FoundFileRecord>& chain) {
  std::string path;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    path += it->Name();
    path += '/';
  }
  return path;
}

int FolderPathOf(ScanLogStore& store, const FoundFileRecord& record, std::string& path) {
  std::vector<FoundFileRecord> chain;
  int r = store.AncestorChain(record, chain);
  path = FolderPathFromChain(chain);
  return r;
}

}  // namespace qm
