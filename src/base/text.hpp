#pragma once

#include <string>
#include <string_view>

namespace quarn {

// Returns `text` with every control character shown as an escape (\n, \r, \t, \x1b, \u0085), so
// that a folder name or a tool's output cannot forge a log line or drive the terminal. Printable
// text, UTF-8 and bytes that are not UTF-8 but cannot control a terminal pass unchanged.
std::string escapeControls(std::string_view text);

}  // namespace quarn
