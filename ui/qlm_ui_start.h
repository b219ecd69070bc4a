// Start and stop of the user interface: the window layer runs on the
// native backend when a display is there, on the headless one otherwise.
#pragma once
#include <string>

// Idempotent; registers its stop with the framework. False when the window
// layer could not be started; `reason` (when given) then says why. A display
// that is named but cannot be opened leaves the layer on the headless
// backend: true, and `reason` names the display.
bool qlm_ui_start(std::string* reason = nullptr);
void qlm_ui_stop();
