// The rich-text document: its stages and their errors, pagination, and
// pictures drawn by the document against pictures drawn with the
// renderer's own text calls at the positions the layout reports.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bitmap_builders.h"
#include "qlm_renderer_hittest.h"
#include "richtext_support.h"

namespace {

using richtest::Page;

bool logged(const cComplexText& doc, const char* text) { return doc.LastErrorText().find(text) != std::string::npos; }

TEST(Document, StagesAndTheirErrors) {
  QLM_REQUIRE_FONTS();
  Page p(100, 50);
  EXPECT_FALSE(p.doc.LayoutText(100));
  EXPECT_TRUE(logged(p.doc, "{not mHasFormat}"));
  ASSERT_TRUE(p.Format("aaa bbb ~<href=\"u\">ccc~>"));
  EXPECT_EQ(p.doc.FirstLink(), nullptr) << "no links before layout";
  EXPECT_FALSE(p.doc.RenderText(p.renderer.get(), 8, 0, 0, nullptr));
  EXPECT_TRUE(logged(p.doc, "{not mHasLayout}"));
  EXPECT_FALSE(p.doc.Paginate(100));
  EXPECT_TRUE(logged(p.doc, "{not mHasLayout}"));
  ASSERT_TRUE(p.doc.LayoutText(40));
  const double height = p.doc.GetHeight();
  // A negative width changes nothing and answers the earlier result.
  EXPECT_TRUE(p.doc.LayoutText(-1));
  EXPECT_TRUE(p.doc.LayoutText(NAN));
  EXPECT_DOUBLE_EQ(p.doc.GetHeight(), height);
  EXPECT_DOUBLE_EQ(p.doc.GetLayoutWidth(), 40);
  // Drawing needs a renderer with a surface.
  EXPECT_FALSE(p.doc.RenderText(p.renderer.get(), 8, 0, 0, nullptr));
  EXPECT_TRUE(logged(p.doc, "{not kvn.DocRendering}"));
  EXPECT_FALSE(p.doc.RenderText(nullptr, 8, 0, 0, nullptr));
  EXPECT_FALSE(p.doc.RenderPage(p.renderer.get(), 1, 0, 0, 8, nullptr));
  EXPECT_TRUE(logged(p.doc, "{not mHasPages}"));
  // Pagination: 0 is refused and an earlier pagination stays.
  ASSERT_TRUE(p.doc.Paginate(20));
  const int32_t pages = p.doc.PageCount();
  EXPECT_GE(pages, 2);
  EXPECT_FALSE(p.doc.Paginate(0));
  EXPECT_TRUE(logged(p.doc, "{height<=0}"));
  EXPECT_EQ(p.doc.PageCount(), pages);
  ASSERT_TRUE(p.Attach());
  EXPECT_TRUE(p.doc.RenderPage(p.renderer.get(), 1, 0, 0, 8, nullptr));
  // A parse error keeps the previous document formatted and drawable.
  EXPECT_FALSE(p.doc.SetText("~<b"));
  EXPECT_TRUE(p.doc.HasLayout());
  EXPECT_TRUE(p.doc.RenderText(p.renderer.get(), 8, 0, 0, nullptr));
  p.renderer->DetachSurface();
  // Laying out again drops the pages.
  ASSERT_TRUE(p.doc.LayoutText(40));
  EXPECT_EQ(p.doc.PageCount(), 0);
}

TEST(Document, TextWithoutTokens) {
  QLM_REQUIRE_FONTS();
  Page p(10, 10);
  ASSERT_TRUE(p.Format(""));
  EXPECT_EQ(p.doc.Entries()->Count(), 0u);
  ASSERT_TRUE(p.doc.LayoutText(250));
  EXPECT_EQ(p.doc.GetHeight(), 0);
  EXPECT_EQ(p.doc.GetWidth(), 250);
  EXPECT_EQ(p.doc.GetLineWidth(), 0);
}

TEST(Document, SingleStyleParagraphsLayOutWithoutForceAscii) {
  QLM_REQUIRE_FONTS();
  Page p(200, 40);
  ASSERT_TRUE(p.Format("~<b;ct=red>Push me~>", false));
  // Leading and trailing switches stand apart; the box lays out and draws.
  int boxes = 0, styles = 0;
  for (const rLayoutEntry* e = p.doc.Entries()->First(); e != nullptr; e = e->next) {
    if (e->Kind() == cnEntryStyle) ++styles;
    if (dynamic_cast<const cBoxParagraph*>(e->box.get()) != nullptr) ++boxes;
  }
  EXPECT_EQ(boxes, 1);
  EXPECT_EQ(styles, 2);
  ASSERT_TRUE(p.doc.LayoutText(0)) << p.doc.LastErrorText();
  EXPECT_GT(p.doc.GetWidth(), 40);
  // Measured bold, as it is drawn.
  Page plain(200, 40);
  ASSERT_TRUE(plain.Format("Push me", false) && plain.doc.LayoutText(0));
  EXPECT_GT(p.doc.GetWidth(), plain.doc.GetWidth());
  ASSERT_TRUE(p.Attach());
  EXPECT_TRUE(p.doc.RenderText(p.renderer.get(), 8, 2, 2, nullptr));
  p.renderer->DetachSurface();
}

// Which pages each line of the document lies on, from the page entries.
std::vector<int32_t> first_pages(const cComplexText& doc) {
  std::vector<int32_t> pages;
  for (const rLayoutEntry* e = doc.Entries()->First(); e != nullptr; e = e->next)
    if (const auto* box = dynamic_cast<const cBoxComplex*>(e->box.get()); box != nullptr && box->Pages() != nullptr)
      for (const rPageEntry* pe = box->Pages()->First(); pe != nullptr; pe = pe->next) pages.push_back(pe->page);
  return pages;
}

TEST(Document, LinesTallerThanThePageLeaveNoEmptyPage) {
  QLM_REQUIRE_FONTS();
  // Landscape A4 with 100 mm margins leaves a text area 10 mm high, about
  // 37.8 pixels at 96 dpi: every line of a 40-point text is taller.
  Page p(10, 10);
  ASSERT_TRUE(p.Format("~<fs:pt=40>one~)two~)three~>"));
  ASSERT_TRUE(p.doc.LayoutText(0));
  ASSERT_TRUE(p.doc.Paginate(10 * 96 / 25.4));
  EXPECT_EQ(p.doc.PageCount(), 3);
  EXPECT_EQ(first_pages(p.doc), (std::vector<int32_t>{1, 2, 3}));
}

TEST(Document, AParagraphSplitAcrossPagesDrawsEachLineOnce) {
  QLM_REQUIRE_FONTS();
  Page p(300, 200);
  std::string text;
  for (int i = 0; i < 12; ++i) text += "line" + std::to_string(i) + "~)";
  ASSERT_TRUE(p.Format(text));
  ASSERT_TRUE(p.doc.LayoutText(0));
  const double line = p.doc.GetHeight() / 12;
  ASSERT_TRUE(p.doc.Paginate(line * 2.5));  // two lines a page
  ASSERT_EQ(p.doc.PageCount(), 6);
  ASSERT_TRUE(p.Attach());
  for (int32_t page = 1; page <= 6; ++page) {
    p.renderer->ClearARGB(0xFFFFFFFFu);
    ASSERT_TRUE(p.doc.RenderPage(p.renderer.get(), page, 0, 0, 8, nullptr));
    // Ink only in the top two line bands.
    int top = 0, below = 0;
    for (int y = 0; y < 200; ++y)
      for (int x = 0; x < 300; ++x) {
        const uint8_t* px = p.bitmap->Data() + int64_t(y) * p.bitmap->Stride() + 4 * x;
        if (px[0] != 255) (y < line * 2 + 4 ? top : below)++;
      }
    EXPECT_GT(top, 0) << page;
    EXPECT_EQ(below, 0) << page;
  }
  p.renderer->DetachSurface();
}

// Draws the document's visible text runs with DrawText at the positions the
// layout reports, applying its b, i, fs and ct switches by hand.
void draw_reference(cComplexText& doc, cRenderer& r, cFontWinTT& font, double x, double y) {
  const auto apply = [&](const cPropertyEntries* list) {
    if (list == nullptr) return;
    for (const rPropertyEntry* e = list->First(); e != nullptr; e = e->next) {
      const cLayoutProperty& p = *e->prop;
      if (p.mId == cnPropBold || p.mId == cnPropItalic) {
        const uint8_t bit = p.mId == cnPropBold ? 1 : 2;
        const bool on = static_cast<const cPropertyStatus&>(p).mValue;
        font.SetStyle(on ? uint8_t(font.GetStyle() | bit) : uint8_t(font.GetStyle() & ~bit));
      } else if (p.mId == cnPropFontSize) {
        const auto& s = static_cast<const cPropertyUnitValue&>(p);
        if (s.mUnit == cnUnitPixels)
          font.SetSize(s.mSize);
        else
          font.SetSizePt(s.mSize);
      } else if (p.mId == cnPropTextColor) {
        r.SetTextColorARGB(static_cast<const cPropertyColor&>(p).mColor);
      }
    }
  };
  for (const rLayoutEntry* e = doc.Entries()->First(); e != nullptr; e = e->next) {
    if (e->Kind() == cnEntryStyle) apply(e->styles.get());
    const auto* box = dynamic_cast<const cBoxComplex*>(e->box.get());
    if (box == nullptr) continue;
    for (const rTextBit* run = box->Runs()->First(); run != nullptr; run = run->next) {
      if (run->kind == cnBitStyle) apply(run->Styles());
      if (!run->visible || run->kind != cnBitText) continue;
      r.SetTextAlign(ALIGN_LEFT, eAlign(run->align_y));
      const rTextRun& t = run->AsRun();
      r.DrawText(t.text, x + box->mX + t.x, y + box->mY + t.y, nullptr);
    }
  }
}

TEST(Document, APageDrawnEqualsTheTextCallsAtTheReportedPositions) {
  QLM_REQUIRE_FONTS();
  const std::string page =
      "~{text <ff=\"Arial\";fs:pt=10;alignx=JUSTIFY;spacing=5>} ~<b;fs:pt=\"+3\">Welcome to the Installer.~>~(p) "
      "This program installs the application on your computer. It is ~<ct=dodgerblue;b>strongly~> recommended "
      "that you close all other programs before you continue.~(p)~{text <alignx=CENTER>}Click ~<i>Next~> to "
      "continue, or ~<ct=red>Cancel~> to leave.~)~{text <alignx=RIGHT>}Version 1.31";
  Page doc(520, 273);
  ASSERT_TRUE(doc.Format(page));
  ASSERT_TRUE(doc.doc.LayoutText(500));
  ASSERT_TRUE(doc.Attach());
  ASSERT_TRUE(doc.doc.RenderText(doc.renderer.get(), 8, 10, 8, nullptr));
  doc.renderer->DetachSurface();
  EXPECT_NEAR(doc.font.GetSizePt(), 12, 1e-9) << "drawing gives the font back";

  Page ref(520, 273);
  ASSERT_TRUE(ref.Attach());
  ref.font.SetSizePt(10);  // the header's size, set by hand
  draw_reference(doc.doc, *ref.renderer, ref.font, 10, 8);
  ref.renderer->DetachSurface();
  // Region by region (bands of 21 rows): the same pixels.
  for (int band = 0; band < 13; ++band) {
    int differ = 0;
    for (int y = band * 21; y < (band + 1) * 21; ++y)
      differ += std::memcmp(doc.bitmap->Data() + int64_t(y) * doc.bitmap->Stride(),
                            ref.bitmap->Data() + int64_t(y) * ref.bitmap->Stride(), 520 * 4) != 0;
    EXPECT_EQ(differ, 0) << "band " << band;
  }
  int inked = 0;
  for (int y = 0; y < 273; ++y) inked += doc.bitmap->Data()[int64_t(y) * doc.bitmap->Stride() + 4 * 100] != 255;
  EXPECT_GT(inked, 0);
}

TEST(Document, SkippingHiddenLinesChangesNoPixel) {
  QLM_REQUIRE_FONTS();
  std::string text = "~{text <alignx=JUSTIFY;spacing=3>}";
  for (int i = 0; i < 40; ++i) text += "Paragraph " + std::to_string(i) + " of words that wrap over lines.~(p)";
  struct View {
    double dy, scale;
    bool clip;
    int32_t origin_y;
  };
  for (const View v :
       {View{0, 1, false, 0}, View{-300, 1, false, 0}, View{-250, 1.5, true, 0}, View{40, 0.5, true, 0},
        View{0, 1, false, 60}, View{-100, 1, true, -60}, View{-600, 1, false, 200}, View{0, 1, false, -200}}) {
    std::unique_ptr<cBitmap> pictures[2];
    for (int cull = 0; cull < 2; ++cull) {
      Page p(200, 120);
      ASSERT_TRUE(p.Format(text));
      ASSERT_TRUE(p.doc.LayoutText(180));
      p.doc.mCullLines = cull == 1;
      if (v.origin_y != 0) p.renderer->SetOrigin(3, v.origin_y);
      ASSERT_TRUE(p.Attach());
      p.renderer->Scale(v.scale, v.scale);
      if (v.clip) p.renderer->ClipRect(20, 30, 150, 90);
      ASSERT_TRUE(p.doc.RenderText(p.renderer.get(), 8, 5, v.dy, nullptr));
      p.renderer->DetachSurface();
      pictures[cull] = std::move(p.bitmap);
    }
    int differ = 0;
    for (int y = 0; y < 120; ++y)
      differ += std::memcmp(pictures[0]->Data() + int64_t(y) * pictures[0]->Stride(),
                            pictures[1]->Data() + int64_t(y) * pictures[1]->Stride(), 200 * 4) != 0;
    EXPECT_EQ(differ, 0) << v.dy << " " << v.scale << " " << v.origin_y;
    int inked = 0;
    for (int y = 0; y < 120; ++y) inked += pictures[1]->Data()[int64_t(y) * pictures[1]->Stride() + 4 * 60] != 255;
    EXPECT_GT(inked, 0) << "something is drawn " << v.dy << " " << v.origin_y;
  }
}

// Drawings of one document at changing offsets start below the document's
// start where nothing above shows: each picture equals the picture of a
// fresh document drawn whole, byte for byte, also after an append and
// after the renderer's starting settings change.
TEST(Document, WindowsAtManyOffsetsEqualTheWholeDrawing) {
  QLM_REQUIRE_FONTS();
  const auto paragraphs = [](int from, int to) {
    std::string text;
    for (int i = from; i < to; ++i) {
      // Headers and scopes that span paragraphs carry the walk's state
      // from one top-level entry to the next.
      if (i % 7 == 3)
        text += "~{text <fs:pt=" + std::to_string(10 + i % 4) + ";spacing=" + std::to_string(i % 3) + ">}";
      if (i % 10 == 0) text += "~<ct=dodgerblue;fs:px=18;b;u>";
      text += "Line " + std::to_string(i) + " starts with words in the state the paragraphs before left. ~<b>Bold~> " +
              "~<ct=red;cb=[255,255,0]>red~> ~<u>under ~<i>it~> ~<s>gone~>~> " +
              "~<fs:px=22;cp=[0,0,255];cf=[0,128,0]>big~> ~<outln>out~> ~<href=\"u\">link~> plain~(p)";
      if (i % 10 == 9) text += "~>";
    }
    return text;
  };
  const std::string text = "~{text <spacing=2>}" + paragraphs(0, 65);
  const std::string more = paragraphs(65, 90);
  Page lasting(200, 120);
  ASSERT_TRUE(lasting.Format(text));
  ASSERT_TRUE(lasting.doc.LayoutText(180));
  struct View {
    double dy;  // -1: the document's end
    bool append;
    uint32_t text_color;
  };
  // Offsets going down, up and down again, an append, and the renderer's
  // starting text colour changed and back.
  std::vector<View> views;
  for (double dy = 0; dy > -5000; dy -= 173) views.push_back({dy, false, 0xFF000000u});
  for (double dy = -4100; dy < 0; dy += 611) views.push_back({dy, false, 0xFF000000u});
  for (const View v : {View{-2900, false, 0xFF000000u}, View{-1, false, 0xFF000000u}, View{-1, true, 0xFF000000u},
                       View{-3300, false, 0xFF000000u}, View{-1, false, 0xFF336699u}, View{-2200, false, 0xFF336699u},
                       View{-1, false, 0xFF000000u}, View{-1700, false, 0xFF000000u}})
    views.push_back(v);
  bool appended = false;
  for (const View& v : views) {
    if (v.append) {
      ASSERT_TRUE(lasting.doc.AppendText(more));
      appended = true;
    }
    const double dy = v.dy == -1 ? 100 - lasting.doc.GetHeight() : v.dy;
    Page whole(200, 120);
    ASSERT_TRUE(whole.Format(text));
    ASSERT_TRUE(whole.doc.LayoutText(180));
    if (appended) {
      ASSERT_TRUE(whole.doc.AppendText(more));
    }
    whole.doc.mCullLines = false;
    std::unique_ptr<cBitmap> pictures[2];
    for (Page* p : {&whole, &lasting}) {
      p->bitmap = richtest::white_bitmap(200, 120);
      ASSERT_TRUE(p->Attach());
      p->renderer->SetTextColorARGB(v.text_color);
      ASSERT_TRUE(p->doc.RenderText(p->renderer.get(), 8, 5, dy, nullptr));
      p->renderer->DetachSurface();
      pictures[p == &lasting] = std::move(p->bitmap);
    }
    int differ = 0, inked = 0;
    for (int y = 0; y < 120; ++y) {
      const uint8_t* row = pictures[1]->Data() + int64_t(y) * pictures[1]->Stride();
      differ += std::memcmp(pictures[0]->Data() + int64_t(y) * pictures[0]->Stride(), row, 200 * 4) != 0;
      for (int x = 0; x < 200; ++x) inked += row[4 * x] != 255;
    }
    EXPECT_EQ(differ, 0) << dy << " " << appended;
    EXPECT_GT(inked, 0) << "something is drawn " << dy;
  }
}

}  // namespace

TEST(Document, PaginationAfterALayoutAtAnotherWidthKeepsOnlyTheNewLineEnds) {
  QLM_REQUIRE_FONTS();
  // Words of several runs (a bold middle): laid out first one word a line,
  // then on one line, their last runs must no longer end lines.
  Page p(300, 200);
  std::string text;
  for (int i = 0; i < 6; ++i) text += "aa~<b>BB~>cc ";
  ASSERT_TRUE(p.Format(text));
  ASSERT_TRUE(p.doc.LayoutText(1));
  const double narrow_height = p.doc.GetHeight();
  ASSERT_TRUE(p.doc.LayoutText(0));
  const double line = p.doc.GetHeight();
  ASSERT_LT(line * 5, narrow_height);  // six lines before, one now
  ASSERT_TRUE(p.doc.Paginate(line * 1.5));
  EXPECT_EQ(p.doc.PageCount(), 1);
  EXPECT_EQ(first_pages(p.doc), (std::vector<int32_t>{1}));
}
