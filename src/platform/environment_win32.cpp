#include <windows.h>

#include <cstdlib>

#include "platform/environment.hpp"

namespace quarn::platform {

namespace {

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t end = text.find(separator, start);
    parts.push_back(text.substr(start, end - start));
    if (end == std::string::npos) return parts;
    start = end + 1;
  }
}

// The extensions that make a file a program, as the command processor takes them.
std::vector<std::string> executableExtensions() {
  const char* pathExt = std::getenv("PATHEXT");
  std::vector<std::string> extensions;
  for (std::string& extension : split(pathExt != nullptr ? pathExt : ".COM;.EXE;.BAT;.CMD", ';')) {
    if (!extension.empty()) extensions.push_back(std::move(extension));
  }
  return extensions;
}

}  // namespace

// Windows applications keep their data under APPDATA, which is looked at before this.
std::optional<std::filesystem::path> userDataHome() { return std::nullopt; }

// The current folder comes first, as the command processor searches it before PATH.
std::vector<std::string> searchPathDirectories() {
  std::vector<std::string> directories{""};
  if (const char* path = std::getenv("PATH")) {
    for (std::string& entry : split(path, ';')) {
      if (!entry.empty()) directories.push_back(std::move(entry));
    }
  }
  return directories;
}

bool isExecutableIn(const std::string& name, const std::vector<std::string>& directories) {
  if (name.empty()) return false;
  const std::vector<std::string> extensions = executableExtensions();
  std::string candidate;
  for (const std::string& directory : directories) {
    for (const std::string& extension : extensions) {
      candidate.assign(directory.empty() ? "." : directory);
      if (candidate.back() != '\\' && candidate.back() != '/') candidate += '\\';
      candidate += name;
      candidate += extension;
      const DWORD attributes = ::GetFileAttributesA(candidate.c_str());
      if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return true;
      }
    }
  }
  return false;
}

bool isOnSearchPath(const std::string& name) {
  return isExecutableIn(name, searchPathDirectories());
}

}  // namespace quarn::platform
