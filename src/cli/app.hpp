#pragma once

namespace quarn::cli {

// Writes the two banner lines to standard output.
void printBanner();

// Writes the usage text to standard output; it ends with an empty line.
void printUsage();

// Runs one command line: `quarn [command] [options] [path] [options] [-- arguments]`. Returns the
// process exit status: 0 when the command did what was asked, 1 when it failed or an error escaped
// it, 2 for an unknown command word or option. A build ended by a signal ends quarn by that signal.
int run(int argc, char** argv);

}  // namespace quarn::cli
