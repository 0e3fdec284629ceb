// Writing output so that an interrupted run never leaves a partial file and
// an existing file is never replaced by accident.
//
// Every file is first written under no name at all (an anonymous file, on
// file systems that have them) or under a hidden temporary name, and gets its
// real name only when complete. A card in an output folder gets its name by
// a call that fails when the name is taken, so a file that appeared in the
// meantime, even from another program, is never overwritten. A temporary
// name is removed when the program is stopped by SIGINT, SIGTERM or SIGHUP;
// an anonymous file disappears by itself however the program ends.
#ifndef QVVCARD_SAFE_WRITE_HPP
#define QVVCARD_SAFE_WRITE_HPP

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace qvvcard {

// Installs the handlers that remove a pending temporary name when the
// program is stopped by a signal. Call once, early.
void InstallInterruptCleanup();

// How files are created before they get their name.
enum class TempMode : std::uint8_t { Anonymous, Named };

// One card per file in a folder.
class CardDirectory {
 public:
  // Opens the folder, creating it (and its parents) when missing. Throws
  // std::system_error or std::filesystem::filesystem_error.
  explicit CardDirectory(const std::string& path);
  ~CardDirectory();
  CardDirectory(const CardDirectory&) = delete;
  CardDirectory& operator=(const CardDirectory&) = delete;

  // Saves content under CardFileName(proposed, n) for the lowest n whose
  // name is free, and returns that name. Throws std::system_error.
  std::string Save(std::string_view proposed, std::string_view content);
  // Flushes everything saved to the disk.
  void Finish();

  TempMode mode() const { return mode_; }

 private:
  struct Hint {
    std::string proposed;
    unsigned next = 1;
  };
  std::string path_;
  int dirfd_ = -1;
  TempMode mode_ = TempMode::Anonymous;
  // Where to start counting for names seen recently, so that many cards of
  // one name do not probe the disk from " (2)" up each time. Bounded: it is
  // only a hint, the folder itself says which names are taken.
  std::array<Hint, 1024> hints_;
};

class WriteBehind;

// All cards in one file, or on standard output.
class OutputFile {
 public:
  // path "-" is standard output, written as the cards come. Any other path
  // is written to a temporary file that replaces path on Commit().
  explicit OutputFile(const std::string& path);
  // Without Commit(), the temporary file is discarded and path untouched.
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Appends a card (which brings its own line end).
  void WriteCard(std::string_view card);
  void Commit();

 private:
  void Write(std::string_view data);
  void Flush();
  // Writes data to the file, past the buffer; what names it in errors.
  void Send(std::string_view data, const std::string& what);

  std::string path_;
  std::string name_;  // path's last component
  int dirfd_ = -1;
  int fd_ = -1;
  TempMode mode_ = TempMode::Anonymous;
  std::string temp_name_;  // TempMode::Named
  std::string buffer_;
  bool to_stdout_ = false;
  std::uint64_t written_ = 0;  // bytes written to fd_ so far
  std::unique_ptr<WriteBehind> behind_;
};

}  // namespace qvvcard

#endif
