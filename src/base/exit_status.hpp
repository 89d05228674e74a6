#pragma once

namespace quarn {

// Exit statuses of the program, shared by the front end and the commands.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;
// A build or clean ended by Ctrl-C, as a shell reports it: 128 + SIGINT.
inline constexpr int kExitInterrupted = 130;

}  // namespace quarn
