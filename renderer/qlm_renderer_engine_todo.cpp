// Operations of the families still to be built: they do nothing and answer
// neutral values. Each moves to its family's source file when that family
// is built.
#include "qlm_renderer_engine.h"

// --- Binding and capture -----------------------------------------------------
bool cRendererSurface::SetCaptureGroup(cPathGroup*, bool) { return false; }
void cRendererSurface::ClearCaptureGroup() {}
cPathGroup* cRendererSurface::GetCaptureGroup() { return nullptr; }
bool cRendererSurface::IsCaptureOnly() { return false; }

// --- Transformations ---------------------------------------------------------

// --- Clipping ----------------------------------------------------------------
void cRendererSurface::ClipPathGroup(cPathGroup*, double, double) {}

// --- Master and image parameters ---------------------------------------------

// --- Pen ---------------------------------------------------------------------
void cRendererSurface::ReapplyPenGradient() {}
void cRendererSurface::SetPenGradient(cGradient*) {}

// --- Markers -----------------------------------------------------------------

// --- Fill --------------------------------------------------------------------

// --- Distortions -------------------------------------------------------------

// --- Shadows -----------------------------------------------------------------
void cRendererSurface::SetShadowColorRamp(cGradientColorRamp*) {}

// --- Text parameters ---------------------------------------------------------

// --- Snapshots ---------------------------------------------------------------

// --- Primitives and paths ----------------------------------------------------
void cRendererSurface::DrawPathGroup(cPathGroup*, cHitTest*, double, double) {}

// --- Text --------------------------------------------------------------------
void cRendererSurface::DrawText(const rTextView&, double, double, cHitTest*) {}
void cRendererSurface::DrawTextOnPath(cPath*, const rTextView&, bool, double, bool, bool, cHitTest*) {}
void cRendererSurface::TextOnPathBounds(cPath*, const rTextView&, bool, double, bool, bool, rRectD&) {}
void cRendererSurface::DrawTextBetweenPaths(cPath*, cPath*, const rTextView&, bool, double, bool, bool, cHitTest*) {}
void cRendererSurface::TextBetweenPathsBounds(cPath*, cPath*, const rTextView&, bool, double, bool, bool, rRectD&) {}

// --- Images ------------------------------------------------------------------
void cRendererSurface::DrawImage(cBase*, bool, double, double, double, double, cHitTest*) {}
void cRendererSurface::DrawImageRect(cBase*, int32_t, int32_t, int32_t, int32_t, double, double, double, double, bool, cHitTest*) {}
void cRendererSurface::DrawImageParallelogram(cBase*, double, double, double, double, double, double, bool, cHitTest*) {}
void cRendererSurface::DrawImageRectParallelogram(cBase*, int32_t, int32_t, int32_t, int32_t, double, double, double, double, double, double, bool, cHitTest*) {}
void cRendererSurface::DrawImageInPath(cBase*, cPath*, bool, cHitTest*) {}
void cRendererSurface::DrawImageInPathAt(cBase*, cPath*, double, double, bool, cHitTest*) {}
void cRendererSurface::DrawImageRectInPath(cBase*, cPath*, int32_t, int32_t, int32_t, int32_t, bool, cHitTest*) {}
void cRendererSurface::DrawImageRectInPathAt(cBase*, cPath*, double, double, int32_t, int32_t, int32_t, int32_t, bool, cHitTest*) {}

// --- SVG ---------------------------------------------------------------------
void cRendererSurface::DrawSVG(cImageSVG*, const rMatrix*, double, double, cHitTest*) {}
void cRendererSurface::DrawSVGSized(cImageSVG*, cHitTest*, double, double, double, double) {}
void cRendererSurface::GetSVGBounds(cImageSVG*, const rMatrix*, double, double, uint8_t, rRectD&) {}
void cRendererSurface::GetSVGSizedBounds(cImageSVG*, uint8_t, double, double, double, double, rRectD&) {}

// --- Override colour ---------------------------------------------------------

// --- Gouraud meshes ----------------------------------------------------------
