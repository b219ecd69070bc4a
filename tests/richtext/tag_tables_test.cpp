// Tag tables: rows built from the mark-up, generated labels, width and style
// texts, column geometry and pagination.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "qlm_tag_tables.h"
#include "richtext_support.h"

namespace {

struct Table {
  explicit Table(const std::string& markup, double width = 400) {
    qlm_renderer_start();
    font.SetFace("Arial", 0, 16);
    renderer->SetFont(&font);
    ok = doc.SetText(markup) && doc.FormatText(renderer.get(), &font, ALIGN_LEFT, ALIGN_TOP, 0, true) &&
         doc.LayoutText(width);
    for (const rLayoutEntry* e = doc.Entries() ? doc.Entries()->First() : nullptr; e != nullptr; e = e->next)
      if (auto* t = dynamic_cast<cBoxTags*>(e->box.get())) box = t;
  }
  std::vector<std::string> Labels() const {
    std::vector<std::string> labels;
    for (const rTagRow* r = box->mRows.First(); r != nullptr; r = r->next)
      labels.push_back(r->tag_box ? r->tag_box->mText : "");
    return labels;
  }
  double Blank() {
    rRectD b;
    renderer->TextBounds(" ", b);
    return b.x2 - b.x1;
  }
  cFontWinTT font;
  std::unique_ptr<cRenderer> renderer{renderer_create()};
  cComplexText doc;
  cBoxTags* box = nullptr;
  bool ok = false;
};

// The text of a cell's paragraphs, runs joined.
std::string cell_text(const cLayoutEntries* entries) {
  std::string s;
  if (entries == nullptr) return s;
  for (const rLayoutEntry* e = entries->First(); e != nullptr; e = e->next)
    if (const auto* b = dynamic_cast<const cBoxComplex*>(e->box.get()))
      for (const rTextBit* r = b->Runs()->First(); r != nullptr; r = r->next)
        if (r->kind == cnBitText) s += r->AsRun().text;
  return s;
}

TEST(TagTables, NumberedRowsRightAlignedWithATwoBlankGap) {
  QLM_REQUIRE_FONTS();
  Table t("~[tags <tstyle=\"{1}.\">]~{tag}one~{tag}two~{tag}three~]");
  ASSERT_TRUE(t.ok) << t.doc.LastErrorText();
  ASSERT_NE(t.box, nullptr);
  EXPECT_EQ(t.Labels(), (std::vector<std::string>{"1.", "2.", "3."}));
  double widest = 0;
  for (const rTagRow* r = t.box->mRows.First(); r != nullptr; r = r->next) widest = std::max(widest, r->tag_width);
  EXPECT_DOUBLE_EQ(t.box->mWTags, widest);
  EXPECT_DOUBLE_EQ(t.box->mGap, 2 * t.Blank());
  double y = 0;
  std::vector<std::string> texts;
  for (const rTagRow* r = t.box->mRows.First(); r != nullptr; r = r->next) {
    EXPECT_DOUBLE_EQ(r->tag_x + r->tag_width, t.box->mWTags);
    EXPECT_DOUBLE_EQ(r->tag_y, y);
    y += r->row_height;
    texts.push_back(cell_text(r->text_entries.get()));
  }
  EXPECT_EQ(texts, (std::vector<std::string>{"one", "two", "three"}));
  EXPECT_DOUBLE_EQ(t.box->mHeight, y);
  EXPECT_DOUBLE_EQ(t.doc.GetHeight(), y);
}

TEST(TagTables, LettersStayPrintable) {
  QLM_REQUIRE_FONTS();
  struct Case {
    const char* style;
    int rows;
    std::vector<std::string> labels;
  };
  const Case cases[] = {
      {"{z+1}", 6, {"z", "{", "|", "}", "~", "~"}},
      {"{A-20}", 4, {"A", "-", "~", "~"}},
      {"({a})", 3, {"(a)", "(b)", "(c)"}},
      {"{10-2}", 3, {"10", "8", "6"}},
      {"{2147483646+}", 3, {"2147483646", "2147483647", "2147483647"}},
      {"{0-2147483647}", 3, {"0", "-2147483647", "-2147483648"}},
  };
  for (const Case& c : cases) {
    std::string markup = std::string("~[tags <tstyle=\"") + c.style + "\">]";
    for (int i = 0; i < c.rows; ++i) markup += "~{tag}x";
    markup += "~]";
    Table t(markup);
    ASSERT_TRUE(t.ok && t.box != nullptr) << c.style;
    EXPECT_EQ(t.Labels(), c.labels) << c.style;
  }
  // Any counter gives printable bytes.
  for (int64_t counter : {INT64_C(-2147483648), INT64_C(-1), INT64_C(0), INT64_C(31), INT64_C(32), INT64_C(126),
                          INT64_C(127), INT64_C(255), INT64_C(2147483647)})
    for (char c : tag_label(cnTagLetters, counter)) EXPECT_GE(static_cast<unsigned char>(c), 32) << counter;
}

TEST(TagTables, TagColumnWidthsInEveryUnitAndThePitch) {
  QLM_REQUIRE_FONTS();
  struct Case {
    const char* property;
    uint8_t mode;
    double value;
  };
  // clang-format off
  const Case cases[] = {
      {"twidth=\"auto\"", cnTagWidthAuto, -1},    {"twidth=\"20%\"", cnTagWidthPercent, 20},
      {"twidth=\"x 35%\"", cnTagWidthPercent, 35}, {"twidth=50", cnTagWidthPixels, 50},
      {"twidth:pt=12", cnTagWidthPoints, 12},     {"twidth:mm=10", cnTagWidthMillimetres, 10},
      {"twidth:ch=3", cnTagWidthBlanks, 3},       {"twidth=\"%\"", cnTagWidthAuto, -1},
      {"twidth=\"abc\"", cnTagWidthAuto, -1},     {"twidth=\"2%x\"", cnTagWidthAuto, -1},
      {"twidth=\"2.5%\"", cnTagWidthAuto, -1},    {"tpitch=7", cnTagWidthAuto, -1},
  };
  // clang-format on
  for (const Case& c : cases) {
    Table t(std::string("~[tags <") + c.property + ">]~{tag}a~}b~]");
    ASSERT_TRUE(t.ok && t.box != nullptr) << c.property;
    EXPECT_EQ(t.box->mTagWidthMode, c.mode) << c.property;
    EXPECT_EQ(t.box->mTagWidthValue, c.value) << c.property;
  }
  Table pitch("~[tags <tpitch:ch=3>]~{tag}a~}b~]");
  EXPECT_EQ(pitch.box->mPitchMode, cnTagWidthBlanks);
  EXPECT_DOUBLE_EQ(pitch.box->mGap, 3 * pitch.Blank());
  Table mm("~[tags <twidth:mm=10;tstyle=\"{1}\">]~{tag}a~]");
  EXPECT_DOUBLE_EQ(mm.box->mWTags, 96 * 10 / 25.4);
}

TEST(TagTables, ColumnsByPercentAutoAndOverflow) {
  QLM_REQUIRE_FONTS();
  const std::string rows = "~{tag}one~{tag}two~]";
  Table percent("~[tags <twidth=\"20%\";tstyle=\"{1}.\">]" + rows, 400);
  EXPECT_DOUBLE_EQ(percent.box->mWTags, 80);
  Table wide_tag("~[tags <twidth=\"20%\";tstyle=\"a very long label {1}\">]" + rows, 100);
  EXPECT_GT(wide_tag.box->mWTags, 20) << "a wider tag widens the column";
  Table zero("~[tags <twidth=\"20%\";tstyle=\"{1}.\">]" + rows, 0);
  Table autow("~[tags <tstyle=\"{1}.\">]" + rows, 0);
  EXPECT_DOUBLE_EQ(zero.box->mWTags, autow.box->mWTags) << "width 0 falls back to auto";
  // A tag column wider than the box leaves no text column: rows take the tag
  // height only, and nothing is negative.
  Table over("~[tags <twidth=500;tstyle=\"{1}.\">]" + rows, 400);
  EXPECT_EQ(over.box->mWText, 0);
  for (const rTagRow* r = over.box->mRows.First(); r != nullptr; r = r->next) {
    EXPECT_EQ(r->text_height, 0);
    EXPECT_DOUBLE_EQ(r->row_height, r->tag_height);
    EXPECT_GE(r->tag_x, 0);
  }
}

TEST(TagTables, ACellALayoutPassesOverDrawsNothingOfAnEarlierOne) {
  QLM_REQUIRE_FONTS();
  // Wide enough for a text column at 400, none at 50: the text cell's runs
  // and their hyperlink records of the first layout must not be drawn.
  Table t("~[tags <twidth=60;tstyle=\"{1}.\">]~{tag}see ~<href=\"u\">the link~> here~]", 400);
  ASSERT_TRUE(t.ok);
  ASSERT_GT(t.box->mWText, 0);
  ASSERT_TRUE(t.doc.LayoutText(50));
  EXPECT_EQ(t.box->mWText, 0);
  EXPECT_EQ(t.doc.FirstLink(), nullptr);
  const auto* text = dynamic_cast<const cBoxComplex*>(t.box->mRows.First()->text_entries->First()->box.get());
  for (const rTextBit* r = text->Runs()->First(); r != nullptr; r = r->next) {
    EXPECT_FALSE(r->visible);
    if (r->kind == cnBitText || r->kind == cnBitWide || r->kind == cnBitNoBreak) {
      EXPECT_EQ(r->AsRun().link, nullptr);
    }
  }
  auto bitmap = richtest::white_bitmap(120, 40);
  cSurfaceBitmap surface;
  ASSERT_TRUE(surface.Attach(bitmap.get(), true));
  ASSERT_TRUE(t.renderer->AttachSurface(&surface));
  t.renderer->SetFont(&t.font);
  EXPECT_TRUE(t.doc.RenderText(t.renderer.get(), 8, 0, 0, nullptr));
  t.renderer->DetachSurface();
  // Wide again: the cell comes back, links and all.
  ASSERT_TRUE(t.doc.LayoutText(400));
  EXPECT_NE(t.doc.FirstLink(), nullptr);
  std::string shown;
  for (const rTextBit* r = text->Runs()->First(); r != nullptr; r = r->next)
    if (r->visible && r->kind == cnBitText) shown += r->AsRun().text;
  EXPECT_EQ(shown, "seethelinkhere");
}

TEST(TagTables, CellsAndStructures) {
  QLM_REQUIRE_FONTS();
  // A "~}" inside a nested structure of a tag cell does not end the cell.
  Table nested("~[tags]~{tag}~[x]a~}b~]~}text~]");
  ASSERT_TRUE(nested.ok && nested.box != nullptr);
  ASSERT_EQ(nested.box->mRows.Count(), 1u);
  EXPECT_EQ(cell_text(nested.box->mRows.First()->tag_entries.get()), "ab");
  EXPECT_EQ(cell_text(nested.box->mRows.First()->text_entries.get()), "text");
  // Mark-up tags with styles; a structure without rows adds nothing.
  Table markup("~[tags <talign=LEFT>]~{tag}~<b>*~>~}first~{tag}-~}second~]");
  ASSERT_NE(markup.box, nullptr);
  EXPECT_EQ(markup.box->mRows.Count(), 2u);
  EXPECT_EQ(markup.box->mRows.First()->tag_x, 0);
  richtest::Formatting f;
  EXPECT_EQ(f.Walk("x~[tags]y~]z"), "P['x'] P['z']");
  // Tables nest, but not without bound.
  std::string deep;
  for (int i = 0; i < 40; ++i) deep += "~[tags]~{tag}-~}";
  for (int i = 0; i < 40; ++i) deep += "~]";
  Table too_deep(deep);
  EXPECT_FALSE(too_deep.ok);
  EXPECT_NE(too_deep.doc.LastErrorText().find("{tags.depth}"), std::string::npos);
  std::string fine;
  for (int i = 0; i < 5; ++i) fine += "~[tags <tstyle=\"{1}\">]~{tag}level";
  for (int i = 0; i < 5; ++i) fine += "~]";
  Table nested_ok(fine);
  EXPECT_TRUE(nested_ok.ok) << nested_ok.doc.LastErrorText();
}

TEST(TagTables, PaginationKeepsEachRowWhole) {
  QLM_REQUIRE_FONTS();
  std::string markup = "~[tags <tstyle=\"{1}.\">]";
  for (int i = 0; i < 40; ++i) markup += "~{tag}Row text " + std::to_string(i);
  markup += "~]";
  Table t(markup, 300);
  ASSERT_TRUE(t.ok);
  // A page holds two rows and room for a third tag but not its text.
  const double row = t.box->mRows.First()->row_height;
  const double tag = t.box->mRows.First()->tag_height;
  ASSERT_LT(tag, row);
  ASSERT_TRUE(t.doc.Paginate(2 * row + (row + tag) / 2));
  std::set<int32_t> pages;
  int rows = 0;
  for (const rTagRow* r = t.box->mRows.First(); r != nullptr; r = r->next, ++rows) {
    const auto* text = dynamic_cast<const cBoxComplex*>(r->text_entries->First()->box.get());
    ASSERT_NE(text, nullptr);
    ASSERT_NE(text->Pages(), nullptr);
    EXPECT_EQ(text->Pages()->Count(), 1u) << rows;
    EXPECT_EQ(r->tag_box->mPage, text->Pages()->First()->page) << "row " << rows;
    pages.insert(r->tag_box->mPage);
  }
  EXPECT_EQ(rows, 40);
  EXPECT_EQ(int32_t(pages.size()), t.doc.PageCount()) << "no blank page";
  EXPECT_EQ(*pages.rbegin(), t.doc.PageCount());
}

}  // namespace
