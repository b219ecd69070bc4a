#include <gtest/gtest.h>
#include <png.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "png_test_util.h"
#include "qlm_base_array.h"
#include "qlm_base_flow.h"
#include "qlm_png.h"
#include "qlm_zlib.h"
#include "test_files.h"

using testenv::Bytes;
using testenv::ihdr_data;
using testenv::pixel_argb;
using testenv::png_chunk_bytes;
using testenv::read_flow;
using testenv::zlib_pack;

namespace {

class PngImage : public ::testing::Test {
 protected:
  void SetUp() override {
    qlm_bitmap_start();
    qlm_png_start();
  }
  void TearDown() override {
    mem_alloc_fail_at(0);
    image_set_read_limits(cnImageReadLimits);
  }
};

bool logged(const cException& o, int32_t code, const char* text) {
  const cExceptionLog* log = o.Log();
  if (log == nullptr) return false;
  for (uint32_t i = 1; i <= log->Count(); ++i) {
    const rExceptionLog* row = log->Get(i);
    if (row->code == code && exception_log_row_text(*row).find(text) != std::string::npos) return true;
  }
  return false;
}

Bytes join(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

const Bytes kSignature(cnPNG_Signature, cnPNG_Signature + 8);
const Bytes kEnd = png_chunk_bytes("IEND", {});

// A 3 x 2 8-bit RGB image: rows of filter type 0.
Bytes rgb_rows() { return {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 10, 11, 12, 13, 14, 15, 16, 17, 18}; }
Bytes rgb_idat() { return png_chunk_bytes("IDAT", zlib_pack(rgb_rows())); }
Bytes rgb_header() { return png_chunk_bytes("IHDR", ihdr_data(3, 2, 8, 2)); }

void fixed_clock(rDate& date, rTime& time) {
  date = rDate{};
  date.day = 2;
  date.month = 3;
  date.year = 2004;
  time = rTime{};
  time.hour = 5;
  time.minute = 6;
  time.second = 7;
}

// Decodes with libpng's simplified API to RGBA; false when libpng refuses.
bool libpng_rgba(const Bytes& file, std::vector<uint8_t>& rgba, uint32_t& w, uint32_t& h) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, file.data(), file.size())) return false;
  image.format = PNG_FORMAT_RGBA;
  rgba.assign(PNG_IMAGE_SIZE(image), 0);
  w = image.width;
  h = image.height;
  const bool ok = png_image_finish_read(&image, nullptr, rgba.data(), 0, nullptr) != 0;
  png_image_free(&image);
  return ok;
}

Bytes save(cImage& image, cImagePNG& writer, bool* ok = nullptr) {
  auto flow = cMemoryFlow::Construct();
  EXPECT_TRUE(flow->Create());
  const bool saved = writer.SaveFrom(flow.get(), &image);
  if (ok != nullptr) *ok = saved;
  return testenv::flow_bytes(*flow);
}

// The chunk types of a stream, in order.
std::vector<std::string> chunk_types(const Bytes& file) {
  std::vector<std::string> out;
  for (size_t at = 8; at + 8 <= file.size();) {
    const uint32_t n = png_get_u32(file.data() + at);
    out.emplace_back(reinterpret_cast<const char*>(file.data() + at + 4), 4);
    at += 12 + size_t(n);
  }
  return out;
}

}  // namespace

TEST_F(PngImage, OpenTable) {
  Bytes big_text(700000, 'x');
  big_text[0] = 'K';
  big_text[1] = 0;
  struct Case {
    const char* name;
    Bytes stream;
    bool skip_signature;
    bool ok;
    int32_t code;
    const char* text;
    std::function<void(cImagePNG&)> check;
  };
  const Case cases[] = {
      {"a plain image", join({kSignature, rgb_header(), rgb_idat(), kEnd}), false, true, 0, "",
       [](cImagePNG& p) {
         ASSERT_NE(p.Bitmap(0), nullptr);
         EXPECT_EQ(p.Bitmap(0)->GetPixel(2, 1), 0xFF101112u);
         EXPECT_EQ(p.Bitmap(0)->PixelFormat(), px24BGR);
         EXPECT_EQ(p.mChunks, nullptr);
       }},
      {"no signature, skipped", join({rgb_header(), rgb_idat(), kEnd}), true, true, 0, "", nullptr},
      {"no signature", join({rgb_header(), rgb_idat(), kEnd}), false, false, errInvariant,
       "{pngh<>cnPNG_Signature}", nullptr},
      {"IHDR after a text chunk", join({kSignature, png_chunk_bytes("tEXt", {65, 0}), rgb_header()}), false, false,
       errPNGIHDRNotFirst, "{mChunks.Count>0}", nullptr},
      {"image data before IHDR", join({kSignature, png_chunk_bytes("tEXt", {65, 0}), rgb_idat(), kEnd}), false,
       false, errPNGIHDRNotFound, "{mChunks.IHDR=NIL}", nullptr},
      {"IDAT first", join({kSignature, rgb_idat(), kEnd}), false, false, errPNGIHDRNotFound, "{mChunks.IHDR=NIL}",
       nullptr},
      {"a second gAMA", join({kSignature, rgb_header(), png_chunk_bytes("gAMA", {0, 0, 0xB1, 0x8F}),
                              png_chunk_bytes("gAMA", {0, 0, 0xB1, 0x8F}), rgb_idat(), kEnd}),
       false, false, errPNGInvalidChunkType, "{entry=NIL}", nullptr},
      {"two text chunks", join({kSignature, rgb_header(), png_chunk_bytes("tEXt", {65, 0}),
                                png_chunk_bytes("tEXt", {66, 0}), rgb_idat(), kEnd}),
       false, true, 0, "", nullptr},
      {"an unknown ancillary chunk with a bad CRC", join({kSignature, rgb_header(), Bytes{0, 0, 0, 2, 'x', 'y', 'z', 'w',
                                                                                       1, 2, 9, 9, 9, 9},
                                                          rgb_idat(), kEnd}),
       false, true, 0, "", nullptr},
      {"an unknown critical chunk", join({kSignature, rgb_header(), png_chunk_bytes("ABCD", {1}), rgb_idat(), kEnd}),
       false, false, errPNGUnknownCriticalChunk, "{not flags.ancillary}", nullptr},
      {"a digit in a type", join({kSignature, rgb_header(), png_chunk_bytes("ab1d", {1}), rgb_idat(), kEnd}), false,
       false, errPNGInvalidChunkType, "{CheckType}", nullptr},
      {"a chunk longer than the flow", join({kSignature, rgb_header(), Bytes{0, 1, 0, 0, 't', 'E', 'X', 't', 0}}),
       false, false, errPNGInvalidChunkSize, "{aloc>flow.Size}", nullptr},
      {"a chunk above 655,200 bytes", join({kSignature, rgb_header(), png_chunk_bytes("tEXt", big_text)}), false,
       false, errPNGTooBigMemRequirement, "{aloc>cnSafeBlock*cnPNG_MAXSAFE}", nullptr},
      {"a wrong CRC", join({kSignature, Bytes{0, 0, 0, 13, 'I', 'H', 'D', 'R'}, ihdr_data(3, 2, 8, 2), Bytes{1, 2, 3, 4}}),
       false, false, errPNGInvalidCRC, "{lcrc<>ccrc}", nullptr},
      {"IDAT after the image data", join({kSignature, rgb_header(), rgb_idat(), png_chunk_bytes("tEXt", {65, 0}),
                                          rgb_idat(), kEnd}),
       false, true, 0, "",
       [](cImagePNG& p) { EXPECT_TRUE(logged(p, errPNGNonConsecutiveIDAT, "[warning]")); }},
      {"no IEND", join({kSignature, rgb_header(), rgb_idat()}), false, false, errPNGFlowCorrupted, "{flow.Read}",
       [](cImagePNG& p) {
         ASSERT_TRUE(p.IsOpened());
         EXPECT_EQ(p.Bitmap(0)->GetPixel(0, 0), 0xFF010203u);
       }},
      {"IEND before image data", join({kSignature, rgb_header(), kEnd}), false, true, 0, "",
       [](cImagePNG& p) {
         EXPECT_FALSE(p.IsOpened());
         EXPECT_EQ(p.Bitmap(0), nullptr);
       }},
      {"RGB with a tRNS key", join({kSignature, rgb_header(), png_chunk_bytes("tRNS", {0, 4, 0, 5, 0, 6}), rgb_idat(),
                                    kEnd}),
       false, true, 0, "",
       [](cImagePNG& p) {
         cBitmap* b = p.Bitmap(0);
         EXPECT_EQ(b->PixelFormat(), px32BGRA);
         EXPECT_EQ(pixel_argb(*b, 1, 0), 0x00040506u);
         EXPECT_EQ(pixel_argb(*b, 0, 0), 0xFF010203u);
         EXPECT_EQ(b->TransparentColor(), rgb_none);
       }},
      {"65537 x 21846", join({kSignature, png_chunk_bytes("IHDR", ihdr_data(65537, 21846, 8, 2)), rgb_idat(), kEnd}),
       false, false, errNEnoughMem, "{65537x21846 over the image read limits}",
       [](cImagePNG& p) { EXPECT_FALSE(p.IsOpened()); }},
      {"0x7FFFFFFF x 1", join({kSignature, png_chunk_bytes("IHDR", ihdr_data(0x7FFFFFFF, 1, 8, 2)), rgb_idat(), kEnd}),
       false, false, errNEnoughMem, "{2147483647x1 over the image read limits}", nullptr},
      {"a zero height", join({kSignature, png_chunk_bytes("IHDR", ihdr_data(3, 0, 8, 2)), rgb_idat(), kEnd}), false,
       false, errPNGInvalidImageDims, "{dx or dy = 0}", nullptr},
      {"a palette image with bKGD and no PLTE", join({kSignature, png_chunk_bytes("IHDR", ihdr_data(3, 2, 8, 3)),
                                                      png_chunk_bytes("bKGD", {0}), rgb_idat(), kEnd}),
       false, false, errPNGPaletteChunkNF, "{mPalette=NIL}", nullptr},
      {"zTXt with a preset dictionary", join({kSignature, rgb_header(),
                                              png_chunk_bytes("zTXt", join({Bytes{'K', 0, 0}, testenv::zlib_with_dictionary()})),
                                              rgb_idat(), kEnd}),
       false, false, errPNGLoadChunkFailed, "{entry.cobj.LoadChunk}", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto start = std::chrono::steady_clock::now();
    cImagePNG png;
    png.mSkipReadSignature = c.skip_signature;
    auto flow = read_flow(c.stream);
    EXPECT_EQ(png.Open(flow.get()), c.ok) << png.LastErrorText();
    if (!c.ok) {
      EXPECT_TRUE(logged(png, c.code, c.text)) << png.LastErrorCode() << " " << png.LastErrorText();
    }
    if (c.check) c.check(png);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  }
}

TEST_F(PngImage, WhatSaveFromWrites) {
  cImage image(5, 4, 0xFF112233u);
  ASSERT_TRUE(image.Create());
  cImagePNG writer;
  writer.mClock = &fixed_clock;
  const Bytes plain = save(image, writer);
  EXPECT_EQ(chunk_types(plain), (std::vector<std::string>{"IHDR", "tIME", "IDAT", "IEND"}));
  EXPECT_EQ(Bytes(plain.begin(), plain.begin() + 8), kSignature);
  EXPECT_EQ(save(image, writer), plain);  // the clock is fixed: byte-identical
  // tIME holds the clock's date and time.
  const Bytes time(plain.begin() + 8 + 25 + 8, plain.begin() + 8 + 25 + 15);
  EXPECT_EQ(time, (Bytes{0x07, 0xD4, 3, 2, 5, 6, 7}));

  image.Bitmap(0)->SetTransparentColor(0xFF112233u);
  const Bytes keyed = save(image, writer);
  EXPECT_EQ(chunk_types(keyed), (std::vector<std::string>{"IHDR", "tRNS", "tIME", "IDAT", "IEND"}));
  ASSERT_TRUE(image.Bitmap(0)->Convert(cnBitmap32RGBA));
  EXPECT_EQ(chunk_types(save(image, writer)), (std::vector<std::string>{"IHDR", "tIME", "IDAT", "IEND"}));

  writer.mSkipWriteSignature = true;
  const Bytes bare = save(image, writer);
  EXPECT_EQ(Bytes(bare.begin(), bare.begin() + 8), (Bytes{0, 0, 0, 13, 'I', 'H', 'D', 'R'}));

  // Refusals and a flow that fills up.
  cImagePNG w2;
  cImage closed;
  bool ok = true;
  save(closed, w2, &ok);
  EXPECT_FALSE(ok);
  EXPECT_TRUE(logged(w2, errPreCondition, "{not from.IsOpened}"));
  auto full = testenv::cFailingWriteFlow::Construct(40);
  EXPECT_FALSE(w2.SaveFrom(full.get(), &image));
  EXPECT_TRUE(logged(w2, errPNGSaveChunkFailed, "{entry.cobj.SaveChunk}"));
  w2.mDeflateLevel = 42;
  auto open_flow = cMemoryFlow::Construct();
  ASSERT_TRUE(open_flow->Create());
  EXPECT_FALSE(w2.SaveFrom(open_flow.get(), &image));
  EXPECT_TRUE(logged(w2, errZLibCall, "{deflateInit:"));
}

TEST_F(PngImage, ChooseFilterAndChunkSizes) {
  // Two pixels of 10, 10, 10: the scores are 4, 3, 4, 3, 3 and type 0 wins.
  cImagePNG png;
  cImage tiny(2, 1, 0xFF0A0A0Au);
  ASSERT_TRUE(tiny.Create());
  const Bytes file = save(tiny, png);
  const size_t idat = 8 + 25 + 19;
  ASSERT_EQ(std::string(reinterpret_cast<const char*>(file.data() + idat + 4), 4), "IDAT");
  void* raw = nullptr;
  int32_t raw_size = 0;
  ASSERT_TRUE(zlib_decompress(file.data() + idat + 8, int32_t(png_get_u32(file.data() + idat)), raw, raw_size));
  ASSERT_EQ(raw_size, 7);
  EXPECT_EQ(static_cast<uint8_t*>(raw)[0], 0);
  mem_free(raw);

  // Level 0: every IDAT but the last holds exactly 65,520 bytes.
  auto big = testenv::make_pattern(300, 300, cnBitmap32RGBA);
  cImage holder(300, 300, 0);
  ASSERT_TRUE(holder.Create());
  ASSERT_TRUE(holder.Bitmap(0)->Convert(cnBitmap32RGBA));
  ASSERT_TRUE(holder.Bitmap(0)->CopyBitmap(big.get(), 0, 0, -1));
  png.mDeflateLevel = 0;
  const Bytes stored = save(holder, png);
  std::vector<uint32_t> sizes;
  for (size_t at = 8; at + 8 <= stored.size();) {
    const uint32_t n = png_get_u32(stored.data() + at);
    if (std::memcmp(stored.data() + at + 4, "IDAT", 4) == 0) sizes.push_back(n);
    at += 12 + n;
  }
  ASSERT_GT(sizes.size(), 5u);
  for (size_t i = 0; i + 1 < sizes.size(); ++i) EXPECT_EQ(sizes[i], uint32_t(cnSafeBlock)) << i;
  EXPECT_LE(sizes.back(), uint32_t(cnSafeBlock));
  EXPECT_GT(sizes.back(), 0u);
  cImagePNG back;
  auto flow = read_flow(stored);
  ASSERT_TRUE(back.Open(flow.get())) << back.LastErrorText();
  EXPECT_TRUE(testenv::bitmaps_equal(*back.Bitmap(0), *big));
}

// The filtered rows by the plain rule, byte by byte: each candidate of the
// five filter types, the one whose bytes most often repeat one of the two
// before (ties keep the lower type), after its type byte.
Bytes filtered_by_the_rule(const cBitmap& b, bool alpha, int chosen[5]) {
  const int64_t bpp = alpha ? 4 : 3, L = b.Width() * bpp;
  Bytes prior(size_t(L), 0), raw(size_t(L), 0), out;
  for (int32_t y = 0; y < b.Height(); ++y) {
    for (int32_t x = 0; x < b.Width(); ++x) {
      const uint32_t p = pixel_argb(b, x, y);
      const uint8_t rgba[4] = {uint8_t(p >> 16), uint8_t(p >> 8), uint8_t(p), uint8_t(p >> 24)};
      std::memcpy(raw.data() + x * bpp, rgba, size_t(bpp));
    }
    Bytes c[5];
    for (Bytes& r : c) r.resize(size_t(L));
    for (int64_t i = 0; i < L; ++i) {
      const uint8_t left = i >= bpp ? raw[i - bpp] : 0, up = prior[i], upper_left = i >= bpp ? prior[i - bpp] : 0;
      c[0][i] = raw[i];
      c[1][i] = uint8_t(raw[i] - left);
      c[2][i] = uint8_t(raw[i] - up);
      c[3][i] = uint8_t(raw[i] - (left + up) / 2);
      c[4][i] = uint8_t(raw[i] - png_paeth(left, up, upper_left));
    }
    int best = 0, best_score = -1;
    for (int f = 0; f < 5; ++f) {
      int score = 0;
      for (int64_t d = 2; d < L; ++d) score += c[f][d] == c[f][d - 1] || c[f][d] == c[f][d - 2];
      if (score > best_score) best = f, best_score = score;
    }
    ++chosen[best];
    out.push_back(uint8_t(best));
    out.insert(out.end(), c[best].begin(), c[best].end());
    prior = raw;
  }
  return out;
}

// Random pictures of both kinds and many widths, rows of noise, of a few
// levels near the ends of the range, of runs and of ramps: the image data
// written is the plain rule's, so a file's bytes do not depend on how the
// rule is computed.
TEST_F(PngImage, TheFilteredRowsFollowThePlainRule) {
  std::mt19937 rng(11);
  int chosen[5] = {};
  for (const int32_t kind : {cnBitmap24BGR, cnBitmap32RGBA})
    for (int32_t w = 1; w <= 300; w += w < 24 ? 1 : 23) {
      SCOPED_TRACE(std::to_string(kind) + " " + std::to_string(w));
      const int32_t h = 8;
      cImage image(w, h, 0);
      ASSERT_TRUE(image.Create());
      cBitmap* b = image.Bitmap(0);
      ASSERT_TRUE(b->Convert(kind));
      const uint8_t levels[] = {0, 1, 2, 127, 128, 129, 253, 254, 255};
      for (int32_t y = 0; y < h; ++y) {
        uint8_t* row = b->Data() + y * b->Stride();
        const uint32_t style = rng() % 4;
        for (int64_t i = 0, n = int64_t(w) * b->BytesPerPixel(); i < n; ++i)
          row[i] = style == 0   ? uint8_t(rng())
                   : style == 1 ? levels[rng() % 9]
                   : style == 2 ? uint8_t(i / 7 * 40)
                                : uint8_t(i * (y + 1) + rng() % 3);
      }
      cImagePNG png;
      const Bytes file = save(image, png);
      Bytes idat;
      for (size_t at = 8; at + 8 <= file.size();) {
        const uint32_t n = png_get_u32(file.data() + at);
        if (std::memcmp(file.data() + at + 4, "IDAT", 4) == 0)
          idat.insert(idat.end(), file.begin() + long(at) + 8, file.begin() + long(at) + 8 + n);
        at += 12 + n;
      }
      void* rows = nullptr;
      int32_t size = 0;
      ASSERT_TRUE(zlib_decompress(idat.data(), int32_t(idat.size()), rows, size));
      const Bytes got(static_cast<uint8_t*>(rows), static_cast<uint8_t*>(rows) + size);
      mem_free(rows);
      ASSERT_EQ(got, filtered_by_the_rule(*b, b->HasAlpha(), chosen));
    }
  for (int f = 0; f < 5; ++f) EXPECT_GT(chosen[f], 0) << "filter type " << f << " never chosen";
}

TEST_F(PngImage, RoundTripsThroughOursAndLibpng) {
  std::mt19937 rng(7);
  const std::pair<int32_t, int32_t> sizes[] = {{1, 1},  {2, 2},  {5, 5},  {17, 17}, {70, 70},
                                               {1, 40}, {40, 1}, {3, 70}, {70, 3},  {33, 9}};
  int checked_with_pngcheck = 0;
  for (const auto& [w, h] : sizes)
    for (int32_t kind : {cnBitmap24BGR, cnBitmap24RGB, cnBitmap32RGBA, cnBitmap32ABGR})
      for (bool key : {false, true})
        for (bool no_filter : {false, true})
          for (int level : {0, 6}) {
            SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h) + " kind " + std::to_string(kind) +
                         (key ? " key" : "") + (no_filter ? " nofilter" : "") + " level " + std::to_string(level));
            // Smooth areas and noise, so that every filter type is chosen somewhere.
            auto source = testenv::make_bitmap(w, h, kind, [&](int32_t x, int32_t y) {
              const uint32_t noise = rng();
              return (x + y) % 3 == 0 ? color_rgba(uint8_t(x * 3), uint8_t(y * 5), 40, uint8_t(200 + x % 50)) : noise;
            });
            const uint32_t key_colour = pixel_argb(*source, 0, 0) | 0xFF000000u;
            const bool keyed = key && !source->HasAlpha();
            cImage image(uint32_t(w), uint32_t(h), 0);
            ASSERT_TRUE(image.Create());
            ASSERT_TRUE(image.Bitmap(0)->Convert(kind));
            ASSERT_TRUE(image.Bitmap(0)->CopyBitmap(source.get(), 0, 0, -1));
            if (keyed) image.Bitmap(0)->SetTransparentColor(key_colour);
            cImagePNG writer;
            writer.mNoFilter = no_filter;
            writer.mDeflateLevel = level;
            bool ok = false;
            const Bytes file = save(image, writer, &ok);
            ASSERT_TRUE(ok) << writer.LastErrorText();
            // What a reader must see: the colours, alpha from the source or
            // from the key.
            auto expected = [&](int32_t x, int32_t y) {
              const uint32_t v = pixel_argb(*source, x, y);
              if (keyed) return (v | 0xFF000000u) == key_colour ? (v & 0x00FFFFFFu) : (v | 0xFF000000u);
              return source->HasAlpha() ? v : v | 0xFF000000u;
            };
            cImagePNG reader;
            auto flow = read_flow(file);
            ASSERT_TRUE(reader.Open(flow.get())) << reader.LastErrorText();
            ASSERT_TRUE(testenv::bitmap_matches(*reader.Bitmap(0), expected));
            std::vector<uint8_t> rgba;
            uint32_t lw = 0, lh = 0;
            ASSERT_TRUE(libpng_rgba(file, rgba, lw, lh));
            ASSERT_EQ(lw, uint32_t(w));
            ASSERT_EQ(lh, uint32_t(h));
            for (int32_t y = 0; y < h; ++y)
              for (int32_t x = 0; x < w; ++x) {
                const uint8_t* p = rgba.data() + (size_t(y) * size_t(w) + size_t(x)) * 4;
                ASSERT_EQ(color_rgba(p[0], p[1], p[2], p[3]), expected(x, y)) << x << "," << y;
              }
            if (checked_with_pngcheck < 12 && (w * h) % 2 == 1) {
              const std::string path = "roundtrip.png";
              testenv::write_file(path, std::string(file.begin(), file.end()));
              EXPECT_EQ(std::system(("pngcheck -q " + path + " >/dev/null 2>&1").c_str()), 0);
              ++checked_with_pngcheck;
            }
          }
  EXPECT_EQ(checked_with_pngcheck, 12);
}

// A 2 x 1 palette image whose two entries are both black, with a one-entry
// tRNS: each entry takes its own alpha (entry 1, beyond the chunk, is
// opaque), as libpng reads it. Taking entry 0's colour as a transparent
// colour made every black pixel take entry 0's transparency.
TEST_F(PngImage, AShortPaletteTransparencyGivesEachEntryItsOwnAlpha) {
  for (const uint8_t alpha0 : {uint8_t(255), uint8_t(0)}) {
    SCOPED_TRACE(int(alpha0));
    const Bytes file =
        join({kSignature, png_chunk_bytes("IHDR", ihdr_data(2, 1, 8, 3)), png_chunk_bytes("PLTE", Bytes(6, 0)),
              png_chunk_bytes("tRNS", {alpha0}), png_chunk_bytes("IDAT", zlib_pack({0, 0, 1})), kEnd});
    EXPECT_EQ(file.size(), 99u);
    std::vector<uint8_t> rgba;
    uint32_t w = 0, h = 0;
    ASSERT_TRUE(libpng_rgba(file, rgba, w, h));
    ASSERT_EQ(rgba, (std::vector<uint8_t>{0, 0, 0, alpha0, 0, 0, 0, 255}));
    cImagePNG png;
    auto flow = read_flow(file);
    ASSERT_TRUE(png.Open(flow.get())) << png.LastErrorText();
    const cBitmap* bitmap = png.Bitmap(0);
    ASSERT_NE(bitmap, nullptr);
    EXPECT_TRUE(bitmap->HasAlpha());
    EXPECT_EQ(pixel_argb(*bitmap, 0, 0), uint32_t(alpha0) << 24);
    EXPECT_EQ(pixel_argb(*bitmap, 1, 0), 0xFF000000u);
  }
}

// The image data of a 5 x 4 picture whose pixels are given as their sample
// bytes, every row of filter type 0, plain or in the seven interlace passes.
Bytes key_picture_rows(const std::vector<Bytes>& pixels, bool interlaced) {
  constexpr int kW = 5, kH = 4;
  Bytes rows;
  auto pass_row = [&](int y, int first, int step) {
    if (first >= kW) return;
    rows.push_back(0);
    for (int x = first; x < kW; x += step) {
      const Bytes& p = pixels[size_t(y * kW + x)];
      rows.insert(rows.end(), p.begin(), p.end());
    }
  };
  if (!interlaced) {
    for (int y = 0; y < kH; ++y) pass_row(y, 0, 1);
    return rows;
  }
  const int passes[7][4] = {{0, 0, 8, 8}, {0, 4, 8, 8}, {4, 0, 8, 4}, {0, 2, 4, 4},
                            {2, 0, 4, 2}, {0, 1, 2, 2}, {1, 0, 2, 1}};
  for (const auto& p : passes)
    for (int y = p[0]; y < kH; y += p[2]) pass_row(y, p[1], p[3]);
  return rows;
}

// A grey or RGB key makes transparent exactly the pixels whose raw samples
// equal it at full depth: not those whose 16-bit samples share its high byte,
// nor those the gamma table maps onto the same level.
TEST_F(PngImage, AKeyMatchesTheRawSamplesAtFullDepth) {
  auto be16 = [](uint32_t v) { return Bytes{uint8_t(v >> 8), uint8_t(v)}; };
  auto rgb16 = [&](uint32_t r, uint32_t g, uint32_t b) { return join({be16(r), be16(g), be16(b)}); };
  struct Case {
    const char* name;
    uint8_t depth, color_type;
    Bytes gamma, key;
    std::vector<Bytes> pixels;  // 5 x 4, row by row
    std::vector<int> transparent;
  };
  std::vector<Case> cases;
  {
    // Grey 54262 (0xD3F6) at 3 and 11; 16 other levels with high byte 0xD3.
    Case c{"16-bit grey", 16, 0, {}, be16(54262), {}, {3, 11}};
    for (int i = 0, other = 0; i < 20; ++i)
      c.pixels.push_back(i == 3 || i == 11 ? be16(54262)
                         : i >= 18         ? be16(i == 18 ? 0 : 0xFFFF)
                                           : be16(0xD300 + other++));
    cases.push_back(c);
  }
  {
    // gAMA 1.0 maps both 254 and 255 to 255: only 254 is the key.
    Case c{"8-bit RGB through a gamma table", 8, 2, {0, 1, 0x86, 0xA0}, {0, 254, 0, 254, 0, 254}, {}, {0, 7, 19}};
    for (int i = 0; i < 20; ++i)
      c.pixels.push_back(i == 0 || i == 7 || i == 19 ? Bytes{254, 254, 254}
                         : i % 2                     ? Bytes{255, 255, 255}
                                                     : Bytes{254, 254, 255});
    cases.push_back(c);
  }
  {
    Case c{"16-bit RGB", 16, 2, {}, rgb16(0x1234, 0x5678, 0x9ABC), {}, {5, 16}};
    for (int i = 0; i < 20; ++i)
      c.pixels.push_back(i == 5 || i == 16 ? rgb16(0x1234, 0x5678, 0x9ABC)
                                           : rgb16(0x1234 + (i % 3 == 0), 0x5678 + (i % 3 == 1), 0x9A00 + i));
    cases.push_back(c);
  }
  for (const Case& c : cases)
    for (const bool interlaced : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (interlaced ? ", interlaced" : ""));
      const Bytes file =
          join({kSignature, png_chunk_bytes("IHDR", ihdr_data(5, 4, c.depth, c.color_type, interlaced)),
                c.gamma.empty() ? Bytes{} : png_chunk_bytes("gAMA", c.gamma), png_chunk_bytes("tRNS", c.key),
                png_chunk_bytes("IDAT", zlib_pack(key_picture_rows(c.pixels, interlaced))), kEnd});
      cImagePNG png;
      auto flow = read_flow(file);
      ASSERT_TRUE(png.Open(flow.get())) << png.LastErrorText();
      const cBitmap* b = png.Bitmap(0);
      ASSERT_NE(b, nullptr);
      ASSERT_TRUE(b->HasAlpha());
      std::vector<int> transparent;
      for (int i = 0; i < 20; ++i) {
        const uint32_t alpha = pixel_argb(*b, i % 5, i / 5) >> 24;
        EXPECT_TRUE(alpha == 0 || alpha == 255) << i;
        if (alpha == 0) transparent.push_back(i);
      }
      EXPECT_EQ(transparent, c.transparent);
    }
}

// A 69-byte file that says 26000 x 26000 made a 1.9 GB bitmap before its
// data ran out; the read limits refuse it before the bitmap. Limits the
// program sets hold to the pixel and to the byte.
TEST_F(PngImage, TheReadLimitsRefuseAPictureBeforeItsBitmapIsMade) {
  const Bytes bomb = join({kSignature, png_chunk_bytes("IHDR", ihdr_data(26000, 26000, 8, 2)),
                           png_chunk_bytes("IDAT", zlib_pack({0, 0, 0, 0})), kEnd});
  EXPECT_EQ(bomb.size(), 69u);
  {
    cImagePNG png;
    auto flow = read_flow(bomb);
    EXPECT_FALSE(png.Open(flow.get()));
    EXPECT_TRUE(logged(png, errNEnoughMem, "{26000x26000 over the image read limits}")) << png.LastErrorText();
    EXPECT_EQ(png.Bitmap(0), nullptr);
  }
  // The 3 x 2 picture in a 24-bit bitmap: rows of 12 bytes (aligned to 4).
  const Bytes file = join({kSignature, rgb_header(), rgb_idat(), kEnd});
  struct Case {
    rImageReadLimits limits;
    bool opens;
  };
  const Case cases[] = {{{3, 2, 24}, true}, {{2, 2, 24}, false}, {{3, 1, 24}, false}, {{3, 2, 23}, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.limits.width << " " << c.limits.height << " " << c.limits.bytes);
    image_set_read_limits(c.limits);
    cImagePNG png;
    auto flow = read_flow(file);
    EXPECT_EQ(png.Open(flow.get()), c.opens) << png.LastErrorText();
    EXPECT_EQ(png.Bitmap(0) != nullptr, c.opens);
    EXPECT_EQ(logged(png, errNEnoughMem, "{3x2 over the image read limits}"), !c.opens) << png.LastErrorText();
  }
  image_set_read_limits({0, 0, 0});
  EXPECT_EQ(image_read_limits().width, 16384);
  EXPECT_EQ(image_read_limits().height, 16384);
  EXPECT_EQ(image_read_limits().bytes, int64_t(256) << 20);
}

TEST_F(PngImage, CloneWithKeptChunksAndReopen) {
  const Bytes stream =
      join({kSignature, rgb_header(), png_chunk_bytes("gAMA", {0, 0, 0xB1, 0x8F}),
            png_chunk_bytes("tRNS", {0, 4, 0, 5, 0, 6}), png_chunk_bytes("tEXt", {65, 0, 66}), rgb_idat(), kEnd});
  cImagePNG png;
  png.mKeepChunks = true;
  png.mNoFilter = true;
  png.mDeflateLevel = 9;
  png.mBackgroundRed = 4;
  for (int round = 0; round < 2; ++round) {
    auto flow = read_flow(stream);
    ASSERT_TRUE(png.Open(flow.get())) << png.LastErrorText();
    ASSERT_NE(png.mChunks, nullptr);
    EXPECT_EQ(png.mChunks->Count(), 5u);  // IHDR, gAMA, tRNS, tEXt, IEND
    if (round == 0) {
      ASSERT_TRUE(png.Close());
    }
  }
  png.mFallbackTRNS = png.mChunks->tRNS;
  std::unique_ptr<cImage> copy(png.Clone(false));
  ASSERT_NE(copy, nullptr);
  auto* c = dynamic_cast<cImagePNG*>(copy.get());
  ASSERT_NE(c, nullptr);
  ASSERT_NE(c->mChunks, png.mChunks);
  EXPECT_NE(c->mChunks->IHDR, nullptr);
  EXPECT_NE(c->mChunks->IHDR, png.mChunks->IHDR);
  EXPECT_EQ(c->mChunks->IHDR->Owner(), c);
  EXPECT_EQ(c->mChunks->gAMA->table, c->mChunks->IHDR->gamma);
  EXPECT_EQ(c->mFallbackTRNS, c->mChunks->tRNS);
  EXPECT_EQ(c->mChunks->tRNS->Colour(), png.mChunks->tRNS->Colour());
  EXPECT_TRUE(c->mNoFilter);
  EXPECT_EQ(c->mDeflateLevel, 9);
  EXPECT_EQ(c->mBackgroundRed, 4);
  EXPECT_EQ(c->Bitmap(0), png.Bitmap(0));  // shallow: the bitmap is shared
  EXPECT_TRUE(object_identify(c, id_cImagePNG));
}

TEST_F(PngImage, EveryFailedAllocationOfOpenAndSave) {
  const Bytes stream =
      join({kSignature, rgb_header(), png_chunk_bytes("tRNS", {0, 4, 0, 5, 0, 6}),
            png_chunk_bytes("zTXt", join({Bytes{'K', 0, 0}, zlib_pack(Bytes(100, 'z'))})), rgb_idat(), kEnd});
  {
    cImagePNG probe;
    auto flow = read_flow(stream);
    mem_alloc_fail_at(0);
    ASSERT_TRUE(probe.Open(flow.get()));
  }
  const int64_t allocations = mem_alloc_count();
  for (int64_t k = 1; k <= allocations; ++k) {
    cImagePNG png;
    auto flow = read_flow(stream);
    mem_alloc_fail_at(k);
    const bool ok = png.Open(flow.get());
    mem_alloc_fail_at(0);
    EXPECT_FALSE(ok) << k;
    if (png.IsOpened()) {
      EXPECT_NE(png.Bitmap(0), nullptr);
    }
  }
}
