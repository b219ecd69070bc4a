// The VormCode value phases: values, types, reference paths and digit runs,
// with the entry and reference context stacks.
//
// Not parsed yet: every code point is unexpected input (300).
#include "qlm_parser_vormcode_run.h"

void cVormCodeRun::PhaseEntry(int32_t) { SyntaxError(); }
void cVormCodeRun::PhaseType(int32_t) { SyntaxError(); }
void cVormCodeRun::PhaseDeref(int32_t) { SyntaxError(); }
void cVormCodeRun::PhaseNumb(int32_t) { SyntaxError(); }
