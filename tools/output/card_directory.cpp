#include "output/card_directory.hpp"

#include <dirent.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <functional>

#include "common/fd.hpp"
#include "common/stop.hpp"

namespace qvvcard {

CardDirectory::CardDirectory(const std::string& path, const WriteSeams& seams, FolderMode mode)
    : path_(path), folder_mode_(mode), seams_(seams) {
  if (mode.dry_run) {
    std::error_code ec;
    if (!std::filesystem::is_directory(path, ec)) return;  // it would be made, empty
  } else {
    std::error_code ec;
    std::filesystem::create_directories(path, ec);
    if (ec) ThrowErrno("cannot make the folder " + path, ec.value());
  }
  dirfd_ = OpenDirectory(path);
  if (!mode.dry_run) mode_ = ChooseMode(dirfd_, seams_);
  // Every name already there, as a case-insensitive file system sees it.
  const int listing = dup(dirfd_);
  DIR* dir = listing >= 0 ? fdopendir(listing) : nullptr;
  if (dir == nullptr) {
    if (listing >= 0) close(listing);
    ThrowErrno("cannot read the folder " + path);
  }
  while (const dirent* e = readdir(dir)) {
    taken_.Add(e->d_name);
    before_.emplace(FoldFileName(e->d_name), e->d_name);
  }
  closedir(dir);
}

CardDirectory::~CardDirectory() {
  if (dirfd_ >= 0) close(dirfd_);
}

int CardDirectory::WriteTemp(std::string_view content, std::string& temp) {
  const int fd =
      mode_ == TempMode::Anonymous ? OpenAnonymous(dirfd_) : CreateNamedTemp(dirfd_, temp, path_);
  if (fd < 0) ThrowErrno("cannot create a file in " + path_);
  try {
    if (seams_.before_card) seams_.before_card(fd, content);
    WriteAll(fd, content, "a card in " + path_);
  } catch (...) {
    close(fd);
    if (!temp.empty()) unlinkat(dirfd_, temp.c_str(), 0);
    ClearPendingName();
    throw;
  }
  return fd;
}

void CardDirectory::ReplaceWith(int fd, std::string& temp, const std::string& name) {
  if (fsync(fd) != 0) ThrowErrno("cannot write " + Join(path_, name));
  // An anonymous file cannot replace another directly: named first.
  if (mode_ == TempMode::Anonymous) temp = NameAnonymousTemp(fd, dirfd_, "r", Join(path_, name));
  if (renameat(dirfd_, temp.c_str(), dirfd_, name.c_str()) != 0) {
    const int err = errno;
    unlinkat(dirfd_, temp.c_str(), 0);
    ClearPendingName();
    ThrowErrno("cannot replace " + Join(path_, name), err);
  }
  ClearPendingName();
}

std::string CardDirectory::Save(std::string_view proposed, std::string_view content) {
  Hint& hint = hints_[std::hash<std::string_view>{}(proposed) % hints_.size()];
  unsigned number = hint.proposed == proposed ? hint.next : 1;
  std::string name, temp;
  UniqueFd fd;
  if (!folder_mode_.dry_run) fd.reset(WriteTemp(content, temp));
  for (;; ++number) {
    name = CardFileName(proposed, number);
    const bool before = before_.contains(FoldFileName(name));
    if (folder_mode_.replace && before && !run_names_.Contains(name)) {
      // A file of before the run: replaced, once.
      name = before_.find(FoldFileName(name))->second;
      if (fd) ReplaceWith(fd.get(), temp, name);
      ++replaced_;
      break;
    }
    if (taken_.Contains(name)) continue;
    if (!fd) break;  // a dry run
    const int rc = mode_ == TempMode::Anonymous ? LinkAnonymous(fd.get(), dirfd_, name)
                                                : RenameNoReplace(dirfd_, temp, name);
    if (rc == 0) break;
    if (errno != EEXIST) {
      const int err = errno;
      if (!temp.empty()) unlinkat(dirfd_, temp.c_str(), 0);
      ClearPendingName();
      ThrowErrno("cannot save " + Join(path_, name), err);
    }
    taken_.Add(name);  // made by someone else meanwhile
  }
  ClearPendingName();
  taken_.Add(name);
  run_names_.Add(name);
  ++saved_;
  // Numbered because the unnumbered name was a file before the run.
  if (number > 1 && !folder_mode_.replace &&
      before_.contains(FoldFileName(CardFileName(proposed, 1)))) {
    ++numbered_;
  }
  hint.proposed.assign(proposed);
  hint.next = number + 1;
  return name;
}

void CardDirectory::Finish() {
  if (dirfd_ >= 0 && !folder_mode_.dry_run && syncfs(dirfd_) != 0) {
    ThrowErrno("cannot flush " + path_);
  }
}

}  // namespace qvvcard
