// UTF-8 and UTF-16 at the tool's edge: plain ASCII takes a shortcut, so
// mixed texts, surrogate pairs and every refusal are checked around it.
#include <gtest/gtest.h>
#include <utf8.h>

#include <algorithm>
#include <iterator>
#include <memory>
#include <random>
#include <string>

#include "bridge/utf.hpp"

namespace {

using qv_VCard::bridge::TextToUtf8;
using qv_VCard::bridge::Utf8ToText;

// ASCII that lies at the edges of the range, so that a shortcut taking a
// byte or unit above it for ASCII, or the reverse, shows.
template <typename Char>
std::basic_string<Char> AsciiFiller(std::size_t n) {
  static constexpr char kUnits[] = {'A', '\x7F', '\x01', 'z', '\0', '~', ' '};
  std::basic_string<Char> s;
  for (std::size_t i = 0; i < n; ++i) s.push_back(static_cast<Char>(kUnits[i % sizeof kUnits]));
  return s;
}

// A text in storage of exactly its size, with nothing after it, so that a
// read past its end is an error the sanitizers see.
template <typename Char>
class Exact {
 public:
  explicit Exact(const std::basic_string<Char>& s)
      : data_(std::make_unique<Char[]>(s.size())), size_(s.size()) {
    std::copy(s.begin(), s.end(), data_.get());
  }
  std::basic_string_view<Char> view() const { return {data_.get(), size_}; }

 private:
  std::unique_ptr<Char[]> data_;
  std::size_t size_;
};

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

// The conversions go through ASCII in blocks; whatever the length of the
// text and wherever a non-ASCII or malformed piece stands in it (in a block,
// across two, in the short tail), the outcome is the library's.
TEST(TextConvert, Utf8AgreesWithTheLibraryWhereverAPieceStands) {
  const std::string pieces[] = {
      "\xC3\xA9",
      "\xC2\x80",
      "\xDF\xBF",
      "\xE2\x82\xAC",
      "\xF0\x9F\x98\x80",
      "\xC3\xA9\xC3\xA9",
      "\xC3\xA9\xE2\x82\xAC",
      "\xC3\xA9\x80",
      "\xC3\xC3\xA9",
      "\xC3\xE2\x82\xAC",
      "\x80",
      "\xC3",
      "\xE2\x82",
      "\xED\xA0\x80",
      "\xC0\xAF",
      "\xC1\xBF",
      "\xF4\x90\x80\x80",
      "\xFF",
  };
  for (std::size_t length = 0; length <= 40; ++length) {
    for (std::size_t at = 0; at <= length; ++at) {
      for (const std::string& piece : pieces) {
        std::string in = AsciiFiller<char>(length);
        in.insert(at, piece);
        const auto bad = utf8::find_invalid(in.begin(), in.end());
        std::u16string out = u"stale";
        std::size_t offset = 999;
        const bool ok = Utf8ToText(Exact(in).view(), out, &offset);
        ASSERT_EQ(ok, bad == in.end()) << length << " " << at << " " << piece;
        if (!ok) {
          EXPECT_EQ(offset, static_cast<std::size_t>(bad - in.begin())) << length << " " << at;
          EXPECT_EQ(out, u"");
          continue;
        }
        std::u16string expected;
        utf8::utf8to16(in.begin(), in.end(), std::back_inserter(expected));
        ASSERT_EQ(out, expected) << length << " " << at << " " << piece;
        std::string back = "stale";
        ASSERT_TRUE(TextToUtf8(out, back));
        EXPECT_EQ(back, in) << length << " " << at;
      }
    }
  }
  // Plain ASCII of every length, the shortcut's own ground.
  for (std::size_t length = 0; length <= 70; ++length) {
    const std::string in = AsciiFiller<char>(length);
    std::u16string out;
    ASSERT_TRUE(Utf8ToText(in, out));
    EXPECT_EQ(out, AsciiFiller<char16_t>(length));
  }
}

TEST(TextConvert, Utf16AgreesWithTheLibraryWhereverAPieceStands) {
  const std::u16string pieces[] = {
      u"\u0080",
      u"\u00FF",
      u"\u0100",
      u"\u07FF",
      u"\u0800",
      u"\uFFFF",
      u"\U0001F600",
      std::u16string(1, char16_t{0xD83D}),                                   // high alone
      std::u16string(1, char16_t{0xDE00}),                                   // low alone
      std::u16string{char16_t{0xDE00}, char16_t{0xD83D}},                    // the wrong way round
      std::u16string{char16_t{0xD83D}, char16_t{0xD83D}, char16_t{0xDE00}},  // high twice
  };
  for (std::size_t length = 0; length <= 40; ++length) {
    for (std::size_t at = 0; at <= length; ++at) {
      for (const std::u16string& piece : pieces) {
        std::u16string in = AsciiFiller<char16_t>(length);
        in.insert(at, piece);
        std::string expected;
        bool valid = true;
        try {
          utf8::utf16to8(in.begin(), in.end(), std::back_inserter(expected));
        } catch (const utf8::exception&) {
          valid = false;
        }
        std::string out = "stale";
        ASSERT_EQ(TextToUtf8(Exact(in).view(), out), valid) << length << " " << at;
        EXPECT_EQ(out, valid ? expected : "") << length << " " << at;
      }
    }
  }
}

// The output string is written over where it has room already and grows as
// the units above ASCII need: reused from text to text, longer or shorter,
// with long runs above ASCII and short ones in every mix, it holds exactly
// each text.
TEST(TextConvert, Utf16ToAReusedStringOfAnySize) {
  const std::u16string pieces[] = {u"a",          u"bcdefghijklmnopqrstuvwxyz0123456789",
                                   u"\u00E9",     u"\u20AC\u20AC\u20AC",
                                   u"\U0001F600", u"\u0800"};
  std::mt19937 random(11);
  std::string out(500, 'x');
  for (int round = 0; round < 3000; ++round) {
    std::u16string in;
    const auto count = random() % 60;
    for (std::size_t i = 0; i < count; ++i) {
      const std::u16string& piece = pieces[random() % std::size(pieces)];
      const auto times = random() % 4 == 0 ? random() % 40 : 1;
      for (std::size_t t = 0; t < times; ++t) in += piece;
    }
    std::string expected;
    utf8::utf16to8(in.begin(), in.end(), std::back_inserter(expected));
    ASSERT_TRUE(TextToUtf8(in, out)) << round;
    ASSERT_EQ(out, expected) << round;
  }
}

}  // namespace
