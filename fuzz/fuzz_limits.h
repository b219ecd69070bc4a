// The limits every imaging fuzz target runs under, in the fuzz build and in
// the CTest replays alike:
// - bitmaps are capped at 64 MB (a header may ask for 65,500 x 65,500
//   pixels; the cap refuses it with 203 before any allocation, which is not
//   a fault);
// - each input has cnFuzzSecondsPerInput seconds (libFuzzer's -timeout, which
//   tools/fuzz_imaging.sh passes; a longer input is a hang);
// - the JPEG coders' message cap (cnJPEGMaxMessages) stays as in the product.
#pragma once

#include <cstdint>

#include "qlm_bitmap.h"
#include "qlm_startup.h"

constexpr int64_t cnFuzzBitmapLimit = int64_t(64) << 20;
constexpr int32_t cnFuzzSecondsPerInput = 10;
// The largest input the image targets take.
constexpr size_t cnFuzzMaxInput = size_t(1) << 20;

inline void fuzz_imaging_start(int* argc, char*** argv) {
  framework_start(*argc, *argv);
  qlm_bitmap_start();
  bitmap_set_size_limit(cnFuzzBitmapLimit);
}

// A small reader over the fuzzer's bytes: each take answers the next byte
// (0 once the input is used up).
struct rFuzzBytes {
  const uint8_t* data;
  size_t size;
  size_t at = 0;
  uint8_t Byte() { return at < size ? data[at++] : 0; }
  uint16_t U16() { return uint16_t(Byte() << 8 | Byte()); }
  uint32_t U32() { return uint32_t(U16()) << 16 | U16(); }
  bool Empty() const { return at >= size; }
};
