#include "common/fd.hpp"

#include <unistd.h>

#include <system_error>

namespace qvvcard {

void ThrowErrno(const std::string& what, int err) {
  throw std::system_error(err, std::generic_category(), what);
}

void UniqueFd::reset(int fd) noexcept {
  if (fd_ >= 0 && fd_ != fd) close(fd_);
  fd_ = fd;
}

}  // namespace qvvcard
