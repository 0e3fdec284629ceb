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

#include "bridge/utf.hpp"
#include "cli/commands.hpp"
#include "cli/progress.hpp"
#include "input/input_stream.hpp"
#include "input/records.hpp"
#include "input/values.hpp"
#include "output/file_names.hpp"
#include "output/safe_write.hpp"

namespace qvvcard {

using qv_VCard::bridge::TextToUtf8;
using qv_VCard::bridge::Utf8ToText;

namespace {

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

// Whether standard output is the terminal standard error is: then a
// progress line would be drawn into the cards.
bool OutputOnErrorTerminal() {
  struct stat out {
  }, err{};
  return isatty(STDOUT_FILENO) && fstat(STDOUT_FILENO, &out) == 0 &&
         fstat(STDERR_FILENO, &err) == 0 && out.st_rdev == err.st_rdev;
}

// Every record of the source to the sink; problems reported as they come.
// Returns the records skipped.
std::uint64_t Convert(RecordSource& source, CardBuilder& builder, CardSink& sink, bool named,
                      InputStream& in, Progress& progress) {
  qv_VCard::qvVCard namer;
  std::string card, name;
  std::uint64_t skipped = 0;
  while (StopSignal() == 0 && source.Next(builder)) {
    if (builder.Finish(card)) {
      if (named) name = ProposedFileName(builder.card(), namer);
      sink.Put(card, name);
      builder.ReleaseLarge(card);
    } else {
      ++skipped;
      progress.Clear();
      for (const RecordProblem& p : builder.problems()) {
        std::fprintf(stderr, "record %llu: %s: %s\n", static_cast<unsigned long long>(p.record),
                     p.field.c_str(), p.reason.c_str());
      }
    }
    progress.Update(builder.record(), in.consumed());
  }
  return skipped;
}

struct Fd {
  int fd = -1;
  ~Fd() {
    if (fd >= 0) close(fd);
  }
};

}  // namespace

int RunBatch(const BatchOptions& options, const WriteSeams& seams) {
  const std::string format = FormatFor(options.format, options.input);
  const bool to_folder = options.out_dir_given;
  std::unique_ptr<CardSink> sink;
  std::string where;       // " to DIR", " to FILE" or "" for standard output
  bool replacing = false;  // the output is a file replaced at the end
  std::uint64_t skipped = 0;
  int failed = 0;  // exit status of a run that could not finish
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

    const ConvertOptions convert{options.rfc_escape, options.max_record_bytes};
    std::unique_ptr<RecordSource> source;
    try {
      source = OpenRecords(in, format, Shown(options.input), convert);
    } catch (const InputRefused& refused) {
      return refused.list_names ? RefuseUnknownNames(refused.what()) : RefuseInput(refused.what());
    }

    if (to_folder) {
      sink = std::make_unique<CardDirectory>(options.out_dir, seams);
    } else {
      sink = std::make_unique<OutputFile>(std::move(*destination), seams);
    }
    const bool show = !options.quiet && isatty(STDERR_FILENO) && !OutputOnErrorTerminal() &&
                      in.size().has_value();
    Progress progress(show, in.size().value_or(0));
    CardBuilder builder(convert);
    try {
      skipped = Convert(*source, builder, *sink, to_folder, in, progress);
    } catch (const Stopped&) {
      // waiting for input or output was cut short: the stop is handled below
    }
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
    std::fprintf(stderr, "qvvcard: %s, %s skipped\n", counts.c_str(),
                 Plural(skipped, "record").c_str());
  }
  return skipped > 0 ? kExitSkipped : kExitOk;
}

}  // namespace qvvcard
