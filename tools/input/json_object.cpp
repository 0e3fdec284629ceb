#include "input/json_object.hpp"

#include <simdjson.h>
#include <utf8.h>

#include <algorithm>
#include <charconv>

#include "card/simd.hpp"

#include "common/scan.hpp"
#include "common/text.hpp"
#include "input/json_plain.hpp"

namespace qvvcard {

namespace ondemand = simdjson::ondemand;

namespace {

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

// Whether t is a number as JSON writes it: -?(0|[1-9][0-9]*)(.[0-9]+)?
// ([eE][+-]?[0-9]+)?.
bool IsJsonNumber(std::string_view t) {
  std::size_t i = 0;
  const auto digits = [&] {
    const std::size_t from = i;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9') ++i;
    return i > from;
  };
  if (i < t.size() && t[i] == '-') ++i;
  if (i < t.size() && t[i] == '0') {
    ++i;
  } else if (i == t.size() || t[i] < '1' || t[i] > '9' || !digits()) {
    return false;
  }
  if (i < t.size() && t[i] == '.' && (++i, !digits())) return false;
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    ++i;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
    if (!digits()) return false;
  }
  return i == t.size();
}

// Of a number of the form above: whether it reads as a double (the
// nearest, or 0 and its neighbours for one too small) rather than beyond
// the largest. The power of ten of its first significant digit (saturated)
// tells which way a number out of range lies.
bool WithinDoubles(std::string_view t) {
  double ignored = 0;
  const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), ignored);
  if (ec == std::errc()) return true;
  if (ec != std::errc::result_out_of_range) return false;
  constexpr long long kFar = 1LL << 40;
  long long first = -kFar;  // the power of ten of the first digit that is not 0
  std::size_t i = t.front() == '-' ? 1 : 0;
  const std::size_t whole = i;
  while (i < t.size() && t[i] >= '0' && t[i] <= '9') ++i;
  for (std::size_t k = whole; k < i && first == -kFar; ++k) {
    if (t[k] != '0') first = static_cast<long long>(i - k - 1);
  }
  if (i < t.size() && t[i] == '.') {
    for (long long place = -1; ++i < t.size() && t[i] >= '0' && t[i] <= '9'; --place) {
      if (first == -kFar && t[i] != '0') first = place;
    }
  }
  if (first == -kFar) return true;  // 0
  long long exponent = 0;
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    ++i;
    const bool negative = i < t.size() && t[i] == '-';
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
    for (; i < t.size(); ++i) exponent = std::min(kFar, exponent * 10 + (t[i] - '0'));
    if (negative) exponent = -exponent;
  }
  return first + exponent < 0;
}

}  // namespace

namespace {

// Thrown inside a parse: what is wrong, and where.
struct ParseError {
  std::string what;
  const char* at = nullptr;  // in the text, when known
  simdjson::error_code code = simdjson::SUCCESS;
  bool not_an_object = false;
};

template <typename T>
T Check(simdjson::simdjson_result<T>&& r, const char* at = nullptr) {
  T value{};
  if (const auto error = std::move(r).get(value)) {
    throw ParseError{simdjson::error_message(error), at, error};
  }
  return value;
}

// Checks a number value (whose text is token) as the parser reads it. The
// parser cannot take some numbers that read as doubles all the same (an
// exponent of many digits making one too small to tell from 0, say): such a
// number of valid form is taken, and left where it stands; one beyond the
// largest double is refused.
// A failure is reported at at.
template <typename Value>
void CheckNumber(Value& value, std::string_view token, const char* at) {
  double ignored = 0;
  const simdjson::error_code error = value.get_double().get(ignored);
  if (error == simdjson::SUCCESS ||
      (error == simdjson::NUMBER_ERROR && IsJsonNumber(token) && WithinDoubles(token))) {
    return;
  }
  throw ParseError{simdjson::error_message(error), at, error};
}

// Reads a nested value to its end, so that it is checked as the object's
// own values are: the text is valid JSON throughout, not only where used.
template <typename Value>
void Walk(Value value, int depth) {
  if (depth > 512) throw ParseError{"nested too deeply"};
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
      CheckNumber(value, Trimmed(value.raw_json_token()), nullptr);
      return;
    case Type::boolean:
      Check(value.get_bool());
      return;
    case Type::null:
      if (!Check(value.is_null())) throw ParseError{"not a JSON value"};
      return;
  }
}

}  // namespace

void JsonObject::ReleaseIfLarge(std::size_t bytes) {
  // Only numbers and values made own have text of their own.
  if (!owned_) return;
  owned_ = false;
  for (JsonItem& item : items_) {
    if (item.value.text.capacity() > bytes) std::string().swap(item.value.text);
  }
}

void JsonObject::Own() {
  owned_ = true;
  for (std::size_t i = 0; i < count_; ++i) {
    FieldValue& v = items_[i].value;
    if (v.in_place.data() == nullptr) continue;
    v.text.assign(v.in_place);
    v.in_place = {};
  }
}

struct JsonObjectParser::Engine {
  ondemand::parser parser;
  json_plain::PlainReader plain;
};

JsonObjectParser::JsonObjectParser(const char* whole, std::size_t max_items)
    : engine_(std::make_unique<Engine>()), whole_(whole), max_items_(max_items) {}

JsonObjectParser::~JsonObjectParser() = default;

bool JsonObjectParser::ParsePlain(std::string_view text, JsonObject& out) {
  out.error_.clear();
  return engine_->plain.Read(text, max_items_, out, out.items_, out.count_, out.keys_, out.owned_);
}

std::size_t JsonObjectParser::ParseStartAsBefore(std::string_view bytes, JsonObject& out) {
  const std::size_t n =
      engine_->plain.ReadStartAsBefore(bytes, out, out.items_, out.count_, out.keys_, out.owned_);
  if (n != 0) out.error_.clear();
  return n;
}

void JsonObjectParser::Parse(std::string& text, JsonObject& out) {
  if (!ParsePlain(text, out)) ParseFull(text, out);
}

void JsonObjectParser::ParseFull(std::string& text, JsonObject& out) {
  out.error_.clear();
  engine_->plain.Forget();
  ++out.keys_;
  out.count_ = 0;
  out.owned_ = true;  // numbers and what is not a string keep their text
  text.reserve(text.size() + simdjson::SIMDJSON_PADDING);
  const simdjson::padded_string_view json(text.data(), text.size(), text.capacity());
  const char* const begin = text.data();
  try {
    ondemand::document doc = Check(engine_->parser.iterate(json));
    if (Check(doc.type()) != ondemand::json_type::object) {
      throw ParseError{{}, nullptr, simdjson::SUCCESS, true};
    }
    ondemand::object object = Check(doc.get_object());
    for (auto member : object) {
      ondemand::field field = Check(std::move(member));
      if (out.count_ == max_items_) {
        out.count_ = 0;
        out.error_ = "more than " + std::to_string(max_items_) + " members";
        return;
      }
      if (out.count_ == out.items_.size()) out.items_.emplace_back();
      JsonItem& item = out.items_[out.count_++];
      const std::string_view key = Check(field.unescaped_key());
      if (!SameBytes(item.key, key)) item.key.assign(key);
      FieldValue& v = item.value;
      v.Clear();
      ondemand::value value = field.value();
      switch (Check(value.type())) {
        case ondemand::json_type::string:
          // In the parser's storage until the next parse.
          v.in_place = Check(value.get_string());
          break;
        case ondemand::json_type::boolean:
          v.type = FieldValue::Type::Bool;
          v.boolean = Check(value.get_bool());
          break;
        case ondemand::json_type::null:
          if (!Check(value.is_null())) throw ParseError{"not a JSON value"};
          v.type = FieldValue::Type::Null;
          break;
        case ondemand::json_type::number: {
          const std::string_view token = Trimmed(value.raw_json_token());
          CheckNumber(value, token, token.data());  // a number of valid form
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
      throw ParseError{"text after the object", at};
    }
  } catch (const ParseError& e) {
    out.count_ = 0;
    if (e.not_an_object) {
      out.error_ = std::string(whole_) + " must hold one JSON object";
      return;
    }
    // Where it went wrong: the parser's position, or for text that is not
    // UTF-8 the first bad byte.
    std::size_t column = 0;
    if (e.at != nullptr && e.at >= begin && e.at <= begin + text.size()) {
      column = static_cast<std::size_t>(e.at - begin) + 1;
    } else if (const auto bad = utf8::find_invalid(text.begin(), text.end()); bad != text.end()) {
      column = static_cast<std::size_t>(bad - text.begin()) + 1;
    } else if (e.code == simdjson::INCOMPLETE_ARRAY_OR_OBJECT ||
               e.code == simdjson::UNCLOSED_STRING) {
      column = text.size() + 1;  // the text ended before the value did
    }
    out.error_ = "not valid JSON: " +
                 (column > 0 ? "parse error at column " + std::to_string(column) + ": " : "") +
                 e.what;
  }
}

namespace {

// Past the string that starts at p (its opening quote), or nullptr when the
// text ends first.
const char* SkipString(const char* p, const char* end) {
  for (++p; p < end; ++p) {
    if (*p == '\\') {
      ++p;
    } else if (*p == '"') {
      return p + 1;
    }
  }
  return nullptr;
}

// Past one value, or nullptr when its form is not plain enough to tell.
const char* SkipValue(const char* p, const char* end) {
  if (p == end) return nullptr;
  if (*p == '"') return SkipString(p, end);
  if (*p == '{' || *p == '[') {
    int depth = 0;
    while (p < end) {
      const char c = *p;
      if (c == '"') {
        p = SkipString(p, end);
        if (p == nullptr) return nullptr;
        continue;
      }
      if (c == '{' || c == '[') ++depth;
      if (c == '}' || c == ']') {
        if (--depth == 0) return p + 1;
      }
      ++p;
    }
    return nullptr;
  }
  // A number or a literal: up to what ends it.
  const char* start = p;
  while (p < end && *p != ',' && *p != '}' && !json_plain::IsJsonBlank(*p)) ++p;
  return p == start ? nullptr : p;
}

}  // namespace

bool ScanTopLevelKeys(std::string_view text, std::vector<std::string_view>& keys,
                      bool* empty_values) {
  keys.clear();
  *empty_values = true;
  const char* p = text.data();
  const char* const end = p + text.size();
  const auto blanks = [&] {
    while (p < end && json_plain::IsJsonBlank(*p)) ++p;
  };
  blanks();
  if (p == end || *p != '{') return false;
  ++p;
  blanks();
  if (p < end && *p == '}') {
    ++p;
  } else {
    for (;;) {
      if (p == end || *p != '"') return false;
      const char* const name = p + 1;
      const char* q = name;
      while (q < end && *q != '"' && *q != '\\' && static_cast<unsigned char>(*q) >= 0x20) ++q;
      if (q == end || *q != '"') return false;  // an escape, a control character, no end
      keys.emplace_back(name, static_cast<std::size_t>(q - name));
      p = q + 1;
      blanks();
      if (p == end || *p != ':') return false;
      ++p;
      blanks();
      const char* const value = p;
      p = SkipValue(p, end);
      if (p == nullptr) return false;
      const std::string_view v(value, static_cast<std::size_t>(p - value));
      if (v != "null" && v != "\"\"") *empty_values = false;
      blanks();
      if (p < end && *p == ',') {
        ++p;
        blanks();
        continue;
      }
      if (p < end && *p == '}') {
        ++p;
        break;
      }
      return false;
    }
  }
  blanks();
  return p == end;
}

}  // namespace qvvcard
