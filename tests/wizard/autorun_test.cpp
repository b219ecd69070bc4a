#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "form_install_checks.h"
#include "installs_settings.h"
#include "sandbox.h"
#include "test_files.h"
#include "win_interfaces.h"
#include "wizard_host.h"

namespace {

namespace fs = std::filesystem;
using testenv::read_file;
using testenv::write_file;

// An installation in the sandbox: "<dest>\Korvane-Snaprill.exe" with its
// "Data" folder, the Run value in the sandbox's registry.
class FinishActions : public ::testing::Test {
 protected:
  void SetUp() override {
    install_settings_reset();
    form_install_globals_reset();
    dest_ = testenv::sandbox_dir("Korvane-Snaprill");
    fs::create_directories(dest_ + "/Data");
    gDestination = testenv::win_of(dest_);
    gAppPath = gDestination + "\\Korvane-Snaprill.exe";
    config_ = dest_ + "/Data/Korvane-Snaprill.capture-config";
  }
  void TearDown() override {
    autorun_remove(true);
    install_settings_reset();
    form_install_globals_reset();
  }
  std::vector<std::string> DataFiles() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dest_ + "/Data")) names.push_back(e.path().filename().string());
    return names;
  }

  std::string dest_, config_;
};

TEST_F(FinishActions, TheConfigurationIsExactlySixLines) {
  EXPECT_EQ(capture_config_text(true, false),
            "~\\config@capture_commons\\\r\n\r\n  ~<start_ww = true>\r\n  ~<OnlyCurr = false>\r\n\r\n~\\\\\r\n");
}

TEST_F(FinishActions, TheBoxDecidesTheRunValueAndTheConfigurationFollowsIt) {
  FakeChecksHost host;
  const std::string old_config = "kept as it was\r\n";
  const struct {
    const char* what;
    std::optional<bool> box;
    bool skip_config;
    bool registered;
    std::string config;  // expected afterwards
  } steps[] = {
      {"a new installation, box left checked", true, false, true, capture_config_text(true, true)},
      {"unticked", false, false, false, capture_config_text(false, true)},
      {"ticked again", true, false, true, capture_config_text(true, true)},
      {"unticked once more", false, false, false, capture_config_text(false, true)},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.what);
    host.box = s.box;
    gSkipConfig = s.skip_config;
    ApplyAutorun(host);
    EXPECT_EQ(gRunValuePrefix, "Korvane-Snaprill\\");
    EXPECT_EQ(autorun_is_set(gAppPath, true), s.registered);
    EXPECT_EQ(read_file(config_), s.config);
  }
  EXPECT_EQ(DataFiles(), std::vector<std::string>{"Korvane-Snaprill.capture-config"});

  // After an update: no box, and neither the Run value nor the file moves,
  // even where they disagree with each other.
  write_file(config_, old_config);
  host.box.reset();
  autorun_set(gAppPath, true);
  ApplyAutorun(host);
  EXPECT_TRUE(autorun_is_set(gAppPath, true));
  EXPECT_EQ(read_file(config_), old_config);
  // With the box but gSkipConfig set: the Run value follows, the file stays.
  host.box = false;
  gSkipConfig = true;
  ApplyAutorun(host);
  EXPECT_FALSE(autorun_is_set(gAppPath, true));
  EXPECT_EQ(read_file(config_), old_config);
}

TEST_F(FinishActions, NoDataFolderWritesNothing) {
  fs::remove_all(dest_ + "/Data");
  EXPECT_FALSE(WriteCaptureConfig());
  write_file(dest_ + "/Data", "a file where the folder should be");
  EXPECT_FALSE(WriteCaptureConfig());
  EXPECT_EQ(read_file(dest_ + "/Data"), "a file where the folder should be");
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dest_)) names.push_back(e.path().filename().string());
  EXPECT_EQ(names, std::vector<std::string>{"Data"});
}

// A write that fails half-way (a file-size limit, which binds root too)
// leaves the old configuration byte for byte and no temporary file.
TEST_F(FinishActions, AFailedWriteLeavesTheOldFile) {
  const std::string old_config = "~\\config@capture_commons\\\r\n\r\n  ~<start_ww = false>\r\n";
  write_file(config_, old_config);
  autorun_set(gAppPath, true);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{16, 16};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(2);
    _exit(WriteCaptureConfig() ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the write must fail";
  EXPECT_EQ(read_file(config_), old_config);
  EXPECT_EQ(DataFiles(), std::vector<std::string>{"Korvane-Snaprill.capture-config"});
  // Without the limit the same call replaces it.
  EXPECT_TRUE(WriteCaptureConfig());
  EXPECT_EQ(read_file(config_), capture_config_text(true, true));
}

}  // namespace
