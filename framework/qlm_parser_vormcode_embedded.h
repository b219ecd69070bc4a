// VormCode embedded data (internal to the parser module): the check made
// when a metadata tag with a property list ends.
#pragma once

#include "qlm_parser_vormcode_run.h"

// When the metadata's property list holds a property named "delimiter" (any
// case, trailing blanks ignored; the first one counts), switches the run to
// the EMBEDDED phase: an integer or real value is a count of source units
// to read raw after the "}", a text or identifier value a delimiter text up
// to which the units are read raw. Any other value, or no such property:
// nothing happens. Nil metadata is ignored.
void vormcode_embedded_check(cVormCodeRun& run, rTCT_METADATA* metadata);
