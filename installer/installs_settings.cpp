#include "installs_settings.h"

uint8_t gInstallMode = 0;
std::string gDestination = "C:\\Korvane-Snaprill";
std::string gUninstallerName = "uninstall.exe";
std::string gAppPath;
bool gDesktopIcon = true;
bool gOnlyCurrent = true;
bool gNotPrivileged = false;
std::string gRunValuePrefix;

void install_settings_reset() {
  gInstallMode = 0;
  gDestination = "C:\\Korvane-Snaprill";
  gUninstallerName = "uninstall.exe";
  gAppPath.clear();
  gDesktopIcon = true;
  gOnlyCurrent = true;
  gNotPrivileged = false;
  gRunValuePrefix.clear();
}
