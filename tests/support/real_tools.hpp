#pragma once

// Running quarn with the real build tools of this machine on copies of the bundled examples.
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/environment.hpp"
#include "support/test_support.hpp"

namespace quarn::test {

// This process's PATH, with the per-user Cargo folder added where rustup puts cargo.
inline std::string realSearchPath() {
  const char* path = std::getenv("PATH");
  const char* home = std::getenv("HOME");
  std::string result = path != nullptr ? path : "/usr/bin:/bin";
  if (home != nullptr) result += ":" + std::string(home) + "/.cargo/bin";
  return result;
}

inline bool toolAvailable(const std::string& tool) {
  const ScopedEnv path("PATH", realSearchPath());
  return platform::isOnSearchPath(tool);
}

// Real tools keep the user's HOME (their caches and toolchains live there); quarn's own data
// folder goes to the temporary folder.
inline RunOptions realToolOptions(const TempDir& dir) {
  RunOptions options;
  options.cwd = dir.path();
  const char* home = std::getenv("HOME");
  options.env = {{"PATH", realSearchPath()},
                 {"HOME", home != nullptr ? std::optional<std::string>(home) : std::nullopt},
                 {"XDG_DATA_HOME", (dir / "data").string()}};
  return options;
}

// Copies an example into `dir`, leaving out anything an earlier build left in the source tree.
inline void copyExample(const std::string& kind, const TempDir& dir) {
  namespace fs = std::filesystem;
  fs::copy(fs::path(QUARN_SOURCE_DIR) / "examples" / kind, dir / kind, fs::copy_options::recursive);
  for (const char* artefact : {"build", "target", "dist", "hello", "Cargo.lock", "node_modules",
                               "configure", "Makefile.in", "autom4te.cache", ".pytest_cache",
                               "vendor", "composer.lock", "Gemfile.lock", "_build"}) {
    fs::remove_all(dir / kind / artefact);
  }
  if (fs::exists(dir / kind / "Makefile.am")) fs::remove(dir / kind / "Makefile");
}

}  // namespace quarn::test
