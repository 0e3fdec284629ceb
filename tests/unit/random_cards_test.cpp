// Random records of every kind: the card keeps its shape whatever they hold.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "support/test_support.hpp"

namespace {

using namespace qv_VCard;

Text RandomText(std::mt19937& rng) {
  static const char16_t kPieces[] = {u'a',      u'Z',      u' ',  u';',      u',',      u'\\',
                                     u'\r',     u'\n',     u':',  u'\u00e9', u'\u6771', u'\xD83D',
                                     u'\xDE00', u'\xDC00', u'\t', u'N'};
  std::uniform_int_distribution<int> len(0, 12);
  std::uniform_int_distribution<std::size_t> pick(0, std::size(kPieces) - 1);
  Text t;
  if (rng() % 4 == 0) return t;  // plenty of empty fields
  for (int n = len(rng); n > 0; --n) t.push_back(kPieces[pick(rng)]);
  return t;
}

std::int16_t RandomValue(std::mt19937& rng, Kind kind) {
  if (rng() % 3 == 0) return 0;
  if (kind == Kind::Flag) return rng() % 2 ? std::int16_t{-1} : static_cast<std::int16_t>(rng());
  return rng() % 8 == 0 ? static_cast<std::int16_t>(rng())
                        : static_cast<std::int16_t>(rng() % 200 - 100);
}

// Every property read, as a snapshot of what a caller can see.
std::vector<Value> Snapshot(const qvVCard& c) {
  std::vector<Value> all;
  for (const PropertyInfo& p : Properties()) {
    Value v;
    EXPECT_EQ(c.GetById(p.dispid, v), kOk);
    all.push_back(v);
  }
  return all;
}

// Body position of a content line, from its name.
int PositionOf(const Text& line) {
  static const std::pair<std::u16string_view, int> kNames[] = {
      {u"N:", 1},    {u"FN:", 2},   {u"SORT-STRING:", 3}, {u"NICKNAME:", 4},    {u"BDAY:", 5},
      {u"ADR;", 6},  {u"TEL;", 9},  {u"EMAIL;", 13},      {u"CATEGORIES:", 16}, {u"GEO:", 17},
      {u"TZ:", 18},  {u"ORG:", 19}, {u"TITLE:", 20},      {u"ROLE:", 21},       {u"NOTE:", 22},
      {u"URL:", 23}, {u"REV:", 24}, {u"UID:", 25},        {u"PRODID:", 26}};
  for (const auto& [name, position] : kNames) {
    if (line.starts_with(name)) return position;
  }
  return -1;
}

TEST(RandomCards, ShapeOrderAndUnchangedRecord) {
  std::mt19937 rng(20261207);
  qv_test::TestCard tc;
  qvVCard& c = tc.card;
  int cards = 0;
  int failures = 0;
  for (int round = 0; round < 400; ++round) {
    if (rng() % 10 == 0) {
      ASSERT_EQ(c.vCardClean(), kOk);
    }
    for (int n = static_cast<int>(rng() % 60); n > 0; --n) {
      const PropertyInfo& p = Properties()[rng() % Properties().size()];
      if (p.kind == Kind::Text) {
        ASSERT_EQ(c.Put(p.property, RandomText(rng)), kOk);
      } else {
        ASSERT_EQ(c.Put(p.property, RandomValue(rng, p.kind)), kOk);
      }
    }
    const std::vector<Value> before = Snapshot(c);
    Text card = u"stale";
    const Status s = c.get_vCard(card);
    Text file_name;
    ASSERT_EQ(c.get_vCardFileName(file_name), kOk);
    ASSERT_EQ(Snapshot(c), before) << "a read changed the record";
    ASSERT_TRUE(file_name.ends_with(u".vcf"));
    if (Failed(s)) {
      EXPECT_EQ(s, kOverflow);
      EXPECT_EQ(card, u"");
      ++failures;
      continue;
    }
    ++cards;
    const std::vector<Text> lines = qv_test::Lines(card);
    ASSERT_GE(lines.size(), 9u);
    EXPECT_EQ(lines[0], u"BEGIN:VCARD");
    EXPECT_EQ(lines[1], u"VERSION:3.0");
    EXPECT_EQ(lines[2], u"PROFILE:VCARD");
    EXPECT_EQ(lines.back(), u"END:VCARD");
    int last = 0;
    int adr = 0, tel = 0, email = 0;
    for (std::size_t i = 3; i + 1 < lines.size(); ++i) {
      const Text& l = lines[i];
      ASSERT_EQ(l.find_first_of(u"\r\n"), Text::npos) << "raw line break inside a line";
      const int position = PositionOf(l);
      ASSERT_GT(position, 0) << qv_test::Narrow(l);
      EXPECT_GE(position, last) << qv_test::Narrow(l);
      last = position;
      adr += position == 6;
      tel += position == 9;
      email += position == 13;
    }
    // Lines present exactly when their fields ask for them.
    int want_adr = 0, want_tel = 0, want_email = 0;
    for (int slot = 1; slot <= 3; ++slot) {
      bool any = false;
      for (const char* f : {"Dom", "Intl", "Postal", "Parcel", "Home", "Work"}) {
        std::int16_t v;
        c.Get(FindProperty("Adr" + std::to_string(slot) + "_" + f)->property, v);
        any |= v != 0;
      }
      want_adr += any;
      Text e;
      c.Get(FindProperty("Email" + std::to_string(slot) + "_Value")->property, e);
      want_email += !e.empty();
    }
    for (int slot = 1; slot <= 4; ++slot) {
      bool any = false;
      for (const PropertyInfo& p : Properties()) {
        const std::string prefix = "Tel" + std::to_string(slot) + "_";
        if (p.kind == Kind::Flag && std::string(p.name).starts_with(prefix)) {
          std::int16_t v;
          c.Get(p.property, v);
          any |= v != 0;
        }
      }
      want_tel += any;
    }
    EXPECT_EQ(adr, want_adr);
    EXPECT_EQ(tel, want_tel);
    EXPECT_EQ(email, want_email);
  }
  EXPECT_GT(cards, 300);
  EXPECT_GT(failures, 0);  // the overflow path was exercised too
}

}  // namespace
