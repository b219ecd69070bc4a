// The glyph machinery behind cFontWinTT: AGG's FreeType font engine and
// glyph cache with the system's changes. Inside the renderer only.
#pragma once

#include <cstdint>
#include <string>

#include <ft2build.h>
#include FT_FREETYPE_H

#include "agg_font_cache_manager.h"
#include "agg_font_freetype.h"
#include "qlm_font.h"

// AGG's FreeType engine (32-bit outline coordinates, 32 faces kept open)
// with one change: a character the face does not map (glyph 0, ".notdef")
// is a missing glyph, as is any code above U+FFFF. `font_cache_manager` is a
// template over the engine, so this hides the base's `prepare_glyph` rather
// than overriding it.
class cFontEngine : public agg::font_engine_freetype_int32 {
 public:
  cFontEngine() : agg::font_engine_freetype_int32(32) {}
  bool prepare_glyph(unsigned code);
  // Loads a face as outlines. A failed load drops the engine's current face
  // (AGG's behaviour); the test seam below fails it that same way.
  bool LoadOutlines(const std::string& file, uint32_t index);
};

// Test seam: the k-th face load of any font engine from now fails as a file
// that went away would, or every load from the k-th on when sticky (0 turns
// it off).
void font_engine_fail_load_at(uint32_t k, bool sticky = false);

// AGG's glyph cache over that engine. Its cache keys glyphs on the low 16
// bits of the code and is searched before the engine is asked, so a code
// above U+FFFF would come back as the cached BMP character sharing its slot
// ("A" for U+10041): such codes are missing here, before the cache. A
// missing glyph leaves the previous and last glyph (for kerning) as they
// were, as AGG's own lookup does.
class cFontCacheManager : public agg::font_cache_manager<cFontEngine> {
 public:
  cFontCacheManager(cFontEngine& engine, unsigned max_fonts = 32)
      : agg::font_cache_manager<cFontEngine>(engine, max_fonts), mEngine(engine) {}
  const agg::glyph_cache* glyph(unsigned code) {
    return code > 0xFFFF ? nullptr : agg::font_cache_manager<cFontEngine>::glyph(code);
  }
  // The engine's signature of the face, size, hinting and transform in
  // force: glyphs of equal signatures have equal outlines.
  const char* Signature() const { return mEngine.font_signature(); }

 private:
  const cFontEngine& mEngine;
};


// What a cFontWinTT keeps behind its pointer: the engine, the glyph cache
// over it, and a FreeType library that opens faces for their tables.
struct rFontEngineParts {
  cFontEngine engine;
  tFontCacheManager cache{engine, 32};
  FT_Library library = nullptr;
};
