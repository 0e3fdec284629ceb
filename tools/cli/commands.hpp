// The two things qvvcard does: one card from arguments, many from a file.
#ifndef QVVCARD_COMMANDS_HPP
#define QVVCARD_COMMANDS_HPP

#include <string>
#include <vector>

namespace qvvcard {

// Exit statuses.
inline constexpr int kExitOk = 0;       // every record became a card
inline constexpr int kExitSkipped = 1;  // some records were skipped (or the one card failed)
inline constexpr int kExitUsage = 2;    // the run could not be done as asked

struct SingleOptions {
  std::vector<std::string> assignments;  // "Name=value"
  std::vector<std::string> reads;        // --get NAME
  bool rfc_escape = false;
};
// Prints the card, or the reads, to standard output.
int RunSingle(const SingleOptions& options);

struct BatchOptions {
  std::string input;   // a path, or "-" for standard input
  std::string format;  // "csv", "jsonl", or "" to go by the input's name
  std::string out_dir;
  std::string output;  // "" or "-": standard output
  bool quiet = false;
  bool rfc_escape = false;
};
int RunBatch(const BatchOptions& options);

}  // namespace qvvcard

#endif
