// The kit's pictures in the resource registry and the screen cursors made
// from them.
#pragma once

#include <cstdint>

#include "ui_controls.h"

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
