// The banner: logo sizes, hover with its pulse and cursor, the glow
// colours, pages opened on release, the busy indicator, the pictures kept.
#include <gtest/gtest.h>

#include <set>

#include "controls_support.h"
#include "kvn_banner.h"
#include "kvn_cursors.h"
#include "kvn_shell.h"

using namespace ui;

namespace {

class BannerTest : public ctest::FormTest {
 protected:
  BannerTest() {
    controls_register_pictures();
    cursors_load();
    form->SetClientSize(720, 200);
    saved = gOpenUrl;
    gOpenUrl = [this](const std::string& url) {
      opened.push_back(url);
      return true;
    };
  }
  ~BannerTest() override { gOpenUrl = saved; }
  // A banner of the given width in a control at the form's top-left.
  TKorvaneBanner* Show(int width, int margin) {
    banner = new TKorvaneBanner;
    banner->SetLogoMargin(margin);
    control = new TKorvaneControl(form);
    control->SetBounds(0, 0, width, 69);
    control->SetParent(form);
    control->SetScene(banner);
    return banner;
  }
  void TearDown() override {
    TObject::Free(banner);
    TObject::Free(control);
  }
  // Pixels of the banner's bitmap where one channel leads the others.
  int Tinted(int channel) {
    const TBitmap* b = banner->Bitmap();
    int n = 0;
    for (int y = 0; y < b->Height(); ++y)
      for (int x = 0; x < b->Width(); ++x) {
        const uint32_t c = ctest::argb_at(*b, x, y);
        const int rgb[3] = {int(c >> 16 & 255), int(c >> 8 & 255), int(c & 255)};
        const int other1 = rgb[(channel + 1) % 3], other2 = rgb[(channel + 2) % 3];
        if (rgb[channel] > other1 + 60 && rgb[channel] > other2 + 60) ++n;
      }
    return n;
  }
  TKorvaneBanner* banner = nullptr;
  TKorvaneControl* control = nullptr;
  std::vector<std::string> opened;
  std::function<bool(const std::string&)> saved;
};

}  // namespace

TEST_F(BannerTest, ProductLogoWidthFollowsTheBannerAndTheMargin) {
  struct Case {
    int width, margin, logo;
    bool hoverAt400;  // the product logo reaches x = 400
  };
  for (const Case& tc : std::vector<Case>{{699, 60, 403, true}, {900, 30, 564, true}, {290, 60, -6, false}}) {
    SCOPED_TRACE(tc.width);
    Show(tc.width, tc.margin);
    EXPECT_EQ(banner->ProductLogoWidth(tc.width), tc.logo);
    test::MouseMove(form, 400, 34);
    EXPECT_EQ(banner->ProductHover(), tc.hoverAt400);
    test::MouseMove(form, 12 + std::max(tc.logo, 0), 34);  // just right of it
    EXPECT_FALSE(banner->ProductHover());
    TearDown();
    banner = nullptr;
    control = nullptr;
  }
}

TEST_F(BannerTest, HoverRestartsThePulseSetsTheLinkCursorAndGlows) {
  Show(699, 60);
  test::MouseMove(form, 430, 34);  // between the logos
  test::Advance(30);
  EXPECT_EQ(banner->PulsePhase(), 30);
  EXPECT_EQ(control->Cursor(), crArrow);
  EXPECT_EQ(Tinted(0), 0);
  test::MouseMove(form, 100, 34);
  EXPECT_TRUE(banner->ProductHover());
  EXPECT_EQ(banner->PulsePhase(), 0);
  EXPECT_EQ(control->Cursor(), TCursor(cnLinkCursor));
  test::Snapshot(form);
  EXPECT_GT(Tinted(0), 0);  // red while only hovered
  EXPECT_EQ(Tinted(1), 0);
  test::MouseDown(form, 100, 34);
  test::Advance(10);        // the next tick redraws the hovered logo
  EXPECT_GT(Tinted(1), 0);  // green while pressed
  EXPECT_EQ(Tinted(0), 0);
  test::MouseUp(form, 100, 34);
  EXPECT_EQ(opened, (std::vector<std::string>{cnProductPage}));
  // The maker logo on the right.
  test::MouseMove(form, 600, 34);
  EXPECT_TRUE(banner->MakerHover());
  EXPECT_FALSE(banner->ProductHover());
}

TEST_F(BannerTest, ReleaseOverALogoOpensItsPageWhereverThePressBegan) {
  Show(699, 60);
  struct Case {
    TPoint down, up;
    std::vector<std::string> pages;
  };
  for (const Case& tc : std::vector<Case>{{{430, 34}, {100, 34}, {cnProductPage}},
                                          {{100, 34}, {600, 34}, {cnMakerPage}},
                                          {{100, 34}, {430, 34}, {}}}) {
    opened.clear();
    test::MouseDown(form, tc.down.X, tc.down.Y);
    test::MouseMove(form, tc.up.X, tc.up.Y);
    test::MouseUp(form, tc.up.X, tc.up.Y);
    EXPECT_EQ(opened, tc.pages);
    EXPECT_FALSE(banner->Pressed());
  }
  // Nothing hovers while another form is in front.
  auto* other = Create<TForm>(Application);
  other->Show();
  test::MouseMove(form, 100, 34);
  EXPECT_FALSE(banner->ProductHover());
  test::Advance(10);
  EXPECT_FALSE(banner->ProductHover());
  TObject::Free(other);
}

TEST_F(BannerTest, RenderingIndicatorWhileABackgroundRenderRuns) {
  Show(699, 60);
  test::Advance(10);
  EXPECT_FALSE(banner->Busy());
  const int blueBefore = Tinted(2);
  rendering_busy_add(1);  // as a worker starting a render
  test::Advance(10);
  EXPECT_TRUE(banner->Busy());
  test::Snapshot(form);
  EXPECT_GT(Tinted(2), blueBefore);  // the text's blue glow
  rendering_busy_add(-1);
  test::Advance(10);
  EXPECT_FALSE(banner->Busy());
  test::Snapshot(form);
  EXPECT_EQ(Tinted(2), blueBefore);
}

// At rest the banner is drawn once and then copied while its size and
// layout stay; a change of any of them, a lit logo or the busy text shows
// at once, as the banner drawn afresh shows it, and the logos keep taking
// the pointer where they are drawn.
TEST_F(BannerTest, TheKeptRestingPictureFollowsEveryInput) {
  Show(699, 60);
  const auto pixels = [&] {
    banner->Invalidate(true, 0, 0);
    test::Snapshot(form);
    const TBitmap* b = banner->Bitmap();
    return ctest::bytes_of(*b);
  };
  const auto fresh = [&] { return ctest::drawn_afresh(pixels); };
  const struct {
    const char* what;
    std::function<void()> change;
    bool kept;  // the new picture is kept
  } changes[] = {
      {"product logo lit", [&] { test::MouseMove(form, 100, 34); }, false},
      {"pressed", [&] { test::MouseDown(form, 100, 34); }, false},
      {"released, still lit", [&] { test::MouseUp(form, 100, 34); }, false},
      {"at rest", [&] { test::MouseMove(form, 430, 34); }, true},
      {"busy",
       [&] {
         ++gRenderingBusy;
         test::Advance(10);
       },
       false},
      {"not busy",
       [&] {
         --gRenderingBusy;
         test::Advance(10);
       },
       true},
      {"width", [&] { control->SetBounds(0, 0, 720, 69); }, true},
      {"height", [&] { control->SetBounds(0, 0, 720, 80); }, true},
      {"frame", [&] { banner->SetShowFrame(true); }, true},
      {"picture rectangle", [&] { banner->SetBackgroundRect(0, 0, 703, 71); }, true},
      {"logo margin", [&] { banner->SetLogoMargin(30); }, true},
  };
  for (const auto& c : changes) {
    SCOPED_TRACE(c.what);
    const std::vector<uint8_t> before = pixels();
    c.change();
    const std::vector<uint8_t> after = pixels();
    EXPECT_EQ(banner->StillKept(), c.kept);
    EXPECT_TRUE(after != before);
    EXPECT_TRUE(after == fresh());
  }
  // The logos' hit areas are those of the kept picture, copied again.
  pixels();
  pixels();
  ASSERT_TRUE(banner->StillKept());
  test::MouseMove(form, 400, 34);
  EXPECT_TRUE(banner->ProductHover());
}

// Lit, the banner shows one of a fixed set of pictures, one per phase of
// the pulse, press and logo: each is kept when first drawn and copied back
// at the phase's return, byte for byte what drawing it afresh gives.
TEST_F(BannerTest, EveryKeptPulsePictureIsTheOneDrawnAfresh) {
  Show(699, 60);
  const auto shown = [&] { return ctest::bytes_of(*banner->Bitmap()); };
  const auto fresh = [&] {
    return ctest::drawn_afresh([&] {
      banner->Invalidate(true, 0, 0);
      test::Snapshot(form);
      return shown();
    });
  };
  const struct {
    const char* logo;
    TPoint at;
    bool pressed;
  } cases[] = {{"product", {100, 34}, false},
               {"product", {100, 34}, true},
               {"maker", {600, 34}, false},
               {"maker", {600, 34}, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.logo) + (c.pressed ? ", pressed" : ""));
    test::MouseMove(form, c.at.X, c.at.Y);
    if (c.pressed) test::MouseDown(form, c.at.X, c.at.Y);
    test::Advance(54 * 10);  // a whole cycle: every phase drawn once
    EXPECT_EQ(banner->PulseFramesKept(), c.pressed ? 56u : 28u);
    std::set<int32_t> phases;
    for (int tick = 0; tick < 54; ++tick) {
      test::Advance(10);
      const std::vector<uint8_t> kept = shown();
      ASSERT_TRUE(kept == fresh()) << "phase " << banner->PulsePhase();
      phases.insert(banner->PulsePhase());
    }
    EXPECT_EQ(phases.size(), 28u);
    if (c.pressed) test::MouseUp(form, c.at.X, c.at.Y);
  }
  // The pictures are kept as their difference from the first one.
  EXPECT_LT(banner->PulseFramesBytes(), size_t(56) * 699 * 69 * 4 / 2);
}
