// Renderer fonts: a face name, a size in pixels at 96 dpi, bold and italic,
// the metrics text layout needs, and the glyphs the text engine draws.
//
// `cFontWinTT` is the one implementation: TrueType (and any other scalable)
// outlines through AGG's FreeType font engine, cached per font by AGG's
// font cache manager (both behind a pointer, in qlm_font_engine.h). Face names resolve to font files through the font
// resolver (`qlm_font_resolver.h`): a built-in substitution table, then
// fontconfig. Metrics come from the face's own OS/2 and hhea tables.
//
// Fonts are borrowed by renderers and layouts, which never free them. A font
// is not thread-safe: one font used from two threads needs the owner's lock
// around both uses (its glyph cache changes on every lookup).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include <memory>

#include "qlm_base_object.h"
#include "qlm_font_resolver.h"

extern uint32_t id_cFont;

// Style flags of a font.
constexpr uint8_t cnFontBold = 1;
constexpr uint8_t cnFontItalic = 2;

// The accepted range of pixel sizes; a creation clamps to it.
constexpr double cnFontMinSize = 1;
constexpr double cnFontMaxSize = 65535;

// The glyph source of the text engine (AGG's glyph cache over its FreeType
// engine); declared in qlm_font_engine.h.
class cFontCacheManager;
using tFontCacheManager = cFontCacheManager;
struct rFontEngineParts;

// The five metrics of a font in pixels.
struct rFontMetrics {
  double ascent = 0;
  double descent = 0;
  double line_gap = 0;
  double height = 0;       // ascent + descent
  double line_height = 0;  // height + line gap
};

// The vertical values of a face's tables, in font units.
struct rFontTables {
  uint32_t units_per_em = 0;
  bool has_os2 = false;
  uint32_t win_ascent = 0;   // OS/2 usWinAscent
  uint32_t win_descent = 0;  // OS/2 usWinDescent
  bool has_hhea = false;
  int32_t hhea_ascender = 0;
  int32_t hhea_descender = 0;  // negative below the baseline
  int32_t hhea_line_gap = 0;
};

// The metrics of a face at a whole-pixel em size (ppem), as the system's
// text layout expects them: with s = ppem / unitsPerEm,
//   ascent  = ceil(usWinAscent × s), descent = ceil(usWinDescent × s),
//   line gap = round(max(0, hhea ascender − hhea descender + hhea line gap
//              − (usWinAscent + usWinDescent)) × s)   (the external leading),
// and without an OS/2 table the hhea ascender, −descender and line gap.
// False (metrics zeroed) when the face has neither table.
bool font_metrics_from_tables(const rFontTables& tables, uint32_t ppem, rFontMetrics& metrics);

// ---------------------------------------------------------------------------
// cFont: the font interface and the measured metrics.

class cFont : public cBase {
 public:
  cFont() = default;
  bool Identify(uint32_t id) const override;

  // Name, style and size in one call. The base does nothing.
  virtual void SetFace(std::string_view name, uint8_t style, double size);
  virtual void SetName(std::string_view name) = 0;
  virtual std::string GetName() const = 0;
  // Pixels at the font's resolution; 0 selects DefaultSize, a negative size
  // flips the font. Answers the font.
  virtual cFont* SetSize(double size);
  virtual double GetSize() const = 0;
  // Bit 0 bold, bit 1 italic. The base does nothing.
  virtual void SetStyle(uint8_t flags);
  virtual uint8_t GetStyle() const = 0;
  virtual void SetHinting(bool on);
  virtual bool GetHinting() const { return false; }
  // The glyph source of the text engine; nil without one.
  virtual tFontCacheManager* GetCacheManager() { return nullptr; }
  // The measured fallback: ascent from the bounds of "H", descent from the
  // deepest of "Qgjpqy", line gap = size − ascent − descent (never below 0).
  virtual void UpdateMetrics();

  // SetSize(points × dpi / 72); answers the font.
  cFont* SetSizePt(double points);
  // GetSize × 72 / dpi (0 when the dpi is 0).
  double GetSizePt() const;
  int32_t GetDpiX() const { return mDpiX; }
  int32_t GetDpiY() const { return mDpiY; }
  bool IsFlipped() const { return mFlipped; }
  // 12 points at the vertical dpi (16 pixels at 96 dpi; 16 when the dpi is 0).
  double DefaultSize() const;
  double GetLineHeight() const { return mLineHeight; }
  double GetHeight() const { return mHeight; }
  double GetAscent() const { return mAscent; }
  double GetDescent() const { return mDescent; }
  double GetLineGap() const { return mLineGap; }

  // Per-script faces: the system has none, so these change nothing.
  void SetScriptFace(std::string_view script, std::string_view face);
  void AddScriptFace(std::string_view script, std::string_view face);
  void ClearScriptFaces();

  // The next face, name, size or style call re-creates the font even when
  // nothing changed; every such call clears it.
  bool mRecreate = false;

 protected:
  void SetMetrics(const rFontMetrics& m);

  bool mFlipped = false;
  int32_t mDpiX = 96;
  int32_t mDpiY = 96;
  double mLineHeight = 0;
  double mHeight = 0;
  double mAscent = 0;
  double mDescent = 0;
  double mLineGap = 0;
  uint32_t mCharSet = 1;  // kept for callers; faces are chosen without it
};

// The face of a script in a font set: the system has none, so the face name
// is always left empty.
void font_face_for_script(const cFont* font_set, std::string_view script, std::string& face);

// ---------------------------------------------------------------------------
// cFontWinTT: the font over FreeType outlines.

class cFontWinTT : public cFont {
 public:
  cFontWinTT();
  ~cFontWinTT() override;

  void SetFace(std::string_view name, uint8_t style, double size) override;
  void SetName(std::string_view name) override;
  std::string GetName() const override { return mName; }
  cFont* SetSize(double size) override;
  double GetSize() const override { return mSize; }
  void SetStyle(uint8_t flags) override;
  uint8_t GetStyle() const override { return mStyle; }
  void SetHinting(bool on) override;
  bool GetHinting() const override;
  // Nil until a face has been created: before that the engine has no font
  // signature for the cache to key on.
  tFontCacheManager* GetCacheManager() override;
  // From the face's tables; the measured fallback for a face without them.
  void UpdateMetrics() override;

  // How many fonts were created so far (tests count re-creations).
  uint64_t CreationCount() const { return mCreations; }
  // How many times the glyph cache was emptied because its pool had seen
  // as many signatures as it holds (tests count them).
  uint64_t CachePoolRenewals() const;
  // The file and face index of the font in use ("" before the first one).
  const rFontFace& CurrentFace() const { return mFace; }

 private:
  // Resolves, checks and loads the font; false leaves everything as it was.
  bool Create(std::string_view name, uint8_t style, double size);
  // The stored size with the sign of the flip, as a requested size.
  double SignedSize() const { return mFlipped ? -mSize : mSize; }

  std::unique_ptr<rFontEngineParts> mParts;  // the engine, its glyph cache and a FreeType library
  std::string mName;
  double mSize = 0;
  uint8_t mStyle = 0;
  rFontFace mFace;
  rFontTables mTables;
  uint32_t mPpem = 0;
  uint64_t mCreations = 0;
};
