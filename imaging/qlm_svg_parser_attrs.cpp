// The SVG parser's readers: presentation attributes, styles, transforms,
// colours, url references, the shapes and the gradients with their stops.
#include <agg_bezier_arc.h>

#include <cmath>
#include <numbers>
#include <unordered_set>

#include "qlm_2D.h"
#include "qlm_colors.h"
#include "qlm_svg.h"
#include "qlm_svg_number.h"

namespace {

[[noreturn]] void fail_svg(std::string_view text1, std::string_view text2 = {}, std::string_view text3 = {},
                           std::source_location loc = std::source_location::current()) {
  raise_error(errSVG, &qlm_svg_exception_string, text1, text2, text3, loc);
}

[[noreturn]] void fail_color(std::string_view text1, std::string_view text2 = {}, std::string_view text3 = {},
                             std::source_location loc = std::source_location::current()) {
  raise_error(errSVGColor, &qlm_svg_exception_string, text1, text2, text3, loc);
}

// An attribute's number by SVG's grammar (a leading "." or "+", exponents,
// "px"); any other text reads as 0.
double number_of(std::string_view text) { return svg_number::attribute(text); }

// Alpha of an opacity: the integer part of (v clamped to 0..1) x 255 + 0.5.
uint8_t opacity_of(std::string_view text) {
  double v = number_of(text);
  v = v < 0 ? 0 : (v > 1 ? 1 : v);
  return uint8_t(std::trunc(v * 255 + 0.5));
}

double radians(double degrees) { return degrees * std::numbers::pi / 180.0; }

bool is_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

bool is_hex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }

// Walks the XML parser's list of name and value pairs.
template <typename F>
bool each_attr(const XML_Char** attrs, F&& f) {
  for (int i = 0; attrs != nullptr && attrs[i] != nullptr && attrs[i + 1] != nullptr; i += 2)
    if (!f(std::string_view(attrs[i]), std::string_view(attrs[i + 1]))) return false;
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// Presentation attributes.

bool cSVGParser::ParseAttr(std::string_view name, std::string_view value) {
  const std::string up = string_trim_upper(name);
  if (up == "STYLE") return ParseStyle(value, &cSVGParser::ParseAttr);
  try {
    rSVGPathAttr* top = TopOrRaise();
    if (up == "FILL" || up == "STROKE") {
      const bool fill = up == "FILL";
      bool& flag = fill ? top->fill_flag : top->stroke_flag;
      rSVGGradient*& gradient = fill ? top->fill_gradient : top->stroke_gradient;
      if (string_trim_upper(value) == "NONE") {
        flag = false;
        return true;
      }
      rSVGGradient* found = nullptr;
      if (ParseUrl(value, found)) {
        gradient = found;
        flag = true;
        return true;
      }
      const tSVGColor* color = ParseColor(value);
      if (color == nullptr) return false;
      // A colour replaces a gradient that a group handed down for this paint.
      (fill ? top->fill_color : top->stroke_color) = *color;
      gradient = nullptr;
      flag = true;
    } else if (up == "FILL-OPACITY") {
      top->fill_color.a = opacity_of(value);
    } else if (up == "STROKE-OPACITY") {
      top->stroke_color.a = opacity_of(value);
    } else if (up == "STROKE-WIDTH") {
      top->stroke_width = number_of(value);
      top->stroke_flag = true;
    } else if (up == "STROKE-LINECAP") {
      const std::string v = string_trim_upper(value);
      if (v == "BUTT")
        top->line_cap = 0;
      else if (v == "SQUARE")
        top->line_cap = 1;
      else if (v == "ROUND")
        top->line_cap = 2;
    } else if (up == "STROKE-LINEJOIN") {
      const std::string v = string_trim_upper(value);
      if (v == "MITER")
        top->line_join = 0;
      else if (v == "ROUND")
        top->line_join = 2;
      else if (v == "BEVEL")
        top->line_join = 3;
    } else if (up == "STROKE-MITERLIMIT") {
      top->miter_limit = number_of(value);
    } else if (up == "TRANSFORM") {
      return ParseTransform(value, top->transform);
    }
    return true;
  } catch (...) {
    LogCurrent();
    return false;
  }
}

// ---------------------------------------------------------------------------
// Styles: "name: value; ..." split into pairs for a pair handler. A pair
// named "style" inside a value is split by the handler again; such nesting
// is capped at cnSVGStyleDepthLimit texts.

bool cSVGParser::ParseStyle(std::string_view text, tPairCall pair) {
  struct DepthGuard {
    int32_t& depth;
    explicit DepthGuard(int32_t& d) : depth(d) { ++depth; }
    ~DepthGuard() { --depth; }
  } guard(mStyleDepth);
  try {
    if (mStyleDepth > cnSVGStyleDepthLimit) fail_svg("{cSVGParser.ParseStyle}");
    enum class S { BeforeName, InName, AfterName, BeforeValue, InValue, Blanks } s = S::BeforeName;
    std::string name, value;
    size_t held = 0;
    auto emit = [&]() {
      if (!(this->*pair)(name, value)) fail_svg("{cSVGParser.paircall}");
      name.clear();
      value.clear();
      held = 0;
    };
    for (const char c : text) {
      const bool blank = c == ' ';
      switch (s) {
        case S::BeforeName:
          if (!blank) {
            name.assign(1, c);
            s = S::InName;
          }
          break;
        case S::InName:
          if (blank)
            s = S::AfterName;
          else if (c == ':')
            s = S::BeforeValue;
          else
            name.push_back(c);
          break;
        case S::AfterName:
          if (c == ':') s = S::BeforeValue;
          break;
        case S::BeforeValue:
          if (!blank) {
            value.assign(1, c);
            s = S::InValue;
          }
          break;
        case S::InValue:
          if (blank) {
            held = 1;
            s = S::Blanks;
          } else if (c == ';') {
            emit();
            s = S::BeforeName;
          } else {
            value.push_back(c);
          }
          break;
        case S::Blanks:
          if (blank) {
            ++held;
          } else if (c == ';') {
            emit();
            s = S::BeforeName;
          } else {
            value.append(held, ' ');
            value.push_back(c);
            held = 0;
            s = S::InValue;
          }
          break;
      }
    }
    if (s == S::InValue || s == S::Blanks)
      emit();
    else if (s != S::BeforeName)
      fail_svg("{cSVGParser.ParseStyle}");
    return true;
  } catch (...) {
    LogCurrent();
    return false;
  }
}

// ---------------------------------------------------------------------------
// Transforms: a list of functions, separated by white space or commas, each
// premultiplied in turn, so that the list applies from right to left to the
// path's points (the last function first) and the matrix handed down after
// it. Arguments are numbers by SVG's grammar, separated by white space,
// commas or their own signs.

namespace {

// One function of the list: its name, its numbers, its matrix.
[[noreturn]] void fail_transform(std::string_view text) { fail_svg("{cSVGParser.ParseTransform,", text, "}"); }

agg::trans_affine transform_of(const std::string& up, const double* args, int count) {
  if (up == "MATRIX") {
    if (count != 6) fail_transform("count<>6");
    return agg::trans_affine(args[0], args[1], args[2], args[3], args[4], args[5]);
  }
  if (up == "TRANSLATE") return agg::trans_affine_translation(args[0], count >= 2 ? args[1] : 0);
  if (up == "ROTATE") {
    if (count == 1) return agg::trans_affine_rotation(radians(args[0]));
    if (count != 3) fail_transform("count<>1 or 3");
    agg::trans_affine t = agg::trans_affine_translation(-args[1], -args[2]);
    t *= agg::trans_affine_rotation(radians(args[0]));
    t *= agg::trans_affine_translation(args[1], args[2]);
    return t;
  }
  if (up == "SCALE") {
    if (count == 0) fail_transform("count=0");
    return count == 1 ? agg::trans_affine_scaling(args[0]) : agg::trans_affine_scaling(args[0], args[1]);
  }
  if (up == "SKEWX" || up == "SKEWY") {
    if (count == 0) fail_transform("count=0");
    return up == "SKEWX" ? agg::trans_affine_skewing(radians(args[0]), 0)
                         : agg::trans_affine_skewing(0, radians(args[0]));
  }
  fail_svg("{cSVGParser.ParseTransform,trid=\"", up, "\"}");
}

}  // namespace

bool cSVGParser::ParseTransform(std::string_view text, agg::trans_affine& matrix) {
  try {
    using svg_number::is_space;
    size_t i = 0;
    const size_t n = text.size();
    // The list is applied only when every function of it is sound.
    agg::trans_affine list;
    bool any = false;
    while (true) {
      while (i < n && (is_space(text[i]) || (any && text[i] == ','))) ++i;
      if (i == n && any) break;
      // The name runs to "(" or white space; after white space everything
      // up to the next "(" is skipped.
      std::string name;
      while (i < n && text[i] != '(' && !is_space(text[i])) name.push_back(text[i++]);
      while (i < n && text[i] != '(') ++i;
      if (i < n) ++i;  // past "("

      double args[6] = {};
      int count = 0;
      while (i < n) {
        const char c = text[i];
        if (c == ')') {
          ++i;
          break;
        }
        const size_t end = svg_number::scan(text, i);
        if (end == i) {
          ++i;  // white space, commas and other characters before a number
          continue;
        }
        if (count == 6) fail_transform("count>6");
        args[count++] = svg_number::value(text.substr(i, end - i));
        i = end;
        // Text that sticks to a number (a unit) is skipped up to the next
        // comma or ")".
        if (i < n && !is_space(text[i]) && text[i] != ',' && text[i] != ')' && !svg_number::starts(text, i))
          while (i < n && text[i] != ',' && text[i] != ')') ++i;
      }
      list.premultiply(transform_of(string_upper(name), args, count));
      any = true;
    }
    // Each function was premultiplied into the list, so the last applies
    // first; the whole list applies before the matrix handed down.
    matrix.premultiply(list);
    return true;
  } catch (...) {
    LogCurrent();
    return false;
  }
}

// ---------------------------------------------------------------------------
// Colours and url references.

void cSVGParser::RaiseColor(std::string_view text) {
  size_t i = 0;
  const size_t n = text.size();
  while (i < n && text[i] != '#' && !is_letter(text[i])) ++i;
  if (i == n) fail_color("{case ph of else}");
  if (text[i] == '#') {
    ++i;
    const size_t start = i;
    while (i < n && is_hex(text[i])) ++i;
    const std::string_view digits = text.substr(start, i - start);
    if (digits.size() != 6) fail_color("{Length(cv)<>6}");
    const uint32_t v = uint32_t(hex_to_int(digits, cnTypeInt32, 0));
    mColor = tSVGColor(uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v), 255);
    return;
  }
  const size_t start = i;
  while (i < n && is_letter(text[i])) ++i;
  const std::string_view name = text.substr(start, i - start);
  if (string_upper(name) == "ZZZZZZZZZZZ") {
    mColor = tSVGColor(0, 0, 0, 0);
    return;
  }
  rColorFind find;
  if (!color_find_by_name(&find, name, "svg")) fail_color("{not color_find_by_name(\"", name, "\")}");
  const uint32_t c = find.color_found;
  mColor = tSVGColor(uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c), 255);
}

const tSVGColor* cSVGParser::ParseColor(std::string_view text) {
  try {
    RaiseColor(text);
    return &mColor;
  } catch (...) {
    LogCurrent();
    return nullptr;
  }
}

bool cSVGParser::ParseUrl(std::string_view text, rSVGGradient*& gradient) {
  gradient = nullptr;
  size_t i = 0;
  const size_t n = text.size();
  std::string word;
  while (i < n && text[i] != '(') {
    if (!is_letter(text[i])) return false;
    word.push_back(text[i++]);
  }
  if (i == n || string_upper(word) != "URL") return false;
  ++i;
  while (i < n && text[i] == ' ') ++i;
  if (i == n || text[i] != '#') return false;
  ++i;
  const size_t start = i;
  while (i < n && text[i] != ' ' && text[i] != ')') ++i;
  const std::string_view id = text.substr(start, i - start);
  while (i < n && text[i] == ' ') ++i;
  if (i == n || text[i] != ')') return false;
  try {
    gradient = gradient_find_by_ref(mSVG->mGradients.get(), id);
    if (gradient == nullptr) fail_color("{not gradient_find_by_ref(\"", id, "\")}");
    return true;
  } catch (...) {
    LogCurrent();
    return false;
  }
}

// ---------------------------------------------------------------------------
// Shapes. Geometry attributes are numbers; every other attribute goes to
// ParseAttr (style to ParseStyle), and the first failure ends the element.

bool cSVGParser::ShapeAttr(std::string_view name, std::string_view value) {
  if (string_trim_upper(name) == "STYLE") {
    if (!ParseStyle(value, &cSVGParser::ParseAttr)) fail_svg("{not ParseStyle}");
  } else if (!ParseAttr(name, value)) {
    fail_svg("{not ParseAttr}");
  }
  return true;
}

bool cSVGParser::ParseRect(const XML_Char** attrs) {
  try {
    double x = 0, y = 0, w = 0, h = 0, rx = 0, ry = 0;
    each_attr(attrs, [&](std::string_view name, std::string_view value) {
      const std::string up = string_trim_upper(name);
      if (up == "X")
        x = number_of(value);
      else if (up == "Y")
        y = number_of(value);
      else if (up == "WIDTH") {
        w = number_of(value);
        if (w < 0) fail_svg("{cSVGParser.ParseRect,Rect.width<0}");
      } else if (up == "HEIGHT") {
        h = number_of(value);
        if (h < 0) fail_svg("{cSVGParser.ParseRect,Rect.height<0}");
      } else if (up == "RX") {
        rx = number_of(value);
        if (rx < 0) fail_svg("{cSVGParser.ParseRect,Rect.rx<0}");
      } else if (up == "RY") {
        ry = number_of(value);
        if (ry < 0) fail_svg("{cSVGParser.ParseRect,Rect.ry<0}");
      } else {
        return ShapeAttr(name, value);
      }
      return true;
    });
    if (w > 0 && h > 0) {
      // Corners are rounded only when both radii are given.
      if (float_equal(rx, 0)) ry = 0;
      if (float_equal(ry, 0)) rx = 0;
      agg::path_storage& ps = *mSVG->mPathStorage;
      ps.move_to(x + rx, y);
      ps.hline_to(x + w - rx);
      if (rx > 0) ps.arc_to(rx, ry, 0, false, true, x + w, y + ry);
      ps.vline_to(y + h - ry);
      if (ry > 0) ps.arc_to(rx, ry, 0, false, true, x + w - rx, y + h);
      ps.hline_to(x + rx);
      if (rx > 0) ps.arc_to(rx, ry, 0, false, true, x, y + h - ry);
      ps.vline_to(y + ry);
      if (ry > 0) ps.arc_to(rx, ry, 0, false, true, x + rx, y);
      ps.end_poly(agg::path_flags_close);
    }
    return true;
  } catch (...) {
    LogCurrent();
    return false;
  }
}

namespace {
void add_ellipse(agg::path_storage& ps, double cx, double cy, double rx, double ry) {
  agg::bezier_arc arc(cx, cy, rx, ry, 0, 2 * std::numbers::pi);
  ps.concat_path(arc);
  ps.end_poly(agg::path_flags_close);
}
}  // namespace

bool cSVGParser::ParseEllipse(const XML_Char** attrs) {
  try {
    double cx = 0, cy = 0, rx = 0, ry = 0;
    each_attr(attrs, [&](std::string_view name, std::string_view value) {
      const std::string up = string_trim_upper(name);
      if (up == "CX")
        cx = number_of(value);
      else if (up == "CY")
        cy = number_of(value);
      else if (up == "RX") {
        rx = number_of(value);
        if (rx < 0) fail_svg("{cSVGParser.ParseEllipse,Ellipse.rx<0}");
      } else if (up == "RY") {
        ry = number_of(value);
        if (ry < 0) fail_svg("{cSVGParser.ParseEllipse,Ellipse.ry<0}");
      } else {
        return ShapeAttr(name, value);
      }
      return true;
    });
    if (rx > 0 && ry > 0) add_ellipse(*mSVG->mPathStorage, cx, cy, rx, ry);
    return true;
  } catch (...) {
    LogCurrent();
    return false;
  }
}

bool cSVGParser::ParseCircle(const XML_Char** attrs) {
  try {
    double cx = 0, cy = 0, r = 0;
    each_attr(attrs, [&](std::string_view name, std::string_view value) {
      const std::string up = string_trim_upper(name);
      if (up == "CX")
        cx = number_of(value);
      else if (up == "CY")
        cy = number_of(value);
      else if (up == "R") {
        r = number_of(value);
        if (r < 0) fail_svg("{cSVGParser.ParseCircle,Circle.r<0}");
      } else {
        return ShapeAttr(name, value);
      }
      return true;
    });
    if (r > 0) add_ellipse(*mSVG->mPathStorage, cx, cy, r, r);
    return true;
  } catch (...) {
    LogCurrent();
    return false;
  }
}

bool cSVGParser::ParseLine(const XML_Char** attrs) {
  try {
    double x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    each_attr(attrs, [&](std::string_view name, std::string_view value) {
      const std::string up = string_trim_upper(name);
      // clang-format off
      if (up == "X1") x1 = number_of(value);
      else if (up == "Y1") y1 = number_of(value);
      else if (up == "X2") x2 = number_of(value);
      else if (up == "Y2") y2 = number_of(value);
      else return ShapeAttr(name, value);
      // clang-format on
      return true;
    });
    mSVG->mPathStorage->move_to(x1, y1);
    mSVG->mPathStorage->line_to(x2, y2);
    return true;
  } catch (...) {
    LogCurrent();
    return false;
  }
}

bool cSVGParser::ParsePoly(const XML_Char** attrs, bool closed) {
  try {
    mArgs->RemoveAll();
    each_attr(attrs, [&](std::string_view name, std::string_view value) {
      if (string_trim_upper(name) == "POINTS" && !ParsePoints(value)) fail_svg("{not ParsePoints}");
      return ShapeAttr(name, value);
    });
    const uint32_t count = mArgs->Count();
    if (count == 0) return true;
    if (count % 2 != 0) fail_svg("{cSVGParser.ParsePoly,mArgs.Count mod 2 <> 0}");
    agg::path_storage& ps = *mSVG->mPathStorage;
    const rDouble* p = mArgs->First();
    for (uint32_t i = 0; i < count; i += 2) {
      const double x = p->value;
      p = mArgs->Next(p);
      const double y = p->value;
      p = mArgs->Next(p);
      if (i == 0)
        ps.move_to(x, y);
      else
        ps.line_to(x, y);
    }
    if (closed) ps.end_poly(agg::path_flags_close);
    return true;
  } catch (...) {
    LogCurrent();
    return false;
  }
}

// ---------------------------------------------------------------------------
// Gradients and stops.

bool cSVGParser::ParseGradient(const XML_Char** attrs) {
  try {
    if (!mSVG->mGradients) mSVG->mGradients = std::make_unique<cSVGGradients>();
    rSVGGradient* g = mSVG->mGradients->AppendGradient();
    if (g == nullptr) {
      const int32_t code = mSVG->mGradients->LastError() != 0 ? mSVG->mGradients->LastError() : errNEnoughMem;
      raise_base_error(code, "{mSVG.mGradients.Append}");
    }
    mGradient = g;
    g->kind = mInGrad;
    if (!each_attr(attrs,
                   [&](std::string_view name, std::string_view value) { return ParseGradientAttr(name, value); }))
      return false;
    if (g->units == 0) g->units = cnSVGUnitsObjectBoundingBox;
    if (g->spread == 0) g->spread = cnSVGSpreadPad;
    auto fallback = [g](uint16_t bit, double& field, double value) {
      if ((g->given & bit) == 0) {
        field = value;
        g->given |= bit;
        g->percent |= bit;
      }
    };
    if (g->kind == GR_LINEAR) {
      fallback(cnSVGGradX1, g->x1, 0);
      fallback(cnSVGGradY1, g->y1, 0);
      fallback(cnSVGGradX2, g->x2, 100);
      fallback(cnSVGGradY2, g->y2, 0);
      svg_linear_vector(g->x2 - g->x1, g->y2 - g->y1, g->length, g->angle);
    } else {
      fallback(cnSVGGradCX, g->cx, 50);
      fallback(cnSVGGradCY, g->cy, 50);
      fallback(cnSVGGradR, g->r, 50);
      // A focus not given lies on the centre (as written: value and unit).
      auto focus = [g](uint16_t bit, double& field, uint16_t centre_bit, double centre) {
        if ((g->given & bit) != 0) return;
        field = centre;
        g->given |= bit;
        g->percent = uint16_t((g->percent & ~bit) | ((g->percent & centre_bit) != 0 ? bit : 0));
      };
      focus(cnSVGGradFX, g->fx, cnSVGGradCX, g->cx);
      focus(cnSVGGradFY, g->fy, cnSVGGradCY, g->cy);
    }
    return true;
  } catch (...) {
    LogCurrent();
    return false;
  }
}

namespace {

struct GradCoord {
  const char* name;
  uint16_t bit;
  uint8_t kind;
  double rSVGGradient::*field;
};

constexpr GradCoord kGradCoords[] = {
    {"X1", cnSVGGradX1, GR_LINEAR, &rSVGGradient::x1}, {"Y1", cnSVGGradY1, GR_LINEAR, &rSVGGradient::y1},
    {"X2", cnSVGGradX2, GR_LINEAR, &rSVGGradient::x2}, {"Y2", cnSVGGradY2, GR_LINEAR, &rSVGGradient::y2},
    {"CX", cnSVGGradCX, GR_RADIAL, &rSVGGradient::cx}, {"CY", cnSVGGradCY, GR_RADIAL, &rSVGGradient::cy},
    {"R", cnSVGGradR, GR_RADIAL, &rSVGGradient::r},    {"FX", cnSVGGradFX, GR_RADIAL, &rSVGGradient::fx},
    {"FY", cnSVGGradFY, GR_RADIAL, &rSVGGradient::fy},
};

// What a gradient takes from one gradient along its href chain.
void inherit_from(rSVGGradient& g, const rSVGGradient& t) {
  if (g.units == 0) g.units = t.units;
  if (g.spread == 0) g.spread = t.spread;
  if (!g.transform_given && !t.transform.is_identity(1e-14)) {
    g.transform = t.transform;
    g.transform_given = true;
  }
  if (g.stops == nullptr) {
    g.stops = t.stops;
    g.owns_stops = false;
  }
  if (g.kind != t.kind) return;
  for (const GradCoord& c : kGradCoords) {
    if (c.kind != g.kind || (g.given & c.bit) != 0 || (t.given & c.bit) == 0) continue;
    g.*c.field = t.*c.field;
    g.given |= c.bit;
    g.percent = uint16_t((g.percent & ~c.bit) | (t.percent & c.bit));
  }
}

}  // namespace

bool cSVGParser::ParseGradientAttr(std::string_view name, std::string_view value) {
  const std::string up = string_trim_upper(name);
  if (up == "STYLE") return ParseStyle(value, &cSVGParser::ParseGradientAttr);
  rSVGGradient* g = mGradient;
  if (g == nullptr) return false;
  try {
    if (up == "ID") {
      mSVG->mGradients->SetId(g, value);
    } else if (up == "GRADIENTUNITS") {
      const std::string v = string_trim_upper(value);
      if (v == "USERSPACEONUSE")
        g->units = cnSVGUnitsUserSpaceOnUse;
      else if (v == "OBJECTBOUNDINGBOX")
        g->units = cnSVGUnitsObjectBoundingBox;
    } else if (up == "GRADIENTTRANSFORM") {
      g->transform.reset();
      g->transform_given = true;
      return ParseTransform(value, g->transform);
    } else if (up == "SPREADMETHOD") {
      const std::string v = string_trim_upper(value);
      if (v == "PAD")
        g->spread = cnSVGSpreadPad;
      else if (v == "REFLECT")
        g->spread = cnSVGSpreadReflect;
      else if (v == "REPEAT")
        g->spread = cnSVGSpreadRepeat;
    } else if (up == "XLINK:HREF") {
      g->href = std::string(!value.empty() && value[0] == '#' ? value.substr(1) : value);
      g->href_target = gradient_find_by_ref(mSVG->mGradients.get(), g->href);
      // The chain ends at the first gradient met twice (a gradient naming
      // itself, directly or through others), and after cnSVGHrefChainLimit
      // steps, so that a document of long chains stays linear.
      std::unordered_set<const rSVGGradient*> visited;
      int32_t steps = 0;
      for (const rSVGGradient* t = g->href_target;
           t != nullptr && steps < cnSVGHrefChainLimit && visited.insert(t).second; t = t->href_target, ++steps)
        inherit_from(*g, *t);
    } else {
      for (const GradCoord& c : kGradCoords) {
        if (up != c.name) continue;
        if (c.kind != g->kind) break;
        std::string_view v = value;
        // The percent bit follows the value as written.
        g->percent &= uint16_t(~c.bit);
        if (!v.empty() && v.back() == '%') {
          v.remove_suffix(1);
          g->percent |= c.bit;
        }
        g->*c.field = number_of(v);
        g->given |= c.bit;
        break;
      }
    }
    return true;
  } catch (...) {
    LogCurrent();
    return false;
  }
}

bool cSVGParser::ParseStop(const XML_Char** attrs) {
  rSVGGradient* g = mGradient;
  if (g == nullptr) return false;
  try {
    // A gradient that borrowed its stops through xlink:href gets a list of
    // its own for the stops it defines, so the referenced one never changes.
    if (g->stops == nullptr || !g->owns_stops) {
      g->stops = new cSVGColorStops();
      g->owns_stops = true;
    }
    rSVGStop* stop = g->stops->Append(1);
    if (stop == nullptr) {
      const int32_t code = g->stops->LastError() != 0 ? g->stops->LastError() : errNEnoughMem;
      raise_base_error(code, "{stops.Append}");
    }
    mStop = stop;
    const bool ok =
        each_attr(attrs, [&](std::string_view name, std::string_view value) { return ParseStopAttr(name, value); });
    mStop = nullptr;
    return ok;
  } catch (...) {
    mStop = nullptr;
    LogCurrent();
    return false;
  }
}

bool cSVGParser::ParseStopAttr(std::string_view name, std::string_view value) {
  const std::string up = string_trim_upper(name);
  if (up == "STYLE") return ParseStyle(value, &cSVGParser::ParseStopAttr);
  rSVGStop* stop = mStop;
  if (stop == nullptr) return false;
  try {
    if (up == "ID") {
      stop->id = std::string(value);
    } else if (up == "OFFSET") {
      if (!value.empty() && value.back() == '%') {
        double v = number_of(value.substr(0, value.size() - 1));
        v = v < 0 ? 0 : (v > 100 ? 100 : v);
        stop->offset = v > 0 ? v / 100 : v;
      } else {
        const double v = number_of(value);
        stop->offset = v < 0 ? 0 : (v > 1 ? 1 : v);
      }
    } else if (up == "STOP-COLOR") {
      const tSVGColor* c = ParseColor(value);
      if (c == nullptr) return false;
      stop->color = *c;
    } else if (up == "STOP-OPACITY") {
      stop->color.a = opacity_of(value);
    }
    return true;
  } catch (...) {
    LogCurrent();
    return false;
  }
}
