#include <windows.h>

#include <filesystem>
#include <system_error>

#include "platform/directory.hpp"
#include "platform/system_win32.hpp"

namespace quarn::platform {

bool anyEntryName(const std::string& directory,
                  const std::function<bool(std::string_view)>& onName) {
  namespace fs = std::filesystem;
  std::string pattern = directory.empty() ? "." : directory;
  if (pattern.back() != '\\' && pattern.back() != '/' && pattern.back() != ':') pattern += '\\';
  pattern += '*';
  WIN32_FIND_DATAW entry;
  HANDLE find = ::FindFirstFileExW(systemPath(pattern).c_str(), FindExInfoBasic, &entry,
                                   FindExSearchNameMatch, nullptr, 0);
  if (find == INVALID_HANDLE_VALUE) {
    throw fs::filesystem_error(
        "directory_iterator::directory_iterator", fs::path(toWide(directory)),
        std::error_code(static_cast<int>(::GetLastError()), std::system_category()));
  }
  struct Closer {
    HANDLE handle;
    ~Closer() { ::FindClose(handle); }
  } closer{find};
  std::string name;
  for (;;) {
    const std::wstring_view wide(entry.cFileName);
    if (wide != L"." && wide != L"..") {
      name = toUtf8(wide);
      if (onName(name)) return true;
    }
    if (!::FindNextFileW(find, &entry)) {
      const DWORD error = ::GetLastError();
      if (error == ERROR_NO_MORE_FILES) return false;
      throw fs::filesystem_error("directory_iterator::operator++", fs::path(toWide(directory)),
                                 std::error_code(static_cast<int>(error), std::system_category()));
    }
  }
}

}  // namespace quarn::platform
