// Gradients: the paint servers that fills and pens use in place of a solid
// colour. A gradient has its own matrix, opacity, frame flags (relative,
// fit to bounds), spread and colour range d1..d2; the colour-ramp gradients
// add colour stops and a colour lookup table built from them. Three concrete
// classes exist: linear along x, linear along y, radial with a focal point.
//
// The renderer borrows gradients: it never frees one, and reads its state at
// every paint. A caller frees a gradient only after resetting the fill or
// pen gradient that holds it.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "qlm_agg_extensions.h"
#include "qlm_base_array.h"
#include "qlm_base_sort.h"
#include "qlm_renderer_types.h"

// One colour stop: the offset along the colour range (0..1) and a renderer
// colour (red in bits 0-7, green 8-15, blue 16-23, alpha 24-31).
struct rColorStop {
  double offset = 0;
  uint32_t colour = 0;
};

// The list of colour stops, without links, kept in ascending order of offset
// compared in thousandths.
class cColorRamp : public cArrayOf<rColorStop, 0> {
 public:
  cColorRamp() : cArrayOf<rColorStop, 0>(6) {}

 protected:
  cArray* NewEmpty() const override { return new (std::nothrow) cColorRamp(); }
};

// Ramp order: two offsets are equal when trunc(a x 1000 - b x 1000) is 0.
int32_t color_stop_compare(const void* a, const void* b);

// The colour lookup table of a colour-ramp gradient, sized at run time. It is
// built as AGG's gradient_lut builds its fixed-size table (stops sorted
// stably by their exact offsets, later duplicates of an offset dropped, the
// boundaries uround(offset x size), AGG's rgba8 colour interpolator between
// them, the ends padded), so at 256 entries it equals AGG's table byte for
// byte. Fewer than two distinct stops, where AGG leaves the table unset: none
// gives transparent black everywhere, one gives its colour everywhere.
// Usable as the colour function of AGG's span generators.
class gradient_color_table {
 public:
  // False (and an empty table) when the memory cannot be had or size is 0.
  bool build(std::span<const rColorStop> stops, uint32_t size);
  unsigned size() const { return mSize; }
  const agg::rgba8& operator[](unsigned i) const { return mColors[i]; }

 private:
  std::unique_ptr<agg::rgba8[]> mColors;
  unsigned mSize = 0;
};

// The largest colour table a gradient builds.
constexpr uint32_t cnGradientMaxColors = 65536;

// --- cGradient -------------------------------------------------------------------
// The abstract base: matrix, opacity, frame flags, spread and colour range.
class cGradient : public cBase {
 public:
  bool Identify(uint32_t id) const override;

  // Removes the colour stops (nothing in the base).
  virtual void Clear() {}
  // The gradient's own matrix: each operation applies after the existing
  // transformation (angles of Rotate in degrees, of Skew in radians).
  virtual void Translate(double dx, double dy);
  virtual void Rotate(double degrees);
  virtual void Scale(double sx, double sy);
  virtual void Skew(double ax, double ay);
  // Opacity applied to the alpha of every colour stop added afterwards.
  virtual void SetOpacity(uint8_t opacity) { mOpacity = opacity; }
  // The colour range, stored as absolute values; a value that is not finite
  // keeps the previous one.
  virtual void SetD1(double d);
  virtual void SetD2(double d);
  virtual void SetMaxColors(uint32_t) {}
  virtual uint32_t GetMaxColors() const { return 0; }
  // The colour of table entry `index`; nil when there is none. The base
  // answers transparent black.
  virtual const agg::rgba8* GetColor(uint32_t index);
  // The colour table, built when absent; nil in the base and when it cannot
  // be built.
  virtual const gradient_color_table* GetColorTable() { return nullptr; }
  virtual double GetExtentX() const { return mD2; }
  virtual double GetExtentY() const { return mD2; }

  bool IsValid() const { return mValid; }
  rMatrix& GetMatrix() { return mMatrix; }
  const rMatrix& GetMatrix() const { return mMatrix; }
  void SetRelative(bool flag) { mRelative = flag; }
  bool IsRelative() const { return mRelative; }
  void SetFitToBounds(bool flag) { mFitToBounds = flag; }
  bool IsFitToBounds() const { return mFitToBounds; }
  // 0 pad, 1 repeat, 2 reflect; other values pad.
  void SetSpread(uint8_t spread) { mSpread = spread; }
  uint8_t GetSpread() const { return mSpread; }
  double GetD1() const { return mD1; }
  double GetD2() const { return mD2; }

 protected:
  cGradient();

  rMatrix mMatrix;
  uint8_t mOpacity = 255;
  bool mRelative = true;
  bool mFitToBounds = true;
  uint8_t mSpread = 0;
  double mD1 = 0.0;
  double mD2 = 100.0;
  bool mValid = false;
};

// --- cGradientColorRamp ------------------------------------------------------------
// A gradient with colour stops and a colour table of GetMaxColors entries,
// built on demand and dropped whenever the stops or the size change.
class cGradientColorRamp : public cGradient {
 public:
  // Table sizes below 2 become 2, above cnGradientMaxColors that.
  explicit cGradientColorRamp(uint32_t maxColors);
  bool Identify(uint32_t id) const override;

  void Clear() override;
  void SetMaxColors(uint32_t n) override;
  uint32_t GetMaxColors() const override { return mMaxColors; }
  const agg::rgba8* GetColor(uint32_t index) override;
  const gradient_color_table* GetColorTable() override;

  // Adds a stop (the opacity in force scales its alpha) and keeps the ramp
  // sorted. An offset below 0, above 1 or not a number is refused; false
  // then (or when memory fails), and nothing changes.
  virtual bool AddStop(uint32_t colour, double offs);
  // 0xAARRGGBB; 0x00RRGGBB with a separate alpha; four bytes.
  bool AddStopARGB(uint32_t argb, double offs);
  bool AddStopRGB(uint32_t rgb, uint8_t alpha, double offs);
  bool AddStopRGBA(uint8_t r, uint8_t g, uint8_t b, uint8_t a, double offs);
  // The stops in ramp order; nil after the last.
  const rColorStop* FirstStop();
  const rColorStop* NextStop();
  uint32_t StopCount() const { return mRamp.Count(); }

 protected:
  cColorRamp mRamp;
  cArrayIterator mRampIterator;
  uint32_t mMaxColors;
  std::unique_ptr<gradient_color_table> mColorTable;
};

// --- The three gradients ------------------------------------------------------------
// Linear along x (y): the colour range runs from d1 to d2 along the axis. A
// rotation turns the gradient about (d2/2, d2/2).
class cGradientLinearX : public cGradientColorRamp {
 public:
  cGradientLinearX(double d1, double d2);
  bool Identify(uint32_t id) const override;
  void Rotate(double degrees) override;
};

class cGradientLinearY : public cGradientColorRamp {
 public:
  cGradientLinearY(double d1, double d2);
  bool Identify(uint32_t id) const override;
  void Rotate(double degrees) override;
};

// Radial with a focal point: radius r around the origin, focus (fx, fy);
// `extended` asks for the focal function that handles a focus on or outside
// the circle (AGG's radial-focus function does both).
class cGradientRadialFocus : public cGradientColorRamp {
 public:
  cGradientRadialFocus(bool extended, double r, double fx, double fy);
  bool Identify(uint32_t id) const override;
  virtual double GetRadiusX() const { return mRadius; }
  virtual double GetRadiusY() const { return mRadius; }
  double GetRadius() const { return mRadius; }
  double GetFocusX() const { return mFocusX; }
  double GetFocusY() const { return mFocusY; }
  bool IsExtended() const { return mExtended; }

 protected:
  double mRadius;
  double mFocusX;
  double mFocusY;
  bool mExtended;
};

// The renderer's kind of a gradient (1 linear x, 2 linear y, 9 radial focus;
// the type tests in the renderer's fixed order, reserved kinds included);
// 0 for nil, an invalid gradient or one that answers no kind id.
uint8_t gradient_kind_of(const cGradient* gradient);

// What one gradient paint of the renderer needs, prepared from the gradient,
// its frame and the drawing's chain.
struct rGradientPaint {
  uint8_t kind = 0;    // 1 x, 2 y, 9 radial focus
  uint8_t spread = 0;  // 0 pad, 1 repeat, 2 reflect
  int focus_r = 0, focus_x = 0, focus_y = 0;  // radial focus, 1/16 units
  double focus_r2 = 0, focus_mul = 0;
  int d1 = 0, d2 = 0;  // the colour range, 1/16 units
  const gradient_color_table* table = nullptr;
  bool perspective = false;
  agg::trans_affine mapping;  // device to gradient space (after the perspective)
  double persp[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  bool distort = false;
  qlm_agg::distortion_dispatch distortion;
};

// Test seam: false makes every gradient go through the pixel-by-pixel
// painter, so that tests can compare the linear gradients' row and column
// painter with it; true (the default) restores it.
void gradient_axis_painter_enable(bool on);
