#include "input/jsonl_reader.hpp"

#include <nlohmann/json.hpp>

namespace qvvcard {

// Receives the parser's events for one line and fills a JsonRecord.
class JsonLineHandler {
 public:
  using json = nlohmann::json;
  using number_integer_t = json::number_integer_t;
  using number_unsigned_t = json::number_unsigned_t;
  using number_float_t = json::number_float_t;
  using string_t = json::string_t;
  using binary_t = json::binary_t;

  JsonLineHandler(JsonRecord& rec, std::size_t max_items) : rec_(rec), max_items_(max_items) {}

  bool null() { return Scalar(FieldValue::Type::Null); }
  bool boolean(bool b) {
    if (!Scalar(FieldValue::Type::Bool)) return false;
    if (Current()) Current()->boolean = b;
    return true;
  }
  bool number_integer(number_integer_t v) {
    if (!Scalar(FieldValue::Type::Integer)) return false;
    if (Current()) Current()->integer = v;
    return true;
  }
  bool number_unsigned(number_unsigned_t v) {
    if (!Scalar(FieldValue::Type::Integer)) return false;
    if (FieldValue* f = Current()) {
      if (v > static_cast<number_unsigned_t>(INT64_MAX)) {
        f->integer_too_large = true;
      } else {
        f->integer = static_cast<std::int64_t>(v);
      }
    }
    return true;
  }
  bool number_float(number_float_t, const string_t& token) {
    // An integer too long for 64 bits arrives here too.
    const bool digits = !token.empty() && token.find_first_not_of("-0123456789") == string_t::npos;
    if (!Scalar(digits ? FieldValue::Type::Integer : FieldValue::Type::Other)) return false;
    if (FieldValue* f = Current()) {
      if (digits) {
        f->integer_too_large = true;
      } else {
        f->text = token;
      }
    }
    return true;
  }
  bool string(string_t& s) {
    if (!Scalar(FieldValue::Type::Text)) return false;
    if (Current()) Current()->text.swap(s);
    return true;
  }
  bool binary(binary_t&) { return Scalar(FieldValue::Type::Other); }

  bool start_object(std::size_t) { return Open(true); }
  bool end_object() { return Close(); }
  bool start_array(std::size_t) { return Open(false); }
  bool end_array() { return Close(); }

  bool key(string_t& k) {
    if (depth_ != 1) return true;
    if (rec_.count_ == max_items_) {
      rec_.error_ = "more than " + std::to_string(max_items_) + " members";
      return false;
    }
    if (rec_.count_ == rec_.items_.size()) rec_.items_.emplace_back();
    JsonItem& item = rec_.items_[rec_.count_++];
    item.key.swap(k);
    item.value = FieldValue{};
    return true;
  }

  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& ex) {
    // "[json.exception.parse_error.101] parse error at line 1, column 7: ..."
    std::string what = ex.what();
    const std::size_t bracket = what.find("] ");
    if (bracket != std::string::npos) what.erase(0, bracket + 2);
    const std::string line1 = "at line 1, ";
    const std::size_t at = what.find(line1);
    if (at != std::string::npos) what.replace(at, line1.size(), "at ");
    rec_.error_ = "not valid JSON: " + what;
    return false;
  }

 private:
  FieldValue* Current() {
    if (depth_ != 1 || rec_.count_ == 0) return nullptr;
    return &rec_.items_[rec_.count_ - 1].value;
  }
  bool Scalar(FieldValue::Type type) {
    if (depth_ == 0) {
      rec_.error_ = "a line must hold one JSON object";
      return false;
    }
    if (FieldValue* f = Current()) f->type = type;
    return true;
  }
  bool Open(bool object) {
    if (depth_ == 0 && !object) {
      rec_.error_ = "a line must hold one JSON object";
      return false;
    }
    if (FieldValue* f = Current()) {
      f->type = FieldValue::Type::Other;
      f->text = object ? "an object" : "an array";
    }
    ++depth_;
    return true;
  }
  bool Close() {
    --depth_;
    return true;
  }

  JsonRecord& rec_;
  std::size_t max_items_;
  int depth_ = 0;
};

bool JsonlReader::Next(JsonRecord& rec) {
  if (!started_) {
    started_ = true;
    in_.SkipByteOrderMark();
  }
  bool truncated = false;
  for (;;) {
    if (!in_.ReadLine(line_, limits_.max_line_bytes, &truncated)) return false;
    ++line_number_;
    if (!line_.empty() && line_.back() == '\r') line_.pop_back();
    if (truncated || line_.find_first_not_of(" \t\r") != std::string::npos) break;
  }
  rec.count_ = 0;
  rec.error_.clear();
  rec.line_ = line_number_;
  if (truncated) {
    rec.error_ = "line longer than " + std::to_string(limits_.max_line_bytes) + " bytes";
    return true;
  }
  JsonLineHandler handler(rec, limits_.max_items);
  nlohmann::json::sax_parse(line_, &handler);
  return true;
}

}  // namespace qvvcard
