// One card per file in a folder. A card gets its name by a call that fails
// when the name is taken, so a file that appeared in the meantime, even
// from another program, is never overwritten.
#ifndef QVVCARD_OUTPUT_CARD_DIRECTORY_HPP
#define QVVCARD_OUTPUT_CARD_DIRECTORY_HPP

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

#include "output/card_sink.hpp"
#include "output/file_names.hpp"
#include "output/temp_files.hpp"

namespace qvvcard {

// What becomes of a card whose name a file had before the run: it gets
// " (2)", ... unless replace, when it replaces that file safely, as an
// output file is replaced: the old file stays whole until the new one is
// complete. A dry run writes nothing (nor makes the folder): names are
// chosen and counted as they would be.
struct FolderMode {
  bool replace = false;
  bool dry_run = false;
};

class CardDirectory final : public CardSink {
 public:
  // Opens the folder, creating it (and its parents) when missing (but for
  // a dry run). Throws std::system_error.
  explicit CardDirectory(const std::string& path, const WriteSeams& seams = NoSeams(),
                         FolderMode mode = {});
  ~CardDirectory() override;
  CardDirectory(const CardDirectory&) = delete;
  CardDirectory& operator=(const CardDirectory&) = delete;

  // Saves content under CardFileName(proposed, n) for the lowest n whose
  // name is free, also as case-insensitive, normalising file systems
  // compare names, and returns that name.
  std::string Save(std::string_view proposed, std::string_view content);
  void Put(std::string_view card, std::string_view name) override { Save(name, card); }
  // Flushes everything saved to the disk.
  void Finish() override;
  std::uint64_t delivered() const override { return saved_; }

  TempMode mode() const { return mode_; }
  // Cards that got a numbered name because a file of the run's folder had
  // their name before the run; files of before the run that cards replaced.
  std::uint64_t numbered() const { return numbered_; }
  std::uint64_t replaced() const { return replaced_; }

 private:
  struct Hint {
    std::string proposed;
    unsigned next = 1;
  };
  // Writes content under no name (or a hidden one, in temp); the
  // descriptor.
  int WriteTemp(std::string_view content, std::string& temp);
  // Moves what WriteTemp wrote over the file `name`.
  void ReplaceWith(int fd, std::string& temp, const std::string& name);

  std::string path_;
  int dirfd_ = -1;
  TempMode mode_ = TempMode::Anonymous;
  FolderMode folder_mode_;
  const WriteSeams& seams_;
  FoldedNames taken_;  // every name in the folder, folded
  // The names in the folder before the run, folded, with their spelling
  // there; those a card of the run replaced.
  std::unordered_map<std::string, std::string> before_;
  FoldedNames run_names_;  // the names the run's cards got
  std::uint64_t saved_ = 0, numbered_ = 0, replaced_ = 0;
  // Where to start counting for names seen recently, so that many cards of
  // one name do not probe from " (2)" up each time. Bounded: only a hint.
  std::array<Hint, 1024> hints_;
};

}  // namespace qvvcard

#endif
