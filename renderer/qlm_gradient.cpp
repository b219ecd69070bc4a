// Gradients, colour ramps and the run-time-sized colour table.
#include "qlm_gradient_paint.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <vector>

#include "qlm_base_codes.h"
#include "qlm_path.h"
#include "qlm_renderer_ids.h"
#include "qlm_renderer_state.h"

// --- Colour table -------------------------------------------------------------------

int32_t color_stop_compare(const void* a, const void* b) {
  const double oa = static_cast<const rColorStop*>(a)->offset;
  const double ob = static_cast<const rColorStop*>(b)->offset;
  const double t = std::trunc(oa * 1000 - ob * 1000);
  return t < 0 ? -1 : (t > 0 ? 1 : 0);
}

namespace {
agg::rgba8 rgba_of(uint32_t c) { return agg::rgba8(c & 0xFF, c >> 8 & 0xFF, c >> 16 & 0xFF, c >> 24 & 0xFF); }

// The `count` entries from colour `from` towards `to`, by the rule of AGG's
// rgba8 colour interpolator over count + 1 steps: each channel moves by
// step = (to - from) x 2^14 / (count + 1), truncated, and entry k is
// from + floor(k x step / 2^14).
//
// Each entry is computed from its own index rather than by adding the step
// entry after entry as AGG's interpolator does: g++ 12 at -O3 vectorises
// running sums of four channels into a main loop of 16-byte vectors (four
// entries) and a remainder loop of 8-byte vectors (two entries), and the
// remainder loop builds the vector of running sums for red and green only
// and uses it for blue and alpha as well: there blue = blue start + (red
// sum >> 14) and alpha = alpha start + (green sum >> 14), so the entries
// just before a stop came out as (11, 243, 12, 242) for (11, 243, 0, 255).
// It is a compiler fault, not undefined behaviour (the same loop written in
// plain C fails alike; -O2, -fno-tree-loop-vectorize or --param
// vect-epilogues-nomask=0 give the right table). Only segments whose length
// leaves such a remainder fail: a ramp with stops at 0 and 1 only (one
// segment of 256 entries) escaped.
// The product k x step stays below 255 x 2^14 in magnitude, as k < count + 1.
void fill_segment(agg::rgba8* out, unsigned count, agg::rgba8 from, agg::rgba8 to) {
  const int len = int(count) + 1;
  const int r0 = from.r, g0 = from.g, b0 = from.b, a0 = from.a;
  const int rs = (to.r - r0) * 16384 / len, gs = (to.g - g0) * 16384 / len;
  const int bs = (to.b - b0) * 16384 / len, as = (to.a - a0) * 16384 / len;
  for (int k = 0; k < int(count); ++k)
    out[k] = agg::rgba8(unsigned(r0 + (k * rs >> 14)), unsigned(g0 + (k * gs >> 14)), unsigned(b0 + (k * bs >> 14)),
                        unsigned(a0 + (k * as >> 14)));
}
}  // namespace

bool gradient_color_table::build(std::span<const rColorStop> stops, uint32_t size, bool hard_stops) {
  mColors.reset();
  mSize = 0;
  if (size == 0) return false;
  std::unique_ptr<agg::rgba8[]> lut(new (std::nothrow) agg::rgba8[size]);
  if (lut == nullptr) return false;
  struct point {
    double offset;
    agg::rgba8 colour;
  };
  std::vector<point> profile;
  try {
    profile.reserve(stops.size());
  } catch (...) {
    return false;
  }
  for (const rColorStop& s : stops) {
    // AGG's colour point holds its offset within 0..1; a NaN never gets here
    // (AddStop refuses it), but it would index far outside the table.
    double o = s.offset;
    if (!(o >= 0.0)) o = 0.0;
    if (o > 1.0) o = 1.0;
    profile.push_back({o, rgba_of(s.colour)});
  }
  // Stable: of stops with one offset the first added stays (AGG's insertion
  // sort for short lists keeps that order too).
  std::stable_sort(profile.begin(), profile.end(), [](const point& a, const point& b) { return a.offset < b.offset; });
  // Kept, stops of one offset make a segment of no entries: the next segment
  // starts at their boundary from the last of them.
  if (!hard_stops)
    profile.erase(std::unique(profile.begin(), profile.end(),
                              [](const point& a, const point& b) { return a.offset == b.offset; }),
                  profile.end());
  if (profile.size() < 2) {
    const agg::rgba8 c = profile.empty() ? agg::rgba8(0, 0, 0, 0) : profile.front().colour;
    std::fill(lut.get(), lut.get() + size, c);
  } else {
    unsigned start = agg::uround(profile[0].offset * size);
    unsigned end = start;
    std::fill(lut.get(), lut.get() + start, profile[0].colour);
    for (size_t i = 1; i < profile.size(); ++i) {
      end = agg::uround(profile[i].offset * size);
      if (start < end) fill_segment(lut.get() + start, end - start, profile[i - 1].colour, profile[i].colour);
      start = std::max(start, end);
    }
    std::fill(lut.get() + std::min<unsigned>(end, size), lut.get() + size, profile.back().colour);
    const size_t n = profile.size();
    if (hard_stops && end >= size && profile[n - 2].offset == profile[n - 1].offset)
      lut[size - 1] = profile.back().colour;
  }
  mColors = std::move(lut);
  mSize = size;
  return true;
}

// --- cGradient ----------------------------------------------------------------------

cGradient::cGradient() { matrix_identity(mMatrix); }

bool cGradient::Identify(uint32_t id) const { return (id != 0 && id == id_cGradient) || cBase::Identify(id); }

void cGradient::Translate(double dx, double dy) { matrix_translate(mMatrix, dx, dy); }
void cGradient::Rotate(double degrees) { matrix_rotate(mMatrix, degrees); }
void cGradient::Scale(double sx, double sy) { matrix_scale(mMatrix, sx, sy); }
void cGradient::Skew(double ax, double ay) { matrix_skew(mMatrix, ax, ay); }

void cGradient::SetD1(double d) {
  if (std::isfinite(d)) mD1 = std::fabs(d);
}
void cGradient::SetD2(double d) {
  if (std::isfinite(d)) mD2 = std::fabs(d);
}

const agg::rgba8* cGradient::GetColor(uint32_t) {
  static const agg::rgba8 transparent(0, 0, 0, 0);
  return &transparent;
}

// --- cGradientColorRamp ---------------------------------------------------------------

namespace {
uint32_t held_max_colors(uint32_t n) { return std::clamp<uint32_t>(n, 2, cnGradientMaxColors); }
}  // namespace

cGradientColorRamp::cGradientColorRamp(uint32_t maxColors)
    : mRampIterator(&mRamp), mMaxColors(held_max_colors(maxColors)) {}

cGradientColorRamp::~cGradientColorRamp() = default;

bool cGradientColorRamp::Identify(uint32_t id) const {
  return (id != 0 && id == id_cGradientColorRamp) || cGradient::Identify(id);
}

void cGradientColorRamp::Clear() {
  mRamp.RemoveAll();
  mRampIterator.Reset();
  mColorTable.reset();
}

void cGradientColorRamp::SetMaxColors(uint32_t n) {
  mMaxColors = held_max_colors(n);
  mColorTable.reset();
}

const gradient_color_table* cGradientColorRamp::GetColorTable() {
  if (mColorTable != nullptr) return mColorTable.get();
  std::unique_ptr<gradient_color_table> table(new (std::nothrow) gradient_color_table);
  if (table == nullptr) return nullptr;
  std::vector<rColorStop> stops;
  try {
    stops.reserve(mRamp.Count());
    for (uint32_t i = 1; i <= mRamp.Count(); ++i) stops.push_back(*mRamp.Get(i));
  } catch (...) {
    return nullptr;
  }
  if (!table->build(stops, mMaxColors, mHardStops)) return nullptr;
  mColorTable = std::move(table);
  return mColorTable.get();
}

const agg::rgba8* cGradientColorRamp::GetColor(uint32_t index) {
  try {
    if (index > mMaxColors - 1) raise_condition_error(errPreCondition, "{index>mMaxColors-1}");
  } catch (...) {
    return nullptr;
  }
  const gradient_color_table* table = GetColorTable();
  return table != nullptr ? &(*table)[index] : nullptr;
}

bool cGradientColorRamp::AddStop(uint32_t colour, double offs) {
  try {
    if (offs < 0) raise_condition_error(errPreCondition, "{offs<0}");
    if (offs > 1) raise_condition_error(errPreCondition, "{offs>1}");
    // Not a number passes both tests above; it would index far outside the
    // colour table.
    if (std::isnan(offs)) raise_condition_error(errPreCondition, "{offs=NaN}");
  } catch (...) {
    return false;
  }
  rColorStop* stop = mRamp.Append(1);
  if (stop == nullptr) return false;
  if (mOpacity < 255) {
    const double a = double(colour >> 24);
    const uint32_t scaled = uint32_t(std::trunc(a / 255.0 * double(mOpacity) / 255.0 * 255.0 + 0.5));
    colour = (colour & 0x00FFFFFFu) | scaled << 24;
  }
  stop->offset = offs;
  stop->colour = colour;
  if (!mRamp.Sort(color_stop_compare)) {
    // The ramp stays sorted: the stop goes again.
    mRamp.RemoveLast(1);
    return false;
  }
  mRampIterator.Reset();
  mColorTable.reset();
  return true;
}

bool cGradientColorRamp::AddStopARGB(uint32_t argb, double offs) {
  return AddStop(renderer_color_from_argb(argb), offs);
}
bool cGradientColorRamp::AddStopRGB(uint32_t rgb, uint8_t alpha, double offs) {
  return AddStop(renderer_color_from_argb((rgb & 0x00FFFFFFu) | uint32_t(alpha) << 24), offs);
}
bool cGradientColorRamp::AddStopRGBA(uint8_t r, uint8_t g, uint8_t b, uint8_t a, double offs) {
  return AddStop(renderer_color(r, g, b, a), offs);
}

const rColorStop* cGradientColorRamp::FirstStop() {
  mRampIterator.Reset();
  return static_cast<const rColorStop*>(mRampIterator.First());
}
const rColorStop* cGradientColorRamp::NextStop() { return static_cast<const rColorStop*>(mRampIterator.Next()); }

// --- The three gradients ----------------------------------------------------------------

namespace {
// Turns the matrix about (d2/2, d2/2).
void rotate_about_middle(rMatrix& m, double d2, double degrees) {
  matrix_translate(m, -d2 / 2, -d2 / 2);
  matrix_rotate(m, degrees);
  matrix_translate(m, d2 / 2, d2 / 2);
}
}  // namespace

cGradientLinearX::cGradientLinearX(double d1, double d2) : cGradientColorRamp(256) {
  SetD1(d1);
  SetD2(d2);
  mValid = true;
}
bool cGradientLinearX::Identify(uint32_t id) const {
  return (id != 0 && id == id_cGradientLinearX) || cGradientColorRamp::Identify(id);
}
void cGradientLinearX::Rotate(double degrees) { rotate_about_middle(mMatrix, mD2, degrees); }

cGradientLinearY::cGradientLinearY(double d1, double d2) : cGradientColorRamp(256) {
  SetD1(d1);
  SetD2(d2);
  mValid = true;
}
bool cGradientLinearY::Identify(uint32_t id) const {
  return (id != 0 && id == id_cGradientLinearY) || cGradientColorRamp::Identify(id);
}
void cGradientLinearY::Rotate(double degrees) { rotate_about_middle(mMatrix, mD2, degrees); }

cGradientRadialFocus::cGradientRadialFocus(bool extended, double r, double fx, double fy)
    : cGradientColorRamp(256), mRadius(r), mFocusX(fx), mFocusY(fy), mExtended(extended) {
  mValid = true;
}
bool cGradientRadialFocus::Identify(uint32_t id) const {
  return (id != 0 && id == id_cGradientRadialFocus) || cGradientColorRamp::Identify(id);
}

// --- Kinds ---------------------------------------------------------------------------------

eGradientKind gradient_kind_of(const cGradient* gradient) {
  if (gradient == nullptr || !gradient->IsValid()) return eGradientKind::none;
  // Kinds 1 to 9, then 11 before 10, then 12 to 14.
  using enum eGradientKind;
  const struct {
    const uint32_t* id;
    eGradientKind kind;
  } order[] = {
      {&id_cGradientLinearX, linear_x}, {&id_cGradientLinearY, linear_y}, {&id_cGradientKind3, kind3},
      {&id_cGradientKind4, kind4},      {&id_cGradientKind5, kind5},      {&id_cGradientKind6, kind6},
      {&id_cGradientKind7, kind7},      {&id_cGradientKind8, kind8},      {&id_cGradientRadialFocus, radial_focus},
      {&id_cGradientKind11, kind11},    {&id_cGradientKind10, kind10},    {&id_cGradientKind12, kind12},
      {&id_cGradientKind13, kind13},    {&id_cGradientKind14, kind14},
  };
  for (const auto& o : order)
    if (gradient->Identify(*o.id)) return o.kind;
  return none;
}
