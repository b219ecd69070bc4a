// Opening links and starting programs for the user: a link goes to the
// desktop's opener ("xdg-open"), an installed program is started itself.
// Both pass their argument as one argument of an array (never through a
// shell) and leave the child running on its own.
#pragma once
#include <string>
#include <vector>

namespace plat {

// Hands the link to "xdg-open" found on PATH. False when it cannot be
// started (the opener's own later failure is not seen).
bool shell_open_url(const std::string& url);
// Starts a program by its Windows name (mapped to the host path) with the
// given arguments. False when the name cannot be mapped or the program
// cannot be started.
bool shell_run_program(const std::string& win_path, const std::vector<std::string>& args = {});

}  // namespace plat
