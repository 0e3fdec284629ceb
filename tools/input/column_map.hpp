// Column maps: which property each column of a CSV header fills.
//
//   # comment
//   Mobile = Tel1_Number, Tel1_Cell=true
//   Photo =
//
// One line per column: its name (matched in any case, blanks around it
// ignored), "=", the property it fills and any further assignments
// "Property=VALUE", which are made when the column is not empty. Nothing
// after "=" leaves the column out on purpose. Lines whose first character
// other than a blank is "#" are comments; blank lines are ignored.
#ifndef QVVCARD_INPUT_COLUMN_MAP_HPP
#define QVVCARD_INPUT_COLUMN_MAP_HPP

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "qv_vcard/qvVCard.hpp"

namespace qvvcard {

struct ColumnMapLine {
  std::string column;
  std::size_t line = 0;                            // in the map, from 1
  const qv_VCard::PropertyInfo* target = nullptr;  // nullptr: left out on purpose
  struct Extra {
    const qv_VCard::PropertyInfo* property;
    std::string value;
  };
  std::vector<Extra> extras;
};

struct ColumnMap {
  std::string shown;  // the map's name in messages
  std::vector<ColumnMapLine> lines;
};

// The largest column map read, in bytes.
inline constexpr std::size_t kMaxColumnMapBytes = std::size_t{1} << 20;

// The map in text (UTF-8, with or without a byte-order mark). Throws
// InputRefused naming the line of the first error: no "=", no column
// name, an unknown property, a value its property does not take, a column
// given twice, a property filled by two lines (further assignments of the
// same value on several lines are allowed), a telephone or address slot
// filled without any of its types (the card would leave it out).
ColumnMap ParseColumnMap(std::string_view text, const std::string& shown);
// The same, read from a file; a file that cannot be read, or is larger than
// kMaxColumnMapBytes, is refused too. A stop request while it is awaited (a
// FIFO without a writer) throws Stopped.
ColumnMap ReadColumnMap(const std::string& path);

}  // namespace qvvcard

#endif
