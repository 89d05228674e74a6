#pragma once

#include <string>

namespace quarn {

// The version control work tree a folder lies in.
struct WorkTree {
  enum class System { None, Git, Mercurial, Subversion };
  System system = System::None;
  std::string root;  // the folder holding .git (a folder or a file), .hg or .svn
};

// Looks from `folder` up through its parents, nearest first, for the root of a work tree.
WorkTree findWorkTree(const std::string& folder);

// `folder` as an absolute path without "." or ".." components, for walking up its parents.
std::string absoluteFolder(const std::string& folder);

}  // namespace quarn
