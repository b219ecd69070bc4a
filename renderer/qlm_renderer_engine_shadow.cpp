// Shadows: the mask of a shape (or a whole path group) moved and shaped by
// the shadow kind, blurred, and blended in the shadow colour or through the
// colour table.
#include "qlm_renderer_engine.h"

bool cRendererSurface::ReduceShadowFlags(bool&, bool&, bool&) const { return false; }
void cRendererSurface::RenderShadow(bool, bool, bool, rShadowSources&) {}
void cRendererSurface::RenderGroupShadow(cPathGroup*) {}
