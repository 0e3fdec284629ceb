// qvvcard: vCard 3.0 cards from the command line, CSV or JSON Lines.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <iterator>
#include <utility>

#include "cli/commands.hpp"
#include "cli/completion.hpp"
#include "cli/decimal_option.hpp"
#include "cli/property_words.hpp"
#include "common/stop.hpp"
#include "common/text.hpp"
#include "serve/serve.hpp"

namespace {

constexpr const char* kExamples = R"text(Examples:
  qvvcard NameFamily=Doe NameGiven=John Tel1_Number=+1-555-0100 Tel1_Cell=true
  qvvcard FormatedName="Q/A: Notes?" --get vCardFileName
  qvvcard batch contacts.csv --out-dir cards
  qvvcard batch contacts.jsonl --output all.vcf
  qvvcard batch phone-export.vcf --out-dir cards
  cat contacts.csv | qvvcard batch - > all.vcf

Property names are those of the card (NameFamily, Adr1_Street, Tel2_Cell, ...;
any case); "qvvcard properties" lists them all with what each holds. Flags
take true, false, yes, no or a 16-bit integer; GeoLatDeg and the like take a
16-bit integer; Geo takes a decimal position ("40.4168,-3.7038").

Exit status: 0 every record became a card; 1 some records were skipped (or
the one card could not be built); 2 usage error, unknown column or key,
unreadable input or failed write.
)text";

constexpr const char* kBatchNotes =
    R"text(Text values are escaped for card readers as on the command line (see
qvvcard --help); --no-rfc-escape passes pre-escaped data unchanged.

With --out-dir, each card is saved as its vCardFileName, made safe for every
common file system; a name already taken gets " (2)", " (3)", ... and nothing
is overwritten (the summary counts the names taken before the run); with
--replace, a card replaces the file of its name from before the run instead.
With --output, the file is replaced only once the run is done. --dry-run
reads and checks everything, prints the summary and writes nothing. A record that cannot become a card is reported on standard error as
"record N: FIELD: reason" and skipped; an unknown column or key stops the run
before anything is written.

A Google Contacts or Outlook CSV export is recognised by its header and read
as such; --columns forces one, or gives a column map file for other headers
(lines "Column Name = Property[, Property=VALUE ...]"). After the run, each
column that held values with no place on the card is named with the number of
records ("Pager: 12 records had a value with no telephone slot left").

A vCard file (2.1, 3.0 or 4.0, told by its first line BEGIN:VCARD) is read
card by card: each becomes a clean 3.0 card, with a new UID unless
--keep-uid; what has no place on the card (PHOTO, X- properties, a fifth
telephone number, ...) is named after the run as for columns. --to csv or
--to jsonl writes the records as a table instead, which reads back into the
same cards.

Examples:
  qvvcard batch contacts.csv --out-dir cards
  qvvcard batch contacts.jsonl --output all.vcf --no-rfc-escape
  qvvcard batch google.csv --out-dir cards --uid-from "E-mail 1 - Value" --replace
  qvvcard batch sheet.csv --columns sheet.map --strict -o all.vcf
  cat contacts.csv | qvvcard batch - > all.vcf
  qvvcard batch phone-export.vcf --out-dir cards      split and clean
  qvvcard batch server-4.0.vcf -o cards-3.0.vcf       convert versions
  qvvcard batch contacts.vcf --to csv -o contacts.csv back to a table

Exit status: 0 every record became a card; 1 some records were skipped (or,
with --strict, a value had no place); 2 usage error, unknown column or key,
column map error, unreadable input or failed write.
)text";

// Names of flags without the "{false}" CLI11 shows after a negated one.
class HelpFormatter final : public CLI::Formatter {
 public:
  std::string make_option_name(const CLI::Option* opt, bool positional) const override {
    std::string name = CLI::Formatter::make_option_name(opt, positional);
    for (std::size_t at; (at = name.find('{')) != std::string::npos;) {
      const std::size_t end = name.find('}', at);
      name.erase(at, end == std::string::npos ? std::string::npos : end - at + 1);
    }
    return name;
  }
};

// " (did you mean --out-dir?)" for the first argument that looks like an
// option of app (or of the program, which app falls through to) and is
// none, when one is near; "" otherwise.
std::string NearestOptionHint(CLI::App& app, int argc, char** argv) {
  std::vector<std::string> names;
  for (const CLI::App* a = &app; a != nullptr; a = a->get_parent()) {
    for (const CLI::Option* opt : a->get_options()) {
      for (const std::string& n : opt->get_lnames()) names.push_back("--" + n);
    }
  }
  std::vector<std::string_view> views(names.begin(), names.end());
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (!arg.starts_with("--") || arg == "--") continue;
    arg = arg.substr(0, arg.find('='));
    if (std::find(names.begin(), names.end(), arg) != names.end()) continue;
    const std::string near = qvvcard::Nearest(arg, views);
    return near.empty() ? std::string() : " (did you mean " + near + "?)";
  }
  return {};
}

}  // namespace

namespace qvvcard {

int Main(int argc, char** argv, const WriteSeams& seams) {
  InstallStopHandlers();

  CLI::App app{
      "Makes vCard 3.0 cards: one from Name=value arguments, or many from a CSV, JSON "
      "Lines or vCard file.",
      "qvvcard"};
  app.formatter(std::make_shared<HelpFormatter>());
  app.footer(kExamples);
  app.set_version_flag("--version", std::string("qvvcard ") + QVVCARD_VERSION);

  SingleOptions single;
  app.add_option("assignments", single.assignments, "Property assignments Name=value")
      ->type_name("NAME=VALUE");
  app.add_option("--get", single.reads,
                 "Print the read of this property (or vCard, vCardFileName) instead of the "
                 "card; repeatable")
      ->type_name("NAME")
      ->allow_extra_args(false);
  bool rfc_escape = true;
  app.add_flag("--rfc-escape,!--no-rfc-escape", rfc_escape,
               "Escape backslash, \";\" and \",\" in text values where the card format gives "
               "them no meaning of their own (the default); --no-rfc-escape takes values as "
               "already escaped");

  app.add_flag("--strict", single.strict,
               "Exit 1 when the card leaves out a value given (a telephone number or address "
               "without a type flag); it is always reported");

  BatchOptions batch;
  CLI::App* sub =
      app.add_subcommand("batch", "Convert every record of a CSV, JSON Lines or vCard file");
  sub->fallthrough();
  sub->footer(kBatchNotes);
  sub->add_option("input", batch.inputs,
                  "Input files, read one after the other, or - for standard input")
      ->type_name("INPUT")
      ->required();
  sub->add_option("--format", batch.format,
                  "Input format: csv, jsonl or vcf; default: jsonl for .jsonl and .ndjson files, "
                  "vcf for a file that starts with BEGIN:VCARD, csv otherwise")
      ->transform(CLI::IsMember({"csv", "jsonl", "vcf"}, CLI::ignore_case))
      ->option_text("csv|jsonl|vcf");
  std::string encoding;
  sub->add_option("--encoding", encoding,
                  "Encoding of the inputs (any case): utf-8, windows-1252 (cp1252), iso-8859-1 "
                  "(latin1), utf-16 (by its byte-order mark), utf-16le or utf-16be; default "
                  "UTF-8, or UTF-16 for a file that starts with its byte-order mark, or "
                  "Windows-1252 for an Outlook export that is not UTF-8")
      ->type_name("ENCODING")
      ->check(CLI::Validator(
          [](const std::string& name) -> std::string {
            if (EncodingNamed(name)) return {};
            std::vector<std::string_view> names(EncodingNames().begin(), EncodingNames().end());
            const std::string near = Nearest(name, names);
            return "unknown encoding \"" + name + "\"" +
                   (near.empty() ? std::string() : " (did you mean " + near + "?)") +
                   "; the tool reads " + EncodingNameList();
          },
          std::string()));
  std::string separator;
  sub->add_option("--delimiter", separator,
                  "CSV separator: comma, semicolon or tab (or the character itself); default: "
                  "the one that splits the header row into known names")
      ->type_name("SEPARATOR")
      ->transform(
          [](std::string value) -> std::string {
            static const std::pair<const char*, const char*> kNames[] = {
                {"comma", ","}, {"semicolon", ";"}, {"tab", "\t"}};
            for (const auto& [name, c] : kNames) {
              if (value == c || CLI::detail::to_lower(value) == name) return c;
            }
            throw CLI::ValidationError("expects comma, semicolon or tab, not \"" + value + "\"");
          },
          "", "separator");
  sub->add_option("--uid-from", batch.uid_from,
                  "Make each card's UID from this column (or JSON key), so that cards made again "
                  "from an updated file keep their UIDs; a record with it empty gets a random UID")
      ->type_name("COLUMN");
  CLI::Option* out_dir =
      sub->add_option("--out-dir", batch.out_dir,
                      "Write one file per card into this folder (created if missing)")
          ->type_name("DIR");
  CLI::Option* output =
      sub->add_option("--output,-o", batch.output,
                      "Write all cards into this file (replaced when the run is done); default "
                      "standard output")
          ->type_name("FILE");
  out_dir->excludes(output);
  sub->add_option("--to", batch.to,
                  "Write the records as a table instead of cards: csv (a header of property "
                  "names, the columns that hold data) or jsonl, to --output or standard output")
      ->transform(CLI::IsMember({"csv", "jsonl"}, CLI::ignore_case))
      ->excludes(out_dir)
      ->option_text("csv|jsonl");
  sub->add_flag("--replace", batch.replace,
                "With --out-dir: a card whose file name is there from before the run replaces "
                "that file (safely: the old file stays whole until the new one is complete) "
                "instead of getting \" (2)\"")
      ->needs(out_dir);
  sub->add_flag("--dry-run", batch.dry_run,
                "Read and check everything and print the summary, writing nothing");
  sub->add_flag("--keep-uid", batch.keep_uid,
                "vCard input: each card keeps the UID it brings (a card without one gets a new "
                "one); default: every card gets a new UID");
  sub->add_flag("--quiet,-q", batch.quiet, "No progress display and no summary line");
  AddDecimalOption(sub, "--max-record-bytes", batch.max_record_bytes, std::size_t{1},
                   std::size_t{1} << 40,
                   "The largest record (CSV record or JSON line) read, in bytes, 1 to "
                   "1099511627776; default 16777216 (16 MiB)")
      ->type_name("BYTES");
  sub->add_option("--columns", batch.columns,
                  "How CSV columns are read: google, google-old or outlook (an address-book "
                  "export; any case), or a column map FILE; default: by the header")
      ->type_name("google|google-old|outlook|FILE");
  sub->add_flag("--strict", batch.strict,
                "Exit 1 when a value had no place on the card (they are always reported)");
  bool batch_rfc_escape = true;
  sub->add_flag("--rfc-escape,!--no-rfc-escape", batch_rfc_escape,
                "Escape text values for card readers (the default); --no-rfc-escape takes them as "
                "already escaped");

  ServeOptions serve;
  CLI::App* serve_command = AddServeCommand(app, serve);

  CLI::App* properties = app.add_subcommand(
      "properties", "List every property of the card, its kind and what it holds");
  bool column_map = false;
  properties->add_flag("--column-map", column_map,
                       "Print a column map to start from instead (for batch --columns FILE)");
  CLI::App* completion = app.add_subcommand(
      "completion", "Print the bash completion script (installed with the program)");

  try {
    app.parse(argc, argv);
  } catch (const CLI::Success& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    // The help to point to is that of the subcommand being read.
    CLI::App* where = &app;
    for (CLI::App* s : {sub, serve_command, properties, completion}) {
      if (s->parsed()) where = s;
    }
    std::cerr << "qvvcard: " << e.what() << NearestOptionHint(*where, argc, argv) << "\nRun \""
              << (where == &app ? std::string("qvvcard") : "qvvcard " + where->get_name())
              << " --help\" for more information.\n";
    return kExitUsage;
  }

  if (serve_command->parsed()) return RunServe(serve);
  if (completion->parsed()) {
    const std::string text = BashCompletion(app);
    std::fwrite(text.data(), 1, text.size(), stdout);
    return std::fflush(stdout) == 0 && !std::ferror(stdout) ? kExitOk : kExitUsage;
  }
  if (properties->parsed()) {
    const std::string text = column_map ? ColumnMapTemplate() : PropertyTable();
    std::fwrite(text.data(), 1, text.size(), stdout);
    return std::fflush(stdout) == 0 && !std::ferror(stdout) ? kExitOk : kExitUsage;
  }
  if (sub->parsed()) {
    if (!single.assignments.empty() || !single.reads.empty()) {
      std::cerr << "qvvcard: batch takes no Name=value or --get arguments\n";
      return kExitUsage;
    }
    batch.out_dir_given = out_dir->count() > 0;
    if (batch.out_dir_given && batch.out_dir.empty()) {
      std::cerr << "qvvcard: --out-dir needs a folder name\nRun \"qvvcard --help\" for more "
                   "information.\n";
      return kExitUsage;
    }
    batch.rfc_escape = rfc_escape && batch_rfc_escape;
    batch.strict = batch.strict || single.strict;
    if (!encoding.empty()) batch.encoding = EncodingNamed(encoding);
    if (!separator.empty()) batch.separator = separator[0];
    return RunBatch(batch, seams);
  }
  if (argc == 1) {
    std::cerr << app.help();
    return kExitUsage;
  }
  single.rfc_escape = rfc_escape;
  return RunSingle(single);
}

}  // namespace qvvcard
