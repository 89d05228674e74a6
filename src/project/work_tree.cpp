#include "project/work_tree.hpp"

#include <filesystem>
#include <string_view>
#include <system_error>

#include "platform/directory.hpp"
#include "platform/files.hpp"

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
    const fs::file_type type = platform::fileType(path.u8string(), false, error);
    if (type != fs::file_type::none && type != fs::file_type::not_found) return path.u8string();
  }
  return {};
}

}  // namespace

std::string absoluteFolder(const std::string& folder) {
  std::error_code error;
  // u8path: on Windows a plain std::string is read in the ANSI code page.
  fs::path path = fs::absolute(fs::u8path(folder.empty() ? "." : folder), error);
  if (error) return folder;
  path = path.lexically_normal();
  // "/a/b/" normalises to "/a/b/"; its parent walk must start at "/a/b".
  if (path.has_relative_path() && !path.has_filename()) path = path.parent_path();
  return path.u8string();
}

WorkTree findWorkTree(const std::string& folder) {
  fs::path current = fs::u8path(absoluteFolder(folder));
  for (;;) {
    for (const auto& mark : kMarks) {
      std::error_code error;
      const fs::file_type type = platform::fileType((current / mark.name).u8string(), true, error);
      if (type != fs::file_type::none && type != fs::file_type::not_found) {
        return {mark.system, current.u8string()};
      }
    }
    if (!current.has_relative_path()) return {};
    current = current.parent_path();
  }
}

std::string repositoryWithin(const std::string& folder) {
  const fs::path top = fs::u8path(folder);
  std::string found = markIn(top);
  if (!found.empty()) return found;
  try {
    platform::anyEntryName(folder, [&top, &found](std::string_view name) {
      const fs::path entry = top / fs::u8path(std::string(name));
      std::error_code error;
      if (platform::fileType(entry.u8string(), false, error) != fs::file_type::directory) {
        return false;
      }
      found = markIn(entry);
      return !found.empty();
    });
  } catch (const fs::filesystem_error&) {
    // A folder that cannot be listed cannot be emptied either; the removal says why.
  }
  return found;
}

}  // namespace quarn
