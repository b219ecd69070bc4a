#include "form_install.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <exception>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string_view>
#include <thread>

#include "installs_settings.h"
#include "kvn_banner.h"
#include "kvn_button.h"
#include "kvn_button_make.h"
#include "kvn_checkbox.h"
#include "kvn_form_dlg.h"
#include "kvn_form_info_print.h"
#include "kvn_form_wait.h"
#include "kvn_forms.h"
#include "kvn_info.h"
#include "kvn_scene.h"
#include "kvn_shell.h"
#include "plat_ipc.h"
#include "plat_shell_open.h"
#include "qlm_base_util.h"
#include "qlm_colors.h"
#include "qlm_parser_vormcode_escape.h"
#include "qlm_platform_file_io.h"
#include "win_interfaces.h"

std::string gBaseFolder;

void form_install_window_globals_reset() {
  gBaseFolder.clear();
  gFormShown = false;
}

const char* const cnStatusWelcome = "Welcome to the Korvane Snaprill 1.31 Installer.";
const char* const cnStatusAgreeFirst = "You must agree with License conditions to proceed further.";
const char* const cnStatusAgreed = "Ok, you have agreed with License conditions.";
const char* const cnStatusOptions = "Now, choose the destination directory for installation files ...";
const char* const cnStatusUpdating = "Wait please, performing Update ...";
const char* const cnStatusInstallOk = "Thank You for installing and Enjoy !";
const char* const cnStatusInstallFailed = "Installation failure, please contact our support !";
const char* const cnStatusUpdateOk = "Thank You for updating and Enjoy !";
const char* const cnStatusUpdateFailed = "Update failure, please contact our support !";
const char* const cnInstallerCaption = "Korvane Snaprill 1.31 Installer";
const char* const cnInstallLockName = "Korvane-Snaprill Installation";

namespace {

constexpr const char* kAgreeCaption = "I have read and I agree to the above mentioned license conditions.";

// A check box of the window: "Arial" at the size (9 points unless given),
// bold unless given, with its caption and its first state (set before any
// handler is attached, so no event fires).
struct rBoxOptions {
  ui::TComponent* owner = nullptr;
  ui::TWinControl* parent = nullptr;
  std::string caption;
  double size = 9.0;
  bool bold = true;
  bool checked = false;
};

TKVNCheckBox* make_box(const rBoxOptions& o) {
  auto* c = new TKVNCheckBox(o.owner);
  TCheckBoxScene* s = c->CheckBoxScene();
  s->SetFontFace("Arial");
  s->SetFontSize(o.size);
  s->SetFontStyle(o.bold ? TEXT_BOLD : sTextStyle(0));
  c->SetCaption(o.caption);
  c->SetChecked(o.checked);
  c->SetParent(o.parent);
  return c;
}

bool has_control_char(const std::string& s) {
  for (unsigned char c : s)
    if (c < 0x20 || c == 0x7F) return true;
  return false;
}

// S + S / 10 rounded to the nearest integer, halves to even.
int64_t required_with_margin(int64_t s) {
  int64_t tenth = s / 10;
  const int64_t rest = s % 10;
  if (rest > 5 || (rest == 5 && (tenth & 1) != 0)) ++tenth;
  return s + tenth;
}

}  // namespace

TFormInstall::TFormInstall(ui::TComponent* owner) : ui::TForm(owner) {
  SetBorderStyle(ui::bsDialog);
  SetClientSize(699, 476);

  Bevel1 = new ui::TBevel(this);
  Bevel1->SetBounds(0, 422, 702, 10);
  Bevel1->SetShape(ui::bsTopLine);
  Bevel1->SetStyle(ui::bsRaised);
  Bevel1->SetAnchors(ui::akLeft | ui::akRight | ui::akBottom);
  Bevel1->SetParent(this);

  Panel1 = new ui::TPanel(this);
  Panel1->SetBounds(8, 82, 152, 328);
  Panel1->SetBevelOuter(ui::bvNone);
  Panel1->SetAnchors(ui::akLeft | ui::akTop | ui::akBottom);
  Panel1->SetParent(this);

  Panel2 = new ui::TPanel(this);
  Panel2->SetBounds(170, 82, 520, 273);
  Panel2->SetBevelOuter(ui::bvNone);
  Panel2->SetAnchors(ui::akLeft | ui::akTop | ui::akRight | ui::akBottom);
  Panel2->SetParent(this);

  KVNButton4 = make_text_button(this, this, "Print", BTN_GLASS, 7.5, CLR_BLUE);
  KVNButton4->SetBounds(611, 382, 80, 35);
  KVNButton4->SetAnchors(ui::akRight | ui::akBottom);
  KVNButton4->OnClick = [this](ui::TObject* s) { KVNButton4Click(s); };

  Panel3 = new ui::TPanel(this);
  Panel3->SetBounds(0, 424, 700, 53);
  Panel3->SetBevelOuter(ui::bvNone);
  Panel3->SetAnchors(ui::akLeft | ui::akRight | ui::akBottom);
  Panel3->SetParent(this);

  KVNButton3 = make_text_button(this, Panel3, "Previous", BTN_ROUND, 9.0, CLR_GRAY);
  KVNButton3->SetBounds(489, 12, 98, 35);
  KVNButton3->SetAnchors(ui::akTop | ui::akRight);
  KVNButton3->OnClick = [this](ui::TObject* s) { KVNButton3Click(s); };

  KVNButton2 = make_text_button(this, Panel3, "Continue", BTN_ROUND, 9.0, CLR_GREEN);
  KVNButton2->SetBounds(588, 12, 105, 35);
  KVNButton2->SetAnchors(ui::akTop | ui::akRight);
  KVNButton2->OnClick = [this](ui::TObject* s) { KVNButton2Click(s); };

  KVNCheckBox1 = make_box({.owner = this, .parent = Panel3, .caption = "Animate", .bold = false, .checked = false});
  KVNCheckBox1->SetBounds(17, 19, 97, 17);
  KVNCheckBox1->OnClick = [this](ui::TObject* s) { KVNCheckBox1Click(s); };

  RunProgram = [](const std::string& path) { return plat::shell_run_program(path); };
  PrintPreview = [this](const std::string& markup, const std::string& title) {
    auto* preview = ui::Create<TFormInfoPrint>(this);
    preview->SetDocument(nullptr, markup, title, false);
    preview->ShowModal();
    preview->Release();
  };

  OnCreate = [this](ui::TObject*) { FormCreate(); };
  OnShow = [this](ui::TObject*) { FormShow(); };
  OnDestroy = [this](ui::TObject*) { FormDestroy(); };
  // The log and the end handler belong to the window: it does not close
  // while the install thread runs.
  OnCloseQuery = [this](ui::TObject*, bool& canClose) { canClose = !mInstalling.load() && mPage != cnPageInstalling; };
}

TFormInstall::~TFormInstall() { FormDestroy(); }

void TFormInstall::FormCreate() {
  SetCaption(cnInstallerCaption);
  if (ui::Application != nullptr) ui::Application->Title = cnInstallerCaption;
  mLog = std::make_shared<cWorkEntries>();
  SetColor(color_to_tcolor(color_rgb(215, 215, 215)));
  Panel3->SetColor(color_to_tcolor(color_rgb(181, 204, 222)));

  mBanner = new TKorvaneBanner;
  mBanner->SetShowFrame(true);
  mBanner->SetBackgroundRect(0, 0, 703, 71);
  mBanner->SetLogoMargin(60);
  mBannerControl = new TKorvaneControl(this);
  mBannerControl->SetBounds(0, 0, 69, 69);
  mBannerControl->SetAlign(ui::alTop);
  mBannerControl->SetParent(this);
  mBannerControl->SetScene(mBanner);

  mAnimScene = new TAnimScene(this);
  mAnimControl = new TAnimControl(Panel1, this, mAnimScene);
  mAnimControl->SetAlign(ui::alClient);
  mAnimControl->SetParent(Panel1);
  mAnimControl->SetScene(mAnimScene);

  mPageScene = new TInfoScene;
  mPageLinks = new TInfoSceneHRefs(mPageScene);
  mViewer = new TInfoControl(this);
  mViewer->SetAlign(ui::alClient);
  mViewer->SetScrollBarColor(color_rgb(108, 138, 194));
  mViewer->SetParent(Panel2);
  mViewer->SetScenes(mPageScene, mPageLinks);

  mIntroText = install_intro_text();
  mAgreementText = install_agreement_text();
  mOptionsText.clear();
  mLogText.clear();

  KVNButton3Click(nullptr);
}

void TFormInstall::FormDestroy() {
  // The install thread reports to this window until its end handler ran:
  // when the window goes first (the layer stops), it waits for that here,
  // serving the thread's call, and the end handler then does nothing.
  mDestroying = true;
  while (mInstalling.load() && ui::Application != nullptr) {
    ui::Application->ProcessMessages();
    if (mInstalling.load()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  if (mViewer != nullptr) {
    mViewer->ClearLayers(true);
    mViewer->SetScenes(nullptr, nullptr);
  }
  if (mBannerControl != nullptr) mBannerControl->SetScene(nullptr);
  if (mAnimControl != nullptr) mAnimControl->SetScene(nullptr);
  ui::TObject::Free(mAnimScene);
  mAnimScene = nullptr;
  ui::TObject::Free(mPageLinks);
  ui::TObject::Free(mPageScene);
  ui::TObject::Free(mBanner);
  mPageLinks = nullptr;
  mPageScene = nullptr;
  mBanner = nullptr;
}

void TFormInstall::FormShow() {
  form_place(this, nullptr, 1);
  gNotPrivileged = !(user_is_admin() || user_is_power_user());
  if (gNotPrivileged) gOnlyCurrent = true;
  FindExistingInstallation();
  gFormShown = true;
  // The still status panel's timer sleeps until the next whole second: its
  // next tick must come now.
  ui::WakeSleepingTimers();
}

void TFormInstall::FindExistingInstallation() {
  std::string key_path = "\\";
  key_path += uninstall_key(cnApplicationName);
  const std::string folder = command_folder(uninstall_string_read(gOnlyCurrent, key_path));
  if (folder.empty() || !dir_exists(folder)) return;

  cButton* defs = cButton::Construct(cnDlgCancel, "New Installation", CLR_YELLOW, 150, nullptr, nullptr);
  defs = cButton::Construct(cnDlgYes, "Update", CLR_GREEN, 100, defs, [this](TFormDlg* d) { UpdateChosen(d); });
  const int32_t result = dialog_show({.owner = this,
                                      .kind = cnDlgKindConfirmation,
                                      .title = "Update or New Installation ?",
                                      .message = install_existing_text(),
                                      .buttons = cnDlgBitYes | cnDlgBitCancel,
                                      .clientWidth = 640,
                                      .clientHeight = 450,
                                      .reference = this,
                                      .defaultResult = ui::mrYes,
                                      .definitions = defs,
                                      .caption = cnInstallerCaption});
  if (result == ui::mrYes && gInstallMode == cnModeUpdate) {
    gDestination = folder;
    gDesktopIcon = true;
    gSkipConfig = true;
  }
}

void TFormInstall::UpdateChosen(TFormDlg* dialog) {
  if (CloseRunningApplication(*this, "update", ExitWaits)) return;
  if (dialog == nullptr) return;
  gInstallMode = cnModeUpdate;
  dialog->SetResult(6);
}

// ---- Status ---------------------------------------------------------------------

void TFormInstall::SetStatusText(const std::string& markup) {
  mStatusText = markup;
  if (mAnimScene != nullptr) mAnimScene->SetStatusText(markup);
}

void TFormInstall::SetProgress(int32_t progress) {
  mProgress = progress;
  if (mAnimScene != nullptr) mAnimScene->SetProgress(progress);
}

void TFormInstall::SetAnimate(bool animate) {
  mAnimate = animate;
  if (mAnimScene != nullptr) mAnimScene->SetAnimate(animate);
}

// ---- Pages ------------------------------------------------------------------------

void TFormInstall::ShowPageText(const std::string& markup, bool forceAscii) {
  if (mViewer == nullptr || mPageScene == nullptr) return;
  mViewer->ClearLayers(true);
  mViewer->SetEndRoom(0);
  int32_t width = mViewer->Width() - 50;
  if (width < 1) width = Panel2->ClientWidth() - 50;
  if (width < 1) width = 0;
  mPageScene->LoadText(markup, width, forceAscii);
  mViewer->AddDocumentLayers();
}

void TFormInstall::KVNButton3Click(ui::TObject*) {
  if (mPage == cnPageCreating || mPage == cnPageAgreement) {
    if (mPage == cnPageAgreement) RemoveAgreeBox();
    SetProgress(0);
    SetStatusText(cnStatusWelcome);
    ShowPageText(mIntroText, true);
    KVNButton4->Hide();
    KVNButton3->SetColorIndex(CLR_GRAY);
    KVNButton3->Hide();
    KVNButton2->SetColorIndex(CLR_BLUE);
    SetActiveControl(mViewer);
    mPage = cnPageIntroduction;
    KVNButton4->SetTabOrder(2);
    KVNButton3->SetTabOrder(3);
    KVNButton2->SetTabOrder(4);
  } else if (mPage == cnPageOptions) {
    RemoveOptionsControls();
    ShowAgreementPage();
  }
}

// Page 2, from the introduction (Continue) or the options (Previous).
void TFormInstall::ShowAgreementPage() {
  ShowPageText(mAgreementText, true);
  KVNButton2->SetColorIndex(CLR_GRAY);
  KVNButton3->SetColorIndex(CLR_BLUE);
  KVNButton3->Show();
  CreateAgreeBox();
  SetActiveControl(mViewer);
  mPage = cnPageAgreement;
  PageCheckBox->SetTabOrder(0);
  KVNButton4->SetTabOrder(1);
  KVNButton3->SetTabOrder(2);
  KVNButton2->SetTabOrder(3);
  KVNButton2->SetButtonText("Continue");
  SetProgress(12);
  SetStatusText(cnStatusAgreeFirst);
}

void TFormInstall::KVNButton2Click(ui::TObject*) {
  switch (mPage) {
    case cnPageIntroduction: ShowAgreementPage(); break;
    case cnPageAgreement:
      if (KVNButton2->ColorIndex() != CLR_BLUE) {
        Message(cnDlgKindInformation, "Agree First", 450, 280,
                std::string("You must agree with license agreement conditions to continue with this installaiton. "
                            "To express your acceptance click on the checkbox labeled ~<b>\"") +
                    kAgreeCaption + "\"~>~(p) If You don't agree, please don't install and don't use this software. ");
        return;
      }
      RemoveAgreeBox();
      if (gRequiredSpace == 0) gRequiredSpace = required_with_margin(ScanInstallData());
      mOptionsText = install_options_text(gRequiredSpace);
      ShowPageText(mOptionsText, true);
      CreateOptionsControls();
      KVNButton3->SetColorIndex(CLR_BLUE);
      KVNButton3->Show();
      KVNButton2->SetColorIndex(CLR_GREEN);
      SetActiveControl(mViewer);
      mPage = cnPageOptions;
      DestEdit->SetTabOrder(0);
      BrowseButton->SetTabOrder(1);
      KVNButton4->SetTabOrder(3);
      KVNButton3->SetTabOrder(4);
      KVNButton2->SetTabOrder(5);
      KVNButton2->SetButtonText("Install");
      SetProgress(50);
      SetStatusText(cnStatusOptions);
      break;
    case cnPageOptions:
      gDestination = DestEdit->Text();
      gDesktopIcon = PageCheckBox != nullptr && PageCheckBox->Checked();
      if (!CheckDestination()) return;
      RemoveOptionsControls();
      StartInstallation();
      break;
    case cnPageUpdate:
      if (!TakeInstallLock()) return;
      SetStatusText(cnStatusUpdating);
      StartInstallation();
      break;
    default: break;
  }
}

bool TFormInstall::CheckDestination() {
  if (is_root_path(gDestination) || has_control_char(gDestination)) {
    Message(cnDlgKindWarning, "Can't Install", 400, 280,
            "Selected destination folder ~<ct=dodgerblue>\"" + markup_escape(gDestination) +
                "\"~> is the root folder of a given drive (or path not allowed).~(p) "
                "This installation prevents You from installing application into the root folder of any drive.~(p) "
                "~<ct=Green>Please select some subfolder to continue with installation.~> ");
    return false;
  }
  const int64_t free = destination_free_space(gDestination);
  if (gRequiredSpace > free) {
    Message(cnDlgKindWarning, "Can't Install", 450, 300, space_message(path_drive(gDestination), gRequiredSpace, free));
    return false;
  }
  if (!TakeInstallLock()) return false;
  if (dir_exists(gDestination)) {
    if (file_exists(string_add_backslash(gDestination) + gMainProgramName) &&
        CloseRunningApplication(*this, "upgrade", ExitWaits)) {
      mInstallLock.reset();
      return false;
    }
  } else if (!mk_dir(gDestination, 0)) {
    mInstallLock.reset();
    Message(cnDlgKindError, "Can't Create Folder", 350, 200,
            "Failed to create the destination installation directory ...");
    return false;
  }
  return true;
}

// One installation at a time. An installer started while another one was
// installing did not see that installation (it registers itself only at
// its end) and would install over it: each run records only the folders it
// made itself, and the manifest written last replaces the other, so an
// uninstall would leave folders behind. The named mutex is held from
// Install until the installation has ended; a second installer is told and
// stays where it is. Started again afterwards, it finds the installation
// and offers to update it. Where no mutex can be had at all, the
// installation goes on as before.
bool TFormInstall::TakeInstallLock() {
  if (mInstallLock != nullptr && mInstallLock->Holds()) return true;
  auto lock = std::make_unique<plat::NamedMutex>();
  if (lock->Create(cnInstallLockName) == plat::MutexState::AlreadyExists) {
    Message(cnDlgKindWarning, "Installation Running", 420, 240,
            "Another installation of ~<b>Korvane Snaprill~> is running now.~(p) "
            "~<ct=Green>Please wait until it has finished, then start this installation again.~> ");
    return false;
  }
  mInstallLock = std::move(lock);
  return true;
}

void TFormInstall::StartInstallation() {
  ClearLog();
  mLog->AddText("~{text <ff=\"Arial\";fs:pt=12;alignx=LEFT;spacing=6>} ");
  if (gInstallMode == cnModeUpdate) {
    mLog->AddText("~<b;fs:pt=\"+1\">Wait please, Updating to Korvane Snaprill 1.31~>~(p) ");
    mSuccessText = cnStatusUpdateOk;
    mFailureText = cnStatusUpdateFailed;
  } else {
    mLog->AddText("~<b;fs:pt=\"+1\">Wait please, Installing Korvane Snaprill 1.31~>~(p) ");
    mSuccessText = cnStatusInstallOk;
    mFailureText = cnStatusInstallFailed;
  }
  RenderLog();
  DropBottomButtons();
  KVNButton4->Show();
  KVNButton4->SetColorIndex(CLR_GRAY);
  SetActiveControl(mViewer);
  mPage = cnPageInstalling;

  mLogTimer = new ui::TTimer(this);
  mLogTimer->SetOnTimer([this](ui::TObject* s) { LogTimerTick(s); });

  TInstallThread* thread = TInstallThread::Create(this);
  mInstalling.store(true);
  if (thread == nullptr || !thread->Resume()) {
    delete thread;
    mInstalling.store(false);
    mSuccess.store(false);
    mLog->AddText("~(p)~<b;ct=red>Installation Failure: the installation could not be started.~> ");
    ThreadEnded();
  }
}

// Previous and Continue go while Continue's click is still being handled:
// hidden now, freed once the loop is back.
void TFormInstall::DropBottomButtons() {
  for (TKVNButton** slot : {&KVNButton3, &KVNButton2}) {
    TKVNButton* b = *slot;
    if (b == nullptr) continue;
    *slot = nullptr;
    b->Hide();
    b->OnClick = nullptr;
    if (ui::Application != nullptr) ui::Application->QueueCall([b] { ui::TObject::Free(b); }, b->AliveToken());
  }
}

void TFormInstall::LogTimerTick(ui::TObject*) {
  if (mLog->TakeChanged()) RenderLog();
}

// The mark-up of one entry: its text and, for the kinds with figures, the
// figures.
static std::string log_entry_markup(const rWorkEntry& e) {
  std::string text = e.text;
  char figures[64];
  if (e.kind == cnWorkPercentage) {
    if (e.percentage >= 100.0 - 1e-14) {
      text += "(OK)~)";
    } else {
      std::snprintf(figures, sizeof figures, " (%.2f%%)~)", e.percentage);
      text += figures;
    }
  } else if (e.kind == cnWorkCount) {
    if (e.done < e.total) {
      std::snprintf(figures, sizeof figures, " (%d/%d)~)", int(e.done), int(e.total));
      text += figures;
    } else {
      text += "(OK)~)";
    }
  }
  return text;
}

// The log text is every entry and a closing "~(p)". The viewer is given the
// entries added since the last call only: appended to its document, which
// already holds the earlier ones. The closing paragraph end is added when
// the installation has ended (CloseLog), since nothing can be appended
// after it. Entries with figures can change after they were added: a log
// holding one is shown whole every time.
void TFormInstall::RenderLog() {
  std::string added;
  bool whole = !mLogShown;
  {
    std::lock_guard lock(mLog->Mutex());
    rWorkEntry* e = mLogLast != nullptr ? mLogLast->next : mLog->First();
    for (; e != nullptr; e = e->next) {
      if (e->kind != cnWorkText) mLogVariable = true;
      added += log_entry_markup(*e);
      mLogLast = e;
    }
    if (mLogVariable) {
      whole = true;
      added.clear();
      mLogBody.clear();
      for (rWorkEntry* f = mLog->First(); f != nullptr; f = f->next) added += log_entry_markup(*f);
    }
    mLog->TakeChanged();
  }
  mLogBody += added;
  mLogText = mLogBody + "~(p)";
  if (mViewer == nullptr) return;
  if (whole) {
    ShowPageText(mLogClosed ? mLogText : mLogBody, true);
    mLogShown = true;
  } else if (!added.empty() && !mViewer->AppendText(added)) {
    ShowPageText(mLogClosed ? mLogText : mLogBody, true);
  }
  // Without its closing paragraph end the log is shorter than the whole
  // text by that paragraph end's height: the room is kept below it, so
  // the view scrolled to the end is the whole text's and the newest line
  // shows whole.
  if (!mLogClosed) mViewer->SetEndRoom(LogEndRoom());
  mViewer->ScrollToEnd();
}

// The height the closing "~(p)" adds to the log: measured once per log on
// a line like the engine's after the log's first entry (its text format),
// since every entry closes the scopes it opens.
int32_t TFormInstall::LogEndRoom() {
  if (mLogEndRoom >= 0) return mLogEndRoom;
  std::string head;
  {
    std::lock_guard lock(mLog->Mutex());
    if (mLog->First() != nullptr) head = mLog->First()->text;
  }
  const int32_t width = mPageScene != nullptr ? std::max(mPageScene->GetLayoutWidth(), 1) : 1;
  const std::string line = head + "Line ...~) ";
  TInfoScene open, closed;
  if (!open.LoadText(line, width, true) || !closed.LoadText(line + "~(p)", width, true)) return mLogEndRoom = 0;
  return mLogEndRoom = std::max(closed.GetTextHeight() - open.GetTextHeight(), 0);
}

void TFormInstall::ClearLog() {
  {
    std::lock_guard lock(mLog->Mutex());
    mLog->Clear();
  }
  mLogLast = nullptr;
  mLogBody.clear();
  mLogText.clear();
  mLogShown = mLogClosed = mLogVariable = false;
  mLogEndRoom = -1;
}

void TFormInstall::CloseLog() {
  if (mLogClosed) return;
  mLogClosed = true;
  if (mViewer == nullptr) return;
  mViewer->SetEndRoom(0);
  if (!mViewer->AppendText("~(p)")) ShowPageText(mLogText, true);
  mViewer->ScrollToEnd();
}

void TFormInstall::InstallThreadTerminate(TInstallThread&) {
  // The end runs on the GUI thread and reports its own failures there
  // (ThreadEnded): nothing comes back to the install thread but a failure
  // of the hand-over itself, which the engine logs.
  if (ui::Application != nullptr) ui::Application->SynchronizeCall([this] { ThreadEnded(); });
}

void TFormInstall::ThreadEnded() {
  mInstallLock.reset();
  if (mDestroying) {
    mInstalling.store(false);
    return;
  }
  mInstalling.store(false);
  mInstallEnded = true;
  // From here the window can be closed whatever fails below.
  mPage = cnPageFinished;
  const std::function<void()> steps[] = {
      [this] {
        if (mLogTimer != nullptr) {
          ui::TObject::Free(mLogTimer);
          mLogTimer = nullptr;
        }
        if (mLog->TakeChanged()) RenderLog();
        CloseLog();
      },
      [this] { CreateFinishControls(); },
      [this] {
        SetProgress(100);
        SetStatusText(mSuccess.load() ? mSuccessText : mFailureText);
      },
      [this] {
        if (!KVNCheckBox1->Checked()) {
          KVNCheckBox1->SetChecked(true);
          KVNCheckBox1Click(KVNCheckBox1);
        }
      },
      [this] {
        KVNButton4->SetColorIndex(CLR_BLUE);
        KVNButton4->SetTabOrder(1);
        if (FinishButton != nullptr) FinishButton->SetTabOrder(2);
      },
      [this] { ApplyAutorun(*this); },
  };
  for (const auto& step : steps) {
    try {
      step();
    } catch (...) {
      if (ui::Application != nullptr) ui::Application->HandleException(std::current_exception());
    }
  }
}

int TFormInstall::ExitStatus() const { return mInstallEnded && !mSuccess.load() ? cnExitFailed : cnExitInstalled; }

// ---- Page controls ----------------------------------------------------------------

void TFormInstall::CreateAgreeBox() {
  PageCheckBox = make_box({.owner = this, .parent = this, .caption = kAgreeCaption, .size = 12.0, .checked = false});
  PageCheckBox->SetBounds(Panel2->Left(), Panel2->Top() + Panel2->Height() + 27, ClientWidth() - 275, 30);
  PageCheckBox->SetAnchors(ui::akLeft | ui::akBottom);
  PageCheckBox->OnClick = [this](ui::TObject* s) { AgreeBoxClick(s); };
  KVNButton4->Show();
}

void TFormInstall::RemoveAgreeBox() {
  ui::TObject::Free(PageCheckBox);
  PageCheckBox = nullptr;
}

void TFormInstall::AgreeBoxClick(ui::TObject*) {
  if (PageCheckBox == nullptr) return;
  if (PageCheckBox->Checked()) {
    KVNButton2->SetColorIndex(CLR_BLUE);
    SetProgress(25);
    SetStatusText(cnStatusAgreed);
  } else {
    KVNButton2->SetColorIndex(CLR_GRAY);
    SetProgress(12);
    SetStatusText(cnStatusAgreeFirst);
  }
}

void TFormInstall::SetDefaultDestination() {
  gBaseFolder = gOnlyCurrent ? folder_local_app_data() : folder_program_files();
  if (gBaseFolder.empty()) gBaseFolder = "C:\\";
  gDestination = string_add_backslash(gBaseFolder) + "Korvane-Snaprill";
}

void TFormInstall::CreateOptionsControls() {
  SetDefaultDestination();
  const int below = Panel2->Top() + Panel2->Height();

  DestCaption = new ui::TLabel(this);
  ui::TFont captionFont;
  captionFont.Name = "Arial";
  captionFont.Height = 14;
  captionFont.Style = ui::fsBold;
  DestCaption->SetFont(captionFont);
  DestCaption->SetBounds(Panel2->Left(), below + 12, 200, 16);
  DestCaption->SetAutoSize(true);
  DestCaption->SetCaption("Destination Installation Folder:");
  DestCaption->SetAnchors(ui::akLeft | ui::akBottom);
  DestCaption->SetParent(this);

  PageCheckBox =
      make_box({.owner = this, .parent = Panel3, .caption = "Create icon on desktop", .checked = gDesktopIcon});
  PageCheckBox->SetBounds(Panel2->Left(), KVNCheckBox1->Top(), 180, KVNCheckBox1->Height());
  PageCheckBox->SetAnchors(ui::akLeft | ui::akBottom);
  Panel3->RemoveControl(PageCheckBox);
  Panel3->InsertControl(PageCheckBox);
  StartNowBox = nullptr;

  DestEdit = new ui::TEdit(this);
  ui::TFont editFont;
  editFont.Name = "Arial";
  editFont.Height = 14;
  DestEdit->SetFont(editFont);
  DestEdit->SetBounds(Panel2->Left(), below + 32, ClientWidth() - 260, 22);
  DestEdit->SetAnchors(ui::akLeft | ui::akRight | ui::akBottom);
  DestEdit->SetBorderStyle(ui::bsSingle);
  DestEdit->SetText(gDestination);
  DestEdit->SetParent(this);

  BrowseButton = make_text_button(this, this, "Browse", BTN_GLASS, 7.5, CLR_BLUE);
  BrowseButton->SetBounds(ClientWidth() - 80 - 8, below + 27, 80, 35);
  BrowseButton->SetAnchors(ui::akRight | ui::akBottom);
  BrowseButton->OnClick = [this](ui::TObject* s) { BrowseClick(s); };

  KVNButton4->Hide();
}

void TFormInstall::RemoveOptionsControls() {
  ui::TObject::Free(DestCaption);
  ui::TObject::Free(PageCheckBox);
  ui::TObject::Free(DestEdit);
  ui::TObject::Free(BrowseButton);
  DestCaption = nullptr;
  PageCheckBox = nullptr;
  DestEdit = nullptr;
  BrowseButton = nullptr;
}

void TFormInstall::BrowseClick(ui::TObject*) {
  std::string folder;
  folder_browse("Select Destination Installation Directory ...", gBaseFolder, true, folder);
  if (folder.empty() || DestEdit == nullptr) return;
  gBaseFolder = folder;
  DestEdit->SetText(string_add_backslash(folder) + "Korvane-Snaprill");
}

void TFormInstall::CreateFinishControls() {
  const bool success = mSuccess.load();
  PageCheckBox = nullptr;
  StartNowBox = nullptr;
  if (success && gInstallMode == cnModeNewInstallation) {
    PageCheckBox = make_box(
        {.owner = this, .parent = this, .caption = "Start Application each time with Windows", .checked = true});
    PageCheckBox->SetBounds(Panel2->Left(), Panel2->Top() + Panel2->Height() + 27, ClientWidth() - 275, 30);
    PageCheckBox->SetAnchors(ui::akLeft | ui::akBottom);
    PageCheckBox->OnClick = [this](ui::TObject* s) { AutorunBoxClick(s); };
  }
  if (success) {
    StartNowBox = make_box({.owner = this,
                            .parent = Panel3,
                            .caption = "Start Application Now (after clicking the Finish button)",
                            .checked = true});
    StartNowBox->SetBounds(Panel2->Left(), KVNCheckBox1->Top(), Panel3->ClientWidth() - 325, KVNCheckBox1->Height());
    StartNowBox->SetAnchors(ui::akLeft | ui::akBottom);
  }
  FinishButton = make_text_button(this, Panel3, "Finish", BTN_ROUND, 9.0, CLR_BLUE);
  FinishButton->SetBounds(Panel3->Width() - 113, 12, 105, 37);
  FinishButton->SetAnchors(ui::akRight | ui::akBottom);
  FinishButton->OnClick = [this](ui::TObject* s) { FinishClick(s); };
}

void TFormInstall::AutorunBoxClick(ui::TObject*) { ApplyAutorun(*this); }

void TFormInstall::FinishClick(ui::TObject*) {
  // A program that does not start is reported before the window closes (a
  // report after it would meet an ended loop), and the window closes all
  // the same: the installation is done.
  if (StartNowBox != nullptr && StartNowBox->Checked() && RunProgram && !RunProgram(gAppPath) &&
      ui::Application != nullptr)
    ui::Application->HandleException(
        std::make_exception_ptr(std::runtime_error("The installed application could not be started: " + gAppPath)));
  Close();
}

void TFormInstall::KVNButton4Click(ui::TObject*) {
  if (KVNButton4->ColorIndex() != CLR_BLUE || !PrintPreview) return;
  if (mPage == cnPageAgreement)
    PrintPreview(mAgreementText, "Korvane License");
  else if (mPage == cnPageFinished)
    PrintPreview(mLogText, "Installation Log");
}

void TFormInstall::KVNCheckBox1Click(ui::TObject*) { SetAnimate(KVNCheckBox1->Checked()); }

// ---- The checks' host ---------------------------------------------------------------

void TFormInstall::Message(uint8_t kind, const std::string& title, int32_t w, int32_t h, const std::string& markup) {
  dialog_show({.owner = this,
               .kind = kind,
               .title = title,
               .message = markup,
               .clientWidth = w,
               .clientHeight = h,
               .reference = this,
               .defaultResult = ui::mrOk});
}

void TFormInstall::ShowMessage(const rCheckMessage& m) { Message(m.kind, m.title, m.width, m.height, m.markup); }

void TFormInstall::ShowWait(std::string_view text) { mWait = wait_show(std::string(text), nullptr); }

void TFormInstall::ReleaseWait() {
  if (mWait != nullptr) mWait->Release();
  mWait = nullptr;
}

std::optional<bool> TFormInstall::AutorunBox() {
  if (mPage != cnPageFinished || PageCheckBox == nullptr) return std::nullopt;
  return PageCheckBox->Checked();
}
