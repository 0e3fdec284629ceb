// Test inputs: a string served through a file descriptor.
#ifndef QVVCARD_TESTS_INPUT_HELPER_HPP
#define QVVCARD_TESTS_INPUT_HELPER_HPP

#include <sys/mman.h>
#include <unistd.h>

#include <memory>
#include <stdexcept>
#include <string_view>

#include "input/input_stream.hpp"

namespace qvvcard::testing {

// Holds an in-memory file with the given bytes and a stream over it.
class StringInput {
 public:
  explicit StringInput(std::string_view data, std::size_t buffer_size = 1 << 16)
      : fd_(memfd_create("qvvcard-test", MFD_CLOEXEC)) {
    if (fd_ < 0 || write(fd_, data.data(), data.size()) != static_cast<ssize_t>(data.size()) ||
        lseek(fd_, 0, SEEK_SET) != 0) {
      throw std::runtime_error("cannot prepare the test input");
    }
    stream_ = std::make_unique<InputStream>(fd_, buffer_size);
  }
  ~StringInput() {
    stream_.reset();
    close(fd_);
  }
  InputStream& stream() { return *stream_; }

 private:
  int fd_;
  std::unique_ptr<InputStream> stream_;
};

}  // namespace qvvcard::testing

#endif
