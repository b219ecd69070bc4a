// The glyph machinery behind cFontWinTT: AGG's FreeType font engine and
// glyph cache with the system's changes. Inside the renderer only.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

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

// How many signatures (face, size, hinting, transform) the font cache pool
// of one font holds. Past that AGG's pool drops its oldest font with an
// overlapping memcpy (undefined behaviour), so it is never let past it.
constexpr unsigned cnFontCachePoolFonts = 32;

// AGG's glyph cache over that engine. Its cache keys glyphs on the low 16
// bits of the code and is searched before the engine is asked, so a code
// above U+FFFF would come back as the cached BMP character sharing its slot
// ("A" for U+10041): such codes are missing here, before the cache. A
// missing glyph leaves the previous and last glyph (for kerning) as they
// were, as AGG's own lookup does.
//
// The signatures the pool may hold are counted here: a glyph lookup under a
// signature beyond the pool's capacity would make AGG drop its oldest font
// through an overlapping memcpy, so it answers a missing glyph instead. The
// font replaces a full manager by an empty one before handing it out
// (`Full`), so that answer is a last guard only.
class cFontCacheManager : public agg::font_cache_manager<cFontEngine> {
 public:
  cFontCacheManager(cFontEngine& engine, unsigned max_fonts = cnFontCachePoolFonts)
      : agg::font_cache_manager<cFontEngine>(engine, max_fonts), mEngine(engine), mMaxFonts(max_fonts) {}
  const agg::glyph_cache* glyph(unsigned code) {
    return code > 0xFFFF || !Admit() ? nullptr : agg::font_cache_manager<cFontEngine>::glyph(code);
  }
  // The engine's signature of the face, size, hinting and transform in
  // force: glyphs of equal signatures have equal outlines.
  const char* Signature() const { return mEngine.font_signature(); }
  // True when the signature in force is new and the pool holds as many as
  // it can: this manager cannot look glyphs up any more.
  bool Full() { return !Admit(); }

 private:
  // Counts the signature in force against the capacity; false when it is
  // new and there is no room for it.
  bool Admit();

  const cFontEngine& mEngine;
  unsigned mMaxFonts;
  std::vector<std::string> mSignatures;  // every signature admitted
  int mSeenStamp = -1;                   // the engine's change stamp last looked at
  bool mAdmitted = false;                // whether that stamp's signature was admitted
};

// What a cFontWinTT keeps behind its pointer: the engine, the glyph cache
// over it, and a FreeType library that opens faces for their tables.
struct rFontEngineParts {
  rFontEngineParts() { cache.emplace(engine, cnFontCachePoolFonts); }
  // Replaces a full cache manager by an empty one, in place (its address
  // stays); its glyphs go with it, as an evicted font's would.
  void BoundCachePool() {
    if (!cache->Full()) return;
    cache.emplace(engine, cnFontCachePoolFonts);
    ++renewals;
  }

  cFontEngine engine;
  std::optional<tFontCacheManager> cache;
  uint64_t renewals = 0;  // cache managers replaced so far
  FT_Library library = nullptr;
};
