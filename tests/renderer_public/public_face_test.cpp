// The renderer as its users see it: only the public headers, in a target
// compiled without AGG's and FreeType's include folders (a public header that
// pulled AGG in would fail this build). Draws a gradient rounded rectangle
// and text onto rows the test owns, and checks the binding against the same
// drawing on a bitmap surface, whose pictures the renderer's own tests hold
// to raw AGG.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "bitmap_builders.h"
#include "qlm_bitmap.h"
#include "qlm_font.h"
#include "qlm_font_resolver.h"
#include "qlm_gradient.h"
#include "qlm_path.h"
#include "qlm_path_group.h"
#include "qlm_renderer.h"
#include "qlm_renderer_hittest.h"
#include "qlm_renderer_ids.h"
#include "qlm_renderer_state.h"
#include "qlm_renderer_surface.h"

namespace {

constexpr int32_t kWidth = 80;
constexpr int32_t kHeight = 40;
constexpr int32_t kPad = 12;  // bytes after each row that nobody may touch
constexpr int32_t kRowStep = kWidth * 4 + kPad;
constexpr uint8_t kSentinel = 0xA5;

class PublicFaceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    qlm_renderer_start();
    rFontFace face;
    if (!font_resolve("Arial", 0, face)) GTEST_SKIP() << "no font answers Arial (fonts-liberation)";
    font.SetFace("Arial", 0, 16);
    gradient.AddStopRGBA(0, 0, 0, 255, 0.0);
    gradient.AddStopRGBA(255, 0, 0, 255, 1.0);
  }

  // A gradient rounded rectangle (registered in the hit test) and black text.
  void Draw(cRenderer& r, cHitTest* hit) {
    r.ClearRGBA(255, 255, 255, 255);
    r.PenOff();
    r.SetFillGradient(&gradient);
    r.DrawRoundRect(hit, 2, 2, 38, 38, 8);
    r.ResetFillGradient(false);
    r.SetFont(&font);
    r.SetTextColor(renderer_color(0, 0, 0, 255));
    r.DrawText("Hg", 44, 34, nullptr);
  }

  // Caller-owned rows, white, with sentinel padding after each row.
  static std::vector<uint8_t> Rows() {
    std::vector<uint8_t> rows(size_t(kRowStep) * kHeight, kSentinel);
    for (int32_t y = 0; y < kHeight; ++y) std::memset(rows.data() + size_t(y) * kRowStep, 0xFF, kWidth * 4);
    return rows;
  }

  cFontWinTT font;
  cGradientLinearX gradient{0, 100};
};

TEST_F(PublicFaceTest, CallerRowsTopDownAndBottomUpEqualTheBitmapSurface) {
  std::unique_ptr<cRenderer> r(renderer_create());
  ASSERT_NE(r, nullptr);

  auto bitmap = testenv::make_bitmap(kWidth, kHeight, cnBitmap32BGRA, [](int32_t, int32_t) { return 0xFFFFFFFFu; });
  const uint8_t code = bitmap->PixelGeometry().pixel_format;
  cSurfaceBitmap reference;
  ASSERT_TRUE(reference.Attach(bitmap.get(), true));
  ASSERT_TRUE(r->AttachSurface(&reference));
  Draw(*r, nullptr);
  r->DetachSurface();
  reference.Detach();

  for (const bool topDown : {true, false}) {
    SCOPED_TRACE(topDown ? "top-down" : "bottom-up");
    std::vector<uint8_t> rows = Rows();
    cSurfaceMemory surface;
    ASSERT_TRUE(surface.Attach(rows.data(), kWidth, kHeight, kRowStep, code, topDown));
    EXPECT_EQ(surface.GetWidth(), kWidth);
    EXPECT_EQ(surface.GetHeight(), kHeight);
    ASSERT_TRUE(r->AttachSurface(&surface));
    cHitTest hit;
    Draw(*r, &hit);
    r->DetachSurface();
    surface.Detach();
    EXPECT_FALSE(surface.IsAssigned());

    for (int32_t y = 0; y < kHeight; ++y) {
      const uint8_t* row = rows.data() + size_t(topDown ? y : kHeight - 1 - y) * kRowStep;
      ASSERT_EQ(std::memcmp(row, bitmap->Data() + int64_t(y) * bitmap->Stride(), kWidth * 4), 0) << "row " << y;
      for (int32_t i = 0; i < kPad; ++i) ASSERT_EQ(row[kWidth * 4 + i], kSentinel) << "padding of row " << y;
    }
    EXPECT_NE(hit.HitTest(20, 20), 0);
    EXPECT_EQ(hit.HitTest(60, 20), 0);
  }

  // The picture itself: the gradient runs from black to red, the rounded
  // corner leaves the background, and the text inks its place.
  auto argb = [&](int32_t x, int32_t y) { return testenv::pixel_argb(*bitmap, x, y); };
  EXPECT_LT(argb(8, 20) >> 16 & 0xFF, argb(32, 20) >> 16 & 0xFF);
  EXPECT_EQ(argb(32, 20) & 0xFFFF, 0u);  // no green or blue in the ramp
  EXPECT_EQ(argb(2, 2), 0xFFFFFFFFu);
  int inked = 0;
  for (int32_t y = 0; y < kHeight; ++y)
    for (int32_t x = 42; x < kWidth; ++x) inked += argb(x, y) != 0xFFFFFFFFu;
  EXPECT_GT(inked, 20);
}

TEST_F(PublicFaceTest, RefusedAttachKeepsThePreviousBinding) {
  std::vector<uint8_t> rows = Rows();
  cSurfaceMemory surface;
  ASSERT_TRUE(surface.Attach(rows.data(), kWidth, kHeight, kRowStep, px32BGRA, true));
  struct rCase {
    const char* what;
    uint8_t* base;
    int32_t width, height, rowStep;
    uint8_t code;
  };
  const rCase cases[] = {
      {"nil base", nullptr, 4, 4, 16, px32BGRA},
      {"no width", rows.data(), 0, 4, 16, px32BGRA},
      {"negative height", rows.data(), 4, -1, 16, px32BGRA},
      {"row step shorter than a row", rows.data(), 4, 4, 15, px32BGRA},
      {"negative row step", rows.data(), 4, 4, -16, px32BGRA},
      // Four-byte pixels are stored as words: base and step on word boundaries.
      {"10 x 4 rows 41 bytes apart", rows.data(), 10, 4, 41, px32BGRA},
      {"row step off a word boundary", rows.data(), 4, 4, 18, px32RGBA},
      {"base off a word boundary", rows.data() + 2, 4, 4, 16, px32ARGB},
      {"format without a surface", rows.data(), 4, 4, 16, px1BW},
      {"unknown format", rows.data(), 4, 4, 16, 0},
  };
  for (const rCase& c : cases) {
    EXPECT_FALSE(surface.Attach(c.base, c.width, c.height, c.rowStep, c.code, false)) << c.what;
    EXPECT_EQ(surface.LastErrorCode(), 279) << c.what;
    EXPECT_TRUE(surface.IsAssigned()) << c.what;
    EXPECT_EQ(surface.GetWidth(), kWidth) << c.what;
    EXPECT_TRUE(surface.IsTopDown()) << c.what;
  }
  // 24-bit rows: three bytes a pixel are enough, at any address and step.
  EXPECT_TRUE(surface.Attach(rows.data(), kWidth, kHeight, kWidth * 3, px24RGB, true));
  EXPECT_TRUE(surface.Attach(rows.data() + 1, kWidth, kHeight, kWidth * 3 + 1, px24BGR, true));
}

TEST_F(PublicFaceTest, PathsGroupsAndSnapshotsWithoutAgg) {
  std::vector<uint8_t> rows = Rows();
  cSurfaceMemory surface;
  ASSERT_TRUE(surface.Attach(rows.data(), kWidth, kHeight, kRowStep, px32RGBA, true));
  std::unique_ptr<cRenderer> r(renderer_create());
  ASSERT_NE(r, nullptr);
  ASSERT_TRUE(r->AttachSurface(&surface));

  cPath path;
  path.MoveTo(4, 4);
  path.LineTo(30, 4);
  path.LineTo(4, 30);
  path.ClosePolygon();
  EXPECT_EQ(path.GetBounds().x2, 30);

  const std::unique_ptr<cState> saved = r->SaveState();
  cPathGroup group;
  ASSERT_TRUE(r->SetCaptureGroup(&group, true));
  r->DrawPath(&path, nullptr, 0, 0);
  r->DrawCircle(nullptr, 50, 20, 6);
  r->ClearCaptureGroup();
  EXPECT_EQ(group.Count(), 2u);
  rRectD bounds;
  group.GetBounds(bounds);
  EXPECT_EQ(bounds.x1, 4);
  EXPECT_EQ(bounds.x2, 56);
  group.Clear();
  EXPECT_EQ(group.Count(), 0u);
  group.GetBounds(bounds);
  EXPECT_EQ(bounds.x2, 0);

  r->SetFillColor(renderer_color(0, 0, 255, 255));
  r->RestoreState(saved.get());
  EXPECT_EQ(r->GetFillColor(), renderer_color(255, 255, 255, 255));
  r->DetachSurface();
}

}  // namespace
