// The table of code-point blocks over which cEncoding's code-point space is
// defined: ascending, non-overlapping ranges, each with an upper-case name.
// Code points outside every block (the surrogates among them) are outside the
// space.
#pragma once

#include <cstdint>

struct rCodePointBlock {
  int32_t first;
  int32_t last;
  const char* name;
};

constexpr int32_t cnCodePointBlockCount = 177;
extern const rCodePointBlock gCodePointBlocks[cnCodePointBlockCount];

// The block holding the code point, or nil.
const rCodePointBlock* codepoint_block(int32_t code_point);
// The following / preceding code point of the space; -3 outside the space
// or past either end.
int32_t codepoint_next(int32_t code_point);
int32_t codepoint_prev(int32_t code_point);
// The number of code points in the space.
int32_t codepoint_count();
