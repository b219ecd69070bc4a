// The button painters: the face each look registers in the hit test, the
// size guards, out-of-table colour indexes, the grey candy, the focus glow
// ring and a caption wider than its face.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

#include "kvn_button_paint.h"
#include "qlm_complex_text.h"
#include "qlm_font.h"
#include "qlm_renderer.h"
#include "qlm_renderer_hittest.h"
#include "qlm_renderer_ids.h"
#include "qlm_renderer_surface.h"

namespace {

using tPaint = std::function<void(cRenderer&, cHitTest*)>;

// A white 32-bit canvas the painters draw on with a black bold caption font.
class PaintTest : public ::testing::Test {
 protected:
  static constexpr int kW = 220, kH = 70;
  PaintTest() {
    qlm_renderer_start();
    font.SetFace("Verdana", cnFontBold, 0);
    font.SetSizePt(9);
  }
  // Paints on a fresh canvas; hit receives what the painter registers.
  std::vector<uint8_t> Paint(const tPaint& paint, cHitTest* hit = nullptr) {
    std::vector<uint8_t> rows(size_t(kW) * kH * 4, 0);
    cSurfaceMemory surface;
    EXPECT_TRUE(surface.Attach(rows.data(), kW, kH, kW * 4, px32BGRA, true));
    std::unique_ptr<cRenderer> r(renderer_create());
    EXPECT_TRUE(r->AttachSurface(&surface));
    r->ClearARGB(0xFFFFFFFF);
    r->SetFont(&font);
    r->SetTextColorARGB(0xFF000000);
    paint(*r, hit);
    r->DetachSurface();
    return rows;
  }
  // The hit mask as one byte (hit or not) per canvas pixel.
  std::vector<uint8_t> Mask(const tPaint& paint) {
    cHitTest hit;
    Paint(paint, &hit);
    std::vector<uint8_t> mask(size_t(kW) * kH);
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x) mask[size_t(y) * kW + x] = hit.HitTestInt(x, y) != 0;
    return mask;
  }
  static uint32_t Pixel(const std::vector<uint8_t>& rows, int x, int y) {
    const uint8_t* p = rows.data() + (size_t(y) * kW + x) * 4;
    return uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
  }
  cFontWinTT font;
};

using tLook = void (*)(cRenderer*, const std::string&, bool, double, double, double, double, TColorIndex, bool,
                       cHitTest*, cComplexText*);

void candy_iso(cRenderer* r, const std::string& t, bool clip, double x, double y, double w, double h, TColorIndex c,
               bool glow, cHitTest* hit, cComplexText* m) {
  button_draw_candy(r, t, clip, x, y, w, h, c, glow, false, hit, m);
}

struct rLook {
  const char* name;
  tLook draw;
};
const rLook kLooks[] = {{"round", &button_draw_round},
                        {"box", &button_draw_box},
                        {"glass", &button_draw_glass},
                        {"gel", &button_draw_gel},
                        {"candy", &candy_iso}};

}  // namespace

TEST_F(PaintTest, EachLookRegistersExactlyItsFaceShape) {
  struct Case {
    const char* name;
    tPaint painter, reference;
  };
  const std::vector<Case> cases = {
      {"round 79 x 20: corners 12, 10",
       [](cRenderer& r, cHitTest* h) { button_draw_round(&r, "", false, 3, 3, 79, 20, CLR_BLUE, false, h, nullptr); },
       [](cRenderer& r, cHitTest* h) {
         r.SetPenWidth(1.0);
         r.DrawRoundRectElliptic(h, 3, 3, 82, 23, 12, 10);
       }},
      {"round 200 x 50: corners 12, 18",
       [](cRenderer& r, cHitTest* h) { button_draw_round(&r, "", false, 3, 3, 200, 50, CLR_RED, false, h, nullptr); },
       [](cRenderer& r, cHitTest* h) {
         r.SetPenWidth(1.0);
         r.DrawRoundRectElliptic(h, 3, 3, 203, 53, 12, 18);
       }},
      {"box",
       [](cRenderer& r, cHitTest* h) { button_draw_box(&r, "", false, 3, 3, 80, 20, CLR_GREEN, false, h, nullptr); },
       [](cRenderer& r, cHitTest* h) {
         r.PenOff();
         r.DrawRectangle(h, 3, 3, 83, 23);
       }},
      {"glass: radius 6",
       [](cRenderer& r, cHitTest* h) { button_draw_glass(&r, "", false, 3, 3, 80, 30, CLR_BLUE, false, h, nullptr); },
       [](cRenderer& r, cHitTest* h) {
         r.PenOff();
         r.DrawRoundRect(h, 3, 3, 83, 33, 6);
       }},
      {"gel 10 x 6: radius 3",
       [](cRenderer& r, cHitTest* h) { button_draw_gel(&r, "", false, 3, 3, 10, 6, CLR_BLUE, false, h, nullptr); },
       [](cRenderer& r, cHitTest* h) {
         r.PenOff();
         r.DrawRoundRect(h, 3, 3, 13, 9, 3);
       }},
      {"candy 148 x 28: circle of radius 14",
       [](cRenderer& r, cHitTest* h) {
         button_draw_candy(&r, "", false, 3, 3, 148, 28, CLR_BLUE, false, false, h, nullptr);
       },
       [](cRenderer& r, cHitTest* h) {
         r.PenOff();
         r.DrawCircle(h, 77, 17, 14);
       }},
      {"candy 148 x 28 anisotropic: ellipse 74, 14",
       [](cRenderer& r, cHitTest* h) {
         button_draw_candy(&r, "", false, 3, 3, 148, 28, CLR_BLUE, false, true, h, nullptr);
       },
       [](cRenderer& r, cHitTest* h) {
         r.PenOff();
         r.DrawEllipse(h, 77, 17, 74, 14);
       }},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.name);
    const std::vector<uint8_t> got = Mask(tc.painter);
    EXPECT_EQ(got, Mask(tc.reference));
    EXPECT_NE(std::count(got.begin(), got.end(), 1), 0);
  }
}

TEST_F(PaintTest, FacesBelowTheMinimumOrNotANumberDrawNothing) {
  const std::vector<uint8_t> blank = Paint([](cRenderer&, cHitTest*) {});
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    const char* name;
    tPaint paint;
  };
  const std::vector<Case> cases = {
      // clang-format off
      {"gel 9 wide", [](cRenderer& r, cHitTest* h) { button_draw_gel(&r, "Go", true, 3, 3, 9, 20, CLR_BLUE, true, h, nullptr); }},
      {"gel 5 high", [](cRenderer& r, cHitTest* h) { button_draw_gel(&r, "Go", true, 3, 3, 40, 5, CLR_BLUE, true, h, nullptr); }},
      {"glass 3 wide", [](cRenderer& r, cHitTest* h) { button_draw_glass(&r, "Go", true, 3, 3, 3, 20, CLR_BLUE, true, h, nullptr); }},
      {"round 1 high", [](cRenderer& r, cHitTest* h) { button_draw_round(&r, "Go", true, 3, 3, 40, 1, CLR_BLUE, true, h, nullptr); }},
      {"box negative", [](cRenderer& r, cHitTest* h) { button_draw_box(&r, "Go", true, 3, 3, -8, 20, CLR_BLUE, true, h, nullptr); }},
      {"candy NaN width", [nan](cRenderer& r, cHitTest* h) { button_draw_candy(&r, "Go", true, 3, 3, nan, 20, CLR_BLUE, true, false, h, nullptr); }},
      {"round NaN place", [nan](cRenderer& r, cHitTest* h) { button_draw_round(&r, "Go", true, nan, 3, 40, 20, CLR_BLUE, true, h, nullptr); }},
      // clang-format on
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.name);
    cHitTest hit;
    EXPECT_EQ(Paint(tc.paint, &hit), blank);
    EXPECT_TRUE(hit.IsEmpty());
  }
}

TEST_F(PaintTest, ColourIndexesAboveGreyDrawAsGrey) {
  for (const rLook& look : kLooks) {
    SCOPED_TRACE(look.name);
    auto with = [&](TColorIndex c) {
      return Paint([&](cRenderer& r, cHitTest* h) { look.draw(&r, "OK", true, 5, 5, 100, 40, c, true, h, nullptr); });
    };
    const std::vector<uint8_t> grey = with(CLR_GRAY);
    EXPECT_EQ(with(TColorIndex(6)), grey);
    EXPECT_EQ(with(TColorIndex(255)), grey);
    EXPECT_NE(with(CLR_YELLOW), grey);
  }
}

TEST_F(PaintTest, GreyCandyIsDrawnInGreysFromTheRimToTheCentre) {
  const std::vector<uint8_t> rows = Paint([](cRenderer& r, cHitTest* h) {
    button_draw_candy(&r, "", false, 10, 5, 60, 60, CLR_GRAY, false, false, h, nullptr);
  });
  int darkest = 255;
  for (int y = 5; y < 65; ++y)
    for (int x = 10; x < 70; ++x) {
      const uint32_t c = Pixel(rows, x, y);
      const int red = int(c >> 16), green = int(c >> 8 & 255), blue = int(c & 255);
      ASSERT_EQ(red, green) << x << "," << y;
      ASSERT_EQ(red, blue) << x << "," << y;
      darkest = std::min(darkest, red);
    }
  EXPECT_LT(darkest, 100);  // towards the rim's (80, 80, 80)
}

TEST_F(PaintTest, FocusGlowRingSurroundsTheFaceOnlyWhenAsked) {
  // Warm pixels (more red than blue) in the band just outside the face.
  auto ring = [&](bool glow) {
    const std::vector<uint8_t> rows = Paint([glow](cRenderer& r, cHitTest* h) {
      button_draw_box(&r, "", false, 20, 20, 100, 30, CLR_BLUE, glow, h, nullptr);
    });
    int warm = 0;
    for (int x = 20; x < 120; ++x)
      for (const int y : {17, 18, 52, 53}) {
        const uint32_t c = Pixel(rows, x, y);
        if (c != 0xFFFFFF && (c >> 16) > (c & 255)) ++warm;
      }
    return warm;
  };
  EXPECT_GT(ring(true), 100);
  EXPECT_EQ(ring(false), 0);
}

TEST_F(PaintTest, AWideMarkupCaptionIsCentredOnTheFaceAndCutByTheClip) {
  // Dark caption pixels left and right of the face (x 80..140); the
  // caption fits on the canvas.
  auto outside = [&](bool clip) {
    cComplexText doc;
    std::unique_ptr<cRenderer> measure(renderer_create());
    EXPECT_TRUE(doc.SetText("~}WWWWWWWWWWWW"));
    EXPECT_TRUE(doc.FormatText(measure.get(), &font, ALIGN_LEFT, ALIGN_CENTER, 0, false));
    EXPECT_TRUE(doc.LayoutText(0));
    EXPECT_GT(doc.GetLineWidth(), 100);
    EXPECT_LT(doc.GetLineWidth(), 200);
    const std::vector<uint8_t> rows = Paint(
        [&](cRenderer& r, cHitTest* h) { button_draw_box(&r, "", clip, 80, 20, 60, 30, CLR_YELLOW, false, h, &doc); });
    std::pair<int, int> dark{0, 0};
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x) {
        if (x >= 80 && x < 140) continue;
        if ((Pixel(rows, x, y) & 0xFF) < 128) ++(x < 80 ? dark.first : dark.second);
      }
    return dark;
  };
  const auto unclipped = outside(false);
  EXPECT_GT(unclipped.first, 20);
  EXPECT_NEAR(unclipped.first, unclipped.second, unclipped.first / 4 + 4);
  EXPECT_EQ(outside(true), std::make_pair(0, 0));
}
