// Fuzz target: any sequence of assignments, resets and reads on one card.
//
// The input is a stream of operations (see RunOne). A model of the record
// follows every assignment and reset; after each read the target checks what
// every caller relies on:
//   - every property read follows its read rule over the model, and a read
//     changes nothing a caller can see;
//   - a failed read hands out the empty text (or 0);
//   - a card read fails exactly when a 16-bit geographic sum overflows (or
//     when the clock or the identifier source fails), and then with that
//     status;
//   - a card is the frame, then the body lines in position order, each
//     ending in CR LF with no raw line break inside, then "END:VCARD" with
//     no line end after it; the lines are those the record asks for, the
//     GEO line carries two valid signed decimals close to the true values;
//   - a file name ends in ".vcf" and keeps only characters file systems take.
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "card/line_table.hpp"
#include "fuzz_input.hpp"
#include "qv_vcard/qvVCard.hpp"

namespace {

using namespace qv_VCard;
using qv_fuzz::Input;
using qv_fuzz::Show;

// ---------------------------------------------------------------------------
// Deterministic sources, steered by the input.

class FuzzClock final : public Clock {
 public:
  CalendarTime time{2026, 12, 6, 0, 56, 18};
  Status status = kOk;
  Status Now(CalendarTime& out) noexcept override {
    if (Failed(status)) return status;
    out = time;
    return kOk;
  }
};

class FuzzGuids final : public GuidSource {
 public:
  Status status = kOk;
  Guid last{};
  Status Create(Guid& out) noexcept override {
    if (Failed(status)) return status;
    // Mixed counter values, so every hexadecimal digit turns up.
    const std::uint64_t a = Mix(++counter_);
    const std::uint64_t b = Mix(a);
    out.data1 = static_cast<std::uint32_t>(a);
    out.data2 = static_cast<std::uint16_t>(a >> 32);
    out.data3 = static_cast<std::uint16_t>(a >> 48);
    for (int i = 0; i < 8; ++i) out.data4[static_cast<std::size_t>(i)] = (b >> (8 * i)) & 0xFF;
    last = out;
    return kOk;
  }

 private:
  static std::uint64_t Mix(std::uint64_t z) {
    z += 0x9E3779B97F4A7C15u;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
    return z ^ (z >> 31);
  }
  std::uint64_t counter_ = 0;
};

// ---------------------------------------------------------------------------
// Property lookup by name, so the checks do not lean on the record layout.

Property P(const std::string& name) {
  const PropertyInfo* info = FindProperty(name);
  FUZZ_CHECK(info != nullptr, name);
  return info->property;
}

struct Slots {
  std::array<std::array<Property, 7>, 3> adr_parts;
  std::array<std::array<Property, 6>, 3> adr_flags;
  std::array<Property, 4> tel_number;
  std::array<std::array<Property, 13>, 4> tel_flags;
  std::array<std::array<Property, 3>, 3> email;  // value, type, pref
};

const char* const kAdrParts[] = {"PostOffice", "Extended",   "Street", "Locality",
                                 "Region",     "PostalCode", "Country"};
const char* const kAdrFlags[] = {"Dom", "Intl", "Postal", "Parcel", "Home", "Work"};
const char* const kTelFlags[] = {"Pref",  "Work", "Home",  "Voice", "Fax",  "Msg",  "Cell",
                                 "Pager", "BBS",  "Modem", "Car",   "Isdn", "Video"};

const Slots& S() {
  static const Slots slots = [] {
    Slots s{};
    for (int i = 0; i < 3; ++i) {
      const std::string adr = "Adr" + std::to_string(i + 1) + "_";
      for (int k = 0; k < 7; ++k) s.adr_parts[i][k] = P(adr + kAdrParts[k]);
      for (int k = 0; k < 6; ++k) s.adr_flags[i][k] = P(adr + kAdrFlags[k]);
      const std::string email = "Email" + std::to_string(i + 1) + "_";
      s.email[i] = {P(email + "Value"), P(email + "Type"), P(email + "Pref")};
    }
    for (int i = 0; i < 4; ++i) {
      const std::string tel = "Tel" + std::to_string(i + 1) + "_";
      s.tel_number[i] = P(tel + "Number");
      for (int k = 0; k < 13; ++k) s.tel_flags[i][k] = P(tel + kTelFlags[k]);
    }
    return s;
  }();
  return slots;
}

// ---------------------------------------------------------------------------
// The model: what every field should hold.

struct Model {
  std::array<Text, kPropertyCount> text{};
  std::array<std::int16_t, kPropertyCount> value{};
  const Text& T(Property p) const { return text[static_cast<std::size_t>(p)]; }
  std::int16_t V(Property p) const { return value[static_cast<std::size_t>(p)]; }
};

// A value as a content line carries it: each line break becomes "\n",
// every other control character but TAB, and DEL, is left out (and, in a
// quoted parameter value, the quotation mark).
Text Escaped(std::u16string_view v, bool quoted = false) {
  Text out;
  for (std::size_t i = 0; i < v.size(); ++i) {
    if (v[i] == u'\r' || v[i] == u'\n') {
      out += u"\\n";
      if (v[i] == u'\r' && i + 1 < v.size() && v[i + 1] == u'\n') ++i;
    } else if ((v[i] < 0x20 && v[i] != u'\t') || v[i] == 0x7F || (quoted && v[i] == u'"')) {
      continue;
    } else {
      out.push_back(v[i]);
    }
  }
  return out;
}

// An e-mail type as its parameter carries it: in quotes when it holds ":"
// or a quotation mark.
Text EmailType(const Text& type) {
  if (type.empty()) return u"INTERNET";
  if (type.find_first_of(u":\"") == Text::npos) return Escaped(type);
  return u"\"" + Escaped(type, true) + u"\"";
}

Text ExpectedRead(const Model& m, const PropertyInfo& p) {
  const Text& s = m.T(p.property);
  switch (p.rule) {
    case ReadRule::Stored:
      return s;
    case ReadRule::Separator:
      return s + u";";
    case ReadRule::FormattedName:
      if (!s.empty()) return s;
      return m.T(Property::NameFamily) + u" " + m.T(Property::NameGiven) + u" " +
             m.T(Property::NameAdditional) + u" " + m.T(Property::NameSuffix);
    case ReadRule::ContentLine:
      return s.empty() ? Text()
                       : Text(qv_VCard::lines::PrefixOf(p.property)) + Escaped(s) + u"\r\n";
    case ReadRule::GeoLatSign:
      return s == u"N" ? u"+" : u"-";
    case ReadRule::GeoLonSign:
      return s == u"W" ? u"-" : u"+";
  }
  return u"?";
}

Text Read(const Model& m, Property p) { return ExpectedRead(m, Info(p)); }

// What a caller can see of a card: every property read.
std::vector<Value> Snapshot(const qvVCard& c) {
  std::vector<Value> all;
  all.reserve(kPropertyCount);
  for (const PropertyInfo& p : Properties()) {
    Value v;
    FUZZ_CHECK(c.GetById(p.dispid, v) == kOk, p.name);
    all.push_back(std::move(v));
  }
  return all;
}

void CheckReads(const qvVCard& c, const Model& m) {
  for (const PropertyInfo& p : Properties()) {
    if (p.kind == Kind::Text) {
      Text out = u"junk";
      FUZZ_CHECK(c.Get(p.property, out) == kOk, p.name);
      FUZZ_CHECK(out == ExpectedRead(m, p), std::string(p.name) + ": " + Show(out));
    } else {
      std::int16_t v = 0x5A5A;
      FUZZ_CHECK(c.Get(p.property, v) == kOk, p.name);
      FUZZ_CHECK(v == m.V(p.property), p.name);
    }
  }
}

// ---------------------------------------------------------------------------
// The geographic position.

struct Axis {
  bool overflow = false;
  bool present = false;  // the 16-bit sum is not 0
  float value = 0.0f;
};

Axis AxisOf(std::int16_t deg, std::int16_t min, std::int16_t sec) {
  Axis a;
  const int s1 = deg + min;
  const int s2 = s1 + sec;
  a.overflow = s1 < -32768 || s1 > 32767 || s2 < -32768 || s2 > 32767;
  a.present = s2 != 0;
  a.value = static_cast<float>(static_cast<double>(min) / 60.0 + deg + sec / 3600.0);
  return a;
}

Axis LatOf(const Model& m) {
  return AxisOf(m.V(Property::GeoLatDeg), m.V(Property::GeoLatMin), m.V(Property::GeoLatSec));
}
Axis LonOf(const Model& m) {
  return AxisOf(m.V(Property::GeoLonDeg), m.V(Property::GeoLonMin), m.V(Property::GeoLonSec));
}

// One axis of the GEO value: a sign, then digits with at most one ".",
// at most seven significant digits, and the value it stands for.
void CheckGeoAxis(std::u16string_view text, char16_t hemisphere, const Axis& a,
                  std::u16string_view geo_line) {
  const auto line = [&] { return Show(geo_line); };
  FUZZ_CHECK(text.size() >= 2 && (text[0] == u'+' || text[0] == u'-'), line());
  const std::u16string_view number = text.substr(1);
  std::string ascii;
  int dots = 0, significant = 0;
  bool leading = true;
  for (char16_t c : number) {
    FUZZ_CHECK((c >= u'0' && c <= u'9') || c == u'.', line());
    if (c == u'.') {
      ++dots;
    } else if (c != u'0' || !leading) {
      leading = false;
      ++significant;
    }
    ascii.push_back(static_cast<char>(c));
  }
  FUZZ_CHECK(dots <= 1 && number.front() != u'.' && number.back() != u'.', line());
  FUZZ_CHECK(significant <= 7, line());
  const double written = (text[0] == u'+' ? 1.0 : -1.0) * std::strtod(ascii.c_str(), nullptr);
  const double sign = hemisphere == u'+' ? 1.0 : -1.0;
  if (!a.present || std::fabs(a.value) < 0.0001f) {
    // An absent axis, or the rounding residue of an exact zero.
    FUZZ_CHECK(number == u"0" && text[0] == hemisphere, line());
    return;
  }
  const double expected = sign * static_cast<double>(a.value);
  FUZZ_CHECK(std::fabs(written - expected) <= 5.0000001e-7 * std::fabs(expected), line());
}

void CheckGeoLine(std::u16string_view line, const Model& m) {
  const auto shown = [&] { return Show(line); };
  FUZZ_CHECK(line.starts_with(u"GEO:"), shown());
  const std::u16string_view value = line.substr(4);
  const std::size_t semi = value.find(u';');
  FUZZ_CHECK(semi != std::u16string_view::npos, shown());
  CheckGeoAxis(value.substr(0, semi), Read(m, Property::GeoLat)[0], LatOf(m), line);
  CheckGeoAxis(value.substr(semi + 1), Read(m, Property::GeoLon)[0], LonOf(m), line);
}

// ---------------------------------------------------------------------------
// The card.

constexpr std::u16string_view kHeader = u"BEGIN:VCARD\r\nVERSION:3.0\r\nPROFILE:VCARD\r\n";
constexpr std::u16string_view kFooter = u"END:VCARD";

Text TwoDigits(int v) {
  return Text{static_cast<char16_t>(u'0' + (v / 10) % 10), static_cast<char16_t>(u'0' + v % 10)};
}

Text RevLine(const CalendarTime& t) {
  const std::string year = std::to_string(t.year);
  return u"REV:" + Text(year.begin(), year.end()) + u"-" + TwoDigits(t.month) + u"-" +
         TwoDigits(t.day) + u"T" + TwoDigits(t.hour) + u":" + TwoDigits(t.minute) + u":" +
         TwoDigits(t.second) + u"Z";
}

Text UidLine(const Guid& g) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X",
                static_cast<unsigned>(g.data1), g.data2, g.data3, g.data4[0], g.data4[1],
                g.data4[2], g.data4[3], g.data4[4], g.data4[5], g.data4[6], g.data4[7]);
  return u"UID:" + Text(buf, buf + 36);
}

// The body lines the record asks for, in position order. The GEO line is
// marked by the text "GEO:" alone and checked on its own.
std::vector<Text> ExpectedBody(const Model& m) {
  const Slots& s = S();
  std::vector<Text> lines;
  const auto text_line = [&](Property p) {
    Text l = Read(m, p);
    if (!l.empty()) lines.push_back(l.substr(0, l.size() - 2));
  };
  lines.push_back(u"N:" + Escaped(Read(m, Property::NameFamily) + Read(m, Property::NameGiven) +
                                  Read(m, Property::NameAdditional) +
                                  Read(m, Property::NamePrefix) + Read(m, Property::NameSuffix)));
  lines.push_back(u"FN:" + Escaped(Read(m, Property::FormatedName)));
  text_line(Property::SortString);
  text_line(Property::Nickname);
  if (!m.T(Property::Birthdate).empty()) {
    lines.push_back(u"BDAY:" + Escaped(m.T(Property::Birthdate)));
  }
  for (int i = 0; i < 3; ++i) {
    Text types;
    for (int k = 0; k < 6; ++k) {
      if (m.V(s.adr_flags[i][k]) != 0)
        types += u";TYPE=" + Text(qv_VCard::lines::kAddressTypes[k].type());
    }
    if (types.empty()) continue;
    Text value;
    for (Property part : s.adr_parts[i]) value += Read(m, part);
    lines.push_back(u"ADR" + types + u":" + Escaped(value));
  }
  for (int i = 0; i < 4; ++i) {
    Text types;
    for (int k = 0; k < 13; ++k) {
      if (m.V(s.tel_flags[i][k]) != 0)
        types += u";TYPE=" + Text(qv_VCard::lines::kTelephoneTypes[k].type());
    }
    if (!types.empty()) lines.push_back(u"TEL" + types + u":" + Escaped(m.T(s.tel_number[i])));
  }
  for (int i = 0; i < 3; ++i) {
    const Text& value = m.T(s.email[i][0]);
    if (value.empty()) continue;
    const Text& type = m.T(s.email[i][1]);
    lines.push_back(u"EMAIL;TYPE=" + EmailType(type) +
                    (m.V(s.email[i][2]) != 0 ? u";TYPE=PREF" : u"") + u":" + Escaped(value));
  }
  text_line(Property::Categorie);
  if (LatOf(m).present || LonOf(m).present) lines.push_back(u"GEO:");
  text_line(Property::TimeZone);
  if (!m.T(Property::OrgName).empty() || !m.T(Property::OrgUnit).empty()) {
    lines.push_back(u"ORG:" + Escaped(m.T(Property::OrgName)) + u";" +
                    Escaped(m.T(Property::OrgUnit)));
  }
  text_line(Property::Title);
  text_line(Property::Role);
  text_line(Property::Note);
  text_line(Property::Url);
  return lines;
}

void CheckCard(const Text& card, const Model& m, const FuzzClock& clock, const FuzzGuids& guids) {
  const auto shown = [&] { return Show(card, 2000); };
  FUZZ_CHECK(card.starts_with(kHeader), shown());
  FUZZ_CHECK(card.size() >= kHeader.size() + kFooter.size() + 2, shown());
  FUZZ_CHECK(card.ends_with(kFooter), shown());
  const std::u16string_view body =
      std::u16string_view(card).substr(kHeader.size(), card.size() - kHeader.size() - 9);
  FUZZ_CHECK(body.ends_with(u"\r\n"), shown());

  std::vector<std::u16string_view> lines;
  for (std::size_t start = 0; start < body.size();) {
    const std::size_t end = body.find(u"\r\n", start);
    const std::u16string_view line = body.substr(start, end - start);
    FUZZ_CHECK(line.find_first_of(u"\r\n") == std::u16string_view::npos,
               "raw line break in " + Show(line));
    lines.push_back(line);
    start = end + 2;
  }

  std::vector<Text> want = ExpectedBody(m);
  want.push_back(RevLine(clock.time));
  want.push_back(UidLine(guids.last));
  FUZZ_CHECK(lines.size() == want.size() + 1, shown());
  for (std::size_t i = 0; i < want.size(); ++i) {
    if (want[i] == u"GEO:") {
      CheckGeoLine(lines[i], m);
    } else {
      FUZZ_CHECK(lines[i] == want[i], "line " + std::to_string(i) + " is " + Show(lines[i]) +
                                          "\nexpected " + Show(want[i]));
    }
  }
  const std::u16string_view prodid = lines.back();
  FUZZ_CHECK(
      prodid.starts_with(u"PRODID:qv_vCard.dll, Version 1.0.0 (") && prodid.ends_with(u")  "),
      Show(prodid));
}

// The file name: the trimmed formatted name without the characters file
// systems refuse, then ".vcf". Characters outside Latin-1 may go either way
// (the code page decides), except surrogates, which never stay.
void CheckFileName(const Text& name, const Model& m) {
  const auto shown = [&] { return Show(name); };
  FUZZ_CHECK(name.ends_with(u".vcf"), shown());
  std::u16string_view stem(name.data(), name.size() - 4);
  Text fn = Read(m, Property::FormatedName);
  const std::size_t first = fn.find_first_not_of(u' ');
  fn = first == Text::npos ? Text() : fn.substr(first, fn.find_last_not_of(u' ') - first + 1);
  const auto refused = [](char16_t c) {
    return c < 0x20 || std::u16string_view(u"\\/:*?\"<>|").find(c) != Text::npos ||
           (c >= 0xD800 && c <= 0xDFFF);
  };
  for (char16_t c : stem) FUZZ_CHECK(!refused(c), shown());
  std::size_t k = 0;
  for (char16_t c : fn) {
    if (refused(c)) continue;
    const bool here = k < stem.size() && stem[k] == c;
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
      FUZZ_CHECK(here, shown() + " lost a character of " + Show(fn));
    }
    if (here) ++k;
  }
  FUZZ_CHECK(k == stem.size(), shown() + " is not taken from " + Show(fn));
}

// ---------------------------------------------------------------------------
// Decoding the input.

// One byte per unit from a table of troublemakers and the Latin range, or
// two bytes per unit for any UTF-16 code unit at all.
Text DecodeText(Input& in) {
  static const char16_t kSpecial[16] = {u'\r',  u'\n',  u';',   u',',  u'\\',  u':',
                                        u' ',   u'\t',  u'N',   u'W',  0xD800, 0xDC00,
                                        0x00E9, 0x20AC, 0x6771, 0x0000};
  const std::uint8_t head = in.Byte();
  std::size_t length = head & 0x3F;
  if (head & 0x40) length = length * 16 + (in.Byte() & 0x0F);  // up to about 1000
  Text t;
  for (std::size_t i = 0; i < length && !in.done(); ++i) {
    if (head & 0x80) {
      t.push_back(static_cast<char16_t>(in.U16()));
    } else {
      const std::uint8_t b = in.Byte();
      t.push_back(b < 16    ? kSpecial[b]
                  : b < 112 ? static_cast<char16_t>(0x20 + b - 16)
                            : static_cast<char16_t>(0x80 + b - 112));
    }
  }
  return t;
}

// A 16-bit value: any at all, a small one, or one near either limit, so the
// geographic sums meet their overflow boundaries often.
std::int16_t DecodeValue(Input& in) {
  const std::uint8_t how = in.Byte();
  switch (how % 4) {
    case 0:
      return static_cast<std::int16_t>(in.U16());
    case 1:
      return static_cast<std::int8_t>(in.Byte());
    case 2:
      return static_cast<std::int16_t>(how & 4 ? 32767 - in.Byte() : -32768 + in.Byte());
    default:
      return static_cast<std::int16_t>(how & 4 ? (how >> 3) - 16 : (how & 8 ? 3600 : 60));
  }
}

const PropertyInfo& PickProperty(Input& in) {
  return Properties()[in.Byte() % Properties().size()];
}

// A dispatch identifier: mostly a property's, sometimes a member that is no
// property, sometimes any 32-bit value.
DispId PickDispId(Input& in) {
  const std::uint8_t b = in.Byte();
  if (b < 200) return Properties()[b % Properties().size()].dispid;
  switch (b % 4) {
    case 0:
      return kDispIdVCard;
    case 1:
      return kDispIdVCardFileName;
    case 2:
      return kDispIdVCardClean;
    default:
      return static_cast<DispId>(in.U32());
  }
}

struct Run {
  FuzzClock clock;
  FuzzGuids guids;
  qvVCard card{clock, guids};
  Model model;

  void Store(const PropertyInfo& p, const Value& v) {
    if (p.kind == Kind::Text) {
      model.text[static_cast<std::size_t>(p.property)] = std::get<Text>(v);
    } else {
      model.value[static_cast<std::size_t>(p.property)] = std::get<std::int16_t>(v);
    }
  }

  void Clean() {
    for (std::size_t i = 0; i < kPropertyCount; ++i) {
      if (static_cast<Property>(i) == Property::TimeZone) continue;
      model.text[i].clear();
      model.value[i] = 0;
    }
  }

  Status ExpectedCardStatus() const {
    if (LatOf(model).overflow || LonOf(model).overflow) return kOverflow;
    if (Failed(clock.status)) return clock.status;
    return guids.status;
  }

  void ReadCard() {
    const std::vector<Value> before = Snapshot(card);
    Text out = u"stale";
    const Status s = card.get_vCard(out);
    FUZZ_CHECK(s == ExpectedCardStatus(), "status " + std::to_string(s));
    if (std::getenv("QV_FUZZ_TRACE") != nullptr) {  // to see what an input does
      std::fprintf(stderr, "card: status %08X\n%s\n", static_cast<unsigned>(s),
                   Show(out, 100000).c_str());
    }
    if (Failed(s)) {
      FUZZ_CHECK(out.empty(), "a failed card read handed out " + Show(out));
    } else {
      CheckCard(out, model, clock, guids);
    }
    FUZZ_CHECK(Snapshot(card) == before, "reading the card changed the record");
  }

  void ReadFileName() {
    const std::vector<Value> before = Snapshot(card);
    Text out = u"stale";
    FUZZ_CHECK(card.get_vCardFileName(out) == kOk, "file name read failed");
    CheckFileName(out, model);
    FUZZ_CHECK(Snapshot(card) == before, "reading the file name changed the record");
  }

  void ReadById(DispId id, bool start_as_number) {
    // A property read is checked against the model, which catches a change
    // it makes by the next full check; the two computed reads are checked
    // against a snapshot at once.
    const bool computed = id == kDispIdVCard || id == kDispIdVCardFileName;
    const std::vector<Value> before = computed ? Snapshot(card) : std::vector<Value>();
    Value out = start_as_number ? Value(std::int16_t{77}) : Value(Text(u"stale"));
    const Status s = card.GetById(id, out);
    const PropertyInfo* p = FindProperty(id);
    if (id == kDispIdVCard) {
      FUZZ_CHECK(s == ExpectedCardStatus(), "status by identifier");
      FUZZ_CHECK(std::holds_alternative<Text>(out), "card by identifier");
      if (Succeeded(s)) CheckCard(std::get<Text>(out), model, clock, guids);
      if (Failed(s)) FUZZ_CHECK(std::get<Text>(out).empty(), "failed card by identifier");
    } else if (id == kDispIdVCardFileName) {
      FUZZ_CHECK(s == kOk, "file name by identifier");
      CheckFileName(std::get<Text>(out), model);
    } else if (p == nullptr) {
      FUZZ_CHECK(s == kMemberNotFound, "unknown identifier " + std::to_string(id));
      FUZZ_CHECK(out == Value(Text()), "a failed read must hand out the empty text");
    } else if (p->kind == Kind::Text) {
      FUZZ_CHECK(s == kOk && out == Value(ExpectedRead(model, *p)), p->name);
    } else {
      FUZZ_CHECK(s == kOk && out == Value(model.V(p->property)), p->name);
    }
    if (computed) FUZZ_CHECK(Snapshot(card) == before, "a read by identifier changed the record");
  }

  void Step(Input& in) {
    switch (in.Byte() % 12) {
      case 0:
      case 1: {  // assign a text; refused by flags and integers
        const PropertyInfo& p = PickProperty(in);
        const Text t = DecodeText(in);
        const Status s = card.Put(p.property, t);
        if (p.kind == Kind::Text) {
          FUZZ_CHECK(s == kOk, p.name);
          Store(p, t);
        } else {
          FUZZ_CHECK(s == kTypeMismatch, p.name);
        }
        break;
      }
      case 2: {  // assign a 16-bit value; refused by texts
        const PropertyInfo& p = PickProperty(in);
        const std::int16_t v = DecodeValue(in);
        const Status s = card.Put(p.property, v);
        if (p.kind != Kind::Text) {
          FUZZ_CHECK(s == kOk, p.name);
          Store(p, v);
        } else {
          FUZZ_CHECK(s == kTypeMismatch, p.name);
        }
        break;
      }
      case 3: {  // assign by identifier, either kind of value
        const DispId id = PickDispId(in);
        const Value v = in.Byte() & 1 ? Value(DecodeValue(in)) : Value(DecodeText(in));
        const Status s = card.PutById(id, v);
        const PropertyInfo* p = FindProperty(id);
        if (p == nullptr) {
          FUZZ_CHECK(s == kMemberNotFound, std::to_string(id));
        } else if ((p->kind == Kind::Text) != std::holds_alternative<Text>(v)) {
          FUZZ_CHECK(s == kTypeMismatch, p->name);
        } else {
          FUZZ_CHECK(s == kOk, p->name);
          Store(*p, v);
        }
        break;
      }
      case 4: {  // reset, directly or by identifier
        if (in.Byte() & 1) {
          FUZZ_CHECK(card.vCardClean() == kOk, "vCardClean");
          Clean();
        } else {
          const DispId id = PickDispId(in);
          const Status s = card.CallById(id);
          FUZZ_CHECK(s == (id == kDispIdVCardClean ? kOk : kMemberNotFound), "CallById");
          if (id == kDispIdVCardClean) Clean();
        }
        break;
      }
      case 5: {  // typed reads, including the wrong kind
        const PropertyInfo& p = PickProperty(in);
        Text t = u"stale";
        std::int16_t v = 0x5A5A;
        const Status st = card.Get(p.property, t);
        const Status sv = card.Get(p.property, v);
        if (p.kind == Kind::Text) {
          FUZZ_CHECK(st == kOk && t == ExpectedRead(model, p), p.name);
          FUZZ_CHECK(sv == kTypeMismatch && v == 0, p.name);
        } else {
          FUZZ_CHECK(st == kTypeMismatch && t.empty(), p.name);
          FUZZ_CHECK(sv == kOk && v == model.V(p.property), p.name);
        }
        break;
      }
      case 6: {
        const DispId id = PickDispId(in);
        ReadById(id, in.Byte() & 1);
        break;
      }
      case 7:
      case 8:
        ReadCard();
        break;
      case 9:
        ReadFileName();
        break;
      case 10: {  // the clock moves, or a source starts or stops failing
        const std::uint8_t what = in.Byte();
        if (what < 128) {
          clock.time = CalendarTime{in.U16() % 10000, 1 + in.Byte() % 12, 1 + in.Byte() % 31,
                                    in.Byte() % 24,   in.Byte() % 60,     in.Byte() % 60};
        } else {
          const Status s = (in.Byte() & 1) ? kOk : static_cast<Status>(in.U32() | 0x80000000u);
          (what & 1 ? clock.status : guids.status) = s;
        }
        break;
      }
      case 11: {  // copies are independent records with the same contents
        qvVCard copy(card);
        FUZZ_CHECK(Snapshot(copy) == Snapshot(card), "copy differs");
        card = std::move(copy);
        CheckReads(card, model);
        break;
      }
    }
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input in(data, size);
  Run run;
  for (int steps = 0; !in.done() && steps < 400; ++steps) {
    run.Step(in);
    if (steps % 32 == 31) CheckReads(run.card, run.model);
  }
  CheckReads(run.card, run.model);
  run.ReadCard();
  return 0;
}
