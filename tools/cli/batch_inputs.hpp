// The inputs of a batch run: opened, decoded and told apart (CSV, JSON
// Lines, vCard) before any card is written, with hints for the usual
// mistakes.
#ifndef QVVCARD_CLI_BATCH_INPUTS_HPP
#define QVVCARD_CLI_BATCH_INPUTS_HPP

#include <memory>
#include <optional>
#include <string>

#include "cli/commands.hpp"
#include "common/fd.hpp"
#include "input/input_stream.hpp"
#include "input/record_source.hpp"
#include "output/destination.hpp"

namespace qvvcard {

struct Input {
  std::string path;
  std::string shown;   // as messages name it
  std::string format;  // csv, jsonl or vcf
  UniqueFd fd;
  std::unique_ptr<InputStream> in;
  std::unique_ptr<RecordSource> source;
  // A line that tells how to fix a refusal of this input; "" for none.
  std::string hint;
};

// Opens input.path, decoded to UTF-8 where the readers need it, and its
// records (input.source), setting what convert holds for this input. An
// input that is the destination is refused. Throws InputRefused (with
// input.hint set where one helps) or std::system_error.
void OpenBatchInput(Input& input, const BatchOptions& options, ConvertOptions& convert,
                    const std::optional<Destination>& destination, bool first);

}  // namespace qvvcard

#endif
