#include "platform/text.h"

#include <gtest/gtest.h>

namespace qm {
namespace {

TEST(Text, Utf16RoundTripsIncludingSurrogatesAndRejectsBrokenOnes) {
  const std::string samples[] = {"plain", "Grüße", "Фото", "日本語", "emoji 😀 end"};
  for (const auto& s : samples) EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16(s)), s) << s;
  EXPECT_EQ(Utf16ToUtf8(std::u16string{u'a', char16_t(0xD800), u'b'}), "a\xEF\xBF\xBD" "b");
  EXPECT_EQ(Utf8ToUtf16("\xC3"), std::u16string(1, char16_t(0xFFFD)));  // truncated sequence
  const uint8_t le[] = {'H', 0, 0xE9, 0, 0, 0, 'x', 0};
  EXPECT_EQ(Utf16LeBytesToUtf8(le, 4), "H\xC3\xA9");  // stops at the NUL unit
}

TEST(Text, Cp437DecodesShortNameBytes) {
  const uint8_t name[] = {'C', 'A', 'F', 0x90, 0x81, 0xE1, 0};
  EXPECT_EQ(Cp437ToUtf8(name, sizeof name), "CAFÉüß");
}

TEST(Text, CutNeverSplitsACharacter) {
  std::string name(258, 'a');
  name += "é";  // bytes 258..259
  EXPECT_EQ(CutUtf8(name).size(), 258u);
  EXPECT_EQ(CutUtf8("short"), "short");
  char field[8];
  CopyNameToField("abcdef日本", field, sizeof field);
  EXPECT_EQ(NameFromField(field, sizeof field), "abcdef");
  char full[4] = {'a', 'b', 'c', 'd'};  // no NUL: never read past the field
  EXPECT_EQ(NameFromField(full, sizeof full), "abcd");
}

TEST(Text, CaseInsensitiveCompare) {
  EXPECT_EQ(CompareNamesNoCase("PHOTO.JPG", "photo.jpg"), 0);
  EXPECT_EQ(CompareNamesNoCase("ÄRGER", "ärger"), 0);
  EXPECT_LT(CompareNamesNoCase("apple", "Banana"), 0);
  EXPECT_GT(CompareNamesNoCase("abc", "ab"), 0);
  EXPECT_EQ(LowerUtf8("ДОК.TXT"), "док.txt");
}

}  // namespace
}  // namespace qm
