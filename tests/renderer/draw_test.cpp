// The drawing core: solid fills against raw AGG pipelines, clipping,
// culling, hit masks, filter layers, pattern phase and hostile geometry.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "qlm_gouraud.h"
#include "qlm_renderer_engine.h"
#include "renderer_support.h"

namespace {

using testenv::pixel_argb;
using testenv::RendererTest;

class cDrawProbe : public cRendererSurface {
 public:
  void Draw(agg::path_storage& p, uint8_t mode = 1, cHitTest* hit = nullptr, bool draw = true, double x = 0,
            double y = 0) {
    SetCurrentPath(&p, x, y);
    RenderPath(mode, hit, draw, true, nullptr);
    SetCurrentPath(nullptr, 0, 0);
  }
  int64_t Paints() const { return mPaintCount; }
};

agg::path_storage polygon(std::initializer_list<double> xy) {
  agg::path_storage p;
  const double* v = xy.begin();
  p.move_to(v[0], v[1]);
  for (size_t i = 2; i + 1 < xy.size(); i += 2) p.line_to(v[i], v[i + 1]);
  p.close_polygon();
  return p;
}
agg::path_storage star() { return polygon({20.3, 2.7, 31.1, 33.9, 3.2, 12.4, 37.6, 12.9, 8.8, 34.2}); }

struct Bound {
  explicit Bound(int32_t kind = cnBitmap32BGRA, int w = 40, int h = 36, uint32_t bg = 0xFF102030u)
      : bitmap(testenv::solid_bitmap(w, h, kind, bg)) {
    EXPECT_TRUE(surface.Attach(bitmap.get(), true));
    EXPECT_TRUE(r.AttachSurface(&surface));
    r.PenOff();
  }
  std::vector<uint8_t> Bytes() const {
    return std::vector<uint8_t>(bitmap->Data(), bitmap->Data() + int64_t(bitmap->Stride()) * bitmap->Height());
  }
  std::unique_ptr<cBitmap> bitmap;
  cSurfaceBitmap surface;
  cDrawProbe r;
};

// The raw AGG twin: the same path filled over a copy of the background.
template <class PixFmt>
std::vector<uint8_t> raw_fill(int32_t kind, agg::path_storage p, const agg::rgba8& c, bool aa, bool even_odd,
                              uint32_t bg = 0xFF102030u) {
  auto bm = testenv::solid_bitmap(40, 36, kind, bg);
  agg::rendering_buffer rb(bm->Data(), 40, 36, bm->Stride());
  PixFmt pf(rb);
  agg::renderer_base<PixFmt> base(pf);
  agg::rasterizer_scanline_aa<agg::rasterizer_sl_clip_dbl> ras;
  ras.clip_box(0, 0, 40, 36);
  ras.filling_rule(even_odd ? agg::fill_even_odd : agg::fill_non_zero);
  if (!aa) ras.gamma(agg::gamma_threshold(0.5));
  ras.add_path(p);
  if (aa) {
    agg::scanline_u8 sl;
    agg::render_scanlines_aa_solid(ras, sl, base, c);
  } else {
    agg::scanline_bin sl;
    agg::render_scanlines_bin_solid(ras, sl, base, c);
  }
  return std::vector<uint8_t>(bm->Data(), bm->Data() + int64_t(bm->Stride()) * 36);
}

using raw_fn = std::vector<uint8_t> (*)(int32_t, agg::path_storage, const agg::rgba8&, bool, bool, uint32_t);

class DrawTest : public RendererTest {};

TEST_F(DrawTest, SolidFillsEqualRawAggInEveryFormat) {
  struct {
    int32_t kind;
    raw_fn raw;
  } formats[] = {{cnBitmap24RGB, raw_fill<agg::pixfmt_rgb24>},   {cnBitmap24BGR, raw_fill<agg::pixfmt_bgr24>},
                 {cnBitmap32RGBA, raw_fill<agg::pixfmt_rgba32>}, {cnBitmap32BGRA, raw_fill<agg::pixfmt_bgra32>},
                 {cnBitmap32ARGB, raw_fill<agg::pixfmt_argb32>}, {cnBitmap32ABGR, raw_fill<agg::pixfmt_abgr32>}};
  for (const auto& f : formats)
    for (bool aa : {true, false})
      for (bool eo : {false, true}) {
        Bound b(f.kind);
        b.r.SetAntiAliasing(aa);
        b.r.SetFillEvenOdd(eo);
        b.r.SetFillColor(renderer_color(200, 90, 30, 170));
        agg::path_storage p = star();
        b.r.Draw(p);
        EXPECT_EQ(b.Bytes(), f.raw(f.kind, star(), agg::rgba8(200, 90, 30, 170), aa, eo, 0xFF102030u))
            << "kind " << f.kind << " aa " << aa << " even-odd " << eo;
      }
}

TEST_F(DrawTest, CompositingFillsEqualRawAggCustomBlend) {
  // Operation 4 (source over) and 15 (multiply) through the custom-blend
  // accessor, against AGG's custom-blend pixel format.
  for (auto [ours, theirs] :
       {std::pair{uint8_t(4), agg::comp_op_src_over}, std::pair{uint8_t(15), agg::comp_op_multiply}}) {
    Bound b;
    b.r.SetCompOp(ours);
    b.r.SetFillColor(renderer_color(200, 90, 30, 170));
    agg::path_storage p = star();
    b.r.Draw(p);
    auto bm = testenv::solid_bitmap(40, 36, cnBitmap32BGRA, 0xFF102030u);
    agg::rendering_buffer rb(bm->Data(), 40, 36, bm->Stride());
    using pf_t =
        agg::pixfmt_custom_blend_rgba<agg::comp_op_adaptor_rgba<agg::rgba8, agg::order_bgra>, agg::rendering_buffer>;
    pf_t pf(rb, theirs);
    agg::renderer_base<pf_t> base(pf);
    agg::rasterizer_scanline_aa<agg::rasterizer_sl_clip_dbl> ras;
    ras.clip_box(0, 0, 40, 36);
    agg::scanline_u8 sl;
    agg::path_storage q = star();
    ras.add_path(q);
    agg::render_scanlines_aa_solid(ras, sl, base, agg::rgba8(200, 90, 30, 170));
    EXPECT_EQ(b.Bytes(), std::vector<uint8_t>(bm->Data(), bm->Data() + bm->Stride() * 36)) << int(ours);
  }
}

TEST_F(DrawTest, TranslatedShapeIsTheImageShifted) {
  Bound a(cnBitmap32BGRA, 40, 36, 0xFF000000u), b(cnBitmap32BGRA, 40, 36, 0xFF000000u);
  agg::path_storage p = polygon({5.25, 4.5, 20.5, 6.75, 12.1, 19.9});
  a.r.Draw(p);
  b.r.Translate(7, 3);
  b.r.Draw(p);
  for (int y = 0; y < 36; ++y)
    for (int x = 0; x < 40; ++x) {
      const uint32_t want = (x >= 7 && y >= 3) ? pixel_argb(*a.bitmap, x - 7, y - 3) : 0xFF000000u;
      ASSERT_EQ(pixel_argb(*b.bitmap, x, y), want) << x << "," << y;
    }
}

TEST_F(DrawTest, ClippedFillIsExactInsideAndUntouchedOutside) {
  for (bool aa : {true, false})
    for (bool inside : {true, false}) {
      Bound b;
      b.r.SetAntiAliasing(aa);
      b.r.SetFillColor(renderer_color(250, 250, 0, 255));
      b.r.SetClipInside(inside);
      b.r.ClipRect(10, 8, 30, 28);
      agg::path_storage p = star();
      b.r.Draw(p);
      b.r.ResetClipping(true);
      const std::vector<uint8_t> filled =
          raw_fill<agg::pixfmt_bgra32>(cnBitmap32BGRA, star(), agg::rgba8(250, 250, 0, 255), aa, false, 0xFF102030u);
      const std::vector<uint8_t> got = b.Bytes();
      const std::vector<uint8_t> bg = Bound().Bytes();
      for (int y = 0; y < 36; ++y)
        for (int x = 0; x < 40; ++x) {
          const bool in_rect = x >= 10 && x < 30 && y >= 8 && y < 28;
          const size_t i = size_t(y) * 160 + size_t(x) * 4;
          const std::vector<uint8_t>& want = (in_rect == inside) ? filled : bg;
          ASSERT_EQ(std::memcmp(&got[i], &want[i], 4), 0) << x << "," << y << " aa " << aa << " in " << inside;
        }
    }
}

TEST_F(DrawTest, ResetClippingWithoutWriteBackLeavesNothing) {
  Bound b;
  const std::vector<uint8_t> before = b.Bytes();
  b.r.ClipRect(0, 0, 40, 36);
  agg::path_storage p = star();
  b.r.Draw(p);
  b.r.ResetClipping(false);
  EXPECT_EQ(b.Bytes(), before);
}

TEST_F(DrawTest, CullingAndDrawFalse) {
  // A box touching the left edge (x2 = 0) is culled; without culling it is
  // drawn (its anti-aliased edge reaches nothing, so count painters).
  Bound b;
  agg::path_storage edge = polygon({-10, 5, 0, 5, 0, 15, -10, 15});
  b.r.SetCulling(true);
  b.r.Draw(edge);
  EXPECT_EQ(b.r.Paints(), 0);
  b.r.SetShadowRenderMode(1);
  b.r.SetPerspectiveShadow(10, 10, 10, 10, 5);
  b.r.Draw(edge);
  EXPECT_EQ(b.r.Paints(), 1) << "a perspective shadow skips culling";
  b.r.ShadowOff();
  b.r.SetCulling(false);
  b.r.Draw(edge);
  EXPECT_EQ(b.r.Paints(), 2);

  // draw = false: no pixel, but the hit mask of the fill.
  Bound c;
  const std::vector<uint8_t> before = c.Bytes();
  cHitTest hit;
  agg::path_storage square = polygon({5, 5, 15, 5, 15, 15, 5, 15});
  c.r.Draw(square, 1, &hit, false);
  EXPECT_EQ(c.Bytes(), before);
  EXPECT_EQ(hit.HitTest(10, 10), 255);
  EXPECT_EQ(hit.HitTest(20, 20), 0);
  // The fill off: only a hit test asking for interiors registers.
  cHitTest interior, plain;
  interior.SetHitInterior(true);
  c.r.FillOff();
  c.r.Draw(square, 1, &plain);
  c.r.Draw(square, 1, &interior);
  EXPECT_EQ(plain.HitTest(10, 10), 0);
  EXPECT_EQ(interior.HitTest(10, 10), 255);
  EXPECT_EQ(c.Bytes(), before);
}

TEST_F(DrawTest, PaintedAndUnpaintedRegistrationsAgree) {
  // A painted fill registers from the cells it was painted with; without
  // painting the shape is rasterised again for the mask. Both must agree,
  // clipped or not, for fills and strokes, also when the pen's filling rule
  // differs from the fill's (a wide stroke overlaps itself at the tips).
  for (bool clip : {false, true})
    for (bool pen_even_odd : {false, true})
      for (uint8_t mode : {1, 2}) {
        Bound a, b;
        cHitTest painted, unpainted;
        for (Bound* x : {&a, &b}) {
          x->r.PenOn();
          x->r.SetPenWidth(pen_even_odd ? 6 : 2.5);
          x->r.SetPenEvenOdd(pen_even_odd);
          if (clip) x->r.ClipEllipse(20, 18, 14, 9);
        }
        agg::path_storage p = star();
        a.r.Draw(p, mode, &painted);
        b.r.Draw(p, mode, &unpainted, false);
        for (int y = 0; y < 36; ++y)
          for (int x = 0; x < 40; ++x)
            ASSERT_EQ(painted.HitTest(x, y), unpainted.HitTest(x, y))
                << x << "," << y << " clip " << clip << " mode " << int(mode) << " even-odd pen " << pen_even_odd;
      }
}

TEST_F(DrawTest, ClippedShapeAnswersNothingOutsideTheClip) {
  Bound b;
  cHitTest hit;
  b.r.ClipRect(0, 0, 10, 36);
  agg::path_storage square = polygon({5, 5, 15, 5, 15, 15, 5, 15});
  b.r.Draw(square, 1, &hit);
  EXPECT_EQ(hit.HitTest(7, 10), 255);
  EXPECT_EQ(hit.HitTest(12, 10), 0);
}

TEST_F(DrawTest, TwoSmallSquaresStayTwoUnderGammaZero) {
  Bound b(cnBitmap32BGRA, 40, 36, 0xFF000000u);
  b.r.SetGamma(0);
  b.r.SetFillColor(renderer_color(255, 255, 255, 255));
  agg::path_storage p = polygon({5, 5, 8, 5, 8, 8, 5, 8});
  agg::path_storage second = polygon({16, 5, 19, 5, 19, 8, 16, 8});
  p.concat_path(second);
  b.r.Draw(p);
  for (int x = 8; x < 16; ++x) EXPECT_EQ(pixel_argb(*b.bitmap, x, 6), 0xFF000000u) << x;
  EXPECT_EQ(pixel_argb(*b.bitmap, 6, 6), 0xFFFFFFFFu);
  EXPECT_EQ(pixel_argb(*b.bitmap, 17, 6), 0xFFFFFFFFu);
}

struct LayerLog {
  int calls = 0;
  int32_t w = 0, h = 0;
  bool keep = false;
  std::vector<cBitmap*> kept;
  std::vector<uint64_t> seen;  // pixel serials of the layers
  bool scribble = false;       // the callback leaves grey in the layer's corner
  uint32_t first_pixel = 0;    // the corner as the callback found it
};
void layer_callback(cBitmap* layer, bool& keep, void* user) {
  auto* log = static_cast<LayerLog*>(user);
  ++log->calls;
  log->w = layer->Width();
  log->h = layer->Height();
  log->seen.push_back(uint64_t(layer->PixelsSerial()));
  std::memcpy(&log->first_pixel, layer->Data(), 4);
  if (log->scribble) std::memset(layer->Data(), 0x80, 4);
  keep = log->keep;
  if (keep) log->kept.push_back(layer);
}

TEST_F(DrawTest, FilterLayer) {
  // An identity callback with anti-aliasing off and opaque colours gives the
  // image drawn without a layer.
  Bound plain, layered;
  LayerLog log;
  for (Bound* b : {&plain, &layered}) {
    b->r.SetAntiAliasing(false);
    b->r.SetFillColor(renderer_color(10, 200, 90, 255));
  }
  layered.r.SetFilterCallback(layer_callback, 2, &log);
  agg::path_storage p = star();
  plain.r.Draw(p);
  layered.r.Draw(p);
  EXPECT_EQ(layered.Bytes(), plain.Bytes());
  ASSERT_EQ(log.calls, 1);
  // The fill's box (5.5, 4.25)-(30.5, 20.75) plus 2: origin (3, 2), far
  // corner (32.5, 22.75).
  agg::path_storage rect = polygon({5.5, 4.25, 30.5, 4.25, 30.5, 20.75, 5.5, 20.75});
  layered.r.Draw(rect);
  EXPECT_EQ(log.w, 30);
  EXPECT_EQ(log.h, 21);

  // Keep hands the bitmap over; the next primitive gets a new one.
  log.keep = true;
  layered.r.Draw(p);
  layered.r.Draw(p);
  ASSERT_EQ(log.kept.size(), 2u);
  EXPECT_NE(log.kept[0], log.kept[1]);
  for (cBitmap* k : log.kept) delete k;

  // A layer given back is used again for the next one of its size, cleared;
  // another size gets a new one.
  log.keep = false;
  log.scribble = true;
  log.seen.clear();
  agg::path_storage moved = polygon({6.5, 4.25, 31.5, 4.25, 31.5, 20.75, 6.5, 20.75});
  layered.r.Draw(rect);
  layered.r.Draw(moved);
  layered.r.Draw(p);
  ASSERT_EQ(log.seen.size(), 3u);
  EXPECT_EQ(log.seen[0], log.seen[1]);
  EXPECT_EQ(log.first_pixel, 0u);
  EXPECT_NE(log.seen[1], log.seen[2]);

  // A layer left of and above the surface blends from the inner offset.
  Bound np, nl;
  LayerLog log2;
  np.r.SetAntiAliasing(false);
  nl.r.SetAntiAliasing(false);
  nl.r.SetFilterCallback(layer_callback, 3, &log2);
  agg::path_storage off = polygon({-12.5, -7.25, 14.5, -7.25, 14.5, 9.5, -12.5, 9.5});
  np.r.Draw(off);
  nl.r.Draw(off);
  EXPECT_EQ(nl.Bytes(), np.Bytes());
  // The pad is TransformLength(3) = 3.0000001: from -4 (the surface grown by
  // the pad, floored) to 17.5000001.
  EXPECT_EQ(log2.w, 22);

  // A huge shape's layer is no larger than the surface plus the pad.
  Bound big;
  LayerLog log3;
  big.r.SetFilterCallback(layer_callback, 3, &log3);
  agg::path_storage huge = polygon({-1e7, -1e7, 1e7, -1e7, 1e7, 1e7, -1e7, 1e7});
  big.r.Draw(huge);
  ASSERT_EQ(log3.calls, 1);
  EXPECT_EQ(log3.w, 48);  // -4 .. 43.0000001
  EXPECT_EQ(log3.h, 44);
}

void checker(cRenderer* r, void*) {
  r->Clear(renderer_color(0, 0, 0, 255));
  r->PenOff();
  r->ClipRect(0, 0, 3, 2);
  r->ClearClipArea(renderer_color(255, 0, 0, 255));
  r->ResetClipping(true);
}

TEST_F(DrawTest, PatternPhase) {
  auto tiled = [](bool absolute, uint8_t wrap, std::initializer_list<agg::path_storage> shapes) {
    auto b = std::make_unique<Bound>(cnBitmap32BGRA, 40, 36, 0xFF000000u);
    b->r.SetAntiAliasing(false);
    b->r.SetFillPatternCallback(5, 4, checker, nullptr);
    b->r.SetFillPatternAbsolute(absolute);
    b->r.SetFillPatternWrap(wrap);
    for (agg::path_storage s : shapes) b->r.Draw(s);
    return b;
  };
  // Relative: two adjacent rectangles equal one covering both.
  auto two = tiled(false, 1, {polygon({3, 2, 17, 2, 17, 30, 3, 30}), polygon({17, 2, 33, 2, 33, 30, 17, 30})});
  auto one = tiled(false, 1, {polygon({3, 2, 33, 2, 33, 30, 3, 30})});
  EXPECT_EQ(two->Bytes(), one->Bytes());
  // Absolute: the pattern moves with the shape.
  auto at = tiled(true, 1, {polygon({2, 2, 12, 2, 12, 12, 2, 12})});
  auto moved = tiled(true, 1, {polygon({9, 5, 19, 5, 19, 15, 9, 15})});
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 10; ++x)
      ASSERT_EQ(pixel_argb(*at->bitmap, 2 + x, 2 + y), pixel_argb(*moved->bitmap, 9 + x, 5 + y));
  // Reflect repeats after twice the tile; repeat after the tile.
  auto rep = tiled(false, 1, {polygon({0, 0, 40, 0, 40, 36, 0, 36})});
  auto ref = tiled(false, 2, {polygon({0, 0, 40, 0, 40, 36, 0, 36})});
  for (int x = 0; x + 10 < 40; ++x) {
    EXPECT_EQ(pixel_argb(*rep->bitmap, x, 1), pixel_argb(*rep->bitmap, x + 5, 1)) << x;
    EXPECT_EQ(pixel_argb(*ref->bitmap, x, 1), pixel_argb(*ref->bitmap, x + 10, 1)) << x;
  }
  EXPECT_EQ(pixel_argb(*rep->bitmap, 1, 1), 0xFFFF0000u);
  EXPECT_EQ(pixel_argb(*rep->bitmap, 6, 1), 0xFFFF0000u);
  EXPECT_EQ(pixel_argb(*ref->bitmap, 6, 1), 0xFF000000u);  // mirrored: tile column 3
  // Through a filter layer (identity callback) the pattern lands on the same
  // pixels.
  LayerLog log;
  auto layered = std::make_unique<Bound>(cnBitmap32BGRA, 40, 36, 0xFF000000u);
  layered->r.SetAntiAliasing(false);
  layered->r.SetFillPatternCallback(5, 4, checker, nullptr);
  layered->r.SetFillPatternAbsolute(false);
  layered->r.SetFilterCallback(layer_callback, 2, &log);
  agg::path_storage whole = polygon({3, 2, 33, 2, 33, 30, 3, 30});
  layered->r.Draw(whole);
  EXPECT_EQ(log.calls, 1);
  EXPECT_EQ(layered->Bytes(), one->Bytes());
  // Under a non-linear stage the pattern maps back pixel by pixel; an
  // identity perspective changes nothing.
  auto persp = std::make_unique<Bound>(cnBitmap32BGRA, 40, 36, 0xFF000000u);
  persp->r.SetAntiAliasing(false);
  persp->r.SetFillPatternCallback(5, 4, checker, nullptr);
  persp->r.SetFillPatternAbsolute(false);
  const double quad[8] = {0, 0, 40, 0, 40, 36, 0, 36};
  persp->r.AddPerspective(quad, 0, 0, 40, 36);
  persp->r.Draw(whole);
  EXPECT_EQ(persp->Bytes(), one->Bytes());
  // With the pen outside device space the path is drawn from a moved and
  // mapped copy: fill and pattern land where they do otherwise.
  for (bool device : {true, false}) {
    auto b = std::make_unique<Bound>(cnBitmap32BGRA, 40, 36, 0xFF000000u);
    b->r.SetAntiAliasing(false);
    b->r.SetFillPatternCallback(5, 4, checker, nullptr);
    b->r.SetPenDeviceSpace(device);
    b->r.Translate(3, 2);
    agg::path_storage q = polygon({10, 10, 25, 10, 25, 22, 10, 22});
    b->r.Draw(q, 1, nullptr, true, 4, 3);
    if (device) continue;
    auto a = std::make_unique<Bound>(cnBitmap32BGRA, 40, 36, 0xFF000000u);
    a->r.SetAntiAliasing(false);
    a->r.SetFillPatternCallback(5, 4, checker, nullptr);
    a->r.Translate(3, 2);
    a->r.Draw(q, 1, nullptr, true, 4, 3);
    EXPECT_EQ(b->Bytes(), a->Bytes());
  }
}

class cTestMesh : public cGouraudMesh {
 public:
  std::vector<rGouraudTriangle> triangles;
  bool GetBounds(rRectD& box) const override {
    box = rRectD{1e9, 1e9, -1e9, -1e9};
    for (const auto& t : triangles)
      for (int i = 0; i < 3; ++i) {
        box.x1 = std::min(box.x1, t.x[i]), box.y1 = std::min(box.y1, t.y[i]);
        box.x2 = std::max(box.x2, t.x[i]), box.y2 = std::max(box.y2, t.y[i]);
      }
    return !triangles.empty();
  }
  double Dilation() const override { return 0.175; }
  double Gamma() const override { return 1.0; }
  bool FirstTriangle(rGouraudTriangle& t) override {
    index = 0;
    return NextTriangle(t);
  }
  bool NextTriangle(rGouraudTriangle& t) override {
    if (index >= triangles.size()) return false;
    t = triangles[index++];
    return true;
  }
  size_t index = 0;
};

TEST_F(DrawTest, GouraudMeshesEqualRawAggAndArePlaced) {
  cTestMesh mesh;
  mesh.triangles.push_back({{4, 30, 12}, {3, 8, 28}, {{255, 0, 0, 255}, {0, 255, 0, 200}, {0, 0, 255, 255}}});
  mesh.triangles.push_back({{30, 36, 12}, {8, 33, 28}, {{0, 255, 0, 200}, {255, 255, 0, 255}, {0, 0, 255, 255}}});
  Bound b;
  b.r.DrawGouraudMesh(&mesh, nullptr);
  auto raw = testenv::solid_bitmap(40, 36, cnBitmap32BGRA, 0xFF102030u);
  agg::rendering_buffer rb(raw->Data(), 40, 36, raw->Stride());
  agg::pixfmt_bgra32 pf(rb);
  agg::renderer_base<agg::pixfmt_bgra32> base(pf);
  agg::rasterizer_scanline_aa<agg::rasterizer_sl_clip_dbl> ras;
  ras.clip_box(0, 0, 40, 36);
  ras.gamma(agg::gamma_linear(0.0, 1.0));
  agg::scanline_u8 sl;
  agg::span_allocator<agg::rgba8> alloc;
  for (const auto& t : mesh.triangles) {
    auto c = [&](int i) { return agg::rgba8(t.rgba[i][0], t.rgba[i][1], t.rgba[i][2], t.rgba[i][3]); };
    agg::span_gouraud_rgba<agg::rgba8> sg(c(0), c(1), c(2), t.x[0], t.y[0], t.x[1], t.y[1], t.x[2], t.y[2], 0.175);
    ras.reset();
    ras.add_path(sg);
    agg::render_scanlines_aa(ras, sl, base, alloc, sg);
  }
  EXPECT_EQ(b.Bytes(), std::vector<uint8_t>(raw->Data(), raw->Data() + raw->Stride() * 36));
  // Placed with its box corner at (6, 5) = drawn after Translate(2, 2).
  Bound placed, moved;
  placed.r.DrawGouraudMeshAt(&mesh, nullptr, 6, 5);
  moved.r.Translate(2, 2);
  moved.r.DrawGouraudMesh(&mesh, nullptr);
  EXPECT_EQ(placed.Bytes(), moved.Bytes());
  // Other objects, and triangles that cannot be placed, draw nothing.
  Bound none;
  cHitTest other;
  none.r.DrawGouraudMesh(&other, nullptr);
  none.r.DrawGouraudMesh(nullptr, nullptr);
  cTestMesh bad;
  bad.triangles.push_back({{4, std::nan(""), 12}, {3, 8, 28}, {}});
  bad.triangles[0].x[1] = std::numeric_limits<double>::infinity();
  none.r.DrawGouraudMesh(&bad, nullptr);
  EXPECT_EQ(none.Bytes(), Bound().Bytes());
}

TEST_F(DrawTest, HostileCoordinatesDrawNothing) {
  const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
  for (double v : {nan, inf, -inf, 1e300, -1e300}) {
    Bound b;
    const std::vector<uint8_t> before = b.Bytes();
    LayerLog log;
    b.r.SetFilterCallback(layer_callback, 2, &log);
    b.r.PenOn();
    cHitTest hit;
    agg::path_storage p = polygon({5, 5, v, 5, 15, 15});
    b.r.Draw(p, 3, &hit);
    agg::path_storage q = polygon({5, 5, 15, 5, 15, 15});
    b.r.Draw(q, 3, &hit, true, v, 1);
    EXPECT_EQ(b.Bytes(), before) << v;
    EXPECT_EQ(log.calls, 0) << v;
    EXPECT_EQ(hit.HitTest(10, 10), 0) << v;
  }
}

}  // namespace
