// Text drawing: the text engine behind DrawText and the path-text
// operations, and the bounds of path text. Every glyph is drawn as a
// primitive of its own through RenderPath, so fills, pens, gradients,
// shadows, clipping and hit tests apply to text as to any shape.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

#include <agg_conv_transform.h>
#include <agg_trans_double_path.h>
#include <agg_trans_single_path.h>

#include "qlm_mask_blend.h"
#include "qlm_renderer_engine.h"
#include "qlm_renderer_text.h"

using qlm_text::rGlyphStep;

namespace {

// Coordinates beyond this are refused before AGG works on them (as drawing
// does).
constexpr double kAbsurdCoordinate = 1099511627776.0;  // 2^40
bool usable(double v) { return std::isfinite(v) && std::fabs(v) <= kAbsurdCoordinate; }

// Curves of path text are flattened at these scales before they are cut
// into short segments and bent along the path(s).
constexpr double kOnePathCurveScale = 2.0;
constexpr double kTwoPathsCurveScale = 5.0;
constexpr double kSegmentScale = 3.0;

// Text space (x along the path, y across it) onto one path or between two.
struct text_path_map {
  agg::trans_single_path single;
  agg::trans_double_path twin;
  bool two = false;
  double curve_scale = kOnePathCurveScale;
  double length = 0;  // the path's length in text units (the base length when set)
  // Without x-scale preservation AGG picks the path segment by x times an
  // index factor and reads the vertex after it, one past the last vertex
  // for a point at the very end of the path. Points that close to the end
  // are pulled back a billionth of the length, onto the last segment.
  bool guard_end = false;
  double end = 0;  // where that happens, in text units
  void transform(double* x, double* y) const {
    if (guard_end && std::fabs(*x - end) <= end * 1e-9) *x = end * (1 - 1e-9);
    if (two)
      twin.transform(x, y);
    else
      single.transform(x, y);
  }
};

// Whether AGG's path mappings can work on the path: every control point
// usable, and the flattened points, joined in order as the mappings join
// them, make at least two distinct points and a length of 1e-9 or more (the
// mappings read past their vertices on a path of one point).
bool path_fit_for_text(agg::path_storage& path, double curve_scale) {
  for (unsigned i = 0; i < path.total_vertices(); ++i) {
    double x, y;
    if (agg::is_vertex(path.vertex(i, &x, &y)) && (!usable(x) || !usable(y))) return false;
  }
  agg::conv_curve<agg::path_storage> curve(path);
  curve.approximation_scale(curve_scale);
  curve.rewind(0);
  double x, y, px = 0, py = 0, length = 0;
  int64_t distinct = 0;
  unsigned cmd;
  while (!agg::is_stop(cmd = curve.vertex(&x, &y))) {
    if (!agg::is_vertex(cmd)) continue;
    if (distinct > 0) {
      const double d = std::hypot(x - px, y - py);
      if (d <= agg::vertex_dist_epsilon) continue;
      length += d;
    }
    ++distinct;
    px = x;
    py = y;
  }
  return distinct >= 2 && length >= 1e-9;
}

// Prepares the mapping over path1 (and path2); false when a path cannot be
// mapped along, and then nothing is drawn.
bool build_path_map(text_path_map& map, agg::path_storage& path1, agg::path_storage* path2, bool base_length_set,
                    double base_length, bool preserve_x_scale, double base_height) {
  map.two = path2 != nullptr;
  map.curve_scale = map.two ? kTwoPathsCurveScale : kOnePathCurveScale;
  if (!path_fit_for_text(path1, map.curve_scale)) return false;
  if (map.two && !path_fit_for_text(*path2, map.curve_scale)) return false;
  agg::conv_curve<agg::path_storage> curve1(path1);
  curve1.approximation_scale(map.curve_scale);
  if (map.two) {
    agg::conv_curve<agg::path_storage> curve2(*path2);
    curve2.approximation_scale(map.curve_scale);
    map.twin.preserve_x_scale(preserve_x_scale);
    map.twin.base_height(base_height);
    if (base_length_set) map.twin.base_length(base_length);
    map.twin.add_paths(curve1, curve2);
    map.length = map.twin.total_length1();
  } else {
    map.single.preserve_x_scale(preserve_x_scale);
    if (base_length_set) map.single.base_length(base_length);
    map.single.add_path(curve1);
    map.length = map.single.total_length();
  }
  // AGG scales x only by a base length above 1e-10 (its length getters take
  // one of 1e-10 already).
  map.guard_end = !preserve_x_scale;
  if (base_length_set && base_length > 1e-10) {
    map.end = base_length;
  } else if (map.two) {
    const double saved = map.twin.base_length();
    map.twin.base_length(0);
    map.end = map.twin.total_length1();
    map.twin.base_length(saved);
  } else {
    const double saved = map.single.base_length();
    map.single.base_length(0);
    map.end = map.single.total_length();
    map.single.base_length(saved);
  }
  return true;
}

// Appends a text-space outline bent along the mapping: curves flattened,
// cut into short segments, each point mapped.
template <class Source>
void append_mapped(agg::path_storage& out, Source& source, const text_path_map& map) {
  agg::conv_curve<Source> curve(source);
  curve.approximation_scale(map.curve_scale);
  agg::conv_segmentator<agg::conv_curve<Source>> segments(curve);
  segments.approximation_scale(kSegmentScale);
  agg::conv_transform<agg::conv_segmentator<agg::conv_curve<Source>>, const text_path_map> mapped(segments, map);
  out.concat_path(mapped);
}

// The lines of an underline or strike-out: their offsets from the baseline
// (down positive for an ordinary font), one or two.
struct rLineOffsets {
  double at[2] = {0, 0};
  int count = 0;
};

// kind 1: one line at n below the baseline, n = descent x position / 100;
// kind 2: two lines at i -+ n, i = descent / 2, n = i x position / 100.
// (Position 0 puts them at the baseline, or both at i.) A flipped font's
// offsets change sign.
rLineOffsets underline_offsets(const cFont& font, uint8_t kind, uint8_t position) {
  rLineOffsets o;
  const double descent = font.GetDescent();
  const double k = position != 0 ? 100.0 / position : 0;
  if (kind == 1) {
    o.at[0] = position != 0 ? descent / k : 0;
    o.count = 1;
  } else if (kind == 2) {
    const double i = descent / 2;
    const double n = position != 0 ? i / k : 0;
    o.at[0] = i - n;
    o.at[1] = i + n;
    o.count = 2;
  }
  if (font.IsFlipped())
    for (double& v : o.at) v = -v;
  return o;
}

// kind 1: one line at m above the baseline, m = height / k - descent with
// k = 100 / position; kind 2: two lines at i -+ m, i = -(height / 2 -
// descent), m = i / k. A flipped font's offsets change sign.
rLineOffsets strike_out_offsets(const cFont& font, uint8_t kind, uint8_t position) {
  rLineOffsets o;
  const double descent = font.GetDescent(), height = font.GetHeight();
  const double k = position != 0 ? 100.0 / position : 0;
  if (kind == 1) {
    o.at[0] = -(position != 0 ? height / k - descent : 0);
    o.count = 1;
  } else if (kind == 2) {
    const double i = -(height / 2 - descent);
    const double m = position != 0 ? i / k : 0;
    o.at[0] = i - m;
    o.at[1] = i + m;
    o.count = 2;
  }
  if (font.IsFlipped())
    for (double& v : o.at) v = -v;
  return o;
}

using rPieces = std::vector<std::pair<double, double>>;

// The lines at the offsets over the pieces (pen x from, to) into `out`, in
// text space or page space, then bent along the path or turned.
void build_lines(agg::path_storage& out, const rLineOffsets& offsets, const rPieces& pieces, double baseline,
                 const text_path_map* map, const agg::trans_affine* turn) {
  out.remove_all();
  agg::path_storage lines;
  agg::path_storage& target = map != nullptr ? lines : out;
  for (int i = 0; i < offsets.count; ++i)
    for (const auto& [a, b] : pieces) {
      target.move_to(a, baseline + offsets.at[i]);
      target.line_to(b, baseline + offsets.at[i]);
    }
  if (map != nullptr)
    append_mapped(out, lines, *map);
  else if (turn != nullptr)
    out.transform_all_paths(*turn);
}

}  // namespace

// --- The engine -------------------------------------------------------------------

void cRendererSurface::FillSolidOnly(agg::path_storage& path, const agg::rgba8& colour) {
  if (colour.a == 0 || path.total_vertices() == 0) return;
  mPosition.reset();
  if (mMaster.pixel_snap)
    for (unsigned i = 0; i < path.total_vertices(); ++i) {
      double x, y;
      if (!agg::is_vertex(path.vertex(i, &x, &y))) continue;
      mSnap.transform(&x, &y);
      path.modify_vertex(i, x, y);
    }
  rTransformChain chain = Chain(true);
  agg::conv_transform<agg::path_storage, rTransformChain> source(path, chain);
  source.rewind(0);
  double x, y;
  unsigned cmd;
  while (!agg::is_stop(cmd = source.vertex(&x, &y)))
    if (agg::is_vertex(cmd) && (!usable(x) || !usable(y))) return;
  // Painted as RenderSolid paints a fill outside a filter layer.
  ++mPaintCount;
  mRasterReusable = false;
  qlm_agg::renderer_any& base = BeginDraw();
  mRas.reset();
  mRas.add_path(source);
  if (mMaster.anti_aliasing)
    agg::render_scanlines_aa_solid(mRas, mScanline, base, colour);
  else
    agg::render_scanlines_bin_solid(mRas, mScanlineBin, base, colour);
  EndDraw();
}

// --- Kept glyph coverage -------------------------------------------------------------

namespace {
// The kept coverage of all fonts together; beyond it everything is dropped
// and kept again as drawn.
constexpr size_t kGlyphCoverageBytes = size_t(8) << 20;
// Fonts (signature, fill rule, curve approximation) kept at most; beyond
// that all are dropped at the start of a run.
constexpr size_t kGlyphCoverageFaces = 64;
// A glyph whose box holds more pixels than this is never kept: it is
// rasterised clipped to what can show each time it is drawn, so that its
// cost follows the surface and not its size.
constexpr int64_t kKeptGlyphPixels = int64_t(256) * 256;

uint64_t double_bits(double v) {
  uint64_t b;
  std::memcpy(&b, &v, 8);
  return b;
}
}  // namespace

// The kept coverage, per font (its signature, the fill rule and the curve
// approximation). A glyph's coverage at one sub-pixel phase of its origin
// (exact: a phase is one rasterisation) is a box of covers about the
// origin's whole pixel, found by glyph index and phase in a flat
// open-addressing table; the rasteriser's gamma is the plain one.
struct cRendererSurface::rGlyphCoverage {
  // One glyph at one phase: the phase (as bits), the glyph index and where
  // its mask starts in `covers`. A slot is small so that the table of a
  // page of text stays in the cache.
  struct Slot {
    uint64_t fx = 0, fy = 0;
    uint32_t glyph = 0;  // the glyph index + 1; 0: a free slot
    uint32_t at = 0;
  };
  // A mask: this header, then h rows of `stride` covers (w rounded up to 4,
  // the rest zero). The box's top-left is from the origin's whole pixel.
  struct Mask {
    int32_t x = 0, y = 0;
    uint32_t w = 0, h = 0;
    uint32_t Stride() const { return (w + 3) & ~3u; }
  };
  struct Face {
    std::vector<Slot> slots;  // a power of two long, at most three quarters used
    size_t count = 0;
    std::vector<uint8_t> covers;  // masks, each at a multiple of 4
    size_t Bytes() const { return slots.capacity() * sizeof(Slot) + covers.capacity(); }
  };
  std::unordered_map<std::string, Face> faces;
  std::string name;                                              // scratch: the key of the run's face
  size_t bytes = 0;                                              // of every face together, as of the last count
  agg::rasterizer_scanline_aa<agg::rasterizer_sl_clip_dbl> ras;  // glyphs sit about the origin
  agg::scanline_u8 sl;

  // Every bit of the key reaches the low bits the table uses (a phase's
  // low mantissa bits are mostly zero): a multiply and fold per word, then
  // a final mix.
  static size_t Hash(uint32_t glyph, uint64_t fx, uint64_t fy) {
    auto fold = [](uint64_t h, uint64_t v) {
      h = (h ^ v) * 0x9E3779B97F4A7C15ull;
      return h ^ (h >> 32);
    };
    uint64_t h = fold(fold(fold(0x243F6A8885A308D3ull, glyph), fx), fy);
    h ^= h >> 33;
    h *= 0xFF51AFD7ED558CCDull;
    h ^= h >> 33;
    return size_t(h);
  }
  static const Slot* Find(const Face& f, uint32_t glyph, uint64_t fx, uint64_t fy) {
    if (f.slots.empty()) return nullptr;
    const size_t mask = f.slots.size() - 1;
    for (size_t i = Hash(glyph, fx, fy) & mask;; i = (i + 1) & mask) {
      const Slot& s = f.slots[i];
      if (s.glyph == 0) return nullptr;
      if (s.glyph == glyph + 1 && s.fx == fx && s.fy == fy) return &s;
    }
  }
  // Keeps a slot for a glyph that Find did not find.
  static const Slot& Add(Face& f, uint32_t glyph, uint64_t fx, uint64_t fy, uint32_t at) {
    if (4 * (f.count + 1) > 3 * f.slots.size()) {
      std::vector<Slot> old = std::move(f.slots);
      f.slots.assign(std::max<size_t>(64, old.size() * 2), Slot{});
      for (const Slot& s : old)
        if (s.glyph != 0) Free(f, s.glyph - 1, s.fx, s.fy) = s;
    }
    ++f.count;
    Slot& s = Free(f, glyph, fx, fy);
    s.fx = fx;
    s.fy = fy;
    s.glyph = glyph + 1;
    s.at = at;
    return s;
  }
  static Slot& Free(Face& f, uint32_t glyph, uint64_t fx, uint64_t fy) {
    const size_t mask = f.slots.size() - 1;
    size_t i = Hash(glyph, fx, fy) & mask;
    while (f.slots[i].glyph != 0) i = (i + 1) & mask;
    return f.slots[i];
  }
  void Count() {
    bytes = 0;
    for (const auto& [key, face] : faces) bytes += key.size() + face.Bytes() + 64;
  }
};

// One run of glyphs: its face, target and clip box (device pixels,
// inclusive), colour, and whether anything was painted.
struct cRendererSurface::rGlyphRun {
  rGlyphCoverage::Face* face = nullptr;
  qlm_agg::renderer_any* base = nullptr;
  bool straight_bgra = false;  // the target is straight BGRA: the mask blend paints it
  agg::rendering_buffer* rbuf = nullptr;
  int64_t cx1 = 0, cy1 = 0, cx2 = -1, cy2 = -1;
  double ux1 = 0, uy1 = 0, ux2 = 0, uy2 = 0;  // the rasteriser's clip box
  agg::rgba8 colour;
  qlm_agg::solid_bgra solid;
  bool even_odd = false;
  double approx = 1;
  bool painted = false;

  // Paints covers[0 .. n) at device (x, y) onward, clipped to the box.
  void Row(int64_t x, int64_t y, const uint8_t* covers, int64_t n) {
    if (y < cy1 || y > cy2) return;
    if (x < cx1) {
      covers += cx1 - x;
      n -= cx1 - x;
      x = cx1;
    }
    if (x + n - 1 > cx2) n = cx2 - x + 1;
    if (n <= 0) return;
    if (straight_bgra)
      qlm_agg::blend_solid_bgra(rbuf->row_ptr(int(y)) + 4 * x, covers, size_t(n), solid);
    else
      base->blend_solid_hspan(int(x), int(y), unsigned(n), colour, covers);
  }
};

void cRendererSurface::rGlyphCoverageFree::operator()(rGlyphCoverage* kept) const { delete kept; }

namespace {
std::atomic<bool> g_glyph_coverage{true};
}  // namespace

void glyph_coverage_enable(bool on) { g_glyph_coverage.store(on); }

bool cRendererSurface::GlyphCoverageFits(cHitTest* hit, double& dx, double& dy) {
  if (!g_glyph_coverage.load(std::memory_order_relaxed)) return false;
  // What RenderPath would do beyond one solid fill in the text colour: hit
  // tests, records, shadows, layers, snapping, coverage changed by gamma or
  // master alpha, aliased or other fill modes.
  if (hit != nullptr || mCaptureGroup != nullptr || mGroupPass != kGroupNone || mShadow.kind != eShadowKind::off ||
      mLayer != nullptr || (mMaster.filter_on && mMaster.filter != nullptr) || mMaster.pixel_snap ||
      !mMaster.anti_aliasing || mMaster.master_alpha != 255 || !float_equal(mMaster.gamma, 1.0) ||
      mMaster.fill_render_mode != eRenderMode::normal || mText.render_mode != 0)
    return false;
  // The whole mapping a moved by whole pixels or not at all: device =
  // page + (dx, dy).
  mPosition.reset();
  const rTransformChain chain = Chain(true);
  if (!chain.only_affine) return false;
  const agg::trans_affine& m = chain.affine;
  if (m.sx != 1 || m.sy != 1 || m.shx != 0 || m.shy != 0 || !usable(m.tx) || !usable(m.ty)) return false;
  dx = m.tx;
  dy = m.ty;
  return true;
}

void cRendererSurface::GlyphCoverageBegin(cFontCacheManager& cache, const agg::rgba8& colour, rGlyphRun& run) {
  if (mGlyphCoverage == nullptr) mGlyphCoverage.reset(new rGlyphCoverage);
  rGlyphCoverage& kept = *mGlyphCoverage;
  if (kept.bytes > kGlyphCoverageBytes || kept.faces.size() >= kGlyphCoverageFaces) {
    kept.faces.clear();
    kept.bytes = 0;
  }
  run.even_odd = mFill.even_odd;
  run.approx = qlm_agg::approximation_scale_checked(mApproxScale);
  kept.name.assign(cache.Signature());
  kept.name.push_back(run.even_odd ? '\1' : '\0');
  const uint64_t approx_bits = double_bits(run.approx);
  kept.name.append(reinterpret_cast<const char*>(&approx_bits), 8);
  run.face = &kept.faces[kept.name];
  run.colour = colour;
  run.solid = qlm_agg::solid_bgra{colour.b, colour.g, colour.r, colour.a};
  qlm_agg::renderer_any& base = BeginDraw();
  run.base = &base;
  qlm_agg::any_rgba_target& target = base.ren();
  run.straight_bgra = target.kind() == qlm_agg::target_kind::straight && target.code() == px32BGRA;
  run.rbuf = &target.rbuf();
  run.cx1 = base.xmin();
  run.cy1 = base.ymin();
  run.cx2 = base.xmax();
  run.cy2 = base.ymax();
  run.ux1 = mUpdateRect.x1;
  run.uy1 = mUpdateRect.y1;
  run.ux2 = mUpdateRect.x2;
  run.uy2 = mUpdateRect.y2;
  mRasterReusable = false;
}

void cRendererSurface::GlyphCoverageEnd(rGlyphRun& run) {
  if (run.painted) EndDraw();
  mGlyphCoverage->Count();
}

void cRendererSurface::PaintGlyphCoverage(rGlyphRun& run, cFontCacheManager& cache, const agg::glyph_cache* glyph,
                                          double page_x, double page_y, double dx, double dy) {
  const double x = page_x + dx, y = page_y + dy;
  if (!usable(x) || !usable(y)) return;
  const double ix = std::floor(x), iy = std::floor(y);
  // Culling: the glyph's outline box, widened for the phase and the
  // rasteriser's reach, against the clip box.
  const agg::rect_i& b = glyph->bounds;
  if (b.x1 > b.x2 || b.y1 > b.y2) return;  // no outline
  const double gx1 = ix + b.x1 - 2, gy1 = iy + b.y1 - 2, gx2 = ix + b.x2 + 2, gy2 = iy + b.y2 + 2;
  if (gx2 < double(run.cx1) || gx1 > double(run.cx2) || gy2 < double(run.cy1) || gy1 > double(run.cy2)) return;
  ++mPaintCount;
  rGlyphCoverage& kept = *mGlyphCoverage;
  rGlyphCoverage::Face& face = *run.face;
  const double fx = x - ix, fy = y - iy;
  // From here the glyph reaches the clip box: its pixels are within int
  // range of one another and of the box.
  const int64_t ox = int64_t(ix), oy = int64_t(iy);
  kept.ras.filling_rule(run.even_odd ? agg::fill_even_odd : agg::fill_non_zero);
  // The outline with its origin at (origin_x, origin_y), its curves
  // flattened as RenderPath flattens them (approximation from the outline's
  // extent), handed to `use`.
  auto flattened = [&](double origin_x, double origin_y, auto&& use) {
    cache.init_embedded_adaptors(glyph, origin_x, origin_y, 1.0);
    double bx1 = 0, by1 = 0, bx2 = 0, by2 = 0;
    if (!agg::bounding_rect_single(cache.path_adaptor(), 0, &bx1, &by1, &bx2, &by2)) bx1 = by1 = bx2 = by2 = 0;
    agg::conv_curve<tFontCacheManager::path_adaptor_type> curves(cache.path_adaptor());
    curves.approximation_scale(qlm_agg::approximation_scale_for(run.approx, std::max(bx2 - bx1, by2 - by1)));
    use(curves);
  };

  // A glyph reaching over the edge of the rasteriser's clip box, or too
  // large to keep, is drawn as the outline painter draws it: the outline at
  // its page position, flattened there, moved to the device and cut by that
  // box. A cut edge starts at its crossing with the box, rounded to the
  // sub-pixel grid, so its coverage depends on where the glyph stands and
  // cannot be kept (kept coverage of such glyphs differed by 2 levels).
  const int64_t box_w = int64_t(b.x2) - b.x1 + 5, box_h = int64_t(b.y2) - b.y1 + 5;
  const bool inside = gx1 >= run.ux1 && gy1 >= run.uy1 && gx2 <= run.ux2 && gy2 <= run.uy2;
  if (!inside || box_w * box_h > kKeptGlyphPixels) {
    kept.ras.reset();
    kept.ras.clip_box(run.ux1, run.uy1, run.ux2, run.uy2);
    flattened(page_x, page_y, [&](auto& curves) {
      agg::trans_affine to_device = agg::trans_affine_translation(dx, dy);
      agg::conv_transform<std::remove_reference_t<decltype(curves)>> placed(curves, to_device);
      kept.ras.add_path(placed);
    });
    if (kept.ras.rewind_scanlines()) {
      kept.sl.reset(kept.ras.min_x(), kept.ras.max_x());
      while (kept.ras.sweep_scanline(kept.sl)) {
        unsigned spans = kept.sl.num_spans();
        for (auto span = kept.sl.begin(); spans > 0; --spans, ++span)
          run.Row(span->x, kept.sl.y(), span->covers, span->len);
      }
      run.painted = true;
    }
    kept.ras.reset_clipping();
    kept.ras.reset();
    return;
  }

  // Kept: the outline at the phase, moved by whole pixels (shift_x,
  // shift_y) so that every point lies at a positive coordinate, as it does
  // on the device (the glyph is inside the clip box). The rasteriser rounds
  // a point to the sub-pixel grid half away from zero, so at a tie (an
  // outline of 1/64 units at a pen of few bits: every glyph of text at a
  // whole pixel) a negative coordinate about the origin went the other way
  // than its device position and moved the edge by a sub-pixel step (a
  // level of coverage).
  const int shift_x = 2 - b.x1, shift_y = 2 - b.y1;
  auto rasterise = [&] { flattened(fx + shift_x, fy + shift_y, [&](auto& curves) { kept.ras.add_path(curves); }); };

  const uint64_t kx = double_bits(fx), ky = double_bits(fy);
  const rGlyphCoverage::Slot* slot = rGlyphCoverage::Find(face, glyph->glyph_index, kx, ky);
  if (slot == nullptr) {
    if (kept.bytes + face.Bytes() > kGlyphCoverageBytes) {
      // Over the budget within a run: every face starts again.
      for (auto& [key, other] : kept.faces) other = rGlyphCoverage::Face{};
      kept.bytes = 0;
    }
    kept.ras.reset();
    rasterise();
    rGlyphCoverage::Mask m;
    const size_t at = face.covers.size();
    if (kept.ras.rewind_scanlines()) {
      m.x = kept.ras.min_x() - shift_x;
      m.y = kept.ras.min_y() - shift_y;
      m.w = uint32_t(kept.ras.max_x() - kept.ras.min_x() + 1);
      m.h = uint32_t(kept.ras.max_y() - kept.ras.min_y() + 1);
    }
    face.covers.resize(at + sizeof(m) + size_t(m.Stride()) * m.h);
    std::memcpy(face.covers.data() + at, &m, sizeof(m));
    if (m.w != 0) {
      uint8_t* covers = face.covers.data() + at + sizeof(m);
      kept.sl.reset(kept.ras.min_x(), kept.ras.max_x());
      while (kept.ras.sweep_scanline(kept.sl)) {
        uint8_t* row = covers + size_t(kept.sl.y() - kept.ras.min_y()) * m.Stride();
        unsigned spans = kept.sl.num_spans();
        for (auto span = kept.sl.begin(); spans > 0; --spans, ++span)
          std::memcpy(row + (span->x - kept.ras.min_x()), span->covers, size_t(span->len));
      }
    }
    slot = &rGlyphCoverage::Add(face, glyph->glyph_index, kx, ky, uint32_t(at));
  }
  rGlyphCoverage::Mask m;
  std::memcpy(&m, face.covers.data() + slot->at, sizeof(m));
  if (m.w == 0) return;
  const uint32_t stride = m.Stride();
  run.painted = true;
  // The box within the clip box.
  const int64_t left = ox + m.x, top = oy + m.y;
  const int64_t x1 = std::max(left, run.cx1), y1 = std::max(top, run.cy1);
  const int64_t x2 = std::min(left + int64_t(m.w) - 1, run.cx2), y2 = std::min(top + int64_t(m.h) - 1, run.cy2);
  if (x1 > x2 || y1 > y2) return;
  const uint8_t* covers = face.covers.data() + slot->at + sizeof(m) + size_t(y1 - top) * stride + size_t(x1 - left);
  int64_t n = x2 - x1 + 1;
  if (run.straight_bgra) {
    // The zero covers that pad a row to a multiple of 4 leave their pixels
    // as they are: they are painted along where they fall in the clip box.
    const int64_t whole = (n + 3) & ~int64_t(3);
    if (x1 + whole - 1 <= run.cx2 && (x1 - left) + whole <= int64_t(stride)) n = whole;
    qlm_agg::blend_solid_bgra_rows(run.rbuf->row_ptr(int(y1)) + 4 * x1, run.rbuf->stride(), covers, stride, size_t(n),
                                   size_t(y2 - y1 + 1), run.solid);
  } else {
    for (int64_t y = y1; y <= y2; ++y, covers += stride)
      run.base->blend_solid_hspan(int(x1), int(y), unsigned(n), run.colour, covers);
  }
}

bool cRendererSurface::TextCullBox(const agg::trans_affine* turn, agg::trans_affine& map, double* box) {
  if (mCaptureGroup != nullptr || mGroupPass != kGroupNone || mShadow.kind != eShadowKind::off ||
      mText.render_mode != 0 || mLayer != nullptr)
    return false;
  // A filter layer reaches its margin beyond the glyph.
  double margin = 2;
  if (mMaster.filter_on && mMaster.filter != nullptr) {
    const double pad = TransformLength(mMaster.filter_margin);
    if (!(pad >= 0) || !usable(pad)) return false;
    margin += pad;
  }
  mPosition.reset();
  const rTransformChain chain = Chain(true);
  if (!chain.only_affine) return false;
  map = turn != nullptr ? *turn : agg::trans_affine();
  map *= chain.affine;
  // Painting stays within the surface, registrations within the update
  // rectangle.
  box[0] = std::min(mBoundsX1, double(mUpdateRect.x1)) - margin;
  box[1] = std::min(mBoundsY1, double(mUpdateRect.y1)) - margin;
  box[2] = std::max(mBoundsX2, double(mUpdateRect.x2)) + margin;
  box[3] = std::max(mBoundsY2, double(mUpdateRect.y2)) + margin;
  return true;
}

void cRendererSurface::DrawTextLines(const cPen* pen, cHitTest* hit, bool draw, bool shadow) {
  if (mScratch.GetStorage().total_vertices() == 0) return;
  // The line's own pen stands in for the current one, which comes back
  // after it whatever was drawn.
  std::unique_ptr<cPen> saved;
  if (pen != nullptr) {
    saved = GetPen();
    SetPen(pen, false);
  }
  SetCurrentPath(&mScratch.GetStorage(), 0, 0);
  RenderPath(2, hit, draw, shadow, nullptr);
  if (saved != nullptr) SetPen(saved.get(), false);
}

// --- The text engine ------------------------------------------------------------------

namespace {
// Whether a glyph of straight or turned text can neither paint nor register
// in a hit test: its outline box through the page-to-device mapping lies
// wholly outside the cull box. A glyph without an outline draws nothing.
bool glyph_culled(const rGlyphStep& s, const agg::trans_affine& to_device, const double* box) {
  const agg::rect_i& b = s.glyph->bounds;
  if (b.x1 > b.x2 || b.y1 > b.y2) return true;
  double xs[4] = {s.x + b.x1, s.x + b.x2, s.x + b.x1, s.x + b.x2};
  double ys[4] = {s.y + b.y1, s.y + b.y1, s.y + b.y2, s.y + b.y2};
  double x1 = INFINITY, y1 = INFINITY, x2 = -INFINITY, y2 = -INFINITY;
  for (int i = 0; i < 4; ++i) {
    to_device.transform(&xs[i], &ys[i]);
    x1 = std::min(x1, xs[i]), x2 = std::max(x2, xs[i]);
    y1 = std::min(y1, ys[i]), y2 = std::max(y2, ys[i]);
  }
  return x2 < box[0] || x1 > box[2] || y2 < box[1] || y1 > box[3];
}
}  // namespace

// What one text carries from step to step: the font cache, the font and
// the kerning; the glyph box and the placement; the mapping along the
// path(s) or the turn about the anchor; where the pen starts (the baseline
// is at oy) and the run length; the underline and strike-out offsets and
// the pieces they are drawn over.
struct cRendererSurface::rTextRun {
  tFontCacheManager* cache = nullptr;
  const cFont* font = nullptr;
  bool kerning = false;
  qlm_text::rGlyphBox box;
  qlm_text::rTextPlacement place;
  text_path_map map;
  bool on_path = false;
  bool stop = false;  // path text ends with the last glyph that starts on the path
  bool turned = false;
  agg::trans_affine turn;
  double ox = 0, oy = 0;
  double run = 0;
  rLineOffsets under, strike;
  rPieces whole, words;

  const text_path_map* mapping() const { return on_path ? &map : nullptr; }
  const agg::trans_affine* turning() const { return turned ? &turn : nullptr; }
  bool on_the_path(const rGlyphStep& s) const { return !stop || s.x <= map.length; }
};

template <class Feed>
void cRendererSurface::RenderTextFeed(const Feed& feed, double x, double y, const rTextPathArgs* paths, cHitTest* hit) {
  rTextRun t;
  if (!PlaceText(t, feed, x, y, paths)) return;
  TextRunLength(t, feed);
  TextBackground(t);
  TextLinePieces(t, feed);
  TextPasses(t, feed, hit);
  SetCurrentPath(&mScratch.GetStorage(), 0, 0);
}

template <class Feed>
bool cRendererSurface::PlaceText(rTextRun& t, const Feed& feed, double x, double y, const rTextPathArgs* paths) {
  // Hands the renderer's hinting to the font before anything is measured.
  t.cache = qlm_text::text_cache(mText);
  if (t.cache == nullptr) return false;
  t.font = mText.font;
  const cFont& font = *t.font;
  t.kerning = mText.kerning;
  t.box = qlm_text::glyph_box(*t.cache, feed, t.kerning);
  if (t.box.empty) return false;
  t.place = qlm_text::place_text(t.box, font, mText.align_x, mText.align_y);

  // Path text: text space starts at the start of the path.
  t.on_path = paths != nullptr;
  if (t.on_path) {
    x = y = 0;
    const double ascent = font.GetAscent();
    // Without an ascent (a font with no "H") the em size stands in: a zero
    // base height would divide by zero.
    const double base_height = -(ascent > 0 ? ascent : font.GetSize());
    if (!build_path_map(t.map, paths->path1->GetStorage(),
                        paths->path2 != nullptr ? &paths->path2->GetStorage() : nullptr, paths->base_length_set,
                        paths->base_length, paths->preserve_x_scale, base_height))
      return false;
  }
  // Straight text turns about its anchor.
  t.turned = !t.on_path && !float_equal(mText.angle, 0);
  if (t.turned) {
    t.turn = agg::trans_affine_translation(-x, -y);
    t.turn *= agg::trans_affine_rotation(agg::deg2rad(mText.angle));
    t.turn *= agg::trans_affine_translation(x, y);
  }
  t.ox = x + t.place.dx;
  t.oy = y + t.place.dy;
  t.stop = t.on_path && paths->stop_at_end;
  return true;
}

// The run length: up to the end of the last glyph that starts on the path
// with stop-at-end, else the glyph box's width.
template <class Feed>
void cRendererSurface::TextRunLength(rTextRun& t, const Feed& feed) {
  t.run = t.place.width;
  if (!t.stop) return;
  double end = t.ox;
  qlm_text::walk_glyphs(*t.cache, feed, t.kerning, t.ox, t.oy, [&](const rGlyphStep& s) {
    if (!t.on_the_path(s)) return false;
    end = s.x + s.glyph->advance_x;
    return true;
  });
  t.run = end - t.ox;
}

// The background box, drawn once, without shadow, hit test or capture.
void cRendererSurface::TextBackground(const rTextRun& t) {
  const eRenderMode fill_mode = mMaster.fill_render_mode;
  if (!mText.back_on || mText.back_color.color.a == 0 ||
      (is_outline_mode(fill_mode) && mMaster.master_color.color.a != 0) ||
      (mCaptureGroup != nullptr && mCaptureOnly))  // the flag alone, without a group, suppresses nothing
    return;
  const cFont& font = *t.font;
  double top, bottom;  // distances above and below the baseline
  if (mText.back_fit_glyphs) {
    // The glyph box itself, in either orientation.
    top = -t.box.top;
    bottom = t.box.bottom;
  } else {
    top = font.GetAscent();
    bottom = font.GetDescent() + font.GetLineGap();
    if (font.IsFlipped()) std::swap(top, bottom);
  }
  agg::path_storage rect;
  rect.move_to(t.ox, t.oy - top);
  rect.line_to(t.ox + t.run, t.oy - top);
  rect.line_to(t.ox + t.run, t.oy + bottom);
  rect.line_to(t.ox, t.oy + bottom);
  rect.close_polygon();
  agg::path_storage& scratch = mScratch.GetStorage();
  mScratch.Clear();
  if (t.on_path)
    append_mapped(scratch, rect, t.map);
  else {
    scratch.concat_path(rect);
    if (t.turned) scratch.transform_all_paths(t.turn);
  }
  FillSolidOnly(scratch, mText.back_color.color);
}

// Underline and strike-out: whole runs, or one piece per word.
template <class Feed>
void cRendererSurface::TextLinePieces(rTextRun& t, const Feed& feed) {
  t.under = underline_offsets(*t.font, mText.underline, mText.underline_position);
  t.strike = strike_out_offsets(*t.font, mText.strike_out, mText.strike_out_position);
  t.whole = {{t.ox, t.ox + t.run}};
  if ((t.under.count == 0 || mText.underline_style == 0) && (t.strike.count == 0 || mText.strike_out_style == 0))
    return;
  // A piece runs from the pen position of a word's first character to the
  // end of its last character's advance; the space (32) separates words.
  bool in_word = false;
  double from = 0, to = 0;
  qlm_text::walk_glyphs(*t.cache, feed, t.kerning, t.ox, t.oy, [&](const rGlyphStep& s) {
    if (!t.on_the_path(s)) return false;
    if (s.code == 32) {
      if (in_word) t.words.emplace_back(from, to);
      in_word = false;
    } else {
      if (!in_word) from = s.x;
      in_word = true;
      to = s.x + s.glyph->advance_x;
    }
    return true;
  });
  if (in_word) t.words.emplace_back(from, to);
}

template <class Feed>
void cRendererSurface::TextPasses(rTextRun& t, const Feed& feed, cHitTest* hit) {
  if (mShadow.kind == eShadowKind::off || mMaster.shadow_render_mode == eRenderMode::off) {
    TextPass(t, feed, hit, true, true);
    return;
  }
  // SHADOW PASS: the shadows of all lines and glyphs come first, without
  // painting and without hit test (RenderPath casts a primitive's shadow
  // with draw off), then the shapes themselves without shadows. Until
  // RenderPath's shadow step paints, this pass leaves no pixels.
  // A capture group records the shape pass only (every line and glyph
  // once); while recording suppresses drawing there is no shadow to cast.
  cPathGroup* const recording = mCaptureGroup;
  if (recording == nullptr || !mCaptureOnly) {
    mCaptureGroup = nullptr;
    TextPass(t, feed, nullptr, false, true);
    mCaptureGroup = recording;
  }
  TextPass(t, feed, hit, true, false);
}

template <class Feed>
void cRendererSurface::TextPass(rTextRun& t, const Feed& feed, cHitTest* hit, bool draw, bool shadow) {
  TextLines(t, false, hit, draw, shadow);
  // Text render mode 0 paints in the text colour; one without alpha paints
  // nothing, not even a shadow.
  if (mText.render_mode != 0 || mText.color.color.a != 0) {
    double dx = 0, dy = 0;
    if (draw && !t.on_path && !t.turned && hit == nullptr && GlyphCoverageFits(hit, dx, dy))
      TextGlyphsKept(t, feed, dx, dy);
    else
      TextGlyphOutlines(t, feed, hit, draw, shadow);
  }
  TextLines(t, true, hit, draw, shadow);
}

// The underline (or the strike-out) lines, stroked with their own pen.
void cRendererSurface::TextLines(const rTextRun& t, bool strike_out, cHitTest* hit, bool draw, bool shadow) {
  const rLineOffsets& offsets = strike_out ? t.strike : t.under;
  if (offsets.count == 0) return;
  const uint8_t style = strike_out ? mText.strike_out_style : mText.underline_style;
  build_lines(mScratch.GetStorage(), offsets, style != 0 ? t.words : t.whole, t.oy, t.mapping(), t.turning());
  DrawTextLines(strike_out ? mText.strike_out_pen : mText.underline_pen, hit, draw, shadow);
}

// The glyphs painted from kept coverage at device offset (dx, dy).
template <class Feed>
void cRendererSurface::TextGlyphsKept(rTextRun& t, const Feed& feed, double dx, double dy) {
  tFontCacheManager& cache = *t.cache;
  rGlyphRun run;
  GlyphCoverageBegin(cache, mText.color.color, run);
  qlm_text::walk_glyphs(cache, feed, t.kerning, t.ox, t.oy, [&](const rGlyphStep& s) {
    PaintGlyphCoverage(run, cache, s.glyph, s.x, s.y, dx, dy);
    return true;
  });
  GlyphCoverageEnd(run);
}

// Each glyph as a primitive of its own: its outline along the path, turned
// or as it stands, through RenderPath; glyphs that cannot reach the cull
// box are skipped.
template <class Feed>
void cRendererSurface::TextGlyphOutlines(rTextRun& t, const Feed& feed, cHitTest* hit, bool draw, bool shadow) {
  tFontCacheManager& cache = *t.cache;
  agg::path_storage& scratch = mScratch.GetStorage();
  const bool plain = mText.render_mode == 0;
  agg::trans_affine to_device;
  double box[4];
  const bool cull = !t.on_path && TextCullBox(t.turning(), to_device, box);
  qlm_text::walk_glyphs(cache, feed, t.kerning, t.ox, t.oy, [&](const rGlyphStep& s) {
    if (!t.on_the_path(s)) return false;
    if (cull && glyph_culled(s, to_device, box)) return true;
    cache.init_embedded_adaptors(s.glyph, s.x, s.y, 1.0);
    mScratch.Clear();
    if (t.on_path) {
      append_mapped(scratch, cache.path_adaptor(), t.map);
    } else if (t.turned) {
      agg::conv_transform<tFontCacheManager::path_adaptor_type> turned_glyph(cache.path_adaptor(), t.turn);
      scratch.concat_path(turned_glyph);
    } else {
      scratch.concat_path(cache.path_adaptor());
    }
    SetCurrentPath(&scratch, 0, 0);
    RenderPath(plain ? 1 : 3, hit, draw, shadow, plain ? &mText.color : nullptr);
    return true;
  });
}

void cRendererSurface::RenderText(const rTextView& text, double x, double y, const rTextPathArgs* paths,
                                  cHitTest* hit) {
  if (!mAttached || mText.font == nullptr || text.data == nullptr || text.length <= 0) return;
  if (paths != nullptr && paths->path1 == nullptr) return;
  qlm_text::with_feed(text, [&](auto feed) { RenderTextFeed(feed, x, y, paths, hit); });
}

// --- Bounds of path text -----------------------------------------------------------

void cRendererSurface::TextPathBounds(const rTextView& text, const rTextPathArgs& paths, rRectD& bounds) {
  bounds = rRectD{};
  if (paths.path1 == nullptr || text.data == nullptr || text.length <= 0) return;
  tFontCacheManager* cache = qlm_text::text_cache(mText);
  if (cache == nullptr) return;
  const cFont& font = *mText.font;
  qlm_text::with_feed(text, [&](auto feed) {
    const qlm_text::rGlyphBox box = qlm_text::glyph_box(*cache, feed, mText.kerning);
    if (box.empty) return;
    const qlm_text::rTextPlacement place = qlm_text::place_text(box, font, mText.align_x, mText.align_y);
    text_path_map map;
    const double ascent = font.GetAscent();
    if (!build_path_map(map, paths.path1->GetStorage(), paths.path2 != nullptr ? &paths.path2->GetStorage() : nullptr,
                        paths.base_length_set, paths.base_length, paths.preserve_x_scale,
                        -(ascent > 0 ? ascent : font.GetSize())))
      return;
    const double rise = font.IsFlipped() ? place.ascent : -place.ascent;
    bool first = true;
    agg::path_storage shape;
    qlm_text::walk_glyphs(*cache, feed, mText.kerning, place.dx, place.dy, [&](const rGlyphStep& s) {
      if (paths.stop_at_end && s.x > map.length) return false;
      shape.remove_all();
      if (s.code == 32) {
        // A space counts as its advance from the baseline to the ascent.
        agg::path_storage rect;
        rect.move_to(s.x, s.y);
        rect.line_to(s.x + s.glyph->advance_x, s.y);
        rect.line_to(s.x + s.glyph->advance_x, s.y + rise);
        rect.line_to(s.x, s.y + rise);
        rect.close_polygon();
        append_mapped(shape, rect, map);
      } else {
        cache->init_embedded_adaptors(s.glyph, s.x, s.y, 1.0);
        append_mapped(shape, cache->path_adaptor(), map);
      }
      double x1, y1, x2, y2;
      if (!agg::bounding_rect_single(shape, 0, &x1, &y1, &x2, &y2)) return true;
      if (first) {
        bounds.x1 = x1;
        bounds.y1 = y1;
        bounds.x2 = x2;
        bounds.y2 = y2;
        first = false;
      } else {
        bounds.x1 = std::min(bounds.x1, x1);
        bounds.y1 = std::min(bounds.y1, y1);
        bounds.x2 = std::max(bounds.x2, x2);
        bounds.y2 = std::max(bounds.y2, y2);
      }
      return true;
    });
  });
}

// --- Operations ----------------------------------------------------------------------

void cRendererSurface::DrawText(const rTextView& text, double x, double y, cHitTest* hit) {
  RenderText(text, x, y, nullptr, AsHitTest(hit));
}

void cRendererSurface::DrawTextOnPath(cPath* path, const rTextView& text, bool baseLengthSet, double baseLength,
                                      bool stopAtEnd, bool preserveXScale, cHitTest* hit) {
  if (path == nullptr) return;
  const rTextPathArgs args{path, nullptr, baseLengthSet, baseLength, stopAtEnd, preserveXScale};
  RenderText(text, 0, 0, &args, AsHitTest(hit));
}

void cRendererSurface::TextOnPathBounds(cPath* path, const rTextView& text, bool baseLengthSet, double baseLength,
                                        bool stopAtEnd, bool preserveXScale, rRectD& bounds) {
  bounds = rRectD{};
  if (path == nullptr) return;
  TextPathBounds(text, rTextPathArgs{path, nullptr, baseLengthSet, baseLength, stopAtEnd, preserveXScale}, bounds);
}

void cRendererSurface::DrawTextBetweenPaths(cPath* path1, cPath* path2, const rTextView& text, bool baseLengthSet,
                                            double baseLength, bool stopAtEnd, bool preserveXScale, cHitTest* hit) {
  if (path1 == nullptr || path2 == nullptr) return;
  const rTextPathArgs args{path1, path2, baseLengthSet, baseLength, stopAtEnd, preserveXScale};
  RenderText(text, 0, 0, &args, AsHitTest(hit));
}

void cRendererSurface::TextBetweenPathsBounds(cPath* path1, cPath* path2, const rTextView& text, bool baseLengthSet,
                                              double baseLength, bool stopAtEnd, bool preserveXScale, rRectD& bounds) {
  bounds = rRectD{};
  if (path1 == nullptr || path2 == nullptr) return;
  TextPathBounds(text, rTextPathArgs{path1, path2, baseLengthSet, baseLength, stopAtEnd, preserveXScale}, bounds);
}
