// libFuzzer target: cImageJNG::Open over a memory flow holding the input
// after its first byte, which picks the options (skip signature, keep
// chunks, DCT method). This runs the chunk walk with its seeks, the JDAT
// source under the JPEG error bridge and the alpha rows. An image that opens
// is cloned; a small one is written back and must open again with the same
// size. Bitmaps are capped (fuzz_limits.h) so that huge headers end fast.
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "fuzz_limits.h"
#include "qlm_base_flow.h"
#include "qlm_bitmap.h"
#include "qlm_jng.h"
#include "qlm_jpeg_lib.h"
#include "qlm_startup.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  // The shared limits (fuzz_limits.h): bitmaps capped at 64 MB.
  fuzz_imaging_start(argc, argv);
  qlm_jng_start();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > (1u << 20)) return 0;
  const uint8_t options = data[0];
  auto flow = cMemoryFlow::ConstructReadOnly(true, data + 1, int64_t(size - 1));
  if (size > 1 && !flow->Open()) return 0;
  if (size == 1 && !flow->Create()) return 0;
  cImageJNG jng;
  jng.mSkipReadSignature = (options & 1) != 0;
  jng.mKeepChunks = (options & 2) != 0;
  jng.mDctMethod = uint8_t((options >> 2) % 3);
  const bool ok = jng.Open(flow.get());
  if (jng.mKeepChunks && jng.mChunks != nullptr && jng.JHDR != nullptr && jng.mChunks->IHDR != jng.JHDR->mAlphaIHDR)
    std::abort();
  if (!ok) return 0;
  std::unique_ptr<cImage> copy(jng.Clone((options & 32) != 0));
  cBitmap* bitmap = jng.Bitmap(0);
  if (bitmap == nullptr) return 0;  // a stream without colour and alpha data
  if (uint32_t(bitmap->Width()) != jng.Width() || uint32_t(bitmap->Height()) != jng.Height()) std::abort();
  if (int64_t(bitmap->Width()) * bitmap->Height() <= 256 * 256) {
    auto out = cMemoryFlow::Construct();
    cImageJNG writer;
    if (!out->Create() || !writer.SaveFrom(out.get(), &jng)) std::abort();
    if (!out->Seek(0)) std::abort();
    cImageJNG back;
    if (!back.Open(out.get()) || back.Bitmap(0) == nullptr || back.Bitmap(0)->Width() != bitmap->Width() ||
        back.Bitmap(0)->Height() != bitmap->Height() || back.Bitmap(0)->HasAlpha() != bitmap->HasAlpha())
      std::abort();
  }
  return 0;
}
