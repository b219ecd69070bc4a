// Screen-side helpers of the platform layer.
#pragma once

#include <cstdint>

// The platform's native 24-bit pixel format, which the bitmap and image code
// take as their default: px24BGR (code 54 of the framework's pixel formats,
// imaging/qlm_bitmap_formats.h). Blue, green, red is also the byte order of
// the window layer's 32-bit surfaces apart from their padding byte, so rows
// widen cheaply.
constexpr uint8_t platform_pixel_format() { return 54; }

// ---------------------------------------------------------------------------
// The screen. Until the window layer installs a provider there is no screen:
// the resolution is 96 dots per inch, the size 0 x 0, and screen_dc_get
// answers a token that stands for the screen (never nil). With a provider,
// its answers count, except that a resolution of 0 or below gives 96 and a
// size below 0 gives 0.

// A screen device context: a token that the provider hands out and takes
// back; nothing of it is read above the platform.
using tScreenDC = void*;

// What the window layer knows of the screen. Its functions may be called
// from any thread (fonts take a screen device context where they are made).
struct rScreenProvider {
  int32_t (*dpi)() = nullptr;     // vertical dots per inch
  int32_t (*width)() = nullptr;   // pixels
  int32_t (*height)() = nullptr;  // pixels
  tScreenDC (*dc_get)() = nullptr;
  void (*dc_release)(tScreenDC dc) = nullptr;
};

// Installs the provider (kept by reference: it must stay alive until it is
// replaced); nil returns to the defaults. A function left nil answers the
// default.
void screen_set_provider(const rScreenProvider* provider);

int32_t screen_dpi();
int32_t screen_width();
int32_t screen_height();
tScreenDC screen_dc_get();
// Releases a device context from screen_dc_get; nil is ignored.
void screen_dc_release(tScreenDC dc);
