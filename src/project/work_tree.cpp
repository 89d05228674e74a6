#include "project/work_tree.hpp"

#include <filesystem>
#include <string_view>
#include <system_error>

#include "platform/directory.hpp"

namespace quarn {

namespace fs = std::filesystem;

namespace {

const struct {
  const char* name;
  WorkTree::System system;
} kMarks[] = {{".git", WorkTree::System::Git},
              {".hg", WorkTree::System::Mercurial},
              {".svn", WorkTree::System::Subversion}};

// The path of the repository mark `folder` holds, whatever the entry is; empty when none.
std::string markIn(const fs::path& folder) {
  for (const auto& mark : kMarks) {
    std::error_code error;
    const fs::path path = folder / mark.name;
    if (fs::exists(fs::symlink_status(path, error))) return path.string();
  }
  return {};
}

}  // namespace

std::string absoluteFolder(const std::string& folder) {
  std::error_code error;
  fs::path path = fs::absolute(folder.empty() ? "." : folder, error);
  if (error) return folder;
  path = path.lexically_normal();
  // "/a/b/" normalises to "/a/b/"; its parent walk must start at "/a/b".
  if (path.has_relative_path() && !path.has_filename()) path = path.parent_path();
  return path.string();
}

WorkTree findWorkTree(const std::string& folder) {
  fs::path current = absoluteFolder(folder);
  for (;;) {
    for (const auto& mark : kMarks) {
      std::error_code error;
      if (fs::exists(current / mark.name, error)) return {mark.system, current.string()};
    }
    if (!current.has_relative_path()) return {};
    current = current.parent_path();
  }
}

std::string repositoryWithin(const std::string& folder) {
  const fs::path top(folder);
  std::string found = markIn(top);
  if (!found.empty()) return found;
  try {
    platform::anyEntryName(folder, [&top, &found](std::string_view name) {
      const fs::path entry = top / std::string(name);
      std::error_code error;
      if (fs::symlink_status(entry, error).type() != fs::file_type::directory) return false;
      found = markIn(entry);
      return !found.empty();
    });
  } catch (const fs::filesystem_error&) {
    // A folder that cannot be listed cannot be emptied either; the removal says why.
  }
  return found;
}

}  // namespace quarn
