// The behaviour the press base gives the button, the check box and the
// heading under the keyboard: the focus look and the click key are the
// control's own, and the form's OnEnter, OnExit and OnKeyDown on the same
// control run beside them.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "controls_support.h"
#include "kvn_button.h"
#include "kvn_checkbox.h"
#include "kvn_heading.h"

using namespace ui;

namespace {

using PressTest = ctest::FormTest;

struct rPressCase {
  const char* name;
  uint16_t key;
  std::function<TWinControl*(TForm*)> make;
  std::function<bool(TWinControl*)> focusLook;
};

const rPressCase kCases[] = {
    {"button", VK_RETURN, [](TForm* f) -> TWinControl* { return new TKVNButton(f); },
     [](TWinControl* c) { return static_cast<TKVNButton*>(c)->ButtonScene()->Focused(); }},
    {"check box", VK_SPACE, [](TForm* f) -> TWinControl* { return new TKVNCheckBox(f); },
     [](TWinControl* c) { return static_cast<TKVNCheckBox*>(c)->CheckBoxScene()->Focused(); }},
    {"heading", VK_RETURN, [](TForm* f) -> TWinControl* { return new TKVNHeading(f); },
     [](TWinControl* c) { return static_cast<TKVNHeading*>(c)->HeadingScene()->Focused(); }},
};

}  // namespace

TEST_F(PressTest, TheFormsOwnFocusAndKeyHandlersRunBesideTheControls) {
  for (const rPressCase& k : kCases) {
    SCOPED_TRACE(k.name);
    TWinControl* c = k.make(form);
    c->SetBounds(20, 20, 200, 40);
    c->SetParent(form);
    auto* other = new TKVNButton(form);
    other->SetBounds(20, 200, 160, 40);
    other->SetParent(form);
    test::Snapshot(form);

    std::vector<std::string> seen;
    int clicks = 0;
    bool swallow = false;
    c->OnClick = [&](TObject*) { ++clicks; };
    c->OnEnter = [&](TObject*) { seen.push_back("enter"); };
    c->OnExit = [&](TObject*) { seen.push_back("exit"); };
    c->OnKeyDown = [&](TObject*, uint16_t& key, TShiftState) {
      seen.push_back("key " + std::to_string(key));
      if (swallow) key = 0;
    };

    c->SetFocus();
    EXPECT_TRUE(k.focusLook(c));
    test::Key(form, k.key);
    EXPECT_EQ(clicks, 1);
    test::Advance(200);  // past the button's pressed flash
    // A key the form's handler takes (sets to 0) does not click.
    swallow = true;
    test::Key(form, k.key);
    EXPECT_EQ(clicks, 1);
    other->SetFocus();
    EXPECT_FALSE(k.focusLook(c));
    const std::string key = "key " + std::to_string(k.key);
    EXPECT_EQ(seen, (std::vector<std::string>{"enter", key, key, "exit"}));

    TObject::Free(other);
    TObject::Free(c);
  }
}
