// Every test process runs inside a sandbox: a fresh temporary folder that
// holds HOME, the XDG folders (a private runtime folder among them) and a
// unique token for names shared between processes. Nothing a test does
// reaches the real home folder.
#pragma once
#include <initializer_list>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace testenv {

// Creates the sandbox and points HOME and the XDG variables into it.
void sandbox_enter();
// Removes the sandbox folder and everything in it.
void sandbox_leave();
// Host path of the sandbox root (empty outside the sandbox).
const std::string& sandbox_root();
// A fresh, empty folder inside the sandbox, for one test's files.
std::string sandbox_dir(const std::string& name);

// Keeps the values of environment variables and puts them back (or unsets
// them again) when it goes out of scope.
class SavedEnv {
 public:
  SavedEnv(std::initializer_list<const char*> names);
  ~SavedEnv();
  SavedEnv(const SavedEnv&) = delete;
  SavedEnv& operator=(const SavedEnv&) = delete;

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

}  // namespace testenv
