// One JSON object of property names and values, as a line of JSON Lines or
// a request body brings it, read with simdjson. Values are read the same way
// for both: strings are Text, booleans Bool, integers Integer, null Null;
// nested objects, arrays and numbers with a fraction are passed on as values
// of type Other ("an array"), for the caller to refuse with the property's
// name; every number also keeps its text as written. The whole text must
// be valid JSON and one object, with nothing after it.
#ifndef QVVCARD_INPUT_JSON_OBJECT_HPP
#define QVVCARD_INPUT_JSON_OBJECT_HPP

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "input/values.hpp"

namespace qvvcard {

struct JsonItem {
  std::string key;
  FieldValue value;
};

// The members of one object in the order written, duplicates included, or
// what is wrong with its text.
class JsonObject {
 public:
  std::span<const JsonItem> items() const { return {items_.data(), count_}; }
  // Empty for a well-formed object; otherwise what is wrong with it.
  const std::string& error() const { return error_; }
  // Gives back the storage of values larger than bytes.
  void ReleaseIfLarge(std::size_t bytes);
  // Copies the values left in the parser's storage into the object itself,
  // so that they outlive the next parse.
  void Own();
  // A number that changes whenever a parse may change the keys of the
  // items: with the same number, the object has the keys it had before.
  std::uint64_t keys() const { return keys_; }

 protected:
  friend class JsonObjectParser;
  std::vector<JsonItem> items_;  // reused: the first count_ are this object's
  std::size_t count_ = 0;
  std::uint64_t keys_ = 0;
  std::string error_;
  // Whether a value may hold text of its own (ReleaseIfLarge has work).
  bool owned_ = false;
};

class JsonObjectParser {
 public:
  // whole names the text in the message for anything but an object ("a
  // line", "the body").
  explicit JsonObjectParser(const char* whole = "a line", std::size_t max_items = 4096);
  ~JsonObjectParser();
  JsonObjectParser(const JsonObjectParser&) = delete;
  JsonObjectParser& operator=(const JsonObjectParser&) = delete;

  // Reads text into out; text gets the padding the parser needs as spare
  // room (its contents stay). String values are left in the parser's own
  // storage or in text (FieldValue::in_place), valid until the next parse
  // and as long as text is unchanged.
  void Parse(std::string& text, JsonObject& out);
  // Parse without trying ParsePlain first: for a text ParsePlain refused.
  void ParseFull(std::string& text, JsonObject& out);
  // Reads text into out when it is an object of the plain form nearly every
  // line has (keys without escapes; strings, true, false, null, integers;
  // nothing nested), its strings left in text where they have no escapes;
  // false for any other text, which only Parse reads (out is then
  // unspecified).
  bool ParsePlain(std::string_view text, JsonObject& out);
  // Reads the object at the start of bytes, which go on after it, into out
  // when it is written as the last object out was read from in full, with
  // other values (of the plain form) alone: the length of its text; 0, with
  // out unspecified, for any other. The object may be followed by anything;
  // its strings cannot hold a line feed.
  std::size_t ParseStartAsBefore(std::string_view bytes, JsonObject& out);

 private:
  struct Engine;
  std::unique_ptr<Engine> engine_;
  const char* whole_;
  std::size_t max_items_;
};

// The names of an object's members, found without a parser when the text
// is an object of plain form (no escapes in its names): true with the names
// (views of text) in keys, and whether every value is null or "" (or there
// is none) in *empty_values; false when the text needs a real parse to
// tell. The text is not checked as JSON beyond what finding them takes.
bool ScanTopLevelKeys(std::string_view text, std::vector<std::string_view>& keys,
                      bool* empty_values);

}  // namespace qvvcard

#endif
