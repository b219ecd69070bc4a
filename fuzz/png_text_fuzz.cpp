// libFuzzer target: zlib_decompress on any bytes (with and without an output
// limit), and the tEXt, zTXt and iTXt chunk loaders on any chunk data. Every
// input must end promptly, inside the limits, without reading outside it.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "qlm_base_util.h"
#include "qlm_bitmap.h"
#include "qlm_png.h"
#include "qlm_startup.h"
#include "qlm_zlib.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  framework_start(*argc, *argv);
  qlm_bitmap_start();
  qlm_png_start();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > (1u << 20)) return 0;
  const uint8_t mode = data[0] % 4;
  std::vector<uint8_t> rest(data + 1, data + size);
  if (mode == 0) {
    // The limit from the input's length, so both the cap and its absence run.
    const int64_t limit = size % 2 == 0 ? int64_t(1) << 16 : cnZlibNoLimit;
    void* out = nullptr;
    int32_t out_size = 0;
    bool over = false;
    const bool ok = zlib_decompress(rest.data(), int32_t(rest.size()), out, out_size, limit, &over);
    if (ok && (over || (limit > 0 && out_size > limit))) std::abort();
    if (!ok && (out != nullptr || out_size != 0)) std::abort();
    mem_free(out);
    return 0;
  }
  static const char* const kTypes[] = {"", "tEXt", "zTXt", "iTXt"};
  cImagePNG png;
  png.mChunks = new cPNG_Entry();
  rPNG_ChunkHeader h;
  h.dt_size = uint32_t(rest.size());
  std::memcpy(h.ch_type, kTypes[mode], 4);
  rPNG_Entry* e = png.mChunks->AddChunk(h, &png, rPNG_ChunkFlags{});
  if (e == nullptr) std::abort();
  e->cobj->LoadChunk(nullptr, rest.empty() ? nullptr : rest.data(), int32_t(rest.size()));
  const auto* text = static_cast<const cPNG_tEXt*>(e->cobj);
  if (text->keyword.size() > cnPNGKeywordLength || text->text_size > cnPNGTextLimit) std::abort();
  std::unique_ptr<cPNG_Chunk> copy = e->cobj->Clone();
  return 0;
}
