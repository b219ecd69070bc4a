// Progress reporting of the long imaging operations (filters, codecs): one
// helper, so every caller computes percentages the same way.
#pragma once

#include <string_view>

class cBase;

// A progress callback: the object being worked on and a percentage 0..100;
// false stops the operation. Nil means no reporting.
using ProgressCallback = bool (*)(cBase* object, double percent);

// Reports `percent` when a callback is given; a false answer raises 297
// (errProgressBreak) with `text` (the operation's brace text, "{bf_invert}").
void progress_report(ProgressCallback progress, cBase* object, double percent, std::string_view text);
// Reports 100 x done / total, computed in floating point; nothing is reported
// when the total is 0 or below (so an empty input never divides by zero).
void progress_report_part(ProgressCallback progress, cBase* object, double done, double total, std::string_view text);
