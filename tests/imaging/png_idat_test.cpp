#include <gtest/gtest.h>

#include <chrono>
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
using testenv::pixel_argb;
using testenv::png_chunk_bytes;
using testenv::ProgressRecorder;
using testenv::zlib_pack;

namespace {

class PngIdat : public ::testing::Test {
 protected:
  void SetUp() override {
    qlm_bitmap_start();
    qlm_png_start();
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

int channels_of(uint8_t ctype) {
  switch (ctype) {
    case 0: return 1;
    case 2: return 3;
    case 3: return 1;
    case 4: return 2;
    default: return 4;
  }
}

// A synthetic image: samples from a hash, rows packed, filtered by a cycle of
// filter types (7 stores a row as it is), deflated by zlib.
struct Synth {
  uint8_t ctype = 2, depth = 8;
  int32_t w = 1, h = 1;
  bool interlaced = false;
  std::string filters = std::string("\x00\x01\x02\x03\x04\x07", 6);  // filter types, cycled
  uint32_t seed = 1;

  uint32_t Sample(int32_t x, int32_t y, int c) const {
    uint32_t v = uint32_t(x) * 0x9E3779B1u ^ uint32_t(y) * 0x85EBCA77u ^ uint32_t(c + 1) * 0xC2B2AE3Du ^ seed;
    v ^= v >> 13;
    v *= 0x5bd1e995u;
    v ^= v >> 15;
    return v & ((depth == 16 ? 0xFFFFu : (1u << depth) - 1));
  }
  Bytes Row(const std::vector<int32_t>& xs, int32_t y) const {
    std::vector<uint32_t> s;
    for (int32_t x : xs)
      for (int c = 0; c < channels_of(ctype); ++c) s.push_back(Sample(x, y, c));
    return testenv::pack_samples(s, depth);
  }
  // The filtered, unpacked stream of every (pass) row.
  Bytes Raw() const {
    Bytes out;
    const int b = png_pixel_bytes(ctype, depth);
    size_t row_index = 0;
    auto emit = [&](const std::vector<std::pair<int32_t, std::vector<int32_t>>>& rows) {
      Bytes prior;
      for (const auto& [y, xs] : rows) {
        const Bytes raw = Row(xs, y);
        if (prior.size() != raw.size()) prior.assign(raw.size(), 0);
        const Bytes f = testenv::filter_row(uint8_t(filters[row_index++ % filters.size()]), raw, prior, b);
        out.insert(out.end(), f.begin(), f.end());
        prior = raw;
      }
    };
    if (!interlaced) {
      std::vector<std::pair<int32_t, std::vector<int32_t>>> rows;
      std::vector<int32_t> xs;
      for (int32_t x = 0; x < w; ++x) xs.push_back(x);
      for (int32_t y = 0; y < h; ++y) rows.push_back({y, xs});
      emit(rows);
    } else {
      for (int32_t pass = 1; pass <= 7; ++pass) {
        const rPNGPass& p = cnPNGPasses[pass - 1];
        std::vector<int32_t> xs;
        for (int32_t x = p.first_column; x < w; x += p.column_step) xs.push_back(x);
        if (xs.empty()) continue;
        std::vector<std::pair<int32_t, std::vector<int32_t>>> rows;
        for (int32_t y = p.first_row; y < h; y += p.row_step) rows.push_back({y, xs});
        emit(rows);
      }
    }
    return out;
  }
  // The expected pixel (alpha 255 where the image has none).
  uint32_t Expected(int32_t x, int32_t y, const uint8_t (*palette)[3], const Bytes& trns) const {
    auto hi = [&](uint32_t v) { return uint8_t(depth == 16 ? v >> 8 : v); };
    switch (ctype) {
      case 0: {
        const uint32_t v = Sample(x, y, 0);
        const uint8_t g = depth == 16 ? uint8_t(v >> 8) : uint8_t(v * 255 / ((1u << depth) - 1));
        return color_rgb(g, g, g);
      }
      case 2: return color_rgb(hi(Sample(x, y, 0)), hi(Sample(x, y, 1)), hi(Sample(x, y, 2)));
      case 3: {
        const uint32_t k = Sample(x, y, 0);
        const uint8_t a = k < trns.size() ? trns[k] : 255;
        return color_rgba(palette[k][0], palette[k][1], palette[k][2], a);
      }
      case 4: {
        const uint8_t g = hi(Sample(x, y, 0));
        return color_rgba(g, g, g, hi(Sample(x, y, 1)));
      }
      default: return color_rgba(hi(Sample(x, y, 0)), hi(Sample(x, y, 1)), hi(Sample(x, y, 2)), hi(Sample(x, y, 3)));
    }
  }
};

Bytes palette_data() {
  Bytes p;
  for (int i = 0; i < 256; ++i) {
    p.push_back(uint8_t(i));
    p.push_back(uint8_t(255 - i));
    p.push_back(uint8_t(i * 7));
  }
  return p;
}

// Splits a zlib stream into IDAT chunks of at most `piece` bytes (0: one).
Bytes idat_chunks(const Bytes& z, size_t piece = 0) {
  Bytes out;
  if (piece == 0) piece = z.size();
  for (size_t at = 0; at < z.size(); at += piece) {
    const Bytes part(z.begin() + long(at), z.begin() + long(std::min(z.size(), at + piece)));
    const Bytes c = png_chunk_bytes("IDAT", part);
    out.insert(out.end(), c.begin(), c.end());
  }
  return out;
}

// Header (and palette, tRNS) loaded, bitmap made.
void prepare(cTestPNG& png, const Synth& s, const Bytes& trns = {}, int32_t alpha_kind = cnBitmap32BGRA) {
  png.Load("IHDR", ihdr_data(uint32_t(s.w), uint32_t(s.h), s.depth, s.ctype, s.interlaced ? 1 : 0));
  if (s.ctype == 3) png.Load("PLTE", palette_data());
  if (!trns.empty()) png.Load("tRNS", trns);
  ASSERT_TRUE(png.MakeBitmap(alpha_kind));
}

}  // namespace

TEST_F(PngIdat, EveryColourTypeDepthAndSizePlainAndInterlaced) {
  const std::pair<uint8_t, uint8_t> kinds[] = {{0, 1}, {0, 2}, {0, 4}, {0, 8}, {0, 16}, {2, 8}, {2, 16}, {3, 1},
                                               {3, 2}, {3, 4}, {3, 8}, {4, 8}, {4, 16}, {6, 8}, {6, 16}};
  int runs = 0;
  for (const auto& [ctype, depth] : kinds)
    for (bool interlaced : {false, true})
      for (int32_t w = 1; w <= 9; ++w)
        for (int32_t h = 1; h <= 9; ++h) {
          Synth s;
          s.ctype = ctype;
          s.depth = depth;
          s.w = w;
          s.h = h;
          s.interlaced = interlaced;
          s.seed = uint32_t(w * 31 + h);
          std::rotate(s.filters.begin(), s.filters.begin() + (w + h) % 6, s.filters.end());
          // Palette images with three alpha entries; the rest without tRNS.
          const Bytes trns = ctype == 3 ? Bytes{10, 20, 30} : Bytes{};
          cTestPNG png;
          prepare(png, s, trns, (w + h) % 2 ? cnBitmap32RGBA : cnBitmap32BGRA);
          ASSERT_TRUE(png.Decode(idat_chunks(zlib_pack(s.Raw())))) << png.LastErrorText();
          ++runs;
          const cBitmap& b = *png.Bitmap(0);
          const bool has_alpha = b.HasAlpha();
          ASSERT_TRUE(testenv::bitmap_matches(
              b,
              [&](int32_t x, int32_t y) {
                const uint32_t e =
                    s.Expected(x, y, png.mChunks->PLTE != nullptr ? png.mChunks->PLTE->palette : nullptr, trns);
                return has_alpha ? e : e | 0xFF000000u;
              }))
              << int(ctype) << "/" << int(depth) << " " << w << "x" << h << (interlaced ? " interlaced" : "");
          EXPECT_EQ(png.Flow()->Curr(), png.Flow()->Size());  // behind the last CRC
        }
  EXPECT_EQ(runs, 15 * 2 * 81);
}

TEST_F(PngIdat, SixteenBitSamplesKeepTheHighByteThroughGamma) {
  cTestPNG png;
  png.Load("IHDR", ihdr_data(1, 1, 16, 2));
  Bytes g;
  testenv::put_be32(g, 100000);
  png.Load("gAMA", g);
  ASSERT_TRUE(png.MakeBitmap());
  const uint8_t* T = png.mChunks->IHDR->gamma;
  ASSERT_NE(T[0x12], 0x12);
  ASSERT_TRUE(png.Decode(idat_chunks(zlib_pack(Bytes{0, 0x12, 0xFF, 0x34, 0x00, 0x56, 0x01}))));
  EXPECT_EQ(png.Bitmap(0)->GetPixel(0, 0), color_rgb(T[0x12], T[0x34], T[0x56]));
}

TEST_F(PngIdat, BlendTowardTheBackground) {
  struct Case {
    Bytes bkgd;
    bool blend_on;
    Bytes pixel;  // RGBA
    uint32_t expected;
  };
  const Case cases[] = {
      {{0, 255, 0, 255, 0, 255}, true, {0, 0, 0, 128}, 0x807F7F7Fu},
      {{0, 255, 0, 255, 0, 255}, false, {0, 0, 0, 128}, 0x80000000u},
      {{0, 0, 0, 0, 0, 0}, true, {255, 255, 255, 255}, 0xFFFEFEFEu},  // one step toward the background
      {{0, 10, 0, 200, 0, 100}, true, {20, 100, 100, 0}, 0x000AC864u},
  };
  for (const Case& c : cases) {
    cTestPNG png;
    png.mBlendOnBackground = c.blend_on;
    png.Load("IHDR", ihdr_data(1, 1, 8, 6));
    png.Load("bKGD", c.bkgd);
    ASSERT_TRUE(png.MakeBitmap());
    Bytes row = {0};
    row.insert(row.end(), c.pixel.begin(), c.pixel.end());
    ASSERT_TRUE(png.Decode(idat_chunks(zlib_pack(row))));
    EXPECT_EQ(pixel_argb(*png.Bitmap(0), 0, 0), c.expected) << testenv::argb_text(c.expected);
  }
  // Palette with a two-entry tRNS: indexes 2 and up stay opaque.
  cTestPNG png;
  png.Load("IHDR", ihdr_data(3, 1, 8, 3));
  png.Load("PLTE", palette_data());
  png.Load("tRNS", Bytes{0, 77});
  ASSERT_TRUE(png.MakeBitmap());
  ASSERT_TRUE(png.Decode(idat_chunks(zlib_pack(Bytes{0, 0, 1, 2}))));
  EXPECT_EQ(png.Bitmap(0)->GetAlpha(0, 0), 0);
  EXPECT_EQ(png.Bitmap(0)->GetAlpha(1, 0), 77);
  EXPECT_EQ(png.Bitmap(0)->GetAlpha(2, 0), 255);
}

// Random 8-bit RGBA rows of many widths into every 32-bit channel order,
// with and without a background to blend toward, plain and interlaced: each
// pixel is the sample's colour, or g + floor((c - g) x a / 256) per channel
// when blending, and its alpha the sample's.
TEST_F(PngIdat, RgbaRowsAndTheirBlendInEveryOrder) {
  uint32_t v = 2463534242u;
  auto next = [&v] {
    v ^= v << 13, v ^= v >> 17, v ^= v << 5;
    return v;
  };
  for (const int32_t kind : {cnBitmap32RGBA, cnBitmap32BGRA, cnBitmap32ARGB, cnBitmap32ABGR})
    for (const bool interlaced : {false, true})
      for (const bool blend : {false, true})
        for (const int32_t w : {1, 3, 4, 5, 8, 13, 31, 64}) {
          SCOPED_TRACE(std::to_string(kind) + (interlaced ? " interlaced " : " ") + (blend ? "blend " : "") +
                       std::to_string(w));
          const int32_t h = 3;
          const uint8_t g[3] = {uint8_t(next()), uint8_t(next()), uint8_t(next())};
          std::vector<uint8_t> samples(size_t(w) * h * 4);
          for (uint8_t& b : samples) b = uint8_t(next());
          for (size_t i = 3; i < samples.size(); i += 16) samples[i] = 255;  // some opaque
          for (size_t i = 7; i < samples.size(); i += 16) samples[i] = 0;    // some clear
          Bytes rows;
          auto put_row = [&](int32_t y, int32_t first, int32_t step) {
            rows.push_back(0);
            for (int32_t x = first; x < w; x += step)
              rows.insert(rows.end(), samples.begin() + (y * w + x) * 4, samples.begin() + (y * w + x) * 4 + 4);
          };
          if (!interlaced)
            for (int32_t y = 0; y < h; ++y) put_row(y, 0, 1);
          else
            for (int32_t pass = 1; pass <= 7; ++pass) {
              const rPNGPass& p = cnPNGPasses[pass - 1];
              if (p.first_column >= w) continue;
              for (int32_t y = p.first_row; y < h; y += p.row_step) put_row(y, p.first_column, p.column_step);
            }
          cTestPNG png;
          png.Load("IHDR", ihdr_data(uint32_t(w), uint32_t(h), 8, 6, interlaced ? 1 : 0));
          png.Load("bKGD", Bytes{0, g[0], 0, g[1], 0, g[2]});
          png.mBlendOnBackground = blend;
          ASSERT_TRUE(png.MakeBitmap(kind));
          ASSERT_TRUE(png.Decode(idat_chunks(zlib_pack(rows)))) << png.LastErrorText();
          ASSERT_TRUE(testenv::bitmap_matches(*png.Bitmap(0), [&](int32_t x, int32_t y) {
            const uint8_t* q = samples.data() + (y * w + x) * 4;
            uint8_t c[3] = {q[0], q[1], q[2]};
            if (blend)
              for (int i = 0; i < 3; ++i) c[i] = uint8_t(g[i] + (((c[i] - g[i]) * q[3]) >> 8));
            return color_rgba(c[0], c[1], c[2], q[3]);
          }));
        }
}

TEST_F(PngIdat, DamagedAndSplitImageData) {
  Synth s;
  s.w = 7;
  s.h = 6;
  const Bytes z = zlib_pack(s.Raw());
  Synth shorter = s;
  shorter.h = 3;
  const Bytes z_short = zlib_pack(shorter.Raw());
  const Bytes whole = idat_chunks(z);
  Bytes bad_crc = whole;
  bad_crc[bad_crc.size() - 1] ^= 1;
  Bytes z_garbage = z_short;
  for (int i = 0; i < 300; ++i) z_garbage.push_back(uint8_t(i * 37));
  const Bytes first = idat_chunks(Bytes(z.begin(), z.begin() + 10));
  const Bytes rest = idat_chunks(Bytes(z.begin() + 10, z.end()));
  const Bytes empty = png_chunk_bytes("IDAT", {});
  auto join = [](std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
  };
  struct Case {
    const char* name;
    Bytes stream;
    int32_t code;  // 0: decodes
    const char* text;
  };
  const Case cases[] = {
      {"one-byte IDAT chunks", idat_chunks(z, 1), 0, ""},
      {"an empty first IDAT", join({empty, idat_chunks(z)}), 0, ""},
      {"an empty IDAT between two", join({first, empty, rest}), errPNGFlowCorrupted, "{z.avail_in<=0}"},
      {"a foreign chunk inside the data", join({first, png_chunk_bytes("tEXt", {65, 0, 66}), rest}),
       errPNGMissingNextIDAT, "{chnk.ch_type<>cnCT_IDAT}"},
      {"a stream shorter than the image, then garbage", idat_chunks(z_garbage), errPNGFlowCorrupted,
       "{zlib stream ended early}"},
      {"a stream cut short", idat_chunks(Bytes(z.begin(), z.end() - 20)), errPNGFlowCorrupted, "{f.Read}"},
      {"garbage data", idat_chunks(Bytes(40, 0x55)), errZLibCall, "{inflate:"},
      {"a wrong CRC", bad_crc, errPNGInvalidCRC, "{lcrc<>ccrc}"},
      {"no CRC at all", Bytes(whole.begin(), whole.end() - 4), errPNGFlowCorrupted, "{f.Read}"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto start = std::chrono::steady_clock::now();
    cTestPNG png;
    prepare(png, s);
    const bool ok = png.Decode(c.stream);
    EXPECT_EQ(ok, c.code == 0) << png.LastErrorText();
    if (c.code != 0) {
      EXPECT_TRUE(logged(png, c.code, c.text)) << png.LastErrorCode() << " " << png.LastErrorText();
      EXPECT_TRUE(logged(png, errPNGLoadNonInterlaced, "{LoadNI}") || c.code == errPNGInvalidCRC ||
                  std::string(c.text) == "{f.Read}");
    } else {
      EXPECT_TRUE(
          testenv::bitmap_matches(*png.Bitmap(0), [&](int32_t x, int32_t y) { return s.Expected(x, y, nullptr, {}); }));
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  }
}

TEST_F(PngIdat, LargeChunkWithItsTrailerAcrossTheBuffer) {
  // One IDAT of about 700 kB of stored deflate blocks, whose last 4 bytes (the
  // stream's check value) straddle a 65,520-byte read: the rows are complete
  // before the chunk is read to its end.
  // Stored blocks written here, with empty ones in front to tune the size.
  auto stored = [](const Bytes& raw, int empty_blocks) {
    Bytes out = {0x78, 0x01};
    for (int i = 0; i < empty_blocks; ++i) out.insert(out.end(), {0x00, 0x00, 0x00, 0xFF, 0xFF});
    for (size_t at = 0; at < raw.size(); at += 65535) {
      const size_t n = std::min<size_t>(65535, raw.size() - at);
      out.push_back(at + n == raw.size() ? 1 : 0);
      out.insert(out.end(), {uint8_t(n), uint8_t(n >> 8), uint8_t(~n), uint8_t(~n >> 8)});
      out.insert(out.end(), raw.begin() + long(at), raw.begin() + long(at + n));
    }
    testenv::put_be32(out, uint32_t(adler32(adler32(0, nullptr, 0), raw.data(), uInt(raw.size()))));
    return out;
  };
  Synth s;
  s.w = 1000;
  s.filters = std::string(1, '\0');
  Bytes z;
  bool found = false;
  for (s.h = 230; s.h < 240 && !found; ++s.h) {
    const size_t raw = size_t(s.h) * 3001, blocks = (raw + 65534) / 65535;
    for (int k = 0; k < 13200 && !found; ++k) {
      const size_t size = 2 + 5 * size_t(k) + raw + 5 * blocks + 4;
      if ((size - 4) / cnSafeBlock != (size - 1) / cnSafeBlock) {
        found = true;
        z = stored(s.Raw(), k);
        EXPECT_EQ(z.size(), size);
      }
    }
  }
  --s.h;  // the loop stepped past the height it found
  ASSERT_TRUE(found);
  ASSERT_GT(z.size(), size_t(600000));
  cTestPNG png;
  prepare(png, s);
  const bool decoded = png.Decode(idat_chunks(z));
  for (uint32_t i = 1; !decoded && i <= png.Log()->Count(); ++i)
    ADD_FAILURE() << exception_log_row_text(*png.Log()->Get(i));
  EXPECT_EQ(png.Flow()->Curr(), png.Flow()->Size());
  EXPECT_EQ(png.Bitmap(0)->GetPixel(999, s.h - 1), s.Expected(999, s.h - 1, nullptr, {}));
}

TEST_F(PngIdat, RefusalsBeforeDecoding) {
  struct Case {
    const char* name;
    std::function<void(cTestPNG&)> setup;
    int32_t code;
    const char* text;
  };
  const Bytes data = idat_chunks(zlib_pack(Bytes{0, 1, 2, 3}));
  const Case cases[] = {
      {"no IHDR", [](cTestPNG&) {}, errPNGIHDRNotFound, "{mPng.mChunks.IHDR=NIL}"},
      {"a palette image without PLTE",
       [](cTestPNG& p) {
         p.Load("IHDR", ihdr_data(1, 1, 8, 3));
         p.MakeBitmap();
       },
       errPNGPaletteChunkNF, "{mPalette=NIL}"},
      {"RGB at 4 bits",
       [](cTestPNG& p) {
         p.Load("IHDR", ihdr_data(1, 1, 4, 2));
         p.MakeBitmap();
       },
       errPNGInvalidCTypeDepth, "{decode=NIL}"},
      {"a zero width", [](cTestPNG& p) { p.Load("IHDR", ihdr_data(0, 1, 8, 2)); }, errPNGInvalidImageDims,
       "{dx or dy = 0}"},
      {"a row of 2^31 bytes or more", [](cTestPNG& p) { p.Load("IHDR", ihdr_data(0x7FFFFFFF, 1, 16, 6)); },
       errNEnoughMem, "{mem_alloc}"},
      {"a bitmap smaller than the header",
       [](cTestPNG& p) {
         p.Load("IHDR", ihdr_data(5, 5, 8, 2));
         auto b = std::make_unique<cBitmap>(4, 5, cnBitmapNative);
         b->Create();
         p.AdoptCommonBitmap(b.release());
       },
       errInvariant, "{Bitmap size<IHDR size}"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    cTestPNG png;
    c.setup(png);
    EXPECT_FALSE(png.Decode(data));
    EXPECT_TRUE(logged(png, c.code, c.text)) << png.LastErrorText();
  }
}

TEST_F(PngIdat, ProgressInFloatingPoint) {
  struct Case {
    int32_t h;
    bool interlaced;
    std::vector<double> reports;
  };
  std::vector<double> even;
  for (int p = 2; p <= 100; p += 2) even.push_back(p);
  const Case cases[] = {
      {50, false, even},
      {3, false, {33, 67, 100}},
      {1, true, {14, 29, 43, 57}},  // 7 x 1 rows counted; four passes have a row
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.h);
    Synth s;
    s.w = c.interlaced ? 5 : 2;
    s.h = c.h;
    s.interlaced = c.interlaced;
    cTestPNG png;
    png.mProgress = &ProgressRecorder::Callback;
    prepare(png, s);
    ProgressRecorder rec;
    ASSERT_TRUE(png.Decode(idat_chunks(zlib_pack(s.Raw()))));
    EXPECT_EQ(rec.reports, c.reports);
  }
  // A cancel stops the decode with 297.
  Synth s;
  s.h = 10;
  cTestPNG png;
  png.mProgress = &ProgressRecorder::Callback;
  prepare(png, s);
  ProgressRecorder rec(2);
  EXPECT_FALSE(png.Decode(idat_chunks(zlib_pack(s.Raw()))));
  EXPECT_TRUE(logged(png, errProgressBreak, "{cPNG_IDAT.LoadNI}"));
}

TEST(PngHelpers, PaethAndPasses) {
  struct Case {
    uint8_t a, b, c, p;
  };
  const Case cases[] = {{10, 20, 10, 20}, {20, 10, 10, 20},   {10, 10, 10, 10}, {0, 255, 255, 0},
                        {255, 0, 255, 0}, {100, 100, 0, 100}, {5, 9, 7, 7},     {1, 2, 3, 1}};
  for (const Case& c : cases)
    EXPECT_EQ(png_paeth(c.a, c.b, c.c), c.p) << int(c.a) << " " << int(c.b) << " " << int(c.c);
  const int64_t widths[7] = {1, 0, 1, 0, 1, 0, 1};
  for (int pass = 1; pass <= 7; ++pass) EXPECT_EQ(png_pass_width(1, pass), widths[pass - 1]) << pass;
  EXPECT_EQ(png_pass_width(9, 2), 1);
  EXPECT_EQ(png_pass_width(9, 7), 9);
  EXPECT_EQ(png_pass_width(9, 6), 4);
}
