// Operations of the families still to be built: they do nothing and answer
// neutral values. Each moves to its family's source file when that family
// is built.
#include "qlm_renderer_engine.h"

// --- Binding and capture -----------------------------------------------------

// --- Transformations ---------------------------------------------------------

// --- Clipping ----------------------------------------------------------------

// --- Master and image parameters ---------------------------------------------

// --- Pen ---------------------------------------------------------------------

// --- Markers -----------------------------------------------------------------

// --- Fill --------------------------------------------------------------------

// --- Distortions -------------------------------------------------------------

// --- Shadows -----------------------------------------------------------------

// --- Text parameters ---------------------------------------------------------

// --- Snapshots ---------------------------------------------------------------

// --- Primitives and paths ----------------------------------------------------

// --- Images ------------------------------------------------------------------

// --- SVG ---------------------------------------------------------------------
void cRendererSurface::DrawSVG(cImageSVG*, const rMatrix*, double, double, cHitTest*) {}
void cRendererSurface::DrawSVGSized(cImageSVG*, cHitTest*, double, double, double, double) {}
void cRendererSurface::GetSVGBounds(cImageSVG*, const rMatrix*, double, double, uint8_t, rRectD&) {}
void cRendererSurface::GetSVGSizedBounds(cImageSVG*, uint8_t, double, double, double, double, rRectD&) {}

// --- Override colour ---------------------------------------------------------

// --- Gouraud meshes ----------------------------------------------------------
