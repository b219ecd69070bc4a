// The install engine's module.
#include "installs.h"

#include <csignal>

#include "qlm_platform.h"
#include "qlm_platform_file.h"
#include "qlm_platform_file_io.h"

std::string gProgramFolder;

void installs_start() {
  // A write past the file-size limit must fail as a write (EFBIG, logged as
  // "Error writing to ...") instead of ending the process silently.
  signal(SIGXFSZ, SIG_IGN);
  const std::string self = param_str(0);
  gProgramFolder = self.empty() ? std::string() : cFileName(self).Path();
  if (!gProgramFolder.empty()) dir_set_current(gProgramFolder);
}

void installs_stop() {
  gProgramFolder.clear();
  gProgramFolder.shrink_to_fit();
}
