// qvvcard batch: many cards from CSV or JSON Lines.
#include <unistd.h>

#include <bitset>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <new>
#include <optional>
#include <system_error>

#include "cli/commands.hpp"
#include "input/csv_reader.hpp"
#include "input/input_stream.hpp"
#include "input/jsonl_reader.hpp"
#include "cli/progress.hpp"
#include "output/safe_write.hpp"
#include "text_convert.hpp"
#include "input/values.hpp"

namespace qvvcard {

namespace {

using qv_VCard::PropertyInfo;

std::string Shown(const std::string& input) { return input == "-" ? "standard input" : input; }

// Refusal of the whole input: nothing has been written at this point.
int RefuseInput(const std::string& what) {
  std::fprintf(stderr, "qvvcard: %s; nothing was written.\n", what.c_str());
  return kExitUsage;
}

int RefuseUnknownName(const std::string& what) {
  std::fprintf(stderr, "qvvcard: %s; nothing was written.\nValid names (any case):\n%s",
               what.c_str(), PropertyNameList().c_str());
  return kExitUsage;
}

std::string Plural(std::uint64_t n, const char* word) {
  return std::to_string(n) + " " + word + (n == 1 ? "" : "s");
}

struct Tally {
  std::uint64_t written = 0;
  std::uint64_t skipped = 0;
};

// Turns records into cards and hands them to the output.
class CardMaker {
 public:
  CardMaker(const BatchOptions& options, Progress& progress, Tally& tally)
      : options_(options), progress_(progress), tally_(tally) {
    if (!options.out_dir.empty()) {
      directory_ = std::make_unique<CardDirectory>(options.out_dir);
    } else {
      file_ = std::make_unique<OutputFile>(options.output.empty() ? "-" : options.output);
    }
  }

  // Starts a record: a clean card. vCardClean keeps TimeZone, which must
  // not pass from one record to the next.
  void Begin(std::uint64_t record) {
    record_ = record;
    bad_ = false;
    card_.vCardClean();
    card_.put_TimeZone(std::u16string());
    assigned_.reset();
  }

  void Set(const PropertyInfo& info, std::string_view raw) {
    if (Once(info) && !TryAssignText(card_, info, raw, options_.rfc_escape, scratch_, refusal_)) {
      Fail(info.name, refusal_);
    }
  }
  void Set(const PropertyInfo& info, const FieldValue& value) {
    if (Once(info)) Check(info, Assign(card_, info, value, options_.rfc_escape, scratch_));
  }

  // Reports a problem of the current record; it will be skipped.
  void Fail(const std::string& field, const std::string& reason) {
    bad_ = true;
    progress_.Clear();
    std::fprintf(stderr, "record %llu: %s: %s\n", static_cast<unsigned long long>(record_),
                 field.c_str(), reason.c_str());
  }

  // Ends the record: writes its card, or counts it as skipped.
  void End() {
    if (!bad_) Emit();
    if (bad_) {
      ++tally_.skipped;
    } else {
      ++tally_.written;
    }
  }

  void Finish() {
    if (directory_) directory_->Finish();
    if (file_) file_->Commit();
  }

 private:
  bool Once(const PropertyInfo& info) {
    const auto i = static_cast<std::size_t>(info.property);
    if (assigned_.test(i)) {
      Fail(info.name, "given twice");
      return false;
    }
    assigned_.set(i);
    return true;
  }
  void Check(const PropertyInfo& info, const std::string& refusal) {
    if (!refusal.empty()) Fail(info.name, refusal);
  }

  void Emit() {
    qv_VCard::Status s = card_.get_vCard(text16_);
    if (qv_VCard::Failed(s)) return Fail("vCard", StatusText(s));
    if (!TextToUtf8(text16_, card8_)) return Fail("vCard", "not valid UTF-16");
    // The card ends with "END:VCARD"; in a file every line ends with CR LF.
    card8_ += "\r\n";
    if (directory_) {
      s = card_.get_vCardFileName(text16_);
      if (qv_VCard::Failed(s)) return Fail("vCardFileName", StatusText(s));
      if (!TextToUtf8(text16_, name8_)) return Fail("vCardFileName", "not valid UTF-16");
      directory_->Save(name8_, card8_);
    } else {
      file_->WriteCard(card8_);
    }
  }

  const BatchOptions& options_;
  Progress& progress_;
  Tally& tally_;
  std::unique_ptr<CardDirectory> directory_;
  std::unique_ptr<OutputFile> file_;
  qv_VCard::qvVCard card_;
  std::bitset<qv_VCard::kPropertyCount> assigned_;
  std::u16string scratch_, text16_;
  std::string card8_, name8_, refusal_;
  std::uint64_t record_ = 0;
  bool bad_ = false;
};

// The property of each column, as the header names it; nullptr for a column
// without a name, which must stay empty.
using CsvColumns = std::vector<const PropertyInfo*>;

std::string TrimmedName(std::string_view s) {
  const std::size_t first = s.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return std::string(s.substr(first, s.find_last_not_of(" \t") - first + 1));
}

// Reads and checks the header; returns an exit status when the input must be
// refused.
std::optional<int> ReadCsvHeader(CsvReader& reader, const std::string& input, CsvColumns& cols,
                                 bool& empty) {
  CsvRecord header;
  empty = !reader.Next(header);
  if (empty) return std::nullopt;
  if (!header.error().empty()) {
    return RefuseInput("the header of " + Shown(input) + " is malformed: " + header.error());
  }
  std::vector<std::size_t> column_of(qv_VCard::kPropertyCount, 0);
  for (std::size_t i = 0; i < header.views().size(); ++i) {
    const std::string name = TrimmedName(header.views()[i]);
    const PropertyInfo* info = nullptr;
    if (!name.empty()) {
      info = qv_VCard::FindProperty(name);
      if (info == nullptr) {
        return RefuseUnknownName("unknown column " + Quoted(name) + " in the header of " +
                                 Shown(input));
      }
      std::size_t& seen = column_of[static_cast<std::size_t>(info->property)];
      if (seen != 0) {
        return RefuseInput(std::string("column ") + info->name +
                           " appears twice in the header of " + Shown(input) + " (columns " +
                           std::to_string(seen) + " and " + std::to_string(i + 1) + ")");
      }
      seen = i + 1;
    }
    cols.push_back(info);
  }
  return std::nullopt;
}

void ConvertCsv(CsvReader& reader, const CsvColumns& cols, CardMaker& maker, InputStream& in,
                Progress& progress) {
  CsvRecord rec;
  std::uint64_t n = 0;
  while (reader.Next(rec)) {
    maker.Begin(++n);
    if (!rec.error().empty()) {
      maker.Fail("line " + std::to_string(rec.line()), rec.error());
    } else if (rec.views().size() != cols.size()) {
      maker.Fail(
          "line " + std::to_string(rec.line()),
          Plural(rec.views().size(), "field") + ", the header has " + std::to_string(cols.size()));
    } else {
      const std::span<const std::string_view> values = rec.views();
      for (std::size_t i = 0; i < values.size(); ++i) {
        const std::string_view value = values[i];
        if (const PropertyInfo* info = cols[i]) {
          maker.Set(*info, value);
        } else if (!value.empty()) {
          maker.Fail("column " + std::to_string(i + 1), "a value in a column without a name");
        }
      }
    }
    maker.End();
    progress.Update(n, in.consumed());
  }
}

// Every key of every readable record must name a property; returns the
// refusal when one does not.
std::optional<int> CheckJsonKeys(InputStream& in, const std::string& input) {
  JsonlReader reader(in);
  JsonRecord rec;
  std::uint64_t n = 0;
  while (reader.Next(rec)) {
    ++n;
    if (!rec.error().empty()) continue;  // reported when converted
    for (const JsonItem& item : rec.items()) {
      if (qv_VCard::FindProperty(item.key) == nullptr) {
        return RefuseUnknownName("unknown key " + Quoted(item.key) + " in record " +
                                 std::to_string(n) + " (line " + std::to_string(rec.line()) +
                                 ") of " + Shown(input));
      }
    }
  }
  in.Rewind();
  return std::nullopt;
}

void ConvertJsonl(InputStream& in, CardMaker& maker, Progress& progress) {
  JsonlReader reader(in);
  JsonRecord rec;
  std::uint64_t n = 0;
  while (reader.Next(rec)) {
    maker.Begin(++n);
    if (!rec.error().empty()) {
      maker.Fail("line " + std::to_string(rec.line()), rec.error());
    } else {
      for (const JsonItem& item : rec.items()) {
        if (const PropertyInfo* info = qv_VCard::FindProperty(item.key)) {
          maker.Set(*info, item.value);
        } else {
          maker.Fail(item.key, "not a property");
        }
      }
    }
    maker.End();
    progress.Update(n, in.consumed());
  }
}

std::string FormatFor(const BatchOptions& options) {
  if (!options.format.empty()) return options.format;
  const std::string ext = std::filesystem::path(options.input).extension().string();
  if (ext == ".jsonl" || ext == ".ndjson" || ext == ".JSONL" || ext == ".NDJSON") return "jsonl";
  return "csv";
}

struct Fd {
  int fd = -1;
  ~Fd() {
    if (fd >= 0) close(fd);
  }
};

}  // namespace

int RunBatch(const BatchOptions& options) {
  const std::string format = FormatFor(options);
  Tally tally;
  bool started = false;  // whether anything may have been written
  try {
    Fd input{OpenInput(options.input)};
    // JSON Lines are read twice (keys first), so a pipe is copied to disk.
    if (format == "jsonl" && !IsRewindable(input.fd)) {
      const int copy = SpoolToTemporaryFile(input.fd);
      input.fd = copy;
    }
    InputStream in(input.fd);

    CsvReader csv(in);
    CsvColumns columns;
    bool empty = false;
    if (format == "csv") {
      if (auto refused = ReadCsvHeader(csv, options.input, columns, empty)) return *refused;
    } else if (auto refused = CheckJsonKeys(in, options.input)) {
      return *refused;
    }

    const bool show = !options.quiet && isatty(STDERR_FILENO) && in.size().has_value();
    Progress progress(show, in.size().value_or(0));
    started = true;
    CardMaker maker(options, progress, tally);
    if (format == "csv") {
      if (!empty) ConvertCsv(csv, columns, maker, in, progress);
    } else {
      ConvertJsonl(in, maker, progress);
    }
    maker.Finish();
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "qvvcard: out of memory\n");
    return kExitUsage;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "qvvcard: %s\n", e.what());
    if (started && !options.quiet) {
      std::fprintf(stderr, "qvvcard: stopped after %s written, %s skipped\n",
                   Plural(tally.written, "card").c_str(), Plural(tally.skipped, "record").c_str());
    }
    return kExitUsage;
  }

  if (!options.quiet) {
    std::string where;
    if (!options.out_dir.empty()) {
      where = " to " + options.out_dir;
    } else if (!options.output.empty() && options.output != "-") {
      where = " to " + options.output;
    }
    std::fprintf(stderr, "qvvcard: %s written%s, %s skipped\n",
                 Plural(tally.written, "card").c_str(), where.c_str(),
                 Plural(tally.skipped, "record").c_str());
  }
  return tally.skipped > 0 ? kExitSkipped : kExitOk;
}

}  // namespace qvvcard
