#include "base/logger.hpp"

#include <cstdlib>
#include <memory>

#include <fmt/format.h>
#include <spdlog/logger.h>
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

// Writes one record through the installed logger, installing it first when there is none.
void write(bool outcome, spdlog::level::level_enum level, std::string_view message) {
  Installed& state = installed();
  if (!state.logger) Logger::init();
  (outcome ? state.outcome : state.logger)
      ->log(level, spdlog::string_view_t(message.data(), message.size()));
}

}  // namespace

void LogChannel::info(std::string_view message) const {
  write(outcome_, spdlog::level::info, message);
}

void LogChannel::warn(std::string_view message) const {
  write(outcome_, spdlog::level::warn, message);
}

void LogChannel::error(std::string_view message) const {
  write(outcome_, spdlog::level::err, message);
}

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

LogChannel Logger::get() { return LogChannel(false); }

LogChannel Logger::outcome() { return LogChannel(true); }

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
