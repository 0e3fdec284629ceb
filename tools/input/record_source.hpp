// The records of one input (CSV with its header, or JSON Lines), turned
// into cards through a CardBuilder: what qvvcard batch and the server share.
#ifndef QVVCARD_INPUT_RECORD_SOURCE_HPP
#define QVVCARD_INPUT_RECORD_SOURCE_HPP

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "input/card_builder.hpp"
#include "input/input_stream.hpp"

namespace qvvcard {

// The largest record (a CSV record or a JSON line) read, in bytes.
inline constexpr std::size_t kDefaultMaxRecordBytes = std::size_t{16} << 20;

struct ConvertOptions {
  bool rfc_escape = true;  // escape text values for card readers
  std::size_t max_record_bytes = kDefaultMaxRecordBytes;
  // The CSV separator; 0: the one of ",", ";" and tab that splits the
  // header row into names the tool knows.
  char separator = 0;
  // The column (CSV) or key (JSON Lines) whose value makes the UID of the
  // card; "" for random UIDs. It need not name a property.
  std::string uid_from;
  // How CSV columns are read: "" by the header (property names or a known
  // export), an export's word (google, google-old, outlook; any case) or
  // the path of a column map.
  std::string columns;
  // Whether every key of JSON Lines is checked before the first record is
  // read (the stream is read to its end and rewound). Where nothing reaches
  // the destination before the run is done (a file replaced at the end, an
  // answer made whole), the input is read once instead, and a key that is
  // no property refuses it when it is met: Next throws InputRefused.
  bool check_keys_first = true;
  // The encoding the input was read in when it was told from its content
  // (an Outlook export that is not UTF-8), for the line that says how the
  // input is read; nullptr otherwise.
  const char* guessed_encoding = nullptr;
  // vCard input: the UID a card brings is kept (--keep-uid) instead of a
  // new one; values without a CHARSET are in this charset (an iconv name).
  bool keep_uid = false;
  std::string vcf_charset = "UTF-8";
};

// The records of one input.
class RecordSource {
 public:
  virtual ~RecordSource() = default;
  // Reads the next record into builder (Begin, its values, any problem);
  // false at the end of the input. Records whose fields are all empty are
  // skipped, like blank lines.
  virtual bool Next(CardBuilder& builder) = 0;
  // How the input is read when its header is not property names (a line
  // for standard error); "" otherwise.
  virtual std::string Notice() const { return {}; }
  // After the run: one line per column whose value had no place in some
  // records, with their number and why; empty when nothing was left out.
  virtual std::vector<std::string> Unplaced() const { return {}; }
};

// "csv", "jsonl", "vcf", or "" to go by the name: jsonl for *.jsonl and
// *.ndjson, vcf for *.vcf and *.vcard (in any case), csv otherwise.
std::string FormatFor(const std::string& format, const std::string& name);
// Whether an input starts with BEGIN:VCARD (in any case, after a byte-order
// mark and blank lines): a vCard file, whatever its name. Looks ahead
// without consuming anything.
bool LooksLikeVcard(InputStream& in);

// Opens an input of the given format; shown names it in messages. A CSV
// header, and with options.check_keys_first every key of JSON Lines, is
// checked here (JSON Lines are then read to the end and rewound, so the
// stream must be rewindable). Throws InputRefused, also for
// options.columns with JSON Lines.
std::unique_ptr<RecordSource> OpenRecords(InputStream& in, const std::string& format,
                                          const std::string& shown, const ConvertOptions& options);

// The sources behind OpenRecords.
std::unique_ptr<RecordSource> OpenCsv(InputStream& in, const std::string& shown,
                                      const ConvertOptions& options);
std::unique_ptr<RecordSource> OpenJsonl(InputStream& in, const std::string& shown,
                                        const ConvertOptions& options);
std::unique_ptr<RecordSource> OpenVcf(InputStream& in, const std::string& shown,
                                      const ConvertOptions& options);

// A name the input has but the card does not, and where it was first seen.
struct UnknownName {
  std::string name;
  std::string where;  // "column 3", "record 2 (line 4)"
};
// All unknown names in one refusal, each with the property it is nearest
// to when one is near enough; what is "column" or "key".
InputRefused UnknownNames(const std::vector<UnknownName>& unknown, const char* what,
                          const std::string& in);

}  // namespace qvvcard

#endif
