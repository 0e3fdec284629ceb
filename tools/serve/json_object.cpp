#include "serve/json_object.hpp"

#include <cstdint>
#include <nlohmann/json.hpp>

namespace qvvcard {

namespace {

// Receives the parser's events and keeps the top-level members.
class ObjectHandler {
 public:
  using json = nlohmann::json;
  using number_integer_t = json::number_integer_t;
  using number_unsigned_t = json::number_unsigned_t;
  using number_float_t = json::number_float_t;
  using string_t = json::string_t;
  using binary_t = json::binary_t;

  ObjectHandler(std::vector<JsonMember>& members, std::string& error)
      : members_(members), error_(error) {}

  bool null() { return Scalar(FieldValue::Type::Null); }
  bool boolean(bool b) {
    if (!Scalar(FieldValue::Type::Bool)) return false;
    if (FieldValue* f = Current()) f->boolean = b;
    return true;
  }
  bool number_integer(number_integer_t v) {
    if (!Scalar(FieldValue::Type::Integer)) return false;
    if (FieldValue* f = Current()) {
      f->number = true;
      f->integer = v;
      f->text = std::to_string(v);
    }
    return true;
  }
  bool number_unsigned(number_unsigned_t v) {
    if (!Scalar(FieldValue::Type::Integer)) return false;
    if (FieldValue* f = Current()) {
      f->number = true;
      if (v > static_cast<number_unsigned_t>(INT64_MAX)) {
        f->integer_too_large = true;
      } else {
        f->integer = static_cast<std::int64_t>(v);
      }
      f->text = std::to_string(v);
    }
    return true;
  }
  bool number_float(number_float_t, const string_t& token) {
    // An integer too long for 64 bits arrives here too.
    const bool digits = !token.empty() && token.find_first_not_of("-0123456789") == string_t::npos;
    if (!Scalar(digits ? FieldValue::Type::Integer : FieldValue::Type::Other)) return false;
    if (FieldValue* f = Current()) {
      f->number = true;
      f->integer_too_large = digits;
      f->text = token;
    }
    return true;
  }
  bool string(string_t& s) {
    if (!Scalar(FieldValue::Type::Text)) return false;
    if (FieldValue* f = Current()) f->text.swap(s);
    return true;
  }
  bool binary(binary_t&) { return Scalar(FieldValue::Type::Other); }

  bool start_object(std::size_t) { return Open(true); }
  bool end_object() { return Close(); }
  bool start_array(std::size_t) { return Open(false); }
  bool end_array() { return Close(); }

  bool key(string_t& k) {
    if (depth_ != 1) return true;
    members_.push_back({std::move(k), FieldValue{}});
    return true;
  }

  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& ex) {
    // "[json.exception.parse_error.101] parse error at line 1, column 7: ..."
    std::string what = ex.what();
    const std::size_t bracket = what.find("] ");
    if (bracket != std::string::npos) what.erase(0, bracket + 2);
    if (error_.empty()) error_ = "not valid JSON: " + what;
    return false;
  }

 private:
  FieldValue* Current() {
    if (depth_ != 1 || members_.empty()) return nullptr;
    return &members_.back().value;
  }
  bool Refuse() {
    error_ = "the body must be one JSON object";
    return false;
  }
  bool Scalar(FieldValue::Type type) {
    if (depth_ == 0) return Refuse();
    if (FieldValue* f = Current()) f->type = type;
    return true;
  }
  bool Open(bool object) {
    if (depth_ == 0 && (!object || started_)) return Refuse();
    started_ = true;
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

  std::vector<JsonMember>& members_;
  std::string& error_;
  int depth_ = 0;
  bool started_ = false;
};

}  // namespace

bool ReadJsonObject(std::string_view body, std::vector<JsonMember>& members, std::string& error) {
  members.clear();
  error.clear();
  if (body.find_first_not_of(" \t\r\n") == std::string_view::npos) {
    error = "the body is empty: it must be one JSON object";
    return false;
  }
  ObjectHandler handler(members, error);
  // Strict: nothing but blanks may follow the object.
  const bool ok = nlohmann::json::sax_parse(body, &handler, nlohmann::json::input_format_t::json,
                                            /*strict=*/true);
  if (!ok && error.empty()) error = "the body must be one JSON object";
  if (!ok) members.clear();
  return ok;
}

}  // namespace qvvcard
