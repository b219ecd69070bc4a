// Colour values of VormCode properties: a colour name of the "html" family,
// "none", or a list [red, green, blue(, alpha)] of integers 0 to 255. These
// readers belong with the token queries (qlm_parser_vormcode_queries.h) but
// need the colour-name list, hence the imaging layer.
#pragma once

#include <cstdint>

#include "qlm_parser_vormcode_queries.h"

// The colour (0xAARRGGBB) a value stands for:
// - ET_ID: the colour of that name in the "html" family (any case, trailing
//   blanks ignored); "none" when no such colour exists gives 0. An ET_ID
//   without its string raises 294: the only query that raises.
// - ET_LIST: red, green, blue and alpha from the first four elements, each an
//   ET_INTEGER from 0 to 255; the walk stops at the first element that is
//   not. Alpha defaults to 255; at least three elements must be taken.
// - anything else: false.
bool tblocks_property_color(const rTCEntry* value, uint32_t& color);
// tblocks_property_color of the property's value.
bool tblocks_color(const rTCProperty* property, uint32_t& color);
