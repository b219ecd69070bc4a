#include "qlm_zlib.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "qlm_base_util.h"

namespace {

// An inflate stream that ends itself.
struct cInflater {
  z_stream stream{};
  bool ready = false;
  cInflater(const void* source, int32_t source_size) {
    std::memset(&stream, 0, sizeof stream);
    ready = inflateInit(&stream) == Z_OK;
    stream.next_in = static_cast<Bytef*>(const_cast<void*>(source));
    stream.avail_in = uInt(source_size);
  }
  ~cInflater() {
    if (ready) inflateEnd(&stream);
  }
  cInflater(const cInflater&) = delete;
  cInflater& operator=(const cInflater&) = delete;

  // Inflates into the free room set in next_out/avail_out until the stream
  // ends (1), the room is full (0) or the stream fails (-1): an error, a
  // preset dictionary, or input that ends before the stream does.
  int Fill() {
    for (;;) {
      const uInt in_before = stream.avail_in;
      const uInt out_before = stream.avail_out;
      const int rc = inflate(&stream, Z_NO_FLUSH);
      if (rc == Z_STREAM_END) return 1;
      if (rc != Z_OK && rc != Z_BUF_ERROR) return -1;
      if (stream.avail_out == 0) return 0;
      if (stream.avail_in == in_before && stream.avail_out == out_before) return -1;
    }
  }

  // With the room full: true when the stream ends without another byte.
  bool EndsHere() {
    uint8_t probe = 0;
    stream.next_out = &probe;
    stream.avail_out = 1;
    return Fill() == 1 && stream.avail_out == 1;
  }
};

}  // namespace

bool zlib_decompress(const void* source, int32_t source_size, void*& result, int32_t& result_size, int64_t limit,
                     bool* over_limit) {
  if (over_limit != nullptr) *over_limit = false;
  if (result != nullptr) mem_free(result);
  result = nullptr;
  result_size = 0;
  if (source == nullptr || source_size < 0 || limit < 0) return false;
  if (limit > cnZlibNoLimit) limit = cnZlibNoLimit;
  cInflater z(source, source_size);
  if (!z.ready) return false;

  void* buffer = nullptr;
  int64_t capacity = 0;
  bool ok = false;
  for (;;) {
    const int64_t produced = int64_t(z.stream.total_out);
    if (capacity == produced) {
      if (capacity == limit) {
        // Full at the limit: the stream must end right here; one more byte
        // means it is longer than the caller accepts.
        ok = z.EndsHere();
        if (!ok && z.stream.avail_out == 0 && over_limit != nullptr) *over_limit = true;
        break;
      }
      // Grow in place: at least four times the compressed size to begin
      // with, doubling up to 1 MiB, then by half (at least 1 MiB) so that a
      // large block is at most a third empty; never past the limit.
      const int64_t mib = int64_t(1) << 20;
      int64_t wanted = capacity == 0    ? std::max<int64_t>(int64_t(source_size) * 4, 4096)
                       : capacity < mib ? capacity * 2
                                        : capacity + std::max(mib, capacity / 2);
      if (wanted > limit) wanted = limit;
      if (!mem_realloc(buffer, wanted)) break;
      capacity = wanted;
      z.stream.next_out = static_cast<Bytef*>(buffer) + produced;
      z.stream.avail_out = uInt(capacity - produced);
    }
    const int rc = z.Fill();
    if (rc < 0) break;
    if (rc == 1) {
      ok = true;
      break;
    }
  }
  const int64_t produced = int64_t(z.stream.total_out);
  if (ok && produced > 0) {
    // Shrinking never moves more than the allocator must.
    if (produced < capacity && !mem_realloc(buffer, produced)) ok = false;
    if (ok) {
      result = buffer;
      result_size = int32_t(produced);
      return true;
    }
  }
  mem_free(buffer);
  return ok;
}

int32_t zlib_decompress_sized(const void* source, int32_t source_size, int32_t expected_size, void*& result) {
  if (result != nullptr) mem_free(result);
  result = nullptr;
  if (source == nullptr || source_size < 0 || expected_size < 0) return cnZlibFailed;
  cInflater z(source, source_size);
  if (!z.ready) return cnZlibFailed;
  void* buffer = nullptr;
  if (expected_size > 0 && !mem_alloc(buffer, expected_size)) return cnZlibFailed;
  z.stream.next_out = static_cast<Bytef*>(buffer);
  z.stream.avail_out = uInt(expected_size);
  int32_t answer = cnZlibOk;
  const int rc = expected_size == 0 ? 0 : z.Fill();
  if (rc < 0) {
    answer = cnZlibFailed;
  } else if (rc == 1) {
    if (z.stream.avail_out != 0) answer = cnZlibLengthDiffers;  // ended early
  } else {
    // Full: the stream must end without another byte.
    uint8_t probe = 0;
    z.stream.next_out = &probe;
    z.stream.avail_out = 1;
    const int end = z.Fill();
    answer = end < 0 ? cnZlibFailed : (end == 1 && z.stream.avail_out == 1) ? cnZlibOk : cnZlibLengthDiffers;
  }
  if (answer != cnZlibOk) {
    mem_free(buffer);
    return answer;
  }
  result = buffer;
  return cnZlibOk;
}
