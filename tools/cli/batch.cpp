// qvvcard batch: many cards from CSV, JSON Lines or vCard files, into a
// folder, one output, or a table.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "cli/batch_inputs.hpp"
#include "cli/batch_outputs.hpp"
#include "cli/commands.hpp"
#include "cli/progress.hpp"
#include "common/problem.hpp"
#include "common/stop.hpp"
#include "common/text.hpp"

namespace qvvcard {

namespace {

constexpr const char* kSeeHelp = "Run \"qvvcard batch --help\" for more information.\n";

// Refusal of the whole input: nothing has been written at this point.
int Refuse(const InputRefused& refused, const std::string& hint) {
  std::fprintf(stderr, "qvvcard: %s; nothing was written.\n", refused.what());
  if (refused.kind == RefusalKind::UnknownNames && hint.empty()) {
    std::fprintf(stderr,
                 "A Google Contacts or Outlook CSV export is read as such; for other headers, "
                 "--columns FILE names the property of each column (\"qvvcard properties "
                 "--column-map\" prints one to start from; \"qvvcard properties\" lists the "
                 "names).\n");
  }
  if (!hint.empty()) std::fprintf(stderr, "%s\n", hint.c_str());
  std::fputs(kSeeHelp, stderr);
  return kExitUsage;
}

int RefuseInput(const std::string& what) { return Refuse(InputRefused(what), {}); }

// Every record of the source to the output; problems reported as they
// come, after the input's name when there are several. Returns the
// records skipped; *not_utf8 tells whether a value was refused as invalid
// UTF-8.
std::uint64_t Convert(Input& input, const std::string& prefix, CardBuilder& builder,
                      BatchOutput& output, std::uint64_t done_bytes, Progress& progress,
                      bool* not_utf8, std::uint64_t* made) {
  std::string card;
  std::uint64_t skipped = 0;
  while (StopSignal() == 0 && input.source->Next(builder)) {
    if (builder.Finish(card)) {
      ++*made;
      output.Take(builder, card);
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
  std::unique_ptr<BatchOutput> output;
  std::uint64_t made = 0;  // cards made and handed to the output
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
      inputs[i].path = path;
      inputs[i].shown = path == "-" ? "standard input" : path;
      inputs[i].format = FormatFor(options.format, path);
    }
    // The output is looked at before anything is read: writing over an
    // input, under whatever name, is refused first.
    std::optional<Destination> destination;
    if (!options.out_dir_given)
      destination = Resolve(options.output.empty() ? "-" : options.output);
    const bool replacing = destination && destination->kind == Destination::Kind::Replace;
    // Every input is opened and its header or keys checked before a card
    // is written: a refused input leaves the output as it was. Where the
    // cards reach their destination only at the end (a file replaced, a
    // dry run), the keys of JSON Lines are checked as they are read.
    ConvertOptions convert{options.rfc_escape, options.max_record_bytes, options.separator,
                           options.uid_from, options.columns};
    convert.check_keys_first = !replacing && !options.dry_run;
    convert.keep_uid = options.keep_uid;
    std::uint64_t total = 0;
    bool sized = true, any_vcf = false;
    for (std::size_t i = 0; i < inputs.size(); ++i) {
      Input& input = inputs[i];
      try {
        OpenBatchInput(input, options, convert, destination, i == 0);
      } catch (const InputRefused& refused) {
        return Refuse(refused, input.hint);
      } catch (const std::system_error& e) {
        if (input.hint.empty()) throw;
        return Refuse(InputRefused(e.what()), input.hint);
      }
      any_vcf = any_vcf || input.format == "vcf";
      sized = sized && input.in->size().has_value();
      total += input.in->size().value_or(0);
      if (const std::string notice = input.source->Notice(); !notice.empty() && !options.quiet) {
        std::fprintf(stderr, "%s\n", notice.c_str());
      }
    }
    if (options.keep_uid && !any_vcf) {
      return RefuseInput("--keep-uid keeps the UIDs of vCard input, and no input is a vCard file");
    }

    output = MakeOutput(options, std::move(destination), seams);
    const bool show = !options.quiet && isatty(STDERR_FILENO) && !output->on_error_terminal();
    Progress progress(show, sized ? total : 0);
    builder = std::make_unique<CardBuilder>(convert.rfc_escape, !convert.uid_from.empty());
    builder->RecordValues(output->wants_values());
    try {
      std::uint64_t done_bytes = 0;
      for (Input& input : inputs) {
        const std::string prefix = inputs.size() > 1 ? input.shown + ": " : "";
        skipped +=
            Convert(input, prefix, *builder, *output, done_bytes, progress, &not_utf8, &made);
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
      return Refuse(refused, {});
    }
    for (std::string& line : builder->Untyped()) unplaced.push_back(std::move(line));
    progress.Clear();
    // A stopped run keeps the complete cards that went out, but a file being
    // replaced is not replaced by a part of the cards, nor by no card at all.
    if ((StopSignal() == 0 || !replacing) && !(output->existing() && made == 0)) output->Finish();
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
  const std::uint64_t written = output ? output->delivered() : 0;
  const char* unit = output ? output->unit() : "card";
  const std::string where = output ? output->Where() : "";
  const bool replacing = output && output->replacing();
  const int stop = StopSignal();
  const std::string counts =
      Plural(written, unit) + (options.dry_run ? " would be written" : " written") + where;
  const std::string left = replacing && written == 0 ? " (left as it was)" : "";
  if (stop != 0) {
    std::fprintf(stderr, "qvvcard: interrupted by %s: %s%s, %s skipped\n", SignalName(stop).c_str(),
                 counts.c_str(), left.c_str(), Plural(skipped, "record").c_str());
    return 128 + stop;
  }
  if (failed != 0) {
    if (output) {
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
    std::fprintf(stderr, "qvvcard: %s%s%s, %s skipped%s\n", options.dry_run ? "dry run: " : "",
                 counts.c_str(),
                 output && output->existing() && made == 0 && !options.dry_run
                     ? " (it was left as it was)"
                     : "",
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
