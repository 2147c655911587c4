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
    if (std::find(std::begin(kCategoryNames), std::end(kCategoryNames), name) ==
        std::end(kCategoryNames)) {
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
  if (categories.empty())
    return kPhotoList + "|" + kAudioList + "|" + kVideoList + "|" + kDocumentList + "|" +
           kArchiveList + "|*.other";
  std::string filter;
  for (const auto& c : categories) {
    const std::string* list = nullptr;
    if (c == "photo") list = &kPhotoList;
    if (c == "audio") list = &kAudioList;
    if (c == "video") list = &kVideoList;
    if (c == "document") list = &kDocumentList;
    if (c == "archive") list = &kArchiveList;
    if (!filter.empty()) filter += "|";
    filter += list ? *list : "*.other";
  }
  return filter;
}

}  // namespace qm::cli
