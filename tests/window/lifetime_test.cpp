// Objects freed by their own handlers and calls made in the wrong order.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "ui_probe.h"
#include "ui_spinedit.h"

using namespace ui;

namespace {

class Job : public TThread {
 public:
  explicit Job(std::function<void()> body) : TThread(true), mBody(std::move(body)) {}

 protected:
  void Execute() override { mBody(); }

 private:
  std::function<void()> mBody;
};

}  // namespace

TEST(UiLifetime, ThreadFreedInItsOwnEndHandler) {
  for (bool free_on_terminate : {false, true}) {
    test::Session s;
    int ends = 0;
    auto* job = Create<Job>([] {});
    job->FreeOnTerminate = free_on_terminate;
    // The handler frees the thread whose end it reports (and with it the
    // handler itself).
    job->SetOnTerminate(nullptr, [&ends, job](TObject*) {
      ++ends;
      TObject::Free(job);
    });
    job->Start();
    ASSERT_TRUE(test::PumpUntil([&] { return ends > 0; }, 10000));
    Application->ProcessMessages();
    EXPECT_EQ(ends, 1);
  }
}

// A modal form freed by one of its own close handlers ends the loop with the
// documented exception and touches nothing of the freed form.
TEST(UiLifetime, ModalFormFreedByItsCloseHandlers) {
  for (int where = 0; where < 3; ++where) {
    uitest::FormFixture f;
    f.form->Show();
    auto* dlg = Create<TForm>(Application);
    auto free_it = [dlg] { TObject::Free(dlg); };
    if (where == 0) dlg->OnCloseQuery = [free_it](TObject*, bool&) { free_it(); };
    if (where == 1) dlg->OnClose = [free_it](TObject*, TCloseAction&) { free_it(); };
    if (where == 2) dlg->OnHide = [free_it](TObject*) { free_it(); };
    test::Script([dlg] { dlg->ModalResult = mrOk; });
    SCOPED_TRACE(where);
    if (where < 2)
      EXPECT_THROW(dlg->ShowModal(), std::logic_error);
    else
      EXPECT_EQ(dlg->ShowModal(), mrOk);
    EXPECT_EQ(Screen->FormCount(), 1);
    EXPECT_TRUE(f.form->InputEnabled());
  }
}
TEST(UiLifetime, WheelHandlerThatMovesItsControlAndFreesTheOldParent) {
  uitest::FormFixture f;
  f.form->Show();
  auto* panel = new TPanel(f.form);
  panel->SetParent(f.form);
  panel->SetBounds(0, 0, 100, 100);
  auto* inner = new TPanel(f.form);
  inner->SetParent(panel);
  inner->SetBounds(0, 0, 50, 50);
  int wheels = 0;
  inner->OnMouseWheel = [&](TObject*, TShiftState, int, TPoint, bool&) {
    ++wheels;
    inner->SetParent(f.form);
    TObject::Free(panel);
  };
  test::Wheel(f.form, 10, 10, 120);
  EXPECT_EQ(wheels, 1);
  EXPECT_EQ(inner->Parent(), f.form);
}

TEST(UiLifetime, ParentInsideTheControlIsRefused) {
  uitest::FormFixture f;
  auto* outer = new TPanel(f.form);
  outer->SetParent(f.form);
  auto* inner = new TPanel(f.form);
  inner->SetParent(outer);
  // A parent inside the control would make a loop of parents.
  outer->SetParent(inner);
  EXPECT_EQ(outer->Parent(), f.form);
  EXPECT_EQ(inner->Parent(), outer);
  EXPECT_EQ(inner->ParentForm(), f.form);
}

TEST(UiLifetime, InsertControlTakesTheControlFromItsOldParent) {
  uitest::FormFixture f;
  auto* a = new TPanel(f.form);
  a->SetParent(f.form);
  auto* b = new TPanel(f.form);
  b->SetParent(f.form);
  auto* child = new TPanel(f.form);
  child->SetParent(a);
  b->InsertControl(child);
  EXPECT_EQ(child->Parent(), b);
  EXPECT_EQ(a->ControlCount(), 0);
  b->InsertControl(f.form);  // a form inside its own child: refused
  EXPECT_EQ(b->ControlCount(), 1);
  TObject::Free(child);
  test::Snapshot(f.form);  // paints a, which must not hold the freed child
}

// Handlers of the hover and focus changes that free the form or the control
// they run for: the layer reads nothing of them afterwards.
TEST(UiLifetime, HoverAndFocusHandlersThatFreeWhatTheyRunFor) {
  // clang-format off
  enum Case { kLeaveFreesForm, kEnterFreesForm, kExitFreesForm, kFocusEnterFreesForm, kEditEnterFreesEdit, kShowFocusFreesForm };
  // clang-format on
  for (Case what : {kLeaveFreesForm, kEnterFreesForm, kExitFreesForm, kFocusEnterFreesForm, kEditEnterFreesEdit,
                    kShowFocusFreesForm}) {
    SCOPED_TRACE(int(what));
    test::Session s;
    auto* main = Create<TForm>(Application);
    main->SetClientSize(50, 50);
    main->Show();
    auto* form = Create<TForm>(Application);
    form->SetClientSize(200, 100);
    auto* a = new TPanel(form);
    a->SetParent(form);
    a->SetBounds(0, 0, 50, 50);
    a->SetTabStop(true);
    auto* b = new TPanel(form);
    b->SetParent(form);
    b->SetBounds(100, 0, 50, 50);
    b->SetTabStop(true);
    auto* edit = new TEdit(form);
    edit->SetParent(form);
    edit->SetBounds(0, 60, 100, 20);
    auto free_form = [form](TObject*) { TObject::Free(form); };
    if (what == kShowFocusFreesForm) {
      a->OnEnter = free_form;
      form->Show();
      EXPECT_EQ(Screen->FormCount(), 1);
      continue;
    }
    form->Show();
    switch (what) {
      case kLeaveFreesForm:
        test::MouseMove(form, 10, 10);
        a->OnMouseLeave = free_form;
        test::MouseMove(form, 110, 10);
        break;
      case kEnterFreesForm:
        b->OnMouseEnter = free_form;
        test::MouseMove(form, 110, 10);
        break;
      case kExitFreesForm:
        a->SetFocus();
        a->OnExit = free_form;
        b->SetFocus();
        break;
      case kFocusEnterFreesForm:
        b->OnEnter = free_form;
        b->SetFocus();
        break;
      case kEditEnterFreesEdit:
        edit->OnEnter = [edit](TObject*) { TObject::Free(edit); };
        edit->SetFocus();
        EXPECT_EQ(form->ActiveControl(), nullptr);
        TObject::Free(form);
        break;
      default: break;
    }
    EXPECT_EQ(Screen->FormCount(), 1);
  }
}

// Stopping the layer while workers run: they are asked to stop and waited
// for (their Synchronize calls served meanwhile); the fire-and-forget ones
// are freed, the others stay their owner's to free.
TEST(UiLifetime, StopWhileWorkersRun) {
  std::atomic<bool> stop_seen{false};
  Job* owned = nullptr;
  {
    test::Session s;
    // Workers that end only once the stop request was seen (through a
    // Synchronize call served while the stop waits).
    auto body = [&stop_seen] {
      while (!stop_seen) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
    for (int i = 0; i < 2; ++i) {
      auto* fire_and_forget = Create<Job>(body);
      fire_and_forget->FreeOnTerminate = true;
      fire_and_forget->Start();
    }
    owned = Create<Job>(body);
    owned->Start();
    // This one sees the stop request through Terminated.
    struct Watch : TThread {
      std::atomic<bool>* seen;
      explicit Watch(std::atomic<bool>* s) : TThread(true), seen(s) {}
      void Execute() override {
        while (!Terminated()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        Synchronize([this] { *seen = true; });
      }
    };
    auto* watch = Create<Watch>(&stop_seen);
    watch->FreeOnTerminate = true;
    watch->Start();
  }
  EXPECT_TRUE(stop_seen);
  EXPECT_TRUE(owned->Finished());
  TObject::Free(owned);
}

// A spin edit whose change handler frees it while an arrow is pressed.
TEST(UiLifetime, SpinEditFreedByItsChangeHandler) {
  for (int how = 0; how < 3; ++how) {
    SCOPED_TRACE(how);
    uitest::FormFixture f;
    f.form->Show();
    auto* spin = new TSpinEdit(f.form);
    spin->SetParent(f.form);
    spin->SetBounds(0, 0, 100, 22);
    int changes = 0;
    auto free_spin = [&changes, spin](TObject*) {
      ++changes;
      TObject::Free(spin);
    };
    if (how == 0) spin->OnChange = free_spin;
    if (how == 1) spin->OnMouseDown = [free_spin](TObject* s, TMouseButton, TShiftState, int, int) { free_spin(s); };
    if (how == 2) spin->OnMouseUp = [free_spin](TObject* s, TMouseButton, TShiftState, int, int) { free_spin(s); };
    test::MouseDown(f.form, 95, 5);
    test::MouseUp(f.form, 95, 5);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(f.form->ControlCount(), 0);
    test::Advance(1000);
  }
}

// The headless window system: the form losing the foreground frees the one
// being shown.
TEST(UiLifetime, DeactivateHandlerFreesTheFormBeingShown) {
  test::Session s;
  auto* a = Create<TForm>(Application);
  a->Show();
  auto* b = Create<TForm>(Application);
  a->OnDeactivate = [b](TObject*) { TObject::Free(b); };
  b->Show();
  EXPECT_EQ(Screen->FormCount(), 1);
}

// Resize handlers that free a sibling (or the control itself) while the
// parent lays its children out.
TEST(UiLifetime, ResizeHandlersThatFreeControlsDuringTheLayout) {
  for (int how = 0; how < 4; ++how) {
    SCOPED_TRACE(how);
    uitest::FormFixture f;
    f.form->Show();
    TPanel* panels[3];
    for (auto*& p : panels) {
      p = new TPanel(f.form);
      p->SetParent(f.form);
      p->SetBounds(0, 0, 50, 20);
    }
    panels[1]->SetTop(30);
    panels[2]->SetTop(60);
    bool aligned = how < 2;
    for (auto* p : panels) {
      if (aligned)
        p->SetAlign(alTop);
      else
        p->SetAnchors(akLeft | akTop | akRight);
    }
    TPanel* victim = how % 2 == 0 ? panels[2] : panels[0];
    panels[0]->OnResize = [victim](TObject*) { TObject::Free(victim); };
    test::ResizeClient(f.form, 300, 200);
    EXPECT_EQ(f.form->ControlCount(), 2);
  }
}

TEST(UiLifetime, FormFreedByItsOwnResizeHandler) {
  for (bool by_user : {false, true}) {
    SCOPED_TRACE(by_user);
    test::Session s;
    auto* form = Create<TForm>(Application);
    form->Show();
    auto* panel = new TPanel(form);
    panel->SetParent(form);
    panel->SetAlign(alClient);
    form->OnResize = [form](TObject*) { TObject::Free(form); };
    if (by_user)
      form->InputClientResized(300, 200);
    else
      form->SetClientSize(300, 200);
    EXPECT_EQ(Screen->FormCount(), 0);
  }
}
