// The composite control: blending, scroll-bar geometry, the bar timer's
// hover and auto-repeat, thumb dragging, the wheel, layers that fail, and
// windowed layers against whole ones.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "controls_support.h"
#include "kvn_composite.h"
#include "qlm_renderer.h"

using namespace ui;

namespace {

constexpr uint32_t kWhite = 0xFFFFFFFF;

// A layer of one colour.
class SolidScene : public TRenderingSceneDirect {
 public:
  explicit SolidScene(uint32_t color) : mColor(color) {}
  int renders = 0;
  void RenderFrame(int32_t, int32_t) override {
    ++renders;
    Renderer()->ClearARGB(mColor);
  }

 private:
  uint32_t mColor;
};

// Circles and slanted lines down a tall layer: drawn whole, or windowed
// over the visible part only, skipping what lies outside it.
class PatternScene : public TRenderingSceneDirect {
 public:
  explicit PatternScene(bool windowed) : mWindowed(windowed) {}
  bool RendersWindowed() override { return mWindowed; }
  void SetWindowed(bool windowed) { mWindowed = windowed; }
  int32_t lastHeight = 0;
  void RenderFrame(int32_t, int32_t h) override {
    lastHeight = h;
    const int32_t top = mWindowed ? Window().Top : 0, bottom = top + h;
    cRenderer& r = *Renderer();
    r.ClearARGB(0xFFF8F4E0);
    for (int y = 0; y < 20000; y += 97) {
      if (y + 63 < top || y - 2 >= bottom) continue;  // nothing of it shows
      r.SetFillColorARGB(0xFF000000u | uint32_t(y * 2654435761u >> 8));
      r.SetPenColorARGB(0xC0203040);
      r.SetPenWidth(1.5);
      r.DrawCircle(nullptr, 40 + y % 130, y + 30.25, 22.5);
      r.DrawLine(nullptr, 0, y + 0.5, 200, y + 60.5);
    }
  }

 private:
  bool mWindowed;
};

class CompositeTest : public ctest::FormTest {
 protected:
  TKVNCompositeCustomControl* AddComposite(int w, int h) {
    auto* c = new TKVNCompositeCustomControl(form);
    c->SetBounds(0, 0, w, h);
    c->SetParent(form);
    return c;
  }
  // 200 x 300 over a grey layer 150 x 1000, painted once: the vertical bar
  // only, content end at 700.
  TKVNCompositeCustomControl* TallComposite() {
    auto* c = AddComposite(200, 300);
    c->AddLayer(0, 0, 150, 1000, &grey);
    test::Snapshot(form);
    return c;
  }
  SolidScene grey{0xFF808080};
  uint32_t At(TKVNCompositeCustomControl* c, int x, int y) {
    test::Snapshot(form);
    return ctest::argb_at(c->Composite(), x, y);
  }
};

}  // namespace

TEST(BitmapBlend, CasesOfAlphaFormatAndOverlap) {
  auto make = [](TPixelFormat f, int w, int h, std::vector<uint8_t> px) {
    auto b = std::make_unique<TBitmap>();
    b->SetPixelFormat(f);
    b->SetSize(w, h);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w && !px.empty(); ++x)
        std::memcpy(b->ScanLine(y) + x * b->BytesPerPixel(), px.data(), px.size());
    return b;
  };
  auto bytes = [](const TBitmap& b, int x, int y) {
    return std::vector<uint8_t>(b.ScanLine(y) + x * b.BytesPerPixel(), b.ScanLine(y) + (x + 1) * b.BytesPerPixel());
  };
  struct Case {
    const char* name;
    TPixelFormat tf;
    std::vector<uint8_t> t;
    TPixelFormat sf;
    std::vector<uint8_t> s;
    std::vector<uint8_t> expected;
  };
  const std::vector<Case> cases = {
      {"alpha 255 copies", pf32bit, {10, 20, 30, 40}, pf32bit, {1, 2, 3, 255}, {1, 2, 3, 255}},
      {"alpha 0 keeps", pf32bit, {10, 20, 30, 40}, pf32bit, {0, 0, 0, 0}, {10, 20, 30, 40}},
      // g = 128: (128 x 200) >> 8 + 64 = 164; alpha 255 - (215 x 128 >> 8) = 148.
      {"alpha 128 pre-multiplied", pf32bit, {200, 100, 0, 40}, pf32bit, {64, 32, 0, 128}, {164, 82, 0, 148}},
      {"into a 24-bit target", pf24bit, {200, 100, 0}, pf32bit, {64, 32, 0, 128}, {164, 82, 0}},
      {"24-bit source into 32", pf32bit, {10, 20, 30, 40}, pf24bit, {1, 2, 3}, {1, 2, 3, 255}},
      {"24-bit source into 24", pf24bit, {10, 20, 30}, pf24bit, {1, 2, 3}, {1, 2, 3}},
      // Not pre-multiplied: 200 x 128 >> 8 + 250 would wrap to 94.
      {"saturates", pf32bit, {200, 200, 200, 255}, pf32bit, {250, 250, 250, 128}, {255, 255, 255, 255}},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.name);
    auto t = make(tc.tf, 4, 3, tc.t);
    auto s = make(tc.sf, 2, 2, tc.s);
    // The source at (1, 1) of the target's space: pixels (1..2, 1..2).
    ASSERT_TRUE(bitmap_blend_argb(t.get(), 0, 0, s.get(), 1, 1));
    EXPECT_EQ(bytes(*t, 1, 1), tc.expected);
    EXPECT_EQ(bytes(*t, 2, 2), tc.expected);
    EXPECT_EQ(bytes(*t, 0, 0), tc.t);
    EXPECT_EQ(bytes(*t, 3, 1), tc.t);
  }
  auto t = make(pf32bit, 4, 3, {9, 9, 9, 9});
  auto s = make(pf32bit, 2, 2, {1, 2, 3, 255});
  auto s8 = make(pf8bit, 2, 2, {});
  EXPECT_FALSE(bitmap_blend_argb(t.get(), 0, 0, s.get(), 4, 0));                  // touching, no overlap
  EXPECT_FALSE(bitmap_blend_argb(t.get(), 0, 0, s.get(), INT32_MAX, INT32_MAX));  // no overflow
  EXPECT_FALSE(bitmap_blend_argb(t.get(), 0, 0, s8.get(), 0, 0));
  EXPECT_FALSE(bitmap_blend_argb(t.get(), 0, 0, nullptr, 0, 0));
  EXPECT_EQ(bytes(*t, 0, 0), (std::vector<uint8_t>{9, 9, 9, 9}));
  // Positions are in one space: the target scrolled to (100, 50).
  ASSERT_TRUE(bitmap_blend_argb(t.get(), 100, 50, s.get(), 103, 52));
  EXPECT_EQ(bytes(*t, 3, 2), (std::vector<uint8_t>{1, 2, 3, 255}));
}

// The 32-bit row blend, four pixels at a time where it can, against the
// per-pixel formula: every source alpha against a spread of target bytes,
// not pre-multiplied sources (saturation) included, runs of clear source
// pixels (all four bytes 0) on some rows, over widths that leave every
// remainder and at offsets that leave rows unaligned.
TEST(BitmapBlend, RowsMatchThePerPixelFormula) {
  uint32_t seed = 12345;
  auto next = [&seed] {
    seed = seed * 1103515245u + 12345u;
    return uint8_t(seed >> 16);
  };
  for (int w : {1, 2, 3, 4, 5, 7, 8, 9, 13, 64, 67})
    for (int offset : {0, 1, 3}) {
      SCOPED_TRACE(::testing::Message() << "width " << w << " offset " << offset);
      TBitmap t, s;
      t.SetPixelFormat(pf32bit);
      s.SetPixelFormat(pf32bit);
      t.SetSize(w + offset, 256);
      s.SetSize(w, 256);
      for (int y = 0; y < 256; ++y)
        for (int x = 0; x < w; ++x) {
          uint8_t* sp = s.ScanLine(y) + x * 4;
          for (int c = 0; c < 3; ++c) sp[c] = next();
          sp[3] = uint8_t(y + x);  // every alpha on each column
          if ((y / 8) % 3 == 0 && x % 16 < 9) std::memset(sp, 0, 4);
        }
      for (int y = 0; y < 256; ++y)
        for (int x = 0; x < (w + offset) * 4; ++x) t.ScanLine(y)[x] = next();
      std::vector<uint8_t> expected;
      for (int y = 0; y < 256; ++y) {
        const uint8_t* tp = t.ScanLine(y);
        const uint8_t* sp = s.ScanLine(y);
        for (int x = 0; x < (w + offset) * 4; x += 4) {
          if (x < offset * 4) {
            expected.insert(expected.end(), tp + x, tp + x + 4);
            continue;
          }
          const uint8_t* q = sp + x - offset * 4;
          const unsigned g = 256 - q[3];
          for (int c = 0; c < 3; ++c) expected.push_back(uint8_t(std::min(255u, ((g * tp[x + c]) >> 8) + q[c])));
          expected.push_back(uint8_t(255 - (((255u - tp[x + 3]) * g) >> 8)));
        }
      }
      ASSERT_TRUE(bitmap_blend_argb(&t, 0, 0, &s, offset, 0));
      std::vector<uint8_t> got;
      for (int y = 0; y < 256; ++y) got.insert(got.end(), t.ScanLine(y), t.ScanLine(y) + (w + offset) * 4);
      EXPECT_EQ(got, expected);
    }
}

TEST_F(CompositeTest, ScrollBarGeometry) {
  struct Case {
    const char* name;
    bool vertical;
    int content;
    bool toEnd;
    double thumb, free, offset, scale;
    bool drawn;
  };
  const std::vector<Case> cases = {
      {"vertical 1000 in 300", true, 1000, false, 69, 161, 0, 700.0 / 161, true},
      {"vertical 1000 in 300 at the end", true, 1000, true, 69, 161, 161, 700.0 / 161, true},
      {"horizontal 1000 in 300 at the end", false, 1000, true, 69, 161, 161, 700.0 / 161, true},
      {"vertical content smaller", true, 250, true, 0, 0, 0, 0, false},
      {"horizontal content smaller", false, 250, true, 0, 0, 0, 0, false},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.name);
    auto* c = tc.vertical ? AddComposite(200, 300) : AddComposite(300, 200);
    SolidScene scene(0xFF808080);
    if (tc.vertical)
      c->AddLayer(0, 0, 150, tc.content, &scene);
    else
      c->AddLayer(0, 0, tc.content, 150, &scene);
    if (tc.toEnd) {
      if (tc.vertical)
        c->ScrollToEnd();
      else
        c->ScrollBy(100000, 0);
    }
    test::Snapshot(form);
    const bool vertical = tc.vertical;
    EXPECT_DOUBLE_EQ(vertical ? c->VThumbLength() : c->HThumbLength(), tc.thumb);
    EXPECT_DOUBLE_EQ(vertical ? c->VFreeTrack() : c->HFreeTrack(), tc.free);
    EXPECT_NEAR(vertical ? c->VThumbOffset() : c->HThumbOffset(), tc.offset, 1e-9);
    EXPECT_DOUBLE_EQ(vertical ? c->VScale() : c->HScale(), tc.scale);
    // The first arrow's centre: the bar's fill or the background.
    const int x = vertical ? c->Width() - 15 : 15, y = vertical ? 15 : c->Height() - 15;
    EXPECT_EQ(At(c, x, y) != kWhite, tc.drawn);
    const int32_t before = vertical ? c->ScrollY() : c->ScrollX();
    test::Wheel(form, 50, 50, -120, vertical ? 0 : ssShift);
    const int32_t after = vertical ? c->ScrollY() : c->ScrollX();
    EXPECT_EQ(after, tc.drawn ? std::min(before + 120, tc.content - 300) : 0);
    TObject::Free(c);
  }
}

TEST_F(CompositeTest, WheelTurnsHorizontalWithModifiersOrOverTheHorizontalBar) {
  struct Case {
    const char* name;
    TShiftState keys;
    bool overHorizontalBar;
    int dx, dy;
  };
  for (const Case& tc : std::vector<Case>{{"plain", 0, false, 0, 120},
                                          {"ctrl", ssCtrl, false, 120, 0},
                                          {"shift", ssShift, false, 120, 0},
                                          {"alt", ssAlt, false, 120, 0},
                                          {"over the left arrow", 0, true, 120, 0}}) {
    SCOPED_TRACE(tc.name);
    auto* c = AddComposite(200, 300);
    SolidScene scene(0xFF808080);
    c->AddLayer(0, 0, 1000, 1000, &scene);
    test::Snapshot(form);
    int x = 100, y = 100;
    if (tc.overHorizontalBar) {
      x = 15, y = 285;  // the left arrow
      test::MouseMove(form, x, y);
      test::Advance(25);
      EXPECT_EQ(c->HoverPart(), TKVNCompositeCustomControl::hpLeft);
    }
    test::Wheel(form, x, y, -120, tc.keys);
    EXPECT_EQ(c->ScrollX(), tc.dx);
    EXPECT_EQ(c->ScrollY(), tc.dy);
    TObject::Free(c);
  }
}

TEST_F(CompositeTest, HeldArrowRepeatsEveryTickUntilRelease) {
  auto* c = TallComposite();
  ASSERT_NE(c->BarTimer(), nullptr);
  test::MouseDown(form, 185, 265);  // the down arrow
  EXPECT_EQ(c->ScrollY(), 20);
  EXPECT_EQ(GetCapture(), c);
  test::Advance(25);
  EXPECT_EQ(c->ScrollY(), 40);
  test::Advance(75);
  EXPECT_EQ(c->ScrollY(), 100);
  test::MouseUp(form, 185, 265);
  EXPECT_EQ(GetCapture(), nullptr);
  test::Advance(100);
  EXPECT_EQ(c->ScrollY(), 100);
  TObject::Free(c);
}

TEST_F(CompositeTest, ThumbDraggedPastTheEndStopsThereAndAReleaseOutsideEndsTheDrag) {
  auto* c = TallComposite();
  test::MouseDown(form, 185, 50);  // the thumb (25..94)
  EXPECT_EQ(c->ScrollY(), 0);
  test::MouseMove(form, 185, 90);
  EXPECT_EQ(c->ScrollY(), int(std::nearbyint(40 * 700.0 / 161)));
  test::MouseMove(form, 185, 900);
  EXPECT_EQ(c->ScrollY(), 700);
  test::MouseUp(form, 390, 290);  // outside the control
  EXPECT_EQ(GetCapture(), nullptr);
  test::MouseMove(form, 185, 60);
  EXPECT_EQ(c->ScrollY(), 700);
  TObject::Free(c);
}

TEST_F(CompositeTest, HideWhenOutsideHidesTheBarsWithinOneTickUnlessAPartIsHeld) {
  auto* c = AddComposite(200, 300);
  c->HideWhenOutside = true;
  SolidScene scene(0xFFFFFFFF);
  c->AddLayer(0, 0, 150, 1000, &scene);
  test::MouseMove(form, 100, 100);
  test::Advance(25);
  EXPECT_NE(At(c, 185, 15), kWhite);
  test::MouseMove(form, 390, 100);  // on the form, off the control
  test::Advance(25);
  EXPECT_EQ(c->HoverPart(), TKVNCompositeCustomControl::hpOutside);
  EXPECT_EQ(At(c, 185, 15), kWhite);
  // Back inside, then the thumb held while the pointer leaves.
  test::MouseMove(form, 100, 100);
  test::Advance(25);
  test::MouseDown(form, 185, 50);
  test::MouseMove(form, 390, 50);
  test::Advance(25);
  EXPECT_EQ(c->HoverPart(), TKVNCompositeCustomControl::hpOutside);
  EXPECT_NE(At(c, 185, 15), kWhite);
  test::MouseUp(form, 390, 50);
  test::Advance(25);
  EXPECT_EQ(At(c, 185, 15), kWhite);
  // Nothing hovers while another form is in front.
  auto* other = Create<TForm>(Application);
  other->Show();
  test::MouseMove(form, 185, 15);
  test::Advance(25);
  EXPECT_FALSE(c->FormInFront());
  EXPECT_EQ(c->HoverPart(), TKVNCompositeCustomControl::hpNone);
  TObject::Free(other);
  TObject::Free(c);
}

// While the horizontal bar shows, the content scrolls on past its end by
// the rows the bar covers (the bar and the gap below it), so that its last
// row shows above the bar; a layer that fits the height but not the width
// scrolls by those rows too.
TEST_F(CompositeTest, ScrolledToItsEndTheContentEndsAboveTheHorizontalBar) {
  const struct { int width, height, end; } rows[] = {{150, 1000, 700}, {1000, 1000, 725}, {1000, 290, 15}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.width);
    SCOPED_TRACE(row.height);
    auto* c = AddComposite(200, 300);
    c->AddLayer(0, 0, row.width, row.height, &grey);
    c->ScrollToEnd();
    EXPECT_EQ(c->ScrollY(), row.end);
    // The content's last row, in the middle of the control.
    EXPECT_NE(At(c, 100, row.height - 1 - row.end), kWhite);
    EXPECT_EQ(c->ScrollHeight(), int64_t(c->ScrollY()) + c->Height());
    TObject::Free(c);
  }
}

TEST_F(CompositeTest, ScrollToEndRightAfterNewLayersOnAHiddenControl) {
  auto* c = AddComposite(200, 300);
  c->Hide();
  SolidScene a(0xFF808080), b(0xFF404040);
  c->AddLayer(0, 0, 150, 1000, &a);
  c->ScrollToEnd();
  EXPECT_EQ(c->ScrollY(), 700);
  c->ClearLayers(false);
  EXPECT_EQ(a.Layer(), nullptr);
  c->AddLayer(0, 0, 150, 500, &b);
  c->ScrollToEnd();
  EXPECT_EQ(c->ScrollY(), 200);
  c->ClearLayers(true);
  EXPECT_EQ(c->ScrollY(), 0);
  TObject::Free(c);
}

TEST_F(CompositeTest, FailingLayerShowsNothingWhileTheOthersShow) {
  auto* c = AddComposite(200, 300);
  c->Bars = 0;
  SolidScene good(0xFF102030), failing(0xFF405060), above(0xFF708090);
  c->AddLayer(0, 0, 100, 100, &good);
  c->AddLayer(0, 100, TBitmap::kMaxSide + 1, 100, &failing);  // a bitmap too wide
  c->AddLayer(0, 200, 100, 100, &above);
  EXPECT_EQ(At(c, 50, 50), 0xFF102030u);
  EXPECT_EQ(At(c, 50, 150), kWhite);
  EXPECT_EQ(At(c, 50, 250), 0xFF708090u);
  EXPECT_EQ(failing.renders, 0);
  EXPECT_NE(failing.Errors().Log(), nullptr);
  // A scene freed before its composite leaves an empty layer.
  auto* gone = new SolidScene(0xFF000000);
  c->AddLayer(0, 0, 10, 10, gone);
  TObject::Free(gone);
  EXPECT_EQ(c->Layers().Last()->scene, nullptr);
  c->Repaint();
  EXPECT_EQ(At(c, 5, 5), 0xFF102030u);
  // A control squeezed to nothing composes nothing (and resizes nothing).
  c->SetWidth(0);
  c->Repaint();
  test::Snapshot(form);
  EXPECT_EQ(c->Composite().Width(), 200);
  TObject::Free(c);
}

TEST_F(CompositeTest, WindowedLayerComposesTheSameBytesAsAWholeOne) {
  auto* whole = AddComposite(220, 300);
  auto* windowed = AddComposite(220, 300);
  windowed->SetLeft(230);
  PatternScene w(false), v(true);
  whole->AddLayer(0, 0, 200, 20000, &w);
  windowed->AddLayer(0, 0, 200, 20000, &v);
  for (int32_t scroll : {0, 9851, 20000}) {
    SCOPED_TRACE(scroll);
    whole->ScrollBy(0, scroll - whole->ScrollY());
    windowed->ScrollBy(0, scroll - windowed->ScrollY());
    test::Snapshot(form);
    ASSERT_EQ(whole->ScrollY(), windowed->ScrollY());
    const TBitmap &a = whole->Composite(), &b = windowed->Composite();
    ASSERT_EQ(a.Height(), b.Height());
    for (int y = 0; y < a.Height(); ++y)
      for (int x = 0; x < a.Width(); ++x) ASSERT_EQ(ctest::argb_at(a, x, y), ctest::argb_at(b, x, y)) << x << "," << y;
    EXPECT_EQ(v.lastHeight, 300);  // the windowed scene renders what shows
    EXPECT_EQ(w.lastHeight, 20000);
  }
  TObject::Free(whole);
  TObject::Free(windowed);
}

TEST_F(CompositeTest, ASceneNoLongerWindowedDrawsTheWholeLayerUnshifted) {
  // Rendered windowed away from the layer's top, then whole: the whole
  // picture is drawn without the window's origin or update rectangle.
  auto* whole = AddComposite(220, 300);
  auto* windowed = AddComposite(220, 300);
  windowed->SetLeft(230);
  PatternScene w(false), v(true);
  whole->AddLayer(0, 0, 200, 20000, &w);
  windowed->AddLayer(0, 0, 200, 20000, &v);
  windowed->ScrollBy(0, 9851);
  test::Snapshot(form);
  ASSERT_EQ(v.lastHeight, 300);
  v.SetWindowed(false);
  windowed->ScrollBy(0, -windowed->ScrollY());
  test::Snapshot(form);
  EXPECT_EQ(v.lastHeight, 20000);
  const TBitmap &a = whole->Composite(), &b = windowed->Composite();
  ASSERT_EQ(a.Height(), b.Height());
  for (int y = 0; y < a.Height(); ++y)
    for (int x = 0; x < a.Width(); ++x) ASSERT_EQ(ctest::argb_at(a, x, y), ctest::argb_at(b, x, y)) << x << "," << y;
  TObject::Free(whole);
  TObject::Free(windowed);
}

TEST_F(CompositeTest, DragScrollingFromAPressThatNoBarPartTook) {
  // A subclass starts drag scrolling when the composite left the press.
  struct Dragging : TKVNCompositeCustomControl {
    using TKVNCompositeCustomControl::TKVNCompositeCustomControl;
    intptr_t WmLButtonDown(const TMouseMsg& m) override {
      const intptr_t r = TKVNCompositeCustomControl::WmLButtonDown(m);
      if (r == 1) BeginDragScroll(m.X, m.Y);
      return r;
    }
  };
  auto* c = new Dragging(form);
  c->SetBounds(0, 0, 200, 300);
  c->SetParent(form);
  c->AddLayer(0, 0, 150, 1000, &grey);
  test::Snapshot(form);
  test::MouseDown(form, 185, 265);  // the down arrow takes it: no drag
  test::MouseUp(form, 185, 265);
  EXPECT_EQ(c->ScrollY(), 20);
  test::MouseDown(form, 100, 200);
  EXPECT_EQ(GetCapture(), c);
  test::MouseMove(form, 100, 140);
  EXPECT_EQ(c->ScrollY(), 80);
  test::MouseMove(form, 100, -5000);  // clamped at the content end
  EXPECT_EQ(c->ScrollY(), 700);
  test::MouseUp(form, 100, -5000);
  test::MouseMove(form, 100, 200);
  EXPECT_EQ(c->ScrollY(), 700);
  TObject::Free(c);
}
