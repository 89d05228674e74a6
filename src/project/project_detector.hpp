#pragma once

#include <string>

#include "project/project_type.hpp"

namespace quarn {

// Maps a folder to its kind of project by the marker files it holds. Stateless.
class ProjectDetector {
 public:
  // Returns the fixed configuration of `type`; Unknown (and any value out of range) gives tool
  // and language "unknown" and an empty command.
  BuildConfig getConfigForType(ProjectType type) const;

  // Returns the display name of `type`, such as "C++ (CMake)"; "Unknown" for values out of range.
  std::string getTypeName(ProjectType type) const;

  // Returns the kind of project in `path`, Unknown when no marker matches, including for a
  // missing folder or a file. Markers are tried in byte order of their names, the first match
  // wins: a marker matches when the path joined with its name exists (links followed) or when
  // an entry of the folder has its name; ".csproj" and ".sln" also match any entry whose name
  // contains them in all lower or all upper case. The folder is listed at most once.
  // Throws std::filesystem::filesystem_error when a test or the listing fails for a reason other
  // than "not found".
  ProjectType detect(const std::string& path) const;

  // getConfigForType(detect(path)).
  BuildConfig getBuildConfig(const std::string& path) const;
};

}  // namespace quarn
