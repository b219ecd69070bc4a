// Plane geometry on double-precision coordinates: the point at an angle and
// distance from a centre, the meeting point of two line segments, and the
// reduction of an angle in degrees into one turn. No state, no allocation.
// Angles are in degrees; with the screen's y axis pointing down, growing
// angles turn clockwise.
#pragma once

// x := cx + r·cos(angle), y := cy + r·sin(angle) for an angle from 0 to 360
// (inclusive). Each quadrant has its own formula so that points on the axes
// come out exact (90 gives an x offset of exactly 0). Any other angle, NaN
// included, gives the centre itself: bring angles into range first with
// normalize_angle.
void point_on_circle(double& x, double& y, double cx, double cy, double angle, double radius);

// True when segment (x1, y1)-(x2, y2) meets segment (x3, y3)-(x4, y4), with
// the meeting point stored in x, y; false otherwise, with x, y untouched.
// Segments that only touch (at an end point or along their bounding boxes'
// edges) meet. Parallel segments that meet report the start of the second
// segment when they lie on one line (even where it is not on the first), else
// its end. A coordinate that is not a finite number never meets.
bool segments_intersection(double& x, double& y, double x1, double y1, double x2, double y2, double x3, double y3,
                           double x4, double y4);

// Brings an angle into one turn: above 360 the result lies in (0, 360] (720
// gives 360), below 0 in [0, 360); 0 to 360 are returned unchanged. A value
// that is not a finite number gives 0.
double normalize_angle(double angle);
