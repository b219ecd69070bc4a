// The document viewer: layout widths on resize, link states driven by the
// pointer (wrapped links, moving between links, press and release, the
// form in front or not), which links open, scroll-corrected hit tests,
// windowed layers against whole ones, and appending to a log.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "controls_support.h"
#include "kvn_cursors.h"
#include "kvn_info.h"
#include "kvn_shell.h"
#include "qlm_font_resolver.h"
#include "qlm_renderer_hittest.h"

using namespace ui;

// The pages are measured with the Arial substitute (Liberation Sans).
#define REQUIRE_FONTS()                                                                \
  do {                                                                                 \
    rFontFace probe_;                                                                  \
    if (!font_resolve("Arial", 0, probe_) ||                                           \
        std::filesystem::path(probe_.file).filename() != "LiberationSans-Regular.ttf") \
      GTEST_SKIP() << "fonts-liberation is not installed";                             \
  } while (0)

namespace {

// Two hrefs; the first wraps over two lines at the layout width of 200.
const std::string kPage =
    "Please read the ~<href=\"https://a.example/terms\">terms of the long licence agreement~> or write to "
    "~<href=\"mailto:b@example\">us~> today.";

// Scenes that render their whole layer, to compare the windowed ones with.
class WholeText : public TInfoScene {
 public:
  bool RendersWindowed() override { return false; }
};
class WholeLinks : public TInfoSceneHRefs {
 public:
  using TInfoSceneHRefs::TInfoSceneHRefs;
  bool RendersWindowed() override { return false; }
};

std::string href_of(const rHyperLink* l) { return l != nullptr && l->href != nullptr ? l->href->GetText() : ""; }

class InfoTest : public ctest::FormTest {
 protected:
  InfoTest() {
    saved = gOpenUrl;
    gOpenUrl = [this](const std::string& url) {
      opened.push_back(url);
      return true;
    };
  }
  ~InfoTest() override {
    gOpenUrl = saved;
    for (TObject* s : scenes) TObject::Free(s);
  }
  // A viewer at (left, 0) of the given size, in a panel (as the installer
  // places it) or straight on the form.
  TInfoControl* Make(int left, int w, int h, bool inPanel = true, bool windowed = true) {
    TWinControl* parent = form;
    if (inPanel) {
      auto* panel = new TPanel(form);
      panel->SetBounds(left, 0, w, h);
      panel->SetParent(form);
      parent = panel;
      left = 0;
    }
    TInfoScene* text = windowed ? new TInfoScene : new WholeText;
    TInfoSceneHRefs* links = windowed ? new TInfoSceneHRefs(text) : new WholeLinks(text);
    scenes.push_back(links);
    scenes.push_back(text);
    auto* c = new TInfoControl(form);
    c->SetBounds(left, 0, w, h);
    c->SetParent(parent);
    c->SetScenes(text, links);
    return c;
  }
  // The calling order of the viewer's users.
  void Load(TInfoControl* c, const std::string& markup) {
    c->ClearLayers(true);
    ASSERT_TRUE(c->TextScene()->LoadText(markup, c->Width() - 50, true));
    c->AddDocumentLayers();
    test::Snapshot(form);
  }
  std::vector<rHyperLink*> Records(TInfoControl* c, const std::string& href) {
    std::vector<rHyperLink*> v;
    cComplexText& d = c->TextScene()->Document();
    for (rHyperLink* l = d.FirstLink(); l != nullptr; l = d.NextLink())
      if (href.empty() || href_of(l) == href) v.push_back(l);
    return v;
  }
  std::vector<int> States(TInfoControl* c) {
    std::vector<int> v;
    for (rHyperLink* l : Records(c, "")) v.push_back(l->state);
    return v;
  }
  // A point of the record's hit area in form pixels (the viewer's left
  // added), with the viewer's scroll offsets; (-1, -1) when it has none.
  TPoint PointOf(TInfoControl* c, const rHyperLink* l, int left = 0) {
    const int h = c->TextScene()->GetTextHeight(), w = c->TextScene()->GetTextWidth();
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; x += 2)
        if (l->hit->HitTest(x, y) > 0) return {x + 10 - c->ScrollX() + left, y + 10 - c->ScrollY()};
    return {-1, -1};
  }
  std::function<bool(const std::string&)> saved;
  std::vector<std::string> opened;
  std::vector<TObject*> scenes;
};

TEST_F(InfoTest, LayoutWidthFollowsTheWidthOnly) {
  REQUIRE_FONTS();
  TInfoControl* c = Make(0, 300, 200);
  Load(c, kPage);
  const struct {
    int width;
    int layout;
  } cases[] = {{40, 0}, {50, 0}, {51, 1}, {250, 200}, {300, 250}};
  for (const auto& tc : cases) {
    SCOPED_TRACE(tc.width);
    c->SetBounds(0, 0, tc.width, 200);
    EXPECT_EQ(c->TextScene()->GetLayoutWidth(), tc.layout);
    EXPECT_EQ(c->Layers().First()->height, c->TextScene()->GetTextHeight());
  }
  // At width 0 nothing wraps: one line.
  c->SetBounds(0, 0, 40, 200);
  const int oneLine = c->TextScene()->GetTextHeight();
  c->SetBounds(0, 0, 300, 200);
  EXPECT_GT(c->TextScene()->GetTextHeight(), oneLine);
  // Pages survive a change of height alone, which lays nothing out again.
  ASSERT_TRUE(c->TextScene()->Document().Paginate(100));
  c->SetBounds(0, 0, 300, 120);
  EXPECT_TRUE(c->TextScene()->Document().HasPages());
  c->SetBounds(0, 0, 290, 120);
  EXPECT_FALSE(c->TextScene()->Document().HasPages());
}

TEST_F(InfoTest, PointerScriptsDriveTheLinkStates) {
  REQUIRE_FONTS();
  TInfoControl* c = Make(0, 250, 200);
  Load(c, kPage);
  const auto terms = Records(c, "https://a.example/terms"), us = Records(c, "mailto:b@example");
  ASSERT_GE(terms.size(), 2u);
  ASSERT_FALSE(us.empty());
  const TPoint first = PointOf(c, terms.front()), second = PointOf(c, terms.back()), mail = PointOf(c, us[0]);
  ASSERT_NE(first.Y, second.Y);  // the link wraps
  const TPoint blank{240, 190};

  // A wrapped link lights on both lines, whichever is hovered.
  for (const TPoint& p : {first, second}) {
    test::MouseMove(form, p.X, p.Y);
    for (rHyperLink* l : terms) EXPECT_EQ(l->state, 1);
    EXPECT_EQ(us[0]->state, 0);
    EXPECT_EQ(c->Cursor(), link_cursor());
  }
  // Straight onto the other href: the first stays lit until all are left.
  test::MouseMove(form, mail.X, mail.Y);
  EXPECT_EQ(us[0]->state, 1);
  for (rHyperLink* l : terms) EXPECT_EQ(l->state, 1);
  test::MouseMove(form, blank.X, blank.Y);
  EXPECT_EQ(States(c), std::vector<int>(States(c).size(), 0));
  EXPECT_EQ(c->Cursor(), crArrow);

  // Pressed on a link, released outside every link: nothing opens.
  test::MouseMove(form, first.X, first.Y);
  test::MouseDown(form, first.X, first.Y);
  EXPECT_TRUE(c->Pressed());
  for (rHyperLink* l : terms) EXPECT_EQ(l->state, 2);
  test::MouseMove(form, blank.X, blank.Y);
  test::MouseUp(form, blank.X, blank.Y);
  EXPECT_TRUE(opened.empty());
  EXPECT_FALSE(c->Pressed());
  EXPECT_EQ(States(c), std::vector<int>(States(c).size(), 0));
  EXPECT_EQ(GetCapture(), nullptr);

  // Pressed and released on the link's other line: it opens once.
  test::MouseMove(form, first.X, first.Y);
  test::MouseDown(form, first.X, first.Y);
  test::MouseMove(form, second.X, second.Y);
  test::MouseUp(form, second.X, second.Y);
  EXPECT_EQ(opened, std::vector<std::string>{"https://a.example/terms"});
  EXPECT_FALSE(c->Pressed());
}

TEST_F(InfoTest, OnlyWebAndMailLinksOpenWhereverTheViewerSits) {
  REQUIRE_FONTS();
  const struct {
    const char* href;
    bool opens;
  } hrefs[] = {{"https://a.example/", true},  {"http://a.example/", true},    {"mailto:b@example", true},
               {"file:///etc/passwd", false}, {"javascript:alert(1)", false}, {"-a", false}};
  for (bool inPanel : {true, false}) {
    for (const auto& tc : hrefs) {
      SCOPED_TRACE(std::string(tc.href) + (inPanel ? " in a panel" : " on the form"));
      TInfoControl* c = Make(0, 250, 200, inPanel);
      Load(c, std::string("see ~<href=\"") + tc.href + "\">the link~>");
      const auto links = Records(c, tc.href);
      ASSERT_FALSE(links.empty());
      const TPoint p = PointOf(c, links[0]);
      test::MouseMove(form, p.X, p.Y);
      for (rHyperLink* l : links) EXPECT_EQ(l->state, 1);
      opened.clear();
      test::Click(form, p.X, p.Y);
      EXPECT_EQ(opened, tc.opens ? std::vector<std::string>{tc.href} : std::vector<std::string>{});
      if (!tc.opens) {
        for (rHyperLink* l : links) EXPECT_EQ(l->state, 0);
      }
      c->SetParent(nullptr);
      TObject::Free(c);
    }
  }
}

TEST_F(InfoTest, NothingChangesWhileTheFormIsBehind) {
  REQUIRE_FONTS();
  TInfoControl* c = Make(0, 250, 200);
  Load(c, kPage);
  const auto terms = Records(c, "https://a.example/terms");
  const TPoint p = PointOf(c, terms[0]);
  auto* other = Create<TForm>(Application);
  other->Show();
  test::SetForeground(other);
  test::MouseMove(form, p.X, p.Y);
  test::Click(form, p.X, p.Y);
  bool changed = false;
  EXPECT_EQ(c->LinkAt(1, changed, p.X, p.Y), nullptr);
  EXPECT_FALSE(changed);
  EXPECT_EQ(States(c), std::vector<int>(States(c).size(), 0));
  EXPECT_TRUE(opened.empty());
  test::SetForeground(form);
  EXPECT_EQ(c->LinkAt(1, changed, p.X, p.Y), terms[0]);
  EXPECT_TRUE(changed);
}

TEST_F(InfoTest, LinkAtCorrectsByTheScrollOffsetsAndTheOrigin) {
  REQUIRE_FONTS();
  TInfoControl* c = Make(0, 250, 150);
  std::string page;
  for (int i = 0; i < 30; ++i) page += "line " + std::to_string(i) + "~(p <count=0>)";
  page += "far ~<href=\"https://far.example/\">down~> here";
  Load(c, page);
  c->ScrollBy(7, 100000);
  test::Snapshot(form);
  ASSERT_GT(c->ScrollY(), 0);
  const auto far = Records(c, "https://far.example/");
  ASSERT_FALSE(far.empty());
  const TPoint p = PointOf(c, far[0]);
  ASSERT_GE(p.Y, 0);
  bool changed = false;
  EXPECT_EQ(c->LinkAt(1, changed, p.X, p.Y), far[0]);
  // The same client point without the offsets, or without the origin,
  // misses it.
  const int sx = c->ScrollX(), sy = c->ScrollY();
  c->ScrollBy(-sx, -sy);
  EXPECT_EQ(c->LinkAt(1, changed, p.X, p.Y), nullptr);
  c->ScrollBy(sx, sy);
  EXPECT_EQ(c->LinkAt(1, changed, p.X - 10, p.Y - 10), nullptr);
}

TEST_F(InfoTest, WindowedLayersMatchWholeOnes) {
  REQUIRE_FONTS();
  std::string agreement = "~<alignx=center;b>LICENCE AGREEMENT~>~(p)";
  for (int i = 0; agreement.size() < 9000; ++i)
    agreement +=
        "~<b>Section " + std::to_string(i) +
        "~>~(p <count=0>)~<alignx=justify>The software is licensed, not sold. You may install and use one copy "
        "on a single computer, see ~<href=\"https://a.example/" +
        std::to_string(i) +
        "\">the terms at the maker's page~> or write to ~<href=\"mailto:b@example\">"
        "us~> with questions about the ~<ct=red>licence~>.~>~(p)";
  std::string log;
  for (int i = 0; i < 1000; ++i) log += "Copying file number " + std::to_string(i) + " to the folder~(p <count=0>)";
  form->SetClientSize(1100, 300);
  TInfoControl* windowed = Make(0, 520, 273);
  TInfoControl* whole = Make(560, 520, 273, true, false);
  for (const std::string* text : {&agreement, &log}) {
    Load(windowed, *text);
    Load(whole, *text);
    ASSERT_EQ(windowed->ContentHeight(), whole->ContentHeight());
    const int end = windowed->ContentHeight() - 273;
    ASSERT_GT(end, 2000);
    for (int offset : {0, end / 2, end}) {
      SCOPED_TRACE(offset);
      for (TInfoControl* c : {windowed, whole}) c->ScrollBy(0, offset - c->ScrollY());
      test::Snapshot(form);
      ASSERT_EQ(windowed->ScrollY(), offset);
      const TBitmap &a = windowed->Composite(), &b = whole->Composite();
      bool same = true;
      for (int y = 0; y < 273 && same; ++y) same = std::memcmp(a.ScanLine(y), b.ScanLine(y), 520 * 4) == 0;
      EXPECT_TRUE(same);
      // The windowed scenes' bitmaps are no larger than what shows.
      for (TRenderingScene* s : {static_cast<TRenderingScene*>(windowed->TextScene()),
                                 static_cast<TRenderingScene*>(windowed->LinkScene())}) {
        const TBitmap* bm = static_cast<TRenderingSceneDirect*>(s)->Bitmap();
        ASSERT_NE(bm, nullptr);
        EXPECT_LE(int64_t(bm->Width()) * bm->Height(), 520 * 273);
      }
      int hits = 0;
      for (int y = 0; y < 273; y += 3) {
        for (int x = 0; x < 500; x += 5) {
          bool changed = false;
          const std::string ha = href_of(windowed->LinkAt(1, changed, x, y));
          const std::string hb = href_of(whole->LinkAt(1, changed, x, y));
          EXPECT_EQ(ha, hb) << x << ", " << y;
          hits += !ha.empty();
        }
      }
      if (text == &agreement) {
        EXPECT_GT(hits, 0);
      }
      bool changed = false;
      windowed->ClearLinkStates(changed);
      whole->ClearLinkStates(changed);
    }
  }
}

// Both scenes keep their last picture while the document, its links'
// states and the window stay; each change shows at once, as the viewer
// drawn afresh shows it.
TEST_F(InfoTest, KeptPicturesFollowTheDocumentTheLinksAndTheWindow) {
  REQUIRE_FONTS();
  TInfoControl* c = Make(0, 250, 200);
  std::string page;
  for (int i = 0; i < 6; ++i) page += kPage + "~(p)";
  Load(c, page);
  const auto pixels = [&] {
    c->TextScene()->Invalidate(true, 0, 0);
    c->LinkScene()->Invalidate(true, 0, 0);
    test::Snapshot(form);
    const TBitmap& b = c->Composite();
    return ctest::bytes_of(b);
  };
  const auto fresh = [&] { return ctest::drawn_afresh(pixels); };
  const TPoint link = PointOf(c, Records(c, "https://a.example/terms").front());
  ASSERT_GE(link.X, 0);
  const struct {
    const char* what;
    std::function<void()> change;
  } changes[] = {
      {"a link hovered", [&] { test::MouseMove(form, link.X, link.Y); }},
      {"pressed", [&] { test::MouseDown(form, link.X, link.Y); }},
      {"released away",
       [&] {
         test::MouseMove(form, 240, 190);
         test::MouseUp(form, 240, 190);
       }},
      {"a state set on the document", [&] { Records(c, "mailto:b@example").front()->state = 1; }},
      {"scrolled", [&] { c->ScrollBy(0, 30); }},
      {"text appended", [&] { c->AppendText("~(p)One more line"); }},
      {"laid out wider", [&] { c->SetBounds(0, 0, 300, 200); }},
      {"another text", [&] { Load(c, "Another text, no links."); }},
  };
  for (const auto& ch : changes) {
    SCOPED_TRACE(ch.what);
    const std::vector<uint8_t> before = pixels();
    EXPECT_TRUE(c->TextScene()->StillKept());
    EXPECT_TRUE(c->LinkScene()->StillKept());
    ch.change();
    const std::vector<uint8_t> after = pixels();
    EXPECT_TRUE(after != before);
    EXPECT_TRUE(after == pixels());
    EXPECT_TRUE(after == fresh());
  }
}

TEST_F(InfoTest, AppendingKeepsTheViewAtTheEndOrWhereTheUserIs) {
  REQUIRE_FONTS();
  TInfoControl* c = Make(0, 250, 150);
  std::string log;
  for (int i = 0; i < 40; ++i) log += "Copying file " + std::to_string(i) + "~(p <count=0>)";
  Load(c, log);
  // Nothing loaded at all: nothing to append to.
  TInfoControl* empty = Make(260, 100, 100, false);
  EXPECT_FALSE(empty->AppendText("x"));

  c->ScrollToEnd();
  test::Snapshot(form);
  int height = c->ContentHeight();
  ASSERT_EQ(c->ScrollY(), height - 150);
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(c->AppendText("Copying more " + std::to_string(i) + "~(p <count=0>)"));
  test::Snapshot(form);
  EXPECT_GT(c->ContentHeight(), height);
  EXPECT_EQ(c->ScrollY(), c->ContentHeight() - 150);
  EXPECT_EQ(c->Layers().First()->height, c->TextScene()->GetTextHeight());
  EXPECT_EQ(c->Layers().First()->next->height, c->TextScene()->GetTextHeight());

  c->ScrollBy(0, -60);
  test::Snapshot(form);
  const int user = c->ScrollY();
  height = c->ContentHeight();
  ASSERT_TRUE(c->AppendText("Copying the last~(p <count=0>)"));
  test::Snapshot(form);
  EXPECT_GT(c->ContentHeight(), height);
  EXPECT_EQ(c->ScrollY(), user);
  // Mark-up that does not parse adds nothing.
  height = c->ContentHeight();
  EXPECT_FALSE(c->AppendText("~<b"));
  EXPECT_EQ(c->ContentHeight(), height);
}

TEST_F(InfoTest, ColoursAndTheFrame) {
  TInfoControl* c = Make(0, 200, 100);
  for (bool frame : {false, true}) {
    c->Frame = frame;
    c->Repaint();
    test::Snapshot(form);
    const uint32_t edge = frame ? 0xFF808080u : 0xFFFFFAF0u;
    EXPECT_EQ(ctest::argb_at(c->Composite(), 0, 50), edge);
    EXPECT_EQ(ctest::argb_at(c->Composite(), 199, 50), edge);
    EXPECT_EQ(ctest::argb_at(c->Composite(), 100, 99), edge);
    EXPECT_EQ(ctest::argb_at(c->Composite(), 100, 50), 0xFFFFFAF0u);
  }
  EXPECT_EQ(c->BarColor, 0xFFCC9900u);
}

}  // namespace
