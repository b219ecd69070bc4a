// Rectangles on the device axes as boxes of rows (see qlm_axis_box.h).
#include "qlm_axis_box.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <limits>

#include "qlm_mask_blend.h"

namespace {
std::atomic<bool> g_box_path{true};
std::atomic<bool> g_rectangle_route{true};
}  // namespace

void rectangle_route_enable(bool on) { g_rectangle_route.store(on); }
bool rectangle_route_enabled() { return g_rectangle_route.load(std::memory_order_relaxed); }

void axis_box_path_enable(bool on) { g_box_path.store(on); }
bool axis_box_path_enabled() { return g_box_path.load(std::memory_order_relaxed); }

bool box_rows::build(const rAxisBox& b, const double* clip, const qlm_agg::rasterizer& ras) {
  auto sub = [](double v, double lo, double hi) {
    return agg::iround(std::min(std::max(v, lo), hi) * double(agg::poly_subpixel_scale));
  };
  const int x1 = sub(b.x1, clip[0], clip[2]), x2 = sub(b.x2, clip[0], clip[2]);
  const int y1 = sub(b.y1, clip[1], clip[3]), y2 = sub(b.y2, clip[1], clip[3]);
  if (x1 >= x2 || y1 >= y2) return false;
  constexpr int shift = agg::poly_subpixel_shift, one = agg::poly_subpixel_scale;
  const int left = x1 >> shift, right = x2 >> shift;
  const int fl = x1 & agg::poly_subpixel_mask, fr = x2 & agg::poly_subpixel_mask;
  const int sign = b.down ? 1 : -1;
  min_x = left;
  max_x = right;
  const unsigned width = unsigned(right - left + 1);
  if (covers.size() < size_t(width) * 3) covers.resize(size_t(width) * 3);
  // The rasteriser's alpha of (cover << 9) - area.
  auto alpha = [&ras](int v) {
    int c = v >> (shift * 2 + 1 - qlm_agg::rasterizer::aa_shift);
    if (c < 0) c = -c;
    if (c > int(qlm_agg::rasterizer::aa_mask)) c = int(qlm_agg::rasterizer::aa_mask);
    return agg::int8u(ras.apply_gamma(unsigned(c)));
  };
  auto add_set = [&](int r1, int r2, int cy) {
    row_set& set = sets[set_count];
    set.y1 = r1;
    set.y2 = r2;
    set.count = 0;
    const unsigned base = set_count * width;
    ++set_count;
    int last = std::numeric_limits<int>::min();
    auto add = [&](int x, unsigned len, agg::int8u a) {
      if (a == 0) return;
      std::memset(covers.data() + base + unsigned(x - left), a, len);
      if (set.count > 0 && x == last + 1) {
        span& s = set.spans[set.count - 1];
        s.len += len;
        s.full = s.full && a == agg::cover_full;
      } else {
        set.spans[set.count++] = span{x, len, base + unsigned(x - left), a == agg::cover_full};
      }
      last = x + int(len) - 1;
    };
    const int v = sign * cy;
    if (left == right) {
      add(left, 1, alpha(v * 2 * (fr - fl)));
      return;
    }
    int x = left;
    if (fl != 0) {  // the left side's cell
      add(left, 1, alpha(v * 2 * one - v * 2 * fl));
      x = left + 1;
    }
    if (right > x) add(x, unsigned(right - x), alpha(v * 2 * one));
    if (fr != 0) add(right, 1, alpha(v * 2 * fr));  // the right side's cell
  };
  const int r1 = y1 >> shift, r2 = (y2 - 1) >> shift;
  auto rows_of = [&](int r) { return std::min(y2, (r + 1) * one) - std::max(y1, r * one); };
  add_set(r1, r1, rows_of(r1));
  if (r2 > r1 + 1) add_set(r1 + 1, r2 - 1, one);
  if (r2 > r1) add_set(r2, r2, rows_of(r2));
  return true;
}

void paint_box_solid_bgra(const box_rows& rows, agg::rendering_buffer& rbuf, int cx1, int cy1, int cx2, int cy2,
                          const agg::rgba8& colour) {
  if (colour.a == 0) return;  // AGG leaves the pixels of a transparent colour alone
  const qlm_agg::solid_bgra c{colour.b, colour.g, colour.r, colour.a};
  for (unsigned k = 0; k < rows.set_count; ++k) {
    const box_rows::row_set& set = rows.sets[k];
    const int y1 = std::max(set.y1, cy1), y2 = std::min(set.y2, cy2);
    if (y1 > y2) continue;
    for (unsigned i = 0; i < set.count; ++i) {
      const box_rows::span& s = set.spans[i];
      const int x1 = std::max(s.x, cx1), x2 = std::min(s.x + int(s.len) - 1, cx2);
      if (x1 > x2) continue;
      uint8_t* const p = rbuf.row_ptr(y1) + ptrdiff_t(x1) * 4;
      const size_t n = size_t(x2 - x1 + 1), count = size_t(y2 - y1 + 1);
      if (s.full)
        qlm_agg::fill_solid_bgra_rows(p, rbuf.stride(), n, count, c);
      else
        qlm_agg::blend_solid_bgra_rows(p, rbuf.stride(), rows.covers.data() + s.at + unsigned(x1 - s.x), 0, n, count,
                                       c);
    }
  }
}
