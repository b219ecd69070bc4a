// cSurfaceTBitmap: a render target over the rows of a window-side bitmap
// (ui::TBitmap), so that a scene's renderer draws straight into the picture
// a control copies to its window. A thin adapter over the renderer's
// memory surface.
#pragma once

#include <cstdint>

#include "qlm_renderer_surface.h"
#include "ui_graphics.h"

class cSurfaceTBitmap : public cSurfaceMemory {
 public:
  // Binds the bitmap's rows: pf24bit as px24BGR, pf32bit as px32BGRA. With
  // topDown, surface row 0 is the bitmap's top row. An unchanged binding
  // (same rows, size, step, format and orientation) is kept as it is. No
  // bitmap, an empty one or another pixel format fails with 279, logged in
  // this surface's exception log; the surface is then not assigned.
  bool AttachBitmap(ui::TBitmap* bitmap, bool topDown);
};
