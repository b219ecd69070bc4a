// libFuzzer target: cColorNamesList.Open and the searches on any bytes. The
// first byte chooses how the rest is used:
//   even: as the outer form, exactly as a flow would hand it to Open;
//   odd:  as an inner block whose size and CRC fields are set right and
//         which is then wrapped in a correct outer form (stored deflate), so
//         that the input reaches the structure check and the searches
//         instead of stopping at a checksum.
// Every input must end with an answer: no crash, no read outside the block,
// every found name and node inside it, and every search ending.
#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "qlm_base_crc.h"
#include "qlm_base_flow.h"
#include "qlm_colors.h"
#include "qlm_startup.h"

namespace {

void put_u32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

// The outer form of an inner block, its fields set right; empty on failure.
std::vector<uint8_t> wrap(const uint8_t* data, size_t size) {
  std::vector<uint8_t> inner(data, data + size);
  if (inner.size() >= size_t(cnCNLHeaderSize)) {
    put_u32(&inner[cnCNLCheckSizeOffset], uint32_t(inner.size()));
    put_u32(&inner[cnCNLCheckCrcOffset],
            crc32_update(cnCNLCrcStart, inner.data() + cnCNLHeaderSize, int32_t(inner.size()) - cnCNLHeaderSize));
  }
  std::vector<uint8_t> out(cnCNLOuterHeaderSize + compressBound(uLong(inner.size())));
  uLongf packed = out.size() - cnCNLOuterHeaderSize;
  if (compress2(out.data() + cnCNLOuterHeaderSize, &packed, inner.data(), uLong(inner.size()), 0) != Z_OK) return {};
  out.resize(cnCNLOuterHeaderSize + packed);
  put_u32(out.data(), uint32_t(packed));
  put_u32(out.data() + 4, crc32_update(cnCNLCrcStart, out.data() + cnCNLOuterHeaderSize, int32_t(packed)));
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  framework_start(*argc, *argv);
  qlm_colors_start();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > (1u << 20)) return 0;
  std::vector<uint8_t> bytes;
  if ((data[0] & 1) != 0) {
    bytes = wrap(data + 1, size - 1);
    if (bytes.empty()) return 0;
  } else {
    bytes.assign(data + 1, data + size);
  }

  auto flow = cMemoryFlow::ConstructReadOnly(true, bytes.data(), int64_t(bytes.size()));
  if (!flow || !flow->Open()) return 0;
  cColorNamesList list;
  if (!list.Open(flow.get())) {
    if (list.IsOpened() || list.LastErrorCode() == 0) abort();
    return 0;
  }

  const uint8_t* begin = list.Block();
  const uint8_t* end = begin + list.Aloc();
  auto inside = [&](const void* p) {
    return p >= static_cast<const void*>(begin) && p < static_cast<const void*>(end);
  };
  // Nodes take at least 13 bytes each, so no family yields more steps.
  const int64_t limit = int64_t(list.Families()->Count()) * (list.Aloc() / 13) + 1;
  auto check = [&](rColorFind& find, bool found) {
    int64_t steps = 0;
    for (; found; found = list.FindNext(&find)) {
      if (!inside(find.name_found) || !inside(find.node) || ++steps > limit) abort();
    }
  };

  for (const char* name : {"enum_by_name", "enum_by_color", "gray", "a"}) {
    rColorFind find;
    check(find, list.FindFirst(&find, name, ""));
  }
  // The stored-order walk and the search by colour over every family.
  for (uint8_t mode : {cnColorFindWalk, cnColorFindByColor}) {
    rColorFind find;
    find.flags = mode | cnColorFindAllFamilies;
    find.family = list.Families()->First();
    find.list = &list;
    find.color = 0x808080;
    check(find, list.FindNext(&find));
  }
  return 0;
}
