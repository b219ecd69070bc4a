// The message dialog and the wait window on the headless backend: button
// placement and focus, the results of clicks, keys and the close box,
// custom handlers that refuse, the client size and the anchors, heading
// theme and icon by kind, the "don't show" box, the monitor's slots, and a
// wait window that is on screen when wait_show returns.
#include <cstring>
#include <map>
#include <memory>
#include <vector>

#include "controls_support.h"
#include "kvn_cursors.h"
#include "kvn_form_dlg.h"
#include "kvn_form_wait.h"
#include "qlm_base_flow.h"
#include "qlm_base_lists.h"
#include "qlm_png.h"

using namespace ui;

namespace {

class DialogTest : public ctest::FormTest {
 protected:
  DialogTest() {
    controls_register_pictures();
    form->SetBounds(100, 100, 800, 600);
  }
  // The dialog the form owns (the one open now).
  TFormDlg* Dialog() {
    for (int i = form->ComponentCount() - 1; i >= 0; --i)
      if (auto* d = dynamic_cast<TFormDlg*>(form->Components(i)); d != nullptr && !d->Destroying()) return d;
    return nullptr;
  }
  // Runs dialog_show with the usual arguments; `during` runs inside the
  // modal loop with the dialog painted and in front.
  int32_t Show(uint16_t buttons, const std::function<void(TFormDlg*)>& during, cButton* defs = nullptr,
               int32_t defaultResult = 0, int32_t w = 580, int32_t h = 317, uint8_t kind = 2, bool* dontShow = nullptr,
               cDialogMonitor* monitor = nullptr, const std::string& caption = "") {
    test::Script([&] {
      TFormDlg* d = Dialog();
      ASSERT_NE(d, nullptr);
      EXPECT_TRUE(d->Modal());
      test::Snapshot(d);
      test::SetForeground(d);
      during(d);
    });
    return dialog_show(form, kind, "Title", "", "A <b>message</b>.", buttons, w, h, form, 1, defaultResult, 0, 0, defs,
                       dontShow, monitor, caption);
  }
};

// The registered picture, decoded.
std::unique_ptr<cImagePNG> registered_png(const char* name) {
  const rResourceEntry* entry = resource_find(name);
  if (entry == nullptr) return nullptr;
  std::unique_ptr<cFlow> flow = cMemoryFlow::ConstructOnData(entry->data, entry->size);
  auto png = std::make_unique<cImagePNG>();
  if (flow == nullptr || !flow->Open() || !png->Open(flow.get())) return nullptr;
  return png;
}

void ClickControl(TControl* c) {
  TForm* f = c->ParentForm();
  test::Snapshot(f);
  const TRect r = c->FormRect();
  test::Click(f, (r.Left + r.Right) / 2, (r.Top + r.Bottom) / 2);
}

TKVNButton* ButtonById(TFormDlg* d, int id) {
  TKVNButton* all[4] = {d->BtYes, d->BtNo, d->BtOK, d->BtCancel};
  return all[id];
}

// The placement rule, the focus and the result of one scripted input, for
// the 580 x 317 client the buttons are designed for.
TEST_F(DialogTest, ButtonPlacementFocusAndResults) {
  enum Input { ClickId, Escape, Enter, CloseBox };
  struct Row {
    const char* name;
    uint16_t buttons;
    std::vector<std::pair<uint8_t, int32_t>> defs;  // id, width
    int32_t defaultResult;
    std::map<int, std::pair<int, int>> placed;  // id: left, width; the rest hidden
    int focus;                                  // button id, -1 the heading
    Input input;
    int clickId;
    int32_t result;
  };
  // clang-format off
  const Row rows[] = {
      {"OK only", 4, {}, 0, {{2, {485, 87}}}, 2, ClickId, 2, mrOk},
      {"Yes and Cancel restyled", 9, {{0, 100}, {3, 150}}, 6, {{3, {422, 150}}, {0, {321, 100}}}, 0, ClickId, 0,
       mrYes},
      {"Yes and Cancel, Cancel first", 9, {{0, 100}, {3, 150}}, 0, {{3, {422, 150}}, {0, {321, 100}}}, 3, Enter, 0,
       mrCancel},
      {"no buttons: Esc", 0, {}, 0, {}, -1, Escape, 0, mrCancel},
      {"no buttons: close box", 0, {}, 0, {}, -1, CloseBox, 0, mrCancel},
      {"a definition for a clear bit", 4, {{1, 200}}, 0, {{2, {485, 87}}}, 2, ClickId, 2, mrOk},
      {"all four as designed", 15, {}, 0, {{3, {485, 87}}, {2, {397, 87}}, {1, {309, 87}}, {0, {221, 87}}}, 3,
       ClickId, 1, mrNo},
      {"all four, OK by default, Enter", 15, {}, 1,
       {{3, {485, 87}}, {2, {397, 87}}, {1, {309, 87}}, {0, {221, 87}}}, 2, Enter, 0, mrOk},
      {"Yes and No, No by default", 3, {}, 7, {{1, {485, 87}}, {0, {397, 87}}}, 1, Enter, 0, mrNo},
      {"Cancel", 8, {}, 0, {{3, {485, 87}}}, 3, ClickId, 3, mrCancel},
  };
  // clang-format on
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    cButton* defs = nullptr;
    for (auto [id, width] : row.defs) defs = cButton::Construct(id, "Custom", CLR_BLUE, width, defs, nullptr);
    const int32_t result = Show(
        row.buttons,
        [&](TFormDlg* d) {
          for (int id = 0; id < 4; ++id) {
            TKVNButton* b = ButtonById(d, id);
            auto it = row.placed.find(id);
            EXPECT_EQ(b->Visible(), it != row.placed.end()) << "button " << id;
            if (it == row.placed.end()) continue;
            EXPECT_EQ(b->Left(), it->second.first) << "button " << id;
            EXPECT_EQ(b->Width(), it->second.second) << "button " << id;
            EXPECT_EQ(b->Top(), 281) << "button " << id;
          }
          TWinControl* want = row.focus < 0 ? static_cast<TWinControl*>(d->Heading) : ButtonById(d, row.focus);
          EXPECT_EQ(d->ActiveControl(), want);
          EXPECT_TRUE(want->Focused());
          switch (row.input) {
            case ClickId: ClickControl(ButtonById(d, row.clickId)); break;
            case Escape: test::Key(d, VK_ESCAPE); break;
            case Enter: test::Key(d, VK_RETURN); break;
            case CloseBox: test::CloseBox(d); break;
          }
        },
        defs, row.defaultResult);
    EXPECT_EQ(result, row.result);
    EXPECT_EQ(test::Headless().ScriptLeft(), 0u);
  }
}

TEST_F(DialogTest, CustomHandlersDecideAndEscIgnoresThem) {
  // A handler that refuses keeps the dialog open; the second click asks for
  // 6 and gets it.
  int calls = 0;
  TFormDlg* seen = nullptr;
  cButton* defs = cButton::Construct(cnDlgOK, "~}<b>Update</b>", CLR_ORANGE, 0, nullptr, [&](TFormDlg* d) {
    seen = d;
    if (++calls == 2)
      d->SetResult(6);
    else
      d->SetResult(0);  // not above 0: does not count
  });
  test::Script([&] {
    TFormDlg* d = Dialog();
    EXPECT_EQ(d->BtOK->ButtonText(), "~}<b>Update</b>");
    EXPECT_EQ(d->BtOK->ColorIndex(), CLR_ORANGE);
    EXPECT_EQ(d->BtOK->Width(), 87);
    test::SetForeground(d);
    ClickControl(d->BtOK);
  });
  test::Script([&] {
    TFormDlg* d = Dialog();
    ASSERT_NE(d, nullptr);
    EXPECT_TRUE(d->Modal());
    EXPECT_EQ(calls, 1);
    ClickControl(d->BtOK);
  });
  EXPECT_EQ(dialog_show(form, 3, "Title", "", "Message", 12, 0, 0, nullptr, 0, 1, 0, 0, defs, nullptr, nullptr, ""),
            mrYes);
  EXPECT_EQ(calls, 2);
  EXPECT_NE(seen, nullptr);

  // Esc gives 2 even with a Cancel handler, which is not called.
  bool cancelHandler = false;
  defs = cButton::Construct(cnDlgCancel, "Stop", CLR_RED, 0, nullptr, [&](TFormDlg*) { cancelHandler = true; });
  EXPECT_EQ(Show(
                8, [](TFormDlg* d) { test::Key(d, VK_ESCAPE); }, defs),
            mrCancel);
  EXPECT_FALSE(cancelHandler);

  // The handler's own dialog closes it with its result.
  defs = cButton::Construct(cnDlgCancel, "Stop", CLR_RED, 0, nullptr, [](TFormDlg* d) { d->SetResult(mrNo); });
  EXPECT_EQ(Show(
                8, [](TFormDlg* d) { ClickControl(d->BtCancel); }, defs),
            mrNo);
}

// Placed for 580 x 317, then carried along by their anchors.
TEST_F(DialogTest, DefaultClientSizeAndAnchors) {
  // clang-format off
  EXPECT_EQ(Show(15, [](TFormDlg* d) {
    EXPECT_EQ(d->ClientWidth(), 450);
    EXPECT_EQ(d->ClientHeight(), 200);
    EXPECT_EQ(d->Heading->Width(), 450);
    const int lefts[4] = {221 - 130, 309 - 130, 397 - 130, 485 - 130};
    for (int id = 0; id < 4; ++id) {
      EXPECT_EQ(ButtonById(d, id)->Left(), lefts[id]);
      EXPECT_EQ(ButtonById(d, id)->Top(), 281 - 117);
    }
    EXPECT_EQ(d->BtCancel->Left() + d->BtCancel->Width(), 450 - 8);
    EXPECT_EQ(d->Panel1->BoundsRect(), Bounds(9, 48, 563 - 130, 225 - 117));
    // The message viewer fills the panel and holds both layers.
    EXPECT_EQ(d->MessageViewer()->Width(), 563 - 130);
    EXPECT_EQ(d->MessageScene()->GetLayoutWidth(), 563 - 130 - 50);
    EXPECT_GT(d->MessageScene()->GetTextHeight(), 0);
    EXPECT_FALSE(d->ChDont->Visible());
    test::Key(d, VK_ESCAPE);
  }, nullptr, 0, 0, 0), mrCancel);
  // clang-format on
}

TEST_F(DialogTest, ThemeAndIconByKind) {
  struct Row {
    uint8_t kind;
    TColorTheme theme;
    const char* icon;
  };
  // clang-format off
  const Row rows[] = {
      {0, CT_YELLOW, "..\\dlg_warning.png"},     {1, CT_RED, "..\\dlg_error.png"},
      {2, CT_BLUE, "..\\dlg_information.png"},   {3, CT_GREEN, "..\\dlg_confirmation.png"},
      {7, CT_BLUEGRAY, "..\\dlg_custom.png"},    {255, CT_BLUEGRAY, "..\\dlg_custom.png"},
  };
  // clang-format on
  for (const Row& row : rows) {
    SCOPED_TRACE(int(row.kind));
    std::unique_ptr<cImagePNG> want = registered_png(row.icon);
    ASSERT_NE(want, nullptr);
    Show(
        4,
        [&](TFormDlg* d) {
          EXPECT_EQ(d->Heading->ColorHeading(), row.theme);
          EXPECT_EQ(d->Heading->HeadingScene()->CaptionText(), "Title");
          cImage* icon = d->Heading->HeadingScene()->Icon();
          ASSERT_NE(icon, nullptr);
          cBitmap* a = icon->Bitmap(0);
          cBitmap* b = want->Bitmap(0);
          ASSERT_EQ(a->Width(), b->Width());
          ASSERT_EQ(a->Height(), b->Height());
          EXPECT_EQ(std::memcmp(a->Data(), b->Data(), size_t(a->Stride()) * size_t(a->Height())), 0);
          test::Key(d, VK_ESCAPE);
        },
        nullptr, 0, 580, 317, row.kind);
  }
}

TEST_F(DialogTest, DontShowBoxWritesOnlyOnClicks) {
  bool flag = true;
  // clang-format off
  EXPECT_EQ(Show(4, [&](TFormDlg* d) {
    EXPECT_TRUE(d->ChDont->Visible());
    EXPECT_TRUE(d->ChDont->Checked());
    EXPECT_EQ(d->ChDont->Caption(), "Don't show this dialog next time");
    // Not written while the dialog set the box up: the caller's change holds.
    flag = false;
    test::Snapshot(d);
    EXPECT_FALSE(flag);
    ClickControl(d->ChDont);  // checked -> unchecked
    EXPECT_FALSE(flag);
    ClickControl(d->ChDont);  // unchecked -> checked
    EXPECT_TRUE(flag);
    ClickControl(d->BtOK);
  }, nullptr, 0, 0, 0, 2, &flag), mrOk);
  // clang-format on
  EXPECT_TRUE(flag);
}

class Watcher : public cDialogMonitor {
 public:
  void Shown(bool shown) override { shownWith.push_back(shown); }
  void Cancelled() override { ++cancels; }
  std::string Title() override { return title; }
  std::vector<bool> shownWith;
  int cancels = 0;
  std::string title;
};

TEST_F(DialogTest, MonitorSlotsAndCaption) {
  Watcher w;
  // clang-format off
  EXPECT_EQ(Show(4, [&](TFormDlg* d) {
    EXPECT_EQ(w.shownWith, std::vector<bool>{true});
    EXPECT_EQ(d->Caption(), "Korvane Setup");
    w.title = "";
    w.TitleChangedSlot();
    EXPECT_EQ(d->Heading->HeadingScene()->CaptionText(), "Title");  // empty keeps it
    w.title = "Renamed";
    w.TitleChangedSlot();
    EXPECT_EQ(d->Heading->HeadingScene()->CaptionText(), "Renamed");
    w.CloseRequestSlot();
  }, nullptr, 0, 0, 0, 2, nullptr, &w, "Korvane Setup"), mrCancel);
  EXPECT_EQ(w.cancels, 0);
  EXPECT_FALSE(w.TitleChangedSlot);  // emptied: the dialog is gone

  // Cancel without a handler tells the watcher and empties its slots first.
  EXPECT_EQ(Show(8, [&](TFormDlg* d) {
    ClickControl(d->BtCancel);
    EXPECT_FALSE(w.CloseRequestSlot);
  }, nullptr, 0, 0, 0, 2, nullptr, &w), mrCancel);
  // clang-format on
  EXPECT_EQ(w.cancels, 1);
}

TEST_F(DialogTest, ReleasedAfterItsCall) {
  EXPECT_EQ(Show(4, [](TFormDlg* d) { ClickControl(d->BtOK); }), mrOk);
  ASSERT_TRUE(test::PumpUntil([&] { return Dialog() == nullptr; }, 2000));
}

TEST(DialogWithoutLayer, CannotBeCreatedAndFreesTheDefinitions) {
  // No window layer: the form cannot be made; the definitions are freed
  // (the sanitizer build would report them otherwise).
  cButton* defs = cButton::Construct(cnDlgOK, "OK", CLR_GREEN, 0, nullptr, nullptr);
  EXPECT_EQ(dialog_show(nullptr, 0, "T", "", "M", 4, 0, 0, nullptr, 0, 0, 0, 0, defs, nullptr, nullptr, ""), -1);
  EXPECT_EQ(wait_show("Wait", nullptr), nullptr);
}

TEST_F(DialogTest, WaitWindowIsOnScreenWhenShowReturns) {
  struct Row {
    TForm* owner;
    TRect bounds;
  };
  const Row rows[] = {{form, Bounds(100 + (800 - 400) / 2, 100 + (600 - 42) / 2, 400, 42)}, {nullptr, {}}};
  for (const Row& row : rows) {
    TFormWait* wait = wait_show("Waiting for the printer", row.owner);
    ASSERT_NE(wait, nullptr);
    // No pumping: what the user sees is already presented.
    const HeadlessBackend::Window* w = test::Headless().FindWindow(wait->Handle());
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(w->Shown);
    EXPECT_GT(w->Presents, 0);
    EXPECT_FALSE(wait->PaintPending());
    EXPECT_EQ(w->Title, "Wait Please ...");
    EXPECT_EQ(wait->BorderStyle(), bsToolWindow);
    EXPECT_EQ(wait->BorderIcons(), 0);
    EXPECT_EQ(wait->FormStyle(), fsStayOnTop);
    EXPECT_EQ(wait->ClientWidth(), 400);
    EXPECT_EQ(wait->ClientHeight(), 42);
    THeadingScene* hs = wait->KVNHeading1->HeadingScene();
    EXPECT_EQ(hs->CaptionText(), "Waiting for the printer");
    EXPECT_EQ(hs->ColorHeading(), CT_VIOLET);
    EXPECT_TRUE(hs->FullHeight());
    if (row.owner != nullptr) {
      EXPECT_EQ(wait->BoundsRect(), row.bounds);
    }
    // The heading's pixels are in the back buffer: not the form's plain face.
    EXPECT_NE(ctest::argb_at(wait->BackBuffer(), 200, 21) & 0xFFFFFF, 0xF0F0F0u);
    const WindowId handle = wait->Handle();
    wait->Release();
    ASSERT_TRUE(test::PumpUntil([&] { return test::Headless().FindWindow(handle) == nullptr; }, 2000));
  }
}

}  // namespace
