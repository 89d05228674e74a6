#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace quarn::platform {

struct FileText {
  enum class Status { Read, Missing, NotARegularFile, TooLarge, Unreadable };
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

struct Removal {
  bool complete = true;             // everything under the path is gone, the path included
  std::string failedPath;           // the first entry that could not be removed
  std::string error;                // and why
  std::vector<std::string> mounts;  // mount points found below, left in place
  bool stopped = false;             // a stop signal arrived (see stopSignal) and removal ended
};

// Removes `path` and everything below it, in-process. Links are removed as links and never
// followed, another file system mounted below is left in place, and read-only files go too. A
// missing path is no error. Removal ends at the first entry that cannot be removed.
Removal removeTree(const std::string& path);

}  // namespace quarn::platform
