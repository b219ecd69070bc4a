// The print preview and the wait window under a window manager (openbox,
// started in the test's private X server): what the X server holds is read
// back (placement, transient owner, window type, size hints, frame) and the
// screen is compared with the back buffer. GTK must print no warning or
// critical meanwhile.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "gui_support.h"
#include "kvn_cursors.h"
#include "kvn_form_info_print.h"
#include "kvn_form_wait.h"
#include "plat_print_fake.h"
#include "qlm_renderer_ids.h"
#include "ui_app.h"
#include "ui_gtk.h"
#include "ui_spinedit.h"
// Last: Xlib's macros must not reach the other headers.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <gdk/gdkx.h>

using namespace ui;

namespace {

// GTK's and GDK's warnings and criticals while a test runs.
int gToolkitComplaints = 0;

void CountComplaint(const gchar* domain, GLogLevelFlags, const gchar* message, gpointer) {
  ++gToolkitComplaints;
  std::fprintf(stderr, "%s: %s\n", domain ? domain : "", message);
}

Atom Intern(Display* d, const char* name) { return XInternAtom(d, name, False); }

// A property of atoms (or windows) as a list.
std::vector<unsigned long> ListProperty(Display* d, Window w, const char* name, Atom type) {
  Atom actual = 0;
  int format = 0;
  unsigned long n = 0, after = 0;
  unsigned char* data = nullptr;
  std::vector<unsigned long> out;
  if (XGetWindowProperty(d, w, Intern(d, name), 0, 64, False, type, &actual, &format, &n, &after, &data) == Success &&
      data && format == 32) {
    const auto* v = reinterpret_cast<const unsigned long*>(data);
    out.assign(v, v + n);
  }
  if (data) XFree(data);
  return out;
}

bool Has(const std::vector<unsigned long>& list, unsigned long v) {
  for (unsigned long x : list)
    if (x == v) return true;
  return false;
}

class GuiWm : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) GTEST_SKIP() << "no X display (run through xvfb-run)";
    if (std::system("command -v openbox >/dev/null 2>&1") != 0)
      GTEST_SKIP() << "no window manager: openbox is not installed";
    auto backend = GtkBackend::Create();
    if (!backend) GTEST_SKIP() << "GTK cannot open the display";
    gtk = backend.get();
    Start(std::move(backend));
    started = true;
    qlm_renderer_start();
    controls_register_pictures();
    x = gdk_x11_get_default_xdisplay();
    // The window manager of this private server, ready once it announced
    // itself on the root window.
    wm = fork();
    if (wm == 0) {
      freopen("/dev/null", "w", stdout);
      freopen("/dev/null", "w", stderr);
      execlp("openbox", "openbox", "--sm-disable", static_cast<char*>(nullptr));
      _exit(127);
    }
    ASSERT_GT(wm, 0);
    ASSERT_TRUE(guitest::Pump(
        [&] { return !ListProperty(x, DefaultRootWindow(x), "_NET_SUPPORTING_WM_CHECK", XA_WINDOW).empty(); }, 10000))
        << "openbox did not start";
    // It answers new windows once its start-up is over.
    guitest::Pump([] { return false; }, 1000);
    for (const char* domain : {"Gtk", "Gdk", "GLib", "GLib-GObject"})
      handlers.emplace_back(
          domain, g_log_set_handler(domain, GLogLevelFlags(G_LOG_LEVEL_WARNING | G_LOG_LEVEL_CRITICAL), CountComplaint,
                                    nullptr));
    gToolkitComplaints = 0;
  }
  void TearDown() override {
    for (auto& [domain, id] : handlers) g_log_remove_handler(domain, id);
    if (started) Stop();
    if (wm > 0) {
      kill(wm, SIGTERM);
      waitpid(wm, nullptr, 0);
    }
  }
  // The client area's place on the screen, as the X server has it.
  TRect ClientOnScreen(TForm* f) {
    const Window w = gtk->NativeWindowId(f->Handle());
    XWindowAttributes a{};
    XGetWindowAttributes(x, w, &a);
    int rx = 0, ry = 0;
    Window child = 0;
    XTranslateCoordinates(x, w, DefaultRootWindow(x), 0, 0, &rx, &ry, &child);
    return Bounds(rx, ry, a.width, a.height);
  }
  // The spin edit's number field is on its arrows: the field's grey border
  // runs down the spin edit's left edge on screen, and the arrows beside it
  // are as the back buffer has them.
  void ExpectFieldOnItsArrows(TFormInfoPrint* f, TSpinEdit* spin, const char* what) {
    SCOPED_TRACE(what);
    const TRect r = spin->FormRect();
    const TRect client = ClientOnScreen(f);
    const std::vector<uint8_t> shot =
        guitest::Screenshot(Bounds(client.Left + r.Left, client.Top + r.Top, r.Width(), r.Height()), "spin");
    ASSERT_EQ(shot.size(), size_t(r.Width()) * size_t(r.Height()) * 3) << "import failed";
    int border = 0;
    for (int y = 1; y < r.Height() - 1; ++y) {
      const uint8_t* p = &shot[size_t(y) * size_t(r.Width()) * 3];
      if (p[0] == 0x7a && p[1] == 0x7a && p[2] == 0x7a) ++border;
    }
    EXPECT_EQ(border, r.Height() - 2) << "the field's left border is not at the spin edit's left edge";
    // The arrows: the last 13 columns.
    const int aw = TSpinEdit::kArrowWidth, ax = r.Width() - aw;
    std::vector<uint8_t> arrows;
    for (int y = 0; y < r.Height(); ++y)
      arrows.insert(arrows.end(), shot.begin() + (size_t(y) * size_t(r.Width()) + size_t(ax)) * 3,
                    shot.begin() + (size_t(y) * size_t(r.Width()) + size_t(r.Width())) * 3);
    EXPECT_EQ(guitest::Mismatches(arrows, f->BackBuffer(), r.Left + ax, r.Top, aw, r.Height()), 0);
  }

  GtkBackend* gtk = nullptr;
  Display* x = nullptr;
  pid_t wm = -1;
  bool started = false;
  std::vector<std::pair<const char*, guint>> handlers;
};

// The preview opened modally over its owner: the window manager places it
// (transient for the owner, over it, not in the screen's corner), its
// minimum size is its own 525 x 240 whatever the native fields, and resized
// up and down each number field stays on its arrows.
TEST_F(GuiWm, PrintPreviewPlacedOverItsOwnerAndResizedKeepsItsFields) {
  plat::print::FakeBackend fake;
  auto* owner = Create<TForm>(Application);
  owner->SetBorderStyle(bsDialog);
  owner->SetBounds(250, 200, 715, 515);
  owner->Show();
  ASSERT_TRUE(guitest::Pump([&] { return owner->IsForeground(); }));
  auto* f = Create<TFormInfoPrint>(owner, &fake);
  f->SetDocument(nullptr, "A short agreement.~(p) Second paragraph.~(p) ", "Agreement", false);
  bool checked = false;
  Application->QueueCall([&] {
    checked = true;
    if (!guitest::Pump([&] { return f->IsForeground(); })) {
      ADD_FAILURE() << "the preview never came to the front";
      f->SetModalResult(mrCancel);
      return;
    }
    const Window self = gtk->NativeWindowId(f->Handle());
    const Window top = gtk->NativeWindowId(owner->Handle());
    EXPECT_EQ(ListProperty(x, self, "WM_TRANSIENT_FOR", XA_WINDOW), std::vector<unsigned long>{top});
    EXPECT_TRUE(Has(ListProperty(x, self, "_NET_WM_WINDOW_TYPE", XA_ATOM), Intern(x, "_NET_WM_WINDOW_TYPE_DIALOG")));
    // Placed by the window manager: no position of the program's, and over
    // its owner rather than in the corner.
    XSizeHints hints{};
    long supplied = 0;
    ASSERT_TRUE(XGetWMNormalHints(x, self, &hints, &supplied));
    EXPECT_FALSE(hints.flags & (PPosition | USPosition));
    const TRect placed = ClientOnScreen(f), under = ClientOnScreen(owner);
    EXPECT_FALSE(placed.Left < 10 && placed.Top < 40) << placed.Left << "," << placed.Top;
    EXPECT_TRUE(under.Contains(placed.Left + placed.Width() / 2, placed.Top + placed.Height() / 2))
        << "preview at " << placed.Left << "," << placed.Top << ", owner at " << under.Left << "," << under.Top;
    // The minimum size is the form's.
    ASSERT_TRUE(hints.flags & PMinSize);
    EXPECT_EQ(hints.min_width, 525);
    EXPECT_EQ(hints.min_height, 240);
    ExpectFieldOnItsArrows(f, f->SpinEdit2, "font size, as opened");

    const struct {
      int width, height;  // asked for
      int want_width, want_height;
    } sizes[] = {{800, 650, 800, 650}, {300, 100, 525, 240}, {640, 520, 640, 520}};
    for (const auto& s : sizes) {
      SCOPED_TRACE(testing::Message() << "resized to " << s.width << " x " << s.height);
      const std::string cmd =
          "xdotool windowsize " + std::to_string(self) + " " + std::to_string(s.width) + " " + std::to_string(s.height);
      ASSERT_EQ(std::system(cmd.c_str()), 0);
      ASSERT_TRUE(guitest::Pump([&] {
        const TRect c = ClientOnScreen(f);
        return c.Width() == s.want_width && c.Height() == s.want_height && f->ClientWidth() == s.want_width &&
               f->ClientHeight() == s.want_height;
      })) << "client "
          << ClientOnScreen(f).Width() << " x " << ClientOnScreen(f).Height();
      guitest::Pump([] { return false; }, 400);  // the frame after the resize reaches the screen
      ASSERT_TRUE(XGetWMNormalHints(x, self, &hints, &supplied));
      EXPECT_EQ(hints.min_width, 525);
      EXPECT_EQ(hints.min_height, 240);
      EXPECT_EQ(f->SpinEdit2->Top(), s.want_height - (481 - 447));
      ExpectFieldOnItsArrows(f, f->SpinEdit2, "font size");
      ExpectFieldOnItsArrows(f, f->SpinEdit1, "margin");
    }
    f->SetModalResult(mrOk);
  });
  f->ShowModal();
  EXPECT_TRUE(checked);
  TObject::Free(f);
  TObject::Free(owner);
  EXPECT_EQ(gToolkitComplaints, 0);
}

// The wait window: a tool window (utility type) that the window manager
// gives no minimise, maximise or close box: it allows none of them and asks
// for a border without a title bar, since some window managers (openbox
// among them) draw their buttons whatever the window allows.
TEST_F(GuiWm, WaitWindowHasNoBoxes) {
  TFormWait* wait = wait_show("   Printing Agreement ...   ", nullptr);
  ASSERT_NE(wait, nullptr);
  const Window w = gtk->NativeWindowId(wait->Handle());
  ASSERT_TRUE(guitest::Pump([&] { return !ListProperty(x, w, "_NET_WM_ALLOWED_ACTIONS", XA_ATOM).empty(); }));
  guitest::Pump([] { return false; }, 300);
  EXPECT_TRUE(Has(ListProperty(x, w, "_NET_WM_WINDOW_TYPE", XA_ATOM), Intern(x, "_NET_WM_WINDOW_TYPE_UTILITY")));
  const auto actions = ListProperty(x, w, "_NET_WM_ALLOWED_ACTIONS", XA_ATOM);
  for (const char* action : {"_NET_WM_ACTION_MAXIMIZE_HORZ", "_NET_WM_ACTION_MAXIMIZE_VERT", "_NET_WM_ACTION_RESIZE"})
    EXPECT_FALSE(Has(actions, Intern(x, action))) << action;
  // Motif hints: flags, functions, decorations. Move only; a border only.
  const auto motif = ListProperty(x, w, "_MOTIF_WM_HINTS", Intern(x, "_MOTIF_WM_HINTS"));
  ASSERT_GE(motif.size(), 3u);
  EXPECT_EQ(motif[1] & (2 | 8 | 16 | 32), 0u) << "functions " << motif[1];  // resize, minimise, maximise, close
  EXPECT_EQ(motif[2], 2u) << "decorations";                                 // the border
  // The frame the window manager put around it has no title bar.
  const auto extents = ListProperty(x, w, "_NET_FRAME_EXTENTS", XA_CARDINAL);
  ASSERT_EQ(extents.size(), 4u);
  EXPECT_EQ(extents[2], extents[3]) << "top " << extents[2] << ", bottom " << extents[3];
  wait->Release();
  guitest::Pump([] { return false; }, 100);
  EXPECT_EQ(gToolkitComplaints, 0);
}

}  // namespace
