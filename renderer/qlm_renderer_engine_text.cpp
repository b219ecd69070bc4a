// Text: the settings that act on the font (hinting, the font itself) and the
// measuring operations. The setters that only store live with the other
// parameters (qlm_renderer_engine_params.cpp).
#include <algorithm>
#include <cmath>

#include "qlm_renderer_engine.h"
#include "qlm_renderer_text.h"

namespace qlm_text {

rTextPlacement place_text(const rGlyphBox& box, const cFont& font, eAlign align_x, eAlign align_y) {
  rTextPlacement p;
  p.box = box;
  p.width = box.right - box.left;
  const bool flipped = font.IsFlipped();
  p.ascent = flipped ? box.bottom : -box.top;
  if (align_x == ALIGN_RIGHT)
    p.dx = -p.width;
  else if (align_x == ALIGN_CENTER)
    p.dx = -p.width / 2;
  if (align_y == ALIGN_CENTER)
    p.dy = -(font.GetHeight() / 2 - font.GetDescent());
  else if (align_y == ALIGN_TOP)
    p.dy = -p.ascent;
  // Worked out in y-up terms; an ordinary font's glyphs are y-down.
  if (!flipped) p.dy = -p.dy;
  return p;
}

rRectD placed_box(const rTextPlacement& placement, double x, double y, double angle, bool unrotated) {
  const double ox = x + placement.dx;
  const double oy = y + placement.dy;
  rRectD r;
  r.x1 = placement.box.left + ox;
  r.y1 = placement.box.top + oy;
  r.x2 = placement.box.right + ox;
  r.y2 = placement.box.bottom + oy;
  if (unrotated || float_equal(angle, 0)) return r;
  agg::trans_affine turn = agg::trans_affine_translation(-x, -y);
  turn *= agg::trans_affine_rotation(agg::deg2rad(angle));
  turn *= agg::trans_affine_translation(x, y);
  double cx[4] = {r.x1, r.x2, r.x2, r.x1};
  double cy[4] = {r.y1, r.y1, r.y2, r.y2};
  for (int i = 0; i < 4; ++i) turn.transform(&cx[i], &cy[i]);
  r.x1 = *std::min_element(cx, cx + 4);
  r.x2 = *std::max_element(cx, cx + 4);
  r.y1 = *std::min_element(cy, cy + 4);
  r.y2 = *std::max_element(cy, cy + 4);
  return r;
}

tFontCacheManager* text_cache(const TextState& text) {
  if (text.font == nullptr) return nullptr;
  if (text.font->GetHinting() != text.hinting) text.font->SetHinting(text.hinting);
  return text.font->GetCacheManager();
}

}  // namespace qlm_text

using qlm_text::rGlyphStep;

// --- Text parameters that act on the font -------------------------------------

namespace {
// Makes the font again with the hinting given: the font compares its name
// with itself, so the re-creation is forced.
void recreate_with_hinting(cFont* font, bool hinting) {
  font->mRecreate = true;
  font->SetHinting(hinting);
  font->SetName(font->GetName());
}
}  // namespace

void cRendererSurface::SetTextHinting(bool flag) {
  const bool changed = flag != mText.hinting;
  mText.hinting = flag;
  if (changed && mText.font != nullptr) recreate_with_hinting(mText.font, flag);
}

void cRendererSurface::SetFont(cFont* font) {
  if (font == nullptr) return;
  mText.font = font;
  if (font->GetHinting() != mText.hinting) recreate_with_hinting(font, mText.hinting);
}

// --- Measuring ----------------------------------------------------------------

double cRendererSurface::TextWidth(const rTextView& text) {
  tFontCacheManager* cache = qlm_text::text_cache(mText);
  if (cache == nullptr) return 0.0;
  return qlm_text::with_feed(text, [&](auto feed) {
    return qlm_text::walk_glyphs(*cache, feed, mText.kerning, 0.0, 0.0, [](const rGlyphStep&) { return true; }).x;
  });
}

void cRendererSurface::TextBounds(const rTextView& text, rRectD& bounds) {
  bounds = rRectD{};
  tFontCacheManager* cache = qlm_text::text_cache(mText);
  if (cache == nullptr) return;
  const qlm_text::rGlyphBox box =
      qlm_text::with_feed(text, [&](auto feed) { return qlm_text::glyph_box(*cache, feed, mText.kerning); });
  // The width is right + |left|, which is right - left only while the first
  // glyph starts at or left of the origin: a positive left bearing is
  // counted twice. It stays so: the rich-text layout measures its runs and
  // blanks with these widths and breaks its lines by them.
  bounds.x2 = box.right + std::fabs(box.left);
  bounds.y2 = box.bottom + std::fabs(box.top);
}

void cRendererSurface::TextExtents(const rTextView& text, bool unrotated, double x, double y, rRectD& bounds) {
  bounds = rRectD{};
  tFontCacheManager* cache = qlm_text::text_cache(mText);
  if (cache == nullptr) return;
  const qlm_text::rGlyphBox box =
      qlm_text::with_feed(text, [&](auto feed) { return qlm_text::glyph_box(*cache, feed, mText.kerning); });
  if (box.empty) return;  // nothing would be drawn: no place either
  const qlm_text::rTextPlacement placement = qlm_text::place_text(box, *mText.font, mText.align_x, mText.align_y);
  bounds = qlm_text::placed_box(placement, x, y, mText.angle, unrotated);
}
