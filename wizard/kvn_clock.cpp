#include "kvn_clock.h"

#include <algorithm>
#include <new>

#include "qlm_2D.h"
#include "qlm_gradient.h"
#include "qlm_path.h"
#include "qlm_renderer_hittest.h"
#include "qlm_renderer_svg.h"
#include "qlm_svg_image.h"

const char* const cnClockWeb = "https://www.korvane.example/";

void rClockSettings::Init() {
  flags1 = {1, 1, 0, 0, 0, 1, 0, 0, 0};
  numbers1 = {200, 20, 180};
  flags2 = {1, 1, 0, 1, 0, 1, 1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 1, 1};
  number2 = 60;
  web = cnClockWeb;
  flags3 = {0, 0};
  numbers3.fill(0);
  flag4 = 1;
  numbers4 = {10, 7};
}

rClockCommons::rClockCommons() {
  for (auto& h : hits) {
    h = std::make_unique<cHitTest>();
    h->SetHitInterior(true);
  }
  settings.Init();
  matrix_identity(digitScale);
  matrix_scale(digitScale, 1.4, 1.4);
  style.Clear();
  style.name = "Default";
  style.flag = true;
  style.colors = {0xFF828282, 0xFF141414, 0xFFFAFAFA, 0xFFDCDCDC, 0xFF000000, 0xFF000000,
                  0xFF000000, 0xFFFF0000, 0xFFB2E4CD, 0xFF000000, 0xFF000000, 0xFF008000,
                  0xFF16394D, 0xFFDCDCDC, 0x96000000, 0x96FFFFFF, 0xFF000000, 0xFF646464};
  style.flags = {1, 1, 0, 0, 1, 0, 0, 1, 0, 0};
  style.value = 255;
  style.fonts[0] = {"Tahoma", 31};
  style.fonts[1] = {"Tahoma", 30};
}

rClockCommons::~rClockCommons() {
  settings.Finalize();
  style.Finalize();
}

rClockCommons* rClockCommons::New() {
  auto* c = new (std::nothrow) rClockCommons;
  if (c == nullptr) return nullptr;
  static const char* const names[11] = {"..\\digit_i0.svg", "..\\digit_i1.svg", "..\\digit_i2.svg",  "..\\digit_i3.svg",
                                        "..\\digit_i4.svg", "..\\digit_i5.svg", "..\\digit_i6.svg",  "..\\digit_i7.svg",
                                        "..\\digit_i8.svg", "..\\digit_i9.svg", "..\\digit_idot.svg"};
  double widest = 0;
  for (int i = 0; i < 11; ++i) {
    c->digits[i] = svg_load(names[i]);
    if (c->digits[i] == nullptr) continue;
    rRectD b;
    c->digits[i]->Bounds(b);
    c->digitBounds[i] = b;
    // The offset brings the drawing's top-left to the origin, scaled as
    // the digit is drawn.
    double ox = -b.x1, oy = -b.y1;
    matrix_transform(c->digitScale, ox, oy);
    c->digitOffsetX[i] = ox;
    c->digitOffsetY[i] = oy;
    if (b.x2 - b.x1 > widest) widest = b.x2 - b.x1;
  }
  double w = widest, unused = 0;
  matrix_transform(c->digitScale, w, unused);
  c->digitWidth = w;
  return c;
}

void rClockCommons::Free(rClockCommons*& commons) {
  delete commons;
  commons = nullptr;
}

namespace {

// A path that starts with the arc of radius r around (c, c) from the point
// at angle `from` to the one at angle `to` (the short way).
std::unique_ptr<cPath> arc_path(double c, double r, double from, double to, double& x1, double& y1) {
  auto path = std::make_unique<cPath>();
  double x2 = 0, y2 = 0;
  point_on_circle(x1, y1, c, c, from, r);
  point_on_circle(x2, y2, c, c, to, r);
  path->MoveTo(x1, y1);
  path->ArcTo(r, r, 0, false, false, x2, y2);
  return path;
}

// Turns the closed path by `angle` degrees about (c, c), then moves it by
// (dx, dy).
void turn_about(cPath& path, double c, double angle, double dx, double dy) {
  path.ClosePolygon();
  rMatrix m;
  matrix_identity(m);
  matrix_translate(m, -c, -c);
  matrix_rotate(m, angle);
  matrix_translate(m, c + dx, c + dy);
  path.Transform(m);
}

}  // namespace

void rClockCommons::SetSize(double S, double D) {
  clockSize = S;
  faceSize = D;
  ring1 = 0.12 * D;
  ring2 = 0.075 * D;
  ring3 = 0.24 * D;
  ring4 = 0.2 * ring3;
  face.y1 = face.x1 = (S - D) / 2;
  face.x2 = face.x1 + D;
  face.y2 = face.y1 + D;
  inner.y1 = face.y1 + ring1;
  inner.x1 = face.x1 + ring1;
  inner.x2 = inner.x1 + D - 2 * ring1;
  inner.y2 = inner.y1 + D - 2 * ring1;
  drawing = inner;

  const double c = S / 2;
  // The first outline: a crescent between an arc of the face's circle and
  // a flatter one, turned by -70 degrees and moved a little up and left.
  {
    const double r = D / 2 - 32;
    double x1 = 0, y1 = 0;
    outline1 = arc_path(c, r, 335, 205, x1, y1);
    outline1->ArcTo(1.6 * r, 1.6 * r, 0, false, true, x1, y1);
    turn_about(*outline1, c, -70, -7, -6);
  }
  // The second outline: the upper arc of a smaller circle closed below by
  // two quadratic curves through a point under the centre.
  {
    const double r = D / 2 - 18;
    double x1 = 0, y1 = 0;
    outline2 = arc_path(c, r, 350, 190, x1, y1);
    outline2->Curve3(c - r / 2, c + r / 3, c, c + r / 5);
    outline2->Curve3(c + r / 2, c + r / 3, x1, y1);
    turn_about(*outline2, c, -2, 0, 0);
  }
  auto gradient = std::make_unique<cGradientLinearX>(0, 100);
  gradient->AddStopARGB(0xFFFFFFFF, 0);
  gradient->AddStopARGB(0xDCFFFFFF, 0.1);
  gradient->AddStopARGB(0xC8696969, 1.0);
  gradient->SetFitToBounds(true);
  gradient->SetRelative(true);
  faceGradient = std::move(gradient);
}
