// libFuzzer target: cImagePNG::Open over a memory flow holding the input
// after its first byte, which picks the options (skip signature, keep
// chunks, blend, fallbacks). On success the image is also cloned and its
// bitmap read. Bitmaps are capped (fuzz_limits.h) so that huge headers end fast.
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "fuzz_limits.h"
#include "qlm_base_flow.h"
#include "qlm_bitmap.h"
#include "qlm_png.h"
#include "qlm_startup.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  // The shared limits (fuzz_limits.h): bitmaps capped at 64 MB.
  fuzz_imaging_start(argc, argv);
  qlm_png_start();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > (4u << 20)) return 0;
  const uint8_t options = data[0];
  auto flow = cMemoryFlow::ConstructReadOnly(true, data + 1, int64_t(size - 1));
  if (size > 1 && !flow->Open()) return 0;
  if (size == 1 && !flow->Create()) return 0;
  cImagePNG png;
  png.mSkipReadSignature = (options & 1) != 0;
  png.mKeepChunks = (options & 2) != 0;
  png.mBlendOnBackground = (options & 4) != 0;
  // Fallback palette and transparency from a chunk object of our own.
  cPNG_PLTE fallback_plte(nullptr, rPNG_ChunkHeader{});
  cPNG_tRNS fallback_trns(nullptr, rPNG_ChunkHeader{});
  fallback_plte.count = 4;
  fallback_trns.alpha_count = 2;
  if (options & 8) png.mFallbackPLTE = &fallback_plte;
  if (options & 16) png.mFallbackTRNS = &fallback_trns;
  if (png.Open(flow.get())) {
    std::unique_ptr<cImage> copy(png.Clone((options & 32) != 0));
    cBitmap* bitmap = png.Bitmap(0);
    if (png.IsOpened() && bitmap == nullptr) std::abort();
    if (bitmap != nullptr && bitmap->ColorsCount() < 1) std::abort();
    if (copy != nullptr && copy->IsOpened() && copy->Bitmap(0) == nullptr) std::abort();
  }
  return 0;
}
