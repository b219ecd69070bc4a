// The PNG module: its codes and message function, the shared helpers, the
// chunk list and the PNG image.
#include <cstring>
#include <type_traits>

#include "qlm_base_crc.h"
#include "qlm_png.h"

// ---------------------------------------------------------------------------
// Codes.

std::unique_ptr<cExceptionString> png_exception_string(uint32_t code) {
  struct rRow {
    uint32_t code;
    const char* name;
    const char* message;
  };
  static constexpr rRow kRows[] = {
      {299, "errPNGFlowCorrupted", "Failed to read required number of bytes from flow."},
      {300, "errPNGFlowWrite", "Failed to write required number of bytes to flow."},
      {301, "errPNGInvalidChunkType", "Invalid chunk type."},
      {302, "errPNGInvalidImageDims", "Invalid image dimensions."},
      {303, "errPNGIHDRNotFirst", "IHDR chunk is not first."},
      {304, "errPNGNonConsecutiveIDAT", "Non consecutive IDAT chunk found."},
      {305, "errPNGMissingNextIDAT", "Missing next IDAT chunk."},
      {306, "errPNGIHDRNotFound", "IHDR chunk not found."},
      {307, "errPNGInvalidChunkSize", "Invalid chunk size."},
      {308, "errPNGLoadChunkFailed", "Loading of chunk failed."},
      {309, "errPNGSaveChunkFailed", "Saving of chunk failed."},
      {310, "errPNGUnknownCriticalChunk",
       "Encountered an unknown critital chunk - cannot interpret properly the image."},
      {311, "errPNGInvalidCRC", "Encountered invalid CRC checksum - data may be corrupted."},
      {312, "errPNGLoadNonInterlaced", "Loading Non Interlaced failed."},
      {313, "errPNGLoadAdam7Interlaced", "Loading Adam7 Interlaced failed."},
      {314, "errPNGLoadRow", "Loading single image row failed."},
      {315, "errPNGSaveRow", "Saving single image row failed."},
      {316, "errPNGSaveIDAT", "Saving IDAT chunk failed."},
      {317, "errPNGTooBigMemRequirement", "Encountered too big memory allocation requirement in chunk header."},
      {318, "errPNGInvalidCTypeDepth", "Encountered invalid combination of Color Type and Bit Depth."},
      {319, "errPNGFailedCreatingAlpha", "Failed to build the alpha channel buffer."},
      {320, "errPNGPaletteChunkNF", "PLTE chunk Not Found & is required."},
      {321, "errPNGInvalidPaletteTrans", "tRNS chunk contains too much entries for palette."},
  };
  for (const rRow& row : kRows) {
    if (row.code != code) continue;
    auto answer = std::make_unique<cExceptionString>(int32_t(code), &png_exception_string);
    answer->Set(row.name, localization_translate(0, row.message, 0, 0));
    return answer;
  }
  return qlm_base_exception_string(code);
}

void raise_png_error(int32_t code, std::string_view text, std::source_location loc) {
  raise_error(code, &png_exception_string, text, {}, {}, loc);
}

// ---------------------------------------------------------------------------
// Helpers.

int64_t png_row_bytes(int64_t width, uint8_t color_type, uint8_t bit_depth) {
  if (width < 1) return 0;
  const int64_t bits = width * bit_depth;
  switch (color_type) {
    case cnCM_Grey:
    case cnCM_Palette: return (bits + 7) / 8;
    case cnCM_RGB: return bits * 3 / 8;
    case cnCM_GreyAlpha: return bits * 2 / 8;
    case cnCM_RGBA: return bits * 4 / 8;
    default: return 0;
  }
}

int32_t png_pixel_bytes(uint8_t color_type, uint8_t bit_depth) {
  switch (color_type) {
    case cnCM_Grey: return bit_depth == 16 ? 2 : 1;
    case cnCM_Palette: return 1;
    case cnCM_RGB: return bit_depth * 3 / 8;
    case cnCM_GreyAlpha: return bit_depth / 4;
    case cnCM_RGBA: return bit_depth / 2;
    default: return 0;
  }
}

uint8_t png_paeth(uint8_t left, uint8_t above, uint8_t upper_left) {
  const int p = int(left) + above - upper_left;
  const int pa = p > left ? p - left : left - p;
  const int pb = p > above ? p - above : above - p;
  const int pc = p > upper_left ? p - upper_left : upper_left - p;
  if (pa <= pb && pa <= pc) return left;
  if (pb <= pc) return above;
  return upper_left;
}

uint32_t png_chunk_crc(const char type[4], const void* data, int32_t size) {
  uint32_t crc = crc32_update(0xFFFFFFFFu, type, 4);
  if (size > 0) crc = crc32_update(crc, data, size);
  return ~crc;
}

int64_t png_pass_width(int64_t width, int32_t pass) {
  const rPNGPass& p = cnPNGPasses[pass - 1];
  if (width <= p.first_column) return 0;
  return (width - p.first_column + p.column_step - 1) / p.column_step;
}

bool rPNG_ChunkHeader::Is(const char* type) const { return std::memcmp(ch_type, type, 4) == 0; }

// ---------------------------------------------------------------------------
// The chunk list.

void cPNG_Entry::FinalizeEntries(void* first, uint32_t n) {
  rPNG_Entry* e = static_cast<rPNG_Entry*>(first);
  for (uint32_t i = 0; i < n && e != nullptr; ++i) {
    rPNG_Entry* next = i + 1 < n ? e->next : nullptr;
    delete e->cobj;
    e->cobj = nullptr;
    e = next;
  }
  cArrayOf<rPNG_Entry, 1>::FinalizeEntries(first, n);
}

void cPNG_Entry::ClearChunks() {
  Clear();
  IHDR = nullptr;
  PLTE = nullptr;
  IEND = nullptr;
  tRNS = nullptr;
  cHRM = nullptr;
  gAMA = nullptr;
  iCCP = nullptr;
  sBIT = nullptr;
  sRGB = nullptr;
  bKGD = nullptr;
  hIST = nullptr;
  pHYs = nullptr;
  tIME = nullptr;
}

bool cPNG_Entry::CopyEntries(const void* source, void* target, uint32_t n) {
  const rPNG_Entry* s = static_cast<const rPNG_Entry*>(source);
  rPNG_Entry* t = static_cast<rPNG_Entry*>(target);
  for (uint32_t i = 0; i < n; ++i) {
    if (s == nullptr || t == nullptr) return false;
    t->flags = s->flags;
    if (s->cobj != nullptr) {
      t->cobj = s->cobj->Clone().release();
      if (t->cobj == nullptr) return false;
    }
    s = s->next;
    t = t->next;
  }
  return true;
}

cPNG_Entry* cPNG_Entry::CloneList() {
  auto list = std::make_unique<cPNG_Entry>();
  if (Clone(list.get()) == nullptr) return nullptr;
  for (rPNG_Entry* e = list->First(); e != nullptr; e = e->next) {
    cPNG_Chunk* c = e->cobj;
    if (c == nullptr) continue;
    const rPNG_ChunkHeader& h = c->Header();
    // clang-format off
    if (h.Is("IHDR")) list->IHDR = dynamic_cast<cPNG_IHDR*>(c);
    else if (h.Is("PLTE")) list->PLTE = dynamic_cast<cPNG_PLTE*>(c);
    else if (h.Is("IEND")) list->IEND = c;
    else if (h.Is("tRNS")) list->tRNS = dynamic_cast<cPNG_tRNS*>(c);
    else if (h.Is("cHRM")) list->cHRM = dynamic_cast<cPNG_cHRM*>(c);
    else if (h.Is("gAMA")) list->gAMA = dynamic_cast<cPNG_gAMA*>(c);
    // Header-only kinds clone into plain chunks: their references stay nil.
    else if (h.Is("sBIT")) list->sBIT = dynamic_cast<cPNG_sBIT*>(c);
    else if (h.Is("bKGD")) list->bKGD = dynamic_cast<cPNG_bKGD*>(c);
    else if (h.Is("pHYs")) list->pHYs = dynamic_cast<cPNG_pHYs*>(c);
    else if (h.Is("tIME")) list->tIME = dynamic_cast<cPNG_tIME*>(c);
    // clang-format on
  }
  return list.release();
}

rPNG_Entry* cPNG_Entry::AddChunk(rPNG_ChunkHeader header, cImagePNG* owner, const rPNG_ChunkFlags& flags,
                                 std::string_view name, cPNG_Chunk* object) {
  if (name.size() == 4) std::memcpy(header.ch_type, name.data(), 4);
  std::unique_ptr<cPNG_Chunk> made;
  cPNG_Chunk** reference = nullptr;
  auto single = [&](auto* kind_tag, auto*& ref) {
    using K = std::remove_pointer_t<decltype(kind_tag)>;
    auto* k = new K(owner, header);
    made.reset(k);
    reference = reinterpret_cast<cPNG_Chunk**>(&ref);
  };
  const rPNG_ChunkHeader& h = header;
  // clang-format off
  if (h.Is("IHDR")) single(static_cast<cPNG_IHDR*>(nullptr), IHDR);
  else if (h.Is("PLTE")) single(static_cast<cPNG_PLTE*>(nullptr), PLTE);
  else if (h.Is("IEND")) single(static_cast<cPNG_Chunk*>(nullptr), IEND);
  else if (h.Is("tRNS")) single(static_cast<cPNG_tRNS*>(nullptr), tRNS);
  else if (h.Is("cHRM")) single(static_cast<cPNG_cHRM*>(nullptr), cHRM);
  else if (h.Is("gAMA")) single(static_cast<cPNG_gAMA*>(nullptr), gAMA);
  else if (h.Is("iCCP")) single(static_cast<cPNG_iCCP*>(nullptr), iCCP);
  else if (h.Is("sBIT")) single(static_cast<cPNG_sBIT*>(nullptr), sBIT);
  else if (h.Is("sRGB")) single(static_cast<cPNG_sRGB*>(nullptr), sRGB);
  else if (h.Is("bKGD")) single(static_cast<cPNG_bKGD*>(nullptr), bKGD);
  else if (h.Is("hIST")) single(static_cast<cPNG_hIST*>(nullptr), hIST);
  else if (h.Is("pHYs")) single(static_cast<cPNG_pHYs*>(nullptr), pHYs);
  else if (h.Is("tIME")) single(static_cast<cPNG_tIME*>(nullptr), tIME);
  else if (h.Is("sPLT")) made = std::make_unique<cPNG_sPLT>(owner, header);
  else if (h.Is("iTXt")) made = std::make_unique<cPNG_iTXt>(owner, header);
  else if (h.Is("tEXt")) made = std::make_unique<cPNG_tEXt>(owner, header);
  else if (h.Is("zTXt")) made = std::make_unique<cPNG_zTXt>(owner, header);
  else made.reset(object);
  // clang-format on
  // An object given for a known kind is adopted too, and not needed.
  if (made.get() != object) delete object;
  // A repeated single-instance kind: the new object goes, no entry.
  if (reference != nullptr && *reference != nullptr) return nullptr;
  rPNG_Entry* entry = Append(1);
  if (entry == nullptr) return nullptr;
  entry->cobj = made.release();
  entry->flags = flags;
  if (reference != nullptr) *reference = entry->cobj;
  return entry;
}

// ---------------------------------------------------------------------------
// The image.

uint32_t id_cImagePNG = 0;

void qlm_png_start() {
  if (id_cImagePNG == 0) new_type_id(id_cImagePNG);
}

void qlm_png_stop() {}

cImagePNG::cImagePNG(ProgressCallback progress) : cImage(0, 0, 0), mProgress(progress) {}

cImagePNG::~cImagePNG() { delete mChunks; }

bool cImagePNG::Identify(uint32_t id) const { return id == id_cImagePNG || cImage::Identify(id); }
