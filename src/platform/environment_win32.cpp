#include <windows.h>

#include <bitset>
#include <cstdlib>
#include <cstring>

#include "platform/environment.hpp"

namespace quarn::platform {

const CommandDialect kCommandDialect = CommandDialect::WindowsCmd;

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

bool endsWithIgnoringCase(const std::string& text, const std::string& end) {
  return text.size() > end.size() &&
         ::_stricmp(text.c_str() + text.size() - end.size(), end.c_str()) == 0;
}

bool isFile(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace

// Windows applications keep their data under APPDATA, which is looked at before this.
std::optional<std::filesystem::path> userDataHome() { return std::nullopt; }

std::string dataDirectory() {
  if (const char* appData = std::getenv("APPDATA")) {
    return (std::filesystem::path(appData) / "Quarn").string();
  }
  if (auto dataHome = userDataHome()) return (*dataHome / "Quarn").string();
  return ".quarn";
}

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

std::string findExecutableIn(const std::string& name, const std::vector<std::string>& directories) {
  if (name.empty()) return {};
  const std::vector<std::string> extensions = executableExtensions();
  // A name that carries a program's extension already ("gradlew.bat") is taken as it is first.
  bool hasExtension = false;
  for (const std::string& extension : extensions) {
    hasExtension = hasExtension || endsWithIgnoringCase(name, extension);
  }
  std::string candidate;
  for (const std::string& directory : directories) {
    std::string base = directory.empty() ? "." : directory;
    if (base.back() != '\\' && base.back() != '/') base += '\\';
    base += name;
    if (hasExtension && isFile(base)) return base;
    for (const std::string& extension : extensions) {
      candidate = base + extension;
      if (isFile(candidate)) return candidate;
    }
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
  DWORD_PTR process = 0;
  DWORD_PTR system = 0;
  if (::GetProcessAffinityMask(::GetCurrentProcess(), &process, &system) && process != 0) {
    return static_cast<unsigned>(std::bitset<sizeof process * 8>(process).count());
  }
  // Both masks are zero when the process has threads in more than one processor group.
  const DWORD all = ::GetActiveProcessorCount(ALL_PROCESSOR_GROUPS);
  return all > 0 ? static_cast<unsigned>(all) : 1;
}

}  // namespace quarn::platform
