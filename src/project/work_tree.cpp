#include "project/work_tree.hpp"

#include <filesystem>
#include <system_error>

namespace quarn {

namespace fs = std::filesystem;

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
  const struct {
    const char* name;
    WorkTree::System system;
  } kMarks[] = {{".git", WorkTree::System::Git},
                {".hg", WorkTree::System::Mercurial},
                {".svn", WorkTree::System::Subversion}};
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

}  // namespace quarn
