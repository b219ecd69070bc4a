// The framework's colour vocabulary: the 32-bit colour value 0xAARRGGBB
// (alpha in bits 24-31, 255 opaque; red 16-23; green 8-15; blue 0-7) with
// its pack and unpack helpers, and the stored form of the built-in
// colour-name list ("CNL1.0").
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// ---------------------------------------------------------------------------
// Colour values.

// No colour, where a colour is optional.
constexpr uint32_t rgb_none = 0;

// Opaque colour from its components.
constexpr uint32_t color_rgb(uint8_t red, uint8_t green, uint8_t blue) {
  return 0xFF000000u | uint32_t(red) << 16 | uint32_t(green) << 8 | blue;
}
constexpr uint32_t color_rgba(uint8_t red, uint8_t green, uint8_t blue, uint8_t alpha) {
  return uint32_t(alpha) << 24 | uint32_t(red) << 16 | uint32_t(green) << 8 | blue;
}
// The colour with its alpha byte replaced.
constexpr uint32_t color_set_alpha(uint32_t color, uint8_t alpha) {
  return (color & 0x00FFFFFFu) | uint32_t(alpha) << 24;
}
// Red and blue bytes exchanged, green and alpha kept: how a colour crosses
// to and from byte orders that put blue at the other end.
constexpr uint32_t color_swap_rb(uint32_t color) {
  return (color & 0xFF00FF00u) | (color >> 16 & 0xFFu) | (color & 0xFFu) << 16;
}
// Components of a colour; color_split_rgb ignores alpha.
void color_split_rgb(uint32_t color, uint8_t& red, uint8_t& green, uint8_t& blue);
void color_split_rgba(uint32_t color, uint8_t& red, uint8_t& green, uint8_t& blue, uint8_t& alpha);

// ---------------------------------------------------------------------------
// The stored colour-name list. All integers are little-endian and unaligned.
//
// Outer form (zhdr):
//   +0  int32   N, the length of the zlib stream
//   +4  uint32  check_crc: CRC-32 register (reflected 0xEDB88320, started at
//               0xFFFFFFFF, no final inversion) over the N bytes
//   +8  N bytes zlib stream (with its two-byte header) of the inner block
// Inner block:
//   +0  6 bytes "CNL1.0", no terminator (list_uid)
//   +6  uint32  check_sz: size of the whole inner block
//   +10 uint32  chck_crc: CRC-32 register as above over bytes 18 to the end
//   +14 int32   family count F
//   +18 F x uint32 offsets of the family records
// Family record: +0 node count n, +4 first node, +8 name index, +12 colour
//   index (offsets), +16 family name with its NUL. Its n nodes follow each
//   other without gaps; the name index is n node offsets ascending by name
//   (bytes compared after ASCII upper-casing, a prefix before the longer
//   name, no two equal), the colour index n node offsets ascending by colour.
// Node: +0 link slot (0), +4 colour 0x00RRGGBB, +8 name slot (0), +12 colour
//   name with its NUL; the next node starts 13 + name length bytes later.
//   The slots stay zero in memory too: a reader keeps links and name
//   references beside the block, since pointers are wider than 4 bytes.
inline constexpr std::string_view cnCNL_UID = "CNL1.0";
constexpr uint32_t cnCNLCrcStart = 0xFFFFFFFFu;
constexpr int32_t cnCNLOuterHeaderSize = 8;  // N, check_crc
constexpr int32_t cnCNLCheckSizeOffset = 6;
constexpr int32_t cnCNLCheckCrcOffset = 10;
constexpr int32_t cnCNLFamilyCountOffset = 14;
constexpr int32_t cnCNLHeaderSize = 18;  // start of the family offsets and of chck_crc's range
constexpr int32_t cnCNLFamilyRecordSize = 16;  // before the family name
constexpr int32_t cnCNLNodeSize = 12;          // before the colour name
constexpr int32_t cnCNLMaxNameLength = 99;     // longest colour name a lookup can hold

// Reads an unsigned little-endian 32-bit value at p (no alignment needed).
constexpr uint32_t cnl_get_u32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Where one family lies inside an inner block (offsets from its start).
struct rCNLFamily {
  uint32_t record = 0;       // family record
  uint32_t name = 0;         // family name
  uint32_t first_node = 0;   // first node in stored order (meaningful when count > 0)
  uint32_t name_index = 0;   // name index
  uint32_t color_index = 0;  // colour index
  uint32_t count = 0;        // node count n
};

// Checks the structure of an inflated inner block of `size` bytes, after its
// identifier, size and CRC have been checked: the family count, and for
// every family its record, name, nodes, node names and both indexes lie
// inside the block, every name ends with a NUL inside it, and every index
// entry is one of the family's nodes. Nothing outside the block is read,
// whatever its bytes. On success answers true with `families` in stored
// order; otherwise false, `families` empty and `fault` naming the first
// problem found.
bool cnl_check_layout(const uint8_t* block, int32_t size, std::vector<rCNLFamily>& families,
                      std::string& fault);

// The built-in list in its outer form, generated at build time from
// imaging/data/color_names.txt; its size is N + 8.
extern const uint8_t cnBuiltInColorNames[];
extern const int32_t cnBuiltInColorNamesSize;
