// Paths, matrices and the renderer's own vertex sources.
#include "qlm_path.h"

#include <cmath>

#include "qlm_2D.h"
#include "qlm_agg_extensions.h"
#include "qlm_renderer_ids.h"
#include "qlm_svg_arc.h"

namespace {
constexpr double kPi = 3.14159265358979323846;
double radians_of(double degrees) { return normalize_angle(degrees) * kPi / 180.0; }
}  // namespace

// --- rMatrix -----------------------------------------------------------------------

agg::trans_affine matrix_to_affine(const rMatrix& m) { return agg::trans_affine(m.sx, m.shy, m.shx, m.sy, m.tx, m.ty); }
rMatrix matrix_from_affine(const agg::trans_affine& a) { return rMatrix{a.sx, a.shy, a.shx, a.sy, a.tx, a.ty}; }

void matrix_identity(rMatrix& m) { m = rMatrix{1, 0, 0, 1, 0, 0}; }

void matrix_translate(rMatrix& m, double dx, double dy) {
  m.tx += dx;
  m.ty += dy;
}

// AGG's multiplication term for term (the old values on the right), so no
// member is read after it has been replaced.
void matrix_rotate(rMatrix& m, double degrees) {
  agg::trans_affine a = matrix_to_affine(m);
  a *= agg::trans_affine_rotation(radians_of(degrees));
  m = matrix_from_affine(a);
}

void matrix_scale(rMatrix& m, double kx, double ky) {
  m.sx *= kx, m.shx *= kx, m.tx *= kx;
  m.shy *= ky, m.sy *= ky, m.ty *= ky;
}

void matrix_skew(rMatrix& m, double ax, double ay) {
  matrix_multiply(m, rMatrix{1, std::tan(ay), std::tan(ax), 1, 0, 0});
}

void matrix_multiply(rMatrix& m, const rMatrix& n) {
  agg::trans_affine a = matrix_to_affine(m);
  a *= matrix_to_affine(n);
  m = matrix_from_affine(a);
}

void matrix_transform(const rMatrix& m, double& x, double& y) { matrix_to_affine(m).transform(&x, &y); }

// --- cPath ---------------------------------------------------------------------------

cPath::cPath() : mStorage(std::make_unique<agg::path_storage>()) {}
cPath::~cPath() = default;

bool cPath::Identify(uint32_t id) const { return (id != 0 && id == id_cPath) || cBase::Identify(id); }

void cPath::Clear() {
  mStorage->remove_all();
  Changed();
}

void cPath::ClosePolygon() {
  mStorage->close_polygon();
  Changed();
}

const rPathBounds& cPath::GetBounds() {
  if (mBounds == nullptr) {
    mBounds = std::make_unique<rPathBounds>();
    // A vertex that is not finite or enormous (its midpoints overflow) would
    // have a curve through it subdivided to AGG's recursion limit: such a
    // path has no bounds (all zero).
    bool flattenable = true;
    for (unsigned i = 0; i < mStorage->total_vertices() && flattenable; ++i) {
      double x, y;
      if (agg::is_vertex(mStorage->vertex(i, &x, &y))) flattenable = std::fabs(x) <= 1e100 && std::fabs(y) <= 1e100;
    }
    agg::conv_curve<agg::path_storage> curve(*mStorage);
    rPathBounds b;
    if (flattenable && agg::bounding_rect_single(curve, 0, &b.x1, &b.y1, &b.x2, &b.y2)) *mBounds = b;
  }
  return *mBounds;
}

void cPath::Transform(const rMatrix& m) {
  agg::trans_affine a = matrix_to_affine(m);
  mStorage->transform_all_paths(a);
  Changed();
}

void cPath::MoveTo(double x, double y) {
  mStorage->move_to(x, y);
  Changed();
}

void cPath::LineTo(double x, double y) {
  mStorage->line_to(x, y);
  Changed();
}

void cPath::ArcTo(double rx, double ry, double rotation, bool largeArc, bool sweep, double x, double y) {
  svg_arc_to(*mStorage, rx, ry, radians_of(rotation), largeArc, sweep, x, y);
  Changed();
}

void cPath::Curve3(double cx, double cy, double x, double y) {
  mStorage->curve3(cx, cy, x, y);
  Changed();
}

void cPath::Curve4(double c1x, double c1y, double c2x, double c2y, double x, double y) {
  mStorage->curve4(c1x, c1y, c2x, c2y, x, y);
  Changed();
}

void cPath::Assign(const cPath* source) {
  if (source == nullptr || source == this || !source->Identify(id_cPath)) return;
  mStorage->remove_all();
  mStorage->concat_path(const_cast<agg::path_storage&>(*source->mStorage));
  Changed();
}

// --- Vertex sources ----------------------------------------------------------------------

unsigned polyline_source::vertex(double* x, double* y) {
  const size_t count = mXY.size() / 2;
  if (mIndex < count) {
    *x = mXY[2 * mIndex];
    *y = mXY[2 * mIndex + 1];
    if (mSnap) {
      *x = std::floor(*x) + 0.5;
      *y = std::floor(*y) + 0.5;
    }
    return mIndex++ == 0 ? agg::path_cmd_move_to : agg::path_cmd_line_to;
  }
  if (mIndex == count) {
    ++mIndex;
    return agg::path_cmd_end_poly | (mClosed ? unsigned(agg::path_flags_close) : 0u);
  }
  return agg::path_cmd_stop;
}

spiral_source::spiral_source(double cx, double cy, double r1, double r2, double step, double startDegrees)
    : mX(cx), mY(cy), mR1(r1), mR2(r2), mStep(step), mStart(radians_of(startDegrees)) {
  // A step that does not advance, or so small a step that the walk would
  // pass the vertex limit, yields nothing.
  mUsable = std::isfinite(cx) && std::isfinite(cy) && std::isfinite(r1) && std::isfinite(r2) && std::isfinite(step) &&
            step > 0 && (r2 - r1) / (step / 45.0) < double(cnMaxSpiralVertices);
}

void spiral_source::rewind(unsigned) {
  mAngle = mStart;
  mRadius = mR1;
  mFirst = true;
}

unsigned spiral_source::vertex(double* x, double* y) {
  if (!mUsable || mRadius > mR2) return agg::path_cmd_stop;
  *x = mX + std::cos(mAngle) * mRadius;
  *y = mY + std::sin(mAngle) * mRadius;
  mRadius += mStep / 45.0;
  mAngle += 8.0 * kPi / 180.0;
  if (mFirst) {
    mFirst = false;
    return agg::path_cmd_move_to;
  }
  return agg::path_cmd_line_to;
}
