// The plain route: the cards it takes come out exactly as the reader and
// the mapping make them, and it leaves every other card to them.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "input/vcard_mapping.hpp"
#include "input_helper.hpp"

namespace qvvcard::vcf {
namespace {

// Each card of text as a line per value, loss and error; plain: through
// ReadMapped (otherwise the reader and MapCard alone).
std::vector<std::string> Cards(const std::string& text, bool plain, Limits limits = {}) {
  testing::StringInput input(text, 1024);
  Reader reader(input.stream(), limits);
  Card card;
  Mapped m;
  std::vector<std::string> cards;
  for (;;) {
    bool more = false;
    if (plain) {
      more = ReadMapped(reader, card, m);
    } else {
      more = reader.Next(card);
      if (more && card.error.empty()) MapCard(card, m);
    }
    if (!more) return cards;
    std::string s = "card " + std::to_string(card.line) + " " + card.error + "\n";
    if (card.error.empty()) {
      for (const Assignment& a : m.assignments) {
        s += std::string(qv_VCard::Info(a.property).name) + "=" + std::string(a.value) + " (" +
             SourceOf(*a.line) + ", line " + std::to_string(a.line->line) + ")\n";
      }
      for (const Unplaced& u : m.lost) s += std::string(u.property) + ": " + std::string(u.reason);
      s += "uid " + std::string(m.uid);
    }
    cards.push_back(s);
  }
}

// Text to fill the buffer after the cards, so that the last card stands in
// whole blocks.
const std::string kTail(200, '\n');

const char* const kPlainCards[] = {
    "BEGIN:VCARD\r\nVERSION:3.0\r\nPROFILE:VCARD\r\nN:García;José;;;\r\nFN:José García  \r\n"
    "TEL;TYPE=WORK,VOICE:+46 18 555 0100\r\nTEL;TYPE=CELL;TYPE=PREF:+46 70 555 0101\r\n"
    "EMAIL;TYPE=INTERNET:jose@example.org\r\nEMAIL;TYPE=INTERNET,PREF:mailto:j@example.org\r\n"
    "ORG:Northwind;Sales;East\r\nTITLE:Buyer\r\nNOTE:Met at the fair\\; likes tea\\, "
    "not coffee\\nCall first\r\nREV:2026-01-01T00:00:00Z\r\nUID:urn:uuid:1234\r\n"
    "PRODID:-//Example//EN\r\nEND:VCARD\r\n",
    "\nbegin:vcard\nVERSION:4.0\nFN:Müller\nN:Müller;Lena\nROLE:\nTEL:555 0102\n"
    "TEL;type=home:555 0103\nEMAIL:lena@example.org\nend:vcard\n",
    "BEGIN:VCARD\nN:Okafor;Chidi;;;\nTEL;TYPE=FAX:1\nTEL;TYPE=PAGER:2\nTEL;TYPE=HOME:3\n"
    "TEL;TYPE=WORK:4\nEND:VCARD\n",
};

TEST(VcardPlainRoute, ItsCardsAreThoseOfTheReaderAndTheMapping) {
  std::string text = "BEGIN:VCARD\nVERSION:3.0\nFN:First\nEND:VCARD\n";
  for (int round = 0; round < 3; ++round) {
    for (const char* card : kPlainCards) text += card;
  }
  text += kTail;
  const std::vector<std::string> whole = Cards(text, false);
  ASSERT_EQ(whole.size(), 10u);
  EXPECT_EQ(Cards(text, true), whole);

  // Each card alone is taken whole: all its bytes and lines.
  for (const char* c : kPlainCards) {
    const std::string card = c;
    const std::string ahead = card + kTail;
    Card read;
    Mapped m;
    std::uint64_t lines = 0;
    EXPECT_EQ(MapPlainCard(ahead, 7, Limits{}, read, m, lines), card.size()) << card;
    EXPECT_EQ(lines, static_cast<std::uint64_t>(std::count(card.begin(), card.end(), '\n')));
    EXPECT_EQ(read.line, card.starts_with("\n") ? 9u : 8u);
    EXPECT_TRUE(m.lost.empty());
  }
}

// The route keeps the heads of the lines it read last (their text up to
// the value) by their place in the card: a line at the same place that
// differs in any byte, or a head too long to keep, is read afresh.
TEST(VcardPlainRoute, LinesLikeThoseBeforeThemAreReadAfresh) {
  std::string text;
  for (const char* tel :
       {"TEL;TYPE=WORK", "TEL;TYPE=WORK", "TEL;TYPE=WORX", "TEL;TYPE=HOME", "TEL;TYPE=home",
        "TEL;TYPE=HOME;TYPE=PREF", "TEL;TYPE=HOME;TYPE=PREX", "TEL;TYPE=HOME,VOICE,CELL,PAGER",
        "TEL;TYPE=HOME,VOICE,CELL,PAGER,CAR", "TEL;TYPE=HOME,VOICE,CELL,PAGER,CAX",
        "TEL;TYPE=WORK,VOICE,CELL,MODEM", "TEL;TYPE=WORK,VOICE,CELL,MODEM",
        "TEL;TYPE=WORK,VOICE,PAGER,VIDEO", "TEL;TYPE=WORK,VOICE,PAGER,VIDEO",
        "TEL;TYPE=WORK,VOICE,PAGER,VIDEX", "TEL", "TELX", "TEL"}) {
    for (const char* email : {"EMAIL;TYPE=PREF", "EMAIL;TYPE=INTERNET", "EMAIL;TYPE=PREV"}) {
      text += std::string("BEGIN:VCARD\nVERSION:3.0\nFN:A\n") + tel + ":1\n" + email +
              ":a@b\nEND:VCARD\n";
    }
  }
  text += kTail;
  const std::vector<std::string> whole = Cards(text, false);
  ASSERT_EQ(whole.size(), 54u);
  EXPECT_EQ(Cards(text, true), whole);
}

TEST(VcardPlainRoute, OtherCardsAreLeftToTheReader) {
  const std::string begin = "BEGIN:VCARD\nVERSION:3.0\n";
  const std::string end = "END:VCARD\n";
  const std::vector<std::string> others = {
      begin + "FN:Folded\n  on\n" + end,
      begin + "item1.TEL:1\n" + end,
      begin + "fn:small\n" + end,
      begin + "TEL;TYPE=X-RADIO:1\n" + end,
      begin + "TEL;VALUE=uri:tel:+1-555\n" + end,
      begin + "TEL:tel:+1-555\n" + end,
      begin + "EMAIL;TYPE=WORK:a@b\n" + end,
      begin + "NOTE;LANGUAGE=en:x\n" + end,
      begin + "FN:One\nFN:Two\n" + end,
      begin + "NICKNAME:Lee\n" + end,
      begin + "PROFILE:OTHER\n" + end,
      begin + "NOTE:soft=\n" + end,
      "BEGIN:VCARD\nVERSION:2.1\nNOTE:C:\\new\n" + end,
      begin + "FN:\xC3\x28\n" + end,
      begin + "TEL:1\nTEL:2\nTEL:3\nTEL:4\nTEL:5\nTEL:6\nTEL:7\nTEL:8\nTEL:9\n" + end,
      begin + "FN:No end\n",
      begin + "FN:x\nBEGIN:VCARD\n" + end,
      "Stray text\n" + begin + end,
      begin + "END:VCARD \n",
  };
  for (const std::string& card : others) {
    const std::string ahead = card + kTail;
    Card read;
    Mapped m;
    std::uint64_t lines = 0;
    EXPECT_EQ(MapPlainCard(ahead, 0, Limits{}, read, m, lines), 0u) << card;
    // The reader and the mapping give the same card either way.
    const std::string file = begin + "FN:First\n" + end + card + kTail;
    EXPECT_EQ(Cards(file, true), Cards(file, false)) << card;
  }
  // Over the limits the reader reports.
  const std::string card = begin + "FN:A\nTITLE:B\nROLE:C\n" + end + kTail;
  Card read;
  Mapped m;
  std::uint64_t lines = 0;
  EXPECT_EQ(MapPlainCard(card, 0, Limits{40, 100}, read, m, lines), 0u);
  EXPECT_EQ(MapPlainCard(card, 0, Limits{1000, 2}, read, m, lines), 0u);
  EXPECT_NE(MapPlainCard(card, 0, Limits{1000, 3}, read, m, lines), 0u);
  const std::string file = begin + "FN:First\n" + end + card;
  EXPECT_EQ(Cards(file, true, Limits{40, 100}), Cards(file, false, Limits{40, 100}));
  EXPECT_EQ(Cards(file, true, Limits{1000, 2}), Cards(file, false, Limits{1000, 2}));
}

}  // namespace
}  // namespace qvvcard::vcf
