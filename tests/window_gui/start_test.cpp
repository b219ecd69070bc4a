// The program's start of the window layer without a display: it falls back
// to the headless backend. Built with the window-system tests, since the
// start-up links GTK, and run without an X server.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

#include "qlm_platform_ui.h"
#include "qlm_ui_start.h"
#include "sandbox.h"
#include "ui_app.h"
#include "ui_controls.h"

using namespace ui;

TEST(UiStart, WithoutADisplayTheHeadlessBackendRuns) {
  testenv::SavedEnv env({"DISPLAY", "WAYLAND_DISPLAY"});
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  ASSERT_TRUE(qlm_ui_start());
  EXPECT_TRUE(qlm_ui_start());  // idempotent
  EXPECT_STREQ(Application->GetBackend().Name(), "headless");
  // Headless there is no screen: the framework's defaults answer.
  EXPECT_EQ(screen_dpi(), 96);
  EXPECT_EQ(screen_width(), 0);
  EXPECT_EQ(screen_height(), 0);
  auto* form = Create<TForm>(nullptr);  // an unowned form is freed by the stop
  auto alive = form->AliveToken();
  qlm_ui_stop();
  EXPECT_FALSE(Started());
  EXPECT_TRUE(alive.expired());
  qlm_ui_stop();  // twice is harmless
}

// A display that is named but cannot be opened: the layer runs headless and
// the reason names the display, so that the program can say why it stops.
TEST(UiStart, ADisplayThatCannotBeOpenedIsNamedInTheReason) {
  testenv::SavedEnv env({"DISPLAY", "WAYLAND_DISPLAY"});
  unsetenv("WAYLAND_DISPLAY");
  setenv("DISPLAY", "qlm-nowhere:4711", 1);
  std::string reason = "stale";
  ASSERT_TRUE(qlm_ui_start(&reason));
  EXPECT_STREQ(Application->GetBackend().Name(), "headless");
  EXPECT_EQ(reason, "the display \"qlm-nowhere:4711\" cannot be opened");
  qlm_ui_stop();
}
