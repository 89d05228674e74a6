#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "project/environment.hpp"

namespace quarn {

// What a project folder holds, and the environment a build in it would see, asked without ever
// failing: an entry that cannot be examined is taken as absent. Reads, never writes.
class Folder {
 public:
  explicit Folder(std::string path, const Environment& environment = Environment::system())
      : path_(std::move(path)), environment_(&environment) {}

  const std::string& path() const { return path_; }
  const Environment& environment() const { return *environment_; }

  // `name` (a relative path) inside the folder.
  std::string at(const std::string& name) const;
  bool hasFile(const std::string& name) const;    // a regular file, links followed
  bool hasFolder(const std::string& name) const;  // a folder, links followed
  bool hasEntry(const std::string& name) const;   // anything by that name, a broken link too
  // A program this process may run (on Windows, a file).
  bool hasProgram(const std::string& name) const;
  // The text of the regular file `name`, when it is no larger than `limit`.
  std::optional<std::string> read(const std::string& name,
                                  std::size_t limit = std::size_t{4} << 20) const;
  // The names of the folder's entries, for a rule that must see them all.
  std::vector<std::string> entries() const;
  // The path of the program `name` as a build here finds it on the search path, or empty.
  std::string locate(const std::string& name) const { return environment_->locate(name, path_); }

 private:
  std::string path_;
  const Environment* environment_;
};

}  // namespace quarn
