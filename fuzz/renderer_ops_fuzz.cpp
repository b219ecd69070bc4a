// libFuzzer target: a byte-coded sequence of renderer operations with
// hostile numbers (0, tiny, huge, NaN, infinities, 2^40) on a small surface
// of one of the six formats. Each step is one operation byte followed by
// its arguments; the operations are grouped by family and each family adds
// its own cases. Nothing may crash, hang or trip the sanitizers; a snapshot
// of the pen is taken, applied and freed along the way.
//
// Families: master parameters, transformations, clipping, fill colour, pen
// (strokes, dashes, outlines, pen patterns), markers, pen snapshots and the
// drawing primitives (with and without a hit test); then, in the extended
// coding, gradients, fill patterns and distortions, images, text, path
// groups and capture, shadows, SVG drawings and filter layers.
//
// Coding: byte 0 picks the surface kinds, bytes 1-4 the surface and tile
// sizes. Bit 7 of byte 4 selects the extended coding: operation bytes 0-47
// mean what they mean in the plain coding (where every byte is taken modulo
// 48), bytes 48 and above pick the later families' operations.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_limits.h"
#include "fuzz_renderer_start.h"
#include "qlm_base_flow.h"
#include "qlm_colors.h"
#include "qlm_font_engine.h"
#include "qlm_gradient.h"
#include "qlm_path.h"
#include "qlm_path_group.h"
#include "qlm_renderer_engine.h"
#include "qlm_renderer_ids.h"
#include "qlm_renderer_pen.h"
#include "qlm_svg.h"

namespace {

constexpr int32_t kKinds[] = {cnBitmap24RGB,  cnBitmap24BGR,  cnBitmap32RGBA,
                              cnBitmap32BGRA, cnBitmap32ARGB, cnBitmap32ABGR};

// A number: half the bytes give small values around the surface
// (-48 .. 47.25 in quarters), the other half a table of hostile ones.
double num(rFuzzBytes& in) {
  static const double table[] = {0.0,
                                 -0.0,
                                 1.0,
                                 -1.0,
                                 0.3,
                                 0.5,
                                 1.6,
                                 2.0,
                                 3.0,
                                 4.0,
                                 7.5,
                                 100.0,
                                 -100.0,
                                 1e-9,
                                 -1e-9,
                                 1e-300,
                                 1e6,
                                 1e9,
                                 1e15,
                                 1099511627776.0,
                                 1e300,
                                 -1e300,
                                 std::numeric_limits<double>::quiet_NaN(),
                                 std::numeric_limits<double>::infinity(),
                                 -std::numeric_limits<double>::infinity(),
                                 std::numeric_limits<double>::denorm_min(),
                                 std::numeric_limits<double>::max(),
                                 64.0,
                                 48.0,
                                 0.25,
                                 360.0,
                                 -90.0};
  const uint8_t b = in.Byte();
  if (b < 128) return (int(b) - 64) * 0.75;
  return table[b % (sizeof(table) / sizeof(table[0]))];
}

uint32_t colour(rFuzzBytes& in) {
  const uint8_t pick = in.Byte();
  if (pick < 64) return renderer_color(pick * 4, 255 - pick * 4, 90, 255);
  if (pick < 128) return renderer_color(200, 40, pick, pick * 2);
  return in.U32();
}

// Pattern tiles drawn by the nested renderer: stripes, or a shape with
// whatever the pen and fill of a fresh renderer make of it.
void stripes(cRenderer* r, void*) {
  r->PenOff();
  r->SetFillColor(renderer_color(250, 250, 250, 255));
  r->DrawRectangle(nullptr, 0, 0, 1e6, 1e6);
  r->SetFillColor(renderer_color(200, 10, 10, 200));
  r->DrawRectangle(nullptr, 0, 0, 2, 1e6);
}
void circle(cRenderer* r, void*) { r->DrawCircle(nullptr, 3, 3, 2.5); }

// Filter layers: one keeps the layer (after marking it; keeping hands the
// bitmap over, so the scene owns it until the input ends), one gives it back.
void filter_keep(cBitmap* layer, bool& keep, void* user) {
  if (layer == nullptr) return;
  if (layer->Data() != nullptr && layer->Height() > 0) layer->Data()[0] ^= 0x5A;
  static_cast<std::vector<std::unique_ptr<cBitmap>>*>(user)->emplace_back(layer);
  keep = true;
}
void filter_back(cBitmap*, bool& keep, void*) { keep = false; }

const char kFixedSvg[] =
    "<svg xmlns='http://www.w3.org/2000/svg' width='20' height='16' viewBox='0 0 20 16'>"
    "<defs><linearGradient id='g'><stop offset='0' stop-color='red'/><stop offset='1' stop-color='blue'/>"
    "</linearGradient></defs><rect x='1' y='1' width='18' height='14' fill='url(#g)' stroke='black'/>"
    "<circle cx='10' cy='8' r='5' fill='green' opacity='0.5'/><text x='2' y='12'>Hg</text></svg>";

struct Scene {
  // Objects the renderer borrows live longer than the renderer (declared
  // first) and are let go by the renderer before they are freed.
  std::unique_ptr<cGradientColorRamp> gradients[2];
  std::unique_ptr<cFontWinTT> font;
  std::unique_ptr<cPathGroup> group;
  std::unique_ptr<cImageSVG> svg;
  std::vector<std::unique_ptr<cBitmap>> kept;
  std::unique_ptr<cBitmap> bitmap;
  std::unique_ptr<cBitmap> tile;
  cSurfaceBitmap surface;
  cRendererSurface r;
  cHitTest hit;
  std::unique_ptr<cPen> snapshot;
};

void draw(Scene& s, rFuzzBytes& in, uint8_t which) {
  cHitTest* hit = (which & 0x80) ? &s.hit : nullptr;
  cRendererSurface& r = s.r;
  switch (which % 9) {
    case 0: {
      const double x1 = num(in), y1 = num(in), x2 = num(in), y2 = num(in);
      r.DrawLine(hit, x1, y1, x2, y2);
      break;
    }
    case 1:
    case 2: {
      const int n = 1 + in.Byte() % 12;
      std::vector<double> pts(size_t(n) * 2);
      for (double& v : pts) v = num(in);
      if (which % 9 == 1)
        r.DrawPolyline(pts.data(), n, hit);
      else
        r.DrawPolygon(pts.data(), n, hit);
      break;
    }
    case 3: {
      const double x1 = num(in), y1 = num(in), x2 = num(in), y2 = num(in);
      r.DrawRectangle(hit, x1, y1, x2, y2);
      break;
    }
    case 4: {
      const double cx = num(in), cy = num(in), rx = num(in), ry = num(in), a1 = num(in), a2 = num(in);
      r.DrawArc(hit, cx, cy, rx, ry, a1, a2);
      break;
    }
    case 5: {
      const double cx = num(in), cy = num(in), radius = num(in);
      r.DrawCircle(hit, cx, cy, radius);
      break;
    }
    case 6: {
      // A path with curves and several subpaths (vertex markers skip the
      // control points).
      cPath path;
      const int n = 1 + in.Byte() % 10;
      path.MoveTo(num(in), num(in));
      for (int i = 0; i < n; ++i) {
        const uint8_t c = in.Byte() % 5;
        if (c == 0) path.LineTo(num(in), num(in));
        if (c == 1) path.Curve3(num(in), num(in), num(in), num(in));
        if (c == 2) path.Curve4(num(in), num(in), num(in), num(in), num(in), num(in));
        if (c == 3) path.ClosePolygon();
        if (c == 4) path.MoveTo(num(in), num(in));
      }
      const double x = (in.Byte() & 1) ? num(in) : 0.0, y = (in.Byte() & 1) ? num(in) : 0.0;
      r.DrawPath(&path, hit, x, y);
      break;
    }
    case 7: {
      const double cx = num(in), cy = num(in), r1 = num(in), r2 = num(in);
      r.DrawStar(3 + in.Byte() % 6, hit, cx, cy, r1, r2, num(in));
      break;
    }
    default: {
      const double x = num(in), y = num(in);
      (void)s.hit.HitTest(x, y);
      break;
    }
  }
}

// A text of up to 12 code units from the input, of 1, 2 or 4 bytes each.
struct Text {
  std::string narrow;
  std::u16string wide;
  std::vector<int32_t> full;
  rTextView view;
};
void read_text(rFuzzBytes& in, Text& t) {
  const uint8_t b = in.Byte();
  const int n = b % 13;
  const uint8_t unit = uint8_t(1u << ((b >> 4) % 3));
  for (int i = 0; i < n; ++i) {
    if (unit == 1) t.narrow.push_back(char(in.Byte()));
    if (unit == 2) t.wide.push_back(char16_t(in.Byte() | (in.Byte() << 8)));
    if (unit == 4) t.full.push_back(int32_t(in.U32()));
  }
  if (unit == 1) t.view = rTextView(t.narrow);
  if (unit == 2) t.view = rTextView(t.wide);
  if (unit == 4) {
    t.view.data = t.full.data();
    t.view.length = int64_t(t.full.size());
    t.view.unit = 4;
  }
}

void read_path(rFuzzBytes& in, cPath& path) {
  const int n = 1 + in.Byte() % 6;
  path.MoveTo(num(in), num(in));
  for (int i = 0; i < n; ++i) {
    const uint8_t c = in.Byte() % 3;
    if (c == 0) path.LineTo(num(in), num(in));
    if (c == 1) path.Curve3(num(in), num(in), num(in), num(in));
    if (c == 2) path.ClosePolygon();
  }
}

// Lets the renderer go of gradient slot `slot` (fill, pen, shadow ramp and
// the pen snapshot), then frees it.
void free_gradient(Scene& s, int slot) {
  cGradientColorRamp* g = s.gradients[slot].get();
  if (g == nullptr) return;
  if (s.r.GetFillGradient() == g) s.r.ResetFillGradient(false);
  if (s.r.GetPenGradient() == g) s.r.ResetPenGradient(false);
  if (s.r.GetShadowColorRamp() == g) s.r.SetShadowColorRamp(nullptr);
  s.snapshot.reset();
  s.gradients[slot].reset();
}

int32_t small_int(rFuzzBytes& in) {
  const uint8_t b = in.Byte();
  if (b < 200) return int32_t(b) - 40;
  return int32_t(in.U32());
}

void extended(Scene& s, rFuzzBytes& in, uint8_t op) {
  cRendererSurface& r = s.r;
  cHitTest* hit = (in.Byte() & 1) ? &s.hit : nullptr;
  switch ((op - 48) % 16) {
    // --- Gradients
    case 0: {
      const uint8_t b = in.Byte();
      const int slot = b & 1;
      free_gradient(s, slot);
      const double a = num(in), c = num(in), d = num(in);
      if ((b >> 1) % 3 == 0) s.gradients[slot] = std::make_unique<cGradientLinearX>(a, c);
      if ((b >> 1) % 3 == 1) s.gradients[slot] = std::make_unique<cGradientLinearY>(a, c);
      if ((b >> 1) % 3 == 2) s.gradients[slot] = std::make_unique<cGradientRadialFocus>(b & 8, a, c, d);
      break;
    }
    case 1: {
      const uint8_t b = in.Byte();
      cGradientColorRamp* g = s.gradients[b & 1].get();
      if (g == nullptr) break;
      switch ((b >> 1) % 12) {
        case 0: g->AddStop(colour(in), num(in)); break;
        case 1: g->SetMaxColors(in.Byte() < 200 ? in.Byte() * 4u : in.U32()); break;
        case 2: g->SetD1(num(in)); break;
        case 3: g->SetD2(num(in)); break;
        case 4: g->SetSpread(in.Byte() % 4); break;
        case 5: {
          const double dx = num(in), dy = num(in);
          g->Translate(dx, dy);
          break;
        }
        case 6: g->Rotate(num(in)); break;
        case 7: {
          const double sx = num(in), sy = num(in);
          g->Scale(sx, sy);
          break;
        }
        case 8: {
          const double ax = num(in), ay = num(in);
          g->Skew(ax, ay);
          break;
        }
        case 9: g->SetOpacity(in.Byte()); break;
        case 10: {
          const uint8_t f = in.Byte();
          g->SetRelative(f & 1);
          g->SetFitToBounds(f & 2);
          break;
        }
        default: g->Clear(); break;
      }
      break;
    }
    case 2: {
      const uint8_t b = in.Byte();
      cGradientColorRamp* g = s.gradients[b & 1].get();
      switch ((b >> 1) % 8) {
        case 0: r.SetFillGradient(g); break;
        case 1: r.SetPenGradient(g); break;
        case 2: r.ReapplyFillGradient(); break;
        case 3: r.ReapplyPenGradient(); break;
        case 4: r.ResetFillGradient(false); break;
        case 5: r.ResetPenGradient(false); break;
        case 6: r.SetDistortPenGradient(b & 16); break;
        default: free_gradient(s, b & 1); break;
      }
      break;
    }
    // --- Fill patterns and distortions
    case 3: {
      const uint8_t b = in.Byte();
      switch (b % 7) {
        case 0: {
          const int32_t w = small_int(in), h = small_int(in);
          r.SetFillPatternCallback(uint32_t(w), uint32_t(h), (b & 8) ? circle : stripes, nullptr);
          break;
        }
        case 1: {
          const int32_t w = small_int(in), h = small_int(in);
          r.SetFillPatternBitmap(s.tile.get(), w, h);
          break;
        }
        case 2: {
          const int32_t x = small_int(in), y = small_int(in);
          r.SetFillPatternOffset(x, y);
          break;
        }
        case 3: r.SetFillPatternWrap(in.Byte() % 5); break;
        case 4: r.SetFillPatternAbsolute(b & 8); break;
        case 5: r.FillPatternOn(); break;
        default: r.ResetFillPattern(b & 8); break;
      }
      break;
    }
    case 4: {
      const uint8_t b = in.Byte();
      switch (b % 10) {
        case 0: r.WaveOn(); break;
        case 1: r.SwirlOn(); break;
        case 2: (b & 16) ? r.WaveOff() : r.SwirlOff(); break;
        case 3: {
          const double x = num(in), y = num(in);
          r.SetDistortionCenter(x, y);
          break;
        }
        case 4: r.SetDistortionPeriod(num(in)); break;
        case 5: r.SetDistortionAmplitude(num(in)); break;
        case 6: r.SetDistortionPhase(num(in)); break;
        case 7: r.DistortionsOn(); break;
        case 8: r.DistortionsOff(); break;
        default: r.ResetDistortions(b & 16); break;
      }
      break;
    }
    // --- Images
    case 5: {
      const uint8_t b = in.Byte();
      switch (b % 5) {
        case 0: r.SetImageTintOp(in.Byte()); break;
        case 1: r.SetImageTintColor(colour(in)); break;
        case 2: r.SetImageFilter(in.Byte()); break;
        case 3: r.ResetImageParameters(b & 8); break;
        default: {
          // Perspective, bilinear and warp transformations.
          double q[8];
          for (double& v : q) v = num(in);
          const double x1 = num(in), y1 = num(in), x2 = num(in), y2 = num(in);
          const uint8_t k = in.Byte() % 3;
          if (k == 0) r.AddPerspective(q, x1, y1, x2, y2);
          if (k == 1) r.AddBilinear(q, x1, y1, x2, y2);
          if (k == 2) r.AddWarpMagnifier(x1, y1, x2, y2);
          break;
        }
      }
      break;
    }
    case 6: {
      const uint8_t b = in.Byte();
      const bool flag = b & 8;
      cBitmap* image = s.tile.get();
      double v[6];
      for (double& x : v) x = num(in);
      int32_t src[4];
      for (int32_t& x : src) x = small_int(in);
      switch (b % 8) {
        case 0: r.DrawImage(image, flag, v[0], v[1], v[2], v[3], hit); break;
        case 1: r.DrawImageRect(image, src[0], src[1], src[2], src[3], v[0], v[1], v[2], v[3], flag, hit); break;
        case 2: r.DrawImageParallelogram(image, v[0], v[1], v[2], v[3], v[4], v[5], flag, hit); break;
        case 3:
          r.DrawImageRectParallelogram(image, src[0], src[1], src[2], src[3], v[0], v[1], v[2], v[3], v[4], v[5], flag,
                                       hit);
          break;
        default: {
          cPath path;
          read_path(in, path);
          if (b % 8 == 4) r.DrawImageInPath(image, &path, flag, hit);
          if (b % 8 == 5) r.DrawImageInPathAt(image, &path, v[0], v[1], flag, hit);
          if (b % 8 == 6) r.DrawImageRectInPath(image, &path, src[0], src[1], src[2], src[3], flag, hit);
          if (b % 8 == 7) r.DrawImageRectInPathAt(image, &path, v[0], v[1], src[0], src[1], src[2], src[3], flag, hit);
          break;
        }
      }
      break;
    }
    // --- Text
    case 7: {
      const uint8_t b = in.Byte();
      switch (b % 12) {
        case 0: {
          // A font of the test fonts (the Arial substitute or Verdana's).
          const double size = num(in);
          r.SetFont(nullptr);
          s.font = std::make_unique<cFontWinTT>();
          s.font->SetFace((b & 16) ? "Verdana" : "Arial", uint8_t((b >> 5) & 3), size);
          r.SetFont(s.font.get());
          break;
        }
        case 1: r.SetTextColor(colour(in)); break;
        case 2: r.SetTextAlign(eAlign(in.Byte() % 8), eAlign(in.Byte() % 8)); break;
        case 3: r.SetTextAngle(num(in)); break;
        case 4: r.SetTextHinting(b & 16); break;
        case 5: r.SetTextKerning(b & 16); break;
        case 6: (b & 16) ? r.SetTextBackColor(colour(in)) : r.TextBackOff(); break;
        case 7: r.SetTextBackFitGlyphs(b & 16); break;
        case 8: {
          const uint8_t kind = in.Byte(), style = in.Byte();
          (b & 16) ? r.SetUnderline(kind % 5, style % 5) : r.SetStrikeOut(kind % 5, style % 5);
          break;
        }
        case 9: (b & 16) ? r.SetUnderlinePosition(in.Byte() % 5) : r.SetStrikeOutPosition(in.Byte() % 5); break;
        case 10: r.SetTextRenderMode(in.Byte() % 6); break;
        default: r.ResetText(b & 16); break;
      }
      break;
    }
    case 8: {
      const uint8_t b = in.Byte();
      Text t;
      read_text(in, t);
      const double x = num(in), y = num(in);
      rRectD bounds;
      switch (b % 6) {
        case 0: r.DrawText(t.view, x, y, hit); break;
        case 1: (void)r.TextWidth(t.view); break;
        case 2: r.TextBounds(t.view, bounds); break;
        case 3: r.TextExtents(t.view, b & 8, x, y, bounds); break;
        default: {
          cPath p1, p2;
          read_path(in, p1);
          const bool set = b & 8, stop = b & 16, keep = b & 32;
          const double base = num(in);
          if (b & 64) {
            read_path(in, p2);
            if (b % 6 == 4)
              r.DrawTextBetweenPaths(&p1, &p2, t.view, set, base, stop, keep, hit);
            else
              r.TextBetweenPathsBounds(&p1, &p2, t.view, set, base, stop, keep, bounds);
          } else {
            if (b % 6 == 4)
              r.DrawTextOnPath(&p1, t.view, set, base, stop, keep, hit);
            else
              r.TextOnPathBounds(&p1, t.view, set, base, stop, keep, bounds);
          }
          break;
        }
      }
      break;
    }
    // --- Path groups and capture
    case 9: {
      const uint8_t b = in.Byte();
      switch (b % 5) {
        case 0:
          if (r.GetCaptureGroup() == s.group.get()) r.ClearCaptureGroup();
          s.group = std::make_unique<cPathGroup>();
          break;
        case 1: r.SetCaptureGroup(s.group.get(), b & 8); break;
        case 2: r.ClearCaptureGroup(); break;
        case 3: {
          const double x = num(in), y = num(in);
          if (s.group) r.DrawPathGroup(s.group.get(), hit, x, y);
          break;
        }
        default: {
          const double x = num(in), y = num(in);
          if (s.group) r.ClipPathGroup(s.group.get(), x, y);
          break;
        }
      }
      break;
    }
    // --- Shadows
    case 10: {
      const uint8_t b = in.Byte();
      switch (b % 13) {
        case 0: r.SetOffsetShadow(num(in)); break;
        case 1: {
          double v[5];
          for (double& x : v) x = num(in);
          r.SetPerspectiveShadow(v[0], v[1], v[2], v[3], v[4]);
          break;
        }
        case 2: r.SetGrowShadow(num(in)); break;
        case 3: r.SetShadowDistance(num(in)); break;
        case 4: r.SetShadowDirection(in.Byte()); break;
        case 5: r.SetShadowBlurred(b & 16); break;
        case 6: r.SetShadowBlur(num(in)); break;
        case 7: r.SetFillShadow(b & 16); break;
        case 8: r.SetShadowColor(colour(in)); break;
        case 9: (b & 16) ? r.ShadowOn() : r.ShadowOff(); break;
        case 10: r.SetShadowColorRamp(s.gradients[(b >> 4) & 1].get()); break;
        case 11: r.SetShadowRenderMode(in.Byte() % 6); break;
        default: r.ResetShadow(b & 16); break;
      }
      break;
    }
    // --- SVG
    case 11: {
      const uint8_t b = in.Byte();
      if (b % 4 == 0) {
        // A drawing from the input (up to 255 bytes) or the fixed one.
        const size_t n = std::min<size_t>(in.Byte(), in.size - in.at);
        const uint8_t* at = (b & 16) ? in.data + in.at : reinterpret_cast<const uint8_t*>(kFixedSvg);
        const int64_t len = (b & 16) ? int64_t(n) : int64_t(sizeof(kFixedSvg) - 1);
        if (b & 16) in.at += n;
        s.svg.reset();
        auto flow = cMemoryFlow::ConstructReadOnly(true, at, len);
        if (!flow || !flow->Open()) break;
        auto svg = std::make_unique<cImageSVG>();
        if (svg->Open(flow.get(), nullptr)) s.svg = std::move(svg);
        break;
      }
      if (!s.svg) break;
      const double x = num(in), y = num(in), w = num(in), h = num(in);
      rMatrix m{1, 0, 0, 1, 0, 0};
      const bool withMatrix = b & 16;
      if (withMatrix) {
        m.sx = num(in);
        m.shy = num(in);
        m.shx = num(in);
        m.sy = num(in);
        m.tx = num(in);
        m.ty = num(in);
      }
      rRectD bounds;
      if (b % 4 == 1) r.DrawSVG(s.svg.get(), withMatrix ? &m : nullptr, x, y, hit);
      if (b % 4 == 2) r.DrawSVGSized(s.svg.get(), hit, x, y, w, h);
      if (b % 4 == 3) {
        if (b & 32)
          r.GetSVGBounds(s.svg.get(), withMatrix ? &m : nullptr, x, y, b & 64, bounds);
        else
          r.GetSVGSizedBounds(s.svg.get(), b & 64, x, y, w, h, bounds);
      }
      break;
    }
    // --- Filter layers
    case 12: {
      const uint8_t b = in.Byte();
      if (b % 3 == 0) r.SetFilterCallback((b & 8) ? filter_back : filter_keep, small_int(in), &s.kept);
      if (b % 3 == 1) r.FilterCallbackOn();
      if (b % 3 == 2) r.FilterCallbackOff();
      break;
    }
    // --- More primitives and clips (hit tests included)
    case 13: {
      const uint8_t b = in.Byte();
      double v[8];
      for (double& x : v) x = num(in);
      switch (b % 6) {
        case 0: r.DrawEllipse(hit, v[0], v[1], v[2], v[3]); break;
        case 1: r.DrawPie(hit, v[0], v[1], v[2], v[3], v[4], v[5]); break;
        case 2:
          r.DrawRoundedRectangle(hit, v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[4], v[5], v[6], v[7]);
          break;
        case 3: r.DrawCurve4(hit, v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7]); break;
        case 4: r.DrawSpiral(hit, v[0], v[1], v[2], v[3], v[4], v[5]); break;
        default: r.ClipEllipse(v[0], v[1], v[2], v[3]); break;
      }
      break;
    }
    case 14: {
      const uint8_t b = in.Byte();
      switch (b % 4) {
        case 0: r.SetClipEvenOdd(b & 8); break;
        case 1: r.SetClipInside(b & 8); break;
        case 2: r.SetClipSeparate(b & 8); break;
        default: {
          cPath path;
          read_path(in, path);
          const double dx = num(in), dy = num(in);
          r.ClipPath(&path, dx, dy);
          break;
        }
      }
      break;
    }
    default: {
      const double x = num(in), y = num(in);
      (void)s.hit.HitTest(x, y);
      s.hit.SetHitInterior(in.Byte() & 1);
      break;
    }
  }
}

// The extended operations that draw (or measure drawings): capped with the
// primitives.
bool draws(uint8_t op, bool ext) {
  if (!ext) return op % 48 == 47;
  if (op < 48) return op == 47;
  const int k = (op - 48) % 16;
  return k == 6 || k == 8 || k == 9 || k == 11 || k == 13;
}

void step(Scene& s, rFuzzBytes& in, bool ext) {
  cRendererSurface& r = s.r;
  const uint8_t op = in.Byte();
  if (ext && op >= 48) {
    extended(s, in, op);
    return;
  }
  switch (op % 48) {
    // --- Master parameters
    case 0: r.SetAntiAliasing(in.Byte() & 1); break;
    case 1: r.SetMasterAlpha(in.Byte()); break;
    case 2: r.SetGamma(num(in)); break;
    case 3: r.SetCulling(in.Byte() & 1); break;
    case 4: {
      const double fx = num(in), fy = num(in);
      r.SetPixelSnap(fx, fy);
      break;
    }
    case 5: r.SetMasterColor(colour(in)); break;
    case 6: r.SetPenRenderMode(in.Byte() % 6); break;
    case 7: r.SetFillRenderMode(in.Byte() % 6); break;
    case 8: r.SetCompOp(in.Byte() % 32); break;
    // --- Transformations and clipping
    case 9: {
      const double dx = num(in), dy = num(in);
      r.Translate(dx, dy);
      break;
    }
    case 10: {
      const double sx = num(in), sy = num(in);
      r.Scale(sx, sy);
      break;
    }
    case 11: r.Rotate(num(in)); break;
    case 12: r.ResetTransformations(false); break;
    case 13: {
      const double x1 = num(in), y1 = num(in), x2 = num(in), y2 = num(in);
      r.ClipRect(x1, y1, x2, y2);
      break;
    }
    case 14: r.ResetClipping(in.Byte() & 1); break;
    // --- Fill
    case 15: r.SetFillColor(colour(in)); break;
    case 16: (in.Byte() & 1) ? r.FillOff() : r.FillOn(); break;
    // --- Pen
    case 17: r.SetPenWidth(num(in)); break;
    case 18: r.SetLineCap(in.Byte()); break;
    case 19: r.SetLineJoin(in.Byte()); break;
    case 20: r.SetMiterLimit(num(in)); break;
    case 21: r.SetPenColor(colour(in)); break;
    case 22: {
      const double dash = num(in), gap = num(in);
      r.AddDash(dash, gap);
      break;
    }
    case 23: r.SetDashStart(num(in)); break;
    case 24: {
      const uint8_t k = in.Byte() % 6;
      if (k == 0) r.PenDashed();
      if (k == 1) r.PenDashOff();
      if (k == 2) r.ResetDash(in.Byte() & 1);
      if (k == 3) r.PenOn();
      if (k == 4) r.PenOff();
      if (k == 5) r.PenSolid();
      break;
    }
    case 25: r.SetPenOutline(in.Byte() & 1); break;
    case 26: r.SetPenDeviceSpace(in.Byte() & 1); break;
    case 27: r.SetPenEvenOdd(in.Byte() & 1); break;
    case 28: r.SetPenUnderFill(in.Byte() & 1); break;
    case 29: {
      const bool shape = in.Byte() & 1;
      const double w = num(in), h = num(in);
      r.SetPenPatternCallback(shape ? circle : stripes, nullptr, w, h);
      break;
    }
    case 30: {
      const double w = num(in), h = num(in);
      r.SetPenPatternBitmap(s.tile.get(), w, h);
      break;
    }
    case 31: r.PenPatternFromColor(); break;
    case 32: r.SetPenPatternStart(num(in)); break;
    case 33: r.ResetPenPattern(in.Byte() & 1); break;
    case 34: r.ResetPen(false); break;
    // --- Markers
    case 35: {
      const uint8_t k = in.Byte() % 6;
      if (k == 0) r.StartMarkerOn();
      if (k == 1) r.EndMarkerOn();
      if (k == 2) r.StartMarkerOff();
      if (k == 3) r.EndMarkerOff();
      if (k == 4) r.ResetStartMarker(false);
      if (k == 5) r.ResetMarkers(false);
      break;
    }
    case 36: {
      const uint8_t which = in.Byte();
      const uint8_t command = which % 6;
      double v[6];
      for (double& x : v) x = num(in);
      if ((which >> 4) % 3 == 0) r.AddStartMarkerCommand(command, v[0], v[1], v[2], v[3], v[4], v[5]);
      if ((which >> 4) % 3 == 1) r.AddEndMarkerCommand(command, v[0], v[1], v[2], v[3], v[4], v[5]);
      if ((which >> 4) % 3 == 2) r.AddVertexMarkerCommand(command, v[0], v[1], v[2], v[3], v[4], v[5]);
      break;
    }
    case 37: {
      const uint8_t f = in.Byte();
      r.SetVertexMarkers(f & 1, f & 2, f & 4);
      break;
    }
    case 38: (in.Byte() & 1) ? r.VertexMarkersOff() : r.ResetVertexMarkers(false); break;
    case 39: r.SetMarkerScale(num(in)); break;
    case 40: r.SetVertexMarkerScale(num(in)); break;
    case 41: r.SetVertexMarkerColor(colour(in)); break;
    case 42: (in.Byte() & 1) ? r.MarkerScaleOff() : r.VertexMarkerScaleOff(); break;
    // --- Pen snapshots
    case 43: s.snapshot = r.GetPen(); break;
    case 44: r.SetPen(s.snapshot.get(), in.Byte() & 1); break;
    case 45: s.snapshot.reset(); break;
    // --- Hit tests
    case 46: s.hit.SetHitInterior(in.Byte() & 1); break;
    // --- Drawing
    default: draw(s, in, in.Byte()); break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  fuzz_drawing_start(argc, argv);
  // The pen's vertex budgets a sixteenth of the product's: the same code
  // runs out of them, and an input that reaches them (a dash of 1e-9 along
  // a line, round caps on every dash) costs a sixteenth, well inside the
  // per-input time even on a loaded machine and under the sanitizers.
  pen_set_vertex_budgets(cnDashVertexBudget / 16, cnStrokeVertexBudget / 16);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  rFuzzBytes in{data, size};
  Scene s;
  const uint8_t kind = in.Byte();
  s.bitmap = std::make_unique<cBitmap>(1 + in.Byte() % 64, 1 + in.Byte() % 48, kKinds[kind % 6]);
  if (!s.bitmap->Create()) return 0;
  const uint8_t tw = in.Byte(), th = in.Byte();
  const bool ext = th & 0x80;
  s.tile = std::make_unique<cBitmap>(1 + tw % 16, 1 + th % 16, kKinds[(kind >> 3) % 6]);
  if (!s.tile->Create()) return 0;
  s.tile->Clear(color_rgba(30, 160, 90, 200), cnOpacityAlpha);
  if (!s.surface.Attach(s.bitmap.get(), true) || !s.r.AttachSurface(&s.surface)) return 0;
  // At most 6 drawings per input: one drawing may take the renderer's
  // whole vertex budget, and an input is to run in seconds.
  int drawings = 0;
  for (int i = 0; i < 64 && !in.Empty(); ++i) {
    if (in.at < in.size && draws(in.data[in.at], ext) && ++drawings > 6) break;
    step(s, in, ext);
  }
  s.r.SetFont(nullptr);
  s.r.ClearCaptureGroup();
  s.r.DetachSurface();
  return 0;
}
