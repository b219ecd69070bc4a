// The framework's CRC-32 register update and the repeating-key XOR routine.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Updates the CRC-32 register (reflected polynomial 0xEDB88320) over the
// bytes. The caller sets the start value (0xFFFFFFFF) and decides whether to
// invert the result: the install container and the colour-name list store
// the register as returned, PNG and JNG store its complement (the standard
// CRC-32). A length of 0 or less returns the register unchanged.
uint32_t crc32_update(uint32_t reg, const void* data, int32_t length);
// Kept for callers that prepare the table explicitly; the table is built at
// compile time, so this does nothing.
void crc32_init_table();

// XORs byte i of the buffer with key character (i mod key length). Nothing
// happens for an empty key or a count of 0 or less.
void xor_buffer(void* buffer, int32_t count, std::string_view key);
// A copy of the text passed through xor_buffer with the key.
std::string xor_string(std::string_view key, std::string_view text);
