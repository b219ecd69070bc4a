// The label: where and how its caption is drawn, the shrink of a line that
// cannot wrap, the disabled grey, and which changes re-run which steps.
#include <gtest/gtest.h>

#include "controls_support.h"
#include "kvn_label.h"
#include "qlm_complex_text.h"

using namespace ui;

namespace {

class LabelTest : public ctest::FormTest {
 protected:
  TKVNLabel* Make(int width = 100, int height = 17) {
    label = new TKVNLabel(form);
    label->SetBounds(10, 10, width, height);
    label->SetParent(form);
    test::Snapshot(form);
    return label;
  }
  const TBitmap& Render() {
    TLabelScene* s = label->LabelScene();
    s->Invalidate(true, label->Width(), label->Height());
    return *s->AcquireBitmap();
  }
  // Columns holding pixels other than the background: first and last.
  std::pair<int, int> InkColumns(const TBitmap& b) {
    const uint32_t bg = ctest::argb_at(b, b.Width() - 1, 0);
    std::pair<int, int> r{-1, -1};
    for (int x = 0; x < b.Width(); ++x)
      for (int y = 0; y < b.Height(); ++y)
        if (ctest::argb_at(b, x, y) != bg) {
          if (r.first < 0) r.first = x;
          r.second = x;
          break;
        }
    return r;
  }
  TKVNLabel* label = nullptr;
};

}  // namespace

TEST_F(LabelTest, DefaultCaptionIsDrawnBlackAtTheLeftOnTheFormColour) {
  Make();
  EXPECT_FALSE(label->ParentColor());
  const TBitmap& b = Render();
  const auto ink = InkColumns(b);
  EXPECT_GE(ink.first, 0);
  EXPECT_LT(ink.first, 3);
  EXPECT_LT(ink.second, 40);                         // "Label" at 9 points
  EXPECT_EQ(ctest::argb_at(b, 99, 0), 0xFFFFFFFFu);  // the form's white
  int darkest = 255;
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x) darkest = std::min<int>(darkest, ctest::argb_at(b, x, y) & 255);
  EXPECT_LT(darkest, 60);
}

TEST_F(LabelTest, AnUnbreakableLineShrinksToTheWidthFromTheTopLeft) {
  Make();
  label->SetCaption("Unbreakablewordwiderthanthelabel");
  const TBitmap& b = Render();
  const double width = label->LabelScene()->Document()->GetWidth();
  ASSERT_GT(width, 130);
  const auto ink = InkColumns(b);
  EXPECT_LT(ink.first, 2);
  EXPECT_LE(ink.second, 99);
  EXPECT_GE(ink.second, 90);  // the whole width, scaled by 100 / width
}

TEST_F(LabelTest, DisabledDrawsTheCaptionDarkGrey) {
  Make(200, 40);
  label->LabelScene()->SetFontSize(24);
  label->SetCaption("Grey");
  label->SetSceneEnabled(false);
  EXPECT_TRUE(label->TWinControl::Enabled());
  const TBitmap& b = Render();
  int darkest = 255;
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x) {
      const uint32_t c = ctest::argb_at(b, x, y);
      ASSERT_EQ(c >> 16 & 255, c & 255);
      ASSERT_EQ(c >> 8 & 255, c & 255);
      darkest = std::min<int>(darkest, c & 255);
    }
  EXPECT_EQ(darkest, 169);
}

TEST_F(LabelTest, ResizeLaysOutAgainWhileLayoutSettingsRebuildTheDocument) {
  Make();
  TLabelScene* s = label->LabelScene();
  Render();
  const int formats = s->FormatCount(), layouts = s->LayoutCount();
  Render();  // a plain repaint
  EXPECT_EQ(s->FormatCount(), formats);
  EXPECT_EQ(s->LayoutCount(), layouts);
  label->SetBounds(10, 10, 150, 17);
  test::Snapshot(form);
  EXPECT_EQ(s->FormatCount(), formats);
  EXPECT_EQ(s->LayoutCount(), layouts + 1);
  EXPECT_EQ(s->Document()->GetLayoutWidth(), 150);
  s->SetAlignHor(ALIGN_CENTER);
  test::Snapshot(form);
  EXPECT_EQ(s->FormatCount(), formats + 1);
  EXPECT_EQ(s->LayoutCount(), layouts + 2);
  s->SetLabelColor(0xFFFF0000);  // only repaints
  test::Snapshot(form);
  EXPECT_EQ(s->FormatCount(), formats + 1);
  EXPECT_EQ(s->LayoutCount(), layouts + 2);
}

TEST_F(LabelTest, EmptyCaptionDrawsOnlyTheBackground) {
  Make();
  label->SetCaption("");
  EXPECT_EQ(InkColumns(Render()), std::make_pair(-1, -1));
}
