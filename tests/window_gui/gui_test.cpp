// The GTK backend on a real X server (run under xvfb-run by CTest): what is
// shown equals the back buffer, input from xdotool reaches our controls and
// the native edit, the real main loop serves modal forms and workers, and
// the framework's screen metrics come from the display.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <future>
#include <iterator>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "qlm_platform_ui.h"
#include "qlm_ui_start.h"
#include "sandbox.h"
#include "ui_app.h"
#include "ui_gtk.h"
#include "ui_spinedit.h"

using namespace ui;

namespace {

class GuiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) GTEST_SKIP() << "no X display (run through xvfb-run)";
    auto backend = GtkBackend::Create();
    if (!backend) GTEST_SKIP() << "GTK cannot open the display";
    gtk = backend.get();
    Start(std::move(backend));
  }
  void TearDown() override { Stop(); }

  // Serves the real loop until pred holds.
  static bool Pump(const std::function<bool()>& pred, int ms = 5000) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
      Application->ProcessMessages();
      if (pred()) return true;
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  static void Settle(int ms) {
    Pump([] { return false; }, ms);
  }
  static int Run(const std::string& cmd) { return std::system(cmd.c_str()); }
  // The screen's pixels in a rectangle, R, G, B per pixel.
  static std::vector<uint8_t> Screenshot(const TRect& r) {
    std::string file = testenv::sandbox_dir("shot") + "/shot.rgb";
    std::string cmd("import -window root -crop ");
    cmd.append(std::to_string(r.Width())).append("x").append(std::to_string(r.Height()));
    cmd.append("+").append(std::to_string(r.Left)).append("+").append(std::to_string(r.Top));
    cmd.append(" -depth 8 rgb:").append(file);
    if (Run(cmd) != 0) return {};
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  GtkBackend* gtk = nullptr;
};

// Four coloured quarters and a one-pixel checker band: a pattern that
// shows any shift or channel swap.
class Pattern : public TCustomControl {
 public:
  using TCustomControl::TCustomControl;
  std::vector<std::string> log;
  void Paint() override {
    int w = Width(), h = Height();
    TColor quarters[] = {RGB(200, 30, 40), RGB(20, 180, 60), RGB(30, 60, 220), RGB(250, 220, 10)};
    for (int i = 0; i < 4; ++i) {
      Canvas().Brush.Color = quarters[i];
      Canvas().FillRect({(i % 2) * w / 2, (i / 2) * h / 2, (i % 2 + 1) * w / 2, (i / 2 + 1) * h / 2});
    }
    for (int x = 0; x < w; ++x) {
      Canvas().Brush.Color = x % 2 ? clBlack : clWhite;
      Canvas().FillRect({x, 0, x + 1, 3});
    }
  }
  intptr_t WmLButtonDown(const TMouseMsg& m) override {
    std::string s("down ");
    s.append(std::to_string(m.X)).append(",").append(std::to_string(m.Y));
    log.push_back(s);
    SetFocus();
    return TCustomControl::WmLButtonDown(m);
  }
  void Click() override { log.push_back("click"); }
  intptr_t WmKeyDown(uint16_t& key, TShiftState shift) override {
    log.push_back("key " + std::to_string(key));
    return TCustomControl::WmKeyDown(key, shift);
  }
  intptr_t WmMouseWheel(const TWheelMsg& m) override {
    log.push_back("wheel " + std::to_string(m.Delta));
    return 1;
  }
  bool Saw(const std::string& s) const { return std::find(log.begin(), log.end(), s) != log.end(); }
};

struct TestForm {
  TForm* form;
  Pattern* pattern;
  TEdit* edit;
  TSpinEdit* spin;
  TLabel* label;
  explicit TestForm(int left, int top) {
    form = Create<TForm>(Application);
    form->SetBorderStyle(bsDialog);
    form->SetBounds(left, top, 320, 200);
    form->SetColor(RGB(90, 90, 90));
    pattern = new Pattern(form);
    pattern->SetParent(form);
    pattern->SetBounds(10, 10, 200, 120);
    pattern->SetTabStop(true);
    pattern->SetCursor(crHandPoint);
    edit = new TEdit(form);
    edit->SetParent(form);
    TFont font;
    font.Name = "Arial";
    font.Height = 14;
    edit->SetFont(font);
    edit->SetBounds(20, 150, 260, 22);
    edit->SetTabOrder(0);
    spin = new TSpinEdit(form);
    spin->SetParent(form);
    spin->SetBounds(220, 10, 43, 22);
    spin->Edit().SetFont(font);
    label = new TLabel(form);
    label->SetParent(form);
    label->SetLeft(20);
    label->SetTop(176);
    font.Style = fsBold;
    label->SetFont(font);
    label->SetCaption("Destination Installation Folder:");
  }
};

}  // namespace

TEST_F(GuiTest, ShownFormIsOnScreenAtOnceAndEqualsItsBackBuffer) {
  TestForm t(50, 60);
  t.form->Show();
  // Nothing pumped since Show: the picture must already be there.
  TRect region = Bounds(50, 60, 320, 140);
  std::vector<uint8_t> shot = Screenshot(region);
  ASSERT_EQ(shot.size(), size_t(320 * 140 * 3)) << "import failed";
  const TBitmap& b = t.form->BackBuffer();
  int mismatches = 0;
  for (int y = 0; y < 140; ++y)
    for (int x = 0; x < 320; ++x) {
      if (x >= 220 && y < 32) continue;  // the spin edit's native entry
      uint32_t want = ColorToRGB(b.Pixel(x, y));
      const uint8_t* p = &shot[(size_t(y) * 320 + size_t(x)) * 3];
      if (p[0] != (want & 0xFF) || p[1] != ((want >> 8) & 0xFF) || p[2] != (want >> 16)) ++mismatches;
    }
  EXPECT_EQ(mismatches, 0);

  // The natives get the control's exact box.
  ASSERT_TRUE(Pump([&] { return gtk->OverlayAllocation(t.edit->Overlay()) == Bounds(20, 150, 260, 22); }))
      << "edit at " << gtk->OverlayAllocation(t.edit->Overlay()).Width() << "x"
      << gtk->OverlayAllocation(t.edit->Overlay()).Height();
  TRect spin_entry = gtk->OverlayAllocation(t.spin->Edit().Overlay());
  EXPECT_EQ(spin_entry, Bounds(220, 10, 30, 22));
  EXPECT_EQ(spin_entry.Width() + TSpinEdit::kArrowWidth, 43);
  EXPECT_EQ(t.spin->Height(), 22);
  // The label took its text's natural size.
  EXPECT_GT(t.label->Width(), 150);
  EXPECT_LT(t.label->Height(), 22);
  EXPECT_TRUE(Pump([&] { return gtk->OverlayAllocation(t.label->Overlay()) == t.label->BoundsRect(); }))
      << t.label->Left() << "," << t.label->Top() << " " << t.label->Width() << "x" << t.label->Height() << " vs "
      << gtk->OverlayAllocation(t.label->Overlay()).Left << "," << gtk->OverlayAllocation(t.label->Overlay()).Top << " "
      << gtk->OverlayAllocation(t.label->Overlay()).Width() << "x"
      << gtk->OverlayAllocation(t.label->Overlay()).Height();
}

TEST_F(GuiTest, ClicksKeysAndTabReachOurControlsAndTheEdit) {
  TestForm t(100, 100);
  int changes = 0;
  t.edit->OnChange = [&](TObject*) { ++changes; };
  t.form->Show();
  ASSERT_TRUE(Pump([&] { return t.form->IsForeground(); })) << "the form never became the foreground window";
  auto at = [&](int x, int y) {
    std::string s(" ");
    s.append(std::to_string(100 + x)).append(" ").append(std::to_string(100 + y));
    return s;
  };

  ASSERT_EQ(Run("xdotool mousemove" + at(30, 20) + " click 1"), 0);
  ASSERT_TRUE(Pump([&] { return t.pattern->Saw("click"); }));
  EXPECT_TRUE(t.pattern->Saw("down 20,10"));
  EXPECT_EQ(gtk->CurrentCursor(t.form->Handle()), crHandPoint);
  // A slot picture becomes the cursor (seen through the backend: screenshots
  // do not show cursors).
  TCursorImage arrow;
  arrow.Pixels.assign(32 * 32, 0);
  for (int i = 0; i < 16; ++i) arrow.Pixels[size_t(i) * 32 + size_t(i / 2)] = 0xFF102030u;
  arrow.HotX = 1;
  arrow.HotY = 2;
  Screen->SetCursors(99, arrow);
  t.pattern->SetCursor(99);
  EXPECT_EQ(gtk->CurrentCursor(t.form->Handle()), 99);
  ASSERT_EQ(Run("xdotool click 5"), 0);
  EXPECT_TRUE(Pump([&] { return t.pattern->Saw("wheel -120"); }));

  // Into the edit: the native widget takes the focus and the typing.
  ASSERT_EQ(Run("xdotool mousemove" + at(60, 160) + " click 1"), 0);
  ASSERT_TRUE(Pump([&] { return t.form->ActiveControl() == t.edit; }));
  ASSERT_EQ(Run("xdotool type --delay 20 'hello'"), 0);
  ASSERT_TRUE(Pump([&] { return t.edit->Text() == "hello"; })) << "edit holds '" << t.edit->Text() << "'";
  EXPECT_EQ(changes, 5);

  // With key preview the form sees Esc before the native edit.
  std::vector<uint16_t> previewed;
  t.form->KeyPreview = true;
  t.form->OnKeyDown = [&](TObject*, uint16_t& key, TShiftState) {
    previewed.push_back(key);
    if (key == VK_ESCAPE) key = 0;
  };
  ASSERT_EQ(Run("xdotool key Escape"), 0);
  EXPECT_TRUE(Pump([&] { return !previewed.empty() && previewed.back() == VK_ESCAPE; }));
  t.form->KeyPreview = false;

  // Tab leaves the native edit for our control; Enter then reaches it.
  ASSERT_EQ(Run("xdotool key Tab"), 0);
  ASSERT_TRUE(Pump([&] { return t.form->ActiveControl() == t.pattern; }));
  ASSERT_EQ(Run("xdotool key Return space Escape Down Right"), 0);
  EXPECT_TRUE(Pump([&] { return t.pattern->Saw("key 13") && t.pattern->Saw("key 32") && t.pattern->Saw("key 27"); }));
  EXPECT_TRUE(Pump([&] { return t.pattern->Saw("key 40") && t.pattern->Saw("key 39"); }));
  EXPECT_EQ(t.form->ActiveControl(), t.pattern);  // arrows did not move the focus
  EXPECT_EQ(t.edit->Text(), "hello");
}

namespace {

class SyncWorker : public TThread {
 public:
  SyncWorker() : TThread(true) {}
  std::thread::id synchronized_on;

 protected:
  void Execute() override {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    Synchronize([this] { synchronized_on = std::this_thread::get_id(); });
  }
};

}  // namespace

TEST_F(GuiTest, ModalFormFromATimerAndAWorkersEndHandlerUnderTheMainLoop) {
  TestForm t(100, 100);
  t.form->Show();
  auto gui = std::this_thread::get_id();
  auto* dlg = Create<TForm>(Application);
  dlg->SetBounds(150, 150, 200, 100);
  TTimer opener(t.form), closer(dlg);
  int modal_result = -1, opener_ticks = 0, closer_ticks = 0;
  bool end_on_gui = false;
  auto* worker = new SyncWorker;
  worker->FreeOnTerminate = true;
  std::thread::id synchronized_on;
  worker->SetOnTerminate(dlg, [&](TObject* sender) {
    end_on_gui = std::this_thread::get_id() == gui;
    synchronized_on = static_cast<SyncWorker*>(sender)->synchronized_on;
  });
  closer.SetEnabled(false);
  closer.SetInterval(300);
  closer.SetOnTimer([&](TObject*) {
    ++closer_ticks;
    if (end_on_gui) dlg->ModalResult = mrOk;
  });
  opener.SetInterval(20);
  opener.SetOnTimer([&](TObject*) {
    ++opener_ticks;
    opener.SetEnabled(false);
    closer.SetEnabled(true);
    worker->Start();
    modal_result = dlg->ShowModal();
  });
  ASSERT_TRUE(Pump([&] { return modal_result != -1; }, 10000));
  EXPECT_EQ(modal_result, mrOk);
  EXPECT_EQ(opener_ticks, 1);
  EXPECT_GE(closer_ticks, 1);
  EXPECT_TRUE(end_on_gui);
  EXPECT_EQ(synchronized_on, gui);
}

// Started through qlm_ui_start, the GTK backend answers the framework's
// screen queries from the display; the stop returns them to the defaults.
// Handlers that free their own form from inside GTK's signal handlers: a
// click, typing into the native edit, a key, and the close box.
TEST_F(GuiTest, FormsFreedByTheirOwnHandlersInsideGtkSignals) {
  for (int how = 0; how < 3; ++how) {
    SCOPED_TRACE(how);
    auto* t = new TestForm(100, 100);
    TForm* form = t->form;
    auto alive = form->AliveToken();
    auto free_form = [form](TObject*) { TObject::Free(form); };
    if (how == 0)
      t->pattern->OnMouseDown = [free_form](TObject* s, TMouseButton, TShiftState, int, int) { free_form(s); };
    if (how == 1) t->edit->OnChange = free_form;
    if (how == 2) {
      form->KeyPreview = true;
      form->OnKeyDown = [free_form](TObject* s, uint16_t&, TShiftState) { free_form(s); };
    }
    form->Show();
    ASSERT_TRUE(Pump([&] { return form->IsForeground(); }));
    if (how == 0) {
      ASSERT_EQ(Run("xdotool mousemove 130 120 click 1"), 0);
    }
    if (how == 1) {
      ASSERT_EQ(Run("xdotool mousemove 160 260 click 1"), 0);
      ASSERT_TRUE(Pump([&] { return form->ActiveControl() == t->edit; }));
      ASSERT_EQ(Run("xdotool type --delay 20 'ab'"), 0);
    }
    if (how == 2) {
      ASSERT_EQ(Run("xdotool key Escape"), 0);
    }
    EXPECT_TRUE(Pump([&] { return alive.expired(); }));
    Settle(100);
    delete t;
  }
}

namespace {

// A control that logs what reaches it and paints itself in one colour
// (again at once after each paint when it animates).
class Recorder : public TCustomControl {
 public:
  Recorder(TForm* form, const TRect& r) : TCustomControl(form) {
    SetParent(form);
    SetBounds(r.Left, r.Top, r.Width(), r.Height());
    SetTabStop(true);
  }
  std::vector<std::string> log;
  TColor Fill = clRed;
  bool Animate = false;
  int Frames = 0;
  bool Saw(const std::string& s) const { return std::find(log.begin(), log.end(), s) != log.end(); }
  std::string Joined() const {
    std::string all;
    for (auto& line : log) all += line + "; ";
    return all;
  }
  void Paint() override {
    ++Frames;
    Canvas().Brush.Color = Fill;
    Canvas().FillRect(ClientRect());
    if (Animate) Invalidate();
  }
  void MouseEnter() override { log.push_back("enter"); }
  void MouseLeave() override { log.push_back("leave"); }
  intptr_t WmMouseMove(const TMouseMsg& m) override { return Note("move", m); }
  intptr_t WmLButtonDown(const TMouseMsg& m) override {
    Note("down", m);
    return TCustomControl::WmLButtonDown(m);
  }
  intptr_t WmLButtonUp(const TMouseMsg& m) override {
    Note("up", m);
    return TCustomControl::WmLButtonUp(m);
  }
  void Click() override {
    log.push_back("click");
    TCustomControl::Click();
  }
  intptr_t WmKeyDown(uint16_t& key, TShiftState shift) override { return Key("down", key, shift); }
  intptr_t WmKeyUp(uint16_t& key, TShiftState shift) override { return Key("up", key, shift); }
  intptr_t WmChar(char& ch) override {
    log.push_back("char " + std::to_string(int(uint8_t(ch))));
    return 0;
  }

 private:
  intptr_t Note(const char* what, const TMouseMsg& m) {
    log.push_back(std::string(what) + " " + std::to_string(m.X) + "," + std::to_string(m.Y));
    return 0;
  }
  intptr_t Key(const char* what, uint16_t key, TShiftState shift) {
    log.push_back(std::string(what) + " " + std::to_string(key) + " " +
                  std::to_string(shift & (ssShift | ssCtrl | ssAlt)));
    return 0;
  }
};

// A dialog-style form at (100, 100) on the screen with a recorder at its
// top-left corner.
struct RecorderForm {
  TForm* form;
  Recorder* rec;
  explicit RecorderForm(int width = 400, int height = 300) {
    form = Create<TForm>(Application);
    form->SetBorderStyle(bsDialog);
    form->SetBounds(100, 100, width, height);
    form->SetColor(RGB(90, 90, 90));
    rec = new Recorder(form, Bounds(0, 0, 60, 40));
  }
  static std::string At(int x, int y) { return " " + std::to_string(100 + x) + " " + std::to_string(100 + y); }
};

// How many pixels of a screen rectangle differ from one colour.
int OffColour(const std::vector<uint8_t>& shot, TColor c) {
  uint32_t want = ColorToRGB(c);
  int off = 0;
  for (size_t i = 0; i + 2 < shot.size(); i += 3)
    if (shot[i] != (want & 0xFF) || shot[i + 1] != ((want >> 8) & 0xFF) || shot[i + 2] != (want >> 16)) ++off;
  return off;
}

}  // namespace

// Pointer events over the native edit (its own windows' motion and release
// bubble up to the canvas) reach the edit in canvas pixels, never the
// control at the form's corner in the edit's coordinates.
TEST_F(GuiTest, PointerOverTheNativeEditStaysOffTheOtherControls) {
  RecorderForm t;
  auto* edit = new TEdit(t.form);
  edit->SetParent(t.form);
  edit->SetBounds(200, 200, 150, 24);
  t.form->Show();
  ASSERT_TRUE(Pump([&] { return t.form->IsForeground(); }));
  ASSERT_TRUE(Pump([&] { return gtk->OverlayAllocation(edit->Overlay()) == Bounds(200, 200, 150, 24); }));
  ASSERT_EQ(Run("xdotool mousemove" + RecorderForm::At(300, 150) + " sleep 0.1 mousemove" + RecorderForm::At(210, 205) +
                " sleep 0.1 mousedown 1 sleep 0.1 mousemove" + RecorderForm::At(230, 212) + " sleep 0.1 mousemove" +
                RecorderForm::At(240, 215) + " sleep 0.1 mouseup 1"),
            0);
  ASSERT_TRUE(Pump([&] { return t.form->HoverControl() == edit && t.form->ActiveControl() == edit; }));
  Settle(200);
  EXPECT_TRUE(t.rec->log.empty()) << t.rec->Joined();
  EXPECT_EQ(t.form->HoverControl(), edit);
  // Back onto the control: it sees the pointer in its own pixels.
  ASSERT_EQ(Run("xdotool mousemove" + RecorderForm::At(20, 15)), 0);
  EXPECT_TRUE(Pump([&] { return t.rec->Saw("move 20,15"); })) << t.rec->Joined();
  EXPECT_EQ(t.rec->log.empty() ? "" : t.rec->log.front(), "enter");
}

// Work that renews itself on the GUI thread (a control that marks itself
// again in every paint, the plainest animation; a job that queues its next
// part) leaves input and timers their turn, and the picture reaches the
// screen.
TEST_F(GuiTest, AnimationLeavesInputAndTimersTheirTurnAndReachesTheScreen) {
  for (bool by_paint : {true, false}) {
    SCOPED_TRACE(by_paint ? "a paint that marks again" : "a job that queues its next part");
    RecorderForm t;
    t.rec->Animate = by_paint;
    t.rec->OnClick = [&](TObject*) {
      t.rec->Fill = RGB(20, 180, 60);
      t.rec->Invalidate();
    };
    auto* timer = new TTimer(t.form);
    int ticks = 0;
    timer->SetInterval(25);
    timer->SetOnTimer([&](TObject*) { ++ticks; });
    t.form->Show();
    bool stop = false;
    int parts = 0;
    std::function<void()> part = [&] {
      ++parts;
      std::this_thread::sleep_for(std::chrono::microseconds(200));
      if (!stop) Application->QueueCall(part);
    };
    if (!by_paint) Application->QueueCall(part);
    auto clicker = std::async(
        std::launch::async, [] { return Run("xdotool sleep 0.2 mousemove" + RecorderForm::At(30, 20) + " click 1"); });
    auto until = [&](const std::function<bool()>& pred, int ms) {
      auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
      while (!pred() && std::chrono::steady_clock::now() < deadline) Application->HandleMessage();
      return pred();
    };
    EXPECT_TRUE(until([&] { return ticks >= 5 && t.rec->Saw("click"); }, 10000))
        << ticks << " ticks, click " << t.rec->Saw("click") << ", " << t.rec->Frames << " frames, " << parts
        << " parts";
    EXPECT_EQ(clicker.get(), 0);
    until([] { return false; }, 300);
    EXPECT_EQ(OffColour(Screenshot(Bounds(100, 100, 60, 40)), RGB(20, 180, 60)), 0);
    stop = true;
    t.rec->Animate = false;
    Application->ProcessMessages();
    TObject::Free(t.form);
  }
}

// Repaint and Update put the picture on the screen before they return, so
// that a window that shows a state and then blocks shows that state; also
// an area the loop painted and only queued for drawing.
TEST_F(GuiTest, RepaintAndUpdateReachTheScreenBeforeTheyReturn) {
  RecorderForm t;
  t.form->Show();
  Settle(200);
  const TRect on_screen = Bounds(100, 100, 60, 40);
  ASSERT_EQ(OffColour(Screenshot(on_screen), clRed), 0);
  t.rec->Fill = RGB(20, 180, 60);
  t.rec->Repaint();
  EXPECT_EQ(OffColour(Screenshot(on_screen), RGB(20, 180, 60)), 0) << "after Repaint";
  t.rec->Fill = RGB(30, 60, 220);
  t.rec->Invalidate();
  Application->PaintAll();  // the loop's paint: drawn on the screen later
  t.rec->Update();
  EXPECT_EQ(OffColour(Screenshot(on_screen), RGB(30, 60, 220)), 0) << "after Update";
}

// Every key gives its key down and key up with the system's code, Ctrl and
// Alt combinations included (the state after the event), and a character
// above ASCII reaches our control as its UTF-8 bytes.
TEST_F(GuiTest, EveryKeyReachesTheFocusedControlWithItsCode) {
  RecorderForm t;
  t.form->Show();
  ASSERT_TRUE(Pump([&] { return t.form->IsForeground(); }));
  ASSERT_EQ(t.form->ActiveControl(), t.rec);
  const std::string shift = std::to_string(ssShift), ctrl = std::to_string(ssCtrl), alt = std::to_string(ssAlt);
  struct Case {
    const char* keys;                   // for xdotool
    std::vector<std::string> expected;  // in this order, among what arrives
  } cases[] = {
      {"minus", {"down 189 0", "char 45", "up 189 0"}},
      // xdotool lets the modifiers go before the key.
      {"ctrl+minus", {"down 17 " + ctrl, "down 189 " + ctrl, "up 17 0", "up 189 0"}},
      {"ctrl+equal", {"down 187 " + ctrl, "up 187 0"}},
      {"ctrl+plus", {"down 187 " + std::to_string(ssCtrl | ssShift), "up 187 0"}},
      {"ctrl+KP_Add", {"down 107 " + ctrl, "up 107 0"}},
      {"KP_Subtract", {"down 109 0", "char 45", "up 109 0"}},
      {"exclam", {"down 16 " + shift, "down 49 " + shift, "char 33", "up 16 0", "up 49 0"}},
      {"semicolon slash grave bracketleft backslash bracketright apostrophe comma period",
       {"down 186 0", "down 191 0", "down 192 0", "down 219 0", "down 220 0", "down 221 0", "down 222 0", "down 188 0",
        "down 190 0"}},
      {"Insert Pause Menu", {"down 45 0", "up 45 0", "down 19 0", "up 19 0", "down 93 0", "up 93 0"}},
      {"Alt_L", {"down 18 " + alt, "up 18 0"}},
      {"F12", {"down 123 0", "up 123 0"}},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.keys);
    t.rec->log.clear();
    ASSERT_EQ(Run(std::string("xdotool key --delay 30 ") + c.keys), 0);
    auto in_order = [&] {
      size_t at = 0;
      for (auto& line : t.rec->log)
        if (at < c.expected.size() && line == c.expected[at]) ++at;
      return at == c.expected.size();
    };
    EXPECT_TRUE(Pump(in_order, 3000)) << t.rec->Joined();
  }
  EXPECT_EQ(t.form->ActiveControl(), t.rec);

  // On the French layout: e-acute is a key of its own (the one of 2 on the
  // US layout), its character arrives as its UTF-8 bytes; the key of 1
  // gives "&", a value without a code: it is numbered by its place.
  ASSERT_EQ(Run("setxkbmap fr"), 0);
  Settle(300);  // GDK reads the new layout
  t.rec->log.clear();
  ASSERT_EQ(Run("xdotool key --delay 30 eacute ampersand"), 0);
  std::vector<std::string> expected{"down 50 0", "char 195", "char 169", "up 50 0", "down 49 0", "char 38", "up 49 0"};
  EXPECT_TRUE(Pump([&] { return t.rec->log == expected; }, 3000)) << t.rec->Joined();
  Run("setxkbmap us");
}

// Handlers that one iteration of GTK's loop runs may each raise: every
// error reaches the loop's report, one per round, none is lost.
TEST_F(GuiTest, EveryErrorOfOneLoopIterationIsReported) {
  std::vector<std::string> reported;
  Application->OnException = [&](std::exception_ptr e) { reported.push_back(exception_text(e)); };
  TTimer first, second, keeper;
  for (auto [timer, text] : {std::pair{&first, "the first tick failed"}, {&second, "the second tick failed"}}) {
    timer->SetInterval(10);
    timer->SetOnTimer([timer, text](TObject*) {
      timer->SetEnabled(false);
      throw std::runtime_error(text);
    });
  }
  keeper.SetInterval(10);  // keeps the loop from waiting for ever
  keeper.SetOnTimer([](TObject*) {});
  // Both fall due before the loop runs, so one iteration dispatches both.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  for (int round = 0; round < 100 && reported.size() < 2; ++round) ASSERT_NO_THROW(Application->HandleMessage());
  std::sort(reported.begin(), reported.end());
  EXPECT_EQ(reported, (std::vector<std::string>{"the first tick failed", "the second tick failed"}));
}

TEST(GuiScreen, MetricsComeFromTheDisplayUntilTheStop) {
  const char* display = std::getenv("DISPLAY");
  if (!display || !*display) GTEST_SKIP() << "no X display (run through xvfb-run)";
  ASSERT_TRUE(qlm_ui_start());
  if (std::string(Application->GetBackend().Name()) != "gtk") {
    qlm_ui_stop();
    GTEST_SKIP() << "GTK cannot open the display";
  }
  // The private X server has one screen of 1024 x 768.
  EXPECT_EQ(screen_width(), 1024);
  EXPECT_EQ(screen_height(), 768);
  const double resolution = gdk_screen_get_resolution(gdk_screen_get_default());
  EXPECT_EQ(screen_dpi(), resolution > 0 ? int32_t(std::lround(resolution)) : 96);

  // A new resolution counts at once, on every thread; none gives 96.
  GtkSettings* settings = gtk_settings_get_default();
  g_object_set(settings, "gtk-xft-dpi", 120 * 1024, nullptr);
  EXPECT_EQ(screen_dpi(), 120);
  auto other = std::async(std::launch::async, [] { return std::vector<int32_t>{screen_dpi(), screen_width()}; });
  EXPECT_EQ(other.get(), (std::vector<int32_t>{120, 1024}));
  g_object_set(settings, "gtk-xft-dpi", -1, nullptr);
  EXPECT_EQ(screen_dpi(), 96);

  g_object_set(settings, "gtk-xft-dpi", 144 * 1024, nullptr);
  qlm_ui_stop();
  EXPECT_EQ(screen_dpi(), 96);
  EXPECT_EQ(screen_width(), 0);
  EXPECT_EQ(screen_height(), 0);
}
