// Records of an input turned into cards: what qvvcard batch and the server
// share. A RecordSource reads one input (CSV with its header, or JSON
// Lines), a CardBuilder assigns each record's values to a clean card and
// makes its card, and problems are reported per record, never guessed at.
#ifndef QVVCARD_INPUT_RECORDS_HPP
#define QVVCARD_INPUT_RECORDS_HPP

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "input/input_stream.hpp"
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
  explicit CardBuilder(const ConvertOptions& options) : options_(options) {}

  // Starts record n (from 1).
  void Begin(std::uint64_t n);
  // A value as text (a CSV cell, a query parameter) or as JSON brings it.
  void Set(const qv_VCard::PropertyInfo& info, std::string_view raw);
  void Set(const qv_VCard::PropertyInfo& info, const FieldValue& value);
  // A problem of the record as a whole or of one of its fields.
  void Fail(std::string field, std::string reason, qv_VCard::Status status = qv_VCard::kOk);
  bool bad() const { return !problems_.empty(); }

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

 private:
  bool Once(const qv_VCard::PropertyInfo& info);

  const ConvertOptions& options_;
  qv_VCard::qvVCard card_;
  std::bitset<qv_VCard::kPropertyCount> assigned_;
  std::vector<RecordProblem> problems_;
  std::u16string scratch_, text16_;
  std::string refusal_;
  std::uint64_t record_ = 0;
  std::size_t text_bytes_ = 0;  // of the values given to this record
};

// The records of one input.
class RecordSource {
 public:
  virtual ~RecordSource() = default;
  // Reads the next record into builder (Begin, its values, any problem);
  // false at the end of the input. Records whose fields are all empty are
  // skipped, like blank lines.
  virtual bool Next(CardBuilder& builder) = 0;
};

// "csv", "jsonl", or "" to go by the name: jsonl for *.jsonl and *.ndjson
// (in any case), csv otherwise.
std::string FormatFor(const std::string& format, const std::string& name);

// Opens an input of the given format; shown names it in messages. A CSV
// header, and every key of JSON Lines, is checked here (JSON Lines are read
// to the end and rewound, so the stream must be rewindable). Throws
// InputRefused.
std::unique_ptr<RecordSource> OpenRecords(InputStream& in, const std::string& format,
                                          const std::string& shown, const ConvertOptions& options);

}  // namespace qvvcard

#endif
