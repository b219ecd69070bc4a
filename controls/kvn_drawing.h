// What the kit's controls paint with: the colour of a parent container and
// a crisp one-pixel frame.
#pragma once

#include <cstdint>

#include "ui_controls.h"

// For a form, a panel or a cScrollBox: colour := its Color as an opaque
// framework colour. Any other control (or none) leaves colour unchanged.
void container_color(const ui::TControl* control, uint32_t& color);

class cRenderer;
// A crisp one-pixel frame of the colour around a width x height area
// (pixel snap 0.5, pen width 1, no fill).
void draw_crisp_frame(cRenderer& r, int32_t width, int32_t height, uint32_t color);
