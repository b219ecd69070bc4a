// What the kit's controls and dialogs share: the colour of a parent
// container, monitor lookup and form placement, the folder dialog and the
// dialogs' caption text.
#pragma once

#include <cstdint>
#include <string>

#include "ui_controls.h"

// The caption the message dialog and the print preview start with; empty
// unless a program sets it.
extern std::string gDialogCaption;

// For a form, a panel or a cScrollBox: colour := its Color as an opaque
// framework colour. Any other control (or none) leaves colour unchanged.
void container_color(const ui::TControl* control, uint32_t& color);

// rect := the bounds of the first monitor (in the screen's order) holding
// the point, and the point becomes relative to its top-left. When none
// holds it: rect := 0, 0, screen width, screen height (the window layer's
// screen) and the point is unchanged.
void monitor_rect_at(ui::TPoint& point, ui::TRect& rect);

// Places a form within the reference form's rectangle, or without one the
// monitor holding the form's top-left: 1 centre, 2 bottom left, 3 top left,
// 4 bottom right, 5 top right (20 pixels from the edges). Other modes
// leave the form where it is.
void form_place(ui::TForm* form, const ui::TForm* reference, uint8_t mode);

// Moves the form to left, top (-1, -1: centred on the screen), pulled in so
// that its right edge stays 10 pixels and its bottom 35 pixels inside the
// monitor holding (left, top), and not left of or above that monitor.
void form_clamp_to_monitor(ui::TForm* form, int32_t left, int32_t top);

// The folder dialog: path := the chosen folder, or empty when cancelled or
// when the dialog could not be shown. An empty initial folder preselects
// nothing.
void folder_browse(const std::string& title, const std::string& initialFolder, bool allowNewFolder,
                   std::string& path);
