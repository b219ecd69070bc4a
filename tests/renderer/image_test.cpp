// Images: bitmaps drawn transformed, filtered, tinted, clipped and
// registered in hit tests, scaled fill-pattern tiles, and image_load.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <random>
#include <vector>

#include "image_reference.h"
#include "qlm_base_flow.h"
#include "qlm_base_lists.h"
#include "qlm_base_util.h"
#include "qlm_bilinear_rows.h"
#include "qlm_image_load.h"
#include "qlm_jng.h"
#include "qlm_jpeg.h"
#include "qlm_png.h"
#include "qlm_renderer_engine.h"
#include "qlm_renderer_image.h"
#include "qlm_renderer_svg.h"
#include "qlm_svg.h"
#include "renderer_support.h"
#include "sandbox.h"
#include "test_files.h"

namespace {

using testenv::pixel_argb;
using testenv::RendererTest;

class cImageProbe : public cRendererSurface {
 public:
  eImageSpan LastSpan() const { return mLastImageSpan; }
  int64_t Conversions() const { return mImageBuffer.ConversionCount(); }
  agg::image_filter_lut& ImageLut() { return mImageLut; }
};

struct Bound {
  explicit Bound(int32_t kind = cnBitmap32BGRA, int w = 24, int h = 20, uint32_t bg = 0xFF102030u)
      : bitmap(testenv::solid_bitmap(w, h, kind, bg)) {
    EXPECT_TRUE(surface.Attach(bitmap.get(), true));
    EXPECT_TRUE(r.AttachSurface(&surface));
  }
  std::vector<uint8_t> Bytes() const {
    return std::vector<uint8_t>(bitmap->Data(), bitmap->Data() + int64_t(bitmap->Stride()) * bitmap->Height());
  }
  std::unique_ptr<cBitmap> bitmap;
  cSurfaceBitmap surface;
  cImageProbe r;
};

// Opaque pixels that differ from their neighbours in every channel.
std::unique_ptr<cBitmap> opaque_pattern(int w, int h, int32_t kind = cnBitmap32BGRA, uint32_t seed = 7) {
  return testenv::make_bitmap(w, h, kind,
                              [seed](int32_t x, int32_t y) { return testenv::pattern_argb(x, y, seed) | 0xFF000000u; });
}

class ImageTest : public RendererTest {};

// --- Placement ----------------------------------------------------------------------

TEST_F(ImageTest, IdentityBlitIsExactInEveryFormatAndMirrors) {
  for (int32_t kind = cnBitmap24RGB; kind <= cnBitmap32ABGR; ++kind) {
    for (bool aa : {true, false}) {
      SCOPED_TRACE(testing::Message() << "kind " << kind << " aa " << aa);
      auto source = opaque_pattern(8, 8, kind);
      Bound b(kind, 12, 10);
      b.r.SetAntiAliasing(aa);
      b.r.DrawImage(source.get(), false, 2, 1, 10, 9, nullptr);
      for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 12; ++x) {
          const bool inside = x >= 2 && x < 10 && y >= 1 && y < 9;
          const uint32_t want = inside ? pixel_argb(*source, x - 2, y - 1) : 0xFF102030u;
          ASSERT_EQ(pixel_argb(*b.bitmap, x, y), want) << x << "," << y;
        }
      // x2 < x1: the corners follow the arguments, the image is mirrored.
      Bound m(kind, 8, 8);
      m.r.SetAntiAliasing(aa);
      m.r.DrawImage(source.get(), false, 8, 0, 0, 8, nullptr);
      for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) ASSERT_EQ(pixel_argb(*m.bitmap, x, y), pixel_argb(*source, 7 - x, y));
    }
  }
}

TEST_F(ImageTest, SourceIsClampedAndEmptyInputsDrawNothing) {
  auto source = opaque_pattern(10, 6);
  Bound past, exact;
  past.r.DrawImageRect(source.get(), 2, 1, 10 + 50, 6 + 9, 0.5, 0.5, 21.5, 17.5, false, nullptr);
  exact.r.DrawImageRect(source.get(), 2, 1, 10, 6, 0.5, 0.5, 21.5, 17.5, false, nullptr);
  EXPECT_EQ(past.Bytes(), exact.Bytes());
  Bound negative;
  negative.r.DrawImageRect(source.get(), -5, -5, 10, 6, 0.5, 0.5, 21.5, 17.5, false, nullptr);
  Bound whole;
  whole.r.DrawImage(source.get(), false, 0.5, 0.5, 21.5, 17.5, nullptr);
  EXPECT_EQ(negative.Bytes(), whole.Bytes());

  cImage no_frames(4, 4, 0);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  Bound b;
  const std::vector<uint8_t> before = b.Bytes();
  cHitTest hit;
  b.r.DrawImageRect(source.get(), 3, 0, 3, 6, 0, 0, 20, 20, false, &hit);    // zero width
  b.r.DrawImageRect(source.get(), 12, 0, 20, 6, 0, 0, 20, 20, false, &hit);  // beyond the width
  b.r.DrawImageRect(source.get(), 0, 4, 10, 2, 0, 0, 20, 20, false, &hit);   // upside down
  b.r.DrawImage(nullptr, false, 0, 0, 20, 20, &hit);
  b.r.DrawImage(&no_frames, false, 0, 0, 20, 20, &hit);
  b.r.DrawImage(&hit, false, 0, 0, 20, 20, &hit);                               // not an image
  b.r.DrawImageParallelogram(source.get(), 0, 0, 10, 10, 20, 20, false, &hit);  // no area
  b.r.DrawImage(source.get(), false, 0, 0, 20, 1e-300, &hit);                   // no area
  b.r.DrawImage(source.get(), false, 0, nan, 20, 20, &hit);
  b.r.DrawImage(source.get(), false, 0, 0, 20, 1e-7, &hit);  // source beyond the interpolator's reach
  EXPECT_EQ(b.Bytes(), before);
  EXPECT_TRUE(hit.IsEmpty());
}

TEST_F(ImageTest, AnImageIsDrawnThroughItsCurrentFrame) {
  auto source = opaque_pattern(6, 5);
  class cOneFrame : public cImage {
   public:
    explicit cOneFrame(std::unique_ptr<cBitmap> b) : cImage(0, 0, 0) { AdoptCommonBitmap(b.release()); }
  } image(opaque_pattern(6, 5));
  Bound a, b;
  a.r.DrawImageXYWH(&image, 1, 2, 6, 5, false, nullptr);
  b.r.DrawImage(image.Bitmap(0), false, 1, 2, 7, 7, nullptr);
  EXPECT_EQ(a.Bytes(), b.Bytes());
  EXPECT_NE(a.Bytes(), Bound().Bytes());
}

TEST_F(ImageTest, PathVariantsPlaceTheImageOnThePathBounds) {
  auto source = opaque_pattern(8, 8);
  cPath path;
  path.MoveTo(100, 50);
  path.LineTo(108, 50);
  path.LineTo(108, 58);
  path.LineTo(100, 58);
  path.ClosePolygon();
  // At (10, 10): the path moves by (-90, -40) and the image with it.
  Bound at, plain;
  at.r.DrawImageInPathAt(source.get(), &path, 10, 10, false, nullptr);
  plain.r.DrawImage(source.get(), false, 10, 10, 18, 18, nullptr);
  EXPECT_EQ(at.Bytes(), plain.Bytes());
  Bound at_rect, plain_rect;
  at_rect.r.DrawImageRectInPathAt(source.get(), &path, 3, 2, 1, 1, 5, 5, false, nullptr);
  plain_rect.r.DrawImageRect(source.get(), 1, 1, 5, 5, 3, 2, 11, 10, false, nullptr);
  EXPECT_EQ(at_rect.Bytes(), plain_rect.Bytes());
  // In place, with a triangle cutting the image: only its inside is drawn.
  cPath triangle;
  triangle.MoveTo(2, 2);
  triangle.LineTo(18, 2);
  triangle.LineTo(2, 18);
  triangle.ClosePolygon();
  Bound in;
  in.r.DrawImageInPath(source.get(), &triangle, false, nullptr);
  EXPECT_NE(pixel_argb(*in.bitmap, 4, 4), 0xFF102030u);
  EXPECT_EQ(pixel_argb(*in.bitmap, 15, 15), 0xFF102030u);
  in.r.DrawImageInPath(source.get(), nullptr, false, nullptr);  // nil path: nothing
}

// --- Generators ----------------------------------------------------------------------

// The raw AGG pipeline of one generator: the bitmap (RGBA) mapped onto the
// rectangle over a BGRA copy of the background.
template <template <class, class> class Gen>
std::vector<uint8_t> raw_image(const cBitmap& bm, double x1, double y1, double x2, double y2,
                               agg::image_filter_lut* lut) {
  const int w = bm.Width(), h = bm.Height();
  std::vector<uint8_t> rgba(size_t(w) * h * 4);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const uint32_t c = pixel_argb(bm, x, y);
      uint8_t* p = &rgba[(size_t(y) * w + x) * 4];
      p[0] = uint8_t(c >> 16), p[1] = uint8_t(c >> 8), p[2] = uint8_t(c), p[3] = uint8_t(c >> 24);
    }
  agg::rendering_buffer src(rgba.data(), w, h, w * 4);
  agg::pixfmt_rgba32 src_pf(src);
  agg::image_accessor_clip<agg::pixfmt_rgba32> acc(src_pf, agg::rgba8(0, 0, 0, 0));
  double parl[6] = {x1, y1, x2, y1, x2, y2};
  agg::trans_affine m(0, 0, w, h, parl);
  m.invert();
  agg::span_interpolator_linear<> interp(m);
  auto out = testenv::solid_bitmap(24, 20, cnBitmap32BGRA, 0xFF102030u);
  agg::rendering_buffer rb(out->Data(), 24, 20, out->Stride());
  agg::pixfmt_bgra32 pf(rb);
  agg::renderer_base<agg::pixfmt_bgra32> base(pf);
  agg::rasterizer_scanline_aa<agg::rasterizer_sl_clip_dbl> ras;
  ras.clip_box(0, 0, 24, 20);
  agg::path_storage p;
  p.move_to(x1, y1), p.line_to(x2, y1), p.line_to(x2, y2), p.line_to(x1, y2), p.close_polygon();
  ras.add_path(p);
  agg::scanline_u8 sl;
  agg::span_allocator<agg::rgba8> alloc;
  using acc_t = agg::image_accessor_clip<agg::pixfmt_rgba32>;
  if constexpr (requires { Gen<acc_t, agg::span_interpolator_linear<>>(acc, interp); }) {
    Gen<acc_t, agg::span_interpolator_linear<>> gen(acc, interp);
    agg::render_scanlines_aa(ras, sl, base, alloc, gen);
  } else {
    Gen<acc_t, agg::span_interpolator_linear<>> gen(acc, interp, *lut);
    agg::render_scanlines_aa(ras, sl, base, alloc, gen);
  }
  return std::vector<uint8_t>(out->Data(), out->Data() + int64_t(out->Stride()) * 20);
}
template <class A, class I>
using resample_affine = agg::span_image_resample_rgba_affine<A>;

// The room after a picture's last byte where a reader stepping past it
// lands in these tests (the widest step past a run is 336 columns).
constexpr size_t kRoomAfter = 2048;

// An accessor that counts the pixels handed out in place that are not the
// pixel at the place the generator stands for (its run, next column, next
// row), such as the next row's first pixel for a column past a row's end.
template <class Base>
class checked_accessor : public Base {
 public:
  explicit checked_accessor(agg::pixfmt_rgba32& pf) : Base(pf, agg::rgba8(0, 0, 0, 0)), mPf(pf) {}
  const agg::int8u* span(int x, int y, unsigned len) {
    mX = mX0 = x, mY = y;
    return check(Base::span(x, y, len));
  }
  const agg::int8u* next_x() {
    ++mX;
    return check(Base::next_x());
  }
  const agg::int8u* next_y() {
    ++mY, mX = mX0;
    return check(Base::next_y());
  }
  int64_t wrong = 0;

 private:
  const agg::int8u* check(const agg::int8u* p) {
    const auto at = reinterpret_cast<uintptr_t>(p), begin = reinterpret_cast<uintptr_t>(mPf.pix_ptr(0, 0));
    const uintptr_t end = begin + uintptr_t(mPf.stride()) * mPf.height();
    if (at >= begin && at < end + kRoomAfter) {
      const bool inside = mX >= 0 && mX < int(mPf.width()) && mY >= 0 && mY < int(mPf.height());
      if (!inside || p != mPf.pix_ptr(mX, mY)) ++wrong;
    }
    return p;
  }
  agg::pixfmt_rgba32& mPf;
  int mX = 0, mX0 = 0, mY = 0;
};

// AGG's clip accessor that never hands a run out in place: every pixel goes
// through the clip. What the resampler draws over it is what it must draw.
class never_in_place_accessor : public agg::image_accessor_clip<agg::pixfmt_rgba32> {
 public:
  never_in_place_accessor(agg::pixfmt_rgba32& pf, const agg::rgba8& bk)
      : image_accessor_clip(pf, bk), mWidth(pf.width()) {}
  const agg::int8u* span(int x, int y, unsigned) { return image_accessor_clip::span(x, y, mWidth + 1); }

 private:
  unsigned mWidth;
};

// The renderer's affine resampler, or AGG's over another accessor.
template <class A>
using ours_resampler = qlm_agg::span_image_resample_rgba_affine_clip<A>;
template <class A>
using agg_resampler = agg::span_image_resample_rgba_affine<A>;

// The colours a resampler gives over the device box (one pixel around) of a
// w x h picture placed by `to_device`, row after row.
template <template <class> class Gen, class Accessor>
std::vector<agg::rgba8> resample_box(Accessor& accessor, agg::image_filter_lut& lut, const agg::trans_affine& to_device,
                                     int w, int h) {
  double xs[4] = {0, double(w), double(w), 0}, ys[4] = {0, 0, double(h), double(h)};
  for (int i = 0; i < 4; ++i) to_device.transform(&xs[i], &ys[i]);
  const int x0 = int(std::floor(*std::min_element(xs, xs + 4))) - 1,
            x1 = int(std::ceil(*std::max_element(xs, xs + 4))) + 1;
  const int y0 = int(std::floor(*std::min_element(ys, ys + 4))) - 1,
            y1 = int(std::ceil(*std::max_element(ys, ys + 4))) + 1;
  agg::trans_affine inverse = to_device;
  inverse.invert();
  agg::span_interpolator_linear<> interp(inverse);
  Gen<Accessor> gen(accessor, interp, lut);
  gen.prepare();
  std::vector<agg::rgba8> out(size_t(x1 - x0) * size_t(y1 - y0));
  for (int y = y0; y < y1; ++y) gen.generate(out.data() + size_t(y - y0) * size_t(x1 - x0), x0, y, unsigned(x1 - x0));
  return out;
}

// AGG's affine resampler steps past the columns it asks for at some scales
// (see qlm_agg::image_accessor_clip_resample); through the renderer's
// accessor no read is another row's pixel or a byte past the picture.
// Swept over places and filters of diameter 2, 4 and 6 at uniform shrinks
// and at one-axis shrinks up to AGG's limit (200), where the plain clip
// accessor shows such reads (its overall count shows the sweep finds them).
TEST_F(ImageTest, TheAffineResamplerReadsOnlyThePicturesOwnPixels) {
  struct Sweep {
    uint8_t filter;
    int w, h;
    std::vector<double> scales;  // along the rows; along the columns too when uniform
    bool uniform;
  };
  const Sweep sweeps[] = {
      {10, 64, 60, {64 / 5.37, 64 / 6.11}, true},  // shrunk about ten times
      {2, 64, 60, {64 / 5.37, 64 / 6.11}, true},
      {5, 64, 60, {64 / 5.37, 64 / 6.11}, true},
      {5, 160, 24, {12.49, 12.495, 12.5}, true},  // bicubic: two columns past the run
      {10, 160, 24, {9.66, 10.5, 11.5, 12.5, 13.5, 14}, true},
      {8, 160, 24, {9.66, 10.5, 11.5, 12.5, 13.5, 14}, true},
      {1, 1400, 6, {150, 175, 200}, false},  // up to 112, 224 and 336 columns past it
      {5, 1400, 6, {150, 175, 200}, false},
      {10, 1400, 6, {150, 175, 200}, false},
  };
  int64_t plain_wrong = 0;
  for (const Sweep& sweep : sweeps) {
    Bound b;
    b.r.SetImageFilter(sweep.filter);
    agg::image_filter_lut& lut = b.r.ImageLut();
    std::vector<uint8_t> pixels(size_t(sweep.w) * sweep.h * 4 + kRoomAfter, 200);
    agg::rendering_buffer rb(pixels.data(), sweep.w, sweep.h, sweep.w * 4);
    agg::pixfmt_rgba32 pf(rb);
    for (const double scale : sweep.scales)
      for (double at = 0; at < 1; at += 0.125) {
        SCOPED_TRACE(testing::Message() << "filter " << int(sweep.filter) << " scale " << scale << " at " << at);
        agg::trans_affine to_device = agg::trans_affine_scaling(1 / scale, sweep.uniform ? 1 / scale : 1.0) *
                                      agg::trans_affine_translation(at, 0.2);
        checked_accessor<agg::image_accessor_clip<agg::pixfmt_rgba32>> plain(pf);
        resample_box<agg_resampler>(plain, lut, to_device, sweep.w, sweep.h);
        plain_wrong += plain.wrong;
        checked_accessor<qlm_agg::image_accessor_clip_resample<agg::pixfmt_rgba32>> ours(pf);
        resample_box<ours_resampler>(ours, lut, to_device, sweep.w, sweep.h);
        EXPECT_EQ(ours.wrong, 0);
      }
  }
  EXPECT_GT(plain_wrong, 0);
}

// The renderer's affine resampler must draw what AGG's draws when every
// pixel goes through the clip, byte for byte: random shrinks (uniform,
// along the rows only up to AGG's limit, turned), every filter, places,
// pictures that are a rectangle of a larger picture with odd strides and
// that end where their memory ends.
TEST_F(ImageTest, TheAffineResamplerDrawsWhatItDrawsReadingEveryPixelThroughTheClip) {
  std::mt19937 rng(0x5eed);
  auto real = [&](double a, double b) { return std::uniform_real_distribution<double>(a, b)(rng); };
  auto whole = [&](int a, int b) { return std::uniform_int_distribution<int>(a, b)(rng); };
  Bound b;
  int differing = 0;
  constexpr int kCases = 2000;
  for (int i = 0; i < kCases; ++i) {
    const uint8_t filter = uint8_t(whole(1, 16));
    const bool one_axis = whole(0, 3) == 0;
    const int w = one_axis ? whole(150, 1000) : whole(1, 64), h = one_axis ? whole(1, 3) : whole(1, 40);
    const double sx = one_axis ? real(100, 220) : real(1.13, 16), sy = one_axis ? real(0.6, 1.1) : real(1, 16);
    // The picture: a rectangle of a larger one, whose rows are longer still.
    const int left = whole(0, 2), top = whole(0, 2), below = whole(0, 1) * whole(1, 2);
    const int stride = (left + w + whole(0, 2)) * 4 + whole(0, 3);
    std::vector<uint8_t> memory(size_t(stride) * size_t(top + h + below));
    for (uint8_t& v : memory) v = uint8_t(rng());
    agg::rendering_buffer rb(memory.data() + size_t(stride) * top + size_t(left) * 4, w, h, stride);
    agg::pixfmt_rgba32 pf(rb);
    agg::trans_affine to_device = agg::trans_affine_scaling(1 / sx, 1 / sy);
    if (whole(0, 3) == 0) to_device *= agg::trans_affine_rotation(real(-0.6, 0.6));
    to_device *= agg::trans_affine_translation(real(-2, 2), real(-2, 2));
    b.r.SetImageFilter(filter);
    qlm_agg::image_accessor_clip_resample<agg::pixfmt_rgba32> ours(pf, agg::rgba8(0, 0, 0, 0));
    never_in_place_accessor each(pf, agg::rgba8(0, 0, 0, 0));
    const std::vector<agg::rgba8> got = resample_box<ours_resampler>(ours, b.r.ImageLut(), to_device, w, h);
    const std::vector<agg::rgba8> want = resample_box<agg_resampler>(each, b.r.ImageLut(), to_device, w, h);
    if (std::memcmp(got.data(), want.data(), got.size() * sizeof(agg::rgba8)) != 0 && ++differing <= 5)
      ADD_FAILURE() << "filter " << int(filter) << " picture " << w << "x" << h << " stride " << stride << " shrunk "
                    << sx << " x " << sy << " case " << i;
  }
  EXPECT_EQ(differing, 0) << "of " << kCases;
}

// A white picture whose first columns are red, shrunk: a device column
// whose filter reaches only white columns shows no red (white, or grey
// where it is partly covered over the black ground). A resampler stepping
// past its row would bring in the next row's red start, or bytes past the
// picture on its last row.
TEST_F(ImageTest, AShrunkPictureShowsNoColourFromTheNextRow) {
  struct Case {
    int w, h, red;  // picture size, red columns
    uint8_t filter;
    double x1, y1, x2, y2;
    int column;  // its filter reaches only white columns
  };
  const Case cases[] = {
      {493, 65, 70, 1, 0, 0, 2.52, 60.6, 1},
      {64, 40, 8, 5, 0.42, 0.2, 5.55, 3.40, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " filter " << int(c.filter));
    auto picture = testenv::make_bitmap(c.w, c.h, cnBitmap32BGRA,
                                        [&](int32_t x, int32_t) { return x < c.red ? 0xFFFF0000u : 0xFFFFFFFFu; });
    Bound b(cnBitmap32BGRA, 8, 64, 0xFF000000u);
    b.r.SetImageFilter(c.filter);
    b.r.DrawImage(picture.get(), false, c.x1, c.y1, c.x2, c.y2, nullptr);
    ASSERT_EQ(b.r.LastSpan(), eImageSpan::resample_affine);
    int tinted = 0;
    for (int y = 0; y < 64; ++y) {
      const uint32_t px = pixel_argb(*b.bitmap, c.column, y);
      if ((px >> 16 & 0xFF) != (px & 0xFF) || (px >> 8 & 0xFF) != (px & 0xFF)) ++tinted;
    }
    EXPECT_EQ(tinted, 0);
    EXPECT_NE(pixel_argb(*b.bitmap, c.column, 1), 0xFF000000u);  // the picture arrived
  }
}

TEST_F(ImageTest, GeneratorsEqualRawAgg) {
  auto big = opaque_pattern(64, 48, cnBitmap32RGBA);
  auto small = opaque_pattern(8, 6, cnBitmap32ARGB);
  {  // stretched bilinearly (kind 0)
    Bound b;
    b.r.DrawImage(small.get(), false, 1.5, 0.25, 22.75, 19.5, nullptr);
    EXPECT_EQ(b.r.LastSpan(), eImageSpan::bilinear);
    EXPECT_EQ(b.Bytes(), (raw_image<agg::span_image_filter_rgba_bilinear>(*small, 1.5, 0.25, 22.75, 19.5, nullptr)));
  }
  {  // shrunk to about a quarter with kind 2: resampled
    Bound b;
    b.r.SetImageFilter(2);
    b.r.DrawImage(big.get(), false, 2, 1, 18, 13, nullptr);
    EXPECT_EQ(b.r.LastSpan(), eImageSpan::resample_affine);
    agg::image_filter_lut lut(agg::image_filter_hanning(), true);
    EXPECT_EQ(b.Bytes(), (raw_image<resample_affine>(*big, 2, 1, 18, 13, &lut)));
  }
  {  // enlarged with kind 5: the general filter
    Bound b;
    b.r.SetImageFilter(5);
    b.r.DrawImage(small.get(), false, 0, 0, 24, 18, nullptr);
    EXPECT_EQ(b.r.LastSpan(), eImageSpan::filter_general);
    agg::image_filter_lut lut(agg::image_filter_bicubic(), true);
    EXPECT_EQ(b.Bytes(), (raw_image<agg::span_image_filter_rgba>(*small, 0, 0, 24, 18, &lut)));
  }
}

// A picture stretched by a plain scale takes the scaled bilinear filter; it
// must draw what AGG's bilinear filter draws, over scales (shrinking and
// mirrored too), whole and fractional placements, pictures running off the
// surface, source rectangles, opaque and translucent pixels, straight and
// pre-multiplied drawing, and a clip, with the widest kernels the processor
// has and with SSE2 alone. Allowed difference: none (the same source
// positions, stepped out per span as the general filter steps them, and the
// same sums).
TEST_F(ImageTest, ScaledBilinearFilterDrawsWhatAggsFilterDraws) {
  struct Case {
    double x1, y1, x2, y2;
    int sx1, sy1, sx2, sy2;  // source rectangle; all 0: the whole picture
    bool premultiplied;
    bool clip;
  };
  const Case cases[] = {
      // clang-format off
      {0, 0, 48, 36, 0, 0, 0, 0, false, false},        {1.5, 0.25, 46.75, 39.5, 0, 0, 0, 0, false, false},
      {-7.3, 3, 30, 51.2, 0, 0, 0, 0, false, false},   {10, -4, 70, 20, 0, 0, 0, 0, false, false},
      {2, 2, 45, 33, 3, 2, 17, 11, false, false},      {0.5, 0.5, 40.5, 30.5, 0, 0, 0, 0, true, false},
      {3.25, 1.75, 47.5, 39, 0, 0, 0, 0, false, true}, {5, 5, 28, 21, 0, 0, 0, 0, false, false},
      {60.5, 2, 3, 45.25, 0, 0, 0, 0, false, false},   {1, 40, 63, 1.5, 0, 0, 0, 0, false, false},
      {0.75, 1, 7.5, 6, 0, 0, 0, 0, false, false},     {-3, -2, 67, 50, 1, 1, 19, 14, false, false},
      // clang-format on
      // At half the size: each column's pixels two to the right of the last.
      {0, 0, 10, 7.5, 0, 0, 0, 0, false, false},
      {3.25, 1.5, 13.25, 9, 0, 0, 0, 0, false, false},
      {-1.5, 2, 8.5, 9.5, 0, 0, 0, 0, true, false},
      {4, 3, 12, 8, 1, 2, 17, 12, false, false},
      {7, 0.5, 17, 8, 0, 0, 0, 0, false, true},
  };
  for (const bool baseline : {false, true})
    for (const bool translucent : {false, true})
      for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "to " << c.x1 << "," << c.y1 << " " << c.x2 << "," << c.y2 << " from "
                                        << c.sx1 << "," << c.sy1 << " " << c.sx2 << "," << c.sy2 << " premultiplied "
                                        << c.premultiplied << " clip " << c.clip << " translucent " << translucent
                                        << (baseline ? " SSE2 alone" : ""));
        qlm_agg::bilinear_rows_baseline_only(baseline);
        auto picture = testenv::make_bitmap(20, 15, cnBitmap32BGRA, [translucent](int32_t x, int32_t y) {
          const uint32_t p = testenv::pattern_argb(x, y, 11);
          return translucent ? p : p | 0xFF000000u;
        });
        auto draw = [&](bool scaled) {
          image_scaled_bilinear_enable(scaled);
          Bound b(cnBitmap32BGRA, 64, 48);
          if (c.clip) b.r.ClipEllipse(30, 22, 20, 14);
          if (c.sx2 > 0)
            b.r.DrawImageRect(picture.get(), c.sx1, c.sy1, c.sx2, c.sy2, c.x1, c.y1, c.x2, c.y2, c.premultiplied,
                              nullptr);
          else
            b.r.DrawImage(picture.get(), c.premultiplied, c.x1, c.y1, c.x2, c.y2, nullptr);
          EXPECT_EQ(b.r.LastSpan(), eImageSpan::bilinear);
          if (c.clip) b.r.ClipOff();
          image_scaled_bilinear_enable(true);
          return b.Bytes();
        };
        const testenv::rByteDifference d = testenv::byte_difference(draw(false), draw(true));
        qlm_agg::bilinear_rows_baseline_only(false);
        EXPECT_EQ(d.worst, 0) << d.differing << " bytes differ";
      }
}

// Opaque, untinted pictures drawn straight onto the surface have their
// fully covered pixels stored as they are; whatever changes that (partial
// coverage from the master opacity, a tint, a translucent tint colour, a
// compositing operation, an opaque picture with translucent holes) must
// still draw what AGG's pipeline draws, byte for byte.
TEST_F(ImageTest, ScaledBilinearStraightIntoTheSurfaceDrawsWhatAggsPipelineDraws) {
  struct Variant {
    const char* name;
    uint32_t master_alpha;
    uint8_t tint_op;
    uint32_t tint_color;
    uint8_t comp_op;
    bool holes;
  };
  const Variant variants[] = {
      {"plain", 255, 0, 0, 0, false},           {"master alpha", 128, 0, 0, 0, false},
      {"tint", 255, 12, 0xFF3060C0u, 0, false}, {"translucent tint colour", 255, 0, 0x80000000u, 0, false},
      {"compositing", 255, 0, 0, 14, false},    {"holes", 255, 0, 0, 0, true},
  };
  for (const Variant& v : variants)
    for (const bool premultiplied : {false, true}) {
      SCOPED_TRACE(testing::Message() << v.name << " premultiplied " << premultiplied);
      auto picture = testenv::make_bitmap(20, 15, cnBitmap32BGRA, [&](int32_t x, int32_t y) {
        const uint32_t p = testenv::pattern_argb(x, y, 5) | 0xFF000000u;
        return v.holes && (x + y) % 7 == 0 ? p & 0x40FFFFFFu : p;
      });
      auto draw = [&](bool scaled) {
        image_scaled_bilinear_enable(scaled);
        Bound b(cnBitmap32BGRA, 64, 48);
        if (v.master_alpha != 255) b.r.SetMasterAlpha(v.master_alpha);
        if (v.tint_op != 0) b.r.SetImageTintOp(v.tint_op);
        if (v.tint_color != 0) b.r.SetImageTintColor(v.tint_color);
        if (v.comp_op != 0) b.r.SetCompOp(v.comp_op);
        b.r.DrawImage(picture.get(), premultiplied, 1.5, 0, 61.25, 45, nullptr);
        EXPECT_EQ(b.r.LastSpan(), eImageSpan::bilinear);
        image_scaled_bilinear_enable(true);
        return b.Bytes();
      };
      const std::vector<uint8_t> general = draw(false);
      const testenv::rByteDifference d = testenv::byte_difference(general, draw(true));
      EXPECT_EQ(d.worst, 0) << d.differing << " bytes differ";
    }
}

TEST_F(ImageTest, GeneratorChoiceTable) {
  auto source = opaque_pattern(64, 64);
  struct Case {
    bool aa;
    uint8_t filter;
    double size;  // destination side for the 64-pixel source
    bool perspective, wave;
    eImageSpan want;
  } cases[] = {
      {true, 0, 16, false, false, eImageSpan::bilinear},  // kind 0 never resamples
      {true, 2, 16, false, false, eImageSpan::resample_affine},
      {true, 1, 16, false, false, eImageSpan::resample_affine},
      {true, 2, 64, false, false, eImageSpan::filter_2x2},
      {true, 1, 64, false, false, eImageSpan::bilinear},
      {true, 5, 64, false, false, eImageSpan::filter_general},
      {true, 2, 57, false, false, eImageSpan::filter_2x2},  // 1.1228: not shrunk
      {true, 2, 56, false, false, eImageSpan::resample_affine},
      {true, 5, 16, true, false, eImageSpan::resample_perspective},
      {true, 5, 64, true, false, eImageSpan::filter_general},
      {true, 5, 16, false, true, eImageSpan::filter_general},  // distorted: no resampling
      {true, 2, 16, true, true, eImageSpan::filter_2x2},
      {false, 5, 16, true, false, eImageSpan::nearest},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "filter " << int(c.filter) << " size " << c.size << " persp " << c.perspective
                                    << " wave " << c.wave << " aa " << c.aa);
    Bound b(cnBitmap32BGRA, 80, 80);
    b.r.SetAntiAliasing(c.aa);
    b.r.SetImageFilter(c.filter);
    if (c.perspective) {
      const double quad[8] = {0, 0, 80, 4, 80, 76, 0, 80};
      b.r.AddPerspective(quad, 0, 0, 80, 80);
    }
    if (c.wave) b.r.WaveOn();
    b.r.DrawImage(source.get(), false, 4, 4, 4 + c.size, 4 + c.size, nullptr);
    EXPECT_EQ(b.r.LastSpan(), c.want);
    // Something of the image arrived in its middle.
    EXPECT_NE(pixel_argb(*b.bitmap, 4 + int(c.size / 2), 4 + int(c.size / 2)), 0xFF102030u);
  }
  static_assert(choose_image_span(true, 3, 2, 1.125, 1.0, false, false) == eImageSpan::filter_2x2);
  static_assert(choose_image_span(true, 3, 2, 1.0, 1.126, false, false) == eImageSpan::resample_affine);
}

TEST_F(ImageTest, IdentityPerspectiveIsExact) {
  // A perspective stage that maps the surface onto itself: the per-pixel
  // perspective interpolator lands on pixel centres as the affine one does.
  auto source = opaque_pattern(8, 8);
  Bound a(cnBitmap32BGRA, 12, 10), b(cnBitmap32BGRA, 12, 10);
  const double quad[8] = {0, 0, 12, 0, 12, 10, 0, 10};
  a.r.AddPerspective(quad, 0, 0, 12, 10);
  a.r.DrawImage(source.get(), false, 2, 1, 10, 9, nullptr);
  b.r.DrawImage(source.get(), false, 2, 1, 10, 9, nullptr);
  EXPECT_EQ(a.Bytes(), b.Bytes());
}

// Pictures with hard edges, where filters with negative lobes overshoot:
// blocks of three pixels, each block a colour of the pattern or black or
// white. Translucent ones carry alpha per block; `premultiplied` scales
// the colours by it.
std::unique_ptr<cBitmap> hard_edged_picture(int w, int h, bool translucent, bool premultiplied) {
  return testenv::make_bitmap(w, h, cnBitmap32BGRA, [=](int32_t x, int32_t y) {
    const uint32_t p = testenv::pattern_argb(x / 3, y / 3, 23);
    uint32_t rgb = p & 0xFFFFFFu;
    if ((p >> 24) % 3 == 0) rgb = 0xFFFFFFu;
    if ((p >> 24) % 3 == 1) rgb = 0;
    const uint32_t a = translucent ? (p >> 8 & 0xFF) | 0x20 : 255;
    uint32_t r = rgb >> 16 & 0xFF, g = rgb >> 8 & 0xFF, b = rgb & 0xFF;
    if (premultiplied) r = r * a / 255, g = g * a / 255, b = b * a / 255;
    return a << 24 | r << 16 | g << 8 | b;
  });
}

// A shrunk picture under a perspective stage that maps the surface onto
// itself must draw what it draws without the stage (within one level), over
// filters with and without negative lobes, opaque and translucent pictures,
// straight and pre-multiplied. Such a stage leaves the mapping affine, and
// the affine resampler draws it.
TEST_F(ImageTest, ShrunkUnderAnIdentityPerspectiveEqualsTheAffineResampler) {
  struct Picture {
    bool translucent, premultiplied;
  };
  const Picture pictures[] = {{false, false}, {true, true}, {true, false}};
  struct Place {
    double x1, y1, x2, y2;
  };
  const Place places[] = {{4, 4, 20, 20}, {3.25, 5.5, 28.75, 23}, {1, 2, 41, 30}};
  for (const uint8_t filter : {2, 5, 7, 10, 13})
    for (const Picture& p : pictures)
      for (const Place& at : places) {
        SCOPED_TRACE(testing::Message() << "filter " << int(filter) << " translucent " << p.translucent
                                        << " premultiplied " << p.premultiplied << " to " << at.x1 << "," << at.y1
                                        << " " << at.x2 << "," << at.y2);
        auto picture = hard_edged_picture(64, 60, p.translucent, p.premultiplied);
        auto draw = [&](bool perspective) {
          Bound b(cnBitmap32BGRA, 48, 36, 0xFF406080u);
          if (perspective) {
            const double quad[8] = {0, 0, 48, 0, 48, 36, 0, 36};
            b.r.AddPerspective(quad, 0, 0, 48, 36);
          }
          b.r.SetImageFilter(filter);
          b.r.DrawImage(picture.get(), p.premultiplied, at.x1, at.y1, at.x2, at.y2, nullptr);
          EXPECT_EQ(b.r.LastSpan(), eImageSpan::resample_affine);
          return b.Bytes();
        };
        const testenv::rByteDifference d = testenv::byte_difference(draw(true), draw(false));
        EXPECT_LE(d.worst, 1) << d.differing << " bytes differ";
      }
}

// A perspective stage that maps a rectangle onto itself (the status panel's
// swing at rest) draws what the picture draws without it, byte for byte,
// over surface sizes where AGG solves that rectangle with a projective part
// of rounding size, and with a rectangle of fractional edges; a stage that
// only moves and scales takes the affine resampler too.
TEST_F(ImageTest, APerspectiveStageThatLeavesThePictureFlatDrawsItAffinely) {
  auto opaque = hard_edged_picture(300, 230, false, false), translucent = hard_edged_picture(300, 230, true, true);
  int sizes = 0;
  for (int W = 8; W <= 200; W += 12)
    for (int H = 8; H <= 150; H += 9) {
      SCOPED_TRACE(testing::Message() << "surface " << W << "x" << H);
      const bool clear = (W + H) % 3 == 0;
      cBitmap* picture = clear ? translucent.get() : opaque.get();
      const double rects[2][4] = {{0, 0, double(W), double(H)}, {0.3, 0.7, W - 0.9, H - 0.1}};
      const double(&rect)[4] = rects[(W / 12 + H / 9) % 2];
      auto draw = [&](bool stage) {
        Bound b(cnBitmap32BGRA, W, H, 0xFF406080u);
        if (stage) {
          const double quad[8] = {rect[0], rect[1], rect[2], rect[1], rect[2], rect[3], rect[0], rect[3]};
          b.r.AddPerspective(quad, rect[0], rect[1], rect[2], rect[3]);
        }
        b.r.SetImageFilter(5);
        b.r.DrawImageRect(picture, 0, 0, 3 * W / 2 + 5, 3 * H / 2 + 3, 1.5, 0.75, W - 2.25, H - 1.5, clear, nullptr);
        EXPECT_EQ(b.r.LastSpan(), eImageSpan::resample_affine);
        return b.Bytes();
      };
      const testenv::rByteDifference d = testenv::byte_difference(draw(true), draw(false));
      EXPECT_EQ(d.worst, 0) << d.differing << " bytes differ";
      ++sizes;
    }
  EXPECT_GT(sizes, 250);
  // Moved and scaled by the stage: as the same move and scale draw it.
  auto picture = hard_edged_picture(120, 90, false, false);
  auto draw = [&](bool stage) {
    Bound b(cnBitmap32BGRA, 48, 36, 0xFF406080u);
    if (stage) {
      const double quad[8] = {3.25, 1.5, 39.25, 1.5, 39.25, 28.5, 3.25, 28.5};
      b.r.AddPerspective(quad, 0, 0, 48, 36);
    } else {
      b.r.Scale(0.75, 0.75);
      b.r.Translate(3.25, 1.5);
    }
    b.r.SetImageFilter(5);
    b.r.DrawImage(picture.get(), false, 2, 3, 45, 33, nullptr);
    EXPECT_EQ(b.r.LastSpan(), eImageSpan::resample_affine);
    return b.Bytes();
  };
  const testenv::rByteDifference d = testenv::byte_difference(draw(true), draw(false));
  EXPECT_LE(d.worst, 1) << d.differing << " bytes differ";
}

// Under a real perspective (the swing of the animated status panel) the
// resampled picture must be what raw AGG draws, built apart, with its
// resampler working in floating point (see image_reference.h): within a
// few levels (the reference rounds to bytes where the renderer cuts, and
// its mapping is solved apart). Filters with negative lobes push colours
// past their alpha at hard edges: those must be held, not wrap.
TEST_F(ImageTest, ShrunkUnderARealPerspectiveEqualsRawAggDrawnApart) {
  struct Filter {
    uint8_t kind;
    image_reference::eFilter reference;
  };
  const Filter filters[] = {{5, image_reference::eFilter::bicubic},
                            {2, image_reference::eFilter::hanning},
                            {7, image_reference::eFilter::spline16},
                            {10, image_reference::eFilter::lanczos3}};
  struct Quad {
    double q[8];
  };
  const Quad quads[] = {
      {{10, 6, 70, 14, 66, 70, 14, 74}},  // swung
      {{4, 4, 76, 4, 60, 60, 20, 60}},    // tilted back
      {{2, 12, 78, 2, 78, 78, 2, 68}},    // turned aside
  };
  constexpr int kSide = 80;
  for (const Filter& f : filters)
    for (const bool translucent : {false, true})
      for (const Quad& quad : quads) {
        SCOPED_TRACE(testing::Message() << "filter " << int(f.kind) << " translucent " << translucent << " quad "
                                        << quad.q[0] << "," << quad.q[1] << " " << quad.q[2] << "," << quad.q[3]);
        auto picture = hard_edged_picture(200, 180, translucent, true);
        Bound b(cnBitmap32BGRA, kSide, kSide, 0xFF406080u);
        b.r.AddPerspective(quad.q, 0, 0, kSide, kSide);
        b.r.SetImageFilter(f.kind);
        b.r.DrawImage(picture.get(), true, 0, 0, kSide, kSide, nullptr);
        EXPECT_EQ(b.r.LastSpan(), eImageSpan::resample_perspective);

        std::vector<uint8_t> rgba;
        for (int y = 0; y < picture->Height(); ++y)
          for (int x = 0; x < picture->Width(); ++x) {
            const uint32_t c = pixel_argb(*picture, x, y);
            rgba.insert(rgba.end(), {uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c), uint8_t(c >> 24)});
          }
        auto want = testenv::solid_bitmap(kSide, kSide, cnBitmap32BGRA, 0xFF406080u);
        image_reference::draw_perspective_resampled(rgba.data(), picture->Width(), picture->Height(), quad.q,
                                                    f.reference, want->Data(), kSide, kSide, want->Stride());
        const testenv::rByteDifference d = testenv::byte_difference(
            b.Bytes(), std::vector<uint8_t>(want->Data(), want->Data() + int64_t(want->Stride()) * kSide));
        EXPECT_LE(d.worst, 4) << d.differing << " bytes differ";
      }
}

// The fast perspective resampler and filter must draw what the general
// ones (AGG's resampler for a shrunk picture, its filter for one that is
// not, over the exact perspective interpolator) draw, byte for byte:
// filters of several widths, opaque and translucent pictures, straight and
// pre-multiplied, mild and strong perspectives, a picture reaching past the
// surface, a source rectangle inside the picture (its surround is
// transparent black) and a clip.
TEST_F(ImageTest, FastPerspectiveResamplerDrawsWhatTheGeneralOneDraws) {
  struct Quad {
    double q[8];
  };
  const Quad quads[] = {
      {{10, 6, 70, 14, 66, 70, 14, 74}},    // swung
      {{4, 4, 76, 4, 60, 60, 20, 60}},      // tilted back
      {{-30, 12, 78, -20, 95, 90, 2, 68}},  // reaching past every edge
      {{30, 30, 50, 31, 49, 52, 31, 50}},   // far away: the largest scales
  };
  struct Variant {
    bool translucent, premultiplied, sub_rect, clip;
    bool holes;  // transparent black squares wider than the filter
  };
  const Variant variants[] = {{false, false, false, false, false},
                              {true, true, false, false, false},
                              {true, false, true, false, false},
                              {false, true, false, true, false},
                              {true, true, false, false, true}};
  struct Size {
    int w, h;
    bool shrunk;
  };
  const Size sizes[] = {{170, 150, true}, {52, 44, false}};
  for (const Size& size : sizes)
    for (const uint8_t filter : {5, 2, 7, 10})
      for (const Variant& v : variants)
        for (const Quad& quad : quads) {
          // The 2x2 filter has its own generator; the tilted and far quads
          // shrink the small picture too.
          if (!size.shrunk && (filter == 2 || quad.q[0] == 4 || quad.q[0] == 30)) continue;
          SCOPED_TRACE(testing::Message()
                       << "filter " << int(filter) << " translucent " << v.translucent << " premultiplied "
                       << v.premultiplied << " sub rect " << v.sub_rect << " clip " << v.clip << " holes " << v.holes
                       << " quad " << quad.q[0] << "," << quad.q[1] << " picture " << size.w << "x" << size.h);
          auto picture = hard_edged_picture(size.w, size.h, v.translucent, v.premultiplied);
          if (v.holes)
            for (int y = 0; y < size.h; ++y)
              for (int x = 0; x < size.w; ++x)
                if ((x / 13 + y / 13) % 3 == 0) std::memset(picture->ScanLine(y) + x * 4, 0, 4);
          auto draw = [&](bool fast) {
            image_fast_perspective_enable(fast);
            Bound b(cnBitmap32BGRA, 80, 80, 0xFF406080u);
            b.r.AddPerspective(quad.q, 0, 0, 80, 80);
            b.r.SetImageFilter(filter);
            if (v.clip) b.r.ClipEllipse(40, 40, 30, 22);
            if (v.sub_rect)
              b.r.DrawImageRect(picture.get(), 3, 2, size.w - 7, size.h - 5, 0, 0, 80, 80, v.premultiplied, nullptr);
            else
              b.r.DrawImage(picture.get(), v.premultiplied, 0, 0, 80, 80, nullptr);
            EXPECT_EQ(b.r.LastSpan(), size.shrunk ? eImageSpan::resample_perspective : eImageSpan::filter_general);
            if (v.clip) b.r.ClipOff();
            image_fast_perspective_enable(true);
            return b.Bytes();
          };
          const std::vector<uint8_t> general = draw(false);
          const testenv::rByteDifference d = testenv::byte_difference(general, draw(true));
          EXPECT_EQ(d.worst, 0) << d.differing << " bytes differ";
          EXPECT_NE(general, Bound(cnBitmap32BGRA, 80, 80, 0xFF406080u).Bytes());  // the picture arrived
        }
}

// --- Targets ----------------------------------------------------------------------------

TEST_F(ImageTest, PremultipliedAndStraightBlendByTheirFormulas) {
  const uint32_t bg = 0xFF0A141Eu;  // (10, 20, 30)
  for (bool pre : {false, true}) {
    // Straight (200, 100, 50) at alpha 128; pre-multiplied, the same colour
    // carries (100, 50, 25).
    const uint32_t px = pre ? 0x80643219u : 0x80C86432u;
    auto source = testenv::solid_bitmap(1, 1, cnBitmap32RGBA, px);
    Bound b(cnBitmap32BGRA, 3, 3, bg);
    b.r.DrawImage(source.get(), pre, 1, 1, 2, 2, nullptr);
    const uint32_t got = pixel_argb(*b.bitmap, 1, 1);
    const double a = 128 / 255.0;
    const double want[3] = {pre ? 100 + 10 * (1 - a) : 10 + (200 - 10) * a,
                            pre ? 50 + 20 * (1 - a) : 20 + (100 - 20) * a,
                            pre ? 25 + 30 * (1 - a) : 30 + (50 - 30) * a};
    EXPECT_NEAR(double((got >> 16) & 0xFF), want[0], 1.0) << pre;
    EXPECT_NEAR(double((got >> 8) & 0xFF), want[1], 1.0) << pre;
    EXPECT_NEAR(double(got & 0xFF), want[2], 1.0) << pre;
    EXPECT_EQ(pixel_argb(*b.bitmap, 0, 0), bg);
  }
}

TEST_F(ImageTest, ClippingFilterLayerAndMasterAlpha) {
  auto source = opaque_pattern(16, 16);
  // Clipped to a rectangle: outside it the surface stays.
  Bound c;
  c.r.ClipRect(4, 4, 10, 10);
  c.r.DrawImage(source.get(), false, 0, 0, 16, 16, nullptr);
  c.r.ResetClipping(true);
  EXPECT_EQ(pixel_argb(*c.bitmap, 5, 5), pixel_argb(*source, 5, 5));
  EXPECT_EQ(pixel_argb(*c.bitmap, 2, 2), 0xFF102030u);
  EXPECT_EQ(pixel_argb(*c.bitmap, 12, 5), 0xFF102030u);
  // Through a filter layer that leaves its pixels alone: the same picture.
  // (Pixel-aligned and opaque: a layer is straight RGBA over transparent
  // black, so partly covered pixels would be blended twice.)
  Bound plain, layered;
  plain.r.DrawImage(source.get(), false, 3, 2, 19, 18, nullptr);
  int calls = 0;
  layered.r.SetFilterCallback([](cBitmap*, bool&, void* user) { ++*static_cast<int*>(user); }, 2, &calls);
  layered.r.FilterCallbackOn();
  layered.r.DrawImage(source.get(), false, 3, 2, 19, 18, nullptr);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(layered.Bytes(), plain.Bytes());
  // Master alpha 0 draws nothing.
  Bound none;
  const std::vector<uint8_t> before = none.Bytes();
  none.r.SetMasterAlpha(0);
  none.r.DrawImage(source.get(), false, 0, 0, 16, 16, nullptr);
  EXPECT_EQ(none.Bytes(), before);
}

TEST_F(ImageTest, TintAndInvertingRenderMode) {
  auto source = opaque_pattern(6, 6);
  // Fill render mode 4: inverted through an opaque white master colour.
  Bound inv;
  inv.r.SetMasterColor(renderer_color(255, 255, 255, 255));
  inv.r.SetFillRenderMode(4);
  inv.r.DrawImage(source.get(), false, 0, 0, 6, 6, nullptr);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 6; ++x)
      ASSERT_EQ(pixel_argb(*inv.bitmap, x, y), (pixel_argb(*source, x, y) ^ 0x00FFFFFFu)) << x << "," << y;
  // Multiply with a tint colour whose alpha halves the image.
  Bound tint(cnBitmap32BGRA, 6, 6, 0x00000000u);
  tint.r.SetImageTintOp(15);  // multiply
  tint.r.SetImageTintColor(renderer_color(255, 0, 255, 128));
  tint.r.DrawImage(source.get(), false, 0, 0, 6, 6, nullptr);
  const uint32_t got = pixel_argb(*tint.bitmap, 2, 3);
  EXPECT_EQ((got >> 8) & 0xFF, 0u);  // green multiplied by 0
  EXPECT_GT((got >> 16) & 0xFF, 0u);
}

TEST_F(ImageTest, PremultipliedThroughAClipEqualsTheUnclippedInside) {
  auto source = testenv::solid_bitmap(4, 4, cnBitmap32RGBA, 0x80643219u);
  Bound clipped, plain;
  clipped.r.ClipRect(0, 0, 6, 20);
  clipped.r.DrawImage(source.get(), true, 2, 2, 10, 10, nullptr);
  clipped.r.ResetClipping(true);
  plain.r.DrawImage(source.get(), true, 2, 2, 10, 10, nullptr);
  EXPECT_EQ(pixel_argb(*clipped.bitmap, 4, 5), pixel_argb(*plain.bitmap, 4, 5));
  EXPECT_NE(pixel_argb(*plain.bitmap, 8, 5), 0xFF102030u);
  EXPECT_EQ(pixel_argb(*clipped.bitmap, 8, 5), 0xFF102030u);
}

TEST_F(ImageTest, HostileMappingsEndPromptly) {
  auto source = opaque_pattern(16, 16);
  const double inf = std::numeric_limits<double>::infinity();
  cHitTest hit;
  {
    Bound b;
    b.r.DrawImageParallelogram(source.get(), 1e30, 0, -1e30, 5, 3, 1e30, false, &hit);
    b.r.DrawImage(source.get(), false, -inf, 0, 10, 10, &hit);
    b.r.DrawImageRect(source.get(), INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX, 0, 0, 20, 20, false, &hit);
  }
  {  // a twisted perspective quadrilateral and a near-degenerate one
    Bound b;
    const double twisted[8] = {0, 0, 24, 20, 24, 0, 0, 20};
    b.r.AddPerspective(twisted, 0, 0, 24, 20);
    b.r.SetImageFilter(9);
    b.r.DrawImage(source.get(), false, 0, 0, 24, 20, &hit);
    Bound c;
    const double thin[8] = {0, 0, 24, 0, 24, 1e-9, 0, 2e-9};
    c.r.AddPerspective(thin, 0, 0, 24, 20);
    c.r.DrawImage(source.get(), false, 0, 0, 24, 20, &hit);
  }
  {  // distortions far out of range
    Bound b;
    b.r.WaveOn();
    b.r.SwirlOn();
    b.r.SetDistortionAmplitude(1e-300);
    b.r.SetDistortionPeriod(1e-300);
    b.r.DrawImage(source.get(), false, 0, 0, 24, 20, &hit);
  }
  SUCCEED();
}

// --- Hit masks ----------------------------------------------------------------------------

TEST_F(ImageTest, HitMaskIsTheImageGreyAtItsAlpha) {
  struct Case {
    uint32_t argb;
    uint8_t want;
  } cases[] = {
      {0x00FFFFFFu, 0},    // transparent: not hittable
      {0xFFFFFFFFu, 255},  // opaque white
      {0xFF000000u, 0},    // opaque black: grey 0
      {0x80808080u, 64},   // grey (77 + 150 + 29) x 128 / 256 = 128 at alpha 128
      {0xFFFF0000u, 76},   // red: 77 x 255 / 256
  };
  for (bool aa : {true, false})
    for (const Case& c : cases) {
      auto source = testenv::solid_bitmap(4, 4, cnBitmap32BGRA, c.argb);
      Bound b;
      b.r.SetAntiAliasing(aa);
      cHitTest hit;
      b.r.DrawImage(source.get(), false, 4, 4, 12, 12, &hit);
      EXPECT_NEAR(hit.HitTest(8, 8), c.want, 1) << std::hex << c.argb << " aa " << aa;
      EXPECT_EQ(hit.HitTest(2, 2), 0);
    }
  // A zoomed image registers only what lies on the surface.
  auto white = testenv::solid_bitmap(4, 4, cnBitmap32BGRA, 0xFFFFFFFFu);
  Bound z;
  cHitTest hit;
  z.r.DrawImage(white.get(), false, -1e6, -1e6, 1e6, 1e6, &hit);
  EXPECT_EQ(hit.HitTest(10, 10), 255);
  EXPECT_LE(hit.MaskWidth(), 24);
  EXPECT_LE(hit.MaskHeight(), 20);
  // With clipping on, the registration is cut by the clip.
  Bound c;
  cHitTest clipped;
  c.r.ClipRect(0, 0, 8, 20);
  c.r.DrawImage(white.get(), false, 0, 0, 16, 16, &clipped);
  EXPECT_EQ(clipped.HitTest(4, 4), 255);
  EXPECT_EQ(clipped.HitTest(12, 4), 0);
}

// --- The bitmap cache ----------------------------------------------------------------------

TEST_F(ImageTest, UnchangedBitmapIsConvertedOnce) {
  auto source = opaque_pattern(8, 8);
  Bound b;
  b.r.DrawImage(source.get(), false, 0, 0, 8, 8, nullptr);
  b.r.DrawImage(source.get(), false, 8, 0, 16, 8, nullptr);
  EXPECT_EQ(b.r.Conversions(), 1);
  testenv::set_pixel_argb(*source, 0, 0, 0xFF00FF00u);
  source->Changed();
  b.r.DrawImage(source.get(), false, 0, 0, 8, 8, nullptr);
  EXPECT_EQ(b.r.Conversions(), 2);
  EXPECT_EQ(pixel_argb(*b.bitmap, 0, 0), 0xFF00FF00u);
  // Re-created in place: the counters are back at 0, the pixels are new.
  ASSERT_TRUE(source->Close());
  source->SetBackground(0xFFABCDEFu);
  ASSERT_TRUE(source->Create());
  b.r.DrawImage(source.get(), false, 0, 0, 8, 8, nullptr);
  EXPECT_EQ(b.r.Conversions(), 3);
  EXPECT_EQ(pixel_argb(*b.bitmap, 3, 3), 0xFFABCDEFu);
  // A format conversion keeps the counters but not the pixels' layout.
  ASSERT_TRUE(source->Convert(cnBitmap24RGB));
  b.r.DrawImage(source.get(), false, 8, 8, 16, 16, nullptr);
  EXPECT_EQ(b.r.Conversions(), 4);
  EXPECT_EQ(pixel_argb(*b.bitmap, 10, 10), 0xFFABCDEFu);
}

TEST_F(ImageTest, TheSurfaceBitmapDrawnOntoItselfShowsWhatWasPaintedSince) {
  // The surface's own bitmap counts its changes only when it is let go: a
  // second draw of it must still see what the renderer painted in between.
  Bound b(cnBitmap32BGRA, 20, 10, 0xFFFF0000u);
  b.r.PenOff();
  b.r.DrawImageRect(b.bitmap.get(), 0, 0, 10, 10, 10, 0, 20, 10, false, nullptr);
  b.r.SetFillColorARGB(0xFF0000FFu);
  b.r.DrawRectangle(nullptr, 0, 0, 10, 10);
  b.r.DrawImageRect(b.bitmap.get(), 0, 0, 10, 10, 10, 0, 20, 10, false, nullptr);
  EXPECT_EQ(pixel_argb(*b.bitmap, 15, 5), 0xFF0000FFu);
}

// --- Fill pattern from a scaled bitmap ---------------------------------------------------

TEST_F(ImageTest, ScaledPatternTileIsDrawnAsAnImage) {
  auto red = testenv::solid_bitmap(200, 100, cnBitmap24BGR, 0xFFC01020u);
  cRendererSurface r;
  r.SetFillPatternBitmap(red.get(), 0, 50);
  ASSERT_TRUE(r.IsFillPattern());
  EXPECT_EQ(r.GetFillPatternWidth(), 100);
  EXPECT_EQ(r.GetFillPatternHeight(), 50);
  auto fill = r.GetFill();
  ASSERT_NE(fill->tile, nullptr);
  // Stretched half a pixel beyond each edge: no transparent fringe.
  for (int y : {0, 25, 49})
    for (int x : {0, 50, 99}) {
      const uint8_t* p = fill->tile->row_ptr(y) + x * 4;
      EXPECT_EQ(color_rgba(p[0], p[1], p[2], p[3]), 0xFFC01020u) << x << "," << y;
    }
  // Enlarged: a 2 x 1 bitmap at 8 x 4 keeps its two halves (the surround
  // still shows at the edges when a tile pixel is smaller than a bitmap's).
  auto two =
      testenv::make_bitmap(2, 1, cnBitmap32RGBA, [](int32_t x, int32_t) { return x == 0 ? 0xFF0000FFu : 0xFFFF0000u; });
  r.SetFillPatternBitmap(two.get(), 8, 0);
  EXPECT_EQ(r.GetFillPatternHeight(), 4);
  fill = r.GetFill();
  const uint8_t* left = fill->tile->row_ptr(1);
  const uint8_t* right = fill->tile->row_ptr(1) + 7 * 4;
  EXPECT_GT(left[2], 150);  // blue
  EXPECT_EQ(left[0], 0);
  EXPECT_GT(right[0], 150);  // red
  EXPECT_EQ(right[2], 0);
  // A nil bitmap changes nothing.
  r.SetFillPatternBitmap(nullptr, 3, 3);
  EXPECT_EQ(r.GetFillPatternWidth(), 8);
}

TEST_F(ImageTest, ScaledPatternTileFailingToConvertLeavesThePattern) {
  // Any allocation of a new tile, scaled or at the bitmap's own size, fails
  // (the tile's buffer, the bitmap's conversion, the pattern's own memory):
  // the pattern is then the old one, never a transparent tile reported as
  // made, nor lost.
  auto red = testenv::solid_bitmap(20, 10, cnBitmap24BGR, 0xFFC01020u);
  auto blue = testenv::solid_bitmap(4, 4, cnBitmap32RGBA, 0xFF0000FFu);
  for (int32_t width : {10, 0})
    for (int k = 1; k <= 6; ++k) {
      cRendererSurface r;
      r.SetFillPatternBitmap(blue.get(), 0, 0);
      mem_alloc_fail_at(k);
      r.SetFillPatternBitmap(red.get(), width, 0);
      mem_alloc_fail_at(0);
      auto fill = r.GetFill();
      ASSERT_NE(fill->tile, nullptr) << k << " width " << width;
      const uint8_t* p = fill->tile->row_ptr(2) + 2 * 4;
      const uint32_t c = color_rgba(p[0], p[1], p[2], p[3]);
      EXPECT_TRUE(c == 0xFFC01020u || (c == 0xFF0000FFu && r.GetFillPatternWidth() == 4))
          << k << " width " << width << " " << std::hex << c;
    }
}

TEST_F(ImageTest, ScaledTileOfTheSurfaceBitmapShowsWhatWasPaintedSince) {
  Bound b(cnBitmap32BGRA, 20, 10, 0xFFFF0000u);
  b.r.PenOff();
  b.r.SetFillPatternBitmap(b.bitmap.get(), 10, 0);
  b.r.SetFillColorARGB(0xFF0000FFu);
  b.r.DrawRectangle(nullptr, 0, 0, 20, 10);
  b.r.SetFillPatternBitmap(b.bitmap.get(), 10, 0);
  auto fill = b.r.GetFill();
  ASSERT_NE(fill->tile, nullptr);
  const uint8_t* p = fill->tile->row_ptr(2) + 5 * 4;
  EXPECT_EQ(color_rgba(p[0], p[1], p[2], p[3]), 0xFF0000FFu);
}

// --- image_load -----------------------------------------------------------------------------

std::vector<uint8_t> encoded(cImage& codec, uint32_t argb) {
  class cOneFrame : public cImage {
   public:
    explicit cOneFrame(std::unique_ptr<cBitmap> b) : cImage(0, 0, 0) { AdoptCommonBitmap(b.release()); }
  } from(testenv::solid_bitmap(2, 2, cnBitmapNative, argb));
  auto flow = cMemoryFlow::Construct();
  EXPECT_TRUE(flow->Create());
  EXPECT_TRUE(codec.SaveFrom(flow.get(), &from)) << codec.LastErrorText();
  std::vector<uint8_t> out(size_t(flow->Size()));
  EXPECT_TRUE(flow->Seek(0) && flow->Read(out.data(), int32_t(out.size())));
  return out;
}

void write_bytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream f(path, std::ios::binary);
  f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

TEST_F(ImageTest, ImageLoadTable) {
  const std::string host = testenv::sandbox_dir("image_load");
  const std::string dir = testenv::win_of(host);
  cImagePNG png;
  cImageJPEG jpeg(cnJPEGDctIntSlow, 95);
  cImageJNG jng;
  const std::vector<uint8_t> png_bytes = encoded(png, 0xFF3366CCu);
  const std::vector<uint8_t> jpeg_bytes = encoded(jpeg, 0xFF808080u);
  const std::vector<uint8_t> jng_bytes = encoded(jng, 0xFF808080u);
  write_bytes(host + "/a.PNG", png_bytes);
  write_bytes(host + "/b.jpeg", jpeg_bytes);
  write_bytes(host + "/c.JpG", jpeg_bytes);
  write_bytes(host + "/d.jng", jng_bytes);
  write_bytes(host + "/e.gif", png_bytes);
  write_bytes(host + "/f.png", {0x89, 'P', 'N', 'G', 1, 2, 3});
  write_bytes(host + "/g.png", png_bytes);
  ASSERT_EQ(chmod((host + "/g.png").c_str(), 0444), 0);
  static const std::vector<uint8_t> registered = png_bytes;
  resource_register("embedded picture.png", registered.data(), int32_t(registered.size()));

  enum class Kind { none, png, jpeg, jng };
  struct Case {
    std::string name;
    Kind kind;
  } cases[] = {
      {dir + "\\a.PNG", Kind::png},          {dir + "\\b.jpeg", Kind::jpeg},
      {dir + "\\c.JpG", Kind::jpeg},         {dir + "\\d.jng", Kind::jng},
      {dir + "\\e.gif", Kind::none},         {dir + "\\f.png", Kind::none},        // corrupt
      {dir + "\\g.png", Kind::png},                                                // read-only
      {dir + "\\missing.png", Kind::none},   {"embedded picture.png", Kind::png},  // registered, no file
      {"EMBEDDED PICTURE.PNG  ", Kind::png}, {dir + "\\noextension", Kind::none},
  };
  for (const Case& c : cases) {
    std::unique_ptr<cImage> image = image_load(c.name);
    SCOPED_TRACE(c.name);
    if (c.kind == Kind::none) {
      EXPECT_EQ(image, nullptr);
      continue;
    }
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(dynamic_cast<cImageJNG*>(image.get()) != nullptr, c.kind == Kind::jng);
    EXPECT_EQ(dynamic_cast<cImagePNG*>(image.get()) != nullptr, c.kind == Kind::png || c.kind == Kind::jng);
    EXPECT_EQ(dynamic_cast<cImageJPEG*>(image.get()) != nullptr, c.kind == Kind::jpeg);
    cBitmap* bm = image->Bitmap(0);
    ASSERT_NE(bm, nullptr);
    EXPECT_EQ(bm->Width(), 2);
    const uint32_t px = pixel_argb(*bm, 1, 1);
    if (c.kind == Kind::png)
      EXPECT_EQ(px, 0xFF3366CCu);
    else
      EXPECT_NEAR(double(px & 0xFF), 128.0, 3.0);
  }
}

// A load that answers nil says why in the thread's load log; a host path
// ("/" in the name) is named as no Windows name.
TEST_F(ImageTest, FailedLoadsSayWhyInTheLoadLog) {
  const std::string host = testenv::sandbox_dir("load_log");
  const std::string dir = testenv::win_of(host);
  cImagePNG png;
  write_bytes(host + "/a.png", encoded(png, 0xFF3366CCu));
  write_bytes(host + "/bad.png", {0x89, 'P', 'N', 'G', 1, 2, 3});
  std::ofstream(host + "/a.svg") << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"5\" height=\"5\"/>";
  std::ofstream(host + "/bad.svg") << "<svg><rect";
  struct Case {
    std::string name;
    bool svg;
    int32_t code;
    const char* text;
  } cases[] = {
      {host + "/a.png", false, errPathNF, "not a Windows name"},
      {dir + "/a.png", false, errPathNF, "not a Windows name"},
      {host + "/a.svg", true, errPathNF, "not a Windows name"},
      {dir + "\\a.gif", false, errPreCondition, "no reader for the extension \".GIF\""},
      {dir + "\\a.png", true, errPreCondition, "no reader for the extension \".PNG\""},
      {dir + "\\missing.png", false, errFileNOpen, "neither a resource nor a readable file"},
      {dir + "\\missing.svg", true, errFileNOpen, "neither a resource nor a readable file"},
      {dir + "\\bad.png", false, errQLMCall, "image.Open"},
      {dir + "\\bad.svg", true, errQLMCall, "svg.Open"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const bool loaded = c.svg ? svg_load(c.name) != nullptr : image_load(c.name) != nullptr;
    EXPECT_FALSE(loaded);
    EXPECT_EQ(image_load_log().LastErrorCode(), c.code);
    EXPECT_NE(image_load_log().LastErrorText().find(c.text), std::string::npos) << image_load_log().LastErrorText();
  }
  // The Windows names of the same files load; the log keeps at most 64 rows.
  EXPECT_NE(image_load(dir + "\\a.png"), nullptr);
  EXPECT_NE(svg_load(dir + "\\a.svg"), nullptr);
  for (int i = 0; i < 70; ++i) image_load("none.gif");
  EXPECT_EQ(image_load_log().Log()->Count(), 64u);
}

}  // namespace
