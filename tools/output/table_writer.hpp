// Records written as a table instead of cards: the tool's own CSV (a
// header of property names, only the columns that hold data, in the order
// of the property table; CR LF line ends) or JSON Lines (one object a
// record, flags as booleans, integers as numbers). Either reads back into
// the same cards.
#ifndef QVVCARD_OUTPUT_TABLE_WRITER_HPP
#define QVVCARD_OUTPUT_TABLE_WRITER_HPP

#include <bitset>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "common/fd.hpp"
#include "input/card_builder.hpp"
#include "qv_vcard/qvVCard.hpp"

namespace qvvcard {

enum class TableFormat : std::uint8_t { Csv, Jsonl };

class TableWriter {
 public:
  explicit TableWriter(TableFormat format);

  // Adds a record, its values as the card builder recorded them (texts are
  // written as a person types them). JSON Lines: its line is ready for Take
  // at once; CSV: kept aside (in a temporary file) until the columns are
  // known.
  void Add(std::span<const RecordedValue> record);
  // Moves what is ready into out (replacing its contents): with done, the
  // rest of the table in pieces, one each call; false when nothing is left.
  bool Take(std::string& out, bool done);

 private:
  TableFormat format_;
  std::string ready_;  // JSON Lines not yet taken
  // CSV: the records kept aside, and the columns that hold data.
  UniqueFd kept_;
  std::string pending_;  // of kept_, not yet written
  std::bitset<qv_VCard::kPropertyCount> used_;
  bool header_done_ = false;
  std::string read_;  // read back from kept_
  std::size_t read_at_ = 0;
  bool read_end_ = false;
};

}  // namespace qvvcard

#endif
