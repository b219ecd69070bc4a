// The one GoogleTest main of every test binary: the sandbox is entered and
// the framework started before any test, and both are undone at the end.
#include <gtest/gtest.h>

#include "qlm_startup.h"
#include "sandbox.h"

namespace {

int g_argc = 0;
char** g_argv = nullptr;

class FrameworkEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    testenv::sandbox_enter();
    framework_start(g_argc, g_argv);
  }
  void TearDown() override {
    framework_stop();
    testenv::sandbox_leave();
  }
};

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  g_argc = argc;
  g_argv = argv;
  ::testing::AddGlobalTestEnvironment(new FrameworkEnvironment);
  return RUN_ALL_TESTS();
}
