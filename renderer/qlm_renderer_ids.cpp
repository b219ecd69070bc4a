// The renderer module's start: its type ids in their fixed order.
#include "qlm_renderer_ids.h"

#include "qlm_base_object.h"
#include "qlm_bitmap.h"
#include "qlm_font_resolver.h"
#include "qlm_jng.h"

uint32_t id_cSurface = 0;
uint32_t id_cSurfaceBitmap = 0;
uint32_t id_cRendererUnused1 = 0;
uint32_t id_cTransformations = 0;
uint32_t id_cHitTest = 0;
uint32_t id_cPath = 0;
uint32_t id_cFont = 0;
uint32_t id_cPathGroup = 0;
uint32_t id_cGradient = 0;
uint32_t id_cGradientColorRamp = 0;
uint32_t id_cGradientLinearX = 0;
uint32_t id_cGradientLinearY = 0;
uint32_t id_cGradientKind3 = 0;
uint32_t id_cGradientKind4 = 0;
uint32_t id_cGradientKind5 = 0;
uint32_t id_cGradientKind6 = 0;
uint32_t id_cGradientKind7 = 0;
uint32_t id_cGradientKind8 = 0;
uint32_t id_cGradientRadialFocus = 0;
uint32_t id_cGradientKind10 = 0;
uint32_t id_cGradientKind11 = 0;
uint32_t id_cGradientKind12 = 0;
uint32_t id_cRendererUnused2 = 0;
uint32_t id_cGouraudMesh = 0;
uint32_t id_cGradientKind13 = 0;
uint32_t id_cGradientKind14 = 0;

void qlm_renderer_start() {
  qlm_bitmap_start();
  qlm_font_start();
  qlm_jng_start();  // image_load's codecs (JNG starts PNG and JPEG)
  if (id_cSurface != 0) return;
  // clang-format off
  for (uint32_t* id : {&id_cSurface, &id_cSurfaceBitmap, &id_cRendererUnused1, &id_cTransformations, &id_cHitTest,
                       &id_cPath, &id_cFont, &id_cPathGroup, &id_cGradient, &id_cGradientColorRamp,
                       &id_cGradientLinearX, &id_cGradientLinearY, &id_cGradientKind3, &id_cGradientKind4,
                       &id_cGradientKind5, &id_cGradientKind6, &id_cGradientKind7, &id_cGradientKind8,
                       &id_cGradientRadialFocus, &id_cGradientKind10, &id_cGradientKind11, &id_cGradientKind12,
                       &id_cRendererUnused2, &id_cGouraudMesh, &id_cGradientKind13, &id_cGradientKind14})
    // clang-format on
    new_type_id(*id);
}

void qlm_renderer_stop() {}
