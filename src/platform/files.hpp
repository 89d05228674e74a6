#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace quarn::platform {

struct FileText {
  // Missing: no entry of that name; LinkToNothing: a symbolic link whose target does not exist.
  enum class Status { Read, Missing, LinkToNothing, NotARegularFile, TooLarge, Unreadable };
  Status status = Status::Missing;
  std::string text;   // the content, when read
  std::string error;  // the system's reason, when unreadable
};

// Reads `path` whole when it is a regular file (links followed) of at most `limit` bytes. Anything
// else (a folder, a FIFO, a device) is reported, never opened for reading, so that it can neither
// block nor be changed by the read.
FileText readRegularFile(const std::string& path, std::size_t limit);

// As readRegularFile, but a longer file gives its first `limit` bytes.
FileText readFileStart(const std::string& path, std::size_t limit);

// Returns whether `path` is a program this process may run: a regular file (links followed) with
// execute permission; on Windows, a file.
bool isExecutableFile(const std::string& path);

// The type of what `path` names, as std::filesystem::status says it (symlink_status when
// `followLinks` is false), for a path of any length: not_found, with `error` clear, when nothing
// is there; none, with the reason in `error`, when it cannot be told. On Windows a link is a
// symbolic link or a junction.
std::filesystem::file_type fileType(const std::string& path, bool followLinks,
                                    std::error_code& error);

struct Removal {
  bool complete = true;             // everything under the path is gone, the path included
  std::string failedPath;           // the first entry that could not be removed
  std::string error;                // and why
  std::vector<std::string> mounts;  // mount points found below, left in place
  bool stopped = false;             // a stop signal arrived (see stopSignal) and removal ended
};

// Removes `path` and everything below it, in-process. Links are removed as links and never
// followed, another file system mounted below is left in place, and read-only files go too. A
// missing path is no error. Removal ends at the first entry that cannot be removed. Each folder is
// opened once and what lies in it is examined, listed and removed through that handle, so that a
// link put in the place of a folder meanwhile is never followed.
Removal removeTree(const std::string& path);

}  // namespace quarn::platform
