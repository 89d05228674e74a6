#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/process.hpp"

namespace quarn {

// Receives one chunk of a command's standard output: at most 255 bytes, ending at a line feed
// unless the line was longer or was the last one. Bytes of value 0 pass through.
using OutputCallback = std::function<void(std::string_view chunk)>;

// Runs external command lines through the platform's command processor.
class CommandRunner {
 public:
  static constexpr size_t kChunkSize = 255;

  // Runs `command` unchanged in `workingDirectory` (empty: quarn's own), with `environment` added
  // to quarn's, and waits for it. Without a callback the command writes straight to quarn's
  // standard output, so a build tool sees the terminal. With one, its standard output is read in
  // chunks, each echoed to quarn's standard output and then handed to the callback. The status is
  // 0 when the command succeeded, its exit code when it failed, 128 + N when signal N ended it,
  // and -1 with the reason when the command processor could not be started.
  platform::ProcessStatus run(const std::string& command, OutputCallback onOutput = {},
                              const std::string& workingDirectory = {},
                              const platform::EnvironmentOverrides& environment = {}) const;
};

// Returns the whole seconds between two steady-clock readings, truncated toward zero.
inline std::int64_t elapsedWholeSeconds(std::chrono::steady_clock::time_point start,
                                        std::chrono::steady_clock::time_point end) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(end - start).count() / 1'000'000'000;
}

}  // namespace quarn
