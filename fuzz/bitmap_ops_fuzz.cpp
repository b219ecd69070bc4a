// libFuzzer target: short sequences of bitmap operations (Clone, Resize,
// CopyBitmap, Clear, Convert, ConvertTransparencyToAlpha, Map) on two
// bitmaps up to 64 x 64, with fuzzed flags, placements, rectangles and
// opacities. Operations may refuse their arguments; the sanitizers find
// writes outside the pixels, and after every step each open bitmap must
// still be consistent (its size within 64 x 64 x 4, stride x height
// within its data).
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "fuzz_limits.h"

namespace {

constexpr int32_t kKinds[] = {cnBitmap24RGB,  cnBitmap24BGR,  cnBitmap32RGBA,
                              cnBitmap32BGRA, cnBitmap32ARGB, cnBitmap32ABGR};

// A small signed value: placements and sizes around the bitmaps' edges.
int32_t small(rFuzzBytes& in) { return int32_t(int8_t(in.Byte())); }

void check(const cBitmap& b) {
  if (!b.IsOpened()) return;
  if (b.Width() < 1 || b.Height() < 1 || b.Width() > 255 || b.Height() > 255) std::abort();
  if (int64_t(b.Stride()) * b.Height() > b.DataSize()) std::abort();
  if (int64_t(b.Width()) * b.BytesPerPixel() > b.Stride()) std::abort();
}

void import_row(int32_t width, const uint8_t* row, float* values, void*) {
  for (int32_t i = 0; i < width; ++i)
    for (int c = 0; c < 4; ++c) values[i * 4 + c] = float(row[(i * 3 + c % 3)]) / 255.0f;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  fuzz_imaging_start(argc, argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  rFuzzBytes in{data, size};
  std::unique_ptr<cBitmap> bitmaps[2];
  for (auto& b : bitmaps) {
    b = std::make_unique<cBitmap>(1 + in.Byte() % 64, 1 + in.Byte() % 64, kKinds[in.Byte() % 6]);
    b->SetBackground(in.U32());
    if (!b->Create()) std::abort();
    if (in.Byte() & 1) b->SetTransparentColor(color_rgb(in.Byte(), in.Byte(), in.Byte()));
  }
  for (int step = 0; step < 16 && !in.Empty(); ++step) {
    const uint8_t op = in.Byte();
    cBitmap& a = *bitmaps[op & 1];
    cBitmap& b = *bitmaps[(op & 1) ^ 1];
    switch ((op >> 1) % 8) {
      case 0: {  // Clone into the other slot
        const uint16_t flags = in.U16();
        const int32_t w = in.Byte() % 65, h = in.Byte() % 65;
        auto made = a.Clone(w, h, flags, small(in), small(in), small(in), small(in));
        if (made != nullptr) {
          check(*made);
          if (made->Width() <= 64 && made->Height() <= 64) bitmaps[(op & 1) ^ 1] = std::move(made);
        }
        break;
      }
      case 1: {
        const uint16_t flags = in.U16();
        const int32_t w = 1 + in.Byte() % 64, h = 1 + in.Byte() % 64;
        a.Resize(w, h, flags, small(in), small(in), small(in), small(in));
        break;
      }
      case 2: {
        const int32_t x = small(in), y = small(in);
        const int32_t opacity = in.Byte() == 0 ? cnOpacityAlpha : int32_t(int16_t(in.U16()));
        a.CopyBitmap(&b, x, y, opacity, small(in), small(in), small(in), small(in));
        break;
      }
      case 3: {
        const uint32_t colour = in.U32();
        const int32_t opacity = in.Byte() == 0 ? cnOpacityAlpha : int32_t(int16_t(in.U16()));
        const rRect r = rRect::Construct(small(in), small(in), small(in), small(in));
        a.Clear(colour, opacity, (in.Byte() & 1) ? &r : nullptr, in.U16());
        break;
      }
      case 4: a.Convert(kKinds[in.Byte() % 6]); break;
      case 5: a.ConvertTransparencyToAlpha(in.Byte(), in.Byte(), in.U16()); break;
      case 6: {
        // Map on a closed bitmap: foreign rows of 24-bit RGB (or the same
        // format: then the rows are copied).
        a.Close();
        const int32_t w = 1 + in.Byte() % 64, h = 1 + in.Byte() % 64;
        const rPixelGeometry& g = pixel_geometry((in.Byte() & 1) ? px24RGB : a.PixelFormat());
        std::vector<uint8_t> rows(size_t(w) * size_t(h) * 4 + 64, uint8_t(op));
        if (!a.Map(rows.data(), nullptr, w, h, &g, &import_row)) a.Create();
        break;
      }
      default:
        if (a.IsOpened()) a.SetPixel(small(in) & 63, small(in) & 63, in.U32());
        break;
    }
    // The clone may have replaced the other slot's bitmap: check both slots.
    for (auto& slot : bitmaps) {
      check(*slot);
      if (!slot->IsOpened() && !slot->Create()) std::abort();
    }
  }
  return 0;
}
