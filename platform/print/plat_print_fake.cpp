#include "plat_print_fake.h"

#include <algorithm>
#include <vector>

namespace plat::print {

namespace {

class FakeDevice final : public Device {
 public:
  FakeDevice(FakeBackend& owner, const DeviceCaps& caps) : mOwner(owner), mCaps(caps) { ++mOwner.live_devices; }
  ~FakeDevice() override {
    if (mState != 0) mOwner.log.push_back("abort");
    mOwner.log.push_back("destroy");
    --mOwner.live_devices;
  }

  DeviceCaps caps() const override { return mCaps; }

  bool start_doc(const std::string& title) override { return Step(0, 1, mOwner.fail_start_doc, "start_doc " + title); }
  bool start_page() override {
    if (!Step(1, 2, mOwner.fail_start_page, "start_page")) return false;
    FakePage page;
    page.width = mCaps.physical_width;
    page.height = mCaps.physical_height;
    page.pixels.assign(size_t(page.width) * size_t(page.height), 0xFFFFFFu);
    mOwner.pages.push_back(std::move(page));
    return true;
  }
  bool end_page() override { return Step(2, 1, mOwner.fail_end_page, "end_page"); }
  bool end_doc() override {
    if (mState != 1) return Step(1, 0, false, "end_doc");
    if (mOwner.fail_end_doc) {
      mOwner.log.push_back("end_doc refused");
      mState = 0;  // a failed end drops the job
      return false;
    }
    return Step(1, 0, false, "end_doc");
  }
  void abort() override {
    if (mState == 0) return;
    mOwner.log.push_back("abort");
    mState = 0;
  }

  bool draw_rows(int32_t x, int32_t y, int32_t w, int32_t h, const RowSource& source) override {
    std::string line =
        "blit " + std::to_string(x) + " " + std::to_string(y) + " " + std::to_string(w) + " " + std::to_string(h);
    if (mState != 2 || w <= 0 || h <= 0 || !source || mOwner.pages.empty()) {
      mOwner.log.push_back(line + " refused");
      return false;
    }
    mOwner.log.push_back(line);
    FakePage& page = mOwner.pages.back();
    std::vector<uint32_t> row(static_cast<size_t>(w));
    for (int32_t r = 0; r < h; ++r) {
      source(r, row.data());
      const int64_t py = int64_t(mCaps.offset_y) + y + r;
      if (py < 0 || py >= page.height) continue;
      for (int32_t c = 0; c < w; ++c) {
        const int64_t px = int64_t(mCaps.offset_x) + x + c;
        if (px < 0 || px >= page.width) continue;
        page.pixels[size_t(py) * size_t(page.width) + size_t(px)] = row[size_t(c)] & 0xFFFFFFu;
      }
    }
    return true;
  }

 private:
  // Moves from state `from` to `to` unless the device is elsewhere or the
  // switch says fail.
  bool Step(int from, int to, bool fail, const std::string& line) {
    if (mState != from || fail) {
      mOwner.log.push_back(line + " refused");
      return false;
    }
    mOwner.log.push_back(line);
    mState = to;
    return true;
  }

  FakeBackend& mOwner;
  DeviceCaps mCaps;
  int mState = 0;  // 0 idle, 1 document, 2 page
};

}  // namespace

FakeBackend::~FakeBackend() = default;

bool FakeBackend::default_printer(DefaultPrinter& out) {
  if (!default_answer) return false;
  out = *default_answer;
  return true;
}

bool FakeBackend::printer_settings(const std::string& device, PrinterSettings& out) {
  auto it = printers.find(device);
  if (it == printers.end()) return false;
  out = it->second;
  return true;
}

std::unique_ptr<Device> FakeBackend::create_device(const PrinterId& printer, const PrinterSettings& settings) {
  std::string line = "create " + printer.device + "," + printer.driver + "," + printer.port;
  if (refuse_device || printers.find(printer.device) == printers.end()) {
    log.push_back(line + " refused");
    return nullptr;
  }
  log.push_back(line);
  created_with.push_back(settings);
  return std::make_unique<FakeDevice>(*this, caps ? *caps : compute_caps(settings));
}

bool FakeBackend::run_dialog(const DialogRequest& request, DialogResult& out) {
  log.push_back(request.setup_only ? "dialog setup" : "dialog print");
  dialogs.push_back(request);
  if (!dialog_answer) return false;
  PrinterId id;
  id.device = dialog_answer->device_name;
  auto device = create_device(id, *dialog_answer);
  if (!device) return false;
  out.settings = *dialog_answer;
  out.device = std::move(device);
  out.copies = dialog_copies;
  return true;
}

std::string FakeBackend::LogText() const {
  std::string text;
  for (const auto& line : log) {
    if (!text.empty()) text += "; ";
    text += line;
  }
  return text;
}

}  // namespace plat::print
