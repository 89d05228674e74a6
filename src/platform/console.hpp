#pragma once

#include <spdlog/common.h>

namespace quarn::platform {

// Returns the console sink for standard output, serialised by spdlog's console mutex. In automatic
// mode it colours only when standard output is a terminal; with allowColour false it never colours.
spdlog::sink_ptr makeConsoleSink(bool allowColour);

}  // namespace quarn::platform
