// A clean card per record, its values assigned as the tool reads them: the
// one way the single-card command, qvvcard batch and the server make cards.
// Every value that cannot be taken becomes a typed problem of the record,
// with the card's status for it; the record is then refused as a whole.
#ifndef QVVCARD_INPUT_CARD_BUILDER_HPP
#define QVVCARD_INPUT_CARD_BUILDER_HPP

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "card/slot_table.hpp"
#include "common/problem.hpp"
#include "input/name_uid.hpp"
#include "input/values.hpp"
#include "qv_vcard/qvVCard.hpp"

namespace qvvcard {

// A value as a record holds it, for writing records as a table: a text as
// the person typed it (in_card_form: as the card holds it, escaped), a flag
// or an integer as its number.
struct RecordedValue {
  qv_VCard::Property property;
  std::string text;
  bool in_card_form = false;
  std::int16_t number = 0;
};

// The integer parts of each axis of a position.
inline constexpr qv_VCard::Property kLatitudeParts[] = {
    qv_VCard::Property::GeoLatDeg, qv_VCard::Property::GeoLatMin, qv_VCard::Property::GeoLatSec};
inline constexpr qv_VCard::Property kLongitudeParts[] = {
    qv_VCard::Property::GeoLonDeg, qv_VCard::Property::GeoLonMin, qv_VCard::Property::GeoLonSec};

class CardBuilder {
 public:
  // rfc_escape: texts are escaped for card readers (--rfc-escape);
  // keyed_uids: records give the keys of their UIDs (--uid-from), and
  // records without one are counted.
  explicit CardBuilder(bool rfc_escape = true, bool keyed_uids = false);
  CardBuilder(const CardBuilder&) = delete;
  CardBuilder& operator=(const CardBuilder&) = delete;

  // Starts record n (from 1) on a clean card.
  void Begin(std::uint64_t n);
  // A value as text (a CSV cell, a query parameter, the command line):
  // parsed for a flag or an integer, UTF-8 for a text. An empty value
  // assigns nothing.
  void Set(const qv_VCard::PropertyInfo& info, std::string_view raw) {
    SetText(info, raw, {}, rfc_escape_);
  }
  // A value as JSON brings it (texts as above; booleans for flags;
  // integers; a number for a text property as its text as written; null
  // assigns nothing).
  void Set(const qv_VCard::PropertyInfo& info, const FieldValue& value) {
    if (value.type == FieldValue::Type::Text) return SetText(info, value.view(), {}, rfc_escape_);
    SetJson(info, value);
  }
  // A value an export's column or a column map gives: a problem names the
  // column and the property ("Forename (GeoLatDeg)"); escape false takes
  // the text as escaped already.
  void Set(const qv_VCard::PropertyInfo& info, std::string_view raw, std::string_view column,
           bool escape) {
    SetText(info, raw, column, escape && rfc_escape_);
  }
  // A value read as the person typed it (from a vCard file): a text is
  // escaped for card readers whatever --rfc-escape says, unless escaped
  // says it is in card form already.
  void SetTyped(const qv_VCard::PropertyInfo& info, std::string_view raw, std::string_view column,
                bool escaped) {
    SetText(info, raw, column, !escaped);
  }
  // The decimal position (kGeoField): as text, or as JSON brings it (a
  // string). It cannot be combined with the position's own properties.
  void SetGeo(std::string_view raw, std::string_view column = {});
  void SetGeo(const FieldValue& value);
  // A problem of the record as a whole or of one of its fields.
  void Fail(Problem problem) { problems_.push_back(std::move(problem)); }
  bool bad() const { return !problems_.empty(); }
  // The key of the record's UID (blanks around it do not count).
  void UidKey(std::string_view value);
  // The record's own UID, kept: a UUID as it is, any other text as the key
  // of a name-based UUID (UidKey).
  void KeepUid(std::string_view uid);

  // Ends the record: true with its card (UTF-8, every line ending in CR LF)
  // when it has no problem; false otherwise (the card read's own failure
  // is one more problem).
  bool Finish(std::string& card);
  // After a large record: gives back the storage it needed (card is the
  // text Finish wrote into).
  void ReleaseLarge(std::string& card);

  // Keeps the values of each record as they are assigned (values()).
  void RecordValues(bool on) { recording_ = on; }
  // The values the record assigned, after the mapping: valid with
  // RecordValues(true), until the next Begin.
  const std::vector<RecordedValue>& values() const { return values_; }

  std::uint64_t record() const { return record_; }
  const std::vector<Problem>& problems() const { return problems_; }
  // The card of the record (after Finish, the one it wrote).
  const qv_VCard::qvVCard& card() {
    Settle();
    return card_;
  }
  bool rfc_escape() const { return rfc_escape_; }
  // Cards made with a random UID because their key was empty.
  std::uint64_t random_uids() const { return random_uids_; }
  // The typed slots (addresses, telephones) this record's card leaves out
  // because their values came without a type flag; bit i is slot i of
  // slots::kTypedSlots. Valid after Finish.
  std::uint32_t untyped() const { return untyped_; }
  // One line per typed slot that some cards of the run left out, with the
  // number of those cards ("Tel1_*: 2 cards left the telephone number out:
  // it had no type flag (set Tel1_Voice, say)").
  std::vector<std::string> Untyped() const;
  // The same for the last card alone, without a count.
  std::vector<std::string> UntypedOfLast() const;
  // The name of typed slot i ("Tel1", "Adr2"), and the cards of the run
  // that left it out.
  static std::string SlotName(std::size_t i);
  std::uint64_t untyped_count(std::size_t i) const { return untyped_counts_[i]; }

 private:
  // A set of properties.
  class PropertySet {
   public:
    bool TestAndSet(qv_VCard::Property p) noexcept {
      const auto i = static_cast<std::size_t>(p);
      const std::uint64_t bit = std::uint64_t{1} << (i % 64);
      const bool was = (words_[i / 64] & bit) != 0;
      words_[i / 64] |= bit;
      return was;
    }
    void Reset(qv_VCard::Property p) noexcept {
      const auto i = static_cast<std::size_t>(p);
      words_[i / 64] &= ~(std::uint64_t{1} << (i % 64));
    }
    // Moves every member of this set into other.
    void MoveInto(PropertySet& other) noexcept {
      for (std::size_t w = 0; w < words_.size(); ++w) {
        other.words_[w] |= words_[w];
        words_[w] = 0;
      }
    }
    bool empty() const noexcept {
      std::uint64_t any = 0;
      for (const std::uint64_t w : words_) any |= w;
      return any == 0;
    }
    template <typename F>
    void ForEachAndClear(F&& f) {
      for (std::size_t w = 0; w < words_.size(); ++w) {
        for (std::uint64_t bits = words_[w]; bits != 0; bits &= bits - 1) {
          f(static_cast<qv_VCard::Property>(w * 64 +
                                            static_cast<std::size_t>(__builtin_ctzll(bits))));
        }
        words_[w] = 0;
      }
    }

   private:
    std::array<std::uint64_t, (qv_VCard::kPropertyCount + 63) / 64> words_{};
  };

  void SetText(const qv_VCard::PropertyInfo& info, std::string_view raw, std::string_view column,
               bool escape);
  // A JSON value that is no string.
  void SetJson(const qv_VCard::PropertyInfo& info, const FieldValue& value);
  bool Once(const qv_VCard::PropertyInfo& info, std::string_view column);
  bool RefuseTwice(const qv_VCard::PropertyInfo& info, std::string_view column);
  void Record(qv_VCard::Property p, std::string_view raw, bool in_card_form);
  void PutText(const qv_VCard::PropertyInfo& info, std::string_view raw, std::string_view column,
               bool escape);
  void PutLargeText(const qv_VCard::PropertyInfo& info, std::string_view raw,
                    std::string_view column, bool escape);
  void RefuseUtf8(const qv_VCard::PropertyInfo& info, std::string_view raw,
                  std::string_view column);
  void PutNumber(const qv_VCard::PropertyInfo& info, std::int16_t v, std::string_view column);
  void Refuse(const qv_VCard::PropertyInfo& info, std::string_view column, ProblemKind kind,
              std::string detail, qv_VCard::Status status = qv_VCard::kOk);
  void RefuseNumber(const qv_VCard::PropertyInfo& info, std::string_view column, ParseResult r,
                    std::string shown);
  void AssignHemisphere(const qv_VCard::PropertyInfo& info, std::string_view raw,
                        std::string_view column);
  void Note(qv_VCard::Property p, bool set) noexcept;
  // The problems of the record as a whole: a position without its
  // hemispheres.
  void CheckPosition();
  // Empties what an earlier record left and this one did not assign (mostly
  // every record assigns what the one before it did).
  void Settle() {
    if (!stale_.empty()) EmptyStale();
  }
  void EmptyStale();

  bool rfc_escape_;
  bool keyed_uids_;
  NameBasedGuids guids_;  // before card_, which refers to it
  qv_VCard::qvVCard card_;
  PropertySet assigned_;  // by this record
  PropertySet stale_;     // by earlier records, and not yet assigned or emptied
  std::vector<Problem> problems_;
  std::u16string scratch_;  // room for the texts, reused
  std::uint64_t record_ = 0;
  std::size_t text_bytes_ = 0;  // of the values given to this record
  std::uint64_t random_uids_ = 0;
  // The typed slots with a text and with a type flag in this record.
  std::uint32_t typed_text_ = 0, typed_flag_ = 0, untyped_ = 0;
  // The axes (bit 0 latitude, bit 1 longitude) given a non-zero integer,
  // and given a hemisphere; whether the position came as Geo.
  std::uint8_t axes_ = 0, hemispheres_ = 0;
  bool geo_ = false;
  bool recording_ = false;
  std::vector<RecordedValue> values_;
  std::array<std::uint64_t, qv_VCard::slots::kTypedSlotCount> untyped_counts_{};
};

}  // namespace qvvcard

#endif
