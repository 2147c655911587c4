#include "results/categories.h"

#include <cstring>

#include "platform/text.h"

namespace qm {

const std::string kPhotoList = CategoryListText(FileCategory::kPhoto);
const std::string kAudioList = CategoryListText(FileCategory::kAudio);
const std::string kVideoList = CategoryListText(FileCategory::kVideo);
const std::string kDocumentList = CategoryListText(FileCategory::kDocument);
const std::string kArchiveList = CategoryListText(FileCategory::kArchive);

std::string_view RawExtension(std::string_view name) {
  size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return {};
  return name.substr(dot + 1);
}

std::string ExtensionOf(std::string_view name) { return LowerUtf8(RawExtension(name)); }

bool IsPhotoExtension(std::string_view lowerExtension) {
  return CategoryOfExtension(lowerExtension) == FileCategory::kPhoto;
}

namespace {

std::string_view StoredName(const FoundFileRecord& record) {
  const void* end = std::memchr(record.name, 0, sizeof record.name);
  size_t length = end ? static_cast<const char*>(end) - record.name : sizeof record.name;
  return {record.name, length};
}

// The extensions a filter text asks for. Each "|"-separated entry is
// "*.ext" or its escaped form ".\.ext"; a backslash takes the character
// after it as it stands, and the extension is what follows the entry's
// last '.', as a name's extension is what follows its last '.'.
std::unordered_set<std::string> WantedExtensions(std::string_view filter) {
  std::unordered_set<std::string> wanted;
  size_t start = 0;
  while (start <= filter.size()) {
    size_t bar = filter.find('|', start);
    if (bar == std::string_view::npos) bar = filter.size();
    std::string entry;
    for (size_t i = start; i < bar; ++i) {
      if (filter[i] == '\\' && i + 1 < bar) ++i;
      entry += filter[i];
    }
    const size_t dot = entry.rfind('.');
    if (dot != std::string::npos && dot + 1 < entry.size()) wanted.insert(LowerUtf8(entry.substr(dot + 1)));
    start = bar + 1;
  }
  return wanted;
}

}  // namespace

bool IsDamagedPhoto(const FoundFileRecord& record) {
  return record.contentOk == 0 && IsPhotoExtension(ExtensionOf(StoredName(record)));
}

std::string CategoryOfName(std::string_view name) {
  return CategoryName(CategoryOfExtension(ExtensionOf(name)));
}

CategoryFilter::CategoryFilter(std::string filter, uint64_t mainFileBytes)
    : wanted_(WantedExtensions(filter)),
      wantUnknown_(wanted_.contains("other") && mainFileBytes < kUnknownTypesLimit) {}

CategoryFilter::Decision CategoryFilter::Decide(std::string_view rawExtension) const {
  if (rawExtension.empty()) return {false, wantUnknown_};
  const std::string ext = LowerUtf8(rawExtension);
  const bool photo = IsPhotoExtension(ext);
  if (wanted_.contains(ext)) return {photo, true};
  return {photo, wantUnknown_ && !IsKnownExtension(ext)};
}

bool CategoryFilter::Accepts(const FoundFileRecord& record) {
  if (record.isDirectory != 0) return false;
  const std::string_view raw = RawExtension(StoredName(record));
  auto it = cache_.find(std::string(raw));
  if (it == cache_.end()) it = cache_.emplace(std::string(raw), Decide(raw)).first;
  if (it->second.photo && record.contentOk == 0 && !includeDamaged_) return false;
  return it->second.listed;
}

std::string_view ExtensionSynonym(std::string_view ext) {
  static constexpr std::pair<std::string_view, std::string_view> kSynonyms[] = {
      {"jpeg", "jpg"}, {"tiff", "tif"}, {"scr", "pcx"},  {"midi", "mid"}, {"m4p", "m4a"},
      {"docx", "doc"}, {"xlsx", "xls"}, {"pptx", "ppt"}, {"htm", "html"}};
  for (const auto& [from, to] : kSynonyms) {
    if (ext == from) return to;
  }
  return ext;
}

std::map<std::string, std::vector<FoundFileRecord>> GroupByExtension(
    const std::vector<FoundFileRecord>& records) {
  std::map<std::string, std::vector<FoundFileRecord>> groups;
  for (const FoundFileRecord& record : records) {
    std::string ext = ExtensionOf(StoredName(record));
    std::string key = ext.empty() ? std::string("unknow") : std::string(ExtensionSynonym(ext));
    groups[key].push_back(record);
  }
  return groups;
}

std::string AllTypesFilter(const std::vector<std::string>& selectedExtensions) {
  std::string filter;
  for (const std::string& item : selectedExtensions) {
    size_t start = 0;
    while (start <= item.size()) {
      size_t bar = item.find('|', start);
      if (bar == std::string::npos) bar = item.size();
      std::string_view ext(item.data() + start, bar - start);
      if (!ext.empty()) {
        if (!filter.empty()) filter += '|';
        filter += "*.";
        filter += ext;
      }
      start = bar + 1;
    }
  }
  if (!filter.empty()) return filter;
  return kPhotoList + "|" + kAudioList + "|" + kVideoList + "|" + kDocumentList + "|" +
         kArchiveList;
}

std::string EscapeFilterText(std::string_view text) {
  std::string out;
  out.reserve(text.size() * 2);
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '*') {
      if (i == 0 || text[i - 1] != '\\') out += '.';
    } else if (std::string_view(".^$+?{}[]").find(c) != std::string_view::npos) {
      out += '\\';
      out += c;
    } else {
      out += c;
    }
  }
  return out;
}

std::string BuildCategoryFilter(const std::vector<std::string>& selectedExtensions) {
  return EscapeFilterText(AllTypesFilter(selectedExtensions));
}

}  // namespace qm
