// Screen-side helpers of the platform layer.
#pragma once

#include <cstdint>

// The platform's native 24-bit pixel format, which the bitmap and image code
// take as their default: px24BGR (code 54 of the framework's pixel formats,
// imaging/qlm_bitmap_formats.h). Blue, green, red is also the byte order of
// the window layer's 32-bit surfaces apart from their padding byte, so rows
// widen cheaply.
constexpr uint8_t platform_pixel_format() { return 54; }
