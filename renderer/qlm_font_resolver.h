// The font resolver: a face name and style flags to a font file.
//
// The names the system uses are Windows face names. A built-in table maps
// them to installed free families with the same advance widths where those
// exist ("Arial" to "Liberation Sans"), then fontconfig picks the file
// (family, weight 700 or 400, italic or roman, scalable only). Answers are
// kept per name and style, under a mutex, so a name costs one fontconfig
// match; at most cnFontResolverCacheEntries of them (mark-up may name any
// number of faces): a full cache is emptied before the next answer is kept.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// What a name and style resolve to.
struct rFontFace {
  std::string file;    // host path of the font file
  uint32_t index = 0;  // face index inside the file
  // fontconfig's matrix for a synthetic slant (a family without an italic
  // face); identity otherwise. In FreeType's y-up space.
  double xx = 1, xy = 0, yx = 0, yy = 1;
  bool HasMatrix() const { return xx != 1 || xy != 0 || yx != 0 || yy != 1; }
};

// The family a Windows face name stands for ("Arial" → "Liberation Sans");
// a name the table does not hold is answered unchanged. Case is ignored.
std::string font_substitute_family(std::string_view name);

// The file for the name and style (bit 0 bold, bit 1 italic). False when
// nothing matches (an empty name, fontconfig without fonts). Thread-safe.
bool font_resolve(std::string_view name, uint8_t style, rFontFace& face);

// The most answers the cache keeps.
constexpr size_t cnFontResolverCacheEntries = 256;

// How many resolutions did not come from the cache so far.
uint64_t font_resolver_runs();
// How many answers the cache holds now.
size_t font_resolver_cache_size();
// Forgets every kept answer.
void font_resolver_clear_cache();

// Test seam: a resolver that replaces fontconfig (nil restores it). Setting
// it clears the cache.
using tFontResolverHook = bool (*)(std::string_view family, uint8_t style, rFontFace& face);
void font_resolver_set_hook(tFontResolverHook hook);

// Module start: fontconfig's initialisation (once per process) and the stop
// hook that clears the cache. Idempotent; call it after framework_start.
void qlm_font_start();
void qlm_font_stop();
