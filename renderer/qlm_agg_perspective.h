// AGG's perspective transform. Its header defines several member functions
// of trans_perspective outside the class without `inline` (translation,
// scaling, scaling_abs, multiply_inv, premultiply_inv), so at most ONE source
// file of a program may include this header; everything else reaches
// perspective mappings through functions that source file exports.
#pragma once

#include "qlm_agg_extensions.h"

#include <agg_span_interpolator_trans.h>
#include <agg_trans_perspective.h>
