// libFuzzer target: opening a colour-name list whose inner block is the
// input, then every search mode over it. The identifier, size and CRC of the
// inner block are set and the outer form (N, check_crc, zlib stream) is
// built around it, so that every input reaches the structure check and the
// searches; what they read must stay inside the block.
#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "qlm_base_crc.h"
#include "qlm_base_flow.h"
#include "qlm_colors.h"
#include "qlm_startup.h"

namespace {

// The CRC register the list stores: the complement of the standard CRC-32.
uint32_t crc_register(const uint8_t* p, size_t n) { return ~uint32_t(crc32(0, p, uInt(n))); }

void put_u32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

// Steps through a search until it ends; bounded, since every step must move.
void drain(const cColorNamesList& list, rColorFind& find, bool found) {
  for (int steps = 0; found && steps < 100000; ++steps) {
    if (find.name_found != nullptr && find.family_walk == 0) {
      const uint8_t* block = list.Block();
      const auto* name = reinterpret_cast<const uint8_t*>(find.name_found);
      if (name < block || name >= block + list.Aloc()) std::abort();
    }
    found = list.FindNext(&find);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  framework_start(*argc, *argv);
  qlm_colors_start();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  std::vector<uint8_t> inner(data, data + size);
  if (inner.size() >= size_t(cnCNLHeaderSize)) {
    std::memcpy(inner.data(), cnCNL_UID.data(), cnCNL_UID.size());
    put_u32(inner.data() + cnCNLCheckSizeOffset, uint32_t(inner.size()));
    put_u32(inner.data() + cnCNLCheckCrcOffset,
            crc_register(inner.data() + cnCNLHeaderSize, inner.size() - size_t(cnCNLHeaderSize)));
  }
  uLongf packed_size = compressBound(uLong(inner.size()));
  std::vector<uint8_t> outer(size_t(cnCNLOuterHeaderSize) + packed_size);
  if (compress2(outer.data() + cnCNLOuterHeaderSize, &packed_size, inner.data(), uLong(inner.size()), 6) != Z_OK)
    return 0;
  outer.resize(size_t(cnCNLOuterHeaderSize) + packed_size);
  put_u32(outer.data(), uint32_t(packed_size));
  put_u32(outer.data() + 4, crc_register(outer.data() + cnCNLOuterHeaderSize, packed_size));

  auto flow = cMemoryFlow::ConstructReadOnly(true, outer.data(), int64_t(outer.size()));
  if (!flow || !flow->Open()) return 0;
  cColorNamesList list;
  if (!list.Open(flow.get())) return 0;

  // The searches a caller can ask for, over all families and each family.
  std::vector<std::string> families{""};
  for (const rColorFamily* f = list.Families()->First(); f != nullptr; f = list.Families()->Next(f))
    if (families.size() < 8) families.push_back(f->name);
  std::vector<std::string> names{"enum_by_name", "enum_by_color", "black", "a"};
  for (const std::string& family : families) {
    for (size_t k = 0; k < names.size(); ++k) {
      const std::string name = names[k];
      rColorFind find;
      const bool found = list.FindFirst(&find, name, family);
      // The first name a family enumerates is searched by name too.
      if (found && name == "enum_by_name" && names.size() < 16 && find.name_found != nullptr &&
          std::strlen(find.name_found) <= size_t(cnCNLMaxNameLength))
        names.push_back(find.name_found);
      drain(list, find, found);
    }
  }
  // The modes a caller fills in itself: by colour, stored order, family walk.
  const uint32_t colors[] = {0, 0x808080, size >= 4 ? uint32_t(data[size - 1]) * 0x010101u : 0xFFFFFFu};
  for (uint8_t mode : {cnColorFindByColor, cnColorFindWalk}) {
    for (uint8_t all : {uint8_t(0), cnColorFindAllFamilies}) {
      for (uint32_t color : colors) {
        rColorFind find;
        find.flags = uint8_t(mode | all);
        find.color = color;
        find.list = &list;
        find.family = list.Families()->First();
        drain(list, find, list.FindNext(&find));
      }
    }
  }
  rColorFind walk;
  walk.flags = cnColorFindWalk;
  walk.family_walk = 1;
  walk.list = &list;
  drain(list, walk, list.FindNext(&walk));
  return 0;
}
