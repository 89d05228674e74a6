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

// The first repository of its own that `folder` holds: `folder`'s own .git (.hg, .svn) or one of a
// folder directly inside it, links not followed; the path of that entry, or empty when there is
// none or the folder cannot be listed. Deeper ones are not looked for: those are the clones a
// build makes for itself (CMake's FetchContent in _deps/NAME-src, ExternalProject in
// NAME-prefix/src/NAME).
std::string repositoryWithin(const std::string& folder);

}  // namespace quarn
