// The push button: its face rectangle, hover and press against the painted
// face, clicks by mouse and by Enter with its flash, the grey inactive
// look, mark-up captions and repeatable pictures.
#include <gtest/gtest.h>

#include <cmath>

#include "controls_support.h"
#include "kvn_button.h"
#include "qlm_complex_text.h"
#include "qlm_font.h"
#include "qlm_renderer.h"
#include "qlm_renderer_hittest.h"

using namespace ui;

namespace {

class ButtonTest : public ctest::FormTest {
 protected:
  // A button at (left, top) of the form, painted once.
  TKVNButton* Make(int width = 160, int height = 40, int left = 20, int top = 20) {
    button = new TKVNButton(form);
    button->SetBounds(left, top, width, height);
    button->SetParent(form);
    button->OnClick = [this](TObject* sender) {
      EXPECT_EQ(sender, button);
      ++clicks;
    };
    test::Snapshot(form);
    return button;
  }
  // The bounds of the painted face: the hit test's extent in the bitmap.
  TRect Face() {
    TButtonScene* s = button->ButtonScene();
    s->Invalidate(true, button->Width(), button->Height());
    TRect r{10000, 10000, -1, -1};
    for (int y = 0; y < button->Height(); ++y)
      for (int x = 0; x < button->Width(); ++x)
        if (s->HitTest()->HitTestInt(x, y) != 0) {
          r.Left = std::min(r.Left, x);
          r.Top = std::min(r.Top, y);
          r.Right = std::max(r.Right, x + 1);
          r.Bottom = std::max(r.Bottom, y + 1);
        }
    return r;
  }
  // Form coordinates of a point of the button.
  int X(int x) const { return button->Left() + x; }
  int Y(int y) const { return button->Top() + y; }
  TKVNButton* button = nullptr;
  int clicks = 0;
};

// Mean luminance of a pf32bit bitmap.
double luminance(const TBitmap& b) {
  double sum = 0;
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x) {
      const uint32_t c = ctest::argb_at(b, x, y);
      sum += 0.299 * (c >> 16 & 255) + 0.587 * (c >> 8 & 255) + 0.114 * (c & 255);
    }
  return sum / (double(b.Width()) * b.Height());
}

std::vector<uint8_t> pixels(const TBitmap& b) {
  std::vector<uint8_t> v;
  for (int y = 0; y < b.Height(); ++y) v.insert(v.end(), b.ScanLine(y), b.ScanLine(y) + b.Width() * 4);
  return v;
}

}  // namespace

TEST_F(ButtonTest, FaceRectangleFollowsShadowPressAndLook) {
  struct Case {
    const char* name;
    int width, height;
    TButtonType type;
    bool shadow, pressed;
    TRect face;  // left, top, right, bottom
  };
  const std::vector<Case> cases = {
      {"shadow", 160, 40, BTN_BOX, true, false, {3, 3, 151, 31}},
      {"shadow, pressed", 160, 40, BTN_BOX, true, true, {5, 5, 153, 33}},
      {"no shadow", 160, 40, BTN_BOX, false, false, {3, 3, 155, 31}},
      {"no shadow, pressed", 160, 40, BTN_BOX, false, true, {2, 2, 156, 32}},
      {"dialog button", 87, 32, BTN_BOX, false, false, {3, 3, 82, 23}},
      {"glass, shadow", 160, 40, BTN_GLASS, true, false, {6, 6, 151, 31}},
  };
  Make();
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.name);
    button->SetBounds(20, 20, tc.width, tc.height);
    button->SetButtonType(tc.type);
    button->SetButtonShadow(tc.shadow);
    button->ButtonScene()->SetPressed(tc.pressed);
    const TRect f = Face();
    EXPECT_EQ(f.Left, tc.face.Left);
    EXPECT_EQ(f.Top, tc.face.Top);
    EXPECT_EQ(f.Right, tc.face.Right);
    EXPECT_EQ(f.Bottom, tc.face.Bottom);
  }
}

TEST_F(ButtonTest, HoverFollowsThePaintedFaceOnlyWhileTheFormIsInFront) {
  struct Case {
    TButtonType type;
    bool anisotropic;
  };
  for (const Case& tc : std::vector<Case>{{BTN_ROUND, false}, {BTN_CANDY, true}, {BTN_CANDY, false}}) {
    SCOPED_TRACE(int(tc.type));
    Make();
    button->SetButtonType(tc.type);
    button->SetAnisotropic(tc.anisotropic);
    test::Snapshot(form);
    TButtonScene* s = button->ButtonScene();
    test::MouseMove(form, X(4), Y(4));  // a corner outside the face
    EXPECT_FALSE(s->Hovered());
    test::MouseMove(form, X(76), Y(17));  // the face's centre
    EXPECT_TRUE(s->Hovered());
    EXPECT_EQ(s->Phase(), 1.0);
    test::Advance(80);  // the tick advances the distortion and keeps the hover
    EXPECT_TRUE(s->Hovered());
    EXPECT_NEAR(s->Phase(), 1.0 + M_PI / 12, 1e-12);
    test::MouseMove(form, X(4), Y(4));
    EXPECT_FALSE(s->Hovered());
    TObject::Free(button);
  }
  // Another form in front: no hover, no press, no click.
  Make();
  auto* other = Create<TForm>(Application);
  other->Show();
  test::MouseMove(form, X(76), Y(17));
  EXPECT_FALSE(button->ButtonScene()->Hovered());
  test::MouseDown(form, X(76), Y(17));
  EXPECT_FALSE(button->ButtonScene()->Pressed());
  test::MouseUp(form, X(76), Y(17));
  test::Advance(80);
  EXPECT_FALSE(button->ButtonScene()->Hovered());
  EXPECT_EQ(clicks, 0);
  TObject::Free(other);
}

TEST_F(ButtonTest, MouseClicksNeedPressAndReleaseOnTheFace) {
  Make();
  TButtonScene* s = button->ButtonScene();
  test::Click(form, X(76), Y(17));
  EXPECT_EQ(clicks, 1);
  EXPECT_FALSE(s->Pressed());
  EXPECT_TRUE(button->Focused());
  EXPECT_TRUE(s->Focused());
  // Press, drag off, release: nothing, and the button is no longer pressed.
  test::MouseDown(form, X(76), Y(17));
  EXPECT_TRUE(s->Pressed());
  EXPECT_EQ(GetCapture(), button);
  test::MouseMove(form, X(300), Y(200));
  EXPECT_TRUE(s->Pressed());  // held off the face keeps the pressed look
  EXPECT_FALSE(s->Hovered());
  test::MouseUp(form, X(300), Y(200));
  EXPECT_EQ(clicks, 1);
  EXPECT_FALSE(s->Pressed());
  EXPECT_EQ(GetCapture(), nullptr);
  // A press beside the face and a release on it: nothing.
  test::MouseDown(form, X(2), Y(2));
  test::MouseMove(form, X(76), Y(17));
  test::MouseUp(form, X(76), Y(17));
  EXPECT_EQ(clicks, 1);
  // A disabled button takes no mouse input.
  button->SetEnabled(false);
  test::Click(form, X(76), Y(17));
  EXPECT_EQ(clicks, 1);
}

TEST_F(ButtonTest, GreyNeverHoversOrTakesMouseClicksButEnterClicksIt) {
  Make();
  button->SetColorIndex(CLR_GRAY);
  test::Snapshot(form);
  TButtonScene* s = button->ButtonScene();
  test::MouseMove(form, X(76), Y(17));
  EXPECT_FALSE(s->Hovered());
  test::Click(form, X(76), Y(17));
  EXPECT_FALSE(s->Pressed());
  EXPECT_EQ(clicks, 0);
  button->SetFocus();
  test::Key(form, VK_RETURN);
  EXPECT_EQ(clicks, 1);
  // Out of the table: the same as grey.
  button->SetColorIndex(TColorIndex(9));
  test::Snapshot(form);
  test::MouseMove(form, X(75), Y(18));
  EXPECT_FALSE(s->Hovered());
}

TEST_F(ButtonTest, EnterClicksOnceAndFlashesForAboutATenthOfASecond) {
  Make();
  TButtonScene* s = button->ButtonScene();
  button->SetFocus();
  test::Key(form, VK_RETURN);
  EXPECT_EQ(clicks, 1);
  EXPECT_TRUE(s->Flash());
  test::Advance(50);
  test::Key(form, VK_RETURN);  // falls into the running flash
  EXPECT_EQ(clicks, 1);
  test::Key(form, VK_SPACE);  // other keys do nothing
  EXPECT_EQ(clicks, 1);
  test::Advance(40);  // the tick at 80 ms: not yet 100 ms
  EXPECT_TRUE(s->Flash());
  test::Advance(80);  // the tick at 160 ms ends it
  EXPECT_FALSE(s->Flash());
  test::Key(form, VK_RETURN);
  EXPECT_EQ(clicks, 2);
}

TEST_F(ButtonTest, FocusGlowFollowsTheFocus) {
  Make();
  auto* other = new TKVNButton(form);
  other->SetBounds(20, 100, 160, 40);
  other->SetParent(form);
  button->SetFocus();
  EXPECT_TRUE(button->ButtonScene()->Focused());
  const std::vector<uint8_t> focused = pixels(*button->ButtonScene()->AcquireBitmap());
  other->SetFocus();
  EXPECT_FALSE(button->ButtonScene()->Focused());
  EXPECT_TRUE(other->ButtonScene()->Focused());
  EXPECT_NE(pixels(*button->ButtonScene()->AcquireBitmap()), focused);
}

TEST_F(ButtonTest, MarkupCaptionsAreHandedWholeToTheDocument) {
  Make();
  struct Case {
    const char* text;
    bool markup;
  };
  for (const Case& tc : std::vector<Case>{
           {"~}Continue", true}, {"~}", true}, {"~", false}, {"Continue", false}, {"x~}Continue", false}}) {
    SCOPED_TRACE(tc.text);
    button->SetButtonText(tc.text);
    EXPECT_EQ(button->ButtonScene()->CaptionDocument() != nullptr, tc.markup);
  }
  // Laid out as formatted text: as wide as the plain word, not the mark-up.
  button->SetButtonText("~}Continue");
  TButtonScene* s = button->ButtonScene();
  cRenderer* r = s->Renderer();
  r->SetFont(s->Font());
  EXPECT_NEAR(s->CaptionDocument()->GetLineWidth(), r->TextWidth("Continue"), 1.0);
  EXPECT_LT(s->CaptionDocument()->GetLineWidth(), r->TextWidth("~}Continue") - 1.0);
  // The font properties rebuild it.
  const double at9 = s->CaptionDocument()->GetLineWidth();
  button->SetFontSize(14);
  ASSERT_NE(s->CaptionDocument(), nullptr);
  EXPECT_GT(s->CaptionDocument()->GetLineWidth(), at9 * 1.4);
}

TEST_F(ButtonTest, EveryLookAndColourRendersTheSameTwiceAndGreyIsLighter) {
  Make(105, 35);
  TButtonScene* s = button->ButtonScene();
  for (const TButtonType type : {BTN_ROUND, BTN_BOX, BTN_GLASS, BTN_GEL, BTN_CANDY}) {
    SCOPED_TRACE(int(type));
    button->SetButtonType(type);
    std::vector<double> light;
    for (int c = CLR_BLUE; c <= CLR_GRAY; ++c) {
      button->SetColorIndex(TColorIndex(c));
      const std::vector<uint8_t> first = pixels(*s->AcquireBitmap());
      s->Invalidate(true, 105, 35);
      const TBitmap& again = *s->AcquireBitmap();
      EXPECT_EQ(pixels(again), first) << c;
      light.push_back(luminance(again));
    }
    EXPECT_GT(light[CLR_GRAY], light[CLR_BLUE]);
  }
}
