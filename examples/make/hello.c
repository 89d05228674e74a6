#include <stdio.h>

int main(void) {
  puts("Hello from a Make project");
  return 0;
}
