// The process as the host sees it: the program's own file and its arguments.
#pragma once
#include <string>
#include <vector>

namespace plat {

// Absolute host path of the running program (from /proc/self/exe); empty
// when the host cannot tell.
std::string process_exe_path();

}  // namespace plat
