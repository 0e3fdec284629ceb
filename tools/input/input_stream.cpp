#include "input/input_stream.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include "common/fd.hpp"

namespace qvvcard {

InputStream::InputStream(int fd, std::size_t buffer_size)
    : fd_(fd), buffer_(buffer_size < kMinBuffer ? kMinBuffer : buffer_size) {
  struct stat st {};
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    size_ = static_cast<std::uint64_t>(st.st_size);
    const off_t at = lseek(fd, 0, SEEK_CUR);
    if (at > 0) base_ = static_cast<std::uint64_t>(at);
  }
}

InputStream::InputStream(std::string_view bytes)
    : fd_(-1), buffer_(bytes.begin(), bytes.end()), end_(bytes.size()) {
  if (buffer_.size() < kMinBuffer) buffer_.resize(kMinBuffer);
  size_ = bytes.size();
}

bool InputStream::Fill() {
  if (fd_ < 0) return false;  // in memory: everything is in the buffer
  base_ += end_;
  pos_ = end_ = 0;
  for (;;) {
    const ssize_t got = read(fd_, buffer_.data(), buffer_.size());
    if (got >= 0) {
      end_ = static_cast<std::size_t>(got);
      return got > 0;
    }
    if (errno != EINTR) ThrowErrno("cannot read the input");
  }
}

bool InputStream::ReadLine(std::string& line, std::size_t max, bool* truncated) {
  line.clear();
  *truncated = false;
  bool any = false;
  for (;;) {
    if (pos_ == end_ && !Fill()) return any;
    any = true;
    const char* start = buffer_.data() + pos_;
    const std::size_t avail = end_ - pos_;
    const void* lf = std::memchr(start, '\n', avail);
    const std::size_t take =
        lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - start) : avail;
    const std::size_t room = max > line.size() ? max - line.size() : 0;
    if (take > room) *truncated = true;
    line.append(start, take < room ? take : room);
    pos_ += take;
    if (lf) {
      ++pos_;
      return true;
    }
  }
}

std::string_view InputStream::Gather(std::size_t n) {
  if (n > buffer_.size()) n = buffer_.size();
  // A pipe may deliver fewer bytes at a time: read on without losing what
  // is already buffered.
  while (fd_ >= 0 && end_ - pos_ < n) {
    if (pos_ > 0) {
      std::memmove(buffer_.data(), buffer_.data() + pos_, end_ - pos_);
      base_ += pos_;
      end_ -= pos_;
      pos_ = 0;
    }
    const ssize_t got = read(fd_, buffer_.data() + end_, buffer_.size() - end_);
    if (got < 0) {
      if (errno == EINTR) continue;
      ThrowErrno("cannot read the input");
    }
    if (got == 0) break;
    end_ += static_cast<std::size_t>(got);
  }
  return Buffered();
}

bool InputStream::SkipByteOrderMark() {
  static constexpr std::string_view kBom = "\xEF\xBB\xBF";
  if (Gather(3).starts_with(kBom)) {
    pos_ += 3;
    return true;
  }
  return false;
}

void InputStream::Rewind() {
  if (fd_ < 0) {
    pos_ = 0;
    return;
  }
  if (lseek(fd_, 0, SEEK_SET) != 0) ThrowErrno("cannot go back to the start of the input");
  base_ = 0;
  pos_ = end_ = 0;
}

int OpenInput(const std::string& path) {
  const int fd = path == "-" ? fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 3)
                             : open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) ThrowErrno("cannot open " + path);
  UniqueFd owned(fd);
  struct stat st {};
  if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) ThrowErrno("cannot read " + path, EISDIR);
  return owned.release();
}

bool IsRewindable(int fd) {
  struct stat st {};
  return fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && lseek(fd, 0, SEEK_CUR) >= 0;
}

int SpoolToTemporaryFile(int fd) {
  UniqueFd from(fd);
  UniqueFd tmp(CreateTemporaryFile());
  std::vector<char> buf(std::size_t{1} << 16);
  for (;;) {
    const ssize_t got = read(from.get(), buf.data(), buf.size());
    if (got < 0) {
      if (errno == EINTR) continue;
      ThrowErrno("cannot read the input");
    }
    if (got == 0) break;
    WriteToTemporaryFile(tmp.get(), {buf.data(), static_cast<std::size_t>(got)});
  }
  RewindTemporaryFile(tmp.get());
  return tmp.release();
}

}  // namespace qvvcard
