// Records of an input turned into cards: what qvvcard batch and the server
// share. A RecordSource reads one input (CSV with its header, or JSON
// Lines), a CardBuilder assigns each record's values to a clean card and
// makes its card, and problems are reported per record, never guessed at.
#ifndef QVVCARD_INPUT_RECORDS_HPP
#define QVVCARD_INPUT_RECORDS_HPP

#include <array>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "input/input_stream.hpp"
#include "input/name_uid.hpp"
#include "input/values.hpp"
#include "qv_vcard/qvVCard.hpp"

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
};

// What is wrong with one record.
struct RecordProblem {
  std::uint64_t record = 0;  // from 1
  std::string field;         // the property, "line L", "column C", "vCard"
  std::string reason;
  qv_VCard::Status status = qv_VCard::kOk;  // the status of a card read that failed
};

// An input refused as a whole, before any record became a card: an unknown
// or repeated column, an unknown key, no header. message says why; names
// is true when the list of valid names helps.
struct InputRefused : std::runtime_error {
  InputRefused(const std::string& message, bool names)
      : std::runtime_error(message), list_names(names) {}
  bool list_names;
};

// A clean card per record, its values assigned as the tool reads them.
class CardBuilder {
 public:
  explicit CardBuilder(const ConvertOptions& options)
      : options_(options), card_(qv_VCard::SystemClock(), guids_) {}
  CardBuilder(const CardBuilder&) = delete;
  CardBuilder& operator=(const CardBuilder&) = delete;

  // Starts record n (from 1).
  void Begin(std::uint64_t n);
  // A value as text (a CSV cell, a query parameter) or as JSON brings it.
  void Set(const qv_VCard::PropertyInfo& info, std::string_view raw);
  void Set(const qv_VCard::PropertyInfo& info, const FieldValue& value);
  // A value an export's column or a column map gives: a refusal names the
  // column and the property; escape false takes the text as escaped already.
  void Set(const qv_VCard::PropertyInfo& info, std::string_view raw, std::string_view column,
           bool escape);
  // A problem of the record as a whole or of one of its fields.
  void Fail(std::string field, std::string reason, qv_VCard::Status status = qv_VCard::kOk);
  bool bad() const { return !problems_.empty(); }
  // The value of the uid_from column of the record (blanks around it do
  // not count).
  void UidKey(std::string_view value);

  // Ends the record: true with its card (UTF-8, every line ending in CR LF)
  // when it has no problem; false otherwise (the card read's own failure
  // is one more problem).
  bool Finish(std::string& card);
  // After a large record: gives back the storage it needed (card is the
  // text Finish wrote into).
  void ReleaseLarge(std::string& card);

  std::uint64_t record() const { return record_; }
  const std::vector<RecordProblem>& problems() const { return problems_; }
  const qv_VCard::qvVCard& card() const { return card_; }
  // Cards made with a random UID because their uid_from value was empty.
  std::uint64_t random_uids() const { return random_uids_; }
  // One line per address or telephone slot that some cards left out
  // because its values came without a type flag (the card writes such a
  // line only when a type is set), with the number of those cards.
  std::vector<std::string> Untyped() const;

 private:
  bool Once(const qv_VCard::PropertyInfo& info);

  const ConvertOptions& options_;
  NameBasedGuids guids_;  // before card_, which refers to it
  qv_VCard::qvVCard card_;
  std::bitset<qv_VCard::kPropertyCount> assigned_;
  std::vector<RecordProblem> problems_;
  std::u16string scratch_, text16_;
  std::string refusal_;
  std::uint64_t record_ = 0;
  std::size_t text_bytes_ = 0;  // of the values given to this record
  std::uint64_t random_uids_ = 0;
  std::array<std::uint64_t, 7> untyped_{};  // Adr1..Adr3, Tel1..Tel4
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

// "csv", "jsonl", or "" to go by the name: jsonl for *.jsonl and *.ndjson
// (in any case), csv otherwise.
std::string FormatFor(const std::string& format, const std::string& name);

// Opens an input of the given format; shown names it in messages. A CSV
// header, and every key of JSON Lines, is checked here (JSON Lines are read
// to the end and rewound, so the stream must be rewindable). Throws
// InputRefused, also for options.columns with JSON Lines.
std::unique_ptr<RecordSource> OpenRecords(InputStream& in, const std::string& format,
                                          const std::string& shown, const ConvertOptions& options);

}  // namespace qvvcard

#endif
