// The user's special folders, found where a Linux desktop keeps them and
// answered in the system's drive-letter form ("C:\home\u\.local\share").
//
//   Local application data  $XDG_DATA_HOME (default ~/.local/share)
//   Programs                $XDG_DATA_HOME/applications
//   Desktop                 XDG_DESKTOP_DIR of $XDG_CONFIG_HOME/user-dirs.dirs
//                           (XDG_CONFIG_HOME defaults to ~/.config; the
//                           desktop defaults to ~/Desktop)
//   Program Files           none: the host has no shared folder for programs
//                           that a user may write to
//
// A folder that is missing is created (with missing parents, mode 0700):
// Windows always has these folders, and callers create only one level below
// them. Relative values of the XDG variables are ignored, as the XDG rules
// require. HOME comes from the environment, else from the user database.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace plat {

// Folder ids, numbered as the shell numbers them (CSIDL values).
constexpr int32_t kFolderPrograms = 0x02;
constexpr int32_t kFolderDesktopDirectory = 0x10;
constexpr int32_t kFolderLocalAppData = 0x1C;
constexpr int32_t kFolderProgramFiles = 0x26;

// Codes of special_folder_path, numbered as the system's error codes.
constexpr int32_t kFolderOk = 0;
// The id names no folder this host has (Program Files, unknown ids).
constexpr int32_t kFolderNone = 2;
// No home folder, the folder cannot be created, is not a folder, or its path
// cannot be written as a Windows name.
constexpr int32_t kFolderUnusable = 3;

// Finds the folder (creating it when missing) and answers its Windows form,
// without a trailing "\"; on failure a code and an empty `win`.
int32_t special_folder_path(int32_t folder, std::string& win);

// The host path the folder has, without creating or checking anything; ""
// when the id names no folder or there is no home folder.
std::string special_folder_host_path(int32_t folder);

// Reads the text of a user-dirs.dirs file: the last valid XDG_DESKTOP_DIR
// line sets `desktop` (an absolute path, "$HOME" replaced by `home`) and the
// answer is true; without one `desktop` stays. For tests and fuzzing; the
// desktop folder reads the file through it.
bool user_dirs_desktop(std::string_view text, const std::string& home, std::string& desktop);

}  // namespace plat
