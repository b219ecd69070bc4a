// The banner on the GTK backend under a private X server (run through
// xvfb-run by CTest): what is on screen equals the back buffer, and the
// pointer over a logo sets the link cursor on the window.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <thread>

#include "kvn_banner.h"
#include "kvn_commons.h"
#include "qlm_renderer_ids.h"
#include "sandbox.h"
#include "ui_app.h"
#include "ui_gtk.h"

using namespace ui;

namespace {

bool Pump(const std::function<bool()>& pred, int ms = 5000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    Application->ProcessMessages();
    if (pred()) return true;
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

// The screen's pixels in a rectangle, R, G, B per pixel.
std::vector<uint8_t> Screenshot(const TRect& r) {
  const std::string file = testenv::sandbox_dir("shot") + "/shot.rgb";
  const std::string cmd = "import -window root -crop " + std::to_string(r.Width()) + "x" + std::to_string(r.Height()) +
                          "+" + std::to_string(r.Left) + "+" + std::to_string(r.Top) + " -depth 8 rgb:" + file;
  if (std::system(cmd.c_str()) != 0) return {};
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

}  // namespace

TEST(GuiBanner, OnScreenAsInTheBackBufferWithTheLinkCursorOverALogo) {
  const char* display = std::getenv("DISPLAY");
  if (!display || !*display) GTEST_SKIP() << "no X display (run through xvfb-run)";
  auto backend = GtkBackend::Create();
  if (!backend) GTEST_SKIP() << "GTK cannot open the display";
  GtkBackend* gtk = backend.get();
  Start(std::move(backend));
  qlm_renderer_start();
  controls_register_pictures();
  cursors_load();
  {
    auto* form = Create<TForm>(Application);
    form->SetBorderStyle(bsDialog);
    form->SetBounds(50, 60, 720, 100);
    auto* banner = new TKorvaneBanner;
    banner->SetLogoMargin(60);
    banner->SetShowFrame(true);
    auto* control = new TKorvaneControl(form);
    control->SetBounds(0, 0, 699, 69);
    control->SetParent(form);
    control->SetScene(banner);
    form->Show();
    ASSERT_TRUE(Pump([&] { return form->IsForeground(); })) << "the form never became the foreground window";

    const std::vector<uint8_t> shot = Screenshot(Bounds(50, 60, 699, 69));
    ASSERT_EQ(shot.size(), size_t(699 * 69 * 3)) << "import failed";
    const TBitmap& b = form->BackBuffer();
    int mismatches = 0;
    for (int y = 0; y < 69; ++y)
      for (int x = 0; x < 699; ++x) {
        const uint32_t want = ColorToRGB(b.Pixel(x, y));
        const uint8_t* p = &shot[(size_t(y) * 699 + size_t(x)) * 3];
        if (p[0] != (want & 0xFF) || p[1] != ((want >> 8) & 0xFF) || p[2] != (want >> 16)) ++mismatches;
      }
    EXPECT_EQ(mismatches, 0);

    ASSERT_EQ(std::system("xdotool mousemove 150 94"), 0);  // over the product logo
    EXPECT_TRUE(Pump([&] { return banner->ProductHover(); }));
    EXPECT_TRUE(Pump([&] { return gtk->CurrentCursor(form->Handle()) == TCursor(cnLinkCursor); }))
        << "cursor " << gtk->CurrentCursor(form->Handle());
    TObject::Free(banner);
  }
  Stop();
}
