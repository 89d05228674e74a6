#include <iostream>

int main() {
  std::cout << "Hello from a CMake project\n";
  return 0;
}
