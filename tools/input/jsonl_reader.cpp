#include "input/jsonl_reader.hpp"

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
  for (;;) {
    if (!in_.ReadLine(line_, limits_.max_line_bytes, &truncated)) return false;
    ++line_number_;
    if (!line_.empty() && line_.back() == '\r') line_.pop_back();
    if (truncated || line_.find_first_not_of(" \t\r") != std::string::npos) break;
  }
  rec.count_ = 0;
  rec.error_.clear();
  rec.line_ = line_number_;
  rec.text_ = line_;
  if (truncated) {
    rec.error_ = "line longer than " + std::to_string(limits_.max_line_bytes) + " bytes";
  }
  if (line_.size() > kLarge) large_ = true;
  return true;
}

void JsonlReader::Parse(JsonRecord& rec) {
  if (!rec.error_.empty()) return;
  parser_->Parse(line_, rec);
  rec.text_ = line_;
  if (large_ && !rec.values_in_text()) {
    // The values are in the parser's storage now (read plainly, they are
    // views of the line, which the next read gives back).
    std::string().swap(line_);
    rec.text_ = {};
  }
}

}  // namespace qvvcard
