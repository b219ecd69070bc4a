// The install engine's module.
#include "installs.h"

#include "qlm_platform.h"
#include "qlm_platform_file.h"
#include "qlm_platform_file_io.h"

std::string gProgramFolder;

void installs_start() {
  const std::string self = param_str(0);
  gProgramFolder = self.empty() ? std::string() : cFileName(self).Path();
  if (!gProgramFolder.empty()) dir_set_current(gProgramFolder);
}

void installs_stop() {
  gProgramFolder.clear();
  gProgramFolder.shrink_to_fit();
}
