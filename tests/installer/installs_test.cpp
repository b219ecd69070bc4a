#include <gtest/gtest.h>

#include "installs.h"
#include "plat_path_map.h"
#include "qlm_platform.h"
#include "qlm_platform_file.h"
#include "qlm_platform_file_io.h"

TEST(Installs, StartMakesTheProgramFolderCurrent) {
  const std::string before = plat::current_dir();
  installs_start();
  EXPECT_EQ(gProgramFolder, cFileName(param_str(0)).Path());
  EXPECT_EQ(plat::current_dir() + "\\", gProgramFolder);
  installs_stop();
  EXPECT_TRUE(gProgramFolder.empty());
  ASSERT_TRUE(dir_set_current(before));
}
