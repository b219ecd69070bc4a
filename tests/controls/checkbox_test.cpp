// The check box: box and radio geometry, toggling by click and space, the
// Checked setter, the halo while hovered and pressed, the disabled box and
// captions that must shrink or have no room.
#include <gtest/gtest.h>

#include "controls_support.h"
#include "kvn_checkbox.h"

using namespace ui;

namespace {

class CheckBoxTest : public ctest::FormTest {
 protected:
  TKVNCheckBox* Make(int width = 97, int height = 17) {
    box = new TKVNCheckBox(form);
    box->SetBounds(10, 10, width, height);
    box->SetParent(form);
    box->OnClick = [this](TObject* sender) {
      EXPECT_EQ(sender, box);
      ++clicks;
    };
    test::Snapshot(form);
    return box;
  }
  std::vector<uint32_t> Render() {
    TCheckBoxScene* s = box->CheckBoxScene();
    s->Invalidate(true, box->Width(), box->Height());
    const TBitmap& b = *s->AcquireBitmap();
    std::vector<uint32_t> v;
    for (int y = 0; y < b.Height(); ++y)
      for (int x = 0; x < b.Width(); ++x) v.push_back(ctest::argb_at(b, x, y));
    return v;
  }
  uint32_t At(const std::vector<uint32_t>& v, int x, int y) const { return v[size_t(y) * box->Width() + x]; }
  // Pixels right of the box whose colour leans to blue or green (the halo).
  int Halo(const std::vector<uint32_t>& v) const {
    int n = 0;
    for (int y = 0; y < box->Height(); ++y)
      for (int x = 14; x < box->Width(); ++x) {
        const uint32_t c = At(v, x, y);
        const int r = int(c >> 16 & 255), g = int(c >> 8 & 255), b = int(c & 255);
        if (std::max(g, b) > r + 20) ++n;
      }
    return n;
  }
  TKVNCheckBox* box = nullptr;
  int clicks = 0;
};

}  // namespace

TEST_F(CheckBoxTest, BoxAndRadioGeometryAndTheMarkAlone) {
  Make();
  struct Case {
    const char* name;
    bool radio;
    int outlineX, outlineY;  // a pixel on the outline
  };
  for (const Case& tc : std::vector<Case>{{"box", false, 1, 8}, {"radio", true, 6, 3}}) {
    SCOPED_TRACE(tc.name);
    box->SetIsRadio(tc.radio);
    box->SetChecked(false);
    const std::vector<uint32_t> off = Render();
    EXPECT_EQ(At(off, tc.outlineX, tc.outlineY), cnCheckGoldenrod);
    EXPECT_EQ(At(off, 6, 8), 0xFFFFFFFFu);  // the form's white inside
    box->SetChecked(true);
    const std::vector<uint32_t> on = Render();
    EXPECT_EQ(At(on, 6, 8), cnCheckGoldenrod);  // the mark's centre
    // Checked and unchecked differ only inside the mark's rectangle.
    int changed = 0;
    for (int y = 0; y < box->Height(); ++y)
      for (int x = 0; x < box->Width(); ++x)
        if (At(on, x, y) != At(off, x, y)) {
          ++changed;
          EXPECT_TRUE(x >= 3 && x < 9 && y >= 5 && y < 12) << x << "," << y;
        }
    EXPECT_GT(changed, 4);
  }
  // The focused outline is dodger blue, hovered or not.
  box->SetIsRadio(false);
  box->SetFocus();
  EXPECT_EQ(At(Render(), 1, 8), cnCheckDodgerBlue);
}

TEST_F(CheckBoxTest, ClickAndSpaceToggleAndTheSetterFiresOnlyOnAChange) {
  Make();
  test::Click(form, 60, 18);
  EXPECT_TRUE(box->Checked());
  EXPECT_EQ(clicks, 1);
  EXPECT_TRUE(box->Focused());
  test::Key(form, VK_SPACE);
  EXPECT_FALSE(box->Checked());
  EXPECT_EQ(clicks, 2);
  test::Key(form, VK_RETURN);  // other keys do nothing
  EXPECT_EQ(clicks, 2);
  box->SetChecked(true);
  EXPECT_EQ(clicks, 3);
  box->SetChecked(true);
  EXPECT_EQ(clicks, 3);
}

TEST_F(CheckBoxTest, HaloFollowsThePointerAndADragOffTogglesNothing) {
  Make();
  EXPECT_EQ(Halo(Render()), 0);
  test::MouseMove(form, 60, 18);
  EXPECT_TRUE(box->CheckBoxScene()->Hovered());
  EXPECT_GT(Halo(Render()), 20);
  test::MouseDown(form, 60, 18);
  EXPECT_TRUE(box->CheckBoxScene()->Pressed());
  EXPECT_GT(Halo(Render()), 20);  // lime green now
  test::MouseMove(form, 300, 200);
  EXPECT_FALSE(box->CheckBoxScene()->Hovered());
  EXPECT_EQ(Halo(Render()), 0);
  test::MouseUp(form, 300, 200);
  EXPECT_FALSE(box->Checked());
  EXPECT_FALSE(box->CheckBoxScene()->Pressed());
  EXPECT_EQ(clicks, 0);
  // The tick drops a hover the pointer left without a mouse message.
  test::MouseMove(form, 60, 18);
  test::Headless().SetPointer({300, 200});
  test::Advance(100);
  EXPECT_FALSE(box->CheckBoxScene()->Hovered());
}

TEST_F(CheckBoxTest, DisabledIgnoresClickAndSpaceAndDrawsNoHalo) {
  Make();
  box->SetSceneEnabled(false);
  EXPECT_TRUE(box->TWinControl::Enabled());
  test::Click(form, 60, 18);
  box->SetFocus();
  test::Key(form, VK_SPACE);
  EXPECT_FALSE(box->Checked());
  EXPECT_EQ(clicks, 0);
  test::MouseMove(form, 60, 18);
  EXPECT_TRUE(box->CheckBoxScene()->Hovered());
  const std::vector<uint32_t> v = Render();
  EXPECT_EQ(Halo(v), 0);
  EXPECT_EQ(At(v, 1, 8), cnCheckDarkGrey);
}

TEST_F(CheckBoxTest, CaptionsShrinkToTheRoomOrAreNotDrawnWithoutOne) {
  struct Case {
    const char* name;
    int width;
    const char* caption;
    bool drawn;
  };
  for (const Case& tc :
       std::vector<Case>{{"wide caption in 201", 201, "A caption far too wide for this check box to hold", true},
                         {"10 wide", 10, "Check Box", false},
                         {"19 wide", 19, "Check Box", false},
                         {"empty caption", 97, "", false}}) {
    SCOPED_TRACE(tc.name);
    Make(tc.width);
    box->SetCaption(tc.caption);
    const std::vector<uint32_t> v = Render();
    const double scale = box->CheckBoxScene()->CaptionScale();
    if (!tc.drawn) {
      EXPECT_EQ(scale, 0);
      for (int y = 0; y < box->Height(); ++y)
        for (int x = 13; x < tc.width; ++x) EXPECT_EQ(At(v, x, y), 0xFFFFFFFFu) << x << "," << y;
    } else {
      EXPECT_GT(scale, 0);
      EXPECT_LT(scale, 0.9);
      // The caption reaches the right edge and no further.
      int right = 0;
      for (int y = 0; y < box->Height(); ++y)
        for (int x = 13; x < tc.width; ++x)
          if ((At(v, x, y) & 255) < 128) right = std::max(right, x);
      EXPECT_GE(right, tc.width - 6);
    }
    TObject::Free(box);
  }
}
