// A stand-in program carried by the install container in place of the
// application and of its uninstaller: it says what it is and exits cleanly.
#include <cstdio>

#ifndef STANDIN_NAME
#define STANDIN_NAME "stand-in"
#endif

int main() {
  std::printf("%s\n", STANDIN_NAME);
  return 0;
}
