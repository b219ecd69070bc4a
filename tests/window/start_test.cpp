// Screen queries, the pointer and the scripted dialogs of the headless backend.
#include <gtest/gtest.h>

#include "qlm_platform_ui.h"
#include "sandbox.h"
#include "ui_probe.h"

using namespace ui;

TEST(UiStart, ScreenMonitorsPointerAndDialogs) {
  test::Session s;
  auto& hb = test::Headless();
  hb.SetMonitors({{0, 0, 1920, 1080}, {1920, 0, 3200, 1024}});
  EXPECT_EQ(Screen->MonitorCount(), 2);
  EXPECT_EQ(Screen->Monitors(1).BoundsRect, (TRect{1920, 0, 3200, 1024}));
  EXPECT_EQ(Screen->Width(), 3200);
  EXPECT_EQ(Screen->Height(), 1080);
  EXPECT_THROW(Screen->Monitors(2), std::out_of_range);

  auto* form = Create<TForm>(Application);
  form->SetBounds(100, 50, 200, 100);
  form->Show();
  TPoint p = form->ClientToScreen({5, 6});
  EXPECT_EQ(p, (TPoint{105, 56}));
  test::MouseMove(form, 5, 6);
  EXPECT_EQ(Mouse->CursorPos(), (TPoint{105, 56}));
  EXPECT_EQ(form->ScreenToClient(Mouse->CursorPos()), (TPoint{5, 6}));

  hb.ScriptFolder(std::string("C:\\Games"));
  hb.ScriptFolder(std::nullopt);
  std::string path = "unchanged";
  EXPECT_TRUE(BrowseFolder("Pick", "C:\\", true, path));
  EXPECT_EQ(path, "C:\\Games");
  EXPECT_FALSE(BrowseFolder("Pick", "C:\\", false, path));
  EXPECT_EQ(path, "C:\\Games");
  ASSERT_EQ(hb.FolderAsked().size(), 2u);
  EXPECT_EQ(hb.FolderAsked()[0].Title, "Pick");
  EXPECT_TRUE(hb.FolderAsked()[0].AllowNew);
  EXPECT_THROW(BrowseFolder("Pick", "", true, path), std::runtime_error);  // nothing scripted
  TPageSetup setup;
  hb.ScriptPageSetup(TPageSetup{"Office", "A4", true});
  EXPECT_TRUE(PageSetupDialog(setup));
  EXPECT_TRUE(setup.Landscape);
}
