#include "platform/console.hpp"

#include <spdlog/sinks/ansicolor_sink.h>

namespace quarn::platform {

spdlog::sink_ptr makeConsoleSink(bool allowColour) {
  return std::make_shared<spdlog::sinks::ansicolor_stdout_sink_mt>(
      allowColour ? spdlog::color_mode::automatic : spdlog::color_mode::never);
}

}  // namespace quarn::platform
