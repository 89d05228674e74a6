#pragma once

#include <optional>
#include <string>

namespace quarn {

// What quarn needs to know of a package.json.
struct PackageJson {
  bool isObject = false;  // the file was read and holds a JSON object; nothing else is known if not
  std::optional<std::string> packageManager;  // the "packageManager" field, when it is a string
  bool declaresDependencies = false;  // a non-empty "dependencies" or "devDependencies" object
  bool hasScripts = false;            // a "scripts" object
  bool hasBuildScript = false;
  bool hasCleanScript = false;
  bool hasTestScript = false;
  std::string testScript;  // the test script's text, when it is a string
};

// Reads the package.json at `path`. A file that is missing, not a regular file, larger than a few
// MiB, unreadable or not a JSON object gives isObject false: the package manager reports such a
// file far better than quarn could.
PackageJson readPackageJson(const std::string& path);

}  // namespace quarn
