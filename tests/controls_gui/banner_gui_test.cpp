// The banner on the GTK backend under a private X server (run through
// xvfb-run by CTest): what is on screen equals the back buffer, and the
// pointer over a logo sets the link cursor on the window.
#include <gtest/gtest.h>

#include <cstdlib>

#include "gui_support.h"
#include "kvn_banner.h"
#include "kvn_cursors.h"
#include "qlm_renderer_ids.h"
#include "ui_app.h"
#include "ui_gtk.h"

using namespace ui;

using guitest::Pump;
using guitest::Screenshot;

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
    EXPECT_EQ(guitest::Mismatches(shot, form->BackBuffer(), 0, 0, 699, 69), 0);

    ASSERT_EQ(std::system("xdotool mousemove 150 94"), 0);  // over the product logo
    EXPECT_TRUE(Pump([&] { return banner->ProductHover(); }));
    EXPECT_TRUE(Pump([&] { return gtk->CurrentCursor(form->Handle()) == TCursor(cnLinkCursor); }))
        << "cursor " << gtk->CurrentCursor(form->Handle());
    TObject::Free(banner);
  }
  Stop();
}
