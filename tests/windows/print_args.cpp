// Prints each argument after its own name on a line of its own, between brackets, to show how
// a command line reached a program.
#include <cstdio>

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) std::printf("[%s]\n", argv[i]);
  return 0;
}
