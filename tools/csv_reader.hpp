// A streaming reader of comma-separated values (RFC 4180).
//
// Fields are separated by commas and records by line ends (CR LF, LF or a
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
#include <vector>

#include "input_stream.hpp"

namespace qvvcard {

class CsvRecord {
 public:
  std::span<const std::string> fields() const { return {fields_.data(), count_}; }
  // The input line on which the record starts, from 1.
  std::uint64_t line() const { return line_; }
  // Empty for a well-formed record; otherwise what is wrong with it.
  const std::string& error() const { return error_; }

 private:
  friend class CsvReader;
  std::vector<std::string> fields_;  // reused: the first count_ are this record's
  std::size_t count_ = 0;
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
  CsvReader(InputStream& in, Limits limits);

  // Reads the next record into rec; false when the input is exhausted.
  bool Next(CsvRecord& rec);

 private:
  void StartField(CsvRecord& rec);
  void Append(CsvRecord& rec, char c) {
    if (bytes_ < limits_.max_record_bytes) {
      rec.fields_[rec.count_ - 1].push_back(c);
      ++bytes_;
    } else {
      too_long_ = true;
    }
  }
  // Appends the bytes that follow in the input's buffer up to the first one
  // marked in stops (a table of 256), exactly as Append would one by one.
  void AppendRun(CsvRecord& rec, const bool* stops);
  void Flag(CsvRecord& rec, const std::string& what);
  bool EndRecord(CsvRecord& rec);

  InputStream& in_;
  Limits limits_;
  std::uint64_t line_ = 1;
  std::size_t bytes_ = 0;
  bool too_long_ = false;
  bool too_many_ = false;
  bool started_ = false;
};

}  // namespace qvvcard

#endif
