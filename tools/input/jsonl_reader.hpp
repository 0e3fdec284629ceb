// A streaming reader of JSON Lines: one JSON object per line, mapping
// property names to strings, booleans, integers or null.
//
// Each line is parsed on its own, so one malformed line spoils only its own
// record. Blank lines are skipped, a byte-order mark at the start and a CR
// before each line feed are dropped. Nested objects, arrays and numbers with
// a fraction are passed on as values of type Other, for the caller to refuse
// with the property's name; a number keeps its text as written. Memory is
// bounded by the line length limit. Lines are parsed with simdjson.
#ifndef QVVCARD_JSONL_READER_HPP
#define QVVCARD_JSONL_READER_HPP

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "input/input_stream.hpp"
#include "input/values.hpp"

namespace qvvcard {

struct JsonItem {
  std::string key;
  FieldValue value;
};

class JsonRecord {
 public:
  // The members in the order of the line, duplicates included.
  std::span<const JsonItem> items() const { return {items_.data(), count_}; }
  std::uint64_t line() const { return line_; }
  const std::string& error() const { return error_; }
  // Gives back the storage of values larger than bytes.
  void ReleaseIfLarge(std::size_t bytes) {
    for (JsonItem& item : items_) {
      if (item.value.text.capacity() > bytes) std::string().swap(item.value.text);
    }
  }

 private:
  friend class JsonlReader;
  std::vector<JsonItem> items_;  // reused: the first count_ are this record's
  std::size_t count_ = 0;
  std::uint64_t line_ = 0;
  std::string error_;
};

class JsonlReader {
 public:
  struct Limits {
    std::size_t max_line_bytes = std::size_t{16} << 20;
    std::size_t max_items = 4096;
  };
  explicit JsonlReader(InputStream& in) : JsonlReader(in, Limits{}) {}
  JsonlReader(InputStream& in, Limits limits);
  ~JsonlReader();
  JsonlReader(const JsonlReader&) = delete;
  JsonlReader& operator=(const JsonlReader&) = delete;

  // Reads the next non-blank line into rec; false at the end of the input.
  // A large string value may be left in the reader's own storage
  // (FieldValue::in_place), valid until the next call.
  bool Next(JsonRecord& rec);

 private:
  struct Parser;
  void Parse(JsonRecord& rec);

  InputStream& in_;
  Limits limits_;
  std::unique_ptr<Parser> parser_;
  std::string line_;
  bool large_ = false;  // the last line was large: its storage is given back
  std::uint64_t line_number_ = 0;
  bool started_ = false;
};

}  // namespace qvvcard

#endif
