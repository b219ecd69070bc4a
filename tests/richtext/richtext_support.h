// Shared by the rich-text tests: a renderer and a font to format with, and
// readable descriptions of runs, properties and layout entries.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <filesystem>
#include <memory>

#include "bitmap_builders.h"
#include "qlm_base_util.h"
#include "qlm_complex_text.h"
#include "qlm_font.h"
#include "qlm_font_resolver.h"
#include "qlm_renderer.h"
#include "qlm_renderer_ids.h"
#include "qlm_renderer_surface.h"

// The tests measure with the Arial substitute (Liberation Sans) and skip
// where it is not installed.
#define QLM_REQUIRE_FONTS()                                                            \
  do {                                                                                 \
    rFontFace probe_;                                                                  \
    if (!font_resolve("Arial", 0, probe_) ||                                           \
        std::filesystem::path(probe_.file).filename() != "LiberationSans-Regular.ttf") \
      GTEST_SKIP() << "fonts-liberation is not installed";                             \
  } while (0)

namespace richtest {

// A created BGRA bitmap, every pixel white.
inline std::unique_ptr<cBitmap> white_bitmap(int32_t w, int32_t h) {
  return testenv::make_bitmap(w, h, 5, [](int32_t, int32_t) { return 0xFFFFFFFFu; });
}

inline std::string describe(const cLayoutProperty& p) {
  static const char* const names[] = {"?", "alignx", "aligny", "spacing", "ff", "fs", "b",  "i",  "s",
                                      "u", "jw",     "flat",   "outln",   "ct", "cb", "cp", "cf", "href"};
  std::string s = p.mId < 18 ? names[p.mId] : "?";
  s += '=';
  if (const auto* v = dynamic_cast<const cPropertyString*>(&p)) {
    s += '"';
    s += v->mText;
    s += '"';
  } else if (const auto* v = dynamic_cast<const cPropertyValue*>(&p)) {
    s += float_to_str(2, cnFmtAutoDecimals, 0, v->mValue);
  } else if (const auto* v = dynamic_cast<const cPropertyUnitValue*>(&p)) {
    s += float_to_str(2, cnFmtAutoDecimals, 0, v->mSize);
    s += v->mUnit == cnUnitPixels ? "px" : "pt";
  } else if (const auto* v = dynamic_cast<const cPropertyStatus*>(&p)) {
    s += v->mValue ? '1' : '0';
  } else if (const auto* v = dynamic_cast<const cPropertyAlign*>(&p)) {
    s += int_to_str(0, 0, v->mValue);
  } else if (const auto* v = dynamic_cast<const cPropertyColor*>(&p)) {
    s += int_to_hex(0, 8, v->mColor);
  }
  return s;
}

inline std::string describe(const cPropertyEntries* list) {
  std::string s = "{";
  if (list != nullptr)
    for (const rPropertyEntry* e = list->First(); e != nullptr; e = e->next) {
      if (s.size() > 1) s += ";";
      s += e->prop ? describe(*e->prop) : "nil";
      if (e->default_flag) s += "*";
    }
  return s + "}";
}

// One run: 'text', W2'text' (wide, unit), _n spaces, ~n no-break spaces,
// /n line breaks, {styles}. Bytes outside ASCII are written as \xNN; wide
// code points as \uNNNN.
inline std::string describe(const rTextBit& b) {
  const auto text = [](const auto& units) {
    std::string s;
    for (auto c : units) {
      const uint32_t u = uint32_t(static_cast<std::make_unsigned_t<decltype(c)>>(c));
      if (u >= 32 && u < 127) {
        s += char(u);
      } else {
        s += u < 256 ? "\\x" : "\\u";
        s += int_to_hex(cnFmtPad, u < 256 ? 2 : 4, u);
      }
    }
    return s;
  };
  std::string s;
  switch (b.kind) {
    case cnBitText: s.append(1, '\'').append(text(b.AsRun().text)).append(1, '\''); break;
    case cnBitWide:
      s.append(1, 'W').append(int_to_str(0, 0, b.unit)).append(1, '\'').append(text(b.AsRun().wide)).append(1, '\'');
      break;
    case cnBitSpaces: s.append(1, '_').append(int_to_str(0, 0, b.count)); break;
    case cnBitNoBreak: s.append(1, '~').append(int_to_str(0, 0, b.count)); break;
    case cnBitBreaks: s.append(1, '/').append(int_to_str(0, 0, b.count)); break;
    case cnBitStyle: s = describe(b.Styles()); break;
    default: s.push_back('?');
  }
  return s;
}

inline std::string describe(const cTextBits& bits) {
  std::string s;
  for (const rTextBit* b = bits.First(); b != nullptr; b = b->next) {
    if (!s.empty()) s += ' ';
    s += describe(*b);
  }
  return s;
}

// A document formatting with the Arial substitute at 10 points on a
// renderer without surface; paragraphs are recorded as they finish.
class Formatting {
 public:
  Formatting() {
    qlm_renderer_start();
    font.SetFace("Arial", 0, 16);
    font.SetSizePt(10);
    renderer->SetFont(&font);
  }
  // Formats the mark-up and describes what the walk handed on, in order:
  // P[runs] for a paragraph, S{...} for a style entry, V<n> for a spacing
  // box. "ERR <code> <text>" when formatting fails.
  std::string Walk(const std::string& markup, eAlign ax = ALIGN_LEFT) {
    std::vector<std::pair<uint32_t, std::string>> paragraphs;
    doc.mParagraphSink = [&](std::unique_ptr<cTextBits>& bits) {
      std::string d = "P[";
      d += describe(*bits);
      d += ']';
      paragraphs.emplace_back(doc.Entries()->Count(), std::move(d));
    };
    if (!doc.SetText(markup)) return std::string("PARSE ").append(doc.LastErrorText());
    if (!doc.FormatText(renderer.get(), &font, ax, ALIGN_TOP, 0, true))
      return std::string("ERR ")
          .append(int_to_str(0, 0, doc.LastErrorCode()))
          .append(1, ' ')
          .append(doc.LastErrorText());
    std::string s;
    size_t next = 0;
    uint32_t index = 0;
    const auto add = [&](const std::string& d) {
      if (!s.empty()) s += ' ';
      s += d;
    };
    const auto flush = [&] {
      while (next < paragraphs.size() && paragraphs[next].first <= index) add(paragraphs[next++].second);
    };
    for (const rLayoutEntry* e = doc.Entries()->First(); e != nullptr; e = e->next) {
      flush();
      ++index;
      std::string d;
      if (e->Kind() == cnEntryStyle)
        d.append(1, 'S').append(describe(e->styles.get()));
      else if (auto* sp = dynamic_cast<const cBoxSpace*>(e->box.get()))
        d.append(1, 'V').append(int_to_str(0, 0, sp->mCount));
      else
        d = "B";
      add(d);
    }
    flush();
    return s;
  }
  cFontWinTT font;
  std::unique_ptr<cRenderer> renderer{renderer_create()};
  cComplexText doc;
};

// A document with the test font, a renderer and a white BGRA bitmap.
struct Page {
  Page(int32_t w, int32_t h) {
    qlm_renderer_start();
    font.SetFace("Arial", 0, 16);
    renderer->SetFont(&font);
    bitmap = white_bitmap(w, h);
  }
  bool Attach() {
    if (!surface.Attach(bitmap.get(), true) || !renderer->AttachSurface(&surface)) return false;
    renderer->SetFont(&font);
    renderer->SetTextColorARGB(0xFF000000u);
    return true;
  }
  bool Format(const std::string& markup, bool force_ascii = true) {
    return doc.SetText(markup) && doc.FormatText(renderer.get(), &font, ALIGN_LEFT, ALIGN_TOP, 0, force_ascii);
  }
  // The pixels that are no longer white (blue channel).
  int64_t Inked() const {
    int64_t n = 0;
    for (int32_t y = 0; y < bitmap->Height(); ++y)
      for (int32_t x = 0; x < bitmap->Width(); ++x) n += bitmap->Data()[int64_t(y) * bitmap->Stride() + 4 * x] != 255;
    return n;
  }
  cFontWinTT font;
  std::unique_ptr<cRenderer> renderer{renderer_create()};
  std::unique_ptr<cBitmap> bitmap;
  cSurfaceBitmap surface;
  cComplexText doc;
};

}  // namespace richtest
