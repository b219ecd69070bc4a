#include <cstdio>

#include "qlm_platform.h"
#include "qlm_startup.h"

int main(int argc, char** argv) {
  framework_start(argc, argv);
  std::printf("Korvane Snaprill 1.31 Installer\n");
  std::printf("The installer window is not built yet: this build contains the framework only.\n");
  std::printf("Program: %s\n", param_str(0).c_str());
  framework_stop();
  return 0;
}
