#include "form_install_checks.h"

#include <chrono>
#include <stdexcept>
#include <thread>

#include "installs_container.h"
#include "installs_manifest.h"
#include "installs_settings.h"
#include "plat_ipc.h"
#include "qlm_base_util.h"
#include "qlm_parser_vormcode_escape.h"
#include "qlm_platform_file.h"
#include "win_interfaces.h"

int64_t gRequiredSpace = 0;
std::string gMainProgramName;
bool gSkipConfig = false;

void form_install_globals_reset() {
  gRequiredSpace = 0;
  gMainProgramName.clear();
  gSkipConfig = false;
}

namespace {

constexpr std::string_view kCaptureConfigName = "Korvane-Snaprill.capture-config";

// value / unit rounded to nearest, halves to even (value > 0, exact for every
// 64-bit value).
int64_t divide_rounded(int64_t value, int64_t unit) {
  int64_t q = value / unit;
  const int64_t r = value % unit;
  if (r * 2 > unit || (r * 2 == unit && (q & 1) != 0)) ++q;
  return q;
}

}  // namespace

int64_t ScanInstallData() {
  int64_t total = 0;
  cInstWalker walker;
  if (walker.OpenInstallData() != cInstWalker::eOpen::Opened || !walker.ReadSignature()) return 0;
  rInstEntry entry;
  while (walker.Next(entry) == eInstStep::Entry) {
    if (entry.kind == cnInstKindFile) {
      total += entry.unpacked_size;
      if (entry.main_program != 0) gMainProgramName = entry.name;
    } else if (entry.kind != cnInstKindFolder && entry.kind != cnInstKindExt) {
      break;
    }
    if (!walker.SeekNext()) break;
  }
  return total;
}

std::string space_message(const std::string& drive, int64_t required, int64_t free) {
  if (free < 0)
    return "Selected destination drive ~<ct=dodgerblue;b>\"" + markup_escape(drive) +
           "\"~> does not exist or its free disk space cannot be read.~(p) "
           "~<ct=Green>Please select an existing drive to continue with installation.~> ";
  return "Selected destination drive ~<ct=dodgerblue;b>\"" + markup_escape(drive) +
         "\"~> has not enough free disk space.~(p) This installation requires at least ~<ct=dodgerblue;b>" +
         format_byte_size(required) + "~>" + " of free disk space, while the destination drive has only ~<ct=red;b>" +
         format_byte_size(free) + "~> of free disk space.~(p) " +
         "~<ct=Green>Please select drive with enough free disk space to continue with installation.~> ";
}

std::string format_byte_size(int64_t size) {
  constexpr uint16_t kGrouped = 2;
  if (size > 999999) return int_to_str(kGrouped, 0, divide_rounded(size, 1000000)) + " MB";
  if (size > 999) return int_to_str(kGrouped, 0, divide_rounded(size, 1000)) + " KB";
  return int_to_str(kGrouped, 0, size) + " bytes";
}

bool is_root_path(std::string_view path) {
  int state = 1;
  for (const char c : path) {
    switch (state) {
      case 1:
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))) return true;
        state = 2;
        break;
      case 2:
        if (c != ':') return true;
        state = 3;
        break;
      case 3:
        if (c != '\\') return true;
        state = 4;
        break;
      default:
        if (c != ' ') return false;
        break;
    }
  }
  return true;
}

std::string exit_first_markup(std::string_view word) {
  std::string m = "Application You are going to ~<b>";
  m += word;
  m += " ~)is running now~>.~(p) ";
  m += "~<ct=Green>Please exit the running application to continue with ";
  m += word;
  m += ".~> ";
  return m;
}

bool CloseRunningApplication(TInstallChecksHost& host, std::string_view word, const rExitWaits& waits) {
  int attempts = 0;
  bool blocked = false;
  plat::NamedMutex mutex;
  // A mutex that cannot be made at all counts as "not running", as a failed
  // CreateMutex without ERROR_ALREADY_EXISTS does.
  while (mutex.Create(cnAppMutexName) == plat::MutexState::AlreadyExists) {
    plat::AppWindow window;
    if (attempts == 0) window = plat::app_window_find(cnAppWindowClass, cnAppWindowCaption);
    if (!window.Valid()) {
      rCheckMessage message;
      message.kind = cnDlgKindWarning;
      message.title = std::string(cnExitFirstTitle);
      message.width = 420;
      message.height = 240;
      message.placement = cnPlaceCentre;
      message.markup = exit_first_markup(word);
      host.ShowMessage(message);
      blocked = true;
      break;
    }
    mutex.Close();
    // A copy that does not answer in time is treated as asked: the sleep and
    // the second look decide.
    plat::app_window_send(window, cnAppExitMessage, 0, 0, waits.reply_ms);
    window.Close();
    host.ShowWait(cnExitingText);
    std::this_thread::sleep_for(std::chrono::milliseconds(waits.sleep_ms < 0 ? 0 : waits.sleep_ms));
    host.ReleaseWait();
    ++attempts;
  }
  mutex.Close();
  return blocked;
}

void ApplyAutorun(TInstallChecksHost& host) {
  gRunValuePrefix = cFileName(gAppPath).LastDirectory();
  const bool registered = autorun_is_set(gAppPath, gOnlyCurrent);
  const std::optional<bool> box = host.AutorunBox();
  if (!box) return;
  // Every step is tried; what did not take effect is raised at the end, so
  // the box never looks as if it had worked.
  std::string failed;
  if (*box && !registered && !autorun_set(gAppPath, gOnlyCurrent))
    failed = "The application could not be registered to start with Windows.";
  else if (!*box && registered && !autorun_remove(gOnlyCurrent))
    failed = "The application's start with Windows could not be removed.";
  if (!gSkipConfig && !WriteCaptureConfig()) {
    if (!failed.empty()) failed += ' ';
    failed += "The capture configuration could not be written: " + capture_config_path();
  }
  if (!failed.empty()) throw std::runtime_error(failed);
}

std::string capture_config_text(bool start_ww, bool only_current) {
  std::string t = "~\\config@capture_commons\\\r\n";
  t += "\r\n";
  t += "  ~<start_ww = " + bool_to_str(start_ww, 0) + ">\r\n";
  t += "  ~<OnlyCurr = " + bool_to_str(only_current, 0) + ">\r\n";
  t += "\r\n";
  t += "~\\\\\r\n";
  return t;
}

std::string capture_config_path() {
  return string_add_backslash(gDestination) + "Data\\" + std::string(kCaptureConfigName);
}

bool WriteCaptureConfig() {
  const bool start_ww = autorun_is_set(gAppPath, gOnlyCurrent);
  const std::string text = capture_config_text(start_ww, gOnlyCurrent);
  return file_replace_atomic(capture_config_path(), text.data(), int64_t(text.size())) == 0;
}
