// The property table: identity of the interface that callers bind to.
#include <gtest/gtest.h>

#include <limits>
#include <map>
#include <set>
#include <string>

#include "qv_vcard/qvVCard.hpp"

namespace {

using namespace qv_VCard;

TEST(PropertyTable, HasTheKindsAndReadRulesOfTheRecord) {
  std::map<Kind, int> kinds;
  std::map<ReadRule, int> rules;
  for (const PropertyInfo& p : Properties()) {
    ++kinds[p.kind];
    ++rules[p.rule];
  }
  EXPECT_EQ(Properties().size(), 129u);
  EXPECT_EQ(kinds[Kind::Text], 50);
  EXPECT_EQ(kinds[Kind::Flag], 73);
  EXPECT_EQ(kinds[Kind::Int16], 6);
  EXPECT_EQ(rules[ReadRule::Separator], 22);
  EXPECT_EQ(rules[ReadRule::ContentLine], 8);
  EXPECT_EQ(rules[ReadRule::FormattedName], 1);
  EXPECT_EQ(rules[ReadRule::GeoLatSign], 1);
  EXPECT_EQ(rules[ReadRule::GeoLonSign], 1);
  EXPECT_EQ(rules[ReadRule::Stored], 17 + 73 + 6);
}

TEST(PropertyTable, InterfaceOrderAndIdentifiers) {
  // Landmarks of the interface: first and last property, slot boundaries,
  // the places where interface order differs from storage order.
  const std::map<std::string, DispId> expected = {
      {"NameFamily", 0x6803020D},
      {"NameSuffix", 0x68030209},
      {"FormatedName", 0x68030208},
      {"Birthdate", 0x68030205},
      {"OrgName", 0x68030204},
      {"Role", 0x68030201},
      {"Adr1_PostOffice", 0x68030200},
      {"Adr1_Work", 0x680301F4},
      {"Adr2_PostOffice", 0x680301F3},
      {"Adr3_Country", 0x680301E0},
      {"Adr3_Work", 0x680301DA},
      {"Tel1_Number", 0x680301D9},
      {"Tel1_Video", 0x680301CC},
      {"Tel2_Number", 0x680301CB},
      {"Tel4_BBS", 0x680301A6},
      {"Tel4_Video", 0x680301A2},
      {"Email1_Value", 0x680301A1},
      {"Email3_Pref", 0x68030199},
      {"GeoLat", 0x68030198},
      {"GeoLatSec", 0x68030195},
      {"GeoLon", 0x68030194},
      {"GeoLonSec", 0x68030191},
      {"Note", 0x68030190},
      {"Url", 0x6803018F},
      {"Categorie", 0x6803018E},
      {"TimeZone", 0x6803018D},
  };
  for (const auto& [name, id] : expected) {
    const PropertyInfo* p = FindProperty(std::string_view(name));
    ASSERT_NE(p, nullptr) << name;
    EXPECT_EQ(p->dispid, id) << name;
    EXPECT_EQ(FindProperty(id), p) << name;
  }
  DispId previous = 0x6803020E;  // vCardFileName stands just above the properties
  for (const PropertyInfo& p : Properties()) {
    EXPECT_EQ(p.dispid, previous - 1) << p.name;
    previous = p.dispid;
  }
}

TEST(PropertyTable, NamesAreUniqueAndEachMapsToItsOwnField) {
  std::set<std::string> names;
  std::set<std::pair<bool, int>> fields;
  for (const PropertyInfo& p : Properties()) {
    EXPECT_TRUE(names.insert(p.name).second) << p.name;
    EXPECT_TRUE(fields.insert({p.kind == Kind::Text, p.field}).second) << p.name;
    EXPECT_EQ(&Info(p.property), &p);
  }
}

TEST(PropertyTable, SlotKindsFollowTheirLayout) {
  EXPECT_EQ(FindProperty("Adr2_Country")->kind, Kind::Text);
  EXPECT_EQ(FindProperty("Adr2_Dom")->kind, Kind::Flag);
  EXPECT_EQ(FindProperty("Tel3_Number")->kind, Kind::Text);
  EXPECT_EQ(FindProperty("Tel3_Isdn")->kind, Kind::Flag);
  EXPECT_EQ(FindProperty("Email2_Type")->kind, Kind::Text);
  EXPECT_EQ(FindProperty("Email2_Pref")->kind, Kind::Flag);
  EXPECT_EQ(FindProperty("GeoLonMin")->kind, Kind::Int16);
  EXPECT_EQ(FindProperty("Adr1_PostalCode")->rule, ReadRule::Separator);
  EXPECT_EQ(FindProperty("Adr1_Country")->rule, ReadRule::Stored);
  EXPECT_EQ(FindProperty("NameSuffix")->rule, ReadRule::Stored);
}

TEST(MemberLookup, IgnoresCaseLikeAutomationClients) {
  MemberInfo m;
  ASSERT_EQ(FindMember("namefamily", m), kOk);
  EXPECT_EQ(m.dispid, 0x6803020D);
  EXPECT_STREQ(m.name, "NameFamily");
  ASSERT_EQ(FindMember(u"TEL4_VIDEO", m), kOk);
  EXPECT_EQ(m.dispid, 0x680301A2);
  ASSERT_EQ(FindMember("VCARD", m), kOk);
  EXPECT_EQ(m.dispid, kDispIdVCard);
  EXPECT_EQ(m.kind, MemberKind::ReadOnlyText);
  ASSERT_EQ(FindMember("vcardfilename", m), kOk);
  EXPECT_EQ(m.dispid, 0x6803020E);
  ASSERT_EQ(FindMember("VCardClean", m), kOk);
  EXPECT_EQ(m.dispid, 0x6003021F);
  EXPECT_EQ(m.kind, MemberKind::Method);
}

TEST(MemberLookup, RefusesWhatIsNotAMember) {
  MemberInfo m;
  EXPECT_EQ(FindMember("", m), kUnknownName);
  EXPECT_EQ(FindMember("NameFamil", m), kUnknownName);
  EXPECT_EQ(FindMember("NameFamilyX", m), kUnknownName);
  EXPECT_EQ(FindMember("FormattedName", m), kUnknownName);     // the member is spelt FormatedName
  EXPECT_EQ(FindMember(u"Name\u0130amily", m), kUnknownName);  // no folding beyond ASCII
  EXPECT_EQ(FindMember(DispId{0}, m), kMemberNotFound);
  EXPECT_EQ(FindMember(DispId{0x6803018C}, m), kMemberNotFound);
  EXPECT_EQ(FindMember(DispId{0x6803020F}, m), kMemberNotFound);
  EXPECT_EQ(FindProperty(DispId{0x6803021E}), nullptr);
  EXPECT_EQ(FindMember(std::numeric_limits<DispId>::min(), m), kMemberNotFound);
  EXPECT_EQ(FindMember(std::numeric_limits<DispId>::max(), m), kMemberNotFound);
}

}  // namespace
