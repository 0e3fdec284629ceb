// Fuzz target: the vCard reader and the mapping of its cards onto the
// card's properties.
//
// The first byte picks the read buffer size, tight limits and the charset
// of values without a CHARSET; the rest is the input, read from a
// memory-backed file as the tool reads a file. Checks:
//   - the reader ends; cards and their lines come in increasing line
//     order, an error's line within its card;
//   - what a card holds stays within a few times the card limit (values
//     converted to UTF-8 may grow), and within the line limit;
//   - a card read whole has names of name characters only and UTF-8 values
//     (but BASE64 ones, kept as they are);
//   - every card read whole maps: each property is given at most once, the
//     card takes every value (flags, integers, hemispheres, UTF-8 texts),
//     every telephone and address slot with values has a type, the card is
//     written; every line with a value is placed (an assignment from it) or
//     listed as having no place, but the lines the card writes itself (REV,
//     PRODID, UID) and the labels of item groups, used up with their line;
//   - read through a large buffer, the plain route (ReadMapped) gives every
//     card exactly as the reader and the mapping do: the same errors and
//     lines, the same values from the same lines, the same losses.
#include <utf8.h>
#include <bitset>
#include <cstdint>
#include <string>
#include <vector>

#include "card/ascii.hpp"
#include "card/slot_table.hpp"
#include "common/problem.hpp"
#include "fuzz_input.hpp"
#include "input/card_builder.hpp"
#include "input/values.hpp"
#include "input/vcard_mapping.hpp"
#include "input/vcard_reader.hpp"
#include "memory_file.hpp"
#include "qv_vcard/qvVCard.hpp"

namespace {

using qv_VCard::Property;
namespace slots = qv_VCard::slots;
namespace vcf = qvvcard::vcf;
using qv_fuzz::MemoryFile;

bool NameChars(std::string_view s) {
  for (const char c : s) {
    const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                    c == '-' || c == '_';
    if (!ok) return false;
  }
  return true;
}

// Whether a line holds anything but separators and blanks, as the mapping
// would see it (a telephone's or e-mail's URI scheme is no value).
bool HasData(const vcf::Line& l, std::string_view version) {
  std::string_view value = l.value;
  for (const std::string_view scheme : {"tel:", "mailto:"}) {
    if (value.size() >= scheme.size() &&
        qv_VCard::ascii::EqualIgnoringCase(value.substr(0, scheme.size()), scheme)) {
      value.remove_prefix(scheme.size());
    }
  }
  const std::string text = vcf::Unescape(value, version);
  for (const char c : text) {
    if (c != ';' && c != ',' && c != ' ' && c != '\t') return true;
  }
  return false;
}

// PROFILE:VCARD, which the card writes itself.
bool IsProfileLine(const vcf::Line& l) {
  std::string_view v = l.value;
  while (!v.empty() && (v.front() == ' ' || v.front() == '\t')) v.remove_prefix(1);
  while (!v.empty() && (v.back() == ' ' || v.back() == '\t')) v.remove_suffix(1);
  return l.name == "PROFILE" && qv_VCard::ascii::EqualIgnoringCase(v, "VCARD");
}

void CheckMapping(const vcf::Card& card) {
  const vcf::Mapped m = vcf::MapCard(card);
  qvvcard::CardBuilder builder;
  builder.Begin(1);
  std::bitset<qv_VCard::kPropertyCount> given;
  for (const vcf::Assignment& a : m.assignments) {
    const auto i = static_cast<std::size_t>(a.property);
    FUZZ_CHECK(!given.test(i), std::string(qv_VCard::Info(a.property).name) + " given twice");
    given.set(i);
    builder.SetTyped(qv_VCard::Info(a.property), a.value, vcf::SourceOf(*a.line), a.escaped);
    // A text that starts with a byte-order mark is refused, as from any input.
    if (builder.bad() && builder.problems().back().kind == qvvcard::ProblemKind::ByteOrderMark &&
        a.value.starts_with("\xEF\xBB\xBF")) {
      return;
    }
    FUZZ_CHECK(!builder.bad(), vcf::SourceOf(*a.line) + " to " + qv_VCard::Info(a.property).name +
                                   ": " + qvvcard::Describe(builder.problems().front()));
    FUZZ_CHECK(a.line >= card.lines.data() && a.line < card.lines.data() + card.lines.size(),
               "an assignment from no line of the card");
  }
  // A slot with values has a type, or the card would leave it out.
  for (const slots::TypedSlot& s : slots::kTypedSlots) {
    bool texts = false, flags = false;
    for (int t = 0; t < s.texts; ++t) {
      texts = texts || given.test(static_cast<std::size_t>(s.first_text) + t);
    }
    for (int f = 0; f < s.flags; ++f) {
      flags = flags || given.test(static_cast<std::size_t>(s.first_flag) + f);
    }
    FUZZ_CHECK(!texts || flags, "a slot with values and no type");
  }
  std::string text;
  FUZZ_CHECK(builder.Finish(text),
             "the card cannot be made: " + (builder.problems().empty()
                                                ? std::string()
                                                : qvvcard::Describe(builder.problems().front())));

  for (const vcf::Unplaced& u : m.lost) {
    bool named = false;
    for (const vcf::Line& l : card.lines) named = named || l.name == u.property;
    FUZZ_CHECK(named && !u.reason.empty(), "a loss of no line: " + std::string(u.property));
  }
  for (const vcf::Line& l : card.lines) {
    // The lines the card writes itself, labels used up with their line, and
    // the categories (the group of every contact is none) are no values.
    if (l.name == "REV" || l.name == "PRODID" || l.name == "UID" || l.name == "VERSION" ||
        l.name == "X-ABLABEL" || l.name == "CATEGORIES" || IsProfileLine(l) ||
        (!HasData(l, card.version) && l.name != "AGENT")) {
      continue;
    }
    if (l.name == "NICKNAME") {  // one list of the items of every line
      FUZZ_CHECK(given.test(static_cast<std::size_t>(Property::Nickname)), "nicknames lost");
      continue;
    }
    bool accounted = false;
    for (const vcf::Assignment& a : m.assignments) accounted = accounted || a.line == &l;
    for (const vcf::Unplaced& u : m.lost) accounted = accounted || u.property == l.name;
    FUZZ_CHECK(accounted, "a value neither placed nor listed: " + vcf::SourceOf(l));
  }
}

// What a card came to, for comparing the two ways of reading it.
std::string Outcome(const vcf::Card& card, const vcf::Mapped& m) {
  std::string s = std::to_string(card.line) + " " + card.error + "\n";
  if (!card.error.empty()) return s;
  for (const vcf::Assignment& a : m.assignments) {
    s += std::string(qv_VCard::Info(a.property).name) + (a.escaped ? "=" : ":") +
         std::string(a.value) + " <- " + vcf::SourceOf(*a.line) + "@" +
         std::to_string(a.line->line) + "\n";
  }
  for (const vcf::Unplaced& u : m.lost) {
    s += "lost " + std::string(u.property) + ": " + std::string(u.reason) + "\n";
  }
  return s + "uid " + std::string(m.uid) + "\n";
}

void CheckPlainRoute(std::string_view input, const vcf::Limits& limits, const char* charset) {
  MemoryFile a(input), b(input);
  qvvcard::InputStream in_a(a.fd(), 4096), in_b(b.fd(), 4096);
  vcf::Reader whole(in_a, limits, charset), plain(in_b, limits, charset);
  vcf::Card card_a, card_b;
  vcf::Mapped mapped_a, mapped_b;
  for (;;) {
    const bool more = whole.Next(card_a);
    if (more && card_a.error.empty()) vcf::MapCard(card_a, mapped_a);
    FUZZ_CHECK(vcf::ReadMapped(plain, card_b, mapped_b) == more, "the routes end apart");
    if (!more) return;
    FUZZ_CHECK(Outcome(card_a, mapped_a) == Outcome(card_b, mapped_b),
               "the plain route differs:\n" + Outcome(card_a, mapped_a) + "--\n" +
                   Outcome(card_b, mapped_b));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t how = data[0];
  const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::size_t buffer = 1 + (how & 0x0F) * 5;  // small, to split every line
  const bool tight = how & 0x10;
  const char* charset = (how & 0x20) ? "WINDOWS-1252" : "UTF-8";
  vcf::Limits limits;
  if (tight) limits = {200, 6};

  MemoryFile file(input);
  qvvcard::InputStream in(file.fd(), buffer);
  vcf::Reader reader(in, limits, charset);
  vcf::Card card;
  std::uint64_t last = 0;
  std::size_t cards = 0;
  while (reader.Next(card)) {
    FUZZ_CHECK(++cards <= input.size() + 1, "more cards than bytes");
    FUZZ_CHECK(card.line > last, "cards must come in line order");
    last = card.line;
    FUZZ_CHECK(card.error.empty() == (card.error_line == 0), "an error needs its line");
    if (!card.error.empty()) {
      FUZZ_CHECK(card.error_line >= card.line, "an error before its card");
      FUZZ_CHECK(card.error.starts_with("line " + std::to_string(card.error_line) + ": "),
                 card.error);
    }
    FUZZ_CHECK(card.lines.size() <= limits.max_lines, "more lines than the limit");
    std::size_t held = 0;
    for (const vcf::Line& l : card.lines) {
      FUZZ_CHECK(l.line > last, "lines must come in line order");
      last = l.line;
      held += l.group.size() + l.name.size() + l.value.size();
      for (const vcf::Param& p : l.params) {
        held += p.name.size();
        for (const std::string_view v : p.values) held += v.size();
      }
      if (!card.error.empty()) continue;
      FUZZ_CHECK(!l.name.empty() && NameChars(l.name) && NameChars(l.group), std::string(l.name));
      if (!l.Base64()) {
        FUZZ_CHECK(utf8::is_valid(l.value.begin(), l.value.end()),
                   "a value not UTF-8: " + std::string(l.name));
      }
    }
    // Values converted to UTF-8 take at most a few times their bytes.
    FUZZ_CHECK(held <= 8 * limits.max_card_bytes, "a card beyond its limit");
    if (card.error.empty()) CheckMapping(card);
  }
  CheckPlainRoute(input, limits, charset);
  return 0;
}
