#include "results/file_types.h"

#include <array>
#include <unordered_map>

namespace qm {

namespace {

using C = FileCategory;
using P = PreviewConverter;

// Each category's rows are in the order of its list text ("*.bmp|*.gif|..."),
// which filters carry and which therefore must not change.
constexpr FileType kFileTypes[] = {
    // photo
    {"bmp", C::kPhoto}, {"gif", C::kPhoto}, {"jpg", C::kPhoto}, {"jpeg", C::kPhoto},
    {"png", C::kPhoto}, {"psd", C::kPhoto}, {"tif", C::kPhoto}, {"tiff", C::kPhoto},
    {"pcx", C::kPhoto}, {"scr", C::kPhoto}, {"ico", C::kPhoto}, {"nef", C::kPhoto},
    {"nrw", C::kPhoto}, {"crw", C::kPhoto}, {"cr2", C::kPhoto}, {"sr2", C::kPhoto},
    {"arw", C::kPhoto}, {"srf", C::kPhoto}, {"divu", C::kPhoto}, {"pgm", C::kPhoto},
    {"k25", C::kPhoto}, {"kdc", C::kPhoto}, {"dcr", C::kPhoto}, {"raf", C::kPhoto},
    {"iff", C::kPhoto}, {"pbm", C::kPhoto}, {"mef", C::kPhoto}, {"jp2", C::kPhoto},
    {"mos", C::kPhoto}, {"x3f", C::kPhoto}, {"orf", C::kPhoto}, {"erf", C::kPhoto},
    {"indd", C::kPhoto}, {"pef", C::kPhoto}, {"psp", C::kPhoto}, {"mrw", C::kPhoto},
    {"dng", C::kPhoto}, {"raw", C::kPhoto}, {"pct", C::kPhoto}, {"tga", C::kPhoto},
    {"thm", C::kPhoto},
    // what phones and newer cameras write; after the older rows, so that
    // the lists keep every entry where it was
    {"heic", C::kPhoto}, {"heif", C::kPhoto}, {"cr3", C::kPhoto}, {"webp", C::kPhoto},
    // audio
    {"mp3", C::kAudio}, {"wav", C::kAudio}, {"ape", C::kAudio}, {"aiff", C::kAudio},
    {"rps", C::kAudio}, {"mid", C::kAudio}, {"midi", C::kAudio}, {"m4a", C::kAudio},
    {"m4p", C::kAudio}, {"au", C::kAudio}, {"ogg", C::kAudio}, {"wma", C::kAudio},
    {"rm", C::kAudio}, {"ra", C::kAudio}, {"acd", C::kAudio}, {"amr", C::kAudio},
    {"at3", C::kAudio}, {"caf", C::kAudio}, {"dss", C::kAudio}, {"m4r", C::kAudio},
    {"nra", C::kAudio}, {"snd", C::kAudio}, {"flac", C::kAudio},
    // video ("rm" is listed here too, but is audio: first category wins)
    {"rmvb", C::kVideo}, {"rm", C::kVideo}, {"mpeg", C::kVideo}, {"mov", C::kVideo},
    {"avi", C::kVideo}, {"wmv", C::kVideo}, {"asf", C::kVideo}, {"mp4", C::kVideo},
    {"flv", C::kVideo}, {"fla", C::kVideo}, {"swf", C::kVideo}, {"m4v", C::kVideo},
    {"3gp", C::kVideo}, {"dv", C::kVideo}, {"3g2", C::kVideo}, {"m4b", C::kVideo},
    {"mkv", C::kVideo}, {"mts", C::kVideo}, {"divx", C::kVideo}, {"ogm", C::kVideo},
    {"moi", C::kVideo}, {"vob", C::kVideo}, {"ajp", C::kVideo}, {"f4v", C::kVideo},
    {"mqv", C::kVideo}, {"svi", C::kVideo}, {"vid", C::kVideo}, {"tod", C::kVideo},
    {"hdmov", C::kVideo}, {"mod", C::kVideo}, {"mxf", C::kVideo}, {"lrv", C::kVideo},
    // document
    {"doc", C::kDocument, P::kWord}, {"xls", C::kDocument, P::kSheet},
    {"ppt", C::kDocument, P::kSlides}, {"odt", C::kDocument, P::kWord}, {"ods", C::kDocument},
    {"pdf", C::kDocument, P::kPdf}, {"docx", C::kDocument, P::kWord},
    {"xlsx", C::kDocument, P::kSheet}, {"pptx", C::kDocument, P::kSlides}, {"ole", C::kDocument},
    {"txt", C::kDocument}, {"xml", C::kDocument}, {"chm", C::kDocument}, {"htm", C::kDocument},
    {"html", C::kDocument}, {"pst", C::kDocument}, {"dbx", C::kDocument}, {"wps", C::kDocument},
    {"dps", C::kDocument}, {"et", C::kDocument}, {"one", C::kDocument},
    {"mpp", C::kDocument, P::kSheet}, {"mdb", C::kDocument}, {"accdb", C::kDocument},
    // archive
    {"zip", C::kArchive, P::kArchive}, {"rar", C::kArchive, P::kArchive},
    {"gzip", C::kArchive, P::kArchive}, {"tar", C::kArchive, P::kArchive},
    {"7z", C::kArchive, P::kArchive}, {"cab", C::kArchive, P::kArchive},
    {"arj", C::kArchive, P::kArchive}, {"lzh", C::kArchive, P::kArchive},
    {"ace", C::kArchive, P::kArchive}, {"gz", C::kArchive, P::kArchive},
    {"uue", C::kArchive, P::kArchive}, {"bz2", C::kArchive, P::kArchive},
    {"jar", C::kArchive, P::kArchive}, {"iso", C::kArchive, P::kArchive},
    // known only to the preview: sorted into others, but shown as documents
    {"dot", C::kOthers, P::kWord}, {"dotx", C::kOthers, P::kWord}, {"docm", C::kOthers, P::kWord},
    {"dotm", C::kOthers, P::kWord}, {"rtf", C::kOthers, P::kWord}, {"pptm", C::kOthers, P::kSlides},
    {"pps", C::kOthers, P::kSlides}, {"ppsx", C::kOthers, P::kSlides},
    {"ppsm", C::kOthers, P::kSlides}, {"odp", C::kOthers, P::kSlides},
    {"xlsm", C::kOthers, P::kSheet}, {"csv", C::kOthers, P::kSheet}, {"odc", C::kOthers, P::kSheet},
    {"vsd", C::kOthers, P::kSheet}, {"vsdm", C::kOthers, P::kSheet},
    {"vsdx", C::kOthers, P::kSheet}, {"pub", C::kOthers, P::kSheet}, {"ics", C::kOthers, P::kSheet},
    {"vcf", C::kOthers, P::kSheet}, {"msg", C::kOthers, P::kSheet},
};

constexpr bool CategoriesInOrder() {
  for (size_t i = 1; i < std::size(kFileTypes); ++i) {
    if (kFileTypes[i].category < kFileTypes[i - 1].category) return false;
  }
  return true;
}
// The first row of an extension is the one of its first category only
// while the rows are sorted by category.
static_assert(CategoriesInOrder());

// Extension -> its first row. Built once, read by any thread.
const std::unordered_map<std::string_view, const FileType*>& Index() {
  static const auto index = [] {
    std::unordered_map<std::string_view, const FileType*> map;
    for (const FileType& row : kFileTypes) map.emplace(row.extension, &row);  // keeps the first
    return map;
  }();
  return index;
}

}  // namespace

std::span<const FileType> FileTypeTable() { return kFileTypes; }

const FileType* FindFileType(std::string_view lowerExtension) {
  const auto& index = Index();
  const auto it = index.find(lowerExtension);
  return it == index.end() ? nullptr : it->second;
}

FileCategory CategoryOfExtension(std::string_view lowerExtension) {
  const FileType* row = FindFileType(lowerExtension);
  return row ? row->category : FileCategory::kOthers;
}

bool IsKnownExtension(std::string_view lowerExtension) {
  return CategoryOfExtension(lowerExtension) != FileCategory::kOthers;
}

PreviewConverter PreviewConverterOf(std::string_view lowerExtension) {
  const FileType* row = FindFileType(lowerExtension);
  return row ? row->converter : PreviewConverter::kNone;
}

const char* CategoryName(FileCategory category) {
  return kCategoryNames[static_cast<size_t>(category)];
}

bool CategoryFromName(std::string_view name, FileCategory& category) {
  for (size_t i = 0; i < std::size(kCategoryNames); ++i) {
    if (name == kCategoryNames[i]) {
      category = static_cast<FileCategory>(i);
      return true;
    }
  }
  return false;
}

const std::string& CategoryListText(FileCategory category) {
  static const auto texts = [] {
    std::array<std::string, std::size(kCategoryNames)> made;
    for (const FileType& row : kFileTypes) {
      if (row.category == FileCategory::kOthers) continue;
      std::string& text = made[static_cast<size_t>(row.category)];
      if (!text.empty()) text += '|';
      text += "*.";
      text += row.extension;
    }
    return made;
  }();
  return texts[static_cast<size_t>(category)];
}

}  // namespace qm
