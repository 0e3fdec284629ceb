// The fast paths of card writing checked against plain definitions: finding
// and cleaning special units, copying values, the card buffer, the decimal
// text of the GEO line, flag reads and the file-name character table.
#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>
#include <random>
#include <string>

#include "card/reads.hpp"
#include "modules/modFileSystemChars.hpp"
#include "support/test_support.hpp"
#include "writer/card_text.hpp"
#include "writer/decimal_text.hpp"

namespace {

using namespace qv_VCard;
using writer::CardText;
using writer::Cursor;

// Units near CR (13), LF (10), TAB (9), the end of the controls (31) and
// DEL (127), and ones whose high byte or sign bit could fool a word-wide
// test.
constexpr char16_t kNearSpecials[] = {0x0000, 0x0001, 0x0009, 0x000B, 0x000C, 0x000E,
                                      0x001F, 0x0020, 0x007E, 0x007F, 0x0080, 0x010A,
                                      0x0D00, 0x800D, 0x8000, 0xFFFF, 0xD83D, 0x7F7F};

bool Special(char16_t c) { return (c < 0x20 && c != u'\t') || c == 0x7F; }

// Every line break, CR LF counted once, written as "\n"; every other
// control but TAB, and DEL, left out.
Text CleanedPlainly(const Text& value) {
  Text out;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] == u'\r' || value[i] == u'\n') {
      if (value[i] == u'\r' && i + 1 < value.size() && value[i + 1] == u'\n') ++i;
      out += u"\\n";
    } else if (!Special(value[i])) {
      out += value[i];
    }
  }
  return out;
}

TEST(SpecialUnitSearch, FindsTheFirstSpecialUnitAtEveryPositionAndNothingElse) {
  for (std::size_t n = 0; n <= 21; ++n) {
    for (char16_t other : kNearSpecials) {
      if (Special(other)) continue;
      const Text plain(n, other);
      EXPECT_EQ(writer::FindSpecial(plain.data(), n, false), n) << n << " " << int{other};
      for (std::size_t at = 0; at < n; ++at) {
        for (char16_t special : {u'\r', u'\n', u'\x01', u'\x7F'}) {
          Text t = plain;
          t[at] = special;
          if (at + 2 < n) t[at + 2] = u'\n';  // a later one does not count
          EXPECT_EQ(writer::FindSpecial(t.data(), n, false), at) << n << " " << at;
        }
        Text quoted = plain;
        quoted[at] = u'"';
        EXPECT_EQ(writer::FindSpecial(quoted.data(), n, true), at);
        EXPECT_EQ(writer::FindSpecial(quoted.data(), n, false), n);
      }
    }
  }
}

TEST(ValueCleaning, EveryMixOfSpecialsInTextsAndOnCards) {
  // All texts of up to seven units over "a", CR, LF, TAB, a control and
  // DEL, after a prefix that must stay as it is.
  const char16_t alphabet[] = {u'a', u'\r', u'\n', u'\t', u'\x01', u'\x7F'};
  Text storage;
  for (std::size_t n = 0; n <= 7; ++n) {
    std::size_t combinations = 1;
    for (std::size_t i = 0; i < n; ++i) combinations *= 6;
    for (std::size_t k = 0; k < combinations; ++k) {
      Text value;
      for (std::size_t i = 0, c = k; i < n; ++i, c /= 6) value += alphabet[c % 6];
      const Text expected = u"P\r\n:" + CleanedPlainly(value);

      Text line = u"P\r\n:";
      writer::TextLine text_line(line);
      writer::AppendCleanedRuns(text_line, value, false);
      ASSERT_EQ(line, expected) << qv_test::Narrow(value);

      CardText card(storage);
      Cursor cursor(card);
      cursor.append(u"P\r\n:");
      cursor.append(value);
      cursor.Commit();
      ASSERT_EQ(Text(card.view()), expected) << qv_test::Narrow(value);
    }
  }
}

TEST(ValueCopy, CopiesExactlyTheUnitsAndTellsOfSpecialOnes) {
  for (std::size_t n = 0; n <= 40; ++n) {
    for (std::size_t at = 0; at <= n; ++at) {  // at == n: none
      Text src(n, u'x');
      for (std::size_t i = 0; i < n; ++i) src[i] = static_cast<char16_t>(u'A' + i % 26);
      // Each unit near a special one, or with a high byte or sign bit that
      // a wide test could misread, in every position.
      for (const char16_t unit : kNearSpecials) {
        if (at < n) src[at] = unit;
        std::u16string dst(n + 16, u'#');
        const bool special = writer::CopyUnitsFindingSpecial(dst.data() + 8, src.data(), n);
        ASSERT_EQ(special, at < n && (unit < 0x20 || unit == 0x7F))
            << n << " " << at << " " << int{unit};
        ASSERT_EQ(dst, Text(8, u'#') + src + Text(8, u'#')) << n << " " << at;
      }
    }
  }
}

TEST(CardBuffer, GrowsKeepingItsTextAndReusesItsRoom) {
  Text storage;
  Text expected;
  {
    CardText card(storage);
    Cursor cursor(card);
    for (int i = 0; i < 500; ++i) {
      const Text piece(static_cast<std::size_t>(i % 37 + i % 5 * 900),
                       static_cast<char16_t>(u'a' + i % 26));
      cursor.append(piece);  // grows many times over
      cursor.push_back(u';');
      expected += piece + u";";
    }
    cursor.Commit();
    EXPECT_EQ(Text(card.view()), expected);
  }
  // A second card in the same storage finds the room already there.
  const char16_t* const room = storage.data();
  CardText again(storage);
  EXPECT_TRUE(again.view().empty());
  Cursor cursor(again);
  cursor.append(std::u16string_view(expected));
  cursor.Commit();
  EXPECT_EQ(storage.data(), room);
  EXPECT_EQ(Text(again.view()), expected);
}

// A room beyond what memory can hold is refused whole, never wrapped
// around to a small one.
TEST(CardBuffer, RoomBeyondAnyMemoryIsRefused) {
  Text storage;
  CardText card(storage);
  Cursor cursor(card);
  cursor.append(u"abc");
  EXPECT_THROW(cursor.Reserve(SIZE_MAX), std::bad_alloc);
  EXPECT_THROW(cursor.Reserve(SIZE_MAX - 2), std::bad_alloc);
  cursor.Commit();
  EXPECT_EQ(Text(card.view()), u"abc");
}

// A card handed to a sink comes in pieces no larger than the window, and
// the pieces make the same text, however long its values; a sink's failure
// ends the card with the sink's status.
class Collector final : public TextSink {
 public:
  Text text;
  std::size_t largest = 0;
  int pieces = 0;
  Status fail_at = kOk;  // fail from this piece on when not kOk
  int fail_from = 0;
  Status Write(std::u16string_view piece) noexcept override {
    if (Failed(fail_at) && pieces >= fail_from) return fail_at;
    ++pieces;
    text.append(piece);
    largest = std::max(largest, piece.size());
    return kOk;
  }
};

TEST(CardBuffer, ASinkGetsTheTextInBoundedPieces) {
  for (const std::size_t n : {std::size_t{0}, std::size_t{10}, std::size_t{100000}}) {
    Text value(n, u'v');
    for (std::size_t i = 7; i < n; i += 1000) value[i] = i % 3000 == 7 ? u'\r' : u'\n';
    Text storage;
    Text kept;
    {
      CardText whole(storage);
      Cursor c(whole);
      c.append(u"NOTE:");
      c.append(value);
      c.Commit();
      kept = whole.view();
    }
    Text window;
    Collector sink;
    CardText streamed(window, sink);
    {
      Cursor c(streamed);
      c.append(u"NOTE:");
      c.append(value);
      c.Commit();
    }
    EXPECT_EQ(streamed.Finish(), kOk);
    EXPECT_EQ(sink.text, kept) << n;
    EXPECT_LE(window.size(), std::size_t{16384}) << n;
    EXPECT_LE(sink.largest, window.size());
  }
  Text window;
  Collector failing;
  failing.fail_at = static_cast<Status>(0x80070070);  // a full disk, say
  failing.fail_from = 1;
  CardText card(window, failing);
  {
    Cursor c(card);
    c.append(Text(50000, u'x'));
    c.Commit();
  }
  EXPECT_EQ(card.Finish(), failing.fail_at);
  EXPECT_EQ(failing.pieces, 1);
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

// Every float of the range WriteSignificant7 serves, about a minute:
//   core_tests --gtest_also_run_disabled_tests --gtest_filter='*EveryFloat*'
TEST(DecimalText, DISABLED_EveryFloatOfTheRangeAsTheGeneralFormWritesThem) {
  const float first = 0.0001f;
  const float last = std::nextafter(1000000.0f, 0.0f);
  std::uint32_t a, b;
  std::memcpy(&a, &first, sizeof a);
  std::memcpy(&b, &last, sizeof b);
  std::uint64_t differ = 0;
  for (std::uint64_t u = a; u <= b; ++u) {
    const auto bits = static_cast<std::uint32_t>(u);
    float v;
    std::memcpy(&v, &bits, sizeof v);
    char16_t ours[writer::kSignificant7Room];
    const std::size_t n = writer::WriteSignificant7(v, ours);
    char theirs[32];
    const auto r = std::to_chars(theirs, theirs + sizeof theirs, v, std::chars_format::general, 7);
    const bool same = n == static_cast<std::size_t>(r.ptr - theirs) &&
                      std::equal(ours, ours + n, theirs,
                                 [](char16_t x, char y) { return x == static_cast<char16_t>(y); });
    if (!same && differ++ < 10) ADD_FAILURE() << std::hex << bits;
  }
  EXPECT_EQ(differ, 0u) << "of " << (std::uint64_t{b} - a + 1);
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

// Every pattern of set and unset flags in a window of sixteen, read with
// every count: the four words of a read and the multiply that gathers their
// bits must give each flag its own bit and nothing else.
TEST(FlagReads, EveryPatternOfSixteenFlagsGivesItsBits) {
  // The sixteen value fields from Tel1_Pref on (Tel1's thirteen flags and
  // the first three of Tel2), as properties.
  const Property first = Property::Tel1_Pref;
  const std::size_t first_field = Info(first).field;
  Property window[16];
  int found = 0;
  for (const PropertyInfo& p : Properties()) {
    if (p.kind != Kind::Text && p.field >= first_field && p.field < first_field + 16) {
      window[p.field - first_field] = p.property;
      ++found;
    }
  }
  ASSERT_EQ(found, 16);
  const std::int16_t set_values[] = {1, -1, 256, -32768, 0x7FFF, 0x0080, 0x0100, 2};
  qv_test::TestCard tc;
  for (std::uint32_t pattern = 0; pattern < (1u << 16); ++pattern) {
    for (int i = 0; i < 16; ++i) {
      const std::int16_t v = (pattern >> i & 1) != 0 ? set_values[(pattern + i) % 8] : 0;
      ASSERT_EQ(tc.card.Put(window[i], v), kOk);
    }
    for (unsigned count = 1; count <= 16; ++count) {
      ASSERT_EQ(reads::ReadFlagBits(tc.card, first, count), pattern & ((1u << count) - 1))
          << pattern << " " << count;
    }
  }
  // A copy reads the same; a reset clears every flag.
  const qvVCard copy(tc.card);
  EXPECT_EQ(reads::ReadFlagBits(copy, first, 16), 0xFFFFu);
  ASSERT_EQ(tc.card.vCardClean(), kOk);
  EXPECT_EQ(reads::ReadFlagBits(tc.card, first, 16), 0u);
}

TEST(FileNameChars, EveryUnitIsKeptExactlyWhenItMayStandInAFileName) {
  for (std::uint32_t u = 0; u <= 0xFFFF; ++u) {
    const auto unit = static_cast<char16_t>(u);
    Text text(1, unit);
    modules::ReplaceFileSystemChars(text);
    ASSERT_EQ(text.size() == 1, modules::IsFileNameChar(unit)) << u;
    if (!text.empty()) {
      ASSERT_EQ(text[0], unit) << u;
    }
  }
  // The units kept move to the front in their order, wherever the refused
  // ones stand (first, last, side by side).
  Text text = u"/a/b:c*d?e\"f<g>h|>i\\j\tk\u00E9|";
  modules::ReplaceFileSystemChars(text);
  EXPECT_EQ(text, u"abcdefghijk\u00E9");
}

}  // namespace
