#include "input/vcard_mapping.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>
#include <utf8.h>

#include <map>
#include <string>
#include <vector>

#include "card/slot_table.hpp"
#include "common/problem.hpp"
#include "input/card_builder.hpp"
#include "input/values.hpp"
#include "input_helper.hpp"

namespace qvvcard::vcf {
namespace {

using qv_VCard::Property;
namespace slots = qv_VCard::slots;
using slots::AddressPart;
using slots::AddressType;
using slots::TelType;

struct Result {
  std::map<Property, std::string> values;
  std::map<Property, bool> escaped;
  std::vector<std::string> lost;  // "NAME: reason"
  std::string uid;
};

std::string Lost(const Unplaced& u) {
  return std::string(u.property) + ": " + std::string(u.reason);
}

Result Map(std::string_view text) {
  InputStream in(text);
  Reader reader(in);
  Card card;
  EXPECT_TRUE(reader.Next(card));
  EXPECT_EQ(card.error, "");
  const Mapped m = MapCard(card);
  Result r;
  for (const Assignment& a : m.assignments) {
    EXPECT_TRUE(r.values.emplace(a.property, std::string(a.value)).second)
        << qv_VCard::Info(a.property).name << " twice";
    r.escaped[a.property] = a.escaped;
  }
  for (const Unplaced& u : m.lost) r.lost.push_back(Lost(u));
  r.uid = m.uid;
  return r;
}

std::string Card30(std::string_view lines) {
  return "BEGIN:VCARD\nVERSION:3.0\n" + std::string(lines) + "END:VCARD\n";
}

// The flags of a telephone slot that are set, as their type words.
std::string TelTypes(const Result& r, int slot) {
  std::string words;
  for (int f = 0; f < slots::kTelTypes; ++f) {
    const auto t = static_cast<TelType>(f);
    if (r.values.contains(slots::Tel(slot, t))) {
      const std::u16string_view w = slots::TypeWord(t);
      if (!words.empty()) words += ',';
      words.append(w.begin(), w.end());
    }
  }
  return words;
}
std::string AdrTypes(const Result& r, int slot) {
  std::string words;
  for (int f = 0; f < slots::kAddressTypes; ++f) {
    const auto t = static_cast<AddressType>(f);
    if (r.values.contains(slots::Address(slot, t))) {
      const std::u16string_view w = slots::TypeWord(t);
      if (!words.empty()) words += ',';
      words.append(w.begin(), w.end());
    }
  }
  return words;
}
std::string Value(const Result& r, Property p) {
  const auto it = r.values.find(p);
  return it == r.values.end() ? "<none>" : it->second;
}

TEST(VcardMapping, TelephonesFillTheirSlotsPreferredFirst) {
  const Result r =
      Map(Card30("TEL;TYPE=HOME:+1 1\nTEL;TYPE=CELL;TYPE=PREF:+1 2\nTEL:+1 3\n"
                 "TEL;TYPE=TEXTPHONE,X-RADIO:+1 4\nTEL;TYPE=WORK,FAX:+1 5\nTEL:\n"));
  const std::pair<std::string, std::string> want[] = {
      {"+1 2", "PREF,CELL"}, {"+1 1", "HOME,VOICE"}, {"+1 3", "VOICE"}, {"+1 4", "VOICE"}};
  for (int slot = 1; slot <= 4; ++slot) {
    EXPECT_EQ(Value(r, slots::TelNumber(slot)), want[slot - 1].first) << slot;
    EXPECT_EQ(TelTypes(r, slot), want[slot - 1].second) << slot;
  }
  EXPECT_EQ(r.lost, (std::vector<std::string>{"TEL: a type with no place on the card: TEXTPHONE",
                                              "TEL: a type with no place on the card: X-RADIO",
                                              "TEL: no telephone slot left"}));

  // 4.0: pref=1 first, then 2, then none; tel: URIs as numbers; TEXT is a
  // message number.
  const Result v4 =
      Map("BEGIN:VCARD\nVERSION:4.0\nTEL;VALUE=uri;PREF=2;TYPE=text:tel:+1-555-0102\n"
          "TEL;VALUE=uri;TYPE=\"voice,work\":tel:+1-555-0103;ext=7;phone-context=x\n"
          "TEL;PREF=1;TYPE=cell:+1-555-0101\nEND:VCARD\n");
  EXPECT_EQ(Value(v4, slots::TelNumber(1)), "+1-555-0101");
  EXPECT_EQ(TelTypes(v4, 1), "PREF,CELL");
  EXPECT_EQ(Value(v4, slots::TelNumber(2)), "+1-555-0102");
  EXPECT_EQ(TelTypes(v4, 2), "MSG");
  EXPECT_EQ(Value(v4, slots::TelNumber(3)), "+1-555-0103 ext. 7");
  EXPECT_EQ(TelTypes(v4, 3), "WORK,VOICE");
}

TEST(VcardMapping, EmailsTypesAndPreference) {
  const Result r =
      Map(Card30("EMAIL;TYPE=INTERNET:a@x\nEMAIL;TYPE=work;TYPE=pref:b@x\nitem1.EMAIL:c@x\n"
                 "item1.X-ABLabel:_$!<Home>!$_\nEMAIL:d@x\n"));
  EXPECT_EQ(Value(r, slots::EmailValue(1)), "b@x");
  EXPECT_EQ(Value(r, slots::EmailType(1)), "INTERNET,WORK");
  EXPECT_EQ(Value(r, slots::EmailPref(1)), "true");
  EXPECT_EQ(Value(r, slots::EmailValue(2)), "a@x");
  EXPECT_EQ(Value(r, slots::EmailType(2)), "<none>");  // the card's default, INTERNET
  EXPECT_EQ(Value(r, slots::EmailValue(3)), "c@x");
  EXPECT_EQ(Value(r, slots::EmailType(3)), "INTERNET,HOME");
  EXPECT_EQ(r.lost, std::vector<std::string>{"EMAIL: no e-mail slot left"});

  const Result v4 =
      Map("BEGIN:VCARD\nVERSION:4.0\nEMAIL;TYPE=home,internet:h@x\nEMAIL;PREF=1:mailto:p@x\n"
          "EMAIL;TYPE=X400:c=de\nEND:VCARD\n");
  EXPECT_EQ(Value(v4, slots::EmailValue(1)), "p@x");
  EXPECT_EQ(Value(v4, slots::EmailPref(1)), "true");
  EXPECT_EQ(Value(v4, slots::EmailType(2)), "INTERNET,HOME");
  EXPECT_EQ(Value(v4, slots::EmailType(3)), "X400");
}

TEST(VcardMapping, AddressesPartsAndTypes) {
  const Result r = Map(
      Card30("ADR;TYPE=dom,home:PO 1;Apt 2;Main St 3\\, Rear;Town;Region;12345;Land\n"
             "item1.ADR:;;Work Rd 1;;;;\nitem1.X-ABLabel:_$!<Work>!$_\n"
             "ADR;TYPE=X-SUMMER:;;Beach 4;;;;\nADR:;;;;;;\nADR;TYPE=PREF,PARCEL:;;Depot 5;;;;\n"));
  const char* parts[] = {"PO 1", "Apt 2", "Main St 3, Rear", "Town", "Region", "12345", "Land"};
  EXPECT_EQ(Value(r, slots::Address(1, AddressPart::Street)), "Depot 5");
  EXPECT_EQ(AdrTypes(r, 1), "PARCEL");
  for (int p = 0; p < slots::kAddressParts; ++p) {
    EXPECT_EQ(Value(r, slots::Address(2, static_cast<AddressPart>(p))), parts[p]);
  }
  EXPECT_EQ(AdrTypes(r, 2), "DOM,HOME");
  EXPECT_EQ(Value(r, slots::Address(3, AddressPart::Street)), "Work Rd 1");
  EXPECT_EQ(AdrTypes(r, 3), "WORK");
  EXPECT_EQ(r.lost, std::vector<std::string>{"ADR: no address slot left"});

  const Result postal = Map(Card30("ADR;TYPE=X-SUMMER:;;Beach 4;;;;\n"));
  EXPECT_EQ(AdrTypes(postal, 1), "POSTAL");
  EXPECT_EQ(postal.lost,
            std::vector<std::string>{"ADR: a type with no place on the card: X-SUMMER"});
}

TEST(VcardMapping, ItemGroupLabels) {
  const Result r =
      Map(Card30("item1.TEL:1\nitem1.X-ABLabel:_$!<Mobile>!$_\n"
                 "item2.TEL:2\nitem2.X-ABLabel:Work Fax\n"
                 "item3.TEL;TYPE=VOICE:3\nitem3.X-ABLabel:Boat\n"
                 "item4.X-ABDATE:2015-06-20\nitem4.X-ABLabel:_$!<Anniversary>!$_\n"
                 "X-ABLabel:Lonely\nitem5.URL:http://x\nitem5.X-ABLabel:_$!<HomePage>!$_\n"));
  EXPECT_EQ(TelTypes(r, 1), "CELL");
  EXPECT_EQ(TelTypes(r, 2), "WORK,FAX");
  EXPECT_EQ(TelTypes(r, 3), "VOICE");
  EXPECT_EQ(Value(r, Property::Url), "http://x");
  EXPECT_EQ(r.lost,
            (std::vector<std::string>{
                "X-ABLABEL: a label with no place on the card", "X-ABDATE: no place on the card",
                "X-ABLABEL: no place on the card", "X-ABLABEL: no place on the card"}));
}

TEST(VcardMapping, NamesOrganisationAndTexts) {
  const Result r =
      Map(Card30("N:Smith\\, Jr;Ann;Lee,May;Dr.;PhD\nFN:Ann Smith\nFN:Ann S.\n"
                 "ORG:Acme\\; Co;Sales\\, East;Team 2\nTITLE:Boss\\, Chief\nROLE:Lead\n"
                 "NOTE:one\\ntwo\\\\three\nSORT-STRING:Smith\nTZ:-05:00\n"
                 "URL:http\\://a.example/\nURL:http://b.example/\n"));
  EXPECT_EQ(Value(r, Property::NameFamily), "Smith, Jr");
  EXPECT_EQ(Value(r, Property::NameAdditional), "Lee,May");
  EXPECT_EQ(Value(r, Property::NameSuffix), "PhD");
  EXPECT_EQ(Value(r, Property::FormatedName), "Ann Smith");
  EXPECT_EQ(Value(r, Property::OrgName), "Acme; Co");
  // The card's one unit holds both, as typed.
  EXPECT_EQ(Value(r, Property::OrgUnit), "Sales, East, Team 2");
  EXPECT_FALSE(r.escaped.at(Property::OrgUnit));
  EXPECT_FALSE(r.escaped.at(Property::OrgName));
  // A text in card form is handed on as it stands (see below).
  EXPECT_EQ(Value(r, Property::Title), "Boss\\, Chief");
  EXPECT_TRUE(r.escaped.at(Property::Title));
  EXPECT_EQ(Value(r, Property::Note), "one\ntwo\\three");
  EXPECT_EQ(Value(r, Property::TimeZone), "-05:00");
  EXPECT_EQ(Value(r, Property::Url), "http://a.example/");
  EXPECT_EQ(r.lost, (std::vector<std::string>{"FN: a second one has no place on the card",
                                              "URL: no website slot left"}));
  // 2.1 escapes only what it must: "\n" is text there.
  const Result v21 = Map("BEGIN:VCARD\nVERSION:2.1\nN:O\\;Neil;Al\nNOTE:C:\\new\nEND:VCARD\n");
  EXPECT_EQ(Value(v21, Property::NameFamily), "O;Neil");
  EXPECT_EQ(Value(v21, Property::Note), "C:\\new");
}

// A text whose escapes are those the card gives its texts (a backslash
// before each backslash, ";" and ",") goes on in card form, as it stands;
// any other is undone. Either way it means the text the person typed, at
// every length around the blocks the check reads at once.
TEST(VcardMapping, TextsInCardFormGoOnAsTheyStand) {
  using Noted = std::pair<std::string, bool>;  // the value, and whether in card form
  const auto note = [](const std::string& v, const char* version = "3.0") {
    const Result r =
        Map("BEGIN:VCARD\nVERSION:" + std::string(version) + "\nNOTE:" + v + "\nEND:VCARD\n");
    return Noted(Value(r, Property::Note), r.escaped.at(Property::Note));
  };
  EXPECT_EQ(note("a\\, b\\; c\\\\ d "), Noted("a\\, b\\; c\\\\ d", true));
  EXPECT_EQ(note("a\\, b, c"), Noted("a, b, c", false));
  EXPECT_EQ(note("a\\; b;c"), Noted("a; b;c", false));
  EXPECT_EQ(note("one\\ntwo\\, three"), Noted("one\ntwo, three", false));
  EXPECT_EQ(note("a\\:b\\,"), Noted("a\\:b,", false));
  EXPECT_EQ(note("end\\,\\"), Noted("end,\\", false));
  EXPECT_EQ(note("a\\, b", "2.1"), Noted("a, b", false));
  std::vector<std::size_t> sizes;  // around the blocks of 16 and 64 bytes the check reads
  for (std::size_t n = 2; n <= 40; ++n) sizes.push_back(n);
  for (std::size_t n = 60; n <= 68; ++n) sizes.insert(sizes.end(), {n, n + 64});
  for (const std::size_t n : sizes) {
    for (std::size_t k = 0; k + 1 < n; ++k) {
      for (const char after : {',', '\\', 'x'}) {
        for (const bool bare : {false, true}) {
          std::string v(n, 'a');
          v[k] = '\\';
          v[k + 1] = after;
          if (const std::size_t j = (k + 5) % n; bare) {
            if (j == k || j == k + 1) continue;
            v[j] = ';';
          }
          const auto [text, in_card_form] = note(v);
          const std::string typed =
              in_card_form ? RfcUnescape(Escape::All, text) : std::string(text);
          EXPECT_EQ(typed, Unescape(v, "3.0")) << v;
          EXPECT_EQ(in_card_form, after != 'x' && !bare) << v;
        }
      }
    }
  }
}

// The pieces of values of every length around the blocks the mapping reads
// at once, a backslash at every place before a separator, a backslash or a
// letter: as Split and Unescape give them.
TEST(VcardMapping, PiecesAtEveryPlaceAroundABlock) {
  const auto trim = [](std::string_view s) {
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return s;
  };
  for (std::size_t n = 1; n <= 40; ++n) {
    for (std::size_t k = 0; k < n; ++k) {
      for (const char after : {';', '\\', 'x'}) {
        std::string v(n, 'a');
        for (std::size_t i = 3; i < n; i += 7) v[i] = i % 2 == 0 ? ';' : ' ';
        v[k] = '\\';
        if (k + 1 < n) v[k + 1] = after;
        const std::vector<std::string_view> pieces = Split(v, ';');
        const std::string name = Unescape(trim(pieces[0]), "3.0");
        std::string units;
        for (std::size_t i = 1; i < pieces.size(); ++i) {
          if (trim(pieces[i]).empty()) continue;
          units += (units.empty() ? "" : ", ") + Unescape(trim(pieces[i]), "3.0");
        }
        const Result r = Map(Card30("ORG:" + v + "\n"));
        EXPECT_EQ(Value(r, Property::OrgName), name.empty() ? "<none>" : name) << v;
        EXPECT_EQ(Value(r, Property::OrgUnit), units.empty() ? "<none>" : units) << v;
      }
    }
  }
}

TEST(VcardMapping, Birthdays) {
  const std::pair<const char*, const char*> cases[] = {
      {"1988-11-23", "1988-11-23"},
      {"19881123", "1988-11-23"},
      {"--1102", "--11-02"},
      {"--11-02", "--11-02"},
      {"2000-02-29", "2000-02-29"},
      {"--0229", "--02-29"},
      {"19960415T231000Z", "1996-04-15"},
      {"1996-04-15T23:10:00", "1996-04-15"},
      {"1900-02-29", ""},
      {"1988-13-01", ""},
      {"1988-04-31", ""},
      {"--0230", ""},
      {"1988-11", ""},
      {"circa 1800", ""},
      {"88-11-23", ""},
      {"1988-1-23", ""},
  };
  for (const auto& [in, want] : cases) {
    std::string out;
    EXPECT_EQ(BirthdayOf(in, out), *want != '\0') << in;
    if (*want != '\0') {
      EXPECT_EQ(out, want) << in;
    }
  }
  const Result r = Map(Card30("BDAY:1988-04-31\nBDAY:19881123\nBDAY:1990-01-01\n"));
  EXPECT_EQ(Value(r, Property::Birthdate), "1988-11-23");
  EXPECT_EQ(r.lost, (std::vector<std::string>{"BDAY: not a date the card can hold",
                                              "BDAY: a second one has no place on the card"}));
}

TEST(VcardMapping, GeographicPositions) {
  struct Case {
    const char* version;
    const char* value;
    const char* want;  // lat hemisphere deg min sec, lon ...; "" for no place
  };
  const Case cases[] = {
      {"4.0", "geo:37.386013,-122.082932", "N 37 23 10 W 122 4 59"},
      {"4.0", "geo:-13.516667,-71.978333;u=10", "S 13 31 0 W 71 58 42"},
      {"3.0", "52.520008;13.404954", "N 52 31 12 E 13 24 18"},
      {"2.1", "+51.5,-0.1275", "N 51 30 0 W 0 7 39"},
      {"3.0", "89.99999;179.99999", "N 90 0 0 E 180 0 0"},
      {"3.0", "-0.0000001;10", "N 0 0 0 E 10 0 0"},
      {"3.0", "90.5;0", ""},
      {"3.0", "10;-180.1", ""},
      {"3.0", "0;0", ""},
      {"3.0", "north;east", ""},
      {"3.0", "1e2;5", ""},
      {"3.0", "12", ""},
  };
  const Property order[] = {Property::GeoLat,    Property::GeoLatDeg, Property::GeoLatMin,
                            Property::GeoLatSec, Property::GeoLon,    Property::GeoLonDeg,
                            Property::GeoLonMin, Property::GeoLonSec};
  for (const Case& c : cases) {
    const Result r = Map("BEGIN:VCARD\nVERSION:" + std::string(c.version) + "\nGEO:" + c.value +
                         "\nEND:VCARD\n");
    std::string got;
    for (const Property p : order) {
      if (r.values.contains(p)) got += (got.empty() ? "" : " ") + r.values.at(p);
    }
    EXPECT_EQ(got, c.want) << c.value;
    EXPECT_EQ(r.lost.size(), *c.want == '\0' ? 1u : 0u) << c.value;
  }
}

TEST(VcardMapping, ListsMergeInOrderWithoutDuplicates) {
  const Result r =
      Map(Card30("CATEGORIES:myContacts,Friends,Work\\, Past\nCATEGORIES:Friends,Chess;Go\n"
                 "NICKNAME:Al\nNICKNAME:Ally,Al\n"));
  EXPECT_EQ(Value(r, Property::Categorie), "Friends,Work\\, Past,Chess\\;Go");
  EXPECT_TRUE(r.escaped.at(Property::Categorie));
  EXPECT_EQ(Value(r, Property::Nickname), "Al,Ally");
  EXPECT_TRUE(r.lost.empty());
}

TEST(VcardMapping, WhatHasNoPlaceIsListedOncePerLine) {
  const Result r =
      Map("BEGIN:VCARD\nVERSION:2.1\nFN:x\nPHOTO;ENCODING=BASE64;TYPE=JPEG:/9j/\nX-FOO:1\nX-FOO:2\n"
          "LABEL;WORK:Main St\nMAILER:mail 1\nCLASS:PUBLIC\nAGENT:\nBEGIN:VCARD\nFN:y\nEND:VCARD\n"
          "X-EMPTY:\nREV:20240101T000000Z\nPRODID:-//x//y\nUID:abc\\,1\nUID:second\n"
          // The card writes PROFILE:VCARD itself; any other profile is lost.
          "PROFILE:VCARD\nprofile: vcard \nPROFILE:X-OTHER\nEND:VCARD\n");
  EXPECT_EQ(r.lost, (std::vector<std::string>{
                        "PHOTO: no place on the card", "X-FOO: no place on the card",
                        "X-FOO: no place on the card", "LABEL: no place on the card",
                        "MAILER: no place on the card", "CLASS: no place on the card",
                        "AGENT: no place on the card", "PROFILE: no place on the card"}));
  EXPECT_EQ(r.uid, "abc,1");
  // A text in BASE64 is not taken as the text it encodes.
  const Result base64 = Map(Card30("FN;ENCODING=b:QW5uYQ==\nTEL;B:MTIz\n"));
  EXPECT_TRUE(base64.values.empty());
  EXPECT_EQ(base64.lost, (std::vector<std::string>{"FN: " + std::string(kBase64),
                                                   "TEL: " + std::string(kBase64)}));
  // Parts beyond those the card has, and a tel: URI without a number, are
  // listed, not dropped; an address of such parts alone takes no slot.
  const Result parts = Map(Card30(
      "N:Doe;Jo;;;;Extra\nADR:;;;;;;;Beyond\nTEL;VALUE=uri:tel:;ext=5\nTEL;VALUE=uri:tel:\n"));
  EXPECT_EQ(Value(parts, Property::NameFamily), "Doe");
  EXPECT_FALSE(parts.values.contains(slots::Address(1, AddressType::Postal)));
  EXPECT_FALSE(parts.values.contains(slots::TelNumber(1)));
  EXPECT_EQ(parts.lost,
            (std::vector<std::string>{"N: no place on the card", "ADR: no place on the card",
                                      "TEL: no place on the card"}));
}

// Names and type words are told in any case, and a word that is only near
// one (a letter more or less, another separator) is none of them.
TEST(VcardMapping, NamesAndTypeWordsInAnyCase) {
  const std::pair<const char*, Property> names[] = {
      {"FN", Property::FormatedName},
      {"fn", Property::FormatedName},
      {"Note", Property::Note},
      {"nOTE", Property::Note},
      {"TITLE", Property::Title},
      {"role", Property::Role},
      {"Sort-String", Property::SortString},
      {"tz", Property::TimeZone},
      {"url", Property::Url},
      {"Nickname", Property::Nickname},
      {"categories", Property::Categorie},
      {"N", Property::NameFamily},
      {"org", Property::OrgName},
      {"Tel", Property::Tel1_Number},
      {"eMail", Property::Email1_Value},
      {"adr", Property::Adr1_PostOffice},
  };
  for (const auto& [name, property] : names) {
    const Result r = Map(Card30(std::string(name) + ":x\n"));
    EXPECT_EQ(Value(r, property), "x") << name;
    EXPECT_TRUE(r.lost.empty()) << name;
  }
  for (const char* near :
       {"FNX",         "F",          "NOTES",    "NOT",        "TITL",      "ROLEX",
        "SORT_STRING", "SORTSTRING", "TZZ",      "URI",        "NICKNAMES", "CATEGORY",
        "NN",          "ORGS",       "TELL",     "E-MAIL",     "ADDR",      "GE",
        "UIDS",        "REVS",       "PROFILES", "X-ABLABELS", "VERSIONS"}) {
    const Result r = Map(Card30(std::string(near) + ":x\n"));
    EXPECT_TRUE(r.values.empty()) << near;
    EXPECT_EQ(r.lost, std::vector<std::string>{std::string(near) + ": no place on the card"});
  }

  // Telephone types: each word the flag it gives, in any case.
  const std::pair<const char*, const char*> tel[] = {
      {"pref", "PREF,VOICE"}, {"Work", "WORK,VOICE"}, {"HOME", "HOME,VOICE"}, {"voice", "VOICE"},
      {"fAX", "FAX"},         {"msg", "MSG"},         {"Cell", "CELL"},       {"pager", "PAGER"},
      {"bbs", "BBS"},         {"Modem", "MODEM"},     {"car", "CAR"},         {"isdn", "ISDN"},
      {"Video", "VIDEO"},     {"text", "MSG"},        {"iPhone", "CELL"},     {"mobile", "CELL"},
      {"Main", "VOICE"},      {"other", "VOICE"},
  };
  for (const auto& [word, flags] : tel) {
    const Result r = Map(Card30("TEL;TYPE=" + std::string(word) + ":1\n"));
    EXPECT_EQ(TelTypes(r, 1), flags) << word;
    EXPECT_TRUE(r.lost.empty()) << word;
  }
  for (const char* near : {"CEL", "CELLS", "PAGERS", "VOIC", "FAXX", "HOMEX", "WORKS", "MAINS",
                           "PHONE", "CELL-PHONE", "VIDEOS", "MOBIL", "IPHONES"}) {
    const Result r = Map(Card30("TEL;TYPE=" + std::string(near) + ":1\n"));
    EXPECT_EQ(TelTypes(r, 1), "VOICE") << near;
    EXPECT_EQ(r.lost, std::vector<std::string>{"TEL: a type with no place on the card: " +
                                               std::string(near)});
  }

  // Address types.
  const std::pair<const char*, const char*> adr[] = {
      {"dom", "DOM"},   {"Intl", "INTL"}, {"POSTAL", "POSTAL"}, {"parcel", "PARCEL"},
      {"Home", "HOME"}, {"work", "WORK"}, {"other", "POSTAL"},  {"pref", "POSTAL"},
  };
  for (const auto& [word, flags] : adr) {
    const Result r = Map(Card30("ADR;TYPE=" + std::string(word) + ":;;Main St 1;;;;\n"));
    EXPECT_EQ(AdrTypes(r, 1), flags) << word;
    EXPECT_TRUE(r.lost.empty()) << word;
  }
  for (const char* near : {"DOMS", "INT", "POST", "PARCELS", "HOMES", "WORKX"}) {
    const Result r = Map(Card30("ADR;TYPE=" + std::string(near) + ":;;Main St 1;;;;\n"));
    EXPECT_EQ(r.lost, std::vector<std::string>{"ADR: a type with no place on the card: " +
                                               std::string(near)});
  }
}

// A card, its lines and its mapping as text, line numbers counted from the
// card's BEGIN.
std::vector<std::string> Summary(const Card& card, const Mapped& m) {
  std::vector<std::string> out{"version " + std::string(card.version), "error " + card.error};
  for (const Line& l : card.lines) {
    std::string s = std::to_string(l.line - card.line) + " " + SourceOf(l);
    for (const Param& p : l.params) {
      s.append(";").append(p.name).append("=");
      for (const std::string_view v : p.values) s.append(v).append(",");
    }
    out.push_back(s.append(":").append(l.value));
  }
  for (const Assignment& a : m.assignments) {
    out.push_back(std::string(qv_VCard::Info(a.property).name) + "=" + std::string(a.value) +
                  (a.escaped ? " escaped " : " ") + std::to_string(a.line->line - card.line));
  }
  for (const Unplaced& u : m.lost) out.push_back(Lost(u));
  out.push_back("uid " + std::string(m.uid));
  return out;
}

// The reader's card and the mapping's result, reused for cards of other
// shapes, hold what each card gives alone: nothing of an earlier card stays
// in them, in the reader's store or in the mapping's lists.
TEST(VcardMapping, CardsAndResultsReusedForCardsOfOtherShapes) {
  const std::string photo(600, 'A');
  const std::vector<std::string> cards = {
      Card30("item1.TEL:1\nitem1.X-ABLabel:Work Fax\nEMAIL;TYPE=home,x-a:a@x\nNOTE:a\\;b\n"
             "CATEGORIES:x,y\nADR;TYPE=X-SUMMER;LABEL=\"a;b\":;;Beach 4;;;;\nGEO:1.5;2.5\n"
             "X-FOO;X-A=1;X-B=2;X-C=3;X-D=4;X-E=5;X-F=6;X-G=7;X-H=8;X-I=9:1\n"
             "PHOTO;ENCODING=b:" +
             photo + "\n"),
      Card30("FN:Only\n"),
      Card30("TEL;TYPE=CELL:2\nitem2.EMAIL:b@x\nitem2.X-ABLabel:_$!<Home>!$_\nUID:u\\,1\n"),
      "BEGIN:VCARD\nVERSION:2.1\nN;CHARSET=ISO-8859-1:M\xFCller\\;x;Al\n"
      "NOTE;ENCODING=QUOTED-PRINTABLE:C:\\new=0D=0A=\nnext\nTEL;WORK;VOICE:3\nEND:VCARD\n",
      Card30(""),
      Card30("FN:After\nitem1.URL:http://x\nitem1.X-ABLabel:Home\n"),
  };
  std::vector<std::vector<std::string>> alone;
  for (const std::string& text : cards) {
    // After an empty card: no state of the cards before.
    const std::string empty = Card30("");
    for (const std::string* c : {&empty, &text}) {
      InputStream in(*c);
      Reader reader(in);
      Card card;
      EXPECT_TRUE(reader.Next(card));
      const Mapped m = MapCard(card);
      if (c == &text) alone.push_back(Summary(card, m));
    }
  }
  std::string all;
  for (const std::string& text : cards) all += text;
  // Small buffers, so that lines are read in place, moved into the store
  // and read through it in turn.
  for (const std::size_t buffer : {std::size_t{7}, std::size_t{64}, std::size_t{1} << 16}) {
    SCOPED_TRACE("buffer " + std::to_string(buffer));
    testing::StringInput input(all, buffer);
    Reader reader(input.stream());
    Card card;
    Mapped reused;
    std::size_t n = 0;
    while (reader.Next(card)) {
      MapCard(card, reused);
      ASSERT_LT(n, alone.size());
      EXPECT_EQ(Summary(card, reused), alone[n]) << "card " << n + 1;
      ++n;
    }
    EXPECT_EQ(n, cards.size());
  }
}

// Every sample file read and mapped, its assignments made on a card as
// the tool makes them: the lines the card then writes.
std::vector<std::string> CardsOf(const char* file, std::vector<std::string>& lost) {
  const int fd = open((std::string(QVVCARD_VCF_SAMPLES) + "/" + file).c_str(), O_RDONLY);
  EXPECT_GE(fd, 0);
  InputStream in(fd);
  Reader reader(in);
  Card card;
  std::vector<std::string> cards;
  while (reader.Next(card)) {
    EXPECT_EQ(card.error, "") << file;
    const Mapped m = MapCard(card);
    CardBuilder builder;
    builder.Begin(1);
    for (const Assignment& a : m.assignments) {
      builder.SetTyped(qv_VCard::Info(a.property), a.value, SourceOf(*a.line), a.escaped);
    }
    for (const Problem& p : builder.problems()) ADD_FAILURE() << p.field << ": " << Describe(p);
    for (const Unplaced& u : m.lost) lost.push_back(Lost(u));
    std::string text;
    EXPECT_TRUE(builder.Finish(text));
    if (text.ends_with("\r\n")) text.resize(text.size() - 2);
    cards.push_back(text);
  }
  close(fd);
  return cards;
}

// A card the tool wrote reads back into the values it was made from, with
// nothing lost: its PROFILE, REV, PRODID and UID lines are the card's own.
TEST(VcardMapping, TheToolsOwnCardsReadBackWhole) {
  const std::pair<Property, const char*> given[] = {
      {Property::NameFamily, "Doe, Jr"},
      {Property::NameGiven, "Ann"},
      {Property::OrgName, "Acme; Co"},
      {Property::Note, "one;two,three\\four\nfive"},
      {Property::Title, "Zoë Ünal"},
      {Property::Tel1_Number, "+1 555 0100"},
      {Property::Tel1_Cell, "true"},
      {Property::Email1_Value, "ann@example.org"},
      {Property::Adr1_Street, "Main St 1"},
      {Property::Adr1_Home, "true"},
      {Property::Url, "https://example.org/a,b"},
  };
  CardBuilder builder;
  builder.Begin(1);
  for (const auto& [p, v] : given) builder.Set(qv_VCard::Info(p), v);
  std::string text;
  ASSERT_TRUE(builder.Finish(text));
  const Result r = Map(text);
  EXPECT_EQ(r.lost, std::vector<std::string>{});
  for (const auto& [p, v] : given) EXPECT_EQ(Value(r, p), v) << qv_VCard::Info(p).name;
}

TEST(VcardMapping, SampleFilesMakeTheirCards) {
  struct Sample {
    const char* file;
    std::size_t card;
    std::vector<std::string> lines;  // each one a line of the card
    std::vector<std::string> lost;   // of the whole file
  };
  const Sample samples[] = {
      {"phone-2.1.vcf",
       0,
       {"N:Müller-Łukasik;Zoë;;;", "FN:Zoë Müller-Łukasik",
        "ADR;TYPE=HOME:;;ul. Świętokrzyska 12 m. 4;Warszawa;mazowieckie;00-916;Polska",
        "TEL;TYPE=PREF;TYPE=CELL:+48 601 000 111", "TEL;TYPE=HOME;TYPE=VOICE:+48 22 000 22 33",
        "TEL;TYPE=WORK;TYPE=FAX:+48 22 000 22 99",
        "NOTE:Poznałyśmy się na konferencji w Gdańsku.\\nLubi kawę bez cukru\\, zawsze z mlekiem "
        "owsianym\\; nie dzwonić przed dziewiątą.",
        "EMAIL;TYPE=INTERNET,HOME:zoe.ml@example.net", "BDAY:1988-11-23"},
       {"X-RINGTONE: no place on the card", "PHOTO: no place on the card",
        "TEL: no telephone slot left"}},
      {"phone-2.1.vcf", 1, {"ORG:Fjordlys Rådgivning ApS;Økonomi", "TITLE:Bogholder"}, {}},
      {"item-groups-3.0.vcf",
       0,
       {"N:Castellanos;Inés;María;;", "NICKNAME:Nena", "BDAY:1979-02-28",
        "ORG:Taller Azul S.L.;Diseño\\, Tipografía",
        "ADR;TYPE=WORK:;;Calle del Pez 21\\n2º izquierda;Madrid;Madrid;28004;España",
        "TEL;TYPE=PREF;TYPE=VOICE;TYPE=CELL:+34 600 000 001",
        "TEL;TYPE=HOME;TYPE=FAX:+34 91 000 00 03", "TEL;TYPE=VOICE:+34 91 000 00 04",
        "EMAIL;TYPE=INTERNET,WORK;TYPE=PREF:ines@tallerazul.example", "CATEGORIES:Clientes,Diseño",
        "URL:https://tallerazul.example/"},
       {"X-ABLABEL: a label with no place on the card", "X-ABADR: no place on the card",
        "X-ABADR: no place on the card", "X-ABDATE: no place on the card",
        "X-ABLABEL: no place on the card", "X-ABRELATEDNAMES: no place on the card",
        "X-ABLABEL: no place on the card", "PHOTO: no place on the card",
        "X-ABSHOWAS: no place on the card", "X-ABUID: no place on the card",
        "X-ABSHOWAS: no place on the card"}},
      {"webmail-3.0.vcf",
       0,
       {"N:Adeyemi-Hart;Oluwaseun;;Dr.;", "TEL;TYPE=WORK;TYPE=FAX:+44 20 7946 0999",
        "ADR;TYPE=HOME:;;14 Elm Row\\, Flat 2;Edinburgh;;EH7 4AA;United Kingdom",
        "CATEGORIES:Family", "URL:https://seun.example/"},
       {"X-ABLABEL: a label with no place on the card", "URL: no website slot left",
        "X-ABLABEL: no place on the card"}},
      {"webmail-3.0.vcf", 1, {"BDAY:--11-02"}, {}},
      {"server-4.0.vcf",
       0,
       {"TEL;TYPE=PREF;TYPE=VOICE;TYPE=CELL:+51-984-000-111",
        "TEL;TYPE=WORK;TYPE=VOICE:+51-1-000-2222 ext. 104", "TEL;TYPE=VOICE:+51-84-000-444",
        "EMAIL;TYPE=INTERNET,WORK;TYPE=PREF:a.quispe@andes.example",
        "EMAIL;TYPE=INTERNET,WORK:reservas@andes.example",
        "ORG:Andes Turismo;Operaciones\\, Reservas", "GEO:-13.51667;-71.97833", "BDAY:--04-15",
        "TZ:America/Lima"},
       {"KIND: no place on the card", "TEL: a type with no place on the card: TEXTPHONE",
        "ANNIVERSARY: no place on the card", "GENDER: no place on the card",
        "LANG: no place on the card", "IMPP: no place on the card"}},
      {"desktop-2.1.vcf",
       0,
       {"N:Calloway;Renata;J.;Ms.;PhD", "ORG:Calloway Surveys Ltd;Field Operations",
        "NOTE:Site visits: Bristol – Bath corridor.\\nPrefers “plain” reports\\; no PDFs over 5 "
        "MB.",
        "ADR;TYPE=WORK:PO Box 12;;Unit 5\\, Riverside Park;Bristol;;BS1 0ZZ;United Kingdom",
        "TEL;TYPE=WORK;TYPE=VOICE:+44 117 496 0000", "TEL;TYPE=WORK;TYPE=FAX:+44 117 496 0002",
        "EMAIL;TYPE=INTERNET;TYPE=PREF:renata@calloway-surveys.example",
        "URL:http://www.calloway-surveys.example/"},
       {"LABEL: no place on the card", "X-MS-OL-DEFAULT-POSTAL-ADDRESS: no place on the card",
        "X-MS-OL-DESIGN: no place on the card"}},
  };
  for (const Sample& s : samples) {
    SCOPED_TRACE(std::string(s.file) + " card " + std::to_string(s.card));
    std::vector<std::string> lost;
    const std::vector<std::string> cards = CardsOf(s.file, lost);
    ASSERT_GT(cards.size(), s.card);
    for (const std::string& line : s.lines) {
      EXPECT_NE(cards[s.card].find("\r\n" + line + "\r\n"), std::string::npos) << line << "\n in\n"
                                                                               << cards[s.card];
    }
    if (s.card == 0) {
      EXPECT_EQ(lost, s.lost);
    }
  }
}

}  // namespace
}  // namespace qvvcard::vcf
