// libFuzzer target: PNG streams that libpng accepts as 8-bit RGB or RGBA
// (not interlaced, no gAMA, bKGD, tRNS, sRGB, iCCP or cHRM chunk, so that
// neither reader applies a colour transformation) must decode to the same
// pixels in libpng (simplified API, RGBA output) and in cImagePNG (no
// blending). Inputs only one reader accepts are not compared: our reader
// checks every CRC and refuses data after the image's rows end early,
// where libpng may only warn.
#include <png.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "fuzz_limits.h"
#include "qlm_base_flow.h"
#include "qlm_png.h"

namespace {

// True for a stream of signature and chunks whose IHDR says 8-bit RGB or
// RGBA without interlace and that holds none of the chunks that change
// colours.
bool plain_8bit_rgb(const uint8_t* data, size_t size) {
  if (size < 8 + 25 || std::memcmp(data, cnPNG_Signature, 8) != 0) return false;
  size_t p = 8;
  bool first = true;
  while (p + 12 <= size) {
    const uint32_t n = png_get_u32(data + p);
    const std::string_view type(reinterpret_cast<const char*>(data + p + 4), 4);
    if (first) {
      if (type != "IHDR" || n != 13 || p + 8 + 13 > size) return false;
      const uint8_t* h = data + p + 8;
      if (h[8] != 8 || (h[9] != 2 && h[9] != 6) || h[12] != 0) return false;
      first = false;
    }
    if (type == "gAMA" || type == "bKGD" || type == "tRNS" || type == "sRGB" || type == "iCCP" || type == "cHRM")
      return false;
    // libpng sizes its chunk buffer from the length field before reading
    // (a 146-byte stream with an sPLT length of 1.9 GB took 2.2 GB of
    // memory): the reference decoder only gets streams whose chunks fit.
    if (n > size - p - 12) return false;
    p += 12 + size_t(n);
  }
  // A chunk header cut by the end counts as passing it too.
  return !first && p == size;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  fuzz_imaging_start(argc, argv);
  qlm_png_start();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > cnFuzzMaxInput || !plain_8bit_rgb(data, size)) return 0;
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, data, size)) return 0;
  if (int64_t(image.width) * image.height > (int64_t(4) << 20)) {
    png_image_free(&image);
    return 0;
  }
  image.format = PNG_FORMAT_RGBA;
  std::vector<uint8_t> theirs(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, theirs.data(), 0, nullptr)) {
    png_image_free(&image);
    return 0;
  }
  auto flow = cMemoryFlow::ConstructReadOnly(true, data, int64_t(size));
  if (!flow->Open()) return 0;
  cImagePNG png;
  png.mBlendOnBackground = false;
  if (!png.Open(flow.get())) return 0;
  const cBitmap* b = png.Bitmap(0);
  if (b == nullptr || uint32_t(b->Width()) != image.width || uint32_t(b->Height()) != image.height) std::abort();
  const rChannelOrder& o = *b->Order();
  for (uint32_t y = 0; y < image.height; ++y)
    for (uint32_t x = 0; x < image.width; ++x) {
      const uint8_t* p = b->Data() + int64_t(y) * b->Stride() + int64_t(x) * b->BytesPerPixel();
      const uint8_t* q = theirs.data() + (size_t(y) * image.width + x) * 4;
      const uint8_t alpha = b->HasAlpha() ? p[o.alpha] : 255;
      if (p[o.red] != q[0] || p[o.green] != q[1] || p[o.blue] != q[2] || alpha != q[3]) std::abort();
    }
  return 0;
}
