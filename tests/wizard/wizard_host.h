// A stand-in for the installer window as the checks see it: it records the
// messages and wait windows asked for and answers the autorun box it is given.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "form_install_checks.h"

class FakeChecksHost : public TInstallChecksHost {
 public:
  void ShowMessage(const rCheckMessage& message) override { messages.push_back(message); }
  void ShowWait(std::string_view text) override {
    waits.emplace_back(text);
    ++open_waits;
  }
  void ReleaseWait() override { --open_waits; }
  std::optional<bool> AutorunBox() override { return box; }

  std::vector<rCheckMessage> messages;
  std::vector<std::string> waits;
  int open_waits = 0;
  std::optional<bool> box;
};
