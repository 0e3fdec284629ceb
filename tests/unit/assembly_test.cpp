// The card document: frame, position order and failure of a source.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <vector>

#include "card/internals.hpp"
#include "support/test_support.hpp"

namespace {

using namespace qv_VCard;
using qv_test::Lines;
using qv_test::TestCard;

TEST(CardFrame, NewCardHasExactlyNineLines) {
  TestCard tc;
  const Text card = tc.Card();
  const Text expected = u"BEGIN:VCARD\r\nVERSION:3.0\r\nPROFILE:VCARD\r\nN:;;;;\r\nFN:   \r\n" +
                        qv_test::kRevLine + u"\r\n" + qv_test::UidLine(1) + u"\r\n" +
                        qv_test::kProdIdLine + u"\r\nEND:VCARD";
  EXPECT_EQ(card, expected);
  EXPECT_EQ(Lines(card).size(), 9u);
}

TEST(CardFrame, HeaderWithoutTrailingBlanksAndFooterWithoutLineEnd) {
  TestCard tc;
  ASSERT_EQ(tc.card.put_Note(u"n"), kOk);
  const Text card = tc.Card();
  EXPECT_EQ(card.substr(0, 41), u"BEGIN:VCARD\r\nVERSION:3.0\r\nPROFILE:VCARD\r\n");
  ASSERT_GE(card.size(), 11u);
  EXPECT_EQ(card.substr(card.size() - 11), u"\r\nEND:VCARD");
}

TEST(CardOrder, EmptySourcesLeaveNoTrace) {
  TestCard tc;
  ASSERT_EQ(tc.card.put_Title(u"Boss"), kOk);
  ASSERT_EQ(tc.card.put_Note(u"hi"), kOk);
  ASSERT_EQ(tc.card.put_OrgName(u"ACME"), kOk);
  const std::vector<Text> body = qv_test::Body(tc.Card());
  const std::vector<Text> expected = {u"N:;;;;", u"FN:   ", u"ORG:ACME;", u"TITLE:Boss",
                                      u"NOTE:hi"};
  EXPECT_EQ(body, expected);
}

TEST(CardOrder, CategoriesGeoAndTimeZone) {
  TestCard tc;
  ASSERT_EQ(tc.card.put_TimeZone(u"+02:00"), kOk);
  ASSERT_EQ(tc.card.put_Categorie(u"a,b"), kOk);
  std::vector<Text> body = qv_test::Body(tc.Card());
  EXPECT_EQ(body, (std::vector<Text>{u"N:;;;;", u"FN:   ", u"CATEGORIES:a,b", u"TZ:+02:00"}));
  ASSERT_EQ(tc.card.put_GeoLatDeg(1), kOk);
  body = qv_test::Body(tc.Card());
  EXPECT_EQ(body, (std::vector<Text>{u"N:;;;;", u"FN:   ", u"CATEGORIES:a,b", u"GEO:-1;+0",
                                     u"TZ:+02:00"}));
}

TEST(CardOrder, AllTwentySixPositions) {
  TestCard tc;
  qvVCard& c = tc.card;
  ASSERT_EQ(c.put_Url(u"u"), kOk);
  ASSERT_EQ(c.put_Note(u"n"), kOk);
  ASSERT_EQ(c.put_Role(u"r"), kOk);
  ASSERT_EQ(c.put_Title(u"t"), kOk);
  ASSERT_EQ(c.put_OrgUnit(u"o"), kOk);
  ASSERT_EQ(c.put_TimeZone(u"z"), kOk);
  ASSERT_EQ(c.put_GeoLonDeg(2), kOk);
  ASSERT_EQ(c.put_Categorie(u"c"), kOk);
  ASSERT_EQ(c.put_Email3_Value(u"e3"), kOk);
  ASSERT_EQ(c.put_Email2_Value(u"e2"), kOk);
  ASSERT_EQ(c.put_Email1_Value(u"e1"), kOk);
  ASSERT_EQ(c.put_Tel4_Car(-1), kOk);
  ASSERT_EQ(c.put_Tel3_Car(-1), kOk);
  ASSERT_EQ(c.put_Tel2_Car(-1), kOk);
  ASSERT_EQ(c.put_Tel1_Car(-1), kOk);
  ASSERT_EQ(c.put_Adr3_Intl(-1), kOk);
  ASSERT_EQ(c.put_Adr2_Intl(-1), kOk);
  ASSERT_EQ(c.put_Adr1_Intl(-1), kOk);
  ASSERT_EQ(c.put_Birthdate(u"b"), kOk);
  ASSERT_EQ(c.put_Nickname(u"k"), kOk);
  ASSERT_EQ(c.put_SortString(u"s"), kOk);
  ASSERT_EQ(c.put_Tel3_Number(u"3"), kOk);
  ASSERT_EQ(c.put_Adr2_Locality(u"L"), kOk);
  const std::vector<Text> all = Lines(tc.Card());
  const std::vector<Text> expected = {u"BEGIN:VCARD",
                                      u"VERSION:3.0",
                                      u"PROFILE:VCARD",
                                      u"N:;;;;",
                                      u"FN:   ",
                                      u"SORT-STRING:s",
                                      u"NICKNAME:k",
                                      u"BDAY:b",
                                      u"ADR;TYPE=INTL:;;;;;;",
                                      u"ADR;TYPE=INTL:;;;L;;;",
                                      u"ADR;TYPE=INTL:;;;;;;",
                                      u"TEL;TYPE=CAR:",
                                      u"TEL;TYPE=CAR:",
                                      u"TEL;TYPE=CAR:3",
                                      u"TEL;TYPE=CAR:",
                                      u"EMAIL;TYPE=INTERNET:e1",
                                      u"EMAIL;TYPE=INTERNET:e2",
                                      u"EMAIL;TYPE=INTERNET:e3",
                                      u"CATEGORIES:c",
                                      u"GEO:-0;+2",
                                      u"TZ:z",
                                      u"ORG:;o",
                                      u"TITLE:t",
                                      u"ROLE:r",
                                      u"NOTE:n",
                                      u"URL:u",
                                      qv_test::kRevLine,
                                      qv_test::UidLine(1),
                                      qv_test::kProdIdLine,
                                      u"END:VCARD"};
  EXPECT_EQ(all, expected);
}

TEST(CardReads, NothingIsCachedAndReadsChangeNothing) {
  TestCard tc;
  ASSERT_EQ(tc.card.put_NameFamily(u"A"), kOk);
  const Text first = tc.Card();
  const Text second = tc.Card();
  // Only the UID differs between two reads of an unchanged card.
  EXPECT_NE(first, second);
  std::vector<Text> a = Lines(first);
  std::vector<Text> b = Lines(second);
  ASSERT_EQ(a.size(), b.size());
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].starts_with(u"UID:")) {
      EXPECT_NE(a[i], b[i]);
    } else {
      EXPECT_EQ(a[i], b[i]);
    }
  }
  ASSERT_EQ(tc.card.put_NameFamily(u"B"), kOk);
  EXPECT_EQ(Lines(tc.Card())[3], u"N:B;;;;");
  EXPECT_EQ(tc.clock.calls, 3);
  EXPECT_EQ(tc.guids.calls, 3);
}

TEST(CardFailure, FailingSourceStopsTheReadAndLaterSourcesAreNotCalled) {
  TestCard tc;
  ASSERT_EQ(tc.card.put_NameFamily(u"Doe"), kOk);
  ASSERT_EQ(tc.card.put_GeoLatDeg(32767), kOk);
  ASSERT_EQ(tc.card.put_GeoLatMin(1), kOk);
  Text out = u"previous contents";
  EXPECT_EQ(tc.card.get_vCard(out), kOverflow);
  EXPECT_EQ(out, u"");
  EXPECT_EQ(tc.clock.calls, 0);  // REV stands after GEO
  EXPECT_EQ(tc.guids.calls, 0);
  // The record is unchanged and the object stays usable.
  ASSERT_EQ(tc.card.put_GeoLatMin(0), kOk);
  EXPECT_EQ(tc.card.get_vCard(out), kOk);
  EXPECT_NE(out.find(u"GEO:-32767;+0\r\n"), Text::npos) << qv_test::Narrow(out);
}

TEST(CardFailure, ClockFailureStopsBeforeTheIdentifierIsCreated) {
  TestCard tc;
  tc.clock.status = kFail;
  Text out = u"x";
  EXPECT_EQ(tc.card.get_vCard(out), kFail);
  EXPECT_EQ(out, u"");
  EXPECT_EQ(tc.clock.calls, 1);
  EXPECT_EQ(tc.guids.calls, 0);
}

TEST(CardFailure, GuidFailureFailsTheReadInsteadOfWritingAZeroIdentifier) {
  TestCard tc;
  tc.guids.status = static_cast<Status>(0x80070005);
  Text out = u"x";
  EXPECT_EQ(tc.card.get_vCard(out), static_cast<Status>(0x80070005));
  EXPECT_EQ(out, u"");
  tc.guids.status = kOk;
  EXPECT_EQ(tc.card.get_vCard(out), kOk);
  EXPECT_EQ(out.find(u"00000000-0000-0000-0000-000000000000"), Text::npos);
}

// A text the card is read into again is written in directly: a failing read
// leaves it empty all the same, and a text holding more than the card ends
// where the card ends.
TEST(CardFailure, AReadIntoAReusedTextLeavesNothingOfWhatItHeld) {
  TestCard tc;
  ASSERT_EQ(tc.card.put_NameFamily(u"Doe"), kOk);
  Text out;
  ASSERT_EQ(tc.card.get_vCard(out), kOk);
  ASSERT_EQ(tc.card.get_vCard(out), kOk);
  const Text expected = out;
  tc.clock.status = kFail;
  EXPECT_EQ(tc.card.get_vCard(out), kFail);
  EXPECT_EQ(out, u"");
  tc.clock.status = kOk;
  out.assign(3 * expected.size(), u'#');
  ASSERT_EQ(tc.card.get_vCard(out), kOk);
  EXPECT_EQ(out.size(), expected.size());
  EXPECT_TRUE(out.ends_with(u"END:VCARD"));
  EXPECT_EQ(out.find(u'#'), Text::npos);
}

}  // namespace

namespace {

// Every write is checked against the room made for it where it is written:
// the longest cards a record can give (every type flag set, the longest GEO
// numbers, a composed formatted name, values made of lone line breaks,
// which double when written) come out whole.
TEST(CardRoom, HoldsTheLongestCards) {
  const auto fill = [](qvVCard& c, const Text& text) {
    for (const PropertyInfo& p : Properties()) {
      const Status s = p.kind == Kind::Text ? c.Put(p.property, text) : c.Put(p.property, kTrue);
      ASSERT_EQ(s, kOk) << p.name;
    }
    ASSERT_EQ(c.put_FormatedName(u""), kOk);
    ASSERT_EQ(c.put_Email1_Type(u""), kOk);  // written as INTERNET
    for (const Property p :
         {Property::GeoLatDeg, Property::GeoLatMin, Property::GeoLonDeg, Property::GeoLonMin}) {
      ASSERT_EQ(c.Put(p, std::int16_t{0}), kOk);
    }
    ASSERT_EQ(c.put_GeoLatSec(1), kOk);  // 0.0002777778
    ASSERT_EQ(c.put_GeoLonSec(-1), kOk);
  };
  for (const Text& text : {Text(), Text(1, u'x'), Text(40, u'\r'), Text(3000, u'\n')}) {
    TestCard tc;
    tc.clock.time.year = 2147483647;
    fill(tc.card, text);
    const Text card = tc.Card();
    EXPECT_NE(card.find(u"0.0002777778;-0.0002777778\r\n"), Text::npos);
    EXPECT_NE(card.find(u"REV:2147483647-12-06T00:56:18Z\r\n"), Text::npos);
    EXPECT_TRUE(card.ends_with(u"END:VCARD")) << text.size();
  }
}

// A clock reading outside the calendar cannot make a stamp of digits: the
// read fails instead of writing other characters.
TEST(CardRoom, ClockReadingsOutsideTheCalendarFailTheRead) {
  const auto with = [](auto change) {
    TestCard tc;
    change(tc.clock.time);
    Text out = u"x";
    const Status s = tc.card.get_vCard(out);
    return std::make_pair(s, out);
  };
  for (const auto& change : std::initializer_list<void (*)(CalendarTime&)>{
           [](CalendarTime& t) { t.year = -2147483647 - 1; }, [](CalendarTime& t) { t.year = -1; },
           [](CalendarTime& t) { t.month = 13; }, [](CalendarTime& t) { t.day = 0; },
           [](CalendarTime& t) { t.hour = 24; }, [](CalendarTime& t) { t.minute = -1; },
           [](CalendarTime& t) { t.second = 61; }}) {
    EXPECT_EQ(with(change), std::make_pair(kInvalidArg, Text()));
  }
  const auto [s, card] = with([](CalendarTime& t) { t = {800, 1, 2, 3, 4, 60}; });
  EXPECT_EQ(s, kOk);
  EXPECT_NE(card.find(u"REV:800-01-02T03:04:60Z\r\n"), Text::npos);
}

// A write past the room it reserved, injected here on purpose, is refused
// in every build: nothing of it reaches the text and the card fails.
TEST(CardRoom, AWritePastItsReservationFailsTheCard) {
  TestCard tc;
  ASSERT_EQ(tc.card.put_NameFamily(u"Doe"), kOk);
  Text storage;
  writer::CardText card(storage);
  ASSERT_EQ(detail::Internals::NameLine(tc.card, card), kOk);
  {
    writer::Cursor line(card);
    const writer::Room room = line.Reserve(4);
    std::copy_n(u"ABCD", 4, room.at);
    line.Advance(room, 5);  // one more than reserved
    line.Commit();
  }
  EXPECT_EQ(card.failure(), kUnexpected);
  EXPECT_EQ(Text(card.view()), u"N:Doe;;;;\r\n");
  EXPECT_EQ(detail::Internals::FormattedNameLine(tc.card, card), kOk);
  EXPECT_EQ(card.Finish(), kUnexpected);  // whatever came after
}

// The same for a line written in one room: a piece that says it wrote more
// than it was given is held to its room and the card fails, whether the card
// had the room for the line already or makes it piece by piece.
TEST(CardRoom, APieceThatSaysItWroteMoreThanItsRoomFailsTheCard) {
  for (const std::size_t room : {std::size_t{0}, std::size_t{4096}}) {
    Text storage(room, u'\0');
    writer::CardText card(storage);
    writer::WriteLine(card, [](auto& line) { line.append(u"N:;;;;\r\n"); });
    ASSERT_EQ(card.failure(), kOk);
    writer::WriteLine(card, [](auto& line) {
      line.append(u"X:");
      line.Write(4, [](char16_t* at) {
        std::copy_n(u"ABCD", 4, at);
        return std::size_t{5};  // one more than its room
      });
      line.append(writer::kLineEnd);
    });
    EXPECT_EQ(card.failure(), kUnexpected) << room;
    EXPECT_EQ(Text(card.view()).substr(0, 8), u"N:;;;;\r\n") << room;
    EXPECT_EQ(card.Finish(), kUnexpected);
  }
}

// Each line is written in one room when the card has room for it, and piece
// by piece otherwise (and whenever a value must be cleaned): both give the
// same text, for every builder and records of every kind.
TEST(CardRoom, ALineIsTheSameWhetherWrittenInOneRoomOrPieceByPiece) {
  using Build = std::function<Status(const qvVCard&, writer::CardText&)>;
  using detail::Internals;
  std::vector<Build> builders = {Internals::NameLine,     Internals::FormattedNameLine,
                                 Internals::BirthdayLine, Internals::OrganizationLine,
                                 Internals::GeoLine,      Internals::RevisionLine,
                                 Internals::UidLine,      Internals::ProductIdLine};
  for (int slot = 1; slot <= 4; ++slot) {
    builders.push_back([slot](const qvVCard& c, writer::CardText& t) {
      return slot <= 3 ? Internals::AddressLine(c, slot, t) : Status{kOk};
    });
    builders.push_back([slot](const qvVCard& c, writer::CardText& t) {
      return Internals::TelephoneLine(c, slot, t);
    });
    builders.push_back([slot](const qvVCard& c, writer::CardText& t) {
      return slot <= 3 ? Internals::EmailLine(c, slot, t) : Status{kOk};
    });
  }
  for (const Property p :
       {Property::SortString, Property::Nickname, Property::Categorie, Property::TimeZone,
        Property::Title, Property::Role, Property::Note, Property::Url}) {
    builders.push_back(
        [p](const qvVCard& c, writer::CardText& t) { return Internals::TextLine(c, p, t); });
  }
  static const char16_t kUnits[] = {u'a',  u'Z',    u';',    u':',      u'"',      u'\r',    u'\n',
                                    u'\t', u'\x01', u'\x7F', u'\u00e9', u'\xD83D', u'\xDE00'};
  std::mt19937 rng(20261209);
  for (int round = 0; round < 300; ++round) {
    TestCard tc;
    for (const PropertyInfo& p : Properties()) {
      if (p.kind == Kind::Text) {
        Text t;
        const std::size_t n = rng() % 3 == 0 ? 0 : rng() % (round % 10 == 0 ? 3000 : 24);
        const bool plain = rng() % 4 != 0;  // most values need no cleaning
        for (std::size_t i = 0; i < n; ++i) t += plain ? u'a' + rng() % 26 : kUnits[rng() % 13];
        ASSERT_EQ(tc.card.Put(p.property, t), kOk);
      } else {
        ASSERT_EQ(tc.card.Put(p.property, static_cast<std::int16_t>(rng() % 3 ? 0 : rng() % 90)),
                  kOk);
      }
    }
    for (std::size_t b = 0; b < builders.size(); ++b) {
      Text none;
      Text plenty(16384, u'\0');
      writer::CardText piecewise(none);
      writer::CardText one_room(plenty);
      tc.guids.calls = 0;  // the same identifier for both
      const Status s = builders[b](tc.card, piecewise);
      tc.guids.calls = 0;
      ASSERT_EQ(builders[b](tc.card, one_room), s) << b;
      ASSERT_EQ(Text(one_room.view()), Text(piecewise.view())) << b << " round " << round;
      EXPECT_EQ(one_room.failure(), kOk);
    }
  }
}

}  // namespace
