// Turning the values of an input record into property assignments.
#ifndef QVVCARD_VALUES_HPP
#define QVVCARD_VALUES_HPP

#include <cstdint>
#include <string>
#include <string_view>

#include "qv_vcard/qvVCard.hpp"

namespace qvvcard {

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

  static FieldValue OfText(std::string_view s) {
    FieldValue v;
    v.text = s;
    return v;
  }
};

// How --rfc-escape treats a text property.
enum class Escape : std::uint8_t {
  None,       // written as given: URL, TZ, BDAY, numbers, addresses, types
  ListItems,  // comma-separated lists: backslash and ";" only
  All,        // single texts and structured components: backslash, ";" and ","
};
Escape EscapeClass(qv_VCard::Property p) noexcept;
// Puts a backslash before every character that the class escapes.
void RfcEscape(Escape how, std::u16string& text);

// How the refusal of a value that is not UTF-8 begins.
inline constexpr std::string_view kInvalidUtf8 = "invalid UTF-8";

// Flag words and 16-bit integers as the tool accepts them.
enum class ParseResult : std::uint8_t { Ok, Empty, NotANumber, OutOfRange };
// Blanks and tabs around the value are ignored; "" gives Empty.
ParseResult ParseInt16(std::string_view s, std::int16_t& out) noexcept;
// true/yes give -1, false/no give 0 (any case); otherwise ParseInt16.
ParseResult ParseFlag(std::string_view s, std::int16_t& out) noexcept;

// From this size on, a text value is handed over to the card rather than
// copied into it.
inline constexpr std::size_t kLargeValueBytes = std::size_t{64} << 10;

// Assigns a text as it comes from a CSV cell or the command line: for a flag
// or an integer property it is parsed, for a text property taken as UTF-8.
std::string AssignText(qv_VCard::qvVCard& card, const qv_VCard::PropertyInfo& info,
                       std::string_view raw, bool rfc_escape, std::u16string& scratch);
// The same, for callers that assign many values: true when the value was
// taken (or was empty), otherwise false with the reason in refusal.
bool TryAssignText(qv_VCard::qvVCard& card, const qv_VCard::PropertyInfo& info,
                   std::string_view raw, bool rfc_escape, std::u16string& scratch,
                   std::string& refusal);

// Assigns value to the property of card. An empty value (an empty text for
// flags and integers, or a JSON null) assigns nothing. Returns "" on success,
// otherwise why the value was refused; the card is then unchanged.
// scratch is a reusable buffer.
std::string Assign(qv_VCard::qvVCard& card, const qv_VCard::PropertyInfo& info,
                   const FieldValue& value, bool rfc_escape, std::u16string& scratch);

// A short, printable rendering of an offending input value for messages.
std::string Quoted(std::string_view raw);

// The property name nearest to name (ignoring ASCII case), when one is near
// enough to be what was meant; "" otherwise.
std::string NearestPropertyName(std::string_view name);

// Every property name in interface order, comma-separated and wrapped to
// lines of at most width characters, each indented by indent blanks.
std::string PropertyNameList(std::size_t width = 78, std::size_t indent = 2);

}  // namespace qvvcard

#endif
