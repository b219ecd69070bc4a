// The text engine's shared pieces: the code points of a text argument, the
// walk over a text's glyphs, the glyph box and the placement of a text at a
// point. Measuring (TextWidth, TextBounds, TextExtents) is built on them, and
// drawing puts each glyph at the pen positions of the same walk, so a text is
// drawn where it was measured.
//
// Every text operation exists once per string kind; they differ only in the
// feed of code points they read. The feeds are one template over the unit
// type, so each walk is compiled once per unit width and reads the caller's
// units directly, with nothing copied or converted.
#pragma once

#include <cstdint>

#include "qlm_base_util.h"
#include "qlm_font_engine.h"
#include "qlm_renderer_state.h"
#include "qlm_renderer_types.h"

namespace qlm_text {

// The code points of a run of code units, one code point per unit: an 8-bit
// unit is the code point of that byte, a 16-bit unit is not combined with its
// neighbour. A negative 32-bit unit reads as a code above U+FFFF, which has no
// glyph.
template <typename Unit>
struct rUnitFeed {
  const Unit* next = nullptr;
  const Unit* end = nullptr;

  bool Read(uint32_t& code) {
    if (next == end) return false;
    code = uint32_t(*next++);
    return true;
  }
};

// Calls fn with the feed of the text's kind and answers what fn answers.
template <typename Fn>
decltype(auto) with_feed(const rTextView& text, Fn&& fn) {
  const int64_t n = text.data != nullptr && text.length > 0 ? text.length : 0;
  switch (text.unit) {
    case 1: {
      const auto* p = static_cast<const uint8_t*>(text.data);
      return fn(rUnitFeed<uint8_t>{p, p + n});
    }
    case 2: {
      const auto* p = static_cast<const char16_t*>(text.data);
      return fn(rUnitFeed<char16_t>{p, p + n});
    }
    default: {
      const auto* p = static_cast<const int32_t*>(text.data);
      return fn(rUnitFeed<int32_t>{p, p + n});
    }
  }
}

// One glyph of a walk.
struct rGlyphStep {
  const agg::glyph_cache* glyph = nullptr;
  uint32_t code = 0;
  double x = 0;  // the pen after kerning: the glyph's origin
  double y = 0;
  bool first = false;  // the glyph of the text's first character
};

struct rPen {
  double x = 0;
  double y = 0;
};

// Walks the glyphs of a text from the pen (x, y). The cache's last glyph is
// forgotten first, so the text never kerns against a glyph of an earlier
// call. For each character: its glyph (a character without one is skipped:
// it neither advances the pen nor takes part in kerning); with kerning on
// and for every character but the first, the kerning pair of the previous
// glyph and this one moves the pen; visit(step); the pen advances by the
// glyph's advance. visit answers false to end the walk at that glyph.
// Answers the pen after the last advance.
template <typename Feed, typename Visit>
rPen walk_glyphs(tFontCacheManager& cache, Feed feed, bool kerning, double x, double y, Visit&& visit) {
  cache.reset_last_glyph();
  bool first = true;
  uint32_t code = 0;
  while (feed.Read(code)) {
    const agg::glyph_cache* glyph = cache.glyph(code);
    if (glyph != nullptr) {
      if (kerning && !first) cache.add_kerning(&x, &y);
      if (!visit(rGlyphStep{glyph, code, x, y, first})) break;
      x += glyph->advance_x;
      y += glyph->advance_y;
    }
    first = false;
  }
  return rPen{x, y};
}

// The box of a text's glyphs with the pen starting at (0, 0), in the font's
// own y direction (down for an ordinary font, up for a flipped one).
struct rGlyphBox {
  double left = 0;
  double top = 0;
  double right = 0;
  double bottom = 0;
  bool empty = true;  // no character of the text has a glyph
};

// The glyph of the first character sets the box to its integer outline
// bounds (an empty glyph, such as a space, spans its advance); every later
// glyph widens right, top and bottom from its pen position. left stays the
// first glyph's: the box starts at the text's first ink, or at 0 when the
// first character has no glyph.
template <typename Feed>
rGlyphBox glyph_box(tFontCacheManager& cache, Feed feed, bool kerning) {
  rGlyphBox box;
  walk_glyphs(cache, feed, kerning, 0.0, 0.0, [&box](const rGlyphStep& s) {
    const agg::rect_i& b = s.glyph->bounds;
    box.empty = false;
    if (s.first) {
      box.left = b.x1;
      box.top = b.y1;
      box.right = b.x1 == b.x2 ? b.x1 + s.glyph->advance_x : b.x2;
      box.bottom = b.y2;
    } else {
      if (s.x + b.x2 > box.right) box.right = s.x + b.x2;
      if (s.y + b.y1 < box.top) box.top = s.y + b.y1;
      if (s.y + b.y2 > box.bottom) box.bottom = s.y + b.y2;
    }
    return true;
  });
  return box;
}

// Where a text goes relative to its drawing point.
struct rTextPlacement {
  rGlyphBox box;
  double width = 0;   // w = right - left of the glyph box
  double ascent = 0;  // the text's own ascent a: -top (bottom for a flipped font)
  double dx = 0;      // the pen starts at (x + dx, y + dy)
  double dy = 0;
};

// The offsets for the text alignment: horizontally -w (right), -w / 2
// (centre), else 0; vertically the middle of the font's ascent-plus-descent
// band (centre) or the top of the text's own glyphs (top) at the point, else
// the baseline.
rTextPlacement place_text(const rGlyphBox& box, const cFont& font, eAlign align_x, eAlign align_y);

// The box a text placed at (x, y) covers: the glyph box moved by
// (x + dx, y + dy), and unless unrotated or the angle is 0, the bounding box
// of its corners turned by the angle (degrees) about (x, y).
rRectD placed_box(const rTextPlacement& placement, double x, double y, double angle, bool unrotated);

// The glyph cache of the text group's font, or nil without a font or before
// the font has a face. A font whose hinting is not the renderer's is given
// the renderer's first, so measuring and drawing use the same glyphs.
tFontCacheManager* text_cache(const TextState& text);

}  // namespace qlm_text

// Test seam: false makes all text go through the outline painter, so that
// tests can compare the kept glyph coverage with it; true (the default)
// restores it.
void glyph_coverage_enable(bool on);
