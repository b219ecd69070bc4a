// The SVG drawing model and its loader. An SVG document is turned into one
// AGG path storage holding every shape as a path, one attribute record per
// path (fill and stroke colours or gradients, line style, transform), the
// document's gradient definitions with their colour stops, the text of its
// title elements and the bounding box of all paths. The renderer paints the
// model without knowing SVG.
//
// The loader understands a small part of SVG (see docs/svg.md): the elements
// g, path, rect, ellipse, circle, line, polyline, polygon, defs, mask, title,
// linearGradient, radialGradient and stop, nine presentation attributes, the
// style attribute, transform lists, colours written "#rrggbb" or
// as names of the "svg" colour family, and url references to gradients.
//
// The four lists are cArray containers: their entries never move, so records
// may point at each other (a path's gradient, a gradient's href target).
#pragma once

#include <agg_basics.h>
#include <agg_color_rgba.h>
#include <agg_path_storage.h>
#include <agg_trans_affine.h>
#include <expat.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "qlm_base_array.h"
#include "qlm_base_object.h"
#include "qlm_base_util.h"
#include "qlm_svg_image.h"

class cFlow;

// ---------------------------------------------------------------------------
// Error codes of the module (message function qlm_svg_exception_string).
constexpr int32_t errSVG = 299;         // "SVG parser failure."
constexpr int32_t errSVGCorrupt = 300;  // "SVG internal structure is corrupted."
constexpr int32_t errSVGColor = 301;    // "Unknown color definition."
constexpr int32_t errSVGPath = 302;     // "SVG Path parsing syntax error."

// Codes 299-302; every other code goes to the base module's message function.
std::unique_ptr<cExceptionString> qlm_svg_exception_string(uint32_t code);

// Module start: starts the colours module (qlm_colors_start), then takes
// id_cImageSVG from the framework's counter (once per process). Call it
// after framework_start; again after a restart of the framework. The stop
// does nothing.
extern uint32_t id_cImageSVG;
void qlm_svg_start();
void qlm_svg_stop();

// ---------------------------------------------------------------------------
// Colours. Every colour of the model is AGG's 8-bit RGBA colour: four bytes,
// red, green, blue, alpha. A drawing side that wants a grey level computes it
// with svg_color_grey.
using tSVGColor = agg::rgba8;
static_assert(sizeof(tSVGColor) == 4, "the model's colours are four bytes");

inline tSVGColor svg_color_opaque_black() { return tSVGColor(0, 0, 0, 255); }
inline uint8_t svg_color_grey(const tSVGColor& c) { return uint8_t((77u * c.r + 150u * c.g + 29u * c.b) >> 8); }

// Gradient kinds (rSVGGradient.kind and the parser's mInGrad).
constexpr uint8_t GR_NONE = 0;
constexpr uint8_t GR_LINEAR = 1;
constexpr uint8_t GR_RADIAL = 2;

// Gradient units and spread methods; 0 means "not set yet" while parsing.
constexpr uint8_t cnSVGUnitsUserSpaceOnUse = 1;
constexpr uint8_t cnSVGUnitsObjectBoundingBox = 2;
constexpr uint8_t cnSVGSpreadPad = 1;
constexpr uint8_t cnSVGSpreadReflect = 2;
constexpr uint8_t cnSVGSpreadRepeat = 3;

// Bits of a gradient's given and percent sets, one per coordinate.
constexpr uint16_t cnSVGGradX1 = 1;
constexpr uint16_t cnSVGGradY1 = 2;
constexpr uint16_t cnSVGGradX2 = 4;
constexpr uint16_t cnSVGGradY2 = 8;
constexpr uint16_t cnSVGGradCX = 16;
constexpr uint16_t cnSVGGradCY = 32;
constexpr uint16_t cnSVGGradR = 64;
constexpr uint16_t cnSVGGradFX = 128;
constexpr uint16_t cnSVGGradFY = 256;

// The object a drawing side keeps in a gradient's cache field (its colour
// ramp). The model never uses it; it only frees it with the gradient.
class cSVGGradientCache {
 public:
  cSVGGradientCache() = default;
  cSVGGradientCache(const cSVGGradientCache&) = delete;
  cSVGGradientCache& operator=(const cSVGGradientCache&) = delete;
  virtual ~cSVGGradientCache() = 0;
};

struct rSVGGradient;

// The attributes of one path. The defaults are those of a record that the
// parser makes when no group hands any down.
struct rSVGPathAttr {
  rSVGPathAttr* next = nullptr;
  uint32_t index = 0;  // vertex index in the path storage where the path begins
  tSVGColor fill_color = svg_color_opaque_black();
  tSVGColor stroke_color = svg_color_opaque_black();
  rSVGGradient* fill_gradient = nullptr;  // when set, paints the fill instead of the colour
  rSVGGradient* stroke_gradient = nullptr;
  bool fill_flag = true;
  bool stroke_flag = false;
  bool even_odd = false;   // never set: every path fills with the non-zero rule
  uint32_t line_join = 0;  // AGG: 0 miter, 2 round, 3 bevel
  uint32_t line_cap = 0;   // AGG: 0 butt, 1 square, 2 round
  double miter_limit = 4.0;
  double stroke_width = 1.0;
  agg::trans_affine transform;  // path coordinates to drawing coordinates
};

// One colour stop.
struct rSVGStop {
  rSVGStop* next = nullptr;
  std::string id;
  double offset = 0;  // 0 to 1
  tSVGColor color = svg_color_opaque_black();
};

// One number of the parser's argument list.
struct rDouble {
  rDouble* next = nullptr;
  double value = 0;
};

class cSVGAttributes : public cArrayOf<rSVGPathAttr, 1> {
 public:
  cSVGAttributes() : cArrayOf<rSVGPathAttr, 1>(6) {}

 protected:
  cArray* NewEmpty() const override { return new (std::nothrow) cSVGAttributes(); }
};

class cDouble : public cArrayOf<rDouble, 1> {
 public:
  cDouble() : cArrayOf<rDouble, 1>(6) {}

 protected:
  cArray* NewEmpty() const override { return new (std::nothrow) cDouble(); }
};

class cSVGColorStops : public cArrayOf<rSVGStop, 1> {
 public:
  cSVGColorStops() : cArrayOf<rSVGStop, 1>(5) {}

 protected:
  cArray* NewEmpty() const override { return new (std::nothrow) cSVGColorStops(); }
};

// One gradient definition. The record owns its cache object and, when
// owns_stops is set, its stop list; both are freed with the record. Records
// are not copied (a clone of the gradient list is refused).
struct rSVGGradient {
  rSVGGradient() = default;
  rSVGGradient(const rSVGGradient&) = delete;
  rSVGGradient& operator=(const rSVGGradient&) = delete;
  ~rSVGGradient();

  rSVGGradient* next = nullptr;
  uint8_t kind = GR_NONE;  // GR_LINEAR or GR_RADIAL
  std::string id;          // set through cSVGGradients::SetId
  cSVGGradientCache* cache = nullptr;
  uint8_t units = 0;   // cnSVGUnits*
  uint8_t spread = 0;  // cnSVGSpread*
  agg::trans_affine transform;
  bool transform_given = false;
  cSVGColorStops* stops = nullptr;  // own or borrowed from the href target
  bool owns_stops = false;
  std::string href;                     // id named by xlink:href, without "#"
  rSVGGradient* href_target = nullptr;  // the gradient it names
  uint16_t given = 0;                   // cnSVGGrad* bits
  uint16_t percent = 0;                 // cnSVGGrad* bits
  double x1 = 0, y1 = 0, x2 = 0, y2 = 0;
  double length = 0;  // of the vector (x1, y1)-(x2, y2)
  double angle = 0;   // its direction in degrees, 0 to 360
  double cx = 0, cy = 0, r = 0, fx = 0, fy = 0;
  uint64_t ordinal = 0;  // position in the list, kept for the id index
};

// The gradient list. It keeps an index of the records by their ids (in the
// form of string_trim_upper), so gradient_find_by_ref does not scan.
class cSVGGradients : public cArrayOf<rSVGGradient, 1> {
 public:
  cSVGGradients() : cArrayOf<rSVGGradient, 1>(5) {}

  // Appends one record with an empty id; nil when it cannot be had.
  rSVGGradient* AppendGradient();
  // Sets the record's id and keeps the index current. The record must be an
  // entry of this list. May raise (memory).
  void SetId(rSVGGradient* gradient, std::string_view id);
  // The first record in list order whose id equals `id` after
  // string_trim_upper on both sides; nil when none.
  rSVGGradient* FindByRef(std::string_view id) const;

 protected:
  cArray* NewEmpty() const override { return nullptr; }

 private:
  void IndexKey(const std::string& key, rSVGGradient* gradient);

  std::unordered_map<std::string, rSVGGradient*> mIndex;
  uint64_t mNextOrdinal = 0;
};

// The length and direction (degrees, 0 to 360, y growing downwards) of a
// linear gradient's vector (dx, dy). A vertical vector points down (90) or
// up (270); one without length answers 90.
void svg_linear_vector(double dx, double dy, double& length, double& angle);

// The first gradient of the list whose id equals `id` (ASCII case and
// trailing blanks ignored); nil for a nil list or when none matches.
rSVGGradient* gradient_find_by_ref(const cSVGGradients* gradients, std::string_view id);

// The document is handed to the XML parser in blocks of this size; a block
// grows to the length of a token the parser still holds unparsed (up to
// cnSVGBlockLimit), so a token of any length is scanned a bounded number of
// times per byte (see docs/svg.md).
constexpr int64_t cnSVGBlockSize = 65536;
constexpr int64_t cnSVGBlockLimit = int64_t(1) << 30;

// The widest extent, in path units, at which a path's curves are flattened
// at AGG's default tolerance when the bounds are computed. A larger path is
// flattened at a tolerance that grows with its extent, so the work stays
// bounded whatever the coordinates (see docs/svg.md).
constexpr double cnSVGBoundsFlatExtent = 65536.0;
// Most gradients an xlink:href chain is followed through.
constexpr int32_t cnSVGHrefChainLimit = 64;
// Deepest nesting of "style" pairs inside style values.
constexpr int32_t cnSVGStyleDepthLimit = 8;

// ---------------------------------------------------------------------------
// cSVGParser: receives the XML parser's events while cImageSVG::Open feeds
// it the document, and fills the image. Lives for one Open. The parse
// operations answer false after a failure that they have logged on the
// image; the raising helpers are private.

class cSVGParser : public cBase {
 public:
  cSVGParser(cImageSVG* image, XML_Parser parser);
  ~cSVGParser() override = default;

  // The XML parser's line at the first handler failure; 0 while none failed.
  int32_t FailureLine() const { return mFailureLine; }

  // The handlers that Open registers (user data: the parser object).
  static void XMLCALL StartElement(void* user, const XML_Char* name, const XML_Char** attrs);
  static void XMLCALL EndElement(void* user, const XML_Char* name);
  static void XMLCALL CharacterData(void* user, const XML_Char* text, int length);

  // Element and attribute readers.
  bool ParseGroup(const XML_Char** attrs);
  bool ParsePath(const XML_Char** attrs);
  bool ParseRect(const XML_Char** attrs);
  bool ParseEllipse(const XML_Char** attrs);
  bool ParseCircle(const XML_Char** attrs);
  bool ParseLine(const XML_Char** attrs);
  bool ParsePoly(const XML_Char** attrs, bool closed);
  bool ParseAttr(std::string_view name, std::string_view value);
  using tPairCall = bool (cSVGParser::*)(std::string_view name, std::string_view value);
  bool ParseStyle(std::string_view text, tPairCall pair);
  bool ParseTransform(std::string_view text, agg::trans_affine& matrix);
  // The colour scratch, or nil after a logged failure.
  const tSVGColor* ParseColor(std::string_view text);
  // True for a complete reference to a known gradient; false without a log
  // row when the text is no reference, false with one for an unknown id.
  bool ParseUrl(std::string_view text, rSVGGradient*& gradient);
  bool ParseGradient(const XML_Char** attrs);
  bool ParseGradientAttr(std::string_view name, std::string_view value);
  bool ParseStop(const XML_Char** attrs);
  bool ParseStopAttr(std::string_view name, std::string_view value);

  // Path data and point lists.
  bool ParsePathData(std::string_view text);
  bool ParsePoints(std::string_view text);
  // Executes the command with the numbers read since its letter (PathArgs);
  // raises 302 on a wrong count.
  void PathCommand(char letter);

  // Attribute stack and path records.
  bool RecordFailure();
  bool AttrPush();
  bool AttrPop();
  rSVGPathAttr* AttrTop();
  bool PathBegin();
  bool PathClose();

  cDouble* Args() { return mArgs.get(); }
  std::vector<double>& PathArgs() { return mPathArgs; }
  cSVGAttributes* AttrStack() { return mAttrStack.get(); }

 private:
  void Start(const char* name, const XML_Char** attrs);
  // The viewport the root svg element gives (width, height, viewBox).
  void ReadViewport(const XML_Char** attrs);
  void End(const char* name);
  void LogCurrent(std::source_location loc = std::source_location::current());
  // The number reader shared by path data (with commands) and points.
  void ReadNumbers(std::string_view text, bool commands);
  void AppendArg(double value);
  void PushNumber(std::string_view number, bool commands);
  bool ShapeAttr(std::string_view name, std::string_view value);
  bool StyleLevel(std::string_view text, tPairCall pair, int32_t depth);
  void RaiseColor(std::string_view text);
  rSVGPathAttr* TopOrRaise();

  cImageSVG* mSVG = nullptr;
  XML_Parser mParser = nullptr;
  int32_t mFailureLine = 0;
  std::unique_ptr<cSVGAttributes> mAttrStack;
  bool mInTitle = false;
  bool mInPath = false;
  bool mInDefs = false;
  uint8_t mInGrad = GR_NONE;
  rSVGGradient* mGradient = nullptr;
  rSVGStop* mStop = nullptr;
  bool mInMask = false;
  tSVGColor mColor = svg_color_opaque_black();
  std::unique_ptr<cDouble> mArgs;
  // The numbers of the current path command: a plain buffer, since path data
  // is the bulk of a document and the list's per-entry work shows in loads.
  std::vector<double> mPathArgs;
  // The stack's records in order, kept beside the list (its Last walks the
  // list's records), and the top one.
  std::vector<rSVGPathAttr*> mStackRecords;
  rSVGPathAttr* mTop = nullptr;
  int32_t mStyleDepth = 0;
  // Path data: the start of the current subpath, and whether the last
  // command closed it (the next one then starts from that point).
  double mSubpathX = 0, mSubpathY = 0;
  bool mAfterClose = false;
  bool mRootSeen = false;
};
