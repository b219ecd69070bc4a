// The primitives: each builds its shape in the scratch path and hands it to
// RenderPath (DrawPath hands over the caller's path with its position).
#include <algorithm>

#include "qlm_2D.h"
#include "qlm_path.h"
#include "qlm_renderer_engine.h"
#include "qlm_renderer_ids.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
// Corner counts above this draw nothing (each is a vertex kept in memory).
constexpr int64_t kMaxCorners = 1000000;
double radians_of(double degrees) { return normalize_angle(degrees) * kPi / 180.0; }
// Arcs with a coordinate that is not finite never end in AGG (its angle step
// becomes NaN): they draw nothing.
bool finite_all(std::initializer_list<double> values) {
  for (double v : values)
    if (!std::isfinite(v)) return false;
  return true;
}

}  // namespace

void cRendererSurface::DrawScratch(uint8_t mode, cHitTest* hit) {
  SetCurrentPath(&mScratch.GetStorage(), 0, 0);
  RenderPath(mode, AsHitTest(hit), true, true, nullptr);
  SetCurrentPath(nullptr, 0, 0);
}

// AGG's arc makes about 2 pi sqrt(r x scale) vertices: the scale is held so
// that no arc passes about a million.
double cRendererSurface::ArcScale(double base, double radius) {
  const double scale = qlm_agg::approximation_scale_checked(base);
  const double r = std::fabs(radius);
  const double limit = r > 0 ? 2.5e10 / r : scale;
  return scale < limit ? scale : limit;
}

void cRendererSurface::DrawLine(cHitTest* hit, double x1, double y1, double x2, double y2) {
  mScratch.Clear();
  mScratch.MoveTo(x1, y1);
  mScratch.LineTo(x2, y2);
  DrawScratch(2, hit);
}

void cRendererSurface::DrawPolyline(const double* points, int32_t count, cHitTest* hit) {
  if (points == nullptr || count < 2) return;
  mScratch.Clear();
  polyline_source src(std::span<const double>(points, size_t(count) * 2), false, false);
  mScratch.GetStorage().concat_path(src);
  DrawScratch(2, hit);
}

void cRendererSurface::DrawPolygon(const double* points, int32_t count, cHitTest* hit) {
  if (points == nullptr || count < 2) return;
  mScratch.Clear();
  polyline_source src(std::span<const double>(points, size_t(count) * 2), false, true);
  mScratch.GetStorage().concat_path(src);
  DrawScratch(3, hit);
}

void cRendererSurface::DrawTriangle(cHitTest* hit, double x1, double y1, double x2, double y2, double x3, double y3) {
  mScratch.Clear();
  mScratch.MoveTo(x1, y1);
  mScratch.LineTo(x2, y2);
  mScratch.LineTo(x3, y3);
  mScratch.ClosePolygon();
  DrawScratch(3, hit);
}

void cRendererSurface::DrawRegularPolygon(int32_t count, cHitTest* hit, double cx, double cy, double radius,
                                          double rotation) {
  if (count < 3 || count > kMaxCorners) return;
  mScratch.Clear();
  const double start = radians_of(rotation);
  for (int32_t i = 0; i < count; ++i) {
    const double a = double(i) * 2 * kPi / double(count) + start;
    const double x = cx + radius * std::cos(a), y = cy + radius * std::sin(a);
    if (i == 0)
      mScratch.MoveTo(x, y);
    else
      mScratch.LineTo(x, y);
  }
  mScratch.ClosePolygon();
  DrawScratch(3, hit);
}

// The first radius argument is used for the corners between the tips, the
// second for the tips.
void cRendererSurface::DrawStar(int32_t count, cHitTest* hit, double cx, double cy, double r1, double r2,
                                double rotation) {
  if (count < 2 || count > kMaxCorners / 2) return;
  mScratch.Clear();
  const double step = kPi / double(count);
  double a = radians_of(rotation);
  for (int32_t i = 0; i < count; ++i) {
    const double tx = cx + r2 * std::cos(a), ty = cy + r2 * std::sin(a);
    if (i == 0)
      mScratch.MoveTo(tx, ty);
    else
      mScratch.LineTo(tx, ty);
    a += step;
    mScratch.LineTo(cx + r1 * std::cos(a), cy + r1 * std::sin(a));
    a += step;
  }
  mScratch.ClosePolygon();
  DrawScratch(3, hit);
}

void cRendererSurface::DrawBSpline(const double* points, int32_t count, bool closed, int32_t steps, cHitTest* hit) {
  if (points == nullptr || count < 2) return;
  // At least one step per segment; at most about a million vertices.
  int64_t n = std::max<int64_t>(steps, 1);
  n = std::min<int64_t>(n, std::max<int64_t>(1, kMaxCorners / count));
  mScratch.Clear();
  polyline_source src(std::span<const double>(points, size_t(count) * 2), false, closed);
  agg::conv_bspline<polyline_source> spline(src);
  spline.interpolation_step(1.0 / double(n));
  mScratch.GetStorage().concat_path(spline);
  DrawScratch(closed ? 3 : 2, hit);
}

void cRendererSurface::DrawCurve3(cHitTest* hit, double x1, double y1, double cx, double cy, double x2, double y2) {
  mScratch.Clear();
  mScratch.MoveTo(x1, y1);
  mScratch.Curve3(cx, cy, x2, y2);
  DrawScratch(2, hit);
}

void cRendererSurface::DrawCurve4(cHitTest* hit, double x1, double y1, double cx1, double cy1, double cx2, double cy2,
                                  double x2, double y2) {
  mScratch.Clear();
  mScratch.MoveTo(x1, y1);
  mScratch.Curve4(cx1, cy1, cx2, cy2, x2, y2);
  DrawScratch(2, hit);
}

void cRendererSurface::DrawRectangle(cHitTest* hit, double x1, double y1, double x2, double y2) {
  if (FillRectangleDirect(AsHitTest(hit), x1, y1, x2, y2)) return;
  mScratch.Clear();
  mScratch.MoveTo(x1, y1);
  mScratch.LineTo(x2, y1);
  mScratch.LineTo(x2, y2);
  mScratch.LineTo(x1, y2);
  mScratch.ClosePolygon();
  DrawScratch(3, hit);
}

void cRendererSurface::DrawRoundedRectangle(cHitTest* hit, double x1, double y1, double x2, double y2, double rx1,
                                            double ry1, double rx2, double ry2, double rx3, double ry3, double rx4,
                                            double ry4) {
  if (!finite_all({x1, y1, x2, y2, rx1, ry1, rx2, ry2, rx3, ry3, rx4, ry4})) return;
  mScratch.Clear();
  agg::rounded_rect rr(x1, y1, x2, y2, 0);
  // Radii count by their size. AGG's normalisation divides the sides by the
  // sums of the radii: a negative sum gave a negative factor that blew the
  // radii up to the size of the sides, and an arc that large never ends.
  rr.radius(std::fabs(rx1), std::fabs(ry1), std::fabs(rx2), std::fabs(ry2), std::fabs(rx3), std::fabs(ry3),
            std::fabs(rx4), std::fabs(ry4));
  rr.normalize_radius();
  rr.approximation_scale(
      ArcScale(TransformLength(1.0) * 2.0, std::max({std::fabs(rx1), std::fabs(ry1), std::fabs(rx2), std::fabs(ry2),
                                                     std::fabs(rx3), std::fabs(ry3), std::fabs(rx4), std::fabs(ry4)})));
  mScratch.GetStorage().concat_path(rr);
  DrawScratch(3, hit);
}

void cRendererSurface::DrawCircle(cHitTest* hit, double cx, double cy, double radius) {
  DrawEllipse(hit, cx, cy, radius, radius);
}

void cRendererSurface::DrawEllipse(cHitTest* hit, double cx, double cy, double rx, double ry) {
  if (!finite_all({cx, cy, rx, ry})) return;
  mScratch.Clear();
  agg::arc a(cx, cy, rx, ry, 2 * kPi, 0, false);
  a.approximation_scale(ArcScale(TransformLength(1.0) * 2.0, (std::fabs(rx) + std::fabs(ry)) / 2));
  mScratch.GetStorage().concat_path(a);
  mScratch.ClosePolygon();
  DrawScratch(3, hit);
}

// The arc from angle2 back to angle1, clockwise: it covers angle1 up to
// angle2 and starts at angle2's point.
bool cRendererSurface::BuildArc(double cx, double cy, double rx, double ry, double angle1, double angle2,
                                double scale) {
  mScratch.Clear();
  if (!finite_all({cx, cy, rx, ry})) return false;
  agg::arc a(cx, cy, rx, ry, radians_of(angle2), radians_of(angle1), false);
  a.approximation_scale(ArcScale(scale, (std::fabs(rx) + std::fabs(ry)) / 2));
  mScratch.GetStorage().concat_path(a);
  return true;
}

void cRendererSurface::DrawArc(cHitTest* hit, double cx, double cy, double rx, double ry, double angle1,
                               double angle2) {
  if (BuildArc(cx, cy, rx, ry, angle1, angle2, TransformLength(1.0) * 2.0)) DrawScratch(2, hit);
}

void cRendererSurface::DrawChord(cHitTest* hit, double cx, double cy, double rx, double ry, double angle1,
                                 double angle2) {
  if (!BuildArc(cx, cy, rx, ry, angle1, angle2, 1.0)) return;
  mScratch.ClosePolygon();
  DrawScratch(3, hit);
}

void cRendererSurface::DrawPie(cHitTest* hit, double cx, double cy, double rx, double ry, double angle1,
                               double angle2) {
  if (!BuildArc(cx, cy, rx, ry, angle1, angle2, 1.0)) return;
  mScratch.LineTo(cx, cy);
  mScratch.ClosePolygon();
  DrawScratch(3, hit);
}

void cRendererSurface::DrawSpiral(cHitTest* hit, double cx, double cy, double r1, double r2, double step,
                                  double startAngle) {
  mScratch.Clear();
  spiral_source s(cx, cy, r1, r2, step, startAngle);
  mScratch.GetStorage().concat_path(s);
  DrawScratch(2, hit);
}

void cRendererSurface::DrawPath(cPath* path, cHitTest* hit, double x, double y) {
  if (!object_identify(path, id_cPath)) return;
  SetCurrentPath(&path->GetStorage(), x, y);
  RenderPath(3, AsHitTest(hit), true, true, nullptr);
  SetCurrentPath(nullptr, 0, 0);
}
