#include "qlm_encoding_blocks.h"

#include <algorithm>

namespace {
constexpr int32_t kOutOfRange = -3;
}

const rCodePointBlock* codepoint_block(int32_t code_point) {
  const rCodePointBlock* end = gCodePointBlocks + cnCodePointBlockCount;
  const rCodePointBlock* b = std::lower_bound(gCodePointBlocks, end, code_point,
                                              [](const rCodePointBlock& r, int32_t c) { return r.last < c; });
  return b != end && b->first <= code_point ? b : nullptr;
}

int32_t codepoint_next(int32_t code_point) {
  const rCodePointBlock* b = codepoint_block(code_point);
  if (b == nullptr) return kOutOfRange;
  if (code_point < b->last) return code_point + 1;
  return b + 1 < gCodePointBlocks + cnCodePointBlockCount ? b[1].first : kOutOfRange;
}

int32_t codepoint_prev(int32_t code_point) {
  const rCodePointBlock* b = codepoint_block(code_point);
  if (b == nullptr) return kOutOfRange;
  if (code_point > b->first) return code_point - 1;
  return b > gCodePointBlocks ? b[-1].last : kOutOfRange;
}

int32_t codepoint_count() {
  int32_t total = 0;
  for (const auto& b : gCodePointBlocks) total += b.last - b.first + 1;
  return total;
}
