// Our PNG reader against libpng on the PngSuite files and Go's invalid files
// of the external corpus (tools/fetch_corpora.sh; tests skip without it).
#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "corpora.h"
#include "png_test_util.h"
#include "qlm_base_array.h"
#include "qlm_png.h"
#include "test_files.h"

using testenv::Bytes;

namespace {

class PngConformance : public ::testing::Test {
 protected:
  void SetUp() override {
    qlm_bitmap_start();
    qlm_png_start();
  }
};

// Everything the decode changes after setjmp lives here, behind a pointer.
struct MemoryReader {
  const Bytes* bytes = nullptr;
  size_t at = 0;
  std::vector<png_bytep> rows;
};

void read_from_memory(png_structp png, png_bytep out, png_size_t n) {
  auto* r = static_cast<MemoryReader*>(png_get_io_ptr(png));
  if (r->at + n > r->bytes->size()) png_error(png, "read past the end");
  std::memcpy(out, r->bytes->data() + r->at, n);
  r->at += n;
}

// libpng's pixels as 8-bit RGBA: palettes and low depths expanded, tRNS to
// alpha, 16 bits cut to their high byte, grey to RGB, no gamma transform.
bool libpng_decode(const Bytes& file, std::vector<uint8_t>& rgba, uint32_t& w, uint32_t& h) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  MemoryReader reader{&file, 0, {}};
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  png_set_read_fn(png, &reader, &read_from_memory);
  png_read_info(png, info);
  png_set_expand(png);
  png_set_strip_16(png);
  png_set_gray_to_rgb(png);
  png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  w = png_get_image_width(png, info);
  h = png_get_image_height(png, info);
  rgba.assign(size_t(w) * h * 4, 0);
  for (uint32_t y = 0; y < h; ++y) reader.rows.push_back(rgba.data() + size_t(y) * w * 4);
  png_read_image(png, reader.rows.data());
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  return true;
}

}  // namespace

TEST_F(PngConformance, PngSuiteMatchesLibpng) {
  const char* files[] = {"basn0g01-30.png", "basn0g01.png",  "basn0g02-29.png",  "basn0g02.png",  "basn0g04-31.png",
                         "basn0g04.png",    "basn0g08.png",  "basn0g16.png",     "basn2c08.png",  "basn2c16.png",
                         "basn3p01.png",    "basn3p02.png",  "basn3p04-31i.png", "basn3p04.png",  "basn3p08-trns.png",
                         "basn3p08.png",    "basn4a08.png",  "basn4a16.png",     "basn6a08.png",  "basn6a16.png",
                         "ftbbn0g01.png",   "ftbbn0g02.png", "ftbbn0g04.png",    "ftbbn2c16.png", "ftbbn3p08.png",
                         "ftbgn2c16.png",   "ftbgn3p08.png", "ftbrn2c08.png",    "ftbwn0g16.png", "ftbwn3p08.png",
                         "ftbyn3p08.png",   "ftp0n0g08.png", "ftp0n2c08.png",    "ftp0n3p08.png", "ftp1n3p08.png"};
  for (const char* name : files) {
    SCOPED_TRACE(name);
    QLM_CORPUS_FILE(path, "go-png/pngsuite", name);
    const std::string text = testenv::read_file(path);
    const Bytes file(text.begin(), text.end());
    std::vector<uint8_t> rgba;
    uint32_t w = 0, h = 0;
    ASSERT_TRUE(libpng_decode(file, rgba, w, h));
    cImagePNG png;
    png.mBlendOnBackground = false;
    png.mKeepChunks = true;
    auto flow = testenv::read_flow(file);
    ASSERT_TRUE(png.Open(flow.get())) << png.LastErrorText();
    const cBitmap* b = png.Bitmap(0);
    ASSERT_NE(b, nullptr);
    ASSERT_EQ(uint32_t(b->Width()), w);
    ASSERT_EQ(uint32_t(b->Height()), h);
    // Our colours pass through the file's gamma table (the identity without
    // gAMA); libpng's are untransformed.
    const uint8_t* T = png.mChunks->IHDR->gamma;
    for (uint32_t y = 0; y < h; ++y)
      for (uint32_t x = 0; x < w; ++x) {
        const uint8_t* p = rgba.data() + (size_t(y) * w + x) * 4;
        const uint32_t want = color_rgba(T[p[0]], T[p[1]], T[p[2]], p[3]);
        const uint32_t got = testenv::pixel_argb(*b, int32_t(x), int32_t(y));
        if (got == want) continue;
        ASSERT_EQ(testenv::argb_text(got), testenv::argb_text(want)) << "at " << x << "," << y;
      }
  }
}

TEST_F(PngConformance, GoInvalidFiles) {
  struct Case {
    const char* name;
    bool opens;
    int32_t code;
    const char* text;
  };
  const Case cases[] = {
      {"invalid-crc32.png", false, errPNGInvalidCRC, "{lcrc<>ccrc}"},
      {"invalid-noend.png", false, errPNGFlowCorrupted, "{flow.Read}"},
      {"invalid-trunc.png", false, errPNGFlowCorrupted, ""},
      {"invalid-palette.png", true, 0, ""},
      // A wrong check value of the zlib stream is found and reported.
      {"invalid-zlib.png", false, errZLibCall, "{inflate:incorrect data check}"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    QLM_CORPUS_FILE(path, "go-png", c.name);
    const std::string text = testenv::read_file(path);
    const Bytes file(text.begin(), text.end());
    cImagePNG png;
    auto flow = testenv::read_flow(file);
    EXPECT_EQ(png.Open(flow.get()), c.opens) << png.LastErrorText();
    if (!c.opens) {
      bool found = false;
      for (uint32_t i = 1; png.Log() != nullptr && i <= png.Log()->Count(); ++i) {
        const rExceptionLog* row = png.Log()->Get(i);
        found = found || (row->code == c.code && exception_log_row_text(*row).find(c.text) != std::string::npos);
      }
      EXPECT_TRUE(found) << png.LastErrorText();
    }
    if (std::string(c.name) == "invalid-noend.png") {
      ASSERT_NE(png.Bitmap(0), nullptr);  // the rows were decoded before the end was missed
    }
    if (std::string(c.name) == "invalid-palette.png") {
      // Index 255 over a 255-entry palette draws black.
      cBitmap* b = png.Bitmap(0);
      ASSERT_NE(b, nullptr);
      EXPECT_GT(b->ColorsCount(), 0);
    }
  }
}

namespace {

void write_to_memory(png_structp png, png_bytep data, png_size_t n) {
  auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + n);
}
void flush_nothing(png_structp) {}

// libpng writes the packed rows as a PNG file, plain or interlaced.
struct WriteState {
  Bytes out;
  std::vector<png_bytep> rows;
};
bool libpng_encode(WriteState& st, std::vector<Bytes>& rows, uint32_t w, uint32_t h, int depth, int ctype,
                   bool interlaced) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_set_write_fn(png, &st.out, &write_to_memory, &flush_nothing);
  png_set_IHDR(png, info, w, h, depth, ctype, interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (ctype == PNG_COLOR_TYPE_PALETTE) {
    png_color palette[256];
    for (int i = 0; i < 256; ++i) palette[i] = {uint8_t(i * 3), uint8_t(255 - i), uint8_t(i * 11)};
    png_set_PLTE(png, info, palette, 1 << std::min(depth, 8));
  }
  png_write_info(png, info);
  for (Bytes& r : rows) st.rows.push_back(r.data());
  png_write_image(png, st.rows.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

}  // namespace

TEST_F(PngConformance, InterlacedAndPlainDecodeAlike) {
  const std::pair<int, int> kinds[] = {{0, 1}, {0, 2}, {0, 4}, {0, 8}, {0, 16}, {2, 8}, {2, 16}, {3, 1},
                                       {3, 2}, {3, 4}, {3, 8}, {4, 8}, {4, 16}, {6, 8}, {6, 16}};
  const int channels[7] = {1, 0, 3, 1, 2, 0, 4};
  for (const auto& [ctype, depth] : kinds)
    for (uint32_t w = 1; w <= 9; ++w)
      for (uint32_t h = 1; h <= 9; ++h) {
        SCOPED_TRACE(std::to_string(ctype) + "/" + std::to_string(depth) + " " + std::to_string(w) + "x" +
                     std::to_string(h));
        std::vector<Bytes> rows;
        for (uint32_t y = 0; y < h; ++y) {
          std::vector<uint32_t> samples;
          for (uint32_t x = 0; x < w; ++x)
            for (int c = 0; c < channels[ctype]; ++c) {
              uint32_t v = (x * 2654435761u) ^ (y * 40503u) ^ uint32_t(c * 977 + ctype * 31 + depth);
              v ^= v >> 11;
              samples.push_back(v & (depth == 16 ? 0xFFFFu : (1u << depth) - 1));
            }
          rows.push_back(testenv::pack_samples(samples, depth));
        }
        std::unique_ptr<cBitmap> decoded[2];
        for (int interlaced = 0; interlaced < 2; ++interlaced) {
          WriteState st;
          std::vector<Bytes> copy = rows;
          ASSERT_TRUE(libpng_encode(st, copy, w, h, depth, ctype, interlaced == 1));
          cImagePNG png;
          auto flow = testenv::read_flow(st.out);
          ASSERT_TRUE(png.Open(flow.get())) << png.LastErrorText();
          decoded[interlaced] = png.Bitmap(0)->Clone(0, 0, cnResizeCopy);
        }
        ASSERT_TRUE(testenv::bitmaps_equal(*decoded[1], *decoded[0]));
      }
}
