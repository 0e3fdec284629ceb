// Reads after the first allocate nothing: the card object keeps the room
// its last card needed, and a caller who passes the same text again gets the
// card without any allocation. This program counts the allocations of the
// global allocator.
#include <gtest/gtest.h>

#include "support/replaced_allocator.hpp"
#include "support/test_support.hpp"

namespace {

long g_allocations = 0;

}  // namespace

bool qv_test::BeforeAllocation() {
  ++g_allocations;
  return true;
}

namespace {

using namespace qv_VCard;

// Allocations made by f.
template <typename F>
long AllocationsOf(F&& f) {
  const long before = g_allocations;
  f();
  return g_allocations - before;
}

void FillTypical(qvVCard& c) {
  ASSERT_EQ(c.put_NameFamily(u"Lindqvist"), kOk);
  ASSERT_EQ(c.put_NameGiven(u"Maria"), kOk);
  ASSERT_EQ(c.put_OrgName(u"Northwind Instruments"), kOk);
  ASSERT_EQ(c.put_Title(u"Senior Engineer"), kOk);
  ASSERT_EQ(c.put_Adr1_Street(u"Storgatan 12"), kOk);
  ASSERT_EQ(c.put_Adr1_Locality(u"Uppsala"), kOk);
  ASSERT_EQ(c.put_Adr1_Work(kTrue), kOk);
  ASSERT_EQ(c.put_Adr2_Street(u"Linn\u00E9gatan 4"), kOk);
  ASSERT_EQ(c.put_Adr2_Home(kTrue), kOk);
  ASSERT_EQ(c.put_Tel1_Number(u"+46 18 555 01 00"), kOk);
  ASSERT_EQ(c.put_Tel1_Work(kTrue), kOk);
  ASSERT_EQ(c.put_Tel2_Number(u"+46 70 555 02 00"), kOk);
  ASSERT_EQ(c.put_Tel2_Cell(kTrue), kOk);
  ASSERT_EQ(c.put_Email1_Value(u"maria@northwind.example"), kOk);
  ASSERT_EQ(c.put_Note(u"Met at the fair;\r\nprefers e-mail."), kOk);  // escaped on the card
  ASSERT_EQ(c.put_Url(u"https://northwind.example/people/ml"), kOk);
  ASSERT_EQ(c.put_GeoLatDeg(59), kOk);
  ASSERT_EQ(c.put_GeoLonDeg(17), kOk);
  ASSERT_EQ(c.put_GeoLonMin(38), kOk);
}

void FillEverything(qvVCard& c) {
  for (const PropertyInfo& p : Properties()) {
    if (p.kind == Kind::Text) {
      ASSERT_EQ(c.Put(p.property, Text(40, static_cast<char16_t>(u'a' + p.field % 26))), kOk);
    } else {
      ASSERT_EQ(c.Put(p.property, std::int16_t{7}), kOk);
    }
  }
}

// Every sample card, with the system's clock and identifiers as well as
// the injected ones.
TEST(SteadyState, CardReadsIntoTheSameTextAllocateNothing) {
  for (int sample = 0; sample < 3; ++sample) {
    for (bool system_sources : {false, true}) {
      qv_test::FixedClock clock;
      qv_test::CountingGuids guids;
      qvVCard c = system_sources ? qvVCard() : qvVCard(clock, guids);
      if (sample == 1) FillTypical(c);
      if (sample == 2) FillEverything(c);
      Text card;
      ASSERT_EQ(c.get_vCard(card), kOk);  // warm-up
      const Text first = card;
      EXPECT_EQ(AllocationsOf([&] {
                  for (int i = 0; i < 100; ++i) ASSERT_EQ(c.get_vCard(card), kOk);
                }),
                0)
          << "sample " << sample << (system_sources ? ", system sources" : "");
      EXPECT_EQ(card.size(), first.size());
      if (!system_sources) {
        EXPECT_NE(card, first);  // a new identifier each read
      }
    }
  }
}

TEST(SteadyState, AFreshTextIsTheOnlyAllocationOfARead) {
  qv_test::TestCard tc;
  FillTypical(tc.card);
  Text warm;
  ASSERT_EQ(tc.card.get_vCard(warm), kOk);
  EXPECT_EQ(AllocationsOf([&] {
              Text fresh;
              ASSERT_EQ(tc.card.get_vCard(fresh), kOk);
            }),
            1);
}

TEST(SteadyState, RoomGrowsOnceForALongerCardAndTheFileNameReusesItsText) {
  qv_test::TestCard tc;
  FillTypical(tc.card);
  Text card;
  ASSERT_EQ(tc.card.get_vCard(card), kOk);
  ASSERT_EQ(tc.card.put_Note(Text(5000, u'n')), kOk);
  EXPECT_GT(AllocationsOf([&] { ASSERT_EQ(tc.card.get_vCard(card), kOk); }), 0);
  EXPECT_EQ(AllocationsOf([&] {
              for (int i = 0; i < 10; ++i) ASSERT_EQ(tc.card.get_vCard(card), kOk);
            }),
            0);
  Text name;
  ASSERT_EQ(tc.card.get_vCardFileName(name), kOk);
  EXPECT_EQ(AllocationsOf([&] {
              for (int i = 0; i < 10; ++i) ASSERT_EQ(tc.card.get_vCardFileName(name), kOk);
            }),
            0);
  EXPECT_EQ(name, u"Lindqvist Maria.vcf");
}

// The room a card is written in belongs to its object: a copy, or an object
// assigned another, reads as a new object does (it makes its own room), and
// the original keeps its room.
TEST(SteadyState, CopiesAndAssignmentsLeaveTheRoomBehind) {
  qv_test::TestCard tc;
  FillTypical(tc.card);
  ASSERT_EQ(tc.card.put_Note(Text(20000, u'n')), kOk);  // a room of many pages
  Text card;
  ASSERT_EQ(tc.card.get_vCard(card), kOk);
  const Text expected = card;
  // What a read costs an object that has never been read, into a text that
  // holds the card already.
  const auto first_read = [&](const qvVCard& c) {
    return AllocationsOf([&] { ASSERT_EQ(c.get_vCard(card), kOk); });
  };
  qvVCard fresh(tc.clock, tc.guids);
  FillTypical(fresh);
  ASSERT_EQ(fresh.put_Note(Text(20000, u'n')), kOk);
  const long fresh_read = first_read(fresh);
  ASSERT_GT(fresh_read, 0);

  const qvVCard copy(tc.card);
  EXPECT_EQ(first_read(copy), fresh_read);
  EXPECT_EQ(card.size(), expected.size());
  qvVCard assigned(tc.clock, tc.guids);
  assigned = tc.card;
  EXPECT_EQ(first_read(assigned), fresh_read);
  EXPECT_EQ(card.size(), expected.size());
  // The original still reads without allocating.
  EXPECT_EQ(first_read(tc.card), 0);
}

}  // namespace
