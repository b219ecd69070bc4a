// The wait window, the message dialog and the print preview on the GTK
// backend under a private X server (run through xvfb-run by CTest): the wait
// window is on screen while the GUI thread blocks without serving the loop,
// keys from the X server end a modal dialog, and a typed font size
// re-renders the preview.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "gui_support.h"
#include "kvn_cursors.h"
#include "kvn_form_dlg.h"
#include "kvn_form_info_print.h"
#include "kvn_form_wait.h"
#include "plat_print_fake.h"
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
    const int32_t result = dialog_show(form, 3, "Question", "", "Go on?", row.buttons, 0, 0, form, 1, row.defaultResult,
                                       0, 0, nullptr, nullptr, nullptr, "");
    TObject::Free(timer);
    EXPECT_EQ(sent, 1);
    EXPECT_EQ(result, row.result);
  }
}

// The print preview over a form: its spin edits keep their designed sizes,
// and typing a font size re-renders the thumbnails, which reach the screen
// as they are in the back buffer.
TEST_F(GuiDialog, PrintPreviewTypedFontSizeReachesTheScreen) {
  plat::print::FakeBackend fake;
  gPrintFontSize = 16;
  auto* owner = Create<TForm>(Application);
  owner->SetBounds(40, 40, 700, 600);
  owner->Show();
  auto* f = Create<TFormInfoPrint>(owner, &fake);
  f->SetDocument(nullptr, "A short agreement.~(p) Second paragraph.~(p) ", "Agreement", false);
  f->SetBounds(60, 60, f->Width(), f->Height());
  f->Show();
  ASSERT_TRUE(guitest::Pump([&] { return f->IsForeground(); }));
  EXPECT_EQ(f->SpinEdit2->Width(), 43);
  EXPECT_EQ(f->SpinEdit2->Height(), 22);
  EXPECT_EQ(f->SpinEdit1->Width(), 45);
  EXPECT_EQ(f->SpinEdit1->Height(), 22);
  TInfoPrintScene* s = f->Scene();
  auto idle = [s] { return !s->HasPendingOrders() && !s->IsBusy(); };
  ASSERT_TRUE(guitest::Pump(idle, 10000));
  const int64_t before = s->FinishedRenders();
  const TPoint edit = f->SpinEdit2->ClientToScreen({10, 11});
  ASSERT_EQ(std::system(("xdotool mousemove " + std::to_string(edit.X) + " " + std::to_string(edit.Y) +
                         " click --repeat 2 1 key ctrl+a type 20")
                            .c_str()),
            0);
  ASSERT_TRUE(guitest::Pump([&] { return gPrintFontSize.load() == 20; }));
  ASSERT_TRUE(guitest::Pump([&] { return idle() && s->FinishedRenders() > before; }, 10000));
  guitest::Pump([] { return false; }, 300);  // the repaint reaches the window
  const TRect r = f->Viewer()->FormRect();
  const TPoint at = f->ClientToScreen({r.Left, r.Top});
  const std::vector<uint8_t> shot = guitest::Screenshot(Bounds(at.X, at.Y, r.Width(), r.Height()), "preview");
  ASSERT_EQ(shot.size(), size_t(r.Width()) * size_t(r.Height()) * 3) << "import failed";
  EXPECT_EQ(guitest::Mismatches(shot, f->BackBuffer(), r.Left, r.Top, r.Width(), r.Height()), 0);
  TObject::Free(f);
  gPrintFontSize = 16;
}
