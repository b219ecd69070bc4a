#include <cstdint>
#include <cstdio>

#include "installs.h"
#include "installs_container.h"
#include "qlm_base_lists.h"
#include "qlm_platform.h"
#include "qlm_startup.h"

// The install container, embedded by the build.
extern "C" const uint8_t qlm_install_data[];
extern "C" const uint64_t qlm_install_data_size;

int main(int argc, char** argv) {
  framework_start(argc, argv);
  installs_start();
  // The embedded data blocks, registered under their names before anything
  // looks for them.
  if (qlm_install_data_size > uint64_t(INT32_MAX) ||
      resource_register(cnInstallDataName, qlm_install_data, int32_t(qlm_install_data_size)) == nullptr) {
    std::fprintf(stderr, "The installation data cannot be registered.\n");
    installs_stop();
    framework_stop();
    return 1;
  }
  std::printf("Korvane Snaprill 1.31 Installer\n");
  std::printf("The installer window is not built yet: this build contains the install engine only.\n");
  std::printf("Program: %s\n", param_str(0).c_str());
  installs_stop();
  framework_stop();
  return 0;
}
