#include "input/values.hpp"

#include <gtest/gtest.h>

#include <random>

#include "bridge/utf.hpp"
#include "common/problem.hpp"
#include "common/text.hpp"
#include "input/card_builder.hpp"

namespace qvvcard {
namespace {

using qv_VCard::Property;

TEST(Values, FlagsAndIntegers) {
  struct Case {
    const char* text;
    ParseResult flag;
    ParseResult integer;
    std::int16_t value;
  };
  const auto ok = ParseResult::Ok;
  const auto nan = ParseResult::NotANumber;
  const auto range = ParseResult::OutOfRange;
  for (const Case& c :
       std::initializer_list<Case>{{"true", ok, nan, -1},
                                   {"YES", ok, nan, -1},
                                   {"False", ok, nan, 0},
                                   {"no", ok, nan, 0},
                                   {"tRuE", ok, nan, -1},
                                   {"NO", ok, nan, 0},
                                   {"fals", nan, nan, 0},
                                   {"yess", nan, nan, 0},
                                   {"Tru\x05", nan, nan, 0},
                                   {"\x14rue", nan, nan, 0},
                                   {"-1", ok, ok, -1},
                                   {"1", ok, ok, 1},
                                   {" 12\t", ok, ok, 12},
                                   {"+7", ok, ok, 7},
                                   {"-32768", ok, ok, -32768},
                                   {"32767", ok, ok, 32767},
                                   {"32768", range, range, 0},
                                   {"-32769", range, range, 0},
                                   {"99999999999999999999", range, range, 0},
                                   {"1.0", nan, nan, 0},
                                   {"0x10", nan, nan, 0},
                                   {"+-1", nan, nan, 0},
                                   {"+", nan, nan, 0},
                                   {"1 2", nan, nan, 0},
                                   {"y", nan, nan, 0},
                                   {"", ParseResult::Empty, ParseResult::Empty, 0},
                                   {"  ", ParseResult::Empty, ParseResult::Empty, 0}}) {
    std::int16_t v = 0;
    EXPECT_EQ(ParseFlag(c.text, v), c.flag) << c.text;
    if (c.flag == ok) {
      EXPECT_EQ(v, c.value) << c.text;
    }
    v = 0;
    EXPECT_EQ(ParseInt16(c.text, v), c.integer) << c.text;
    if (c.integer == ok) {
      EXPECT_EQ(v, c.value) << c.text;
    }
  }
}

// Numbers as the tool reads them: any count of leading zeros, a sign of
// either kind, and digits beyond any machine word out of range rather than
// wrapped; anything after the digits makes it no number at all.
TEST(Values, LongAndSignedNumbers) {
  struct Case {
    const char* text;
    ParseResult result;
    std::int16_t value;
  };
  const auto ok = ParseResult::Ok;
  const auto nan = ParseResult::NotANumber;
  const auto range = ParseResult::OutOfRange;
  for (const Case& c : std::initializer_list<Case>{{"007", ok, 7},
                                                   {"-0", ok, 0},
                                                   {"+0", ok, 0},
                                                   {"000000000000000000000000000012", ok, 12},
                                                   {"-000000000000000000000032768", ok, -32768},
                                                   {"65535", range, 0},
                                                   {"65536", range, 0},
                                                   {"-99999999999999999999999999", range, 0},
                                                   {"18446744073709551617", range, 0},
                                                   {"99999999999999999999x", nan, 0},
                                                   {"12a", nan, 0},
                                                   {"1-", nan, 0},
                                                   {"- 1", nan, 0},
                                                   {"-", nan, 0},
                                                   {"++1", nan, 0},
                                                   {"-+1", nan, 0},
                                                   {"\xD9\xA1", nan, 0}}) {
    std::int16_t v = 99;
    EXPECT_EQ(ParseInt16(c.text, v), c.result) << c.text;
    if (c.result == ok) {
      EXPECT_EQ(v, c.value) << c.text;
    }
    v = 99;
    EXPECT_EQ(ParseFlag(c.text, v), c.result) << c.text;
    if (c.result == ok) {
      EXPECT_EQ(v, c.value) << c.text;
    }
  }
}

TEST(Values, EscapeClassesFollowTheMeaningOfEachLine) {
  for (Property p : {Property::NameFamily, Property::NameSuffix, Property::FormatedName,
                     Property::SortString, Property::Title, Property::Role, Property::Note,
                     Property::OrgName, Property::OrgUnit, Property::Adr1_PostOffice,
                     Property::Adr2_Street, Property::Adr3_Country, Property::Tel1_Number,
                     Property::Tel4_Number, Property::Email1_Value, Property::Email3_Value}) {
    EXPECT_EQ(EscapeClass(p), Escape::All) << qv_VCard::Info(p).name;
  }
  for (Property p : {Property::Categorie, Property::Nickname}) {
    EXPECT_EQ(EscapeClass(p), Escape::ListItems) << qv_VCard::Info(p).name;
  }
  for (Property p : {Property::Url, Property::TimeZone, Property::Birthdate, Property::Tel1_Pref,
                     Property::Email2_Pref, Property::Email3_Type, Property::GeoLat,
                     Property::Adr1_Home, Property::GeoLatDeg}) {
    EXPECT_EQ(EscapeClass(p), Escape::None) << qv_VCard::Info(p).name;
  }
  std::u16string text = u"a\\b;c,d";
  RfcEscape(Escape::All, text);
  EXPECT_EQ(text, u"a\\\\b\\;c\\,d");
  text = u"a\\b;c,d";
  RfcEscape(Escape::ListItems, text);
  EXPECT_EQ(text, u"a\\\\b\\;c,d");
  text = u"a\\b;c,d";
  RfcEscape(Escape::None, text);
  EXPECT_EQ(text, u"a\\b;c,d");
}

// The one-pass conversion against the plain way (the codec, then escaping
// the UTF-16 text), at every length around its blocks, with an escaped
// character, a sequence of each length or a malformed one anywhere; the
// room it reuses may hold an earlier, longer text.
TEST(Values, TextsConvertAndEscapeAtEveryLengthAndPlace) {
  const std::vector<std::string> pieces = {
      "x", ",", ";", "\\", "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\xEF\xBF\xBF",
      // Malformed: a stray continuation byte, overlong forms, a surrogate,
      // beyond U+10FFFF, a lead byte that is never one, sequences cut off.
      "\x80", "\xC0\x80", "\xC1\xBF", "\xE0\x9F\xBF", "\xED\xA0\x80", "\xF0\x8F\xBF\xBF",
      "\xF4\x90\x80\x80", "\xF8\x88\x80\x80", "\xC3", "\xE2\x82", "\xF0\x9F\x98", "\xC3x"};
  std::u16string room(80, u'#');
  for (const Escape how : {Escape::All, Escape::ListItems, Escape::None}) {
    for (std::size_t n = 0; n <= 40; ++n) {
      for (std::size_t at = 0; at <= n; ++at) {
        for (const std::string& piece : pieces) {
          std::string text;
          for (std::size_t i = 0; i < n; ++i) text += static_cast<char>('a' + i % 26);
          text.insert(at, piece);
          std::u16string want;
          const bool valid = qv_VCard::bridge::Utf8ToText(text, want);
          std::u16string_view got;
          ASSERT_EQ(Utf8ToEscapedText(how, text, room, got), valid) << n << " " << at;
          if (!valid) continue;
          RfcEscape(how, want);
          ASSERT_EQ(got, want) << n << " " << at << " " << piece;
        }
      }
    }
  }
}

// Texts made of many such pieces, so that several fall into one block and
// sequences cross from one block into the next.
TEST(Values, MixedTextsConvertAsThePlainWay) {
  const std::vector<std::string> pieces = {
      "a",    "bcdefgh",     ",", ";", "\\", "\xC3\xBC", "\xE2\x82\xAC", "\xF0\x9F\x98\x80",
      "\xC3", "\xED\xBF\xBF"};
  std::mt19937 random(7);
  std::u16string room;
  for (int round = 0; round < 4000; ++round) {
    std::string text;
    const int count = static_cast<int>(random() % 40);
    for (int i = 0; i < count; ++i) {
      // The malformed pieces (the last two) rarely, so that most texts are valid.
      const std::size_t kinds = random() % 8 == 0 ? pieces.size() : pieces.size() - 2;
      text += pieces[random() % kinds];
    }
    const Escape how = static_cast<Escape>(round % 3);
    std::u16string want;
    const bool valid = qv_VCard::bridge::Utf8ToText(text, want);
    std::u16string_view got;
    ASSERT_EQ(Utf8ToEscapedText(how, text, room, got), valid) << round;
    if (!valid) continue;
    RfcEscape(how, want);
    ASSERT_EQ(got, want) << round;
  }
}

// Texts compared in blocks, at every length around the blocks, with one
// byte different anywhere, and of different lengths.
TEST(Text, SameBytesAtEveryLengthAndPlace) {
  for (std::size_t n = 0; n <= 40; ++n) {
    std::string a;
    for (std::size_t i = 0; i < n; ++i) a += static_cast<char>('a' + i % 26);
    const std::string copy = a;
    EXPECT_TRUE(SameBytes(a, copy)) << n;
    EXPECT_FALSE(SameBytes(a, a + "x")) << n;
    for (std::size_t at = 0; at < n; ++at) {
      std::string b = a;
      b[at] = '#';
      EXPECT_FALSE(SameBytes(a, b)) << n << " " << at;
    }
  }
}

// A record's values through the card builder, as every surface assigns
// them.
class BuilderTest : public ::testing::Test {
 protected:
  // The problems of one value given to a fresh record, as "field: words".
  std::vector<std::string> Set(Property p, const FieldValue& v, bool escape = false) {
    CardBuilder& b = escape ? escaping_ : plain_;
    b.Begin(++record_);
    b.Set(qv_VCard::Info(p), v);
    std::vector<std::string> out;
    for (const Problem& problem : b.problems()) out.push_back(Describe(problem));
    return out;
  }
  const qv_VCard::qvVCard& Card(bool escape = false) {
    std::string text;
    CardBuilder& b = escape ? escaping_ : plain_;
    b.Finish(text);
    return b.card();
  }
  static FieldValue Json(FieldValue::Type type, std::int64_t i = 0, bool b = false) {
    FieldValue v;
    v.type = type;
    v.integer = i;
    v.boolean = b;
    return v;
  }
  CardBuilder plain_{false}, escaping_{true};
  std::uint64_t record_ = 0;
};

// An empty value or null assigns nothing; and what an earlier record
// assigned never shows on the card of a later one that leaves it empty.
TEST_F(BuilderTest, EmptyValuesAssignNothingAndRecordsDoNotLeak) {
  const std::vector<std::string> none;
  plain_.Begin(++record_);
  plain_.Set(qv_VCard::Info(Property::GeoLatDeg), "5");
  plain_.Set(qv_VCard::Info(Property::Tel1_Cell), "yes");
  plain_.Set(qv_VCard::Info(Property::Title), "T");
  plain_.Set(qv_VCard::Info(Property::TimeZone), "+01:00");
  std::int16_t v = 0;
  std::u16string t;
  Card().get_GeoLatDeg(v);
  EXPECT_EQ(v, 5);
  plain_.Begin(++record_);
  plain_.Set(qv_VCard::Info(Property::GeoLatDeg), "");
  plain_.Set(qv_VCard::Info(Property::Tel1_Cell), FieldValue::OfText(" "));
  plain_.Set(qv_VCard::Info(Property::Title), Json(FieldValue::Type::Null));
  EXPECT_TRUE(plain_.problems().empty());
  const qv_VCard::qvVCard& card = Card();
  card.get_GeoLatDeg(v);
  EXPECT_EQ(v, 0);
  card.get_Tel1_Cell(v);
  EXPECT_EQ(v, 0);
  card.get_Title(t);
  EXPECT_EQ(t, u"");
  card.get_TimeZone(t);  // which the card's own reset keeps
  EXPECT_EQ(t, u"");
  // Given twice in one record, even empty.
  plain_.Begin(++record_);
  plain_.Set(qv_VCard::Info(Property::Note), "");
  plain_.Set(qv_VCard::Info(Property::Note), "b");
  ASSERT_EQ(plain_.problems().size(), 1u);
  EXPECT_EQ(plain_.problems()[0].field, "Note");
  EXPECT_EQ(Describe(plain_.problems()[0]), "given twice");
}

TEST_F(BuilderTest, RefusedValuesSayWhyWithTheirStatus) {
  using T = FieldValue::Type;
  using V = std::vector<std::string>;
  FieldValue other;
  other.type = T::Other;
  other.text = "an array";
  FieldValue huge = Json(T::Integer);
  huge.integer_too_large = true;
  EXPECT_EQ(Set(Property::Note, Json(T::Integer, 7)), V{"expects a text, not 7"});
  EXPECT_EQ(Set(Property::Note, Json(T::Bool, 0, true)), V{"expects a text, not true"});
  EXPECT_EQ(Set(Property::GeoLatDeg, Json(T::Bool, 0, true)),
            V{"expects a 16-bit integer, not true"});
  EXPECT_EQ(Set(Property::Tel1_Cell, other),
            V{"expects true, false, yes, no or a 16-bit integer, not an array"});
  EXPECT_EQ(Set(Property::GeoLatSec, Json(T::Integer, 40000)),
            V{"40000 is outside the 16-bit range -32768 to 32767"});
  EXPECT_EQ(Set(Property::GeoLatSec, huge),
            V{"a very large integer is outside the 16-bit range -32768 to 32767"});
  // Overlong form, encoded surrogate, stray continuation byte: the byte is
  // that of the value as given, also where escaping adds characters.
  EXPECT_EQ(Set(Property::Note, FieldValue::OfText("ab\xC0\xAF")), V{"invalid UTF-8 at byte 3"});
  EXPECT_EQ(Set(Property::Note, FieldValue::OfText("\xED\xA0\x80")), V{"invalid UTF-8 at byte 1"});
  EXPECT_EQ(Set(Property::Note, FieldValue::OfText(";,;a\x80"), true),
            V{"invalid UTF-8 at byte 5"});
  EXPECT_EQ(plain_.problems()[0].status, qv_VCard::kNoUnicodeTranslation);
  EXPECT_EQ(Set(Property::Tel1_Cell, FieldValue::OfText("a\"b\x01")),
            V{"expects true, false, yes, no or a 16-bit integer, not \"a\\x22b\\x01\""});
  EXPECT_EQ(plain_.problems()[0].status, qv_VCard::kTypeMismatch);
  std::string card;
  EXPECT_FALSE(plain_.Finish(card));
  EXPECT_EQ(card, "");
}

TEST_F(BuilderTest, TextsAreEscapedByWhatTheirLineMakesOfThem) {
  // ASCII and beyond, short and past a word, with every escaped character.
  const auto put = [&](Property p, std::string_view raw) {
    escaping_.Begin(++record_);
    escaping_.Set(qv_VCard::Info(p), raw);
    std::u16string t;
    Card(true).Get(p, t);
    return t;
  };
  EXPECT_EQ(put(Property::Note, "a\\b;c,d"), u"NOTE:a\\\\b\\;c\\,d\r\n");
  EXPECT_EQ(put(Property::Note, "Zoë; 12345678,90"), u"NOTE:Zoë\\; 12345678\\,90\r\n");
  EXPECT_EQ(put(Property::Categorie, "a,b;c\\"), u"CATEGORIES:a,b\\;c\\\\\r\n");
  EXPECT_EQ(put(Property::Url, "http://x/?a=1,2;3"), u"URL:http://x/?a=1,2;3\r\n");
  EXPECT_EQ(put(Property::Note, std::string(40, ';')).size(), 5 + 80 + 2u);
}

// A position needs its hemispheres (the card would take an empty one as
// south, or east); Geo gives it in decimal degrees, rounded to the second.
TEST_F(BuilderTest, PositionsNeedHemispheresAndGeoIsDecimalDegrees) {
  struct Case {
    std::vector<std::pair<const char*, const char*>> set;
    std::vector<std::string> problems;  // "field: words"
    const char* geo;                    // the GEO line, when the card is made
  };
  const std::vector<Case> cases = {
      {{{"GeoLatDeg", "40"}}, {"GeoLat: GeoLat is empty: give N or S"}, nullptr},
      {{{"GeoLonMin", "5"}, {"GeoLat", "N"}}, {"GeoLon: GeoLon is empty: give E or W"}, nullptr},
      {{{"GeoLatDeg", "0"}, {"GeoLonSec", ""}}, {}, nullptr},  // a position of 0 needs none
      {{{"GeoLatDeg", "40"}, {"GeoLat", "s"}}, {}, "GEO:-40;+0"},
      {{{"Geo", " 40.4168 , -3.7038 "}}, {}, "GEO:+40.41667;-3.703889"},
      {{{"Geo", "-33.8688,151.2093"}}, {}, "GEO:-33.86889;+151.2092"},
      {{{"Geo", "-0.0001,0"}}, {}, nullptr},  // rounds to 0, which writes no line
      {{{"Geo", "90,-180"}}, {}, "GEO:+90;-180"},
      {{{"Geo", "90.0001,0"}}, {"Geo: the latitude 90.0001 is outside -90 to 90"}, nullptr},
      {{{"Geo", "0,180.5"}}, {"Geo: the longitude 180.5 is outside -180 to 180"}, nullptr},
      {{{"Geo", "40,4168,3"}},
       {"Geo: expects a position \"latitude,longitude\" in decimal degrees (such as "
        "\"40.4168,-3.7038\"), not \"40,4168,3\""},
       nullptr},
      {{{"Geo", "1e2,3"}},
       {"Geo: expects a position \"latitude,longitude\" in decimal degrees (such as "
        "\"40.4168,-3.7038\"), not \"1e2,3\""},
       nullptr},
      {{{"Geo", "1,2"}, {"GeoLatDeg", "3"}},
       {"GeoLatDeg: cannot be given together with Geo: give the position either as Geo or as "
        "degrees, minutes, seconds and hemispheres"},
       nullptr},
      {{{"GeoLon", "E"}, {"Geo", "1,2"}},
       {"Geo: cannot be given together with GeoLon: give the position either as Geo or as "
        "degrees, minutes, seconds and hemispheres"},
       nullptr},
  };
  for (const Case& c : cases) {
    plain_.Begin(++record_);
    for (const auto& [name, value] : c.set) {
      if (IsGeoField(name)) {
        plain_.SetGeo(value);
      } else {
        plain_.Set(*qv_VCard::FindProperty(name), value);
      }
    }
    std::string card;
    const bool made = plain_.Finish(card);
    std::vector<std::string> problems;
    for (const Problem& p : plain_.problems()) problems.push_back(p.field + ": " + Describe(p));
    const std::string shown = c.set.front().second;
    EXPECT_EQ(problems, c.problems) << shown;
    EXPECT_EQ(made, c.problems.empty()) << shown;
    if (made) {
      const bool has = card.find("\r\nGEO:") != std::string::npos;
      EXPECT_EQ(has, c.geo != nullptr) << card;
      if (c.geo != nullptr) {
        EXPECT_NE(card.find(std::string("\r\n") + c.geo + "\r\n"), std::string::npos) << card;
      }
    }
  }
}

TEST_F(BuilderTest, HemispheresAreOneLetterOfTheirAxisInAnyCase) {
  using V = std::vector<std::string>;
  const auto text = [](std::string_view s) { return FieldValue::OfText(s); };
  std::u16string t;
  // Read back as the sign of the axis: a small "n" must not read as south.
  for (const auto& [given, sign] : {std::pair{"n", u"+"}, {" s ", u"-"}, {"N", u"+"}}) {
    EXPECT_EQ(Set(Property::GeoLat, text(given)), V{}) << given;
    Card().get_GeoLat(t);
    EXPECT_EQ(t, sign) << given;
  }
  EXPECT_EQ(Set(Property::GeoLon, text("w")), V{});
  Card().get_GeoLon(t);
  EXPECT_EQ(t, u"-");
  // Anything else would read as a hemisphere it does not name.
  EXPECT_EQ(Set(Property::GeoLat, text("E")), V{"expects N or S, not \"E\""});
  EXPECT_EQ(Set(Property::GeoLat, text("North")), V{"expects N or S, not \"North\""});
  EXPECT_EQ(Set(Property::GeoLon, text("n")), V{"expects E or W, not \"n\""});
  FieldValue number = text("5");
  number.number = true;
  number.type = FieldValue::Type::Integer;
  EXPECT_EQ(Set(Property::GeoLon, number), V{"expects E or W, not \"5\""});
}

}  // namespace
}  // namespace qvvcard
