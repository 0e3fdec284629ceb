// File descriptors: an owner that closes, and system errors as exceptions.
#ifndef QVVCARD_COMMON_FD_HPP
#define QVVCARD_COMMON_FD_HPP

#include <cerrno>
#include <string>
#include <string_view>

namespace qvvcard {

// Throws std::system_error for err with the sentence what ("cannot open
// in.csv").
[[noreturn]] void ThrowErrno(const std::string& what, int err = errno);

// Owns one file descriptor; -1 for none.
class UniqueFd {
 public:
  UniqueFd() noexcept = default;
  explicit UniqueFd(int fd) noexcept : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { reset(); }

  int get() const noexcept { return fd_; }
  explicit operator bool() const noexcept { return fd_ >= 0; }
  int release() noexcept {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void reset(int fd = -1) noexcept;

 private:
  int fd_ = -1;
};

// A temporary file only this process can reach (0600, anonymous where the
// file system allows, in TMPDIR or /tmp), bytes appended to it, and back to
// its start. They throw std::system_error.
int CreateTemporaryFile();
void WriteToTemporaryFile(int fd, std::string_view bytes);
void RewindTemporaryFile(int fd);

}  // namespace qvvcard

#endif
