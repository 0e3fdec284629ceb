// qvvcard batch: many cards from CSV or JSON Lines.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <bitset>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <optional>
#include <system_error>

#include "cli/commands.hpp"
#include "cli/progress.hpp"
#include "input/csv_reader.hpp"
#include "input/input_stream.hpp"
#include "input/jsonl_reader.hpp"
#include "input/values.hpp"
#include "output/file_names.hpp"
#include "output/safe_write.hpp"
#include "text_convert.hpp"

namespace qvvcard {

namespace {

using qv_VCard::PropertyInfo;

std::string Shown(const std::string& input) { return input == "-" ? "standard input" : input; }

// Refusal of the whole input: nothing has been written at this point.
int RefuseInput(const std::string& what) {
  std::fprintf(stderr, "qvvcard: %s; nothing was written.\n", what.c_str());
  return kExitUsage;
}

int RefuseUnknownNames(const std::string& what) {
  std::fprintf(stderr, "qvvcard: %s; nothing was written.\nValid names (any case):\n%s",
               what.c_str(), PropertyNameList().c_str());
  return kExitUsage;
}

std::string Plural(std::uint64_t n, const char* word) {
  return std::to_string(n) + " " + word + (n == 1 ? "" : "s");
}

std::string SignalName(int sig) {
  switch (sig) {
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
    case SIGHUP:
      return "SIGHUP";
    default:
      return "signal " + std::to_string(sig);
  }
}

// A name the input has but the card does not, and where it was first seen.
struct UnknownName {
  std::string name;
  std::string where;  // "column 3", "record 2 (line 4)"
};

// All unknown names in one message, each with the property it is nearest
// to when one is near enough.
std::string DescribeUnknown(const std::vector<UnknownName>& unknown, const char* what,
                            const std::string& in) {
  const auto one = [](const UnknownName& u, bool with_where) {
    std::string s = Quoted(u.name);
    const std::string near = NearestPropertyName(u.name);
    if (with_where || !near.empty()) {
      s += " (";
      if (with_where) s += u.where;
      if (!near.empty()) s += std::string(with_where ? "; " : "") + "did you mean " + near + "?";
      s += ")";
    }
    return s;
  };
  if (unknown.size() == 1) {
    return std::string("unknown ") + what + " " + one(unknown[0], false) + " in " + unknown[0].where +
           " of " + in;
  }
  std::string s = std::string("unknown ") + what + "s in " + in + ": ";
  for (std::size_t i = 0; i < unknown.size(); ++i) {
    if (i > 0) s += ", ";
    s += one(unknown[i], true);
  }
  return s;
}

// Whether standard output is the terminal standard error is: then a
// progress line would be drawn into the cards.
bool OutputOnErrorTerminal() {
  struct stat out {}, err {};
  return isatty(STDOUT_FILENO) && fstat(STDOUT_FILENO, &out) == 0 &&
         fstat(STDERR_FILENO, &err) == 0 && out.st_rdev == err.st_rdev;
}

// Turns records into cards and hands them to the sink.
class CardMaker {
 public:
  CardMaker(const BatchOptions& options, CardSink& sink, Progress& progress, bool named)
      : options_(options), sink_(sink), progress_(progress), named_(named) {}

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

  // Ends the record: hands its card to the sink, or counts it as skipped.
  void End() {
    if (!bad_) Emit();
    if (bad_) ++skipped_;
  }

  std::uint64_t skipped() const { return skipped_; }

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
    const qv_VCard::Status s = card_.get_vCard(text16_);
    if (qv_VCard::Failed(s)) return Fail("vCard", StatusText(s));
    if (!TextToUtf8(text16_, card8_)) return Fail("vCard", "not valid UTF-16");
    // The card ends with "END:VCARD"; in a file every line ends with CR LF.
    card8_ += "\r\n";
    if (named_) name8_ = ProposedFileName(card_, namer_);
    sink_.Put(card8_, name8_);
  }

  const BatchOptions& options_;
  CardSink& sink_;
  Progress& progress_;
  const bool named_;
  qv_VCard::qvVCard card_;
  qv_VCard::qvVCard namer_;
  std::bitset<qv_VCard::kPropertyCount> assigned_;
  std::u16string scratch_, text16_;
  std::string card8_, name8_, refusal_;
  std::uint64_t record_ = 0;
  std::uint64_t skipped_ = 0;
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

// A record whose fields are all empty (Excel writes rows of separators only
// after formatted ranges) is no record, like a blank line.
bool AllEmpty(std::span<const std::string_view> fields) {
  for (const std::string_view f : fields) {
    if (!f.empty()) return false;
  }
  return true;
}
bool AllEmpty(std::span<const JsonItem> items) {
  for (const JsonItem& item : items) {
    const FieldValue& v = item.value;
    if (v.type != FieldValue::Type::Null && !(v.type == FieldValue::Type::Text && v.text.empty())) {
      return false;
    }
  }
  return true;
}

// Reads and checks the header; returns an exit status when the input must be
// refused.
std::optional<int> ReadCsvHeader(CsvReader& reader, const std::string& input, CsvColumns& cols) {
  CsvRecord header;
  bool found = false;
  while (reader.Next(header)) {
    if (!header.error().empty() || !AllEmpty(header.views())) {
      found = true;
      break;
    }
  }
  if (!found) return RefuseInput(Shown(input) + " is empty: it has no header row");
  if (!header.error().empty()) {
    return RefuseInput("the header of " + Shown(input) + " is malformed: " + header.error());
  }
  std::vector<std::size_t> column_of(qv_VCard::kPropertyCount, 0);
  std::vector<UnknownName> unknown;
  for (std::size_t i = 0; i < header.views().size(); ++i) {
    const std::string name = TrimmedName(header.views()[i]);
    const PropertyInfo* info = nullptr;
    if (!name.empty()) {
      info = qv_VCard::FindProperty(name);
      if (info == nullptr) {
        unknown.push_back({name, "column " + std::to_string(i + 1)});
      } else {
        std::size_t& seen = column_of[static_cast<std::size_t>(info->property)];
        if (seen != 0) {
          return RefuseInput(std::string("column ") + info->name +
                             " appears twice in the header of " + Shown(input) + " (columns " +
                             std::to_string(seen) + " and " + std::to_string(i + 1) + ")");
        }
        seen = i + 1;
      }
    }
    cols.push_back(info);
  }
  if (!unknown.empty()) {
    return RefuseUnknownNames(DescribeUnknown(unknown, "column", "the header of " + Shown(input)));
  }
  return std::nullopt;
}

void ConvertCsv(CsvReader& reader, const CsvColumns& cols, CardMaker& maker, InputStream& in,
                Progress& progress) {
  CsvRecord rec;
  std::uint64_t n = 0;
  while (StopSignal() == 0 && reader.Next(rec)) {
    if (rec.error().empty() && AllEmpty(rec.views())) continue;
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
// refusal (naming every unknown key once) when one does not.
std::optional<int> CheckJsonKeys(InputStream& in, const std::string& input,
                                 std::size_t max_record_bytes) {
  JsonlReader reader(in, JsonlReader::Limits{max_record_bytes});
  JsonRecord rec;
  std::uint64_t n = 0;
  bool any = false;
  std::vector<UnknownName> unknown;
  while (reader.Next(rec)) {
    any = true;
    if (!rec.error().empty()) {
      ++n;
      continue;  // reported when converted
    }
    if (AllEmpty(rec.items())) continue;
    ++n;
    for (const JsonItem& item : rec.items()) {
      if (qv_VCard::FindProperty(item.key) != nullptr) continue;
      bool seen = false;
      for (const UnknownName& u : unknown) seen = seen || u.name == item.key;
      if (!seen && unknown.size() < 50) {
        unknown.push_back(
            {item.key, "record " + std::to_string(n) + " (line " + std::to_string(rec.line()) + ")"});
      }
    }
  }
  if (!any) return RefuseInput(Shown(input) + " is empty: it holds no records");
  if (!unknown.empty()) return RefuseUnknownNames(DescribeUnknown(unknown, "key", Shown(input)));
  in.Rewind();
  return std::nullopt;
}

void ConvertJsonl(InputStream& in, CardMaker& maker, Progress& progress,
                  std::size_t max_record_bytes) {
  JsonlReader reader(in, JsonlReader::Limits{max_record_bytes});
  JsonRecord rec;
  std::uint64_t n = 0;
  while (StopSignal() == 0 && reader.Next(rec)) {
    if (rec.error().empty() && AllEmpty(rec.items())) continue;
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
  std::string ext = std::filesystem::path(options.input).extension().string();
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (ext == ".jsonl" || ext == ".ndjson") return "jsonl";
  return "csv";
}

struct Fd {
  int fd = -1;
  ~Fd() {
    if (fd >= 0) close(fd);
  }
};

}  // namespace

int RunBatch(const BatchOptions& options, const WriteSeams& seams) {
  const std::string format = FormatFor(options);
  const bool to_folder = options.out_dir_given;
  std::unique_ptr<CardSink> sink;
  std::string where;              // " to DIR", " to FILE" or "" for standard output
  bool replacing = false;         // the output is a file replaced at the end
  std::uint64_t skipped = 0;
  int failed = 0;                 // exit status of a run that could not finish
  try {
    Fd input{OpenInput(options.input)};
    // The output is looked at before anything is read: writing over the
    // input, under whatever name, is refused first.
    std::optional<Destination> destination;
    if (to_folder) {
      where = " to " + options.out_dir;
    } else {
      destination = Resolve(options.output.empty() ? "-" : options.output);
      const auto input_id = IdOf(input.fd);
      if (input_id && destination->id && *input_id == *destination->id) {
        return RefuseInput(destination->shown + " is the input " + Shown(options.input));
      }
      replacing = destination->kind == Destination::Kind::Replace;
      if (destination->fd != STDOUT_FILENO) where = " to " + destination->shown;
    }

    // JSON Lines are read twice (keys first), so a pipe is copied to disk.
    if (format == "jsonl" && !IsRewindable(input.fd)) {
      const int copy = SpoolToTemporaryFile(input.fd);
      input.fd = copy;
    }
    InputStream in(input.fd);

    CsvReader csv(in, CsvReader::Limits{options.max_record_bytes});
    CsvColumns columns;
    if (format == "csv") {
      if (auto refused = ReadCsvHeader(csv, options.input, columns)) return *refused;
    } else if (auto refused = CheckJsonKeys(in, options.input, options.max_record_bytes)) {
      return *refused;
    }

    if (to_folder) {
      sink = std::make_unique<CardDirectory>(options.out_dir, seams);
    } else {
      sink = std::make_unique<OutputFile>(std::move(*destination), seams);
    }
    const bool show = !options.quiet && isatty(STDERR_FILENO) && !OutputOnErrorTerminal() &&
                      in.size().has_value();
    Progress progress(show, in.size().value_or(0));
    CardMaker maker(options, *sink, progress, to_folder);
    try {
      if (format == "csv") {
        ConvertCsv(csv, columns, maker, in, progress);
      } else {
        ConvertJsonl(in, maker, progress, options.max_record_bytes);
      }
    } catch (const Stopped&) {
      // waiting for input or output was cut short: the stop is handled below
    }
    skipped = maker.skipped();
    progress.Clear();
    // A stopped run keeps the complete cards that went out, but a file being
    // replaced is not replaced by a part of the cards.
    if (StopSignal() == 0 || !replacing) sink->Finish();
  } catch (const Stopped&) {
    // stopped before a card was made
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "qvvcard: out of memory\n");
    failed = kExitUsage;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "qvvcard: %s\n", e.what());
    failed = kExitUsage;
  }

  const std::uint64_t written = sink ? sink->delivered() : 0;
  const int stop = StopSignal();
  const std::string counts = Plural(written, "card") + " written" + where;
  const std::string left = replacing && written == 0 ? " (left as it was)" : "";
  if (stop != 0) {
    std::fprintf(stderr, "qvvcard: interrupted by %s: %s%s, %s skipped\n",
                 SignalName(stop).c_str(), counts.c_str(), left.c_str(),
                 Plural(skipped, "record").c_str());
    return 128 + stop;
  }
  if (failed != 0) {
    if (sink) {
      std::fprintf(stderr, "qvvcard: stopped after %s%s, %s skipped\n", counts.c_str(),
                   left.c_str(), Plural(skipped, "record").c_str());
    }
    return failed;
  }
  if (!options.quiet) {
    std::fprintf(stderr, "qvvcard: %s, %s skipped\n", counts.c_str(),
                 Plural(skipped, "record").c_str());
  }
  return skipped > 0 ? kExitSkipped : kExitOk;
}

}  // namespace qvvcard
