#include "qlm_colors.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "qlm_base_util.h"
#include "qlm_startup.h"

void color_split_rgb(uint32_t color, uint8_t& red, uint8_t& green, uint8_t& blue) {
  red = uint8_t(color >> 16);
  green = uint8_t(color >> 8);
  blue = uint8_t(color);
}

void color_split_rgba(uint32_t color, uint8_t& red, uint8_t& green, uint8_t& blue, uint8_t& alpha) {
  color_split_rgb(color, red, green, blue);
  alpha = uint8_t(color >> 24);
}

namespace {

// Length of the NUL-terminated name at `at`, or -1 when no NUL follows
// inside the block.
int64_t name_length(const uint8_t* block, int64_t size, int64_t at) {
  for (int64_t i = at; i < size; ++i)
    if (block[i] == 0) return i - at;
  return -1;
}

// Reads the 32-bit field at `at` when it lies inside the block.
bool field(const uint8_t* block, int64_t size, int64_t at, uint32_t& value) {
  if (at < 0 || at > size - 4) return false;
  value = cnl_get_u32(block + at);
  return true;
}

}  // namespace

bool cnl_check_layout(const uint8_t* block, int32_t size, std::vector<rCNLFamily>& families, std::string& fault) {
  families.clear();
  fault.clear();
  auto fail = [&](std::string text) {
    families.clear();
    fault = std::move(text);
    return false;
  };
  if (block == nullptr || size < cnCNLHeaderSize) return fail("block shorter than its header");
  const int64_t end = size;
  const int32_t count = int32_t(cnl_get_u32(block + cnCNLFamilyCountOffset));
  if (count < 0 || int64_t(count) > (end - cnCNLHeaderSize) / 4)
    return fail("family count " + std::to_string(count) + " outside the block");

  std::vector<uint32_t> nodes;  // the current family's node offsets, ascending
  for (int32_t f = 0; f < count; ++f) {
    const std::string which = "family " + std::to_string(f + 1) + ": ";
    rCNLFamily fam;
    fam.record = cnl_get_u32(block + cnCNLHeaderSize + 4 * int64_t(f));
    const int64_t record = fam.record;
    if (!field(block, end, record, fam.count) || !field(block, end, record + 4, fam.first_node) ||
        !field(block, end, record + 8, fam.name_index) || !field(block, end, record + 12, fam.color_index) ||
        record + cnCNLFamilyRecordSize >= end)
      return fail(which + "record outside the block");
    fam.name = uint32_t(record + cnCNLFamilyRecordSize);
    if (name_length(block, end, fam.name) < 0) return fail(which + "name not terminated");
    // Every node takes at least 13 bytes, so a larger count cannot be true
    // (and would make the walk below long).
    if (int64_t(fam.count) > end / (cnCNLNodeSize + 1)) return fail(which + "node count too large");

    nodes.clear();
    int64_t node = fam.first_node;
    for (uint32_t i = 0; i < fam.count; ++i) {
      if (node > end - (cnCNLNodeSize + 1)) return fail(which + "node " + std::to_string(i + 1) + " outside the block");
      const int64_t length = name_length(block, end, node + cnCNLNodeSize);
      if (length < 0) return fail(which + "node " + std::to_string(i + 1) + " name not terminated");
      nodes.push_back(uint32_t(node));
      node += cnCNLNodeSize + length + 1;
    }

    // Index entries must be nodes of this family; `nodes` ascends because
    // the walk only moves forward.
    for (const auto& [index, label] : {std::pair{fam.name_index, "name"}, std::pair{fam.color_index, "colour"}}) {
      if (int64_t(index) + 4 * int64_t(fam.count) > end) return fail(which + label + " index outside the block");
      for (uint32_t i = 0; i < fam.count; ++i) {
        const uint32_t entry = cnl_get_u32(block + index + 4 * int64_t(i));
        if (!std::binary_search(nodes.begin(), nodes.end(), entry))
          return fail(which + label + " index entry " + std::to_string(i + 1) + " is not a node");
      }
    }
    families.push_back(fam);
  }
  return true;
}

// ---------------------------------------------------------------------------
// Module start.

uint32_t id_cColorNamesList = 0;
uint32_t id_cPalette = 0;

void qlm_colors_start() {
  if (id_cColorNamesList == 0) {
    new_type_id(id_cColorNamesList);
    new_type_id(id_cPalette);
  }
  qlm_base_add_stop_hook(&color_list_free);
}

void qlm_colors_stop() {}

// ---------------------------------------------------------------------------
// cPalette

namespace {
constexpr int64_t cnPaletteEntrySize = 4;

// Runs a palette operation: errors are raised inside and answer nil.
template <typename F>
void* palette_guard(F&& body) {
  try {
    return body();
  } catch (...) {
    return nullptr;
  }
}
}  // namespace

cPalette::~cPalette() { mem_free(mEntries); }

bool cPalette::Identify(uint32_t id) const { return id == id_cPalette || cBase::Identify(id); }

void* cPalette::Open(const void* entries, int32_t count) {
  return palette_guard([&]() -> void* {
    if (entries == nullptr) raise_condition_error(errPreCondition, "{map_palette=NIL}");
    if (count < 1) raise_condition_error(errPreCondition, "{map_entries<1}");
    // The size in 64 bits: count x 4 overflows 32 bits from 536,870,912 on.
    // The new block is had before the old one goes, so that `entries` may
    // point into the old one; the outcome is the same as freeing first.
    uint8_t* block = nullptr;
    if (mem_alloc(block, int64_t(count) * cnPaletteEntrySize))
      std::memcpy(block, entries, size_t(int64_t(count) * cnPaletteEntrySize));
    mem_free(mEntries);
    mCount = count;
    if (block == nullptr) raise_base_error(errNEnoughMem, "{mem_alloc}");
    mEntries = block;
    return mEntries;
  });
}

void* cPalette::Create(int32_t count) {
  return palette_guard([&]() -> void* {
    if (count == 0) raise_condition_error(errPreCondition, "{entries<1}");
    mem_free(mEntries);
    mCount = count;
    // A negative count fails here, as mem_alloc refuses sizes below 1.
    if (!mem_alloc(mEntries, int64_t(count) * cnPaletteEntrySize)) raise_base_error(errNEnoughMem, "{mem_alloc}");
    std::memset(mEntries, 0, size_t(int64_t(count) * cnPaletteEntrySize));
    return mEntries;
  });
}

void* cPalette::Entry(int32_t index) const {
  if (mEntries == nullptr || index < 1 || index > mCount) return nullptr;
  return mEntries + (int64_t(index) - 1) * cnPaletteEntrySize;  // 1-based
}

std::unique_ptr<cPalette> cPalette::Clone() const {
  try {
    auto copy = std::make_unique<cPalette>();
    if (mEntries != nullptr && mCount > 0 && copy->Open(mEntries, mCount) == nullptr)
      raise_base_error(errNEnoughMem, "{clone_palette.Open}");
    return copy;
  } catch (...) {
    return nullptr;  // the half-made copy went with its unique_ptr
  }
}
