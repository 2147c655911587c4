#include "platform/filetime.h"

#include <gtest/gtest.h>

namespace qm {
namespace {

TEST(FileTime, CivilRoundTripAndKnownValues) {
  uint64_t ft = 0;
  ASSERT_TRUE(CivilToFileTime({1970, 1, 1, 0, 0, 0, 0}, ft));
  EXPECT_EQ(ft, kFileTimeUnixEpoch);
  ASSERT_TRUE(CivilToFileTime({1601, 1, 1, 0, 0, 0, 0}, ft));
  EXPECT_EQ(ft, 0u);
  const CivilTime leap{2024, 2, 29, 23, 59, 58, 500};
  ASSERT_TRUE(CivilToFileTime(leap, ft));
  CivilTime back = FileTimeToCivil(ft);
  EXPECT_EQ(back.year, 2024);
  EXPECT_EQ(back.month, 2);
  EXPECT_EQ(back.day, 29);
  EXPECT_EQ(back.hour, 23);
  EXPECT_EQ(back.minute, 59);
  EXPECT_EQ(back.second, 58);
  EXPECT_EQ(back.millisecond, 500);
  EXPECT_EQ(FileTimeToIso(ft), "2024-02-29T23:59:58");
  EXPECT_EQ(FileTimeToUnix(UnixToFileTime(1700000000)), 1700000000);
}

TEST(FileTime, RejectsImpossibleDates) {
  const CivilTime bad[] = {{2023, 2, 29, 0, 0, 0, 0}, {2023, 13, 1, 0, 0, 0, 0},
                           {2023, 0, 1, 0, 0, 0, 0},  {2023, 1, 1, 24, 0, 0, 0},
                           {1600, 12, 31, 0, 0, 0, 0}, {2023, 4, 31, 0, 0, 0, 0}};
  for (const auto& c : bad) {
    uint64_t ft = 1;
    EXPECT_FALSE(CivilToFileTime(c, ft)) << c.year << "-" << c.month << "-" << c.day;
    EXPECT_EQ(ft, 0u);
  }
}

}  // namespace
}  // namespace qm
