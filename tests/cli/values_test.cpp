#include "input/values.hpp"

#include <gtest/gtest.h>

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
  for (Property p :
       {Property::NameFamily, Property::NameSuffix, Property::FormatedName, Property::SortString,
        Property::Title, Property::Role, Property::Note, Property::OrgName, Property::OrgUnit,
        Property::Adr1_PostOffice, Property::Adr2_Street, Property::Adr3_Country}) {
    EXPECT_EQ(EscapeClass(p), Escape::All) << qv_VCard::Info(p).name;
  }
  for (Property p : {Property::Categorie, Property::Nickname}) {
    EXPECT_EQ(EscapeClass(p), Escape::ListItems) << qv_VCard::Info(p).name;
  }
  for (Property p : {Property::Url, Property::TimeZone, Property::Birthdate, Property::Tel1_Number,
                     Property::Email2_Value, Property::Email3_Type, Property::GeoLat,
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

class AssignTest : public ::testing::Test {
 protected:
  std::string Put(Property p, const FieldValue& v, bool escape = false) {
    return Assign(card_, qv_VCard::Info(p), v, escape, scratch_);
  }
  static FieldValue Json(FieldValue::Type type, std::int64_t i = 0, bool b = false) {
    FieldValue v;
    v.type = type;
    v.integer = i;
    v.boolean = b;
    return v;
  }
  qv_VCard::qvVCard card_;
  std::u16string scratch_;
};

TEST_F(AssignTest, EmptyValuesAndNullAssignNothing) {
  card_.put_GeoLatDeg(5);
  card_.put_Tel1_Cell(-1);
  card_.put_Title(u"T");
  EXPECT_EQ(Put(Property::GeoLatDeg, FieldValue::OfText("")), "");
  EXPECT_EQ(Put(Property::Tel1_Cell, FieldValue::OfText(" ")), "");
  EXPECT_EQ(Put(Property::Title, Json(FieldValue::Type::Null)), "");
  std::int16_t v = 0;
  card_.get_GeoLatDeg(v);
  EXPECT_EQ(v, 5);
  card_.get_Tel1_Cell(v);
  EXPECT_EQ(v, -1);
  std::u16string t;
  card_.get_Title(t);
  EXPECT_EQ(t, u"TITLE:T\r\n");
}

TEST_F(AssignTest, RefusedValuesLeaveTheCardUnchanged) {
  using T = FieldValue::Type;
  FieldValue other;
  other.type = T::Other;
  other.text = "an array";
  FieldValue huge = Json(T::Integer);
  huge.integer_too_large = true;
  EXPECT_EQ(Put(Property::Note, Json(T::Integer, 7)), "expects a text, not 7");
  EXPECT_EQ(Put(Property::Note, Json(T::Bool, 0, true)), "expects a text, not true");
  EXPECT_EQ(Put(Property::GeoLatDeg, Json(T::Bool, 0, true)), "expects a 16-bit integer, not true");
  EXPECT_EQ(Put(Property::Tel1_Cell, other),
            "expects true, false, yes, no or a 16-bit integer, not an array");
  EXPECT_EQ(Put(Property::GeoLatSec, Json(T::Integer, 40000)),
            "40000 is outside the 16-bit range -32768 to 32767");
  EXPECT_EQ(Put(Property::GeoLatSec, huge),
            "a very large integer is outside the 16-bit range -32768 to 32767");
  // Overlong form, encoded surrogate, stray continuation byte.
  EXPECT_EQ(Put(Property::Note, FieldValue::OfText("ab\xC0\xAF")), "invalid UTF-8 at byte 3");
  EXPECT_EQ(Put(Property::Note, FieldValue::OfText("\xED\xA0\x80")), "invalid UTF-8 at byte 1");
  EXPECT_EQ(Put(Property::Note, FieldValue::OfText("a\x80")), "invalid UTF-8 at byte 2");
  EXPECT_EQ(Put(Property::Tel1_Cell, FieldValue::OfText("a\"b\x01")),
            "expects true, false, yes, no or a 16-bit integer, not \"a\\x22b\\x01\"");
  std::u16string t;
  card_.get_Note(t);
  EXPECT_EQ(t, u"");
  std::int16_t v = 1;
  card_.get_GeoLatSec(v);
  EXPECT_EQ(v, 0);
}

TEST_F(AssignTest, HemispheresAreOneLetterOfTheirAxisInAnyCase) {
  const auto text = [](std::string_view s) { return FieldValue::OfText(s); };
  std::u16string t;
  // Read back as the sign of the axis: a small "n" must not read as south.
  for (const auto& [given, sign] : {std::pair{"n", u"+"}, {" s ", u"-"}, {"N", u"+"}}) {
    EXPECT_EQ(Put(Property::GeoLat, text(given)), "") << given;
    card_.get_GeoLat(t);
    EXPECT_EQ(t, sign) << given;
  }
  EXPECT_EQ(Put(Property::GeoLon, text("w")), "");
  card_.get_GeoLon(t);
  EXPECT_EQ(t, u"-");
  // Anything else would read as a hemisphere it does not name.
  EXPECT_EQ(Put(Property::GeoLat, text("E")), "expects N or S, not \"E\"");
  EXPECT_EQ(Put(Property::GeoLat, text("North")), "expects N or S, not \"North\"");
  EXPECT_EQ(Put(Property::GeoLon, text("n")), "expects E or W, not \"n\"");
  FieldValue number = text("5");
  number.number = true;
  number.type = FieldValue::Type::Integer;
  EXPECT_EQ(Put(Property::GeoLon, number), "expects E or W, not \"5\"");
  card_.get_GeoLat(t);
  EXPECT_EQ(t, u"+");
  card_.get_GeoLon(t);
  EXPECT_EQ(t, u"-");
}

}  // namespace
}  // namespace qvvcard
