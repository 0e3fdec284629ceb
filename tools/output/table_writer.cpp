#include "output/table_writer.hpp"

#include "input/values.hpp"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <nlohmann/json.hpp>
#include <vector>

namespace qvvcard {

namespace {

constexpr std::size_t kPiece = std::size_t{64} << 10;

// A CSV field: quoted when it holds a separator, a quote or a line end.
void AppendField(std::string& out, std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
    out.append(text);
    return;
  }
  out.push_back('"');
  for (const char c : text) {
    if (c == '"') out.push_back('"');
    out.push_back(c);
  }
  out.push_back('"');
}

// Records kept aside: per cell its property, the length of its text and the
// text; a record ends with the byte 0xFF.
constexpr unsigned char kRecordEnd = 0xFF;

// The value as a person types it: a text without the escapes of the card,
// a flag as true, an integer in decimal.
std::string Typed(const RecordedValue& v) {
  switch (qv_VCard::Info(v.property).kind) {
    case qv_VCard::Kind::Text:
      return v.in_card_form ? RfcUnescape(EscapeClass(v.property), v.text) : v.text;
    case qv_VCard::Kind::Flag:
      return v.number != 0 ? "true" : "false";
    case qv_VCard::Kind::Int16:
      break;
  }
  return std::to_string(v.number);
}

void Keep(std::string& out, const RecordedValue& v) {
  out.push_back(static_cast<char>(static_cast<unsigned char>(v.property)));
  const std::string shown = Typed(v);
  const auto n = static_cast<std::uint32_t>(shown.size());
  char size[4];
  std::memcpy(size, &n, sizeof size);
  out.append(size, sizeof size);
  out.append(shown);
}

}  // namespace

TableWriter::TableWriter(TableFormat format) : format_(format) {
  if (format_ == TableFormat::Csv) kept_.reset(CreateTemporaryFile());
}

void TableWriter::Add(std::span<const RecordedValue> record) {
  if (format_ == TableFormat::Jsonl) {
    // Keys in the order of the property table, as the CSV's columns.
    std::vector<const RecordedValue*> ordered;
    ordered.reserve(record.size());
    for (const RecordedValue& v : record) ordered.push_back(&v);
    std::stable_sort(
        ordered.begin(), ordered.end(),
        [](const RecordedValue* a, const RecordedValue* b) { return a->property < b->property; });
    nlohmann::ordered_json line = nlohmann::ordered_json::object();
    for (const RecordedValue* p : ordered) {
      const RecordedValue& v = *p;
      const qv_VCard::PropertyInfo& info = qv_VCard::Info(v.property);
      if (info.kind == qv_VCard::Kind::Text) {
        line[info.name] = Typed(v);
      } else if (info.kind == qv_VCard::Kind::Flag) {
        line[info.name] = v.number != 0;
      } else {
        line[info.name] = v.number;
      }
    }
    ready_ += line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
    ready_ += '\n';
    return;
  }
  for (const RecordedValue& v : record) {
    used_.set(static_cast<std::size_t>(v.property));
    Keep(pending_, v);
  }
  pending_.push_back(static_cast<char>(kRecordEnd));
  if (pending_.size() >= kPiece) {
    WriteToTemporaryFile(kept_.get(), pending_);
    pending_.clear();
  }
}

bool TableWriter::Take(std::string& out, bool done) {
  out.clear();
  if (format_ == TableFormat::Jsonl) {
    out.swap(ready_);
    return !out.empty();
  }
  if (!done) return false;
  if (!header_done_) {
    header_done_ = true;
    WriteToTemporaryFile(kept_.get(), pending_);
    std::string().swap(pending_);
    RewindTemporaryFile(kept_.get());
    bool first = true;
    for (std::size_t i = 0; i < used_.size(); ++i) {
      if (!used_.test(i)) continue;
      if (!first) out.push_back(',');
      first = false;
      out.append(qv_VCard::Info(static_cast<qv_VCard::Property>(i)).name);
    }
    if (first) return false;  // no column holds data: no table
    out += "\r\n";
    return true;
  }
  // The rows, in pieces: each record's cells into the columns of the header.
  const auto need = [this](std::size_t n) {
    while (read_.size() - read_at_ < n) {
      if (read_end_) return false;
      read_.erase(0, read_at_);
      read_at_ = 0;
      char buffer[1 << 15];
      ssize_t got = 0;
      do {
        got = read(kept_.get(), buffer, sizeof buffer);
      } while (got < 0 && errno == EINTR);
      if (got < 0) ThrowErrno("cannot read a temporary file");
      if (got == 0) read_end_ = true;
      read_.append(buffer, static_cast<std::size_t>(got));
    }
    return true;
  };
  std::vector<std::string> row(used_.size());
  while (out.size() < kPiece && need(1)) {
    for (std::string& cell : row) cell.clear();
    for (;;) {
      if (!need(1)) ThrowErrno("a temporary file ended early", EIO);
      const auto p = static_cast<unsigned char>(read_[read_at_]);
      if (p == kRecordEnd) {
        ++read_at_;
        break;
      }
      if (!need(5)) ThrowErrno("a temporary file ended early", EIO);
      std::uint32_t n = 0;
      std::memcpy(&n, read_.data() + read_at_ + 1, sizeof n);
      if (!need(5 + std::size_t{n})) ThrowErrno("a temporary file ended early", EIO);
      row[p].assign(read_, read_at_ + 5, n);
      read_at_ += 5 + std::size_t{n};
    }
    bool first = true;
    for (std::size_t i = 0; i < used_.size(); ++i) {
      if (!used_.test(i)) continue;
      if (!first) out.push_back(',');
      first = false;
      AppendField(out, row[i]);
    }
    out += "\r\n";
  }
  return !out.empty();
}

}  // namespace qvvcard
