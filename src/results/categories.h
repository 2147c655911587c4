// File categories: which category a found file's name sorts into, the
// filter of the category listing, and the grouping by extension. Types are
// looked up whole in the table of file_types.h.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "results/file_types.h"
#include "results/found_file_record.h"

namespace qm {

// The filter texts of the categories ("*.bmp|*.gif|..."), made from the
// file-type table (CategoryListText).
extern const std::string kPhotoList;
extern const std::string kAudioList;
extern const std::string kVideoList;
extern const std::string kDocumentList;
extern const std::string kArchiveList;

// Unknown types are not listed from a main file of this size or more.
inline constexpr uint64_t kUnknownTypesLimit = 134217728;  // 128 MiB

// The text after the last '.' of a name, as stored; empty when the name has
// no '.' or ends in one (such a name has no extension).
std::string_view RawExtension(std::string_view name);
// RawExtension lower-cased.
std::string ExtensionOf(std::string_view name);

// True when the lower-cased extension is a photo's.
bool IsPhotoExtension(std::string_view lowerExtension);
// A file whose data failed its signature check and whose extension is a
// photo's: such records are never listed.
bool IsDamagedPhoto(const FoundFileRecord& record);

// "photo", "audio", "video", "document", "archive" or "others".
std::string CategoryOfName(std::string_view name);

// The filter of a category listing for one main file. Decisions are cached
// per stored extension, so a listing of millions of records looks each
// distinct extension up once.
class CategoryFilter {
 public:
  // `filter` holds "*.ext" entries joined by "|" ("*.jpg|*.png") or their
  // escaped form (EscapeFilterText); a record is listed when its extension
  // is one of them, whole. The entry "*.other" asks for unknown types too,
  // unless the main file is 128 MiB or larger.
  CategoryFilter(std::string filter, uint64_t mainFileBytes);
  bool Accepts(const FoundFileRecord& record);
  bool WantsUnknownTypes() const { return wantUnknown_; }
  // Damaged photos are left out unless asked for.
  void IncludeDamagedPhotos(bool include) { includeDamaged_ = include; }

 private:
  struct Decision {
    bool photo;
    bool listed;
  };
  Decision Decide(std::string_view rawExtension) const;

  std::unordered_set<std::string> wanted_;  // extensions, lower case
  bool wantUnknown_;
  bool includeDamaged_ = false;
  std::unordered_map<std::string, Decision> cache_;
};

// Extension synonyms of the grouping ("jpeg" -> "jpg", ...); other texts are
// returned unchanged.
std::string_view ExtensionSynonym(std::string_view lowerExtension);
// Groups records by lower-cased extension after synonyms ("unknow" for a
// name without one); records keep their input order inside a group.
std::map<std::string, std::vector<FoundFileRecord>> GroupByExtension(
    const std::vector<FoundFileRecord>& records);

// The filter text for the chosen extensions, in the given order: "*.a|*.b".
// An entry may itself hold several extensions joined by "|" ("jpg|jpeg").
// Nothing chosen gives the photo, audio, video, document and archive lists
// joined with "|".
std::string AllTypesFilter(const std::vector<std::string>& selectedExtensions);
// The escaped form a category listing receives: a backslash before each of
// ".^$+?{}[]", "*" becomes ".", and a "*" that follows a backslash is dropped.
std::string EscapeFilterText(std::string_view text);
// EscapeFilterText(AllTypesFilter(selectedExtensions)).
std::string BuildCategoryFilter(const std::vector<std::string>& selectedExtensions);

}  // namespace qm
