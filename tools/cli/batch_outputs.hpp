// Where a batch run's records go: cards into a folder, cards into one
// output, the records as a table (--to), or nowhere (--dry-run), and the
// words the summary uses for each.
#ifndef QVVCARD_CLI_BATCH_OUTPUTS_HPP
#define QVVCARD_CLI_BATCH_OUTPUTS_HPP

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "cli/commands.hpp"
#include "input/card_builder.hpp"
#include "output/destination.hpp"
#include "output/temp_files.hpp"

namespace qvvcard {

class BatchOutput {
 public:
  virtual ~BatchOutput() = default;
  // Takes the record the builder finished, its card in card.
  virtual void Take(CardBuilder& builder, std::string_view card) = 0;
  // Makes everything taken durable. Throws std::system_error or Stopped.
  virtual void Finish() = 0;
  // Records that reached their destination so far (all of them for a dry
  // run).
  virtual std::uint64_t delivered() const = 0;
  // What the summary says after "N cards written" (a dry run: "would be
  // written"): " to DIR", " (2 with a numbered name ...)"; "" for
  // standard output.
  virtual std::string Where() const = 0;
  // Whether the output is one file replaced only when the run is done: a
  // run that stops early or makes nothing leaves it as it was.
  virtual bool replacing() const { return false; }
  // Whether the output is there now (a file being replaced).
  virtual bool existing() const { return false; }
  // What a record counts as: "card", or "record" for a table.
  virtual const char* unit() const { return "card"; }
  // Whether the builder must record the values of each record.
  virtual bool wants_values() const { return false; }
  // Whether the output is the terminal standard error writes to.
  virtual bool on_error_terminal() const { return false; }
};

// The output of the run. destination is the resolved -o (or standard
// output) when there is no --out-dir. Throws std::system_error.
std::unique_ptr<BatchOutput> MakeOutput(const BatchOptions& options,
                                        std::optional<Destination> destination,
                                        const WriteSeams& seams);

}  // namespace qvvcard

#endif
