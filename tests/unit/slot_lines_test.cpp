// ADR, TEL and EMAIL lines of the repeated slots.
#include <gtest/gtest.h>

#include <vector>

#include "support/test_support.hpp"

namespace {

using namespace qv_VCard;
using qv_test::Body;
using qv_test::TestCard;

Property Named(const std::string& name) {
  const PropertyInfo* p = FindProperty(std::string_view(name));
  EXPECT_NE(p, nullptr) << name;
  return p->property;
}

// The body lines that start with the given property name.
std::vector<Text> LinesOf(TestCard& tc, std::u16string_view name) {
  std::vector<Text> out;
  for (const Text& l : Body(tc.Card())) {
    if (l.starts_with(name)) out.push_back(l);
  }
  return out;
}

TEST(AddressLine, FlagsAloneDecide) {
  for (int slot = 1; slot <= 3; ++slot) {
    const std::string a = "Adr" + std::to_string(slot) + "_";
    TestCard tc;
    for (const char* f :
         {"PostOffice", "Extended", "Street", "Locality", "Region", "PostalCode", "Country"}) {
      ASSERT_EQ(tc.card.Put(Named(a + f), Text(u"x")), kOk);
    }
    EXPECT_TRUE(LinesOf(tc, u"ADR").empty()) << slot;  // filled in, but no type
    ASSERT_EQ(tc.card.vCardClean(), kOk);
    ASSERT_EQ(tc.card.Put(Named(a + "Home"), std::int16_t{-1}), kOk);
    EXPECT_EQ(LinesOf(tc, u"ADR"), std::vector<Text>{u"ADR;TYPE=HOME:;;;;;;"}) << slot;
  }
}

TEST(AddressLine, ComponentsInOrder) {
  TestCard tc;
  ASSERT_EQ(tc.card.put_Adr1_Work(-1), kOk);
  ASSERT_EQ(tc.card.put_Adr1_Country(u"AT"), kOk);
  EXPECT_EQ(LinesOf(tc, u"ADR"), std::vector<Text>{u"ADR;TYPE=WORK:;;;;;;AT"});
  TestCard t3;
  ASSERT_EQ(t3.card.put_Adr3_Dom(-1), kOk);
  ASSERT_EQ(t3.card.put_Adr3_Street(u"Main St"), kOk);
  EXPECT_EQ(LinesOf(t3, u"ADR"), std::vector<Text>{u"ADR;TYPE=DOM:;;Main St;;;;"});
  TestCard t2;
  ASSERT_EQ(t2.card.put_Adr2_Postal(1), kOk);  // 1 counts as set, like -1
  const char* fields[] = {"PostOffice", "Extended",   "Street", "Locality",
                          "Region",     "PostalCode", "Country"};
  char16_t c = u'1';
  for (const char* f : fields)
    ASSERT_EQ(t2.card.Put(Named(std::string("Adr2_") + f), Text(1, c++)), kOk);
  ASSERT_EQ(t2.card.put_Adr2_Street(u"3;b"), kOk);
  EXPECT_EQ(LinesOf(t2, u"ADR"), std::vector<Text>{u"ADR;TYPE=POSTAL:1;2;3;b;4;5;6;7"});
}

TEST(AddressLine, AllTypesInInterfaceOrder) {
  TestCard tc;
  for (const char* f : {"Work", "Home", "Parcel", "Postal", "Intl", "Dom"}) {
    ASSERT_EQ(tc.card.Put(Named(std::string("Adr2_") + f), std::int16_t{-1}), kOk);
  }
  EXPECT_EQ(LinesOf(tc, u"ADR"),
            std::vector<Text>{
                u"ADR;TYPE=DOM;TYPE=INTL;TYPE=POSTAL;TYPE=PARCEL;TYPE=HOME;TYPE=WORK:;;;;;;"});
}

TEST(TelephoneLine, FlagsAloneDecideInEverySlot) {
  for (int slot = 1; slot <= 4; ++slot) {
    const std::string t = "Tel" + std::to_string(slot) + "_";
    TestCard tc;
    ASSERT_EQ(tc.card.Put(Named(t + "Number"), Text(u"555")), kOk);
    EXPECT_TRUE(LinesOf(tc, u"TEL").empty());
    ASSERT_EQ(tc.card.Put(Named(t + "Number"), Text(u"")), kOk);
    ASSERT_EQ(tc.card.Put(Named(t + "Cell"), std::int16_t{-1}), kOk);
    EXPECT_EQ(LinesOf(tc, u"TEL"), std::vector<Text>{u"TEL;TYPE=CELL:"}) << slot;
  }
}

TEST(TelephoneLine, ParameterOrder) {
  TestCard tc;
  ASSERT_EQ(tc.card.put_Tel1_Home(-1), kOk);
  ASSERT_EQ(tc.card.put_Tel1_Work(-1), kOk);
  ASSERT_EQ(tc.card.put_Tel1_Number(u"+43 1 234"), kOk);
  ASSERT_EQ(tc.card.put_Tel2_Voice(-1), kOk);
  ASSERT_EQ(tc.card.put_Tel2_Pref(2), kOk);
  ASSERT_EQ(tc.card.put_Tel2_Number(u"(555) 0100 ext. 7"), kOk);
  for (const char* f : {"Video", "Isdn", "Car", "Modem", "BBS", "Pager", "Cell", "Msg", "Fax",
                        "Voice", "Home", "Work", "Pref"}) {
    ASSERT_EQ(tc.card.Put(Named(std::string("Tel4_") + f), std::int16_t{1}), kOk);
  }
  EXPECT_EQ(LinesOf(tc, u"TEL"),
            (std::vector<Text>{u"TEL;TYPE=WORK;TYPE=HOME:+43 1 234",
                               u"TEL;TYPE=PREF;TYPE=VOICE:(555) 0100 ext. 7",
                               u"TEL;TYPE=PREF;TYPE=WORK;TYPE=HOME;TYPE=VOICE;TYPE=FAX;TYPE=MSG;"
                               u"TYPE=CELL;TYPE=PAGER;TYPE=BBS;TYPE=MODEM;TYPE=CAR;TYPE=ISDN;"
                               u"TYPE=VIDEO:"}));
}

TEST(EmailLine, WrittenExactlyWhenTheAddressIsNotEmpty) {
  for (int slot = 1; slot <= 3; ++slot) {
    const std::string e = "Email" + std::to_string(slot) + "_";
    TestCard tc;
    ASSERT_EQ(tc.card.Put(Named(e + "Type"), Text(u"x400")), kOk);
    ASSERT_EQ(tc.card.Put(Named(e + "Pref"), std::int16_t{-1}), kOk);
    EXPECT_TRUE(LinesOf(tc, u"EMAIL").empty()) << slot;
    ASSERT_EQ(tc.card.Put(Named(e + "Value"), Text(u" ")), kOk);
    EXPECT_EQ(LinesOf(tc, u"EMAIL"), std::vector<Text>{u"EMAIL;TYPE=x400;TYPE=PREF: "}) << slot;
  }
}

TEST(EmailLine, TypeDefaultsToInternetAndPreferenceFollows) {
  TestCard tc;
  ASSERT_EQ(tc.card.put_Email1_Value(u"a@example.org"), kOk);
  ASSERT_EQ(tc.card.put_Email2_Value(u"a@example.org"), kOk);
  ASSERT_EQ(tc.card.put_Email2_Pref(1), kOk);
  ASSERT_EQ(tc.card.put_Email3_Value(u"c@example.org"), kOk);
  ASSERT_EQ(tc.card.put_Email3_Type(u"internet,work"), kOk);
  ASSERT_EQ(tc.card.put_Email3_Pref(-1), kOk);
  EXPECT_EQ(LinesOf(tc, u"EMAIL"),
            (std::vector<Text>{u"EMAIL;TYPE=INTERNET:a@example.org",
                               u"EMAIL;TYPE=INTERNET;TYPE=PREF:a@example.org",
                               u"EMAIL;TYPE=internet,work;TYPE=PREF:c@example.org"}));
  ASSERT_EQ(tc.card.put_Email1_Type(u"INTERNET"), kOk);
  EXPECT_EQ(LinesOf(tc, u"EMAIL").at(0), u"EMAIL;TYPE=INTERNET:a@example.org");
  ASSERT_EQ(tc.card.put_Email1_Type(u"  "), kOk);
  EXPECT_EQ(LinesOf(tc, u"EMAIL").at(0), u"EMAIL;TYPE=  :a@example.org");
}

// A type text that would end its parameter or open a quoted string is
// written quoted, without its own quotation marks; the stored value and its
// read stay as assigned, and every other type text is written as before.
TEST(EmailLine, TypeTextsCannotLeaveTheirParameter) {
  TestCard tc;
  ASSERT_EQ(tc.card.put_Email1_Value(u"a@example.org"), kOk);
  ASSERT_EQ(tc.card.put_Email1_Type(u"x400:evil@example.net"), kOk);
  ASSERT_EQ(tc.card.put_Email2_Value(u"b@example.org"), kOk);
  ASSERT_EQ(tc.card.put_Email2_Type(u"say \"hi\""), kOk);
  ASSERT_EQ(tc.card.put_Email2_Pref(kTrue), kOk);
  ASSERT_EQ(tc.card.put_Email3_Value(u"c@example.org"), kOk);
  ASSERT_EQ(tc.card.put_Email3_Type(u"INTERNET;TYPE=HOME"), kOk);
  EXPECT_EQ(LinesOf(tc, u"EMAIL"),
            (std::vector<Text>{u"EMAIL;TYPE=\"x400:evil@example.net\":a@example.org",
                               u"EMAIL;TYPE=\"say hi\";TYPE=PREF:b@example.org",
                               u"EMAIL;TYPE=INTERNET;TYPE=HOME:c@example.org"}));
  Text read;
  ASSERT_EQ(tc.card.get_Email2_Type(read), kOk);
  EXPECT_EQ(read, u"say \"hi\"");
}

TEST(SlotLines, SlotsAreIndependent) {
  TestCard tc;
  ASSERT_EQ(tc.card.put_Adr2_Parcel(-1), kOk);
  ASSERT_EQ(tc.card.put_Tel4_Msg(-1), kOk);
  ASSERT_EQ(tc.card.put_Email3_Value(u"z@example.org"), kOk);
  EXPECT_EQ(Body(tc.Card()),
            (std::vector<Text>{u"N:;;;;", u"FN:   ", u"ADR;TYPE=PARCEL:;;;;;;", u"TEL;TYPE=MSG:",
                               u"EMAIL;TYPE=INTERNET:z@example.org"}));
}

}  // namespace
