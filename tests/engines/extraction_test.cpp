// File extraction on an in-memory engine: destination naming, folder
// recovery order and safety, failures and cancel inside a folder, preview
// targets.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "engines/extraction/destination_names.h"
#include "engines/extraction/file_extractor.h"
#include "platform/errors.h"
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
  void FailAfter(uint32_t id, size_t bytes) { failAfter_[id] = bytes; }

  int ReadFileContent(const FoundFileRecord& record, const ContentSink& sink) override {
    const uint32_t id = record.entryId;  // packed field: copied before use as a key
    const std::string& data = contents_[id];
    const size_t limit = failAfter_.count(id) ? failAfter_[id] : data.size();
    // Pieces of 3 bytes, so that progress and partial writes are exercised.
    for (size_t at = 0; at < limit; at += 3) {
      const size_t n = std::min<size_t>(3, limit - at);
      if (int rc = sink(reinterpret_cast<const uint8_t*>(data.data()) + at, n); rc != 0) return rc;
    }
    return limit < data.size() ? err::kReadFault : 0;
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
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(SafeFileName(in), out) << in;
  const std::string longName = std::string(300, 'x') + ".jpeg";
  const std::string cut = SafeFileName(longName);
  EXPECT_LE(cut.size(), kMaxDestinationNameBytes);
  EXPECT_TRUE(cut.ends_with(".jpeg"));
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
  engine.AddFile(1, 10, 100, "broken.bin", "0123456789");
  engine.AddFile(1, 10, 101, "fine.bin", "fine");
  engine.FailAfter(100, 4);
  FileExtractor extractor(engine, engine);
  ProgressLog progress;
  extractor.SetFileProgress(&ProgressLog::OnFile, &progress);

  EXPECT_EQ(extractor.RecoverItem(top, dir / "top"), err::kReadFault);
  ASSERT_EQ(progress.finished.size(), 2u);
  EXPECT_EQ(progress.finished[0].first, err::kReadFault);
  EXPECT_EQ(progress.finished[1].first, 0);
  EXPECT_EQ(test::ReadBytes(dir / "top" / "fine.bin"), "fine");
}

TEST(FileExtractor, CancelStopsTheFolder) {
  test::TempDir dir;
  MemoryEngine engine;
  const FoundFileRecord top = engine.AddFolder(0, 2, 10, "top");
  for (uint32_t i = 0; i < 5; ++i)
    engine.AddFile(1, 10, 100 + i, "f" + std::to_string(i) + ".txt", "data");
  FileExtractor extractor(engine, engine);
  ProgressLog progress;
  progress.cancelAfter = 2;
  extractor.SetFileProgress(&ProgressLog::OnFile, &progress);
  EXPECT_EQ(extractor.RecoverItem(top, dir / "top"), err::kCancelled);
  EXPECT_EQ(FilesUnder(dir / "top").size(), 2u);
}

TEST(FileExtractor, RecoveringAFileOverALongerOneLeavesNoTail) {
  test::TempDir dir;
  MemoryEngine engine;
  const FoundFileRecord file = engine.AddFile(0, 2, 100, "x.txt", "short");
  test::WriteBytes(dir / "x.txt", "a much longer old file");
  FileExtractor extractor(engine, engine);
  EXPECT_EQ(extractor.RecoverItem(file, dir / "new" / "x.txt"), 0);
  EXPECT_EQ(extractor.RecoverItem(file, dir / "x.txt"), 0);
  EXPECT_EQ(test::ReadBytes(dir / "x.txt"), "short");
  EXPECT_EQ(test::ReadBytes(dir / "new" / "x.txt"), "short");
}

TEST(FileExtractor, PreviewTargets) {
  test::TempDir dir;
  MemoryEngine engine;
  const std::string content = "0123456789abcdef";
  struct Case {
    const char* name;
    const char* file;  // null: the memory buffer
  };
  const Case cases[] = {{"a.mp3", "tmp.avi"}, {"a.png", "tmp.jpg"}, {"a.pdf", "a.pdf"},
                        {"clip.mkv", "tmp.avi"}, {"a.bin", nullptr}};
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
