// Appending mark-up to a document: the result matches the document loaded
// whole (layout, links and pixels), and what cannot be appended changes
// nothing.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "qlm_renderer_hittest.h"
#include "richtext_support.h"

namespace {

struct Doc {
  Doc() {
    qlm_renderer_start();
    font.SetFace("Arial", 0, 16);
    renderer->SetFont(&font);
  }
  bool Load(const std::string& markup, double width) {
    return doc.SetText(markup) && doc.FormatText(renderer.get(), &font, ALIGN_LEFT, ALIGN_BOTTOM, 5, true) &&
           doc.LayoutText(width);
  }
  // The whole document drawn (text and links) on white.
  std::vector<uint8_t> Pixels(int32_t w, int32_t h) {
    auto bitmap = richtest::white_bitmap(w, h);
    cSurfaceBitmap surface;
    EXPECT_TRUE(surface.Attach(bitmap.get(), true) && renderer->AttachSurface(&surface));
    renderer->SetFont(&font);
    EXPECT_TRUE(doc.RenderText(renderer.get(), cnRenderAll, 0, 0, nullptr));
    renderer->DetachSurface();
    const uint8_t* p = bitmap->ScanLine(0);
    return std::vector<uint8_t>(p, p + size_t(w) * h * 4);
  }
  std::vector<std::string> Hrefs() {
    std::vector<std::string> v;
    for (rHyperLink* l = doc.FirstLink(); l != nullptr; l = doc.NextLink()) v.push_back(l->href->GetText());
    return v;
  }
  cFontWinTT font;
  std::unique_ptr<cRenderer> renderer{renderer_create()};
  cComplexText doc;
};

TEST(Append, MatchesTheDocumentLoadedWhole) {
  QLM_REQUIRE_FONTS();
  // The earlier text leaves a colour switched on by text metadata: the
  // appended lines are measured and drawn in the state the document ends in.
  const std::string first = "Copying ~<b>files~> to the folder ~<href=\"https://a.example/x\">see here~>~(p)";
  const std::vector<std::string> tail = {
      "~{text <fs=20>}Unpacking a rather long line that wraps over the width of the page ~(p)",
      "~<i>done~> with ~<href=\"mailto:b@example\">mail~>~(p)", "plain last line"};
  struct Case {
    const char* name;
    bool layoutFirst;
  } cases[] = {{"laid out, then appended", true}, {"appended, then laid out", false}};
  std::string whole = first;
  for (const auto& t : tail) whole += t;
  Doc reference;
  ASSERT_TRUE(reference.Load(whole, 220));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Doc d;
    ASSERT_TRUE(d.doc.SetText(first));
    ASSERT_TRUE(d.doc.FormatText(d.renderer.get(), &d.font, ALIGN_LEFT, ALIGN_BOTTOM, 5, true));
    if (c.layoutFirst) {
      ASSERT_TRUE(d.doc.LayoutText(220));
    }
    for (const auto& t : tail) ASSERT_TRUE(d.doc.AppendText(t));
    if (!c.layoutFirst) {
      ASSERT_TRUE(d.doc.LayoutText(220));
    }
    EXPECT_DOUBLE_EQ(d.doc.GetHeight(), reference.doc.GetHeight());
    EXPECT_DOUBLE_EQ(d.doc.GetWidth(), reference.doc.GetWidth());
    EXPECT_EQ(d.Hrefs(), reference.Hrefs());
    EXPECT_TRUE(d.Pixels(260, 260) == reference.Pixels(260, 260));
    // A relayout of the appended document agrees too.
    ASSERT_TRUE(d.doc.LayoutText(150));
    ASSERT_TRUE(reference.doc.LayoutText(150));
    EXPECT_DOUBLE_EQ(d.doc.GetHeight(), reference.doc.GetHeight());
    EXPECT_EQ(d.Hrefs(), reference.Hrefs());
    ASSERT_TRUE(reference.doc.LayoutText(220));
  }
}

TEST(Append, WhatCannotBeAppendedChangesNothing) {
  QLM_REQUIRE_FONTS();
  Doc d;
  EXPECT_FALSE(d.doc.AppendText("x"));
  EXPECT_NE(d.doc.LastErrorText().find("{not mHasFormat}"), std::string::npos);
  ASSERT_TRUE(d.Load("one ~<href=\"https://a\">link~>", 200));
  ASSERT_TRUE(d.doc.Paginate(100));
  const double height = d.doc.GetHeight();
  EXPECT_FALSE(d.doc.AppendText("~<b"));  // does not parse
  EXPECT_DOUBLE_EQ(d.doc.GetHeight(), height);
  EXPECT_EQ(d.Hrefs(), std::vector<std::string>{"https://a"});
  EXPECT_TRUE(d.doc.HasPages());
  // An appended text drops the pages, which no longer cover the document.
  ASSERT_TRUE(d.doc.AppendText("~(p)two"));
  EXPECT_GT(d.doc.GetHeight(), height);
  EXPECT_FALSE(d.doc.HasPages());
  // Loading a new text forgets what was appended.
  ASSERT_TRUE(d.Load("one", 200));
  EXPECT_TRUE(d.Hrefs().empty());
  Doc single;
  ASSERT_TRUE(single.Load("one", 200));
  EXPECT_DOUBLE_EQ(d.doc.GetHeight(), single.doc.GetHeight());
}

}  // namespace
