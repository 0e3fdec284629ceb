// N, FN, BDAY, ORG and the free-text lines, and line breaks inside values.
#include <gtest/gtest.h>

#include <vector>

#include "support/test_support.hpp"

namespace {

using namespace qv_VCard;
using qv_test::Body;
using qv_test::TestCard;

TEST(NameLine, ComponentsAndTheirSeparators) {
  struct Case {
    std::vector<std::pair<Property, Text>> set;
    Text line;
  };
  const Case cases[] = {
      {{}, u"N:;;;;"},
      {{{Property::NameGiven, u"John"}}, u"N:;John;;;"},
      {{{Property::NameFamily, u"Doe"}, {Property::NameSuffix, u"Jr."}}, u"N:Doe;;;;Jr."},
      {{{Property::NamePrefix, u"Dr."}}, u"N:;;;Dr.;"},
      {{{Property::NameFamily, u"a;b"}}, u"N:a;b;;;;"},
      {{{Property::NameFamily, u"F"},
        {Property::NameGiven, u"G"},
        {Property::NameAdditional, u"A"},
        {Property::NamePrefix, u"P"},
        {Property::NameSuffix, u"S"}},
       u"N:F;G;A;P;S"},
  };
  for (const Case& k : cases) {
    TestCard tc;
    for (const auto& [p, v] : k.set) ASSERT_EQ(tc.card.Put(p, v), kOk);
    EXPECT_EQ(Body(tc.Card()).at(0), k.line);
  }
}

TEST(FormattedNameLine, AlwaysWrittenFromTheFormattedNameRead) {
  TestCard tc;
  EXPECT_EQ(Body(tc.Card()).at(1), u"FN:   ");
  ASSERT_EQ(tc.card.put_NamePrefix(u"Dr."), kOk);
  EXPECT_EQ(Body(tc.Card()).at(1), u"FN:   ");
  ASSERT_EQ(tc.card.put_FormatedName(u" "), kOk);
  EXPECT_EQ(Body(tc.Card()).at(1), u"FN: ");
  ASSERT_EQ(tc.card.put_FormatedName(u"Jane Q. Doe"), kOk);
  EXPECT_EQ(Body(tc.Card()).at(1), u"FN:Jane Q. Doe");
}

TEST(BirthdayLine, WrittenInAnyFormWhenNotEmpty) {
  TestCard tc;
  EXPECT_EQ(Body(tc.Card()).size(), 2u);
  ASSERT_EQ(tc.card.put_Birthdate(u"sometime in May"), kOk);
  EXPECT_EQ(Body(tc.Card()).at(2), u"BDAY:sometime in May");
  ASSERT_EQ(tc.card.put_Birthdate(u" "), kOk);
  EXPECT_EQ(Body(tc.Card()).at(2), u"BDAY: ");
}

TEST(OrganizationLine, NameUnitOrBoth) {
  TestCard tc;
  EXPECT_EQ(Body(tc.Card()).size(), 2u);
  ASSERT_EQ(tc.card.put_OrgName(u"ACME"), kOk);
  EXPECT_EQ(Body(tc.Card()).at(2), u"ORG:ACME;");
  ASSERT_EQ(tc.card.put_OrgUnit(u"Labs"), kOk);
  EXPECT_EQ(Body(tc.Card()).at(2), u"ORG:ACME;Labs");
  ASSERT_EQ(tc.card.put_OrgName(u""), kOk);
  EXPECT_EQ(Body(tc.Card()).at(2), u"ORG:;Labs");
  ASSERT_EQ(tc.card.put_OrgUnit(u""), kOk);
  EXPECT_EQ(Body(tc.Card()).size(), 2u);
}

TEST(TextLines, BlankValuesAreWrittenAndSeparatorsPass) {
  TestCard tc;
  ASSERT_EQ(tc.card.put_Title(u" "), kOk);
  ASSERT_EQ(tc.card.put_Categorie(u"a,b;c\\d"), kOk);
  const std::vector<Text> body = Body(tc.Card());
  EXPECT_EQ(body, (std::vector<Text>{u"N:;;;;", u"FN:   ", u"CATEGORIES:a,b;c\\d", u"TITLE: "}));
}

TEST(LineBreaks, EveryKindOfBreakBecomesBackslashN) {
  TestCard tc;
  ASSERT_EQ(tc.card.put_Note(u"a\r\nb\rc\nd\n\re\r\r\nf\r"), kOk);
  Text note;
  ASSERT_EQ(tc.card.get_Note(note), kOk);
  // CR LF is one break; LF CR is two; a lone CR at the end is one.
  EXPECT_EQ(note, u"NOTE:a\\nb\\nc\\nd\\n\\ne\\n\\nf\\n\r\n");
}

TEST(LineBreaks, NoValueCanEndTheCardOrForgeALine) {
  TestCard tc;
  const Text evil = u"x\r\nEND:VCARD\r\nBEGIN:VCARD\nFN:forged";
  for (const PropertyInfo& p : Properties()) {
    if (p.kind == Kind::Text) {
      ASSERT_EQ(tc.card.Put(p.property, evil), kOk);
    } else {
      ASSERT_EQ(tc.card.Put(p.property, std::int16_t{-1}), kOk);
    }
  }
  ASSERT_EQ(tc.card.put_GeoLatDeg(1), kOk);
  const Text card = tc.Card();
  const std::vector<Text> lines = qv_test::Lines(card);
  int begins = 0;
  int ends = 0;
  for (const Text& l : lines) {
    EXPECT_EQ(l.find_first_of(u"\r\n"), Text::npos);
    if (l.starts_with(u"BEGIN:")) ++begins;
    if (l.starts_with(u"END:")) ++ends;
    EXPECT_FALSE(l.starts_with(u"FN:forged"));
  }
  EXPECT_EQ(begins, 1);
  EXPECT_EQ(ends, 1);
  EXPECT_EQ(lines.back(), u"END:VCARD");
  // The separator and stored reads still give the text unchanged.
  Text t;
  ASSERT_EQ(tc.card.get_NameFamily(t), kOk);
  EXPECT_EQ(t, evil + u";");
  ASSERT_EQ(tc.card.get_Tel1_Number(t), kOk);
  EXPECT_EQ(t, evil);
}

// No control character but TAB stands in a card: NUL, the other C0
// controls and DEL are left out of every line, the line-returning reads
// included; separator and stored reads, and the file name, are unchanged.
TEST(ControlCharacters, OnlyTabStandsInACard) {
  TestCard tc;
  Text controls;
  for (char16_t c = 0; c < 0x20; ++c) controls += c;
  controls += u'\x7F';
  const Text value = u"A" + controls + u"B\tC\x80";
  for (const PropertyInfo& p : Properties()) {
    if (p.kind == Kind::Text) {
      ASSERT_EQ(tc.card.Put(p.property, value), kOk);
    } else {
      ASSERT_EQ(tc.card.Put(p.property, std::int16_t{-1}), kOk);
    }
  }
  ASSERT_EQ(tc.card.put_FormatedName(u""), kOk);  // composed from the parts
  ASSERT_EQ(tc.card.put_Email1_Type(u"x:" + controls), kOk);
  const Text card = tc.Card();
  for (char16_t c = 0; c < 0x20; ++c) {
    if (c == u'\t' || c == u'\r' || c == u'\n') continue;
    EXPECT_EQ(card.find(c), Text::npos) << int{c};
  }
  EXPECT_EQ(card.find(u'\x7F'), Text::npos);
  // The line breaks of the value stand as "\n"; TAB and C1 stay.
  EXPECT_NE(card.find(u"N:A\t\\n\\nB\tC\x80;"), Text::npos) << qv_test::Narrow(card);
  EXPECT_NE(card.find(u"EMAIL;TYPE=\"x:\t\\n\\n\";TYPE=PREF:"), Text::npos)
      << qv_test::Narrow(card);
  Text t;
  ASSERT_EQ(tc.card.get_Note(t), kOk);
  EXPECT_EQ(t, u"NOTE:A\t\\n\\nB\tC\x80\r\n");
  ASSERT_EQ(tc.card.get_NameFamily(t), kOk);
  EXPECT_EQ(t, value + u";");
  ASSERT_EQ(tc.card.get_vCardFileName(t), kOk);
  // (the composed name: four parts and three blanks; TAB is refused there)
  EXPECT_EQ(t,
            u"A\x7F"
            u"BC A\x7F"
            u"BC A\x7F"
            u"BC A\x7F"
            u"BC.vcf");
}

}  // namespace
