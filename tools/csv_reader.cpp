#include "csv_reader.hpp"

#include <algorithm>

namespace qvvcard {

namespace {

// The bytes that end a run of ordinary field bytes.
struct ByteSet {
  bool has[256] = {};
  constexpr explicit ByteSet(std::string_view bytes) {
    for (char c : bytes) has[static_cast<unsigned char>(c)] = true;
  }
};
constexpr ByteSet kUnquotedStops(",\r\n\"");
constexpr ByteSet kQuotedStops("\"\r\n");

}  // namespace

CsvReader::CsvReader(InputStream& in, Limits limits) : in_(in), limits_(limits) {
  if (limits_.max_fields == 0) limits_.max_fields = 1;
}

void CsvReader::StartField(CsvRecord& rec) {
  if (rec.count_ == limits_.max_fields) {
    // Further fields share the last one's slot and are reported.
    too_many_ = true;
    rec.fields_[rec.count_ - 1].clear();
    return;
  }
  if (rec.count_ == rec.fields_.size()) rec.fields_.emplace_back();
  rec.fields_[rec.count_++].clear();
}

void CsvReader::AppendRun(CsvRecord& rec, const bool* stops) {
  const std::string_view buffered = in_.Buffered();
  std::size_t n = 0;
  while (n < buffered.size() && !stops[static_cast<unsigned char>(buffered[n])]) ++n;
  const std::size_t kept = std::min(n, limits_.max_record_bytes - bytes_);
  if (kept < n) too_long_ = true;
  rec.fields_[rec.count_ - 1].append(buffered.data(), kept);
  bytes_ += kept;
  in_.Skip(n);
}

void CsvReader::Flag(CsvRecord& rec, const std::string& what) {
  if (rec.error_.empty()) rec.error_ = what + " in field " + std::to_string(rec.count_);
}

bool CsvReader::EndRecord(CsvRecord& rec) {
  if (too_many_) {
    rec.error_ = "more than " + std::to_string(limits_.max_fields) + " fields";
  } else if (too_long_) {
    rec.error_ = "record longer than " + std::to_string(limits_.max_record_bytes) + " bytes";
  }
  return true;
}

bool CsvReader::Next(CsvRecord& rec) {
  if (!started_) {
    started_ = true;
    in_.SkipByteOrderMark();
  }
  rec.count_ = 0;
  rec.error_.clear();
  bytes_ = 0;
  too_long_ = too_many_ = false;

  // Blank lines between records carry nothing.
  for (;;) {
    const int c = in_.Peek();
    if (c == -1) return false;
    if (c != '\n' && c != '\r') break;
    in_.Get();
    if (c == '\r' && in_.Peek() == '\n') in_.Get();
    ++line_;
  }
  rec.line_ = line_;

  enum class State { FieldStart, Unquoted, Quoted, QuoteInQuoted } state = State::FieldStart;
  StartField(rec);
  for (;;) {
    const int c = in_.Get();
    switch (state) {
      case State::FieldStart:
        if (c == '"') {
          state = State::Quoted;
          break;
        }
        state = State::Unquoted;
        [[fallthrough]];
      case State::Unquoted:
        if (c == ',') {
          StartField(rec);
          state = State::FieldStart;
        } else if (c == '\n' || c == '\r' || c == -1) {
          if (c == '\r' && in_.Peek() == '\n') in_.Get();
          if (c != -1) ++line_;
          return EndRecord(rec);
        } else {
          if (c == '"') Flag(rec, "a quote inside an unquoted value");
          Append(rec, static_cast<char>(c));
          AppendRun(rec, kUnquotedStops.has);
        }
        break;
      case State::Quoted:
        if (c == '"') {
          state = State::QuoteInQuoted;
        } else if (c == -1) {
          Flag(rec, "a quoted value not closed before the end of the input");
          return EndRecord(rec);
        } else {
          if (c == '\n' || (c == '\r' && in_.Peek() != '\n')) ++line_;
          Append(rec, static_cast<char>(c));
          AppendRun(rec, kQuotedStops.has);
        }
        break;
      case State::QuoteInQuoted:
        if (c == '"') {
          Append(rec, '"');
          state = State::Quoted;
        } else if (c == ',') {
          StartField(rec);
          state = State::FieldStart;
        } else if (c == '\n' || c == '\r' || c == -1) {
          if (c == '\r' && in_.Peek() == '\n') in_.Get();
          if (c != -1) ++line_;
          return EndRecord(rec);
        } else {
          // Taken literally up to the next comma, and reported.
          Flag(rec, "text after the closing quote");
          Append(rec, static_cast<char>(c));
          state = State::Unquoted;
        }
        break;
    }
  }
}

}  // namespace qvvcard
