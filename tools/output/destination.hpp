// Where all cards go when they go into one output (-o PATH).
#ifndef QVVCARD_OUTPUT_DESTINATION_HPP
#define QVVCARD_OUTPUT_DESTINATION_HPP

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>

#include "output/temp_files.hpp"

namespace qvvcard {

struct Destination {
  enum class Kind : std::uint8_t {
    Replace,  // a regular file (or none yet): written anew, then renamed over it
    Stream,   // standard output, a device, a FIFO, a descriptor: written directly
  };
  Kind kind = Kind::Stream;
  std::string shown;    // as the user named it, for messages
  std::string folder;   // Replace: the folder of the file, links followed
  std::string name;     // Replace: its name there
  bool exists = false;  // Replace: a file is there now
  mode_t mode = 0;      // Replace, exists: what the new file keeps of it
  uid_t uid = 0;
  gid_t gid = 0;
  int fd = -1;  // Stream: the descriptor (owned unless standard output)
  bool owns_fd = false;
  std::optional<FileId> id;  // the file written to, when it exists
};

// Finds out what PATH names ("-" is standard output): a symbolic link is
// followed to its target; /dev/stdout, /dev/fd/N and /proc/self/fd/N are the
// descriptors they stand for. Throws std::system_error.
Destination Resolve(const std::string& path);

}  // namespace qvvcard

#endif
