// The SVG model: the image, its lists, loading over expat and the bounds.
#include "qlm_svg.h"

#include <agg_conv_curve.h>
#include <agg_conv_transform.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <utility>
#include <vector>

#include "qlm_2D.h"
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

void svg_linear_vector(double dx, double dy, double& length, double& angle) {
  length = std::fabs(std::sqrt(dx * dx + dy * dy));
  const double a = !float_equal(dx, 0)               ? std::atan2(dy, dx) * 180.0 / std::numbers::pi
                   : (dy < 0 && !float_equal(dy, 0)) ? 270.0
                                                     : 90.0;
  angle = normalize_angle(a);
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

cImageSVG::cImageSVG()
    : mAttributes(std::make_unique<cSVGAttributes>()), mPathStorage(std::make_unique<agg::path_storage>()) {}

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
  return line > XML_Size(std::numeric_limits<int32_t>::max()) ? std::numeric_limits<int32_t>::max() : int32_t(line);
}

// The size of the next block. The XML parser scans a token cut by the end
// of a block again from its start with every further block, so a token much
// longer than a block (a path of megabytes) would cost time quadratic in its
// length. The next block is therefore at least as long as the part of the
// document the parser holds unparsed: a long token is scanned again only as
// often as it doubles, and the work stays linear in the document's length.
int64_t next_block_size(XML_Parser xml, int64_t fed) {
  const XML_Index parsed = XML_GetCurrentByteIndex(xml);
  const int64_t pending = parsed >= 0 && parsed <= fed ? fed - int64_t(parsed) : 0;
  return std::clamp<int64_t>(pending, cnSVGBlockSize, cnSVGBlockLimit);
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
    int64_t capacity = cnSVGBlockSize;
    XML_SetUserData(xml.get(), parser.get());
    XML_SetElementHandler(xml.get(), &cSVGParser::StartElement, &cSVGParser::EndElement);
    XML_SetCharacterDataHandler(xml.get(), &cSVGParser::CharacterData);

    const int64_t total = std::max<int64_t>(0, flow->Size() - flow->Curr());
    int64_t remaining = total;
    int64_t block = cnSVGBlockSize;
    do {
      if (parser->FailureLine() > 0) raise_failure_line(parser->FailureLine());
      const int64_t load = std::min<int64_t>(remaining, block);
      if (load > capacity) {
        void* grown = buffer.get();
        if (!mem_realloc(grown, load)) raise_base_error(errNEnoughMem, "{mem_alloc(buff ,aloc )}");
        buffer.release();
        buffer.reset(static_cast<char*>(grown));
        capacity = load;
      }
      // An empty flow has nothing to read; the XML parser still gets its
      // final (empty) block and reports the missing element.
      if (load > 0 && !flow->Read(buffer.get(), int32_t(load)))
        raise_error(errSVG, &qlm_svg_exception_string, "{flow.Read(buff ,load )<>load}");
      if (XML_Parse(xml.get(), buffer.get(), int(load), load == remaining ? 1 : 0) == XML_STATUS_ERROR) {
        const XML_Char* message = XML_ErrorString(XML_GetErrorCode(xml.get()));
        raise_error(errSVG, &qlm_svg_exception_string,
                    std::string("{XML_Parse=\"") + (message != nullptr ? message : "") + "\" at line ",
                    std::to_string(clamp_line(XML_GetCurrentLineNumber(xml.get()))), "}");
      }
      remaining -= load;
      block = next_block_size(xml.get(), total - remaining);
      // The share parsed so far, rising to 100; nothing for an empty flow.
      if (progress != nullptr && total > 0 && !progress(this, 100.0 * double(total - remaining) / double(total)))
        raise_base_error(errProgressBreak, "{cImageSVG.Open}");
    } while (remaining != 0);
    if (parser->FailureLine() > 0) raise_failure_line(parser->FailureLine());
    ComputeBounds();
    if (!(mViewportWidth > 0)) mViewportWidth = mBounds.x2 - mBounds.x1;
    if (!(mViewportHeight > 0)) mViewportHeight = mBounds.y2 - mBounds.y1;
    mOpened = true;
    return true;
  });
}

namespace {

// What a point of a path's raw vertices is to the curve converter: a point
// it emits as it is (a move or line vertex, a curve's end point), a curve's
// control point, or the point it starts a curve from (the entry before the
// curve, an end marker's stored 0, 0 included, or 0, 0 at the path's start).
enum class PointKind { OnOutline, Control, CurveStart };

// Walks the raw vertices of the path that begins at `index` and hands every
// point to `visit` (x, y, kind). Answers false when a curve's group of
// points is cut short (the converter then reads further entries as that
// curve's points, and the kinds above do not hold).
template <typename F>
bool walk_path(const agg::path_storage& ps, uint32_t index, F&& visit) {
  const uint32_t total = ps.total_vertices();
  bool regular = true;
  for (uint32_t i = index; i < total; ++i) {
    double x = 0, y = 0;
    const unsigned cmd = ps.vertex(i, &x, &y);
    if (agg::is_stop(cmd)) break;
    if (!agg::is_vertex(cmd)) continue;
    if (!agg::is_curve(cmd)) {
      visit(x, y, PointKind::OnOutline);
      continue;
    }
    double px = 0, py = 0;
    if (i > index) ps.vertex(i - 1, &px, &py);
    visit(px, py, PointKind::CurveStart);
    const uint32_t n = cmd == agg::path_cmd_curve3 ? 2 : 3;
    uint32_t k = 1;
    for (; k < n && i + 1 < total && ps.command(i + 1) == cmd; ++k) {
      visit(x, y, PointKind::Control);
      ++i;
      ps.vertex(i, &x, &y);
    }
    if (k < n) regular = false;
    visit(x, y, k < n ? PointKind::Control : PointKind::OnOutline);
  }
  return regular;
}

}  // namespace

// The box of the transformed, flattened outlines of all paths, as the curve
// and transform converters give it, with less work:
// - First every path's raw vertices are read: the points the converter
//   emits unchanged (move and line vertices, curve end points) make a box
//   that the result contains; the path's extent in its own units and whether
//   its transform keeps every point finite are noted.
// - Then only paths whose raw points (control points and curve starts
//   included; their box was noted in the first reading) do not all lie
//   inside the box go through the converters: every
//   flattened point lies in the hull of those points, so the other paths
//   cannot change the box. The result is the box of the plain walk.
// A path with a point that is not finite after its transform cannot be
// drawn and takes no part; a path wider than cnSVGBoundsFlatExtent is
// flattened at a proportionally coarser tolerance, so the work per curve
// stays bounded whatever the coordinates.
void cImageSVG::ComputeBounds() {
  mBounds = rRectD{};
  const uint32_t records = mAttributes->Count();
  if (records == 0) return;
  const uint32_t total = mPathStorage->total_vertices();
  bool any = false;
  auto add = [&](double x, double y) {
    if (!any) {
      mBounds.x1 = mBounds.x2 = x;
      mBounds.y1 = mBounds.y2 = y;
      any = true;
      return;
    }
    if (x < mBounds.x1) mBounds.x1 = x;
    if (x > mBounds.x2) mBounds.x2 = x;
    if (y < mBounds.y1) mBounds.y1 = y;
    if (y > mBounds.y2) mBounds.y2 = y;
  };

  struct rScan {
    bool drawable = false;  // has points, all finite once transformed
    bool regular = true;
    double extent = 0;  // in path units
    rRectD hull;        // box of all its points, transformed
  };
  std::vector<rScan> scans(records);
  std::vector<std::pair<double, double>> anchors;
  uint32_t r = 0;
  for (const rSVGPathAttr* a = mAttributes->First(); a != nullptr; a = mAttributes->Next(a), ++r) {
    if (a->index >= total) continue;
    rScan& scan = scans[r];
    double lx = 0, ly = 0, hx = 0, hy = 0;
    bool points = false, finite = true, hull = false;
    anchors.clear();
    scan.regular = walk_path(*mPathStorage, a->index, [&](double x, double y, PointKind kind) {
      if (kind != PointKind::CurveStart) {
        if (!points) {
          lx = hx = x;
          ly = hy = y;
          points = true;
        } else {
          lx = std::min(lx, x);
          hx = std::max(hx, x);
          ly = std::min(ly, y);
          hy = std::max(hy, y);
        }
      }
      a->transform.transform(&x, &y);
      if (!std::isfinite(x) || !std::isfinite(y)) finite = false;
      if (kind == PointKind::OnOutline) anchors.emplace_back(x, y);
      if (!hull) {
        scan.hull.x1 = scan.hull.x2 = x;
        scan.hull.y1 = scan.hull.y2 = y;
        hull = true;
      } else {
        scan.hull.x1 = std::min(scan.hull.x1, x);
        scan.hull.x2 = std::max(scan.hull.x2, x);
        scan.hull.y1 = std::min(scan.hull.y1, y);
        scan.hull.y2 = std::max(scan.hull.y2, y);
      }
    });
    scan.drawable = points && finite;
    scan.extent = std::max(hx - lx, hy - ly);
    // With a group cut short the converter may take a later vertex as a
    // control point, so nothing is known of such a path before it is walked.
    if (!scan.drawable || !scan.regular) continue;
    for (const auto& [x, y] : anchors) add(x, y);
  }

  agg::trans_affine matrix;
  agg::conv_curve<agg::path_storage> curve(*mPathStorage);
  agg::conv_transform<agg::conv_curve<agg::path_storage>> transformed(curve, matrix);
  r = 0;
  for (const rSVGPathAttr* a = mAttributes->First(); a != nullptr; a = mAttributes->Next(a), ++r) {
    const rScan& scan = scans[r];
    if (!scan.drawable) continue;
    const rRectD& h = scan.hull;
    if (any && scan.regular && h.x1 >= mBounds.x1 && h.x2 <= mBounds.x2 && h.y1 >= mBounds.y1 && h.y2 <= mBounds.y2)
      continue;
    curve.approximation_scale(scan.extent > cnSVGBoundsFlatExtent ? cnSVGBoundsFlatExtent / scan.extent : 1.0);
    matrix = a->transform;
    transformed.rewind(a->index);
    double x = 0, y = 0;
    unsigned cmd;
    while (!agg::is_stop(cmd = transformed.vertex(&x, &y)))
      if (agg::is_vertex(cmd)) add(x, y);
  }
}
