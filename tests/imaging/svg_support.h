// Helpers shared by the SVG tests: loading a document from a string, the log
// of an image as text, the path storage as a compact command list, and the
// invariants every loaded model keeps.
#pragma once

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "qlm_base_flow.h"
#include "qlm_colors.h"
#include "qlm_svg.h"

namespace svgtest {

inline void start_modules() {
  qlm_colors_start();
  qlm_svg_start();
}

struct Loaded {
  std::unique_ptr<cImageSVG> image = std::make_unique<cImageSVG>();
  bool ok = false;
};

inline Loaded load(std::string_view document, tSVGProgress progress = nullptr) {
  Loaded l;
  auto flow = cMemoryFlow::ConstructReadOnly(true, document.data(), int64_t(document.size()));
  EXPECT_TRUE(flow->Open());
  l.ok = l.image->Open(flow.get(), progress);
  return l;
}

// A document made of the given elements inside an svg root.
inline std::string doc(std::string_view body) {
  return "<svg xmlns=\"http://www.w3.org/2000/svg\">" + std::string(body) + "</svg>";
}

// The rows of the image's log, "code text" each, joined by " | ".
inline std::string log_text(const cException& object) {
  std::string out;
  const cExceptionLog* log = object.Log();
  for (uint32_t i = 1; log != nullptr && i <= log->Count(); ++i) {
    const rExceptionLog* row = log->Get(i);
    if (!out.empty()) out += " | ";
    out += std::to_string(row->code) + " " + exception_log_row_text(*row);
  }
  return out;
}

inline std::string num(double v) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed);
  return std::string(buf, r.ptr);
}

// The vertices from `first` to the next stop as "M10,20 L30,40 C... Z".
inline std::string dump(agg::path_storage& ps, unsigned first = 0) {
  std::string out;
  for (unsigned i = first; i < ps.total_vertices(); ++i) {
    double x = 0, y = 0;
    const unsigned cmd = ps.vertex(i, &x, &y);
    if (agg::is_stop(cmd)) break;
    if (!out.empty()) out += ' ';
    if (agg::is_end_poly(cmd)) {
      out += agg::is_close(cmd) ? "Z" : "E";
      continue;
    }
    const char* letter = agg::is_move_to(cmd)           ? "M"
                         : cmd == agg::path_cmd_line_to ? "L"
                         : cmd == agg::path_cmd_curve3  ? "Q"
                                                        : "C";
    out += letter;
    out += num(x);
    out += ',';
    out += num(y);
  }
  return out;
}

// Every record's index lies inside the path storage, and no two records
// with vertices share one.
inline void expect_model_invariants(cImageSVG& image) {
  agg::path_storage& ps = *image.PathStorage();
  std::set<uint32_t> used;
  for (const rSVGPathAttr* a = image.Attributes()->First(); a != nullptr; a = image.Attributes()->Next(a)) {
    ASSERT_LE(a->index, ps.total_vertices());
    double x, y;
    const bool empty = a->index == ps.total_vertices() || agg::is_stop(ps.vertex(a->index, &x, &y));
    if (!empty) {
      EXPECT_TRUE(used.insert(a->index).second) << "index " << a->index << " shared";
    }
  }
  rRectD b;
  image.Bounds(b);
  EXPECT_TRUE(std::isfinite(b.x1) && std::isfinite(b.y1) && std::isfinite(b.x2) && std::isfinite(b.y2));
  EXPECT_LE(b.x1, b.x2);
  EXPECT_LE(b.y1, b.y2);
}

}  // namespace svgtest
