// The button painters: five stateless procedures that paint a button face
// (focus glow ring, body, highlight layers, optional clip, caption) into an
// attached renderer, with fixed colour tables per look, and the post-filters
// they and the push button use.
//
// The caller prepares the renderer: attached and reset, caption font
// selected, text colour set, and optionally a drop shadow, a wave or swirl
// distortion and a post-filter. The body is the shape registered in the
// caller's hit test.
#pragma once

#include <cstdint>
#include <string>

class cBitmap;
class cComplexText;
class cHitTest;
class cRenderer;

// The look.
enum TButtonType : uint8_t { BTN_ROUND = 0, BTN_BOX = 1, BTN_GLASS = 2, BTN_GEL = 3, BTN_CANDY = 4 };

// The colour scheme. Every painter draws a value above CLR_GRAY as
// CLR_GRAY.
enum TColorIndex : uint8_t { CLR_BLUE = 0, CLR_GREEN = 1, CLR_RED = 2, CLR_ORANGE = 3, CLR_YELLOW = 4, CLR_GRAY = 5 };

// The row of the colour tables that index uses (above CLR_GRAY: CLR_GRAY).
inline TColorIndex button_color_row(TColorIndex index) { return index > CLR_GRAY ? CLR_GRAY : index; }

// Faces below the look's minimum size (or with a size that is not a number)
// draw nothing and leave the hit test alone. An empty caption draws no text.
// markup, when given, is a formatted and laid-out document drawn instead of
// the plain caption.
void button_draw_round(cRenderer* r, const std::string& caption, bool clipText, double x, double y, double w, double h,
                       TColorIndex color, bool glow, cHitTest* hit, cComplexText* markup);
void button_draw_box(cRenderer* r, const std::string& caption, bool clipText, double x, double y, double w, double h,
                     TColorIndex color, bool glow, cHitTest* hit, cComplexText* markup);
void button_draw_glass(cRenderer* r, const std::string& caption, bool clipText, double x, double y, double w, double h,
                       TColorIndex color, bool glow, cHitTest* hit, cComplexText* markup);
void button_draw_gel(cRenderer* r, const std::string& caption, bool clipText, double x, double y, double w, double h,
                     TColorIndex color, bool glow, cHitTest* hit, cComplexText* markup);
// A glossy disc in an 80 x 80 world square mapped onto the face: stretched
// to it when anisotropic, else the largest centred circle.
void button_draw_candy(cRenderer* r, const std::string& caption, bool clipText, double x, double y, double w, double h,
                       TColorIndex color, bool glow, bool anisotropic, cHitTest* hit, cComplexText* markup);

// The painter of the look (a look out of range: BTN_ROUND); anisotropic is
// used by BTN_CANDY only.
void button_draw(TButtonType type, cRenderer* r, const std::string& caption, bool clipText, double x, double y,
                 double w, double h, TColorIndex color, bool glow, bool anisotropic, cHitTest* hit,
                 cComplexText* markup);

// Post-filters (cRenderer::SetFilterCallback). The blurs take their radius
// from the renderer passed as user value (TransformLength, rounded half to
// even); the grey lightening ignores it.
void button_filter_grey(cBitmap* layer, bool& keep, void* user);
void button_filter_glass(cBitmap* layer, bool& keep, void* user);
void button_filter_gel_glow(cBitmap* layer, bool& keep, void* user);
void button_filter_gel_highlight(cBitmap* layer, bool& keep, void* user);
