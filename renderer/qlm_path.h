// Paths and matrices: cPath (an AGG path_storage behind a pointer, with
// cached bounds), the rMatrix procedures, and the two vertex sources of the
// renderer's own (a polyline over a point array, a spiral).
#pragma once

#include <cmath>
#include <cstdint>
#include <memory>
#include <span>

#include "qlm_agg_forward.h"
#include "qlm_base_object.h"
#include "qlm_renderer_types.h"

// --- rMatrix -----------------------------------------------------------------
// Each procedure applies a new transformation after the existing one.
void matrix_identity(rMatrix& m);
void matrix_translate(rMatrix& m, double dx, double dy);
void matrix_rotate(rMatrix& m, double degrees);
void matrix_scale(rMatrix& m, double kx, double ky);
void matrix_skew(rMatrix& m, double ax, double ay);  // radians
void matrix_multiply(rMatrix& m, const rMatrix& n);  // m := m, then n
void matrix_transform(const rMatrix& m, double& x, double& y);
agg::trans_affine matrix_to_affine(const rMatrix& m);
rMatrix matrix_from_affine(const agg::trans_affine& a);

// --- cPath ---------------------------------------------------------------------
struct rPathBounds {
  double x1 = 0, y1 = 0, x2 = 0, y2 = 0;
};

class cPath : public cBase {
 public:
  cPath();
  ~cPath() override;
  cPath(const cPath&) = delete;
  cPath& operator=(const cPath&) = delete;
  bool Identify(uint32_t id) const override;

  agg::path_storage& GetStorage() { return *mStorage; }
  void Clear();
  void ClosePolygon();
  // The bounding box of the flattened path (curves count with their
  // approximated points); (0, 0, 0, 0) for an empty path. The same record is
  // answered until the path changes.
  const rPathBounds& GetBounds();
  void Transform(const rMatrix& m);
  void MoveTo(double x, double y);
  void LineTo(double x, double y);
  // An elliptical arc of the SVG path syntax to (x, y); rotation in degrees.
  void ArcTo(double rx, double ry, double rotation, bool largeArc, bool sweep, double x, double y);
  void Curve3(double cx, double cy, double x, double y);
  void Curve4(double c1x, double c1y, double c2x, double c2y, double x, double y);
  // Clears and copies the source's vertices; nil or the path itself changes
  // nothing.
  void Assign(const cPath* source);

  // A user of the path may hang its own derived data on it: an object and a
  // memory block, owned by the path and freed with it. Both stay nil until a
  // user sets them; what they hold is that user's business.
  cBase* GetCacheObject() const { return mCacheObject.get(); }
  void SetCacheObject(std::unique_ptr<cBase> object) { mCacheObject = std::move(object); }
  uint8_t* GetCacheBlock() const { return mCacheBlock.get(); }
  size_t GetCacheBlockSize() const { return mCacheBlockSize; }
  void SetCacheBlock(std::unique_ptr<uint8_t[]> block, size_t size) {
    mCacheBlock = std::move(block);
    mCacheBlockSize = mCacheBlock ? size : 0;
  }

 private:
  void Changed() { mBounds.reset(); }
  std::unique_ptr<agg::path_storage> mStorage;
  std::unique_ptr<rPathBounds> mBounds;
  std::unique_ptr<cBase> mCacheObject;
  std::unique_ptr<uint8_t[]> mCacheBlock;
  size_t mCacheBlockSize = 0;
};

// --- Vertex sources --------------------------------------------------------------
// The points of an array (x, y pairs) as a move and lines, then an end of polygon (closed
// when asked); snapping puts each point on a pixel centre.
class polyline_source {
 public:
  polyline_source(std::span<const double> xy, bool snap, bool closed) : mXY(xy), mSnap(snap), mClosed(closed) {}
  void rewind(unsigned) { mIndex = 0; }
  unsigned vertex(double* x, double* y);

 private:
  std::span<const double> mXY;
  bool mSnap;
  bool mClosed;
  size_t mIndex = 0;
};

// A spiral from radius r1 outwards to r2: every vertex turns 8 degrees and
// grows the radius by step / 45. A step that is not positive and finite, or
// a walk of more than cnMaxSpiralVertices vertices, yields nothing.
constexpr uint32_t cnMaxSpiralVertices = 1000000;
class spiral_source {
 public:
  spiral_source(double cx, double cy, double r1, double r2, double step, double startDegrees);
  void rewind(unsigned);
  unsigned vertex(double* x, double* y);

 private:
  double mX, mY, mR1, mR2, mStep, mStart;
  double mAngle = 0, mRadius = 0;
  bool mFirst = true;
  bool mUsable = false;
};
