// The installer window: a banner, the status panel on the left, the page
// viewer, and the bottom bar with Previous, Continue and the Animate box.
// The pages: 1 introduction, 2 licence agreement, 3 installation options,
// 4 installing (the live log), 5 finished, 6 an update about to start.
// It starts the install thread, shows its log and, when an installation
// exists, offers to update it in place.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "form_install_anim.h"
#include "form_install_checks.h"
#include "installs_thread.h"
#include "ui_app.h"

class TKVNButton;
class TKVNCheckBox;
class TKorvaneBanner;
class TKorvaneControl;
class TInfoScene;
class TInfoSceneHRefs;
class TInfoControl;
class TFormDlg;
namespace plat {
class NamedMutex;
}

// ---- Globals of the window's module (shared with the install thread) ---------

// The folder under which the destination is proposed.
extern std::string gBaseFolder;
// gFormShown (set at the end of FormShow, consumed by the status panel's
// next tick) is declared with the status panel (form_install_anim.h).

// The status texts.
extern const char* const cnStatusWelcome;
extern const char* const cnStatusAgreeFirst;
extern const char* const cnStatusAgreed;
extern const char* const cnStatusOptions;
extern const char* const cnStatusUpdating;
extern const char* const cnStatusInstallOk;
extern const char* const cnStatusInstallFailed;
extern const char* const cnStatusUpdateOk;
extern const char* const cnStatusUpdateFailed;
// The window's caption.
extern const char* const cnInstallerCaption;
// The named mutex an installer holds while its installation runs.
extern const char* const cnInstallLockName;

// The program's exit status: 0 after a successful installation or update,
// and when the user left before one started; 1 after a failed one (or a
// window gone before it could tell); 2 when the installer could not run at
// all (no window system, no display, the data not registered).
inline constexpr int cnExitInstalled = 0;
inline constexpr int cnExitFailed = 1;
inline constexpr int cnExitCannotRun = 2;

// The page texts: the introduction and the licence agreement.
const std::string& install_intro_text();
const std::string& install_agreement_text();
// The options page's text for a required size.
std::string install_options_text(int64_t requiredSpace);
// The existing-installation dialog's message.
std::string install_existing_text();

class TFormInstall : public ui::TForm, public iInstallWindow, public TInstallChecksHost, public TAnimSceneHost {
 public:
  explicit TFormInstall(ui::TComponent* owner);
  ~TFormInstall() override;

  // The published handlers.
  void FormCreate();
  void FormShow();
  void FormDestroy();
  void KVNButton2Click(ui::TObject* sender);    // Continue
  void KVNButton3Click(ui::TObject* sender);    // Previous
  void KVNButton4Click(ui::TObject* sender);    // Print
  void KVNCheckBox1Click(ui::TObject* sender);  // Animate

  // Handlers of the controls the window creates itself.
  void AgreeBoxClick(ui::TObject* sender);
  void BrowseClick(ui::TObject* sender);
  void AutorunBoxClick(ui::TObject* sender);
  void FinishClick(ui::TObject* sender);
  void LogTimerTick(ui::TObject* sender);
  void UpdateChosen(TFormDlg* dialog);

  // Page helpers.
  void CreateAgreeBox();
  void RemoveAgreeBox();
  void SetDefaultDestination();
  void CreateOptionsControls();
  void RemoveOptionsControls();
  void CreateFinishControls();
  void ShowPageText(const std::string& markup, bool forceAscii);
  void RenderLog();
  // Empties the log and forgets what was shown of it (no installation may
  // run).
  void ClearLog();
  // Ends the shown log with its closing paragraph end, once the
  // installation has ended.
  void CloseLog();

  // TAnimSceneHost: the status panel's first tick after FormShow starts a
  // chosen update through these.
  void SetPage(int32_t page) override { mPage = uint8_t(page); }
  void Continue() override { KVNButton2Click(nullptr); }

  // iInstallWindow: the shared log, the success flag, and the end handler
  // (called on the install thread; runs ThreadEnded on the GUI thread and
  // returns after it ran).
  std::shared_ptr<cWorkEntries> InstallLog() override { return mLog; }
  void SetInstallSuccess(bool success) override { mSuccess.store(success); }
  void InstallThreadTerminate(TInstallThread& thread) override;
  // TInstallChecksHost.
  void ShowMessage(const rCheckMessage& message) override;
  void ShowWait(std::string_view text) override;
  void ReleaseWait() override;
  std::optional<bool> AutorunBox() override;

  // The end of the installation, on the GUI thread. Every step runs even
  // when one before it failed, and each failure is reported as a handler's
  // error: the window always reaches the finish page, which the user can
  // leave.
  void ThreadEnded();
  // The program's exit status for how the window ended (cnExit*).
  int ExitStatus() const;

  // State, for the status panel and for tests.
  uint8_t Page() const { return mPage; }
  const std::string& StatusText() const { return mStatusText; }
  int32_t Progress() const { return mProgress; }
  bool Animating() const { return mAnimate; }
  bool InstallSucceeded() const { return mSuccess.load(); }
  bool Installing() const { return mInstalling.load(); }
  const std::string& LogText() const { return mLogText; }
  TInfoControl* Viewer() const { return mViewer; }
  TInfoScene* PageScene() const { return mPageScene; }

  // The layout.
  ui::TBevel* Bevel1 = nullptr;
  ui::TPanel* Panel1 = nullptr;
  ui::TPanel* Panel2 = nullptr;
  ui::TPanel* Panel3 = nullptr;
  TKVNButton* KVNButton4 = nullptr;      // Print
  TKVNButton* KVNButton3 = nullptr;      // Previous (nil from page 4 on)
  TKVNButton* KVNButton2 = nullptr;      // Continue (nil from page 4 on)
  TKVNCheckBox* KVNCheckBox1 = nullptr;  // Animate
  // The options page's controls (nil elsewhere).
  ui::TLabel* DestCaption = nullptr;
  ui::TEdit* DestEdit = nullptr;
  TKVNButton* BrowseButton = nullptr;
  TKVNButton* FinishButton = nullptr;
  // The page's own check box, one at a time: the agreement box on page 2,
  // "Create icon on desktop" on page 3, the autorun box on page 5 (nil
  // elsewhere, and on page 5 after an update or a failure).
  TKVNCheckBox* PageCheckBox = nullptr;
  // "Start Application Now" on page 5 after a success (nil elsewhere).
  TKVNCheckBox* StartNowBox = nullptr;

  // The status panel's scene.
  TAnimScene* StatusScene() const { return mAnimScene; }

  // Seams: the print preview of a page's mark-up under a title (by default
  // the preview dialog, shown modally), and how Finish starts the installed
  // program (by default without a shell).
  std::function<void(const std::string& markup, const std::string& title)> PrintPreview;
  std::function<bool(const std::string& winPath)> RunProgram;
  // The waits of closing a running copy (tests shorten them).
  rExitWaits ExitWaits;

 private:
  void SetStatusText(const std::string& markup);
  void SetProgress(int32_t progress);
  void SetAnimate(bool animate);
  void ShowAgreementPage();
  void StartInstallation();
  bool CheckDestination();
  bool TakeInstallLock();
  void Message(uint8_t kind, const std::string& title, int32_t w, int32_t h, const std::string& markup);
  void FindExistingInstallation();
  void DropBottomButtons();
  int32_t LogEndRoom();

  uint8_t mPage = 0;
  TKorvaneBanner* mBanner = nullptr;
  TKorvaneControl* mBannerControl = nullptr;
  TInfoScene* mPageScene = nullptr;
  TInfoSceneHRefs* mPageLinks = nullptr;
  TInfoControl* mViewer = nullptr;
  std::string mIntroText, mAgreementText, mOptionsText, mLogText;
  std::shared_ptr<cWorkEntries> mLog;
  // The entries shown so far: the last one, their mark-up, whether the
  // viewer shows the log, has its closing paragraph end, or holds an
  // entry with figures.
  rWorkEntry* mLogLast = nullptr;
  std::string mLogBody;
  bool mLogShown = false, mLogClosed = false, mLogVariable = false;
  // The height the log's closing paragraph end adds (-1: not measured).
  int32_t mLogEndRoom = -1;
  ui::TTimer* mLogTimer = nullptr;
  TAnimScene* mAnimScene = nullptr;
  TAnimControl* mAnimControl = nullptr;
  std::atomic<bool> mSuccess{false};
  std::atomic<bool> mInstalling{false};
  bool mInstallEnded = false;  // an installation ran and its end was handled
  std::string mSuccessText, mFailureText;
  std::string mStatusText;
  int32_t mProgress = 0;
  bool mAnimate = false;
  ui::TForm* mWait = nullptr;
  bool mDestroying = false;
  // Held from Install until the installation has ended.
  std::unique_ptr<plat::NamedMutex> mInstallLock;
};

// Puts gBaseFolder and gFormShown back to their initial values.
void form_install_window_globals_reset();
