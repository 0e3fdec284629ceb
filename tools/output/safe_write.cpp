#include "output/safe_write.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <thread>

namespace qvvcard {

namespace {

[[noreturn]] void ThrowErrno(const std::string& what, int err = errno) {
  throw std::system_error(err, std::generic_category(), what);
}

// ---------------------------------------------------------------------------
// Stopping, and the temporary name that the second signal must remove, if
// any. Only one temporary name exists at a time.

volatile sig_atomic_t g_stop_signal = 0;
volatile sig_atomic_t g_pending_active = 0;
int g_pending_dirfd = -1;
char g_pending_name[NAME_MAX + 1];

void SetPending(int dirfd, const std::string& name) {
  g_pending_active = 0;
  g_pending_dirfd = dirfd;
  std::snprintf(g_pending_name, sizeof g_pending_name, "%s", name.c_str());
  g_pending_active = 1;
}

void ClearPending() { g_pending_active = 0; }

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Holds back the stopping signals while a temporary name comes into being
// and gets registered, so that none is left behind unregistered.
class SignalsHeld {
 public:
  SignalsHeld() {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : kStopSignals) sigaddset(&set, sig);
    sigprocmask(SIG_BLOCK, &set, &old_);
  }
  ~SignalsHeld() { sigprocmask(SIG_SETMASK, &old_, nullptr); }
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;

 private:
  sigset_t old_;
};

extern "C" void OnStopSignal(int sig) {
  if (g_stop_signal == 0) {
    // The run stops after the card in hand and cleans up itself.
    g_stop_signal = sig;
    return;
  }
  // Asked twice: end now.
  if (g_pending_active) unlinkat(g_pending_dirfd, g_pending_name, 0);
  signal(sig, SIG_DFL);
  raise(sig);
}

// Retries a system call cut short by a signal, unless that signal asked the
// run to stop.
void RetryUnlessStopped() {
  if (g_stop_signal != 0) throw Stopped();
}

void WriteAll(int fd, std::string_view data, const std::string& what) {
  while (!data.empty()) {
    const ssize_t put = write(fd, data.data(), data.size());
    if (put < 0) {
      if (errno == EINTR) {
        RetryUnlessStopped();
        continue;
      }
      ThrowErrno("cannot write " + what);
    }
    data.remove_prefix(static_cast<std::size_t>(put));
  }
}

// ---------------------------------------------------------------------------

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
      SetPending(dirfd, name);
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

void InstallStopHandlers() {
  struct sigaction sa {};
  sa.sa_handler = OnStopSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;  // no SA_RESTART: a blocked read or write returns, and the run stops
  for (int sig : kStopSignals) sigaction(sig, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);
  signal(SIGXFSZ, SIG_IGN);
}

int StopSignal() noexcept { return g_stop_signal; }

std::string SignalName(int sig) {
  switch (sig) {
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
    case SIGHUP:
      return "SIGHUP";
    default:
      return "signal " + std::to_string(sig);
  }
}

const WriteSeams& NoSeams() {
  static const WriteSeams none;
  return none;
}

std::optional<FileId> IdOf(int fd) {
  struct stat st {};
  if (fstat(fd, &st) != 0) return std::nullopt;
  return FileId{st.st_dev, st.st_ino};
}

// ---------------------------------------------------------------------------

CardDirectory::CardDirectory(const std::string& path, const WriteSeams& seams)
    : path_(path), seams_(seams) {
  std::filesystem::create_directories(path);
  dirfd_ = OpenDirectory(path);
  mode_ = ChooseMode(dirfd_, seams_);
  // Every name already there, as a case-insensitive file system sees it.
  const int listing = dup(dirfd_);
  DIR* dir = listing >= 0 ? fdopendir(listing) : nullptr;
  if (dir == nullptr) {
    if (listing >= 0) close(listing);
    ThrowErrno("cannot read the folder " + path);
  }
  while (const dirent* e = readdir(dir)) taken_.Add(e->d_name);
  closedir(dir);
}

CardDirectory::~CardDirectory() {
  if (dirfd_ >= 0) close(dirfd_);
}

std::string CardDirectory::Save(std::string_view proposed, std::string_view content) {
  std::string temp;
  const int fd =
      mode_ == TempMode::Anonymous ? OpenAnonymous(dirfd_) : CreateNamedTemp(dirfd_, temp, path_);
  if (fd < 0) ThrowErrno("cannot create a file in " + path_);
  struct Closer {
    int fd;
    ~Closer() { close(fd); }
  } closer{fd};
  const auto drop_temp = [&] {
    if (!temp.empty()) unlinkat(dirfd_, temp.c_str(), 0);
    ClearPending();
  };

  try {
    if (seams_.before_card) seams_.before_card(fd, content);
    WriteAll(fd, content, "a card in " + path_);
  } catch (...) {
    drop_temp();
    throw;
  }

  Hint& hint = hints_[std::hash<std::string_view>{}(proposed) % hints_.size()];
  unsigned number = hint.proposed == proposed ? hint.next : 1;
  std::string name;
  for (;; ++number) {
    name = CardFileName(proposed, number);
    if (taken_.Contains(name)) continue;
    const int rc = mode_ == TempMode::Anonymous ? LinkAnonymous(fd, dirfd_, name)
                                                : RenameNoReplace(dirfd_, temp, name);
    if (rc == 0) break;
    if (errno != EEXIST) {
      const int err = errno;
      drop_temp();
      ThrowErrno("cannot save " + Join(path_, name), err);
    }
    taken_.Add(name);  // made by someone else meanwhile
  }
  ClearPending();
  taken_.Add(name);
  ++saved_;
  hint.proposed.assign(proposed);
  hint.next = number + 1;
  return name;
}

void CardDirectory::Finish() {
  if (syncfs(dirfd_) != 0) ThrowErrno("cannot flush " + path_);
}

// ---------------------------------------------------------------------------

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
      RetryUnlessStopped();
    }
    if (d.fd < 0) ThrowErrno("cannot write " + path);
    d.owns_fd = true;
    d.id = IdOf(d.fd);
    return d;
  }
}

// ---------------------------------------------------------------------------
// Asks the disk, from a thread of its own, to take a file's bytes as they pile
// up, so that the flush before the file gets its name finds little left to
// do, and the work of starting the writes does not hold up the run. Only a
// hint: the file is made durable by fsync all the same, and failures here
// are ignored.

class WriteBehind {
 public:
  // Starts the thread; throws std::system_error when it cannot.
  explicit WriteBehind(int fd) : fd_(fd) {
    SignalsHeld held;  // the thread leaves the stopping signals to the program
    thread_ = std::thread([this] { Run(); });
  }
  // Stops the thread, without waiting for the writes it started.
  ~WriteBehind() {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    wake_.notify_one();
    thread_.join();
  }
  WriteBehind(const WriteBehind&) = delete;
  WriteBehind& operator=(const WriteBehind&) = delete;

  // Tells how many bytes of the file have been written so far.
  void Written(std::uint64_t total) {
    if (total - passed_ < kStep) return;
    passed_ = total;
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      wanted_ = total;
    }
    wake_.notify_one();
  }

 private:
  static constexpr std::uint64_t kStep = std::uint64_t{8} << 20;

  void Run() {
    std::uint64_t done = 0;
    for (;;) {
      std::uint64_t wanted = 0;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait(lock, [&] { return stop_ || wanted_ > done; });
        if (stop_) return;
        wanted = wanted_;
      }
      sync_file_range(fd_, static_cast<off_t>(done), static_cast<off_t>(wanted - done),
                      SYNC_FILE_RANGE_WRITE);
      done = wanted;
    }
  }

  const int fd_;
  std::uint64_t passed_ = 0;  // the caller's side: the last total passed on
  std::mutex mutex_;
  std::condition_variable wake_;
  std::uint64_t wanted_ = 0;
  bool stop_ = false;
  std::thread thread_;
};

// ---------------------------------------------------------------------------

OutputFile::OutputFile(Destination destination, const WriteSeams& seams)
    : dest_(std::move(destination)), seams_(seams) {
  buffer_.reserve(std::size_t{1} << 16);
  if (dest_.kind == Destination::Kind::Stream) {
    fd_ = dest_.fd;
    return;
  }
  dirfd_ = OpenDirectory(dest_.folder);
  mode_ = ChooseMode(dirfd_, seams_);
  fd_ = mode_ == TempMode::Anonymous ? OpenAnonymous(dirfd_)
                                     : CreateNamedTemp(dirfd_, temp_name_, dest_.folder);
  if (fd_ < 0) {
    const int err = errno;
    close(dirfd_);
    dirfd_ = -1;
    ThrowErrno("cannot create a file in " + dest_.folder, err);
  }
  try {
    behind_ = std::make_unique<WriteBehind>(fd_);
  } catch (const std::system_error&) {
    // No thread to spare: Finish() does all the flushing.
  }
}

OutputFile::~OutputFile() {
  behind_.reset();
  if (dest_.kind == Destination::Kind::Stream) {
    if (dest_.owns_fd) close(fd_);
    return;
  }
  if (fd_ >= 0) close(fd_);
  if (!temp_name_.empty()) {
    unlinkat(dirfd_, temp_name_.c_str(), 0);
    ClearPending();
  }
  if (dirfd_ >= 0) close(dirfd_);
}

void OutputFile::Flush() {
  Send(buffer_);
  buffer_.clear();
  // What went out whole has reached a stream; a file only when it is named.
  if (dest_.kind == Destination::Kind::Stream) delivered_ += buffered_cards_;
  buffered_cards_ = 0;
}

void OutputFile::Send(std::string_view data) {
  WriteAll(fd_, data, dest_.shown);
  written_ += data.size();
  if (behind_) behind_->Written(written_);
}

void OutputFile::WriteCard(std::string_view card) {
  if (seams_.before_card) {
    Flush();
    seams_.before_card(fd_, card);
  }
  ++cards_;
  if (buffer_.size() + card.size() > buffer_.capacity()) Flush();
  if (card.size() >= buffer_.capacity()) {
    Send(card);  // a large card goes out past the buffer
    if (dest_.kind == Destination::Kind::Stream) ++delivered_;
    return;
  }
  buffer_.append(card);
  ++buffered_cards_;
}

void OutputFile::Finish() {
  Flush();
  if (dest_.kind == Destination::Kind::Stream) return;
  behind_.reset();
  const std::string& path = dest_.shown;
  if (dest_.exists) {
    // The new file keeps what it can of the one it replaces: its mode, and
    // its owner and group where this process may set them.
    if (fchmod(fd_, dest_.mode) != 0) ThrowErrno("cannot write " + path);
    if (fchown(fd_, dest_.uid, dest_.gid) != 0)
      (void)!fchown(fd_, static_cast<uid_t>(-1), dest_.gid);
  }
  if (fsync(fd_) != 0) ThrowErrno("cannot write " + path);
  if (mode_ == TempMode::Anonymous) {
    // An anonymous file cannot replace another directly: name it first.
    std::string temp;
    for (unsigned long n = 1;; ++n) {
      temp = ".qvvcard-" + std::to_string(getpid()) + "-out" + std::to_string(n) + ".tmp";
      SignalsHeld held;
      if (LinkAnonymous(fd_, dirfd_, temp) == 0) {
        SetPending(dirfd_, temp);
        break;
      }
      if (errno != EEXIST) ThrowErrno("cannot write " + path);
    }
    temp_name_ = temp;
  }
  if (renameat(dirfd_, temp_name_.c_str(), dirfd_, dest_.name.c_str()) != 0) {
    ThrowErrno("cannot write " + path);
  }
  temp_name_.clear();
  ClearPending();
  if (fsync(dirfd_) != 0) ThrowErrno("cannot write " + path);
  delivered_ = cards_;
}

}  // namespace qvvcard
