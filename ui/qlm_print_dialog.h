// The printing of the GTK window layer: the CUPS backend for the printers,
// with GTK's print dialog (GtkPrintUnixDialog) as its dialog. qlm_ui_start
// installs it as the process's print backend when the GTK backend starts,
// qlm_ui_stop removes it.
//
// The dialog is modal and transient for the active form; it runs GTK's own
// nested loop, which serves the layer's timers and queued calls too. It is
// filled from the request (printer, copies, collation, orientation, paper,
// colour) with the page set-up embedded, and offers copies, collation and
// PDF output (the file printer writes PDF only). On OK the chosen printer
// and settings are read back and the device is made: a CUPS printer with the
// margins the server lists for the chosen paper, "Print to File" (GTK's
// virtual printer) as a PDF file where GTK's settings put it, without
// margins. "Print to File" proposes output.pdf in the user's documents
// folder (XDG), or the home folder without one, never the program's current
// folder. GUI thread only.
#pragma once

#include <functional>

#include "plat_print.h"

plat::print::Backend& qlm_gtk_print_backend();

// For tests: called with the dialog (a GtkWidget*) and the GtkPrintSettings
// filled from the request, before the dialog takes them and its loop runs
// (a timeout the hook adds runs inside that loop); an empty function calls
// nothing.
void qlm_gtk_print_dialog_set_hook(std::function<void(void* dialog, void* settings)> hook);

// For tests: the widget of GTK's print dialog (a GtkWidget*, as the hook
// gets it) by its name in GTK's dialog; nil when there is none.
void* qlm_gtk_print_dialog_widget(void* dialog, const char* name);
