// The values of address-book export cells: several values in one cell,
// labels and their marks, the telephone types a label gives, dates.
#ifndef QVVCARD_INPUT_EXPORT_VALUES_HPP
#define QVVCARD_INPUT_EXPORT_VALUES_HPP

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "card/slot_table.hpp"
#include "common/text.hpp"

namespace qvvcard {

// Between the values of a cell; blanks around each value are removed, so
// that an empty value between two ("a :::  ::: b", "a ::: ::: b") keeps its
// place.
inline constexpr std::string_view kMultiSeparator = ":::";

// The pieces of a cell: the whole cell, or with multi, each value between
// ":::" (blanks around them removed, empty ones left out).
template <typename F>
void ForEachPiece(std::string_view cell, bool multi, F&& f) {
  while (true) {
    const std::size_t at = multi ? cell.find(kMultiSeparator) : std::string_view::npos;
    const std::string_view piece = TrimBlanks(cell.substr(0, at));
    if (!piece.empty()) f(piece);
    if (at == std::string_view::npos) return;
    cell.remove_prefix(at + kMultiSeparator.size());
  }
}
// Piece k of a cell split as above, keeping empty pieces in their place
// ("" when there are fewer).
std::string_view PieceAt(std::string_view cell, bool multi, std::size_t k);
std::size_t PieceCount(std::string_view cell, bool multi);

// A label without the mark "* " of the primary entry; primary says
// whether it had it.
std::string_view Unmarked(std::string_view label, bool& primary);

// Telephone types, as bits of the flags of a slot.
constexpr std::uint16_t Bit(qv_VCard::slots::TelType t) {
  return static_cast<std::uint16_t>(1u << static_cast<int>(t));
}
// The types a telephone label (any case) gives; 0 for a label that gives
// none.
std::uint16_t PhoneFlags(std::string_view label);

// A label an export gives every contact of a kind ("myContacts"): no
// category.
bool IsSystemLabel(std::string_view label);

// Whether the day is one of the Gregorian calendar (2/29 only in leap years).
bool IsCalendarDate(unsigned year, unsigned month, unsigned day) noexcept;
// A date as exports write it, M/D/YYYY (Outlook) or YYYY-MM-DD (newer
// exports), as YYYY-MM-DD; false for anything else, an impossible day too.
bool DateToIso(std::string_view s, std::string& out);

// Appends item, with escape each backslash, ";" and "," escaped as in a
// list item.
void AppendEscaped(std::string& out, std::string_view item, bool escape);

}  // namespace qvvcard

#endif
