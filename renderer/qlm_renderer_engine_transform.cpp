// Transformations: the stage list with its folding rule, viewports, the
// device matrix, and every point and length mapping.
#include <cmath>

#include "qlm_2D.h"
#include "qlm_renderer_engine.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

bool finite(std::initializer_list<double> values) {
  for (double v : values)
    if (!std::isfinite(v)) return false;
  return true;
}

agg::trans_affine affine_of(const rTransformStage& s) {
  return agg::trans_affine(s.affine[0], s.affine[1], s.affine[2], s.affine[3], s.affine[4], s.affine[5]);
}

void store_affine(rTransformStage& s, const agg::trans_affine& m) {
  s.affine[0] = m.sx;
  s.affine[1] = m.shy;
  s.affine[2] = m.shx;
  s.affine[3] = m.sy;
  s.affine[4] = m.tx;
  s.affine[5] = m.ty;
}

// An affine matrix that can be inverted: a determinant of 0 (or one whose
// reciprocal overflows) cannot.
bool invertible(const agg::trans_affine& m) {
  const double d = m.determinant();
  return d != 0 && std::isfinite(1.0 / d);
}

void affine_inverse(const agg::trans_affine& m, double& x, double& y) {
  if (invertible(m)) m.inverse_transform(&x, &y);
}

// Each of the six values within 1e-14 of the identity's. AGG's own test
// compares through frexp and ldexp, which cost more per call than drawing a
// small shape does, and it is asked on every draw.
bool is_identity(const agg::trans_affine& m) {
  constexpr double e = 1e-14;
  return std::fabs(m.sx - 1) < e && std::fabs(m.sy - 1) < e && std::fabs(m.shx) < e && std::fabs(m.shy) < e &&
         std::fabs(m.tx) < e && std::fabs(m.ty) < e;
}

}  // namespace

// --- Stages ------------------------------------------------------------------------

void rTransformStage::Forward(double& x, double& y) const {
  switch (kind) {
    case 0: affine_of(*this).transform(&x, &y); break;
    case 1: {
      qlm_agg::perspective p;
      p.load_from(persp);
      p.transform(&x, &y);
      break;
    }
    case 2: {
      agg::trans_bilinear b(rect[0], rect[1], rect[2], rect[3], quad);
      if (b.is_valid()) b.transform(&x, &y);
      break;
    }
    case 3: {
      agg::trans_warp_magnifier w;
      w.center(warp[0], warp[1]);
      w.magnification(warp[2]);
      w.radius(warp[3]);
      w.transform(&x, &y);
      break;
    }
    default: break;
  }
}

void rTransformStage::Inverse(double& x, double& y) const {
  switch (kind) {
    case 0: affine_inverse(affine_of(*this), x, y); break;
    case 1: {
      qlm_agg::perspective p;
      p.load_from(persp);
      if (p.invert()) p.transform(&x, &y);
      break;
    }
    case 2: {
      // AGG's bilinear transform has no inverse: map the quadrilateral back
      // onto the rectangle (exact at the corners, approximate inside).
      agg::trans_bilinear b(quad, rect[0], rect[1], rect[2], rect[3]);
      if (b.is_valid()) b.transform(&x, &y);
      break;
    }
    case 3: {
      agg::trans_warp_magnifier w;
      w.center(warp[0], warp[1]);
      w.magnification(warp[2]);
      w.radius(warp[3]);
      w.inverse_transform(&x, &y);
      break;
    }
    default: break;
  }
}

void cTransformations::MapPoint(double& x, double& y, bool all) const {
  const agg::trans_affine m(matrix.sx, matrix.shy, matrix.shx, matrix.sy, matrix.tx, matrix.ty);
  if (!is_identity(m)) affine_inverse(m, x, y);
  // Back through the stages from the last to the first.
  for (auto it = stages.rbegin(); it != stages.rend(); ++it)
    if (it->kind == 0 || all) it->Inverse(x, y);
}

// --- The list --------------------------------------------------------------------------

void cRendererSurface::AddAffine(const agg::trans_affine& m, bool update_scales) {
  if (!finite({m.sx, m.shy, m.shx, m.sy, m.tx, m.ty})) return;
  if (!mTransform.stages.empty() && mTransform.stages.back().kind == 0) {
    agg::trans_affine stage = affine_of(mTransform.stages.back());
    stage *= m;  // the stage, then m
    // A product that overflows would turn every later point into NaN.
    if (!finite({stage.sx, stage.shy, stage.shx, stage.sy, stage.tx, stage.ty})) return;
    store_affine(mTransform.stages.back(), stage);
  } else {
    rTransformStage s;
    store_affine(s, m);
    mTransform.stages.push_back(s);
    RebuildPipeline();
  }
  if (update_scales) UpdateApproximation();
}

void cRendererSurface::AddStage(const rTransformStage& stage) {
  mTransform.stages.push_back(stage);
  RebuildPipeline();
  UpdateApproximation();
}

void cRendererSurface::RebuildPipeline() {
  mNonLinear = false;
  for (const rTransformStage& s : mTransform.stages)
    if (s.kind != 0) mNonLinear = true;
  ++mRebuildCount;
}

void cRendererSurface::UpdateApproximation() {
  mApproxScale = qlm_agg::approximation_scale_checked(TransformLength(1.0) * 2.0);
  ++mScaleUpdateCount;
}

void cRendererSurface::MapForward(double& x, double& y, bool list, bool all, bool device) const {
  if (list)
    for (const rTransformStage& s : mTransform.stages)
      if (s.kind == 0 || all) s.Forward(x, y);
  if (device && !is_identity(mDevice)) mDevice.transform(&x, &y);
}

void cRendererSurface::MapInverse(double& x, double& y, bool list, bool all, bool device) const {
  if (device && !is_identity(mDevice)) affine_inverse(mDevice, x, y);
  // The stages are undone from the last to the first.
  if (list)
    for (auto it = mTransform.stages.rbegin(); it != mTransform.stages.rend(); ++it)
      if (it->kind == 0 || all) it->Inverse(x, y);
}

double cRendererSurface::TransformLengthForClip(double v) const {
  return LengthMeasure(v, [this](double& x, double& y) {
    matrix_to_affine(mTransform.viewport).transform(&x, &y);
    mDevice.transform(&x, &y);
  });
}

void cRendererSurface::TransformPathByList(agg::path_storage& path) const {
  struct list_transformer {
    const std::vector<rTransformStage>* stages;
    void transform(double* x, double* y) const {
      for (const rTransformStage& s : *stages) s.Forward(*x, *y);
    }
  } t{&mTransform.stages};
  path.transform_all_paths(t);
}

void rTransformChain::transform_steps(double* x, double* y) const {
  for (size_t i = 0; i < count; ++i) {
    const rChainOp& op = ops[i];
    switch (op.kind) {
      case 0: op.affine.transform(x, y); break;
      case 1: op.persp.transform(x, y); break;
      case 2:
        if (op.bilinear.is_valid()) op.bilinear.transform(x, y);
        break;
      default: op.warp.transform(x, y); break;
    }
  }
}

rTransformChain cRendererSurface::Chain(bool list) const {
  mChainOps.clear();
  agg::trans_affine pending = mPosition;  // affine steps folded so far
  auto flush = [&] {
    if (is_identity(pending)) return;
    rChainOp op;
    op.affine = pending;
    mChainOps.push_back(op);
    pending.reset();
  };
  if (list)
    for (const rTransformStage& s : mTransform.stages) {
      if (s.kind == 0) {
        pending *= affine_of(s);
        continue;
      }
      flush();
      rChainOp op;
      op.kind = s.kind;
      if (s.kind == 1) op.persp.load_from(s.persp);
      if (s.kind == 2) op.bilinear = agg::trans_bilinear(s.rect[0], s.rect[1], s.rect[2], s.rect[3], s.quad);
      if (s.kind == 3) {
        op.warp.center(s.warp[0], s.warp[1]);
        op.warp.magnification(s.warp[2]);
        op.warp.radius(s.warp[3]);
      }
      mChainOps.push_back(op);
    }
  pending *= mDevice;
  flush();
  rTransformChain chain{mChainOps.data(), mChainOps.size()};
  if (chain.count == 0 || (chain.count == 1 && mChainOps[0].kind == 0)) {
    chain.only_affine = true;
    if (chain.count == 1) chain.affine = mChainOps[0].affine;
  }
  return chain;
}

// --- Operations --------------------------------------------------------------------

void cRendererSurface::SetViewport(uint8_t align, double wx1, double wy1, double wx2, double wy2, double dx1,
                                   double dy1, double dx2, double dy2) {
  if (!finite({wx1, wy1, wx2, wy2, dx1, dy1, dx2, dy2})) return;
  agg::trans_viewport vp;
  vp.world_viewport(wx1, wy1, wx2, wy2);
  vp.device_viewport(dx1, dy1, dx2, dy2);
  static constexpr double kAlign[9][2] = {{0, 0},   {0.5, 0}, {1, 0},   {0, 0.5}, {0.5, 0.5},
                                          {1, 0.5}, {0, 1},   {0.5, 1}, {1, 1}};
  if (align == 0)
    vp.preserve_aspect_ratio(0.5, 0.5, agg::aspect_ratio_stretch);
  else if (align <= 9)
    vp.preserve_aspect_ratio(kAlign[align - 1][0], kAlign[align - 1][1], agg::aspect_ratio_meet);
  if (!vp.is_valid()) return;  // an empty world or device rectangle
  const agg::trans_affine m = vp.to_affine();
  if (!finite({m.sx, m.shy, m.shx, m.sy, m.tx, m.ty})) return;
  mTransform.viewport = matrix_from_affine(matrix_to_affine(mTransform.viewport) * m);
  AddAffine(m, true);
}

void cRendererSurface::Translate(double dx, double dy) { AddAffine(agg::trans_affine_translation(dx, dy), false); }

void cRendererSurface::Rotate(double angle) {
  if (!std::isfinite(angle)) return;
  AddAffine(agg::trans_affine_rotation(normalize_angle(angle) * kPi / 180.0), false);
}

void cRendererSurface::Scale(double sx, double sy) { AddAffine(agg::trans_affine_scaling(sx, sy), true); }

void cRendererSurface::Skew(double x, double y) {
  if (!finite({x, y})) return;
  AddAffine(agg::trans_affine_skewing(x, y), false);
}

void cRendererSurface::Reflect(double x, double y) {
  // Across the line through the origin in direction (x, y); without a
  // direction there is no line.
  if (!finite({x, y}) || (x == 0 && y == 0) || !std::isfinite(std::hypot(x, y))) return;
  AddAffine(agg::trans_affine_reflection(x, y), false);
}

void cRendererSurface::MultiplyMatrix(const rMatrix& m) {
  AddAffine(agg::trans_affine(m.sx, m.shy, m.shx, m.sy, m.tx, m.ty), true);
}

void cRendererSurface::AddPerspective(const double* quad, double x1, double y1, double x2, double y2) {
  if (quad == nullptr || !finite({x1, y1, x2, y2})) return;
  for (int i = 0; i < 8; ++i)
    if (!std::isfinite(quad[i])) return;
  qlm_agg::perspective p;
  if (!p.rect_to_quad(x1, y1, x2, y2, quad) || !p.is_valid()) return;
  rTransformStage s;
  s.kind = 1;
  p.store_to(s.persp);
  for (double v : s.persp)
    if (!std::isfinite(v)) return;
  AddStage(s);
}

void cRendererSurface::AddBilinear(const double* quad, double x1, double y1, double x2, double y2) {
  if (quad == nullptr || !finite({x1, y1, x2, y2})) return;
  for (int i = 0; i < 8; ++i)
    if (!std::isfinite(quad[i])) return;
  if (!agg::trans_bilinear(x1, y1, x2, y2, quad).is_valid()) return;
  rTransformStage s;
  s.kind = 2;
  for (int i = 0; i < 8; ++i) s.quad[i] = quad[i];
  s.rect[0] = x1;
  s.rect[1] = y1;
  s.rect[2] = x2;
  s.rect[3] = y2;
  AddStage(s);
}

void cRendererSurface::AddWarpMagnifier(double cx, double cy, double magnification, double radius) {
  // A radius or magnification of 0 or below divides by zero in the mapping.
  if (!finite({cx, cy, magnification, radius}) || !(magnification > 0) || !(radius > 0)) return;
  rTransformStage s;
  s.kind = 3;
  s.warp[0] = cx;
  s.warp[1] = cy;
  s.warp[2] = magnification;
  s.warp[3] = radius;
  AddStage(s);
}

void cRendererSurface::TransformPoint(double& x, double& y, bool all) { MapForward(x, y, true, all, true); }
void cRendererSurface::InverseTransformPoint(double& x, double& y, bool all) { MapInverse(x, y, true, all, true); }
double cRendererSurface::TransformLength(double length) {
  return LengthMeasure(length, [this](double& x, double& y) { MapForward(x, y, true, false, true); });
}
double cRendererSurface::InverseTransformLength(double length) {
  return LengthMeasure(length, [this](double& x, double& y) { MapInverse(x, y, true, false, true); });
}
void cRendererSurface::TransformPointNonLinear(double& x, double& y) { MapForward(x, y, true, true, false); }
void cRendererSurface::InverseTransformPointNonLinear(double& x, double& y) { MapInverse(x, y, true, true, false); }
double cRendererSurface::TransformLengthNonLinear(double length) {
  return LengthMeasure(length, [this](double& x, double& y) { MapForward(x, y, true, true, false); });
}
double cRendererSurface::InverseTransformLengthNonLinear(double length) {
  return LengthMeasure(length, [this](double& x, double& y) { MapInverse(x, y, true, true, false); });
}
void cRendererSurface::TransformPointAffine(double& x, double& y) { MapForward(x, y, false, false, true); }
void cRendererSurface::InverseTransformPointAffine(double& x, double& y) { MapInverse(x, y, false, false, true); }
double cRendererSurface::TransformLengthAffine(double length) {
  return LengthMeasure(length, [this](double& x, double& y) { MapForward(x, y, false, false, true); });
}
double cRendererSurface::InverseTransformLengthAffine(double length) {
  return LengthMeasure(length, [this](double& x, double& y) { MapInverse(x, y, false, false, true); });
}

bool cRendererSurface::IsTransformed() {
  for (const rTransformStage& s : mTransform.stages)
    if (s.kind != 0 || !is_identity(affine_of(s))) return true;
  return false;
}

void cRendererSurface::ResetTransformations(bool reapply) {
  mTransform = TransformState{};
  if (reapply) {
    RebuildPipeline();
    UpdateApproximation();
  }
}

void cRendererSurface::SetMatrix(const rMatrix& m, bool reapply) {
  if (!finite({m.sx, m.shy, m.shx, m.sy, m.tx, m.ty})) return;
  mDevice = agg::trans_affine(m.sx, m.shy, m.shx, m.sy, m.tx, m.ty);
  if (mOriginSet) mDevice *= agg::trans_affine_translation(mOriginX, mOriginY);
  RebuildPipeline();
  if (reapply) UpdateApproximation();
}

void cRendererSurface::ResetMatrix(bool reapply) {
  mDevice.reset();
  if (mOriginSet) mDevice *= agg::trans_affine_translation(mOriginX, mOriginY);
  if (reapply) {
    RebuildPipeline();
    UpdateApproximation();
  }
}

const rMatrix& cRendererSurface::GetMatrix() {
  mMatrixCopy = rMatrix{mDevice.sx, mDevice.shy, mDevice.shx, mDevice.sy, mDevice.tx, mDevice.ty};
  return mMatrixCopy;
}
