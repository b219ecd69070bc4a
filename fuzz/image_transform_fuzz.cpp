// libFuzzer target: pictures drawn through byte-coded transformations
// (scales down to 1/256 and up to 256 on either axis, turns, shears,
// perspective and bilinear stages, hostile numbers), with every image
// filter, anti-aliasing on and off, pictures of the six readable formats,
// source rectangles reaching past the picture, straight and pre-multiplied,
// tints, clips and hit tests, so that the image engine's span generators
// (the affine and perspective resamplers, the filters and their accessors)
// run over any scale, place and picture size. Nothing may crash, hang or
// trip the sanitizers.
//
// The same steps are drawn twice, once with the fast perspective generators
// and once with AGG's over the exact perspective interpolator
// (`image_fast_perspective_enable`); the two surfaces must hold the same
// bytes, or the target aborts.
//
// Coding: byte 0 options (bits 0-2 the picture's format, bit 3 anti-aliasing
// off, bit 4 a hit test, bits 5-7 the picture's content), bytes 1-2 the
// picture's width (1 to 1,024), byte 3 its height (1 to 96; the area is
// capped at 24,576 pixels), byte 4 the surface (bits 0-2 its size, up to
// 36 x 36, bits 5-6 fewer rows, bit 7 24-bit) and the picture's holes or
// flatness (bits 3-4). Then steps, each an operation byte (its low four bits
// the operation, bit 4 pre-multiplied for drawings) and its arguments; at
// most 4 drawings. Inputs stay cheap: a shrunk picture is resampled at
// about its area times the filter's taps.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>

#include "fuzz_limits.h"
#include "fuzz_renderer_start.h"
#include "qlm_path.h"
#include "qlm_renderer_engine.h"
#include "qlm_renderer_image.h"

namespace {

constexpr int32_t kKinds[] = {cnBitmap24RGB,  cnBitmap24BGR,  cnBitmap32RGBA,
                              cnBitmap32BGRA, cnBitmap32ARGB, cnBitmap32ABGR};
constexpr int kMaxPictureArea = 24576;
constexpr int kMaxDrawings = 4;

// A coordinate: most bytes give places on and around the surface (-10 to
// 47.75 in quarters), the rest a table of hostile ones.
double place(rFuzzBytes& in) {
  // clang-format off
  static const double table[] = {0.0,  -0.0, 0.5,   1e-9, -1e-9, 1e-300, 1e6,  -1e6, 1e9, 1e15, 1099511627776.0,
                                 1e300, -1e300, std::numeric_limits<double>::quiet_NaN(),
                                 std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
                                 std::numeric_limits<double>::denorm_min(), std::numeric_limits<double>::max()};
  // clang-format on
  const uint8_t b = in.Byte();
  if (b < 232) return (int(b) - 40) * 0.25;
  return table[(b - 232) % (sizeof(table) / sizeof(table[0]))];
}

// n places in the order of the input (a call's arguments are evaluated in
// no fixed order).
void places(rFuzzBytes& in, double* v, int n) {
  for (int i = 0; i < n; ++i) v[i] = place(in);
}

// A scale factor: 2^((b - 128) / 16), 1/256 to about 256; bytes 0 and 255
// give 0 and -1 (no area, mirrored).
double factor(rFuzzBytes& in) {
  const uint8_t b = in.Byte();
  if (b == 0) return 0.0;
  if (b == 255) return -1.0;
  return std::exp2((int(b) - 128) / 16.0);
}

// A source edge in pixels: small values around the picture's edges, and
// far ones.
int32_t edge(rFuzzBytes& in, int32_t size) {
  const uint8_t b = in.Byte();
  if (b < 64) return int32_t(b) - 8;
  if (b < 128) return size - (int32_t(b) - 72);
  if (b < 250) return int32_t((int64_t(b - 128) * size) / 121);
  return b == 250 ? std::numeric_limits<int32_t>::min() : std::numeric_limits<int32_t>::max() - (255 - b);
}

// The picture: pixels from a hash of their place, in blocks or single,
// translucent or opaque, with transparent holes, or flat.
std::unique_ptr<cBitmap> make_picture(int32_t w, int32_t h, int32_t kind, uint8_t content) {
  auto bm = std::make_unique<cBitmap>(w, h, kind);
  if (!bm->Create()) return nullptr;
  const int bytes = kind == cnBitmap24RGB || kind == cnBitmap24BGR ? 3 : 4;
  const int alpha = kind == cnBitmap32RGBA || kind == cnBitmap32BGRA ? 3 : 0;
  const int block = 1 + (content & 3);
  for (int32_t y = 0; y < h; ++y) {
    uint8_t* row = bm->ScanLine(y);
    for (int32_t x = 0; x < w; ++x) {
      uint32_t v = uint32_t(x / block) * 0x9E3779B1u ^ uint32_t(y / block) * 0x85EBCA77u ^ content * 0xC2B2AE3Du;
      v ^= v >> 15;
      v *= 0x2C1B3C6Du;
      v ^= v >> 12;
      uint8_t* p = row + int64_t(x) * bytes;
      for (int i = 0; i < bytes; ++i) p[i] = uint8_t(v >> (8 * i));
      if (bytes == 4 && (content & 4) == 0) p[alpha] = 255;                                  // opaque
      if ((content & 0x18) == 0x18 && (v >> 27) % 3 == 0) std::memset(p, 0, size_t(bytes));  // holes
      if ((content & 0x18) == 0x08) std::memset(p, 0xC0, size_t(bytes));                     // flat
    }
  }
  return bm;
}

struct Side {
  std::unique_ptr<cBitmap> bitmap;
  cSurfaceBitmap surface;
  cRendererSurface r;
  cHitTest hit;
};

bool is_drawing(uint8_t op) { return op % 16 >= 12; }

// One step on one side. `fast` picks the perspective generators it draws
// with.
void step(Side& s, rFuzzBytes& in, cBitmap* picture, bool with_hit, bool fast) {
  cRendererSurface& r = s.r;
  const uint8_t op = in.Byte();
  double v[8] = {};
  switch (op % 16) {
    case 0: r.SetImageFilter(in.Byte() % 18); break;
    case 1: {
      const double fx = factor(in), fy = factor(in);
      r.Scale(fx, fy);
      break;
    }
    case 2: {
      const double turn = in.Byte() * (360.0 / 256.0);
      r.Rotate(turn + place(in));
      break;
    }
    case 3:
      places(in, v, 2);
      r.Skew(v[0], v[1]);
      break;
    case 4:
      places(in, v, 2);
      r.Translate(v[0], v[1]);
      break;
    case 5:
    case 6: {
      // A stage from a rectangle to a quadrilateral: the rectangle moved by
      // small amounts per corner (often none: a stage that leaves the
      // picture flat), or any four places.
      const double x1 = place(in), y1 = place(in), x2 = place(in), y2 = place(in);
      double quad[8] = {x1, y1, x2, y1, x2, y2, x1, y2};
      const uint8_t how = in.Byte();
      for (double& c : quad) c = how < 128 ? c + (int(in.Byte()) - 128) / 16.0 : place(in);
      if (op % 16 == 5)
        r.AddPerspective(quad, x1, y1, x2, y2);
      else
        r.AddBilinear(quad, x1, y1, x2, y2);
      break;
    }
    case 7: r.ResetTransformations(in.Byte() & 1); break;
    case 8: {
      const uint8_t b = in.Byte();
      if (b & 1) r.SetImageTintOp(in.Byte());
      if (b & 2) r.SetImageTintColor(in.U32());
      if (b & 4) r.ResetImageParameters(b & 8);
      if (b & 16) r.SetMasterAlpha(in.Byte());
      break;
    }
    case 9: {
      const uint8_t b = in.Byte();
      if (b & 3) places(in, v, 4);
      if (b & 1)
        r.ClipEllipse(v[0], v[1], v[2], v[3]);
      else if (b & 2)
        r.ClipRect(v[0], v[1], v[2], v[3]);
      else
        r.ClipOff();
      break;
    }
    case 10: {
      const uint8_t b = in.Byte();
      if (b & 1) {
        places(in, v, 4);
        r.SetDistortionCenter(v[0], v[1]);
        r.SetDistortionPeriod(v[2]);
        r.SetDistortionAmplitude(v[3]);
        r.DistortionsOn();
      } else {
        r.DistortionsOff();
      }
      break;
    }
    case 11: r.SetAntiAliasing(in.Byte() & 1); break;
    default: {
      cHitTest* hit = with_hit ? &s.hit : nullptr;
      const bool premultiplied = op & 0x10;
      image_fast_perspective_enable(fast);
      const int32_t w = picture->Width(), h = picture->Height();
      switch (op % 16) {
        case 12: {
          const double x1 = place(in), y1 = place(in), fx = factor(in), fy = factor(in);
          r.DrawImage(picture, premultiplied, x1, y1, x1 + w * fx, y1 + h * fy, hit);
          break;
        }
        case 13: {
          const int32_t sx1 = edge(in, w), sy1 = edge(in, h), sx2 = edge(in, w), sy2 = edge(in, h);
          const double x1 = place(in), y1 = place(in), x2 = place(in), y2 = place(in);
          r.DrawImageRect(picture, sx1, sy1, sx2, sy2, x1, y1, x2, y2, premultiplied, hit);
          break;
        }
        case 14: {
          const double x0 = place(in), y0 = place(in), x1 = place(in), y1 = place(in), x2 = place(in), y2 = place(in);
          r.DrawImageParallelogram(picture, x0, y0, x1, y1, x2, y2, premultiplied, hit);
          break;
        }
        default: {
          const int32_t sx1 = edge(in, w), sy1 = edge(in, h), sx2 = edge(in, w), sy2 = edge(in, h);
          cPath path;
          places(in, v, 8);
          path.MoveTo(v[0], v[1]);
          path.LineTo(v[2], v[3]);
          path.Curve3(v[4], v[5], v[6], v[7]);
          path.ClosePolygon();
          r.DrawImageRectInPath(picture, &path, sx1, sy1, sx2, sy2, premultiplied, hit);
          break;
        }
      }
      image_fast_perspective_enable(true);
      break;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  fuzz_drawing_start(argc, argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 2048) return 0;
  rFuzzBytes in{data, size};
  const uint8_t options = in.Byte();
  const int32_t pw = 1 + in.U16() % 1024;
  const int32_t ph = std::min<int32_t>(1 + in.Byte() % 96, kMaxPictureArea / pw);
  const uint8_t surface = in.Byte();
  auto picture = make_picture(pw, ph, kKinds[(options & 7) % 6], uint8_t(options >> 5 | (surface & 0x18)));
  if (picture == nullptr) return 0;
  const int32_t side = 8 + (surface & 7) * 4;
  const int32_t kind = (surface & 0x80) ? cnBitmap24BGR : cnBitmap32BGRA;
  Side sides[2];
  for (Side& s : sides) {
    s.bitmap = std::make_unique<cBitmap>(side, side - (surface >> 5 & 3) * 2, kind);
    if (!s.bitmap->Create()) return 0;
    s.bitmap->Clear(color_rgba(40, 90, 160, 255), cnOpacityAlpha);
    if (!s.surface.Attach(s.bitmap.get(), true) || !s.r.AttachSurface(&s.surface)) return 0;
    s.r.SetAntiAliasing((options & 8) == 0);
  }
  // Both sides read the same steps: the second from where the first began.
  const size_t start = in.at;
  for (int which = 0; which < 2; ++which) {
    in.at = start;
    int drawings = 0;
    for (int i = 0; i < 32 && !in.Empty(); ++i) {
      if (is_drawing(in.data[in.at]) && ++drawings > kMaxDrawings) break;
      step(sides[which], in, picture.get(), options & 16, which == 0);
    }
  }
  for (Side& s : sides) s.r.DetachSurface();
  cBitmap& a = *sides[0].bitmap;
  cBitmap& b = *sides[1].bitmap;
  for (int32_t y = 0; y < a.Height(); ++y)
    if (std::memcmp(a.ScanLine(y), b.ScanLine(y), size_t(a.Width()) * (kind == cnBitmap24BGR ? 3 : 4)) != 0)
      std::abort();  // the fast perspective generators drew other bytes
  return 0;
}
