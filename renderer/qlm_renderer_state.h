// The render state: one value struct per group, each member initialised to
// its default, and the snapshot classes that carry a group out of a
// renderer and back. Reset of a group is `group = Group{}` plus the side
// effects its reset operation names (cRendererSurface). The lists are
// value types, so a snapshot copies them with the struct. No AGG type is
// held by value, so the snapshots are usable without AGG.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "qlm_agg_forward.h"
#include "qlm_base_object.h"
#include "qlm_renderer_types.h"

class cPath;
class cFont;
class cGradient;
class cGradientColorRamp;
class cPen;
class rgba8_buffer;

// A command of a marker path: 0 move-to, 1 line-to, 2 quadratic curve,
// 3 cubic curve, 4 close; the points a command does not use stay 0.
struct rCustomPathEntry {
  uint8_t command = 0;
  double x1 = 0, y1 = 0, x2 = 0, y2 = 0, x3 = 0, y3 = 0;
};
using cCustomPath = std::vector<rCustomPathEntry>;

constexpr uint8_t cnPathMoveTo = 0;
constexpr uint8_t cnPathLineTo = 1;
constexpr uint8_t cnPathCurve3 = 2;
constexpr uint8_t cnPathCurve4 = 3;
constexpr uint8_t cnPathClose = 4;

// Four 8-bit channels, converted to AGG's colour where the painters take it.
struct rColor8 {
  uint8_t r = 0, g = 0, b = 0, a = 0;
  operator agg::rgba8() const;
};

// A colour of the render state: the colour (red, green, blue, the alpha in
// effect) with its grey value, and the alpha the caller gave.
struct rStoredColor {
  rColor8 color;
  uint8_t grey = 0;
  uint8_t given_alpha = 0;

  // Stores a renderer colour. While anti-aliasing is off and the master
  // alpha is below 255, the alpha in effect is the given one scaled by it:
  // trunc(a / 255 x master / 255 x 255 + 0.5).
  void Set(uint32_t rgba, uint8_t master_alpha, bool anti_aliasing);
  // Recomputes the alpha in effect from the given one.
  void Rescale(uint8_t master_alpha, bool anti_aliasing);
  // Red, green, blue and the alpha in effect as a renderer colour.
  uint32_t Get() const { return renderer_color(color.r, color.g, color.b, color.a); }
  static rStoredColor Of(uint32_t rgba) {
    rStoredColor c;
    c.Set(rgba, 255, true);
    return c;
  }
  bool operator==(const rStoredColor& o) const {
    return color.r == o.color.r && color.g == o.color.g && color.b == o.color.b && color.a == o.color.a &&
           grey == o.grey && given_alpha == o.given_alpha;
  }
};

// --- Kinds and modes ---------------------------------------------------------
// What the pen draws with.
enum class ePenKind : uint8_t { off = 0, solid = 1, dashed = 2, pattern = 3 };
// What the fill paints with.
enum class eFillKind : uint8_t { off = 0, solid = 1, pattern = 2, gradient = 3 };
// The renderer's kind of a gradient, found from the gradient's type id:
// none (no gradient taken), the linear gradients along x and along y, and
// the radial gradient with a focus. The numbers between them and above are
// reserved for gradient classes that answer the further type ids (the
// system has none); they are kept as found.
enum class eGradientKind : uint8_t {
  none = 0,
  linear_x = 1,
  linear_y = 2,
  kind3 = 3,
  kind4 = 4,
  kind5 = 5,
  kind6 = 6,
  kind7 = 7,
  kind8 = 8,
  radial_focus = 9,
  kind10 = 10,
  kind11 = 11,
  kind12 = 12,
  kind13 = 13,
  kind14 = 14,
};
// How the shadow is moved and shaped: not at all (no shadow), by an offset
// in one of eight directions, through a perspective, or grown by its
// distance on every side.
enum class eShadowKind : uint8_t { off = 0, offset = 1, perspective = 2, grow = 3 };
// How the pen, the fill or the shadow paints; the numbers are those of the
// render-mode operations, and any other number is kept as given (and paints
// as normal). Off is the shadow's only (the pen and fill setters make 0
// normal); plain paints a solid colour in place of a gradient, pattern or
// distortion; outline draws the outline of what would be painted, and
// path_outline the path's own line, both in the master colour when it is
// set.
enum class eRenderMode : uint8_t { off = 0, normal = 1, plain = 2, outline = 3, path_outline = 4 };

// Solid and dashed pens stroke with the pen colour (or its gradient).
constexpr bool is_line_pen(ePenKind kind) { return kind == ePenKind::solid || kind == ePenKind::dashed; }
// The two modes that draw outlines in place of painting.
constexpr bool is_outline_mode(eRenderMode mode) {
  return mode == eRenderMode::outline || mode == eRenderMode::path_outline;
}

// --- Master (render modes included) ----------------------------------------
struct MasterState {
  bool anti_aliasing = true;
  bool culling = false;
  uint8_t comp_op = 0;
  uint8_t master_alpha = 255;
  double gamma = 1.0;
  bool pixel_snap = false;
  double snap_x = -1.0;
  double snap_y = -1.0;
  bool filter_on = false;
  tRendererFilterCallback filter = nullptr;
  double filter_margin = 0.0;
  void* filter_user = nullptr;
  rStoredColor master_color;
  rStoredColor override_color;  // touched only by its own operations and snapshots
  eRenderMode pen_render_mode = eRenderMode::normal;
  eRenderMode fill_render_mode = eRenderMode::normal;
  eRenderMode shadow_render_mode = eRenderMode::normal;
};

// --- Image -----------------------------------------------------------------
struct ImageState {
  uint8_t filter = 0;
  uint8_t tint_op = 3;
  uint32_t tint_color = renderer_color(0, 0, 0, 255);
};

// --- Pen with dashes and markers ------------------------------------------
struct rDashSegment {
  double dash = 0;
  double gap = 0;
};

struct PenState {
  ePenKind saved_kind = ePenKind::solid;
  ePenKind kind = ePenKind::solid;
  bool gradient_active = false;
  rStoredColor color = rStoredColor::Of(renderer_color(0, 0, 0, 255));
  uint8_t line_cap = 0;   // 0 butt, 1 square, 2 round
  uint8_t line_join = 0;  // AGG numbering: 0 miter, 2 round, 3 bevel
  bool under_fill = false;
  double miter_limit = 4.0;
  double width = 1.0;
  double auto_marker_scale = 1.0;
  bool device_space = true;
  bool outline = false;
  bool distort_gradient = false;
  bool even_odd = false;
  std::vector<rDashSegment> dashes;
  double dash_start = 0.0;
  eGradientKind gradient_kind = eGradientKind::none;
  cGradient* gradient = nullptr;
  // The pen pattern as tile pixels (RGBA, width x height); the AGG line
  // pattern is rebuilt from them by the renderer, never copied.
  std::vector<uint8_t> pattern_pixels;
  int32_t pattern_pixels_width = 0;
  int32_t pattern_pixels_height = 0;
  bool pattern_valid = false;
  uint64_t pattern_serial = 0;  // names the pixels (0: none); copies keep it
  double pattern_width = 0.0;
  double pattern_height = 0.0;
  double pattern_start = 0.0;
  double pattern_scale = 1.0;
  // Markers.
  bool line_markers = false;
  bool end_marker = false;
  bool start_marker = false;
  double marker_scale = 0.0;
  bool marker_scale_on = false;
  cCustomPath end_path;
  cCustomPath start_path;
  bool vertex_markers = false;
  double vertex_marker_scale = 0.0;
  bool vertex_marker_scale_on = false;
  cCustomPath vertex_path;
  bool vertex_at_first = false;
  bool vertex_at_last = false;
  bool vertex_oriented = true;
  rStoredColor vertex_color = rStoredColor::Of(renderer_color(0, 0, 255, 255));
};

// --- Fill with the pattern and the distortions -----------------------------
struct FillState {
  eFillKind saved_kind = eFillKind::solid;
  eFillKind kind = eFillKind::solid;
  rStoredColor color = rStoredColor::Of(renderer_color(255, 255, 255, 255));
  bool even_odd = false;
  bool pattern_valid = false;
  bool pattern_absolute = true;
  int32_t pattern_x = 0;
  int32_t pattern_y = 0;
  uint8_t pattern_wrap = 1;
  eGradientKind gradient_kind = eGradientKind::none;
  cGradient* gradient = nullptr;
  bool distortions = false;
  uint8_t wave_mode = 0;
  uint8_t swirl_mode = 0;
  double distortion_x = 0.0;
  double distortion_y = 0.0;
  double distortion_period = 1.0;
  double distortion_amplitude = 10.0;
  double distortion_phase = 0.0;
};

// --- Shadow ----------------------------------------------------------------
struct ShadowState {
  eShadowKind saved_kind = eShadowKind::off;
  eShadowKind kind = eShadowKind::off;
  bool blurred = true;
  uint8_t direction = 3;
  rStoredColor color = rStoredColor::Of(renderer_color(127, 127, 127, 255));
  double blur = 5.0;
  double distance = 5.0;
  double angle1 = 0.0;
  double length1 = 0.0;
  double angle2 = 0.0;
  double length2 = 0.0;
  double perspective_distance = 0.0;
  bool fill_shadow = true;
  cGradientColorRamp* ramp = nullptr;
};

// --- Text ------------------------------------------------------------------
struct TextState {
  uint8_t render_mode = 0;
  rStoredColor color = rStoredColor::Of(renderer_color(0, 0, 0, 255));
  cFont* font = nullptr;
  eAlign align_x = ALIGN_LEFT;
  eAlign align_y = ALIGN_BOTTOM;
  double angle = 0.0;
  bool hinting = false;
  bool kerning = false;
  bool back_on = false;
  bool back_fit_glyphs = false;
  rStoredColor back_color = rStoredColor::Of(renderer_color(255, 255, 0, 255));
  uint8_t underline = 0;
  uint8_t underline_style = 0;
  uint8_t underline_position = 30;
  cPen* underline_pen = nullptr;
  uint8_t strike_out = 0;
  uint8_t strike_out_style = 0;
  uint8_t strike_out_position = 50;
  cPen* strike_out_pen = nullptr;
};

// --- Clipping --------------------------------------------------------------
// A clip shape: 0 rectangle by corners, 1 rectangle by corner and size,
// 2 ellipse, 3 path (shared and never changed once recorded).
struct rClipSegment {
  uint8_t kind = 0;
  std::shared_ptr<const agg::path_storage> path;
  double a = 0, b = 0, c = 0, d = 0;
};

struct ClipState {
  bool on = false;
  bool mask_stale = false;
  bool inside = true;
  bool separate = true;
  std::vector<rClipSegment> shapes;
  bool even_odd = false;
};

// --- Transformations -------------------------------------------------------
// One stage of the transformation list: 0 affine, 1 perspective, 2 bilinear,
// 3 warp magnifier, with the numbers that define it.
struct rTransformStage {
  uint8_t kind = 0;
  double affine[6] = {1, 0, 0, 1, 0, 0};          // sx, shy, shx, sy, tx, ty
  double persp[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};  // perspective: its matrix
  double quad[8] = {};                            // bilinear: the quadrilateral
  double rect[4] = {};                            // ... and the rectangle it maps from
  double warp[4] = {};                            // centre x, centre y, magnification, radius

  // Maps a point forwards or back through this stage. The bilinear stage
  // has no exact inverse: it maps back by the reverse bilinear mapping
  // (quadrilateral to rectangle), which is approximate. A stage that cannot
  // be inverted (singular matrix) leaves the point unchanged.
  void Forward(double& x, double& y) const;
  void Inverse(double& x, double& y) const;
};

struct TransformState {
  std::vector<rTransformStage> stages;
  rMatrix viewport{1, 0, 0, 1, 0, 0};
};

// ---------------------------------------------------------------------------
// Snapshots (owned by the caller). `withDefaults` fills one from a fresh
// default record; otherwise it holds defaults until a renderer fills it.
class cPen : public cBase {
 public:
  explicit cPen(bool = true) {}
  PenState pen;
  eRenderMode render_mode = eRenderMode::normal;
};
class cFill : public cBase {
 public:
  // Out of line, where the tile's type is complete.
  explicit cFill(bool = true);
  ~cFill() override;
  FillState fill;
  eRenderMode render_mode = eRenderMode::normal;
  std::unique_ptr<rgba8_buffer> tile;  // own copy of the pattern tile, or none
};
class cShadow : public cBase {
 public:
  explicit cShadow(bool = true) {}
  ShadowState shadow;
  eRenderMode render_mode = eRenderMode::normal;
};
class cClipping : public cBase {
 public:
  explicit cClipping(bool = true) {}
  ClipState clip;
};
class cMasterParameters : public cBase {
 public:
  explicit cMasterParameters(bool = true) {}
  MasterState master;
};
class cBitmapParameters : public cBase {
 public:
  explicit cBitmapParameters(bool = true) {}
  ImageState image;
};
class cTextParameters : public cBase {
 public:
  explicit cTextParameters(bool = true) {}
  TextState text;
};
// The transformation list and the device matrix of its time.
class cTransformations : public cBase {
 public:
  explicit cTransformations(bool = true) {}
  bool Identify(uint32_t id) const override;
  // Maps a device point back into user space: the inverse of the matrix
  // (unless it is the identity), then the inverse of each stage from the
  // last to the first; non-linear stages only when `all` is true.
  void MapPoint(double& x, double& y, bool all) const;
  std::vector<rTransformStage> stages;
  rMatrix matrix{1, 0, 0, 1, 0, 0};
};
class cState : public cBase {
 public:
  explicit cState(bool = true) {}
  cPen pen{false};
  cFill fill{false};
  cShadow shadow{false};
  cClipping clipping{false};
  cMasterParameters master{false};
  cBitmapParameters image{false};
  cTextParameters text{false};
  std::unique_ptr<cTransformations> transformations;
};
