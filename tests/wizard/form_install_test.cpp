// The installer window on the headless backend, driven by scripted clicks
// and the virtual clock with the installer's own container, installing into
// the sandbox: the pages and their buttons, the agreement, the destination
// checks, a whole installation and its finish page, a failed one, and the
// update of an existing installation.
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "form_install.h"
#include "installer_errors.h"
#include "installs_container.h"
#include "installs_manifest.h"
#include "installs_settings.h"
#include "kvn_button.h"
#include "kvn_checkbox.h"
#include "kvn_crypt.h"
#include "kvn_cursors.h"
#include "kvn_form_dlg.h"
#include "kvn_form_info_print.h"
#include "kvn_info.h"
#include "plat_ipc.h"
#include "plat_path_map.h"
#include "plat_registry.h"
#include "qlm_base_lists.h"
#include "qlm_renderer_ids.h"
#include "running_copy.h"
#include "sandbox.h"
#include "test_files.h"
#include "ui_app.h"
#include "ui_headless.h"
#include "win_interfaces.h"

extern "C" const uint8_t qlm_wizard_install_data[];
extern "C" const uint64_t qlm_wizard_install_data_size;

namespace {

namespace fs = std::filesystem;
using namespace ui;

constexpr const char* kUninstallPath = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Korvane Snaprill";

std::string host_of(const std::string& win) {
  std::string host;
  EXPECT_EQ(plat::to_posix(win, host), 0) << win;
  return host;
}

// A dialog the window owns and shows now.
TFormDlg* OpenDialog(TForm* owner) {
  for (int i = owner->ComponentCount() - 1; i >= 0; --i)
    if (auto* d = dynamic_cast<TFormDlg*>(owner->Components(i)); d != nullptr && !d->Destroying() && d->Modal())
      return d;
  return nullptr;
}

void ClickControl(TControl* c) {
  ASSERT_NE(c, nullptr);
  ASSERT_TRUE(c->Showing());
  TForm* f = c->ParentForm();
  test::Snapshot(f);
  const TRect r = c->FormRect();
  test::Click(f, (r.Left + r.Right) / 2, (r.Top + r.Bottom) / 2);
}

// A check box is clicked on its box, at its left.
void ClickBox(TKVNCheckBox* c) {
  ASSERT_NE(c, nullptr);
  ASSERT_TRUE(c->Showing());
  TForm* f = c->ParentForm();
  test::Snapshot(f);
  const TRect r = c->FormRect();
  test::Click(f, r.Left + 8, (r.Top + r.Bottom) / 2);
}

// An inactive (grey) button takes no mouse click; Enter on it still clicks.
void PressEnterOn(TKVNButton* b) {
  ASSERT_NE(b, nullptr);
  b->SetFocus();
  test::Key(b->ParentForm(), VK_RETURN);
}

class InstallFlow : public ::testing::Test {
 protected:
  InstallFlow() {
    qlm_renderer_start();
    resource_stop();
    resource_start();
    controls_register_pictures();
    RegisterContainer(qlm_wizard_install_data, qlm_wizard_install_data_size);
    install_settings_reset();
    form_install_globals_reset();
    form_install_window_globals_reset();
    plat::reg_delete_key(plat::RegRoot::CurrentUser, kUninstallPath);
    autorun_remove(true);
    dest_host_ = host_of(folder_local_app_data()) + "/Korvane-Snaprill";
    fs::remove_all(dest_host_);
  }
  ~InstallFlow() override {
    // No installation may outlive the window it reports to.
    EXPECT_TRUE(test::PumpUntil([] { return TInstallThread::Running() == 0; }, 60000));
    resource_stop();
    resource_start();
    install_settings_reset();
    form_install_globals_reset();
    form_install_window_globals_reset();
  }
  void RegisterContainer(const void* data, uint64_t size) {
    ASSERT_NE(resource_register(cnInstallDataName, data, int32_t(size)), nullptr);
  }
  // The window with the print preview recorded (or the real one).
  TFormInstall* Open(bool realPreview = false) {
    form = Create<TFormInstall>(Application);
    form->ExitWaits = {50, 2000};
    form->RunProgram = [this](const std::string& path) {
      started.push_back(path);
      return true;
    };
    if (!realPreview)
      form->PrintPreview = [this](const std::string& markup, const std::string& title) {
        previews.emplace_back(title, markup);
      };
    form->Show();
    return form;
  }
  // Runs an action that shows one message and answers it with OK; the
  // message's title.
  std::string Answered(const std::function<void()>& action) {
    std::string title;
    test::Script([&] {
      TFormDlg* d = OpenDialog(form);
      ASSERT_NE(d, nullptr);
      title = d->Heading->HeadingScene()->CaptionText();
      ClickControl(d->BtOK);
    });
    action();
    EXPECT_EQ(test::Headless().ScriptLeft(), 0u);
    return title;
  }
  void ToOptions() {
    ClickControl(form->KVNButton2);
    ClickBox(form->PageCheckBox);
    ClickControl(form->KVNButton2);
    ASSERT_EQ(form->Page(), 3);
  }
  // The installation runs, the log ticking each second, until the finish
  // page.
  void WaitForFinishPage() {
    ASSERT_TRUE(test::PumpUntil(
        [&] {
          test::Advance(1000);
          return form->Page() == 5;
        },
        60000));
  }
  // Install pressed with the edit's destination; waits for the finish page.
  void InstallAndWait() {
    ClickControl(form->KVNButton2);
    ASSERT_EQ(form->Page(), 4);
    WaitForFinishPage();
  }

  test::Session session;
  TFormInstall* form = nullptr;
  std::string dest_host_;
  std::vector<std::string> started;
  std::vector<std::pair<std::string, std::string>> previews;
};

// What each page shows in the status panel and the bottom bar, walking
// forward to the options page and back to the introduction.
TEST_F(InstallFlow, ThePagesAndTheirButtons) {
  Open();
  struct Row {
    const char* step;
    std::function<void()> action;
    uint8_t page;
    const char* status;
    int32_t progress;
    bool print, previous;
    TColorIndex continueColor;
    const char* continueCaption;
  };
  const Row rows[] = {
      {"created", [] {}, 1, cnStatusWelcome, 0, false, false, CLR_BLUE, "Continue"},
      {"Continue", [&] { ClickControl(form->KVNButton2); }, 2, cnStatusAgreeFirst, 12, true, true, CLR_GRAY,
       "Continue"},
      {"agreed", [&] { ClickBox(form->PageCheckBox); }, 2, cnStatusAgreed, 25, true, true, CLR_BLUE, "Continue"},
      {"unticked", [&] { ClickBox(form->PageCheckBox); }, 2, cnStatusAgreeFirst, 12, true, true, CLR_GRAY, "Continue"},
      {"ticked again", [&] { ClickBox(form->PageCheckBox); }, 2, cnStatusAgreed, 25, true, true, CLR_BLUE, "Continue"},
      {"options", [&] { ClickControl(form->KVNButton2); }, 3, cnStatusOptions, 50, false, true, CLR_GREEN, "Install"},
      {"back to the agreement", [&] { ClickControl(form->KVNButton3); }, 2, cnStatusAgreeFirst, 12, true, true,
       CLR_GRAY, "Continue"},
      {"back to the introduction", [&] { ClickControl(form->KVNButton3); }, 1, cnStatusWelcome, 0, false, false,
       CLR_BLUE, "Continue"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.step);
    row.action();
    EXPECT_EQ(form->Page(), row.page);
    EXPECT_EQ(form->StatusText(), row.status);
    EXPECT_EQ(form->Progress(), row.progress);
    EXPECT_EQ(form->KVNButton4->Visible(), row.print);
    EXPECT_EQ(form->KVNButton3->Visible(), row.previous);
    EXPECT_EQ(form->KVNButton2->ColorIndex(), row.continueColor);
    EXPECT_EQ(form->KVNButton2->ButtonText(), row.continueCaption);
    EXPECT_EQ(form->PageCheckBox != nullptr, row.page == 2 || row.page == 3);
    EXPECT_EQ(form->DestEdit != nullptr, row.page == 3);
    EXPECT_GT(form->PageScene()->GetTextHeight(), 0);
  }
  EXPECT_EQ(form->Caption(), cnInstallerCaption);
  EXPECT_EQ(form->ClientWidth(), 699);
  EXPECT_EQ(form->ClientHeight(), 476);
}

// Every text the window shows is mark-up that parses and lays out whole.
// A still first page wakes nobody but the status panel once a second: the
// hover timers of the banner, buttons and check boxes sleep until the
// pointer moves, and sleep again when it has left.
TEST_F(InstallFlow, AStillFirstPageRunsOnlyThePanelsSecondTimer) {
  Open();
  test::Advance(500);
  EXPECT_LE(test::Headless().RunningTimers(), 1u);
  for (int x = 0; x < form->ClientWidth(); x += 7)
    test::MouseMove(form, x, x * form->ClientHeight() / form->ClientWidth());
  test::MouseLeave(form);
  test::Advance(500);
  EXPECT_LE(test::Headless().RunningTimers(), 1u);
}

TEST_F(InstallFlow, ThePageTextsParse) {
  const struct {
    const char* what;
    std::string markup;
  } texts[] = {
      {"introduction", install_intro_text()},
      {"agreement", install_agreement_text()},
      {"options", install_options_text(5379659)},
      {"existing installation", install_existing_text()},
  };
  for (const auto& t : texts) {
    SCOPED_TRACE(t.what);
    TInfoScene scene;
    EXPECT_TRUE(scene.LoadText(t.markup, 470, true));
    EXPECT_GT(scene.GetTextHeight(), 100);
  }
  EXPECT_NE(install_options_text(5379659).find(">5 MB~>"), std::string::npos);
}

TEST_F(InstallFlow, ContinueWithoutTheBoxAsksToAgreeFirstAndPrintPreviewsTheAgreement) {
  Open();
  ClickControl(form->KVNButton2);
  EXPECT_EQ(Answered([&] { PressEnterOn(form->KVNButton2); }), "Agree First");
  EXPECT_EQ(form->Page(), 2);
  ClickControl(form->KVNButton4);
  ASSERT_EQ(previews.size(), 1u);
  EXPECT_EQ(previews[0].first, "Korvane License");
  EXPECT_EQ(previews[0].second, install_agreement_text());
}

// Print on the agreement page opens the preview dialog, modal.
TEST_F(InstallFlow, PrintOpensThePreviewOfTheAgreement) {
  Open(true);
  ClickControl(form->KVNButton2);
  bool shown = false;
  test::Script([&] {
    TFormInfoPrint* p = nullptr;
    for (int i = form->ComponentCount() - 1; i >= 0 && p == nullptr; --i)
      p = dynamic_cast<TFormInfoPrint*>(form->Components(i));
    ASSERT_NE(p, nullptr);
    shown = p->Modal();
    test::CloseBox(p);
  });
  ClickControl(form->KVNButton4);
  EXPECT_TRUE(shown);
  EXPECT_EQ(form->Page(), 2);
}

// Previous and back resets the edit; the container is scanned once.
TEST_F(InstallFlow, TheOptionsPageResetsTheDestinationAndScansOnce) {
  Open();
  ASSERT_NO_FATAL_FAILURE(ToOptions());
  const std::string proposed = form->DestEdit->Text();
  EXPECT_EQ(proposed, folder_local_app_data() + "\\Korvane-Snaprill");
  EXPECT_GT(gRequiredSpace, 0);
  const int64_t required = gRequiredSpace;
  test::TypeText(form->DestEdit, "C:\\elsewhere");
  ClickControl(form->KVNButton3);
  gRequiredSpace = required + 1;  // a second scan would put it back
  ClickBox(form->PageCheckBox);
  ClickControl(form->KVNButton2);
  ASSERT_NE(form->DestEdit, nullptr);
  EXPECT_EQ(form->DestEdit->Text(), proposed);
  EXPECT_EQ(gRequiredSpace, required + 1);
}

// Destinations refused before anything is written: the message and no
// installation.
TEST_F(InstallFlow, RefusedDestinations) {
  const std::string sandbox_win = testenv::win_of(testenv::sandbox_dir("targets"));
  const struct {
    const char* what;
    std::string destination;
    int64_t required;  // 0: the container's
    const char* title;
  } rows[] = {
      {"a drive root", "C:\\", 0, "Can't Install"},
      {"a drive root and blanks", "C:\\   ", 0, "Can't Install"},
      {"a network path", "\\\\server\\share\\app", 0, "Can't Install"},
      {"a relative name", "Korvane-Snaprill", 0, "Can't Install"},
      {"a control character", sandbox_win + "\\a\tb", 0, "Can't Install"},
      {"a missing parent", sandbox_win + "\\missing\\Korvane-Snaprill", 0, "Can't Create Folder"},
      {"too little space", sandbox_win + "\\roomy", int64_t(1) << 62, "Can't Install"},
      // Names no folder can be made for: the drive has room, the folder's
      // creation fails.
      {"a level of 300 characters", "C:\\tmp\\x\\" + std::string(300, 'A'), 0, "Can't Create Folder"},
      {"a level of 300 characters in the sandbox", sandbox_win + "\\" + std::string(300, 'A'), 0,
       "Can't Create Folder"},
      {"a name of 20,000 characters", sandbox_win + "\\" + std::string(20000, 'B'), 0, "Can't Create Folder"},
      {"20,000 characters in levels",
       sandbox_win +
           [] {
             std::string s;
             while (s.size() < 20000) s += "\\abcdefghi";
             return s;
           }(),
       0, "Can't Create Folder"},
      {"a name with a question mark", sandbox_win + "\\what?", 0, "Can't Create Folder"},
      {"a name with a wildcard", sandbox_win + "\\a*b\\c", 0, "Can't Create Folder"},
      // Such a name on a drive without the room still hears of the space.
      {"a long name and too little space", sandbox_win + "\\" + std::string(300, 'A'), int64_t(1) << 62,
       "Can't Install"},
  };
  Open();
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    gRequiredSpace = row.required;
    ASSERT_NO_FATAL_FAILURE(ToOptions());
    test::TypeText(form->DestEdit, row.destination);
    EXPECT_EQ(Answered([&] { ClickControl(form->KVNButton2); }), row.title);
    EXPECT_EQ(form->Page(), 3);
    EXPECT_EQ(gDestination, row.destination);
    EXPECT_EQ(TInstallThread::Running(), 0);
    ClickControl(form->KVNButton3);
    ClickControl(form->KVNButton3);
  }
  EXPECT_FALSE(fs::exists(testenv::sandbox_root() + "/targets/missing"));
}

// Installing over a folder that holds the application while a copy of it
// runs: a copy that exits when asked lets the installation go on, one that
// stays blocks it with its message.
TEST_F(InstallFlow, ARunningCopyIsAskedToExitFirst) {
  for (const bool stays : {true, false}) {
    SCOPED_TRACE(stays ? "the copy stays" : "the copy exits");
    fs::create_directories(dest_host_);
    testenv::write_file(dest_host_ + "/Korvane-Snaprill.exe", "old");
    RunningCopy copy(stays ? std::vector<std::string>{"--ignore"} : std::vector<std::string>{});
    ASSERT_TRUE(copy.Ready());
    Open();
    form->ExitWaits = {300, 2000};
    ASSERT_NO_FATAL_FAILURE(ToOptions());
    if (stays) {
      EXPECT_EQ(Answered([&] { ClickControl(form->KVNButton2); }), "Exit Application First");
      EXPECT_EQ(form->Page(), 3);
    } else {
      ASSERT_NO_FATAL_FAILURE(InstallAndWait());
      EXPECT_TRUE(form->InstallSucceeded());
      EXPECT_EQ(copy.Ended(std::chrono::milliseconds(5000)), 0);
      ClickControl(form->FinishButton);
    }
    TObject::Free(form);
    form = nullptr;
    copy.Kill();
    fs::remove_all(dest_host_);
    install_settings_reset();
    form_install_globals_reset();
  }
}

// A new installation into the proposed folder, then the finish page.
TEST_F(InstallFlow, ANewInstallationEndsOnTheFinishPage) {
  Open();
  ASSERT_NO_FATAL_FAILURE(ToOptions());
  ClickControl(form->KVNButton2);
  ASSERT_EQ(form->Page(), 4);
  EXPECT_EQ(form->KVNButton2, nullptr);
  EXPECT_EQ(form->KVNButton3, nullptr);
  EXPECT_EQ(form->KVNButton4->ColorIndex(), CLR_GRAY);
  EXPECT_NE(form->LogText().find("Wait please, Installing Korvane Snaprill 1.31"), std::string::npos);
  // Closing is refused and Print does nothing while the thread runs.
  test::CloseBox(form);
  EXPECT_TRUE(form->Visible());
  form->KVNButton4Click(nullptr);
  EXPECT_TRUE(previews.empty());

  ASSERT_NO_FATAL_FAILURE(WaitForFinishPage());
  EXPECT_TRUE(form->InstallSucceeded());
  EXPECT_EQ(form->StatusText(), cnStatusInstallOk);
  EXPECT_EQ(form->Progress(), 100);
  EXPECT_TRUE(form->KVNCheckBox1->Checked());
  EXPECT_TRUE(form->Animating());
  EXPECT_EQ(form->KVNButton4->ColorIndex(), CLR_BLUE);
  ASSERT_NE(form->PageCheckBox, nullptr);
  ASSERT_NE(form->StartNowBox, nullptr);
  ASSERT_NE(form->FinishButton, nullptr);
  // The log as shown: every entry, then a paragraph end.
  const std::string log = form->InstallLog()->Joined() + "~(p)";
  EXPECT_EQ(form->LogText(), log);
  EXPECT_NE(log.find("Installation successfuly completed."), std::string::npos);

  EXPECT_TRUE(fs::exists(dest_host_ + "/Korvane-Snaprill.exe"));
  // The uninstall manifest: decrypted, its check line matches, and 42 CR LF
  // lines stand before it.
  std::string manifest = testenv::read_file(dest_host_ + "/uninstall.config");
  ASSERT_FALSE(manifest.empty());
  ASSERT_TRUE(crypt_decrypt_buffer(manifest.data(), int64_t(manifest.size()), manifest_passphrase()));
  EXPECT_EQ(manifest_check(manifest), 1);
  const size_t check = manifest.rfind(cnManifestCheckTag);
  ASSERT_NE(check, std::string::npos);
  size_t lines = 0;
  for (size_t at = manifest.find("\r\n"); at < check; at = manifest.find("\r\n", at + 2)) ++lines;
  EXPECT_EQ(lines, 42u);
  EXPECT_EQ(gAppPath, folder_local_app_data() + "\\Korvane-Snaprill\\Korvane-Snaprill.exe");
  EXPECT_TRUE(autorun_is_set(gAppPath, true));
  EXPECT_EQ(testenv::read_file(dest_host_ + "/Data/Korvane-Snaprill.capture-config"), capture_config_text(true, true));
  // The autorun box follows clicks.
  ClickBox(form->PageCheckBox);
  EXPECT_FALSE(autorun_is_set(gAppPath, true));
  ClickBox(form->PageCheckBox);
  EXPECT_TRUE(autorun_is_set(gAppPath, true));

  ClickControl(form->KVNButton4);
  ASSERT_EQ(previews.size(), 1u);
  EXPECT_EQ(previews[0].first, "Installation Log");
  EXPECT_EQ(previews[0].second, form->LogText());

  ClickControl(form->FinishButton);
  EXPECT_EQ(started, std::vector<std::string>{gAppPath});
  EXPECT_FALSE(form->Visible());
}

// The log grows by appends at each tick; what the viewer holds at the end is
// the whole text laid out at once: every entry, then a paragraph end.
TEST_F(InstallFlow, TheLogShownEqualsItsWholeText) {
  Open();
  const auto laid_out_height = [&](const std::string& markup) {
    TInfoScene fresh;
    EXPECT_TRUE(fresh.LoadText(markup, form->PageScene()->GetLayoutWidth(), true));
    return fresh.GetTextHeight();
  };
  for (const bool withFigures : {false, true}) {
    SCOPED_TRACE(withFigures ? "an entry with figures" : "plain entries");
    std::shared_ptr<cWorkEntries> log = form->InstallLog();
    form->ClearLog();
    log->AddText("~{text <ff=\"Arial\";fs:pt=12;alignx=LEFT;spacing=6>} ");
    form->RenderLog();
    rWorkEntry* counted = nullptr;
    for (int tick = 0; tick < 5; ++tick) {
      for (int i = 0; i < 7; ++i)
        log->AddText("~<fs:pt=\"-3\">C:\\a\\file" + std::to_string(tick * 7 + i) + ".txt~>~)");
      if (withFigures && tick == 1) {
        counted = log->AddText("Counting");
        counted->kind = 2;
        counted->total = 4;
      }
      if (counted != nullptr) counted->done = tick;
      form->LogTimerTick(nullptr);
      if (counted == nullptr)
        EXPECT_EQ(form->LogText(), log->Joined() + "~(p)") << "tick " << tick;
      else
        EXPECT_NE(form->LogText().find(tick < 4 ? "Counting (" + std::to_string(tick) + "/4)~)" : "Counting(OK)~)"),
                  std::string::npos)
            << "tick " << tick;
    }
    form->LogTimerTick(nullptr);  // nothing new
    form->CloseLog();
    EXPECT_EQ(form->PageScene()->GetTextHeight(), laid_out_height(form->LogText()));
    EXPECT_NE(form->LogText().find("file34.txt"), std::string::npos);
  }
}

// While installing, the viewer shows the log as it grows, scrolled to its
// end: every pixel as the whole text laid out at once and scrolled to its
// end shows it, the newest line whole; also with a destination so long that
// its lines need the horizontal bar, which the newest line stays above.
TEST_F(InstallFlow, TheGrowingLogLooksAsTheWholeTextScrolledToItsEnd) {
  Open();
  const auto viewer_pixels = [&] {
    const TBitmap& b = test::Snapshot(form);
    const TRect v = form->Viewer()->FormRect();
    std::vector<uint32_t> px;
    for (int y = v.Top; y < v.Bottom; ++y)
      for (int x = v.Left; x < v.Right; ++x) {
        const uint8_t* p = b.ScanLine(y) + size_t(x) * 4;
        px.push_back(uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0]);
      }
    return px;
  };
  const std::string longFolder = "C:\\" + std::string(179, 'd') + "\\Korvane-Snaprill";
  ASSERT_EQ(longFolder.size(), 199u);
  for (const std::string& folder : {std::string("C:\\Korvane-Snaprill"), longFolder}) {
    SCOPED_TRACE(folder.size());
    std::shared_ptr<cWorkEntries> log = form->InstallLog();
    const auto start_log = [&](int ticks) {
      form->ClearLog();
      log->AddText("~{text <ff=\"Arial\";fs:pt=12;alignx=LEFT;spacing=6>} ");
      log->AddText("~<b;fs:pt=\"+1\">Wait please, Installing Korvane Snaprill 1.31~>~(p) ");
      for (int t = 0; t < ticks; ++t)
        for (int i = 0; i < 6; ++i)
          log->AddText("~<fs:pt=\"-3\">" + folder + "\\Images\\file" + std::to_string(t * 6 + i) + ".jpg~>~)");
      form->RenderLog();
    };
    start_log(0);
    for (int tick = 0; tick < 4; ++tick) {
      SCOPED_TRACE("tick " + std::to_string(tick));
      for (int i = 0; i < 6; ++i)
        log->AddText("~<fs:pt=\"-3\">" + folder + "\\Images\\file" + std::to_string(tick * 6 + i) + ".jpg~>~)");
      if (tick == 3) log->AddText("~(p)Creating Programs Group Folder ...~) ");
      form->LogTimerTick(nullptr);
      const std::vector<uint32_t> live = viewer_pixels();
      const int32_t liveScroll = form->Viewer()->ScrollY();
      // The long lines need the horizontal bar; the newest line ends inside
      // the view and above that bar (the text starts 10 pixels down, the
      // bar stands 5 above the bottom).
      TInfoControl* v = form->Viewer();
      const bool bar = v->ContentWidth() > v->Width();
      EXPECT_EQ(bar, folder.size() > 100);
      EXPECT_LE(10 + form->PageScene()->GetTextHeight() - liveScroll, v->Height() - (bar ? v->BarSize + 5 : 0));
      // The same text laid out at once, as the finished page shows it.
      const std::string whole = form->LogText();
      form->ShowPageText(whole, true);
      form->Viewer()->ScrollToEnd();
      EXPECT_EQ(form->Viewer()->ScrollY(), liveScroll);
      const std::vector<uint32_t> once = viewer_pixels();
      ASSERT_EQ(live.size(), once.size());
      size_t differ = 0;
      for (size_t i = 0; i < live.size(); ++i) differ += live[i] != once[i];
      EXPECT_EQ(differ, 0u);
      // Back to the live log, as it stood.
      start_log(tick + 1);
    }
  }
}

// The window freed while its installation runs (the layer stopping) waits
// for the thread's end; nothing is left reporting to it.
TEST_F(InstallFlow, FreedWhileInstallingWaitsForTheThread) {
  Open();
  ASSERT_NO_FATAL_FAILURE(ToOptions());
  ClickControl(form->KVNButton2);
  ASSERT_EQ(form->Page(), 4);
  TObject::Free(form);
  form = nullptr;
  // The thread object frees itself just after its end handler returned.
  EXPECT_TRUE(test::PumpUntil([] { return TInstallThread::Running() == 0; }, 5000));
}

TEST_F(InstallFlow, ACorruptedContainerEndsWithTheFailureAndFinishOnly) {
  std::vector<uint8_t> bad(qlm_wizard_install_data, qlm_wizard_install_data + qlm_wizard_install_data_size);
  bad[bad.size() / 2] ^= 0x5A;
  resource_stop();
  resource_start();
  controls_register_pictures();
  RegisterContainer(bad.data(), bad.size());
  Open();
  ASSERT_NO_FATAL_FAILURE(ToOptions());
  ASSERT_NO_FATAL_FAILURE(InstallAndWait());
  EXPECT_FALSE(form->InstallSucceeded());
  EXPECT_EQ(form->StatusText(), cnStatusInstallFailed);
  EXPECT_EQ(form->PageCheckBox, nullptr);
  EXPECT_EQ(form->StartNowBox, nullptr);
  ASSERT_NE(form->FinishButton, nullptr);
  EXPECT_NE(form->LogText().find("~<b;ct=red>Installation Failure:"), std::string::npos);
  EXPECT_FALSE(fs::exists(dest_host_ + "/uninstall.config"));
  EXPECT_FALSE(autorun_is_set(folder_local_app_data() + "\\Korvane-Snaprill\\Korvane-Snaprill.exe", true));
  ClickControl(form->FinishButton);
  EXPECT_TRUE(started.empty());
  // The program's exit status says the installation failed.
  EXPECT_EQ(form->ExitStatus(), cnExitFailed);
}

// A step of the installation's end that fails is reported as a handler's
// error is, and the steps after it still run: the window reaches its finish
// page, which the user can leave.
TEST_F(InstallFlow, AFailingEndStepIsReportedAndTheFinishPageStillComes) {
  Open();
  std::vector<std::string> reported;
  Application->OnException = [&](std::exception_ptr e) { reported.push_back(exception_text(e)); };
  // The end checks the Animate box, which runs its handler.
  form->KVNCheckBox1->OnClick = [](TObject*) { throw std::runtime_error("the animation failed"); };
  ASSERT_NO_FATAL_FAILURE(ToOptions());
  ClickControl(form->KVNButton2);
  testing::internal::CaptureStderr();
  ASSERT_TRUE(test::PumpUntil(
      [&] {
        test::Advance(1000);
        return !form->Installing();
      },
      60000));
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_EQ(reported, std::vector<std::string>{"the animation failed"});
  EXPECT_NE(log.find("error in an event handler: the animation failed"), std::string::npos) << log;
  EXPECT_EQ(form->Page(), 5);
  EXPECT_EQ(form->KVNButton4->ColorIndex(), CLR_BLUE);
  EXPECT_TRUE(autorun_is_set(gAppPath, true));  // the last step ran
  ASSERT_NE(form->FinishButton, nullptr);
  ClickControl(form->FinishButton);
  EXPECT_FALSE(form->Visible());
  EXPECT_EQ(form->ExitStatus(), cnExitInstalled);
}

// A finishing action that does not take effect is reported (the window's
// loop shows it in the error dialog), never passed over: the Run value that
// cannot be written, the configuration that cannot be replaced, the program
// that does not start. Finish still closes the window.
TEST_F(InstallFlow, FinishingActionsThatFailAreReported) {
  Open();
  std::vector<std::string> reported;
  Application->OnException = [&](std::exception_ptr e) { reported.push_back(exception_text(e)); };
  // Without its key the Run value cannot be written; the key comes back
  // for the tests after this one.
  static constexpr const char* kRunPath = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
  struct RunKeyBack {
    ~RunKeyBack() {
      plat::RegKey key;
      EXPECT_EQ(plat::reg_create_key(plat::RegRoot::CurrentUser, kRunPath, key), 0);
      plat::reg_close_key(key);
    }
  } back;
  ASSERT_EQ(plat::reg_delete_key(plat::RegRoot::CurrentUser, kRunPath), 0);
  ASSERT_NO_FATAL_FAILURE(ToOptions());
  ASSERT_NO_FATAL_FAILURE(InstallAndWait());
  ASSERT_TRUE(form->InstallSucceeded());
  EXPECT_EQ(reported, std::vector<std::string>{"The application could not be registered to start with Windows."});
  // The configuration says what took effect.
  EXPECT_EQ(testenv::read_file(dest_host_ + "/Data/Korvane-Snaprill.capture-config"), capture_config_text(false, true));

  // A file where the configuration's folder was: unticking writes nothing.
  fs::remove_all(dest_host_ + "/Data");
  testenv::write_file(dest_host_ + "/Data", "in the way");
  // The clicks run inside the loop, as the user's do.
  const auto in_loop = [](const std::function<void()>& click) {
    test::Script(click);
    for (int round = 0; round < 20 && test::Headless().ScriptLeft() > 0; ++round)
      ASSERT_NO_THROW(Application->HandleMessage());
  };
  in_loop([&] { ClickBox(form->PageCheckBox); });
  ASSERT_EQ(reported.size(), 2u);
  EXPECT_EQ(reported[1], "The capture configuration could not be written: " + capture_config_path());

  form->RunProgram = [](const std::string&) { return false; };
  // Finish reports the failure itself and still closes the window.
  in_loop([&] { ClickControl(form->FinishButton); });
  ASSERT_EQ(reported.size(), 3u);
  EXPECT_EQ(reported[2], "The installed application could not be started: " + gAppPath);
  EXPECT_FALSE(form->Visible());
  EXPECT_EQ(form->ExitStatus(), cnExitInstalled);
}

// ---- Two installers at once ------------------------------------------------

// The other installer: this test binary again, running only
// TheOtherInstaller in the sandbox of the test that started it. It says
// "installing" once its installation runs and, until told "go" on its
// input, serves no event, so its installation cannot end before the first
// installer has tried its own.
constexpr const char* kOtherInstallerRoot = "QLM_OTHER_INSTALLER_ROOT";
constexpr const char* kOtherSaysInstalling = "qlm-other-installer: installing";

class OtherInstaller {
 public:
  OtherInstaller() {
    int in[2], out[2];
    if (pipe(in) != 0) return;
    if (pipe(out) != 0) {
      close(in[0]);
      close(in[1]);
      return;
    }
    std::string self = fs::read_symlink("/proc/self/exe").string();
    std::string filter = "--gtest_filter=InstallFlow.TheOtherInstaller";
    char* argv[] = {self.data(), filter.data(), nullptr};
    testenv::SavedEnv saved({kOtherInstallerRoot});
    setenv(kOtherInstallerRoot, testenv::sandbox_root().c_str(), 1);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, in[1]);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv, environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    to_ = in[1];
    from_ = out[0];
  }
  ~OtherInstaller() {
    if (to_ >= 0) close(to_);
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (from_ >= 0) close(from_);
  }
  // Reads what it prints until the text shows or the time is up.
  bool Said(const std::string& text, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (said_.find(text) == std::string::npos) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
      if (left <= 0 || from_ < 0) return false;
      pollfd p{from_, POLLIN, 0};
      if (poll(&p, 1, int(std::min<int64_t>(left, 100))) <= 0) continue;
      char buf[512];
      const ssize_t n = read(from_, buf, sizeof(buf));
      if (n <= 0) return said_.find(text) != std::string::npos;
      said_.append(buf, size_t(n));
    }
    return true;
  }
  void Go() {
    if (to_ >= 0 && write(to_, "go\n", 3) != 3) ADD_FAILURE() << "the other installer took no input";
  }
  // Its exit status once it ended within the time (its output read on the
  // way); -1 when it still runs.
  int Ended(int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
      Said("\n<never>", 50);
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
    }
    return -1;
  }
  const std::string& Output() const { return said_; }

 private:
  pid_t pid_ = -1;
  int to_ = -1, from_ = -1;
  std::string said_;
};

// The other installer's side (runs only when started as the other one):
// the whole installation into the proposed folder of the sandbox it was
// given, held before its end until it is told to go on.
TEST_F(InstallFlow, TheOtherInstaller) {
  const char* root = std::getenv(kOtherInstallerRoot);
  if (root == nullptr) GTEST_SKIP() << "started by TwoInstallersAtOnce only";
  const fs::path r(root);
  setenv("HOME", (r / "home").c_str(), 1);
  setenv("XDG_DATA_HOME", (r / "home/.local/share").c_str(), 1);
  setenv("XDG_CONFIG_HOME", (r / "home/.config").c_str(), 1);
  setenv("XDG_CACHE_HOME", (r / "home/.cache").c_str(), 1);
  setenv("XDG_RUNTIME_DIR", (r / "runtime").c_str(), 1);
  plat::ipc_set_name_token(r.filename().string());
  plat::reg_set_machine_folder((r / "machine-registry").string());
  Open();
  ASSERT_NO_FATAL_FAILURE(ToOptions());
  ClickControl(form->KVNButton2);
  ASSERT_EQ(form->Page(), 4);
  std::printf("\n%s\n", kOtherSaysInstalling);
  std::fflush(stdout);
  char line[16] = {};
  ASSERT_NE(std::fgets(line, sizeof(line), stdin), nullptr);
  ASSERT_NO_FATAL_FAILURE(WaitForFinishPage());
  EXPECT_TRUE(form->InstallSucceeded());
}

// The folders an uninstall with this manifest removes: its "path" lines,
// as host paths.
std::vector<std::string> manifest_folders(const std::string& manifestFile) {
  std::string text = testenv::read_file(manifestFile);
  std::vector<std::string> folders;
  if (text.empty() || !crypt_decrypt_buffer(text.data(), int64_t(text.size()), manifest_passphrase())) return folders;
  const std::string key = "~<path=\"";
  for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + 1)) {
    const size_t from = at + key.size(), to = text.find('"', from);
    if (to == std::string::npos) break;
    folders.push_back(host_of(text.substr(from, to - from)));
  }
  return folders;
}

// Two installers into the same folder at once: the second, started while
// the first one installs, is told so and installs nothing; the manifest the
// first leaves records every folder it made, so an uninstall (its files,
// then its folders, deepest first) leaves none of them.
TEST_F(InstallFlow, TwoInstallersAtOnce) {
  // This installer is opened first: the other one's installation registers
  // itself before it ends, and a window opened after that would offer the
  // update instead.
  Open();
  ASSERT_NO_FATAL_FAILURE(ToOptions());
  OtherInstaller other;
  ASSERT_TRUE(other.Said(kOtherSaysInstalling, 60000)) << other.Output();
  EXPECT_EQ(Answered([&] { ClickControl(form->KVNButton2); }), "Installation Running");
  EXPECT_EQ(form->Page(), 3);
  EXPECT_EQ(TInstallThread::Running(), 0);
  other.Go();
  ASSERT_EQ(other.Ended(60000), 0) << other.Output();

  std::vector<std::string> folders = manifest_folders(dest_host_ + "/uninstall.config");
  for (const char* made : {"Captured", "Compositions", "Data", "Images"}) {
    SCOPED_TRACE(made);
    EXPECT_TRUE(fs::is_directory(dest_host_ + "/" + made));
    EXPECT_TRUE(std::find(folders.begin(), folders.end(), dest_host_ + "/" + made + "/") != folders.end())
        << "the manifest does not record the folder";
  }
  // The uninstall: every file under the destination goes, then the
  // recorded folders, deepest first; none of them may stay.
  for (const auto& e : fs::recursive_directory_iterator(dest_host_))
    if (!e.is_directory()) fs::remove(e.path());
  std::sort(folders.begin(), folders.end(), [](const std::string& a, const std::string& b) { return a > b; });
  for (const std::string& f : folders) fs::remove(f);
  std::vector<std::string> left;
  for (const auto& e : fs::recursive_directory_iterator(dest_host_)) left.push_back(e.path().string());
  EXPECT_TRUE(left.empty()) << left.front();

  // With the other installation ended, this installer may install.
  fs::remove_all(dest_host_);
  ASSERT_NO_FATAL_FAILURE(InstallAndWait());
  EXPECT_TRUE(form->InstallSucceeded());
}

// The Uninstall entry an installation leaves decides whether the update is
// offered: only "UninstallString" with its case, naming an existing folder.
TEST_F(InstallFlow, TheExistingInstallationIsFoundByItsExactValue) {
  fs::create_directories(dest_host_);
  const std::string uninstaller = folder_local_app_data() + "\\Korvane-Snaprill\\uninstall.exe";
  const struct {
    const char* what;
    const char* name;
    std::string value;
    bool offered;
  } rows[] = {
      {"other case", "uninstallstring", uninstaller, false},
      {"empty", "UninstallString", "", false},
      {"a missing folder", "UninstallString", "C:\\nowhere\\at\\all\\uninstall.exe", false},
      {"present", "UninstallString", uninstaller, true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    plat::reg_delete_key(plat::RegRoot::CurrentUser, kUninstallPath);
    plat::RegKey key;
    ASSERT_EQ(plat::reg_create_key(plat::RegRoot::CurrentUser, kUninstallPath, key), plat::kRegOk);
    ASSERT_EQ(plat::reg_set_string(key, row.name, row.value), plat::kRegOk);
    plat::reg_close_key(key);
    bool offered = false;
    if (row.offered)
      test::Script([&] {
        TFormDlg* d = OpenDialog(form);
        ASSERT_NE(d, nullptr);
        offered = true;
        test::Key(d, VK_ESCAPE);  // Esc: a new installation
      });
    Open();
    EXPECT_EQ(offered, row.offered);
    EXPECT_EQ(gInstallMode, cnModeNewInstallation);
    EXPECT_TRUE(test::PumpUntil(
        [&] {
          test::Advance(25);
          return !gFormShown;
        },
        5000));
    EXPECT_EQ(form->Page(), 1);
    TObject::Free(form);
    form = nullptr;
  }
}

// Update chosen while the application runs and stays: the "Exit
// Application First" message, and the choice is offered again.
TEST_F(InstallFlow, UpdateWhileTheApplicationStaysRunning) {
  fs::create_directories(dest_host_);
  plat::RegKey key;
  ASSERT_EQ(plat::reg_create_key(plat::RegRoot::CurrentUser, kUninstallPath, key), plat::kRegOk);
  ASSERT_EQ(plat::reg_set_string(key, "UninstallString", folder_local_app_data() + "\\Korvane-Snaprill\\uninstall.exe"),
            plat::kRegOk);
  plat::reg_close_key(key);
  RunningCopy copy({"--ignore"});
  ASSERT_TRUE(copy.Ready());
  TFormDlg* choice = nullptr;
  std::string message;
  bool stillOpen = false;
  test::Script([&] {
    choice = OpenDialog(form);
    ASSERT_NE(choice, nullptr);
    ClickControl(choice->BtYes);
  });
  test::Script([&] {
    TFormDlg* d = OpenDialog(form);
    ASSERT_NE(d, nullptr);
    ASSERT_NE(d, choice);
    message = d->Heading->HeadingScene()->CaptionText();
    ClickControl(d->BtOK);
  });
  test::Script([&] {
    stillOpen = OpenDialog(form) == choice && choice->Modal();
    test::Key(choice, VK_ESCAPE);
  });
  form = Create<TFormInstall>(Application);
  form->ExitWaits = {200, 2000};
  form->Show();
  EXPECT_EQ(message, "Exit Application First");
  EXPECT_TRUE(stillOpen);
  EXPECT_EQ(gInstallMode, cnModeNewInstallation);
  EXPECT_EQ(form->Page(), 1);
  EXPECT_FALSE(gSkipConfig);
}

// An installation, then the installer again: Update goes straight to the
// log, keeps the Run value and the capture configuration as they were.
TEST_F(InstallFlow, TheUpdateRoad) {
  Open();
  ASSERT_NO_FATAL_FAILURE(ToOptions());
  ASSERT_NO_FATAL_FAILURE(InstallAndWait());
  ASSERT_TRUE(form->InstallSucceeded());
  const std::string app = gAppPath;
  ClickBox(form->PageCheckBox);  // no Run value
  ASSERT_FALSE(autorun_is_set(app, true));
  const std::string config = dest_host_ + "/Data/Korvane-Snaprill.capture-config";
  testenv::write_file(config, "the user's own\r\n");
  ClickControl(form->FinishButton);
  TObject::Free(form);
  form = nullptr;
  install_settings_reset();
  form_install_globals_reset();
  form_install_window_globals_reset();

  test::Script([&] {
    TFormDlg* d = OpenDialog(form);
    ASSERT_NE(d, nullptr);
    ClickControl(d->BtYes);
  });
  Open();
  EXPECT_EQ(gInstallMode, cnModeUpdate);
  EXPECT_EQ(gDestination, folder_local_app_data() + "\\Korvane-Snaprill\\");
  EXPECT_TRUE(gSkipConfig);
  ASSERT_TRUE(test::PumpUntil(
      [&] {
        test::Advance(25);
        return form->Page() != 1;
      },
      5000));
  EXPECT_EQ(form->Page(), 4);
  EXPECT_EQ(form->StatusText(), cnStatusUpdating);
  EXPECT_EQ(form->Progress(), 0);
  EXPECT_NE(form->LogText().find("Wait please, Updating to Korvane Snaprill 1.31"), std::string::npos);
  ASSERT_NO_FATAL_FAILURE(WaitForFinishPage());
  EXPECT_TRUE(form->InstallSucceeded());
  EXPECT_EQ(form->StatusText(), cnStatusUpdateOk);
  EXPECT_EQ(form->PageCheckBox, nullptr);
  EXPECT_NE(form->StartNowBox, nullptr);
  EXPECT_FALSE(autorun_is_set(app, true));
  EXPECT_EQ(testenv::read_file(config), "the user's own\r\n");
  EXPECT_EQ(gRunValuePrefix, "Korvane-Snaprill\\");
}

// An exception that leaves one of the window's handlers is shown to the user
// in an error dialog with its text, and the window goes on working.
TEST_F(InstallFlow, AHandlerErrorIsShownAndTheWindowGoesOn) {
  Open();
  Application->OnException = installer_report_exception;
  form->PrintPreview = [](const std::string&, const std::string&) {
    throw std::runtime_error("the preview failed: ~1~");
  };
  ClickControl(form->KVNButton2);
  ASSERT_EQ(form->Page(), 2);
  std::string title;
  bool shown = false;
  testing::internal::CaptureStderr();
  // The click runs inside the loop, as the user's does; the dialog is
  // answered from its own modal loop.
  test::Script([&] { ClickControl(form->KVNButton4); });
  test::Script([&] {
    TFormDlg* d = OpenDialog(form);
    ASSERT_NE(d, nullptr);
    shown = true;
    title = d->Heading->HeadingScene()->CaptionText();
    ClickControl(d->BtOK);
  });
  for (int round = 0; round < 20 && test::Headless().ScriptLeft() > 0; ++round)
    ASSERT_NO_THROW(Application->HandleMessage());
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(shown);
  EXPECT_EQ(title, cnInstallerCaption);
  EXPECT_NE(log.find("error in an event handler: the preview failed: ~1~"), std::string::npos) << log;
  // The window still takes its clicks.
  ClickBox(form->PageCheckBox);
  ClickControl(form->KVNButton2);
  EXPECT_EQ(form->Page(), 3);
}

// Every scene of the window drawn again and the whole client composed, as
// a full repaint does; the window's pixels.
std::vector<uint8_t> Redrawn(TFormInstall* f) {
  f->PageScene()->Invalidate(true, 0, 0);
  f->Viewer()->LinkScene()->Invalidate(true, 0, 0);
  f->StatusScene()->Invalidate(true, 0, 0);
  for (int i = 0; i < f->ComponentCount(); ++i) {
    auto* c = dynamic_cast<TKVNCustomControl*>(f->Components(i));
    if (c != nullptr && c->Scene() != nullptr) c->Scene()->Invalidate(true, 0, 0);
  }
  f->Invalidate();
  const TBitmap& b = test::Snapshot(f);
  std::vector<uint8_t> px;
  for (int y = 0; y < b.Height(); ++y) px.insert(px.end(), b.ScanLine(y), b.ScanLine(y) + size_t(b.Width()) * 4);
  return px;
}

// The still pictures the window keeps between repaints (the status panel,
// the banner) give every page the same pixels as drawing all afresh.
TEST_F(InstallFlow, EachPageRepaintsAsDrawnAfresh) {
  Open();
  for (int page = 1; page <= 4; ++page) {
    SCOPED_TRACE("page " + std::to_string(page));
    if (page == 2) ClickControl(form->KVNButton2);
    if (page == 3) {
      ClickBox(form->PageCheckBox);
      ClickControl(form->KVNButton2);
    }
    if (page == 4) {
      form->ClearLog();
      std::shared_ptr<cWorkEntries> log = form->InstallLog();
      log->AddText("~{text <ff=\"Arial\";fs:pt=12;alignx=LEFT;spacing=6>} ");
      for (int i = 0; i < 60; ++i)
        log->AddText("~<fs:pt=\"-3\">C:\\home\\user\\picture" + std::to_string(i) + ".jpg~>~)");
      form->RenderLog();
    }
    ASSERT_EQ(form->Page(), std::min(page, 3));
    gScenePixelsKept = false;
    const std::vector<uint8_t> fresh = Redrawn(form);
    gScenePixelsKept = true;
    Redrawn(form);  // kept
    EXPECT_TRUE(form->StatusScene()->StillKept());
    EXPECT_TRUE(fresh == Redrawn(form));  // copied
  }
}

}  // namespace
