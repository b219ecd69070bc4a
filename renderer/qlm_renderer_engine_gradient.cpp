// Gradients in the renderer: the pen's gradient operations and the gradient
// painter (RenderGradientSpans) of fills and pens.
#include "qlm_gradient.h"
#include "qlm_renderer_engine.h"

// --- The pen's gradient ------------------------------------------------------------

void cRendererSurface::SetPenGradient(cGradient* gradient) {
  // A nil, invalid or unknown gradient leaves the kind 0: the pen strokes in
  // its colour. The pen's kind is not changed.
  mPen.gradient_kind = 0;
  const uint8_t kind = gradient_kind_of(gradient);
  if (kind == 0) return;
  mPen.gradient = gradient;
  mPen.gradient_kind = kind;
  mPen.gradient_active = true;
}

void cRendererSurface::ReapplyPenGradient() {
  // The gradient is borrowed: a caller frees it only after resetting it.
  if (mPen.gradient != nullptr) SetPenGradient(mPen.gradient);
}
