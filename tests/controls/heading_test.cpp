// The heading: bar, gloss, icon, caption room and the help button's place,
// its clicks, the disabled heading, the hint, and headings too narrow for
// their caption.
#include <gtest/gtest.h>

#include "controls_support.h"
#include "kvn_cursors.h"
#include "kvn_heading.h"
#include "qlm_image.h"
#include "qlm_renderer_hittest.h"

using namespace ui;

namespace {

class HeadingTest : public ctest::FormTest {
 protected:
  HeadingTest() { controls_register_pictures(); }
  TKVNHeading* Make(int width = 400, int height = 42) {
    heading = new TKVNHeading(form);
    heading->SetBounds(0, 0, width, height);
    heading->SetParent(form);
    heading->OnClick = [this](TObject* sender) {
      EXPECT_EQ(sender, heading);
      ++clicks;
    };
    test::Snapshot(form);
    return heading;
  }
  const TBitmap& Render() {
    THeadingScene* s = heading->HeadingScene();
    s->Invalidate(true, heading->Width(), heading->Height());
    return *s->AcquireBitmap();
  }
  // The extent of the help button's hit area in the last frame.
  TRect Help() {
    TRect r{10000, 10000, -1, -1};
    for (int y = 0; y < heading->Height(); ++y)
      for (int x = 0; x < heading->Width(); ++x)
        if (heading->HeadingScene()->HitTest()->HitTestInt(x, y) != 0) {
          r.Left = std::min(r.Left, x);
          r.Top = std::min(r.Top, y);
          r.Right = std::max(r.Right, x + 1);
          r.Bottom = std::max(r.Bottom, y + 1);
        }
    return r;
  }
  static int Grey(uint32_t c) { return int(c >> 16 & 255) + int(c >> 8 & 255) + int(c & 255); }
  TKVNHeading* heading = nullptr;
  int clicks = 0;
};

}  // namespace

TEST_F(HeadingTest, BarGlossIconCaptionAndHelpButtonGeometry) {
  Make();
  THeadingScene* s = heading->HeadingScene();
  struct Case {
    const char* name;
    bool fullHeight;
    const char* icon;
    const char* buttonText;
    bool pressed;
    int barBottom;    // first row below the bar (42: none)
    int glossBottom;  // first row below the gloss
    double captionLeft, room;
    TRect help;  // empty: no help button
  };
  const std::vector<Case> cases = {
      {"plain", false, nullptr, "", false, 34, 17, 15, 370, {}},
      {"full height", true, nullptr, "", false, 42, 21, 15, 370, {}},
      {"icon", false, "..\\C_HREF.png", "", false, 34, 17, 52, 333, {}},
      {"help button", false, nullptr, "Help", false, 34, 17, 15, 340, {365, 7, 390, 27}},
      {"help button pressed", false, nullptr, "Help", true, 34, 17, 15, 340, {364, 6, 391, 28}},
      {"blank button text", false, nullptr, "   ", false, 34, 17, 15, 370, {}},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.name);
    s->SetFullHeight(tc.fullHeight);
    s->SetIcon(nullptr);
    if (tc.icon != nullptr) heading->SetIcon(tc.icon);
    s->SetButtonText(tc.buttonText);
    s->SetHelpPressed(tc.pressed);
    const TBitmap& b = Render();
    // The bar over a white form, lighter under the gloss.
    EXPECT_NE(ctest::argb_at(b, 200, tc.barBottom - 1), 0xFFFFFFFFu);
    if (tc.barBottom < 42) {
      EXPECT_EQ(ctest::argb_at(b, 200, tc.barBottom), 0xFFFFFFFFu);
    }
    EXPECT_GT(Grey(ctest::argb_at(b, 200, tc.glossBottom - 1)), Grey(ctest::argb_at(b, 200, tc.glossBottom)) + 30);
    EXPECT_DOUBLE_EQ(s->CaptionLeft(), tc.captionLeft);
    EXPECT_DOUBLE_EQ(s->CaptionRoom(), tc.room);
    EXPECT_EQ(s->CaptionScale(), 1.0);
    const TRect h = Help();
    if (tc.help.Right == 0) {
      EXPECT_EQ(h.Right, -1);
    } else {
      EXPECT_EQ(h.Left, tc.help.Left);
      EXPECT_EQ(h.Top, tc.help.Top);
      EXPECT_EQ(h.Right, tc.help.Right);
      EXPECT_EQ(h.Bottom, tc.help.Bottom);
    }
  }
  // The icon is drawn at (5, 5) as 37 x 37, reaching below the bar, where
  // nothing else draws.
  s->SetButtonText("");
  s->SetIcon(nullptr);
  const TBitmap& plain = Render();
  std::vector<uint32_t> below;
  for (int y = 34; y < 42; ++y)
    for (int x = 0; x < 400; ++x) below.push_back(ctest::argb_at(plain, x, y));
  heading->SetIcon("..\\C_HREF.png");
  const TBitmap& withIcon = Render();
  int changed = 0;
  for (int y = 34; y < 42; ++y)
    for (int x = 0; x < 400; ++x)
      if (ctest::argb_at(withIcon, x, y) != below[size_t(y - 34) * 400 + x]) {
        ++changed;
        EXPECT_TRUE(x >= 5 && x < 42) << x << "," << y;
      }
  EXPECT_GT(changed, 0);
  // A name nothing supplies keeps the icon there was.
  heading->SetIcon("..\\C_HREF.png");
  cImage* icon = s->Icon();
  ASSERT_NE(icon, nullptr);
  heading->SetIcon("..\\no_such_icon.png");
  EXPECT_EQ(s->Icon(), icon);
}

TEST_F(HeadingTest, HelpButtonClicksOnReleaseOverItUnlessDisabled) {
  Make();
  THeadingScene* s = heading->HeadingScene();
  s->SetButtonText("Help");
  test::Snapshot(form);
  // Hover and its hint.
  test::MouseMove(form, 377, 17);
  EXPECT_TRUE(s->HelpHovered());
  EXPECT_EQ(test::Headless().FindWindow(form->Handle())->Tooltip, "Get Help about This Window");
  test::MouseMove(form, 100, 17);
  EXPECT_FALSE(s->HelpHovered());
  EXPECT_EQ(test::Headless().FindWindow(form->Handle())->Tooltip, "");
  // A press elsewhere on the heading and a release over the button clicks.
  test::MouseDown(form, 100, 17);
  EXPECT_TRUE(heading->Focused());
  test::MouseMove(form, 377, 17);
  test::MouseUp(form, 377, 17);
  EXPECT_EQ(clicks, 1);
  test::Click(form, 377, 17);
  EXPECT_EQ(clicks, 2);
  EXPECT_FALSE(s->HelpPressed());
  test::Key(form, VK_RETURN);
  EXPECT_EQ(clicks, 3);
  // Disabled: hover and press still drawn, nothing fires; the control
  // itself keeps its input.
  heading->SetSceneEnabled(false);
  EXPECT_TRUE(heading->TWinControl::Enabled());
  test::MouseDown(form, 377, 17);
  EXPECT_TRUE(s->HelpHovered());
  EXPECT_TRUE(s->HelpPressed());
  test::MouseUp(form, 377, 17);
  test::Key(form, VK_RETURN);
  EXPECT_EQ(clicks, 3);
  // The tick drops a hover the pointer left without a mouse message.
  test::MouseMove(form, 377, 17);
  const double phase = s->Phase();
  test::Headless().SetPointer({100, 17});
  test::Advance(100);
  EXPECT_FALSE(s->HelpHovered());
  EXPECT_GT(s->Phase(), phase);
}

TEST_F(HeadingTest, CaptionWithoutRoomIsNotDrawn) {
  struct Case {
    const char* name;
    int width;
    const char* caption;
    const char* button;
    double scale;
  };
  for (const Case& tc : std::vector<Case>{{"20 wide", 20, "Dialog Title", "", 0},
                                          {"help button wider than the heading", 60, "Dialog Title", "Help", 0},
                                          {"empty caption", 400, "", "", 0},
                                          {"shrunk", 120, "A Rather Long Dialog Title", "", -1}}) {
    SCOPED_TRACE(tc.name);
    Make(tc.width);
    heading->HeadingScene()->SetCaptionText(tc.caption);
    heading->HeadingScene()->SetButtonText(tc.button);
    Render();
    const double scale = heading->HeadingScene()->CaptionScale();
    if (tc.scale >= 0)
      EXPECT_EQ(scale, tc.scale);
    else
      EXPECT_TRUE(scale > 0 && scale < 1) << scale;
    TObject::Free(heading);
  }
}
