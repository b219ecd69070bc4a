// libFuzzer target: stateful sequences over up to four images sharing
// bitmaps: Create, Resize (with fuzzed flags and placement), Bitmap of a
// frame, shallow and deep Clone into a free slot, Close and destruction, in
// any order. Use after free and double free show under ASan; every bitmap an
// open image answers must be open with its frame's size.
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "fuzz_limits.h"
#include "qlm_image.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  fuzz_imaging_start(argc, argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  rFuzzBytes in{data, size};
  std::unique_ptr<cImage> images[4];
  for (int step = 0; step < 32 && !in.Empty(); ++step) {
    const uint8_t op = in.Byte();
    std::unique_ptr<cImage>& slot = images[op & 3];
    switch ((op >> 2) % 7) {
      case 0: slot = std::make_unique<cImage>(in.Byte() % 65, in.Byte() % 65, in.U32()); break;
      case 1:
        if (slot) slot->Create();
        break;
      case 2:
        if (slot) {
          const uint16_t flags = in.U16();
          slot->Resize(1 + in.Byte() % 64, 1 + in.Byte() % 64, flags, int8_t(in.Byte()), int8_t(in.Byte()),
                       int8_t(in.Byte()), int8_t(in.Byte()));
        }
        break;
      case 3:
        if (slot) {
          cBitmap* b = slot->Bitmap(int32_t(in.Byte() % 4));
          if (b != nullptr) {
            if (!b->IsOpened() || b->Width() < 1 || b->Height() < 1) std::abort();
            // Write through it: a shared bitmap must be the image's own.
            b->SetPixel(0, 0, in.U32());
          }
        }
        break;
      case 4:
        if (slot) {
          std::unique_ptr<cImage>& target = images[(op >> 5) & 3];
          if (target.get() != slot.get()) {
            std::unique_ptr<cImage> made(slot->Clone((in.Byte() & 1) != 0));
            if (made != nullptr) target = std::move(made);
          }
        }
        break;
      case 5:
        if (slot) slot->Close();
        break;
      default: slot.reset(); break;
    }
    for (auto& image : images)
      if (image && image->IsOpened()) {
        cBitmap* b = image->Bitmap(0);
        if (b != nullptr && (!b->IsOpened() || b->Data() == nullptr)) std::abort();
      }
  }
  return 0;
}
