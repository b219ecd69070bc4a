// Where the kit's forms go: monitor lookup, placement within a reference
// form or a monitor, clamping to a monitor, and the caption the kit's
// dialogs start with.
#pragma once

#include <cstdint>
#include <string>

#include "ui_controls.h"

// The caption the message dialog and the print preview start with; empty
// unless a program sets it.
extern std::string gDialogCaption;

// rect := the bounds of the first monitor (in the screen's order) holding
// the point, and the point becomes relative to its top-left. When none
// holds it: rect := 0, 0, screen width, screen height (the window layer's
// screen) and the point is unchanged.
void monitor_rect_at(ui::TPoint& point, ui::TRect& rect);

// The placements of form_place (20 pixels from the edges for the corners);
// dialog_show adds cnPlaceAt, at a given left and top.
constexpr uint8_t cnPlaceCentre = 1, cnPlaceBottomLeft = 2, cnPlaceTopLeft = 3, cnPlaceBottomRight = 4,
                  cnPlaceTopRight = 5, cnPlaceAt = 6;

// Places a form within the reference form's rectangle, or without one the
// monitor holding the form's top-left, by one of the placements above.
// Other modes leave the form where it is.
void form_place(ui::TForm* form, const ui::TForm* reference, uint8_t mode);

// Moves the form to left, top (-1, -1: centred on the screen), pulled in so
// that its right edge stays 10 pixels and its bottom 35 pixels inside the
// monitor holding (left, top), and not left of or above that monitor.
void form_clamp_to_monitor(ui::TForm* form, int32_t left, int32_t top);
