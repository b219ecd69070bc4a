// The SVG parser's frame: the XML parser's events, failure recording, the
// attribute stack, path records and the elements g and path.
#include <algorithm>
#include <cmath>
#include <limits>

#include "qlm_svg.h"
#include "qlm_svg_number.h"

cSVGParser::cSVGParser(cImageSVG* image, XML_Parser parser)
    : mSVG(image),
      mParser(parser),
      mAttrStack(std::make_unique<cSVGAttributes>()),
      mArgs(std::make_unique<cDouble>()) {}

void cSVGParser::LogCurrent(std::source_location loc) { exception_log_append(std::current_exception(), mSVG, loc); }

bool cSVGParser::RecordFailure() {
  if (mFailureLine == 0) {
    const XML_Size line = mParser != nullptr ? XML_GetCurrentLineNumber(mParser) : 1;
    // Clamped into the signed 32-bit line; a failure is always recorded.
    mFailureLine = int32_t(std::clamp<XML_Size>(line, 1, XML_Size(std::numeric_limits<int32_t>::max())));
  }
  return true;
}

// ---------------------------------------------------------------------------
// The XML parser's events. Nothing may leave a handler: expat is C.

void XMLCALL cSVGParser::StartElement(void* user, const XML_Char* name, const XML_Char** attrs) {
  auto* self = static_cast<cSVGParser*>(user);
  try {
    self->Start(name, attrs);
  } catch (...) {
    self->LogCurrent();
    self->RecordFailure();
  }
}

void XMLCALL cSVGParser::EndElement(void* user, const XML_Char* name) {
  auto* self = static_cast<cSVGParser*>(user);
  try {
    self->End(name);
  } catch (...) {
    self->LogCurrent();
    self->RecordFailure();
  }
}

void XMLCALL cSVGParser::CharacterData(void* user, const XML_Char* text, int length) {
  auto* self = static_cast<cSVGParser*>(user);
  if (!self->mInTitle || text == nullptr || length <= 0) return;
  try {
    self->mSVG->mTitle.append(text, size_t(length));
  } catch (...) {
    self->LogCurrent();
    self->RecordFailure();
  }
}

namespace {
[[noreturn]] void fail_svg(std::string_view text1, std::string_view text2 = {}, std::string_view text3 = {},
                           std::source_location loc = std::source_location::current()) {
  raise_error(errSVG, &qlm_svg_exception_string, text1, text2, text3, loc);
}
}  // namespace

// Raises inside the body of Start and End; logged there and recorded.
void cSVGParser::Start(const char* name, const XML_Char** attrs) {
  const std::string up = char_trim_upper(name);
  if (!mRootSeen) {
    mRootSeen = true;
    if (up == "SVG") ReadViewport(attrs);
  }
  if (up == "TITLE") {
    mInTitle = true;
    return;
  }
  if (!mInDefs) {
    if (up == "G") {
      if (!AttrPush() || !ParseGroup(attrs)) RecordFailure();
      return;
    }
    if (up == "PATH") {
      if (mInPath) fail_svg("{this.mInPath=TRUE}");
      bool ok = PathBegin();
      if (ok) {
        ok = ParsePath(attrs);
        ok = PathClose() && ok;
      }
      if (ok)
        mInPath = true;
      else
        RecordFailure();
      return;
    }
    using tShape = bool (cSVGParser::*)(const XML_Char**);
    tShape shape = nullptr;
    // clang-format off
    if (up == "RECT") shape = &cSVGParser::ParseRect;
    else if (up == "ELLIPSE") shape = &cSVGParser::ParseEllipse;
    else if (up == "CIRCLE") shape = &cSVGParser::ParseCircle;
    else if (up == "LINE") shape = &cSVGParser::ParseLine;
    // clang-format on
    if (shape != nullptr || up == "POLYLINE" || up == "POLYGON") {
      // The record is closed even when the shape failed, so the attribute
      // stack stays balanced; the load fails anyway.
      bool ok = PathBegin();
      if (ok) {
        ok = shape != nullptr ? (this->*shape)(attrs) : ParsePoly(attrs, up == "POLYGON");
        ok = PathClose() && ok;
      }
      if (!ok) RecordFailure();
      return;
    }
  }
  if (up == "DEFS") {
    if (mInDefs) fail_svg("{this.mInDefs=TRUE}");
    mInDefs = true;
    return;
  }
  if (up == "MASK") {
    if (mInMask) fail_svg("{this.mInMask=TRUE}");
    mInMask = true;
    return;
  }
  if (mInMask) return;
  if (up == "LINEARGRADIENT" || up == "RADIALGRADIENT") {
    if (mInGrad != GR_NONE) fail_svg("{this.mInGrad<>GR_NONE}");
    mInGrad = up == "LINEARGRADIENT" ? GR_LINEAR : GR_RADIAL;
    if (!ParseGradient(attrs)) RecordFailure();
    return;
  }
  if (up == "STOP" && (mInGrad == GR_LINEAR || mInGrad == GR_RADIAL)) {
    if (!ParseStop(attrs)) RecordFailure();
  }
}

void cSVGParser::End(const char* name) {
  const std::string up = char_trim_upper(name);
  if (up == "TITLE") {
    mInTitle = false;
    return;
  }
  if (up == "G") {
    // An empty stack is logged and nothing else happens.
    if (!mInDefs) AttrPop();
    return;
  }
  if (up == "PATH") {
    mInPath = false;
    return;
  }
  if (up == "DEFS") {
    mInDefs = false;
    return;
  }
  if (up == "MASK") {
    mInMask = false;
    return;
  }
  if (mInMask) return;
  if (up == "LINEARGRADIENT" || up == "RADIALGRADIENT") {
    const uint8_t kind = up == "LINEARGRADIENT" ? GR_LINEAR : GR_RADIAL;
    if (mInGrad != kind) fail_svg(kind == GR_LINEAR ? "{this.mInGrad<>GR_LINEAR}" : "{this.mInGrad<>GR_RADIAL}");
    mInGrad = GR_NONE;
    mGradient = nullptr;
  }
}

// ---------------------------------------------------------------------------
// Attribute stack and path records.

namespace {
// Copies every field but the list link (and, when asked, the index).
void copy_attr(rSVGPathAttr& target, const rSVGPathAttr& source, bool keep_index) {
  rSVGPathAttr* next = target.next;
  const uint32_t index = target.index;
  target = source;
  target.next = next;
  if (keep_index) target.index = index;
}
}  // namespace

bool cSVGParser::AttrPush() {
  try {
    const rSVGPathAttr* top = mTop;
    // Room for the new record before it is appended, so the push below
    // cannot fail; the room grows geometrically (one more entry at a time
    // copied the whole stack on every push: quadratic in the depth).
    if (mStackRecords.size() == mStackRecords.capacity())
      mStackRecords.reserve(std::max<size_t>(16, mStackRecords.capacity() * 2));
    rSVGPathAttr* a = mAttrStack->Append(1);
    if (a == nullptr) {
      const int32_t code = mAttrStack->LastError() != 0 ? mAttrStack->LastError() : errNEnoughMem;
      raise_base_error(code, "{mAttrStack.Append}");
    }
    // A new entry holds the defaults; under a group it copies the top.
    if (top != nullptr) copy_attr(*a, *top, false);
    mStackRecords.push_back(a);
    mTop = a;
    return true;
  } catch (...) {
    LogCurrent();
    return false;
  }
}

bool cSVGParser::AttrPop() {
  try {
    if (mAttrStack->Count() == 0) fail_svg("{mAttrStack.Count=0}");
    mAttrStack->RemoveLast(1);
    if (!mStackRecords.empty()) mStackRecords.pop_back();
    mTop = mStackRecords.empty() ? nullptr : mStackRecords.back();
    return true;
  } catch (...) {
    LogCurrent();
    return false;
  }
}

rSVGPathAttr* cSVGParser::TopOrRaise() {
  if (mTop == nullptr) fail_svg("{mAttrStack.Last=NIL}");
  return mTop;
}

rSVGPathAttr* cSVGParser::AttrTop() {
  try {
    return TopOrRaise();
  } catch (...) {
    LogCurrent();
    return nullptr;
  }
}

// Every record gets an index of its own: when the previous record's path
// stayed empty, a stop marker is added first, so the previous record reads
// as an empty path and the new one cannot share its index.
bool cSVGParser::PathBegin() {
  if (!AttrPush()) return false;
  try {
    agg::path_storage& ps = *mSVG->mPathStorage;
    const rSVGPathAttr* previous = mSVG->top_attributes();
    if (previous != nullptr && previous->index == ps.total_vertices())
      ps.vertices().add_vertex(0, 0, agg::path_cmd_stop);
    const uint32_t index = ps.start_new_path();
    if (mSVG->new_attributes(mTop, index) == nullptr) fail_svg("{mSVG.new_attributes=NIL}");
    return true;
  } catch (...) {
    LogCurrent();
    return false;
  }
}

bool cSVGParser::PathClose() {
  try {
    const rSVGPathAttr* top = mTop;
    if (top == nullptr) fail_svg("{cSVGParser.PathClose,AttrCurrent=NIL}");
    rSVGPathAttr* record = mSVG->top_attributes();
    if (record == nullptr) fail_svg("{mSVG.top_attributes=NIL}");
    copy_attr(*record, *top, true);
  } catch (...) {
    LogCurrent();
    return false;
  }
  return AttrPop();
}

// ---------------------------------------------------------------------------
// g and path: attributes in document order; the first that fails ends the
// element, without a log row of the element's own.

bool cSVGParser::ParseGroup(const XML_Char** attrs) {
  for (int i = 0; attrs != nullptr && attrs[i] != nullptr && attrs[i + 1] != nullptr; i += 2)
    if (!ParseAttr(attrs[i], attrs[i + 1])) return false;
  return true;
}

bool cSVGParser::ParsePath(const XML_Char** attrs) {
  for (int i = 0; attrs != nullptr && attrs[i] != nullptr && attrs[i + 1] != nullptr; i += 2) {
    const std::string name = char_trim_upper(attrs[i]);
    const bool ok = name == "D" ? ParsePathData(attrs[i + 1]) : ParseAttr(attrs[i], attrs[i + 1]);
    if (!ok) return false;
  }
  return true;
}

// The root's viewport: viewBox="min-x min-y width height" (white space or
// commas between the numbers) when its sides are above 0, else width and
// height when they are plain numbers (or "px") above 0. Nothing else of the
// root is read; a side not given is left at 0 (the bounds stand in for it).
void cSVGParser::ReadViewport(const XML_Char** attrs) {
  double width = 0, height = 0, box_w = 0, box_h = 0;
  for (int i = 0; attrs != nullptr && attrs[i] != nullptr && attrs[i + 1] != nullptr; i += 2) {
    const std::string name = string_trim_upper(attrs[i]);
    const std::string_view value = attrs[i + 1];
    if (name == "WIDTH") {
      width = svg_number::attribute(value);
    } else if (name == "HEIGHT") {
      height = svg_number::attribute(value);
    } else if (name == "VIEWBOX") {
      double v[4] = {};
      int count = 0;
      size_t k = 0;
      while (k < value.size() && count < 5) {
        if (svg_number::is_space(value[k]) || value[k] == ',') {
          ++k;
          continue;
        }
        const size_t end = svg_number::scan(value, k);
        if (end == k) {
          count = 5;  // not a list of numbers
          break;
        }
        if (count < 4) v[count] = svg_number::value(value.substr(k, end - k));
        ++count;
        k = end;
      }
      if (count == 4 && v[2] > 0 && v[3] > 0) box_w = v[2], box_h = v[3];
    }
  }
  if (box_w > 0) width = box_w, height = box_h;
  mSVG->mViewportWidth = width > 0 && std::isfinite(width) ? width : 0;
  mSVG->mViewportHeight = height > 0 && std::isfinite(height) ? height : 0;
}
