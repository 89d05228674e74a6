#pragma once

#include <spdlog/common.h>

namespace quarn::platform {

// Returns the console sink for standard output (or standard error), serialised by spdlog's console
// mutex. In automatic mode it colours only when its stream is a terminal; with allowColour false it
// never colours.
spdlog::sink_ptr makeConsoleSink(bool allowColour, bool standardError = false);

}  // namespace quarn::platform
