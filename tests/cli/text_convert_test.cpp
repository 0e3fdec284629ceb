// UTF-8 and UTF-16 at the tool's edge: plain ASCII takes a shortcut, so
// mixed texts, surrogate pairs and every refusal are checked around it.
#include <gtest/gtest.h>

#include "text_convert.hpp"

namespace {

using qvvcard::TextToUtf8;
using qvvcard::Utf8ToText;

TEST(TextConvert, RoundTripOfAsciiMixedAndSupplementaryText) {
  const std::u16string texts[] = {
      u"",
      u"Doe",
      u"Gar\u00EDa;Jos\u00E9",
      u"\u00E9t\u00E9",
      u"a\U0001F600b",
      u"\U0001F600",
      u"x\u20AC\u00E9y\u4E2Dz",
      u"tab\tand\r\nbreaks",
  };
  for (const std::u16string& t : texts) {
    std::string utf8;
    ASSERT_TRUE(TextToUtf8(t, utf8));
    std::u16string back = u"stale";
    ASSERT_TRUE(Utf8ToText(utf8, back));
    EXPECT_EQ(back, t);
  }
  std::string utf8 = "stale";
  ASSERT_TRUE(TextToUtf8(u"A\u00E9\U0001F600", utf8));
  EXPECT_EQ(utf8, "A\xC3\xA9\xF0\x9F\x98\x80");
}

TEST(TextConvert, UnpairedSurrogatesAreRefusedWhereverTheyStand) {
  const std::u16string bad[] = {
      std::u16string(1, char16_t{0xD83D}),                  // high at the end
      u"ab" + std::u16string(1, char16_t{0xD83D}) + u"cd",  // high before ASCII
      u"ab" + std::u16string(1, char16_t{0xDE00}),          // lone low
      std::u16string(1, char16_t{0xDE00}) + u"\u00E9",
  };
  for (const std::u16string& t : bad) {
    std::string out = "stale";
    EXPECT_FALSE(TextToUtf8(t, out));
    EXPECT_EQ(out, "");
  }
}

TEST(TextConvert, MalformedUtf8IsRefusedWithItsOffset) {
  struct Case {
    std::string in;
    std::size_t offset;
  } cases[] = {
      {"abc\x80", 3},           // stray continuation after ASCII
      {"\xC3", 0},              // missing continuation
      {"ok\xC0\xAF", 2},        // overlong
      {"x\xED\xA0\x80", 1},     // encoded surrogate
      {"\xF4\x90\x80\x80", 0},  // above U+10FFFF
  };
  for (const Case& c : cases) {
    std::u16string out = u"stale";
    std::size_t offset = 99;
    EXPECT_FALSE(Utf8ToText(c.in, out, &offset)) << c.in;
    EXPECT_EQ(offset, c.offset) << c.in;
  }
}

}  // namespace
