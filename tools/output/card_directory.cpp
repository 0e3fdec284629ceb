#include "output/card_directory.hpp"

#include <dirent.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <functional>

#include "common/fd.hpp"
#include "common/stop.hpp"

namespace qvvcard {

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
    ClearPendingName();
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
  ClearPendingName();
  taken_.Add(name);
  ++saved_;
  hint.proposed.assign(proposed);
  hint.next = number + 1;
  return name;
}

void CardDirectory::Finish() {
  if (syncfs(dirfd_) != 0) ThrowErrno("cannot flush " + path_);
}

}  // namespace qvvcard
