#include "cli/logger.hpp"

#include <cstdlib>

#include <spdlog/sinks/sink.h>

#include "platform/console.hpp"

namespace quarn {

namespace {

std::shared_ptr<spdlog::logger>& installed() {
  static std::shared_ptr<spdlog::logger> logger;
  return logger;
}

// NO_COLOR set to anything but the empty text turns colour off.
bool colourAllowed() {
  const char* noColour = std::getenv("NO_COLOR");
  return noColour == nullptr || noColour[0] == '\0';
}

}  // namespace

void Logger::init() {
  spdlog::sink_ptr sink = platform::makeConsoleSink(colourAllowed());
  sink->set_pattern("%^[%l]%$ %v");
  installed() = std::make_shared<spdlog::logger>("quarn", spdlog::sinks_init_list{sink});
  installed()->set_level(spdlog::level::info);
}

std::shared_ptr<spdlog::logger> Logger::get() {
  if (!installed()) init();
  return installed();
}

}  // namespace quarn
