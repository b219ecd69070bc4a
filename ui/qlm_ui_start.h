// Start and stop of the user interface: the window layer runs on the
// native backend when a display is there, on the headless one otherwise.
#pragma once

// Idempotent; registers its stop with the framework. False when the window
// layer could not be started.
bool qlm_ui_start();
void qlm_ui_stop();
