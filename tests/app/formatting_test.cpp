#include "app/formatting.h"

#include <gtest/gtest.h>

#include "platform/filetime.h"

namespace qm {
namespace {

TEST(Formatting, SizesSwitchUnitAtEachPowerOfTwo) {
  const struct {
    int64_t bytes;
    const char* text;
  } cases[] = {
      {0, "0 Bytes"},
      {1023, "1023 Bytes"},
      {1024, "1.00 KB"},
      {1536, "1.50 KB"},
      {1048575, "1024.00 KB"},
      {1048576, "1.00 MB"},
      {1073741824, "1.00 GB"},
      {1099511627775, "1024.00 GB"},
      {1099511627776, "1.00 TB"},
      {-1, "-1 Bytes"},
      {-5000, "-5000 Bytes"},
      {INT64_MAX, "8388608.00 TB"},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatSize(c.bytes), c.text) << c.bytes;
}

TEST(Formatting, DurationsShowTheTwoLargestUnits) {
  const struct {
    int64_t seconds;
    const char* text;
  } cases[] = {
      {0, "0 Sec"},    {59, "59 Sec"},         {60, "1 Min 0 Sec"},       {3599, "59 Min 59 Sec"},
      {3600, "1 Hour 0 Min"}, {3661, "1 Hour 1 Min"}, {90061, "25 Hour 1 Min"}, {-5, "-5 Sec"},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatDuration(c.seconds), c.text) << c.seconds;
}

TEST(Formatting, FileTimesAreShownAsStoredWithoutZoneShift) {
  const struct {
    CivilTime civil;
    const char* text;
  } cases[] = {
      {{2024, 3, 7, 9, 5, 0}, "2024-3-7 09:05:00"},
      {{1999, 12, 31, 23, 59, 59}, "1999-12-31 23:59:59"},
      {{2000, 2, 29, 0, 0, 1}, "2000-2-29 00:00:01"},
  };
  // The zone of the machine must not move the time.
  setenv("TZ", "America/New_York", 1);
  tzset();
  for (const auto& c : cases) {
    uint64_t fileTime = 0;
    ASSERT_TRUE(CivilToFileTime(c.civil, fileTime));
    EXPECT_EQ(FormatFileTime(fileTime), c.text);
  }
  EXPECT_EQ(FormatFileTime(0), "1601-1-1 00:00:00");
}

TEST(Formatting, IconsFollowTheCategoryListsInTheirOrder) {
  const struct {
    const char* type;
    bool good;
    const char* icon;
  } cases[] = {
      {"JPG", false, "FileIcon/image_error.svg"},
      {"jpg", true, "FileIcon/image.svg"},
      {"Folder", false, "FileIcon/folder.svg"},
      {"folder", true, "FileIcon/folder.svg"},
      {"file", true, "FileIcon/default.svg"},
      {"file", false, "FileIcon/default_error.svg"},
      {"EXE", true, "FileIcon/exe.svg"},
      {"exe", false, "FileIcon/exe_error.svg"},
      // Found in the audio list before the video list.
      {"rm", true, "FileIcon/music.svg"},
      {"htm", true, "FileIcon/doc.svg"},
      // Whole extensions only: "c" is inside "*.pcx", "md" inside "*.mdb".
      {"c", true, "FileIcon/default.svg"},
      {"md", false, "FileIcon/default_error.svg"},
      {"p", true, "FileIcon/default.svg"},
      {"", true, "FileIcon/default.svg"},
      {"mp4", true, "FileIcon/video.svg"},
      {"zip", false, "FileIcon/zip_error.svg"},
      {"qqq", true, "FileIcon/default.svg"},
  };
  for (const auto& c : cases) EXPECT_EQ(FileIconPath(c.type, c.good), c.icon) << c.type << " " << c.good;
}

}  // namespace
}  // namespace qm
