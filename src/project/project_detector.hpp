#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "project/kinds.hpp"
#include "project/project_type.hpp"

namespace quarn {

// The kind a folder's markers decide, and the marker that decided it.
struct Detection {
  ProjectType type = ProjectType::Unknown;
  const Kind* kind = nullptr;  // null when no marker matched
  std::string marker;          // the name tested, or the entry of the listing that matched
};

// A project in a subfolder: its path from the folder asked about ("docs/site"), and its kind.
struct ProjectBelow {
  std::string path;
  const Kind* kind = nullptr;
};

// Maps a folder to its kind of project by the marker files it holds, and to how it is built.
// Stateless.
class ProjectDetector {
 public:
  // Returns the configuration of `type` as the kind table gives it, before any evidence of a
  // folder; Unknown (and any value out of range) gives tool and language "unknown" and an empty
  // command.
  BuildConfig getConfigForType(ProjectType type) const;

  // Returns the display name of `type`, such as "C++ (CMake)"; "Unknown" for values out of range.
  std::string getTypeName(ProjectType type) const;

  // Returns the kind of project in `path`, Unknown when no marker matches, including for a
  // missing folder or a file. Kinds are tried in the kind table's order, and each kind's markers
  // in theirs; the first match wins. A marker matches when the path joined with its name exists
  // (links followed) or when an entry of the folder has its name; ".csproj" and ".sln" also match
  // any entry whose name contains them in all lower or all upper case, ".cabal" any entry whose
  // name ends in it, and "configure" only as an executable file. The folder is listed at most
  // once.
  // Throws std::filesystem::filesystem_error when a test or the listing fails for a reason other
  // than "not found".
  ProjectType detect(const std::string& path) const;
  Detection detectMarker(const std::string& path) const;

  // The projects in the subfolders of `path`, two levels down at most, in name order: a folder
  // that is a project is not looked into. Hidden folders, links and folders of others' code
  // (node_modules, vendor) are left out. Cheap and never failing: it stops at `limit` projects,
  // looks at a bounded number of entries and folders, and a folder that cannot be read holds none.
  std::vector<ProjectBelow> projectsBelow(const std::string& path, std::size_t limit = 5) const;

  // The plan for building the project in `path`: the detected kind, refined by the evidence the
  // folder holds (wrapper scripts, lockfiles, package.json, a virtual environment).
  BuildConfig getBuildConfig(const std::string& path) const;
};

}  // namespace quarn
