#include "platform/console.hpp"

#include <cstdio>

#include <spdlog/sinks/wincolor_sink.h>

namespace quarn::platform {

spdlog::sink_ptr makeConsoleSink(bool allowColour, bool standardError) {
  // The sink writes to the console handle directly, past the C runtime's buffers; the program's
  // own prints must not wait in them, or they would come out after later records.
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  const spdlog::color_mode mode =
      allowColour ? spdlog::color_mode::automatic : spdlog::color_mode::never;
  if (standardError) {
    std::setvbuf(stderr, nullptr, _IONBF, 0);
    return std::make_shared<spdlog::sinks::wincolor_stderr_sink_mt>(mode);
  }
  return std::make_shared<spdlog::sinks::wincolor_stdout_sink_mt>(mode);
}

}  // namespace quarn::platform
