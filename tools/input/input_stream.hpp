// Buffered byte input from a file descriptor, with the position the
// progress display needs.
#ifndef QVVCARD_INPUT_STREAM_HPP
#define QVVCARD_INPUT_STREAM_HPP

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/fd.hpp"

namespace qvvcard {

class InputStream {
 public:
  // Room for a byte-order mark, whatever the size asked for.
  static constexpr std::size_t kMinBuffer = 4;

  // Reads from fd, which the stream does not own, through a buffer of at
  // least kMinBuffer bytes. Read errors throw std::system_error.
  explicit InputStream(int fd, std::size_t buffer_size = std::size_t{1} << 16);
  // Reads a copy of bytes held in memory (a request body, say).
  explicit InputStream(std::string_view bytes);
  InputStream(const InputStream&) = delete;
  InputStream& operator=(const InputStream&) = delete;

  // The next byte (0 to 255), or -1 at the end of the input.
  int Get() {
    if (pos_ == end_ && !Fill()) return -1;
    return static_cast<unsigned char>(buffer_[pos_++]);
  }
  // The next byte without consuming it, or -1 at the end.
  int Peek() {
    if (pos_ == end_ && !Fill()) return -1;
    return static_cast<unsigned char>(buffer_[pos_]);
  }

  // The bytes already buffered after the current position (possibly none),
  // for readers that take a run of bytes at once; Skip(n) consumes the
  // first n of them.
  std::string_view Buffered() const { return {buffer_.data() + pos_, end_ - pos_}; }
  void Skip(std::size_t n) { pos_ += n; }
  // Reads until at least n bytes (at most the buffer's size) are buffered
  // or the input ends, and returns what is buffered; nothing is consumed.
  std::string_view Gather(std::size_t n);
  // The size of the buffer: the most that Gather can look ahead.
  std::size_t capacity() const { return buffer_.size(); }
  // Reads up to and including the next line feed (or to the end of the
  // input) and puts the line, without the line feed, into line. At most max
  // bytes are kept; *truncated tells whether more were dropped. Returns false
  // when the input had nothing left.
  bool ReadLine(std::string& line, std::size_t max, bool* truncated);

  // Skips a UTF-8 byte-order mark at the current position; call it before
  // anything else is read. Returns whether there was one.
  bool SkipByteOrderMark();

  // Bytes consumed so far.
  std::uint64_t consumed() const { return base_ + pos_; }
  // The size of the input when it is a regular file.
  std::optional<std::uint64_t> size() const { return size_; }
  // Back to the first byte; only for regular files.
  void Rewind();

 private:
  bool Fill();

  int fd_;
  std::vector<char> buffer_;
  std::size_t pos_ = 0;
  std::size_t end_ = 0;
  std::uint64_t base_ = 0;  // offset of buffer_[0] in the input
  std::optional<std::uint64_t> size_;
};

// Opens the input named on the command line: "-" is standard input. Returns
// an owned descriptor (standard input is duplicated); throws
// std::system_error when the file cannot be opened.
int OpenInput(const std::string& path);

// Whether fd can be read twice (a regular file).
bool IsRewindable(int fd);

// Copies everything from fd into an anonymous temporary file and returns a
// descriptor of it positioned at the start; fd is closed. The copy lives on
// disk, so memory use does not depend on the input's size.
int SpoolToTemporaryFile(int fd);

}  // namespace qvvcard

#endif
