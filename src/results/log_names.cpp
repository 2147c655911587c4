#include "results/log_names.h"

#include <algorithm>
#include <vector>

namespace qm {

namespace fs = std::filesystem;

bool IsLogSideFile(std::string_view name) {
  auto endsWith = [&](std::string_view suffix) {
    return name.size() >= suffix.size() &&
           name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
  };
  return endsWith("_Relation") || endsWith("_DirInfo");
}

std::string FindScanLogName(const fs::path& folder, std::string_view prefix) {
  // Directory order is arbitrary on Linux: sort, so that the same folder
  // always gives the same log.
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    std::error_code typeError;
    if (!entry.is_regular_file(typeError)) continue;
    std::string name = entry.path().filename().string();
    if (name.find(prefix) != std::string::npos && !IsLogSideFile(name)) names.push_back(name);
  }
  if (names.empty()) return {};
  return *std::min_element(names.begin(), names.end());
}

}  // namespace qm
