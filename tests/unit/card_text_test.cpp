// The fast paths of card writing checked against plain definitions: finding
// and escaping line breaks, copying values, the card buffer, the decimal
// text of the GEO line, flag reads and the file-name character table.
#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <new>
#include <random>
#include <string>

#include "modules/modFileSystemChars.hpp"
#include "support/test_support.hpp"
#include "writer/card_text.hpp"
#include "writer/decimal_text.hpp"
#include "writer/line_text.hpp"

namespace {

using namespace qv_VCard;
using writer::CardText;

// Units next to CR (13) and LF (10) in value, and ones whose high byte or
// sign bit could fool a word-wide test.
constexpr char16_t kNearBreaks[] = {0x0000, 0x0009, 0x000B, 0x000C, 0x000E, 0x0020,
                                    0x010A, 0x0D00, 0x800D, 0x8000, 0xFFFF, 0xD83D};

// Every line break, CR LF counted once, written as "\n".
Text EscapedPlainly(const Text& value) {
  Text out;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] == u'\r' || value[i] == u'\n') {
      if (value[i] == u'\r' && i + 1 < value.size() && value[i + 1] == u'\n') ++i;
      out += u"\\n";
    } else {
      out += value[i];
    }
  }
  return out;
}

TEST(LineBreakSearch, FindsTheFirstBreakAtEveryPositionAndNothingElse) {
  for (std::size_t n = 0; n <= 21; ++n) {
    for (char16_t other : kNearBreaks) {
      const Text plain(n, other);
      EXPECT_EQ(writer::FindLineBreak(plain.data(), n), n) << n << " " << int{other};
      for (std::size_t at = 0; at < n; ++at) {
        for (char16_t brk : {u'\r', u'\n'}) {
          Text t = plain;
          t[at] = brk;
          if (at + 2 < n) t[at + 2] = u'\n';  // a later break does not count
          EXPECT_EQ(writer::FindLineBreak(t.data(), n), at) << n << " " << at;
        }
      }
    }
  }
}

TEST(LineBreakEscape, EveryMixOfBreaksInTextsAndOnCards) {
  // All texts of up to eight units over "a", CR and LF, after a prefix
  // that must stay as it is.
  const char16_t alphabet[] = {u'a', u'\r', u'\n'};
  Text storage;
  for (std::size_t n = 0; n <= 8; ++n) {
    std::size_t combinations = 1;
    for (std::size_t i = 0; i < n; ++i) combinations *= 3;
    for (std::size_t k = 0; k < combinations; ++k) {
      Text value;
      for (std::size_t i = 0, c = k; i < n; ++i, c /= 3) value += alphabet[c % 3];
      const Text expected = u"P\r\n:" + EscapedPlainly(value);

      Text line = u"P\r\n:";
      writer::AppendValue(line, value);
      ASSERT_EQ(line, expected) << qv_test::Narrow(value);

      CardText card(storage);
      card.EnsureRoom(4 + 2 * value.size());
      card.append(u"P\r\n:");
      writer::AppendValue(card, value);
      ASSERT_EQ(Text(card.view()), expected) << qv_test::Narrow(value);
    }
  }
}

TEST(ValueCopy, CopiesExactlyTheUnitsAndTellsOfLowOnes) {
  for (std::size_t n = 0; n <= 40; ++n) {
    for (std::size_t low_at = 0; low_at <= n; ++low_at) {  // low_at == n: none
      Text src(n, u'x');
      for (std::size_t i = 0; i < n; ++i) src[i] = static_cast<char16_t>(u'A' + i % 26);
      // Each unit near CR and LF, or with a high byte or sign bit that a
      // wide test could misread, in every position.
      for (const char16_t unit : kNearBreaks) {
        if (low_at < n) src[low_at] = unit;
        std::u16string dst(n + 16, u'#');
        const bool low = writer::CopyUnitsFindingLow(dst.data() + 8, src.data(), n);
        ASSERT_EQ(low, low_at < n && unit < 14) << n << " " << low_at << " " << int{unit};
        ASSERT_EQ(dst, Text(8, u'#') + src + Text(8, u'#')) << n << " " << low_at;
      }
    }
  }
}

TEST(CardBuffer, GrowsKeepingItsTextAndReusesItsRoom) {
  Text storage;
  Text expected;
  {
    CardText card(storage);
    for (int i = 0; i < 500; ++i) {
      const Text piece(static_cast<std::size_t>(i % 37), static_cast<char16_t>(u'a' + i % 26));
      card.EnsureRoom(piece.size() + 1);  // grows many times over
      card.append(piece);
      card.push_back(u';');
      expected += piece + u";";
    }
    EXPECT_EQ(Text(card.view()), expected);
    card.resize(10);
    EXPECT_EQ(Text(card.view()), expected.substr(0, 10));
  }
  // A second card in the same storage finds the room already there.
  const char16_t* const room = storage.data();
  CardText again(storage);
  EXPECT_TRUE(again.empty());
  again.EnsureRoom(expected.size());
  again.append(expected);
  EXPECT_EQ(storage.data(), room);
  EXPECT_EQ(Text(again.view()), expected);
}

// A room beyond what memory can hold is refused whole, never wrapped
// around to a small one.
TEST(CardBuffer, RoomBeyondAnyMemoryIsRefused) {
  Text storage;
  CardText card(storage);
  card.EnsureRoom(3);
  card.append(u"abc");
  EXPECT_THROW(card.EnsureRoom(SIZE_MAX), std::bad_alloc);
  EXPECT_THROW(card.EnsureRoom(SIZE_MAX - 2), std::bad_alloc);
  EXPECT_EQ(Text(card.view()), u"abc");
}

std::string ToCharsText(float v) {
  char buf[64];
  const auto r =
      std::to_chars(buf, buf + sizeof buf, static_cast<double>(v), std::chars_format::general, 7);
  return std::string(buf, r.ptr);
}

std::string Significant7(float v) {
  char16_t buf[writer::kSignificant7Room];
  const std::size_t n = writer::WriteSignificant7(v, buf);
  return qv_test::Narrow(Text(buf, n));
}

TEST(DecimalText, SevenSignificantDigitsAsTheGeneralFormWritesThem) {
  // Powers of ten, ties to even (32.765625 has eight digits), carries into
  // a new digit, and the ends of the range.
  const float edges[] = {0.0001f,        0.001f,     0.5f,       1.0f,       10.0f,
                         100.0f,         32.765625f, 32.765635f, 9.9999995f, 99999.995f,
                         0.00099999995f, 999999.94f, 32767.0f,   33322.1f};
  for (float v : edges) EXPECT_EQ(Significant7(v), ToCharsText(v)) << v;
  std::mt19937 rng(7);
  std::uniform_int_distribution<std::uint32_t> bits(0x38D1B717u,
                                                    0x497423FFu);  // 0.0001f..999999.94f
  for (int i = 0; i < 300000; ++i) {
    const std::uint32_t b = bits(rng);
    float v;
    std::memcpy(&v, &b, sizeof v);
    ASSERT_EQ(Significant7(v), ToCharsText(v)) << v;
  }
}

// Flags are read several at a time, so a read may also fetch the next
// slot's flags: every flag of every other slot is set to show any that
// leaks into the slot under test.
TEST(FlagReads, AnyNonZeroValueSetsItsParameterInEverySlot) {
  const std::int16_t set_values[] = {1, -1, 256, -32768, 0x7FFF, 0x0080};
  struct Group {
    const char16_t* name;
    Property first_flag;  // of slot 1
    int flags, slots, slot_size;
    Property value;  // of slot 1: the number or the street
  };
  const Group groups[] = {
      {u"TEL", Property::Tel1_Pref, 13, 4, 14, Property::Tel1_Number},
      {u"ADR", Property::Adr1_Dom, 6, 3, 13, Property::Adr1_Street},
  };
  for (const Group& g : groups) {
    for (int slot = 1; slot <= g.slots; ++slot) {
      for (int flag = 0; flag < g.flags; ++flag) {
        for (std::int16_t v : set_values) {
          qv_test::TestCard tc;
          for (int other = 1; other <= g.slots; ++other) {
            const int first = static_cast<int>(g.first_flag) + (other - 1) * g.slot_size;
            const int value = static_cast<int>(g.value) + (other - 1) * g.slot_size;
            ASSERT_EQ(tc.card.Put(static_cast<Property>(value), Text(other == slot ? u"5" : u"9")),
                      kOk);
            for (int f = 0; f < g.flags; ++f) {
              const std::int16_t flag_value = other != slot ? -1 : f == flag ? v : 0;
              ASSERT_EQ(tc.card.Put(static_cast<Property>(first + f), flag_value), kOk);
            }
          }
          int lines = 0;
          int tested = 0;
          for (const Text& line : qv_test::Body(tc.Card())) {
            if (!line.starts_with(g.name)) continue;
            ++lines;
            if (line.find(u'5') == Text::npos) continue;
            ++tested;
            // Exactly one parameter, then the value.
            EXPECT_EQ(std::count(line.begin(), line.find(u':') + line.begin(), u';'), 1)
                << qv_test::Narrow(line) << " " << slot << " " << flag << " " << v;
          }
          EXPECT_EQ(lines, g.slots) << slot << " " << flag << " " << v;
          EXPECT_EQ(tested, 1) << slot << " " << flag << " " << v;
        }
      }
    }
  }
}

TEST(FileNameChars, EveryUnitIsKeptExactlyWhenItMayStandInAFileName) {
  for (std::uint32_t u = 0; u <= 0xFFFF; ++u) {
    const auto unit = static_cast<char16_t>(u);
    Text out;
    modules::ReplaceFileSystemChars(std::u16string_view(&unit, 1), out);
    ASSERT_EQ(out.size() == 1, modules::IsFileNameChar(unit)) << u;
  }
  Text out;
  modules::ReplaceFileSystemChars(u"a/b:c*d?e\"f<g>h|i\\j\tk", out);
  EXPECT_EQ(out, u"abcdefghijk");
}

}  // namespace
