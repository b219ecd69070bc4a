// The SVG model: the image, its lists, loading over expat and the bounds.
#include "qlm_svg.h"

#include <agg_conv_curve.h>
#include <agg_conv_transform.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "qlm_base_flow.h"
#include "qlm_colors.h"

// ---------------------------------------------------------------------------
// Messages and module start.

namespace {

struct SVGMessage {
  int32_t code;
  const char* name;
  const char* message;
};

constexpr SVGMessage kSVGMessages[] = {
    {errSVG, "errSVG", "SVG parser failure."},
    {errSVGCorrupt, "errSVGCorrupt", "SVG internal structure is corrupted."},
    {errSVGColor, "errSVGColor", "Unknown color definition."},
    {errSVGPath, "errSVGPath", "SVG Path parsing syntax error."},
};

// Size of the block in which the document is handed to the XML parser.
constexpr int32_t cnSVGBlockSize = 512;

}  // namespace

std::unique_ptr<cExceptionString> qlm_svg_exception_string(uint32_t code) {
  for (const SVGMessage& m : kSVGMessages) {
    if (uint32_t(m.code) == code) {
      auto answer = std::make_unique<cExceptionString>(m.code, &qlm_svg_exception_string);
      answer->Set(m.name, localization_translate(0, m.message, 0, 0));
      return answer;
    }
  }
  return qlm_base_exception_string(code);
}

uint32_t id_cImageSVG = 0;

void qlm_svg_start() {
  // The colour names the parser looks up belong to the colours module,
  // whose start registers the list's release at shut-down.
  qlm_colors_start();
  if (id_cImageSVG == 0) new_type_id(id_cImageSVG);
}

void qlm_svg_stop() {}

cSVGGradientCache::~cSVGGradientCache() = default;

// ---------------------------------------------------------------------------
// Gradients.

rSVGGradient::~rSVGGradient() {
  delete cache;
  if (owns_stops) delete stops;
}

rSVGGradient* cSVGGradients::AppendGradient() {
  rSVGGradient* g = Append(1);
  if (g == nullptr) return nullptr;
  g->ordinal = ++mNextOrdinal;
  try {
    IndexKey(std::string(), g);
  } catch (...) {
    // The index is only a shortcut for the empty id: FindByRef checks it.
  }
  return g;
}

void cSVGGradients::IndexKey(const std::string& key, rSVGGradient* gradient) {
  auto [it, added] = mIndex.try_emplace(key, gradient);
  if (!added && it->second->ordinal > gradient->ordinal) it->second = gradient;
}

void cSVGGradients::SetId(rSVGGradient* gradient, std::string_view id) {
  const std::string old_key = string_trim_upper(gradient->id);
  std::string new_key = string_trim_upper(id);
  gradient->id = std::string(id);
  if (old_key == new_key) return;
  auto it = mIndex.find(old_key);
  if (it != mIndex.end() && it->second == gradient) {
    // The record no longer answers its old id: the next record in list order
    // that has it takes its place (earlier ones would have been indexed).
    mIndex.erase(it);
    for (rSVGGradient* g = Next(gradient); g != nullptr; g = Next(g)) {
      if (string_trim_upper(g->id) == old_key) {
        mIndex.emplace(old_key, g);
        break;
      }
    }
  }
  IndexKey(new_key, gradient);
}

rSVGGradient* cSVGGradients::FindByRef(std::string_view id) const {
  const std::string key = string_trim_upper(id);
  auto it = mIndex.find(key);
  if (it != mIndex.end()) return it->second;
  if (!key.empty()) return nullptr;
  // The empty id may be missing from the index after a failed insert.
  for (rSVGGradient* g = First(); g != nullptr; g = Next(g))
    if (string_trim_upper(g->id).empty()) return g;
  return nullptr;
}

rSVGGradient* gradient_find_by_ref(const cSVGGradients* gradients, std::string_view id) {
  if (gradients == nullptr) return nullptr;
  try {
    return gradients->FindByRef(id);
  } catch (...) {
    return nullptr;
  }
}

// ---------------------------------------------------------------------------
// cImageSVG

cImageSVG::cImageSVG() : mAttributes(std::make_unique<cSVGAttributes>()) {}

cImageSVG::~cImageSVG() = default;

bool cImageSVG::Identify(uint32_t id) const { return id == id_cImageSVG || cException::Identify(id); }

rSVGPathAttr* cImageSVG::new_attributes(const rSVGPathAttr* templ, uint32_t index) {
  if (templ == nullptr) return nullptr;
  rSVGPathAttr* a = mAttributes->Append(1);
  if (a == nullptr) return nullptr;
  rSVGPathAttr* next = a->next;
  *a = *templ;
  a->next = next;
  a->index = index;
  mLastAttr = a;
  mLastAttrCount = mAttributes->Count();
  return a;
}

rSVGPathAttr* cImageSVG::top_attributes() const {
  if (mLastAttr != nullptr && mAttributes->Count() == mLastAttrCount) return mLastAttr;
  return mAttributes->Last();
}

namespace {

// Owns the XML parser for one load.
struct XMLParserFree {
  void operator()(XML_ParserStruct* p) const { XML_ParserFree(p); }
};

// Owns the read buffer for one load.
struct BlockFree {
  void operator()(char* p) const {
    void* block = p;
    mem_free(block);
  }
};

int32_t clamp_line(XML_Size line) {
  return line > XML_Size(std::numeric_limits<int32_t>::max()) ? std::numeric_limits<int32_t>::max()
                                                               : int32_t(line);
}

void raise_failure_line(int32_t line) {
  raise_error(errSVGCorrupt, &qlm_svg_exception_string, "{at line ", std::to_string(line), "}");
}

}  // namespace

bool cImageSVG::Open(cFlow* flow, tSVGProgress progress) {
  if (mOpened) return true;
  return log_and_fail(this, false, [&] {
    if (flow == nullptr) raise_error(errSVG, &qlm_svg_exception_string, "{flow=NIL}");
    if (!flow->IsOpened()) raise_error(errSVG, &qlm_svg_exception_string, "{not flow.IsOpened}");
    std::unique_ptr<XML_ParserStruct, XMLParserFree> xml(XML_ParserCreate(nullptr));
    if (!xml) raise_error(errSVG, &qlm_svg_exception_string, "{XML_ParserCreate=NIL}");
    auto parser = std::make_unique<cSVGParser>(this, xml.get());
    char* raw = nullptr;
    if (!mem_alloc(raw, cnSVGBlockSize)) raise_base_error(errNEnoughMem, "{mem_alloc(buff ,aloc )}");
    std::unique_ptr<char, BlockFree> buffer(raw);
    XML_SetUserData(xml.get(), parser.get());
    XML_SetElementHandler(xml.get(), &cSVGParser::StartElement, &cSVGParser::EndElement);
    XML_SetCharacterDataHandler(xml.get(), &cSVGParser::CharacterData);

    const int64_t total = std::max<int64_t>(0, flow->Size() - flow->Curr());
    int64_t remaining = total;
    do {
      if (parser->FailureLine() > 0) raise_failure_line(parser->FailureLine());
      const int32_t load = int32_t(std::min<int64_t>(remaining, cnSVGBlockSize));
      // An empty flow has nothing to read; the XML parser still gets its
      // final (empty) block and reports the missing element.
      if (load > 0 && !flow->Read(buffer.get(), load))
        raise_error(errSVG, &qlm_svg_exception_string, "{flow.Read(buff ,load )<>load}");
      if (XML_Parse(xml.get(), buffer.get(), load, load == remaining ? 1 : 0) == XML_STATUS_ERROR) {
        const XML_Char* message = XML_ErrorString(XML_GetErrorCode(xml.get()));
        raise_error(errSVG, &qlm_svg_exception_string,
                    std::string("{XML_Parse=\"") + (message != nullptr ? message : "") + "\" at line ",
                    std::to_string(clamp_line(XML_GetCurrentLineNumber(xml.get()))), "}");
      }
      remaining -= load;
      // The share parsed so far, rising to 100; nothing for an empty flow.
      if (progress != nullptr && total > 0 && !progress(this, 100.0 * double(total - remaining) / double(total)))
        raise_base_error(errProgressBreak, "{cImageSVG.Open}");
    } while (remaining != 0);
    if (parser->FailureLine() > 0) raise_failure_line(parser->FailureLine());
    ComputeBounds();
    mOpened = true;
    return true;
  });
}

// The box of the transformed, flattened outlines of all paths. Each record
// is read twice: first its raw vertices (curve control points included),
// which give the path's extent in its own units, show whether its transform
// keeps every point finite, and bound the flattened outline (every point of
// a flattened curve lies in the hull of the points the curve converter
// starts it from); then, unless that hull already lies inside the box,
// through the curve and transform converters. A record with a point that is
// not finite after its transform cannot be drawn and takes no part; a path
// wider than cnSVGBoundsFlatExtent is flattened at a proportionally coarser
// tolerance, so the work per curve stays bounded whatever the coordinates.
void cImageSVG::ComputeBounds() {
  mBounds = rRectD{};
  if (mAttributes->Count() == 0) return;
  agg::trans_affine matrix;
  agg::conv_curve<agg::path_storage> curve(mPathStorage);
  agg::conv_transform<agg::conv_curve<agg::path_storage>> transformed(curve, matrix);
  bool first = true;
  const uint32_t total = mPathStorage.total_vertices();
  for (const rSVGPathAttr* a = mAttributes->First(); a != nullptr; a = mAttributes->Next(a)) {
    if (a->index >= total) continue;
    double lx = 0, ly = 0, hx = 0, hy = 0;
    bool any = false, finite = true, inside = !first;
    // One point of the hull: its extent in path units, and whether it lies
    // inside the box once transformed.
    auto hull_point = [&](double x, double y, bool extent) {
      if (extent) {
        if (!any) {
          lx = hx = x;
          ly = hy = y;
          any = true;
        } else {
          lx = std::min(lx, x);
          hx = std::max(hx, x);
          ly = std::min(ly, y);
          hy = std::max(hy, y);
        }
      }
      a->transform.transform(&x, &y);
      if (!std::isfinite(x) || !std::isfinite(y)) finite = false;
      if (inside && (x < mBounds.x1 || x > mBounds.x2 || y < mBounds.y1 || y > mBounds.y2)) inside = false;
    };
    for (uint32_t i = a->index; i < total; ++i) {
      double x = 0, y = 0;
      const unsigned cmd = mPathStorage.vertex(i, &x, &y);
      if (agg::is_stop(cmd)) break;
      if (!agg::is_vertex(cmd)) continue;
      if (agg::is_curve(cmd)) {
        // The converter starts a curve from the entry before it (an end
        // marker's stored 0, 0 included), or from 0, 0 at the path's start.
        double px = 0, py = 0;
        if (i > a->index) mPathStorage.vertex(i - 1, &px, &py);
        hull_point(px, py, false);
        // The converter takes the group's further points whatever their
        // commands; a group cut short is not judged, the record is flattened.
        const uint32_t n = cmd == agg::path_cmd_curve3 ? 2 : 3;
        hull_point(x, y, true);
        for (uint32_t k = 1; k < n; ++k) {
          if (i + 1 >= total || mPathStorage.command(i + 1) != cmd) {
            inside = false;
            break;
          }
          ++i;
          mPathStorage.vertex(i, &x, &y);
          hull_point(x, y, true);
        }
        continue;
      }
      hull_point(x, y, true);
    }
    if (!any || !finite || inside) continue;
    const double extent = std::max(hx - lx, hy - ly);
    curve.approximation_scale(extent > cnSVGBoundsFlatExtent ? cnSVGBoundsFlatExtent / extent : 1.0);
    matrix = a->transform;
    transformed.rewind(a->index);
    double x = 0, y = 0;
    unsigned cmd;
    while (!agg::is_stop(cmd = transformed.vertex(&x, &y))) {
      if (!agg::is_vertex(cmd)) continue;
      if (first) {
        mBounds.x1 = mBounds.x2 = x;
        mBounds.y1 = mBounds.y2 = y;
        first = false;
        continue;
      }
      if (x < mBounds.x1) mBounds.x1 = x;
      if (x > mBounds.x2) mBounds.x2 = x;
      if (y < mBounds.y1) mBounds.y1 = y;
      if (y > mBounds.y2) mBounds.y2 = y;
    }
  }
}
