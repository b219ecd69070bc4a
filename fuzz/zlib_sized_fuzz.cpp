// libFuzzer target: zlib_decompress_sized against zlib_decompress. The
// first three bytes give the expected size (up to 16 MiB), the rest is the
// stream. The sized form succeeds exactly when the growing form, limited to
// one byte past the size, inflates the stream to that many bytes, and then
// both give the same bytes; a sound stream of another length is
// cnZlibLengthDiffers.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "qlm_base_util.h"
#include "qlm_startup.h"
#include "qlm_zlib.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  framework_start(*argc, *argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3 || size > (size_t(1) << 20)) return 0;
  const int32_t expected = int32_t(data[0]) << 16 | int32_t(data[1]) << 8 | int32_t(data[2]);
  const uint8_t* stream = data + 3;
  const int32_t stream_size = int32_t(size - 3);
  void* sized = nullptr;
  const int32_t rc = zlib_decompress_sized(stream, stream_size, expected, sized);
  void* grown = nullptr;
  int32_t grown_size = 0;
  bool over = false;
  const bool ok = zlib_decompress(stream, stream_size, grown, grown_size, int64_t(expected) + 1, &over);
  if (rc == cnZlibOk) {
    if (!ok || grown_size != expected || (expected > 0) != (sized != nullptr)) std::abort();
    if (expected > 0 && std::memcmp(sized, grown, size_t(expected)) != 0) std::abort();
  } else {
    if (sized != nullptr) std::abort();
    if (ok && grown_size == expected) std::abort();
    // A stream that inflates soundly to another length, or past the size.
    if (rc == cnZlibFailed && ((ok && grown_size != expected) || over)) std::abort();
  }
  mem_free(sized);
  mem_free(grown);
  return 0;
}
