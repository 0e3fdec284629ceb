// qvvcard batch: many cards from CSV or JSON Lines.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bitset>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "cli/commands.hpp"
#include "cli/progress.hpp"
#include "cli/property_names.hpp"
#include "common/fd.hpp"
#include "common/problem.hpp"
#include "common/stop.hpp"
#include "common/text.hpp"
#include "input/csv_header.hpp"
#include "input/encoding.hpp"
#include "input/export_format.hpp"
#include "input/input_stream.hpp"
#include "input/record_source.hpp"
#include "output/card_directory.hpp"
#include "output/destination.hpp"
#include "output/file_names.hpp"
#include "output/output_file.hpp"

namespace qvvcard {

namespace {

std::string Shown(const std::string& input) { return input == "-" ? "standard input" : input; }

// Refusal of the whole input: nothing has been written at this point.
int RefuseInput(const std::string& what) {
  std::fprintf(stderr, "qvvcard: %s; nothing was written.\n", what.c_str());
  return kExitUsage;
}

int RefuseUnknownNames(const std::string& what) {
  std::fprintf(stderr,
               "qvvcard: %s; nothing was written.\nA Google Contacts or Outlook CSV export is "
               "read as such; for other headers, --columns FILE names the property of each "
               "column.\nValid names (any case):\n%s",
               what.c_str(), PropertyNameList().c_str());
  return kExitUsage;
}

// Whether standard output is the terminal standard error is: then a
// progress line would be drawn into the cards.
bool OutputOnErrorTerminal() {
  struct stat out {
  }, err{};
  return isatty(STDOUT_FILENO) && fstat(STDOUT_FILENO, &out) == 0 &&
         fstat(STDERR_FILENO, &err) == 0 && out.st_rdev == err.st_rdev;
}

// One input of the run, opened and checked before any card is written.
struct Input {
  std::string shown;  // as messages name it
  std::string format;
  UniqueFd fd;
  std::unique_ptr<InputStream> in;
  std::unique_ptr<RecordSource> source;
};

// Opens an input as UTF-8 that can be read as often as its format needs.
// Opens an input as UTF-8 that can be read as often as its format needs.
// An Outlook export (which Outlook writes in the Windows code page) that is
// not UTF-8 throughout is read as Windows-1252, and convert says so; no
// other input is guessed at.
void Open(Input& input, const std::string& path, const BatchOptions& options,
          ConvertOptions& convert, const std::optional<Destination>& destination) {
  input.fd.reset(OpenInput(path));
  const auto input_id = IdOf(input.fd.get());
  if (destination && input_id && destination->id && *input_id == *destination->id) {
    throw InputRefused(destination->shown + " is the input " + input.shown);
  }
  // JSON Lines read twice (keys first) are copied to disk from a pipe.
  if (input.format == "jsonl" && convert.check_keys_first && !IsRewindable(input.fd.get())) {
    input.fd.reset(SpoolToTemporaryFile(input.fd.release()));
  }
  input.in = std::make_unique<InputStream>(input.fd.get());
  Encoding encoding = EncodingOf(*input.in, options.encoding);
  convert.guessed_encoding = nullptr;
  if (!options.encoding && encoding == Encoding::Utf8 && input.format == "csv" &&
      ExportOfHeader(*input.in, convert) == FindExport("outlook")) {
    if (!IsRewindable(input.fd.get())) {
      input.in.reset();
      input.fd.reset(SpoolToTemporaryFile(input.fd.release()));
      input.in = std::make_unique<InputStream>(input.fd.get());
    }
    const bool utf8 = IsUtf8Throughout(*input.in);
    input.in->Rewind();
    if (!utf8) {
      encoding = Encoding::Cp1252;
      convert.guessed_encoding = NameOf(encoding);
    }
  }
  if (encoding != Encoding::Utf8) {
    const int decoded = DecodeToTemporaryFile(*input.in, encoding, input.shown);
    input.in.reset();
    input.fd.reset(decoded);
    input.in = std::make_unique<InputStream>(input.fd.get());
  }
}

// Every record of the source to the sink; problems reported as they come,
// after the input's name when there are several. Returns the records
// skipped; *not_utf8 tells whether a value was refused as invalid UTF-8.
std::uint64_t Convert(Input& input, const std::string& prefix, CardBuilder& builder, CardSink& sink,
                      bool named, std::uint64_t done_bytes, Progress& progress, bool* not_utf8,
                      std::uint64_t* made) {
  std::string card, name;
  std::uint64_t skipped = 0;
  while (StopSignal() == 0 && input.source->Next(builder)) {
    if (builder.Finish(card)) {
      if (named) name = ProposedFileName(builder.card());
      ++*made;
      sink.Put(card, name);
      builder.ReleaseLarge(card);
    } else {
      ++skipped;
      progress.Clear();
      for (const Problem& p : builder.problems()) {
        std::fprintf(stderr, "%srecord %llu: %s: %s\n", prefix.c_str(),
                     static_cast<unsigned long long>(builder.record()), p.field.c_str(),
                     Describe(p).c_str());
        if (p.kind == ProblemKind::InvalidUtf8) *not_utf8 = true;
      }
    }
    progress.Update(builder.record(), done_bytes + input.in->consumed());
  }
  return skipped;
}

}  // namespace

int RunBatch(const BatchOptions& options, const WriteSeams& seams) {
  const bool to_folder = options.out_dir_given;
  std::unique_ptr<CardSink> sink;
  std::string where;       // " to DIR", " to FILE" or "" for standard output
  bool replacing = false;  // the output is a file replaced at the end
  bool existing = false;   // ... and one that is there now
  std::uint64_t made = 0;  // cards made and handed to the sink
  std::uint64_t skipped = 0;
  bool not_utf8 = false;
  std::unique_ptr<CardBuilder> builder;
  std::vector<std::string> unplaced;  // columns whose values had no place
  int failed = 0;                     // exit status of a run that could not finish
  try {
    std::vector<Input> inputs(options.inputs.size());
    for (std::size_t i = 0; i < inputs.size(); ++i) {
      const std::string& path = options.inputs[i];
      if (path == "-" && std::count(options.inputs.begin(), options.inputs.begin() + i, "-") > 0) {
        return RefuseInput("standard input is named twice");
      }
      inputs[i].shown = Shown(path);
      inputs[i].format = FormatFor(options.format, path);
    }
    // The output is looked at before anything is read: writing over an
    // input, under whatever name, is refused first.
    std::optional<Destination> destination;
    if (to_folder) {
      where = " to " + options.out_dir;
    } else {
      destination = Resolve(options.output.empty() ? "-" : options.output);
      replacing = destination->kind == Destination::Kind::Replace;
      existing = replacing && destination->exists;
      if (destination->fd != STDOUT_FILENO) where = " to " + destination->shown;
    }
    // Every input is opened and its header or keys checked before a card
    // is written: a refused input leaves the output as it was. Where the
    // cards reach their destination only at the end (a file replaced),
    // the keys of JSON Lines are checked as they are read.
    ConvertOptions convert{options.rfc_escape, options.max_record_bytes, options.separator,
                           options.uid_from, options.columns};
    convert.check_keys_first = !replacing;
    std::uint64_t total = 0;
    bool sized = true;
    for (std::size_t i = 0; i < inputs.size(); ++i) {
      Input& input = inputs[i];
      try {
        Open(input, options.inputs[i], options, convert, destination);
        input.source = OpenRecords(*input.in, input.format, input.shown, convert);
      } catch (const InputRefused& refused) {
        return refused.kind == RefusalKind::UnknownNames ? RefuseUnknownNames(refused.what())
                                                         : RefuseInput(refused.what());
      }
      sized = sized && input.in->size().has_value();
      total += input.in->size().value_or(0);
      if (const std::string notice = input.source->Notice(); !notice.empty() && !options.quiet) {
        std::fprintf(stderr, "%s\n", notice.c_str());
      }
    }

    if (to_folder) {
      sink = std::make_unique<CardDirectory>(options.out_dir, seams);
    } else {
      sink = std::make_unique<OutputFile>(std::move(*destination), seams);
    }
    const bool show = !options.quiet && isatty(STDERR_FILENO) && !OutputOnErrorTerminal() && sized;
    Progress progress(show, total);
    builder = std::make_unique<CardBuilder>(convert.rfc_escape, !convert.uid_from.empty());
    try {
      std::uint64_t done_bytes = 0;
      for (Input& input : inputs) {
        const std::string prefix = inputs.size() > 1 ? input.shown + ": " : "";
        skipped += Convert(input, prefix, *builder, *sink, to_folder, done_bytes, progress,
                           &not_utf8, &made);
        for (const std::string& line : input.source->Unplaced()) unplaced.push_back(prefix + line);
        if (StopSignal() != 0) break;
        done_bytes += input.in->consumed();
        input.source.reset();
        input.in.reset();
      }
    } catch (const Stopped&) {
      // waiting for input or output was cut short: the stop is handled below
    } catch (const InputRefused& refused) {
      // Met while reading (the file being replaced is left as it was).
      progress.Clear();
      return refused.kind == RefusalKind::UnknownNames ? RefuseUnknownNames(refused.what())
                                                       : RefuseInput(refused.what());
    }
    for (std::string& line : builder->Untyped()) unplaced.push_back(std::move(line));
    progress.Clear();
    // A stopped run keeps the complete cards that went out, but a file being
    // replaced is not replaced by a part of the cards, nor by no card at all.
    if ((StopSignal() == 0 || !replacing) && !(existing && made == 0)) sink->Finish();
  } catch (const Stopped&) {
    // stopped before a card was made
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "qvvcard: out of memory\n");
    failed = kExitUsage;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "qvvcard: %s\n", e.what());
    failed = kExitUsage;
  }

  // What had no place is said after the records' own problems, before the
  // summary.
  for (const std::string& line : unplaced) std::fprintf(stderr, "%s\n", line.c_str());
  const std::uint64_t written = sink ? sink->delivered() : 0;
  const int stop = StopSignal();
  const std::string counts = Plural(written, "card") + " written" + where;
  const std::string left = replacing && written == 0 ? " (left as it was)" : "";
  if (stop != 0) {
    std::fprintf(stderr, "qvvcard: interrupted by %s: %s%s, %s skipped\n", SignalName(stop).c_str(),
                 counts.c_str(), left.c_str(), Plural(skipped, "record").c_str());
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
    std::string random;
    if (builder && builder->random_uids() > 0) {
      random = "; " + Plural(builder->random_uids(), "card") + " got a random UID (" +
               options.uid_from + " was empty)";
    }
    std::fprintf(stderr, "qvvcard: %s%s, %s skipped%s\n", counts.c_str(),
                 existing && made == 0 ? " (it was left as it was)" : "",
                 Plural(skipped, "record").c_str(), random.c_str());
  }
  if (not_utf8 && !options.encoding) {
    std::fprintf(stderr,
                 "qvvcard: the input is not UTF-8 throughout; for a file saved by Excel on "
                 "Windows, try --encoding cp1252\n");
  }
  return skipped > 0 || (options.strict && !unplaced.empty()) ? kExitSkipped : kExitOk;
}

}  // namespace qvvcard
