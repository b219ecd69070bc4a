// libFuzzer target: a byte-coded sequence of renderer operations with
// hostile numbers (0, tiny, huge, NaN, infinities, 2^40) on a small surface
// of one of the six formats. Each step is one operation byte followed by
// its arguments; the operations are grouped by family and each family adds
// its own cases. Nothing may crash, hang or trip the sanitizers; a snapshot
// of the pen is taken, applied and freed along the way.
//
// Families so far: master parameters, transformations, clipping, fill
// colour, pen (strokes, dashes, outlines, pen patterns), markers, pen
// snapshots and the drawing primitives (with and without a hit test).
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

#include "fuzz_limits.h"
#include "qlm_colors.h"
#include "qlm_path.h"
#include "qlm_renderer_engine.h"
#include "qlm_renderer_ids.h"

namespace {

constexpr int32_t kKinds[] = {cnBitmap24RGB, cnBitmap24BGR, cnBitmap32RGBA, cnBitmap32BGRA,
                              cnBitmap32ARGB, cnBitmap32ABGR};

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

struct Scene {
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

void step(Scene& s, rFuzzBytes& in) {
  cRendererSurface& r = s.r;
  const uint8_t op = in.Byte();
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

// fontconfig keeps the configuration it loads for the life of the process
// (the renderer's start reaches it); the leak checker ignores it.
extern "C" const char* __lsan_default_suppressions();
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  fuzz_imaging_start(argc, argv);
  qlm_renderer_start();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  rFuzzBytes in{data, size};
  Scene s;
  const uint8_t kind = in.Byte();
  s.bitmap = std::make_unique<cBitmap>(1 + in.Byte() % 64, 1 + in.Byte() % 48, kKinds[kind % 6]);
  if (!s.bitmap->Create()) return 0;
  s.tile = std::make_unique<cBitmap>(1 + in.Byte() % 16, 1 + in.Byte() % 16, kKinds[(kind >> 3) % 6]);
  if (!s.tile->Create()) return 0;
  s.tile->Clear(color_rgba(30, 160, 90, 200), cnOpacityAlpha);
  if (!s.surface.Attach(s.bitmap.get(), true) || !s.r.AttachSurface(&s.surface)) return 0;
  // At most 6 drawings per input: one drawing may take the renderer's
  // whole vertex budget, and an input is to run in seconds.
  int drawings = 0;
  for (int i = 0; i < 64 && !in.Empty(); ++i) {
    if (in.at < in.size && in.data[in.at] % 48 == 47 && ++drawings > 6) break;
    step(s, in);
  }
  s.r.DetachSurface();
  return 0;
}
