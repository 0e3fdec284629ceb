#include "output/output_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include "common/fd.hpp"
#include "common/stop.hpp"

namespace qvvcard {
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
    ClearPendingName();
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
  // An anonymous file cannot replace another directly: named first.
  if (mode_ == TempMode::Anonymous) temp_name_ = NameAnonymousTemp(fd_, dirfd_, "out", path);
  if (renameat(dirfd_, temp_name_.c_str(), dirfd_, dest_.name.c_str()) != 0) {
    ThrowErrno("cannot write " + path);
  }
  temp_name_.clear();
  ClearPendingName();
  if (fsync(dirfd_) != 0) ThrowErrno("cannot write " + path);
  delivered_ = cards_;
}

}  // namespace qvvcard
