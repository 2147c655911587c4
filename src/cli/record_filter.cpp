#include "cli/record_filter.h"

#include <algorithm>
#include <sstream>

#include "platform/text.h"
#include "results/categories.h"

namespace qm::cli {

namespace {
std::vector<std::string> SplitList(const std::string& text) {
  std::vector<std::string> parts;
  std::stringstream in(text);
  std::string part;
  while (std::getline(in, part, ',')) {
    part.erase(0, part.find_first_not_of(" \t"));
    part.erase(part.find_last_not_of(" \t") + 1);
    if (!part.empty()) parts.push_back(AsciiLower(part));
  }
  return parts;
}
}  // namespace

bool ParseCategories(const std::string& text, std::vector<std::string>& categories,
                     std::string& message) {
  categories.clear();
  for (auto& name : SplitList(text)) {
    if (name == "other") name = "others";
    FileCategory category;
    if (!CategoryFromName(name, category)) {
      message = "unknown category '" + name +
                "' (choose from photo, audio, video, document, archive, others)";
      return false;
    }
    categories.push_back(name);
  }
  return true;
}

std::vector<std::string> ParseExtensions(const std::string& text) {
  std::vector<std::string> out;
  for (auto& e : SplitList(text)) {
    if (e[0] == '.') e.erase(0, 1);
    if (!e.empty()) out.push_back(e);
  }
  return out;
}

std::string CategoryFilterText(const std::vector<std::string>& categories) {
  if (categories.empty()) return AllTypesFilter({}) + "|*.other";
  std::string filter;
  for (const auto& name : categories) {
    FileCategory category = FileCategory::kOthers;
    CategoryFromName(name, category);
    if (!filter.empty()) filter += "|";
    filter += category == FileCategory::kOthers ? "*.other" : CategoryListText(category);
  }
  return filter;
}

}  // namespace qm::cli
