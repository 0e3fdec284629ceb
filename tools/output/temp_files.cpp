#include "output/temp_files.hpp"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <sys/stat.h>
#include <cerrno>
#include <cstdio>

#include "common/fd.hpp"
#include "common/stop.hpp"

namespace qvvcard {

const WriteSeams& NoSeams() {
  static const WriteSeams none;
  return none;
}

std::optional<FileId> IdOf(int fd) {
  struct stat st {};
  if (fstat(fd, &st) != 0) return std::nullopt;
  return FileId{st.st_dev, st.st_ino};
}

void WriteAll(int fd, std::string_view data, const std::string& what) {
  while (!data.empty()) {
    const ssize_t put = write(fd, data.data(), data.size());
    if (put < 0) {
      if (errno == EINTR) {
        ThrowIfStopped();
        continue;
      }
      ThrowErrno("cannot write " + what);
    }
    data.remove_prefix(static_cast<std::size_t>(put));
  }
}

int OpenDirectory(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) ThrowErrno("cannot open the folder " + path);
  return fd;
}

int OpenAnonymous(int dirfd) { return openat(dirfd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666); }

// Gives the anonymous file fd the name `name` in dirfd; fails with EEXIST
// when the name is taken.
int LinkAnonymous(int fd, int dirfd, const std::string& name) {
  char proc[64];
  std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", fd);
  if (linkat(AT_FDCWD, proc, dirfd, name.c_str(), AT_SYMLINK_FOLLOW) == 0) return 0;
  if (errno != ENOENT) return -1;
  // Without /proc; this form needs the right to open files by descriptor.
  return linkat(fd, "", dirfd, name.c_str(), AT_EMPTY_PATH);
}

// Anonymous files need both the file system's support and a way to name
// them; try once per folder.
std::string NameAnonymousTemp(int fd, int dirfd, std::string_view tag, const std::string& what) {
  for (unsigned long n = 1;; ++n) {
    std::string temp = ".qvvcard-" + std::to_string(getpid()) + "-" + std::string(tag) +
                       std::to_string(n) + ".tmp";
    SignalsHeld held;
    if (LinkAnonymous(fd, dirfd, temp) == 0) {
      SetPendingName(dirfd, temp);
      return temp;
    }
    if (errno != EEXIST) ThrowErrno("cannot write " + what);
  }
}

TempMode ChooseMode(int dirfd, const WriteSeams& seams) {
  if (seams.named_temp_only) return TempMode::Named;
  const int fd = OpenAnonymous(dirfd);
  if (fd < 0) return TempMode::Named;
  char probe[64];
  std::snprintf(probe, sizeof probe, ".qvvcard-probe-%ld", static_cast<long>(getpid()));
  bool ok = false;
  {
    SignalsHeld held;
    ok = LinkAnonymous(fd, dirfd, probe) == 0;
    if (ok) unlinkat(dirfd, probe, 0);
  }
  close(fd);
  return ok ? TempMode::Anonymous : TempMode::Named;
}

// Creates a hidden file of a fresh name in dirfd and registers it for
// removal on interruption.
int CreateNamedTemp(int dirfd, std::string& name, const std::string& folder) {
  static unsigned long serial = 0;
  for (;;) {
    name = ".qvvcard-" + std::to_string(getpid()) + "-" + std::to_string(++serial) + ".tmp";
    SignalsHeld held;
    const int fd = openat(dirfd, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      SetPendingName(dirfd, name);
      return fd;
    }
    if (errno != EEXIST) ThrowErrno("cannot create a file in " + folder);
  }
}

// Moves the named temporary file to `name` unless that is taken.
int RenameNoReplace(int dirfd, const std::string& from, const std::string& to) {
  if (renameat2(dirfd, from.c_str(), dirfd, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return -1;
  // File systems without that flag: a second name, then drop the first.
  if (linkat(dirfd, from.c_str(), dirfd, to.c_str(), 0) != 0) return -1;
  unlinkat(dirfd, from.c_str(), 0);
  return 0;
}

std::string Join(const std::string& dir, const std::string& name) {
  if (dir.empty() || dir.back() == '/') return dir + name;
  return dir + "/" + name;
}

// The folder and last component of a path ("." for a bare name).
std::pair<std::string, std::string> Split(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return {".", path};
  return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

}  // namespace qvvcard
