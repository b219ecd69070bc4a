// The renderer module's type ids: 26 consecutive ids taken from the
// framework's counter when the module starts, in a fixed order. Only their
// uniqueness matters.
#pragma once

#include <cstdint>

extern uint32_t id_cSurface;
extern uint32_t id_cSurfaceBitmap;
extern uint32_t id_cRendererUnused1;
extern uint32_t id_cTransformations;
extern uint32_t id_cHitTest;
extern uint32_t id_cPath;
extern uint32_t id_cFont;
extern uint32_t id_cPathGroup;
extern uint32_t id_cGradient;
extern uint32_t id_cGradientColorRamp;
extern uint32_t id_cGradientLinearX;
extern uint32_t id_cGradientLinearY;
extern uint32_t id_cGradientKind3;  // kinds 3..8: reserved, no classes
extern uint32_t id_cGradientKind4;
extern uint32_t id_cGradientKind5;
extern uint32_t id_cGradientKind6;
extern uint32_t id_cGradientKind7;
extern uint32_t id_cGradientKind8;
extern uint32_t id_cGradientRadialFocus;
extern uint32_t id_cGradientKind10;  // kinds 10..12: reserved
extern uint32_t id_cGradientKind11;
extern uint32_t id_cGradientKind12;
extern uint32_t id_cRendererUnused2;
extern uint32_t id_cGouraudMesh;
extern uint32_t id_cGradientKind13;  // kinds 13..14: reserved
extern uint32_t id_cGradientKind14;

// Takes the 26 ids (once per process) and the imaging ids the renderer
// relies on. Call it after framework_start.
void qlm_renderer_start();
void qlm_renderer_stop();
