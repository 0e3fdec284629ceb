// What can be wrong, and the words for it: the typed problems of a record,
// the refusal of a whole input, and the one table of their texts.
//
// Errors travel one way each: an InputRefused exception refuses a whole
// input before any record of it becomes a card; a list of Problems belongs
// to one record, which is then skipped (or answered with an error).
#ifndef QVVCARD_COMMON_PROBLEM_HPP
#define QVVCARD_COMMON_PROBLEM_HPP

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "qv_vcard/qvVCard.hpp"

namespace qvvcard {

enum class ProblemKind : std::uint8_t {
  // A value that its property does not take.
  GivenTwice,        // the property has a value already
  InvalidUtf8,       // detail: the number of the first bad byte, from 1
  ExpectsText,       // detail: the value as shown (Quoted, or a JSON word)
  ExpectsFlag,       // detail: the value as shown
  ExpectsInteger,    // detail: the value as shown
  OutOfRange,        // detail: the value as shown
  ExpectsLatitude,   // a hemisphere other than N or S; detail: the value as shown
  ExpectsLongitude,  // a hemisphere other than E or W; detail: the value as shown
  NotAssigned,       // the card refused it (status says why)
  UnknownProperty,   // field: the name as given
  ByteOrderMark,     // a text that starts with U+FEFF, which is no character of it
  // A position.
  MissingHemisphere,   // field: GeoLat or GeoLon; detail: "N or S", "E or W"
  NotAPosition,        // Geo: detail: the value as shown
  PositionOutOfRange,  // Geo: detail: "latitude 95.5 is outside -90 to 90"
  PositionTwice,       // Geo with a separate field: detail: that field's name
  // A record as a whole.
  Malformed,      // detail: what the reader found ("text after the closing quote in field 2")
  FieldCount,     // detail: "3 fields, the header has 4"
  UnnamedColumn,  // a value in a column without a name
  // The card read.
  CardFailed,  // status: the read's failure
  NotUtf16,    // the card's text cannot be written as UTF-8
};

struct Problem {
  std::string field;  // the property, "Column (Property)", "line L", "column C", "vCard"
  ProblemKind kind = ProblemKind::Malformed;
  qv_VCard::Status status = qv_VCard::kOk;  // the card's status for it; kOk where none applies
  std::string detail;
};

// A problem of the given kind with the status that kind has (or the one given).
Problem MakeProblem(ProblemKind kind, std::string field, std::string detail = {},
                    qv_VCard::Status status = qv_VCard::kOk);
// The status a kind carries: kNoUnicodeTranslation for invalid UTF-8,
// kUnknownName for an unknown property, kTypeMismatch for a value of the
// wrong kind, kOverflow beyond 16 bits, kInvalidArg for a value outside its
// words; kOk for the problems of a record's form.
qv_VCard::Status StatusOf(ProblemKind kind) noexcept;
// Whether the problem is the card read's (the values were all taken).
bool IsCardProblem(ProblemKind kind) noexcept;

// The words for a problem, without its field: "expects a 16-bit integer,
// not \"x\"".
std::string Describe(const Problem& p);

// ---------------------------------------------------------------------------
// Whole inputs.

enum class RefusalKind : std::uint8_t {
  Input,         // anything about the input as a whole
  UnknownNames,  // columns or keys that are no property names
};

// An input refused as a whole, before any record of it became a card.
struct InputRefused : std::runtime_error {
  explicit InputRefused(const std::string& message, RefusalKind k = RefusalKind::Input)
      : std::runtime_error(message), kind(k) {}
  RefusalKind kind;
};

// The texts that refusals share.
// "unknown property \"NameFamly\" (did you mean NameFamily?)"
std::string UnknownPropertyText(std::string_view name);
// "column NameFamily appears twice in the header of in.csv (columns 1 and 3)"
std::string TwiceInHeaderText(std::string_view column, std::string_view where, std::size_t first,
                              std::size_t second);

}  // namespace qvvcard

#endif
