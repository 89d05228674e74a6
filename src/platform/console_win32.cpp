#include <windows.h>

#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

#include <spdlog/details/console_globals.h>
#include <spdlog/pattern_formatter.h>
#include <spdlog/sinks/sink.h>

#include "platform/console.hpp"
#include "platform/system_win32.hpp"

namespace quarn::platform {

namespace {

// Writes records to a console as UTF-16, which shows every character whatever the console's code
// page (spdlog's own console sink hands the console UTF-8 bytes, which it reads in its code
// page), and to a file or a pipe as the UTF-8 bytes they are. Colours as spdlog's does.
class ConsoleSink final : public spdlog::sinks::sink {
 public:
  ConsoleSink(HANDLE handle, bool allowColour)
      : handle_(handle), mutex_(spdlog::details::console_mutex::mutex()) {
    DWORD mode = 0;
    console_ = handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE &&
               ::GetConsoleMode(handle_, &mode) != 0;
    colour_ = allowColour && console_;
  }

  void log(const spdlog::details::log_msg& message) override {
    if (handle_ == nullptr || handle_ == INVALID_HANDLE_VALUE) return;
    const std::lock_guard<std::mutex> lock(mutex_);
    message.color_range_start = 0;
    message.color_range_end = 0;
    spdlog::memory_buf_t formatted;
    formatter_->format(message, formatted);
    const std::string_view text(formatted.data(), formatted.size());
    if (!colour_ || message.color_range_end <= message.color_range_start) {
      write(text);
      return;
    }
    write(text.substr(0, message.color_range_start));
    CONSOLE_SCREEN_BUFFER_INFO screen{};
    const bool coloured = ::GetConsoleScreenBufferInfo(handle_, &screen) != 0 &&
                          ::SetConsoleTextAttribute(handle_, colourOf(message.level, screen)) != 0;
    write(text.substr(message.color_range_start,
                      message.color_range_end - message.color_range_start));
    if (coloured) ::SetConsoleTextAttribute(handle_, screen.wAttributes);
    write(text.substr(message.color_range_end));
  }

  void flush() override {}

  void set_pattern(const std::string& pattern) override {
    const std::lock_guard<std::mutex> lock(mutex_);
    formatter_ = std::make_unique<spdlog::pattern_formatter>(pattern);
  }

  void set_formatter(std::unique_ptr<spdlog::formatter> formatter) override {
    const std::lock_guard<std::mutex> lock(mutex_);
    formatter_ = std::move(formatter);
  }

 private:
  static WORD colourOf(spdlog::level::level_enum level, const CONSOLE_SCREEN_BUFFER_INFO& screen) {
    WORD foreground = FOREGROUND_RED | FOREGROUND_GREEN | FOREGROUND_BLUE;
    switch (level) {
      case spdlog::level::debug: foreground = FOREGROUND_GREEN | FOREGROUND_BLUE; break;
      case spdlog::level::info: foreground = FOREGROUND_GREEN; break;
      case spdlog::level::warn:
        foreground = FOREGROUND_RED | FOREGROUND_GREEN | FOREGROUND_INTENSITY;
        break;
      case spdlog::level::err:
      case spdlog::level::critical: foreground = FOREGROUND_RED | FOREGROUND_INTENSITY; break;
      default: break;
    }
    return static_cast<WORD>(foreground | (screen.wAttributes & 0xfff0));
  }

  // Nothing is to be done about a write that fails: there is nowhere else to report it.
  void write(std::string_view text) const {
    DWORD written = 0;
    if (text.empty()) return;
    if (console_) {
      const std::wstring wide = toWide(text);
      if (::WriteConsoleW(handle_, wide.data(), static_cast<DWORD>(wide.size()), &written,
                          nullptr)) {
        return;
      }
    }
    ::WriteFile(handle_, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  }

  HANDLE handle_;
  std::mutex& mutex_;
  bool console_ = false;
  bool colour_ = false;
  std::unique_ptr<spdlog::formatter> formatter_ = std::make_unique<spdlog::pattern_formatter>();
};

}  // namespace

spdlog::sink_ptr makeConsoleSink(bool allowColour, bool standardError) {
  // The sink writes to the console handle directly, past the C runtime's buffers; the program's
  // own prints must not wait in them, or they would come out after later records.
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  if (standardError) std::setvbuf(stderr, nullptr, _IONBF, 0);
  return std::make_shared<ConsoleSink>(
      ::GetStdHandle(standardError ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE), allowColour);
}

}  // namespace quarn::platform
