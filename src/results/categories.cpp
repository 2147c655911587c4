#include "results/categories.h"

#include <cstring>

#include "platform/text.h"

namespace qm {

const std::string kPhotoList =
    "*.bmp|*.gif|*.jpg|*.jpeg|*.png|*.psd|*.tif|*.tiff|*.pcx|*.scr|*.ico|*.nef|*.nrw|*.crw|*.cr2|"
    "*.sr2|*.arw|*.srf|*.divu|*.pgm|*.k25|*.kdc|*.dcr|*.raf|*.iff|*.pbm|*.mef|*.jp2|*.mos|*.x3f|"
    "*.orf|*.erf|*.indd|*.pef|*.psp|*.mrw|*.dng|*.raw|*.pct|*.tga|*.thm";
const std::string kAudioList =
    "*.mp3|*.wav|*.ape|*.aiff|*.rps|*.mid|*.midi|*.m4a|*.m4p|*.au|*.ogg|*.wma|*.rm|*.ra|*.acd|"
    "*.amr|*.at3|*.caf|*.dss|*.m4r|*.nra|*.snd";
const std::string kVideoList =
    "*.rmvb|*.rm|*.mpeg|*.mov|*.avi|*.wmv|*.asf|*.mp4|*.flv|*.fla|*.swf|*.m4v|*.3gp|*.dv|*.3g2|"
    "*.m4b|*.mkv|*.mts|*.divx|*.ogm|*.moi|*.vob|*.ajp|*.f4v|*.mqv|*.svi|*.vid|*.tod|*.hdmov|"
    "*.mod|*.mxf|*.lrv";
const std::string kDocumentList =
    "*.doc|*.xls|*.ppt|*.odt|*.ods|*.pdf|*.docx|*.xlsx|*.pptx|*.ole|*.txt|*.xml|*.chm|*.htm|"
    "*.html|*.pst|*.dbx|*.wps|*.dps|*.et|*.one|*.mpp|*.mdb|*.accdb";
const std::string kArchiveList =
    "*.zip|*.rar|*.gzip|*.tar|*.7z|*.cab|*.arj|*.lzh|*.ace|*.gz|*.uue|*.bz2|*.jar|*.iso";
const std::string kOfficePreviewList =
    "*.pdf|*.doc|*.dot|*.docx|*.dotx|*.docm|*.dotm|*.rtf|*.odt|*.ppt|*.pptx|*.pptm|*.pps|*.ppsx|"
    "*.ppsm|*.odp|*.xls|*.xlsx|*.xlsm|*.csv|*.odc|*.vsd|*.vsdm|*.vsdx|*.pub|*.mpp|*.ics|*.vcf|"
    "*.msg|*.zip|*.rar|*.gzip|*.tar|*.7z|*.cab|*.arj|*.lzh|*.ace|*.gz|*.uue|*.bz2|*.jar|*.iso";
const std::string kKnownExtensions =
    kPhotoList + "|" + kAudioList + "|" + kDocumentList + "|" + kVideoList + "|" + kArchiveList;

std::string_view RawExtension(std::string_view name) {
  size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return {};
  return name.substr(dot + 1);
}

std::string ExtensionOf(std::string_view name) { return LowerUtf8(RawExtension(name)); }

bool ListHas(const std::string& list, std::string_view lowerExtension) {
  return !lowerExtension.empty() && list.find(lowerExtension) != std::string::npos;
}

bool IsPhotoExtension(std::string_view lowerExtension) {
  return !lowerExtension.empty() && kPhotoList.find(lowerExtension) != std::string::npos;
}

namespace {

std::string_view StoredName(const FoundFileRecord& record) {
  const void* end = std::memchr(record.name, 0, sizeof record.name);
  size_t length = end ? static_cast<const char*>(end) - record.name : sizeof record.name;
  return {record.name, length};
}

}  // namespace

bool IsDamagedPhoto(const FoundFileRecord& record) {
  return record.contentOk == 0 && IsPhotoExtension(ExtensionOf(StoredName(record)));
}

std::string CategoryOfName(std::string_view name) {
  const std::string ext = ExtensionOf(name);
  if (!ext.empty()) {
    const std::string* lists[] = {&kPhotoList, &kAudioList, &kVideoList, &kDocumentList,
                                  &kArchiveList};
    for (int i = 0; i < 5; ++i) {
      if (lists[i]->find(ext) != std::string::npos) return kCategoryNames[i];
    }
  }
  return kCategoryNames[5];
}

CategoryFilter::CategoryFilter(std::string filter, uint64_t mainFileBytes)
    : filter_(std::move(filter)),
      wantUnknown_(filter_.find(".other") != std::string::npos &&
                   mainFileBytes < kUnknownTypesLimit) {}

CategoryFilter::Decision CategoryFilter::Decide(std::string_view rawExtension) const {
  if (rawExtension.empty()) return {false, wantUnknown_};
  std::string dotted(1, '.');
  dotted += LowerUtf8(rawExtension);
  const bool photo = IsPhotoExtension(std::string_view(dotted).substr(1));
  if (filter_.find(dotted) != std::string::npos) return {photo, true};
  return {photo, wantUnknown_ && kKnownExtensions.find(dotted) == std::string::npos};
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
