// Pictures drawn by raw AGG apart from the renderer, for the renderer's
// image tests to compare with. The library is compiled at -O2 whatever the
// build type, so that it shares no optimised code with the renderer.
#pragma once

#include <cstdint>

namespace image_reference {

// The resampling filters the reference knows: AGG's bicubic, hanning,
// spline16 and lanczos(3) lookup tables, normalised.
enum class eFilter { bicubic, hanning, spline16, lanczos3 };

// Draws a pre-multiplied picture (w x h, bytes R, G, B, A, rows of w * 4
// bytes) into a pre-multiplied BGRA target (tw x th, rows of `stride`
// bytes) through the perspective mapping that takes the quadrilateral
// `quad` (four device points, x then y: the picture's top left, top right,
// bottom right, bottom left) onto the picture, inside that quadrilateral.
// AGG's general resampler works in floating point here (colours cannot
// wrap), each pixel is then held to alpha <= 1 and colour <= alpha, and
// rounded to bytes.
void draw_perspective_resampled(const uint8_t* rgba, int w, int h, const double* quad, eFilter filter, uint8_t* bgra,
                                int tw, int th, int stride);

}  // namespace image_reference
