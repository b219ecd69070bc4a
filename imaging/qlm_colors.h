// The framework's colour vocabulary: the 32-bit colour value 0xAARRGGBB
// (alpha in bits 24-31, 255 opaque; red 16-23; green 8-15; blue 0-7) with
// its pack and unpack helpers, and the stored form of the built-in
// colour-name list ("CNL1.0").
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <source_location>
#include <string>
#include <string_view>
#include <vector>

#include "qlm_base_array.h"
#include "qlm_base_object.h"

class cFlow;

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
constexpr int32_t cnCNLHeaderSize = 18;        // start of the family offsets and of chck_crc's range
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
bool cnl_check_layout(const uint8_t* block, int32_t size, std::vector<rCNLFamily>& families, std::string& fault);

// The built-in list in its outer form, generated at build time from
// imaging/data/color_names.txt; its size is N + 8.
extern const uint8_t cnBuiltInColorNames[];
extern const int32_t cnBuiltInColorNamesSize;

// ---------------------------------------------------------------------------
// Module start. Takes the type ids id_cColorNamesList and id_cPalette from the
// framework's counter (once per process) and registers color_list_free as a
// stop hook of the base module, whose shut-down thus frees the list without
// the core calling into imaging. Call it after framework_start; calling it
// again does nothing more than re-register the hook (needed after a restart
// of the framework). The module's own stop does nothing.
extern uint32_t id_cColorNamesList;
extern uint32_t id_cPalette;
void qlm_colors_start();
void qlm_colors_stop();

// ---------------------------------------------------------------------------
// cPalette: a table of `count` 4-byte colour entries whose byte layout is set
// by whoever fills it. It has no log: failures are raised inside and the
// operation answers nil.

class cPalette : public cBase {
 public:
  // No entries, count 0.
  cPalette() = default;
  ~cPalette() override;
  bool Identify(uint32_t id) const override;

  // A new palette holding its own copy of the entries (none when this one has
  // no block or a count below 1); nil when the copy cannot be made.
  std::unique_ptr<cPalette> Clone() const;
  // Replaces the entries by a copy of `count` 4-byte entries read from
  // `entries` (which may lie inside this palette's own block); the new block,
  // or nil: 279 for nil entries or a count below 1, 203 when the block cannot
  // be had (the palette then has no block but the new count).
  void* Open(const void* entries, int32_t count);
  // Replaces the entries by `count` zeroed entries; the block or nil (279 for
  // 0, 203 for a negative count or a failed allocation, which leaves no block
  // and the new count).
  void* Create(int32_t count);
  // The entry at the 1-based index; nil without a block or outside 1..count.
  void* Entry(int32_t index) const;

  uint8_t* Entries() const { return mEntries; }
  int32_t Count() const { return mCount; }

 private:
  uint8_t* mEntries = nullptr;
  int32_t mCount = 0;
};

// ---------------------------------------------------------------------------
// The colour-name list.

// Modes and options of a find record.
constexpr uint8_t cnColorFindByName = 1;
constexpr uint8_t cnColorFindByColor = 2;
constexpr uint8_t cnColorFindWalk = 4;  // stored order
constexpr uint8_t cnColorFindAllFamilies = 8;
constexpr uint8_t cnColorFindEnumByName = 16;
constexpr uint8_t cnColorFindEnumByColor = 32;
constexpr int32_t cnColorFindNameSize = cnCNLMaxNameLength + 1;

// Most rows a list keeps in its exception log: a lookup that fails on every
// repaint must not grow the log of the process-wide list without bound. The
// oldest rows give way.
constexpr uint32_t cnColorNamesLogLimit = 64;

// One family-table entry: references into the inflated block. The first
// field is the table's link to the next family.
struct rColorFamily {
  rColorFamily* next = nullptr;
  const uint8_t* record = nullptr;       // family record
  const char* name = nullptr;            // family name, NUL-terminated
  const uint8_t* first_node = nullptr;   // first node in stored order
  const uint8_t* name_index = nullptr;   // n node offsets by name
  const uint8_t* color_index = nullptr;  // n node offsets by colour
};

class cColorNamesList;

// The find record; owned by the caller (normally on its stack), prepared by
// FindFirst and advanced by FindNext. Modes 2 and 4 and the family walk are
// for callers that fill flags, color, family and list themselves.
struct rColorFind {
  uint8_t flags = 0;
  char name[cnColorFindNameSize] = {};   // sought name (mode 1), NUL-terminated
  uint32_t color = 0;                    // sought colour 0x00RRGGBB (mode 2)
  uint8_t started = 0;                   // 0 before the first step
  uint8_t family_walk = 0;               // mode 4: step through the families
  const rColorFamily* family = nullptr;  // current family
  const uint8_t* node = nullptr;         // current node (nil after a failed step in modes 1 and 2)
  int32_t position = 0;                  // 1-based position in the walked index (or stored order)
  const cColorNamesList* list = nullptr;
  uint32_t color_found = 0;                 // 0xAARRGGBB, alpha 255
  const char* name_found = nullptr;         // inside the list's block
  const char* family_name_found = nullptr;  // nil once a walk ran past the last family
};

// The list of named colours in families, read from the "CNL1.0" outer form.
// Once opened it is only read, so any number of threads may search it; the
// rows its searches log go through a lock of the list's own.
class cColorNamesList : public cException {
 public:
  // Not opened, no family table.
  cColorNamesList() = default;
  ~cColorNamesList() override;
  bool Identify(uint32_t id) const override;

  // Reads the outer form from the flow's current offset, checks and inflates
  // it, checks the inner block's structure and builds the family table. A
  // failure is logged and leaves the list unopened.
  bool Open(cFlow* flow);
  // Prepares the record for a search of `name` ("enum_by_name" and
  // "enum_by_color", in any case and with trailing blanks, enumerate) in the
  // family named `family` (any case, trailing blanks ignored; empty: all
  // families in stored order) and makes the first step.
  bool FindFirst(rColorFind* find, std::string_view name, std::string_view family) const;
  // The next step of the search the record describes; false when nothing
  // (more) is found. Colour found and name found then keep their values.
  bool FindNext(rColorFind* find) const;

  bool IsOpened() const { return mBlock != nullptr; }
  const uint8_t* Block() const { return mBlock; }
  int32_t Aloc() const { return mAloc; }
  const cArrayOf<rColorFamily, 1>* Families() const { return mFamilies.get(); }

 private:
  void Close();
  // Logs the exception (under mLogLock, keeping at most
  // cnColorNamesLogLimit rows); for const searches, whose only write is this.
  void LogFailure(std::exception_ptr e, std::source_location loc) const;
  template <typename F>
  bool Guarded(F&& body, std::source_location loc = std::source_location::current()) const;
  bool FirstStep(rColorFind* find, int mode) const;
  bool FurtherStep(rColorFind* find, int mode) const;
  bool SearchFamily(rColorFind* find, int mode) const;
  void Found(rColorFind* find, const uint8_t* node, int32_t position) const;
  const rColorFamily* NextFamily(const rColorFamily* family) const;
  bool IsFamily(const rColorFamily* family) const;

  uint8_t* mBlock = nullptr;
  int32_t mAloc = 0;
  const uint8_t* mHeader = nullptr;
  std::unique_ptr<cArrayOf<rColorFamily, 1>> mFamilies;
  mutable std::mutex mLogLock;
};

// The process-wide list, made from the built-in block on first use; nil
// before that, after a failed load and after color_list_free. Made and freed
// under a lock; readers load it atomically.
extern std::atomic<cColorNamesList*> gQLMColors;
// Makes gQLMColors from the built-in block unless it exists. Failures are
// swallowed (gQLMColors stays nil and the next call tries again).
void color_list_load();
// Frees gQLMColors and sets it to nil. Runs at shut-down (a stop hook of the
// base module), when no lookup is running.
void color_list_free();
// color_list_load, then FindFirst of gQLMColors; false when the list could
// not be made. The result is in the record's color_found (and name_found,
// family_name_found).
bool color_find_by_name(rColorFind* find, std::string_view name, std::string_view family);
