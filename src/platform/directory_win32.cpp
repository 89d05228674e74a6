#include <windows.h>

#include <filesystem>
#include <system_error>

#include "platform/directory.hpp"

namespace quarn::platform {

bool anyEntryName(const std::string& directory,
                  const std::function<bool(std::string_view)>& onName) {
  namespace fs = std::filesystem;
  std::string pattern = directory.empty() ? "." : directory;
  if (pattern.back() != '\\' && pattern.back() != '/' && pattern.back() != ':') pattern += '\\';
  pattern += '*';
  // Names come in the ANSI code page, the encoding of the narrow command line.
  WIN32_FIND_DATAA entry;
  HANDLE find = ::FindFirstFileA(pattern.c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) {
    throw fs::filesystem_error(
        "directory_iterator::directory_iterator", directory,
        std::error_code(static_cast<int>(::GetLastError()), std::system_category()));
  }
  struct Closer {
    HANDLE handle;
    ~Closer() { ::FindClose(handle); }
  } closer{find};
  for (;;) {
    const std::string_view name(entry.cFileName);
    if (name != "." && name != ".." && onName(name)) return true;
    if (!::FindNextFileA(find, &entry)) {
      const DWORD error = ::GetLastError();
      if (error == ERROR_NO_MORE_FILES) return false;
      throw fs::filesystem_error("directory_iterator::operator++", directory,
                                 std::error_code(static_cast<int>(error), std::system_category()));
    }
  }
}

}  // namespace quarn::platform
