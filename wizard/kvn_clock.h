// The analog clock's state records: its settings, its style and the shared
// state with the face geometry. The installer's status panel places its
// picture and status text in the clock's drawing rectangle; nothing here
// draws a clock.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "qlm_base_util.h"
#include "qlm_renderer_types.h"

class cHitTest;
class cPath;
class cGradientLinearX;
class cImageSVG;

// The clock's settings (the status panel reads none of them).
struct rClockSettings {
  std::array<uint8_t, 9> flags1{};
  std::array<uint32_t, 3> numbers1{};
  std::array<uint8_t, 18> flags2{};
  uint32_t number2 = 0;
  std::string web;
  std::array<uint8_t, 2> flags3{};
  std::array<int32_t, 16> numbers3{};
  uint8_t flag4 = 0;
  std::array<int32_t, 2> numbers4{};

  // Every field to its default.
  void Init();
  // Releases the string.
  void Finalize() { std::string().swap(web); }
};

// The web page the clock's settings hold.
extern const char* const cnClockWeb;

struct rClockFontDesc {
  std::string name;
  double size = 0;
};

// The clock's colours and fonts.
struct rClockStyle {
  std::string name;
  bool flag = false;
  std::array<uint32_t, 18> colors{};
  std::array<uint8_t, 10> flags{};
  uint8_t value = 0;
  rClockFontDesc fonts[2];
  std::string texts[3];

  // Everything to zero and empty.
  void Clear() { *this = rClockStyle(); }
  // Releases the strings (the record is empty afterwards).
  void Finalize() { Clear(); }
};

struct rClockCommons {
  rClockCommons();
  ~rClockCommons();
  rClockCommons(const rClockCommons&) = delete;
  rClockCommons& operator=(const rClockCommons&) = delete;

  // A clock state with the default settings and style and the digit
  // pictures read from "..\digit_i0.svg" to "..\digit_i9.svg" and
  // "..\digit_idot.svg" (a picture that does not load stays nil and counts
  // with width 0). Nil when memory fails.
  static rClockCommons* New();
  // Frees the state and sets the pointer to nil (nil is ignored).
  static void Free(rClockCommons*& commons);

  // The face geometry for a clock of size S with a face of size D: ring
  // widths, the face and inner rectangles, the two face outlines and the
  // face gradient (replacing earlier ones).
  void SetSize(double clockSize, double faceSize);

  bool flags[2] = {false, false};
  // Hit tests that count the interior of what is drawn: two, then four
  // groups of four.
  std::array<std::unique_ptr<cHitTest>, 18> hits;
  std::mutex lock;
  uint32_t words[2] = {0, 0};
  rClockSettings settings;
  std::array<double, 8> geometry{0, 0, 0, 0, 0, 0, 0, -1.0};
  bool geometryFlags[4] = {false, false, false, false};

  // The time and date the status panel writes every tick.
  uint16_t hour = 0, minute = 0, second = 0, millisecond = 0;
  uint8_t day = 0, month = 0;
  uint16_t year = 0, weekday = 0;

  // Set by SetSize.
  double clockSize = 0, faceSize = 0;
  double ring1 = 0, ring2 = 0, ring3 = 0, ring4 = 0;
  rRectD face;     // (x1, y1)-(x2, y2): left, top, right, bottom
  rRectD inner;    // the face less the outer ring
  rRectD drawing;  // a copy of the inner rectangle: where the clock draws

  // The digit pictures 0 to 9 and the dot, their bounds and offsets.
  std::array<std::unique_ptr<cImageSVG>, 11> digits;
  std::array<rRectD, 11> digitBounds{};
  std::array<double, 11> digitOffsetX{}, digitOffsetY{};
  double digitWidth = 0;  // the widest digit, scaled
  rMatrix digitScale;     // 1.4 x 1.4

  rClockStyle style;
  std::unique_ptr<rClockStyle> secondStyle;
  std::unique_ptr<cPath> outline1, outline2;
  std::unique_ptr<cGradientLinearX> faceGradient;
};
