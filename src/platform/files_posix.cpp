#include "platform/files.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/signals.hpp"
#include "platform/system_posix.hpp"

namespace quarn::platform {

namespace {

bool isMissing(int error) { return error == ENOENT || error == ENOTDIR; }

// Where an open folder lies: its device and, where the system tells, its mount. A bind mount of a
// folder of the same file system keeps the device; only the mount tells it apart.
struct Place {
  dev_t device = 0;
  std::uint64_t mount = 0;  // 0: not known
};

bool placeOf(int fd, Place& place) {
  struct stat info {};
  if (::fstat(fd, &info) != 0) return false;
  place.device = info.st_dev;
  place.mount = 0;
#if defined(STATX_MNT_ID)
  struct statx extended {};
  if (::statx(fd, "", AT_EMPTY_PATH, STATX_MNT_ID, &extended) == 0 &&
      (extended.stx_mask & STATX_MNT_ID) != 0) {
    place.mount = extended.stx_mnt_id;
  }
#endif
  return true;
}

bool samePlace(const Place& a, const Place& b) {
  return a.device == b.device && (a.mount == 0 || b.mount == 0 || a.mount == b.mount);
}

// What became of an entry: gone, kept (a mount point was found in it and left), or failed (the
// reason is in the Removal, and removal ends).
enum class Outcome { Gone, Kept, Failed };

Outcome failed(Removal& removal, const std::string& shown, int error) {
  removal.failedPath = shown;
  removal.error = std::strerror(error);
  return Outcome::Failed;
}

Outcome removeEntry(int parent, const char* name, const std::string& shown, const Place& place,
                    Removal& removal);

// Removes everything in the open folder `dir`, shown as `shown`, which lies at `place`.
Outcome removeContents(int dir, const std::string& shown, const Place& place, Removal& removal) {
  // The listing is read whole before anything goes, so that removing does not disturb it.
  const int listingFd = ::dup(dir);
  if (listingFd < 0) return failed(removal, shown, errno);
  std::unique_ptr<DIR, int (*)(DIR*)> listing(::fdopendir(listingFd), ::closedir);
  if (!listing) {
    const int error = errno;
    ::close(listingFd);
    return failed(removal, shown, error);
  }
  std::vector<std::string> names;
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(listing.get());
    if (entry == nullptr) {
      if (errno != 0) return failed(removal, shown, errno);
      break;
    }
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
      names.emplace_back(entry->d_name);
    }
  }
  listing.reset();
  Outcome outcome = Outcome::Gone;
  for (const std::string& entry : names) {
    std::string path = shown;
    path += '/';
    path += entry;
    switch (removeEntry(dir, entry.c_str(), path, place, removal)) {
      case Outcome::Failed: return Outcome::Failed;
      case Outcome::Kept: outcome = Outcome::Kept; break;
      case Outcome::Gone: break;
    }
  }
  return outcome;
}

// Removes the entry `name` of the open folder `parent`, shown as `shown`; `place` is the
// parent's.
Outcome removeEntry(int parent, const char* name, const std::string& shown, const Place& place,
                    Removal& removal) {
  if (stopSignal() != 0) {
    removal.stopped = true;
    return Outcome::Failed;
  }
  struct stat info {};
  if (::fstatat(parent, name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
    return isMissing(errno) ? Outcome::Gone : failed(removal, shown, errno);
  }
  if (!S_ISDIR(info.st_mode)) {
    if (::unlinkat(parent, name, 0) != 0 && !isMissing(errno)) {
      return failed(removal, shown, errno);
    }
    return Outcome::Gone;
  }
  if (info.st_dev != place.device) {
    removal.mounts.push_back(shown);
    return Outcome::Kept;
  }
  // O_NOFOLLOW: should a link have taken the folder's place meanwhile, it is not followed.
  FileDescriptor dir(::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (dir.get() < 0) return failed(removal, shown, errno);
  // Asked of the open folder, so that what is checked is what is emptied.
  Place inside;
  if (!placeOf(dir.get(), inside)) return failed(removal, shown, errno);
  if (!samePlace(inside, place)) {
    removal.mounts.push_back(shown);
    return Outcome::Kept;
  }
  const Outcome contents = removeContents(dir.get(), shown, inside, removal);
  // A folder that still holds a mount point stays, quietly: the mount point is reported.
  if (contents != Outcome::Gone) return contents;
  if (::unlinkat(parent, name, AT_REMOVEDIR) != 0 && !isMissing(errno)) {
    return failed(removal, shown, errno);
  }
  return Outcome::Gone;
}

// With `cut`, a longer file is read as far as `limit` instead of refused.
FileText readRegular(const std::string& path, std::size_t limit, bool cut) {
  FileText file;
  // O_NONBLOCK: opening a FIFO must not wait for a writer; it is refused below all the same.
  FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (fd.get() < 0) {
    if (isMissing(errno)) {
      struct stat entry {};
      if (errno == ENOENT && ::lstat(path.c_str(), &entry) == 0 && S_ISLNK(entry.st_mode)) {
        file.status = FileText::Status::LinkToNothing;
      }
      return file;
    }
    file.status = FileText::Status::Unreadable;
    file.error = std::strerror(errno);
    return file;
  }
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) {
    file.status = FileText::Status::Unreadable;
    file.error = std::strerror(errno);
    return file;
  }
  if (!S_ISREG(info.st_mode)) {
    file.status = FileText::Status::NotARegularFile;
    return file;
  }
  if (!cut && static_cast<unsigned long long>(info.st_size) > limit) {
    file.status = FileText::Status::TooLarge;
    return file;
  }
  char buffer[65536];
  for (;;) {
    const ssize_t count = ::read(fd.get(), buffer, sizeof buffer);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) {
      file.status = FileText::Status::Unreadable;
      file.error = std::strerror(errno);
      file.text.clear();
      return file;
    }
    if (count == 0) break;
    file.text.append(buffer, static_cast<std::size_t>(count));
    if (cut && file.text.size() >= limit) {
      file.text.resize(limit);
      break;
    }
    if (file.text.size() > limit) {  // it grew while being read
      file.status = FileText::Status::TooLarge;
      file.text.clear();
      return file;
    }
  }
  file.status = FileText::Status::Read;
  return file;
}

}  // namespace

FileText readRegularFile(const std::string& path, std::size_t limit) {
  return readRegular(path, limit, false);
}

FileText readFileStart(const std::string& path, std::size_t limit) {
  return readRegular(path, limit, true);
}

bool isExecutableFile(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
         ::faccessat(AT_FDCWD, path.c_str(), X_OK, AT_EACCESS) == 0;
}

std::filesystem::file_type fileType(const std::string& path, bool followLinks,
                                    std::error_code& error) {
  const std::filesystem::file_type type =
      (followLinks ? std::filesystem::status(path, error)
                   : std::filesystem::symlink_status(path, error))
          .type();
  // std::filesystem reports "not found" as an error too.
  if (type != std::filesystem::file_type::none) error.clear();
  return type;
}

Removal removeTree(const std::string& path) {
  Removal removal;
  const StopSignalScope stopSignals;
  const std::string::size_type slash = path.find_last_of('/');
  const std::string parentPath =
      slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  FileDescriptor parent(::open(parentPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  Place parentPlace;
  if (parent.get() < 0 || !placeOf(parent.get(), parentPlace)) {
    if (isMissing(errno)) return removal;
    removal.complete = false;
    failed(removal, parentPath, errno);
    return removal;
  }
  removal.complete =
      removeEntry(parent.get(), name.c_str(), path, parentPlace, removal) == Outcome::Gone;
  return removal;
}

}  // namespace quarn::platform
