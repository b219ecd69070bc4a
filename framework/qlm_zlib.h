// The one routine through which the system inflates a complete zlib stream
// held in memory, in two forms: growing into a block of unknown size, and
// straight into a block of a size known in advance.
#pragma once

#include <cstdint>

// No output limit beyond what mem_alloc accepts (below 2 GiB).
inline constexpr int64_t cnZlibNoLimit = int64_t(INT32_MAX);

// Inflates the zlib-format stream (with its two-byte header) at `source`.
// On true, `result` is a block from mem_alloc of exactly `result_size` bytes
// (release it with mem_free); a stream that inflates to nothing gives true
// with a nil result and size 0. The block grows in place (mem_realloc) and
// is shrunk to the size at the end, never copied. On false (bad arguments,
// a damaged, truncated or dictionary-bound stream, more than `limit` bytes
// of output, or memory failure) the result is nil and the size 0; inflation
// stops as soon as the output passes the limit, and `*over_limit` (when
// given) tells that case apart from every other failure. A block already
// held in `result` on entry is released. Nothing is logged and nothing raises.
bool zlib_decompress(const void* source, int32_t source_size, void*& result, int32_t& result_size,
                     int64_t limit = cnZlibNoLimit, bool* over_limit = nullptr);

// Answers of zlib_decompress_sized.
inline constexpr int32_t cnZlibOk = 0;
inline constexpr int32_t cnZlibFailed = 1;         // bad arguments, a damaged stream, no memory
inline constexpr int32_t cnZlibLengthDiffers = 2;  // a sound stream of another length

// Inflates the stream straight into a new block of exactly `expected_size`
// bytes (nil for 0). cnZlibOk only when the stream ends having produced
// exactly that many bytes; a stream that would produce more stops at the
// first byte past the size (cnZlibLengthDiffers, as for one that ends
// early). On any other answer the result is nil. A block already held in
// `result` on entry is released. Nothing is logged and nothing raises.
int32_t zlib_decompress_sized(const void* source, int32_t source_size, int32_t expected_size, void*& result);
