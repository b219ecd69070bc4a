// The span-function tables of the surface pixel formats.
#include "qlm_agg_extensions.h"

#include <cstring>

#include "qlm_bitmap_formats.h"

namespace qlm_agg {

// The AGG orders must put each channel where the format's channel order says.
template <class Order>
constexpr bool order_matches(const rChannelOrder& o) {
  return Order::R == o.red && Order::G == o.green && Order::B == o.blue;
}
static_assert(order_matches<agg::order_rgb>(cnOrder24RGB) && order_matches<agg::order_bgr>(cnOrder24BGR));
static_assert(order_matches<agg::order_rgba>(cnOrder32RGBA) && agg::order_rgba::A == cnOrder32RGBA.alpha);
static_assert(order_matches<agg::order_bgra>(cnOrder32BGRA) && agg::order_bgra::A == cnOrder32BGRA.alpha);
static_assert(order_matches<agg::order_argb>(cnOrder32ARGB) && agg::order_argb::A == cnOrder32ARGB.alpha);
static_assert(order_matches<agg::order_abgr>(cnOrder32ABGR) && agg::order_abgr::A == cnOrder32ABGR.alpha);

namespace {

template <class Straight, class Pre, class Custom>
const target_ops* pick(target_kind kind) {
  switch (kind) {
    case target_kind::straight: return &target_ops_of<Straight>::ops;
    case target_kind::premultiplied: return &target_ops_of<Pre>::ops;
    case target_kind::custom_blend:
      if constexpr (std::is_void_v<Custom>)
        return nullptr;
      else
        return &target_ops_of<Custom>::ops;
  }
  return nullptr;
}

}  // namespace

const target_ops* target_ops_for(uint8_t code, target_kind kind) {
  switch (code) {
    case px24RGB: return pick<agg::pixfmt_rgb24, agg::pixfmt_rgb24_pre, void>(kind);
    case px24BGR: return pick<agg::pixfmt_bgr24, agg::pixfmt_bgr24_pre, void>(kind);
    case px32RGBA: return pick<agg::pixfmt_rgba32, agg::pixfmt_rgba32_pre, pixfmt_cb_rgba>(kind);
    case px32BGRA: return pick<agg::pixfmt_bgra32, agg::pixfmt_bgra32_pre, pixfmt_cb_bgra>(kind);
    case px32ARGB: return pick<agg::pixfmt_argb32, agg::pixfmt_argb32_pre, pixfmt_cb_argb>(kind);
    case px32ABGR: return pick<agg::pixfmt_abgr32, agg::pixfmt_abgr32_pre, pixfmt_cb_abgr>(kind);
    default: return nullptr;
  }
}

void clear_whole(any_rgba_target& target, const agg::rgba8& c) {
  const unsigned width = target.width(), height = target.height();
  if (width == 0 || height == 0) return;
  const size_t pix = target.pix_width();
  const size_t row_bytes = size_t(width) * pix;
  int8u* first = target.row_ptr(0);
  target.copy_hline(0, 0, 1, c);
  bool uniform = true;
  for (size_t i = 1; i < pix; ++i) uniform = uniform && first[i] == first[0];
  if (uniform) {
    const int8u v = first[0];
    for (unsigned y = 0; y < height; ++y) std::memset(target.row_ptr(int(y)), v, row_bytes);
    return;
  }
  // Doubling copies: the filled part of the row is copied after itself.
  for (size_t done = pix; done < row_bytes;) {
    const size_t n = done < row_bytes - done ? done : row_bytes - done;
    std::memcpy(first + done, first, n);
    done += n;
  }
  for (unsigned y = 1; y < height; ++y) std::memcpy(target.row_ptr(int(y)), first, row_bytes);
}

}  // namespace qlm_agg
