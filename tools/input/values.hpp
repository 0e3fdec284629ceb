// Values as the tool reads them: what a reader found (FieldValue), flag
// words and 16-bit integers, and the escaping of texts for card readers.
#ifndef QVVCARD_INPUT_VALUES_HPP
#define QVVCARD_INPUT_VALUES_HPP

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "card/line_table.hpp"
#include "card/slot_table.hpp"
#include "qv_vcard/qvVCard.hpp"

namespace qvvcard {

// The field the tool takes beside the properties: a decimal position,
// "latitude,longitude" ("40.4168,-3.7038"), which becomes the six integers
// and two hemispheres of the card's position.
inline constexpr std::string_view kGeoField = "Geo";
// Whether name is that field (any case).
bool IsGeoField(std::string_view name) noexcept;

// One value of an input record as the reader found it. CSV cells and
// command-line values are always Text; JSON brings its own types.
struct FieldValue {
  enum class Type : std::uint8_t { Text, Bool, Integer, Null, Other };
  Type type = Type::Text;
  // Text: the raw UTF-8 bytes; a number: the number as written; Other:
  // what was found ("an array").
  std::string text;
  // A large text the reader left in its own storage instead of copying it
  // into text: valid until the reader reads the next record.
  std::string_view in_place;
  bool boolean = false;
  std::int64_t integer = 0;
  bool integer_too_large = false;  // an integer beyond 64 bits
  bool number = false;             // a JSON number (Integer, or Other for a fraction)

  std::string_view view() const {
    return in_place.data() != nullptr ? in_place : std::string_view(text);
  }
  // Back to an empty text, keeping the storage.
  void Clear() {
    type = Type::Text;
    text.clear();
    in_place = {};
    boolean = false;
    integer = 0;
    integer_too_large = false;
    number = false;
  }
  static FieldValue OfText(std::string_view s) {
    FieldValue v;
    v.text = s;
    return v;
  }
};

// How a value is shown in a message: a text quoted, a JSON value as JSON
// words ("true", "null", "an array").
std::string Shown(const FieldValue& v);

// How --rfc-escape treats a text property.
enum class Escape : std::uint8_t {
  None,       // written as given: URL, TZ, BDAY, e-mail types, hemispheres
  ListItems,  // comma-separated lists: backslash and ";" only
  All,        // single texts, components, telephone numbers, e-mail addresses:
              // backslash, ";" and ","
};
namespace detail {
constexpr Escape EscapeClassOf(qv_VCard::Property p) noexcept {
  // Card readers take a telephone number and an e-mail address as texts,
  // and cut or split them at an unescaped "," or ";".
  if (const auto place = qv_VCard::slots::PlaceOf(p)) {
    const bool number = place->kind == qv_VCard::slots::SlotKind::Telephone &&
                        p == qv_VCard::slots::TelNumber(place->number);
    const bool address = place->kind == qv_VCard::slots::SlotKind::Email &&
                         p == qv_VCard::slots::EmailValue(place->number);
    if (number || address) return Escape::All;
  }
  // Otherwise what card readers take as structure in the value decides.
  switch (qv_VCard::lines::RoleOf(p)) {
    case qv_VCard::lines::ValueRole::Component:
    case qv_VCard::lines::ValueRole::Text:
      return Escape::All;
    case qv_VCard::lines::ValueRole::ListItems:
      return Escape::ListItems;
    case qv_VCard::lines::ValueRole::Verbatim:
      break;
  }
  return Escape::None;
}
inline constexpr auto kEscapeClasses = [] {
  std::array<Escape, qv_VCard::kPropertyCount> classes{};
  for (std::size_t i = 0; i < classes.size(); ++i) {
    classes[i] = EscapeClassOf(static_cast<qv_VCard::Property>(i));
  }
  return classes;
}();
}  // namespace detail
// The class of a property, from a table made once.
constexpr Escape EscapeClass(qv_VCard::Property p) noexcept {
  return detail::kEscapeClasses[static_cast<std::size_t>(p)];
}
// A backslash before every character the class escapes, on a UTF-16 text,
// in place.
void RfcEscape(Escape how, std::u16string& text);
// The other way: the text a person typed from a value in card form, the
// backslashes that the class puts in taken out. (A comma inside an item of
// a list stays escaped: a list item cannot hold one otherwise.)
std::string RfcUnescape(Escape how, std::string_view utf8);
// A text as the card takes it, in one pass: well-formed UTF-8 in utf8 is
// converted to UTF-16, escaped as the class says (the characters escaped
// are all ASCII), into room (storage reused from call to call, which only
// grows) and viewed by text, and true is returned; for anything but
// well-formed UTF-8, false, with text unspecified.
bool Utf8ToEscapedText(Escape how, std::string_view utf8, std::u16string& room,
                       std::u16string_view& text);

// Flag words and 16-bit integers as the tool accepts them.
enum class ParseResult : std::uint8_t { Ok, Empty, NotANumber, OutOfRange };
// Blanks and tabs around the value are ignored; "" gives Empty.
ParseResult ParseInt16(std::string_view s, std::int16_t& out) noexcept;
// true/yes give -1, false/no give 0 (any case); otherwise ParseInt16.
ParseResult ParseFlag(std::string_view s, std::int16_t& out) noexcept;
// A 64-bit integer into 16 bits: OutOfRange when it does not fit.
ParseResult RangeCheck(std::int64_t v, std::int16_t& out) noexcept;

// From this size on, a text value is handed over to the card rather than
// copied into it.
inline constexpr std::size_t kLargeValueBytes = std::size_t{64} << 10;

}  // namespace qvvcard

#endif
