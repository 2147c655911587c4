// The NTFS quick scan on real volumes made by mkntfs and changed through an
// ntfs-3g mount: what it finds is compared with The Sleuth Kit's listing of
// the same image, and what it recovers with the original files and with
// icat's copy of the same record.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <sstream>

#include "engines/engine_test_context.h"
#include "engines/ntfs/fast_ntfs_recovery.h"
#include "platform/disk_table.h"
#include "platform/errors.h"
#include "support/jpeg_fixture.h"
#include "support/test_support.h"

namespace qm::test {
namespace {

constexpr uint16_t kTag = 7;

// Fields of the packed record are copied before gtest binds references.
template <typename T>
T Copy(T value) {
  return value;
}

struct Found {
  FoundFileRecord record;
  std::string path;  // folder path and name, '/'-separated
};

// Every record of the engine's scan log, with its path (when asked for).
std::vector<Found> AllRecords(CFastNtfsRecovery& engine, bool withPaths = true) {
  std::vector<Found> out;
  ScanLogStore* log = const_cast<ScanLogStore*>(engine.log());
  for (uint32_t i = 1; i <= engine.RecordCount(); ++i) {
    Found f;
    EXPECT_EQ(log->ReadRecord(i, f.record), 0);
    std::string folder;
    if (withPaths) {
      EXPECT_EQ(engine.GetFullPath(f.record, folder), 0);
    }
    f.path = folder + f.record.Name();
    out.push_back(f);
  }
  return out;
}

const Found* FindPath(const std::vector<Found>& all, const std::string& path, bool directory = false) {
  for (const Found& f : all)
    if (f.path == path && (Copy(f.record.isDirectory) != 0) == directory) return &f;
  return nullptr;
}

// Deleted regular files that `fls -rdp` lists: path -> record number.
// Entries under $OrphanFiles (files whose folder is gone) and names whose
// record was reallocated are left out.
std::map<std::string, uint32_t> FlsDeletedFiles(const fs::path& image, const std::string& options = "") {
  std::string out;
  EXPECT_EQ(test::Run("fls -rdp " + options + " " + Quote(image.string()) + " 2>/dev/null", &out), 0);
  std::map<std::string, uint32_t> files;
  std::istringstream lines(out);
  std::string line;
  // "r/r * 65-128-2:<TAB>path" or "-/r * 16:<TAB>path"
  while (std::getline(lines, line)) {
    if (line.size() < 7 || (line.compare(0, 6, "r/r * ") != 0 && line.compare(0, 6, "-/r * ") != 0)) continue;
    const size_t tab = line.find(":\t");
    if (tab == std::string::npos) continue;
    const std::string address = line.substr(6, tab - 6);
    const std::string path = line.substr(tab + 2);
    if (address.find("(realloc)") != std::string::npos) continue;
    if (path.rfind("$OrphanFiles/", 0) == 0 || path.find(':') != std::string::npos) continue;
    files[path] = static_cast<uint32_t>(std::stoul(address));
  }
  return files;
}

std::string Icat(const fs::path& image, uint32_t record, const std::string& options = "") {
  std::string out;
  EXPECT_EQ(test::Run("icat " + options + " " + Quote(image.string()) + " " + std::to_string(record) +
                    " 2>/dev/null",
                &out),
            0);
  return out;
}

std::string Recover(CFastNtfsRecovery& engine, const FoundFileRecord& record, const fs::path& dir,
                    int* rc = nullptr) {
  const fs::path target = dir / ("r" + std::to_string(record.recordIndex));
  const int result = engine.RecoverItem(record, target.string(), 0);
  if (rc) *rc = result;
  else EXPECT_EQ(result, 0) << record.Name();
  return fs::exists(target) ? ReadBytes(target) : std::string();
}

// Writes to `path` until the volume is full.
void FillUp(const fs::path& path) {
  std::ofstream out(path, std::ios::binary);
  const std::string block(1 << 20, 'b');
  while (out.write(block.data(), static_cast<std::streamsize>(block.size()))) {
  }
}

// Marks a folder of the mounted volume compressed: files made in it are
// stored LZNT1-compressed by ntfs-3g.
bool MarkCompressed(const fs::path& folder) {
  const uint8_t attributes[4] = {0x00, 0x00, 0x08, 0x10};  // big-endian 0x810
  return ::setxattr(folder.c_str(), "system.ntfs_attrib_be", attributes, 4, 0) == 0;
}

// One volume with every kind of deleted file, built once for the suite.
class NtfsQuickScan : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!CanMountFuse() || !HaveTool("fls")) return;
    dir_ = new TempDir();
    originals_ = new std::map<std::string, std::string>();
    NtfsImageBuilder b(dir_->path() / "volume.img", 64);
    ASSERT_TRUE(b.Create());
    ASSERT_TRUE(b.Mount());
    auto& o = *originals_;
    // The first folder made takes the lowest free record; after its
    // deletion the next file made reuses it, and orphan.txt's folder is lost.
    ASSERT_TRUE(b.MakeDir("lost"));
    o["lost/orphan.txt"] = "a file whose folder record now belongs to a file\n";
    o["small.txt"] = MakeContent(300, 1);
    o["big.bin"] = MakeContent(300000, 2);
    o["empty.txt"] = "";
    o["fake.png"] = "this is text, not a picture";
    o["tree/top.jpg"] = JpegLike(20000, 3, {.endOfImage = false});
    o["tree/a/x.txt"] = MakeContent(2000, 4);
    o["tree/a/b/deep.dat"] = MakeContent(100000, 5);
    o["live/gone.pdf"] = "%PDF-1.4\n" + MakeContent(10000, 6);
    o["Ünïcødé/файл.txt"] = MakeContent(5000, 7);
    o["日本語の名前.txt"] = MakeContent(700, 8);
    for (const auto& [path, content] : o) ASSERT_TRUE(b.AddFile(path, content));
    ASSERT_TRUE(b.AddFile("keep.txt", "live"));
    ASSERT_TRUE(b.AddFile("live/stay.txt", "live too"));

    ASSERT_TRUE(b.MakeDir("comp"));
    ASSERT_TRUE(MarkCompressed(b.MountPoint() / "comp"));
    std::string text;
    for (int i = 0; text.size() < 200000; ++i) text += "line " + std::to_string(i % 97) + " of a compressible file\n";
    o["comp/c.txt"] = text;
    o["comp/mixed.bin"] = MakeContent(70000, 10) + std::string(70000, 'a') + MakeContent(30000, 11);
    ASSERT_TRUE(b.AddFile("comp/c.txt", o["comp/c.txt"]));
    ASSERT_TRUE(b.AddFile("comp/mixed.bin", o["comp/mixed.bin"]));

    {  // a hole of 1 MiB: ntfs-3g stores it as a sparse run
      std::ofstream sparse(b.MountPoint() / "sparse.bin", std::ios::binary);
      sparse.seekp(1 << 20);
      const std::string tail = MakeContent(10000, 12);
      sparse.write(tail.data(), static_cast<std::streamsize>(tail.size()));
      o["sparse.bin"] = std::string(1 << 20, '\0') + tail;
    }

    // Fill the volume, then free every other file of a folder: the only
    // free space left is holes, and a file written now lies in many pieces.
    for (int i = 0; i < 40; ++i) ASSERT_TRUE(b.AddFile("filler/f" + std::to_string(i), MakeContent(16384, 100 + i)));
    FillUp(b.MountPoint() / "ballast");
    for (int i = 0; i < 40; i += 2) ASSERT_TRUE(b.Delete("filler/f" + std::to_string(i)));
    o["frag.bin"] = MakeContent(200000, 9);
    ASSERT_TRUE(b.AddFile("frag.bin", o["frag.bin"]));
    ASSERT_TRUE(b.Delete("ballast"));

    for (const char* path : {"small.txt", "big.bin", "empty.txt", "fake.png", "tree", "live/gone.pdf",
                             "Ünïcødé/файл.txt", "日本語の名前.txt", "frag.bin", "comp/c.txt",
                             "comp/mixed.bin", "sparse.bin", "lost"})
      ASSERT_TRUE(b.Delete(path));
    ASSERT_TRUE(b.Unmount());
    ASSERT_TRUE(b.Mount());
    ASSERT_TRUE(b.AddFile("reuse.txt", "takes the lowest free record"));
    ASSERT_TRUE(b.Unmount());
    image_ = new fs::path(b.image());
  }

  static void TearDownTestSuite() {
    delete originals_;
    delete image_;
    delete dir_;
    originals_ = nullptr;
    image_ = nullptr;
    dir_ = nullptr;
  }

  void SetUp() override {
    QM_SKIP_IF_MISSING(test::MissingNtfsMount());
    if (!HaveTool("fls")) GTEST_SKIP() << "The Sleuth Kit is not installed";
    ASSERT_NE(image_, nullptr);
  }

  void Scan(CFastNtfsRecovery& engine) {
    ASSERT_EQ(engine.OpenImage(image_->string(), kTag), 0);
    ASSERT_EQ(engine.Scan(nullptr), 0);
    all_ = AllRecords(engine);
  }

  static TempDir* dir_;
  static fs::path* image_;
  static std::map<std::string, std::string>* originals_;
  std::vector<Found> all_;
  TempDir logs_;  // each test's scan log in a folder of its own
};

TempDir* NtfsQuickScan::dir_ = nullptr;
fs::path* NtfsQuickScan::image_ = nullptr;
std::map<std::string, std::string>* NtfsQuickScan::originals_ = nullptr;

TEST_F(NtfsQuickScan, FindsEveryDeletedFileTheSleuthKitLists) {
  CFastNtfsRecovery engine;
  engine.SetContext(test::TestContext());
  Scan(engine);
  const auto fls = FlsDeletedFiles(*image_);
  ASSERT_GE(fls.size(), 25u);  // the scenario's files and the fillers whose records stayed free
  for (const auto& [path, record] : fls) {
    const Found* f = FindPath(all_, path);
    ASSERT_NE(f, nullptr) << path << " (record " << record << ") not found";
    EXPECT_EQ(Copy(f->record.entryId), record) << path;
  }
  // Nothing live is reported as a file.
  for (const char* live : {"keep.txt", "live/stay.txt", "filler/f1", "reuse.txt"})
    EXPECT_EQ(FindPath(all_, live), nullptr) << live;
}

TEST_F(NtfsQuickScan, RecordsCarryTheFieldsOfTheVolume) {
  CFastNtfsRecovery engine;
  engine.SetContext(test::TestContext());
  Scan(engine);
  for (const Found& f : all_) {
    EXPECT_EQ(Copy(f.record.volumeLetter), kTag);
    EXPECT_EQ(Copy(f.record.engineKind), 0u);
    EXPECT_EQ(Copy(f.record.volumeStartSector), 0u);
    EXPECT_EQ(Copy(f.record.dataAreaSector), 0u);
    if (Copy(f.record.clusterBytes) == kNoClusterChain) continue;  // a lost folder
    EXPECT_EQ(Copy(f.record.clusterBytes), 4096u) << f.path;
    EXPECT_EQ(Copy(f.record.anchorSector), engine.volume().RecordNumberToSector(Copy(f.record.entryId)).value()) << f.path;
    EXPECT_NE(Copy(f.record.writeTime), 0u) << f.path;
    EXPECT_NE(Copy(f.record.creationTime), 0u) << f.path;
  }
  const Found* big = FindPath(all_, "big.bin");
  ASSERT_NE(big, nullptr);
  EXPECT_EQ(Copy(big->record.fileSize), 300000u);
  EXPECT_EQ(Copy(big->record.isDirectory), 0u);

  // A deleted file in a live folder lies under that folder, written with its
  // name; folders of a deleted tree are there with theirs.
  const Found* live = FindPath(all_, "live", true);
  ASSERT_NE(live, nullptr);
  std::vector<FoundFileRecord> children;
  ASSERT_EQ(engine.ListChildren(&live->record, 1, children), 0);
  ASSERT_EQ(children.size(), 1u);
  EXPECT_EQ(children[0].Name(), "gone.pdf");
  EXPECT_NE(FindPath(all_, "tree/a/b", true), nullptr);
  std::vector<FoundFileRecord> root;
  ASSERT_EQ(engine.ListChildren(nullptr, 0, root), 0);
  std::set<std::string> rootNames;
  for (const auto& r : root) rootNames.insert(r.Name());
  for (const char* name : {"small.txt", "big.bin", "tree", "live", "frag.bin"})
    EXPECT_TRUE(rootNames.count(name)) << name;
  EXPECT_EQ(engine.ListChildren(nullptr, 1, root), err::kInvalidParameter);

  // The extension check: an empty resident file and a "picture" of text fail it.
  struct Case {
    const char* path;
    uint32_t contentOk;
  };
  for (const Case& c : {Case{"empty.txt", 0}, Case{"fake.png", 0}, Case{"tree/top.jpg", 1},
                        Case{"live/gone.pdf", 1}, Case{"big.bin", 1}}) {
    const Found* f = FindPath(all_, c.path);
    ASSERT_NE(f, nullptr) << c.path;
    EXPECT_EQ(Copy(f->record.contentOk), c.contentOk) << c.path;
  }
}

TEST_F(NtfsQuickScan, FileOfAReusedFolderLandsInALostFolder) {
  CFastNtfsRecovery engine;
  engine.SetContext(test::TestContext());
  Scan(engine);
  const Found* orphan = nullptr;
  for (const Found& f : all_)
    if (f.record.Name() == "orphan.txt") orphan = &f;
  ASSERT_NE(orphan, nullptr);
  std::string istat;
  ASSERT_EQ(test::Run("ifind -n reuse.txt " + Quote(image_->string()) + " 2>/dev/null", &istat), 0);
  const uint32_t reused = static_cast<uint32_t>(std::stoul(istat));
  EXPECT_EQ(orphan->path, "LostFolder" + std::to_string(reused) + "/orphan.txt");
  const Found* lost = FindPath(all_, "LostFolder" + std::to_string(reused), true);
  ASSERT_NE(lost, nullptr);
  EXPECT_EQ(Copy(lost->record.clusterBytes), kNoClusterChain);
  EXPECT_EQ(Copy(lost->record.entryId), reused);
  EXPECT_EQ(Recover(engine, orphan->record, dir_->path() / "lost-out"), originals_->at("lost/orphan.txt"));
}

TEST_F(NtfsQuickScan, RecoveredBytesEqualTheOriginalsAndIcat) {
  CFastNtfsRecovery engine;
  engine.SetContext(test::TestContext());
  Scan(engine);
  const fs::path out = dir_->path() / "recovered";
  int compared = 0;
  for (const auto& [path, original] : *originals_) {
    if (path == "lost/orphan.txt") continue;  // its path is a lost folder's
    const Found* f = FindPath(all_, path);
    ASSERT_NE(f, nullptr) << path;
    EXPECT_EQ(Copy(f->record.fileSize), original.size()) << path;
    const std::string got = Recover(engine, f->record, out);
    EXPECT_TRUE(got == original) << path << ": " << got.size() << " bytes recovered";
    EXPECT_TRUE(got == Icat(*image_, Copy(f->record.entryId))) << path << " differs from icat";
    ++compared;
  }
  EXPECT_EQ(compared, static_cast<int>(originals_->size()) - 1);

  // The kinds of data that need more than one plain run really are here.
  ntfs::RunList runs;
  const Found* frag = FindPath(all_, "frag.bin");
  ASSERT_EQ(engine.volume().FindAttributeRuns(Copy(frag->record.anchorSector), 0x80, runs), 0);
  EXPECT_GE(runs.size(), 5u);
  runs.clear();
  const Found* sparse = FindPath(all_, "sparse.bin");
  ASSERT_EQ(engine.volume().FindAttributeRuns(Copy(sparse->record.anchorSector), 0x80, runs), 0);
  EXPECT_TRUE(std::any_of(runs.begin(), runs.end(), [](const ntfs::DataRun& r) { return r.sparse; }));
  std::vector<uint8_t> record;
  ntfs::DataStream stream;
  ASSERT_EQ(engine.volume().ReadFileRecord(FindPath(all_, "comp/c.txt")->record.anchorSector, record), 0);
  ASSERT_EQ(engine.volume().LocateData(record, stream), 0);
  EXPECT_TRUE(stream.flags & ntfs::kAttrFlagCompressed);

  // A whole deleted folder comes back with its tree.
  const Found* tree = FindPath(all_, "tree", true);
  ASSERT_NE(tree, nullptr);
  ASSERT_EQ(engine.RecoverItem(tree->record, (out / "tree").string(), 0), 0);
  EXPECT_EQ(ReadBytes(out / "tree" / "a" / "b" / "deep.dat"), originals_->at("tree/a/b/deep.dat"));
  EXPECT_EQ(ReadBytes(out / "tree" / "top.jpg"), originals_->at("tree/top.jpg"));

  // Preview of a text file goes to memory.
  std::vector<uint8_t> buffer(100);
  uint32_t size = static_cast<uint32_t>(buffer.size());
  std::string previewPath;
  ASSERT_EQ(engine.ExtractForPreview(FindPath(all_, "small.txt")->record, previewPath, buffer.data(),
                                     &size, nullptr, nullptr),
            0);
  EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + size), originals_->at("small.txt").substr(0, 100));
}

TEST_F(NtfsQuickScan, ParentFoldersAreReadOncePerScan) {
  CFastNtfsRecovery engine;
  engine.SetContext(test::TestContext());
  Scan(engine);
  // 20 deleted fillers share one folder, the tree three: each folder on a
  // chain is read once, not once per file.
  EXPECT_LE(engine.parentRecordReads(), 10u);
}

int CancelAtOnce(void*, int, int, int64_t, uint64_t, uint64_t, uint64_t, int) { return err::kCancelled; }

TEST_F(NtfsQuickScan, CancelledScanReturnsTheCodeAndWritesNoFolders) {
  CFastNtfsRecovery engine;
  engine.SetContext(test::TestContext());
  ASSERT_EQ(engine.OpenImage(image_->string(), kTag), 0);
  engine.SetCallbacks(CancelAtOnce, nullptr, nullptr, 100);
  EXPECT_EQ(engine.Scan(nullptr), err::kCancelled);
  const auto all = AllRecords(engine, false);
  EXPECT_FALSE(all.empty());
  for (const Found& f : all) EXPECT_EQ(Copy(f.record.isDirectory), 0u) << f.record.Name();
}

struct ProgressLog {
  std::vector<int> steps;
  static int Record(void* user, int step, int scale, int64_t, uint64_t, uint64_t, uint64_t, int) {
    static_cast<ProgressLog*>(user)->steps.push_back(step * scale / 100);
    return 0;
  }
};

TEST_F(NtfsQuickScan, ProgressRisesToOneHundred) {
  CFastNtfsRecovery engine;
  engine.SetContext(test::TestContext());
  ProgressLog progress;
  ASSERT_EQ(engine.OpenImage(image_->string(), kTag), 0);
  engine.SetCallbacks(ProgressLog::Record, nullptr, &progress, 100);
  ASSERT_EQ(engine.Scan(nullptr), 0);
  ASSERT_FALSE(progress.steps.empty());
  EXPECT_TRUE(std::is_sorted(progress.steps.begin(), progress.steps.end()));
  EXPECT_EQ(progress.steps.back(), 100);
}

TEST_F(NtfsQuickScan, FreeExtentsComeFromTheAllocationBitmap) {
  CFastNtfsRecovery engine;
  engine.SetContext(test::TestContext());
  Scan(engine);
  ASSERT_EQ(engine.BuildClusterBitmap(), 0);
  // big.bin was deleted: its clusters are free. keep.txt's record and the
  // $MFT's clusters are not.
  ntfs::RunList runs;
  const Found* big = FindPath(all_, "big.bin");
  ASSERT_EQ(engine.volume().FindAttributeRuns(Copy(big->record.anchorSector), 0x80, runs), 0);
  const uint64_t bigSector = runs[0].lcn * 8;
  uint64_t position = bigSector, length = 0;
  engine.NextFreeExtent(&position, &length);
  EXPECT_EQ(position, bigSector);
  EXPECT_GE(length, 8u);
  const uint64_t mftSector = engine.volume().geometry().mftStartSector;
  position = mftSector;
  engine.NextFreeExtent(&position, &length);
  EXPECT_GT(position, mftSector);
  // Every free run reported lies in space TSK calls unallocated.
  std::string blkls;
  ASSERT_EQ(test::Run("blkls -l -A " + Quote(image_->string()) + " 2>/dev/null | awk -F'|' '$2==\"a\"{print $1}'", &blkls), 0);
  std::set<uint64_t> allocated;
  std::istringstream lines(blkls);
  for (uint64_t c; lines >> c;) allocated.insert(c);
  position = 0;
  int extents = 0;
  for (; extents < 1000; ++extents) {
    engine.NextFreeExtent(&position, &length);
    if (length == 0) break;
    for (uint64_t s = position; s < position + length; s += 8) EXPECT_FALSE(allocated.count(s / 8)) << s;
    position += length;
  }
  EXPECT_GT(extents, 0);
  // Past the end of the volume.
  position = UINT64_MAX / 2;
  engine.NextFreeExtent(&position, &length);
  EXPECT_EQ(position, 64u * 1024 * 1024 / 512);
  EXPECT_EQ(length, 0u);
}

TEST_F(NtfsQuickScan, VolumeInsideADiskIsReadAtItsOffset) {
  // A "disk" of 1 MiB of zeros and then the volume, standing in for drive 0.
  const fs::path disk = dir_->path() / "disk.img";
  ASSERT_EQ(test::Run("dd if=/dev/zero of=" + Quote(disk.string()) + " bs=1M count=1 2>/dev/null && cat " +
                Quote(image_->string()) + " >> " + Quote(disk.string())),
            0);
  ::setenv("QUILLMARK_DISKS", disk.c_str(), 1);
  DiskTable::System().Reload();
  CFastNtfsRecovery engine;
  engine.SetContext(test::TestContext());
  ASSERT_EQ(engine.OpenDisk(0, 2048, 64 * 2048, kTag), 0);
  ASSERT_EQ(engine.Scan(nullptr), 0);
  EXPECT_EQ(engine.log()->MainPath().filename().string().rfind("Fast_2048_", 0), 0u);
  const auto all = AllRecords(engine);
  const Found* big = FindPath(all, "big.bin");
  ASSERT_NE(big, nullptr);
  EXPECT_EQ(Copy(big->record.volumeStartSector), 2048u);
  EXPECT_GE(Copy(big->record.anchorSector), 2048u);
  EXPECT_EQ(Recover(engine, big->record, dir_->path() / "disk-out"), originals_->at("big.bin"));
  ::unsetenv("QUILLMARK_DISKS");
  DiskTable::System().Reload();
}

TEST_F(NtfsQuickScan, GarbageMftEndsPromptly) {
  // Overwrite the $MFT with random bytes, and in a second image point the
  // boot sector's $MFT cluster past the end of the volume.
  CFastNtfsRecovery probe;
  probe.SetContext(test::TestContext());
  ASSERT_EQ(probe.OpenImage(image_->string(), kTag), 0);
  const uint64_t mftByte = probe.volume().geometry().mftStartSector * 512;
  std::string bytes = ReadBytes(*image_);
  std::mt19937 random(42);
  for (uint64_t i = mftByte; i < mftByte + (1 << 20) && i < bytes.size(); ++i)
    bytes[i] = static_cast<char>(random());
  const fs::path garbage = dir_->path() / "garbage.img";
  WriteBytes(garbage, bytes);
  std::string pointer = ReadBytes(*image_);
  for (int i = 0; i < 8; ++i) pointer[0x30 + i] = static_cast<char>(i < 5 ? 0x7F : 0);
  const fs::path away = dir_->path() / "away.img";
  WriteBytes(away, pointer);

  for (const fs::path& image : {garbage, away}) {
    CFastNtfsRecovery engine;
    engine.SetContext(test::TestContext());
    ASSERT_EQ(engine.OpenImage(image.string(), kTag), 0) << image;
    const auto start = std::chrono::steady_clock::now();
    const int rc = engine.Scan(nullptr);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10)) << image;
    EXPECT_TRUE(rc == 0 || rc > 0) << image << " " << rc;
    std::vector<FoundFileRecord> root;
    EXPECT_EQ(engine.ListChildren(nullptr, 0, root), 0);
    EXPECT_TRUE(root.empty()) << image;
  }
}

TEST(NtfsQuickScanOpen, RefusesWhatIsNotAnNtfsVolume) {
  TempDir dir;
  const fs::path zeros = dir / "zeros.img";
  WriteBytes(zeros, std::string(1 << 20, '\0'));
  const fs::path tiny = dir / "tiny.img";
  WriteBytes(tiny, "NTFS");
  CFastNtfsRecovery a, b, c;
  a.SetContext(test::TestContext());
  b.SetContext(test::TestContext());
  c.SetContext(test::TestContext());
  EXPECT_EQ(a.OpenImage(zeros.string(), 1), err::kInvalidData);
  EXPECT_NE(b.OpenImage(tiny.string(), 1), 0);
  EXPECT_EQ(c.OpenImage((dir / "missing.img").string(), 1), err::kFileNotFound);
  EXPECT_EQ(a.Scan(nullptr), err::kInvalidHandle);
}

// A volume of 4 KiB sectors keeps 4 KiB records with eight fixups each.
TEST(NtfsQuickScan4k, FourKibSectorVolume) {
  QM_SKIP_IF_MISSING(test::MissingNtfsMount());
  TempDir dir;
  const fs::path image = dir / "4k.img";
  ASSERT_EQ(test::Run("truncate -s 64M " + Quote(image.string()) + " && PATH=$PATH:/sbin:/usr/sbin mkntfs -q -F -Q -s 4096 -c 4096 " +
                Quote(image.string()) + " >/dev/null"),
            0);
  NtfsImageBuilder b(image, 64);
  ASSERT_TRUE(b.Mount());
  const std::string big = MakeContent(150000, 20), small = MakeContent(1500, 21);
  ASSERT_TRUE(b.AddFile("dir/big.bin", big));
  ASSERT_TRUE(b.AddFile("dir/small.txt", small));
  ASSERT_TRUE(b.Delete("dir/big.bin"));
  ASSERT_TRUE(b.Delete("dir/small.txt"));
  ASSERT_TRUE(b.Unmount());

  CFastNtfsRecovery engine;
  engine.SetContext(test::TestContext());
  ASSERT_EQ(engine.OpenImage(image.string(), kTag), 0);
  EXPECT_EQ(engine.volume().geometry().recordSize, 4096);
  EXPECT_EQ(engine.volume().geometry().bytesPerSector, 4096);
  ASSERT_EQ(engine.Scan(nullptr), 0);
  const auto all = AllRecords(engine);
  const Found* fb = FindPath(all, "dir/big.bin");
  const Found* fs_ = FindPath(all, "dir/small.txt");
  ASSERT_NE(fb, nullptr);
  ASSERT_NE(fs_, nullptr);
  EXPECT_EQ(Recover(engine, fb->record, dir.path() / "out"), big);
  EXPECT_EQ(Recover(engine, fs_->record, dir.path() / "out"), small);
}

}  // namespace
}  // namespace qm::test
