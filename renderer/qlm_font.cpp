// cFont and cFontWinTT: fonts over AGG's FreeType engine.
#include "qlm_font_engine.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_TRUETYPE_TABLES_H

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <mutex>
#include <tuple>

#include "qlm_base_util.h"

// ---------------------------------------------------------------------------
// The engine

bool cFontEngine::prepare_glyph(unsigned code) {
  if (code > 0xFFFF) return false;
  if (!agg::font_engine_freetype_int32::prepare_glyph(code)) return false;
  return glyph_index() != 0;
}

namespace {
std::mutex g_seam_lock;  // guards the two seam values
uint32_t g_fail_load_at = 0;
bool g_fail_load_sticky = false;

// Counts one load against the seam; true when this one is to fail.
bool seam_load_fails() {
  std::lock_guard<std::mutex> guard(g_seam_lock);
  if (g_fail_load_at == 0) return false;
  if (g_fail_load_at > 1) {
    --g_fail_load_at;
    return false;
  }
  if (!g_fail_load_sticky) g_fail_load_at = 0;
  return true;
}
}  // namespace

void font_engine_fail_load_at(uint32_t k, bool sticky) {
  std::lock_guard<std::mutex> guard(g_seam_lock);
  g_fail_load_at = k;
  g_fail_load_sticky = sticky;
}

bool cFontCacheManager::Admit() {
  const int stamp = mEngine.change_stamp();
  if (stamp == mSeenStamp) return mAdmitted;
  mSeenStamp = stamp;
  const char* found = mEngine.font_signature();
  const std::string_view signature = found != nullptr ? found : "";
  mAdmitted = std::find(mSignatures.begin(), mSignatures.end(), signature) != mSignatures.end();
  if (!mAdmitted && mSignatures.size() < mMaxFonts) {
    mSignatures.emplace_back(signature);
    mAdmitted = true;
  }
  return mAdmitted;
}

bool cFontEngine::LoadOutlines(const std::string& file, uint32_t index) {
  // A failing load asks for a file under the font file, which cannot exist,
  // so the engine goes through its own failure path.
  const std::string name = seam_load_fails() ? file + "/0" : file;
  return load_font(name.c_str(), index, agg::glyph_ren_outline);
}

// ---------------------------------------------------------------------------
// Metrics from the tables

bool font_metrics_from_tables(const rFontTables& t, uint32_t ppem, rFontMetrics& m) {
  m = rFontMetrics{};
  if (t.units_per_em == 0 || (!t.has_os2 && !t.has_hhea)) return false;
  const double s = double(ppem) / double(t.units_per_em);
  // Products of whole font units and s land exactly on a whole pixel only
  // up to rounding; the small margin keeps such a value from rising by one.
  auto up = [s](double units) { return std::max(0.0, std::ceil(units * s - 1e-9)); };
  if (t.has_os2) {
    m.ascent = up(t.win_ascent);
    m.descent = up(t.win_descent);
    double gap = 0;
    if (t.has_hhea) {
      gap = double(t.hhea_ascender) - double(t.hhea_descender) + double(t.hhea_line_gap) -
            (double(t.win_ascent) + double(t.win_descent));
    }
    m.line_gap = std::nearbyint(std::max(0.0, gap) * s);
  } else {
    m.ascent = up(t.hhea_ascender);
    m.descent = up(-double(t.hhea_descender));
    m.line_gap = std::nearbyint(std::max(0, t.hhea_line_gap) * s);
  }
  m.height = m.ascent + m.descent;
  m.line_height = m.height + m.line_gap;
  return true;
}

namespace {

// Opens the face and reads its vertical tables. False when FreeType cannot
// open it (a missing, unreadable or damaged file).
bool read_face_tables(FT_Library library, const rFontFace& face, rFontTables& t) {
  FT_Face ft = nullptr;
  if (library == nullptr || FT_New_Face(library, face.file.c_str(), FT_Long(face.index), &ft) != 0) return false;
  t = rFontTables{};
  t.units_per_em = ft->units_per_EM;
  if (const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(ft, FT_SFNT_OS2))) {
    t.has_os2 = true;
    t.win_ascent = os2->usWinAscent;
    t.win_descent = os2->usWinDescent;
  }
  if (const auto* hhea = static_cast<const TT_HoriHeader*>(FT_Get_Sfnt_Table(ft, FT_SFNT_HHEA))) {
    t.has_hhea = true;
    t.hhea_ascender = hhea->Ascender;
    t.hhea_descender = hhea->Descender;
    t.hhea_line_gap = hhea->Line_Gap;
  }
  // Fonts without outlines (bitmap strikes) cannot be drawn as vectors.
  const bool scalable = FT_IS_SCALABLE(ft);
  FT_Done_Face(ft);
  return scalable;
}

// The tables of the faces read so far, by file, face index, file size and
// modification time (a file replaced on disk is read again): a face change
// to a face already seen opens no file. One entry per face file; never
// emptied, as the resolver's answers are not.
using tTablesKey = std::tuple<std::string, uint32_t, uintmax_t, std::filesystem::file_time_type>;
std::mutex g_tables_lock;
std::map<tTablesKey, rFontTables> g_tables;

bool face_tables(FT_Library library, const rFontFace& face, rFontTables& t) {
  std::error_code size_error, time_error;
  const uintmax_t size = std::filesystem::file_size(face.file, size_error);
  const auto time = std::filesystem::last_write_time(face.file, time_error);
  if (size_error || time_error) return read_face_tables(library, face, t);
  tTablesKey key(face.file, face.index, size, time);
  {
    std::lock_guard<std::mutex> guard(g_tables_lock);
    const auto it = g_tables.find(key);
    if (it != g_tables.end()) {
      t = it->second;
      return true;
    }
  }
  if (!read_face_tables(library, face, t)) return false;
  std::lock_guard<std::mutex> guard(g_tables_lock);
  g_tables.emplace(std::move(key), t);
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// cFont

bool cFont::Identify(uint32_t id) const { return id == id_cFont || cBase::Identify(id); }

void cFont::SetFace(std::string_view, uint8_t, double) {}
cFont* cFont::SetSize(double) { return this; }
void cFont::SetStyle(uint8_t) {}
void cFont::SetHinting(bool) {}

void cFont::SetMetrics(const rFontMetrics& m) {
  mAscent = m.ascent;
  mDescent = m.descent;
  mLineGap = m.line_gap;
  mHeight = m.height;
  mLineHeight = m.line_height;
}

void cFont::UpdateMetrics() {
  rFontMetrics m;
  if (tFontCacheManager* cache = GetCacheManager()) {
    cache->reset_last_glyph();
    // y grows downwards in an ordinary font's outlines (y1 is the top),
    // upwards in a flipped one.
    if (const agg::glyph_cache* h = cache->glyph('H')) m.ascent = std::abs(mFlipped ? h->bounds.y2 : h->bounds.y1);
    for (char c : std::string_view("Qgjpqy"))
      if (const agg::glyph_cache* g = cache->glyph(static_cast<unsigned char>(c)))
        m.descent = std::max(m.descent, double(std::abs(mFlipped ? g->bounds.y1 : g->bounds.y2)));
    cache->reset_last_glyph();
    m.line_gap = std::max(0.0, GetSize() - m.ascent - m.descent);
    m.height = m.ascent + m.descent;
    m.line_height = m.height + m.line_gap;
  }
  SetMetrics(m);
}

cFont* cFont::SetSizePt(double points) { return SetSize(points * mDpiY / 72); }

double cFont::GetSizePt() const { return mDpiY == 0 ? 0 : GetSize() * 72 / mDpiY; }

double cFont::DefaultSize() const { return mDpiY == 0 ? 16 : mDpiY * 12.0 / 72; }

void cFont::SetScriptFace(std::string_view, std::string_view) {}
void cFont::AddScriptFace(std::string_view, std::string_view) {}
void cFont::ClearScriptFaces() {}

void font_face_for_script(const cFont*, std::string_view, std::string& face) { face.clear(); }

// ---------------------------------------------------------------------------
// cFontWinTT

cFontWinTT::cFontWinTT() : mParts(std::make_unique<rFontEngineParts>()) {
  if (FT_Init_FreeType(&mParts->library) != 0) mParts->library = nullptr;
}

cFontWinTT::~cFontWinTT() {
  if (mParts->library != nullptr) FT_Done_FreeType(mParts->library);
}

bool cFontWinTT::Create(std::string_view name, uint8_t style, double size) {
  // A size from mark-up may be anything: a non-finite one keeps the font,
  // and the rest is clamped before AGG turns it into 26.6 fixed point.
  if (!std::isfinite(size)) return false;
  double h = size;
  if (float_equal(h, 0)) h = DefaultSize();
  const bool flipped = h < 0;
  h = std::clamp(std::fabs(h), cnFontMinSize, cnFontMaxSize);

  rFontFace face;
  rFontTables tables;
  // The face's tables are read (or found kept) before the engine sees it: a
  // failed load in the engine drops its current face, and the font must
  // keep drawing with the previous one.
  if (!font_resolve(name, style, face) || !face_tables(mParts->library, face, tables)) return false;
  if (!mParts->engine.LoadOutlines(face.file, face.index)) {
    // The file went away between the two opens: take the previous face back
    // (the engine usually keeps it open, so this does not read the file
    // again). Should that fail too, the font has no glyph source any more.
    if (!mFace.file.empty() && !mParts->engine.LoadOutlines(mFace.file, mFace.index)) mFace = rFontFace{};
    return false;
  }
  // The engine sets FreeType's pixel size to the whole part of h, as the
  // system's layout expects (17.33 pixels draw as 17).
  mParts->engine.height(h);
  mParts->engine.flip_y(!flipped);
  // A synthetic slant: fontconfig's matrix is y-up; the engine applies its
  // transform after the y flip, so the off-diagonal terms change sign then.
  const double k = flipped ? 1 : -1;
  mParts->engine.transform(agg::trans_affine(face.xx, k * face.yx, k * face.xy, face.yy, 0, 0));

  mName = std::string(name);
  mSize = h;
  mStyle = style;
  mFlipped = flipped;
  mFace = std::move(face);
  mTables = tables;
  mPpem = static_cast<uint32_t>(h);
  ++mCreations;
  UpdateMetrics();
  return true;
}

void cFontWinTT::SetFace(std::string_view name, uint8_t style, double size) {
  if (name.empty()) {
    SetSize(size);
    SetStyle(style);
    return;
  }
  if (mRecreate || name != mName || size != SignedSize() || style != mStyle) Create(name, style, size);
  mRecreate = false;
}

void cFontWinTT::SetName(std::string_view name) {
  if (!name.empty() && (mRecreate || name != mName)) Create(name, mStyle, SignedSize());
  mRecreate = false;
}

cFont* cFontWinTT::SetSize(double size) {
  if (mName.empty()) {
    // Without a face only the value is kept (no default applied).
    if (std::isfinite(size)) {
      mFlipped = size < 0;
      mSize = std::min(std::fabs(size), cnFontMaxSize);
    }
  } else if (mRecreate || size != SignedSize()) {
    Create(mName, mStyle, size);
  }
  mRecreate = false;
  return this;
}

void cFontWinTT::SetStyle(uint8_t flags) {
  if (mName.empty())
    mStyle = flags;
  else if (mRecreate || flags != mStyle)
    Create(mName, flags, SignedSize());
  mRecreate = false;
}

void cFontWinTT::SetHinting(bool on) { mParts->engine.hinting(on); }

bool cFontWinTT::GetHinting() const { return mParts->engine.hinting(); }

tFontCacheManager* cFontWinTT::GetCacheManager() {
  if (mFace.file.empty()) return nullptr;
  mParts->BoundCachePool();
  return &*mParts->cache;
}

uint64_t cFontWinTT::CachePoolRenewals() const { return mParts->renewals; }

void cFontWinTT::UpdateMetrics() {
  rFontMetrics m;
  if (font_metrics_from_tables(mTables, mPpem, m))
    SetMetrics(m);
  else
    cFont::UpdateMetrics();
}
