#include "output/safe_write.hpp"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>

#include "output/file_names.hpp"

namespace qvvcard {

namespace {

[[noreturn]] void ThrowErrno(const std::string& what, int err = errno) {
  throw std::system_error(err, std::generic_category(), what);
}

// ---------------------------------------------------------------------------
// The temporary name that a signal handler must remove, if any. Only one
// temporary name exists at a time.

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

// Holds back the stopping signals while a temporary name comes into being
// and gets registered, so that none is left behind unregistered.
class SignalsHeld {
 public:
  SignalsHeld() {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&set, sig);
    sigprocmask(SIG_BLOCK, &set, &old_);
  }
  ~SignalsHeld() { sigprocmask(SIG_SETMASK, &old_, nullptr); }
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;

 private:
  sigset_t old_;
};

extern "C" void RemovePendingAndDie(int sig) {
  if (g_pending_active) unlinkat(g_pending_dirfd, g_pending_name, 0);
  signal(sig, SIG_DFL);
  raise(sig);
}

// ---------------------------------------------------------------------------
// Interruption on purpose, for the tests: QVVCARD_TEST_INTERRUPT="N" stops
// the program with SIGKILL halfway through writing the N-th card, "N:TERM"
// with SIGTERM.

struct Interruption {
  unsigned long at_card = 0;  // 0: never
  int signal = SIGKILL;
  unsigned long cards = 0;
};

Interruption& TestInterruption() {
  static Interruption it = [] {
    Interruption i;
    if (const char* v = std::getenv("QVVCARD_TEST_INTERRUPT")) {
      char* end = nullptr;
      i.at_card = std::strtoul(v, &end, 10);
      if (end != nullptr && std::strcmp(end, ":TERM") == 0) i.signal = SIGTERM;
    }
    return i;
  }();
  return it;
}

void WriteAll(int fd, std::string_view data, const std::string& what) {
  while (!data.empty()) {
    const ssize_t put = write(fd, data.data(), data.size());
    if (put < 0) {
      if (errno == EINTR) continue;
      ThrowErrno("cannot write " + what);
    }
    data.remove_prefix(static_cast<std::size_t>(put));
  }
}

// Counts a card about to be written to fd; at the card chosen by the test,
// writes half of it and stops the program.
void CountCard(int fd, std::string_view card) {
  Interruption& it = TestInterruption();
  if (it.at_card == 0 || ++it.cards != it.at_card) return;
  WriteAll(fd, card.substr(0, card.size() / 2), "the card");
  raise(it.signal);
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
TempMode ChooseMode(int dirfd) {
  const char* force = std::getenv("QVVCARD_TEST_NAMED_TEMP");
  if (force != nullptr && *force == '1') return TempMode::Named;
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

}  // namespace

void InstallInterruptCleanup() {
  struct sigaction sa {};
  sa.sa_handler = RemovePendingAndDie;
  sigemptyset(&sa.sa_mask);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &sa, nullptr);
}

// ---------------------------------------------------------------------------

CardDirectory::CardDirectory(const std::string& path) : path_(path) {
  std::filesystem::create_directories(path);
  dirfd_ = OpenDirectory(path);
  mode_ = ChooseMode(dirfd_);
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

  try {
    CountCard(fd, content);
    WriteAll(fd, content, "a card in " + path_);
  } catch (...) {
    if (!temp.empty()) unlinkat(dirfd_, temp.c_str(), 0);
    ClearPending();
    throw;
  }

  Hint& hint = hints_[std::hash<std::string_view>{}(proposed) % hints_.size()];
  unsigned number = hint.proposed == proposed ? hint.next : 1;
  std::string name;
  for (;; ++number) {
    name = CardFileName(proposed, number);
    const int rc = mode_ == TempMode::Anonymous ? LinkAnonymous(fd, dirfd_, name)
                                                : RenameNoReplace(dirfd_, temp, name);
    if (rc == 0) break;
    if (errno != EEXIST) {
      const int err = errno;
      if (!temp.empty()) unlinkat(dirfd_, temp.c_str(), 0);
      ClearPending();
      ThrowErrno("cannot save " + Join(path_, name), err);
    }
  }
  ClearPending();
  hint.proposed.assign(proposed);
  hint.next = number + 1;
  return name;
}

void CardDirectory::Finish() {
  if (syncfs(dirfd_) != 0) ThrowErrno("cannot flush " + path_);
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

OutputFile::OutputFile(const std::string& path) : path_(path) {
  buffer_.reserve(std::size_t{1} << 16);
  if (path == "-") {
    to_stdout_ = true;
    fd_ = STDOUT_FILENO;
    return;
  }
  const std::filesystem::path p(path);
  name_ = p.filename().string();
  if (name_.empty() || name_ == "." || name_ == "..") {
    ThrowErrno("cannot write " + path, EISDIR);
  }
  const std::string dir = p.has_parent_path() ? p.parent_path().string() : ".";
  dirfd_ = OpenDirectory(dir);
  mode_ = ChooseMode(dirfd_);
  fd_ = mode_ == TempMode::Anonymous ? OpenAnonymous(dirfd_)
                                     : CreateNamedTemp(dirfd_, temp_name_, dir);
  if (fd_ < 0) {
    const int err = errno;
    close(dirfd_);
    ThrowErrno("cannot create a file in " + dir, err);
  }
  try {
    behind_ = std::make_unique<WriteBehind>(fd_);
  } catch (const std::system_error&) {
    // No thread to spare: Commit() does all the flushing.
  }
}

OutputFile::~OutputFile() {
  behind_.reset();
  if (to_stdout_) return;
  if (fd_ >= 0) close(fd_);
  if (!temp_name_.empty()) {
    unlinkat(dirfd_, temp_name_.c_str(), 0);
    ClearPending();
  }
  if (dirfd_ >= 0) close(dirfd_);
}

void OutputFile::Write(std::string_view data) {
  if (buffer_.size() + data.size() > buffer_.capacity()) Flush();
  if (data.size() >= buffer_.capacity()) {
    Send(data, path_);
  } else {
    buffer_.append(data);
  }
}

void OutputFile::Flush() {
  Send(buffer_, to_stdout_ ? std::string("standard output") : path_);
  buffer_.clear();
}

void OutputFile::Send(std::string_view data, const std::string& what) {
  WriteAll(fd_, data, what);
  written_ += data.size();
  if (behind_) behind_->Written(written_);
}

void OutputFile::WriteCard(std::string_view card) {
  if (TestInterruption().at_card != 0) {
    Flush();
    CountCard(fd_, card);
  }
  Write(card);
}

void OutputFile::Commit() {
  Flush();
  if (to_stdout_) return;
  behind_.reset();
  if (fsync(fd_) != 0) ThrowErrno("cannot write " + path_);
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
      if (errno != EEXIST) ThrowErrno("cannot write " + path_);
    }
    temp_name_ = temp;
  }
  if (renameat(dirfd_, temp_name_.c_str(), dirfd_, name_.c_str()) != 0) {
    ThrowErrno("cannot write " + path_);
  }
  temp_name_.clear();
  ClearPending();
  if (fsync(dirfd_) != 0) ThrowErrno("cannot write " + path_);
}

}  // namespace qvvcard
