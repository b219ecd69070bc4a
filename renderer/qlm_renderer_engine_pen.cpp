// The pen and marker families beyond plain storing: dashes, marker
// commands, pen patterns (callback, bitmap, colour) and the pen painters
// that RenderPath calls: outlines, pen patterns and vertex markers.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <new>

#include "qlm_base_util.h"
#include "qlm_renderer_engine.h"

namespace {
std::atomic<size_t> g_dash_vertex_budget{cnDashVertexBudget};
std::atomic<size_t> g_stroke_vertex_budget{cnStrokeVertexBudget};
}  // namespace

size_t pen_dash_vertex_budget() { return g_dash_vertex_budget.load(std::memory_order_relaxed); }
size_t pen_stroke_vertex_budget() { return g_stroke_vertex_budget.load(std::memory_order_relaxed); }
void pen_set_vertex_budgets(size_t dash, size_t stroke) {
  g_dash_vertex_budget = dash != 0 ? dash : cnDashVertexBudget;
  g_stroke_vertex_budget = stroke != 0 ? stroke : cnStrokeVertexBudget;
}

namespace {

bool usable(double v) { return std::isfinite(v); }

// Serials of pen-pattern pixels: a copy of the pen group (a snapshot) keeps
// its serial, so the line pattern is rebuilt only for pixels it has not
// been built from.
std::atomic<uint64_t> gPatternSerial{0};

// Tile pixels (RGBA rows, no padding) as the pixel source of a line pattern.
struct tile_source {
  const uint8_t* pixels;
  int32_t w, h;
  double width() const { return w; }
  double height() const { return h; }
  agg::rgba8 pixel(int x, int y) const {
    const uint8_t* p = pixels + (int64_t(y) * w + x) * 4;
    return agg::rgba8(p[0], p[1], p[2], p[3]);
  }
};

// The grey of the hit pass: pattern alpha x master alpha / 255.
struct tile_grey_source {
  const uint8_t* pixels;
  int32_t w, h;
  uint8_t master;
  double width() const { return w; }
  double height() const { return h; }
  agg::gray8 pixel(int x, int y) const {
    const unsigned a = pixels[(int64_t(y) * w + x) * 4 + 3];
    return agg::gray8(agg::int8u((a * master + 127) / 255), 255);
  }
};

using pattern_smooth = agg::line_image_pattern<agg::pattern_filter_bilinear_rgba8>;
using pattern_sharp = agg::line_image_pattern<agg::pattern_filter_nn_rgba8>;
using pattern_grey_filter = agg::pattern_filter_nn<agg::gray8>;
using pattern_grey = agg::line_image_pattern<pattern_grey_filter>;

int32_t clamp_int(double v) { return v < -2147483648.0 ? INT32_MIN : (v > 2147483647.0 ? INT32_MAX : int32_t(v)); }

// The rounded tile side of a device length, 0 when too large.
int32_t tile_side(double device, int32_t least) {
  const double r = std::nearbyint(device);
  if (!(r <= cnPenTileSide)) return r > cnPenTileSide ? 0 : least;
  return std::max(least, int32_t(r));
}

}  // namespace

struct cRendererSurface::rPenPatterns {
  agg::pattern_filter_bilinear_rgba8 bilinear;
  agg::pattern_filter_nn_rgba8 nearest;
  pattern_smooth smooth{bilinear};
  pattern_sharp sharp{nearest};
  uint64_t serial = 0;  // pixels the pattern was built from
  bool anti_aliasing = false;
};

void cRendererSurface::rPenPatternsFree::operator()(rPenPatterns* p) const { delete p; }

// --- Dashes ------------------------------------------------------------------------

void cRendererSurface::SetDashStart(double start) {
  if (usable(start)) mPen.dash_start = start;
}
void cRendererSurface::AddDash(double dash, double gap) {
  if (!usable(dash) || !usable(gap)) return;
  mPen.dashes.push_back({dash, gap});
  mPen.kind = mPen.saved_kind = ePenKind::dashed;
}
void cRendererSurface::PenDashed() {
  if (mPen.dashes.empty()) mPen.dashes.push_back({1.0, 1.0});
  mPen.kind = mPen.saved_kind = ePenKind::dashed;
}
void cRendererSurface::PenDashOff() {
  mPen.saved_kind = mPen.kind;
  mPen.kind = ePenKind::solid;
}

// --- Pen patterns ----------------------------------------------------------------------

void cRendererSurface::PenPatternFailed() {
  mPen.kind = mPen.saved_kind = ePenKind::off;
  mPen.pattern_valid = false;
}

void cRendererSurface::StorePenPattern(std::vector<uint8_t>&& pixels, int32_t w, int32_t h, double width, double height,
                                       double scale) {
  mPen.pattern_pixels = std::move(pixels);
  mPen.pattern_pixels_width = w;
  mPen.pattern_pixels_height = h;
  mPen.pattern_serial = ++gPatternSerial;
  mPen.pattern_width = width;
  mPen.pattern_height = height;
  mPen.pattern_scale = scale;
  mPen.kind = mPen.saved_kind = ePenKind::pattern;
  mPen.pattern_valid = true;
}

void cRendererSurface::SetPenPatternCallback(tRendererPatternCallback callback, void* user, double width,
                                             double height) {
  mPen.kind = mPen.saved_kind = ePenKind::off;
  mPen.pattern_valid = false;
  if (!(width > 0)) width = 0;
  if (!(height > 0)) height = 0;
  const double wd = TransformLength(width);
  const double hd = TransformLength(height);
  const int32_t tw = tile_side(wd, 1), th = tile_side(hd, 1);
  if (tw == 0 || th == 0 || int64_t(tw) * th > cnPenTileArea) return;
  // A width of 0 would divide by zero in AGG's pattern distances: scale 1.
  double scale = wd > 0 && std::isfinite(wd) ? wd / tw : 1.0;
  scale = std::max(scale, cnPenPatternMinScale);
  rgba8_tile tile(tw, th);
  if (!tile.IsValid()) return;
  if (mNested == nullptr) {
    mNested.reset(new (std::nothrow) cRendererSurface());
    if (mNested == nullptr) return;
  }
  {
    cSurfacePatternRGBA surface;
    if (!surface.Attach(&tile) || !mNested->AttachSurface(&surface)) return;
    mNested->SetMasterAlpha(mMaster.master_alpha);
    mNested->SetRenderMode(uint8_t(mMaster.fill_render_mode));
    if (callback != nullptr) callback(mNested.get(), user);
    // Detached before the temporary surface goes.
    mNested->DetachSurface();
  }
  std::vector<uint8_t> pixels;
  try {
    pixels.assign(tile.Memory(), tile.Memory() + int64_t(tw) * th * 4);
  } catch (const std::bad_alloc&) {
    return;
  }
  StorePenPattern(std::move(pixels), tw, th, width, height, scale);
}

void cRendererSurface::SetPenPatternBitmap(cBitmap* bitmap, double width, double height) {
  if (bitmap == nullptr || !bitmap->IsOpened() || bitmap->Width() < 1 || bitmap->Height() < 1) {
    PenPatternFailed();
    return;
  }
  if (!(width > 0)) width = 0;
  if (!(height > 0)) height = 0;
  int32_t tw = bitmap->Width(), th = bitmap->Height();
  double scale = 1.0;
  if (width > 0) {
    const double wd = TransformLength(width);
    tw = tile_side(wd, 2);
    if (tw != 0) scale = std::max(wd / tw, cnPenPatternMinScale);
  }
  if (height > 0) th = tile_side(TransformLength(height), 2);
  if (tw <= 0 || th <= 0 || tw > cnPenTileSide || th > cnPenTileSide || int64_t(tw) * th > cnPenTileArea) {
    PenPatternFailed();
    return;
  }
  std::unique_ptr<cBitmap> resized;
  cBitmap* from = bitmap;
  if (tw != bitmap->Width() || th != bitmap->Height()) {
    resized = bitmap->Clone(tw, th, mMaster.anti_aliasing ? cnResizeBilinear : cnResizeNearest);
    if (resized == nullptr || !resized->IsOpened() || resized->Width() != tw || resized->Height() != th) {
      PenPatternFailed();
      return;
    }
    from = resized.get();
  }
  // The master alpha applies to the resized copy as to the bitmap itself.
  bitmap_pattern_source source(from, mMaster.master_alpha);
  std::vector<uint8_t> pixels;
  try {
    pixels.resize(size_t(tw) * size_t(th) * 4);
  } catch (const std::bad_alloc&) {
    PenPatternFailed();
    return;
  }
  uint8_t* out = pixels.data();
  for (int32_t y = 0; y < th; ++y)
    for (int32_t x = 0; x < tw; ++x, out += 4) {
      const agg::rgba8 c = source.pixel(x, y);
      out[0] = c.r, out[1] = c.g, out[2] = c.b, out[3] = c.a;
    }
  StorePenPattern(std::move(pixels), tw, th, width, height, scale);
}

double cRendererSurface::GetPenPatternScaledWidth() {
  return mPen.pattern_valid ? mPen.pattern_pixels_width * mPen.pattern_scale : 0.0;
}
double cRendererSurface::GetPenPatternTileHeight() {
  return mPen.pattern_valid ? double(mPen.pattern_pixels_height) : 0.0;
}
void cRendererSurface::SetPenPatternStart(double start) {
  if (usable(start)) mPen.pattern_start = start;
}

void cRendererSurface::PenPatternFromColor() {
  mPen.kind = mPen.saved_kind = ePenKind::pattern;
  if (mPen.pattern_valid) return;
  const agg::rgba8 c = mPen.color.color;
  std::vector<uint8_t> pixels = {c.r, c.g, c.b, c.a};
  StorePenPattern(std::move(pixels), 1, 1, 0.0, 0.0, 1.0);
}

// --- Markers ---------------------------------------------------------------------------

void cRendererSurface::AddMarkerCommand(cCustomPath& list, bool scaleOn, double scale, uint8_t command,
                                        const double* xy) {
  if (command > cnPathClose || list.size() >= cnMarkerCommandLimit) return;
  double f = 1.0;
  if (scaleOn) f = float_equal(scale, 0.0) ? mPen.auto_marker_scale : scale;
  double v[6];
  for (int i = 0; i < 6; ++i) {
    v[i] = xy[i] * f;
    if (!std::isfinite(v[i]) || std::fabs(v[i]) > cnMarkerCoordinateLimit) return;
  }
  list.push_back({command, v[0], v[1], v[2], v[3], v[4], v[5]});
}

void cRendererSurface::AddVertexMarkerCommand(uint8_t command, double x1, double y1, double x2, double y2, double x3,
                                              double y3) {
  const double xy[6] = {x1, y1, x2, y2, x3, y3};
  AddMarkerCommand(mPen.vertex_path, mPen.vertex_marker_scale_on, mPen.vertex_marker_scale, command, xy);
  mPen.vertex_markers = true;
}

void cRendererSurface::SetVertexMarkers(bool atFirst, bool atLast, bool oriented) {
  mPen.vertex_markers = true;
  mPen.vertex_at_first = atFirst;
  mPen.vertex_at_last = atLast;
  mPen.vertex_oriented = oriented;
  if (!mPen.vertex_path.empty()) return;
  // The default square; with the scale flag on the add applies the scale.
  const double s = mPen.vertex_marker_scale_on ? 1.0 : mPen.auto_marker_scale;
  AddVertexMarkerCommand(cnPathMoveTo, -3 * s, -3 * s, 0, 0, 0, 0);
  AddVertexMarkerCommand(cnPathLineTo, 3 * s, -3 * s, 0, 0, 0, 0);
  AddVertexMarkerCommand(cnPathLineTo, 3 * s, 3 * s, 0, 0, 0, 0);
  AddVertexMarkerCommand(cnPathLineTo, -3 * s, 3 * s, 0, 0, 0, 0);
  AddVertexMarkerCommand(cnPathClose, 0, 0, 0, 0, 0, 0);
}
void cRendererSurface::VertexMarkersOff() { mPen.vertex_markers = false; }
void cRendererSurface::SetVertexMarkerScale(double scale) {
  if (!usable(scale)) return;
  mPen.vertex_marker_scale = scale;
  mPen.vertex_marker_scale_on = true;
}
void cRendererSurface::VertexMarkerScaleOff() { mPen.vertex_marker_scale_on = false; }

namespace {
// The default arrow of the start and end markers: its tip at (-4s, 0).
template <class Add>
void add_default_arrow(double s, Add&& add) {
  add(cnPathMoveTo, -4 * s, 0.0);
  add(cnPathLineTo, 4 * s, -3 * s);
  add(cnPathLineTo, 2 * s, 0.0);
  add(cnPathLineTo, 4 * s, 3 * s);
  add(cnPathClose, 0.0, 0.0);
}
}  // namespace

void cRendererSurface::AddEndMarkerCommand(uint8_t command, double x1, double y1, double x2, double y2, double x3,
                                           double y3) {
  const double xy[6] = {x1, y1, x2, y2, x3, y3};
  AddMarkerCommand(mPen.end_path, mPen.marker_scale_on, mPen.marker_scale, command, xy);
  mPen.end_marker = true;
  mPen.line_markers = true;
}
void cRendererSurface::EndMarkerOn() {
  mPen.end_marker = true;
  mPen.line_markers = true;
  if (!mPen.end_path.empty()) return;
  const double s = mPen.marker_scale_on ? 1.0 : mPen.auto_marker_scale;
  add_default_arrow(s, [this](uint8_t c, double x, double y) { AddEndMarkerCommand(c, x, y, 0, 0, 0, 0); });
}
bool cRendererSurface::EndMarkerOff() {
  mPen.end_marker = false;
  mPen.line_markers = mPen.start_marker;
  return mPen.line_markers;
}
void cRendererSurface::AddStartMarkerCommand(uint8_t command, double x1, double y1, double x2, double y2, double x3,
                                             double y3) {
  const double xy[6] = {x1, y1, x2, y2, x3, y3};
  AddMarkerCommand(mPen.start_path, mPen.marker_scale_on, mPen.marker_scale, command, xy);
  mPen.start_marker = true;
  mPen.line_markers = true;
}
void cRendererSurface::StartMarkerOn() {
  mPen.start_marker = true;
  mPen.line_markers = true;
  if (!mPen.start_path.empty()) return;
  const double s = mPen.marker_scale_on ? 1.0 : mPen.auto_marker_scale;
  add_default_arrow(s, [this](uint8_t c, double x, double y) { AddStartMarkerCommand(c, x, y, 0, 0, 0, 0); });
}
bool cRendererSurface::StartMarkerOff() {
  mPen.start_marker = false;
  mPen.line_markers = mPen.end_marker;
  return mPen.line_markers;
}
void cRendererSurface::SetMarkerScale(double scale) {
  if (!usable(scale)) return;
  mPen.marker_scale = scale;
  mPen.marker_scale_on = true;
}
void cRendererSurface::MarkerScaleOff() { mPen.marker_scale_on = false; }

// --- Painters ------------------------------------------------------------------------------

double cRendererSurface::TransformLengthFull(double v) const {
  return LengthMeasure(v, [this](double& x, double& y) { MapForward(x, y, true, true, true); });
}

namespace {

// The clip box of the outline painters: the target grown by a margin (the
// pattern's thickness and some pixels), so no visible pixel depends on
// where lines are cut.
struct clip_box_d {
  double x1, y1, x2, y2;
};
clip_box_d grown(int x1, int y1, int x2, int y2, double margin = 0) {
  const double m = 8.0 + margin;
  return {x1 - m, y1 - m, x2 + m, y2 + m};
}

agg::rgba8 with_master_alpha(agg::rgba8 c, uint8_t master) {
  if (master != 255) c.a = agg::int8u(std::trunc(c.a / 255.0 * master / 255.0 * 255.0 + 0.5));
  return c;
}

// AGG's outline code works in 24.8 integers: points are held within
// 2^18 pixels of the origin (AGG's own saturation allows 2^20, where a
// line's length divided by a pattern scale of 0.25 overflows 32 bits).
struct line_coord_held {
  static int conv(double x) {
    constexpr double limit = double(1 << 26);
    const double v = x * 256.0;
    if (!(v > -limit)) return -(1 << 26);  // NaN included
    if (v > limit) return 1 << 26;
    return agg::iround(v);
  }
};
template <class Ren>
using outline_rasterizer = agg::rasterizer_outline_aa<Ren, line_coord_held>;

// A closed polygon as an open polyline ending at its start, for the
// polyline clipper in front of aliased lines (which would drop the close).
template <class Source>
struct explicit_close {
  Source* source;
  double sx = 0, sy = 0;
  void rewind(unsigned id) { source->rewind(id); }
  unsigned vertex(double* x, double* y) {
    unsigned cmd = source->vertex(x, y);
    if (agg::is_move_to(cmd)) {
      sx = *x;
      sy = *y;
    } else if (agg::is_end_poly(cmd) && agg::is_closed(cmd)) {
      *x = sx;
      *y = sy;
      return agg::path_cmd_line_to;
    }
    return cmd;
  }
};

// AGG's anti-aliased outline and pattern renderers multiply 24.8 (or 28.4)
// distances in 32 bits: a join or cap of a line longer than some 2,900
// pixels overflows. Subpaths pass unchanged when all their points lie in
// the clip box and no segment is longer than 2,048 pixels; others are cut
// to the box in doubles (closed ones as polylines back to their start) and
// their segments split into pieces of at most 1,024 pixels.
template <class Source>
class outline_guard {
 public:
  outline_guard(Source& source, const clip_box_d& box) : mSource(&source), mBox(box) {}
  void rewind(unsigned id) {
    mSource->rewind(id);
    mQueue.clear();
    mAt = 0;
    mPendingSet = false;
    mDone = false;
  }
  unsigned vertex(double* x, double* y) {
    while (mAt >= mQueue.size()) {
      if (mDone) return agg::path_cmd_stop;
      Fill();
    }
    const rVertex& v = mQueue[mAt++];
    *x = v.x;
    *y = v.y;
    return v.cmd;
  }

 private:
  struct rVertex {
    double x, y;
    unsigned cmd;
  };
  static constexpr double kLongest = 2048.0;
  // A subpath keeps at most this many vertices (the stroke budget).
  const size_t kMostVertices = pen_stroke_vertex_budget();
  void Fill() {
    mQueue.clear();
    mAt = 0;
    if (mPendingSet) mQueue.push_back(mPending);
    mPendingSet = false;
    double x, y;
    for (;;) {
      const unsigned cmd = mSource->vertex(&x, &y);
      if (agg::is_stop(cmd)) {
        mDone = true;
        break;
      }
      if (agg::is_move_to(cmd) && !mQueue.empty()) {
        mPending = {x, y, cmd};
        mPendingSet = true;
        break;
      }
      if (mQueue.size() < kMostVertices) mQueue.push_back({x, y, cmd});
    }
    if (!Safe()) Cut();
  }
  bool Inside(double x, double y) const { return x >= mBox.x1 && x <= mBox.x2 && y >= mBox.y1 && y <= mBox.y2; }
  bool Safe() const {
    const rVertex* first = nullptr;
    const rVertex* last = nullptr;
    for (const rVertex& v : mQueue) {
      if (agg::is_vertex(v.cmd)) {
        if (!Inside(v.x, v.y)) return false;
        if (last != nullptr && std::fabs(v.x - last->x) + std::fabs(v.y - last->y) > kLongest) return false;
        if (first == nullptr || agg::is_move_to(v.cmd)) first = &v;
        last = &v;
      } else if (agg::is_end_poly(v.cmd) && agg::is_closed(v.cmd) && first != nullptr && last != nullptr) {
        if (std::fabs(first->x - last->x) + std::fabs(first->y - last->y) > kLongest) return false;
      }
    }
    return true;
  }
  void Cut() {
    mPath.remove_all();
    double sx = 0, sy = 0;
    for (const rVertex& v : mQueue) {
      if (agg::is_move_to(v.cmd)) {
        mPath.move_to(v.x, v.y);
        sx = v.x;
        sy = v.y;
      } else if (agg::is_vertex(v.cmd)) {
        mPath.line_to(v.x, v.y);
      } else if (agg::is_end_poly(v.cmd) && agg::is_closed(v.cmd)) {
        mPath.line_to(sx, sy);
      }
    }
    mQueue.clear();
    agg::conv_clip_polyline<agg::path_storage> clipped(mPath);
    clipped.clip_box(mBox.x1, mBox.y1, mBox.x2, mBox.y2);
    agg::conv_segmentator<agg::conv_clip_polyline<agg::path_storage>> pieces(clipped);
    pieces.approximation_scale(1.0 / 1024.0);
    pieces.rewind(0);
    double x, y;
    unsigned cmd;
    while (!agg::is_stop(cmd = pieces.vertex(&x, &y)) && mQueue.size() < kMostVertices) mQueue.push_back({x, y, cmd});
  }
  Source* mSource;
  clip_box_d mBox;
  std::vector<rVertex> mQueue;
  size_t mAt = 0;
  rVertex mPending{0, 0, 0};
  bool mPendingSet = false;
  bool mDone = false;
  agg::path_storage mPath;
};

// The lines of one outline drawing, cut to the clip box, end once their
// cost reaches a budget set by the box's area: a line costs about its
// longer side in pixel steps, and a join or end about one more. An outline
// cut into some hundred thousand pieces (a dashed stroke with dashes and
// gaps of a billionth, say, 360 pixels wide) would otherwise draw the same
// pixels over and over for seconds; at the budget every pixel of the box
// has been drawn over more than a hundred times, which no drawing needs
// (hence no visible pixel depends on the lines left out).
template <class Source>
class outline_budget {
 public:
  outline_budget(Source& source, const clip_box_d& box) : mSource(&source) {
    const double area = std::max(box.x2 - box.x1, 1.0) * std::max(box.y2 - box.y1, 1.0);
    mBudget = kPerPixel * area;
  }
  void rewind(unsigned id) {
    mSource->rewind(id);
    mSpent = 0;
  }
  unsigned vertex(double* x, double* y) {
    if (mSpent > mBudget) return agg::path_cmd_stop;
    const unsigned cmd = mSource->vertex(x, y);
    if (agg::is_line_to(cmd)) {
      const double steps = std::max(std::fabs(*x - mX), std::fabs(*y - mY));
      mSpent += (std::isfinite(steps) ? steps : mBudget) + 1.0;
    } else if (agg::is_end_poly(cmd)) {
      mSpent += 1.0;
    }
    if (agg::is_vertex(cmd)) {
      mX = *x;
      mY = *y;
    }
    return cmd;
  }

 private:
  static constexpr double kPerPixel = 128.0;
  Source* mSource;
  double mBudget = 0, mSpent = 0, mX = 0, mY = 0;
};

// Draws the outlines of a source through a base renderer (any pixel format,
// grey masks included).
template <class Base, class Source>
void draw_outlines(Base& base, Source& source, unsigned path_id, const typename Base::color_type& c, bool aa,
                   const clip_box_d& box) {
  if (aa) {
    agg::line_profile_aa profile(1.0, agg::gamma_none());
    agg::renderer_outline_aa<Base> ren(base, profile);
    ren.color(c);
    ren.clip_box(box.x1, box.y1, box.x2, box.y2);
    outline_rasterizer<agg::renderer_outline_aa<Base>> ras(ren);
    outline_guard<Source> guarded(source, box);
    outline_budget<outline_guard<Source>> bounded(guarded, box);
    ras.add_path(bounded, path_id);
  } else {
    // AGG's aliased lines have no clip box: the lines are cut in doubles.
    explicit_close<Source> closed{&source};
    agg::conv_clip_polyline<explicit_close<Source>> clipped(closed);
    clipped.clip_box(box.x1, box.y1, box.x2, box.y2);
    outline_budget<agg::conv_clip_polyline<explicit_close<Source>>> bounded(clipped, box);
    agg::renderer_primitives<Base> ren(base);
    ren.line_color(c);
    agg::rasterizer_outline<agg::renderer_primitives<Base>> ras(ren);
    ras.add_path(bounded, path_id);
  }
}

// An outline-image renderer whose distance along the line stays within two
// pattern periods: AGG adds every line's length to a 32-bit start, which a
// long path would overflow. The pattern repeats with its period, so the
// pixels are the same.
template <class Ren>
class phase_keeping {
 public:
  using color_type = typename Ren::color_type;
  phase_keeping(Ren& ren, int period) : mRen(ren), mPeriod(period > 0 ? period : 1) { Keep(); }
  static bool accurate_join_only() { return Ren::accurate_join_only(); }
  void color(const color_type& c) { mRen.color(c); }
  template <class Cmp>
  void semidot(Cmp cmp, int xc1, int yc1, int xc2, int yc2) {
    mRen.semidot(cmp, xc1, yc1, xc2, yc2);
  }
  void pie(int xc, int yc, int x1, int y1, int x2, int y2) { mRen.pie(xc, yc, x1, y1, x2, y2); }
  void line0(const agg::line_parameters& lp) { mRen.line0(lp); }
  void line1(const agg::line_parameters& lp, int sx, int sy) { mRen.line1(lp, sx, sy); }
  void line2(const agg::line_parameters& lp, int ex, int ey) { mRen.line2(lp, ex, ey); }
  void line3(const agg::line_parameters& lp, int sx, int sy, int ex, int ey) {
    mRen.line3(lp, sx, sy, ex, ey);
    Keep();
  }

 private:
  // The start in 24.8 units (256 per pixel), brought into [period, 2 x period).
  void Keep() {
    int64_t m = int64_t(std::llround(mRen.start_x() * 256.0)) % mPeriod;
    if (m < 0) m += mPeriod;
    mRen.start_x(double(m + mPeriod) / 256.0);
  }
  Ren& mRen;
  int64_t mPeriod;
};

// Lays a line pattern along a source through a base renderer.
template <class Base, class Pattern, class Source>
void lay_pattern(Base& base, Pattern& pattern, Source& source, double scale, double start, const clip_box_d& box) {
  agg::renderer_outline_image<Base, Pattern> ren(base, pattern);
  ren.scale_x(scale);
  ren.start_x(start);
  ren.clip_box(box.x1, box.y1, box.x2, box.y2);
  phase_keeping<agg::renderer_outline_image<Base, Pattern>> kept(ren, pattern.pattern_width());
  outline_rasterizer<decltype(kept)> ras(kept);
  ras.round_cap(true);
  outline_guard<Source> guarded(source, box);
  ras.add_path(guarded, 0);
}

}  // namespace

void cRendererSurface::RenderOutlines(rVertexSourceRef source, const agg::rgba8& colour, unsigned pathId, cHitTest* hit,
                                      const rWidthHook* width) {
  mRasterReusable = false;
  ++mPaintCount;
  const bool aa = mMaster.anti_aliasing;
  // Thin strokes keep both sides apart: a temporary minimum width, given
  // back on every way out.
  struct width_restore {
    const rWidthHook* hook;
    ~width_restore() {
      if (hook != nullptr) hook->set(hook->obj, hook->width);
    }
  } restore{nullptr};
  if (aa && width != nullptr && width->set != nullptr) {
    const double m = TransformLengthFull(1.0);
    if (!(m > 0) || !std::isfinite(m)) return;
    const double least = m >= 1 ? 1.6 : 1.6 / m;
    if (!std::isfinite(least)) return;
    width->set(width->obj, std::max(width->width, least));
    restore.hook = width;
  }
  const agg::rgba8 c = with_master_alpha(colour, mMaster.master_alpha);
  if (mLayer != nullptr) {
    agg::trans_affine shift = agg::trans_affine_translation(-mLayerX, -mLayerY);
    agg::conv_transform<rVertexSourceRef> moved(source, shift);
    agg::pixfmt_bgra32 pf(mLayerBuf);
    agg::renderer_base<agg::pixfmt_bgra32> base(pf);
    draw_outlines(base, moved, pathId, c, aa, grown(0, 0, mLayer->Width(), mLayer->Height()));
  } else {
    qlm_agg::renderer_any base = BeginDraw();
    base.clip_box(mUpdateRect.x1, mUpdateRect.y1, mUpdateRect.x2 - 1, mUpdateRect.y2 - 1);
    draw_outlines(base, source, pathId, c, aa, grown(mUpdateRect.x1, mUpdateRect.y1, mUpdateRect.x2, mUpdateRect.y2));
    EndDraw();
  }
  if (hit == nullptr) return;
  // The lines themselves go into the mask (not the area they enclose); the
  // box grows by a pixel for the lines' anti-aliased edges.
  double bx1, by1, bx2, by2;
  if (!agg::bounding_rect_single(source, pathId, &bx1, &by1, &bx2, &by2)) return;
  if (!std::isfinite(bx1) || !std::isfinite(by1) || !std::isfinite(bx2) || !std::isfinite(by2)) return;
  if (!hit->Extend(clamp_int(std::floor(bx1) - 1), clamp_int(std::floor(by1) - 1), clamp_int(std::ceil(bx2) + 1),
                   clamp_int(std::ceil(by2) + 1), 0, mUpdateRect, mOriginX, mOriginY))
    return;
  agg::pixfmt_gray8* grey = hit->GreyAccessor();
  if (grey == nullptr) return;
  agg::renderer_base<agg::pixfmt_gray8> mask(*grey);
  agg::trans_affine shift = agg::trans_affine_translation(-hit->MaskOriginX(), -hit->MaskOriginY());
  agg::conv_transform<rVertexSourceRef> moved(source, shift);
  draw_outlines(mask, moved, pathId, agg::gray8(mMaster.master_alpha, 255), aa,
                grown(0, 0, int(grey->width()), int(grey->height())));
  if (mClip.on && !mClip.mask_stale && mClipLayer != nullptr) hit->ClipToMask(*mClipMask.GreyAccessor());
}

void cRendererSurface::RenderPenPattern(rVertexSourceRef source, cHitTest* hit) {
  mRasterReusable = false;
  const int32_t tw = mPen.pattern_pixels_width, th = mPen.pattern_pixels_height;
  if (!mPen.pattern_valid || tw < 1 || th < 1 || mPen.pattern_pixels.size() < size_t(tw) * size_t(th) * 4) return;
  // The line pattern, rebuilt when the pixels or anti-aliasing changed.
  if (mPenPatterns == nullptr) {
    mPenPatterns.reset(new (std::nothrow) rPenPatterns());
    if (mPenPatterns == nullptr) return;
  }
  rPenPatterns& pp = *mPenPatterns;
  const bool aa = mMaster.anti_aliasing;
  if (pp.serial != mPen.pattern_serial || pp.anti_aliasing != aa) {
    const tile_source tile{mPen.pattern_pixels.data(), tw, th};
    try {
      if (aa)
        pp.smooth.create(tile);
      else
        pp.sharp.create(tile);
    } catch (const std::bad_alloc&) {
      pp.serial = 0;
      return;
    }
    pp.serial = mPen.pattern_serial;
    pp.anti_aliasing = aa;
    ++mPenPatternBuilds;
  }
  ++mPaintCount;
  const double scale = std::max(mPen.pattern_scale, cnPenPatternMinScale);
  const double start = std::isfinite(mPen.pattern_start) ? std::fmod(mPen.pattern_start, double(tw)) : 0.0;
  auto lay = [&](auto& base, auto& src, const clip_box_d& box) {
    if (aa)
      lay_pattern(base, pp.smooth, src, scale, start, box);
    else
      lay_pattern(base, pp.sharp, src, scale, start, box);
  };
  if (mLayer != nullptr) {
    agg::trans_affine shift = agg::trans_affine_translation(-mLayerX, -mLayerY);
    agg::conv_transform<rVertexSourceRef> moved(source, shift);
    agg::pixfmt_bgra32 pf(mLayerBuf);
    agg::renderer_base<agg::pixfmt_bgra32> base(pf);
    lay(base, moved, grown(0, 0, mLayer->Width(), mLayer->Height(), th));
  } else {
    qlm_agg::renderer_any base = BeginDraw();
    base.clip_box(mUpdateRect.x1, mUpdateRect.y1, mUpdateRect.x2 - 1, mUpdateRect.y2 - 1);
    lay(base, source, grown(mUpdateRect.x1, mUpdateRect.y1, mUpdateRect.x2, mUpdateRect.y2, th));
    EndDraw();
  }
  if (hit == nullptr) return;
  // The pattern line widened by the tile height, in pattern alpha x master
  // alpha / 255 (nearest-neighbour grey pattern, this pass only).
  double bx1, by1, bx2, by2;
  if (!agg::bounding_rect_single(source, 0, &bx1, &by1, &bx2, &by2)) return;
  if (!std::isfinite(bx1) || !std::isfinite(by1) || !std::isfinite(bx2) || !std::isfinite(by2)) return;
  if (!hit->Extend(clamp_int(std::floor(bx1 - th)), clamp_int(std::floor(by1 - th)), clamp_int(std::ceil(bx2 + th)),
                   clamp_int(std::ceil(by2 + th)), 0, mUpdateRect, mOriginX, mOriginY))
    return;
  agg::pixfmt_gray8* grey = hit->GreyAccessor();
  if (grey == nullptr) return;
  pattern_grey_filter filter;
  pattern_grey grey_pattern(filter);
  try {
    grey_pattern.create(tile_grey_source{mPen.pattern_pixels.data(), tw, th, mMaster.master_alpha});
  } catch (const std::bad_alloc&) {
    return;
  }
  agg::renderer_base<agg::pixfmt_gray8> mask(*grey);
  agg::trans_affine shift = agg::trans_affine_translation(-hit->MaskOriginX(), -hit->MaskOriginY());
  agg::conv_transform<rVertexSourceRef> moved(source, shift);
  lay_pattern(mask, grey_pattern, moved, scale, start, grown(0, 0, int(grey->width()), int(grey->height()), th));
  if (mClip.on && !mClip.mask_stale && mClipLayer != nullptr) hit->ClipToMask(*mClipMask.GreyAccessor());
}

void cRendererSurface::RenderVertexMarkers(agg::path_storage& path, const rTransformChain& chain, cHitTest* hit,
                                           bool draw) {
  if (mPen.vertex_color.color.a == 0 || mPen.vertex_path.empty()) return;
  int counter = 0;
  bool run = false;
  double rx = 0, ry = 0;  // the remembered vertex
  double px = 0, py = 0;  // the one before it
  int pending = 0;        // vertices of the current curve command still ahead
  path.rewind(0);
  double x, y;
  unsigned cmd;
  while (!agg::is_stop(cmd = path.vertex(&x, &y))) {
    if (agg::is_end_poly(cmd)) {
      pending = 0;
      // An open end ends the run; a closed polygon does not.
      if (!agg::is_closed(cmd) && run) {
        PlaceVertexMarker(counter, true, px, py, rx, ry, chain, hit, draw);
        run = false;
      }
      continue;
    }
    if (!agg::is_vertex(cmd)) continue;
    if (cmd == agg::path_cmd_curve3 || cmd == agg::path_cmd_curve4) {
      // Control points first (one or two), then the end point that counts.
      if (pending == 0) pending = cmd == agg::path_cmd_curve3 ? 2 : 3;
      if (--pending > 0) continue;
    } else {
      pending = 0;
    }
    if (!run) {
      rx = px = x;
      ry = py = y;
      counter = 0;
      run = true;
    } else if (!float_equal(x, rx) || !float_equal(y, ry)) {
      PlaceVertexMarker(counter, false, rx, ry, x, y, chain, hit, draw);
      px = rx;
      py = ry;
      rx = x;
      ry = y;
    } else {
      rx = x;
      ry = y;
    }
  }
  if (run) PlaceVertexMarker(counter, true, px, py, rx, ry, chain, hit, draw);
}

void cRendererSurface::PlaceVertexMarker(int& counter, bool isLast, double x1, double y1, double x2, double y2,
                                         const rTransformChain& chain, cHitTest* hit, bool draw) {
  ++counter;
  if (!((counter == 1 && mPen.vertex_at_first) || (isLast && mPen.vertex_at_last) || (counter >= 2 && !isLast))) return;
  const double x = isLast ? x2 : x1, y = isLast ? y2 : y1;
  // A run of one vertex has no direction: rotation 0.
  const double angle = mPen.vertex_oriented && (x1 != x2 || y1 != y2) ? std::atan2(y1 - y2, x1 - x2) : 0.0;
  agg::trans_affine place = agg::trans_affine_rotation(angle);
  place *= agg::trans_affine_translation(x, y);
  marker_vertex_source shapes;
  shapes.SetVertexPath(&mPen.vertex_path);
  agg::conv_curve<marker_vertex_source> curve(shapes);
  curve.approximation_scale(qlm_agg::approximation_scale_checked(mApproxScale));
  agg::conv_transform<agg::conv_curve<marker_vertex_source>> placed(curve, place);
  rTransformChain mapping = chain;
  agg::conv_transform<decltype(placed), rTransformChain> shape(placed, mapping);
  rVertexSourceRef ref = rVertexSourceRef::Of(shape);
  const eRenderMode pen_mode = mMaster.pen_render_mode;
  if (is_outline_mode(pen_mode)) {
    if (!draw) return;
    const agg::rgba8 master = mMaster.master_color.color;
    RenderOutlines(ref, master.a != 0 ? master : mPen.vertex_color.color, 2, hit, nullptr);
    return;
  }
  if (draw) RenderSolid(ref, false, mPen.vertex_color.color, 2);
  if (hit != nullptr) {
    RenderHitMask(ref, 2, hit, false);
    if (mLayer != nullptr) mRas.clip_box(0, 0, mLayer->Width(), mLayer->Height());
  }
}
