// The one routine through which the system inflates a complete zlib stream
// held in memory.
#pragma once

#include <cstdint>

// Inflates the zlib-format stream (with its two-byte header) at `source`.
// On true, `result` is a new block from mem_alloc of exactly `result_size`
// bytes (release it with mem_free); a stream that inflates to nothing gives
// true with a nil result and size 0. On false (bad arguments, a damaged,
// truncated or dictionary-bound stream, trailing inflation beyond 2 GiB, or
// memory failure) the result is nil and the size 0. A block already held in
// `result` on entry is released. Nothing is logged and nothing raises.
//
// `limit` above 0 caps the inflated size: a stream that would inflate to more
// than `limit` bytes answers false after producing at most limit + 1 bytes,
// with `*over_limit` (when given) set to true; it is false after every other
// outcome. Callers that inflate untrusted data pass the size they accept.
bool zlib_decompress(const void* source, int32_t source_size, void*& result, int32_t& result_size,
                     int64_t limit = 0, bool* over_limit = nullptr);
