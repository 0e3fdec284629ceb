#include "output/file_names.hpp"

#include <gtest/gtest.h>
#include <utf8.h>

namespace qvvcard {
namespace {

TEST(FileNames, WindowsDeviceNames) {
  for (const char* stem : {"CON", "con", "Prn", "AUX", "NUL", "nul.txt", "CON .x", "COM1", "com9",
                           "LPT1", "lpt9.tar", "COM\u00B9", "LPT\u00B3"}) {
    EXPECT_TRUE(IsReservedOnWindows(stem)) << stem;
  }
  for (const char* stem : {"CONSOLE", "ICON", "A CON", "COM", "COM0", "COM10", "LPT", "COMX",
                           "NULL", ".CON", "COM\u00B4", ""}) {
    EXPECT_FALSE(IsReservedOnWindows(stem)) << stem;
  }
}

TEST(FileNames, ProposedNamesMadeSafe) {
  struct Case {
    const char* proposed;
    unsigned number;
    const char* expected;
  };
  for (const Case& c : std::initializer_list<Case>{
           {"Doe John.vcf", 1, "Doe John.vcf"},
           {"Doe John.vcf", 2, "Doe John (2).vcf"},
           {"Doe John.vcf", 12, "Doe John (12).vcf"},
           {".vcf", 1, "unnamed.vcf"},
           {".vcf", 3, "unnamed (3).vcf"},
           {"Smith .vcf", 1, "Smith.vcf"},
           {"Jr. ..vcf", 2, "Jr (2).vcf"},
           {"....vcf", 1, "unnamed.vcf"},
           {"CON.vcf", 1, "CON_.vcf"},
           {"con.txt.vcf", 2, "con_.txt (2).vcf"},
           {"AUX .vcf", 1, "AUX_.vcf"},
           {"no extension", 1, "no extension.vcf"},
       }) {
    EXPECT_EQ(CardFileName(c.proposed, c.number), c.expected) << c.proposed << " " << c.number;
  }
  EXPECT_EQ(CardFileName(std::string_view("a/b\0c.vcf", 9), 1), "a_b_c.vcf");
}

TEST(FileNames, LongNamesAreCutOnCharacterBoundaries) {
  // One to four bytes per character, with suffixes of different lengths:
  // the name always fits, stays valid UTF-8 and keeps its suffix.
  for (const std::string ch : {"x", "\u00E9", "\u20AC", "\U0001F600"}) {
    for (std::size_t chars = 60; chars <= 300; chars += 7) {
      std::string stem;
      for (std::size_t i = 0; i < chars; ++i) stem += ch;
      for (unsigned number : {1u, 2u, 10u, 4000000000u}) {
        const std::string name = CardFileName(stem + ".vcf", number);
        const std::string suffix =
            (number > 1 ? " (" + std::to_string(number) + ")" : std::string()) + ".vcf";
        ASSERT_LE(name.size(), kMaxFileNameBytes);
        ASSERT_TRUE(utf8::is_valid(name.begin(), name.end())) << name;
        ASSERT_TRUE(name.ends_with(suffix)) << name;
        const std::string kept = name.substr(0, name.size() - suffix.size());
        ASSERT_TRUE(stem.starts_with(kept));
        // Cut only when needed, and then by less than one character.
        if (stem.size() + suffix.size() <= kMaxFileNameBytes) {
          ASSERT_EQ(kept, stem);
        } else {
          ASSERT_GT(name.size() + ch.size(), kMaxFileNameBytes);
        }
      }
    }
  }
}

TEST(FileNames, CuttingDropsTrailingBlanksAndDots) {
  const std::string stem = std::string(249, 'a') + " ." + std::string(10, 'b');
  EXPECT_EQ(CardFileName(stem + ".vcf", 1), std::string(249, 'a') + ".vcf");
}

// Names keep every character a file system takes, in any script; they
// lose only what file systems refuse, and the blanks that leaves at the end.
TEST(FileNames, ACardsNameKeepsItsLetters) {
  const struct {
    const char16_t* formatted;
    const char* name;
  } cases[] = {
      {u"\u0141\u00F3d\u017A", "\u0141\u00F3d\u017A.vcf"},
      {u"\u03A9mega", "\u03A9mega.vcf"},
      {u"\u65E5\u672C \u8A9E", "\u65E5\u672C \u8A9E.vcf"},
      {u"Garc\u00EDa L\u00F3pez Ana \U0001F600", "Garc\u00EDa L\u00F3pez Ana \U0001F600.vcf"},
      {u"Ana ?", "Ana.vcf"},
      {u"Q/A: \"Notes\"\t<1>|*\\", "QA Notes1.vcf"},
      {u"x\u0085y\u00A0z", "xy\u00A0z.vcf"},  // a C1 control goes, a no-break space stays
      {u"Zoe\u0308", "Zo\u00EB.vcf"},         // NFC
      {u"??", "unnamed.vcf"},
  };
  for (const auto& c : cases) {
    qv_VCard::qvVCard card;
    card.put_FormatedName(c.formatted);
    EXPECT_EQ(CardFileNameOf(card), c.name);
  }
  // Without a name, the organisation, then the first e-mail address.
  qv_VCard::qvVCard card;
  card.put_FormatedName(u"/");
  card.put_Email2_Value(u"a@b.example");
  EXPECT_EQ(CardFileNameOf(card), "a@b.example.vcf");
  card.put_OrgName(u"\u00C9cole");
  EXPECT_EQ(CardFileNameOf(card), "\u00C9cole.vcf");
}

}  // namespace
}  // namespace qvvcard
