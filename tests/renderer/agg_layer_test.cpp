// The AGG layer: the compositing table against an independent evaluation of
// each operation, the grey weights, the type-erased target against raw AGG
// pixel formats, the whole-target clear against AGG's clear, and a smoke run
// of every AGG piece the renderer uses.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

#include "qlm_agg_extensions.h"
#include "qlm_bitmap_formats.h"
#include "renderer_support.h"

namespace {

using namespace qlm_agg;

// --------------------------------------------------------------------------
// Compositing: source (200, 100, 50, 180) over destination (30, 60, 90, 200),
// both as a pre-multiplied destination sees them, evaluated in doubles.

struct rPre {
  double r, g, b, a;
};

double clamp01(double v) { return v < 0 ? 0 : (v > 1 ? 1 : v); }

// Dca' for one channel of operation n, or NaN for operations that set the
// whole pixel themselves.
rPre reference(unsigned n, rPre s, rPre d) {
  const double sa = s.a, da = d.a, s1a = 1 - sa, d1a = 1 - da, sada = sa * da;
  const double union_a = sa + da - sada;
  auto each = [&](auto&& f, double a) { return rPre{f(s.r, d.r), f(s.g, d.g), f(s.b, d.b), a}; };
  switch (n) {
    case 1: return {0, 0, 0, 0};
    case 2: return s;
    case 3: return d;
    case 4: return each([&](double sc, double dc) { return sc + dc * s1a; }, union_a);
    case 5: return each([&](double sc, double dc) { return dc + sc * d1a; }, union_a);
    case 6: return each([&](double sc, double) { return sc * da; }, sada);
    case 7: return each([&](double, double dc) { return dc * sa; }, sada);
    case 8: return each([&](double sc, double) { return sc * d1a; }, sa * d1a);
    case 9: return each([&](double, double dc) { return dc * s1a; }, da * s1a);
    case 10: return each([&](double sc, double dc) { return sc * da + dc * s1a; }, da);
    case 11: return each([&](double sc, double dc) { return dc * sa + sc * d1a; }, sa);
    case 12: return each([&](double sc, double dc) { return sc * d1a + dc * s1a; }, sa + da - 2 * sada);
    case 13: {
      const double a = std::min(sa + da, 1.0);
      return each([&](double sc, double dc) { return std::min(sc + dc, a); }, a);
    }
    case 14: return each([&](double sc, double dc) { return std::max(dc - sc, 0.0); }, union_a);
    case 15: return each([&](double sc, double dc) { return sc * dc + sc * d1a + dc * s1a; }, union_a);
    case 16: return each([&](double sc, double dc) { return sc + dc - sc * dc; }, union_a);
    case 17:
      return each(
          [&](double sc, double dc) {
            return (2 * dc <= da ? 2 * sc * dc : sada - 2 * (da - dc) * (sa - sc)) + sc * d1a + dc * s1a;
          },
          union_a);
    case 18:
      return each([&](double sc, double dc) { return std::min(sc * da, dc * sa) + sc * d1a + dc * s1a; }, union_a);
    case 19:
      return each([&](double sc, double dc) { return std::max(sc * da, dc * sa) + sc * d1a + dc * s1a; }, union_a);
    case 20:
      return each(
          [&](double sc, double dc) {
            if (sc < sa) return sada * std::min(1.0, dc / da * sa / (sa - sc)) + sc * d1a + dc * s1a;
            return (dc > 0 ? sada : 0) + sc * d1a + dc * s1a;
          },
          union_a);
    case 21:
      return each(
          [&](double sc, double dc) {
            if (sc > 0) return sada * (1 - std::min(1.0, (1 - dc / da) * sa / sc)) + sc * d1a + dc * s1a;
            return (dc > da ? sada : 0) + dc * s1a;
          },
          union_a);
    case 22:
      return each(
          [&](double sc, double dc) {
            return (2 * sc < sa ? 2 * sc * dc : sada - 2 * (da - dc) * (sa - sc)) + sc * d1a + dc * s1a;
          },
          union_a);
    case 23:
      // AGG's own soft-light variant.
      return each(
          [&](double sc, double dc) {
            const double dcsa = dc * sa;
            if (2 * sc <= sa) return dcsa - (sada - 2 * sc * da) * dcsa * (sada - dcsa) + sc * d1a + dc * s1a;
            if (4 * dc <= da)
              return dcsa + (2 * sc * da - sada) * ((((16 * dcsa - 12) * dcsa + 4) * dc * da) - dc * da) + sc * d1a +
                     dc * s1a;
            return dcsa + (2 * sc * da - sada) * (std::sqrt(dcsa) - dcsa) + sc * d1a + dc * s1a;
          },
          union_a);
    case 24: return each([&](double sc, double dc) { return sc + dc - 2 * std::min(sc * da, dc * sa); }, union_a);
    case 25:
      return each([&](double sc, double dc) { return (sc * da + dc * sa - 2 * sc * dc) + sc * d1a + dc * s1a; },
                  union_a);
    case 26:
      return each(
          [&](double sc, double dc) { return std::clamp((dc - da / 2) * (2 * (sc - sa / 2) + 1) + da / 2, 0.0, da); },
          da);
    case 27: return each([&](double, double dc) { return (da - dc) * sa + dc * s1a; }, union_a);
    case 28: return each([&](double sc, double dc) { return (da - dc) * sc + dc * s1a; }, union_a);
    default: return reference(4, s, d);
  }
}

// Blends the source through the custom-blend accessor of a 1 x 1 BGRA
// surface set to operation n; answers R, G, B, A.
std::array<int, 4> blend_through_surface(unsigned n) {
  auto bitmap = testenv::solid_bitmap(1, 1, cnBitmap32BGRA, color_rgba(30, 60, 90, 200));
  cSurfaceBitmap surface;
  EXPECT_TRUE(surface.Attach(bitmap.get(), true));
  any_rgba_target* custom = surface.GetPixelFormat(cnSurfaceCustom);
  EXPECT_NE(custom, nullptr);
  custom->comp_op(n);
  renderer_any base(*custom);
  base.blend_pixel(0, 0, agg::rgba8(200, 100, 50, 180), agg::cover_full);
  const uint8_t* p = bitmap->Data();
  return {p[2], p[1], p[0], p[3]};
}

class CompOpTest : public testenv::RendererTest {};

TEST_F(CompOpTest, EachOperationMatchesItsFormula) {
  // The adaptor pre-multiplies the source with AGG's rounding, so the
  // reference starts from the same bytes.
  const rPre s{agg::rgba8::multiply(200, 180) / 255.0, agg::rgba8::multiply(100, 180) / 255.0,
               agg::rgba8::multiply(50, 180) / 255.0, 180 / 255.0};
  const rPre d{30 / 255.0, 60 / 255.0, 90 / 255.0, 200 / 255.0};
  for (unsigned n = 1; n <= 28; ++n) {
    SCOPED_TRACE(n);
    rPre e = reference(n, s, d);
    e.a = clamp01(e.a);
    e.r = std::clamp(e.r, 0.0, e.a);
    e.g = std::clamp(e.g, 0.0, e.a);
    e.b = std::clamp(e.b, 0.0, e.a);
    const auto got = blend_through_surface(n);
    EXPECT_NEAR(got[0], e.r * 255, 1.0);
    EXPECT_NEAR(got[1], e.g * 255, 1.0);
    EXPECT_NEAR(got[2], e.b * 255, 1.0);
    EXPECT_NEAR(got[3], e.a * 255, 1.0);
  }
}

TEST_F(CompOpTest, ScreenIsSixteenAndOutOfRangeIsNormal) {
  // Raw AGG's screen operation on the same pixel.
  agg::int8u raw[4] = {90, 60, 30, 200};  // BGRA
  agg::comp_op_adaptor_rgba<agg::rgba8, agg::order_bgra>::blend_pix(agg::comp_op_screen, raw, 200, 100, 50, 180,
                                                                    agg::cover_full);
  EXPECT_EQ(blend_through_surface(16), (std::array<int, 4>{raw[2], raw[1], raw[0], raw[3]}));

  const auto normal = blend_through_surface(4);
  for (unsigned n : {0u, 29u, 255u, 0xFFFFFFFFu}) EXPECT_EQ(blend_through_surface(n), normal) << n;
  EXPECT_EQ(comp_op_checked(29), 0u);
  EXPECT_EQ(comp_op_table<agg::order_rgba>::get(1000), comp_op_table<agg::order_rgba>::funcs[0]);
}

TEST(AggLayerTest, GreyUsesTheRendererWeights) {
  struct {
    uint8_t r, g, b, grey;
  } cases[] = {{255, 255, 255, 255}, {255, 0, 0, 76}, {0, 255, 0, 149}, {0, 0, 255, 28}, {10, 20, 30, 18}};
  for (const auto& c : cases) EXPECT_EQ(grey_of(c.r, c.g, c.b), c.grey) << int(c.r) << "," << int(c.g);
}

// --------------------------------------------------------------------------
// The type-erased target draws exactly what the concrete AGG format draws.

// Renders the same scene (an anti-aliased ellipse, a stroked curve and a
// gradient span fill) through any renderer base.
template <class RenBase>
void draw_scene(RenBase& base) {
  base.clear(agg::rgba8(10, 20, 30, 255));
  rasterizer ras;
  agg::scanline_u8 sl;
  agg::ellipse e(20, 16, 14, 9, 40);
  ras.add_path(e);
  agg::render_scanlines_aa_solid(ras, sl, base, agg::rgba8(200, 120, 40, 180));

  agg::path_storage path;
  path.move_to(2, 30);
  path.curve4(10, 0, 30, 40, 38, 4);
  agg::conv_curve<agg::path_storage> curve(path);
  agg::conv_stroke<agg::conv_curve<agg::path_storage>> stroke(curve);
  stroke.width(2.5);
  ras.reset();
  ras.add_path(stroke);
  agg::render_scanlines_aa_solid(ras, sl, base, agg::rgba8(20, 220, 90, 200));

  using interp = agg::span_interpolator_linear<>;
  agg::trans_affine mtx;
  interp inter(mtx);
  agg::gradient_x grad;
  agg::gradient_lut<agg::color_interpolator<agg::rgba8>, 256> lut;
  lut.add_color(0, agg::rgba8(255, 0, 0, 255));
  lut.add_color(1, agg::rgba8(0, 0, 255, 128));
  lut.build_lut();
  agg::span_gradient<agg::rgba8, interp, agg::gradient_x, decltype(lut)> span(inter, grad, lut, 0, 40);
  agg::span_allocator<agg::rgba8> alloc;
  agg::rounded_rect rr(4, 20, 36, 30, 3);
  rr.normalize_radius();
  ras.reset();
  ras.add_path(rr);
  agg::render_scanlines_aa(ras, sl, base, alloc, span);
}

TEST_F(CompOpTest, ErasedTargetDrawsWhatRawAggDraws) {
  struct {
    int32_t kind;
    int slot;
  } cases[] = {{cnBitmap32BGRA, cnSurfaceStraight}, {cnBitmap32RGBA, cnSurfacePre}, {cnBitmap24BGR, cnSurfaceStraight},
               {cnBitmap32ARGB, cnSurfaceStraight}, {cnBitmap24RGB, cnSurfacePre},  {cnBitmap32ABGR, cnSurfacePre}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.kind);
    auto ours = testenv::solid_bitmap(40, 32, c.kind, 0);
    auto raw = testenv::solid_bitmap(40, 32, c.kind, 0);
    cSurfaceBitmap surface;
    ASSERT_TRUE(surface.Attach(ours.get(), true));
    renderer_any base(*surface.GetPixelFormat(c.slot));
    draw_scene(base);

    agg::rendering_buffer rb(raw->Data(), 40, 32, raw->Stride());
    auto raw_draw = [&](auto pf) {
      agg::renderer_base<decltype(pf)> rbase(pf);
      draw_scene(rbase);
    };
    const bool pre = c.slot == cnSurfacePre;
    switch (c.kind) {
      case cnBitmap32BGRA: raw_draw(agg::pixfmt_bgra32(rb)); break;
      case cnBitmap32RGBA: raw_draw(agg::pixfmt_rgba32_pre(rb)); break;
      case cnBitmap24BGR: raw_draw(agg::pixfmt_bgr24(rb)); break;
      case cnBitmap32ARGB: raw_draw(agg::pixfmt_argb32(rb)); break;
      case cnBitmap24RGB: raw_draw(agg::pixfmt_rgb24_pre(rb)); break;
      case cnBitmap32ABGR: raw_draw(agg::pixfmt_abgr32_pre(rb)); break;
    }
    (void)pre;
    EXPECT_TRUE(testenv::bitmaps_equal(*ours, *raw));
  }
}

// --------------------------------------------------------------------------
// The whole-target clear against AGG's per-pixel clear: every code and
// accessor kind, colours whose bytes are all equal or not, tight, padded and
// bottom-up rows. Buffers start as a pattern, so bytes past a row's pixels
// must keep it.

TEST(AggLayerTest, WholeClearWritesWhatAggClearWrites) {
  const uint8_t codes[] = {px24RGB, px24BGR, px32RGBA, px32BGRA, px32ARGB, px32ABGR};
  const target_kind kinds[] = {target_kind::straight, target_kind::premultiplied, target_kind::custom_blend};
  const agg::rgba8 colours[] = {{0, 0, 0, 0},         {255, 255, 255, 255}, {16, 32, 48, 255},  {16, 32, 48, 128},
                                {128, 128, 128, 128}, {7, 7, 7, 0},         {255, 255, 255, 0}, {0, 0, 0, 255}};
  struct {
    unsigned width, height, padding;
    bool bottom_up;
  } layouts[] = {{1, 1, 0, false}, {5, 3, 0, false}, {7, 4, 5, false}, {6, 3, 3, true}, {37, 2, 0, true}};
  for (uint8_t code : codes)
    for (target_kind kind : kinds)
      for (const auto& l : layouts)
        for (const agg::rgba8& c : colours) {
          SCOPED_TRACE(::testing::Message() << int(code) << " kind " << int(kind) << " " << l.width << "x" << l.height
                                            << "+" << l.padding << (l.bottom_up ? " up" : "") << " (" << int(c.r) << ","
                                            << int(c.g) << "," << int(c.b) << "," << int(c.a) << ")");
          const unsigned pix = code == px24RGB || code == px24BGR ? 3 : 4;
          const int stride = int(l.width * pix + l.padding);
          std::vector<int8u> general(size_t(stride) * l.height), fast;
          for (size_t i = 0; i < general.size(); ++i) general[i] = int8u(i * 37 + 11);
          fast = general;
          agg::rendering_buffer rb_general(general.data(), l.width, l.height, l.bottom_up ? -stride : stride);
          agg::rendering_buffer rb_fast(fast.data(), l.width, l.height, l.bottom_up ? -stride : stride);
          any_rgba_target t_general, t_fast;
          const bool attached = t_general.attach(code, kind, rb_general);
          ASSERT_EQ(t_fast.attach(code, kind, rb_fast), attached);
          if (!attached) continue;  // no custom blend on 24-bit codes
          t_general.comp_op(cnCompOpClear);
          t_fast.comp_op(cnCompOpClear);
          renderer_any(t_general).clear(c);
          clear_whole(t_fast, c);
          EXPECT_EQ(fast, general);
        }
}

// --------------------------------------------------------------------------
// Every AGG piece the renderer builds on, instantiated over the erased
// target and run once; each must leave ink on a cleared BGRA surface.

TEST_F(CompOpTest, EveryAggPieceRendersOnce) {
  auto bitmap = testenv::solid_bitmap(64, 64, cnBitmap32BGRA, 0xFF000000u);
  cSurfaceBitmap surface;
  ASSERT_TRUE(surface.Attach(bitmap.get(), true));
  any_rgba_target& target = *surface.GetPixelFormat(0);
  renderer_any base(target);
  const agg::rgba8 ink(255, 255, 255, 255);
  auto inked = [&] {
    for (int32_t y = 0; y < 64; ++y)
      for (int32_t x = 0; x < 64; ++x)
        if ((testenv::pixel_argb(*bitmap, x, y) & 0xFFFFFF) != 0) return true;
    return false;
  };
  std::vector<std::pair<const char*, std::function<void()>>> pieces;
  rasterizer ras;
  ras.clip_box(0, 0, 64, 64);  // as every renderer pass sets it
  agg::scanline_u8 sl;
  agg::scanline_p8 slp;
  agg::scanline_bin slb;
  auto solid = [&](auto& vs) {
    ras.reset();
    ras.add_path(vs);
    agg::render_scanlines_aa_solid(ras, sl, base, ink);
  };
  agg::path_storage path;
  path.move_to(5, 5);
  path.line_to(50, 10);
  path.curve3(60, 30, 40, 50);
  path.curve4(30, 60, 10, 40, 8, 30);
  path.arc_to(10, 10, 0, false, true, 5, 5);
  path.close_polygon();
  pieces.push_back({"path_storage + conv_curve + scanline_u8", [&] {
                      agg::conv_curve<agg::path_storage> c(path);
                      solid(c);
                    }});
  pieces.push_back({"scanline_p8 + renderer_scanline_aa_solid", [&] {
                      agg::ellipse e(32, 32, 20, 10);
                      ras.reset();
                      ras.add_path(e);
                      agg::renderer_scanline_aa_solid<renderer_any> r(base);
                      r.color(ink);
                      agg::render_scanlines(ras, slp, r);
                    }});
  pieces.push_back({"scanline_bin + renderer_scanline_bin_solid", [&] {
                      agg::ellipse e(32, 32, 20, 10);
                      ras.reset();
                      ras.add_path(e);
                      agg::renderer_scanline_bin_solid<renderer_any> r(base);
                      r.color(ink);
                      agg::render_scanlines(ras, slb, r);
                    }});
  pieces.push_back({"rasterizer gamma, filling rule, far clip", [&] {
                      ras.gamma(agg::gamma_threshold(0.5));
                      ras.filling_rule(agg::fill_even_odd);
                      agg::path_storage far;
                      far.move_to(-1e12, -1e12);
                      far.line_to(1e12, 32);
                      far.line_to(-1e12, 1e12);
                      far.close_polygon();
                      solid(far);
                      ras.gamma(agg::gamma_none());
                      ras.filling_rule(agg::fill_non_zero);
                    }});
  pieces.push_back({"conv_stroke + conv_transform + trans_affine", [&] {
                      agg::trans_affine m = agg::trans_affine_rotation(0.3) * agg::trans_affine_skewing(0.1, 0) *
                                            agg::trans_affine_scaling(0.8) * agg::trans_affine_translation(4, 2);
                      agg::conv_curve<agg::path_storage> c(path);
                      agg::conv_transform<decltype(c)> t(c, m);
                      agg::conv_stroke<decltype(t)> s(t);
                      s.width(3);
                      s.line_join(agg::round_join);
                      s.line_cap(agg::round_cap);
                      solid(s);
                    }});
  pieces.push_back(
      {"conv_dash + conv_stroke + markers + conv_marker", [&] {
         agg::conv_curve<agg::path_storage> c(path);
         agg::conv_dash<decltype(c), agg::vcgen_markers_term> d(c);
         d.add_dash(6, 3);
         d.dash_start(1);
         agg::conv_stroke<decltype(d)> s(d);
         s.width(2);
         solid(s);
         cCustomPath arrow = {{cnPathMoveTo, 0, 0}, {cnPathLineTo, -6, 3}, {cnPathLineTo, -6, -3}, {cnPathClose}};
         marker_vertex_source shapes;
         shapes.SetStartPath(&arrow);
         shapes.SetEndPath(&arrow);
         agg::conv_curve<marker_vertex_source> mc(shapes);
         agg::conv_marker<agg::vcgen_markers_term, decltype(mc)> marker(d.markers(), mc);
         ras.reset();
         ras.add_path(s);  // collects the marker positions
         ras.reset();
         ras.add_path(marker);
         agg::render_scanlines_aa_solid(ras, sl, base, ink);
       }});
  pieces.push_back({"conv_bspline, conv_segmentator, bounding_rect", [&] {
                      agg::path_storage p;
                      p.move_to(5, 50);
                      p.line_to(20, 5);
                      p.line_to(40, 60);
                      p.line_to(60, 10);
                      agg::conv_bspline<agg::path_storage> b(p);
                      agg::conv_segmentator<decltype(b)> seg(b);
                      agg::conv_stroke<decltype(seg)> s(seg);
                      double x1, y1, x2, y2;
                      EXPECT_TRUE(agg::bounding_rect_single(s, 0, &x1, &y1, &x2, &y2));
                      solid(s);
                    }});
  pieces.push_back({"arc, bezier_arc, rounded_rect, ellipse", [&] {
                      agg::arc a(32, 32, 20, 20, 0, 3);
                      agg::conv_stroke<agg::arc> sa(a);
                      solid(sa);
                      agg::bezier_arc ba(32, 32, 10, 10, 0, 2);
                      agg::conv_curve<agg::bezier_arc> bc(ba);
                      solid(bc);
                      agg::rounded_rect rr(10, 10, 50, 40, 30);
                      rr.normalize_radius();
                      solid(rr);
                    }});
  pieces.push_back({"trans_viewport, perspective, bilinear, warp magnifier", [&] {
                      agg::trans_viewport vp;
                      vp.world_viewport(0, 0, 100, 50);
                      vp.device_viewport(0, 0, 64, 64);
                      vp.preserve_aspect_ratio(0.5, 0.5, agg::aspect_ratio_meet);
                      agg::trans_affine m = vp.to_affine();
                      double quad[8] = {5, 5, 60, 10, 55, 60, 8, 50};
                      qlm_agg::perspective persp;
                      EXPECT_TRUE(persp.rect_to_quad(0, 0, 100, 50, quad));
                      EXPECT_TRUE(persp.is_valid());
                      agg::trans_bilinear bil(0, 0, 100, 50, quad);
                      EXPECT_TRUE(bil.is_valid());
                      agg::trans_warp_magnifier mag;
                      mag.center(32, 32);
                      mag.magnification(2);
                      mag.radius(10);
                      agg::ellipse e(50, 25, 40, 20);
                      agg::conv_transform<agg::ellipse, qlm_agg::perspective> t1(e, persp);
                      solid(t1);
                      agg::conv_transform<agg::ellipse, agg::trans_bilinear> t2(e, bil);
                      solid(t2);
                      agg::conv_transform<agg::ellipse> t3(e, m);
                      agg::conv_transform<decltype(t3), agg::trans_warp_magnifier> t4(t3, mag);
                      solid(t4);
                      double x = 10, y = 20;
                      persp.transform(&x, &y);
                      qlm_agg::perspective inv(persp);
                      EXPECT_TRUE(inv.invert());
                      inv.transform(&x, &y);
                      EXPECT_NEAR(x, 10, 1e-9);
                      EXPECT_NEAR(y, 20, 1e-9);
                    }});
  agg::int8u tile_px[8 * 8 * 4];
  for (int i = 0; i < 8 * 8 * 4; ++i) tile_px[i] = agg::int8u(i * 7);
  agg::rendering_buffer tile_rb(tile_px, 8, 8, 32);
  agg::pixfmt_rgba32 tile_pf(tile_rb);
  pieces.push_back({"span_pattern_rgba over wrap accessors, span_converter", [&] {
                      using acc = agg::image_accessor_wrap<agg::pixfmt_rgba32, agg::wrap_mode_repeat_auto_pow2,
                                                           agg::wrap_mode_reflect_auto_pow2>;
                      acc a(tile_pf);
                      agg::span_pattern_rgba<acc> sp(a, 0, 0);
                      image_tint_converter tint(cnCompOpScreen, agg::rgba8(0, 0, 255, 200),
                                                comp_op_table<agg::order_rgba>::funcs);
                      agg::span_converter<decltype(sp), image_tint_converter> conv(sp, tint);
                      agg::span_allocator<agg::rgba8> alloc;
                      agg::ellipse e(32, 32, 25, 25);
                      ras.reset();
                      ras.add_path(e);
                      agg::render_scanlines_aa(ras, sl, base, alloc, conv);
                    }});
  pieces.push_back({"image filters and resampling", [&] {
                      agg::image_filter_lut lut;
                      lut.calculate(agg::image_filter_bilinear(), true);
                      agg::image_filter_lut f1, f2, f3, f4, f5;
                      f1.calculate(agg::image_filter_blackman(6), true);
                      f2.calculate(agg::image_filter_lanczos(3), true);
                      f3.calculate(agg::image_filter_kaiser(6.33), true);
                      f4.calculate(agg::image_filter_mitchell(1.0 / 3, 1.0 / 3), true);
                      f5.calculate(agg::image_filter_sinc(3), true);
                      using acc = agg::image_accessor_clip<agg::pixfmt_rgba32>;
                      acc a(tile_pf, agg::rgba8(0, 0, 0, 0));
                      agg::trans_affine m = agg::trans_affine_scaling(4);
                      m.invert();
                      agg::span_interpolator_linear<> inter(m);
                      agg::span_image_filter_rgba<acc, decltype(inter)> sf(a, inter, f1);
                      agg::span_image_resample_rgba_affine<acc> rs(a, inter, f2);
                      agg::span_image_filter_rgba_bilinear<acc, decltype(inter)> bl(a, inter);
                      agg::span_allocator<agg::rgba8> alloc;
                      agg::rounded_rect r(0, 0, 32, 32, 0);
                      ras.reset();
                      ras.add_path(r);
                      agg::render_scanlines_aa(ras, sl, base, alloc, sf);
                      ras.reset();
                      ras.add_path(r);
                      agg::render_scanlines_aa(ras, sl, base, alloc, rs);
                      ras.reset();
                      ras.add_path(r);
                      agg::render_scanlines_aa(ras, sl, base, alloc, bl);
                    }});
  pieces.push_back({"gradients: radial focus, reflect, perspective interpolator", [&] {
                      agg::gradient_radial_focus g(20, 5, 5);
                      agg::gradient_reflect_adaptor<agg::gradient_radial_focus> refl(g);
                      agg::gradient_lut<agg::color_interpolator<agg::rgba8>, 256> lut;
                      lut.add_color(0, agg::rgba8(255, 255, 255, 255));
                      lut.add_color(1, agg::rgba8(0, 255, 0, 255));
                      lut.build_lut();
                      double quad[8] = {0, 0, 64, 0, 64, 64, 0, 64};
                      qlm_agg::perspective persp;
                      persp.quad_to_rect(quad, 0, 0, 64, 64);
                      agg::span_interpolator_trans<qlm_agg::perspective> inter(persp);
                      agg::span_gradient<agg::rgba8, decltype(inter), decltype(refl), decltype(lut)> sg(inter, refl,
                                                                                                        lut, 0, 20);
                      agg::span_allocator<agg::rgba8> alloc;
                      agg::ellipse e(32, 32, 30, 30);
                      ras.reset();
                      ras.add_path(e);
                      agg::render_scanlines_aa(ras, sl, base, alloc, sg);
                    }});
  pieces.push_back({"span_gouraud_rgba", [&] {
                      agg::span_gouraud_rgba<agg::rgba8> g(agg::rgba8(255, 0, 0, 255), agg::rgba8(0, 255, 0, 255),
                                                           agg::rgba8(0, 0, 255, 255), 5, 5, 60, 10, 30, 60);
                      agg::span_allocator<agg::rgba8> alloc;
                      ras.reset();
                      ras.add_path(g);
                      agg::render_scanlines_aa(ras, sl, base, alloc, g);
                    }});
  pieces.push_back({"outline renderers: aa, image pattern, primitives", [&] {
                      agg::line_profile_aa prof(1.0, agg::gamma_none());
                      agg::renderer_outline_aa<renderer_any> ren(base, prof);
                      ren.color(ink);
                      ren.clip_box(0, 0, 63, 63);
                      agg::rasterizer_outline_aa<decltype(ren)> ras_aa(ren);
                      ras_aa.round_cap(true);
                      ras_aa.add_path(path);

                      bitmap_pattern_source src(nullptr, 255);
                      src.SetColor(agg::rgba8(255, 255, 0, 255));
                      agg::pattern_filter_bilinear_rgba8 filter;
                      agg::line_image_pattern<agg::pattern_filter_bilinear_rgba8> pattern(filter);
                      pattern.create(src);
                      agg::renderer_outline_image<renderer_any, decltype(pattern)> ren_img(base, pattern);
                      ren_img.scale_x(1.0);
                      ren_img.start_x(0);
                      ren_img.clip_box(0, 0, 63, 63);
                      agg::rasterizer_outline_aa<decltype(ren_img)> ras_img(ren_img);
                      ras_img.add_path(path);

                      agg::renderer_primitives<renderer_any> prim(base);
                      prim.line_color(ink);
                      agg::rasterizer_outline<decltype(prim)> ras_prim(prim);
                      agg::conv_clip_polyline<agg::path_storage> clipped(path);
                      clipped.clip_box(-2, -2, 66, 66);
                      ras_prim.add_path(clipped);
                    }});
  pieces.push_back({"grey masks: blend_from_color, blend_from_lut, stack blur", [&] {
                      gray8_buffer mask;
                      ASSERT_TRUE(mask.Init(64, 64, true));
                      agg::renderer_base<agg::pixfmt_gray8> gbase(*mask.GreyAccessor());
                      agg::ellipse e(32, 32, 20, 20);
                      ras.reset();
                      ras.add_path(e);
                      agg::render_scanlines_aa_solid(ras, sl, gbase, agg::gray8(255));
                      agg::stack_blur_gray8(*mask.GreyAccessor(), 3, 3);
                      base.blend_from_color(*mask.GreyAccessor(), ink, nullptr, 0, 0, agg::cover_full);
                      agg::rgba8 lut[256];
                      for (int i = 0; i < 256; ++i) lut[i] = agg::rgba8(i, 0, 255 - i, 255);
                      base.blend_from_lut(*mask.GreyAccessor(), lut, nullptr, 0, 0, agg::cover_full);
                    }});
  pieces.push_back({"rgba layer: blend_from, copy_from", [&] {
                      rgba8_buffer layer;
                      ASSERT_TRUE(layer.Init(64, 64));
                      agg::renderer_base<agg::pixfmt_rgba32> lbase(layer.Accessor());
                      lbase.clear(agg::rgba8(255, 0, 255, 128));
                      base.blend_from(layer.Accessor(), nullptr, 0, 0, agg::cover_full);
                    }});
  for (auto& [name, draw] : pieces) {
    SCOPED_TRACE(name);
    base.clear(agg::rgba8(0, 0, 0, 255));
    draw();
    EXPECT_TRUE(inked());
  }
}

}  // namespace
