// Shared steps of the VormCode value phases (internal to the parser module):
// character classes, skipping blanks and comments, the entry and reference
// context stacks, and entering a value, a type or a digit run from a tag.
#pragma once

#include <cstdint>

#include "qlm_parser_vormcode_run.h"

// The entry stack and the reference stack hold at most this many saved
// contexts; one more nesting level is a syntax error (300). A list, a cast
// or an index reference nests one level per context, a record two.
constexpr uint32_t cnVormCodeMaxNesting = 1000;

inline bool vc_is_blank(int32_t c) { return c == 9 || c == 32; }
inline bool vc_is_break(int32_t c) { return c == 10 || c == 13; }
inline bool vc_is_letter(int32_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
inline bool vc_is_digit(int32_t c) { return c >= '0' && c <= '9'; }
inline bool vc_is_name_char(int32_t c) { return vc_is_letter(c) || vc_is_digit(c); }
inline bool vc_is_hex_digit(int32_t c) { return vc_is_digit(c) || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }

// A blank (recorded with map kind 2), a break (3) or "{" (enters COMMENT,
// which returns to the same phase and state): true when `c` was one of them.
bool vc_skip_space(cVormCodeRun& run, int32_t c);

// The entry stack: push_en_cache saves the value state with the current
// properties list, property, entries list and value entry; pop_en_cache
// restores them and hands the code point back; pop_en_map restores them and
// consumes the code point, recorded with `map_kind`.
void push_en_cache(cVormCodeRun& run, uint8_t state);
void pop_en_cache(cVormCodeRun& run);
void pop_en_map(cVormCodeRun& run, uint8_t map_kind);
// The reference stack: the reference state, list and item.
void push_de_cache(cVormCodeRun& run, uint8_t state);
void pop_de_cache(cVormCodeRun& run);

// Starts a value in `entry` (value state 10): the current phase is pushed,
// the entry stack emptied, no current entries list. The caller sets its own
// state first; the value phase pops back to it.
void vc_start_value(cVormCodeRun& run, rTCEntry* entry);
// Starts a type in `type` (type state 10), pushing the current phase.
void vc_start_type(cVormCodeRun& run, rTCType* type);
// Enters NUMB at the digit `current`: number text := the digit; the rest of
// the run is recorded with `map_kind`.
void vc_enter_numb(cVormCodeRun& run, uint8_t map_kind);
