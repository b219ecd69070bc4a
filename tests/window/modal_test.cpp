// Modal loops, closing, release and the headless pump's refusal to hang.
#include <gtest/gtest.h>

#include <stdexcept>

#include "ui_probe.h"

using namespace ui;
using uitest::Probe;

TEST(UiModal, EndedByModalResultOrByTheCloseBox) {
  uitest::FormFixture f;
  auto* main_probe = new Probe(f.form, f.form, "main", &f.log, Bounds(0, 0, 200, 100));
  f.form->Show();
  auto* dlg = Create<TForm>(Application);
  auto* ok = new Probe(dlg, dlg, "ok", &f.log, Bounds(10, 10, 40, 20));
  ok->OnClick = [&](TObject*) { dlg->ModalResult = mrOk; };
  test::Script([&] {
    EXPECT_TRUE(dlg->IsForeground());
    EXPECT_EQ(test::Headless().FindWindow(dlg->Handle())->Style.Transient, f.form->Handle());
    test::Click(f.form, 50, 50);  // the main form takes no input meanwhile
    test::Click(dlg, 20, 20);
  });
  EXPECT_EQ(dlg->ShowModal(), mrOk);
  EXPECT_FALSE(dlg->Visible());
  EXPECT_TRUE(f.form->IsForeground());  // the foreground went back
  EXPECT_EQ(std::count(f.log.begin(), f.log.end(), "down main 50,50"), 0);
  EXPECT_EQ(std::count(f.log.begin(), f.log.end(), "click ok"), 1);
  test::Click(f.form, 50, 50);  // and takes it again afterwards
  EXPECT_EQ(std::count(f.log.begin(), f.log.end(), "down main 50,50"), 1);
  (void)main_probe;

  // The close box gives 2, once the close query agrees.
  int queries = 0;
  dlg->OnCloseQuery = [&](TObject*, bool& can) { can = ++queries > 1; };
  test::Script([&] { test::CloseBox(dlg); });
  test::Script([&] { test::CloseBox(dlg); });
  EXPECT_EQ(dlg->ShowModal(), mrCancel);
  EXPECT_EQ(queries, 2);
  EXPECT_THROW(
      {
        dlg->Show();
        dlg->ShowModal();
      },
      std::logic_error);  // a visible form cannot become modal
}

TEST(UiModal, NestedModalFormsUnwindInOrder) {
  uitest::FormFixture f;
  f.form->Show();
  auto* outer = Create<TForm>(Application);
  auto* inner = Create<TForm>(Application);
  std::vector<std::string> order;
  test::Script([&] {
    test::Script([&] {
      EXPECT_TRUE(inner->Modal());
      EXPECT_FALSE(outer->InputEnabled());
      inner->ModalResult = mrYes;
    });
    order.push_back("inner " + std::to_string(inner->ShowModal()));
    EXPECT_TRUE(outer->InputEnabled());
    outer->ModalResult = mrNo;
  });
  order.push_back("outer " + std::to_string(outer->ShowModal()));
  EXPECT_EQ(order, (std::vector<std::string>{"inner 6", "outer 7"}));
  EXPECT_TRUE(f.form->InputEnabled());
}

TEST(UiModal, HeadlessPumpThrowsInsteadOfHanging) {
  uitest::FormFixture f;
  f.form->Show();
  auto* dlg = Create<TForm>(Application);
  EXPECT_THROW(dlg->ShowModal(), std::runtime_error);
  // The loop unwound cleanly: hidden, and the main form takes input again.
  EXPECT_FALSE(dlg->Visible());
  EXPECT_FALSE(dlg->Modal());
  EXPECT_TRUE(f.form->InputEnabled());
  EXPECT_THROW(Application->HandleMessage(), std::runtime_error);
}

TEST(UiModal, ReleaseAndCloseActions) {
  uitest::FormFixture f;
  f.form->Show();
  // A form freed by its close action goes after its modal loop returned.
  auto* dlg = Create<TForm>(Application);
  dlg->OnClose = [](TObject*, TCloseAction& a) { a = caFree; };
  auto alive = dlg->AliveToken();
  test::Script([&] { dlg->ModalResult = mrOk; });
  EXPECT_EQ(dlg->ShowModal(), mrOk);
  EXPECT_FALSE(alive.expired());
  Application->ProcessMessages();
  EXPECT_TRUE(alive.expired());

  // Release inside the form's own click handler frees it later.
  auto* other = Create<TForm>(Application);
  auto* probe = new Probe(other, other, "p", nullptr, Bounds(0, 0, 50, 50));
  probe->OnClick = [&](TObject*) { other->Release(); };
  other->Show();
  auto other_alive = other->AliveToken();
  test::Click(other, 10, 10);
  EXPECT_FALSE(other_alive.expired());
  Application->ProcessMessages();
  EXPECT_TRUE(other_alive.expired());

  // Closing the main form ends the application.
  Application->MainForm = f.form;
  f.form->Close();
  EXPECT_TRUE(Application->Terminated());
}

TEST(UiModal, OnDestroyRunsBeforeOwnedComponentsAreFreed) {
  test::Session s;
  auto* form = Create<TForm>(Application);
  auto* timer = new TTimer(form);
  auto* panel = new TPanel(form);
  panel->SetParent(form);
  auto timer_alive = timer->AliveToken();
  auto panel_alive = panel->AliveToken();
  bool seen = false;
  form->OnDestroy = [&](TObject*) {
    seen = true;
    EXPECT_FALSE(timer_alive.expired());
    EXPECT_FALSE(panel_alive.expired());
    EXPECT_EQ(form->ControlCount(), 1);
  };
  TObject::Free(form);
  EXPECT_TRUE(seen);
  EXPECT_TRUE(timer_alive.expired());
  EXPECT_TRUE(panel_alive.expired());
}

TEST(UiModal, DestroyedControlsLeaveNoDanglingState) {
  uitest::FormFixture f;
  auto* a = new Probe(f.form, f.form, "A", &f.log, Bounds(10, 10, 50, 30));
  a->CaptureOnDown = true;
  f.form->Show();
  test::MouseMove(f.form, 20, 20);
  test::MouseDown(f.form, 20, 20);
  ASSERT_EQ(GetCapture(), a);
  ASSERT_EQ(f.form->HoverControl(), a);
  TObject::Free(a);
  EXPECT_EQ(GetCapture(), nullptr);
  EXPECT_EQ(f.form->HoverControl(), nullptr);
  EXPECT_EQ(f.form->ActiveControl(), nullptr);
  test::MouseMove(f.form, 30, 20);
  test::MouseUp(f.form, 30, 20);
  test::Key(f.form, VK_RETURN);
}
