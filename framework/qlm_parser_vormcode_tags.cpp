// The VormCode tag phases: sections, property tags, property lists,
// metadata, structures and insertables, with pairing by name.
//
// Not parsed yet: every code point inside a tag is unexpected input (300
// with the phase and its state), and a text that ends inside a tag gives
// 301.
#include "qlm_parser_vormcode_run.h"

void cVormCodeRun::PhaseSection(int32_t) { SyntaxError(); }
void cVormCodeRun::PhaseProperty(int32_t) { SyntaxError(); }
void cVormCodeRun::PhaseProperties(int32_t) { SyntaxError(); }
