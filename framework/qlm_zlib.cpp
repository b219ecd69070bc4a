#include "qlm_zlib.h"

#include <zlib.h>

#include <cstring>

#include "qlm_base_util.h"

bool zlib_decompress(const void* source, int32_t source_size, void*& result, int32_t& result_size, int64_t limit,
                     bool* over_limit) {
  if (over_limit != nullptr) *over_limit = false;
  if (result != nullptr) mem_free(result);
  result = nullptr;
  result_size = 0;
  if (source == nullptr || source_size < 0) return false;

  z_stream stream;
  std::memset(&stream, 0, sizeof stream);
  if (inflateInit(&stream) != Z_OK) return false;

  // The largest buffer: what mem_alloc accepts, or one byte past the limit,
  // so that a stream longer than the limit shows itself.
  const int64_t hard_limit = (int64_t(1) << 31) - 1;
  const bool limited = limit > 0 && limit < hard_limit;
  const int64_t most = limited ? limit + 1 : hard_limit;
  uint8_t* buffer = nullptr;
  int64_t capacity = 0;
  int64_t produced = 0;
  bool ok = false;
  stream.next_in = static_cast<Bytef*>(const_cast<void*>(source));
  stream.avail_in = uInt(source_size);

  for (;;) {
    if (stream.avail_out == 0) {
      // Grow geometrically: at least twice the compressed size, at least
      // double what is there, never past what mem_alloc accepts.
      int64_t wanted = produced * 2;
      if (wanted < produced + 2 * int64_t(source_size)) wanted = produced + 2 * int64_t(source_size);
      if (wanted < 64) wanted = 64;
      if (wanted > most) wanted = most;
      if (wanted <= produced) break;  // would exceed 2 GiB
      uint8_t* grown = nullptr;
      if (!mem_alloc(grown, wanted)) break;
      if (produced > 0) std::memcpy(grown, buffer, size_t(produced));
      mem_free(buffer);
      buffer = grown;
      capacity = wanted;
      stream.next_out = buffer + produced;
      stream.avail_out = uInt(capacity - produced);
    }
    const uInt in_before = stream.avail_in;
    const uInt out_before = stream.avail_out;
    const int rc = inflate(&stream, Z_NO_FLUSH);
    produced = int64_t(stream.total_out);
    if (limited && produced > limit) {
      if (over_limit != nullptr) *over_limit = true;
      break;
    }
    if (rc == Z_STREAM_END) {
      ok = true;
      break;
    }
    // Anything but progress is a failure: errors, a preset dictionary, or
    // input that ends before the stream does.
    if (rc != Z_OK && rc != Z_BUF_ERROR) break;
    const bool progressed = stream.avail_in != in_before || stream.avail_out != out_before;
    if (!progressed && stream.avail_out != 0) break;
  }
  inflateEnd(&stream);

  if (ok && produced > 0) {
    void* block = nullptr;
    if (mem_alloc(block, produced)) {
      std::memcpy(block, buffer, size_t(produced));
      result = block;
      result_size = int32_t(produced);
    } else {
      ok = false;
    }
  }
  mem_free(buffer);
  return ok;
}
