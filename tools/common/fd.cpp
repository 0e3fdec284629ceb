#include "common/fd.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>

#include <system_error>

namespace qvvcard {

void ThrowErrno(const std::string& what, int err) {
  throw std::system_error(err, std::generic_category(), what);
}

void UniqueFd::reset(int fd) noexcept {
  if (fd_ >= 0 && fd_ != fd) close(fd_);
  fd_ = fd;
}

int CreateTemporaryFile() {
  const char* dir = std::getenv("TMPDIR");
  if (dir == nullptr || *dir == '\0') dir = "/tmp";
  int tmp = open(dir, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (tmp < 0) {
    // File systems without anonymous files: a named one, removed at once.
    std::string name = std::string(dir) + "/qvvcard-XXXXXX";
    tmp = mkostemp(name.data(), O_CLOEXEC);
    if (tmp < 0) ThrowErrno("cannot create a temporary file in " + std::string(dir));
    unlink(name.c_str());
  }
  return tmp;
}

void WriteToTemporaryFile(int fd, std::string_view bytes) {
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t put = write(fd, bytes.data() + done, bytes.size() - done);
    if (put < 0) {
      if (errno == EINTR) continue;
      ThrowErrno("cannot write a temporary file");
    }
    done += static_cast<std::size_t>(put);
  }
}

void RewindTemporaryFile(int fd) {
  if (lseek(fd, 0, SEEK_SET) != 0) ThrowErrno("cannot go back to the start of a temporary file");
}

}  // namespace qvvcard
