// Late-bound access by dispatch identifier.
#include <gtest/gtest.h>

#include "support/test_support.hpp"

namespace {

using namespace qv_VCard;
using qv_test::TestCard;

TEST(Dispatch, AssignAndReadThroughOneIdentifier) {
  qvVCard c;
  MemberInfo m;
  ASSERT_EQ(FindMember("namefamily", m), kOk);
  ASSERT_EQ(c.PutById(m.dispid, Value(Text(u"Doe"))), kOk);
  Value v;
  ASSERT_EQ(c.GetById(m.dispid, v), kOk);
  EXPECT_EQ(std::get<Text>(v), u"Doe;");
  ASSERT_EQ(c.PutById(0x680301D2, Value(std::int16_t{1})), kOk);  // Tel1_Cell
  ASSERT_EQ(c.GetById(0x680301D2, v), kOk);
  EXPECT_EQ(std::get<std::int16_t>(v), 1);
  ASSERT_EQ(c.GetById(kDispIdVCardFileName, v), kOk);
  EXPECT_EQ(std::get<Text>(v), u"Doe.vcf");
  ASSERT_EQ(c.GetById(kDispIdVCard, v), kOk);
  EXPECT_NE(std::get<Text>(v).find(u"\r\nTEL;TYPE=CELL:\r\n"), Text::npos);
  ASSERT_EQ(c.CallById(kDispIdVCardClean), kOk);
  ASSERT_EQ(c.GetById(m.dispid, v), kOk);
  EXPECT_EQ(std::get<Text>(v), u";");
}

TEST(Dispatch, RefusalsStoreNothing) {
  qvVCard c;
  EXPECT_EQ(c.PutById(kDispIdVCard, Value(Text(u"x"))), kMemberNotFound);
  EXPECT_EQ(c.PutById(kDispIdVCardFileName, Value(Text(u"x"))), kMemberNotFound);
  EXPECT_EQ(c.PutById(kDispIdVCardClean, Value(Text(u"x"))), kMemberNotFound);
  EXPECT_EQ(c.PutById(0x12345678, Value(Text(u"x"))), kMemberNotFound);
  EXPECT_EQ(c.PutById(0x6803020D, Value(std::int16_t{1})), kTypeMismatch);
  EXPECT_EQ(c.PutById(0x68030197, Value(Text(u"48"))), kTypeMismatch);
  EXPECT_EQ(c.CallById(0x6803020D), kMemberNotFound);
  Value v = std::int16_t{9};
  EXPECT_EQ(c.GetById(kDispIdVCardClean, v), kMemberNotFound);
  EXPECT_EQ(std::get<Text>(v), u"");
  EXPECT_EQ(c.GetById(0, v), kMemberNotFound);
  Text name;
  ASSERT_EQ(c.get_NameFamily(name), kOk);
  EXPECT_EQ(name, u";");
  std::int16_t deg = 5;
  ASSERT_EQ(c.get_GeoLatDeg(deg), kOk);
  EXPECT_EQ(deg, 0);
}

TEST(Dispatch, FailingCardReadDeliversTheEmptyText) {
  TestCard tc;
  ASSERT_EQ(tc.card.PutById(0x68030193, Value(std::int16_t{32767})), kOk);  // GeoLonDeg
  ASSERT_EQ(tc.card.PutById(0x68030192, Value(std::int16_t{1})), kOk);      // GeoLonMin
  Value v = Text(u"stale");
  EXPECT_EQ(tc.card.GetById(kDispIdVCard, v), kOverflow);
  EXPECT_EQ(std::get<Text>(v), u"");
}

}  // namespace
