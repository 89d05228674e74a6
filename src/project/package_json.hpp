#pragma once

#include <optional>
#include <string>
#include <vector>

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

// The names in the object `field` of another JSON manifest ("tasks" of deno.json, "scripts" of
// composer.json), comments allowed as deno.jsonc has them; none when it has no such object.
// nullopt when the file cannot be read as a JSON object, as for readPackageJson.
std::optional<std::vector<std::string>> readManifestKeys(const std::string& path,
                                                         const std::string& field);

}  // namespace quarn
