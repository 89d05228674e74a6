#pragma once

#include <windows.h>

#include <string>

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

// The system's text for `error`, as one line without the closing period, like strerror's.
inline std::string systemMessage(DWORD error) {
  char* text = nullptr;
  const DWORD size =
      ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                           FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK,
                       nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string message = size > 0 && text != nullptr ? std::string(text, size) : std::string();
  if (text != nullptr) ::LocalFree(text);
  while (!message.empty() && (message.back() == ' ' || message.back() == '\r' ||
                              message.back() == '\n' || message.back() == '.')) {
    message.pop_back();
  }
  return message.empty() ? "system error " + std::to_string(error) : message;
}

}  // namespace quarn::platform
