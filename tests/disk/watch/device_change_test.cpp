// Settling device events into refreshes, and telling which kernel block
// events are arrivals or removals.
#include <gtest/gtest.h>

#include <fstream>

#include "disk/watch/block_event_filter.h"
#include "disk/watch/device_change_debouncer.h"
#include "support/test_support.h"

namespace qm {
namespace {

using Kind = DeviceChange;

struct Step {
  uint64_t at;
  std::optional<Kind> event;               // noted at `at`
  std::optional<DeviceRefresh> expectFire;  // what Fire(at) gives after that
};

TEST(DeviceChangeDebouncerTest, BurstsSettleIntoOneRefreshFiveSecondsAfterTheFirstEvent) {
  const DeviceRefresh arrival{true, false}, removal{false, true}, both{true, true};
  struct Timeline {
    const char* name;
    std::vector<Step> steps;
  };
  const std::vector<Timeline> timelines = {
      {"a burst of arrivals",
       {{0, Kind::kArrival, {}}, {100, Kind::kArrival, {}}, {4999, Kind::kArrival, {}},
        {5000, {}, arrival}, {9999, {}, {}}, {20000, {}, {}}}},
      {"a removal",
       {{10, Kind::kRemoval, {}}, {5009, {}, {}}, {5010, {}, removal}}},
      {"a removal while an arrival is pending is not lost",
       {{0, Kind::kArrival, {}}, {3000, Kind::kRemoval, {}}, {5000, {}, both}, {8000, {}, {}}}},
      {"a new burst after a refresh starts a new timer",
       {{0, Kind::kArrival, {}}, {5000, {}, arrival}, {5001, Kind::kArrival, {}},
        {10000, {}, {}}, {10001, {}, arrival}}},
  };
  for (const auto& t : timelines) {
    SCOPED_TRACE(t.name);
    DeviceChangeDebouncer d;
    for (const auto& step : t.steps) {
      SCOPED_TRACE(step.at);
      if (step.event) d.Note(*step.event, step.at);
      const auto fired = d.Fire(step.at);
      ASSERT_EQ(fired.has_value(), step.expectFire.has_value());
      if (fired) {
        EXPECT_EQ(fired->arrival, step.expectFire->arrival);
        EXPECT_EQ(fired->removal, step.expectFire->removal);
        EXPECT_FALSE(d.NextDeadline().has_value());
      }
    }
  }
  DeviceChangeDebouncer d;
  EXPECT_FALSE(d.NextDeadline());
  d.Note(Kind::kRemoval, 700);
  d.Note(Kind::kArrival, 900);
  EXPECT_EQ(d.NextDeadline(), 5700u);
}

TEST(BlockEventFilterTest, ClassifiesKernelEvents) {
  test::TempDir dir;
  for (const auto& [name, size] : std::vector<std::pair<std::string, std::string>>{
           {"sda", "1000"}, {"loop0", "0"}, {"loop1", "2048"}}) {
    std::filesystem::create_directories(dir / ("sys/block/" + name));
    std::ofstream(dir / ("sys/block/" + name + "/size")) << size << "\n";
  }
  BlockEventFilter filter;
  filter.Prime(dir.path());
  struct Event {
    const char* action;
    const char* devType;
    const char* name;
    uint64_t sectors;
    std::optional<Kind> expected;
  };
  const std::vector<Event> events = {
      {"change", "disk", "loop0", 131072, Kind::kArrival},  // a file attached
      {"change", "disk", "loop0", 131072, {}},              // a second change is no news
      {"add", "partition", "loop0p1", 40000, Kind::kArrival},
      {"remove", "partition", "loop0p1", 0, Kind::kRemoval},
      {"change", "disk", "loop0", 0, Kind::kRemoval},       // detached
      {"change", "disk", "loop0", 0, {}},
      {"change", "disk", "loop1", 0, Kind::kRemoval},       // had a file when primed
      {"change", "disk", "sda", 1000, {}},                  // e.g. a rescan, nothing new
      {"add", "disk", "sdb", 5000, Kind::kArrival},
      {"remove", "disk", "sdb", 0, Kind::kRemoval},
      {"add", "disk", "zram0", 5000, {}},                   // never a disk of the table
      {"add", "disk", "dm-0", 5000, {}},
      {"move", "disk", "sda", 1000, {}},
  };
  for (const auto& e : events) {
    SCOPED_TRACE(std::string(e.action) + " " + e.name);
    EXPECT_EQ(filter.Classify(e.action, e.devType, e.name, e.sectors), e.expected);
  }
}

}  // namespace
}  // namespace qm
