#include "app/image_destination.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace qm {
namespace {

constexpr uint64_t GiB = 1ull << 30;

TEST(ImageDestination, ChecksRunInOrderAndTheFirstFailureNamesItsMessage) {
  const struct {
    const char* name;
    uint64_t source;
    DestinationFacts facts;
    const char* refusal;
  } cases[] = {
      {"3 GiB to FAT32", 3 * GiB, {false, "FAT32", 100 * GiB}, ""},
      {"5 GiB to FAT32", 5 * GiB, {false, "FAT32", 100 * GiB}, "MSG0220"},
      {"exactly 4 GiB to FAT32", 4 * GiB, {false, "FAT32", 100 * GiB}, ""},
      {"3 GiB to FAT16", 3 * GiB, {false, "FAT", 100 * GiB}, "MSG0219"},
      {"2 GiB to FAT16", 2 * GiB, {false, "FAT", 100 * GiB}, ""},
      {"5 GiB to ext4", 5 * GiB, {false, "", 100 * GiB}, ""},
      {"free space exactly the size", 3 * GiB, {false, "", 3 * GiB}, "MSG0221"},
      {"one byte more free", 3 * GiB, {false, "", 3 * GiB + 1}, ""},
      {"free space unknown", 3 * GiB, {false, "", std::nullopt}, ""},
      {"onto the source, before anything else", 5 * GiB, {true, "FAT32", 0}, "MSG0218"},
  };
  for (const auto& c : cases) EXPECT_EQ(RefuseImageDestination(c.source, c.facts), c.refusal) << c.name;
}

TEST(ImageDestination, AFolderOfThisMachineIsInspected) {
  test::TempDir folder;
  const DestinationFacts facts = InspectDestination(folder / "new folder/x.img", "/dev/null", false);
  EXPECT_FALSE(facts.onSource);
  ASSERT_TRUE(facts.freeBytes.has_value());
  EXPECT_GT(*facts.freeBytes, 0u);
}

}  // namespace
}  // namespace qm
