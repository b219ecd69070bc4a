// In-place filters over a bitmap with a channel order (the 24-bit and 32-bit
// byte-order formats): invert, keep one channel, darken, lighten and a blur
// of repeated split-blur passes.
//
// Common frame: a nil bitmap answers false and logs nothing; a bitmap that is
// closed or has no order logs 279 "{not bitmap_has_order}" in its own log.
// With a callback the per-row filters report 100 x y / height before row y,
// the blur 100 x i / n before pass i, and every filter reports 100 once more
// at the end; a false answer logs 297 with the filter's brace text and
// answers false (pixels already changed stay changed, the change counter
// does not move). Unless the flags hold cnFilterNoChange the bitmap's change
// counter goes up by one on success.
#pragma once

#include <cstdint>

#include "qlm_bitmap.h"
#include "qlm_progress.h"

constexpr uint8_t cnFilterNoChange = 4;

// v := 255 - v for red, green and blue; alpha kept.
bool bf_invert(cBitmap* bitmap, uint8_t flags, ProgressCallback progress);
// The kept channel := channel x factor rounded to nearest (ties to even), its
// low 8 bits; the other two colour channels := 0; alpha kept.
bool bf_keep_red(cBitmap* bitmap, uint8_t flags, ProgressCallback progress, double factor);
bool bf_keep_green(cBitmap* bitmap, uint8_t flags, ProgressCallback progress, double factor);
bool bf_keep_blue(cBitmap* bitmap, uint8_t flags, ProgressCallback progress, double factor);
// v := clamp(v - (v x amount) div 255, 0, 255), div truncating toward zero.
bool bf_darkness(cBitmap* bitmap, int32_t amount, uint8_t flags, ProgressCallback progress);
// v := table[v]: amount >= 0: clamp(i + ((255 - i) x amount) shr 8); below 0,
// a = -amount: clamp(i - (a x i) shr 8); unsigned 32-bit products, logical
// shift.
bool bf_lightness(cBitmap* bitmap, int32_t amount, uint8_t flags, ProgressCallback progress);
// Split-blur passes with distances 1..radius; alpha blurred too in formats
// with alpha.
bool bf_gaussian_blur(cBitmap* bitmap, int32_t radius, uint8_t flags, ProgressCallback progress);
// One pass, in place: every pixel, rows from the top and pixels from the
// left, becomes the average (sum shr 2) of its four diagonal neighbours at
// the distance, clamped into the bitmap, read as the bitmap holds them at
// that moment. Reports 100 x (y + 1) / height before row y. Raises on a
// cancelled report; no checks of its own (the bitmap is open and `order` is
// its order).
void bf_split_blur(const rChannelOrder& order, cBitmap* bitmap, int32_t distance, ProgressCallback progress);
