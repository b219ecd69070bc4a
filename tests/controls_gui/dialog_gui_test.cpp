// The wait window and the message dialog on the GTK backend under a private
// X server (run through xvfb-run by CTest): the wait window is on screen
// while the GUI thread blocks without serving the loop, and keys from the
// X server end a modal dialog.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "gui_support.h"
#include "kvn_commons.h"
#include "kvn_form_dlg.h"
#include "kvn_form_wait.h"
#include "qlm_renderer_ids.h"
#include "ui_app.h"
#include "ui_gtk.h"

using namespace ui;

namespace {

class GuiDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) GTEST_SKIP() << "no X display (run through xvfb-run)";
    auto backend = GtkBackend::Create();
    if (!backend) GTEST_SKIP() << "GTK cannot open the display";
    Start(std::move(backend));
    started = true;
    qlm_renderer_start();
    controls_register_pictures();
  }
  void TearDown() override {
    if (started) Stop();
  }
  bool started = false;
};

}  // namespace

TEST_F(GuiDialog, WaitWindowShowsItsTextWhileTheGuiThreadSleeps) {
  TFormWait* wait = wait_show("Waiting for the application to close", nullptr);
  ASSERT_NE(wait, nullptr);
  // Where the heading's caption is drawn, on screen.
  const TPoint at = wait->ClientToScreen({0, 0});
  std::vector<uint8_t> shot;
  std::thread camera([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    shot = guitest::Screenshot(Bounds(at.X, at.Y, 400, 42), "wait");
  });
  // The caller blocks as the installer does, serving nothing.
  std::this_thread::sleep_for(std::chrono::seconds(1));
  camera.join();
  ASSERT_EQ(shot.size(), size_t(400 * 42 * 3)) << "import failed";
  EXPECT_EQ(guitest::Mismatches(shot, wait->BackBuffer(), 0, 0, 400, 42), 0);
  wait->Release();
}

TEST_F(GuiDialog, EscapeAndEnterFromTheServerEndAModalDialog) {
  auto* form = Create<TForm>(Application);
  form->SetBounds(100, 100, 700, 500);
  form->Show();
  ASSERT_TRUE(guitest::Pump([&] { return form->IsForeground(); }));
  struct Row {
    const char* keys;
    uint16_t buttons;
    int32_t defaultResult;
    int32_t result;
  };
  const Row rows[] = {{"Escape", 12, 1, mrCancel}, {"Return", 3, 7, mrNo}, {"Return", 4, 0, mrOk}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.keys);
    // Once the dialog is in front, the keys go to the server; the modal
    // loop reads them.
    auto* timer = new TTimer(form);
    timer->SetInterval(50);
    int sent = 0, ticks = 0;
    timer->SetOnTimer([&](TObject*) {
      TForm* active = Screen->ActiveForm();
      if (dynamic_cast<TFormDlg*>(active) == nullptr) return;
      // A key that never arrives ends the dialog with a result no row wants.
      if (++ticks > 100) active->SetModalResult(mrAbort);
      if (sent != 0 || !active->IsForeground()) return;
      sent = std::system((std::string("xdotool key ") + row.keys).c_str()) == 0 ? 1 : -1;
    });
    const int32_t result = dialog_show(form, 3, "Question", "", "Go on?", row.buttons, 0, 0, form, 1,
                                       row.defaultResult, 0, 0, nullptr, nullptr, nullptr, "");
    TObject::Free(timer);
    EXPECT_EQ(sent, 1);
    EXPECT_EQ(result, row.result);
  }
}
