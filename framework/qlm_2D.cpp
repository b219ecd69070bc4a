#include "qlm_2D.h"

#include <cmath>

#include "qlm_base_util.h"

namespace {
// pi/180 in extended precision.
constexpr long double kDegToRad = 3.14159265358979323846264338327950288L / 180.0L;

// Beyond this magnitude the angle is reduced with fmod: repeated additions
// would take billions of turns (or never end once 360 is below the value's
// precision). Below it the plain loop keeps results bit-identical to the
// step-by-step reduction.
constexpr double kLoopLimit = 1e6;
}  // namespace

void point_on_circle(double& x, double& y, double cx, double cy, double angle, double radius) {
  const long double r = radius;
  long double dx = 0;
  long double dy = 0;
  if ((angle >= 0 && angle < 90) || angle == 360) {
    const long double t = angle * kDegToRad;
    dx = cosl(t) * r;
    dy = sinl(t) * r;
  } else if (angle >= 90 && angle < 180) {
    const long double t = (angle - 90) * kDegToRad;
    dx = -(sinl(t) * r);
    dy = cosl(t) * r;
  } else if (angle >= 180 && angle < 270) {
    const long double t = (angle - 180) * kDegToRad;
    dx = -(cosl(t) * r);
    dy = -(sinl(t) * r);
  } else if (angle >= 270 && angle < 360) {
    const long double t = (angle - 270) * kDegToRad;
    dx = sinl(t) * r;
    dy = -(cosl(t) * r);
  }
  x = double(cx + dx);
  y = double(cy + dy);
}

bool segments_intersection(double& x, double& y, double x1, double y1, double x2, double y2, double x3, double y3,
                           double x4, double y4) {
  // Non-finite coordinates slip through every comparison below (they are all
  // false for NaN) and would report a meeting at a NaN point.
  for (double v : {x1, y1, x2, y2, x3, y3, x4, y4})
    if (!std::isfinite(v)) return false;

  // Bounding ranges on x, then on y. The comparisons are strict, so ranges
  // that only touch pass.
  const double ax = x2 - x1;
  const double bx = x3 - x4;
  double lo = ax < 0 ? x2 : x1;
  double hi = ax < 0 ? x1 : x2;
  if (bx > 0) {
    if (hi < x4 || x3 < lo) return false;
  } else if (hi < x3 || x4 < lo) {
    return false;
  }
  const double ay = y2 - y1;
  const double by = y3 - y4;
  lo = ay < 0 ? y2 : y1;
  hi = ay < 0 ? y1 : y2;
  if (by > 0) {
    if (hi < y4 || y3 < lo) return false;
  } else if (hi < y3 || y4 < lo) {
    return false;
  }

  const double cx = x1 - x3;
  const double cy = y1 - y3;
  const double d = by * cx - bx * cy;
  const double f = ay * bx - ax * by;
  if (f > 0) {
    if (d < 0 || d > f) return false;
  } else if (d > 0 || d < f) {
    return false;
  }
  const double e = ax * cy - ay * cx;
  if (f > 0) {
    if (e < 0 || e > f) return false;
  } else if (e > 0 || e < f) {
    return false;
  }

  const double denom = (-by) * ax - (-bx) * ay;
  if (!float_equal(denom, 0)) {
    const double u = (by * cx - bx * cy) / denom;
    x = x1 + u * ax;
    y = y1 + u * ay;
  } else if (float_equal((-cy) * ax, (-cx) * ay)) {
    // Parallel on one line: the start of the second segment.
    x = x3;
    y = y3;
  } else {
    x = x4;
    y = y4;
  }
  return true;
}

double normalize_angle(double angle) {
  if (!std::isfinite(angle)) return 0;
  if (angle > 360) {
    if (angle > kLoopLimit) {
      angle = std::fmod(angle, 360.0);  // exact, in [0, 360)
      return angle == 0 ? 360 : angle;
    }
    while (angle > 360) angle -= 360;
  } else {
    if (angle < -kLoopLimit) {
      angle = std::fmod(angle, 360.0);  // exact, in (-360, 0]
      return angle < 0 ? angle + 360 : 0;
    }
    while (angle < 0) angle += 360;
  }
  return angle;
}
