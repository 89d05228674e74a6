#include <windows.h>

#include <shellapi.h>

#include <bitset>
#include <cstring>

#include "platform/environment.hpp"
#include "platform/system_win32.hpp"

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
  const std::optional<std::string> pathExt = environmentVariable("PATHEXT");
  std::vector<std::string> extensions;
  for (std::string& extension : split(pathExt.value_or(".COM;.EXE;.BAT;.CMD"), ';')) {
    if (!extension.empty()) extensions.push_back(std::move(extension));
  }
  return extensions;
}

bool endsWithIgnoringCase(const std::string& text, const std::string& end) {
  return text.size() > end.size() &&
         ::_stricmp(text.c_str() + text.size() - end.size(), end.c_str()) == 0;
}

bool isFile(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesW(systemPath(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace

std::optional<std::string> environmentVariable(const std::string& name) {
  const std::wstring wideName = toWide(name);
  std::wstring value(256, L'\0');
  for (;;) {
    ::SetLastError(ERROR_SUCCESS);
    const DWORD size =
        ::GetEnvironmentVariableW(wideName.c_str(), value.data(), static_cast<DWORD>(value.size()));
    if (size == 0) {
      // Set to the empty text, the variable still counts as set.
      if (::GetLastError() == ERROR_SUCCESS) return std::string();
      return std::nullopt;
    }
    if (size < value.size()) {
      value.resize(size);
      return toUtf8(value);
    }
    value.resize(size);  // the size asked for counts the closing NUL
  }
}

std::vector<std::string> commandLineArguments(int argc, char** argv) {
  int count = 0;
  wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (wide == nullptr) {
    return argc > 1 ? std::vector<std::string>(argv + 1, argv + argc) : std::vector<std::string>();
  }
  std::vector<std::string> arguments;
  for (int i = 1; i < count; ++i) arguments.push_back(toUtf8(wide[i]));
  ::LocalFree(wide);
  return arguments;
}

// Windows applications keep their data under APPDATA, which is looked at before this.
std::optional<std::filesystem::path> userDataHome() { return std::nullopt; }

std::string dataDirectory() {
  // u8path: on Windows a plain std::string is read in the ANSI code page, which cannot spell a
  // user's name in most scripts.
  if (const std::optional<std::string> appData = environmentVariable("APPDATA")) {
    return (std::filesystem::u8path(*appData) / "Quarn").u8string();
  }
  if (auto dataHome = userDataHome()) return (*dataHome / "Quarn").u8string();
  return ".quarn";
}

// The current folder comes first, as the command processor searches it before PATH.
std::vector<std::string> searchPathDirectories() {
  std::vector<std::string> directories{""};
  if (const std::optional<std::string> path = environmentVariable("PATH")) {
    for (std::string& entry : split(*path, ';')) {
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
