#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "results/categories.h"
#include "results/listing_order.h"
#include "store_fixture.h"

namespace qm::test {
namespace {

TEST(CategoryLists, EntryCountsAndUnusualEntries) {
  auto entries = [](const std::string& list) {
    return std::count(list.begin(), list.end(), '|') + 1;
  };
  EXPECT_EQ(entries(kPhotoList), 45);
  EXPECT_EQ(entries(kAudioList), 23);
  EXPECT_EQ(entries(kVideoList), 32);
  EXPECT_EQ(entries(kDocumentList), 24);
  EXPECT_EQ(entries(kArchiveList), 14);
  const auto previewed = std::count_if(FileTypeTable().begin(), FileTypeTable().end(), [](const FileType& t) {
    return t.converter != PreviewConverter::kNone;
  });
  EXPECT_EQ(previewed, 43);
  EXPECT_NE(kPhotoList.find("|*.divu|"), std::string::npos);
  EXPECT_NE(kDocumentList.find("|*.ole|"), std::string::npos);
  EXPECT_NE(kDocumentList.find("|*.et|"), std::string::npos);
  // Types only the preview shows are unknown to the categories.
  for (const char* ext : {"jpg", "mp3", "mkv", "mdb", "iso"}) EXPECT_TRUE(IsKnownExtension(ext)) << ext;
  // What phones and newer cameras write sorts with the photos and music.
  const std::pair<const char*, FileCategory> newer[] = {{"heic", FileCategory::kPhoto},
                                                        {"cr3", FileCategory::kPhoto},
                                                        {"flac", FileCategory::kAudio}};
  for (const auto& [ext, category] : newer) EXPECT_EQ(CategoryOfExtension(ext), category) << ext;
  for (const char* ext : {"rtf", "csv", "md", "c", "", "jp", "do"}) EXPECT_FALSE(IsKnownExtension(ext)) << ext;
}

// Filters carry these texts; the table they are made from must keep them.
TEST(CategoryLists, TextsMadeFromTheTableAreTheListedOnes) {
  EXPECT_EQ(kAudioList,
            "*.mp3|*.wav|*.ape|*.aiff|*.rps|*.mid|*.midi|*.m4a|*.m4p|*.au|*.ogg|*.wma|*.rm|*.ra|*.acd|"
            "*.amr|*.at3|*.caf|*.dss|*.m4r|*.nra|*.snd|*.flac");
  EXPECT_EQ(kVideoList,
            "*.rmvb|*.rm|*.mpeg|*.mov|*.avi|*.wmv|*.asf|*.mp4|*.flv|*.fla|*.swf|*.m4v|*.3gp|*.dv|*.3g2|"
            "*.m4b|*.mkv|*.mts|*.divx|*.ogm|*.moi|*.vob|*.ajp|*.f4v|*.mqv|*.svi|*.vid|*.tod|*.hdmov|"
            "*.mod|*.mxf|*.lrv");
  EXPECT_EQ(kDocumentList,
            "*.doc|*.xls|*.ppt|*.odt|*.ods|*.pdf|*.docx|*.xlsx|*.pptx|*.ole|*.txt|*.xml|*.chm|*.htm|"
            "*.html|*.pst|*.dbx|*.wps|*.dps|*.et|*.one|*.mpp|*.mdb|*.accdb");
  EXPECT_EQ(kArchiveList, "*.zip|*.rar|*.gzip|*.tar|*.7z|*.cab|*.arj|*.lzh|*.ace|*.gz|*.uue|*.bz2|*.jar|*.iso");
  EXPECT_EQ(kPhotoList.substr(0, 40), "*.bmp|*.gif|*.jpg|*.jpeg|*.png|*.psd|*.t");
  EXPECT_EQ(CategoryListText(FileCategory::kOthers), "");
}

// The one place where an extension is in two lists: "rm" is audio and
// video, and the first category wins.
TEST(CategoryRules, AnExtensionInTwoListsBelongsToTheFirstCategory) {
  ASSERT_NE(FindFileType("rm"), nullptr);
  EXPECT_EQ(FindFileType("rm")->category, FileCategory::kAudio);
  EXPECT_NE(kVideoList.find("|*.rm|"), std::string::npos);
  EXPECT_EQ(CategoryOfName("song.RM"), "audio");
  std::map<std::string, int> categoriesOf;
  for (const FileType& row : FileTypeTable()) ++categoriesOf[std::string(row.extension)];
  for (const auto& [extension, count] : categoriesOf)
    EXPECT_TRUE(count == 1 || extension == "rm") << extension << " has " << count << " rows";
}

// One row per name: its category, whether a listing with `filter` keeps it
// (main file of `mainBytes`), and its extension group.
struct CategoryCase {
  const char* name;
  uint32_t contentOk;
  bool folder;
  const char* category;
  const char* filter;
  uint64_t mainBytes;
  bool listed;
  const char* group;
};

constexpr uint64_t kSmall = 1 << 20;
constexpr uint64_t k128MiB = 134217728;

const CategoryCase kCases[] = {
    // name             ok folder category    filter                 size    listed  group
    {"IMG_0001.JPG",     1, false, "photo",    ".\\.jpg",             kSmall, true,  "jpg"},
    {"holiday.jpeg",     1, false, "photo",    ".\\.jpg",             kSmall, false, "jpg"},
    {"holiday.jpeg",     1, false, "photo",    ".\\.jpg|.\\.jpeg",    kSmall, true,  "jpg"},
    {"broken.jpg",       0, false, "photo",    ".\\.jpg",             kSmall, false, "jpg"},
    {"broken.jpg",       0, false, "photo",    ".\\.other",           kSmall, false, "jpg"},
    // Whole extensions only: none of these is a photo, a document or known.
    {"sketch.p",         0, false, "others",   ".\\.other",           kSmall, true,  "p"},
    {"main.c",           1, false, "others",   ".\\.other",           kSmall, true,  "c"},
    {"util.h",           1, false, "others",   ".\\.other",           kSmall, true,  "h"},
    {"lib.a",            1, false, "others",   ".\\.other",           kSmall, true,  "a"},
    {"notes.md",         1, false, "others",   ".\\.other",           kSmall, true,  "md"},
    {"notes.md",         1, false, "others",   ".\\.mdb",             kSmall, false, "md"},
    {"cut.jp",           1, false, "others",   "*.jpg|*.png",         kSmall, false, "jp"},
    {"cut.jp",           0, false, "others",   "*.jpg|*.jp",          kSmall, true,  "jp"},
    {"db.mdb",           1, false, "document", "*.mdb",               kSmall, true,  "mdb"},
    {"photo.JPG",        1, false, "photo",    "*.JPG",               kSmall, true,  "jpg"},
    {"letter.rtf",       1, false, "others",   ".\\.other",           kSmall, true,  "rtf"},
    {"odd.other",        1, false, "others",   "*.other",             k128MiB, true, "other"},
    {"x.otherwise",      1, false, "others",   "*.otherwise",         kSmall, true,  "otherwise"},
    {"y.xyz",            1, false, "others",   "*.otherwise",         kSmall, false, "xyz"},
    {"sum.a+b",          1, false, "others",   ".\\.a\\+b|.\\.c\\[1\\]",  kSmall, true,  "a+b"},
    {"sum.c[1]",         1, false, "others",   ".\\.a\\+b|.\\.c\\[1\\]",  kSmall, true,  "c[1]"},
    {"sum.b",            1, false, "others",   ".\\.a\\+b|.\\.c\\[1\\]",  kSmall, false, "b"},
    {"song.rm",          1, false, "audio",    ".\\.rm",              kSmall, true,  "rm"},
    {"film.rmvb",        1, false, "video",    ".\\.rmvb",            kSmall, true,  "rmvb"},
    {"film.RMVB",        1, false, "video",    ".\\.rm",              kSmall, false, "rmvb"},
    {"report.docx",      1, false, "document", ".\\.docx",            kSmall, true,  "doc"},
    {"report.docx",      0, false, "document", ".\\.docx",            kSmall, true,  "doc"},
    {"sheet.xlsx",       1, false, "document", ".\\.xls",             kSmall, false, "xls"},
    {"page.htm",         1, false, "document", "*.htm",               kSmall, true,  "html"},
    {"pack.tar.gz",      1, false, "archive",  ".\\.gz",              kSmall, true,  "gz"},
    {"tune.midi",        1, false, "audio",    ".\\.mid",             kSmall, false, "mid"},
    {"tune.m4p",         1, false, "audio",    ".\\.m4p",             kSmall, true,  "m4a"},
    {"scan.tiff",        1, false, "photo",    ".\\.tiff",            kSmall, true,  "tif"},
    {"saver.scr",        1, false, "photo",    ".\\.scr",             kSmall, true,  "pcx"},
    {"notes.xyz",        1, false, "others",   ".\\.jpg|.\\.other",   kSmall, true,  "xyz"},
    {"notes.xyz",        1, false, "others",   ".\\.jpg|.\\.other",   k128MiB, false, "xyz"},
    {"notes.xyz",        1, false, "others",   ".\\.jpg",             kSmall, false, "xyz"},
    {"README",           1, false, "others",   ".\\.other",           kSmall, true,  "unknow"},
    {"README",           1, false, "others",   ".\\.other",           k128MiB - 1, true, "unknow"},
    {"README",           1, false, "others",   ".\\.other",           k128MiB, false, "unknow"},
    {"README",           1, false, "others",   ".\\.jpg",             kSmall, false, "unknow"},
    {"trailing.",        1, false, "others",   ".\\.jpg",             kSmall, false, "unknow"},
    {"known.mp3",        1, false, "audio",    ".\\.other",           kSmall, false, "mp3"},
    {"Photos.jpg",       1, true,  "photo",    ".\\.jpg|.\\.other",   kSmall, false, "jpg"},
    {"ÉTÉ.PNG",          1, false, "photo",    ".\\.png",             kSmall, true,  "png"},
};

TEST(CategoryRules, TableOfNames) {
  for (const CategoryCase& c : kCases) {
    SCOPED_TRACE(std::string(c.name) + " with filter " + c.filter);
    FoundFileRecord record{};
    record.SetName(c.name);
    record.contentOk = c.contentOk;
    record.isDirectory = c.folder ? 1 : 0;
    EXPECT_EQ(CategoryOfName(c.name), c.category);
    CategoryFilter filter(c.filter, c.mainBytes);
    EXPECT_EQ(filter.Accepts(record), c.listed);
    EXPECT_EQ(filter.Accepts(record), c.listed);  // the cached decision agrees
    auto groups = GroupByExtension({record});
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_EQ(groups.begin()->first, c.group);
  }
}

TEST(CategoryRules, GroupsKeepInputOrder) {
  std::vector<FoundFileRecord> records(4);
  const char* names[] = {"b.jpeg", "a.JPG", "x", "c.jpg"};
  for (int i = 0; i < 4; ++i) records[i].SetName(names[i]);
  auto groups = GroupByExtension(records);
  ASSERT_EQ(groups.size(), 2u);
  EXPECT_EQ(Names(groups["jpg"]), (std::vector<std::string>{"b.jpeg", "a.JPG", "c.jpg"}));
  EXPECT_EQ(Names(groups["unknow"]), (std::vector<std::string>{"x"}));
}

TEST(CategoryFilterText, SelectionAndEscaping) {
  struct Case {
    std::vector<std::string> selected;
    std::string plain;
    std::string escaped;
  };
  const std::string all = kPhotoList + "|" + kAudioList + "|" + kVideoList + "|" +
                          kDocumentList + "|" + kArchiveList;
  const std::vector<Case> cases = {
      {{"jpg"}, "*.jpg", ".\\.jpg"},
      {{"png", "jpg|jpeg", "other"}, "*.png|*.jpg|*.jpeg|*.other",
       ".\\.png|.\\.jpg|.\\.jpeg|.\\.other"},
      {{"a+b", "c[1]"}, "*.a+b|*.c[1]", ".\\.a\\+b|.\\.c\\[1\\]"},
      {{}, all, EscapeFilterText(all)},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(AllTypesFilter(c.selected), c.plain);
    EXPECT_EQ(BuildCategoryFilter(c.selected), c.escaped);
  }
  EXPECT_EQ(EscapeFilterText("^x$?{}"), "\\^x\\$\\?\\{\\}");
  EXPECT_EQ(EscapeFilterText("\\*.a*"), "\\\\.a.");
}

TEST(ListingOrder, FilesFirstThenNamesWithoutCase) {
  std::vector<FoundFileRecord> records(5);
  const char* names[] = {"b", "B-dir", "a", "A-dir", "C"};
  const bool folders[] = {false, true, false, true, false};
  for (int i = 0; i < 5; ++i) {
    records[i].SetName(names[i]);
    records[i].isDirectory = folders[i];
  }
  SortForListing(records);
  EXPECT_EQ(Names(records), (std::vector<std::string>{"a", "b", "C", "A-dir", "B-dir"}));
}

TEST(ListingOrder, MatchesTheNameComparisonOnMixedNames) {
  // Shared prefixes longer than 8 bytes, case differences, non-ASCII and
  // undecodable bytes: the sort must agree with CompareNamesNoCase.
  const char* stems[] = {"file_0000001", "FILE_00000010", "file_000000", "Émile", "émile",
                         "eve", "Zed", "zed", "\xC3", "a\xFF", "ab", "AB", "abcdefgh",
                         "ABCDEFGHI", "Ωmega", "ωmega", ""};
  std::vector<FoundFileRecord> records;
  uint32_t seed = 7;
  for (int i = 0; i < 400; ++i) {
    seed = seed * 1103515245u + 12345u;
    FoundFileRecord r{};
    r.SetName(std::string(stems[seed % 17]) + std::to_string(seed % 5));
    r.isDirectory = (seed >> 8) % 3 == 0;
    r.recordIndex = static_cast<uint32_t>(i);
    records.push_back(r);
  }
  std::vector<FoundFileRecord> expected = records;
  std::stable_sort(expected.begin(), expected.end(), ListsBefore);
  SortForListing(records);
  ASSERT_EQ(records.size(), expected.size());
  for (size_t i = 0; i < records.size(); ++i) {
    EXPECT_EQ(+records[i].recordIndex, +expected[i].recordIndex) << records[i].Name();
  }
}

}  // namespace
}  // namespace qm::test
