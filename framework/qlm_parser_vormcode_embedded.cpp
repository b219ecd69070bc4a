// VormCode embedded data: raw bytes after a metadata tag with a delimiter
// property, by count or up to a delimiter text.
//
// Not read yet: a code point in the embedded phase is unexpected input.
#include "qlm_parser_vormcode_run.h"

void cVormCodeRun::PhaseEmbedded(int32_t) { SyntaxError(); }
