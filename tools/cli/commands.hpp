// The things qvvcard does: one card from arguments, many from a file.
#ifndef QVVCARD_CLI_COMMANDS_HPP
#define QVVCARD_CLI_COMMANDS_HPP

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "common/exit_status.hpp"
#include "input/encoding.hpp"
#include "input/record_source.hpp"
#include "output/temp_files.hpp"

namespace CLI {
class App;
}

namespace qvvcard {

struct SingleOptions {
  std::vector<std::string> assignments;  // "Name=value"
  std::vector<std::string> reads;        // --get NAME
  bool rfc_escape = true;
  bool strict = false;  // a value the card leaves out fails the run (exit 1)
};
// Prints the card, or the reads, to standard output.
int RunSingle(const SingleOptions& options);

struct BatchOptions {
  std::vector<std::string> inputs;   // paths, or "-" for standard input
  std::string format;                // "csv", "jsonl", "vcf", or "" to go by each input
  std::optional<Encoding> encoding;  // none: UTF-8, or UTF-16 with a byte-order mark
  char separator = 0;                // 0: taken from the CSV header
  std::string uid_from;              // the column or key the UIDs are made from
  std::string out_dir;
  bool out_dir_given = false;
  std::string output;  // "" or "-": standard output
  bool quiet = false;
  bool rfc_escape = true;
  std::size_t max_record_bytes = kDefaultMaxRecordBytes;
  std::string columns;    // --columns: google, google-old, outlook or a column map's path
  bool strict = false;    // a value with no place on the card fails the run (exit 1)
  bool keep_uid = false;  // vCard input: a card keeps the UID it brings
  std::string to;         // "csv" or "jsonl": the records as a table; "": cards
  bool replace = false;   // --out-dir: a card replaces the file of its name from before
  bool dry_run = false;   // everything read and checked, nothing written
};
int RunBatch(const BatchOptions& options, const WriteSeams& seams = NoSeams());

struct ServeOptions;
// Adds the serve subcommand to app, filling options when it is parsed.
CLI::App* AddServeCommand(CLI::App& app, ServeOptions& options);

// The whole command line; seams are the tests' way in (NoSeams() otherwise).
int Main(int argc, char** argv, const WriteSeams& seams);

}  // namespace qvvcard

#endif
