#include <stdio.h>

int main(void) {
  puts("Hello from a Meson project");
  return 0;
}
