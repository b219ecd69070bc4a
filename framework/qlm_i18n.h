// The list of writing scripts that the print preview walks to give each
// script its font. This system builds it with one entry whose tag is empty,
// so a caller makes one pass with the empty tag.
#pragma once

#include <cstdint>
#include <string>

// The index of the last entry: 0.
int32_t i18n_script_last();
// The script tag of an entry (tags such as "Latn"): "" for every index.
std::string i18n_script_name(int32_t index);
