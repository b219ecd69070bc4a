// The kit's text button as the installer window and the kit's dialogs make
// it: no shadow, a clipped bold "Verdana" caption, animated.
#pragma once

#include <string>

#include "kvn_button.h"
#include "ui_controls.h"

// A new button owned by `owner` with the caption, type, font size and colour
// given, placed on `parent` last.
TKVNButton* make_text_button(ui::TComponent* owner, ui::TWinControl* parent, const std::string& caption,
                             TButtonType type, double fontSize, TColorIndex color);
