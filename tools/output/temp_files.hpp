// Files that get their name only when complete: written first under no
// name at all (an anonymous file, on file systems that have them) or under
// a hidden temporary name, which a second stop signal removes. An
// anonymous file disappears by itself however the program ends.
#ifndef QVVCARD_OUTPUT_TEMP_FILES_HPP
#define QVVCARD_OUTPUT_TEMP_FILES_HPP

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace qvvcard {

// Test seams: what the tool's own tests inject to reach paths that the
// outside world produces only rarely. Product code passes NoSeams().
struct WriteSeams {
  // Use hidden temporary names even where anonymous files work.
  bool named_temp_only = false;
  // Called with the descriptor a card is about to be written to.
  std::function<void(int fd, std::string_view card)> before_card;
};
const WriteSeams& NoSeams();

// How files are created before they get their name.
enum class TempMode : std::uint8_t { Anonymous, Named };

// The identity of a file, for telling whether two names are one file.
struct FileId {
  dev_t dev = 0;
  ino_t ino = 0;
  bool operator==(const FileId&) const = default;
};
std::optional<FileId> IdOf(int fd);

// Writes all of data to fd; a stop request cuts a blocked write short
// (Stopped). what names the destination in the error.
void WriteAll(int fd, std::string_view data, const std::string& what);

// Opens a folder for the calls below. Throws std::system_error.
int OpenDirectory(const std::string& path);
// An anonymous file in dirfd, or -1 (errno set).
int OpenAnonymous(int dirfd);
// Gives the anonymous file fd the name `name` in dirfd; -1 with errno
// EEXIST when the name is taken.
int LinkAnonymous(int fd, int dirfd, const std::string& name);
// Gives the anonymous file fd a hidden name of its own in dirfd (tag tells
// whose: ".qvvcard-PID-TAGN.tmp"), registered for removal on a second stop
// signal, and returns it: so named, it can replace another file by a
// rename. Throws std::system_error, saying "cannot write " + what.
std::string NameAnonymousTemp(int fd, int dirfd, std::string_view tag, const std::string& what);
// Whether anonymous files work in dirfd (tried once).
TempMode ChooseMode(int dirfd, const WriteSeams& seams);
// Creates a hidden file of a fresh name in dirfd (name receives it) and
// registers it for removal on a second stop signal.
int CreateNamedTemp(int dirfd, std::string& name, const std::string& folder);
// Moves the temporary file `from` to `to` unless `to` is taken (-1 with
// errno EEXIST then).
int RenameNoReplace(int dirfd, const std::string& from, const std::string& to);

// dir/name, and the folder and last component of a path ("." for a bare
// name).
std::string Join(const std::string& dir, const std::string& name);
std::pair<std::string, std::string> Split(const std::string& path);

}  // namespace qvvcard

#endif
