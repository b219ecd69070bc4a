// Layout boxes: line breaking, alignment, placement, hyperlink records,
// drawing by flags and pagination, over the Arial substitute at 16 pixels.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "bitmap_builders.h"
#include "qlm_renderer_hittest.h"
#include "richtext_support.h"

namespace {

// A document formatted and laid out with the test font; lines are read back
// from the runs' line-end marks.
struct Laid {
  explicit Laid(const std::string& markup, double width, bool force_ascii = true) {
    qlm_renderer_start();
    font.SetFace("Arial", 0, 16);
    renderer->SetFont(&font);
    ok = doc.SetText(markup) && doc.FormatText(renderer.get(), &font, ALIGN_LEFT, ALIGN_TOP, 0, force_ascii) &&
         doc.LayoutText(width);
  }
  // Visible text runs per line.
  std::vector<std::vector<const rTextRun*>> Lines() const {
    std::vector<std::vector<const rTextRun*>> lines;
    for (const rLayoutEntry* e = doc.Entries()->First(); e != nullptr; e = e->next) {
      const auto* box = dynamic_cast<const cBoxComplex*>(e->box.get());
      if (box == nullptr) continue;
      std::vector<const rTextRun*> line;
      for (const rTextBit* r = box->Runs()->First(); r != nullptr; r = r->next) {
        if (r->visible && (r->kind == cnBitText || r->kind == cnBitWide)) line.push_back(&r->AsRun());
        if (r->line_end) {
          lines.push_back(line);
          line.clear();
        }
      }
      if (!line.empty()) lines.push_back(line);
    }
    return lines;
  }
  // "word word|word": the lines' words.
  std::string Words() const {
    std::string s;
    for (const auto& line : Lines()) {
      if (!s.empty()) s += '|';
      for (size_t i = 0; i < line.size(); ++i) {
        if (i > 0) s += ' ';
        s += line[i]->text;
      }
    }
    return s;
  }
  cFontWinTT font;
  std::unique_ptr<cRenderer> renderer{renderer_create()};
  cComplexText doc;
  bool ok = false;
};

double right_of(const rTextRun* r) { return r->x + r->width; }

TEST(Layout, LineBreakingTable) {
  QLM_REQUIRE_FONTS();
  struct Case {
    const char* markup;
    double width;
    const char* words;
  };
  const Case cases[] = {
      {"aaa bbb ccc~)ddd", 0, "aaa bbb ccc|ddd"},        // width 0: breaks only at line breaks
      {"abcdefghijklmnop q", 10, "abcdefghijklmnop|q"},  // a word wider than the width
      {"aaa bbb ccc ddd", 70, "aaa bbb|ccc ddd"},
      {"a~)~)b", 0, "a|b"},               // two breaks, one break
      {"x\xA0y z", 0, "x\xA0y z"},        // a no-break space joins a word
      {"~<b>ab~>cd ef", 28, "ab cd|ef"},  // a word of two runs stays together
      {"", 100, ""},
  };
  for (const Case& c : cases) {
    Laid l(c.markup, c.width);
    ASSERT_TRUE(l.ok) << c.markup << " " << l.doc.LastErrorText();
    EXPECT_EQ(l.Words(), c.words) << c.markup;
  }
}

TEST(Layout, AlignmentsAndTheHiddenSpaceAtABreak) {
  QLM_REQUIRE_FONTS();
  const double width = 120;
  const std::string text = "aaa bbb ccc ddd eee fff ggg hhh iii jjj";
  {
    Laid l("~{text <alignx=RIGHT>}" + text, width);
    ASSERT_TRUE(l.ok);
    for (const auto& line : l.Lines()) EXPECT_NEAR(right_of(line.back()), width, 1e-9) << line.back()->text;
  }
  {
    Laid l("~{text <alignx=CENTER>}" + text, width);
    for (const auto& line : l.Lines())
      EXPECT_NEAR(line.front()->x, width - right_of(line.back()), 1e-9) << line.front()->text;
  }
  // JUSTIFY: every line but the last and one ended by a line break reaches
  // the width; WIDTH stretches every line, the last too.
  {
    Laid l("~{text <alignx=JUSTIFY>}" + text + "~)kkk lll", width);
    const auto lines = l.Lines();
    ASSERT_GE(lines.size(), 4u);
    for (size_t i = 0; i + 2 < lines.size(); ++i) EXPECT_NEAR(right_of(lines[i].back()), width, 1e-9) << i;
    const auto& broken = lines[lines.size() - 2];
    EXPECT_LT(right_of(broken.back()), width - 1) << "ended by a line break";
    EXPECT_LT(right_of(lines.back().back()), width - 1) << "the last line";
    EXPECT_EQ(lines.back().front()->x, 0);
  }
  {
    Laid l("~{text <alignx=WIDTH>}" + text, width);
    for (const auto& line : l.Lines()) EXPECT_NEAR(right_of(line.back()), width, 1e-9);
  }
  {
    Laid l("~{text <alignx=WIDTH>}single", width);
    ASSERT_EQ(l.Lines().size(), 1u);
    EXPECT_EQ(l.Lines()[0][0]->x, 0) << "one word gets no gap";
  }
}

TEST(Layout, PlacementHeightsAndWidths) {
  QLM_REQUIRE_FONTS();
  Laid zero("aaa bbb~)c", 0);
  ASSERT_TRUE(zero.ok);
  const auto lines = zero.Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_DOUBLE_EQ(zero.doc.GetWidth(), right_of(lines[0].back())) << "without wrapping the widest line";
  EXPECT_GT(lines[1][0]->y, lines[0][0]->y);
  const auto tallest = [](const std::vector<const rTextRun*>& line) {
    double h = 0;
    for (const rTextRun* r : line) h = std::max(h, r->height);
    return h;
  };
  EXPECT_DOUBLE_EQ(lines[1][0]->y - lines[0][0]->y, tallest(lines[0]));
  EXPECT_DOUBLE_EQ(zero.doc.GetHeight(), tallest(lines[0]) + tallest(lines[1]));
  // Spacing is added below every line; a spacing box takes the font height.
  Laid spaced("~{text <spacing=10>}a~)b~(p2)c", 0);
  const auto sl = spaced.Lines();
  ASSERT_EQ(sl.size(), 3u);
  EXPECT_DOUBLE_EQ(sl[1][0]->y - sl[0][0]->y, sl[0][0]->height + 10);
  std::vector<const cLayoutBox*> boxes;
  for (const rLayoutEntry* e = spaced.doc.Entries()->First(); e != nullptr; e = e->next) boxes.push_back(e->box.get());
  ASSERT_EQ(boxes.size(), 4u);  // style, paragraph, spacing, paragraph
  EXPECT_DOUBLE_EQ(boxes[2]->mY, boxes[1]->mHeight);
  EXPECT_DOUBLE_EQ(boxes[2]->mHeight, 2 * spaced.font.GetHeight());
  EXPECT_DOUBLE_EQ(boxes[3]->mY, boxes[2]->mY + boxes[2]->mHeight);
}

TEST(Layout, OneHyperlinkRecordPerRunRebuiltByEveryLayout) {
  QLM_REQUIRE_FONTS();
  Laid l("x ~<href=\"u\">a~<b>b~> c~> y", 0);
  ASSERT_TRUE(l.ok);
  const auto count = [&] {
    int n = 0;
    for (rHyperLink* k = l.doc.FirstLink(); k != nullptr; k = l.doc.NextLink()) {
      EXPECT_EQ(k->href->GetText(), "u");
      ++n;
    }
    return n;
  };
  EXPECT_EQ(count(), 4);  // a, b, the space, c
  ASSERT_TRUE(l.doc.LayoutText(0));
  EXPECT_EQ(count(), 4);
  ASSERT_TRUE(l.doc.SetText("z"));
  EXPECT_EQ(l.doc.FirstLink(), nullptr);
}

// Pixels differing from white in the rectangle.
int ink(const cBitmap& b, int x1, int y1, int x2, int y2) {
  int n = 0;
  for (int y = std::max(y1, 0); y < std::min(y2, b.Height()); ++y)
    for (int x = std::max(x1, 0); x < std::min(x2, b.Width()); ++x) {
      const uint8_t* p = b.Data() + int64_t(y) * b.Stride() + 4 * x;
      if (p[0] != 255 || p[1] != 255 || p[2] != 255) ++n;
    }
  return n;
}

TEST(Layout, FlagsDrawPlainRunsLinkRunsOrBoth) {
  QLM_REQUIRE_FONTS();
  Laid l("plain ~<href=\"u\">link~>", 0);
  ASSERT_TRUE(l.ok);
  const auto lines = l.Lines();
  ASSERT_EQ(lines.size(), 1u);
  const rTextRun* plain = lines[0][0];
  const rTextRun* link = lines[0][1];
  struct Flag {
    uint8_t flags;
    bool plain, link;
  };
  for (const Flag f : {Flag{2, true, false}, Flag{4, false, true}, Flag{8, true, true}}) {
    auto bitmap = richtest::white_bitmap(200, 40);
    cSurfaceBitmap surface;
    ASSERT_TRUE(surface.Attach(bitmap.get(), true));
    ASSERT_TRUE(l.renderer->AttachSurface(&surface));
    l.renderer->SetFont(&l.font);
    l.renderer->SetTextColorARGB(0xFF000000u);
    ASSERT_TRUE(l.doc.RenderText(l.renderer.get(), f.flags, 10, 10, nullptr));
    l.renderer->DetachSurface();
    const int px = int(10 + plain->x), lx = int(10 + link->x);
    EXPECT_EQ(ink(*bitmap, px, 10, int(px + plain->width), 30) > 0, f.plain) << int(f.flags);
    EXPECT_EQ(ink(*bitmap, lx, 10, int(lx + link->width), 30) > 0, f.link) << int(f.flags);
    // The link's hit test holds its rectangle after drawing with 4 or 8.
    rHyperLink* rec = l.doc.FirstLink();
    ASSERT_NE(rec, nullptr);
    EXPECT_EQ(rec->hit->HitTest(lx + link->width / 2, 10 + link->height / 2) != 0, f.link) << int(f.flags);
  }
}

}  // namespace
