#include "installs_settings.h"

uint8_t gInstallMode = cnModeNewInstallation;
std::string gDestination = "C:\\Korvane-Snaprill";
std::string gUninstallerName = "uninstall.exe";
std::string gAppPath;
bool gDesktopIcon = true;
bool gOnlyCurrent = true;
bool gNotPrivileged = false;
std::string gRunValuePrefix;

void install_settings_reset() {
  gInstallMode = cnModeNewInstallation;
  gDestination = "C:\\Korvane-Snaprill";
  gUninstallerName = "uninstall.exe";
  gAppPath.clear();
  gDesktopIcon = true;
  gOnlyCurrent = true;
  gNotPrivileged = false;
  gRunValuePrefix.clear();
}
