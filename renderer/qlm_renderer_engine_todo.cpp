// Operations of the families still to be built: they do nothing and answer
// neutral values. Each moves to its family's source file when that family
// is built.
#include "qlm_renderer_engine.h"

// --- Binding and capture -----------------------------------------------------

// --- Transformations ---------------------------------------------------------

// --- Clipping ----------------------------------------------------------------

// --- Master and image parameters ---------------------------------------------

// --- Pen ---------------------------------------------------------------------
void cRendererSurface::SetDashStart(double) {}
void cRendererSurface::AddDash(double, double) {}
void cRendererSurface::PenDashed() {}
void cRendererSurface::PenDashOff() {}
void cRendererSurface::SetPenPatternCallback(tRendererPatternCallback, void*, double, double) {}
void cRendererSurface::SetPenPatternBitmap(cBitmap*, double, double) {}
double cRendererSurface::GetPenPatternScaledWidth() { return 0.0; }
double cRendererSurface::GetPenPatternTileHeight() { return 0.0; }
void cRendererSurface::SetPenPatternStart(double) {}
void cRendererSurface::PenPatternFromColor() {}

// --- Markers -----------------------------------------------------------------
void cRendererSurface::AddVertexMarkerCommand(uint8_t, double, double, double, double, double, double) {}
void cRendererSurface::SetVertexMarkers(bool, bool, bool) {}
void cRendererSurface::VertexMarkersOff() {}
void cRendererSurface::SetVertexMarkerScale(double) {}
void cRendererSurface::VertexMarkerScaleOff() {}
void cRendererSurface::AddEndMarkerCommand(uint8_t, double, double, double, double, double, double) {}
void cRendererSurface::EndMarkerOn() {}
bool cRendererSurface::EndMarkerOff() { return false; }
void cRendererSurface::AddStartMarkerCommand(uint8_t, double, double, double, double, double, double) {}
void cRendererSurface::StartMarkerOn() {}
bool cRendererSurface::StartMarkerOff() { return false; }
void cRendererSurface::SetMarkerScale(double) {}
void cRendererSurface::MarkerScaleOff() {}

// --- Fill --------------------------------------------------------------------

// --- Distortions -------------------------------------------------------------

// --- Shadows -----------------------------------------------------------------

// --- Text parameters ---------------------------------------------------------

// --- Snapshots ---------------------------------------------------------------

// --- Primitives and paths ----------------------------------------------------

// --- Images ------------------------------------------------------------------

// --- SVG ---------------------------------------------------------------------

// --- Override colour ---------------------------------------------------------

// --- Gouraud meshes ----------------------------------------------------------
