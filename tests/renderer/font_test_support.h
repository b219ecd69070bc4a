// Font test helpers: the installed fonts the tests expect, a resolver hook
// that hands out a chosen file, and a tiny TrueType font built in memory
// whose glyphs and tables the tests choose.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "qlm_font_engine.h"
#include "qlm_font_resolver.h"
#include "test_files.h"

namespace testenv {

// The file part of a path.
inline std::string base_name(const std::string& path) { return std::filesystem::path(path).filename().string(); }

// Skips the test when a font file of the substitution table is missing.
#define QLM_REQUIRE_FONTS()                                                                                     \
  do {                                                                                                          \
    rFontFace probe_;                                                                                           \
    if (!font_resolve("Arial", 0, probe_) || testenv::base_name(probe_.file) != "LiberationSans-Regular.ttf" || \
        !font_resolve("Verdana", 0, probe_) || testenv::base_name(probe_.file) != "DejaVuSans.ttf")             \
      GTEST_SKIP() << "fonts-liberation and fonts-dejavu-core are not installed";                               \
  } while (0)

// A resolver hook answering one file for every name.
inline std::string& hooked_file() {
  static std::string file;
  return file;
}
inline bool hook_to_file(std::string_view, uint8_t, rFontFace& face) {
  face = rFontFace{};
  face.file = hooked_file();
  return true;
}

// Installs the hook for the life of the object, restoring fontconfig after.
struct ResolverHookScope {
  explicit ResolverHookScope(const std::string& file) {
    hooked_file() = file;
    font_resolver_set_hook(&hook_to_file);
  }
  ~ResolverHookScope() { font_resolver_set_hook(nullptr); }
};

// A TrueType font of three glyphs: .notdef (empty), "H" and "g", each a
// rectangle from x 0 to 512 units between the given bottom and top. 1024
// units per em, so at 16 pixels a unit is 1/64 pixel. The OS/2 table is
// optional; the hhea values are the caller's.
struct TinyFont {
  int16_t h_bottom = 0, h_top = 704;     // "H": 0 to 11 pixels at 16 px
  int16_t g_bottom = -192, g_top = 320;  // "g": -3 to 5 pixels at 16 px
  int16_t hhea_ascender = 900, hhea_descender = -200, hhea_line_gap = 100;
  bool with_os2 = true;
  uint16_t win_ascent = 1000, win_descent = 300;

  std::string Build() const {
    std::vector<std::pair<std::string, std::string>> tables;
    // glyf and loca (long offsets)
    std::string glyf, loca;
    auto rect = [](int16_t bottom, int16_t top) {
      std::string g;
      be16(g, 1);  // contours
      be16(g, 0);
      be16(g, uint16_t(bottom));
      be16(g, 512);
      be16(g, uint16_t(top));
      be16(g, 3);                                  // end point of the contour
      be16(g, 0);                                  // no instructions
      for (int i = 0; i < 4; ++i) g.push_back(1);  // on-curve, 16-bit deltas
      for (int16_t dx : {0, 0, 512, 0}) be16(g, uint16_t(dx));
      int16_t height = int16_t(top - bottom);
      for (int16_t dy : {bottom, height, int16_t(0), int16_t(-height)}) be16(g, uint16_t(dy));
      while (g.size() % 4) g.push_back(0);
      return g;
    };
    be32(loca, 0);
    be32(loca, 0);  // .notdef: no outline
    glyf += rect(h_bottom, h_top);
    be32(loca, uint32_t(glyf.size()));
    glyf += rect(g_bottom, g_top);
    be32(loca, uint32_t(glyf.size()));

    std::string head;
    // clang-format off
    be32(head, 0x00010000); be32(head, 0x00010000); be32(head, 0); be32(head, 0x5F0F3CF5);
    be16(head, 0); be16(head, 1024);
    for (int i = 0; i < 4; ++i) be32(head, 0);  // created, modified
    be16(head, 0); be16(head, uint16_t(std::min(h_bottom, g_bottom))); be16(head, 512);
    be16(head, uint16_t(std::max(h_top, g_top)));
    be16(head, 0); be16(head, 8); be16(head, 2); be16(head, 1); be16(head, 0);

    std::string hhea;
    be32(hhea, 0x00010000);
    be16(hhea, uint16_t(hhea_ascender)); be16(hhea, uint16_t(hhea_descender)); be16(hhea, uint16_t(hhea_line_gap));
    be16(hhea, 600); be16(hhea, 0); be16(hhea, 88); be16(hhea, 512);
    be16(hhea, 1); be16(hhea, 0); be16(hhea, 0);
    for (int i = 0; i < 5; ++i) be16(hhea, 0);  // reserved, metric data format
    be16(hhea, 3);

    std::string hmtx;
    for (int i = 0; i < 3; ++i) { be16(hmtx, 600); be16(hmtx, 0); }

    std::string maxp;
    be32(maxp, 0x00010000); be16(maxp, 3); be16(maxp, 4); be16(maxp, 1);
    be16(maxp, 0); be16(maxp, 0); be16(maxp, 2);
    for (int i = 0; i < 7; ++i) be16(maxp, 0);

    // cmap: one format 4 subtable (Windows, Unicode BMP) mapping "H" and "g".
    std::string cmap;
    be16(cmap, 0); be16(cmap, 1); be16(cmap, 3); be16(cmap, 1); be32(cmap, 12);
    const uint16_t ends[] = {'H', 'g', 0xFFFF}, starts[] = {'H', 'g', 0xFFFF};
    const uint16_t deltas[] = {uint16_t(1 - 'H'), uint16_t(2 - 'g'), 1};
    std::string sub;
    be16(sub, 4); be16(sub, 0); be16(sub, 0);  // format, length (set below), language
    be16(sub, 6); be16(sub, 4); be16(sub, 1); be16(sub, 2);
    // clang-format on
    for (uint16_t e : ends) be16(sub, e);
    be16(sub, 0);
    for (uint16_t s : starts) be16(sub, s);
    for (uint16_t d : deltas) be16(sub, d);
    for (int i = 0; i < 3; ++i) be16(sub, 0);
    sub[2] = char(sub.size() >> 8);
    sub[3] = char(sub.size() & 0xFF);
    cmap += sub;

    if (with_os2) {
      std::string os2;
      be16(os2, 0);
      be16(os2, 600);
      be16(os2, 400);
      be16(os2, 5);
      for (int i = 0; i < 12; ++i) be16(os2, 0);  // fsType .. sFamilyClass
      os2.append(10, '\0');                       // panose
      for (int i = 0; i < 4; ++i) be32(os2, 0);   // unicode ranges
      os2 += "TEST";
      // clang-format off
      be16(os2, 0x40); be16(os2, 'H'); be16(os2, 'g');
      be16(os2, uint16_t(hhea_ascender)); be16(os2, uint16_t(hhea_descender)); be16(os2, uint16_t(hhea_line_gap));
      be16(os2, win_ascent); be16(os2, win_descent);
      // clang-format on
      tables.emplace_back("OS/2", os2);
    }
    tables.emplace_back("cmap", cmap);
    tables.emplace_back("glyf", glyf);
    tables.emplace_back("head", head);
    tables.emplace_back("hhea", hhea);
    tables.emplace_back("hmtx", hmtx);
    tables.emplace_back("loca", loca);
    tables.emplace_back("maxp", maxp);

    std::string font;
    const uint16_t n = uint16_t(tables.size());
    uint16_t power = 1, log2 = 0;
    // clang-format off
    while (power * 2 <= n) { power = uint16_t(power * 2); ++log2; }
    be32(font, 0x00010000); be16(font, n); be16(font, uint16_t(power * 16)); be16(font, log2);
    // clang-format on
    be16(font, uint16_t(n * 16 - power * 16));
    uint32_t offset = 12 + 16u * n;
    std::string body;
    for (const auto& [tag, data] : tables) {
      font += tag;
      be32(font, 0);
      be32(font, offset + uint32_t(body.size()));
      be32(font, uint32_t(data.size()));
      body += data;
      while (body.size() % 4) body.push_back(0);
    }
    return font + body;
  }

  // Writes the font into the current (sandbox) folder; answers its host path.
  std::string Write(const std::string& name) const {
    std::string path = (std::filesystem::current_path() / name).string();
    write_file(path, Build());
    return path;
  }

 private:
  static void be16(std::string& s, uint16_t v) {
    s.push_back(char(v >> 8));
    s.push_back(char(v & 0xFF));
  }
  static void be32(std::string& s, uint32_t v) {
    be16(s, uint16_t(v >> 16));
    be16(s, uint16_t(v & 0xFFFF));
  }
};

}  // namespace testenv
