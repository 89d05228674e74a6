// Prints each argument after its own name on a line of its own, between brackets, to show how
// a command line reached a program: as quarn reads its own (UTF-8, from the wide command line).
// Should the C runtime's narrow argv read a plain ASCII argument otherwise, that is shown too.
#include <cstdio>
#include <string>
#include <vector>

#include "platform/environment.hpp"

int main(int argc, char** argv) {
  const std::vector<std::string> arguments = quarn::platform::commandLineArguments(argc, argv);
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    std::printf("[%s]\n", argument.c_str());
    bool ascii = true;
    for (const char c : argument) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    const int narrow = static_cast<int>(i) + 1;
    if (ascii && (narrow >= argc || argument != argv[narrow])) {
      std::printf("[the C runtime read: %s]\n", narrow < argc ? argv[narrow] : "nothing");
    }
  }
  if (static_cast<int>(arguments.size()) != argc - 1) std::printf("[argc %d]\n", argc);
  return 0;
}
