// Focus, Tab order, key preview, native edits, align, anchors and auto-size.
#include <gtest/gtest.h>

#include "ui_probe.h"

using namespace ui;
using uitest::Probe;

namespace {

struct TabFixture : uitest::FormFixture {
  Probe *a, *b, *c, *d, *e, *f;
  TPanel* p;
  TEdit* g;
  TabFixture() {
    a = new Probe(form, form, "A", &log, Bounds(0, 0, 10, 10));
    b = new Probe(form, form, "B", &log, Bounds(10, 0, 10, 10));
    p = new TPanel(form);
    p->SetParent(form);
    c = new Probe(form, p, "C", &log, Bounds(0, 0, 10, 10));
    d = new Probe(form, p, "D", &log, Bounds(10, 0, 10, 10));
    e = new Probe(form, form, "E", &log, Bounds(20, 0, 10, 10));
    f = new Probe(form, form, "F", &log, Bounds(30, 0, 10, 10));
    g = new TEdit(form);
    g->SetParent(form);
    b->Hide();
    d->SetEnabled(false);
    e->SetTabStop(false);
    f->SetTabOrder(1);
    form->Show();
  }
};

}  // namespace

TEST(UiFocus, TabOrderSkipsHiddenDisabledAndNonStops) {
  TabFixture t;
  EXPECT_EQ(t.form->ActiveControl(), t.a);  // the first of the order on show
  std::vector<TWinControl*> order;
  for (int i = 0; i < 5; ++i) {
    test::Key(t.form, VK_TAB);
    order.push_back(t.form->ActiveControl());
  }
  EXPECT_EQ(order, (std::vector<TWinControl*>{t.f, t.c, t.g, t.a, t.f}));
  test::Key(t.form, VK_TAB, ssShift);
  test::Key(t.form, VK_TAB, ssShift);
  EXPECT_EQ(t.form->ActiveControl(), t.g);
  EXPECT_EQ(test::Headless().FocusedOverlay(), t.g->Overlay());  // the native edit holds the focus
  test::Key(t.form, VK_TAB);
  EXPECT_EQ(t.form->ActiveControl(), t.a);
  EXPECT_EQ(test::Headless().FocusedOverlay(), 0u);
  // Exit before enter; a hidden control cannot take the focus.
  t.log.clear();
  t.f->SetFocus();
  t.b->SetFocus();
  EXPECT_EQ(t.log, (std::vector<std::string>{"unfocus A", "focus F"}));
  EXPECT_TRUE(t.f->Focused());
  // Hiding the focused control leaves nothing focused.
  t.f->Hide();
  EXPECT_EQ(t.form->ActiveControl(), nullptr);
}

TEST(UiFocus, KeyPreviewSeesKeysFirst) {
  struct Case {
    bool preview;
    uint16_t key;
    std::vector<std::string> expected;
  } cases[] = {
      {true, VK_RETURN, {"form 13", "key A 13"}},
      {true, VK_ESCAPE, {"form 27"}},  // the form swallows Esc
      {false, VK_ESCAPE, {"key A 27"}},
      {true, VK_TAB, {}},  // Tab moves the focus before any key handler
  };
  for (auto& c : cases) {
    TabFixture t;
    t.form->KeyPreview = c.preview;
    t.form->OnKeyDown = [&](TObject*, uint16_t& key, TShiftState) {
      t.log.push_back("form " + std::to_string(key));
      if (key == VK_ESCAPE) key = 0;
    };
    t.log.clear();
    test::Key(t.form, c.key);
    std::vector<std::string> keys;
    for (auto& s : t.log)
      if (s.rfind("focus", 0) != 0 && s.rfind("unfocus", 0) != 0) keys.push_back(s);
    EXPECT_EQ(keys, c.expected) << c.key << " preview " << c.preview;
  }
}

// Key messages carry the state after the event (the key down of Shift
// holds Shift, its key up no longer does), and Tab, which moved the focus
// on its key down, reaches no key handler on its key up either.
TEST(UiFocus, KeyStatesAreTheStatesAfterTheEventAndTabStaysTheLayers) {
  TabFixture t;
  std::vector<std::string> seen;
  auto record = [&](const char* what) {
    return [&seen, what](TObject* sender, uint16_t& key, TShiftState shift) {
      seen.push_back(static_cast<TComponent*>(sender)->Name + " " + what + " " + std::to_string(key) + " " +
                     std::to_string(shift));
    };
  };
  for (Probe* p : {t.a, t.f}) {
    p->OnKeyDown = record("down");
    p->OnKeyUp = record("up");
  }
  ASSERT_EQ(t.form->ActiveControl(), t.a);
  struct Case {
    bool down;
    uint16_t key;
    TShiftState before;  // what the window system passed along
    const char* expected;
  } cases[] = {
      {true, VK_SHIFT, 0, "A down 16 1"},      {false, VK_SHIFT, ssShift, "A up 16 0"},
      {true, VK_CONTROL, 0, "A down 17 4"},    {false, VK_CONTROL, ssCtrl, "A up 17 0"},
      {true, VK_MENU, ssShift, "A down 18 3"}, {false, VK_MENU, ssAlt | ssShift, "A up 18 1"},
      {true, 'A', ssShift, "A down 65 1"},     {false, 'A', ssShift, "A up 65 1"},
  };
  for (auto& c : cases) {
    seen.clear();
    c.down ? t.form->InputKeyDown(c.key, c.before) : t.form->InputKeyUp(c.key, c.before);
    EXPECT_EQ(seen, std::vector<std::string>{c.expected}) << c.expected;
  }
  seen.clear();
  test::Key(t.form, VK_TAB);
  EXPECT_EQ(t.form->ActiveControl(), t.f);
  EXPECT_TRUE(seen.empty()) << seen.front();
  t.form->InputKeyDown(VK_TAB, 0);  // its key up goes to another window
  t.f->SetFocus();
  test::Key(t.form, VK_TAB, ssCtrl);  // not a focus move: the control sees it
  EXPECT_EQ(seen, (std::vector<std::string>{"F down 9 4", "F up 9 4"}));
}

TEST(UiFocus, NativeEditTakesTypedTextUnlessThePreviewSwallowsIt) {
  TabFixture t;
  int changes = 0;
  t.g->OnChange = [&](TObject*) { ++changes; };
  t.g->SetFocus();
  t.form->KeyPreview = true;
  t.form->OnKeyPress = [](TObject*, char& ch) {
    if (ch == 'b') ch = 0;
  };
  test::Key(t.form, 'A');
  test::Key(t.form, 'B');
  test::Key(t.form, 'C', ssShift);
  EXPECT_EQ(t.g->Text(), "aC");
  EXPECT_EQ(changes, 2);
  test::TypeText(t.g, "C:\\Games");
  EXPECT_EQ(t.g->Text(), "C:\\Games");
  t.g->SetText("C:\\Games");  // unchanged: no event
  EXPECT_EQ(changes, 3);
  t.g->SetMaxLength(4);
  t.g->SetText("abcdefg");
  EXPECT_EQ(t.g->Text(), "abcd");
  // The model follows the control.
  auto* o = test::Headless().FindOverlay(t.g->Overlay());
  ASSERT_NE(o, nullptr);
  EXPECT_EQ(o->State.Text, "abcd");
  t.g->SetBounds(30, 40, 260, 22);
  EXPECT_EQ(o->State.Bounds, Bounds(30, 40, 260, 22));
  t.form->Hide();
  EXPECT_FALSE(o->State.Visible);
}

TEST(UiLayout, AnchorsFollowTheParentsSize) {
  struct Case {
    TAnchors anchors;
    TRect after;
  } cases[] = {
      {akLeft | akTop, Bounds(10, 10, 100, 20)},
      {akRight | akTop, Bounds(110, 10, 100, 20)},
      {akLeft | akRight | akTop, Bounds(10, 10, 200, 20)},
      {akLeft | akTop | akRight | akBottom, Bounds(10, 10, 200, 70)},
      {akLeft | akBottom, Bounds(10, 60, 100, 20)},
      {akRight | akBottom, Bounds(110, 60, 100, 20)},
  };
  for (auto& c : cases) {
    uitest::FormFixture f;
    f.form->SetClientSize(300, 200);
    auto* ctl = new TPanel(f.form);
    ctl->SetParent(f.form);
    ctl->SetBounds(10, 10, 100, 20);
    ctl->SetAnchors(c.anchors);
    f.form->SetClientSize(400, 250);
    EXPECT_EQ(ctl->BoundsRect(), c.after) << int(c.anchors);
    f.form->SetClientSize(300, 200);  // and back
    EXPECT_EQ(ctl->BoundsRect(), Bounds(10, 10, 100, 20)) << int(c.anchors);
  }
}

TEST(UiLayout, ButtonsPlacedFor580PixelsFollowAResizeTo450) {
  uitest::FormFixture f;
  f.form->SetClientSize(580, 300);
  auto* top = new TPanel(f.form);
  top->SetParent(f.form);
  top->SetHeight(50);
  top->SetAlign(alTop);
  auto* bar = new TPanel(f.form);
  bar->SetParent(f.form);
  bar->SetHeight(40);
  bar->SetAlign(alBottom);
  auto* body = new TPanel(f.form);
  body->SetParent(f.form);
  body->SetAlign(alClient);
  std::vector<TPanel*> buttons;
  int left = 0;
  for (int width : {75, 90}) {
    auto* b = new TPanel(f.form);
    b->SetParent(bar);
    b->SetAnchors(akRight | akBottom);
    left = buttons.empty() ? bar->ClientWidth() - width - 8 : left - (width + 1);
    b->SetBounds(left, 8, width, 25);
    buttons.push_back(b);
  }
  EXPECT_EQ(buttons[0]->Left(), 497);
  EXPECT_EQ(buttons[1]->Left(), 406);
  f.form->SetClientSize(450, 200);
  EXPECT_EQ(top->BoundsRect(), Bounds(0, 0, 450, 50));
  EXPECT_EQ(bar->BoundsRect(), Bounds(0, 160, 450, 40));
  EXPECT_EQ(body->BoundsRect(), Bounds(0, 50, 450, 110));
  EXPECT_EQ(buttons[0]->BoundsRect(), Bounds(367, 8, 75, 25));
  EXPECT_EQ(buttons[1]->BoundsRect(), Bounds(276, 8, 90, 25));
  // The user's resize of the window goes the same way.
  f.form->Show();
  test::ResizeClient(f.form, 500, 220);
  EXPECT_EQ(f.form->ClientWidth(), 500);
  EXPECT_EQ(buttons[0]->Left(), 417);
  EXPECT_EQ(bar->Top(), 180);
}

TEST(UiLayout, AlignSidesAndAutoSize) {
  uitest::FormFixture f;
  f.form->SetClientSize(200, 100);
  auto make = [&](TAlign a) {
    auto* p = new TPanel(f.form);
    p->SetBounds(0, 0, 30, 20);
    p->SetParent(f.form);
    p->SetAlign(a);
    return p;
  };
  auto* l = make(alLeft);
  auto* r = make(alRight);
  auto* t = make(alTop);
  auto* c = make(alClient);
  EXPECT_EQ(t->BoundsRect(), Bounds(0, 0, 200, 20));
  EXPECT_EQ(l->BoundsRect(), Bounds(0, 20, 30, 80));
  EXPECT_EQ(r->BoundsRect(), Bounds(170, 20, 30, 80));
  EXPECT_EQ(c->BoundsRect(), Bounds(30, 20, 140, 80));
  t->Hide();  // a hidden control gives its room back
  EXPECT_EQ(c->BoundsRect(), Bounds(30, 0, 140, 100));
}

TEST(UiLayout, AutoSizeFormTakesItsChildrensExtent) {
  uitest::FormFixture g;
  g.form->SetAutoSize(true);
  auto* p = new TPanel(g.form);
  p->SetParent(g.form);
  p->SetBounds(10, 10, 300, 80);
  EXPECT_EQ(g.form->ClientWidth(), 310);
  EXPECT_EQ(g.form->ClientHeight(), 90);
}

TEST(UiLayout, ConstraintsKeepAMinimumSize) {
  uitest::FormFixture f;
  f.form->SetConstraints({525, 240});
  f.form->SetClientSize(100, 100);
  EXPECT_EQ(f.form->Width(), 525);
  EXPECT_EQ(f.form->Height(), 240);
  f.form->Show();
  auto* w = test::Headless().FindWindow(f.form->Handle());
  EXPECT_EQ(w->Style.MinClientWidth, 525);
  EXPECT_TRUE(w->Style.Resizable);
  f.form->SetBorderStyle(bsDialog);
  f.form->SetBorderIcons(0);
  f.form->SetFormStyle(fsStayOnTop);
  EXPECT_FALSE(w->Style.Resizable);
  EXPECT_FALSE(w->Style.Deletable);
  EXPECT_TRUE(w->Style.KeepAbove);
}

TEST(UiLayout, NativeOverlaysFollowTheirParents) {
  uitest::FormFixture f;
  auto* panel = new TPanel(f.form);
  panel->SetBounds(10, 20, 300, 100);
  auto* edit = new TEdit(f.form);
  edit->SetParent(panel);  // not on a form yet: no native widget
  edit->SetBounds(5, 5, 260, 22);
  EXPECT_EQ(edit->Overlay(), 0u);
  panel->SetParent(f.form);
  f.form->Show();
  auto* o = test::Headless().FindOverlay(edit->Overlay());
  ASSERT_NE(o, nullptr);
  EXPECT_EQ(o->State.Bounds, Bounds(15, 25, 260, 22));
  panel->SetLeft(40);
  EXPECT_EQ(o->State.Bounds, Bounds(45, 25, 260, 22));
  panel->Hide();
  EXPECT_FALSE(o->State.Visible);
  panel->Show();
  panel->SetEnabled(false);
  EXPECT_TRUE(o->State.Visible);
  EXPECT_FALSE(o->State.Enabled);

  // A label sizes itself to its text, again when its font changes.
  auto* label = new TLabel(f.form);
  label->SetParent(f.form);
  label->SetCaption("Destination");
  int w = label->Width();
  EXPECT_GT(w, 0);
  TFont big;
  big.Height = 28;
  label->SetFont(big);
  EXPECT_GT(label->Width(), w);
  EXPECT_EQ(test::Headless().FindOverlay(label->Overlay())->State.Bounds.Width(), label->Width());
}
