// libFuzzer target: cImageJPEG::Open on any bytes in a memory flow. This runs
// the flow source, the error bridge (every library error leaves by longjmp
// and becomes a logged 299), the capped message log and the scan guard. An
// image that opens has a bitmap of its header's size, and is written back
// through the flow destination when it is small. The log never grows past
// the cap plus the dropped-messages row and the failure.
#include <cstdint>
#include <cstdlib>

#include "fuzz_limits.h"
#include "qlm_base_array.h"
#include "qlm_base_flow.h"
#include "qlm_bitmap.h"
#include "qlm_jpeg.h"
#include "qlm_jpeg_lib.h"
#include "qlm_startup.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  // The shared limits (fuzz_limits.h): bitmaps capped at 64 MB.
  fuzz_imaging_start(argc, argv);
  qlm_jpeg_start();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  auto flow = cMemoryFlow::ConstructReadOnly(true, data, int64_t(size));
  if (!flow || !flow->Open()) return 0;
  cImageJPEG image;
  const bool ok = image.Open(flow.get());
  const cExceptionLog* log = image.Log();
  if (log != nullptr && log->Count() > uint32_t(cnJPEGMaxMessages + 2)) std::abort();
  if (!ok) return 0;
  cBitmap* bitmap = image.Bitmap(0);
  if (bitmap == nullptr || uint32_t(bitmap->Width()) != image.Width() || uint32_t(bitmap->Height()) != image.Height())
    std::abort();
  if (int64_t(bitmap->Width()) * bitmap->Height() <= 512 * 512) {
    auto out = cMemoryFlow::Construct();
    cImageJPEG writer;
    if (!out->Create() || !writer.SaveFrom(out.get(), &image)) std::abort();
  }
  return 0;
}
