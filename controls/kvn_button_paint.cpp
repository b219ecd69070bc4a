#include "kvn_button_paint.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "qlm_bitmap_filters.h"
#include "qlm_complex_text.h"
#include "qlm_gradient.h"
#include "qlm_path_group.h"
#include "qlm_renderer.h"

namespace {

constexpr uint32_t W = 0xFFFFFF;

// Colours are 0xRRGGBB, one row per colour index.
struct rRoundRow {
  uint32_t body, outline, lowerGlow, white, upperMid, upperTop;
};
constexpr rRoundRow kRound[6] = {
    {0x0032B4, 0x000050, 0x64C8FF, W, 0x0000FF, 0x64FFFF}, {0x00B41E, 0x005000, 0xACFF64, W, 0x00FF00, 0xBEFF64},
    {0xE03C5C, 0x500000, 0xFF9364, W, 0xFF0000, 0xFC9292}, {0xB43300, 0x870F1D, 0xF5B55A, W, 0xFF9500, 0xF5D693},
    {0xD68111, 0xA86309, 0xF2CE61, W, 0xFFC300, 0xFFE564}, {0x313131, 0x090909, 0xB0B0B0, W, 0x1D1D1D, 0xD0D0D0},
};

struct rBoxRow {
  uint32_t body, top1, top0, bottom1, bottom0;
};
constexpr rBoxRow kBox[6] = {
    {0x6E5EB2, 0x799AEC, 0xCDCFF9, 0x1815A9, 0x3954C0}, {0x59AD53, 0x7BEB80, 0xCDF9CF, 0x14911B, 0x2EB835},
    {0xB25E6E, 0xEC798F, 0xF9CDD5, 0xA91432, 0xC03958}, {0xD47D04, 0xECBC79, 0xF9E1CD, 0xCF9008, 0xE6A919},
    {0xE0D904, 0xE6E63A, 0xF9F8CD, 0xD4C70F, 0xE0DC00}, {0x787878, 0x9D9D9D, 0xDBDBDB, 0x434343, 0x646464},
};

struct rGlassRow {
  uint32_t body, face1, face0, high1, high0;
};
constexpr rGlassRow kGlass[6] = {
    {0x2850AD, 0x8EA7DE, 0x140787, 0x4F55BD, 0x8D8FC7}, {0x62AD58, 0xAEDBA7, 0x167809, 0x5CB866, 0x85D986},
    {0xE05A5A, 0xEB9999, 0xAB2020, 0xB05151, 0xCC8181}, {0xFFBC4F, 0xFFD494, 0xFF8400, 0xE0A23E, 0xF5C770},
    {0xE0DD16, 0xF3F590, 0xCFC80B, 0xDEDB11, 0xEBEB4C}, {0x7F7F7F, 0xD2D2D2, 0x141414, 0x8B8B8B, 0xC4C4C4},
};

struct rGelRow {
  uint32_t body, lowerGlow;
};
constexpr rGelRow kGel[6] = {
    {0x2C3585, 0x59D0FF}, {0x236932, 0x57FF5A}, {0x99251F, 0xFC97A5},
    {0xB56E04, 0xFFBF59}, {0x717100, 0xFEFE00}, {0x646464, 0xE1E1E1},
};

struct rCandyRow {
  uint32_t centre, rim;
};
constexpr rCandyRow kCandy[6] = {
    {0xA7DCEC, 0x14A7C7}, {0xD8ED08, 0x9CCC17}, {0xEC798F, 0xC03958},
    {0xFFBF00, 0xFF4100}, {0xFCF18D, 0xDBC907}, {0xC7C7C7, 0x505050},
};

// A face is drawn only when its place is finite and it is at least
// minW x minH (a comparison with NaN fails too).
bool face_fits(double x, double y, double w, double h, double minW, double minH) {
  return std::isfinite(x) && std::isfinite(y) && std::isfinite(w) && std::isfinite(h) && w >= minW && h >= minH;
}

// Fills what draw paints with the gradient, then returns the renderer to a
// solid fill: the gradient is freed by the caller right after.
template <class Draw>
void fill_gradient(cRenderer& r, cGradient& g, Draw draw) {
  r.SetFillGradient(&g);
  draw();
  r.ResetFillGradient(false);
  r.FillSolid();
}

// A vertical two-stop ramp, opaque, from `top` at the top to `bottom` at the
// bottom of each drawn shape.
template <class Draw>
void fill_ramp_down(cRenderer& r, uint32_t bottom, uint32_t top, Draw draw) {
  cGradientLinearY g(0, 100);
  g.AddStopRGB(bottom, 255, 1);
  g.AddStopRGB(top, 255, 0);
  fill_gradient(r, g, draw);
}

// The focus glow ring around the face shape: a grown, blurred shadow
// coloured by a pale-yellow to dark-red ramp, cast by a nearly invisible
// copy of the face. With castDrop a first such copy casts the caller's drop
// shadow.
template <class Shape>
void glow_ring(cRenderer& r, Shape shape, bool castDrop = true) {
  r.SetFillColorRGB(W, 1);
  r.PenOff();
  if (castDrop) {
    r.SetFillShadow(true);
    shape(nullptr);
  }
  r.SetGrowShadow(1.0);
  r.SetShadowBlurred(true);
  r.SetShadowBlur(2.5);
  cGradientLinearY ramp(0, 100);
  ramp.AddStopRGBA(255, 251, 152, 255, 0);
  ramp.AddStopRGBA(178, 34, 34, 255, 1);
  r.SetShadowColorRamp(&ramp);
  shape(nullptr);
  r.ClearShadowColorRamp();
  r.ShadowOff();
}

// The caption centred on (cx, cy - dy) with a dark blurred halo of radius
// blur around every glyph; an empty plain caption draws nothing.
void draw_caption(cRenderer& r, const std::string& caption, cComplexText* markup, double cx, double cy, double blur,
                  double dy) {
  r.ResetShadow(true);
  r.SetGrowShadow(1.0);
  r.SetShadowBlurred(true);
  r.SetShadowBlur(blur);
  r.SetShadowColorRGBA(0, 0, 50, 200);
  r.SetTextAlign(ALIGN_CENTER, ALIGN_CENTER);
  r.PenOn();
  if (markup != nullptr)
    markup->RenderText(&r, 6, cx - markup->GetLineWidth() / 2, cy - dy - markup->GetHeight() / 2, nullptr);
  else if (!caption.empty())
    r.DrawText(caption, cx, cy - dy, nullptr);
}

// Records the shape (capture only, nothing drawn) into the group and clips
// to it.
template <class Shape>
void clip_to(cRenderer& r, cPathGroup& group, Shape shape) {
  r.SetCaptureGroup(&group, true);
  shape();
  r.ClearCaptureGroup();
  r.ClipPathGroup(&group, 0, 0);
}

// Sets the post-filter unless the face is grey; answers whether it was set.
bool own_filter(cRenderer& r, bool grey, tRendererFilterCallback filter, int32_t margin) {
  return !grey && r.SetFilterCallback(filter, margin, &r);
}

// A blur radius: the length through the renderer's transformations,
// rounded half to even; held to 0..1000.
int32_t blur_radius(void* user, double length) {
  auto* r = static_cast<cRenderer*>(user);
  double v = r != nullptr ? r->TransformLength(length) : length;
  if (!std::isfinite(v)) v = length;
  return int32_t(std::nearbyint(std::clamp(v, 0.0, 1000.0)));
}

}  // namespace

void button_filter_grey(cBitmap* layer, bool&, void*) { bf_lightness(layer, 190, 0, nullptr); }

void button_filter_glass(cBitmap* layer, bool&, void* user) {
  bf_gaussian_blur(layer, blur_radius(user, 2.0), 0, nullptr);
}

void button_filter_gel_glow(cBitmap* layer, bool&, void* user) {
  bf_gaussian_blur(layer, blur_radius(user, 3.0), 0, nullptr);
}

void button_filter_gel_highlight(cBitmap* layer, bool&, void* user) {
  bf_gaussian_blur(layer, blur_radius(user, 1.0), 0, nullptr);
  bf_lightness(layer, 200, 0, nullptr);
}

void button_draw_round(cRenderer* renderer, const std::string& caption, bool clipText, double x, double y, double w,
                       double h, TColorIndex color, bool glow, cHitTest* hit, cComplexText* markup) {
  if (renderer == nullptr || !face_fits(x, y, w, h, 2, 2)) return;
  cRenderer& r = *renderer;
  const rRoundRow& c = kRound[button_color_row(color)];
  const double rx = std::min(w / 2, 12.0), ry = std::min(h / 2, 18.0);
  auto face = [&](cHitTest* t) { r.DrawRoundRectElliptic(t, x, y, x + w, y + h, rx, ry); };
  auto inner = [&] { r.DrawRoundRectElliptic(nullptr, x + 1, y + 1, x + w - 1, y + h - 1, rx, ry); };

  r.SetGamma(1.0);
  if (glow) glow_ring(r, face);
  r.SetFillColorRGB(c.body, 180);
  r.SetPenColorRGB(c.outline, 255);
  r.SetPenWidth(1.0);
  face(hit);
  r.ShadowOff();

  // Two reflected ramps in device space, from y + 4 (y + 2) down to the
  // bottom edge and mirrored beyond it.
  auto band = [&](double top) {
    auto g = std::make_unique<cGradientLinearY>(0, h - 2);
    g->SetRelative(false);
    g->SetFitToBounds(false);
    g->SetSpread(eGradientSpread::reflect);
    g->Translate(x, top);
    return g;
  };
  {
    auto g = band(y + 4);
    g->AddStopRGB(c.lowerGlow, 255, 1);
    g->AddStopRGB(c.white, 0, 0.5);
    g->AddStopRGB(c.white, 0, 0);
    r.SetPenColorRGBA(0, 0, 0, 0);
    fill_gradient(r, *g, inner);
  }
  {
    auto g = band(y + 2);
    g->AddStopRGB(0, 0, 1);
    g->AddStopRGB(c.upperMid, 0, 0.5);
    g->AddStopRGB(c.upperTop, 255, 0);
    fill_gradient(r, *g, inner);
  }

  std::unique_ptr<cPathGroup> clip;
  if (clipText) {
    clip = std::make_unique<cPathGroup>();
    r.FillSolid();
    r.SetFillColorARGB(0xFFFFFFFF);
    r.PenOff();
    clip_to(r, *clip, inner);
  }
  draw_caption(r, caption, markup, x + w / 2, y + h / 2, 5, 1);
  if (clipText) r.ClipOff();
}

void button_draw_box(cRenderer* renderer, const std::string& caption, bool clipText, double x, double y, double w,
                     double h, TColorIndex color, bool glow, cHitTest* hit, cComplexText* markup) {
  if (renderer == nullptr || !face_fits(x, y, w, h, 2, 2)) return;
  cRenderer& r = *renderer;
  const rBoxRow& c = kBox[button_color_row(color)];
  auto face = [&](cHitTest* t) { r.DrawRectangle(t, x, y, x + w, y + h); };

  r.SetGamma(1.0);
  if (glow) glow_ring(r, face);
  r.PenOff();
  r.SetFillColorRGB(c.body, 255);
  face(hit);
  r.ShadowOff();

  const double hh = (h - 2) / 2;
  fill_ramp_down(r, c.top1, c.top0, [&] { r.DrawRectangle(nullptr, x + 1, y + 1, x + w - 1, y + 1 + hh); });
  fill_ramp_down(r, c.bottom1, c.bottom0,
                 [&] { r.DrawRectangle(nullptr, x + 1, y + 1 + hh, x + w - 1, y + 1 + 2 * hh); });

  if (clipText) r.ClipRect(x + 1, y + 1, x + w - 1, y + h - 1);
  draw_caption(r, caption, markup, x + w / 2, y + h / 2, 3, 0);
  if (clipText) r.ClipOff();
}

void button_draw_glass(cRenderer* renderer, const std::string& caption, bool clipText, double x, double y, double w,
                       double h, TColorIndex color, bool glow, cHitTest* hit, cComplexText* markup) {
  if (renderer == nullptr || !face_fits(x, y, w, h, 4, 4)) return;
  cRenderer& r = *renderer;
  const TColorIndex row = button_color_row(color);
  const rGlassRow& c = kGlass[row];
  const bool grey = row == CLR_GRAY;
  auto face = [&](cHitTest* t) { r.DrawRoundRect(t, x, y, x + w, y + h, 6); };

  r.SetGamma(1.0);
  if (glow) glow_ring(r, face);
  // A blurred, soft-edged slab under the sharp face.
  r.PenOff();
  const bool filtered = own_filter(r, grey, &button_filter_glass, 20);
  r.SetFillColorRGB(c.body, 255);
  face(hit);
  if (filtered) r.FilterCallbackOff();
  r.ShadowOff();
  fill_ramp_down(r, c.face1, c.face0, [&] { face(nullptr); });
  fill_ramp_down(r, c.high1, c.high0,
                 [&] { r.DrawRoundRectTopBottom(nullptr, x + 2, y + 2, x + w - 2, y + 4 * h / 7, 0, 0, 6, 6); });

  std::unique_ptr<cPathGroup> clip;
  if (clipText) {
    clip = std::make_unique<cPathGroup>();
    clip_to(r, *clip, [&] { r.DrawRoundRect(nullptr, x + 1, y + 1, x + w - 1, y + h - 1, 6); });
  }
  draw_caption(r, caption, markup, x + w / 2, y + h / 2, 3, 0);
  if (clipText) r.ClipOff();
}

void button_draw_gel(cRenderer* renderer, const std::string& caption, bool clipText, double x, double y, double w,
                     double h, TColorIndex color, bool glow, cHitTest* hit, cComplexText* markup) {
  if (renderer == nullptr || !face_fits(x, y, w, h, 10, 6)) return;
  cRenderer& r = *renderer;
  const TColorIndex row = button_color_row(color);
  const rGelRow& c = kGel[row];
  const bool grey = row == CLR_GRAY;
  const double r1 = std::min(h / 2, 18.0), r2 = std::min(h / 2, 12.0);
  auto face = [&](cHitTest* t) { r.DrawRoundRect(t, x, y, x + w, y + h, r1); };

  r.SetGamma(1.0);
  if (glow) glow_ring(r, face);
  r.PenOff();
  r.SetFillColorRGB(c.body, 255);
  face(hit);
  r.ShadowOff();
  // Clipped to the face: the highlight layers (and maybe the caption).
  cPathGroup clip;
  clip_to(r, clip, [&] { face(nullptr); });

  // A soft light band over the lower two thirds.
  r.SetFillColorRGB(c.lowerGlow, 255);
  bool filtered = own_filter(r, grey, &button_filter_gel_glow, 15);
  r.DrawRoundRect(nullptr, x, y + h / 3, x + w, y + h, r1);
  if (filtered) r.FilterCallbackOff();
  {
    cGradientLinearY g(0, 100);
    g.AddStopRGB(W, 255, 0);
    g.AddStopRGB(W, 10, 1);
    filtered = own_filter(r, grey, &button_filter_gel_highlight, 15);
    fill_gradient(r, g, [&] { r.DrawRoundRectTopBottom(nullptr, x + 10, y + 4, x + w - 10, y + h / 2, 5, 5, r2, r2); });
    if (filtered) r.FilterCallbackOff();
  }

  if (!clipText) r.ClipOff();
  draw_caption(r, caption, markup, x + w / 2, y + h / 2, 5, 0);
  if (clipText) r.ClipOff();
}

void button_draw_candy(cRenderer* renderer, const std::string& caption, bool clipText, double x, double y, double w,
                       double h, TColorIndex color, bool glow, bool anisotropic, cHitTest* hit, cComplexText* markup) {
  if (renderer == nullptr || !face_fits(x, y, w, h, 2, 2)) return;
  cRenderer& r = *renderer;
  const rCandyRow& c = kCandy[button_color_row(color)];
  const uint8_t aspect = anisotropic ? 0 : 5;
  auto viewport = [&] { r.SetViewport(aspect, 0, 0, 80, 80, x, y, x + w, y + h); };

  // The disc's centre and radii in device pixels.
  viewport();
  double cx = 40, cy = 40;
  r.TransformPoint(cx, cy, true);
  double rx = 0, ry = 0;
  if (anisotropic) {
    double ax = 40, ay = 20, bx = 20, by = 40;
    r.TransformPoint(ax, ay, true);
    r.TransformPoint(bx, by, true);
    rx = ax - x;
    ry = by - y;
  } else {
    rx = ry = r.TransformLength(40.0);
  }
  auto face = [&](cHitTest* t) {
    if (anisotropic)
      r.DrawEllipse(t, cx, cy, rx, ry);
    else
      r.DrawCircle(t, cx, cy, rx);
  };

  r.ResetMatrix(true);
  r.ResetTransformations(true);
  r.SetGamma(1.0);
  r.PenOff();
  // A faint disc casts the caller's drop shadow and registers the hit area.
  r.SetFillColorRGB(W, 10);
  r.SetFillShadow(true);
  face(hit);
  r.ShadowOff();
  if (glow) glow_ring(r, face, false);

  viewport();
  {
    cGradientRadialFocus g(true, 100, 0, 40);
    g.SetD1(40);
    g.AddStopRGB(c.centre, 255, 0);
    g.AddStopRGB(c.rim, 255, 1);
    fill_gradient(r, g, [&] { r.DrawCircle(nullptr, 40, 40, 40); });
  }
  {
    cGradientLinearY g(0, 100);
    g.AddStopRGB(W, 255, 0);
    g.AddStopRGB(W, 220, 0.1);
    g.AddStopRGB(0x696969, 200, 1);
    r.SetCompOp(16);
    fill_gradient(r, g, [&] { r.DrawEllipse(nullptr, 40, 27, 30, 22); });
    r.SetCompOp(0);
  }
  r.ResetTransformations(true);

  if (clipText) r.ClipEllipse(cx, cy, rx, ry);
  draw_caption(r, caption, markup, cx, cy, 5, 0);
  if (clipText) r.ClipOff();
}

void button_draw(TButtonType type, cRenderer* r, const std::string& caption, bool clipText, double x, double y,
                 double w, double h, TColorIndex color, bool glow, bool anisotropic, cHitTest* hit,
                 cComplexText* markup) {
  switch (type) {
    case BTN_BOX: button_draw_box(r, caption, clipText, x, y, w, h, color, glow, hit, markup); break;
    case BTN_GLASS: button_draw_glass(r, caption, clipText, x, y, w, h, color, glow, hit, markup); break;
    case BTN_GEL: button_draw_gel(r, caption, clipText, x, y, w, h, color, glow, hit, markup); break;
    case BTN_CANDY: button_draw_candy(r, caption, clipText, x, y, w, h, color, glow, anisotropic, hit, markup); break;
    default:  // BTN_ROUND, and a look out of range
      button_draw_round(r, caption, clipText, x, y, w, h, color, glow, hit, markup);
      break;
  }
}
