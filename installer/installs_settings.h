// Settings shared by the install engine and the installer window. The
// window fills them before it starts an installation and reads gAppPath
// after it; the engine and its tests use them without any window.
#pragma once
#include <cstdint>
#include <string>

// What the installation does: cnModeNewInstallation or cnModeUpdate.
extern uint8_t gInstallMode;
// A new installation.
inline constexpr uint8_t cnModeNewInstallation = 0;
// An update of an existing installation in place.
inline constexpr uint8_t cnModeUpdate = 1;
// The destination folder, with or without a trailing "\".
extern std::string gDestination;
// The uninstaller's file name.
extern std::string gUninstallerName;
// Full path of the installed main program; written by the installation.
extern std::string gAppPath;
// Create the desktop shortcut.
extern bool gDesktopIcon;
// Install for the current user only: registry work goes to the current
// user's hive (never cleared in this system).
extern bool gOnlyCurrent;
// The user is neither an administrator nor a power user.
extern bool gNotPrivileged;
// Put before "Korvane-Snaprill" in the name of the Run value; the window sets
// it to the last folder level of gAppPath ("Korvane-Snaprill\").
extern std::string gRunValuePrefix;

// Puts every setting back to its initial value.
void install_settings_reset();
