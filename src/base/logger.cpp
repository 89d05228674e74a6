#include "base/logger.hpp"

#include <cstdlib>

#include <fmt/format.h>
#include <spdlog/pattern_formatter.h>
#include <spdlog/sinks/sink.h>

#include "base/text.hpp"
#include "platform/console.hpp"

namespace quarn {

namespace {

struct Installed {
  std::shared_ptr<spdlog::logger> logger;
  std::shared_ptr<spdlog::logger> outcome;
  bool quiet = false;
};

Installed& installed() {
  static Installed state;
  return state;
}

// NO_COLOR set to anything but the empty text turns colour off.
bool colourAllowed() {
  const char* noColour = std::getenv("NO_COLOR");
  return noColour == nullptr || noColour[0] == '\0';
}

// The message text with its control characters escaped (the pattern's "%*").
class EscapedPayload final : public spdlog::custom_flag_formatter {
 public:
  void format(const spdlog::details::log_msg& message, const std::tm& /*time*/,
              spdlog::memory_buf_t& out) override {
    const std::string text =
        escapeControls(std::string_view(message.payload.data(), message.payload.size()));
    out.append(text.data(), text.data() + text.size());
  }
  std::unique_ptr<custom_flag_formatter> clone() const override {
    return std::make_unique<EscapedPayload>();
  }
};

}  // namespace

void Logger::init(bool standardError) {
  spdlog::sink_ptr sink = platform::makeConsoleSink(colourAllowed(), standardError);
  auto formatter = std::make_unique<spdlog::pattern_formatter>();
  formatter->add_flag<EscapedPayload>('*').set_pattern("%^[%l]%$ %*");
  sink->set_formatter(std::move(formatter));
  Installed& state = installed();
  state.logger = std::make_shared<spdlog::logger>("quarn", sink);
  state.outcome = std::make_shared<spdlog::logger>("quarn", sink);
  state.outcome->set_level(spdlog::level::info);
  setQuiet(state.quiet);
}

std::shared_ptr<spdlog::logger> Logger::get() {
  if (!installed().logger) init();
  return installed().logger;
}

std::shared_ptr<spdlog::logger> Logger::outcome() {
  if (!installed().outcome) init();
  return installed().outcome;
}

void Logger::setQuiet(bool quiet) {
  Installed& state = installed();
  state.quiet = quiet;
  if (state.logger) state.logger->set_level(quiet ? spdlog::level::warn : spdlog::level::info);
}

bool Logger::quiet() { return installed().quiet; }

void printBlankLine() {
  if (!Logger::quiet()) fmt::print("\n");
}

}  // namespace quarn
