// AGG's stack blur, in a source of its own: when g++ 12 inlines the blur it
// warns falsely (use after free) inside AGG's pod_vector, at a location in
// AGG's headers, so the warning is switched off before they are included.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wuse-after-free"
#endif

#include "qlm_agg_extensions.h"

namespace qlm_agg {

void stack_blur_gray8(agg::pixfmt_gray8& image, unsigned r) { agg::stack_blur_gray8(image, r, r); }

}  // namespace qlm_agg
