// What the renderer needs of a Gouraud-shaded triangle mesh: its type test,
// bounding box, dilation and gamma values, and a walk over its triangles.
// No mesh class of this system implements it yet; tests do.
#pragma once

#include <cstdint>

#include "qlm_base_object.h"
#include "qlm_base_util.h"

struct rGouraudTriangle {
  double x[3] = {0, 0, 0};
  double y[3] = {0, 0, 0};
  uint8_t rgba[3][4] = {};  // red, green, blue, alpha of each vertex
};

class cGouraudMesh : public cBase {
 public:
  bool Identify(uint32_t id) const override;
  // False when the mesh has no valid box.
  virtual bool GetBounds(rRectD& box) const = 0;
  virtual double Dilation() const = 0;
  virtual double Gamma() const = 0;
  // The first triangle, then each following one; false past the last.
  virtual bool FirstTriangle(rGouraudTriangle& t) = 0;
  virtual bool NextTriangle(rGouraudTriangle& t) = 0;
};
