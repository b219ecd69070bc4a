// Gradients: the paint servers that fills and pens use in place of a solid
// colour. A gradient has its own matrix, opacity, frame flags (relative,
// fit to bounds), spread and colour range d1..d2; the colour-ramp gradients
// add colour stops and a colour lookup table built from them. Three concrete
// classes exist: linear along x, linear along y, radial with a focal point.
//
// The renderer borrows gradients: it never frees one, and reads its state at
// every paint. A caller frees a gradient only after resetting the fill or
// pen gradient that holds it. The colour table and what a paint prepares
// from a gradient are in qlm_gradient_paint.h.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "qlm_agg_forward.h"
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

class gradient_color_table;

// The largest colour table a gradient builds.
constexpr uint32_t cnGradientMaxColors = 65536;

// What a gradient paints beyond the ends of its colour range: the end
// colours (pad), the range again (repeat) or the range mirrored (reflect).
enum class eGradientSpread : uint8_t { pad = 0, repeat = 1, reflect = 2 };

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
  // An eGradientSpread; other values pad.
  void SetSpread(uint8_t spread) { mSpread = eGradientSpread(spread); }
  void SetSpread(eGradientSpread spread) { mSpread = spread; }
  uint8_t GetSpread() const { return uint8_t(mSpread); }
  double GetD1() const { return mD1; }
  double GetD2() const { return mD2; }

 protected:
  cGradient();

  rMatrix mMatrix;
  uint8_t mOpacity = 255;
  bool mRelative = true;
  bool mFitToBounds = true;
  eGradientSpread mSpread = eGradientSpread::pad;
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
  ~cGradientColorRamp() override;
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
  // Stops that share an offset switch colour there, the later one deciding
  // from that offset on (SVG's rule); off, the later ones are dropped.
  bool mHardStops = false;
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
