#include "platform/environment.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sched.h>

#include <cstdlib>

namespace quarn::platform {

const CommandDialect kCommandDialect = CommandDialect::PosixShell;

std::optional<std::string> environmentVariable(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

std::vector<std::string> commandLineArguments(int argc, char** argv) {
  return argc > 1 ? std::vector<std::string>(argv + 1, argv + argc) : std::vector<std::string>();
}

std::optional<std::filesystem::path> userDataHome() {
  const char* xdg = std::getenv("XDG_DATA_HOME");
  if (xdg != nullptr && xdg[0] == '/') return std::filesystem::path(xdg);
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] != '\0') return std::filesystem::path(home) / ".local" / "share";
  return std::nullopt;
}

std::string dataDirectory() {
  // u8path: on Windows a plain std::string is read in the ANSI code page, which cannot spell a
  // user's name in most scripts.
  if (const std::optional<std::string> appData = environmentVariable("APPDATA")) {
    return (std::filesystem::u8path(*appData) / "Quarn").u8string();
  }
  if (auto dataHome = userDataHome()) return (*dataHome / "Quarn").u8string();
  return ".quarn";
}

std::vector<std::string> searchPathDirectories() {
  std::string path;
  if (const char* env = std::getenv("PATH")) {
    path = env;
  } else {
    const size_t size = ::confstr(_CS_PATH, nullptr, 0);
    if (size > 0) {
      path.resize(size);
      ::confstr(_CS_PATH, path.data(), size);
      path.resize(size - 1);  // confstr counts the terminating NUL
    }
  }
  std::vector<std::string> directories;
  size_t start = 0;
  for (;;) {
    const size_t colon = path.find(':', start);
    directories.push_back(path.substr(start, colon - start));
    if (colon == std::string::npos) break;
    start = colon + 1;
  }
  return directories;
}

std::string findExecutableIn(const std::string& name, const std::vector<std::string>& directories) {
  if (name.empty()) return {};
  std::string candidate;
  for (const std::string& directory : directories) {
    candidate.assign(directory.empty() ? "." : directory);
    if (candidate.back() != '/') candidate += '/';
    candidate += name;
    struct stat info {};
    if (::stat(candidate.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) continue;
    if (::faccessat(AT_FDCWD, candidate.c_str(), X_OK, AT_EACCESS) == 0) return candidate;
  }
  return {};
}

bool isExecutableIn(const std::string& name, const std::vector<std::string>& directories) {
  return !findExecutableIn(name, directories).empty();
}

bool isOnSearchPath(const std::string& name) {
  return isExecutableIn(name, searchPathDirectories());
}

unsigned availableProcessors() {
#if defined(__linux__)
  cpu_set_t set;
  CPU_ZERO(&set);
  if (::sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) {
    return static_cast<unsigned>(CPU_COUNT(&set));
  }
#endif
  const long online = ::sysconf(_SC_NPROCESSORS_ONLN);
  return online > 0 ? static_cast<unsigned>(online) : 1;
}

}  // namespace quarn::platform
