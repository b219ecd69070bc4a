// What the kit's controls and dialogs share: the colour of a parent
// container, monitor lookup and form placement, the folder dialog and the
// dialogs' caption text.
#pragma once

#include <cstdint>
#include <functional>
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

// The folder dialog: path := the chosen folder, or empty when cancelled or
// when the dialog could not be shown. An empty initial folder preselects
// nothing.
void folder_browse(const std::string& title, const std::string& initialFolder, bool allowNewFolder,
                   std::string& path);

class cRenderer;
// A crisp one-pixel frame of the colour around a width x height area
// (pixel snap 0.5, pen width 1, no fill).
void draw_crisp_frame(cRenderer& r, int32_t width, int32_t height, uint32_t color);

// Registers the kit's pictures (resources/ui) in the resource registry as
// "..\<file name>"; call once at start, before cursors_load.
void controls_register_pictures();

// The cursor slots and the picture each is loaded from.
struct rCursorSlot {
  int32_t slot;
  const char* name;
};
extern const rCursorSlot cnCursorTable[36];
// The link cursor's slot.
constexpr int32_t cnLinkCursor = 99;
// Fills the screen's cursor slots from the registered pictures
// ("..\<name>.png", 32 x 32 with alpha; the hot spots are the table's). A
// name without a picture, or a picture that does not decode to 32 x 32,
// leaves its slot empty. Runs after the window layer has started.
void cursors_load();
// The link cursor rule: slot 99 when the screen has a picture there, else
// the hand.
ui::TCursor link_cursor();

// Opens a web page with the desktop's opener, only for http, https and
// mailto addresses (anything else, such as "javascript:" or a text starting
// with "-" that the opener would read as an option, opens nothing). False
// when refused or when the opener could not be started.
bool open_web_page(const std::string& url);
// Whether open_web_page would hand the address on: http, https or mailto.
bool web_address_allowed(const std::string& url);
// The opener open_web_page hands allowed addresses to; tests replace it.
extern std::function<bool(const std::string&)> gOpenUrl;
