// The installer window on the GTK backend under a private X server (run
// through xvfb-run by CTest), driven with xdotool: the introduction, the
// agreement, the options page, the installation into the sandbox and the
// finish page. What is on screen on pages 1, 3 and 5 equals the window's
// back buffer.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "form_install.h"
#include "gui_support.h"
#include "installs_container.h"
#include "installs_settings.h"
#include "kvn_button.h"
#include "kvn_checkbox.h"
#include "kvn_cursors.h"
#include "qlm_base_lists.h"
#include "qlm_renderer_ids.h"
#include "ui_app.h"
#include "ui_gtk.h"
#include "win_interfaces.h"

extern "C" const uint8_t qlm_wizard_gui_install_data[];
extern "C" const uint64_t qlm_wizard_gui_install_data_size;

using namespace ui;
using guitest::Pump;
using guitest::Screenshot;

namespace {

// Clicks the middle of a control (or a point at its left) through the X
// server.
void XClick(TControl* c, bool atLeft = false) {
  const TRect r = c->FormRect();
  const TPoint p =
      c->ParentForm()->ClientToScreen({atLeft ? r.Left + 8 : (r.Left + r.Right) / 2, (r.Top + r.Bottom) / 2});
  const std::string cmd = "xdotool mousemove " + std::to_string(p.X) + " " + std::to_string(p.Y) + " click 1";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
}

// The client area on screen against the back buffer, with the pointer away
// from the window (no hover animation): the banner, the panels and the
// viewer down to the bottom of the viewer's panel, and the bottom bar. The
// options page's caption and edit box between them are native widgets laid
// over the canvas, so not in the back buffer.
int ScreenMismatches(TFormInstall* form) {
  EXPECT_EQ(std::system("xdotool mousemove 1020 760"), 0);
  Pump([] { return false; }, 400);
  const TPoint o = form->ClientToScreen({0, 0});
  const int w = form->ClientWidth();
  const int bands[2][2] = {{0, form->Panel2->Top() + form->Panel2->Height() + 10},
                           {form->Panel3->Top(), form->ClientHeight()}};
  int mismatches = 0;
  for (const auto& band : bands) {
    const int h = band[1] - band[0];
    const std::vector<uint8_t> shot = Screenshot(Bounds(o.X, o.Y + band[0], w, h));
    if (shot.size() != size_t(w) * size_t(h) * 3) return -1;
    mismatches += guitest::Mismatches(shot, form->BackBuffer(), 0, band[0], w, h);
  }
  return mismatches;
}

}  // namespace

TEST(GuiInstaller, TheWizardInstallsIntoTheSandboxAndShowsWhatItDraws) {
  const char* display = std::getenv("DISPLAY");
  if (!display || !*display) GTEST_SKIP() << "no X display (run through xvfb-run)";
  auto backend = GtkBackend::Create();
  if (!backend) GTEST_SKIP() << "GTK cannot open the display";
  Start(std::move(backend));
  qlm_renderer_start();
  controls_register_pictures();
  ASSERT_NE(
      resource_register(cnInstallDataName, qlm_wizard_gui_install_data, int32_t(qlm_wizard_gui_install_data_size)),
      nullptr);
  cursors_load();
  install_settings_reset();
  form_install_globals_reset();
  form_install_window_globals_reset();
  {
    auto* form = Application->CreateForm<TFormInstall>();
    std::vector<std::string> started;
    form->RunProgram = [&](const std::string& path) {
      started.push_back(path);
      return true;
    };
    form->Show();
    ASSERT_TRUE(Pump([&] { return form->IsForeground(); })) << "the window never came to the front";
    EXPECT_EQ(form->Page(), 1);
    EXPECT_EQ(ScreenMismatches(form), 0) << "page 1";

    XClick(form->KVNButton2);
    ASSERT_TRUE(Pump([&] { return form->Page() == 2; }));
    XClick(form->PageCheckBox, true);
    ASSERT_TRUE(Pump([&] { return form->PageCheckBox->Checked(); }));
    XClick(form->KVNButton2);
    ASSERT_TRUE(Pump([&] { return form->Page() == 3; }));
    EXPECT_EQ(ScreenMismatches(form), 0) << "page 3";

    XClick(form->KVNButton2);
    ASSERT_TRUE(Pump([&] { return form->Page() == 5; }, 60000)) << "page " << int(form->Page());
    EXPECT_TRUE(form->InstallSucceeded());
    EXPECT_EQ(ScreenMismatches(form), 0) << "page 5";
    XClick(form->FinishButton);
    EXPECT_TRUE(Pump([&] { return Application->Terminated(); }));
    EXPECT_EQ(started, std::vector<std::string>{gAppPath});
  }
  Stop();
}
