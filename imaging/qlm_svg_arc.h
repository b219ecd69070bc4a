// SVG elliptical arcs on AGG's path storage.
#pragma once

#include <agg_basics.h>
#include <agg_path_storage.h>

#include <cmath>

// An elliptical arc from the current point to (x, y), as path data's arc
// command draws it (angle in radians). Radii too small to reach from the
// current point to (x, y) are scaled up, both by the same factor, until the
// ellipse just spans the chord: the arc is then half an ellipse whatever
// the factor. AGG's arc_to scales them only while the factor stays below
// about 3.16 (sqrt of 10) and draws a straight line beyond, so the scaling
// is done here first. Everything else is arc_to's: absolute radii, a line
// for a radius below 1e-30, nothing for an end on the current point, a move
// without a current point.
inline void svg_arc_to(agg::path_storage& ps, double rx, double ry, double angle, bool large_arc, bool sweep, double x,
                       double y) {
  double x0 = 0, y0 = 0;
  rx = std::fabs(rx);
  ry = std::fabs(ry);
  if (ps.total_vertices() != 0 && agg::is_vertex(ps.last_vertex(&x0, &y0)) && rx >= 1e-30 && ry >= 1e-30) {
    // The half chord in the ellipse's own axes; the ellipse reaches it when
    // (x1 / rx)^2 + (y1 / ry)^2 <= 1.
    const double c = std::cos(angle), s = std::sin(angle);
    const double dx = (x0 - x) / 2, dy = (y0 - y) / 2;
    const double x1 = c * dx + s * dy, y1 = -s * dx + c * dy;
    const double qx = x1 / rx, qy = y1 / ry;
    const double lambda = qx * qx + qy * qy;
    if (lambda > 1 && std::isfinite(lambda)) {
      const double k = std::sqrt(lambda);
      if (std::isfinite(rx * k) && std::isfinite(ry * k)) {
        rx *= k;
        ry *= k;
      }
    }
  }
  ps.arc_to(rx, ry, angle, large_arc, sweep, x, y);
}

// The same with the end point relative to the last vertex.
inline void svg_arc_rel(agg::path_storage& ps, double rx, double ry, double angle, bool large_arc, bool sweep,
                        double dx, double dy) {
  ps.rel_to_abs(&dx, &dy);
  svg_arc_to(ps, rx, ry, angle, large_arc, sweep, dx, dy);
}
