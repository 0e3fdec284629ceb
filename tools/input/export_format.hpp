// The address-book exports the tool knows, each a table of its columns (one
// row per column, in export_tables.cpp), and the recognition of headers.
#ifndef QVVCARD_INPUT_EXPORT_FORMAT_HPP
#define QVVCARD_INPUT_EXPORT_FORMAT_HPP

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "qv_vcard/qvVCard.hpp"

namespace qvvcard {

// What a column of a known export holds.
enum class Holds : std::uint8_t {
  Property,       // the value of one property, as it stands
  Date,           // a date as M/D/YYYY or YYYY-MM-DD, written YYYY-MM-DD
  LabelList,      // labels with " ::: " between them, the export's own left out
  SemicolonList,  // categories with ";" between them
  Phone,          // a part of a telephone group
  Email,          // a part of an e-mail group
  Address,        // a part of an address group
  Website,        // a part of a website group
  Organisation,   // a part of a numbered organisation group (the first one has a place)
  Qualifier,      // the label of a value that has no place: never reported on its own
  NoPlace,        // nothing on the card for it: reported when it holds data
};

// Which part of its group a column is.
enum class Part : std::uint8_t {
  None,
  Label,        // the group's label (Work, * Mobile, ...)
  Value,        // the number, address or URL
  DisplayName,  // an e-mail's display name (has no place; it repeats name and address)
  Formatted,    // an address as one text, used when its parts are all empty
  Street,
  Street2,
  Street3,
  City,
  PoBox,
  Region,
  PostalCode,
  Country,
  Extended,
};

// One column of an export.
struct ExportColumn {
  // As the export writes it (matched in any case); '#' stands for the
  // number of a group (1, 2, ...).
  std::string_view header;
  Holds holds;
  Part part = Part::None;
  // Holds::Property, Holds::Date and Holds::Organisation: the property.
  std::optional<qv_VCard::Property> property = std::nullopt;
  // A group whose label the column's name gives (Outlook's "Pager",
  // "Home Street"): that label.
  std::string_view label = {};
  // The group, where the name has no number: Outlook's e-mail 1 to 3, or
  // its business (1), home (2) and other (3) address.
  std::uint8_t group = 0;
  // Telephones: lower ranks take the slots first; equal ranks in header order.
  std::uint8_t rank = 0;
  // What the export writes for no value ("0/0/00", "Normal").
  std::string_view none = {};
};

struct ExportFormat {
  std::string_view key;    // the --columns word: google, google-old, outlook
  std::string_view shown;  // "a Google Contacts export (current header)"
  std::span<const ExportColumn> columns;
  // Whether a cell may hold several values with " ::: " between them.
  bool multi_values = false;
};

// The exports the tool knows, each with its table.
std::span<const ExportFormat> KnownExports();
// The export whose --columns word is key (any case); nullptr otherwise.
const ExportFormat* FindExport(std::string_view key);
// The row of format for a header name (blanks around it ignored, any
// case), with the group number the name gives (0 without one); nullptr
// when the format has no such column.
const ExportColumn* FindExportColumn(const ExportFormat& format, std::string_view name,
                                     std::uint32_t& group);

// The export a header row is, when it is one: most of its names are
// columns of the export, at least one of them only of that export, and no
// other export fits as well. nullptr otherwise.
const ExportFormat* RecogniseExport(std::span<const std::string_view> names);
// Whether every name of a header row (but empty ones, and at least one) is
// a property name.
bool PropertyHeader(std::span<const std::string_view> names);
// Whether qvvcard batch reads a header row without being told how: the
// card's property names or a known export.
bool RecognisedHeader(std::span<const std::string_view> names);

}  // namespace qvvcard

#endif
