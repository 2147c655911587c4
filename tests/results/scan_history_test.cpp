#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>

#include "platform/errors.h"
#include "platform/text.h"
#include "results/scan_history.h"
#include "support/test_support.h"

namespace qm::test {
namespace {

class ScanHistoryTest : public ::testing::Test {
 protected:
  fs::path ScanLog() const { return temp_.path() / "ScanLog"; }
  fs::path Index() const { return ScanLog() / "config"; }
  std::string FolderText(int n) const { return (ScanLog() / std::to_string(n)).string() + "/"; }
  // A scan folder with one log file in it.
  fs::path MakeScanFolder(int n) const {
    fs::path folder = ScanLog() / std::to_string(n);
    WriteBytes(folder / "Pro_Fat_0_20261271030", "records");
    return folder;
  }

  TempDir temp_;
};

ResumePoint Resume(uint64_t seed) { return {seed, seed + 1, seed + 2, seed + 3, seed + 4}; }

TEST_F(ScanHistoryTest, FirstStartUsesFolderOne) {
  ScanHistory history(ScanLog());
  EXPECT_EQ(history.FolderCounter(), 0u);
  EXPECT_TRUE(history.Entries().empty());
  EXPECT_EQ(history.StartNewScanFolder().string(), FolderText(1));
  EXPECT_EQ(history.CurrentScanFolder().string(), FolderText(1));
  history.StartNewScanFolder();
  history.ReleaseScanFolder();  // a scan that wrote nothing gives its number back
  EXPECT_EQ(history.CurrentScanFolder().string(), FolderText(1));
}

TEST_F(ScanHistoryTest, IndexFileLayoutAndReload) {
  const std::string image = (temp_.path() / "ïmage.img").string();
  WriteBytes(image, std::string(4096, '\0'));
  {
    ScanHistory history(ScanLog());
    history.StartNewScanFolder();
    history.StartNewScanFolder();
    ASSERT_EQ(history.SaveHistoryEntry(3, 2048, 1000000, 512000000, Resume(10),
                                       ScanLog() / "1"), 0);
    ASSERT_EQ(history.SaveHistoryEntry(0, 0, 8, 0, Resume(20), ScanLog() / "2", image), 0);
  }
  const std::string bytes = ReadBytes(Index());
  ASSERT_EQ(bytes.size(), 8u + 2 * 1120);
  uint64_t counter = 0;
  std::memcpy(&counter, bytes.data(), 8);
  EXPECT_EQ(counter, 2u);
  HistoryEntry volume{}, img{};
  std::memcpy(&volume, bytes.data() + 8, 1120);
  std::memcpy(&img, bytes.data() + 8 + 1120, 1120);
  EXPECT_EQ(+volume.driveNumber, 3);
  EXPECT_EQ(+volume.volumeStart, 2048u);
  EXPECT_EQ(+volume.extentDone, 12u);
  EXPECT_EQ(+volume.filesFound, 14u);
  EXPECT_EQ(+volume.volumeBytes, 512000000u);
  EXPECT_EQ(+volume.imageTime, 0u);
  // Paths are UTF-16LE at offsets 80 and 600 of the entry.
  std::u16string wide = Utf8ToUtf16(FolderText(1));
  std::string expected;
  for (char16_t u : wide) expected += {static_cast<char>(u & 0xFF), static_cast<char>(u >> 8)};
  EXPECT_EQ(bytes.substr(8 + 600, expected.size()), expected);
  EXPECT_EQ(+img.driveNumber, kImageDriveNumber);
  EXPECT_EQ(img.ImagePath(), image);
  EXPECT_EQ(+img.imageTime, FileModificationTime(image));
  EXPECT_NE(+img.imageTime, 0u);

  ScanHistory reloaded(ScanLog());
  EXPECT_EQ(reloaded.FolderCounter(), 2u);
  HistoryEntry found{};
  ASSERT_TRUE(reloaded.FindHistoryForVolume(3, 2048, 1000000, 512000000, &found));
  EXPECT_TRUE(reloaded.Matched());
  EXPECT_EQ(+found.extentStart, 10u);
  EXPECT_EQ(reloaded.CurrentScanFolder().string(), FolderText(1));
  ASSERT_TRUE(reloaded.FindHistoryForImage(image, &found));
  EXPECT_EQ(+found.totalDone, 23u);
  EXPECT_EQ(reloaded.CurrentScanFolder().string(), FolderText(2));
  EXPECT_FALSE(reloaded.FindHistoryForVolume(4, 2048, 1000000, 512000000));
  EXPECT_FALSE(reloaded.Matched());
  EXPECT_EQ(reloaded.CurrentScanFolder().string(), FolderText(2));  // the counter's folder
}

TEST_F(ScanHistoryTest, StaleVolumeAndChangedImageAreDroppedWithTheirFolders) {
  const fs::path image = temp_.path() / "disk.img";
  WriteBytes(image, std::string(4096, '\0'));
  {
    ScanHistory history(ScanLog());
    ASSERT_EQ(history.SaveHistoryEntry(1, 63, 5000, 2560000, Resume(1), MakeScanFolder(1)), 0);
    ASSERT_EQ(history.SaveHistoryEntry(0, 0, 8, 0, Resume(2), MakeScanFolder(2), image), 0);
  }
  ScanHistory history(ScanLog());
  // Same volume, reformatted to another size.
  EXPECT_FALSE(history.FindHistoryForVolume(1, 63, 5000, 9999999));
  EXPECT_FALSE(fs::exists(ScanLog() / "1"));
  EXPECT_TRUE(fs::exists(ScanLog() / "2"));
  // The image is unchanged: found; then written to: dropped.
  EXPECT_TRUE(history.FindHistoryForImage(image.string()));
  fs::last_write_time(image, fs::last_write_time(image) + std::chrono::seconds(5));
  EXPECT_FALSE(history.FindHistoryForImage(image.string()));
  EXPECT_FALSE(fs::exists(ScanLog() / "2"));
  EXPECT_TRUE(history.Entries().empty());
  // The drop is on disk too: the next start offers nothing to resume.
  EXPECT_TRUE(ScanHistory(ScanLog()).Entries().empty());
}

TEST_F(ScanHistoryTest, SavingTwiceForOneVolumeKeepsOneEntry) {
  const fs::path image = temp_.path() / "disk.img";
  WriteBytes(image, "x");
  ScanHistory history(ScanLog());
  ASSERT_EQ(history.SaveHistoryEntry(2, 100, 200, 300, Resume(1), ScanLog() / "1"), 0);
  ASSERT_EQ(history.SaveHistoryEntry(2, 100, 200, 300, Resume(50), ScanLog() / "1"), 0);
  ASSERT_EQ(history.SaveHistoryEntry(0, 0, 1, 0, Resume(7), ScanLog() / "2", image.string()), 0);
  ASSERT_EQ(history.SaveHistoryEntry(0, 0, 1, 0, Resume(8), ScanLog() / "2", image.string()), 0);
  std::vector<HistoryEntry> entries = ScanHistory(ScanLog()).Entries();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(+entries[0].extentStart, 50u);
  EXPECT_EQ(+entries[1].extentStart, 8u);
  // A stale entry of the volume is replaced, not joined by a second one.
  MakeScanFolder(1);
  ASSERT_EQ(history.SaveHistoryEntry(2, 100, 200, 999, Resume(60), MakeScanFolder(3)), 0);
  entries = history.Entries();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(+entries[1].volumeBytes, 999u);
  EXPECT_EQ(entries[1].Folder(), FolderText(3));
  EXPECT_FALSE(fs::exists(ScanLog() / "1"));
}

TEST_F(ScanHistoryTest, CrashBeforeTheRenameLosesNothing) {
  {
    ScanHistory history(ScanLog());
    history.StartNewScanFolder();
    ASSERT_EQ(history.SaveHistoryEntry(1, 2, 3, 4, Resume(5), ScanLog() / "1"), 0);
  }
  EXPECT_FALSE(fs::exists(ScanLog() / "config.tmp"));
  const std::string saved = ReadBytes(Index());
  // Stopped after config.tmp was complete but before it became config.
  fs::rename(Index(), ScanLog() / "config.tmp");
  {
    ScanHistory history(ScanLog());
    EXPECT_EQ(history.FolderCounter(), 1u);
    ASSERT_EQ(history.Entries().size(), 1u);
    EXPECT_TRUE(history.FindHistoryForVolume(1, 2, 3, 4));
  }
  EXPECT_EQ(ReadBytes(Index()), saved);
  EXPECT_FALSE(fs::exists(ScanLog() / "config.tmp"));
  // Stopped while config.tmp was being written: the old config stands.
  WriteBytes(ScanLog() / "config.tmp", saved.substr(0, 500));
  ScanHistory history(ScanLog());
  EXPECT_EQ(history.Entries().size(), 1u);
}

TEST_F(ScanHistoryTest, DamagedIndexKeepsWholeEntriesOnly) {
  WriteBytes(Index(), "abc");
  EXPECT_EQ(ScanHistory(ScanLog()).FolderCounter(), 0u);
  HistoryEntry entry{};
  entry.driveNumber = 5;
  entry.SetFolder(FolderText(4));
  std::string bytes(8, '\0');
  bytes[0] = 9;
  bytes += std::string(reinterpret_cast<const char*>(&entry), sizeof entry);
  bytes += std::string(700, '\x55');
  WriteBytes(Index(), bytes);
  ScanHistory history(ScanLog());
  EXPECT_EQ(history.FolderCounter(), 9u);
  ASSERT_EQ(history.Entries().size(), 1u);
  EXPECT_EQ(history.Entries()[0].Folder(), FolderText(4));
}

TEST_F(ScanHistoryTest, StartingAFolderSkipsNumbersWhoseFolderStillHoldsAScan) {
  {
    ScanHistory history(ScanLog());
    ASSERT_EQ(history.SaveHistoryEntry(1, 2, 3, 4, Resume(5), MakeScanFolder(1)), 0);
  }
  MakeScanFolder(3);
  // The counter on disk is 0, but folder 1 holds a scan: it is kept, and so is its entry.
  {
    ScanHistory history(ScanLog());
    EXPECT_EQ(history.StartNewScanFolder().string(), FolderText(2));
    EXPECT_TRUE(fs::is_directory(ScanLog() / "2"));
    EXPECT_TRUE(fs::exists(ScanLog() / "1" / "Pro_Fat_0_20261271030"));
    EXPECT_EQ(history.Entries().size(), 1u);
  }
  // A second process goes on from the saved counter, past folder 3.
  ScanHistory next(ScanLog());
  EXPECT_EQ(next.FolderCounter(), 2u);
  EXPECT_EQ(next.StartNewScanFolder().string(), FolderText(4));
  next.ReleaseScanFolder();  // empty: the number is given back
  EXPECT_FALSE(fs::exists(ScanLog() / "4"));
  EXPECT_EQ(ScanHistory(ScanLog()).FolderCounter(), 3u);
  EXPECT_EQ(next.DeleteHistoryEntry(ScanLog() / "does-not-exist"), 0);
}

TEST_F(ScanHistoryTest, HostileIndexCannotDeleteOutsideTheScanLogFolder) {
  const fs::path home = temp_.path() / "home";
  WriteBytes(home / "precious.txt", "keep me");
  const fs::path outsideTarget = temp_.path() / "elsewhere";
  WriteBytes(outsideTarget / "also.txt", "keep me too");
  fs::create_directory_symlink(outsideTarget, ScanLog() / "link");
  fs::create_directory_symlink(ScanLog(), temp_.path() / "scanlog-alias");
  WriteBytes(ScanLog() / "9" / "old.log", "old");

  // Each hostile path is named by a stale entry, so that looking the volume
  // up tries to delete it; the last one is a real scan folder.
  const std::vector<std::string> folders = {
      home.string() + "/",
      (ScanLog() / ".." / "home").string() + "/",
      (ScanLog() / "9" / ".." / ".." / "home").string(),
      (ScanLog() / "link").string() + "/",
      (ScanLog() / "link" / ".." / "home").string(),
      ScanLog().string() + "/",
      (ScanLog() / ".").string(),
      (temp_.path() / "scanlog-alias").string() + "/",
      (ScanLog() / "config").string(),
      "",
      "relative/path/",
      (ScanLog() / "9").string() + "/",
  };
  std::string bytes(8, '\0');
  for (size_t i = 0; i < folders.size(); ++i) {
    HistoryEntry entry{};
    entry.driveNumber = static_cast<int32_t>(i);
    entry.volumeBytes = 1;
    ASSERT_TRUE(entry.SetFolder(folders[i]));
    bytes += std::string(reinterpret_cast<const char*>(&entry), sizeof entry);
  }
  WriteBytes(Index(), bytes);

  ScanHistory history(ScanLog());
  for (size_t i = 0; i < folders.size(); ++i) {
    SCOPED_TRACE(folders[i]);
    EXPECT_FALSE(history.FindHistoryForVolume(static_cast<int32_t>(i), 0, 0, 2));
    ASSERT_EQ(ReadBytes(home / "precious.txt"), "keep me");
    ASSERT_EQ(ReadBytes(outsideTarget / "also.txt"), "keep me too");
    ASSERT_TRUE(fs::is_directory(ScanLog()));
    ASSERT_TRUE(fs::is_symlink(ScanLog() / "link"));
  }
  EXPECT_FALSE(fs::exists(ScanLog() / "9"));  // the one real scan folder went
  EXPECT_TRUE(history.Entries().empty());
  // An entry that matches but names a folder outside is not resumed: the
  // logs would otherwise be written there.
  ASSERT_EQ(history.SaveHistoryEntry(1, 2, 3, 4, Resume(5), home), 0);
  EXPECT_FALSE(history.FindHistoryForVolume(1, 2, 3, 4));
  EXPECT_EQ(history.CurrentScanFolder().parent_path().parent_path(), ScanLog());
  EXPECT_EQ(ReadBytes(home / "precious.txt"), "keep me");
  // Direct requests are refused the same way; the root of the file system
  // is asked for only after every case above kept its files.
  EXPECT_EQ(history.DeleteHistoryEntry(home), err::kAccessDenied);
  EXPECT_EQ(history.DeleteHistoryEntry(ScanLog() / ".."), err::kAccessDenied);
  EXPECT_EQ(history.DeleteHistoryEntry("/"), err::kAccessDenied);
  EXPECT_TRUE(fs::exists(home / "precious.txt"));
}

TEST(GetScanHistoryTest, FollowsTheDataFolderOfTheProcess) {
  fs::path first;
  {
    TempDir temp;
    first = GetScanHistory().StartNewScanFolder();
    EXPECT_EQ(first, temp.path() / "ScanLog" / "1/");
    EXPECT_EQ(GetScanHistory().CurrentScanFolder(), first);
  }
  TempDir other;
  EXPECT_EQ(GetScanHistory().ScanLogPath(), other.path() / "ScanLog");
  EXPECT_EQ(GetScanHistory().FolderCounter(), 0u);
}

}  // namespace
}  // namespace qm::test
