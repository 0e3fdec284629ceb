#include "input/jsonl_reader.hpp"

#include <cstring>

namespace qvvcard {

namespace {

// A line this large gives its storage back once read.
constexpr std::size_t kLarge = std::size_t{64} << 10;

}  // namespace

JsonlReader::JsonlReader(InputStream& in, Limits limits)
    : in_(in),
      limits_(limits),
      parser_(std::make_unique<JsonObjectParser>("a line", limits.max_items)) {}

bool JsonlReader::Read(JsonRecord& rec) {
  if (!started_) {
    started_ = true;
    in_.SkipByteOrderMark();
  }
  if (large_) {
    // The last record was large: the parser and the line give their storage
    // back rather than keep it for the lines after it.
    parser_ = std::make_unique<JsonObjectParser>("a line", limits_.max_items);
    std::string().swap(line_);
    large_ = false;
  }
  bool truncated = false;
  std::string_view text;
  for (;;) {
    // A line that lies whole in the input's buffer is read where it lies;
    // any other is gathered into the reader's own storage.
    const std::string_view buffered = in_.Buffered();
    const auto* const lf =
        static_cast<const char*>(std::memchr(buffered.data(), '\n', buffered.size()));
    const std::size_t length =
        lf == nullptr ? buffered.size() : static_cast<std::size_t>(lf - buffered.data());
    if (lf != nullptr && length <= limits_.max_line_bytes) {
      text = buffered.substr(0, length);
      in_.Skip(length + 1);
      in_place_ = true;
    } else {
      if (!in_.ReadLine(line_, limits_.max_line_bytes, &truncated)) return false;
      text = line_;
      in_place_ = false;
    }
    ++line_number_;
    if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
    // Most lines start with their object.
    if (truncated || (!text.empty() && text.front() == '{') ||
        text.find_first_not_of(" \t\r") != std::string_view::npos) {
      break;
    }
  }
  rec.count_ = 0;
  rec.error_.clear();
  rec.line_ = line_number_;
  rec.text_ = text;
  if (truncated) {
    rec.error_ = "line longer than " + std::to_string(limits_.max_line_bytes) + " bytes";
  }
  if (text.size() > kLarge) large_ = true;
  return true;
}

bool JsonlReader::ReadAsBefore(JsonRecord& rec) {
  if (!started_ || large_) return false;
  const std::string_view buffered = in_.Buffered();
  const std::size_t n = parser_->ParseStartAsBefore(buffered, rec);
  if (n == 0) return false;
  // The object is the whole line: a line feed follows it, or CR LF.
  std::size_t line = n;
  if (line < buffered.size() && buffered[line] == '\r') ++line;
  if (line >= buffered.size() || buffered[line] != '\n' || line > limits_.max_line_bytes) {
    return false;
  }
  in_.Skip(line + 1);
  in_place_ = true;
  rec.line_ = ++line_number_;
  rec.text_ = buffered.substr(0, n);
  return true;
}

void JsonlReader::Parse(JsonRecord& rec) {
  if (!rec.error_.empty()) return;
  if (parser_->ParsePlain(rec.text_, rec)) return;
  // The parser needs the line in storage with room after it.
  if (in_place_) {
    line_.assign(rec.text_);
    in_place_ = false;
  } else {
    line_.resize(rec.text_.size());  // without its CR
  }
  parser_->ParseFull(line_, rec);
  rec.text_ = line_;
  if (large_) {
    // The values are in the parser's storage now.
    std::string().swap(line_);
    rec.text_ = {};
  }
}

}  // namespace qvvcard
