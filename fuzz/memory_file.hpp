// A fuzz input as a file: memory-backed, positioned at its start, for the
// targets whose readers take a descriptor.
#ifndef QV_VCARD_FUZZ_MEMORY_FILE_HPP
#define QV_VCARD_FUZZ_MEMORY_FILE_HPP

#include <sys/mman.h>
#include <unistd.h>

#include <string_view>

#include "fuzz_input.hpp"

namespace qv_fuzz {

class MemoryFile {
 public:
  explicit MemoryFile(std::string_view data) : fd_(memfd_create("qv_fuzz_input", 0)) {
    FUZZ_CHECK(fd_ >= 0, "memfd_create");
    for (std::size_t done = 0; done < data.size();) {
      const ssize_t n = write(fd_, data.data() + done, data.size() - done);
      FUZZ_CHECK(n > 0, "write");
      done += static_cast<std::size_t>(n);
    }
    lseek(fd_, 0, SEEK_SET);
  }
  ~MemoryFile() { close(fd_); }
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
};

}  // namespace qv_fuzz

#endif
