#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace quarn::platform {

// Closes a kernel handle when it goes out of scope.
class Handle {
 public:
  Handle() = default;
  explicit Handle(HANDLE handle) : handle_(handle) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() { reset(); }
  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  void reset(HANDLE handle = nullptr) {
    if (valid()) ::CloseHandle(handle_);
    handle_ = handle;
  }

 private:
  HANDLE handle_ = nullptr;
};

// quarn's narrow text is UTF-8 and the system's names are UTF-16: every name crosses here, never
// through the ANSI code page, which cannot spell most of them. A malformed sequence becomes
// U+FFFD either way.
inline std::wstring toWide(std::string_view text) {
  if (text.empty()) return {};
  const int length = static_cast<int>(text.size());
  const int size = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
  if (size <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  if (::MultiByteToWideChar(CP_UTF8, 0, text.data(), length, wide.data(), size) != size) return {};
  return wide;
}

inline std::string toUtf8(std::wstring_view text) {
  if (text.empty()) return {};
  const int length = static_cast<int>(text.size());
  const int size =
      ::WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return {};
  std::string narrow(static_cast<std::size_t>(size), '\0');
  if (::WideCharToMultiByte(CP_UTF8, 0, text.data(), length, narrow.data(), size, nullptr,
                            nullptr) != size) {
    return {};
  }
  return narrow;
}

// The absolute form of `path`, as the system resolves it against the current folder; empty when
// it cannot.
inline std::wstring fullPath(const std::wstring& path) {
  std::wstring full(MAX_PATH, L'\0');
  for (;;) {
    const DWORD size =
        ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (size == 0) return {};
    if (size < full.size()) {
      full.resize(size);
      return full;
    }
    full.resize(size);  // the size asked for counts the closing NUL
  }
}

// Paths as long as this or longer are refused by the plain calls (folders get 12 characters
// fewer than MAX_PATH, to leave room for an 8.3 name below them).
constexpr std::size_t kPlainPathLimit = MAX_PATH - 12;

// `path` (UTF-8) as the wide calls take it. One too long for the plain form is made absolute and
// given the \\?\ prefix, which lifts MAX_PATH whatever the system's long path setting says; the
// resolution the prefix turns off ('/' to '\', "." and "..") is done first. Short paths, devices
// ("NUL") and paths that carry a prefix already are left as they are.
inline std::wstring systemPath(std::string_view path) {
  std::wstring wide = toWide(path);
  const auto separator = [&wide](std::size_t i) { return wide[i] == L'\\' || wide[i] == L'/'; };
  if (wide.size() >= 4 && separator(0) && separator(1) && (wide[2] == L'?' || wide[2] == L'.') &&
      separator(3)) {
    return wide;
  }
  const bool absolute = (wide.size() >= 3 && wide[1] == L':' && separator(2)) ||
                        (wide.size() >= 2 && separator(0) && separator(1));
  if (absolute && wide.size() < kPlainPathLimit) return wide;
  const std::wstring full = fullPath(wide);
  if (full.size() < kPlainPathLimit) return wide;
  if (full.size() >= 3 && full[1] == L':' && full[2] == L'\\') return L"\\\\?\\" + full;
  if (full.size() >= 4 && full[0] == L'\\' && full[1] == L'\\' && full[2] != L'?' &&
      full[2] != L'.') {
    return L"\\\\?\\UNC\\" + full.substr(2);  // \\server\share
  }
  return full;
}

// The system's text for `error`, as one line without the closing period, like strerror's.
inline std::string systemMessage(DWORD error) {
  wchar_t* text = nullptr;
  const DWORD size =
      ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                           FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK,
                       nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  // In the user's language, which the ANSI code page may not spell.
  std::string message = size > 0 && text != nullptr ? toUtf8({text, size}) : std::string();
  if (text != nullptr) ::LocalFree(text);
  while (!message.empty() && (message.back() == ' ' || message.back() == '\r' ||
                              message.back() == '\n' || message.back() == '.')) {
    message.pop_back();
  }
  return message.empty() ? "system error " + std::to_string(error) : message;
}

}  // namespace quarn::platform
