// One card per file in a folder. A card gets its name by a call that fails
// when the name is taken, so a file that appeared in the meantime, even
// from another program, is never overwritten.
#ifndef QVVCARD_OUTPUT_CARD_DIRECTORY_HPP
#define QVVCARD_OUTPUT_CARD_DIRECTORY_HPP

#include <array>
#include <string>
#include <string_view>

#include "output/card_sink.hpp"
#include "output/file_names.hpp"
#include "output/temp_files.hpp"

namespace qvvcard {

class CardDirectory final : public CardSink {
 public:
  // Opens the folder, creating it (and its parents) when missing. Throws
  // std::system_error or std::filesystem::filesystem_error.
  explicit CardDirectory(const std::string& path, const WriteSeams& seams = NoSeams());
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

 private:
  struct Hint {
    std::string proposed;
    unsigned next = 1;
  };
  std::string path_;
  int dirfd_ = -1;
  TempMode mode_ = TempMode::Anonymous;
  const WriteSeams& seams_;
  FoldedNames taken_;  // every name in the folder, folded
  std::uint64_t saved_ = 0;
  // Where to start counting for names seen recently, so that many cards of
  // one name do not probe from " (2)" up each time. Bounded: only a hint.
  std::array<Hint, 1024> hints_;
};

}  // namespace qvvcard

#endif
