// The card file name.
#include <gtest/gtest.h>

#include "modules/ansi_code_page.hpp"
#include "support/test_support.hpp"

namespace {

using namespace qv_VCard;

Text FileNameFor(const Text& formatted_name) {
  qvVCard c;
  EXPECT_EQ(c.put_FormatedName(formatted_name), kOk);
  Text out = u"x";
  EXPECT_EQ(c.get_vCardFileName(out), kOk);
  return out;
}

TEST(FileName, TrimmedAndCleanedFormattedName) {
  EXPECT_EQ(FileNameFor(u"John Smith"), u"John Smith.vcf");
  EXPECT_EQ(FileNameFor(u"   John  Smith  "), u"John  Smith.vcf");
  EXPECT_EQ(FileNameFor(u"AC/DC: Live?"), u"ACDC Live.vcf");
  EXPECT_EQ(FileNameFor(u"a\\b/c:d*e?f\"g<h>i|j"), u"abcdefghij.vcf");
  EXPECT_EQ(FileNameFor(u"Smith \t"), u"Smith .vcf");
  EXPECT_EQ(FileNameFor(u"\tSmith"), u"Smith.vcf");
  EXPECT_EQ(FileNameFor(u": a :"), u" a .vcf");  // blanks bared by dropped characters stay
  EXPECT_EQ(FileNameFor(u" : "), u".vcf");
  EXPECT_EQ(FileNameFor(u"*?"), u".vcf");
}

TEST(FileName, ComposedNameWhenNoneIsStored) {
  qvVCard c;
  Text out;
  ASSERT_EQ(c.get_vCardFileName(out), kOk);
  EXPECT_EQ(out, u".vcf");
  ASSERT_EQ(c.put_NameFamily(u"Doe"), kOk);
  ASSERT_EQ(c.put_NameGiven(u"John"), kOk);
  ASSERT_EQ(c.get_vCardFileName(out), kOk);
  EXPECT_EQ(out, u"Doe John.vcf");
  Text fn;
  ASSERT_EQ(c.get_FormatedName(fn), kOk);
  EXPECT_EQ(fn, u"Doe John  ");  // the read changed nothing
}

TEST(FileName, CodePageClassification) {
  // Windows-1252 letters and symbols stay, C0 and unmapped C1 controls go,
  // the five undefined bytes round-trip their C1 control and stay.
  EXPECT_EQ(FileNameFor(u"Müller Ærø ÿ €‰ŸŽ"), u"Müller Ærø ÿ €‰ŸŽ.vcf");
  EXPECT_EQ(FileNameFor(u"a\u0080b\u0081c\u009Fd\u007F"), u"ab\u0081cd\u007F.vcf");
  EXPECT_EQ(FileNameFor(u"a\u0001b\u001Fc"), u"abc.vcf");
  // Outside the code page: replaced by "?" in the conversion, so dropped.
  EXPECT_EQ(FileNameFor(u"Ω東京 x"), u" x.vcf");
  EXPECT_EQ(FileNameFor(u"x\U0001F600y"), u"xy.vcf");
  EXPECT_EQ(FileNameFor(Text(u"x") + u'\xDC00' + u"y"), u"xy.vcf");
}

TEST(FileName, AnsiCodesOfTheStandInCodePage) {
  EXPECT_EQ(detail::AnsiCode(u'A'), 65);
  EXPECT_EQ(detail::AnsiCode(u'\u00E9'), 0xE9);
  EXPECT_EQ(detail::AnsiCode(u'\u20AC'), 0x80);
  EXPECT_EQ(detail::AnsiCode(u'\u0178'), 0x9F);
  EXPECT_EQ(detail::AnsiCode(u'\u0100'), '?');
  EXPECT_EQ(detail::AnsiCode(u'\u0080'), '?');
  EXPECT_EQ(detail::AnsiCode(u'\u008D'), 0x8D);
}

}  // namespace
