#include "qlm_bitmap_filters.h"

#include <algorithm>
#include <cmath>

namespace {

// The common frame of every filter: checks, the work, the final report and
// the change count, all logged in the bitmap.
template <typename F>
bool run_filter(cBitmap* bitmap, uint8_t flags, ProgressCallback progress, const char* text, F&& work,
                std::source_location loc = std::source_location::current()) {
  if (bitmap == nullptr) return false;
  return log_and_fail(
      bitmap, false,
      [&] {
        rChannelOrder order;
        if (!bitmap_has_order(bitmap, order)) raise_condition_error(errPreCondition, "{not bitmap_has_order}");
        work(order);
        progress_report(progress, bitmap, 100.0, text);
        if ((flags & cnFilterNoChange) == 0) bitmap->Changed();
        return true;
      },
      loc);
}

// Runs `pixel` (a pointer to one pixel) over every pixel, rows from the top,
// with a report before each row.
template <typename F>
void for_each_row(cBitmap* bitmap, ProgressCallback progress, const char* text, F&& pixel) {
  const int32_t bpp = bitmap->BytesPerPixel();
  const int32_t height = bitmap->Height();
  for (int32_t y = 0; y < height; ++y) {
    progress_report_part(progress, bitmap, y, height, text);
    uint8_t* p = bitmap->Data() + int64_t(y) * bitmap->Stride();
    for (int32_t x = 0; x < bitmap->Width(); ++x, p += bpp) pixel(p);
  }
}

// The low 8 bits of v rounded to nearest, ties to even; 0 for a value that is
// not finite. Never converts outside the integer range.
uint8_t round_low8(double v) {
  if (!std::isfinite(v)) return 0;
  double r = std::fmod(std::nearbyint(v), 256.0);
  if (r < 0) r += 256.0;
  return uint8_t(int32_t(r));
}

uint8_t clamp_byte(int64_t v) { return uint8_t(std::clamp<int64_t>(v, 0, 255)); }

enum class Keep { Red, Green, Blue };

bool keep_channel(cBitmap* bitmap, uint8_t flags, ProgressCallback progress, double factor, Keep keep,
                  const char* text) {
  return run_filter(bitmap, flags, progress, text, [&](const rChannelOrder& o) {
    for_each_row(bitmap, progress, text, [&](uint8_t* p) {
      const uint8_t r = p[o.red], g = p[o.green], b = p[o.blue];
      p[o.red] = keep == Keep::Red ? round_low8(r * factor) : 0;
      p[o.green] = keep == Keep::Green ? round_low8(g * factor) : 0;
      p[o.blue] = keep == Keep::Blue ? round_low8(b * factor) : 0;
    });
  });
}

}  // namespace

bool bf_invert(cBitmap* bitmap, uint8_t flags, ProgressCallback progress) {
  const char* text = "{bf_invert}";
  return run_filter(bitmap, flags, progress, text, [&](const rChannelOrder& o) {
    for_each_row(bitmap, progress, text, [&](uint8_t* p) {
      p[o.red] = uint8_t(255 - p[o.red]);
      p[o.green] = uint8_t(255 - p[o.green]);
      p[o.blue] = uint8_t(255 - p[o.blue]);
    });
  });
}

bool bf_keep_red(cBitmap* bitmap, uint8_t flags, ProgressCallback progress, double factor) {
  return keep_channel(bitmap, flags, progress, factor, Keep::Red, "{bf_keep_red}");
}
bool bf_keep_green(cBitmap* bitmap, uint8_t flags, ProgressCallback progress, double factor) {
  return keep_channel(bitmap, flags, progress, factor, Keep::Green, "{bf_keep_green}");
}
bool bf_keep_blue(cBitmap* bitmap, uint8_t flags, ProgressCallback progress, double factor) {
  return keep_channel(bitmap, flags, progress, factor, Keep::Blue, "{bf_keep_blue}");
}

bool bf_darkness(cBitmap* bitmap, int32_t amount, uint8_t flags, ProgressCallback progress) {
  const char* text = "{bf_darkness}";
  return run_filter(bitmap, flags, progress, text, [&](const rChannelOrder& o) {
    // 64-bit products: v x amount cannot overflow; / truncates toward zero.
    auto dark = [amount](uint8_t v) { return clamp_byte(v - int64_t(v) * amount / 255); };
    for_each_row(bitmap, progress, text, [&](uint8_t* p) {
      p[o.red] = dark(p[o.red]);
      p[o.green] = dark(p[o.green]);
      p[o.blue] = dark(p[o.blue]);
    });
  });
}

bool bf_lightness(cBitmap* bitmap, int32_t amount, uint8_t flags, ProgressCallback progress) {
  const char* text = "{bf_lightness}";
  return run_filter(bitmap, flags, progress, text, [&](const rChannelOrder& o) {
    // Unsigned 32-bit products with a logical shift: they wrap, never
    // overflow, whatever the amount (the negation of INT32_MIN included).
    uint8_t table[256];
    if (amount >= 0) {
      const uint32_t a = uint32_t(amount);
      for (uint32_t i = 0; i < 256; ++i) table[i] = clamp_byte(int64_t(i) + int64_t(((255 - i) * a) >> 8));
    } else {
      const uint32_t a = 0u - uint32_t(amount);
      for (uint32_t i = 0; i < 256; ++i) table[i] = clamp_byte(int64_t(i) - int64_t((a * i) >> 8));
    }
    for_each_row(bitmap, progress, text, [&](uint8_t* p) {
      p[o.red] = table[p[o.red]];
      p[o.green] = table[p[o.green]];
      p[o.blue] = table[p[o.blue]];
    });
  });
}

void bf_split_blur(const rChannelOrder& o, cBitmap* bitmap, int32_t distance, ProgressCallback progress) {
  const int64_t w = bitmap->Width(), h = bitmap->Height(), d = distance;
  const int64_t bpp = bitmap->BytesPerPixel();
  const int64_t stride = bitmap->Stride();
  const bool alpha = bitmap->HasAlpha();
  uint8_t* data = bitmap->Data();
  auto at = [&](int64_t x, int64_t y) { return data + y * stride + x * bpp; };
  for (int64_t y = 0; y < h; ++y) {
    progress_report_part(progress, bitmap, double(y + 1), double(h), "{bf_split_blur}");
    const int64_t ya = std::clamp<int64_t>(y - d, 0, h - 1), yb = std::clamp<int64_t>(y + d, 0, h - 1);
    for (int64_t x = 0; x < w; ++x) {
      const int64_t xl = std::clamp<int64_t>(x - d, 0, w - 1), xr = std::clamp<int64_t>(x + d, 0, w - 1);
      // Read as the bitmap holds them now: earlier pixels of this pass
      // already carry their new values.
      const uint8_t* s1 = at(xr, yb);
      const uint8_t* s2 = at(xr, ya);
      const uint8_t* s3 = at(xl, yb);
      const uint8_t* s4 = at(xl, ya);
      uint8_t* p = at(x, y);
      auto avg = [&](uint8_t c) { p[c] = uint8_t((uint32_t(s1[c]) + s2[c] + s3[c] + s4[c]) >> 2); };
      avg(o.red);
      avg(o.green);
      avg(o.blue);
      if (alpha) avg(o.alpha);
    }
  }
}

bool bf_gaussian_blur(cBitmap* bitmap, int32_t radius, uint8_t flags, ProgressCallback progress) {
  const char* text = "{bf_gaussian_blur}";
  return run_filter(bitmap, flags, progress, text, [&](const rChannelOrder& o) {
    for (int32_t i = 1; i <= radius; ++i) {
      progress_report_part(progress, bitmap, i, radius, text);
      bf_split_blur(o, bitmap, i, nullptr);
    }
  });
}
