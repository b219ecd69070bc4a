// The mark-up walk: from mark-up to the runs of each paragraph, the style
// entries between paragraphs and the spacing boxes, and the property values
// the formatting state ends with.
#include <gtest/gtest.h>

#include "richtext_support.h"

namespace {

struct Case {
  const char* markup;
  const char* walk;
};

TEST(Interpret, MarkupToRunsAndEntries) {
  QLM_REQUIRE_FONTS();
  const Case cases[] = {
      // b scopes across words and paragraphs.
      {"~<b>bold~> plain", "P[{b=1} 'bold' {b=0} _1 'plain']"},
      {"~<b>~>text", "P['text']"},
      {"~<b>Title~(p)Body~>", "P[{b=1} 'Title'] V1 P['Body' {b=0}]"},
      {"~<b>~(p)x~>", "V1 P[{b=1} 'x' {b=0}]"},
      {"a ~<i>~<b>x~>~>", "P['a' _1 {i=1} {b=1} 'x' {b=0} {i=0}]"},
      {"~<i>~<b>~(p)x~>~>", "V1 P[{i=1} {b=1} 'x' {b=0} {i=0}]"},
      {"~<b>x", "P['x']"},  // a scope that nothing closes is not opened
      {"a~>b", "P['ab']"},
      // No-break spaces (0xA0 in the text) at a paragraph's start and inside.
      {"\xA0\xA0x", "P[' x']"},
      {"x\xA0\xA0y", "P['x\\xA0\\xA0y']"},
      {"~(nbsp)~(nbsp <count=2>)x", "P['   x']"},
      // Space and paragraph insertables.
      {"a~(sp <count=3>)", "P['a' _1]"},
      {"a ~(sp2 <count=2>)", "P['a' _5]"},
      {"~(sp3)b", "P[_1 'b']"},
      {"a~(p2)b", "P['a'] V2 P['b']"},
      {"~(p <count=2.5>)", "V1"},
      {"~(p3 <count=2>)", "V6"},
      {"~(p <count=-4>)~(sp <count=100000>)", "V0 P[_1]"},
      {"~(nbsp <count=100000>)", "P[~256]"},
      {"~(unknown)x", "P['x']"},
      // Line breaks, source breaks and tildes.
      {"a~)~)b", "P['a' /2 'b']"},
      {"~)a", "P['a']"},
      {"a\r\nb\tc", "P['a' _1 'bc']"},
      {"~~~(~~~)", "P['~~~~~']"},
      {"~(\"quoted\")", "P['quoted']"},
      // Text metadata between and inside paragraphs.
      {"~{text <alignx=justify>}a", "S{alignx=6} P['a']"},
      {"a~{text <alignx=MIDDLE;b>}b", "P['a' {b=1} 'b']"},
      {"~{text <nothing=1>}", ""},
      {"~{other <b>}x", "P['x']"},
      // Font sizes on a 10-point font.
      {"~{text <fs:pt=10>}", "S{fs=10pt}"},
      {"~<fs:pt=\"+2\">x~>", "P[{fs=12pt} 'x' {fs=10pt}]"},
      {"~<fs=\"-10%\">x~>", "P[{fs=9pt} 'x' {fs=10pt}]"},
      {"~<fs:px=14>x~>", "P[{fs=14px} 'x' {fs=13.3333px}]"},
      {"~<fs=\"+0\">x~>", "P['x']"},
      {"~<fs=\"2\">x~>", "P['x']"},
      {"~<fs=\"+1.5%\">x~>", "P[{fs=10.15pt} 'x' {fs=10pt}]"},
      {"~<fs=\"+%\">x~>", "P['x']"},
      {"~<fs=\"+2x\">x~>", "P['x']"},
      {"~<fs:pt=\"-20\">x~>", "P['x']"},
      {"~<fs=\"-200%\">x~>", "P['x']"},
      {"~<fs=-3>x~>", "P['x']"},
      // Colours, links and the other statuses.
      {"~<ct=dodgerblue;b>x~>", "P[{ct=FF1E90FF*;b=1} 'x' {b=0;ct=FF000000}]"},
      {"~<ct=nosuchcolour>x~>", "P['x']"},
      {"~<ct=[255,0,0]>x~>", "P[{ct=FFFF0000*} 'x' {ct=FF000000}]"},
      {"~<href=\"http://a\">x~>", "P[{href=\"http://a\"} 'x' {href=\"\"}]"},
      {"~<alignx=LEFT;spacing=3>x~>", "P['x']"},
      {"~<u>a~<u=!>b~>~>", "P[{u=1*} 'a' {u=0} 'b' {u=1} {u=0}]"},
      {"~<outln>x~>", "P[{outln=1*} 'x' {outln=0}]"},
      // Variables declared in a text tag; undeclared ones make the
      // property absent; cycles end.
      {"~{text <#big=\"+4\">}~<fs:pt=#big>x~>", "P[{fs=14pt} 'x' {fs=10pt}]"},
      {"~<fs:pt=#nothing;b>x~>", "P[{b=1} 'x' {b=0}]"},
      {"~{text <#a=#b>}~{text <#b=#a>}~<b=#a>x~>", "P['x']"},
      {"~{text <#c=1>}~{text <#c=*>}~<b=#C>x~>", "P[{b=1} 'x' {b=0}]"},
      // A tag structure ends the paragraph; without rows it adds nothing.
      {"a~[tags]x~]b", "P['a'] P['b']"},
      // No tokens at all.
      {"", ""},
  };
  for (const Case& c : cases) {
    richtest::Formatting f;
    EXPECT_EQ(f.Walk(c.markup), c.walk) << c.markup;
  }
}

TEST(Interpret, PageHeadersSetTheDefaultsOfWhatFollows) {
  QLM_REQUIRE_FONTS();
  struct Header {
    const char* markup;
    const char* walk;
    uint8_t align;
    double spacing;
    double points;
  };
  const Header headers[] = {
      {"~{text <ff=\"Arial\";fs:pt=10;alignx=LEFT;spacing=5>} ", "S{ff=\"Arial\";fs=10pt;alignx=1;spacing=5}",
       ALIGN_LEFT, 5, 10},
      {"~{text <ff=\"Arial\";fs:pt=12;alignx=LEFT;spacing=6>} ", "S{ff=\"Arial\";fs=12pt;alignx=1;spacing=6}",
       ALIGN_LEFT, 6, 12},
      {"~{text <ff=\"Arial\";alignx=CENTER;spacing=6;fs:pt=10>} ", "S{ff=\"Arial\";alignx=3;spacing=6;fs=10pt}",
       ALIGN_CENTER, 6, 10},
  };
  for (const Header& h : headers) {
    richtest::Formatting f;
    EXPECT_EQ(f.Walk(h.markup), h.walk) << h.markup;
    EXPECT_EQ(f.doc.mCurrentAlignX, h.align) << h.markup;
    EXPECT_DOUBLE_EQ(f.doc.mCurrentSpacing, h.spacing) << h.markup;
    EXPECT_NEAR(f.font.GetSizePt(), 10, 1e-9) << "the font is restored after formatting";
  }
  // The log's first lines: header, the bold title one point larger.
  richtest::Formatting f;
  EXPECT_EQ(f.Walk("~{text <ff=\"Arial\";fs:pt=12;alignx=LEFT;spacing=6>} ~<b;fs:pt=\"+1\">Wait please, Installing "
                   "Korvane Snaprill 1.31~>~(p) "),
            "S{ff=\"Arial\";fs=12pt;alignx=1;spacing=6} P[{b=1;fs=13pt} 'Wait' _1 'please,' _1 'Installing' _1 "
            "'Korvane' _1 'Snaprill' _1 '1.31' {fs=12pt;b=0}] V1");
}

TEST(Interpret, ScopeAtDefaultRestoresTheRenderersUnderline) {
  QLM_REQUIRE_FONTS();
  richtest::Formatting f;
  cPropertyEntries* opening = nullptr;
  cPropertyEntries* closing = nullptr;
  std::vector<std::unique_ptr<cTextBits>> kept;
  f.doc.mParagraphSink = [&](std::unique_ptr<cTextBits>& bits) { kept.push_back(std::move(bits)); };
  ASSERT_TRUE(f.doc.SetText("~<u>x~>"));
  ASSERT_TRUE(f.doc.FormatText(f.renderer.get(), &f.font, ALIGN_LEFT, ALIGN_TOP, 0, true));
  ASSERT_EQ(kept.size(), 1u);
  opening = kept[0]->First()->Styles();
  closing = kept[0]->Last()->Styles();
  ASSERT_NE(opening, nullptr);
  ASSERT_NE(closing, nullptr);
  // The caller draws with underline on: the scope captures it first and
  // gives it back at its end, not the document's default (off).
  f.renderer->SetUnderline(1, 0);
  f.doc.mRenderer = f.renderer.get();
  f.doc.ApplyStyles(opening);
  EXPECT_EQ(f.renderer->IsUnderline(), 1);
  f.renderer->SetUnderline(0, 0);
  f.doc.ApplyStyles(closing);
  EXPECT_EQ(f.renderer->IsUnderline(), 1);
}

TEST(Interpret, HostileScopesAndErrors) {
  QLM_REQUIRE_FONTS();
  // Many unclosed scopes between paragraphs are handed over when text comes.
  std::string deep;
  for (int i = 0; i < 20000; ++i) deep += "~<b>";
  deep += "x";
  for (int i = 0; i < 20000; ++i) deep += "~>";
  richtest::Formatting f;
  const std::string walk = f.Walk(deep);
  EXPECT_EQ(walk.substr(0, 14), "P[{b=1} {b=1} ");
  // A parse error keeps nothing new; formatting before any text fails.
  cComplexText doc;
  EXPECT_FALSE(doc.FormatText(f.renderer.get(), &f.font, ALIGN_LEFT, ALIGN_TOP, 0, true));
  EXPECT_EQ(doc.LastErrorCode(), 279);
  EXPECT_NE(doc.LastErrorText().find("{not mHasText}"), std::string::npos);
  EXPECT_FALSE(doc.SetText("~<b"));
  EXPECT_FALSE(doc.HasText());
  ASSERT_TRUE(doc.SetText("x"));
  EXPECT_FALSE(doc.FormatText(nullptr, &f.font, ALIGN_LEFT, ALIGN_TOP, 0, true));
  EXPECT_NE(doc.LastErrorText().find("{kvn = NIL}"), std::string::npos);
  EXPECT_FALSE(doc.FormatText(f.renderer.get(), nullptr, ALIGN_LEFT, ALIGN_TOP, 0, true));
  EXPECT_NE(doc.LastErrorText().find("{fonts = NIL}"), std::string::npos);
}

}  // namespace
