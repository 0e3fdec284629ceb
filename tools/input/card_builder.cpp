#include "input/card_builder.hpp"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "bridge/status.hpp"
#include "bridge/utf.hpp"
#include "card/ascii.hpp"
#include "common/text.hpp"

namespace qvvcard {

using qv_VCard::Kind;
using qv_VCard::Property;
using qv_VCard::PropertyInfo;
using qv_VCard::bridge::TextToUtf8;
using qv_VCard::bridge::Utf8ToText;
namespace slots = qv_VCard::slots;

namespace {

// What assigning a text to each property involves: the typed slot it
// belongs to (its bit; 0 for none), whether it is one of the slot's type
// flags, and whether it is a hemisphere. (How it is escaped: EscapeClass.)
struct Facts {
  std::uint32_t slot_bit = 0;
  bool type_flag = false;
  bool hemisphere = false;
  std::uint8_t axis = 0;  // bit 0 latitude, bit 1 longitude: a part of the position
};
constexpr std::array<Facts, qv_VCard::kPropertyCount> kFacts = [] {
  std::array<Facts, qv_VCard::kPropertyCount> facts{};
  for (std::size_t i = 0; i < facts.size(); ++i) {
    const auto p = static_cast<Property>(i);
    const qv_VCard::ReadRule rule = qv_VCard::record::Of(p).rule;
    facts[i].hemisphere =
        rule == qv_VCard::ReadRule::GeoLatSign || rule == qv_VCard::ReadRule::GeoLonSign;
    if (rule == qv_VCard::ReadRule::GeoLatSign) facts[i].axis = 1;
    if (rule == qv_VCard::ReadRule::GeoLonSign) facts[i].axis = 2;
  }
  for (const Property p : kLatitudeParts) facts[static_cast<std::size_t>(p)].axis = 1;
  for (const Property p : kLongitudeParts) facts[static_cast<std::size_t>(p)].axis = 2;
  for (std::size_t i = 0; i < slots::kTypedSlots.size(); ++i) {
    const slots::TypedSlot& s = slots::kTypedSlots[i];
    for (int t = 0; t < s.texts; ++t) {
      facts[static_cast<std::size_t>(s.first_text) + static_cast<std::size_t>(t)].slot_bit = 1u
                                                                                             << i;
    }
    for (int f = 0; f < s.flags; ++f) {
      Facts& facts_of = facts[static_cast<std::size_t>(s.first_flag) + static_cast<std::size_t>(f)];
      facts_of.slot_bit = 1u << i;
      facts_of.type_flag = true;
    }
  }
  return facts;
}();
constexpr const Facts& FactsOf(Property p) { return kFacts[static_cast<std::size_t>(p)]; }

const qv_VCard::Text kEmpty;

// Takes the card in the pieces the card object hands over and keeps it as
// UTF-8: the card is never held whole in UTF-16 beside its record. A
// surrogate pair split between two pieces waits for its second half. The
// first piece is written over what out held (its room is reused as it is);
// out is empty when no piece came.
class Utf8Card final : public qv_VCard::TextSink {
 public:
  explicit Utf8Card(std::string& out) : out_(out) {}
  ~Utf8Card() override {
    if (first_) out_.clear();
  }
  qv_VCard::Status Write(std::u16string_view piece) noexcept override {
    try {
      std::u16string_view rest = piece;
      if (pending_ != 0 && !rest.empty()) {
        const char16_t pair[2] = {pending_, rest.front()};
        pending_ = 0;
        if (!Append({pair, 2})) return qv_VCard::kNoUnicodeTranslation;
        rest.remove_prefix(1);
      }
      if (!rest.empty() && rest.back() >= 0xD800 && rest.back() <= 0xDBFF) {
        pending_ = rest.back();
        rest.remove_suffix(1);
      }
      return Append(rest) ? qv_VCard::kOk : qv_VCard::kNoUnicodeTranslation;
    } catch (...) {
      return qv_VCard::bridge::StatusOfCurrentException();
    }
  }
  bool Complete() const { return pending_ == 0; }

 private:
  bool Append(std::u16string_view units) {
    if (first_) {
      first_ = false;
      return TextToUtf8(units, out_);
    }
    if (!TextToUtf8(units, piece_)) return false;
    out_ += piece_;
    return true;
  }
  std::string& out_;
  std::string piece_;
  char16_t pending_ = 0;
  bool first_ = true;
};

// What the untyped-slot report says of each kind of slot.
struct SlotWords {
  const char* prefix;  // of the slot's property names, before its number
  const char* what;
};
SlotWords WordsOf(const slots::TypedSlot& s) {
  return s.kind == slots::SlotKind::Address ? SlotWords{"Adr", "address"}
                                            : SlotWords{"Tel", "telephone number"};
}
// The flag that gives any value of the slot its line (Postal, Voice).
Property ExampleFlag(const slots::TypedSlot& s) {
  return s.kind == slots::SlotKind::Address ? slots::Address(s.number, slots::AddressType::Postal)
                                            : slots::Tel(s.number, slots::TelType::Voice);
}
std::string NameOf(const slots::TypedSlot& s) {
  return WordsOf(s).prefix + std::to_string(s.number);
}
std::string UntypedLine(const slots::TypedSlot& s, const std::string& cards) {
  return NameOf(s) + "_*: " + cards + " left the " + WordsOf(s).what +
         " out: it had no type flag (set " + qv_VCard::Info(ExampleFlag(s)).name + ", say)";
}

}  // namespace

CardBuilder::CardBuilder(bool rfc_escape, bool keyed_uids)
    : rfc_escape_(rfc_escape), keyed_uids_(keyed_uids), card_(qv_VCard::SystemClock(), guids_) {}

void CardBuilder::Begin(std::uint64_t n) {
  record_ = n;
  problems_.clear();
  // Only what earlier records assigned differs from a clean card; what
  // this record assigns again is simply replaced, the rest emptied when
  // the card is made.
  assigned_.MoveInto(stale_);
  text_bytes_ = 0;
  typed_text_ = typed_flag_ = untyped_ = 0;
  axes_ = hemispheres_ = 0;
  geo_ = false;
  values_.clear();
  if (guids_.has_key()) guids_.SetKey({});
}

void CardBuilder::EmptyStale() {
  stale_.ForEachAndClear([this](Property p) {
    if (qv_VCard::record::IsText(p)) {
      card_.Put(p, kEmpty);
    } else {
      card_.Put(p, std::int16_t{0});
    }
  });
}

void CardBuilder::UidKey(std::string_view value) { guids_.SetKey(TrimBlanks(value)); }

void CardBuilder::KeepUid(std::string_view uid) {
  if (const auto g = ParseUuid(uid)) return guids_.SetExact(*g);
  UidKey(uid);
}

[[gnu::cold]] void CardBuilder::Refuse(const PropertyInfo& info, std::string_view column,
                                       ProblemKind kind, std::string detail,
                                       qv_VCard::Status status) {
  std::string field =
      column.empty() ? std::string(info.name) : std::string(column) + " (" + info.name + ")";
  Fail(MakeProblem(kind, std::move(field), std::move(detail), status));
}

[[gnu::cold]] void CardBuilder::RefuseNumber(const PropertyInfo& info, std::string_view column,
                                             ParseResult r, std::string shown) {
  if (r == ParseResult::OutOfRange) return Refuse(info, column, ProblemKind::OutOfRange, shown);
  Refuse(info, column,
         info.kind == Kind::Flag   ? ProblemKind::ExpectsFlag
         : info.kind == Kind::Text ? ProblemKind::ExpectsText
                                   : ProblemKind::ExpectsInteger,
         std::move(shown));
}

// A property given twice in one record: the second is refused.
[[gnu::cold]] bool CardBuilder::RefuseTwice(const PropertyInfo& info, std::string_view column) {
  if (geo_ && FactsOf(info.property).axis != 0) {
    Refuse(info, column, ProblemKind::PositionTwice, std::string(kGeoField));
  } else {
    Refuse(info, column, ProblemKind::GivenTwice, {});
  }
  return false;
}

[[gnu::always_inline]] inline bool CardBuilder::Once(const PropertyInfo& info,
                                                     std::string_view column) {
  if (!assigned_.TestAndSet(info.property)) return true;
  return RefuseTwice(info, column);
}

inline void CardBuilder::Note(Property p, bool set) noexcept {
  const Facts& f = FactsOf(p);
  if (!set) return;
  (f.type_flag ? typed_flag_ : typed_text_) |= f.slot_bit;
}

[[gnu::always_inline]] inline void CardBuilder::PutNumber(const PropertyInfo& info, std::int16_t v,
                                                          std::string_view column) {
  stale_.Reset(info.property);
  const qv_VCard::Status s = card_.Put(info.property, v);
  if (qv_VCard::Failed(s)) return Refuse(info, column, ProblemKind::NotAssigned, {}, s);
  Note(info.property, v != 0);
  if (v != 0) axes_ |= FactsOf(info.property).axis;
  if (recording_ && v != 0) values_.push_back({info.property, {}, false, v});
}

[[gnu::always_inline]] inline void CardBuilder::PutText(const PropertyInfo& info,
                                                        std::string_view raw,
                                                        std::string_view column, bool escape) {
  if (raw.size() > kLargeValueBytes) return PutLargeText(info, raw, column, escape);
  if (StartsWithByteOrderMark(raw)) return Refuse(info, column, ProblemKind::ByteOrderMark, {});
  text_bytes_ += raw.size();
  // Converted and escaped in one pass into the reused room, and copied into
  // the card's own storage of the property.
  const Escape how = escape ? EscapeClass(info.property) : Escape::None;
  std::u16string_view text;
  if (!Utf8ToEscapedText(how, raw, scratch_, text)) return RefuseUtf8(info, raw, column);
  const qv_VCard::Status s = card_.PutView(info.property, text);
  stale_.Reset(info.property);
  if (qv_VCard::Failed(s)) return Refuse(info, column, ProblemKind::NotAssigned, {}, s);
  Note(info.property, true);
  if (recording_) Record(info.property, raw, !escape);
}

[[gnu::cold]] void CardBuilder::Record(Property p, std::string_view raw, bool in_card_form) {
  values_.push_back({p, std::string(raw), in_card_form});
}

// A large text is made in its own storage and handed over to the card, so
// that it exists only once beside the input.
[[gnu::cold]] void CardBuilder::PutLargeText(const PropertyInfo& info, std::string_view raw,
                                             std::string_view column, bool escape) {
  if (StartsWithByteOrderMark(raw)) return Refuse(info, column, ProblemKind::ByteOrderMark, {});
  text_bytes_ += raw.size();
  std::u16string large;
  if (!Utf8ToText(raw, large)) return RefuseUtf8(info, raw, column);
  if (escape) RfcEscape(EscapeClass(info.property), large);
  stale_.Reset(info.property);
  const qv_VCard::Status s = card_.Put(info.property, std::move(large));
  if (qv_VCard::Failed(s)) return Refuse(info, column, ProblemKind::NotAssigned, {}, s);
  Note(info.property, true);
  if (recording_) values_.push_back({info.property, std::string(raw), !escape});
}

// Where raw (as given, before any escaping) stops being UTF-8.
[[gnu::cold]] void CardBuilder::RefuseUtf8(const PropertyInfo& info, std::string_view raw,
                                           std::string_view column) {
  std::size_t bad = 0;
  std::u16string ignored;
  Utf8ToText(raw, ignored, &bad);
  Refuse(info, column, ProblemKind::InvalidUtf8, std::to_string(bad + 1));
}

// A hemisphere is one letter, N or S for the latitude and E or W for the
// longitude, in any case; it is stored as the capital letter. Anything else
// would silently read as a hemisphere the data does not name.
[[gnu::cold]] void CardBuilder::AssignHemisphere(const PropertyInfo& info, std::string_view raw,
                                                 std::string_view column) {
  const bool lat = info.rule == qv_VCard::ReadRule::GeoLatSign;
  const std::string_view v = TrimBlanks(raw);
  if (v.empty()) return;
  char16_t letter = 0;
  if (v.size() == 1) {
    const char c = static_cast<char>(v[0] & ~0x20);  // the capital letter
    if (lat ? (c == 'N' || c == 'S') : (c == 'E' || c == 'W')) letter = static_cast<char16_t>(c);
  }
  if (letter == 0) {
    return Refuse(info, column, lat ? ProblemKind::ExpectsLatitude : ProblemKind::ExpectsLongitude,
                  Quoted(raw));
  }
  stale_.Reset(info.property);
  const qv_VCard::Status s = card_.Put(info.property, std::u16string(1, letter));
  if (qv_VCard::Failed(s)) return Refuse(info, column, ProblemKind::NotAssigned, {}, s);
  hemispheres_ |= FactsOf(info.property).axis;
  if (recording_)
    values_.push_back({info.property, std::string(1, static_cast<char>(letter)), false});
}

void CardBuilder::SetText(const PropertyInfo& info, std::string_view raw, std::string_view column,
                          bool escape) {
  if (!Once(info, column)) return;
  if (info.kind == Kind::Text) {
    if (FactsOf(info.property).hemisphere) return AssignHemisphere(info, raw, column);
    // The clean card's text is empty already.
    if (!raw.empty()) PutText(info, raw, column, escape);
    return;
  }
  std::int16_t v = 0;
  const ParseResult r = info.kind == Kind::Flag ? ParseFlag(raw, v) : ParseInt16(raw, v);
  if (r == ParseResult::Empty) return;
  if (r != ParseResult::Ok) return RefuseNumber(info, column, r, Quoted(raw));
  PutNumber(info, v, column);
}

void CardBuilder::SetJson(const PropertyInfo& info, const FieldValue& value) {
  using Type = FieldValue::Type;
  // A number for a text property (a postal code, a telephone number) is
  // taken as its text exactly as written.
  if (value.number && info.kind == Kind::Text && !value.text.empty()) {
    return SetText(info, value.view(), {}, rfc_escape_);
  }
  if (!Once(info, {})) return;
  switch (value.type) {
    case Type::Null:
      return;
    case Type::Bool:
      if (info.kind == Kind::Flag) {
        return PutNumber(info, value.boolean ? qv_VCard::kTrue : qv_VCard::kFalse, {});
      }
      break;
    case Type::Integer:
      if (info.kind != Kind::Text) {
        std::int16_t v = 0;
        const ParseResult r =
            value.integer_too_large ? ParseResult::OutOfRange : RangeCheck(value.integer, v);
        if (r != ParseResult::Ok) return RefuseNumber(info, {}, r, Shown(value));
        return PutNumber(info, v, {});
      }
      break;
    default:
      break;
  }
  RefuseNumber(info, {}, ParseResult::NotANumber, Shown(value));
}

bool CardBuilder::Finish(std::string& card) {
  if (axes_ != 0) CheckPosition();
  if (bad()) return false;
  // The card's UTF-8 is about as long as the values that went into it (a
  // little longer where they were escaped), plus its fixed lines.
  if (text_bytes_ > kLargeValueBytes) card.reserve(text_bytes_ + text_bytes_ / 64 + 4096);
  Settle();
  qv_VCard::Status s;
  bool complete;
  {
    Utf8Card sink(card);
    s = card_.get_vCard(sink);
    complete = sink.Complete();
  }
  if (s == qv_VCard::kNoUnicodeTranslation || (qv_VCard::Succeeded(s) && !complete)) {
    card.clear();
    Fail(MakeProblem(ProblemKind::NotUtf16, "vCard"));
    return false;
  }
  if (qv_VCard::Failed(s)) {
    card.clear();
    Fail(MakeProblem(ProblemKind::CardFailed, "vCard", {}, s));
    return false;
  }
  // The card ends with "END:VCARD"; in a file every line ends with CR LF.
  card += "\r\n";
  if (keyed_uids_ && !guids_.has_key()) ++random_uids_;
  untyped_ = typed_text_ & ~typed_flag_;
  for (std::uint32_t bits = untyped_; bits != 0; bits &= bits - 1) {
    ++untyped_counts_[static_cast<std::size_t>(__builtin_ctz(bits))];
  }
  return true;
}

std::vector<std::string> CardBuilder::Untyped() const {
  std::vector<std::string> lines;
  for (std::size_t i = 0; i < untyped_counts_.size(); ++i) {
    if (untyped_counts_[i] != 0) {
      lines.push_back(UntypedLine(slots::kTypedSlots[i], Plural(untyped_counts_[i], "card")));
    }
  }
  return lines;
}

std::vector<std::string> CardBuilder::UntypedOfLast() const {
  std::vector<std::string> lines;
  for (std::size_t i = 0; i < slots::kTypedSlots.size(); ++i) {
    if ((untyped_ >> i) & 1) lines.push_back(UntypedLine(slots::kTypedSlots[i], "the card"));
  }
  return lines;
}

std::string CardBuilder::SlotName(std::size_t i) { return NameOf(slots::kTypedSlots[i]); }

void CardBuilder::ReleaseLarge(std::string& card) {
  // After a large record, the card's texts and the last card give their
  // storage back instead of holding it for the rest of the run.
  if (card.capacity() <= kLargeValueBytes) return;
  std::string().swap(card);
  for (const PropertyInfo& p : qv_VCard::Properties()) {
    if (p.kind == Kind::Text) card_.Put(p.property, std::u16string());
  }
  std::u16string().swap(scratch_);
}

}  // namespace qvvcard
