#include "kvn_clock.h"

#include <algorithm>
#include <new>

#include "qlm_2D.h"
#include "qlm_gradient.h"
#include "qlm_path.h"
#include "qlm_renderer_hittest.h"
#include "qlm_renderer_svg.h"
#include "qlm_svg.h"

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
  static const char* const names[11] = {"..\\digit_i0.svg", "..\\digit_i1.svg", "..\\digit_i2.svg", "..\\digit_i3.svg",
                                        "..\\digit_i4.svg", "..\\digit_i5.svg", "..\\digit_i6.svg", "..\\digit_i7.svg",
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
    auto path = std::make_unique<cPath>();
    const double r = D / 2 - 32;
    double x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    point_on_circle(x1, y1, c, c, 335, r);
    point_on_circle(x2, y2, c, c, 205, r);
    path->MoveTo(x1, y1);
    path->ArcTo(r, r, 0, false, false, x2, y2);
    path->ArcTo(1.6 * r, 1.6 * r, 0, false, true, x1, y1);
    path->ClosePolygon();
    rMatrix m;
    matrix_identity(m);
    matrix_translate(m, -c, -c);
    matrix_rotate(m, -70);
    matrix_translate(m, c - 7, c - 6);
    path->Transform(m);
    outline1 = std::move(path);
  }
  // The second outline: the upper arc of a smaller circle closed below by
  // two quadratic curves through a point under the centre.
  {
    auto path = std::make_unique<cPath>();
    const double r = D / 2 - 18;
    double x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    point_on_circle(x1, y1, c, c, 350, r);
    point_on_circle(x2, y2, c, c, 190, r);
    path->MoveTo(x1, y1);
    path->ArcTo(r, r, 0, false, false, x2, y2);
    path->Curve3(c - r / 2, c + r / 3, c, c + r / 5);
    path->Curve3(c + r / 2, c + r / 3, x1, y1);
    path->ClosePolygon();
    rMatrix m;
    matrix_identity(m);
    matrix_translate(m, -c, -c);
    matrix_rotate(m, -2);
    matrix_translate(m, c, c);
    path->Transform(m);
    outline2 = std::move(path);
  }
  auto gradient = std::make_unique<cGradientLinearX>(0, 100);
  gradient->AddStopARGB(0xFFFFFFFF, 0);
  gradient->AddStopARGB(0xDCFFFFFF, 0.1);
  gradient->AddStopARGB(0xC8696969, 1.0);
  gradient->SetFitToBounds(true);
  gradient->SetRelative(true);
  faceGradient = std::move(gradient);
}
