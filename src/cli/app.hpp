#pragma once

namespace quarn::cli {

// Exit statuses of the program.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

// Writes the two banner lines to standard output.
void printBanner();

// Writes the usage text to standard output; it ends with an empty line.
void printUsage();

// Runs one command line: `quarn [command] [path]`. Returns the process exit status: 0 when the
// command did what was asked, 1 when it failed or an error escaped it, 2 for an unknown command
// word, or a build's own interrupt status (130).
int run(int argc, char** argv);

}  // namespace quarn::cli
