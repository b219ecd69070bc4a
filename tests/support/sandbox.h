// Every test process runs inside a sandbox: a fresh temporary folder that
// holds HOME, the XDG folders and a unique token for names shared between
// processes. Nothing a test does reaches the real home folder.
#pragma once
#include <string>

namespace testenv {

// Creates the sandbox and points HOME and the XDG variables into it.
void sandbox_enter();
// Removes the sandbox folder and everything in it.
void sandbox_leave();
// Host path of the sandbox root (empty outside the sandbox).
const std::string& sandbox_root();
// A fresh, empty folder inside the sandbox, for one test's files.
std::string sandbox_dir(const std::string& name);

}  // namespace testenv
