// The layout and the picture of a sample of mark-up documents, as one
// fingerprint per document: every entry's box and every run's kind, flags,
// position and size (exact bits), the link records, the page count and the
// pixels drawn. The expected values were taken from the layout code before
// its records were made smaller (the pixels again when kept glyph coverage
// came to equal the outline painter's byte for byte); a change to how runs
// and entries are held must leave them all as they were.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "qlm_tag_tables.h"
#include "richtext_support.h"

namespace {

double run_x(const rTextBit* r) { return r->AsRun().x; }
double run_y(const rTextBit* r) { return r->AsRun().y; }
double run_width(const rTextBit* r) { return r->AsMeasured().width; }
double run_height(const rTextBit* r) { return r->AsMeasured().height; }
double run_spacing(const rTextBit* r) { return r->AsMeasured().line_spacing; }
bool run_linked(const rTextBit* r) { return r->AsRun().link != nullptr; }

struct Fingerprint {
  std::string text;
  uint64_t hash = 1469598103934665603ull;
  void Add(const std::string& s) {
    text += s;
    for (unsigned char c : s) hash = (hash ^ c) * 1099511628211ull;
  }
  void Number(double v) {
    char b[40];
    std::snprintf(b, sizeof b, "%a ", v);
    Add(b);
  }
};

void print_entries(Fingerprint& f, const cLayoutEntries* entries);

void print_box(Fingerprint& f, const cLayoutBox* box) {
  if (box == nullptr) return f.Add("-");
  f.Add("[");
  f.Number(box->mX), f.Number(box->mY), f.Number(box->mWidth), f.Number(box->mHeight);
  if (const auto* c = dynamic_cast<const cBoxComplex*>(box)) {
    for (const rTextBit* r = c->Runs()->First(); r != nullptr; r = r->next) {
      f.Add(std::to_string(r->kind) + (r->visible ? "v" : "") + (r->line_end ? "e" : "") + ":");
      if (r->kind == cnBitStyle) continue;
      f.Number(run_width(r)), f.Number(run_height(r)), f.Number(run_spacing(r));
      // Runs of spaces and line breaks are never drawn: no place of theirs.
      if (r->kind == cnBitSpaces || r->kind == cnBitBreaks) continue;
      f.Number(run_x(r)), f.Number(run_y(r));
      if (run_linked(r)) f.Add("L");
    }
  } else if (const auto* t = dynamic_cast<const cBoxTags*>(box)) {
    for (const rTagRow* row = t->mRows.First(); row != nullptr; row = row->next) {
      f.Add("{");
      const double text_x = t->mWTags + t->mGap;
      for (double v : {row->tag_x, row->tag_y, text_x, row->tag_y, text_x + row->text_width, row->row_height})
        f.Number(v);
      print_box(f, row->tag_box.get());
      print_entries(f, row->tag_entries.get());
      print_entries(f, row->text_entries.get());
      f.Add("}");
    }
  }
  f.Add("]");
}

void print_entries(Fingerprint& f, const cLayoutEntries* entries) {
  if (entries == nullptr) return f.Add("0");
  for (const rLayoutEntry* e = entries->First(); e != nullptr; e = e->next) {
    f.Add(std::to_string(e->Kind()));
    if (e->Kind() != cnEntryStyle) print_box(f, e->box.get());
  }
}

Fingerprint fingerprint(const std::string& markup, double width) {
  Fingerprint f;
  qlm_renderer_start();
  cFontWinTT font;
  font.SetFace("Arial", 0, 16);
  std::unique_ptr<cRenderer> renderer{renderer_create()};
  renderer->SetFont(&font);
  cComplexText doc;
  if (!doc.SetText(markup) || !doc.FormatText(renderer.get(), &font, ALIGN_LEFT, ALIGN_TOP, 0, true) ||
      !doc.LayoutText(width)) {
    f.Add("failed: " + doc.LastErrorText());
    return f;
  }
  f.Number(doc.GetWidth()), f.Number(doc.GetHeight());
  print_entries(f, doc.Entries());
  int links = 0;
  for (rHyperLink* l = doc.FirstLink(); l != nullptr; l = doc.NextLink()) ++links;
  f.Add(" links " + std::to_string(links));
  auto bitmap = richtest::white_bitmap(240, 160);
  cSurfaceBitmap surface;
  if (surface.Attach(bitmap.get(), true) && renderer->AttachSurface(&surface)) {
    renderer->SetFont(&font);
    renderer->SetTextColorARGB(0xFF000000u);
    doc.RenderText(renderer.get(), 8, 3, 2, nullptr);
    renderer->DetachSurface();
    uint64_t pixels = 1469598103934665603ull;
    for (int32_t y = 0; y < bitmap->Height(); ++y)
      for (int32_t x = 0; x < bitmap->Width(); ++x) pixels = (pixels ^ bitmap->GetPixel(x, y)) * 1099511628211ull;
    f.Add(" pixels " + std::to_string(pixels));
  }
  if (doc.Paginate(40)) f.Add(" pages " + std::to_string(doc.PageCount()));
  return f;
}

}  // namespace

TEST(LayoutFingerprint, SampleDocumentsLayOutAsBefore) {
  QLM_REQUIRE_FONTS();
  struct Case {
    const char* markup;
    double width;
    uint64_t hash;
  } cases[] = {
      {"ab~(p)ab~(p)ab", 470, 0x108b365b52baf93eull},
      {"~[tags]~{tag}-~}row abc ~{tag}-~}row abc ~]", 470, 0xbc8061944511a4b2ull},
      {"~<b>~<i>x~>y~>z", 470, 0x1092dae52e7916a6ull},
      {"Hello ~<fs=24>big~> world, ~<href=\"https://a.example/x\">a linked text~> and\xA0no\xA0"
       "break ~)next "
       "line~(p2)~{text <alignx=JUSTIFY>}justified text that wraps around the width of the box several times",
       150, 0x7b5363cd7ce26d93ull},
      {"~{text <spacing=7>}a b c~)d~(p2)e ~<u>under~<s>struck~>~> \xC4\xE9t\xE9", 90, 0xdb2fc1f3d646fd04ull},
      {"~{text <alignx=CENTER>}centre line one two three~(p)~{text <alignx=RIGHT>}right one two three four", 110,
       0xea646806f12caec1ull},
      {"~[tags <tstyle=\"{1}.\">]~{tag}one two three four five six~{tag}~<b>two~>~{tag}three~(p)more~]", 120,
       0xb664dba1162f17f3ull},
      {"wo~<b>r~>d~<i>s~> in~<fs=30>si~>de  runs~)~)~(p3)end", 60, 0x2dba5c34d5a8a6f0ull},
  };
  for (const Case& c : cases) {
    const Fingerprint f = fingerprint(c.markup, c.width);
    EXPECT_EQ(f.hash, c.hash) << c.markup << "\n" << f.text;
  }
}
