#include <gtest/gtest.h>

#include "installs.h"

TEST(Installs, ModuleStartsAndStops) {
  installs_start();
  installs_stop();
}
