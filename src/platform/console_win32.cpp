#include "platform/console.hpp"

#include <cstdio>

#include <spdlog/sinks/wincolor_sink.h>

namespace quarn::platform {

spdlog::sink_ptr makeConsoleSink(bool allowColour) {
  // The sink writes to the console handle directly, past the C runtime's buffer; the program's
  // own prints must not wait in that buffer, or they would come out after later records.
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  return std::make_shared<spdlog::sinks::wincolor_stdout_sink_mt>(
      allowColour ? spdlog::color_mode::automatic : spdlog::color_mode::never);
}

}  // namespace quarn::platform
