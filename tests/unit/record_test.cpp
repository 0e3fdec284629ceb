// The record: values after creation, reset, assignments and read rules.
#include <gtest/gtest.h>

#include "card/internals.hpp"
#include "support/test_support.hpp"

namespace {

using namespace qv_VCard;
using qv_test::TestCard;

Text ReadText(const qvVCard& c, Property p) {
  Text t = u"garbage";
  EXPECT_EQ(c.Get(p, t), kOk);
  return t;
}

std::int16_t ReadValue(const qvVCard& c, Property p) {
  std::int16_t v = 12345;
  EXPECT_EQ(c.Get(p, v), kOk);
  return v;
}

// What every property reads on a new card.
Text NewCardRead(const PropertyInfo& p) {
  switch (p.rule) {
    case ReadRule::Separator:
      return u";";
    case ReadRule::FormattedName:
      return u"   ";
    case ReadRule::GeoLatSign:
      return u"-";
    case ReadRule::GeoLonSign:
      return u"+";
    default:
      return u"";
  }
}

void ExpectReadsLikeNewCard(const qvVCard& c, bool except_time_zone = false) {
  for (const PropertyInfo& p : Properties()) {
    if (except_time_zone && p.property == Property::TimeZone) continue;
    if (p.kind == Kind::Text) {
      EXPECT_EQ(ReadText(c, p.property), NewCardRead(p)) << p.name;
    } else {
      EXPECT_EQ(ReadValue(c, p.property), 0) << p.name;
    }
  }
}

// Assigns a distinct non-empty value to every property.
void FillEverything(qvVCard& c) {
  int n = 1;
  for (const PropertyInfo& p : Properties()) {
    if (p.kind == Kind::Text) {
      const Text value = {u'v', static_cast<char16_t>(u'A' + n % 26)};
      EXPECT_EQ(c.Put(p.property, value), kOk);
    } else {
      EXPECT_EQ(c.Put(p.property, static_cast<std::int16_t>(n)), kOk);
    }
    ++n;
  }
}

TEST(Lifecycle, NewCardReadsAsEmpty) {
  qvVCard c;
  ExpectReadsLikeNewCard(c);
  Text t;
  EXPECT_EQ(c.get_NameFamily(t), kOk);
  EXPECT_EQ(t, u";");
  std::int16_t v = 7;
  EXPECT_EQ(c.get_Adr1_Home(v), kOk);
  EXPECT_EQ(v, 0);
}

TEST(Lifecycle, CleanResetsEverythingButTimeZone) {
  TestCard tc;
  qvVCard& c = tc.card;
  FillEverything(c);
  ASSERT_EQ(c.put_TimeZone(u"+01:00"), kOk);
  ASSERT_EQ(c.vCardClean(), kOk);
  ExpectReadsLikeNewCard(c, /*except_time_zone=*/true);
  Text tz;
  EXPECT_EQ(c.get_TimeZone(tz), kOk);
  EXPECT_EQ(tz, u"TZ:+01:00\r\n");
  EXPECT_NE(tc.Card().find(u"\r\nTZ:+01:00\r\n"), Text::npos);
  ASSERT_EQ(c.vCardClean(), kOk);  // a second reset changes nothing further
  EXPECT_EQ(c.get_TimeZone(tz), kOk);
  EXPECT_EQ(tz, u"TZ:+01:00\r\n");
}

TEST(Lifecycle, CleanOnNewCardChangesNothingVisible) {
  TestCard a;
  TestCard b;
  ASSERT_EQ(b.card.vCardClean(), kOk);
  ExpectReadsLikeNewCard(b.card);
  EXPECT_EQ(a.Card(), b.Card());  // same clock and GUID sequence
}

TEST(Lifecycle, ObjectsAreIndependent) {
  qvVCard a;
  qvVCard b;
  ASSERT_EQ(a.put_NameGiven(u"Ann"), kOk);
  ASSERT_EQ(b.put_Tel2_Fax(-1), kOk);
  ASSERT_EQ(b.vCardClean(), kOk);
  EXPECT_EQ(ReadText(a, Property::NameGiven), u"Ann;");
  ASSERT_EQ(a.vCardClean(), kOk);
  ASSERT_EQ(b.put_Tel2_Fax(-1), kOk);
  EXPECT_EQ(ReadValue(b, Property::Tel2_Fax), -1);
  EXPECT_EQ(ReadText(a, Property::NameGiven), u";");
}

TEST(Assignment, FlagsAndIntegersAreStoredExactly) {
  qvVCard c;
  for (std::int16_t v : {std::int16_t{1}, std::int16_t{-1}, std::int16_t{2}, std::int16_t{-32768},
                         std::int16_t{32767}}) {
    ASSERT_EQ(c.put_Tel3_Fax(v), kOk);
    EXPECT_EQ(ReadValue(c, Property::Tel3_Fax), v);
  }
  ASSERT_EQ(c.put_GeoLatMin(75), kOk);
  EXPECT_EQ(ReadValue(c, Property::GeoLatMin), 75);
  ASSERT_EQ(c.put_GeoLatMin(-5), kOk);
  EXPECT_EQ(ReadValue(c, Property::GeoLatMin), -5);
}

TEST(Assignment, TextsAreCopiedUnchanged) {
  qvVCard c;
  Text value = u"  mixed Case;,\\\r\n\u00e9\U0001F600 ";
  value.push_back(u'\0');
  value.push_back(u'\xD800');  // a lone surrogate is a code unit like any other
  ASSERT_EQ(c.put_Adr2_Country(value), kOk);
  ASSERT_EQ(c.put_Email3_Type(value), kOk);
  value[0] = u'X';  // the record holds its own copy
  EXPECT_EQ(ReadText(c, Property::Adr2_Country).substr(0, 2), u"  ");
  EXPECT_EQ(ReadText(c, Property::Adr2_Country).size(), value.size());
  EXPECT_EQ(ReadText(c, Property::Email3_Type), ReadText(c, Property::Adr2_Country));
  ASSERT_EQ(c.put_Adr2_Country(u""), kOk);
  EXPECT_EQ(ReadText(c, Property::Adr2_Country), u"");
  // From a view into storage of the caller's, which it goes on to reuse.
  Text room = u"Graz and more";
  ASSERT_EQ(c.PutView(Property::Adr2_Country, std::u16string_view(room).substr(0, 4)), kOk);
  room[0] = u'X';
  EXPECT_EQ(ReadText(c, Property::Adr2_Country), u"Graz");
}

TEST(Assignment, KindsAreChecked) {
  qvVCard c;
  EXPECT_EQ(c.Put(Property::Tel1_Cell, Text(u"yes")), kTypeMismatch);
  EXPECT_EQ(c.PutView(Property::Tel1_Cell, u"yes"), kTypeMismatch);
  EXPECT_EQ(c.Put(Property::NameFamily, std::int16_t{1}), kTypeMismatch);
  Text t = u"x";
  EXPECT_EQ(c.Get(Property::GeoLatDeg, t), kTypeMismatch);
  EXPECT_EQ(t, u"");
  std::int16_t v = 5;
  EXPECT_EQ(c.Get(Property::Note, v), kTypeMismatch);
  ExpectReadsLikeNewCard(c);
}

TEST(SeparatorRead, EveryNamePartAndAddressComponent) {
  qvVCard c;
  int separators = 0;
  for (const PropertyInfo& p : Properties()) {
    if (p.rule != ReadRule::Separator) continue;
    ++separators;
    EXPECT_EQ(ReadText(c, p.property), u";") << p.name;
    ASSERT_EQ(c.Put(p.property, Text(u"x;y")), kOk);
    EXPECT_EQ(ReadText(c, p.property), u"x;y;") << p.name;
    ASSERT_EQ(c.Put(p.property, Text(u"")), kOk);
    EXPECT_EQ(ReadText(c, p.property), u";") << p.name;
  }
  EXPECT_EQ(separators, 22);
  for (Property p : {Property::NameSuffix, Property::Adr1_Country, Property::Adr2_Country,
                     Property::Adr3_Country}) {
    ASSERT_EQ(c.Put(p, Text(u"last")), kOk);
    EXPECT_EQ(ReadText(c, p), u"last");
  }
}

TEST(FormattedNameRead, ComposedFromTheNamePartsWhenNoneIsStored) {
  qvVCard c;
  EXPECT_EQ(ReadText(c, Property::FormatedName), u"   ");
  ASSERT_EQ(c.put_NamePrefix(u"Dr."), kOk);
  EXPECT_EQ(ReadText(c, Property::FormatedName), u"   ");  // the prefix takes no part
  ASSERT_EQ(c.put_NameFamily(u"Doe"), kOk);
  ASSERT_EQ(c.put_NameGiven(u"John"), kOk);
  EXPECT_EQ(ReadText(c, Property::FormatedName), u"Doe John  ");
  ASSERT_EQ(c.put_NameGiven(u"Jane"), kOk);  // nothing is cached
  EXPECT_EQ(ReadText(c, Property::FormatedName), u"Doe Jane  ");
  ASSERT_EQ(c.put_NameAdditional(u"Q"), kOk);
  ASSERT_EQ(c.put_NameSuffix(u"Jr."), kOk);
  EXPECT_EQ(ReadText(c, Property::FormatedName), u"Doe Jane Q Jr.");
}

TEST(FormattedNameRead, AnyStoredTextWinsAndEmptyBringsTheComposedNameBack) {
  qvVCard c;
  ASSERT_EQ(c.put_NameFamily(u"Doe"), kOk);
  ASSERT_EQ(c.put_FormatedName(u" "), kOk);
  EXPECT_EQ(ReadText(c, Property::FormatedName), u" ");
  EXPECT_EQ(ReadText(c, Property::FormatedName), u" ");
  ASSERT_EQ(c.put_FormatedName(u""), kOk);
  EXPECT_EQ(ReadText(c, Property::FormatedName), u"Doe   ");
}

TEST(ContentLineRead, ReturnsTheLineNotTheStoredText) {
  qvVCard c;
  const std::pair<Property, Text> lines[] = {
      {Property::SortString, u"SORT-STRING:"},
      {Property::Nickname, u"NICKNAME:"},
      {Property::Title, u"TITLE:"},
      {Property::Role, u"ROLE:"},
      {Property::Note, u"NOTE:"},
      {Property::Url, u"URL:"},
      {Property::Categorie, u"CATEGORIES:"},
      {Property::TimeZone, u"TZ:"},
  };
  for (const auto& [p, prefix] : lines) {
    EXPECT_EQ(ReadText(c, p), u"") << Info(p).name;
    ASSERT_EQ(c.Put(p, Text(u" ")), kOk);
    EXPECT_EQ(ReadText(c, p), prefix + u" \r\n") << Info(p).name;
  }
  // Feeding a read back stores the whole line; its line end is then a line
  // break inside the value.
  const Text title = ReadText(c, Property::Title);
  ASSERT_EQ(c.put_Title(title), kOk);
  EXPECT_EQ(ReadText(c, Property::Title), u"TITLE:TITLE: \\n\r\n");
}

TEST(GeoSignRead, ExactComparisonOfTheHemisphere) {
  qvVCard c;
  const std::pair<Text, Text> lat[] = {{u"N", u"+"},  {u"S", u"-"},     {u"n", u"-"}, {u" N", u"-"},
                                       {u"N ", u"-"}, {u"North", u"-"}, {u"", u"-"}};
  for (const auto& [stored, sign] : lat) {
    ASSERT_EQ(c.put_GeoLat(stored), kOk);
    EXPECT_EQ(ReadText(c, Property::GeoLat), sign) << qv_test::Narrow(stored);
  }
  const std::pair<Text, Text> lon[] = {
      {u"W", u"-"}, {u"E", u"+"}, {u"w", u"+"}, {u"W ", u"+"}, {u"", u"+"}};
  for (const auto& [stored, sign] : lon) {
    ASSERT_EQ(c.put_GeoLon(stored), kOk);
    EXPECT_EQ(ReadText(c, Property::GeoLon), sign) << qv_test::Narrow(stored);
  }
}

}  // namespace

namespace {

// The builders skip a line when its deciding read is empty without making
// that read; the shortcut must agree with the read itself, empty or not.
TEST(ReadIsEmpty, AgreesWithTheReadForEveryTextProperty) {
  qvVCard c;
  const auto check = [&c](const char* when) {
    for (const PropertyInfo& p : Properties()) {
      if (p.kind != Kind::Text) continue;
      EXPECT_EQ(detail::Internals::ReadIsEmpty(c, p.property), ReadText(c, p.property).empty())
          << p.name << " " << when;
    }
  };
  check("on a new card");
  for (const PropertyInfo& p : Properties()) {
    if (p.kind != Kind::Text) continue;
    ASSERT_EQ(c.Put(p.property, Text(u"\r")), kOk);
  }
  check("with every text a lone CR");
  ASSERT_EQ(c.vCardClean(), kOk);
  ASSERT_EQ(c.put_FormatedName(u""), kOk);
  ASSERT_EQ(c.put_NameFamily(u""), kOk);
  check("after clean");
}

}  // namespace
