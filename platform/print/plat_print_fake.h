// A recording backend for tests: printers and their settings are set by the
// test, every device call is written to a log, and each page keeps its pixels
// in memory (the whole sheet, white where nothing was drawn).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "plat_print.h"

namespace plat::print {

// One printed sheet: physical_width x physical_height words 0x00RRGGBB.
struct FakePage {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint32_t> pixels;
  uint32_t At(int32_t x, int32_t y) const { return pixels[size_t(y) * size_t(width) + size_t(x)]; }
};

class FakeBackend : public Backend {
 public:
  FakeBackend() = default;
  ~FakeBackend() override;

  // --- What the test sets up ------------------------------------------
  // The default printer; none when empty.
  std::optional<DefaultPrinter> default_answer;
  // The printers by device name, with the settings each one reports.
  std::map<std::string, PrinterSettings> printers;
  // Devices take these metrics instead of compute_caps of their settings.
  std::optional<DeviceCaps> caps;
  // Failure switches, read at every call of every device.
  bool refuse_device = false;
  bool fail_start_doc = false;
  bool fail_start_page = false;
  bool fail_end_page = false;
  bool fail_end_doc = false;
  // The dialog's answer: nothing (cancelled) or the result's settings; the
  // device is made for the printer these settings name.
  std::optional<PrinterSettings> dialog_answer;
  uint16_t dialog_copies = 1;
  // What failure() answers.
  std::string failure_text;

  // --- What the devices did -------------------------------------------
  // One line per call: "create <device>,<driver>,<port>", "start_doc <title>",
  // "start_page", "blit <x> <y> <w> <h>", "end_page", "end_doc", "abort",
  // "destroy", "dialog setup" or "dialog print"; a refused call ends in
  // " refused".
  std::vector<std::string> log;
  std::vector<FakePage> pages;                // every page started, in order
  std::vector<PrinterSettings> created_with;  // the settings of every device made
  std::vector<DialogRequest> dialogs;         // every dialog shown
  int32_t live_devices = 0;

  bool default_printer(DefaultPrinter& out) override;
  bool printer_settings(const std::string& device, PrinterSettings& out) override;
  std::unique_ptr<Device> create_device(const PrinterId& printer, const PrinterSettings& settings) override;
  bool run_dialog(const DialogRequest& request, DialogResult& out) override;
  std::string failure() const override { return failure_text; }

  // The log lines joined by "; ", for compact expectations.
  std::string LogText() const;
};

// Installs a backend as the process-wide one for a scope.
class ScopedBackend {
 public:
  explicit ScopedBackend(Backend& b) { set_backend(&b); }
  ~ScopedBackend() { set_backend(nullptr); }
  ScopedBackend(const ScopedBackend&) = delete;
  ScopedBackend& operator=(const ScopedBackend&) = delete;
};

}  // namespace plat::print
