// The number entry: typed text, arrows with auto-repeat, limits.
#include <gtest/gtest.h>

#include "ui_probe.h"
#include "ui_spinedit.h"

using namespace ui;

TEST(UiSpinEdit, ArrowsStepRepeatWhileHeldAndKeepTheLimits) {
  uitest::FormFixture f;
  auto* spin = new TSpinEdit(f.form);
  spin->SetParent(f.form);
  spin->SetBounds(10, 10, 43, 22);
  spin->SetMinValue(6);
  spin->SetMaxValue(12);
  spin->SetValue(10);
  int changes = 0;
  spin->OnChange = [&](TObject*) { ++changes; };
  f.form->Show();
  EXPECT_EQ(spin->Edit().BoundsRect(), Bounds(0, 0, 30, 22));
  EXPECT_EQ(spin->Edit().FormRect(), Bounds(10, 10, 30, 22));

  int up_x = 10 + 43 - 5, up_y = 12, down_y = 28;
  test::MouseDown(f.form, up_x, up_y);
  EXPECT_EQ(spin->Value(), 11);
  test::Advance(TSpinEdit::kRepeatDelayMs - 1);
  EXPECT_EQ(spin->Value(), 11);
  test::Advance(1);
  EXPECT_EQ(spin->Value(), 12);
  test::Advance(TSpinEdit::kRepeatMs * 3);
  EXPECT_EQ(spin->Value(), 12);  // held at the maximum
  test::MouseUp(f.form, up_x, up_y);
  test::Advance(1000);
  test::MouseDown(f.form, up_x, down_y);
  test::MouseUp(f.form, up_x, down_y);
  EXPECT_EQ(spin->Value(), 11);
  EXPECT_EQ(changes, 3);  // 11, 12, 11: a step that changes nothing fires nothing

  test::TypeText(&spin->Edit(), "7");
  EXPECT_EQ(spin->Value(), 7);
  EXPECT_EQ(changes, 4);
  struct Case {
    const char* text;
    int value;
  } cases[] = {{"99", 99}, {"-3", -3}, {"2", 2}, {"", 6}, {"1x", 6}, {"99999999999", 6}};
  for (auto& c : cases) {
    test::TypeText(&spin->Edit(), c.text);
    EXPECT_EQ(spin->Value(), c.value) << c.text;  // as typed, for the change handler to judge
  }
  // Leaving the entry puts the limits on the text.
  auto* other = new TEdit(f.form);
  other->SetParent(f.form);
  test::TypeText(&spin->Edit(), "99");
  other->SetFocus();
  EXPECT_EQ(spin->Edit().Text(), "12");
  test::TypeText(&spin->Edit(), "x");
  other->SetFocus();
  EXPECT_EQ(spin->Edit().Text(), "6");
  // A capture lost while held stops the repeat.
  test::MouseDown(f.form, up_x, up_y);
  ReleaseCapture();
  int v = spin->Value();
  test::Advance(2000);
  EXPECT_EQ(spin->Value(), v);
}
