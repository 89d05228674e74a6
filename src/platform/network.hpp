#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace quarn::platform {

// Returns whether `host` (a name or an address) takes a TCP connection on `port` before
// `deadline`, trying each of its addresses in turn; the connection is closed at once. Name
// resolution is the system's and cannot be cut short here: a caller that must keep a limit runs
// this on a thread of its own and stops waiting for it.
bool acceptsConnection(const std::string& host, std::uint16_t port,
                       std::chrono::steady_clock::time_point deadline);

}  // namespace quarn::platform
