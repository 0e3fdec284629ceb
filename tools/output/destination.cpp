#include "output/destination.hpp"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <string_view>
#include <tuple>

#include "common/fd.hpp"
#include "common/stop.hpp"

namespace qvvcard {

namespace {

// N when path names the descriptor N of this process.
std::optional<int> DescriptorOf(const std::string& path) {
  for (std::string_view prefix : {"/proc/self/fd/", "/dev/fd/", "/proc/thread-self/fd/"}) {
    if (!path.starts_with(prefix)) continue;
    const std::string_view digits = std::string_view(path).substr(prefix.size());
    int fd = -1;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), fd);
    if (ec == std::errc() && end == digits.data() + digits.size() && fd >= 0) return fd;
  }
  return std::nullopt;
}

}  // namespace

Destination Resolve(const std::string& path) {
  Destination d;
  d.shown = path;
  if (path == "-") {
    d.kind = Destination::Kind::Stream;
    d.fd = STDOUT_FILENO;
    d.shown = "standard output";
    d.id = IdOf(d.fd);
    return d;
  }
  std::string current = path;
  for (int links = 0;; ++links) {
    if (const auto fd = DescriptorOf(current)) {
      d.kind = Destination::Kind::Stream;
      d.fd = fcntl(*fd, F_DUPFD_CLOEXEC, 3);
      if (d.fd < 0) ThrowErrno("cannot write " + path);
      d.owns_fd = true;
      d.id = IdOf(d.fd);
      return d;
    }
    struct stat st {};
    if (lstat(current.c_str(), &st) != 0) {
      if (errno != ENOENT) ThrowErrno("cannot write " + path);
      // Nothing there yet: a new file.
      d.kind = Destination::Kind::Replace;
      std::tie(d.folder, d.name) = Split(current);
      return d;
    }
    if (S_ISLNK(st.st_mode)) {
      if (links == 40) ThrowErrno("cannot write " + path, ELOOP);
      char target[PATH_MAX];
      const ssize_t n = readlink(current.c_str(), target, sizeof target - 1);
      if (n < 0) ThrowErrno("cannot write " + path);
      const std::string to(target, static_cast<std::size_t>(n));
      current = to.starts_with('/') ? to : Join(Split(current).first, to);
      continue;
    }
    if (S_ISDIR(st.st_mode)) ThrowErrno("cannot write " + path, EISDIR);
    if (S_ISREG(st.st_mode)) {
      d.kind = Destination::Kind::Replace;
      std::tie(d.folder, d.name) = Split(current);
      d.exists = true;
      d.mode = st.st_mode & 07777;
      d.uid = st.st_uid;
      d.gid = st.st_gid;
      d.id = FileId{st.st_dev, st.st_ino};
      return d;
    }
    // A device, a FIFO or a socket: written to as it is.
    d.kind = Destination::Kind::Stream;
    for (;;) {
      d.fd = open(current.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
      if (d.fd >= 0 || errno != EINTR) break;
      ThrowIfStopped();
    }
    if (d.fd < 0) ThrowErrno("cannot write " + path);
    d.owns_fd = true;
    d.id = IdOf(d.fd);
    return d;
  }
}

}  // namespace qvvcard
