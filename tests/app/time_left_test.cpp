#include "app/time_left.h"

#include <gtest/gtest.h>

#include <vector>

namespace qm::testing {
namespace {

using namespace std::chrono_literals;

struct Step {
  std::chrono::milliseconds at;
  uint64_t done;
  uint64_t total;
};

// The estimate after the last step, each step given at its time from a
// fixed start.
int64_t EstimateAfter(const std::vector<Step>& steps) {
  TimeLeftEstimate estimate;
  const TimeLeftEstimate::Clock::time_point start{};
  int64_t left = -2;
  for (const Step& step : steps) left = estimate.Add(start + step.at, step.done, step.total);
  return left;
}

TEST(TimeLeftEstimate, FollowsThePaceOfTheLastSeconds) {
  const struct {
    const char* what;
    std::vector<Step> steps;
    int64_t left;
  } cases[] = {
      {"nothing to measure yet", {{0ms, 0, 1000}}, -1},
      {"less than two seconds of progress", {{0ms, 0, 1000}, {1500ms, 100, 1000}}, -1},
      {"a steady pace", {{0ms, 0, 1000}, {5s, 100, 1000}}, 45},
      // 20 s for the first 100 units, then 100 a second: the 1000 left take
      // 10 s, not the 27 s the average over the whole run would say.
      {"a slow start is forgotten",
       {{0ms, 0, 2200}, {20s, 100, 2200}, {21s, 200, 2200}, {25s, 600, 2200}, {31s, 1200, 2200}},
       10},
      {"done", {{0ms, 0, 1000}, {3s, 1000, 1000}}, 0},
      {"a new pass with another total starts afresh", {{0ms, 0, 1000}, {5s, 500, 1000}, {6s, 10, 4000}}, -1},
      {"no progress says nothing", {{0ms, 100, 1000}, {5s, 100, 1000}}, -1},
  };
  for (const auto& c : cases) EXPECT_EQ(EstimateAfter(c.steps), c.left) << c.what;
}

}  // namespace
}  // namespace qm::testing
