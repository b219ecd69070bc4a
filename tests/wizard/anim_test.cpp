// The status panel: where the clock space and the mode block go, repaints
// on the virtual clock (once a second when still), the swing, the hour
// hand, the start of a chosen update, the progress text and its pictures.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <vector>

#include "controls_support.h"
#include "form_install_anim.h"
#include "installs_settings.h"
#include "kvn_cursors.h"
#include "qlm_renderer_ids.h"
#include "ui_app.h"
#include "ui_headless.h"

using namespace ui;

namespace {

class CountingScene : public TAnimScene {
 public:
  using TAnimScene::TAnimScene;
  int renders = 0;
  void RenderFrame(int32_t w, int32_t h) override {
    ++renders;
    TAnimScene::RenderFrame(w, h);
  }
};

class CountingControl : public TAnimControl {
 public:
  using TAnimControl::TAnimControl;
  int paints = 0;
  void Paint() override {
    ++paints;
    TAnimControl::Paint();
  }
};

struct Host : TAnimSceneHost {
  std::vector<std::string> calls;
  void SetPage(int32_t page) override { calls.push_back("page " + std::to_string(page)); }
  void Continue() override { calls.push_back("continue"); }
};

class AnimTest : public ::testing::Test {
 protected:
  AnimTest() {
    qlm_renderer_start();
    controls_register_pictures();
    saved = gAnimLocalNow;
    // 10:20:30.000 plus the virtual clock.
    gAnimLocalNow = [](rDate& d, rTime& t) {
      const uint64_t ms = 37230000 + test::Headless().NowMs();
      d = rDate{11, 12, 2026, 6};
      t.hour = uint16_t(ms / 3600000 % 24);
      t.minute = uint16_t(ms / 60000 % 60);
      t.second = uint16_t(ms / 1000 % 60);
      t.millisecond = uint16_t(ms % 1000);
    };
    gFormShown = false;
    gInstallMode = cnModeNewInstallation;
    form = Create<TForm>(Application);
    form->SetClientSize(200, 400);
    form->Show();
    scene = new CountingScene(&host);
    control = new CountingControl(form, &host, scene);
    control->SetBounds(0, 0, 152, 328);
    control->SetParent(form);
    test::Snapshot(form);
  }
  ~AnimTest() override {
    control->SetScene(nullptr);
    TObject::Free(scene);
    gAnimLocalNow = saved;
    gFormShown = false;
    gInstallMode = cnModeNewInstallation;
  }
  const TBitmap& Picture() {
    test::Snapshot(form);
    return *scene->Bitmap();
  }
  static uint32_t At(const TBitmap& b, int x, int y) {
    const uint8_t* p = b.ScanLine(y) + size_t(x) * 4;
    return uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
  }
  test::Session session;
  std::function<void(rDate&, rTime&)> saved;
  Host host;
  TForm* form = nullptr;
  CountingScene* scene = nullptr;
  CountingControl* control = nullptr;
};

TEST_F(AnimTest, StillPanelRepaintsOncePerSecond) {
  test::Advance(25);  // the first tick repaints: no second was painted yet
  test::Snapshot(form);
  const int before = scene->renders, paintsBefore = control->paints;
  auto pixels = [](const TBitmap& b) {
    std::vector<uint8_t> v;
    for (int y = 0; y < b.Height(); ++y) v.insert(v.end(), b.ScanLine(y), b.ScanLine(y) + size_t(b.Width()) * 4);
    return v;
  };
  const std::vector<uint8_t> first = pixels(*scene->Bitmap());
  // Once a second the panel repaints the picture it has: nothing in it
  // shows the time while still, so it is not drawn again.
  for (int s = 0; s < 60; ++s) {
    test::Advance(1000);
    test::Snapshot(form);
  }
  EXPECT_EQ(control->paints - paintsBefore, 60);
  EXPECT_EQ(scene->renders, before);
  // A fresh render of the same moment is the picture shown.
  scene->Invalidate(true, 0, 0);
  test::Snapshot(form);
  ASSERT_EQ(scene->renders, before + 1);
  EXPECT_TRUE(pixels(*scene->Bitmap()) == first);
  scene->SetAnimate(true);
  const int animated = scene->renders;
  test::Advance(1000);
  test::Snapshot(form);
  EXPECT_EQ(scene->renders - animated, 40);
}

TEST_F(AnimTest, SwingAndRotation) {
  scene->SetAnimate(true);
  // The timer ticks every 25 ms of the virtual clock.
  test::Advance(25 * 190);
  EXPECT_LE(scene->Swing(), 50);
  test::Advance(25);
  EXPECT_GT(scene->Swing(), 50);
  const double top = scene->Swing();
  test::Advance(25);
  EXPECT_LT(scene->Swing(), top);
  // 20 degrees a second, from 360 down.
  EXPECT_DOUBLE_EQ(scene->Rotation(), 360 - 0.5 * 192);
}

TEST_F(AnimTest, HandAngles) {
  const struct {
    uint16_t hour, minute, second, ms;
    double hourAngle, minuteAngle, wholeSecond, secondAngle;
  } cases[] = {
      {23, 0, 0, 0, 120, 90, 90, 90},
      {23, 30, 15, 500, 105, 268.5, 0, -3},
      {12, 0, 0, 0, 90, 90, 90, 90},
      {3, 15, 59, 999, -7.5, -5.9, 96, 90.006},
  };
  for (const auto& tc : cases) {
    gAnimLocalNow = [&](rDate& d, rTime& t) {
      d = rDate{1, 2, 2027, 2};
      t = rTime{tc.hour, tc.minute, tc.second, tc.ms};
    };
    scene->UpdateHands();
    SCOPED_TRACE(tc.hour);
    EXPECT_NEAR(scene->HourAngle(), tc.hourAngle, 1e-9);
    EXPECT_NEAR(scene->MinuteAngle(), tc.minuteAngle, 1e-9);
    EXPECT_NEAR(scene->WholeSecondAngle(), tc.wholeSecond, 1e-9);
    EXPECT_NEAR(scene->SecondAngle(), tc.secondAngle, 1e-9);
    EXPECT_EQ(scene->Clock().hour, tc.hour);
    EXPECT_EQ(scene->Clock().year, 2027);
  }
}

TEST_F(AnimTest, OnlyTheFirstTickAfterTheWindowShowsStartsAnUpdate) {
  const struct {
    uint8_t mode;
    std::vector<std::string> calls;
  } cases[] = {{cnModeUpdate, {"page 6", "continue"}}, {cnModeNewInstallation, {}}};
  for (const auto& tc : cases) {
    SCOPED_TRACE(int(tc.mode));
    host.calls.clear();
    gInstallMode = tc.mode;
    gFormShown = true;  // as the window's FormShow, which wakes the timer
    WakeSleepingTimers();
    test::Advance(25);
    EXPECT_FALSE(gFormShown);
    test::Advance(250);
    EXPECT_EQ(host.calls, tc.calls);
  }
}

TEST_F(AnimTest, ProgressTexts) {
  const struct {
    bool update;
    int32_t progress;
    const char* first;
    const char* second;
    const char* percent;
  } cases[] = {{false, 0, "Installing", "", "0 %"},
               {true, 25, "Updating", "existing", "25 %"},
               {false, 100, "Installing", "", "100 %"}};
  for (const auto& tc : cases) {
    const rAnimTexts t = anim_texts(tc.update, tc.progress);
    EXPECT_EQ(t.mode[0], tc.first);
    EXPECT_EQ(t.mode[1], tc.second);
    EXPECT_EQ(t.mode[2], "version");
    EXPECT_EQ(t.progress[0], tc.update ? "Update" : "Installation");
    EXPECT_EQ(t.progress[2], tc.percent);
  }
}

TEST_F(AnimTest, PicturesOfTheStillPanel) {
  ASSERT_TRUE(scene->HasPicture());
  const double D = 190 * std::sqrt(2.0);
  EXPECT_NEAR(scene->Clock().faceSize, D, 1e-9);
  EXPECT_NEAR(scene->Clock().drawing.x1, 87.8938, 1e-4);
  for (int page : {1, 5}) {
    SCOPED_TRACE(page);
    scene->SetStatusText(page == 1 ? "Welcome" : "Installing ...");
    scene->SetProgress(page == 1 ? 0 : 50);
    const TBitmap& a = Picture();
    std::vector<uint8_t> first = ctest::bytes_of(a);
    scene->Invalidate(true, 0, 0);
    const TBitmap& b = Picture();
    EXPECT_EQ(std::memcmp(first.data(), b.ScanLine(0), first.size()), 0);
  }
  const TBitmap& p = Picture();
  ASSERT_EQ(p.Width(), 152);
  ASSERT_EQ(p.Height(), 328);
  // The frame: one black pixel wide.
  for (const auto& [x, y] : {std::pair{0, 200}, {151, 200}, {76, 0}, {76, 327}})
    EXPECT_EQ(At(p, x, y), 0xFF000000u) << x << ", " << y;
  for (const auto& [x, y] : {std::pair{1, 200}, {150, 200}, {70, 1}, {70, 326}})
    EXPECT_NE(At(p, x, y), 0xFF000000u) << x << ", " << y;
  // The checkered ground: blue squares at (4, 4) and (12, 12) of a tile,
  // white at (12, 4). Blue (192, 192, 255) at alpha 192 over white:
  // 192 x 192 / 255 + 63 = 207.6 for red and green.
  EXPECT_EQ(At(p, 4 + 16, 4 + 16 * 19), 0xFFD0D0FFu);
  EXPECT_EQ(At(p, 12 + 16, 12 + 16 * 19), 0xFFD0D0FFu);
  EXPECT_EQ(At(p, 12 + 16, 4 + 16 * 19), 0xFFFFFFFFu);
  // The clock space is the top 152 x 152 square: the picture's green arrow
  // shows there; below it, down to the mode block at 174.9, only the ground.
  bool green = false;
  for (int y = 0; y < 152 && !green; ++y)
    for (int x = 0; x < 152; ++x) {
      const uint32_t c = At(p, x, y);
      if ((c >> 8 & 0xFF) > 100 && (c >> 16 & 0xFF) < 60 && (c & 0xFF) < 60) green = true;
    }
  EXPECT_TRUE(green);
  // The mode block starts at 174.9 and the progress block at 262.4: text
  // (darker than the ground; its white shadow only lightens the ground)
  // first shows on or after those rows.
  auto first_text_row = [&](int from, int to) {
    for (int y = from; y < to; ++y)
      for (int x = 1; x < 151; ++x)
        if ((At(p, x, y) >> 16 & 0xFF) < 0xC8) return y;
    return -1;
  };
  const int mode = first_text_row(153, 262), progress = first_text_row(240, 327);
  EXPECT_GE(mode, 174);
  EXPECT_LE(mode, 180);
  EXPECT_GE(progress, 262);
  EXPECT_LE(progress, 268);
}

// Swung and turned, the panel draws its picture from a copy made once at
// the size the still panel shows it (that copy resampled again in
// perspective) instead of resampling the whole picture each frame. The
// frames must look as those drawn from the picture itself: the same place
// and colours; the copy (sampled at pixel centres, the frame's filter does
// the smoothing) differs at edges by some levels.
TEST_F(AnimTest, AnimatedFramesFromThePictureAsShownLookAsFromThePicture) {
  scene->SetStatusText("Installing ...");
  scene->SetProgress(50);
  scene->SetAnimate(true);
  for (int step = 0; step < 4; ++step) {
    test::Advance(25 * 97);  // swing and rotation at several places
    SCOPED_TRACE(testing::Message() << "swing " << scene->Swing() << " rotation " << scene->Rotation());
    auto frame = [&](bool shown) {
      TAnimScene::SetShownPictureEnabled(shown);
      scene->Invalidate(true, 0, 0);
      const TBitmap& b = Picture();
      TAnimScene::SetShownPictureEnabled(true);
      return ctest::bytes_of(b);
    };
    const std::vector<uint8_t> direct = frame(false), shown = frame(true);
    ASSERT_EQ(direct.size(), shown.size());
    int worst = 0;
    size_t differing = 0, far = 0;
    for (size_t i = 0; i < direct.size(); ++i) {
      const int d = std::abs(int(direct[i]) - int(shown[i]));
      worst = std::max(worst, d);
      differing += d != 0;
      far += d > 8;
    }
    // Measured: at most 19 levels; 1.3-2.8 % of the bytes differ, at most
    // 0.07 % by more than 8 levels.
    EXPECT_LE(worst, 24) << differing << " bytes differ, " << far << " by more than 8";
    EXPECT_LE(far * 1000, direct.size() * 2) << far << " bytes differ by more than 8";
    EXPECT_LE(differing * 100, direct.size() * 4) << differing << " bytes differ";
    EXPECT_GT(differing, 0u);  // the copy was drawn from
  }
}

// Frames built from the kept ground and texts must be the frames drawn
// whole, byte for byte: over a whole swing and turn (the turned picture
// reaches into the texts' rows in some poses), after the progress changes
// and for an update's texts.
TEST_F(AnimTest, FramesFromTheKeptGroundAndTextsAreTheWholeFrames) {
  scene->SetStatusText("Installing ...");
  scene->SetProgress(50);
  scene->SetAnimate(true);
  auto frame = [&](bool cache) {
    TAnimScene::SetFrameCacheEnabled(cache);
    scene->Invalidate(true, 0, 0);
    const TBitmap& b = Picture();
    TAnimScene::SetFrameCacheEnabled(true);
    return ctest::bytes_of(b);
  };
  for (int step = 0; step < 48; ++step) {
    if (step == 20) scene->SetProgress(75);
    if (step == 32) gInstallMode = cnModeUpdate;
    test::Advance(25 * 31);  // 15.5 degrees and some swing further
    SCOPED_TRACE(testing::Message() << "step " << step << " swing " << scene->Swing() << " rotation "
                                    << scene->Rotation());
    const std::vector<uint8_t> kept = frame(true), whole = frame(false);
    ASSERT_EQ(kept.size(), whole.size());
    EXPECT_TRUE(kept == whole);
  }
}

// The still panel is drawn once and then copied while its inputs stay; a
// change of any of them shows at once, as the panel drawn afresh shows it.
TEST_F(AnimTest, TheKeptStillPanelFollowsEveryInput) {
  const auto pixels = [&] {
    scene->Invalidate(true, 0, 0);
    const TBitmap& b = Picture();
    return ctest::bytes_of(b);
  };
  const auto fresh = [&] { return ctest::drawn_afresh(pixels); };
  const struct {
    const char* what;
    std::function<void()> change;
    bool kept;  // the new picture is kept
  } changes[] = {
      {"status text", [&] { scene->SetStatusText("Installing ..."); }, true},
      {"progress", [&] { scene->SetProgress(75); }, true},
      {"update mode", [&] { gInstallMode = cnModeUpdate; }, true},
      {"size", [&] { control->SetBounds(0, 0, 160, 340); }, true},
      {"animating", [&] { scene->SetAnimate(true); }, false},
      {"still again", [&] { scene->SetAnimate(false); }, true},
  };
  scene->SetStatusText("Welcome");
  for (const auto& c : changes) {
    SCOPED_TRACE(c.what);
    const std::vector<uint8_t> before = pixels();
    c.change();
    const std::vector<uint8_t> after = pixels();
    EXPECT_EQ(scene->StillKept(), c.kept);
    EXPECT_TRUE(after != before);
    EXPECT_TRUE(after == pixels());
    EXPECT_TRUE(after == fresh());
  }
}

}  // namespace
