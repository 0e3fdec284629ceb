#include "input/jsonl_reader.hpp"

#include <simdjson.h>
#include <utf8.h>

#include <charconv>

namespace qvvcard {

namespace ondemand = simdjson::ondemand;

namespace {

// A string value this large stays in the parser's storage instead of being
// copied (see FieldValue::in_place); a line this large gives its storage
// back once read.
constexpr std::size_t kLarge = std::size_t{64} << 10;

std::string_view Trimmed(std::string_view s) {
  while (!s.empty() &&
         (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n')) {
    s.remove_suffix(1);
  }
  return s;
}

bool IsIntegerToken(std::string_view t) {
  if (!t.empty() && t.front() == '-') t.remove_prefix(1);
  return !t.empty() && t.find_first_not_of("0123456789") == std::string_view::npos;
}

// Thrown inside a line's parse: what is wrong, and where.
struct LineError {
  std::string what;
  const char* at = nullptr;  // in the line, when known
  simdjson::error_code code = simdjson::SUCCESS;
};

template <typename T>
T Check(simdjson::simdjson_result<T>&& r, const char* at = nullptr) {
  T value{};
  if (const auto error = std::move(r).get(value)) {
    throw LineError{simdjson::error_message(error), at, error};
  }
  return value;
}

// Reads a nested value to its end, so that it is checked as a whole line's
// values are: a line is valid JSON throughout, not only where it is used.
template <typename Value>
void Walk(Value value, int depth) {
  if (depth > 512) throw LineError{"nested too deeply"};
  auto type = Check(value.type());
  using Type = decltype(type);
  switch (type) {
    case Type::array:
      for (auto element : Check(value.get_array())) Walk(Check(std::move(element)), depth + 1);
      return;
    case Type::object:
      for (auto member : Check(value.get_object())) {
        auto field = Check(std::move(member));
        Check(field.unescaped_key());
        Walk(field.value(), depth + 1);
      }
      return;
    case Type::string:
      Check(value.get_string());
      return;
    case Type::number:
      Check(value.get_double());
      return;
    case Type::boolean:
      Check(value.get_bool());
      return;
    case Type::null:
      if (!Check(value.is_null())) throw LineError{"not a JSON value"};
      return;
  }
}

}  // namespace

struct JsonlReader::Parser {
  ondemand::parser parser;
};

JsonlReader::JsonlReader(InputStream& in, Limits limits)
    : in_(in), limits_(limits), parser_(std::make_unique<Parser>()) {}

JsonlReader::~JsonlReader() = default;

bool JsonlReader::Next(JsonRecord& rec) {
  if (!started_) {
    started_ = true;
    in_.SkipByteOrderMark();
  }
  if (large_) {
    // The last record was large: the parser and the line give their storage
    // back rather than keep it for the lines after it.
    parser_ = std::make_unique<Parser>();
    std::string().swap(line_);
    large_ = false;
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
  Parse(rec);
  if (line_.size() > kLarge) {
    large_ = true;
    std::string().swap(line_);  // the values are in the record and the parser now
  }
  return true;
}

void JsonlReader::Parse(JsonRecord& rec) {
  line_.reserve(line_.size() + simdjson::SIMDJSON_PADDING);
  const simdjson::padded_string_view json(line_.data(), line_.size(), line_.capacity());
  const char* const begin = line_.data();
  try {
    ondemand::document doc = Check(parser_->parser.iterate(json));
    ondemand::json_type type = Check(doc.type());
    if (type != ondemand::json_type::object) throw LineError{"a line must hold one JSON object"};
    ondemand::object object = Check(doc.get_object());
    for (auto member : object) {
      ondemand::field field = Check(std::move(member));
      if (rec.count_ == limits_.max_items) {
        rec.error_ = "more than " + std::to_string(limits_.max_items) + " members";
        return;
      }
      if (rec.count_ == rec.items_.size()) rec.items_.emplace_back();
      JsonItem& item = rec.items_[rec.count_++];
      item.key.assign(Check(field.unescaped_key()));
      item.value = FieldValue{};
      FieldValue& v = item.value;
      ondemand::value value = field.value();
      switch (Check(value.type())) {
        case ondemand::json_type::string: {
          const std::string_view s = Check(value.get_string());
          if (s.size() > kLarge) {
            v.in_place = s;  // in the parser's storage until the next line
          } else {
            v.text.assign(s);
          }
          break;
        }
        case ondemand::json_type::boolean:
          v.type = FieldValue::Type::Bool;
          v.boolean = Check(value.get_bool());
          break;
        case ondemand::json_type::null:
          if (!Check(value.is_null())) throw LineError{"not a JSON value"};
          v.type = FieldValue::Type::Null;
          break;
        case ondemand::json_type::number: {
          const std::string_view token = Trimmed(value.raw_json_token());
          const char* const at = token.data();
          Check(value.get_double(), at);  // a number of valid form
          v.number = true;
          v.text.assign(token);
          if (!IsIntegerToken(token)) {
            v.type = FieldValue::Type::Other;  // a fraction or an exponent
            break;
          }
          v.type = FieldValue::Type::Integer;
          const auto [end, ec] =
              std::from_chars(token.data(), token.data() + token.size(), v.integer);
          v.integer_too_large = ec != std::errc() || end != token.data() + token.size();
          break;
        }
        case ondemand::json_type::object:
          v.type = FieldValue::Type::Other;
          v.text = "an object";
          Walk(value, 1);
          break;
        case ondemand::json_type::array:
          v.type = FieldValue::Type::Other;
          v.text = "an array";
          Walk(value, 1);
          break;
      }
    }
    // Nothing may follow the object.
    const char* at = nullptr;
    if (doc.current_location().get(at) != simdjson::OUT_OF_BOUNDS) {
      throw LineError{"text after the object", at};
    }
  } catch (const LineError& e) {
    rec.count_ = 0;
    if (e.what == "a line must hold one JSON object") {
      rec.error_ = e.what;
      return;
    }
    // Where it went wrong: the parser's position, or for text that is not
    // UTF-8 the first bad byte.
    std::size_t column = 0;
    if (e.at != nullptr && e.at >= begin && e.at <= begin + line_.size()) {
      column = static_cast<std::size_t>(e.at - begin) + 1;
    } else if (const auto bad = utf8::find_invalid(line_.begin(), line_.end());
               bad != line_.end()) {
      column = static_cast<std::size_t>(bad - line_.begin()) + 1;
    } else if (e.code == simdjson::INCOMPLETE_ARRAY_OR_OBJECT ||
               e.code == simdjson::UNCLOSED_STRING) {
      column = line_.size() + 1;  // the line ended before the value did
    }
    rec.error_ = "not valid JSON: " +
                 (column > 0 ? "parse error at column " + std::to_string(column) + ": " : "") +
                 e.what;
  }
}

}  // namespace qvvcard
