// File extraction on an in-memory engine: destination naming, folder
// recovery order and safety, failures and cancel inside a folder, preview
// targets.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "engines/extraction/destination_names.h"
#include "engines/extraction/file_extractor.h"
#include "platform/errors.h"
#include "platform/filetime.h"
#include "platform/user_folders.h"
#include "support/test_support.h"

namespace qm {
namespace {

namespace fs = std::filesystem;

// Files and folders held in memory; a file's content is kept by entryId.
class MemoryEngine : public ContentReader, public FolderLister {
 public:
  FoundFileRecord AddFolder(uint32_t parentKeyDepth, uint32_t parentId, uint32_t id,
                            const std::string& name) {
    FoundFileRecord r = Make(name, 1, id, 0);
    children_[DirectoryKey(parentKeyDepth, parentId)].push_back(r);
    depths_[id] = parentKeyDepth + 1;
    return r;
  }
  FoundFileRecord AddFile(uint32_t parentKeyDepth, uint32_t parentId, uint32_t id,
                          const std::string& name, const std::string& content) {
    FoundFileRecord r = Make(name, 0, id, content.size());
    contents_[id] = content;
    children_[DirectoryKey(parentKeyDepth, parentId)].push_back(r);
    return r;
  }
  // The content ends after `bytes`, with `error` (0: a reader that does not
  // say why).
  void FailAfter(uint32_t id, size_t bytes, int error = err::kReadFault) {
    failAfter_[id] = bytes;
    failError_[id] = error;
  }
  // Bytes [offset, offset + length) of the file cannot be read from the disk.
  void Unreadable(uint32_t id, size_t offset, size_t length) { unreadable_[id] = {offset, length}; }

  int ReadFileContent(const FoundFileRecord& record, const ContentSink& sink) override {
    const uint32_t id = record.entryId;  // packed field: copied before use as a key
    std::string data = contents_[id];
    const size_t limit = failAfter_.count(id) ? failAfter_[id] : data.size();
    if (auto bad = unreadable_.find(id); bad != unreadable_.end()) {
      data.replace(bad->second.offset, bad->second.length, bad->second.length, '\0');
      NoteUnreadable(bad->second.offset, bad->second.length);
    }
    // Pieces of 3 bytes, so that progress and partial writes are exercised.
    for (size_t at = 0; at < limit; at += 3) {
      const size_t n = std::min<size_t>(3, limit - at);
      if (int rc = sink(reinterpret_cast<const uint8_t*>(data.data()) + at, n); rc != 0) return rc;
    }
    return limit < data.size() ? failError_[id] : 0;
  }
  int ListFolder(const FoundFileRecord& folder, uint32_t depth,
                 std::vector<FoundFileRecord>& out) override {
    listed.push_back(folder.Name());
    auto it = children_.find(DirectoryKey(depth, folder.entryId));
    if (it != children_.end()) out.insert(out.end(), it->second.begin(), it->second.end());
    return 0;
  }
  int FolderDepth(const FoundFileRecord& folder, uint32_t& depth) override {
    const uint32_t id = folder.entryId;
    auto it = depths_.find(id);
    if (it == depths_.end()) return err::kInvalidParameter;
    depth = it->second;
    return 0;
  }

  std::vector<std::string> listed;

 private:
  static FoundFileRecord Make(const std::string& name, uint32_t dir, uint32_t id, uint64_t size) {
    FoundFileRecord r;
    std::memset(&r, 0, sizeof r);
    r.isDirectory = dir;
    r.entryId = id;
    r.fileSize = size;
    r.clusterBytes = 512;
    r.SetName(name);
    return r;
  }
  std::map<uint64_t, std::vector<FoundFileRecord>> children_;
  std::map<uint32_t, uint32_t> depths_;
  std::map<uint32_t, std::string> contents_;
  std::map<uint32_t, size_t> failAfter_;
  std::map<uint32_t, int> failError_;
  std::map<uint32_t, ByteRange> unreadable_;
};

struct ProgressLog {
  std::vector<std::pair<int, std::string>> finished;  // (error, path) at step 100
  int cancelAfter = -1;
  static int OnFile(void* user, int step, int scale, int error, const char* path) {
    auto* self = static_cast<ProgressLog*>(user);
    if (step * scale / 100 >= 100) {
      self->finished.emplace_back(error, path);
      if (self->cancelAfter >= 0 && static_cast<int>(self->finished.size()) >= self->cancelAfter)
        return err::kCancelled;
    }
    return 0;
  }
};

// Every regular file below `root`, as paths relative to it.
std::vector<std::string> FilesUnder(const fs::path& root) {
  std::vector<std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(root))
    if (entry.is_regular_file()) files.push_back(fs::relative(entry.path(), root).string());
  std::sort(files.begin(), files.end());
  return files;
}

std::string Repeat(std::string_view piece, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += piece;
  return out;
}

TEST(DestinationNames, SafeFileNameKeepsEveryNameOneComponent) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"report.doc", "report.doc"},
      {"Résumé.txt", "Résumé.txt"},
      {"..", "_.."},
      {".", "_."},
      {"", "_"},
      {"../../etc/passwd", ".._.._etc_passwd"},
      {"a\\b", "a_b"},
      {std::string("nul\0byte", 8), "nul_byte"},
      {"tab\there\n", "tab_here_"},
      {".jpg", "_.jpg"},
      {".hidden", "_.hidden"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(SafeFileName(in), out) << in;
  const std::string longName = std::string(300, 'x') + ".jpeg";
  const std::string cut = SafeFileName(longName);
  EXPECT_LE(cut.size(), kMaxDestinationNameBytes);
  EXPECT_TRUE(cut.ends_with(".jpeg"));

  // Over-long names: cut at a character where the name is UTF-8, at the
  // byte limit where it is not, and never down to nothing or an extension.
  struct LongCase {
    std::string name;
    std::string ending;
  };
  const LongCase longCases[] = {
      {std::string(259, '\x80'), "\x80"},
      {std::string(259, '\xBF') + ".jpg", "\xBF.jpg"},
      {std::string(120, 'a') + std::string(200, '\x9F') + ".png", "\x9F.png"},
      {Repeat("x", 1).append(Repeat("\xC3\xA9", 150)).append(".txt"), "\xC3\xA9.txt"},
  };
  for (const LongCase& c : longCases) {
    const std::string safe = SafeFileName(c.name);
    EXPECT_LE(safe.size(), kMaxDestinationNameBytes) << c.name.size();
    EXPECT_GT(safe.size(), kMaxDestinationNameBytes - 4) << c.name.size();
    EXPECT_TRUE(safe.ends_with(c.ending)) << c.name.size();
  }
}

TEST(DestinationNames, UniquePathsAndSeparators) {
  test::TempDir dir;
  const fs::path first = CategoryDestination(dir.path(), "report.doc");
  EXPECT_EQ(first, dir.path() / "document" / "report.doc");
  EXPECT_EQ(CategoryDestination(dir.path(), "readme"), dir.path() / "others" / "readme");
  fs::create_directories(first.parent_path());
  test::WriteBytes(first, "1");
  const fs::path second = CategoryDestination(dir.path(), "report.doc");
  EXPECT_EQ(second.filename(), "report(1).doc");
  test::WriteBytes(second, "2");
  EXPECT_EQ(CategoryDestination(dir.path(), "report.doc").filename(), "report(2).doc");
  // A dangling link takes its name too.
  fs::create_symlink(dir.path() / "nowhere", dir.path() / "link.txt");
  EXPECT_EQ(UniqueDestinationPath(dir.path() / "link.txt").filename(), "link(1).txt");

  // Many files of one name: the search goes on from where it stopped, and
  // does not go back over the numbers already handed out.
  DestinationNamer namer;
  const fs::path base = dir.path() / "img.jpg";
  test::WriteBytes(base, "0");
  for (int n = 1; n <= 300; ++n) {
    const fs::path next = namer.Next(base);
    ASSERT_EQ(next.filename(), "img(" + std::to_string(n) + ").jpg");
    test::WriteBytes(next, "n");
  }
  fs::remove(dir.path() / "img(7).jpg");
  EXPECT_EQ(namer.Next(base).filename(), "img(301).jpg");

  EXPECT_EQ(CountSeparators("/home/user/out/"), 3);
  EXPECT_EQ(CountSeparators("C:\\out\\x"), 2);
}

TEST(FileExtractor, FolderIsCopiedBreadthFirstAndStaysInside) {
  test::TempDir dir;
  MemoryEngine engine;
  const FoundFileRecord top = engine.AddFolder(0, 2, 10, "top");
  engine.AddFolder(1, 10, 11, "sub");
  engine.AddFolder(1, 10, 12, "..");
  engine.AddFile(1, 10, 100, "a.txt", "alpha");
  engine.AddFile(1, 10, 101, "a.txt", "second version");
  engine.AddFile(1, 10, 102, "../../escape.txt", "evil");
  engine.AddFile(1, 10, 103, "empty.txt", "");
  engine.AddFile(2, 11, 104, "deep.txt", "deep content");
  engine.AddFile(2, 12, 105, "..", "dots");
  FileExtractor extractor(engine, engine);
  ProgressLog progress;
  extractor.SetFileProgress(&ProgressLog::OnFile, &progress);

  const fs::path out = dir / "out" / "top";
  ASSERT_EQ(extractor.RecoverItem(top, out), 0);

  EXPECT_EQ(FilesUnder(dir / "out"),
            (std::vector<std::string>{"top/.._.._escape.txt", "top/_../_..", "top/a(1).txt",
                                      "top/a.txt", "top/empty.txt", "top/sub/deep.txt"}));
  EXPECT_EQ(test::ReadBytes(out / "a.txt"), "alpha");
  EXPECT_EQ(test::ReadBytes(out / "a(1).txt"), "second version");
  EXPECT_EQ(test::ReadBytes(out / "sub" / "deep.txt"), "deep content");
  EXPECT_TRUE(fs::is_regular_file(out / "empty.txt"));
  EXPECT_EQ(fs::file_size(out / "empty.txt"), 0u);
  // Nothing was written beside the destination.
  EXPECT_EQ(FilesUnder(dir.path()).size(), 6u);
  // All direct children finish before the sub-folders' children.
  ASSERT_EQ(progress.finished.size(), 6u);
  EXPECT_TRUE(progress.finished[4].second.ends_with("deep.txt") ||
              progress.finished[5].second.ends_with("deep.txt"));
  for (const auto& [error, path] : progress.finished) EXPECT_EQ(error, 0) << path;
  EXPECT_EQ(engine.listed, (std::vector<std::string>{"top", "sub", ".."}));
}

TEST(FileExtractor, FailedFileIsReportedAndTheFolderGoesOn) {
  test::TempDir dir;
  MemoryEngine engine;
  const FoundFileRecord top = engine.AddFolder(0, 2, 10, "top");
  const FoundFileRecord broken = engine.AddFile(1, 10, 100, "broken.bin", "0123456789");
  engine.AddFile(1, 10, 101, "fine.bin", "fine");
  const FoundFileRecord unread = engine.AddFile(1, 10, 102, "unread.bin", "nothing of it");
  engine.FailAfter(100, 4);
  engine.FailAfter(102, 0);
  FileExtractor extractor(engine, engine);
  ProgressLog progress;
  extractor.SetFileProgress(&ProgressLog::OnFile, &progress);

  EXPECT_EQ(extractor.RecoverItem(top, dir / "top"), err::kReadFault);
  ASSERT_EQ(progress.finished.size(), 3u);
  EXPECT_EQ(progress.finished[0].first, err::kReadFault);
  EXPECT_EQ(progress.finished[1].first, 0);
  EXPECT_EQ(progress.finished[2].first, err::kReadFault);
  EXPECT_EQ(test::ReadBytes(dir / "top" / "fine.bin"), "fine");
  // Never under its own name looking whole: what was read is kept aside,
  // and a file of which nothing was read leaves nothing behind.
  EXPECT_EQ(FilesUnder(dir / "top"), (std::vector<std::string>{"broken.bin.partial", "fine.bin"}));
  EXPECT_EQ(test::ReadBytes(dir / "top" / "broken.bin.partial"), "0123");
  ASSERT_EQ(extractor.problems().size(), 2u);
  EXPECT_EQ(extractor.problems()[0].keptPath, (dir / "top" / "broken.bin.partial").string());
  EXPECT_EQ(extractor.problems()[0].bytesWritten, 4u);
  EXPECT_EQ(extractor.problems()[1].keptPath, "");

  // A second failure beside a kept one does not replace it.
  EXPECT_EQ(extractor.RecoverItem(broken, dir / "top" / "broken.bin"), err::kReadFault);
  EXPECT_EQ(test::ReadBytes(dir / "top" / "broken.bin.partial"), "0123");
  EXPECT_EQ(extractor.problems().at(0).keptPath, (dir / "top" / "broken.bin(1).partial").string());
  EXPECT_EQ(extractor.RecoverItem(unread, dir / "single.bin"), err::kReadFault);
  EXPECT_FALSE(fs::exists(dir / "single.bin"));
  // Content that ends short without an error is a failure all the same.
  const FoundFileRecord quiet = engine.AddFile(1, 10, 103, "quiet.bin", "cut short");
  engine.FailAfter(103, 3, 0);
  EXPECT_EQ(extractor.RecoverItem(quiet, dir / "quiet.bin"), err::kHandleEof);
  EXPECT_FALSE(fs::exists(dir / "quiet.bin"));
  EXPECT_EQ(test::ReadBytes(dir / "quiet.bin.partial"), "cut");
}

TEST(FileExtractor, CancelStopsTheFolder) {
  test::TempDir dir;
  MemoryEngine engine;
  const FoundFileRecord top = engine.AddFolder(0, 2, 10, "top");
  for (uint32_t i = 0; i < 5; ++i)
    engine.AddFile(1, 10, 100 + i, std::string("f").append(std::to_string(i)).append(".txt"), "data");
  FileExtractor extractor(engine, engine);
  ProgressLog progress;
  progress.cancelAfter = 2;
  extractor.SetFileProgress(&ProgressLog::OnFile, &progress);
  EXPECT_EQ(extractor.RecoverItem(top, dir / "top"), err::kCancelled);
  EXPECT_EQ(FilesUnder(dir / "top").size(), 2u);
}

TEST(FileExtractor, AnExistingFileOrLinkAtTheDestinationIsNeverOverwrittenOrFollowed) {
  test::TempDir dir;
  MemoryEngine engine;
  const FoundFileRecord file = engine.AddFile(0, 2, 100, "x.txt", "short");
  test::WriteBytes(dir / "x.txt", "a much longer old file");
  fs::create_directories(dir / "out");
  const fs::path outside = dir / "outside.txt";
  fs::create_symlink(outside, dir / "out" / "x.txt");
  FileExtractor extractor(engine, engine);

  EXPECT_EQ(extractor.RecoverItem(file, dir / "new" / "x.txt"), 0);
  EXPECT_EQ(test::ReadBytes(dir / "new" / "x.txt"), "short");
  EXPECT_EQ(extractor.RecoverItem(file, dir / "x.txt"), 0);
  EXPECT_EQ(test::ReadBytes(dir / "x.txt"), "a much longer old file");
  EXPECT_EQ(test::ReadBytes(dir / "x(1).txt"), "short");
  // A dangling link: writing through it would create a file elsewhere.
  EXPECT_EQ(extractor.RecoverItem(file, dir / "out" / "x.txt"), 0);
  EXPECT_FALSE(fs::exists(outside));
  EXPECT_TRUE(fs::is_symlink(dir / "out" / "x.txt"));
  EXPECT_EQ(test::ReadBytes(dir / "out" / "x(1).txt"), "short");
}

TEST(FileExtractor, UnreadablePartsAreZerosAndTheFileIsReportedDamaged) {
  test::TempDir dir;
  MemoryEngine engine;
  const FoundFileRecord top = engine.AddFolder(0, 2, 10, "top");
  const std::string content = test::MakeContent(40, 4);
  const FoundFileRecord hurt = engine.AddFile(1, 10, 100, "hurt.bin", content);
  engine.AddFile(1, 10, 101, "fine.bin", "fine");
  engine.Unreadable(100, 8, 16);
  FileExtractor extractor(engine, engine);
  ProgressLog progress;
  extractor.SetFileProgress(&ProgressLog::OnFile, &progress);

  EXPECT_EQ(extractor.RecoverItem(hurt, dir / "one" / "hurt.bin"), err::kCrc);
  std::string expected = content;
  expected.replace(8, 16, 16, '\0');
  EXPECT_EQ(test::ReadBytes(dir / "one" / "hurt.bin"), expected);
  ASSERT_EQ(extractor.problems().size(), 1u);
  const RecoveryProblem& problem = extractor.problems()[0];
  EXPECT_TRUE(problem.damaged());
  EXPECT_EQ(problem.keptPath, (dir / "one" / "hurt.bin").string());
  EXPECT_EQ(problem.unreadable, (std::vector<ByteRange>{{8, 16}}));

  // In a folder the damaged file is reported and the rest is copied.
  progress.finished.clear();
  EXPECT_EQ(extractor.RecoverItem(top, dir / "top"), err::kCrc);
  EXPECT_EQ(test::ReadBytes(dir / "top" / "hurt.bin"), expected);
  EXPECT_EQ(test::ReadBytes(dir / "top" / "fine.bin"), "fine");
  ASSERT_EQ(extractor.problems().size(), 1u);
  EXPECT_EQ(extractor.problems()[0].unreadable, (std::vector<ByteRange>{{8, 16}}));
  const auto damagedReports = std::count_if(progress.finished.begin(), progress.finished.end(),
                                            [](const auto& f) { return f.first == err::kCrc; });
  EXPECT_EQ(damagedReports, 1);
}

TEST(FileExtractor, RecoveredFilesGetTheRecordsTimes) {
  test::TempDir dir;
  MemoryEngine engine;
  FoundFileRecord file = engine.AddFile(0, 2, 100, "dated.txt", "content");
  FoundFileRecord empty = engine.AddFile(0, 2, 101, "empty.txt", "");
  // 2021-03-04 05:06:07.5 UTC written, 2022-01-01 accessed.
  file.writeTime = UnixToFileTime(1614834367, 500000000);
  file.accessTime = UnixToFileTime(1640995200);
  empty.writeTime = UnixToFileTime(1000000000);
  FileExtractor extractor(engine, engine);
  ASSERT_EQ(extractor.RecoverItem(file, dir / "dated.txt"), 0);
  ASSERT_EQ(extractor.RecoverItem(empty, dir / "empty.txt"), 0);

  struct stat st {};
  ASSERT_EQ(::stat((dir / "dated.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtim.tv_sec, 1614834367);
  EXPECT_EQ(st.st_mtim.tv_nsec, 500000000);
  EXPECT_EQ(st.st_atim.tv_sec, 1640995200);
  ASSERT_EQ(::stat((dir / "empty.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtim.tv_sec, 1000000000);
  EXPECT_GT(st.st_atim.tv_sec, 1000000000);  // no access time in the record
}

TEST(FileExtractor, PreviewTargets) {
  test::TempDir dir;
  MemoryEngine engine;
  const std::string content = "0123456789abcdef";
  struct Case {
    const char* name;
    const char* file;  // null: the memory buffer
  };
  // Types are matched whole: a .c is no photo ("*.pcx"), a .do no document
  // ("*.doc"), a .md none ("*.mdb").
  const Case cases[] = {{"a.mp3", "tmp.avi"}, {"a.png", "tmp.jpg"}, {"a.pdf", "a.pdf"},
                        {"clip.mkv", "tmp.avi"}, {"a.bin", nullptr},   {"song.rm", "tmp.avi"},
                        {"b.dot", "b.dot"},      {"main.c", nullptr},  {"x.do", nullptr},
                        {"notes.md", nullptr},   {"lib.a", nullptr},   {"IMG.JPG", "tmp.jpg"}};
  uint32_t id = 100;
  for (const Case& c : cases) {
    const FoundFileRecord r = engine.AddFile(0, 2, ++id, c.name, content);
    FileExtractor extractor(engine, engine);
    uint8_t buffer[10] = {};
    uint32_t size = sizeof buffer;
    std::string path;
    int lastPercent = -1;
    auto onPreview = [](void* user, int percent, int) {
      *static_cast<int*>(user) = percent;
      return 0;
    };
    ASSERT_EQ(extractor.ExtractForPreview(r, path, buffer, &size, onPreview, &lastPercent), 0)
        << c.name;
    EXPECT_EQ(lastPercent, 100) << c.name;
    if (c.file) {
      EXPECT_EQ(path, (ScanLogFolder() / c.file).string()) << c.name;
      EXPECT_EQ(test::ReadBytes(path), content) << c.name;
      EXPECT_EQ(size, 0u);
    } else {
      EXPECT_TRUE(path.empty());
      ASSERT_EQ(size, sizeof buffer);
      EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), size), content.substr(0, size));
    }
  }
}

}  // namespace
}  // namespace qm
