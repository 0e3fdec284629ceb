// A streaming reader of comma-separated values (RFC 4180), or of values
// separated by another character (semicolons, tabs).
//
// Fields are separated by commas (or the separator given) and records by line ends (CR LF, LF or a
// lone CR). A field in double quotes may hold commas, line ends and doubled
// quotes (""). Blank lines are skipped, a byte-order mark at the start is
// dropped. Malformed records are reported, never guessed at: a quote inside
// an unquoted field, text after a closing quote or a quote never closed marks
// the record with an error, and reading goes on with the next record.
// Memory is bounded by the record size limit whatever the input.
#ifndef QVVCARD_CSV_READER_HPP
#define QVVCARD_CSV_READER_HPP

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "input/input_stream.hpp"

namespace qvvcard {

class CsvRecord {
 public:
  CsvRecord() = default;
  // The views point into the record itself or into the input's buffer.
  CsvRecord(const CsvRecord&) = delete;
  CsvRecord& operator=(const CsvRecord&) = delete;

  // The fields: views of the input's buffer where the record lies whole in
  // it and has no quotes, of the record's own storage otherwise. Valid
  // until the reader reads the next record (into this record or another).
  std::span<const std::string_view> views() const { return {views_.data(), count_}; }
  // The input line on which the record starts, from 1.
  std::uint64_t line() const { return line_; }
  // Empty for a well-formed record; otherwise what is wrong with it.
  const std::string& error() const { return error_; }
  // Gives back the storage of a record of more than bytes (its fields are
  // gone then), rather than keeping it for the records after it.
  void ReleaseIfLarge(std::size_t bytes);

 private:
  friend class CsvReader;
  // All buffers are reused from record to record. A record read from its
  // own storage has its fields' bytes one after the other in the first
  // size_ bytes of text_ (whose size is only its room); field i starts at
  // starts_[i].
  std::string text_;
  std::size_t size_ = 0;
  std::vector<std::size_t> starts_;
  std::size_t count_ = 0;  // the fields read so far (all of them once complete)
  // Of a complete record, the first count_ are its fields (the size is only
  // room).
  std::vector<std::string_view> views_;
  std::uint64_t line_ = 0;
  std::string error_;
};

class CsvReader {
 public:
  struct Limits {
    std::size_t max_record_bytes = std::size_t{16} << 20;
    std::size_t max_fields = 4096;
  };
  explicit CsvReader(InputStream& in) : CsvReader(in, Limits{}) {}
  // separator is any byte but a quote, CR or LF.
  CsvReader(InputStream& in, Limits limits, char separator = ',');

  // Reads the next record into rec; false when the input is exhausted.
  bool Next(CsvRecord& rec);

 private:
  enum class State : std::uint8_t { FieldStart, Unquoted, Quoted, QuoteInQuoted };

  void StartField(CsvRecord& rec);
  // Adds n bytes to the field being read, as far as the size limit allows;
  // readable (at least n) is how many bytes may be read from bytes. With
  // kChecked false the caller has made sure that the limit and the room of
  // the record hold them.
  template <bool kChecked>
  void Append(CsvRecord& rec, const char* bytes, std::size_t n, std::size_t readable);
  void Grow(CsvRecord& rec, std::size_t n);
  // Reads unquoted fields from p on, up to a line end (returned in
  // line_end), the opening quote of a field or the end of the buffer at end;
  // returns where it stopped.
  template <bool kChecked>
  const char* ReadUnquoted(CsvRecord& rec, const char* p, const char* end, State& state,
                           char& line_end);
  // Reads a record that lies whole in the buffered bytes, has no quotes and
  // is within the limits as views of the buffer; false, with nothing
  // consumed, for any other.
  bool ReadInPlace(CsvRecord& rec);
  void Flag(CsvRecord& rec, const std::string& what);
  bool EndRecord(CsvRecord& rec);

  InputStream& in_;
  Limits limits_;
  char separator_;
  bool unquoted_stops_[256] = {};
  std::uint64_t line_ = 1;
  // Records still to be read without trying them in place, after one whose
  // quotes kept it from that.
  unsigned quoted_ = 0;
  std::size_t bytes_ = 0;
  bool too_long_ = false;
  bool too_many_ = false;
  bool started_ = false;
};

}  // namespace qvvcard

#endif
