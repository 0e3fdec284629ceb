// A streaming reader of JSON Lines: one JSON object per line (read as
// json_object.hpp describes), mapping property names to values.
//
// Each line is parsed on its own, so one malformed line spoils only its own
// record. Blank lines are skipped, a byte-order mark at the start and a CR
// before each line feed are dropped. Memory is bounded by the line length
// limit.
#ifndef QVVCARD_JSONL_READER_HPP
#define QVVCARD_JSONL_READER_HPP

#include <cstddef>
#include <cstdint>
#include <string>

#include "input/input_stream.hpp"
#include "input/json_object.hpp"

namespace qvvcard {

class JsonRecord : public JsonObject {
 public:
  std::uint64_t line() const { return line_; }
  // The line as read (without its line end), in the input's buffer or in
  // the reader's storage: valid until the next read, and after a parse only
  // for lines that are not large.
  std::string_view text() const { return text_; }

 private:
  friend class JsonlReader;
  std::uint64_t line_ = 0;
  std::string_view text_;
};

class JsonlReader {
 public:
  struct Limits {
    std::size_t max_line_bytes = std::size_t{16} << 20;
    std::size_t max_items = 4096;
  };
  explicit JsonlReader(InputStream& in) : JsonlReader(in, Limits{}) {}
  JsonlReader(InputStream& in, Limits limits);
  JsonlReader(const JsonlReader&) = delete;
  JsonlReader& operator=(const JsonlReader&) = delete;

  // Reads the next non-blank line into rec and parses it; false at the end
  // of the input. A large string value may be left in the reader's own
  // storage (FieldValue::in_place), valid until the next call.
  bool Next(JsonRecord& rec) { return ReadAsBefore(rec) || (Read(rec) && (Parse(rec), true)); }
  // Reads the next non-blank line into rec without parsing it (its text
  // only; an overlong line has its error); false at the end of the input.
  bool Read(JsonRecord& rec);
  // Parses the line Read gave.
  void Parse(JsonRecord& rec);

 private:
  // Reads and parses, in one pass, a line of the buffered bytes written as
  // the line before it, with other values; false, with nothing consumed,
  // for any other line.
  bool ReadAsBefore(JsonRecord& rec);

  InputStream& in_;
  Limits limits_;
  std::unique_ptr<JsonObjectParser> parser_;
  std::string line_;
  bool in_place_ = false;  // the last line was read in the input's buffer
  bool large_ = false;     // the last line was large: its storage is given back
  std::uint64_t line_number_ = 0;
  bool started_ = false;
};

}  // namespace qvvcard

#endif
