// The install engine's module: start-up and shut-down.
#pragma once
#include <string>

// The folder of the running program, with a trailing "\" (empty when the
// program's own path is unknown). Set by installs_start.
extern std::string gProgramFolder;

// Keeps the program's folder in gProgramFolder and makes it the process's
// current folder, so that files beside the program are found by their bare
// names. A program whose path is unknown keeps the current folder. Ignores
// SIGXFSZ, so that a write past the file-size limit fails like any other.
void installs_start();
// Releases the module's strings.
void installs_stop();
