#include "app/message_format.h"

#include <gtest/gtest.h>

namespace qm {
namespace {

// Language files are edited by users: their placeholders must never reach
// printf, and a missing argument must not read anything.
TEST(MessageFormat, PlaceholdersTakeArgumentsInOrderAndNothingElse) {
  const struct {
    const char* text;
    QStringList arguments;
    const char* filled;
  } cases[] = {
      {"Scanning drive %c:", {"E"}, "Scanning drive E:"},
      {"Processed %d of %d files: %d recovered, %d failed", {"4", "4", "3", "1"},
       "Processed 4 of 4 files: 3 recovered, 1 failed"},
      {"%s files", {}, "%s files"},
      {"%n%x%s%%", {"a"}, "%n%xa%"},
      {"100%", {"a"}, "100%"},
  };
  for (const auto& c : cases) EXPECT_EQ(FillMessage(c.text, c.arguments), c.filled) << c.text;
}

}  // namespace
}  // namespace qm
