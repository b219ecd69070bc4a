// libFuzzer target: a bitmap built from the input (format, size up to
// 64 x 64, pixels, key colour, mNoFilter, deflate level) is written by
// cImagePNG::SaveFrom and opened again; the pixels must come back equal.
// A 24-bit bitmap with a key colour comes back with alpha: 0 where the pixel
// is the key colour, 255 elsewhere.
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "fuzz_limits.h"
#include "qlm_base_flow.h"
#include "qlm_png.h"

namespace {

class cBitmapImage : public cImage {
 public:
  explicit cBitmapImage(cBitmap* b) : cImage(0, 0, 0) { AdoptCommonBitmap(b); }
};

struct rPixel {
  uint8_t r, g, b, a;
};

rPixel pixel_at(const cBitmap& b, int32_t x, int32_t y) {
  const rChannelOrder& o = *b.Order();
  const uint8_t* p = b.Data() + int64_t(y) * b.Stride() + int64_t(x) * b.BytesPerPixel();
  return {p[o.red], p[o.green], p[o.blue], b.HasAlpha() ? p[o.alpha] : uint8_t(255)};
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  fuzz_imaging_start(argc, argv);
  qlm_png_start();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > cnFuzzMaxInput) return 0;
  rFuzzBytes in{data, size};
  static constexpr int32_t kKinds[] = {cnBitmap24RGB,  cnBitmap24BGR,  cnBitmap32RGBA,
                                       cnBitmap32BGRA, cnBitmap32ARGB, cnBitmap32ABGR};
  const int32_t kind = kKinds[in.Byte() % 6];
  const int32_t w = 1 + in.Byte() % 64, h = 1 + in.Byte() % 64;
  const uint8_t options = in.Byte();
  const uint32_t key = color_rgb(in.Byte(), in.Byte(), in.Byte());
  auto* bitmap = new cBitmap(w, h, kind);
  cBitmapImage from(bitmap);
  if (!bitmap->Create()) std::abort();
  const rChannelOrder& o = *bitmap->Order();
  // Pixels from the rest of the input, repeated; option bit 4 copies the key
  // colour into every third pixel so that it occurs.
  const size_t rest = in.at;
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      uint8_t* p = bitmap->Data() + int64_t(y) * bitmap->Stride() + int64_t(x) * bitmap->BytesPerPixel();
      auto next = [&]() -> uint8_t {
        return size > rest ? data[rest + (in.at++ - rest) % (size - rest)] : uint8_t(x ^ y);
      };
      p[o.red] = next();
      p[o.green] = next();
      p[o.blue] = next();
      if (bitmap->HasAlpha()) p[o.alpha] = next();
      if ((options & 16) && (x + y * w) % 3 == 0) {
        p[o.red] = uint8_t(key >> 16);
        p[o.green] = uint8_t(key >> 8);
        p[o.blue] = uint8_t(key);
      }
    }
  const bool keyed = (options & 1) != 0;
  if (keyed) bitmap->SetTransparentColor(key);
  cImagePNG writer;
  writer.mNoFilter = (options & 2) != 0;
  writer.mDeflateLevel = (options >> 5) % 10;
  auto flow = cMemoryFlow::Construct();
  if (!flow->Create() || !writer.SaveFrom(flow.get(), &from)) std::abort();
  if (!flow->Seek(0)) std::abort();
  cImagePNG reader;
  reader.mBlendOnBackground = false;
  if (!reader.Open(flow.get())) std::abort();
  const cBitmap* back = reader.Bitmap(0);
  if (back == nullptr || back->Width() != w || back->Height() != h) std::abort();
  const bool key_to_alpha = keyed && !bitmap->HasAlpha();
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      const rPixel a = pixel_at(*bitmap, x, y), b = pixel_at(*back, x, y);
      const bool is_key = color_rgb(a.r, a.g, a.b) == key;
      if (key_to_alpha) {
        if (b.a != (is_key ? 0 : 255)) std::abort();
        if (is_key) continue;
      } else if (a.a != b.a) {
        std::abort();
      }
      if (a.r != b.r || a.g != b.g || a.b != b.b) std::abort();
    }
  return 0;
}
