#include "ui_gtk.h"

#include <gdk/gdk.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <exception>
#include <map>
#include <mutex>
#include <vector>

#include "plat_path_map.h"
#include "ui_app.h"
#include "ui_controls.h"
// Last: Xlib's macros must not reach the layer's headers.
#ifdef GDK_WINDOWING_X11
#include <gdk/gdkx.h>
#endif

namespace ui {

struct GtkBackend::Impl {
  struct Win {
    Impl* d = nullptr;
    WindowId id = 0;
    TForm* form = nullptr;
    GtkWidget* window = nullptr;
    GtkWidget* canvas = nullptr;  // a GtkFixed with its own window: our buffer plus the natives
    bool mapped = false;
    bool shown = false;       // shown once: the window system has placed it
    bool allocating = false;  // inside the canvas's size allocation
    WindowStyle style;
    TRect client;
    TCursor cursor = crArrow;
  };
  struct Ovl {
    Impl* d = nullptr;
    OverlayId id = 0;
    WindowId win = 0;
    OverlayKind kind = OverlayKind::Edit;
    GtkWidget* widget = nullptr;
    GtkCssProvider* css = nullptr;
    std::string css_text;
    OverlayEvents events;
    OverlayState state;
    bool updating = false;
  };
  struct TimerData {
    Impl* d;
    std::function<void()> tick;
    gint64 interval_us;
    gint64 due_us;  // the tick's time by the interval; it runs at the next grid point
  };

  std::map<WindowId, std::unique_ptr<Win>> windows;
  std::map<OverlayId, std::unique_ptr<Ovl>> overlays;
  std::map<TimerId, bool> timers;
  std::map<std::string, GdkCursor*> named_cursors;
  std::map<int, std::pair<std::vector<uint32_t>, GdkCursor*>> image_cursors;
  uint64_t next_id = 1;
  // Errors of handlers GTK ran, in their order, raised one per PumpOne.
  std::deque<std::exception_ptr> pending;
  std::exception_ptr unkept;  // an error that found no room in pending
  TPoint last_pointer{-10000, -10000};
  std::mutex idle_lock;
  guint idle_id = 0;

  // Every entry from GTK runs through here: an exception is kept and raised
  // again from PumpOne, never thrown through GTK's C frames. One iteration
  // of GTK's loop may run several handlers; each error is kept.
  template <class F>
  void Guard(F&& f) {
    try {
      f();
    } catch (...) {
      try {
        pending.push_back(std::current_exception());
      } catch (...) {
        // No memory for the record: the loop reports the memory failure.
        if (!unkept) unkept = std::current_exception();
      }
    }
  }
  Win* FindWin(WindowId w) {
    auto it = windows.find(w);
    return it == windows.end() ? nullptr : it->second.get();
  }
  Ovl* FindOvl(OverlayId o) {
    auto it = overlays.find(o);
    return it == overlays.end() ? nullptr : it->second.get();
  }
  void ApplySize(Win* w);
  void ApplyFunctions(Win* w);
  void DrawBuffer(Win* w, cairo_t* cr);
  bool PaintNow(Win* w, const TRect& r, bool whole);

  // The screen whose resolution and monitors CurrentScreen reports.
  GdkScreen* screen = nullptr;
  std::vector<gulong> screen_handlers;
  void ReadScreen();
};

namespace {

// What CurrentScreen answers: written on the GUI thread, read anywhere.
std::atomic<int32_t> g_screen_dpi{0}, g_screen_width{0}, g_screen_height{0};

}  // namespace

void GtkBackend::Impl::ReadScreen() {
  const double resolution = screen ? gdk_screen_get_resolution(screen) : -1;
  const int32_t dpi = resolution >= 0.5 && resolution < 1e6 ? int32_t(std::lround(resolution)) : 96;
  GdkDisplay* display = gdk_display_get_default();
  GdkMonitor* monitor = display ? gdk_display_get_primary_monitor(display) : nullptr;
  if (!monitor && display && gdk_display_get_n_monitors(display) > 0) monitor = gdk_display_get_monitor(display, 0);
  GdkRectangle g{0, 0, 0, 0};
  if (monitor) gdk_monitor_get_geometry(monitor, &g);
  g_screen_dpi.store(dpi);
  g_screen_width.store(std::max(g.width, 0));
  g_screen_height.store(std::max(g.height, 0));
}

namespace {

using Impl = GtkBackend::Impl;

TShiftState ShiftFrom(guint state) {
  TShiftState s = 0;
  if (state & GDK_SHIFT_MASK) s |= ssShift;
  if (state & GDK_CONTROL_MASK) s |= ssCtrl;
  if (state & GDK_MOD1_MASK) s |= ssAlt;
  if (state & GDK_BUTTON1_MASK) s |= ssLeft;
  if (state & GDK_BUTTON2_MASK) s |= ssMiddle;
  if (state & GDK_BUTTON3_MASK) s |= ssRight;
  return s;
}

// GDK key values to the system's key codes; 0 for a value without one.
uint16_t KeyFromGdk(guint kv) {
  if (kv >= GDK_KEY_a && kv <= GDK_KEY_z) return uint16_t('A' + (kv - GDK_KEY_a));
  if (kv >= GDK_KEY_A && kv <= GDK_KEY_Z) return uint16_t(kv);
  if (kv >= GDK_KEY_0 && kv <= GDK_KEY_9) return uint16_t(kv);
  if (kv >= GDK_KEY_F1 && kv <= GDK_KEY_F24) return uint16_t(VK_F1 + (kv - GDK_KEY_F1));
  if (kv >= GDK_KEY_KP_0 && kv <= GDK_KEY_KP_9) return uint16_t(VK_NUMPAD0 + (kv - GDK_KEY_KP_0));
  switch (kv) {
    case GDK_KEY_BackSpace: return VK_BACK;
    case GDK_KEY_Tab:
    case GDK_KEY_KP_Tab:
    case GDK_KEY_ISO_Left_Tab: return VK_TAB;
    case GDK_KEY_Clear:
    case GDK_KEY_KP_Begin: return VK_CLEAR;
    case GDK_KEY_Return:
    case GDK_KEY_KP_Enter: return VK_RETURN;
    case GDK_KEY_Shift_L:
    case GDK_KEY_Shift_R: return VK_SHIFT;
    case GDK_KEY_Control_L:
    case GDK_KEY_Control_R: return VK_CONTROL;
    case GDK_KEY_Alt_L:
    case GDK_KEY_Alt_R:
    case GDK_KEY_Meta_L:
    case GDK_KEY_Meta_R:
    case GDK_KEY_ISO_Level3_Shift: return VK_MENU;
    case GDK_KEY_Pause:
    case GDK_KEY_Break: return VK_PAUSE;
    case GDK_KEY_Caps_Lock: return VK_CAPITAL;
    case GDK_KEY_Escape: return VK_ESCAPE;
    case GDK_KEY_space:
    case GDK_KEY_KP_Space: return VK_SPACE;
    case GDK_KEY_Page_Up:
    case GDK_KEY_KP_Page_Up: return VK_PRIOR;
    case GDK_KEY_Page_Down:
    case GDK_KEY_KP_Page_Down: return VK_NEXT;
    case GDK_KEY_End:
    case GDK_KEY_KP_End: return VK_END;
    case GDK_KEY_Home:
    case GDK_KEY_KP_Home: return VK_HOME;
    case GDK_KEY_Left:
    case GDK_KEY_KP_Left: return VK_LEFT;
    case GDK_KEY_Up:
    case GDK_KEY_KP_Up: return VK_UP;
    case GDK_KEY_Right:
    case GDK_KEY_KP_Right: return VK_RIGHT;
    case GDK_KEY_Down:
    case GDK_KEY_KP_Down: return VK_DOWN;
    case GDK_KEY_Print:
    case GDK_KEY_Sys_Req: return VK_SNAPSHOT;
    case GDK_KEY_Insert:
    case GDK_KEY_KP_Insert: return VK_INSERT;
    case GDK_KEY_Delete:
    case GDK_KEY_KP_Delete: return VK_DELETE;
    case GDK_KEY_Super_L: return VK_LWIN;
    case GDK_KEY_Super_R: return VK_RWIN;
    case GDK_KEY_Menu: return VK_APPS;
    case GDK_KEY_KP_Multiply: return VK_MULTIPLY;
    case GDK_KEY_KP_Add: return VK_ADD;
    case GDK_KEY_KP_Separator: return VK_SEPARATOR;
    case GDK_KEY_KP_Subtract: return VK_SUBTRACT;
    case GDK_KEY_KP_Decimal: return VK_DECIMAL;
    case GDK_KEY_KP_Divide: return VK_DIVIDE;
    case GDK_KEY_Num_Lock: return VK_NUMLOCK;
    case GDK_KEY_Scroll_Lock: return VK_SCROLL;
    case GDK_KEY_semicolon: return VK_OEM_1;
    case GDK_KEY_equal:
    case GDK_KEY_plus: return VK_OEM_PLUS;
    case GDK_KEY_comma: return VK_OEM_COMMA;
    case GDK_KEY_minus: return VK_OEM_MINUS;
    case GDK_KEY_period: return VK_OEM_PERIOD;
    case GDK_KEY_slash: return VK_OEM_2;
    case GDK_KEY_grave: return VK_OEM_3;
    case GDK_KEY_bracketleft: return VK_OEM_4;
    case GDK_KEY_backslash: return VK_OEM_5;
    case GDK_KEY_bracketright: return VK_OEM_6;
    case GDK_KEY_apostrophe: return VK_OEM_7;
    case GDK_KEY_less: return VK_OEM_102;
    default: return 0;
  }
}

// The keys of a PC keyboard by their place (X keycodes of the evdev
// numbering, as on X.Org and XWayland), for the keys whose value on the
// layout in use has no code: the system numbers those by their place on
// the US layout.
uint16_t KeyFromPlace(guint16 keycode) {
  static constexpr struct {
    guint16 keycode;
    uint16_t vk;
  } kPlaces[] = {
      {10, '1'},      {11, '2'}, {12, '3'},          {13, '4'},           {14, '5'},          {15, '6'},
      {16, '7'},      {17, '8'}, {18, '9'},          {19, '0'},           {20, VK_OEM_MINUS}, {21, VK_OEM_PLUS},
      {24, 'Q'},      {25, 'W'}, {26, 'E'},          {27, 'R'},           {28, 'T'},          {29, 'Y'},
      {30, 'U'},      {31, 'I'}, {32, 'O'},          {33, 'P'},           {34, VK_OEM_4},     {35, VK_OEM_6},
      {38, 'A'},      {39, 'S'}, {40, 'D'},          {41, 'F'},           {42, 'G'},          {43, 'H'},
      {44, 'J'},      {45, 'K'}, {46, 'L'},          {47, VK_OEM_1},      {48, VK_OEM_7},     {49, VK_OEM_3},
      {51, VK_OEM_5}, {52, 'Z'}, {53, 'X'},          {54, 'C'},           {55, 'V'},          {56, 'B'},
      {57, 'N'},      {58, 'M'}, {59, VK_OEM_COMMA}, {60, VK_OEM_PERIOD}, {61, VK_OEM_2},     {94, VK_OEM_102},
  };
  for (const auto& p : kPlaces)
    if (p.keycode == keycode) return p.vk;
  return 0;
}

// A key event's code: the value of its key without Shift or Caps Lock (Num
// Lock kept, it chooses between the keypad's digits and its arrows), so
// that Shift+1 is '1' and Ctrl+minus is VK_OEM_MINUS; on the event's layout
// group, then on the first; then the key's place; then the value itself.
uint16_t KeyCode(const GdkEventKey* e) {
  if (e->is_modifier) {
    if (uint16_t vk = KeyFromGdk(e->keyval)) return vk;
  }
  GdkKeymap* map = gdk_keymap_get_for_display(gdk_window_get_display(e->window));
  auto keep = GdkModifierType(e->state & GDK_MOD2_MASK);
  for (gint group : {gint(e->group), 0}) {
    guint base = 0;
    if (gdk_keymap_translate_keyboard_state(map, e->hardware_keycode, keep, group, &base, nullptr, nullptr, nullptr))
      if (uint16_t vk = KeyFromGdk(base)) return vk;
  }
  if (uint16_t vk = KeyFromPlace(e->hardware_keycode)) return vk;
  return KeyFromGdk(e->keyval);
}

// The point of a pointer event in the canvas's pixels. Events that a native
// widget leaves unhandled bubble up from its own windows (an entry's text
// area) in their coordinates; they are carried up to the canvas. False for
// a window outside the canvas.
bool CanvasPoint(Impl::Win* w, GdkWindow* from, double x, double y, int& cx, int& cy) {
  GdkWindow* canvas = gtk_widget_get_window(w->canvas);
  for (GdkWindow* win = from; win != canvas; win = gdk_window_get_parent(win)) {
    if (!win) return false;
    gdk_window_coords_to_parent(win, x, y, &x, &y);
  }
  cx = int(std::floor(x));
  cy = int(std::floor(y));
  return true;
}

std::string HexColor(TColor c) {
  uint32_t rgb = ColorToRGB(c);
  char buf[8];
  std::snprintf(buf, sizeof buf, "#%02x%02x%02x", rgb & 0xFF, (rgb >> 8) & 0xFF, (rgb >> 16) & 0xFF);
  return buf;
}

int FontPixels(const TFont& f) { return FontPixelHeight(f); }

// The CSS that gives a native widget the control's exact box and font.
std::string OverlayCss(OverlayKind kind, const OverlayState& s) {
  std::string family;
  for (char c : s.Font.Name)
    if (c != '"' && c != '\\' && c != ';' && c != '}' && c != '{') family += c;
  std::string font = "font-family: \"" + family + "\"; font-size: " + std::to_string(FontPixels(s.Font)) +
                     "px; font-weight: " + ((s.Font.Style & fsBold) ? "bold" : "normal") +
                     "; font-style: " + ((s.Font.Style & fsItalic) ? "italic" : "normal") +
                     "; color: " + HexColor(s.Font.Color) + ";";
  if (kind == OverlayKind::Label) return "label { padding: 0; margin: 0; min-height: 0; min-width: 0; " + font + " }";
  return "entry { min-height: 0; min-width: 0; margin: 0; padding: 0 2px; border-radius: 0; box-shadow: none; "
         "outline-width: 0; background-image: none; background-color: " +
         HexColor(s.Color) + "; border: " + (s.Border ? "1px solid #7a7a7a" : "0 none") + "; " + font + " }";
}

// A measurement hook, off by default: with QLM_REPORT_FIRST_PRESENT set,
// the first draw of a window's painted back buffer prints
// "qlm-first-present <ns>" on stderr, <ns> being CLOCK_MONOTONIC, so that
// the program that started this one can tell its time to the first frame.
void ReportFirstPresent(const TForm* form) {
  static const bool wanted = std::getenv("QLM_REPORT_FIRST_PRESENT") != nullptr;
  static bool reported = false;
  if (!wanted || reported || !form->BackBuffer().HasRows()) return;
  reported = true;
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  std::fprintf(stderr, "qlm-first-present %lld\n", (long long)now.tv_sec * 1000000000LL + now.tv_nsec);
  std::fflush(stderr);
}

gboolean OnDraw(GtkWidget*, cairo_t* cr, gpointer data) {
  auto* w = static_cast<Impl::Win*>(data);
  w->d->Guard([&] { w->d->DrawBuffer(w, cr); });
  ReportFirstPresent(w->form);
  return FALSE;  // the natives draw next
}

gboolean OnMotion(GtkWidget*, GdkEventMotion* e, gpointer data) {
  auto* w = static_cast<Impl::Win*>(data);
  w->d->last_pointer = {int(e->x_root), int(e->y_root)};
  int x = 0, y = 0;
  if (!CanvasPoint(w, e->window, e->x, e->y, x, y)) return TRUE;
  TForm* form = w->form;
  w->d->Guard([&] { form->InputMouseMove(x, y, ShiftFrom(e->state)); });
  return TRUE;
}

gboolean OnButton(GtkWidget*, GdkEventButton* e, gpointer data) {
  auto* w = static_cast<Impl::Win*>(data);
  w->d->last_pointer = {int(e->x_root), int(e->y_root)};
  // A double click arrives as a second press: GTK's extra events are dropped.
  if (e->type != GDK_BUTTON_PRESS && e->type != GDK_BUTTON_RELEASE) return TRUE;
  TMouseButton b = e->button == 1 ? mbLeft : e->button == 3 ? mbRight : mbMiddle;
  if (e->button > 3) return TRUE;
  bool down = e->type == GDK_BUTTON_PRESS;
  int x = 0, y = 0;
  if (!CanvasPoint(w, e->window, e->x, e->y, x, y)) return TRUE;
  // GDK gives the state before the event; the layer makes it the state after.
  TShiftState shift = ShiftFrom(e->state);
  TForm* form = w->form;
  w->d->Guard([&] { form->InputMouseButton(b, down, x, y, shift); });
  return TRUE;
}

gboolean OnScroll(GtkWidget*, GdkEventScroll* e, gpointer data) {
  auto* w = static_cast<Impl::Win*>(data);
  int delta = 0;
  TShiftState shift = ShiftFrom(e->state);
  switch (e->direction) {
    case GDK_SCROLL_UP: delta = 120; break;
    case GDK_SCROLL_DOWN: delta = -120; break;
    case GDK_SCROLL_LEFT: delta = 120, shift |= ssShift; break;
    case GDK_SCROLL_RIGHT: delta = -120, shift |= ssShift; break;
    default: return TRUE;
  }
  int x = 0, y = 0;
  if (!CanvasPoint(w, e->window, e->x, e->y, x, y)) return TRUE;
  TForm* form = w->form;
  w->d->Guard([&] { form->InputWheel(delta, x, y, shift); });
  return TRUE;
}

// The pointer coming onto the canvas (from outside or from a native widget)
// is a move to where it came: a pointer that jumps brings no motion of its
// own.
gboolean OnEnter(GtkWidget*, GdkEventCrossing* e, gpointer data) {
  auto* w = static_cast<Impl::Win*>(data);
  if (e->window != gtk_widget_get_window(w->canvas)) return FALSE;
  w->d->last_pointer = {int(e->x_root), int(e->y_root)};
  TForm* form = w->form;
  w->d->Guard([&] { form->InputMouseMove(int(std::floor(e->x)), int(std::floor(e->y)), ShiftFrom(e->state)); });
  return FALSE;
}

gboolean OnLeave(GtkWidget*, GdkEventCrossing* e, gpointer data) {
  auto* w = static_cast<Impl::Win*>(data);
  // Only the canvas's own leave counts: a native widget's bubbles up when
  // the pointer goes from the widget back onto the canvas.
  if (e->window != gtk_widget_get_window(w->canvas)) return FALSE;
  if (e->mode != GDK_CROSSING_NORMAL || e->detail == GDK_NOTIFY_INFERIOR) return FALSE;
  w->d->last_pointer = {-10000, -10000};
  TForm* form = w->form;
  w->d->Guard([&] { form->InputMouseLeave(); });
  return FALSE;
}

gboolean OnKey(GtkWidget*, GdkEventKey* e, gpointer data) {
  auto* w = static_cast<Impl::Win*>(data);
  TForm* form = w->form;
  auto alive = form->AliveToken();
  bool handled = false;
  bool press = e->type == GDK_KEY_PRESS;
  uint16_t vk = KeyCode(e);
  // GDK gives the state before the event; the layer makes it the state after.
  TShiftState shift = ShiftFrom(e->state);
  w->d->Guard([&] {
    if (!press) {
      if (vk) handled = form->InputKeyUp(vk, shift);
      return;
    }
    if (vk) handled = form->InputKeyDown(vk, shift);
    if (handled || alive.expired() || (shift & (ssCtrl | ssAlt))) return;
    gunichar u = gdk_keyval_to_unicode(e->keyval);
    if (u == 8 || u == 13 || u == 27 || (u >= 32 && u < 127)) {
      handled = form->InputChar(char(u));
      return;
    }
    // Above ASCII (control characters aside) the character comes as its
    // UTF-8 bytes, one character message each, as a multi-byte code page
    // sends them; a byte set to 0 takes the character from the native widget.
    if (u < 0xA0 || !g_unichar_validate(u)) return;
    char bytes[6];
    int n = g_unichar_to_utf8(u, bytes);
    for (int i = 0; i < n && !handled && !alive.expired(); ++i) handled = form->InputChar(bytes[i]);
  });
  if (handled || alive.expired()) return TRUE;
  // Only a focused native widget has a use for the rest; with our own
  // control focused GTK must not act on it (focus moves, activation).
  return !dynamic_cast<TOverlayControl*>(form->ActiveControl());
}

gboolean OnDelete(GtkWidget*, GdkEvent*, gpointer data) {
  auto* w = static_cast<Impl::Win*>(data);
  TForm* form = w->form;
  w->d->Guard([&] { form->InputCloseRequest(); });
  return TRUE;  // the form decides
}

gboolean OnMap(GtkWidget*, GdkEvent*, gpointer data) {
  static_cast<Impl::Win*>(data)->mapped = true;
  return FALSE;
}

gboolean OnUnmap(GtkWidget*, GdkEvent*, gpointer data) {
  static_cast<Impl::Win*>(data)->mapped = false;
  return FALSE;
}

// Reads where the client area is on the screen and tells the form when it
// moved (the window manager placed or moved the window).
void ReadOrigin(Impl::Win* w) {
  GdkWindow* gw = gtk_widget_get_window(w->canvas);
  if (!gw) return;
  int x = 0, y = 0;
  gdk_window_get_origin(gw, &x, &y);
  if (x != w->client.Left || y != w->client.Top) {
    w->client = Bounds(x, y, w->client.Width(), w->client.Height());
    TForm* form = w->form;
    w->d->Guard([&] { form->InputMoved(x, y); });
  }
}

gboolean OnConfigure(GtkWidget*, GdkEventConfigure*, gpointer data) {
  ReadOrigin(static_cast<Impl::Win*>(data));
  return FALSE;
}

// The canvas: a GtkFixed whose size request is only what the layer asks
// for (the form's minimum, or its size when not resizable), never the extent
// of the native widgets in it, and which lets the layer lay the form out
// inside its own allocation. The layer moves native widgets as anchors and
// alignment say; GTK drops resize requests made while a widget is being
// allocated (and the widget then keeps its old place for good), so the
// children are allocated again, at their new places, before the canvas's
// allocation ends.
GtkWidgetClass* g_canvas_parent = nullptr;
const char* const kCanvasWin = "qlm-win";

void CanvasPreferredNothing(GtkWidget*, gint* minimum, gint* natural) { *minimum = *natural = 0; }

void CanvasAllocate(GtkWidget* widget, GtkAllocation* a) {
  g_canvas_parent->size_allocate(widget, a);
  auto* w = static_cast<Impl::Win*>(g_object_get_data(G_OBJECT(widget), kCanvasWin));
  if (!w || !w->style.Resizable) return;  // only the user resizes, and only these
  if (a->width == w->client.Width() && a->height == w->client.Height()) return;
  w->client = Bounds(w->client.Left, w->client.Top, a->width, a->height);
  TForm* form = w->form;
  Impl* d = w->d;
  w->allocating = true;
  d->Guard([&] { form->InputClientResized(a->width, a->height); });
  // A resize handler may have destroyed the window (and the canvas's data).
  w = static_cast<Impl::Win*>(g_object_get_data(G_OBJECT(widget), kCanvasWin));
  if (!w) return;
  w->allocating = false;
  g_canvas_parent->size_allocate(widget, a);
}

void CanvasClassInit(gpointer klass, gpointer) {
  auto* widget_class = static_cast<GtkWidgetClass*>(klass);
  g_canvas_parent = static_cast<GtkWidgetClass*>(g_type_class_peek_parent(klass));
  widget_class->get_preferred_width = CanvasPreferredNothing;
  widget_class->get_preferred_height = CanvasPreferredNothing;
  widget_class->size_allocate = CanvasAllocate;
}

GType CanvasType() {
  static const GType type = g_type_register_static_simple(GTK_TYPE_FIXED, "QlmCanvas", sizeof(GtkFixedClass),
                                                          CanvasClassInit, sizeof(GtkFixed), nullptr, GTypeFlags(0));
  return type;
}

// The window's frame buttons and functions follow the style; GTK sets its
// own when the window is realized, so they are set again after it.
void OnRealize(GtkWidget*, gpointer data) {
  auto* w = static_cast<Impl::Win*>(data);
  w->d->ApplyFunctions(w);
}

void OnActive(GObject*, GParamSpec*, gpointer data) {
  auto* w = static_cast<Impl::Win*>(data);
  bool active = gtk_window_is_active(GTK_WINDOW(w->window));
  TForm* form = w->form;
  w->d->Guard([&] { form->InputActivated(active); });
}

gboolean OnGrabBroken(GtkWidget*, GdkEvent*, gpointer data) {
  auto* w = static_cast<Impl::Win*>(data);
  w->d->Guard([&] {
    TControl* cap = GetCapture();
    if (cap && cap->ParentForm() == w->form) ReleaseCapture();
  });
  return FALSE;
}

void OnEntryChanged(GtkEditable*, gpointer data) {
  auto* o = static_cast<Impl::Ovl*>(data);
  if (o->updating) return;
  std::string text = gtk_entry_get_text(GTK_ENTRY(o->widget));
  o->state.Text = text;
  auto changed = o->events.Changed;
  o->d->Guard([&] {
    if (changed) changed(text);
  });
}

// Numbers only: digits, and a minus at the start.
void OnEntryInsert(GtkEditable* editable, const gchar* text, gint length, gint* position, gpointer data) {
  auto* o = static_cast<Impl::Ovl*>(data);
  if (!o->state.NumbersOnly || o->updating) return;
  for (gint i = 0; i < length; ++i) {
    char c = text[i];
    if ((c >= '0' && c <= '9') || (c == '-' && *position == 0 && i == 0)) continue;
    g_signal_stop_emission_by_name(editable, "insert-text");
    return;
  }
}

gboolean OnEntryFocus(GtkWidget*, GdkEvent*, gpointer data) {
  auto* o = static_cast<Impl::Ovl*>(data);
  auto focus = o->events.GotFocus;
  o->d->Guard([&] {
    if (focus) focus();
  });
  return FALSE;
}

// Timers tick on a 10 ms grid of the monotonic clock: each tick runs at the
// first grid point at or after its time (never early, at most 10 ms late),
// so that the timers of an idle window wake the process together instead of
// one by one (the banner's 10 ms, the 25 ms, 80 ms and 100 ms timers of the
// other controls). Each keeps its own rate; ticks missed while the loop was
// busy run once, as a GLib timeout's do.
constexpr gint64 kTimerGridUs = 10000;

gint64 OnTimerGrid(gint64 t) { return (t + kTimerGridUs - 1) / kTimerGridUs * kTimerGridUs; }

struct TimerSource {
  GSource source;
  Impl::TimerData* data;
};

gboolean TimerDispatch(GSource* source, GSourceFunc, gpointer) {
  auto* t = reinterpret_cast<TimerSource*>(source)->data;
  const gint64 now = g_source_get_time(source);
  t->due_us += t->interval_us;
  if (t->due_us <= now) t->due_us = now + t->interval_us;
  g_source_set_ready_time(source, OnTimerGrid(t->due_us));
  t->d->Guard([&] { t->tick(); });
  return G_SOURCE_CONTINUE;
}

void TimerFinalize(GSource* source) { delete reinterpret_cast<TimerSource*>(source)->data; }

GSourceFuncs kTimerFuncs = {nullptr, nullptr, TimerDispatch, TimerFinalize, nullptr, nullptr};

gboolean OnServeQueue(gpointer data) {
  auto* d = static_cast<Impl*>(data);
  {
    std::lock_guard lock(d->idle_lock);
    d->idle_id = 0;
  }
  d->Guard([] {
    if (Application) Application->ServeQueued();
  });
  return G_SOURCE_REMOVE;
}

}  // namespace

void Impl::DrawBuffer(Win* w, cairo_t* cr) {
  uint32_t bg = ColorToRGB(w->form->Color());
  cairo_set_source_rgb(cr, (bg & 0xFF) / 255.0, ((bg >> 8) & 0xFF) / 255.0, ((bg >> 16) & 0xFF) / 255.0);
  cairo_paint(cr);
  const TBitmap& b = w->form->BackBuffer();
  if (!b.HasRows() || b.PixelFormat() != pf32bit) return;
  // The rows are B, G, R, A: cairo's RGB24 on this host, read in place.
  cairo_surface_t* s = cairo_image_surface_create_for_data(const_cast<uint8_t*>(b.ScanLine(0)), CAIRO_FORMAT_RGB24,
                                                           b.Width(), b.Height(), int(b.RowStep()));
  cairo_set_source_surface(cr, s, 0, 0);
  cairo_paint(cr);
  cairo_surface_destroy(s);
}

// Draws r (or the whole canvas) now, with every area presented before and
// not drawn yet: the buffer, then the native widgets over it. False when
// nothing was drawn.
bool Impl::PaintNow(Win* w, const TRect& r, bool whole) {
  GdkWindow* gw = gtk_widget_get_window(w->canvas);
  if (!gw || !w->mapped) return false;
  const cairo_rectangle_int_t all{0, 0, gdk_window_get_width(gw), gdk_window_get_height(gw)};
  if (w->allocating) {
    // Inside the canvas's allocation the natives are being placed: GTK
    // draws it with the frame that follows.
    if (whole)
      gdk_window_invalidate_rect(gw, &all, TRUE);
    else if (!r.IsEmpty())
      gtk_widget_queue_draw_area(w->canvas, r.Left, r.Top, r.Width(), r.Height());
    return false;
  }
  // Native widgets added, moved or restyled since GTK's last frame are
  // placed first, as GTK's frame does before it draws (GTK refuses to draw
  // a widget that waits for its place). While the window waits for the
  // window system to answer a resize, the window is not laid out: then the
  // canvas places its natives within the size it has.
  const WindowId id = w->id;
  gtk_container_check_resize(GTK_CONTAINER(w->window));
  if (!FindWin(id)) return false;  // a resize handler destroyed the window
  GtkAllocation a;
  gtk_widget_get_allocation(w->canvas, &a);
  gtk_widget_size_allocate(w->canvas, &a);
  if (!FindWin(id)) return false;
  // What GTK had still to draw is drawn here, and no longer by its frame.
  cairo_region_t* region = gdk_window_get_update_area(gw);
  if (!region) region = cairo_region_create();
  if (whole) {
    cairo_region_union_rectangle(region, &all);
  } else if (!r.IsEmpty()) {
    const cairo_rectangle_int_t rect{r.Left, r.Top, r.Width(), r.Height()};
    cairo_region_union_rectangle(region, &rect);
  }
  cairo_region_intersect_rectangle(region, &all);
  const bool any = !cairo_region_is_empty(region);
  if (any) {
    // Drawn through the top-level window, as GTK's frames are: in one buffer
    // for the region, which reaches the screen in one go and only there (a
    // frame begun on the canvas's own window, which has no native window,
    // would draw straight onto the screen and be cut to the whole canvas
    // instead of the region).
    GdkWindow* top = gtk_widget_get_window(w->window);
    int x = 0, y = 0;
    gdk_window_get_position(gw, &x, &y);
    cairo_region_translate(region, x, y);
    GdkDrawingContext* ctx = gdk_window_begin_draw_frame(top, region);
    cairo_t* cr = gdk_drawing_context_get_cairo_context(ctx);
    cairo_translate(cr, x, y);
    gtk_widget_draw(w->canvas, cr);  // our buffer, then the natives over it
    gdk_window_end_draw_frame(top, ctx);
  }
  cairo_region_destroy(region);
  return any;
}

void Impl::ApplyFunctions(Win* w) {
  GdkWindow* gw = gtk_widget_get_window(w->window);
  if (!gw) return;
  const WindowStyle& s = w->style;
  int functions = GDK_FUNC_MOVE;
  int decorations = GDK_DECOR_BORDER | GDK_DECOR_TITLE;
  if (s.Resizable) functions |= GDK_FUNC_RESIZE, decorations |= GDK_DECOR_RESIZEH;
  if (s.Minimizable) functions |= GDK_FUNC_MINIMIZE, decorations |= GDK_DECOR_MINIMIZE;
  if (s.Maximizable && s.Resizable) functions |= GDK_FUNC_MAXIMIZE, decorations |= GDK_DECOR_MAXIMIZE;
  if (s.Deletable) functions |= GDK_FUNC_CLOSE, decorations |= GDK_DECOR_MENU;
  // Some window managers draw their title buttons whatever the functions
  // say: a window without a system menu (and so without any box) gets a
  // border without a title bar, which carries no buttons anywhere.
  if (!s.Deletable) decorations = GDK_DECOR_BORDER;
  gdk_window_set_functions(gw, GdkWMFunction(functions));
  if (s.Decorated) gdk_window_set_decorations(gw, GdkWMDecoration(decorations));
}

void Impl::ApplySize(Win* w) {
  int cw = std::max(w->client.Width(), 1), ch = std::max(w->client.Height(), 1);
  if (w->style.Resizable)
    gtk_widget_set_size_request(w->canvas, std::max(w->style.MinClientWidth, 1), std::max(w->style.MinClientHeight, 1));
  else
    gtk_widget_set_size_request(w->canvas, cw, ch);
  gtk_window_resize(GTK_WINDOW(w->window), cw, ch);
}

// ---- GtkBackend ----

GtkBackend::GtkBackend() : d(std::make_unique<Impl>()) {
  // The settings object gives the screen its resolution (gtk-xft-dpi).
  gtk_settings_get_default();
  d->screen = gdk_screen_get_default();
  if (d->screen) {
    auto changed = +[](GdkScreen*, gpointer data) { static_cast<Impl*>(data)->ReadScreen(); };
    auto notified = +[](GdkScreen*, GParamSpec*, gpointer data) { static_cast<Impl*>(data)->ReadScreen(); };
    d->screen_handlers = {
        g_signal_connect(d->screen, "notify::resolution", G_CALLBACK(notified), d.get()),
        g_signal_connect(d->screen, "size-changed", G_CALLBACK(changed), d.get()),
        g_signal_connect(d->screen, "monitors-changed", G_CALLBACK(changed), d.get()),
    };
  }
  d->ReadScreen();
}

GtkBackend::ScreenInfo GtkBackend::CurrentScreen() {
  return ScreenInfo{g_screen_dpi.load(), g_screen_width.load(), g_screen_height.load()};
}

std::unique_ptr<GtkBackend> GtkBackend::Create() {
  // The installer reads no command line of its own for the toolkit.
  if (!gtk_init_check(nullptr, nullptr)) return nullptr;
  return std::unique_ptr<GtkBackend>(new GtkBackend);
}

GtkBackend::~GtkBackend() {
  for (gulong id : d->screen_handlers) g_signal_handler_disconnect(d->screen, id);
  d->screen_handlers.clear();
  g_screen_dpi.store(0);
  g_screen_width.store(0);
  g_screen_height.store(0);
  for (auto& [id, o] : d->overlays) {
    g_signal_handlers_disconnect_by_data(o->widget, o.get());
    if (o->css) g_object_unref(o->css);
  }
  d->overlays.clear();
  for (auto& [id, w] : d->windows) {
    g_signal_handlers_disconnect_by_data(w->window, w.get());
    g_signal_handlers_disconnect_by_data(w->canvas, w.get());
    g_object_set_data(G_OBJECT(w->canvas), kCanvasWin, nullptr);
    gtk_widget_destroy(w->window);
  }
  d->windows.clear();
  for (auto& [id, on] : d->timers) g_source_remove(guint(id));
  d->timers.clear();
  {
    std::lock_guard lock(d->idle_lock);
    if (d->idle_id) g_source_remove(d->idle_id);
    d->idle_id = 0;
  }
  for (auto& [n, c] : d->named_cursors) g_object_unref(c);
  for (auto& [n, c] : d->image_cursors) g_object_unref(c.second);
  while (g_main_context_iteration(nullptr, FALSE)) {
  }
}

WindowId GtkBackend::CreateWindow(TForm* form) {
  auto w = std::make_unique<Impl::Win>();
  w->d = d.get();
  w->id = d->next_id++;
  w->form = form;
  w->window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  w->canvas = GTK_WIDGET(g_object_new(CanvasType(), nullptr));
  gtk_widget_set_has_window(w->canvas, TRUE);
  gtk_widget_set_can_focus(w->canvas, TRUE);
  gtk_widget_add_events(w->canvas, GDK_POINTER_MOTION_MASK | GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK |
                                       GDK_SCROLL_MASK | GDK_LEAVE_NOTIFY_MASK | GDK_ENTER_NOTIFY_MASK);
  gtk_container_add(GTK_CONTAINER(w->window), w->canvas);
  Impl::Win* p = w.get();
  g_object_set_data(G_OBJECT(w->canvas), kCanvasWin, p);
  g_signal_connect(w->canvas, "draw", G_CALLBACK(OnDraw), p);
  g_signal_connect(w->canvas, "motion-notify-event", G_CALLBACK(OnMotion), p);
  g_signal_connect(w->canvas, "button-press-event", G_CALLBACK(OnButton), p);
  g_signal_connect(w->canvas, "button-release-event", G_CALLBACK(OnButton), p);
  g_signal_connect(w->canvas, "scroll-event", G_CALLBACK(OnScroll), p);
  g_signal_connect(w->canvas, "enter-notify-event", G_CALLBACK(OnEnter), p);
  g_signal_connect(w->canvas, "leave-notify-event", G_CALLBACK(OnLeave), p);
  g_signal_connect(w->canvas, "grab-broken-event", G_CALLBACK(OnGrabBroken), p);
  g_signal_connect(w->window, "key-press-event", G_CALLBACK(OnKey), p);
  g_signal_connect(w->window, "key-release-event", G_CALLBACK(OnKey), p);
  g_signal_connect(w->window, "delete-event", G_CALLBACK(OnDelete), p);
  g_signal_connect(w->window, "map-event", G_CALLBACK(OnMap), p);
  g_signal_connect(w->window, "unmap-event", G_CALLBACK(OnUnmap), p);
  g_signal_connect(w->window, "configure-event", G_CALLBACK(OnConfigure), p);
  g_signal_connect(w->window, "notify::is-active", G_CALLBACK(OnActive), p);
  g_signal_connect_after(w->window, "realize", G_CALLBACK(OnRealize), p);
  gtk_widget_show(w->canvas);
  WindowId id = w->id;
  d->windows[id] = std::move(w);
  return id;
}

void GtkBackend::DestroyWindow(WindowId id) {
  auto* w = d->FindWin(id);
  if (!w) return;
  for (auto it = d->overlays.begin(); it != d->overlays.end();) {
    if (it->second->win == id) {
      g_signal_handlers_disconnect_by_data(it->second->widget, it->second.get());
      if (it->second->css) g_object_unref(it->second->css);
      it = d->overlays.erase(it);  // destroyed with the window
    } else {
      ++it;
    }
  }
  g_signal_handlers_disconnect_by_data(w->window, w);
  g_signal_handlers_disconnect_by_data(w->canvas, w);
  g_object_set_data(G_OBJECT(w->canvas), kCanvasWin, nullptr);
  gtk_widget_destroy(w->window);
  d->windows.erase(id);
}

void GtkBackend::SetTitle(WindowId id, const std::string& title) {
  if (auto* w = d->FindWin(id)) gtk_window_set_title(GTK_WINDOW(w->window), title.c_str());
}

void GtkBackend::SetClientBounds(WindowId id, const TRect& r) {
  auto* w = d->FindWin(id);
  if (!w) return;
  // A window placed by the window system asks for no position before it
  // showed (GTK would pass one on as the program's choice): only its size
  // changes.
  const bool place = !w->style.DefaultPosition || w->shown;
  w->client = place ? r : Bounds(w->client.Left, w->client.Top, r.Width(), r.Height());
  d->ApplySize(w);
  if (!place) return;
  FrameExtents f = Frame(id);
  gtk_window_move(GTK_WINDOW(w->window), r.Left - f.Left, r.Top - f.Top);
}

TRect GtkBackend::ClientBounds(WindowId id) {
  auto* w = d->FindWin(id);
  return w ? w->client : TRect{};
}

void GtkBackend::SetStyle(WindowId id, const WindowStyle& s) {
  auto* w = d->FindWin(id);
  if (!w) return;
  w->style = s;
  GtkWindow* win = GTK_WINDOW(w->window);
  gtk_window_set_resizable(win, s.Resizable);
  if (s.Resizable) {
    GdkGeometry g{};
    g.min_width = std::max(s.MinClientWidth, 1);
    g.min_height = std::max(s.MinClientHeight, 1);
    gtk_window_set_geometry_hints(win, nullptr, &g, GDK_HINT_MIN_SIZE);
  }
  gtk_window_set_keep_above(win, s.KeepAbove);
  auto* owner = d->FindWin(s.Transient);
  if (owner == w) owner = nullptr;
  // The type is read when the window maps. A modal window with an owner is
  // a dialog, which window managers place over its owner.
  if (!gtk_widget_get_mapped(w->window))
    gtk_window_set_type_hint(win, s.ToolWindow                  ? GDK_WINDOW_TYPE_HINT_UTILITY
                                  : s.Modal && owner != nullptr ? GDK_WINDOW_TYPE_HINT_DIALOG
                                                                : GDK_WINDOW_TYPE_HINT_NORMAL);
  gtk_window_set_deletable(win, s.Deletable);
  gtk_window_set_decorated(win, s.Decorated);
  d->ApplyFunctions(w);
  gtk_window_set_modal(win, s.Modal);
  gtk_window_set_transient_for(win, owner ? GTK_WINDOW(owner->window) : nullptr);
  d->ApplySize(w);
}

void GtkBackend::Show(WindowId id) {
  auto* w = d->FindWin(id);
  if (!w) return;
  gtk_widget_show(w->window);
  gtk_window_present(GTK_WINDOW(w->window));
  // Map and paint before returning, so that a form shown just before the
  // program blocks (a wait window) is seen: only window-system events are
  // handled here, no timers or queued calls.
  GdkDisplay* display = gtk_widget_get_display(w->window);
  gint64 deadline = g_get_monotonic_time() + 1000 * 1000;
  WindowId keep = id;
  while (d->FindWin(keep) && !w->mapped && g_get_monotonic_time() < deadline) {
    gdk_display_flush(display);
    bool any = false;
    while (GdkEvent* ev = gdk_display_get_event(display)) {
      gtk_main_do_event(ev);
      gdk_event_free(ev);
      any = true;
      if (!d->FindWin(keep)) return;
    }
    if (!w->mapped && !any) g_usleep(1000);
  }
  if (!d->FindWin(keep)) return;
  w->shown = true;
  ReadOrigin(w);  // where it went (a window placed by the window system)
  d->PaintNow(w, {}, true);
  if (!d->FindWin(keep)) return;
  gdk_display_flush(display);
}

void GtkBackend::Hide(WindowId id) {
  if (auto* w = d->FindWin(id)) gtk_widget_hide(w->window);
}

FrameExtents GtkBackend::Frame(WindowId id) {
  auto* w = d->FindWin(id);
  if (!w || !w->mapped) return {};
  GdkWindow* top = gtk_widget_get_window(w->window);
  GdkWindow* client = gtk_widget_get_window(w->canvas);
  if (!top || !client) return {};
  GdkRectangle frame;
  gdk_window_get_frame_extents(top, &frame);
  int x = 0, y = 0;
  gdk_window_get_origin(client, &x, &y);
  int cw = gdk_window_get_width(client), ch = gdk_window_get_height(client);
  return {std::max(x - frame.x, 0), std::max(y - frame.y, 0), std::max(frame.x + frame.width - x - cw, 0),
          std::max(frame.y + frame.height - y - ch, 0)};
}

bool GtkBackend::IsForeground(WindowId id) {
  auto* w = d->FindWin(id);
  return w && gtk_window_is_active(GTK_WINDOW(w->window));
}

void GtkBackend::Present(WindowId id, const TBitmap&, const TRect& r) {
  auto* w = d->FindWin(id);
  if (!w) return;
  gtk_widget_queue_draw_area(w->canvas, r.Left, r.Top, r.Width(), r.Height());
}

void GtkBackend::PresentNow(WindowId id, const TBitmap&, const TRect& r) {
  auto* w = d->FindWin(id);
  if (!w) return;
  // Drawn here and now (r and what was presented before: the buffer, then
  // the natives over it), and the X server has drawn it when this returns.
  GdkDisplay* display = gtk_widget_get_display(w->window);
  if (d->PaintNow(w, r, false)) gdk_display_sync(display);
}

void GtkBackend::SetCursor(WindowId id, TCursor cursor, const TCursorImage* image) {
  auto* w = d->FindWin(id);
  if (!w) return;
  GdkDisplay* display = gtk_widget_get_display(w->window);
  GdkCursor* c = nullptr;
  if (image && image->Pixels.size() == size_t(TCursorImage::kSide) * TCursorImage::kSide) {
    auto& slot = d->image_cursors[cursor];
    if (!slot.second || slot.first != image->Pixels) {
      if (slot.second) g_object_unref(slot.second);
      cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, TCursorImage::kSide, TCursorImage::kSide);
      cairo_surface_flush(s);
      uint8_t* data = cairo_image_surface_get_data(s);
      int stride = cairo_image_surface_get_stride(s);
      for (int y = 0; y < TCursorImage::kSide; ++y)
        for (int x = 0; x < TCursorImage::kSide; ++x) {
          uint32_t p = image->Pixels[size_t(y) * TCursorImage::kSide + size_t(x)];
          uint32_t a = p >> 24;
          // cairo wants the colour channels multiplied by alpha.
          uint32_t r = ((p >> 16) & 0xFF) * a / 255, g = ((p >> 8) & 0xFF) * a / 255, b = (p & 0xFF) * a / 255;
          reinterpret_cast<uint32_t*>(data + size_t(y) * size_t(stride))[x] = (a << 24) | (r << 16) | (g << 8) | b;
        }
      cairo_surface_mark_dirty(s);
      slot = {image->Pixels, gdk_cursor_new_from_surface(display, s, image->HotX, image->HotY)};
      cairo_surface_destroy(s);
    }
    c = slot.second;
  } else {
    const char* name = "default";
    switch (cursor) {
      case crHandPoint: name = "pointer"; break;
      case crIBeam: name = "text"; break;
      case crHourGlass: name = "wait"; break;
      case crCross: name = "crosshair"; break;
      case crSizeWE: name = "ew-resize"; break;
      case crNone: name = "none"; break;
      default: break;
    }
    auto& slot = d->named_cursors[name];
    if (!slot) slot = gdk_cursor_new_from_name(display, name);
    c = slot;
  }
  w->cursor = cursor;
  if (GdkWindow* gw = gtk_widget_get_window(w->canvas)) gdk_window_set_cursor(gw, c);
}

void GtkBackend::SetTooltip(WindowId id, const std::string& text) {
  if (auto* w = d->FindWin(id)) gtk_widget_set_tooltip_text(w->canvas, text.empty() ? nullptr : text.c_str());
}

OverlayId GtkBackend::CreateOverlay(WindowId id, OverlayKind kind, OverlayEvents events) {
  auto* w = d->FindWin(id);
  if (!w) return 0;
  auto o = std::make_unique<Impl::Ovl>();
  o->d = d.get();
  o->id = d->next_id++;
  o->win = id;
  o->kind = kind;
  o->events = std::move(events);
  if (kind == OverlayKind::Edit) {
    o->widget = gtk_entry_new();
    gtk_entry_set_width_chars(GTK_ENTRY(o->widget), 1);
    g_signal_connect(o->widget, "changed", G_CALLBACK(OnEntryChanged), o.get());
    g_signal_connect(o->widget, "insert-text", G_CALLBACK(OnEntryInsert), o.get());
    g_signal_connect(o->widget, "focus-in-event", G_CALLBACK(OnEntryFocus), o.get());
  } else {
    o->widget = gtk_label_new("");
    gtk_label_set_xalign(GTK_LABEL(o->widget), 0);
    gtk_label_set_yalign(GTK_LABEL(o->widget), 0);
  }
  o->css = gtk_css_provider_new();
  gtk_style_context_add_provider(gtk_widget_get_style_context(o->widget), GTK_STYLE_PROVIDER(o->css),
                                 GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
  gtk_fixed_put(GTK_FIXED(w->canvas), o->widget, 0, 0);
  OverlayId oid = o->id;
  d->overlays[oid] = std::move(o);
  return oid;
}

void GtkBackend::UpdateOverlay(OverlayId id, const OverlayState& s) {
  auto* o = d->FindOvl(id);
  auto* w = o ? d->FindWin(o->win) : nullptr;
  if (!o || !w) return;
  o->updating = true;
  o->state = s;
  if (o->kind == OverlayKind::Edit) {
    if (s.Text != gtk_entry_get_text(GTK_ENTRY(o->widget))) gtk_entry_set_text(GTK_ENTRY(o->widget), s.Text.c_str());
    gtk_entry_set_max_length(GTK_ENTRY(o->widget), std::max(s.MaxLength, 0));
    if (s.NumbersOnly) gtk_entry_set_input_purpose(GTK_ENTRY(o->widget), GTK_INPUT_PURPOSE_DIGITS);
  } else {
    gtk_label_set_text(GTK_LABEL(o->widget), s.Text.c_str());
  }
  std::string css = OverlayCss(o->kind, s);
  if (css != o->css_text) {
    o->css_text = css;
    gtk_css_provider_load_from_data(o->css, css.c_str(), -1, nullptr);
  }
  gtk_fixed_move(GTK_FIXED(w->canvas), o->widget, s.Bounds.Left, s.Bounds.Top);
  gtk_widget_set_size_request(o->widget, std::max(s.Bounds.Width(), 0), std::max(s.Bounds.Height(), 0));
  gtk_widget_set_sensitive(o->widget, s.Enabled);
  gtk_widget_set_visible(o->widget, s.Visible);
  o->updating = false;
}

void GtkBackend::FocusOverlay(OverlayId id) {
  if (auto* o = d->FindOvl(id)) gtk_widget_grab_focus(o->widget);
}

void GtkBackend::FocusCanvas(WindowId id) {
  if (auto* w = d->FindWin(id)) gtk_widget_grab_focus(w->canvas);
}

TPoint GtkBackend::OverlayNaturalSize(OverlayId id) {
  auto* o = d->FindOvl(id);
  if (!o) return {};
  // The text's extent in the control's font, laid out by Pango as the label
  // will be (a style change reaches the widget itself only at its next
  // frame). Labels have no padding or border of their own.
  PangoLayout* layout = gtk_widget_create_pango_layout(o->widget, o->state.Text.c_str());
  PangoFontDescription* font = pango_font_description_new();
  pango_font_description_set_family(font, o->state.Font.Name.c_str());
  pango_font_description_set_absolute_size(font, double(FontPixels(o->state.Font)) * PANGO_SCALE);
  pango_font_description_set_weight(font, (o->state.Font.Style & fsBold) ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
  pango_font_description_set_style(font, (o->state.Font.Style & fsItalic) ? PANGO_STYLE_ITALIC : PANGO_STYLE_NORMAL);
  pango_layout_set_font_description(layout, font);
  int w = 0, h = 0;
  pango_layout_get_pixel_size(layout, &w, &h);
  pango_font_description_free(font);
  g_object_unref(layout);
  return {w, h};
}

void GtkBackend::DestroyOverlay(OverlayId id) {
  auto* o = d->FindOvl(id);
  if (!o) return;
  g_signal_handlers_disconnect_by_data(o->widget, o);
  gtk_widget_destroy(o->widget);
  if (o->css) g_object_unref(o->css);
  d->overlays.erase(id);
}

TPoint GtkBackend::PointerPos() {
  // The last position seen over our windows (far away after a leave): the
  // controls ask on every tick of their hover timers, and asking the X
  // server costs a round trip each time. Motion, crossing and button events
  // keep it (a pressed button's grab brings the motion outside the window
  // too).
  return d->last_pointer;
}

std::vector<TRect> GtkBackend::Monitors() {
  std::vector<TRect> out;
  GdkDisplay* display = gdk_display_get_default();
  if (!display) return out;
  GdkMonitor* primary = gdk_display_get_primary_monitor(display);
  auto add = [&](GdkMonitor* m) {
    GdkRectangle g;
    gdk_monitor_get_geometry(m, &g);
    out.push_back(Bounds(g.x, g.y, g.width, g.height));
  };
  if (primary) add(primary);
  for (int i = 0; i < gdk_display_get_n_monitors(display); ++i)
    if (GdkMonitor* m = gdk_display_get_monitor(display, i); m && m != primary) add(m);
  return out;
}

uint64_t GtkBackend::NowMs() { return uint64_t(g_get_monotonic_time() / 1000); }

TimerId GtkBackend::StartTimer(unsigned ms, std::function<void()> tick) {
  const gint64 interval = gint64(std::max(ms, 1u)) * 1000;
  auto* data = new Impl::TimerData{d.get(), std::move(tick), interval, g_get_monotonic_time() + interval};
  GSource* source = g_source_new(&kTimerFuncs, sizeof(TimerSource));
  reinterpret_cast<TimerSource*>(source)->data = data;
  g_source_set_priority(source, G_PRIORITY_DEFAULT);
  g_source_set_ready_time(source, OnTimerGrid(data->due_us));
  guint id = g_source_attach(source, nullptr);
  g_source_unref(source);
  d->timers[id] = true;
  return id;
}

void GtkBackend::StopTimer(TimerId t) {
  if (d->timers.erase(t)) g_source_remove(guint(t));
}

bool GtkBackend::PumpOne(bool wait) {
  // Errors kept from an earlier iteration come out first, one per call,
  // before anything new runs (or the loop waits).
  const bool any = !d->pending.empty() || d->unkept || g_main_context_iteration(nullptr, wait);
  if (d->unkept) {
    auto e = d->unkept;
    d->unkept = nullptr;
    std::rethrow_exception(e);
  }
  if (!d->pending.empty()) {
    auto e = d->pending.front();
    d->pending.pop_front();
    std::rethrow_exception(e);
  }
  return any;
}

void GtkBackend::Wakeup() {
  // Queued calls are served from an idle source, so that GTK's own nested
  // loops (its dialogs) serve them too.
  std::lock_guard lock(d->idle_lock);
  if (!d->idle_id) d->idle_id = g_idle_add(OnServeQueue, d.get());
  g_main_context_wakeup(nullptr);
}

bool GtkBackend::BrowseFolder(WindowId owner, const std::string& title, const std::string& initial, bool allowNew,
                              std::string& path) {
  auto* w = d->FindWin(owner);
  GtkWidget* dlg = gtk_file_chooser_dialog_new(title.c_str(), w ? GTK_WINDOW(w->window) : nullptr,
                                               GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER, "_Cancel", GTK_RESPONSE_CANCEL,
                                               "_OK", GTK_RESPONSE_ACCEPT, nullptr);
  GtkFileChooser* chooser = GTK_FILE_CHOOSER(dlg);
  gtk_file_chooser_set_create_folders(chooser, allowNew);
  std::string host;
  if (!initial.empty() && plat::to_posix(initial, host) == plat::kPathOk)
    gtk_file_chooser_set_current_folder(chooser, host.c_str());
  bool ok = false;
  if (gtk_dialog_run(GTK_DIALOG(dlg)) == GTK_RESPONSE_ACCEPT) {
    if (char* f = gtk_file_chooser_get_filename(chooser)) {
      std::string win;
      ok = plat::from_posix(f, win);
      if (ok) path = win;
      g_free(f);
    }
  }
  gtk_widget_destroy(dlg);
  return ok;
}

bool GtkBackend::PageSetupDialog(WindowId owner, TPageSetup& setup) {
  auto* w = d->FindWin(owner);
  GtkPrintSettings* settings = gtk_print_settings_new();
  if (!setup.PrinterName.empty()) gtk_print_settings_set_printer(settings, setup.PrinterName.c_str());
  GtkPageSetup* page = gtk_page_setup_new();
  gtk_page_setup_set_orientation(page,
                                 setup.Landscape ? GTK_PAGE_ORIENTATION_LANDSCAPE : GTK_PAGE_ORIENTATION_PORTRAIT);
  GtkPageSetup* result = gtk_print_run_page_setup_dialog(w ? GTK_WINDOW(w->window) : nullptr, page, settings);
  if (result) {
    setup.Landscape = gtk_page_setup_get_orientation(result) == GTK_PAGE_ORIENTATION_LANDSCAPE;
    if (GtkPaperSize* paper = gtk_page_setup_get_paper_size(result))
      setup.FormName = gtk_paper_size_get_display_name(paper);
    g_object_unref(result);
  }
  g_object_unref(page);
  g_object_unref(settings);
  return result != nullptr;
}

TRect GtkBackend::OverlayAllocation(OverlayId id) {
  auto* o = d->FindOvl(id);
  if (!o) return {};
  GtkAllocation a;
  gtk_widget_get_allocation(o->widget, &a);
  return Bounds(a.x, a.y, a.width, a.height);
}

TCursor GtkBackend::CurrentCursor(WindowId id) {
  auto* w = d->FindWin(id);
  return w ? w->cursor : crDefault;
}

void* GtkBackend::NativeWindow(WindowId id) {
  auto* w = d->FindWin(id);
  return w ? w->window : nullptr;
}

unsigned long GtkBackend::NativeWindowId(WindowId id) {
  auto* w = d->FindWin(id);
#ifdef GDK_WINDOWING_X11
  if (w) {
    GdkWindow* gw = gtk_widget_get_window(w->window);
    if (gw && GDK_IS_X11_WINDOW(gw)) return gdk_x11_window_get_xid(gw);
  }
#endif
  (void)w;
  return 0;
}

}  // namespace ui
