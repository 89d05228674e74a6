#include "project/work_tree.hpp"

#include <filesystem>
#include <system_error>

#include "platform/files.hpp"

namespace quarn {

namespace fs = std::filesystem;

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
  const struct {
    const char* name;
    WorkTree::System system;
  } kMarks[] = {{".git", WorkTree::System::Git},
                {".hg", WorkTree::System::Mercurial},
                {".svn", WorkTree::System::Subversion}};
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

}  // namespace quarn
