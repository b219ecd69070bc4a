// Where an error that escaped an event handler of the installer window ends:
// the window layer's loop catches it and logs it (TApplication::
// HandleException), and this reporter shows it to the user. The program goes
// on afterwards, as the window class library's loop does.
#pragma once
#include <exception>

// The kit's error dialog (kind 1, one OK button) over the active form, with
// the caption as title and the exception's text as its message.
void installer_report_exception(std::exception_ptr error);
