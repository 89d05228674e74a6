#include "platform/console.hpp"

#include <spdlog/sinks/ansicolor_sink.h>

namespace quarn::platform {

spdlog::sink_ptr makeConsoleSink(bool allowColour, bool standardError) {
  const spdlog::color_mode mode =
      allowColour ? spdlog::color_mode::automatic : spdlog::color_mode::never;
  if (standardError) return std::make_shared<spdlog::sinks::ansicolor_stderr_sink_mt>(mode);
  return std::make_shared<spdlog::sinks::ansicolor_stdout_sink_mt>(mode);
}

}  // namespace quarn::platform
