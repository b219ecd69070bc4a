// AGG's bilinear image filter over a clipping accessor with a transparent
// surround, in two passes, for a picture drawn by a plain scale and move:
// there a target column reads the same two source columns with the same
// weight on every row, and a target row the same two source rows.
//
// AGG's sum for one channel, 32768 + sum of w p with the weights
// (256 - fx or fx) x (256 - fy or fy), is (256 - fy) h0 + fy h1 + 32768
// with h0 = (256 - fx) p00 + fx p01 and h1 likewise one row down: whole
// numbers throughout, so the split is exact. The first pass filters one
// source row across every target column (h, kept as h - 32768 in 16 bits);
// each filtered row serves every target row that reads it (four rows at a
// 2x enlargement: two as the upper, two as the lower). The second pass
// blends two filtered rows into one target row: ((256 - fy) h0 + fy h1 +
// 32768) >> 16 per channel, AGG's result byte for byte.
#pragma once

#include <cstdint>
#include <vector>

namespace qlm_agg {

// The columns of one span: per target column, the byte offset of the left
// source pixel and the weights (256 - fx, fx) as two 16-bit numbers,
// repeated for the four channels.
class bilinear_columns {
 public:
  // `x_hr`: per target column the source x in 1/256 pixel, less half a
  // pixel (AGG's x_hr); `source_width` the width of the source in pixels.
  void assign(const int* x_hr, unsigned count, int source_width);
  unsigned size() const { return mCount; }

 private:
  friend void bilinear_filter_row(const uint8_t*, const bilinear_columns&, bool, int16_t*);
  // A stretch of columns whose two source pixels both lie inside the
  // picture (inside) or not (read through the surround). `pairs`: each
  // column's pixels lie two to the right of the previous column's (a
  // picture drawn at half its width), so that neighbouring columns are read
  // by one load.
  struct run {
    unsigned begin, end;
    bool inside;
    bool pairs;
  };
  unsigned mCount = 0;
  int mWidth = 0;
  std::vector<int32_t> mX;       // per column: the left source pixel (may lie outside)
  std::vector<int32_t> mWeight;  // per column, four times: (fx << 16) | (256 - fx)
  std::vector<run> mRuns;
};

// The first pass for the RGBA source row `row` (its `source_width` pixels;
// null for a row outside the picture, all surround): 4 x count numbers,
// h - 32768 per channel, in the order R, G, B, A or, with `swap_rb`,
// B, G, R, A.
void bilinear_filter_row(const uint8_t* row, const bilinear_columns& columns, bool swap_rb, int16_t* out);

// The second pass: count pixels (4 bytes each, in the order of the filtered
// rows) blended from the filtered rows h0 and h1 with the row fraction fy
// (0 to 255).
void bilinear_blend_rows(const int16_t* h0, const int16_t* h1, unsigned fy, unsigned count, uint8_t* out);

// Copies pixels (4 bytes each, alpha last) from `pixels` to `row`, from
// index begin on, four at a time while all four are opaque and their covers
// full; returns the index where it stopped: a group of four that is not, or
// fewer than four pixels before `end`.
unsigned store_opaque_groups(uint8_t* row, const uint8_t* pixels, const uint8_t* covers, unsigned begin, unsigned end);

// Which kernels run: the widest the processor has (false), or the SSE2 ones
// every x86-64 processor has (true), so that tests can compare both.
void bilinear_rows_baseline_only(bool on);

}  // namespace qlm_agg
