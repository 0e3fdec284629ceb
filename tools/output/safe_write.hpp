// Writing cards so that an interrupted run never leaves a partial file, an
// existing file is never replaced by accident, and nothing is reported as
// written that did not reach its destination.
//
// A file is first written under no name at all (an anonymous file, on file
// systems that have them) or under a hidden temporary name, and gets its
// real name only when complete. A card in an output folder gets its name by
// a call that fails when the name is taken, so a file that appeared in the
// meantime, even from another program, is never overwritten. A temporary
// name is removed when the program is stopped by a signal; an anonymous file
// disappears by itself however the program ends.
#ifndef QVVCARD_OUTPUT_SAFE_WRITE_HPP
#define QVVCARD_OUTPUT_SAFE_WRITE_HPP

#include <sys/types.h>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "output/file_names.hpp"

namespace qvvcard {

// ---------------------------------------------------------------------------
// Stopping. SIGINT, SIGTERM and SIGHUP ask the run to stop after the card in
// hand; a second one ends the program at once (removing a pending temporary
// name). SIGPIPE and SIGXFSZ are ignored, so that a closed pipe or a file
// size limit is a write error like any other.

// Installs the handlers. Call once, early.
void InstallStopHandlers();
// The signal that asked to stop, or 0.
int StopSignal() noexcept;
// The name of a stop signal ("SIGINT"), for messages.
std::string SignalName(int sig);
// Thrown where waiting was cut short by a stop request.
struct Stopped : std::runtime_error {
  Stopped() : std::runtime_error("stopped") {}
};

// ---------------------------------------------------------------------------
// Test seams: what the tool's own tests inject to reach paths that the
// outside world produces only rarely. Product code passes NoSeams().

struct WriteSeams {
  // Use hidden temporary names even where anonymous files work.
  bool named_temp_only = false;
  // Called with the descriptor a card is about to be written to.
  std::function<void(int fd, std::string_view card)> before_card;
};
const WriteSeams& NoSeams();

// How files are created before they get their name.
enum class TempMode : std::uint8_t { Anonymous, Named };

// The identity of a file, for telling whether two names are one file.
struct FileId {
  dev_t dev = 0;
  ino_t ino = 0;
  bool operator==(const FileId&) const = default;
};
std::optional<FileId> IdOf(int fd);

// ---------------------------------------------------------------------------

// Where cards go: one file each in a folder, or all in one output.
class CardSink {
 public:
  virtual ~CardSink() = default;
  // Takes one complete card (UTF-8, ending in CR LF); name is the proposed
  // file name (used by folders). Throws std::system_error or Stopped.
  virtual void Put(std::string_view card, std::string_view name) = 0;
  // Makes everything taken durable (and, for a file, gives it its name).
  virtual void Finish() = 0;
  // Cards that have reached their destination so far.
  virtual std::uint64_t delivered() const = 0;
};

// One card per file in a folder.
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

// Where all cards go when they go into one output (-o PATH).
struct Destination {
  enum class Kind : std::uint8_t {
    Replace,  // a regular file (or none yet): written anew, then renamed over it
    Stream,   // standard output, a device, a FIFO, a descriptor: written directly
  };
  Kind kind = Kind::Stream;
  std::string shown;    // as the user named it, for messages
  std::string folder;   // Replace: the folder of the file, links followed
  std::string name;     // Replace: its name there
  bool exists = false;  // Replace: a file is there now
  mode_t mode = 0;      // Replace, exists: what the new file keeps of it
  uid_t uid = 0;
  gid_t gid = 0;
  int fd = -1;  // Stream: the descriptor (owned unless standard output)
  bool owns_fd = false;
  std::optional<FileId> id;  // the file written to, when it exists
};
// Finds out what PATH names ("-" is standard output): a symbolic link is
// followed to its target; /dev/stdout, /dev/fd/N and /proc/self/fd/N are the
// descriptors they stand for. Throws std::system_error.
Destination Resolve(const std::string& path);

class WriteBehind;

// All cards in one output.
class OutputFile final : public CardSink {
 public:
  explicit OutputFile(Destination destination, const WriteSeams& seams = NoSeams());
  // Without Finish(), a file being replaced is left as it was.
  ~OutputFile() override;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  void Put(std::string_view card, std::string_view) override { WriteCard(card); }
  // Appends a card (which brings its own line end).
  void WriteCard(std::string_view card);
  void Finish() override;
  std::uint64_t delivered() const override { return delivered_; }

  const Destination& destination() const { return dest_; }

 private:
  void Flush();
  // Writes data to the file, past the buffer.
  void Send(std::string_view data);

  Destination dest_;
  const WriteSeams& seams_;
  int dirfd_ = -1;
  int fd_ = -1;
  TempMode mode_ = TempMode::Anonymous;
  std::string temp_name_;  // TempMode::Named
  std::string buffer_;
  std::uint64_t buffered_cards_ = 0;  // cards (or their ends) in buffer_
  std::uint64_t cards_ = 0;           // cards taken
  std::uint64_t delivered_ = 0;
  std::uint64_t written_ = 0;  // bytes written to fd_ so far
  std::unique_ptr<WriteBehind> behind_;
};

}  // namespace qvvcard

#endif
