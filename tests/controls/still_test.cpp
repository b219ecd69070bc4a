// A still form wakes nobody: the hover timers of the banner, a button, a
// check box and a heading run only while something hovers, is held or
// animates (a lit banner logo pulses as long as it is lit), and the banner's
// pulse and the button's wave keep the phase they would have had ticking
// all along.
#include <gtest/gtest.h>

#include <cmath>
#include <map>

#include "controls_support.h"
#include "kvn_banner.h"
#include "kvn_button.h"
#include "kvn_checkbox.h"
#include "kvn_cursors.h"
#include "kvn_heading.h"
#include "kvn_shell.h"

using namespace ui;

namespace {

class StillTest : public ctest::FormTest {
 protected:
  StillTest() {
    controls_register_pictures();
    cursors_load();
    form->SetClientSize(720, 300);
    saved = gOpenUrl;
    gOpenUrl = [](const std::string&) { return true; };
    banner = new TKorvaneBanner;
    banner->SetLogoMargin(60);
    bannerControl = new TKorvaneControl(form);
    bannerControl->SetBounds(0, 0, 699, 69);
    bannerControl->SetParent(form);
    bannerControl->SetScene(banner);
    button = new TKVNButton(form);
    button->SetBounds(20, 100, 160, 40);
    button->SetParent(form);
    box = new TKVNCheckBox(form);
    box->SetBounds(20, 160, 97, 17);
    box->SetParent(form);
    heading = new TKVNHeading(form);
    heading->SetBounds(300, 100, 400, 42);
    heading->SetParent(form);
    test::Snapshot(form);
  }
  ~StillTest() override {
    bannerControl->SetScene(nullptr);
    TObject::Free(banner);
    gOpenUrl = saved;
  }
  static size_t Running() { return test::Headless().RunningTimers(); }
  // The pulse after n ticks from phase 0, step 10, by the rule itself.
  static int32_t PulseAfter(int n) {
    int32_t phase = 0, step = 10;
    for (int i = 0; i < n; ++i) {
      phase += step;
      if (phase < -100 || phase > 150) step = -step;
    }
    return phase;
  }
  TKorvaneBanner* banner = nullptr;
  TKorvaneControl* bannerControl = nullptr;
  TKVNButton* button = nullptr;
  TKVNCheckBox* box = nullptr;
  TKVNHeading* heading = nullptr;
  std::function<bool(const std::string&)> saved;
};

}  // namespace

TEST_F(StillTest, NoTimerRunsWhileNothingHoversAndHoverRunsThemUntilItEnds) {
  test::Advance(200);
  EXPECT_EQ(Running(), 0u);
  // The banner's pulse went on as if its 10 ms timer had kept ticking.
  EXPECT_EQ(banner->PulsePhase(), PulseAfter(20));
  test::Advance(370);
  EXPECT_EQ(banner->PulsePhase(), PulseAfter(57));

  // The pointer over the banner between the logos: one tick looks, then
  // nothing runs again.
  test::MouseMove(form, 430, 34);
  test::Advance(200);
  EXPECT_FALSE(banner->ProductHover());
  EXPECT_EQ(Running(), 0u);

  // On the product logo the pulse restarts and runs every 10 ms.
  test::MouseMove(form, 100, 34);
  ASSERT_TRUE(banner->ProductHover());
  test::Advance(50);
  EXPECT_EQ(banner->PulsePhase(), PulseAfter(5));
  EXPECT_GE(Running(), 1u);
  // Leaving the window drops the hover at the next tick, and the timers stop.
  test::MouseLeave(form);
  test::Advance(200);
  EXPECT_FALSE(banner->ProductHover());
  EXPECT_EQ(Running(), 0u);

  // A hovered button waves every 80 ms and stops when the pointer leaves.
  const TRect f = {button->Left(), button->Top(), button->Left() + button->Width(), button->Top() + button->Height()};
  test::MouseMove(form, f.Left + 80, f.Top + 20);
  TButtonScene* s = button->ButtonScene();
  ASSERT_TRUE(s->Hovered());
  EXPECT_EQ(s->Phase(), 1.0);
  test::Advance(160);
  EXPECT_NEAR(s->Phase(), 1.0 + 2 * M_PI / 12, 1e-12);
  test::MouseMove(form, 250, 250);
  test::Advance(200);
  EXPECT_FALSE(s->Hovered());
  EXPECT_EQ(Running(), 0u);
  // Asleep, the phase still counts the steps it would have made (for the
  // keyboard flash, which shows it).
  const double resting = s->Phase();
  test::Advance(800);
  EXPECT_NEAR(s->Phase(), resting + 10 * M_PI / 12, 1e-9);

  // The keyboard flash wakes the button's timer, which ends it after
  // 100 ms and stops.
  button->SetFocus();
  test::Key(form, VK_RETURN);
  EXPECT_TRUE(s->Flash());
  test::Advance(240);
  EXPECT_FALSE(s->Flash());
  test::Advance(200);
  EXPECT_EQ(Running(), 0u);

  // The check box's halo and the heading's help button likewise.
  test::MouseMove(form, 30, 168);
  EXPECT_TRUE(box->CheckBoxScene()->Hovered());
  test::MouseMove(form, 250, 250);
  test::Advance(200);
  EXPECT_FALSE(box->CheckBoxScene()->Hovered());
  EXPECT_EQ(Running(), 0u);
}

TEST_F(StillTest, ABackgroundRenderOrAnotherWindowInFrontWakeTheBanner) {
  test::Advance(200);
  ASSERT_EQ(Running(), 0u);
  rendering_busy_add(1);
  test::Advance(10);
  EXPECT_TRUE(banner->Busy());
  test::Advance(100);
  EXPECT_TRUE(banner->Busy());
  rendering_busy_add(-1);
  test::Advance(10);
  EXPECT_FALSE(banner->Busy());
  test::Advance(200);
  EXPECT_EQ(Running(), 0u);

  // The pointer rests on the product logo while another window is in
  // front: no hover; when the form comes back to the front the next tick
  // finds the logo without a mouse move.
  test::MouseMove(form, 100, 34);
  ASSERT_TRUE(banner->ProductHover());
  auto* other = Create<TForm>(Application);
  other->Show();
  test::Advance(10);
  EXPECT_FALSE(banner->ProductHover());
  test::Advance(200);
  EXPECT_EQ(Running(), 0u);
  test::SetForeground(form);
  test::Advance(10);
  EXPECT_TRUE(banner->ProductHover());
  TObject::Free(other);
}

// A pointer resting on a logo: the glow pulses with the phase for as long
// as it stays, each tick showing the next phase's picture (the same one at
// each return of a phase), and a press turns it green at the next tick.
TEST_F(StillTest, APointerRestingOnALogoKeepsTheGlowPulsing) {
  test::Advance(200);
  ASSERT_EQ(Running(), 0u);
  test::MouseMove(form, 100, 34);
  ASSERT_TRUE(banner->ProductHover());
  std::map<int32_t, std::vector<uint8_t>> byPhase;
  std::vector<uint8_t> last = ctest::bytes_of(*banner->Bitmap());
  // Three swings and more: well past any rest.
  for (int tick = 1; tick <= 200; ++tick) {
    test::Advance(10);
    ASSERT_EQ(banner->PulsePhase(), PulseAfter(tick));
    std::vector<uint8_t> shown = ctest::bytes_of(*banner->Bitmap());
    ASSERT_NE(shown, last) << "tick " << tick;
    const auto [seen, first] = byPhase.emplace(banner->PulsePhase(), shown);
    if (!first) {
      ASSERT_EQ(seen->second, shown) << "tick " << tick;
    }
    last = std::move(shown);
  }
  EXPECT_EQ(byPhase.size(), 28u);
  EXPECT_EQ(byPhase.begin()->first, -110);
  EXPECT_EQ(byPhase.rbegin()->first, 160);
  EXPECT_TRUE(banner->ProductHover());
  EXPECT_GE(Running(), 1u);

  // Pressed, the same phase glows green instead of red.
  test::MouseDown(form, 100, 34);
  test::Advance(10);
  const int32_t phase = banner->PulsePhase();
  EXPECT_NE(ctest::bytes_of(*banner->Bitmap()), byPhase.at(phase));
  test::MouseUp(form, 100, 34);
  test::Advance(54 * 10);  // the same phase again, released
  ASSERT_EQ(banner->PulsePhase(), phase);
  EXPECT_EQ(ctest::bytes_of(*banner->Bitmap()), byPhase.at(phase));

  // Off the logo the timers stop; back on it the pulse restarts at 0.
  test::MouseMove(form, 430, 34);
  test::Advance(100);
  EXPECT_EQ(Running(), 0u);
  test::MouseMove(form, 100, 34);
  test::Advance(50);
  EXPECT_GE(Running(), 1u);
  EXPECT_EQ(banner->PulsePhase(), PulseAfter(5));
}
