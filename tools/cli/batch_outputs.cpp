#include "cli/batch_outputs.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include "common/text.hpp"
#include "output/card_directory.hpp"
#include "output/file_names.hpp"
#include "output/output_file.hpp"
#include "output/table_writer.hpp"

namespace qvvcard {

namespace {

// Whether fd is the terminal standard error is: a progress line would be
// drawn into what is written there.
bool SameTerminal(int fd) {
  struct stat out {
  }, err{};
  return isatty(fd) && isatty(STDERR_FILENO) && fstat(fd, &out) == 0 &&
         fstat(STDERR_FILENO, &err) == 0 && out.st_rdev == err.st_rdev;
}

class FolderOutput final : public BatchOutput {
 public:
  FolderOutput(const BatchOptions& o, const WriteSeams& seams)
      : dir_(o.out_dir, seams, FolderMode{o.replace, o.dry_run}), shown_(o.out_dir) {}
  void Take(CardBuilder& b, std::string_view card) override {
    dir_.Save(ProposedFileName(b.card()), card);
  }
  void Finish() override { dir_.Finish(); }
  std::uint64_t delivered() const override { return dir_.delivered(); }
  std::string Where() const override {
    std::string where = " to " + shown_;
    if (dir_.replaced() > 0) {
      where += " (" + std::to_string(dir_.replaced()) +
               " of them replacing files that were there before)";
    } else if (dir_.numbered() > 0) {
      where += " (" + std::to_string(dir_.numbered()) +
               " of them with a numbered name, as the name was taken before the run; "
               "--replace replaces such files)";
    }
    return where;
  }

 private:
  CardDirectory dir_;
  std::string shown_;
};

// Cards, or a table, into one output; a dry run only counts.
class FileOutput final : public BatchOutput {
 public:
  FileOutput(const BatchOptions& o, Destination d, const WriteSeams& seams)
      : where_(d.fd == STDOUT_FILENO ? "" : " to " + d.shown),
        replacing_(d.kind == Destination::Kind::Replace),
        existing_(replacing_ && d.exists),
        terminal_(d.kind == Destination::Kind::Stream && SameTerminal(d.fd)),
        dry_run_(o.dry_run) {
    csv_ = o.to == "csv";
    if (csv_) table_.emplace(TableFormat::Csv);
    if (o.to == "jsonl") table_.emplace(TableFormat::Jsonl);
    if (!dry_run_) file_ = std::make_unique<OutputFile>(std::move(d), seams);
  }
  void Take(CardBuilder& b, std::string_view card) override {
    ++taken_;
    if (dry_run_) return;
    if (!table_) return file_->WriteCard(card);
    table_->Add(b.values());
    while (table_->Take(piece_, false)) file_->WriteCard(piece_);
  }
  void Finish() override {
    if (dry_run_) return;
    if (table_) {
      while (table_->Take(piece_, true)) file_->WriteCard(piece_);
    }
    file_->Finish();
    finished_ = true;
  }
  std::uint64_t delivered() const override {
    if (dry_run_) return taken_;
    // JSON Lines reach the output one line a record, as cards do; CSV
    // (whose header waits for the last record) only at the end.
    if (table_ && csv_) return finished_ ? taken_ : 0;
    return file_->delivered();
  }
  std::string Where() const override { return where_; }
  bool replacing() const override { return replacing_; }
  bool existing() const override { return existing_; }
  const char* unit() const override { return table_ ? "record" : "card"; }
  bool wants_values() const override { return table_.has_value(); }
  bool on_error_terminal() const override { return terminal_; }

 private:
  std::string where_;
  bool replacing_, existing_, terminal_, dry_run_, csv_ = false;
  std::unique_ptr<OutputFile> file_;
  std::optional<TableWriter> table_;
  std::string piece_;
  std::uint64_t taken_ = 0;
  bool finished_ = false;
};

}  // namespace

std::unique_ptr<BatchOutput> MakeOutput(const BatchOptions& options,
                                        std::optional<Destination> destination,
                                        const WriteSeams& seams) {
  if (options.out_dir_given) return std::make_unique<FolderOutput>(options, seams);
  return std::make_unique<FileOutput>(options, std::move(*destination), seams);
}

}  // namespace qvvcard
