#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "png_test_util.h"
#include "qlm_base_array.h"
#include "qlm_base_flow.h"
#include "qlm_png.h"

using testenv::Bytes;
using testenv::cTestPNG;
using testenv::ihdr_data;
using testenv::zlib_pack;

namespace {

class PngChunks : public ::testing::Test {
 protected:
  void SetUp() override {
    qlm_bitmap_start();
    qlm_png_start();
  }
};

bool last_is(const cException& o, int32_t code, const char* text) {
  return o.LastErrorCode() == code && o.LastErrorText().find(text) != std::string::npos;
}

Bytes text_bytes(std::string_view s) { return Bytes(s.begin(), s.end()); }
Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

}  // namespace

TEST_F(PngChunks, HeaderRowBytesAndGreyLevels) {
  struct Case {
    uint8_t depth, ctype;
    int64_t row_bytes;  // for width 10
    int32_t grey_count;
    std::vector<int> levels;  // the first levels of the grey palette
  };
  const Case cases[] = {
      {1, 0, 2, 2, {0, 255}},
      {2, 0, 3, 4, {0, 85, 170, 255}},
      {4, 0, 5, 16, {0, 17, 34, 51}},
      {8, 0, 10, 256, {0, 1, 2}},
      {16, 0, 20, 256, {0, 1}},
      {8, 2, 30, 256, {0}},
      {16, 2, 60, 256, {0}},
      {4, 3, 5, 256, {0}},
      {8, 4, 20, 256, {0}},
      {16, 6, 80, 256, {0}},
      {8, 5, 0, 256, {0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.depth) + "/" + std::to_string(c.ctype));
    cTestPNG png;
    auto* ihdr = png.Load<cPNG_IHDR>("IHDR", ihdr_data(10, 3, c.depth, c.ctype));
    ASSERT_NE(ihdr, nullptr);
    EXPECT_EQ(ihdr->width, 10);
    EXPECT_EQ(ihdr->height, 3);
    EXPECT_EQ(ihdr->row_bytes, c.row_bytes);
    EXPECT_EQ(ihdr->grey_count, c.grey_count);
    for (size_t k = 0; k < c.levels.size(); ++k) EXPECT_EQ(ihdr->grey[k][1], c.levels[k]) << k;
    if (c.grey_count < 256) {
      EXPECT_EQ(ihdr->grey[c.grey_count - 1][0], 255);  // the top level is white
    }
  }
  // 64-bit row sizes: a width of 2^31 - 1 in 16-bit RGBA needs 17 GB per row.
  EXPECT_EQ(png_row_bytes(INT32_MAX, cnCM_RGBA, 16), int64_t(INT32_MAX) * 8);
  EXPECT_EQ(png_pixel_bytes(cnCM_RGB, 16), 6);
  EXPECT_EQ(png_pixel_bytes(cnCM_Palette, 2), 1);
  EXPECT_EQ(png_pixel_bytes(cnCM_GreyAlpha, 8), 2);
  // Widths and heights beyond int32 are refused.
  cTestPNG png;
  bool loaded = true;
  png.Load<cPNG_IHDR>("IHDR", ihdr_data(0x80000000u, 1, 8, 2), &loaded);
  EXPECT_FALSE(loaded);
  EXPECT_TRUE(last_is(png, errPNGInvalidImageDims, "{dx or dy > 2^31-1}"));
  EXPECT_EQ(png.Log()->Last()->function, &png_exception_string);
}

TEST_F(PngChunks, GammaTable) {
  struct Case {
    uint32_t gamma;
    std::vector<std::pair<int, int>> spots;
  };
  const Case cases[] = {
      {45455, {{0, 0}, {1, 1}, {64, 64}, {128, 128}, {200, 200}, {255, 255}}},  // the identity
      {100000, {{0, 0}, {128, 186}, {255, 255}}},
      {0, {{0, 0}, {128, 0}, {255, 255}}},  // an infinite exponent, no trap
      {0xFFFFFFFFu, {{0, 0}, {1, 255}, {255, 255}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.gamma);
    cTestPNG png;
    auto* ihdr = png.Load<cPNG_IHDR>("IHDR", ihdr_data(4, 4, 2, 0));
    Bytes g;
    testenv::put_be32(g, c.gamma);
    bool loaded = false;
    auto* gama = png.Load<cPNG_gAMA>("gAMA", g, &loaded);
    ASSERT_TRUE(loaded);
    EXPECT_EQ(gama->table, ihdr->gamma);
    for (const auto& [i, v] : c.spots) EXPECT_EQ(ihdr->gamma[i], v) << i;
    if (c.gamma == 45455) {
      for (int i = 0; i < 256; ++i) ASSERT_EQ(ihdr->gamma[i], i) << i;
    }
    // The grey palette passes through the table.
    EXPECT_EQ(ihdr->grey[2][0], ihdr->gamma[170]);
  }
  // A 16-bit RGB tRNS takes the high byte, as the decoder keeps it.
  cTestPNG png;
  png.Load<cPNG_IHDR>("IHDR", ihdr_data(4, 4, 16, 2));
  auto* trns = png.Load<cPNG_tRNS>("tRNS", Bytes{0x12, 0xFF, 0x34, 0x00, 0x56, 0x01});
  EXPECT_EQ(trns->Colour(), 0xFF123456u);
}

TEST_F(PngChunks, LoadTable) {
  struct Case {
    const char* name;
    std::vector<std::pair<std::string, Bytes>> before;  // chunks loaded first
    std::string type;
    Bytes data;
    int32_t code;  // 0: loads
    const char* text;
    std::function<void(cTestPNG&, cPNG_Chunk*)> check;
  };
  const Bytes rgb_header = ihdr_data(4, 4, 8, 2);
  const Bytes palette_header = ihdr_data(4, 4, 8, 3);
  const Bytes grey_header = ihdr_data(4, 4, 8, 0);
  const Case cases[] = {
      // clang-format off
      {"PLTE of 768 bytes", {{"IHDR", palette_header}}, "PLTE", Bytes(768, 7), 0, "",
       [](cTestPNG&, cPNG_Chunk* c) { EXPECT_EQ(static_cast<cPNG_PLTE*>(c)->count, 256); }},
      {"PLTE of 769 bytes", {{"IHDR", palette_header}}, "PLTE", Bytes(769, 7), errInvariant,
       "{mHdr.dt_size div 3 > 256}", nullptr},
      {"PLTE of 771 bytes", {{"IHDR", palette_header}}, "PLTE", Bytes(771, 7), errInvariant,
       "{mHdr.dt_size div 3 > 256}", nullptr},
      {"empty PLTE", {{"IHDR", palette_header}}, "PLTE", Bytes(), errPNGFlowCorrupted, "{inherited.Read}", nullptr},
      {"PLTE without IHDR", {}, "PLTE", Bytes(6, 1), errPNGIHDRNotFound, "{mPng.mChunks.IHDR=NIL}", nullptr},
      {"tRNS of 257 bytes", {{"IHDR", palette_header}}, "tRNS", Bytes(257, 0), errPNGInvalidPaletteTrans,
       "{mHdr.dt_size>256}", nullptr},
      {"tRNS of 256 bytes, small palette", {{"IHDR", palette_header}, {"PLTE", Bytes(6, 9)}}, "tRNS", Bytes(256, 3),
       0, "",
       [](cTestPNG&, cPNG_Chunk* c) {
         EXPECT_EQ(static_cast<cPNG_tRNS*>(c)->alpha_count, 256);
         EXPECT_EQ(static_cast<cPNG_tRNS*>(c)->Colour(), 0u);  // two or more entries: alpha, no key
       }},
      {"tRNS of one byte: entry 0's alpha, no key", {{"IHDR", palette_header}, {"PLTE", Bytes{1, 2, 3, 4, 5, 6}}},
       "tRNS", Bytes{200}, 0, "",
       [](cTestPNG&, cPNG_Chunk* c) {
         EXPECT_EQ(static_cast<cPNG_tRNS*>(c)->alpha_count, 1);
         EXPECT_EQ(static_cast<cPNG_tRNS*>(c)->Colour(), 0u);
       }},
      {"tRNS of one byte without PLTE", {{"IHDR", palette_header}}, "tRNS", Bytes{200}, 0, "",
       [](cTestPNG&, cPNG_Chunk* c) { EXPECT_EQ(static_cast<cPNG_tRNS*>(c)->Colour(), 0u); }},
      {"RGB tRNS", {{"IHDR", rgb_header}}, "tRNS", Bytes{0, 0x10, 0, 0x20, 0, 0x30}, 0, "",
       [](cTestPNG&, cPNG_Chunk* c) { EXPECT_EQ(static_cast<cPNG_tRNS*>(c)->Colour(), 0xFF102030u); }},
      {"short RGB tRNS", {{"IHDR", rgb_header}}, "tRNS", Bytes{0, 0x10, 0}, errPNGFlowCorrupted, "{inherited.Read}",
       nullptr},
      {"grey tRNS beyond the levels", {{"IHDR", ihdr_data(4, 4, 2, 0)}}, "tRNS", Bytes{0, 7}, 0, "",
       [](cTestPNG&, cPNG_Chunk* c) { EXPECT_EQ(static_cast<cPNG_tRNS*>(c)->Colour(), 0u); }},
      {"grey tRNS of a 2-bit image", {{"IHDR", ihdr_data(4, 4, 2, 0)}}, "tRNS", Bytes{0, 2}, 0, "",
       [](cTestPNG&, cPNG_Chunk* c) { EXPECT_EQ(static_cast<cPNG_tRNS*>(c)->Colour(), 0xFFAAAAAAu); }},
      {"tRNS without IHDR", {}, "tRNS", Bytes{0, 1}, errPNGIHDRNotFound, "", nullptr},
      {"bKGD on a palette image without PLTE", {{"IHDR", palette_header}}, "bKGD", Bytes{0}, 0, "",
       [](cTestPNG&, cPNG_Chunk* c) { EXPECT_EQ(static_cast<cPNG_bKGD*>(c)->Colour(), 0u); }},
      {"bKGD palette index", {{"IHDR", palette_header}, {"PLTE", Bytes{1, 2, 3, 4, 5, 6}}}, "bKGD", Bytes{1}, 0, "",
       [](cTestPNG&, cPNG_Chunk* c) { EXPECT_EQ(static_cast<cPNG_bKGD*>(c)->Colour(), 0xFF040506u); }},
      {"bKGD grey, red override alone does nothing", {{"IHDR", grey_header}}, "bKGD", Bytes{0, 0x40}, 0, "",
       [](cTestPNG& png, cPNG_Chunk* c) {
         png.mBackgroundRed = 300;
         EXPECT_EQ(static_cast<cPNG_bKGD*>(c)->Colour(), 0xFF404040u);
         png.mBackgroundGreen = png.mBackgroundBlue = 9;
         EXPECT_EQ(static_cast<cPNG_bKGD*>(c)->Colour(), 0xFFFF0909u);
       }},
      {"bKGD RGB, red override", {{"IHDR", rgb_header}}, "bKGD", Bytes{0, 1, 0, 2, 0, 3}, 0, "",
       [](cTestPNG& png, cPNG_Chunk* c) {
         EXPECT_EQ(static_cast<cPNG_bKGD*>(c)->Colour(), 0xFF010203u);
         png.mBackgroundRed = -5;
         EXPECT_EQ(static_cast<cPNG_bKGD*>(c)->Colour(), 0xFF000203u);
       }},
      {"cHRM", {}, "cHRM", Bytes{0, 0, 0x7A, 0x26, 0, 0, 0x80, 0x84, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 4,
                                 0, 0, 0, 5, 0, 0, 0, 6},
       0, "",
       [](cTestPNG&, cPNG_Chunk* c) {
         EXPECT_EQ(static_cast<cPNG_cHRM*>(c)->white_x, 31270u);
         EXPECT_EQ(static_cast<cPNG_cHRM*>(c)->blue_y, 6u);
       }},
      {"sBIT of RGBA", {{"IHDR", ihdr_data(1, 1, 8, 6)}}, "sBIT", Bytes{5, 6, 7, 8}, 0, "",
       [](cTestPNG&, cPNG_Chunk* c) { EXPECT_EQ(static_cast<cPNG_sBIT*>(c)->alpha, 8); }},
      {"short sBIT", {{"IHDR", ihdr_data(1, 1, 8, 6)}}, "sBIT", Bytes{5, 6, 7}, errPNGFlowCorrupted,
       "{inherited.Read}", nullptr},
      {"pHYs", {}, "pHYs", Bytes{0, 0, 0x0B, 0x13, 0, 0, 0x0B, 0x13, 1}, 0, "",
       [](cTestPNG&, cPNG_Chunk* c) {
         EXPECT_EQ(static_cast<cPNG_pHYs*>(c)->x, 2835u);
         EXPECT_EQ(static_cast<cPNG_pHYs*>(c)->unit, 1);
       }},
      {"tIME", {}, "tIME", Bytes{0x07, 0xE9, 12, 31, 23, 59, 60}, 0, "",
       [](cTestPNG&, cPNG_Chunk* c) {
         EXPECT_EQ(static_cast<cPNG_tIME*>(c)->year, 2025);
         EXPECT_EQ(static_cast<cPNG_tIME*>(c)->second, 60);
       }},
      {"tEXt", {}, "tEXt", cat({text_bytes("Title"), Bytes{0}, text_bytes("Hello")}), 0, "",
       [](cTestPNG&, cPNG_Chunk* c) {
         auto* t = static_cast<cPNG_tEXt*>(c);
         EXPECT_EQ(t->keyword, "Title");
         EXPECT_EQ(std::string(reinterpret_cast<char*>(t->text), size_t(t->text_size)), "Hello");
       }},
      {"tEXt keyword of 100 bytes without NUL", {}, "tEXt", Bytes(100, 'k'), 0, "",
       [](cTestPNG&, cPNG_Chunk* c) {
         auto* t = static_cast<cPNG_tEXt*>(c);
         EXPECT_EQ(t->keyword, std::string(79, 'k'));
         EXPECT_EQ(t->text, nullptr);
       }},
      {"zTXt", {}, "zTXt", cat({text_bytes("Comment"), Bytes{0, 0}, zlib_pack(text_bytes("packed words"))}), 0, "",
       [](cTestPNG&, cPNG_Chunk* c) {
         auto* t = static_cast<cPNG_zTXt*>(c);
         EXPECT_EQ(std::string(reinterpret_cast<char*>(t->text), size_t(t->text_size)), "packed words");
       }},
      {"zTXt with an empty compressed part", {}, "zTXt", cat({text_bytes("K"), Bytes{0, 0}}), 0, "",
       [](cTestPNG&, cPNG_Chunk* c) { EXPECT_EQ(static_cast<cPNG_zTXt*>(c)->text, nullptr); }},
      {"zTXt without its method byte", {}, "zTXt", cat({text_bytes("K"), Bytes{0}}), errPNGFlowCorrupted,
       "{inherited.Read}", nullptr},
      {"zTXt that does not inflate", {}, "zTXt", cat({text_bytes("K"), Bytes{0, 0, 1, 2, 3}}), errZLibCall,
       "{zlib_decompress}", nullptr},
      {"zTXt with a preset dictionary", {}, "zTXt", cat({text_bytes("K"), Bytes{0, 0}, testenv::zlib_with_dictionary()}),
       errZLibCall, "{zlib_decompress}", nullptr},
      {"iTXt uncompressed", {}, "iTXt", cat({text_bytes("Key"), Bytes{0, 0, 0}, text_bytes("en"), Bytes{0},
                                             text_bytes("Schluessel"), Bytes{0}, text_bytes("text")}),
       0, "",
       [](cTestPNG&, cPNG_Chunk* c) {
         auto* t = static_cast<cPNG_iTXt*>(c);
         EXPECT_EQ(t->language, "en");
         EXPECT_EQ(t->translated_keyword, "Schluessel");
         EXPECT_EQ(std::string(reinterpret_cast<char*>(t->text), size_t(t->text_size)), "text");
       }},
      {"iTXt compressed", {}, "iTXt", cat({text_bytes("Key"), Bytes{0, 1, 0, 0, 0}, zlib_pack(text_bytes("zipped"))}),
       0, "",
       [](cTestPNG&, cPNG_Chunk* c) {
         auto* t = static_cast<cPNG_iTXt*>(c);
         EXPECT_EQ(std::string(reinterpret_cast<char*>(t->text), size_t(t->text_size)), "zipped");
       }},
      {"iTXt cut after its keyword", {}, "iTXt", cat({text_bytes("Key"), Bytes{0}}), errPNGFlowCorrupted,
       "{inherited.Read}", nullptr},
      // clang-format on
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    cTestPNG png;
    for (const auto& [type, data] : c.before) {
      bool ok = false;
      ASSERT_NE(png.Load(type, data, &ok), nullptr);
      ASSERT_TRUE(ok) << png.LastErrorText();
    }
    bool loaded = false;
    cPNG_Chunk* chunk = png.Load(c.type, c.data, &loaded);
    ASSERT_NE(chunk, nullptr);
    EXPECT_EQ(loaded, c.code == 0) << png.LastErrorText();
    if (c.code != 0) {
      EXPECT_TRUE(last_is(png, c.code, c.text)) << png.LastErrorCode() << " " << png.LastErrorText();
    }
    if (c.check) c.check(png, chunk);
    // Every kind clones into an object with the same header and no owner.
    std::unique_ptr<cPNG_Chunk> copy = chunk->Clone();
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->Owner(), nullptr);
    EXPECT_EQ(std::memcmp(copy->Header().ch_type, c.type.data(), 4), 0);
  }
}

TEST_F(PngChunks, TextLimitsEndPromptly) {
  // 9 MB of zeros inflate past the 8 MB limit of one chunk: the keyword
  // stays, the text is dropped, a warning row is logged, the load succeeds.
  const Bytes bomb = zlib_pack(Bytes(size_t(9) << 20, 0), 9);
  const auto start = std::chrono::steady_clock::now();
  cTestPNG png;
  bool loaded = false;
  auto* z = png.Load<cPNG_zTXt>("zTXt", cat({text_bytes("Bomb"), Bytes{0, 0}, bomb}), &loaded);
  EXPECT_TRUE(loaded);
  EXPECT_EQ(z->keyword, "Bomb");
  EXPECT_EQ(z->text, nullptr);
  EXPECT_TRUE(last_is(png, errPNGTooBigMemRequirement, "[warning]"));
  // Up to the limit is kept; four such texts fill the image's 32 MB, and the
  // fifth is dropped although it is small.
  const Bytes big = zlib_pack(Bytes(size_t(8) << 20, 'a'), 9);
  for (int i = 0; i < 4; ++i) {
    auto* t = png.Load<cPNG_zTXt>("zTXt", cat({text_bytes("Big"), Bytes{0, 0}, big}), &loaded);
    ASSERT_TRUE(loaded);
    EXPECT_EQ(t->text_size, 8 << 20);
  }
  const uint32_t rows = png.Log()->Count();
  auto* last =
      png.Load<cPNG_iTXt>("iTXt", cat({text_bytes("K"), Bytes{0, 1, 0, 0, 0}, zlib_pack(text_bytes("x"))}), &loaded);
  EXPECT_TRUE(loaded);
  EXPECT_EQ(last->text, nullptr);
  EXPECT_EQ(png.Log()->Count(), rows + 1);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

TEST_F(PngChunks, ChunksThatWriteThemselves) {
  cTestPNG png;
  auto bitmap = std::make_unique<cBitmap>(3, 2, cnBitmap24BGR);
  ASSERT_TRUE(bitmap->Create());
  bitmap->SetTransparentColor(0xFF102030u);
  png.mSaveBitmap = bitmap.get();
  rPNG_ChunkHeader h;
  auto flow = cMemoryFlow::Construct();
  ASSERT_TRUE(flow->Create());
  rPNG_Entry* ihdr = png.mChunks->AddChunk(h, &png, {}, "IHDR");
  rPNG_Entry* trns = png.mChunks->AddChunk(h, &png, {}, "tRNS");
  rPNG_Entry* time = png.mChunks->AddChunk(h, &png, {}, "tIME");
  ASSERT_TRUE(ihdr->cobj->SaveChunk(flow.get()));
  ASSERT_TRUE(trns->cobj->SaveChunk(flow.get()));
  ASSERT_TRUE(time->cobj->SaveChunk(flow.get()));
  const Bytes written = testenv::flow_bytes(*flow);
  const Bytes expected_head = cat({testenv::png_chunk_bytes("IHDR", ihdr_data(3, 2, 8, 2)),
                                   testenv::png_chunk_bytes("tRNS", Bytes{0, 0x10, 0, 0x20, 0, 0x30})});
  ASSERT_EQ(written.size(), expected_head.size() + 12 + 7);
  EXPECT_TRUE(std::equal(expected_head.begin(), expected_head.end(), written.begin()));
  EXPECT_EQ(static_cast<cPNG_IHDR*>(ihdr->cobj)->row_bytes, 9);
  // The tIME chunk reads back as written.
  cTestPNG back;
  const Bytes time_data(written.end() - 11, written.end() - 4);
  auto* t = back.Load<cPNG_tIME>("tIME", time_data);
  EXPECT_GE(t->year, 2024);

  // A second single-instance chunk is refused; a second text chunk is not.
  EXPECT_EQ(png.mChunks->AddChunk(h, &png, {}, "IHDR"), nullptr);
  EXPECT_NE(png.mChunks->AddChunk(h, &png, {}, "tEXt"), nullptr);
  EXPECT_NE(png.mChunks->AddChunk(h, &png, {}, "tEXt"), nullptr);

  // tRNS is written only for RGB headers; a write that fails is 300.
  cTestPNG rgba;
  auto alpha_bitmap = std::make_unique<cBitmap>(1, 1, cnBitmap32RGBA);
  ASSERT_TRUE(alpha_bitmap->Create());
  rgba.mSaveBitmap = alpha_bitmap.get();
  auto full = testenv::cFailingWriteFlow::Construct(10);
  rPNG_Entry* e = rgba.mChunks->AddChunk(h, &rgba, {}, "IHDR");
  EXPECT_FALSE(e->cobj->SaveChunk(full.get()));
  EXPECT_TRUE(last_is(rgba, errPNGFlowWrite, "{f.Write}"));
  rPNG_Entry* t2 = rgba.mChunks->AddChunk(h, &rgba, {}, "tRNS");
  EXPECT_FALSE(t2->cobj->SaveChunk(flow.get()));
  EXPECT_TRUE(last_is(rgba, errPreCondition, "{ctype<>cnCM_RGB}"));
}
