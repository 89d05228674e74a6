#include <stdio.h>

int main(void) {
  puts("Hello from an Autotools project");
  return 0;
}
