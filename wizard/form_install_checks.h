// The installer window's checks and finishing actions: the space the
// embedded container needs and the name of its main program, the text form
// of a byte count, the refusal of root folders, closing a running copy of
// the installed application, the start-with-the-session registration that
// follows the finish page's check box, and the application's capture
// configuration file.
//
// All run on the GUI thread. What needs the window (the message dialog, the
// wait window, the autorun box) goes through TInstallChecksHost, which the
// installer window implements.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "kvn_form_dlg.h"

// ---- Globals of the installer window's module -------------------------------

// Required free bytes, the container's unpacked total plus a tenth; 0 means
// not computed yet. 64-bit: a 32-bit sum wraps above 2 GiB.
extern int64_t gRequiredSpace;
// File name of the container entry flagged as the main program.
extern std::string gMainProgramName;
// Set once an update was chosen: the capture configuration is not written.
extern bool gSkipConfig;
// Puts the three back to their initial values.
void form_install_globals_reset();

// ---- The running application -------------------------------------------------

// What identifies a running copy of the installed application.
inline constexpr std::string_view cnAppMutexName = "Korvane-Snaprill";
inline constexpr std::string_view cnAppWindowClass = "TForm1";
inline constexpr std::string_view cnAppWindowCaption = "Korvane-Snaprill";
inline constexpr uint32_t cnAppExitMessage = 1123;  // WM_USER + 99
inline constexpr std::string_view cnExitingText = "    Exiting Running Application ... ";
inline constexpr std::string_view cnExitFirstTitle = "Exit Application First";

// A message for dialog_show: the window passes these values on, with an OK
// button only, itself as owner and reference form and the icon of the kind.
struct rCheckMessage {
  uint8_t kind = cnDlgKindWarning;
  std::string title;
  int32_t width = 0;  // client size
  int32_t height = 0;
  uint8_t placement = cnPlaceCentre;
  std::string markup;
};

// What the checks need of the installer window.
class TInstallChecksHost {
 public:
  virtual ~TInstallChecksHost() = default;
  // Shows the message modally (dialog_show) and returns when it is closed.
  virtual void ShowMessage(const rCheckMessage& message) = 0;
  // Shows the wait window without an owner (wait_show); it is on screen and
  // painted when this returns.
  virtual void ShowWait(std::string_view text) = 0;
  // Releases the wait window shown last.
  virtual void ReleaseWait() = 0;
  // The finish page's autorun box: none when it does not exist (after an
  // update or a failure), else whether it is checked.
  virtual std::optional<bool> AutorunBox() = 0;
};

// The waits of CloseRunningApplication; tests shorten them.
struct rExitWaits {
  int32_t sleep_ms = 2000;  // how long a running copy is given to exit
  int32_t reply_ms = 5000;  // the longest wait for its reply to the request
};

// ---- The checks ---------------------------------------------------------------

// The unpacked total of the file entries of the container registered as
// "..\install_data.idf", walked with the engine's walker; sets
// gMainProgramName from a flagged file entry (a later one wins). Folder and
// extension entries add nothing; any other kind, a header that fails the
// walker's checks or a failed seek ends the scan, which then answers the
// total so far (0 without a container or with a wrong signature). Never
// reports an error and always ends: every step moves forward.
int64_t ScanInstallData();

// The size as decimal text, thousands grouped by ",": above 999,999 in
// whole MB, above 999 in whole KB (rounded to nearest, halves to even;
// 1 KB = 1000 bytes), else in bytes (negative sizes too).
std::string format_byte_size(int64_t size);

// The "Can't Install" message for a destination without the room: the
// drive (as drive_of gives it), the space required and the space free.
// A free space below 0 means the drive's space cannot be read at all: a
// drive that does not exist (the platform knows C: only) or cannot be
// asked; the message then says so instead of showing a negative size.
std::string space_message(const std::string& drive, int64_t required, int64_t free);

// True (refused) unless the path is a drive letter, ":", "\" and at least
// one more character that is not a blank.
bool is_root_path(std::string_view path);

// Asks a running copy of the application to exit: when the named mutex
// exists and its window can be found, sends the exit request (waiting for
// the reply at most waits.reply_ms), shows the wait window for
// waits.sleep_ms and looks again. True when a copy still blocks the step
// (its mutex still exists, or its window cannot be found); the "Exit
// Application First" message naming `word` has then been shown.
bool CloseRunningApplication(TInstallChecksHost& host, std::string_view word, const rExitWaits& waits = {});

// The text of that message.
std::string exit_first_markup(std::string_view word);

// Applies the finish page's autorun box: gRunValuePrefix becomes the last
// folder level of gAppPath; without the box nothing else happens; a checked
// box registers the Run value when it is missing, an unchecked one removes
// it when present; then, unless gSkipConfig, WriteCaptureConfig. A step
// that did not take effect raises std::runtime_error naming every such
// step, after all were tried (the window's loop shows it in an error
// dialog).
void ApplyAutorun(TInstallChecksHost& host);

// The capture configuration text: six CR LF lines.
std::string capture_config_text(bool start_ww, bool only_current);

// Replaces "<gDestination>\Data\Korvane-Snaprill.capture-config" whole with
// the configuration (start_ww read back from the registry, OnlyCurr from
// gOnlyCurrent), through the engine's atomic replacement: a failure leaves
// the old file as it was. Raises nothing (a missing "Data" folder writes
// nothing); answers whether the file was written.
bool WriteCaptureConfig();
// That file's Windows path.
std::string capture_config_path();
