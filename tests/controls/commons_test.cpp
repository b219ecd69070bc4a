// Shared helpers: form placement over scripted monitors, the parent colour,
// the folder dialog, and the scroll box.
#include <gtest/gtest.h>

#include "controls_support.h"
#include "kvn_control.h"
#include "kvn_cursors.h"
#include "kvn_drawing.h"
#include "kvn_forms.h"
#include "kvn_scrollbox.h"
#include "kvn_shell.h"

using namespace ui;

namespace {

// A primary monitor and a second one left of it, at negative x.
class PlacementTest : public ctest::FormTest {
 protected:
  PlacementTest() { test::Headless().SetMonitors({{0, 0, 1024, 768}, {-1280, 0, 0, 1024}}); }
  TForm* Dialog(int left, int top) {
    auto* f = Create<TForm>(Application);
    f->SetBounds(left, top, 400, 300);
    return f;
  }
};

}  // namespace

TEST_F(PlacementTest, PlaceAndClampOverTwoMonitors) {
  auto* reference = Create<TForm>(Application);
  reference->SetBounds(100, 50, 600, 500);
  struct Case {
    const char* name;
    TPoint from;
    int mode;  // form_place mode; 0: form_clamp_to_monitor to `from`
    bool withReference;
    TPoint expected;
  };
  const std::vector<Case> cases = {
      {"centre on the current monitor", {100, 100}, 1, false, {312, 234}},
      {"centre on the monitor at negative x", {-1000, 100}, 1, false, {-840, 362}},
      {"bottom left", {100, 100}, 2, false, {20, 448}},
      {"top left", {100, 100}, 3, false, {20, 20}},
      {"bottom right", {100, 100}, 4, false, {604, 448}},
      {"top right", {100, 100}, 5, false, {604, 20}},
      {"another mode stays", {100, 100}, 7, false, {100, 100}},
      {"centre on the reference", {0, 0}, 1, true, {200, 150}},
      {"clamp: -1, -1 centres on the screen", {-1, -1}, 0, false, {312, 362}},
      {"clamp: right edge 10 inside", {800, 100}, 0, false, {614, 100}},
      {"clamp: bottom edge 35 inside", {100, 600}, 0, false, {100, 433}},
      {"clamp: the top-left corner moves in by one", {0, 0}, 0, false, {1, 1}},
      {"clamp: stays on the monitor at negative x", {-1000, 100}, 0, false, {-1000, 100}},
      {"clamp: right edge inside the monitor at negative x", {-300, 100}, 0, false, {-410, 100}},
      {"clamp: left of the monitor at negative x", {-1280, 0}, 0, false, {-1279, 1}},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.name);
    TForm* f = Dialog(tc.from.X, tc.from.Y);
    if (tc.mode == 0)
      form_clamp_to_monitor(f, tc.from.X, tc.from.Y);
    else
      form_place(f, tc.withReference ? reference : nullptr, uint8_t(tc.mode));
    EXPECT_EQ((TPoint{f->Left(), f->Top()}), tc.expected);
    EXPECT_EQ(f->Width(), 400);
    TObject::Free(f);
  }
  form_place(nullptr, nullptr, 1);
  form_clamp_to_monitor(nullptr, 0, 0);

  TPoint p{-10, 5};
  TRect r;
  monitor_rect_at(p, r);
  EXPECT_EQ(r, (TRect{-1280, 0, 0, 1024}));
  EXPECT_EQ(p, (TPoint{1270, 5}));
  p = {5000, 5};  // on no monitor: the whole screen, the point as it was
  monitor_rect_at(p, r);
  EXPECT_EQ(r, (TRect{0, 0, 1024, 1024}));
  EXPECT_EQ(p, (TPoint{5000, 5}));
}

TEST_F(PlacementTest, ContainerColourAndTheFolderDialog) {
  auto* panel = new TPanel(form);
  panel->SetColor(clRed);
  auto* box = new cScrollBox(form);
  box->SetColor(RGB(1, 2, 3));
  auto* other = new TKVNCustomControl(form);
  other->SetColor(clBlue);
  form->SetColor(clBtnFace);
  struct Case {
    TControl* control;
    uint32_t expected;
  };
  for (const Case& tc : std::vector<Case>{
           {form, 0xFFF0F0F0}, {panel, 0xFFFF0000}, {box, 0xFF010203}, {other, 0x12345678}, {nullptr, 0x12345678}}) {
    uint32_t colour = 0x12345678;
    container_color(tc.control, colour);
    EXPECT_EQ(colour, tc.expected);
  }

  EXPECT_TRUE(gDialogCaption.empty());
  test::Headless().ScriptFolder(std::string("C:\\home\\u\\picked"));
  test::Headless().ScriptFolder(std::nullopt);
  std::string path = "stale";
  folder_browse("Destination", "", true, path);
  EXPECT_EQ(path, "C:\\home\\u\\picked");
  folder_browse("Destination", "C:\\home", false, path);
  EXPECT_EQ(path, "");
  const auto& asked = test::Headless().FolderAsked();
  ASSERT_EQ(asked.size(), 2u);
  EXPECT_EQ(asked[0].Initial, "");
  EXPECT_EQ(asked[0].Title, "Destination");
  EXPECT_TRUE(asked[0].AllowNew);
  EXPECT_EQ(asked[1].Initial, "C:\\home");
  EXPECT_FALSE(asked[1].AllowNew);
}

TEST_F(PlacementTest, ScrollBoxRangesPositionsAndSteps) {
  auto* box = new cScrollBox(form);
  EXPECT_EQ(box->Width(), 185);
  EXPECT_EQ(box->Height(), 41);
  EXPECT_TRUE(box->AutoScroll());
  cControlScrollBar& v = box->VertScrollBar();
  EXPECT_EQ(v.Increment(), 8);
  EXPECT_EQ(v.Color(), clBtnHighlight);
  v.SetColor(clRed);
  EXPECT_FALSE(v.ParentColor());
  v.SetParentColor(true);
  EXPECT_EQ(v.Color(), clBtnHighlight);
  v.SetIncrement(0);
  EXPECT_EQ(v.Increment(), 1);
  v.SetIncrement(8);

  box->SetParent(form);
  box->SetBounds(0, 0, 100, 100);
  auto child = [&](int top, int height, bool visible) {
    auto* c = new TPanel(form);
    c->SetBounds(0, top, 50, height);
    c->SetVisible(visible);
    c->SetParent(box);
    return c;
  };
  TPanel* a = child(0, 150, true);
  TPanel* b = child(200, 100, true);
  child(1000, 100, false);  // hidden: no part of the range
  v.SetMargin(10);
  EXPECT_EQ(v.Range(), 310);
  EXPECT_EQ(v.MaxPosition(), 210);
  EXPECT_EQ(v.PageIncrement(), 90);
  EXPECT_TRUE(v.IsScrollBarVisible());
  EXPECT_FALSE(box->HorzScrollBar().IsScrollBarVisible());

  struct Step {
    TScrollCode code;
    int pos;
    int expected;
  };
  for (const Step& s : std::vector<Step>{{scLineDown, 0, 8},
                                         {scPageDown, 0, 108},
                                         {scLineUp, 0, 100},
                                         {scBottom, 0, 210},
                                         {scPageDown, 0, 210},
                                         {scTop, 0, 0},
                                         {scPageUp, 0, 0},
                                         {scPosition, 50, 50},
                                         {scTrack, 70, 50}}) {
    v.ScrollMessage(s.code, s.pos);
    EXPECT_EQ(v.Position(), s.expected);
    // The children moved with the position.
    EXPECT_EQ(a->Top(), -s.expected);
    EXPECT_EQ(b->Top(), 200 - s.expected);
  }
  v.SetTracking(true);
  v.ScrollMessage(scTrack, 70);
  EXPECT_EQ(v.Position(), 70);
  // Smooth: the page increment in 12 steps, the remainder with the last.
  v.SetSmooth(true);
  v.ScrollMessage(scPageDown);
  EXPECT_EQ(v.Position(), 160);
  v.ScrollMessage(scLineUp);
  EXPECT_EQ(v.Position(), 152);
  // A range set by hand is kept; the position follows a smaller one.
  v.SetRange(120);
  box->SetBounds(0, 0, 100, 100);
  EXPECT_EQ(v.Range(), 120);
  EXPECT_EQ(v.Position(), 20);
  EXPECT_EQ(b->Top(), 180);
}

TEST_F(PlacementTest, CursorTableFromTheRegisteredPictures) {
  EXPECT_EQ(link_cursor(), crHandPoint);  // nothing loaded yet
  controls_register_pictures();
  cursors_load();
  struct Case {
    int slot;
    bool loaded;
    TPoint hot;
  };
  for (const Case& tc : std::vector<Case>{{99, true, {8, 2}},
                                          {14, true, {17, 13}},
                                          {5, true, {7, 5}},
                                          {17, true, {6, 11}},
                                          {12, true, {15, 14}},
                                          {11, true, {15, 14}},
                                          {1, false, {}},
                                          {35, false, {}}}) {
    SCOPED_TRACE(tc.slot);
    const TCursorImage* image = Screen->Cursors(tc.slot);
    ASSERT_EQ(image != nullptr, tc.loaded);
    if (!image) continue;
    EXPECT_EQ((TPoint{image->HotX, image->HotY}), tc.hot);
    EXPECT_EQ(image->Pixels[0], 0u);  // the corner is clear
  }
  // The hand's finger: black ink under its tip.
  EXPECT_EQ(Screen->Cursors(99)->Pixels[6 * 32 + 8], 0xFF000000u);
  EXPECT_EQ(link_cursor(), TCursor(cnLinkCursor));
}

TEST(WebPages, OnlyHttpHttpsAndMailtoAreOpened) {
  std::vector<std::string> opened;
  auto saved = gOpenUrl;
  gOpenUrl = [&](const std::string& url) {
    opened.push_back(url);
    return true;
  };
  struct Case {
    const char* url;
    bool opens;
  };
  for (const Case& tc : std::vector<Case>{{"http://korvane.example/", true},
                                          {"HTTPS://www.korvane.example/snaprill", true},
                                          {"mailto:support@korvane.example", true},
                                          {"javascript:alert(1)", false},
                                          {"-x http://korvane.example/", false},
                                          {"file:///etc/passwd", false},
                                          {"korvane.example", false},
                                          {"", false}}) {
    SCOPED_TRACE(tc.url);
    opened.clear();
    EXPECT_EQ(open_web_page(tc.url), tc.opens);
    EXPECT_EQ(opened.size(), tc.opens ? 1u : 0u);
  }
  gOpenUrl = saved;
}
