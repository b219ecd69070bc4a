#include <gtest/gtest.h>
#include <png.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
// g++ 12 with the sanitizers warns wrongly inside <regex> (maybe-uninitialized);
// clang has no such warning and refuses to hear of it.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <regex>
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
#include <string>
#include <vector>

#include "bitmap_builders.h"
#include "corpora.h"
#include "image_test_util.h"
#include "qlm_base_array.h"
#include "qlm_base_flow.h"
#include "qlm_base_view_flow.h"
#include "qlm_jpeg.h"
#include "qlm_jpeg_lib.h"
#include "test_files.h"

using testenv::flow_bytes;
using testenv::make_bitmap;
using testenv::pixel_argb;
using testenv::read_flow;

namespace {

using Bytes = std::vector<uint8_t>;
using tSample = std::function<uint8_t(int x, int y, int c)>;

class JPEG : public ::testing::Test {
 protected:
  void SetUp() override {
    qlm_bitmap_start();
    qlm_jpeg_start();
  }
  void TearDown() override { mem_alloc_fail_at(0); }
};

// A smooth, photo-like picture: JPEG keeps it well at any quality.
uint8_t photo(int x, int y, int c) {
  const double v = 128 + 60 * std::sin(x / 9.0 + c) * std::cos(y / 7.0 - c) + 40 * std::sin((x + y) / 23.0);
  return uint8_t(std::lround(std::clamp(v, 0.0, 255.0)));
}
uint32_t photo_argb(int32_t x, int32_t y) { return color_rgba(photo(x, y, 0), photo(x, y, 1), photo(x, y, 2), 255); }

// A JPEG written by the library directly (the fixtures the system does not
// write: grey, CMYK, progressive, restart intervals).
// h_samp, v_samp: the first component's sampling factors (0: the library's
// default, 2 x 2 for colour).
Bytes raw_encode(int w, int h, J_COLOR_SPACE space, int components, bool progressive, int quality = 90,
                 const tSample& sample = photo, int restart_rows = 0, int h_samp = 0, int v_samp = 0) {
  jpeg_compress_struct c{};
  jpeg_error_mgr err{};
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &out, &size);
  c.image_width = JDIMENSION(w);
  c.image_height = JDIMENSION(h);
  c.input_components = components;
  c.in_color_space = space;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, quality, TRUE);
  if (progressive) jpeg_simple_progression(&c);
  c.restart_in_rows = restart_rows;
  if (h_samp > 0) c.comp_info[0].h_samp_factor = h_samp;
  if (v_samp > 0) c.comp_info[0].v_samp_factor = v_samp;
  jpeg_start_compress(&c, TRUE);
  std::vector<uint8_t> row(size_t(w) * size_t(components));
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x)
      for (int k = 0; k < components; ++k) row[size_t(x * components + k)] = sample(x, y, k);
    JSAMPROW p = row.data();
    jpeg_write_scanlines(&c, &p, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  Bytes bytes(out, out + size);
  free(out);
  return bytes;
}

// The library's own decoding to RGB (or grey) samples, for exact comparisons.
Bytes raw_decode(const Bytes& bytes, J_COLOR_SPACE space, int& w, int& h) {
  jpeg_decompress_struct d{};
  jpeg_error_mgr err{};
  d.err = jpeg_std_error(&err);
  jpeg_create_decompress(&d);
  jpeg_mem_src(&d, bytes.data(), bytes.size());
  jpeg_read_header(&d, TRUE);
  d.out_color_space = space;
  jpeg_start_decompress(&d);
  w = int(d.output_width);
  h = int(d.output_height);
  Bytes out(size_t(w) * size_t(h) * size_t(d.output_components));
  while (d.output_scanline < d.output_height) {
    JSAMPROW p = out.data() + size_t(d.output_scanline) * size_t(w) * size_t(d.output_components);
    jpeg_read_scanlines(&d, &p, 1);
  }
  jpeg_finish_decompress(&d);
  jpeg_destroy_decompress(&d);
  return out;
}

// Offset of the n-th (1-based) marker FF code at or after `from`; npos when none.
size_t find_marker(const Bytes& b, uint8_t code, int n = 1, size_t from = 0) {
  for (size_t i = from; i + 1 < b.size(); ++i)
    if (b[i] == 0xFF && b[i + 1] == code && --n == 0) return i;
  return std::string::npos;
}

// The texts of every log row.
std::vector<std::string> log_texts(const cException& o) {
  std::vector<std::string> out;
  if (o.Log() == nullptr) return out;
  for (uint32_t i = 1; i <= o.Log()->Count(); ++i) out.push_back(exception_log_row_text(*o.Log()->Get(i)));
  return out;
}
int count_rows(const cException& o, const std::string& pattern) {
  const std::regex re(pattern);
  int n = 0;
  for (const std::string& t : log_texts(o)) n += std::regex_search(t, re) ? 1 : 0;
  return n;
}

// PSNR over red, green and blue of the bitmap against expected colours.
double psnr(const cBitmap& b, const std::function<uint32_t(int32_t, int32_t)>& expected) {
  double sum = 0;
  for (int32_t y = 0; y < b.Height(); ++y)
    for (int32_t x = 0; x < b.Width(); ++x) {
      const uint32_t g = pixel_argb(b, x, y), e = expected(x, y);
      for (int s = 0; s < 24; s += 8) {
        const double d = double(int(g >> s & 0xFF) - int(e >> s & 0xFF));
        sum += d * d;
      }
    }
  const double mse = sum / (3.0 * b.Width() * b.Height());
  return mse == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mse);
}

std::unique_ptr<cImageJPEG> open_bytes(const Bytes& bytes, ProgressCallback progress = nullptr) {
  auto image = std::make_unique<cImageJPEG>(cnJPEGDctIntSlow, 85, progress);
  auto flow = read_flow(bytes);
  image->Open(flow.get());
  return image;
}

// An open image holding the bitmap (through cTableImage's machinery).
class cBitmapImage : public cImage {
 public:
  explicit cBitmapImage(std::unique_ptr<cBitmap> b) : cImage(0, 0, 0) { AdoptCommonBitmap(b.release()); }
};

Bytes save(cImageJPEG& codec, cImage& from) {
  auto flow = cMemoryFlow::Construct();
  EXPECT_TRUE(flow->Create());
  EXPECT_TRUE(codec.SaveFrom(flow.get(), &from)) << codec.LastErrorText();
  return flow_bytes(*flow);
}

Bytes save_bitmap(std::unique_ptr<cBitmap> b, int32_t quality = 95) {
  cBitmapImage from(std::move(b));
  cImageJPEG codec(cnJPEGDctIntSlow, quality);
  return save(codec, from);
}

// ---------------------------------------------------------------------------
// Opening: the outcomes a caller sees, one row per kind of stream.

TEST_F(JPEG, OpenOutcomes) {
  const Bytes baseline = raw_encode(100, 50, JCS_RGB, 3, false);
  Bytes cut = baseline;
  const size_t sos = find_marker(cut, 0xDA);
  ASSERT_NE(sos, std::string::npos);
  cut.resize(sos + (cut.size() - sos) / 2);
  Bytes bad_scan = raw_encode(64, 48, JCS_RGB, 3, true);
  const size_t third = find_marker(bad_scan, 0xDA, 3);
  ASSERT_NE(third, std::string::npos);
  bad_scan[third + 5 + 2 * bad_scan[third + 4]] = 0;  // an AC band made DC: the library stops mid-decode

  struct Case {
    const char* name;
    Bytes bytes;
    bool ok;
    const char* pattern;  // a row of the image's log
  };
  const Case cases[] = {
      {"baseline", baseline, true, R"(^\{.*\(MsgLevel:[0-9]+\)\}$)"},
      {"grey", raw_encode(37, 21, JCS_GRAYSCALE, 1, false), true, R"(\(MsgLevel:[0-9]+\))"},
      {"progressive", raw_encode(64, 48, JCS_RGB, 3, true), true, R"(\(MsgLevel:[0-9]+\))"},
      {"cmyk", raw_encode(16, 16, JCS_CMYK, 4, false), false,
       R"(^\{BMP output must be grayscale or RGB\(Code:[0-9]+\)\}$)"},
      {"empty", {}, false, R"(^\{Empty input file\(Code:[0-9]+\)\}$)"},
      {"cut in the scan", cut, true, R"(^\{Warning:Premature end of JPEG file\(MsgLevel:-1\)\}$)"},
      {"not a JPEG", Bytes(300, 0x41), false, R"(^\{Not a JPEG file: .*\(Code:[0-9]+\)\}$)"},
      {"bad later scan", bad_scan, false, R"(^\{Invalid progressive parameters .*\(Code:[0-9]+\)\}$)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto image = open_bytes(c.bytes);
    if (c.ok) {
      EXPECT_TRUE(image->IsOpened());
      ASSERT_NE(image->Bitmap(0), nullptr);
      EXPECT_EQ(image->Bitmap(0)->PixelFormat(), platform_pixel_format());
    } else {
      EXPECT_EQ(image->LastErrorCode(), errJPEGError);
      EXPECT_EQ(image->Log()->Get(image->Log()->Count())->function, &jpeg_exception_string);
      EXPECT_TRUE(std::regex_search(image->LastErrorText(), std::regex(c.pattern))) << image->LastErrorText();
    }
    EXPECT_GE(count_rows(*image, c.pattern), 1) << image->LastErrorText();
    // Every row, the first that creates the log included, is the row of a
    // raised and caught library error.
    ASSERT_NE(image->Log(), nullptr);
    for (uint32_t i = 1; i <= image->Log()->Count(); ++i) {
      const rExceptionLog* row = image->Log()->Get(i);
      EXPECT_EQ(row->code, errJPEGError) << i;
      EXPECT_EQ(row->function, &jpeg_exception_string) << i;
      EXPECT_NE(row->raise_address.line, 0u) << i;
      EXPECT_NE(row->logged_at.line, 0u) << i;
      EXPECT_EQ(row->reserved, 0) << i;
      EXPECT_FALSE(row->external) << i;
      EXPECT_NE(row->date.year, 0) << i;
    }
  }
}

// The decoded colours are the library's own, byte for byte, in the bitmap's
// channel order, with the row padding zeroed; the size is the header's.
TEST_F(JPEG, DecodesTheLibrarysColours) {
  for (const auto& [w, h] : std::vector<std::pair<int, int>>{{100, 50}, {37, 21}, {1, 1}}) {
    SCOPED_TRACE(std::to_string(w) + " x " + std::to_string(h));
    const Bytes bytes = raw_encode(w, h, JCS_RGB, 3, false);
    int rw = 0, rh = 0;
    const Bytes rgb = raw_decode(bytes, JCS_RGB, rw, rh);
    auto image = open_bytes(bytes);
    ASSERT_TRUE(image->IsOpened()) << image->LastErrorText();
    cBitmap* b = image->Bitmap(0);
    ASSERT_EQ(b->Width(), w);
    ASSERT_EQ(b->Height(), h);
    EXPECT_EQ(image->Width(), uint32_t(w));
    EXPECT_EQ(image->SpaceHeight(), uint32_t(h));
    EXPECT_TRUE(testenv::bitmap_matches(*b, [&](int32_t x, int32_t y) {
      const uint8_t* p = rgb.data() + (size_t(y) * size_t(w) + size_t(x)) * 3;
      return color_rgba(p[0], p[1], p[2], 255);
    }));
    for (int32_t y = 0; y < h; ++y)
      for (int32_t i = w * 3; i < b->Stride(); ++i) EXPECT_EQ(b->Data()[int64_t(y) * b->Stride() + i], 0);
    EXPECT_EQ(b->Palette(), nullptr);
  }
}

// Without a progress callback the library is handed every remaining row at
// once and gives as many per call as it has ready; with one, a row per call.
// Both give the library's own decoding into the bitmap's byte order, byte for
// byte, with zero padding, for every sampling, progressive and restart
// markers, grey, odd and one-pixel sizes and a picture big enough for huge
// pages. A YCCK picture is refused like a CMYK one.
TEST_F(JPEG, EveryRowReadIsTheLibrarysOwnDecoding) {
  struct Case {
    const char* name;
    int w, h;
    J_COLOR_SPACE space;
    bool progressive;
    int restart_rows, h_samp, v_samp;
  };
  const Case cases[] = {
      {"4:2:0, padded rows", 37, 21, JCS_RGB, false, 0, 2, 2},
      {"4:2:2", 101, 33, JCS_RGB, false, 0, 2, 1},
      {"4:4:4", 50, 17, JCS_RGB, false, 0, 1, 1},
      {"4:4:0", 30, 45, JCS_RGB, false, 0, 1, 2},
      {"progressive", 64, 48, JCS_RGB, true, 0, 2, 2},
      {"restart markers", 45, 40, JCS_RGB, false, 1, 2, 2},
      {"grey", 37, 21, JCS_GRAYSCALE, false, 0, 0, 0},
      {"grey progressive", 43, 30, JCS_GRAYSCALE, true, 0, 0, 0},
      {"one pixel", 1, 1, JCS_RGB, false, 0, 2, 2},
      {"tall and narrow", 3, 700, JCS_RGB, false, 0, 2, 2},
      {"over 4 MB", 1400, 1100, JCS_RGB, false, 0, 2, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const int components = c.space == JCS_GRAYSCALE ? 1 : 3;
    const Bytes bytes =
        raw_encode(c.w, c.h, c.space, components, c.progressive, 80, photo, c.restart_rows, c.h_samp, c.v_samp);
    int w = 0, h = 0;
    const Bytes bgr = raw_decode(bytes, JCS_EXT_BGR, w, h);
    ASSERT_EQ(w, c.w);
    ASSERT_EQ(h, c.h);
    for (bool with_progress : {false, true}) {
      SCOPED_TRACE(with_progress ? "with progress" : "without progress");
      testenv::ProgressRecorder recorder;
      auto image = open_bytes(bytes, with_progress ? &testenv::ProgressRecorder::Callback : nullptr);
      ASSERT_TRUE(image->IsOpened()) << image->LastErrorText();
      EXPECT_EQ(recorder.reports.empty(), !with_progress);
      const cBitmap* b = image->Bitmap(0);
      ASSERT_EQ(b->PixelFormat(), px24BGR);
      ASSERT_EQ(b->Width(), c.w);
      ASSERT_EQ(b->Height(), c.h);
      const size_t row = size_t(c.w) * 3;
      for (int32_t y = 0; y < c.h; ++y) {
        const uint8_t* p = b->Data() + int64_t(y) * b->Stride();
        ASSERT_EQ(std::memcmp(p, bgr.data() + size_t(y) * row, row), 0) << "row " << y;
        for (int32_t i = int32_t(row); i < b->Stride(); ++i) ASSERT_EQ(p[i], 0) << "row " << y;
      }
      EXPECT_EQ(b->Palette() != nullptr, c.space == JCS_GRAYSCALE);
    }
  }
  cImageJPEG ycck;
  auto flow = read_flow(raw_encode(16, 16, JCS_YCCK, 4, false));
  EXPECT_FALSE(ycck.Open(flow.get()));
  EXPECT_NE(ycck.LastErrorText().find("BMP output must be grayscale or RGB"), std::string::npos)
      << ycck.LastErrorText();
}

// The source reads no further than the flow's end: the caller's flow logs no
// failed read, and the bytes after the picture stay unread.
TEST_F(JPEG, ReadsStopAtTheFlowsEnd) {
  const Bytes bytes = raw_encode(96, 96, JCS_RGB, 3, false, 95, [](int x, int y, int c) {
    return uint8_t(uint32_t(x * 37 + y * 91 + c * 53) * 2654435761u >> 24);
  });
  ASSERT_GT(bytes.size(), 2u * 4096u);
  auto flow = read_flow(bytes);
  cImageJPEG image;
  ASSERT_TRUE(image.Open(flow.get())) << image.LastErrorText();
  EXPECT_EQ(flow->Log(), nullptr);
  EXPECT_EQ(flow->Curr(), int64_t(bytes.size()));
}

// A view flow over the caller's bytes is read in place (the library gets all
// of them at once); the outcome must be the memory flow's, read in pieces:
// success, pixels, palette and every logged row, for whole, cut, damaged and
// marker-laden streams. Afterwards the view flow stands just after what the
// library used (at the end for a stream that ends with its end marker).
TEST_F(JPEG, AViewFlowIsReadInPlaceWithTheMemoryFlowsOutcome) {
  const Bytes baseline = raw_encode(100, 50, JCS_RGB, 3, false);
  Bytes cut = baseline;
  cut.resize(find_marker(cut, 0xDA) + (cut.size() - find_marker(cut, 0xDA)) / 2);
  Bytes trailing = baseline;
  trailing.insert(trailing.end(), 5000, 0x55);
  Bytes markers = raw_encode(16, 16, JCS_RGB, 3, false);
  for (int i = 0; i < 3000; ++i) markers.insert(markers.begin() + 2, {0xFF, 0xFE, 0x00, 0x02});
  struct Case {
    const char* name;
    Bytes bytes;
    int64_t view_end;  // where the view flow stands after a success; -1: not checked
  };
  const Case cases[] = {
      {"baseline", baseline, int64_t(baseline.size())},
      {"grey", raw_encode(37, 21, JCS_GRAYSCALE, 1, false), -1},
      {"progressive", raw_encode(64, 48, JCS_RGB, 3, true), -1},
      {"large", raw_encode(300, 200, JCS_RGB, 3, false, 95), -1},
      {"cmyk", raw_encode(16, 16, JCS_CMYK, 4, false), -1},
      {"cut in the scan", cut, int64_t(cut.size())},
      {"bytes after the end marker", trailing, int64_t(baseline.size())},
      {"thousands of markers", markers, -1},
      {"skip past the end", {0xFF, 0xD8, 0xFF, 0xE5, 0xFF, 0xFF, 0x00, 0x00}, -1},
      {"not a JPEG", Bytes(300, 0x41), -1},
      {"one byte", Bytes(1, 0xFF), -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto memory = read_flow(c.bytes);
    auto pieces = std::make_unique<cImageJPEG>(cnJPEGDctIntSlow, 85);
    const bool pieces_ok = pieces->Open(memory.get());
    cViewFlow view(c.bytes.data(), int64_t(c.bytes.size()));
    ASSERT_TRUE(view.Open());
    cImageJPEG in_place(cnJPEGDctIntSlow, 85);
    const bool ok = in_place.Open(&view);
    EXPECT_EQ(ok, pieces_ok);
    EXPECT_EQ(in_place.LastErrorCode(), pieces->LastErrorCode());
    const uint32_t rows = pieces->Log() != nullptr ? pieces->Log()->Count() : 0;
    ASSERT_EQ(in_place.Log() != nullptr ? in_place.Log()->Count() : 0, rows);
    EXPECT_EQ(log_texts(in_place), log_texts(*pieces));
    if (!ok) continue;
    EXPECT_TRUE(testenv::bitmaps_equal(*in_place.Bitmap(0), *pieces->Bitmap(0)));
    EXPECT_EQ(in_place.Bitmap(0)->Palette() != nullptr, pieces->Bitmap(0)->Palette() != nullptr);
    if (c.view_end >= 0) {
      EXPECT_EQ(view.Curr(), c.view_end);
    }
  }
}

TEST_F(JPEG, GreyGoesThroughTheGreyPalette) {
  const Bytes bytes = raw_encode(37, 21, JCS_GRAYSCALE, 1, false);
  int w = 0, h = 0;
  const Bytes grey = raw_decode(bytes, JCS_GRAYSCALE, w, h);
  auto image = open_bytes(bytes);
  ASSERT_TRUE(image->IsOpened()) << image->LastErrorText();
  const cBitmap* b = image->Bitmap(0);
  EXPECT_TRUE(testenv::bitmap_matches(*b, [&](int32_t x, int32_t y) {
    const uint8_t v = grey[size_t(y) * size_t(w) + size_t(x)];
    return color_rgba(v, v, v, 255);
  }));
  ASSERT_NE(b->Palette(), nullptr);
  ASSERT_EQ(b->Palette()->Count(), 256);
  for (int32_t i = 0; i < 256; ++i) {
    const auto* e = static_cast<const uint8_t*>(b->Palette()->Entry(i + 1));
    EXPECT_TRUE(e[0] == i && e[1] == i && e[2] == i && e[3] == 0) << i;
  }
}

// A JPEG image whose bitmaps get a background other than black (not what
// fresh memory tends to hold).
class cTintedJPEG : public cImageJPEG {
 public:
  static constexpr uint32_t kBackground = 0xFF2266AAu;
  explicit cTintedJPEG(ProgressCallback progress = nullptr) : cImageJPEG(cnJPEGDctIntSlow, 85, progress) {
    mBackground = kBackground;
  }
};

// The bitmap is made without a background fill and the decoder writes its
// rows; whatever the outcome, the pixels are those of a bitmap filled with
// the background when made: a failure before any row (refused colour space,
// a scan that fails in jpeg_start_decompress) leaves all background, a stop
// midway leaves the rows decoded so far and the background below them, a
// success every row decoded. Row padding stays zero throughout.
TEST_F(JPEG, RowsNotDecodedHoldTheBackground) {
  Bytes bad_scan = raw_encode(64, 48, JCS_RGB, 3, true);
  const size_t third = find_marker(bad_scan, 0xDA, 3);
  ASSERT_NE(third, std::string::npos);
  bad_scan[third + 5 + 2 * bad_scan[third + 4]] = 0;
  const Bytes baseline = raw_encode(40, 50, JCS_RGB, 3, false);
  Bytes cut = baseline;
  cut.resize(find_marker(cut, 0xDA) + (cut.size() - find_marker(cut, 0xDA)) / 2);
  struct Case {
    const char* name;
    Bytes bytes;
    int32_t stop_at;  // progress report that answers stop; 0: none
    bool decodable;   // by the library on its own (the rows to expect)
    bool ok;
  };
  const Case cases[] = {
      {"cmyk", raw_encode(16, 16, JCS_CMYK, 4, false), 0, false, false},
      {"bad later scan", bad_scan, 0, false, false},
      {"stopped midway", baseline, 20, true, false},
      {"whole", baseline, 0, true, true},
      {"cut in the scan", cut, 0, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // Memory the bitmap may be given, left dirty.
    void* dirty = nullptr;
    ASSERT_TRUE(mem_alloc(dirty, 64 * 1024));
    std::memset(dirty, 0xA5, 64 * 1024);
    mem_free(dirty);
    testenv::ProgressRecorder recorder(c.stop_at);
    cTintedJPEG image(c.stop_at != 0 ? &testenv::ProgressRecorder::Callback : nullptr);
    auto flow = read_flow(c.bytes);
    EXPECT_EQ(image.Open(flow.get()), c.ok) << image.LastErrorText();
    const cBitmap* b = image.Bitmap(0);
    ASSERT_NE(b, nullptr);
    int w = 0, h = 0;
    const Bytes rgb = c.decodable ? raw_decode(c.bytes, JCS_RGB, w, h) : Bytes();
    int32_t decoded = 0;  // leading rows that hold the library's decoding
    for (int32_t y = 0; y < b->Height() && c.decodable; ++y, ++decoded) {
      bool same = true;
      for (int32_t x = 0; x < b->Width() && same; ++x) {
        const uint8_t* p = rgb.data() + (size_t(y) * size_t(w) + size_t(x)) * 3;
        same = pixel_argb(*b, x, y) == color_rgba(p[0], p[1], p[2], 255);
      }
      if (!same) break;
    }
    if (c.ok) {
      EXPECT_EQ(decoded, b->Height());
    }
    if (c.stop_at != 0) {
      EXPECT_GT(decoded, 0);
      EXPECT_LT(decoded, b->Height());
    }
    for (int32_t y = decoded; y < b->Height(); ++y)
      for (int32_t x = 0; x < b->Width(); ++x)
        ASSERT_EQ(pixel_argb(*b, x, y), cTintedJPEG::kBackground) << x << ", " << y;
    const int32_t used = b->Width() * b->BytesPerPixel();
    for (int32_t y = 0; y < b->Height(); ++y)
      for (int32_t i = used; i < b->Stride(); ++i) ASSERT_EQ(b->Data()[int64_t(y) * b->Stride() + i], 0) << y;
    EXPECT_EQ(b->ChangeCount(), 0);
  }
}

// Grey is decoded by the library straight into the 24-bit bitmap. The
// bytes (row padding included) and the palette are those of decoding into
// index rows and expanding them through the grey palette (the way JNG
// still goes), for odd widths, one pixel and a progressive stream.
TEST_F(JPEG, GreyStraightIntoTheBitmapEqualsTheExpandedIndexRows) {
  struct Case {
    int w, h;
    bool progressive;
  };
  for (const Case& c : {Case{37, 21, false}, Case{1, 1, false}, Case{101, 3, false}, Case{64, 48, true}}) {
    SCOPED_TRACE(std::to_string(c.w) + " x " + std::to_string(c.h));
    const Bytes bytes = raw_encode(c.w, c.h, JCS_GRAYSCALE, 1, c.progressive);
    auto image = open_bytes(bytes);
    ASSERT_TRUE(image->IsOpened()) << image->LastErrorText();

    auto expanded = std::make_unique<cBitmap>(c.w, c.h, cnBitmapNative);
    ASSERT_TRUE(expanded->Create());
    auto flow = read_flow(bytes);
    rJPEGDecodeState state;
    jpeg_decompress_struct* d = &state.d;
    rJPEGWriter& writer = state.writer;
    cBitmap* t = expanded.get();
    cFlow* f = flow.get();
    jpeg_call(jpeg_common(d), [&] {
      jpeg_create_decompress(d);
      jpeg_flow_source(d, f);
      jpeg_read_header(d, TRUE);
      jpeg_bitmap_writer(d, writer, t, true);
    });
    ASSERT_TRUE(writer.one_byte);
    void* block = nullptr;
    ASSERT_TRUE(mem_alloc(block, writer.padded * c.h));
    state.index = static_cast<uint8_t*>(block);
    jpeg_writer_target(writer, state.index, writer.padded, writer.unpadded);
    jpeg_call(jpeg_common(d), [&] {
      jpeg_start_decompress(d);
      while (d->output_scanline < d->output_height) {
        JSAMPROW row = jpeg_writer_row(writer);
        jpeg_read_scanlines(d, &row, 1);
        jpeg_put_rows(writer);
      }
      jpeg_finish_decompress(d);
    });
    jpeg_expand_grey(t, state.index, writer.padded, jpeg_grey_palette(nullptr));

    const cBitmap* b = image->Bitmap(0);
    EXPECT_EQ(testenv::BitmapState::Of(*b).bytes, testenv::BitmapState::Of(*expanded).bytes);
    ASSERT_NE(b->Palette(), nullptr);
    ASSERT_EQ(b->Palette()->Count(), expanded->Palette()->Count());
    EXPECT_EQ(std::memcmp(b->Palette()->Entries(), expanded->Palette()->Entries(), size_t(4 * b->Palette()->Count())),
              0);
  }
}

// A grey decode stopped midway shows nothing of the rows decoded so far:
// the bitmap made from the header keeps its background (black) and has no
// palette, as when grey went through index rows expanded at the end. Light
// grey pictures, so a decoded row would show.
TEST_F(JPEG, AStoppedGreyDecodeLeavesTheBackground) {
  const auto light = [](int x, int y, int) { return uint8_t(180 + (x + y) % 50); };
  for (bool progressive : {false, true}) {
    const Bytes bytes = raw_encode(40, 50, JCS_GRAYSCALE, 1, progressive, 90, light);
    for (int32_t stop_at : {2, 20, 45}) {
      SCOPED_TRACE(std::string(progressive ? "progressive" : "baseline") + ", stop at " + std::to_string(stop_at));
      testenv::ProgressRecorder recorder(stop_at);
      auto image = open_bytes(bytes, &testenv::ProgressRecorder::Callback);
      EXPECT_EQ(image->LastErrorCode(), errProgressBreak) << image->LastErrorText();
      const cBitmap* b = image->Bitmap(0);
      ASSERT_NE(b, nullptr);
      EXPECT_TRUE(testenv::bitmap_matches(*b, [](int32_t, int32_t) { return color_rgba(0, 0, 0, 255); }));
      EXPECT_EQ(b->Palette(), nullptr);
      EXPECT_EQ(b->ChangeCount(), 0);
    }
  }
}

TEST_F(JPEG, OpenRefusals) {
  const Bytes bytes = raw_encode(8, 8, JCS_RGB, 3, false);
  auto image = open_bytes(bytes);
  ASSERT_TRUE(image->IsOpened());
  auto flow = read_flow(bytes);
  EXPECT_FALSE(image->Open(flow.get()));
  EXPECT_EQ(image->LastErrorCode(), errInvariant);
  EXPECT_EQ(image->LastErrorText(), "{IsOpened}");

  cImageJPEG fresh;
  EXPECT_FALSE(fresh.Open(nullptr));
  EXPECT_EQ(fresh.LastErrorText(), "{flow=NIL}");
  auto closed = cMemoryFlow::Construct();
  EXPECT_FALSE(fresh.Open(closed.get()));
  EXPECT_EQ(fresh.LastErrorText(), "{not flow.IsOpened}");
  EXPECT_FALSE(fresh.IsOpened());
  cImageJPEG bad_dct(7);
  EXPECT_FALSE(bad_dct.Open(flow.get()));
  EXPECT_EQ(bad_dct.LastErrorCode(), errPreCondition);
}

// ---------------------------------------------------------------------------
// The bridge: library errors in the middle of a call unwind cleanly (the
// sanitizer build checks for leaks), and the log stays bounded.

TEST_F(JPEG, FailingWritesUnwindThroughTheBridge) {
  auto source = make_bitmap(300, 200, cnBitmapNative, photo_argb);
  const Bytes whole = save_bitmap(source->Clone(0, 0, cnResizeCopy), 95);
  ASSERT_GT(whole.size(), 3u * 4096u);
  for (int64_t limit : {int64_t(0), int64_t(100), int64_t(5000), int64_t(whole.size() - 1)}) {
    SCOPED_TRACE(limit);
    cBitmapImage from(source->Clone(0, 0, cnResizeCopy));
    cImageJPEG codec(cnJPEGDctIntSlow, 95);
    auto flow = testenv::cFailingWriteFlow::Construct(limit);
    EXPECT_FALSE(codec.SaveFrom(flow.get(), &from));
    EXPECT_EQ(codec.LastErrorCode(), errJPEGError);
    EXPECT_TRUE(std::regex_search(
        codec.LastErrorText(), std::regex(R"(^\{Output file write error --- out of disk space\?\(Code:[0-9]+\)\}$)")))
        << codec.LastErrorText();
    // What was written before the failure stays.
    const Bytes kept = flow_bytes(*flow);
    EXPECT_EQ(kept.size(), size_t(limit));
    EXPECT_TRUE(std::equal(kept.begin(), kept.end(), whole.begin()));
  }
}

// Every allocation of an Open fails in turn (the first ones are the log's:
// a row is lost and the picture opens). A failed Open leaves a bitmap that
// holds only the background and no palette (the palette's failure comes
// after every row is written, as when grey was expanded at the end).
TEST_F(JPEG, MemoryFailuresLeaveNothingBehind) {
  for (const bool grey : {true, false}) {
    SCOPED_TRACE(grey ? "grey" : "rgb");
    const Bytes bytes = grey ? raw_encode(37, 21, JCS_GRAYSCALE, 1, false) : raw_encode(37, 21, JCS_RGB, 3, false);
    {
      cImageJPEG probe;
      auto flow = read_flow(bytes);
      mem_alloc_fail_at(0);
      ASSERT_TRUE(probe.Open(flow.get()));
    }
    const int64_t allocations = mem_alloc_count();
    ASSERT_GT(allocations, 1);
    ASSERT_LT(allocations, 50);
    int failures = 0;
    for (int64_t k = 1; k <= allocations; ++k) {
      SCOPED_TRACE(k);
      cImageJPEG image;
      auto flow = read_flow(bytes);
      mem_alloc_fail_at(k);
      const bool ok = image.Open(flow.get());
      mem_alloc_fail_at(0);
      if (ok) {
        EXPECT_EQ(image.Bitmap(0)->Palette() != nullptr, grey);
        continue;
      }
      ++failures;
      EXPECT_TRUE(image.LastErrorCode() == errNEnoughMem || image.LastErrorCode() == errQLMCall)
          << image.LastErrorText();
      if (const cBitmap* b = image.Bitmap(0); b != nullptr) {
        EXPECT_TRUE(testenv::bitmap_matches(*b, [](int32_t, int32_t) { return color_rgba(0, 0, 0, 255); }));
        EXPECT_EQ(b->Palette(), nullptr);
      }
    }
    EXPECT_GE(failures, grey ? 2 : 1);  // the bitmap's pixels (and the grey palette)
  }
}

TEST_F(JPEG, ThousandsOfMarkersLeaveABoundedLog) {
  Bytes bytes = raw_encode(16, 16, JCS_RGB, 3, false);
  const Bytes comment = {0xFF, 0xFE, 0x00, 0x02};
  Bytes many;
  for (int i = 0; i < 5000; ++i) many.insert(many.end(), comment.begin(), comment.end());
  bytes.insert(bytes.begin() + 2, many.begin(), many.end());
  auto image = open_bytes(bytes);
  ASSERT_TRUE(image->IsOpened()) << image->LastErrorText();
  ASSERT_NE(image->Log(), nullptr);
  EXPECT_LE(image->Log()->Count(), uint32_t(cnJPEGMaxMessages + 1));
  EXPECT_EQ(count_rows(*image, R"(^\{[0-9]+ further messages dropped\}$)"), 1);
  // Every row is the one a raised errJPEGError leaves.
  for (uint32_t i = 1; i <= image->Log()->Count(); ++i) {
    const rExceptionLog& row = *image->Log()->Get(i);
    EXPECT_EQ(row.code, errJPEGError);
    EXPECT_EQ(row.function, &jpeg_exception_string);
    EXPECT_TRUE(row.raise_address.IsSet() && row.logged_at.IsSet());
    EXPECT_GT(row.date.year, 2000);
  }
}

// Message rows keep the library's message code and parameters and are
// formatted when read: each text is the one the library's format_message
// gave when the message was emitted (integer and string parameters, a
// warning, an add-on code, an unknown code), also once the coder and its
// error manager are gone and in a copy of the log.
TEST_F(JPEG, MessageRowsReadAsTheLibraryFormattedThem) {
  struct Case {
    int code;
    int level;
    std::vector<int> ints;  // integer parameters, or
    const char* text;       // the string parameter
  };
  const Case cases[] = {
      {JTRC_SOF, 1, {0xC2, 4000, 3000, 3}, nullptr},
      {JTRC_TFILE_OPEN, 3, {}, "/tmp/scratch file 1"},
      {JTRC_TFILE_OPEN, 3, {}, ""},
      {JWRN_EXTRANEOUS_DATA, -1, {17, 0xD9}, nullptr},
      {JWRN_JPEG_EOF, -1, {}, nullptr},
      {JTRC_EOI, 1, {}, nullptr},
      {cnJPEGMsgTooManyScans, 0, {cnJPEGMaxScans}, nullptr},
      {5000, 2, {}, nullptr},  // past every table: "Bogus message code 5000"
  };
  cException holder;
  std::vector<std::string> expected;
  {
    rJPEGDecodeState state;
    j_common_ptr cinfo = jpeg_common(&state.d);
    jpeg_call(cinfo, [&] { jpeg_create_decompress(&state.d); });
    state.d.client_data = static_cast<cBase*>(&holder);
    for (const Case& c : cases) {
      jpeg_error_mgr* err = cinfo->err;
      std::memset(&err->msg_parm, 0x5A, sizeof err->msg_parm);
      err->msg_code = c.code;
      if (c.text != nullptr) {
        std::memcpy(err->msg_parm.s, c.text, std::strlen(c.text) + 1);
      } else {
        for (size_t i = 0; i < c.ints.size(); ++i) err->msg_parm.i[i] = c.ints[i];
      }
      // The text as the library formats it now.
      char message[JMSG_LENGTH_MAX];
      (*err->format_message)(cinfo, message);
      expected.push_back(std::string(c.level < 0 ? "{Warning:" : "{") + message +
                         "(MsgLevel:" + std::to_string(c.level) + ")}");
      (*err->emit_message)(cinfo, c.level);
    }
    // The error manager's parameters change after the message was emitted.
    std::memset(&cinfo->err->msg_parm, 0x33, sizeof cinfo->err->msg_parm);
    cinfo->err->msg_code = JTRC_EOI;
  }
  EXPECT_EQ(expected[1], "{Opened temporary file /tmp/scratch file 1(MsgLevel:3)}");
  EXPECT_EQ(expected[3], "{Warning:Corrupt JPEG data: 17 extraneous bytes before marker 0xd9(MsgLevel:-1)}");
  EXPECT_EQ(expected[6], "{JPEG image has more than 500 scans(MsgLevel:0)}");
  EXPECT_EQ(log_texts(holder), expected);
  ASSERT_NE(holder.Log(), nullptr);
  std::unique_ptr<cExceptionLog> copy(static_cast<cExceptionLog*>(holder.Log()->Clone()));
  ASSERT_NE(copy, nullptr);
  ASSERT_EQ(copy->Count(), uint32_t(std::size(cases)));
  for (uint32_t i = 1; i <= copy->Count(); ++i) EXPECT_EQ(exception_log_row_text(*copy->Get(i)), expected[i - 1]);
  EXPECT_EQ(holder.LastErrorText(), expected.back());
}

// A restart marker on every block row logs a trace row each; cut short, the
// file still shows its "Premature end" warning: trace rows have a cap of
// their own and never crowd warnings out.
TEST_F(JPEG, TraceRowsNeverCrowdOutTheWarningOfACutFile) {
  const Bytes whole = raw_encode(8, 1600, JCS_GRAYSCALE, 1, false, 90, photo, 1);
  ASSERT_NE(find_marker(whole, 0xD7, 24), std::string::npos);  // 199 restart markers
  const Bytes cut(whole.begin(), whole.begin() + std::ptrdiff_t(whole.size() * 3 / 4));
  auto image = open_bytes(cut);
  ASSERT_TRUE(image->IsOpened()) << image->LastErrorText();
  EXPECT_EQ(count_rows(*image, R"(^\{Warning:Premature end of JPEG file\(MsgLevel:-1\)\}$)"), 1);
  EXPECT_EQ(count_rows(*image, R"(^\{[0-9]+ further messages dropped\}$)"), 1);
  EXPECT_EQ(count_rows(*image, R"(\(MsgLevel:[0-9]+\)\}$)"), cnJPEGMaxTraceRows);
}

// A 633-byte file whose frame header says 26700 x 26700 opened (its data
// cut short) with a 2 GB bitmap; the read limits refuse it first.
TEST_F(JPEG, TheReadLimitsRefuseAHugeFrameBeforeItsBitmap) {
  Bytes bytes = raw_encode(16, 16, JCS_RGB, 3, false);
  const size_t sof = find_marker(bytes, 0xC0);
  ASSERT_NE(sof, std::string::npos);
  for (size_t at : {sof + 5, sof + 7}) bytes[at] = 26700 >> 8, bytes[at + 1] = 26700 & 0xFF;
  auto image = open_bytes(bytes);
  EXPECT_FALSE(image->IsOpened());
  EXPECT_EQ(image->LastErrorCode(), errNEnoughMem);
  EXPECT_EQ(count_rows(*image, R"(^\{26700x26700 over the image read limits\}$)"), 1) << image->LastErrorText();
  EXPECT_EQ(image->Bitmap(0), nullptr);
}

// A marker whose length runs past the end: the skip stops at the inserted
// end marker instead of refilling it (and warning) 32,767 times.
TEST_F(JPEG, ASkipPastTheEndStopsAtTheEnd) {
  const Bytes bytes = {0xFF, 0xD8, 0xFF, 0xE5, 0xFF, 0xFF, 0x00, 0x00};
  auto image = open_bytes(bytes);
  EXPECT_EQ(image->LastErrorCode(), errJPEGError);
  EXPECT_EQ(count_rows(*image, "Premature end of JPEG file"), 1);
  EXPECT_EQ(count_rows(*image, "further messages dropped"), 0);
}

// A progressive stream whose first scan is repeated: far more scans than any
// real picture has. The decoder stops after the limit, progress or not.
TEST_F(JPEG, ManyScansStopAtTheLimit) {
  const Bytes plain = raw_encode(32, 32, JCS_RGB, 3, true);
  const size_t first = find_marker(plain, 0xDA, 1), second = find_marker(plain, 0xDA, 2);
  ASSERT_NE(second, std::string::npos);
  Bytes bytes(plain.begin(), plain.begin() + std::ptrdiff_t(second));
  for (int i = 0; i < 600; ++i)
    bytes.insert(bytes.end(), plain.begin() + std::ptrdiff_t(first), plain.begin() + std::ptrdiff_t(second));
  bytes.insert(bytes.end(), plain.begin() + std::ptrdiff_t(second), plain.end());
  for (ProgressCallback progress : {ProgressCallback(nullptr), &testenv::ProgressRecorder::Callback}) {
    testenv::ProgressRecorder recorder;
    auto image = open_bytes(bytes, progress);
    EXPECT_EQ(image->LastErrorCode(), errJPEGError);
    EXPECT_TRUE(std::regex_search(image->LastErrorText(), std::regex(R"(more than 500 scans\(Code:[0-9]+\)\}$)")))
        << image->LastErrorText();
    EXPECT_LE(image->Log()->Count(), uint32_t(cnJPEGMaxMessages + 2));
  }
}

// ---------------------------------------------------------------------------
// Progress.

TEST_F(JPEG, ProgressReportsAndStops) {
  const Bytes bytes = raw_encode(40, 50, JCS_RGB, 3, false);
  {
    testenv::ProgressRecorder recorder;
    auto image = open_bytes(bytes, &testenv::ProgressRecorder::Callback);
    ASSERT_TRUE(image->IsOpened()) << image->LastErrorText();
    ASSERT_GE(recorder.reports.size(), 10u);
    EXPECT_EQ(recorder.reports.back(), 100.0);
    for (size_t i = 1; i < recorder.reports.size(); ++i) EXPECT_GT(recorder.reports[i], recorder.reports[i - 1]);
    EXPECT_EQ(recorder.objects.front(), image.get());
  }
  {
    testenv::ProgressRecorder recorder(3);
    auto image = open_bytes(bytes, &testenv::ProgressRecorder::Callback);
    EXPECT_EQ(image->LastErrorCode(), errProgressBreak);
    EXPECT_EQ(image->LastErrorText(), "{cImageJPEG.Open}");
    EXPECT_EQ(recorder.reports.size(), 3u);
  }
  {
    // A progressive stream reports its input passes inside one library call;
    // a stop answered there is kept until the check before the first row.
    testenv::ProgressRecorder recorder(2);
    auto image = open_bytes(raw_encode(40, 50, JCS_RGB, 3, true), &testenv::ProgressRecorder::Callback);
    EXPECT_EQ(image->LastErrorCode(), errProgressBreak);
    EXPECT_EQ(image->LastErrorText(), "{cImageJPEG.Open}");
    EXPECT_EQ(recorder.reports.size(), 2u);
  }
  {
    testenv::ProgressRecorder recorder(2);
    cBitmapImage from(make_bitmap(40, 50, cnBitmapNative, photo_argb));
    cImageJPEG codec(cnJPEGDctIntSlow, 85, &testenv::ProgressRecorder::Callback);
    auto flow = cMemoryFlow::Construct();
    ASSERT_TRUE(flow->Create());
    EXPECT_FALSE(codec.SaveFrom(flow.get(), &from));
    EXPECT_EQ(codec.LastErrorText(), "{cImageJPEG.SaveFrom}");
  }
}

// ---------------------------------------------------------------------------
// Saving.

TEST_F(JPEG, SaveRefusals) {
  cImageJPEG codec;
  auto flow = cMemoryFlow::Construct();
  ASSERT_TRUE(flow->Create());
  auto closed_flow = cMemoryFlow::Construct();
  cBitmapImage open_image(make_bitmap(4, 4, cnBitmapNative, photo_argb));
  cImageJPEG closed_image;
  struct Case {
    cFlow* flow;
    cImage* from;
    const char* text;
  };
  for (const Case& c :
       {Case{nullptr, &open_image, "{flow=NIL}"}, Case{closed_flow.get(), &open_image, "{not flow.IsOpened}"},
        Case{flow.get(), nullptr, "{from=NIL}"}, Case{flow.get(), &closed_image, "{not from.IsOpened}"}}) {
    EXPECT_FALSE(codec.SaveFrom(c.flow, c.from));
    EXPECT_EQ(codec.LastErrorCode(), errPreCondition);
    EXPECT_EQ(codec.LastErrorText(), c.text);
  }
  EXPECT_EQ(flow->Size(), 0);
}

// Every orderable format: written and read back within a PSNR bound at
// quality 95, the same size; alpha plays no part in the stream.
TEST_F(JPEG, RoundTripsEveryFormatAndDropsAlpha) {
  const Bytes reference = save_bitmap(make_bitmap(120, 90, cnBitmapNative, photo_argb));
  for (int32_t kind = cnBitmapNative; kind <= cnBitmap32ABGR; ++kind) {
    SCOPED_TRACE(kind);
    auto b = make_bitmap(120, 90, kind, [](int32_t x, int32_t y) {
      return (photo_argb(x, y) & 0x00FFFFFFu) | uint32_t((x * 7 + y) & 0xFF) << 24;
    });
    const Bytes bytes = save_bitmap(std::move(b));
    EXPECT_EQ(bytes, reference);
    auto image = open_bytes(bytes);
    ASSERT_TRUE(image->IsOpened()) << image->LastErrorText();
    EXPECT_EQ(image->Bitmap(0)->Width(), 120);
    EXPECT_EQ(image->Bitmap(0)->Height(), 90);
    EXPECT_GT(psnr(*image->Bitmap(0), photo_argb), 38.0);
  }
  cImageJPEG codec;
  EXPECT_FALSE(codec.IsOpened());
}

// The straight BGR rows give exactly what the per-pixel copy of the samples
// gives, both ways.
TEST_F(JPEG, DirectRowsEqualThePerPixelCopy) {
  auto source = make_bitmap(57, 33, cnBitmapNative, photo_argb);
  const Bytes direct = save_bitmap(source->Clone(0, 0, cnResizeCopy), 90);
  // The encoder and decoder driven with the per-pixel copy.
  Bytes copied;
  {
    auto flow = cMemoryFlow::Construct();
    ASSERT_TRUE(flow->Create());
    jpeg_compress_struct c{};
    rJPEGError err;
    c.err = jpeg_error_init(err);
    rJPEGReader reader{};
    cBitmap* b = source.get();
    cFlow* f = flow.get();
    try {
      jpeg_call(reinterpret_cast<j_common_ptr>(&c), [&] {
        jpeg_create_compress(&c);
        jpeg_flow_dest(&c, f);
        c.in_color_space = JCS_RGB;
        jpeg_set_defaults(&c);
        jpeg_bitmap_reader(&c, reader, b, false);
        jpeg_reader_start(&c, reader);
        jpeg_default_colorspace(&c);
        jpeg_set_quality(&c, 90, TRUE);
        jpeg_start_compress(&c, TRUE);
        while (c.next_scanline < c.image_height) {
          JSAMPROW row = jpeg_get_rows(reader);
          jpeg_write_scanlines(&c, &row, 1);
        }
        jpeg_finish_compress(&c);
      });
    } catch (...) {
      ADD_FAILURE() << "encoding failed";
    }
    EXPECT_FALSE(reader.direct);
    jpeg_destroy_compress(&c);
    copied = flow_bytes(*flow);
  }
  EXPECT_EQ(copied, direct);

  auto opened = open_bytes(direct);
  ASSERT_TRUE(opened->IsOpened());
  auto target = std::make_unique<cBitmap>(57, 33, cnBitmapNative);
  ASSERT_TRUE(target->Create());
  auto flow = read_flow(direct);
  jpeg_decompress_struct d{};
  rJPEGError err;
  d.err = jpeg_error_init(err);
  rJPEGWriter writer{};
  cBitmap* t = target.get();
  cFlow* f = flow.get();
  try {
    jpeg_call(reinterpret_cast<j_common_ptr>(&d), [&] {
      jpeg_create_decompress(&d);
      jpeg_flow_source(&d, f);
      jpeg_read_header(&d, TRUE);
      jpeg_bitmap_writer(&d, writer, t, false);
      jpeg_start_decompress(&d);
      while (d.output_scanline < d.output_height) {
        JSAMPROW row = jpeg_writer_row(writer);
        jpeg_read_scanlines(&d, &row, 1);
        jpeg_put_rows(writer);
      }
      jpeg_finish_decompress(&d);
    });
  } catch (...) {
    ADD_FAILURE() << "decoding failed";
  }
  EXPECT_FALSE(writer.direct);
  jpeg_destroy_decompress(&d);
  EXPECT_EQ(testenv::BitmapState::Of(*target).bytes, testenv::BitmapState::Of(*opened->Bitmap(0)).bytes);
}

TEST_F(JPEG, CloneKeepsSettingsAndPixels) {
  auto image = std::make_unique<cImageJPEG>(cnJPEGDctFloat, 42, &testenv::ProgressRecorder::Callback);
  auto flow = read_flow(raw_encode(20, 10, JCS_RGB, 3, false));
  ASSERT_TRUE(image->Open(flow.get()));
  for (bool deep : {false, true}) {
    std::unique_ptr<cImage> copy(image->Clone(deep));
    ASSERT_NE(copy, nullptr) << image->LastErrorText();
    ASSERT_TRUE(copy->Identify(id_cImageJPEG));
    auto* jpeg = static_cast<cImageJPEG*>(copy.get());
    EXPECT_EQ(jpeg->DctMethod(), cnJPEGDctFloat);
    EXPECT_EQ(jpeg->Quality(), 42);
    EXPECT_EQ(jpeg->Progress(), &testenv::ProgressRecorder::Callback);
    EXPECT_TRUE(testenv::bitmaps_equal(*copy->Bitmap(0), *image->Bitmap(0)));
  }
  EXPECT_TRUE(image->Identify(id_cImage));
  EXPECT_FALSE(cImage().Identify(id_cImageJPEG));
}

TEST_F(JPEG, MessageFunction) {
  auto s = jpeg_exception_string(errJPEGError);
  EXPECT_EQ(s->Name(), "errJPEGError");
  EXPECT_EQ(s->Message(), "JPEGLib processing failure.");
  EXPECT_EQ(jpeg_exception_string(errPreCondition)->Name(), qlm_base_exception_string(errPreCondition)->Name());
}

// ---------------------------------------------------------------------------
// External pictures (tools/fetch_corpora.sh): a video frame in many JPEG
// variants beside its PNG.

struct Rgb {
  int w = 0, h = 0;
  Bytes pixels;
};
Rgb read_png(const std::string& path) {
  Rgb out;
  png_image img{};
  img.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&img, path.c_str())) return out;
  img.format = PNG_FORMAT_RGB;
  out.pixels.resize(PNG_IMAGE_SIZE(img));
  if (!png_image_finish_read(&img, nullptr, out.pixels.data(), 0, nullptr)) return {};
  out.w = int(img.width);
  out.h = int(img.height);
  return out;
}

Bytes read_bytes(const std::string& path) {
  const std::string s = testenv::read_file(path);
  return Bytes(s.begin(), s.end());
}

double psnr_against(const cBitmap& b, const Rgb& ref) {
  return psnr(b, [&](int32_t x, int32_t y) {
    const uint8_t* p = ref.pixels.data() + (size_t(y) * size_t(ref.w) + size_t(x)) * 3;
    return color_rgba(p[0], p[1], p[2], 255);
  });
}

// Full-quality variants stay above 30 dB against the PNG; the quality-50
// files measure 26.9 (4:1:0) to 29.5 dB (4:4:4), so they get a floor of 26
// and must decode exactly as their baseline twin does.
TEST_F(JPEG, GoVideoFrames) {
  struct Case {
    const char* jpeg;
    const char* png;
    double floor;
    const char* twin;  // the same coefficients in another scan order
  };
  const Case cases[] = {
      {"video-001.jpeg", "video-001.png", 30, nullptr},
      {"video-001.progressive.jpeg", "video-001.png", 30, "video-001.jpeg"},
      {"video-001.separate.dc.progression.jpeg", "video-001.png", 30, nullptr},
      {"video-001.separate.dc.progression.progressive.jpeg", "video-001.png", 30,
       "video-001.separate.dc.progression.jpeg"},
      {"video-001.221212.jpeg", "video-001.221212.png", 30, nullptr},
      {"video-001.rgb.jpeg", "video-001.rgb.png", 26, nullptr},
      {"video-001.q50.410.jpeg", "video-001.png", 26, nullptr},
      {"video-001.q50.411.jpeg", "video-001.png", 26, nullptr},
      {"video-001.q50.420.jpeg", "video-001.png", 26, nullptr},
      {"video-001.q50.422.jpeg", "video-001.png", 26, nullptr},
      {"video-001.q50.440.jpeg", "video-001.png", 26, nullptr},
      {"video-001.q50.444.jpeg", "video-001.png", 26, nullptr},
      {"video-001.q50.410.progressive.jpeg", "video-001.png", 26, "video-001.q50.410.jpeg"},
      {"video-001.q50.411.progressive.jpeg", "video-001.png", 26, "video-001.q50.411.jpeg"},
      {"video-001.q50.420.progressive.jpeg", "video-001.png", 26, "video-001.q50.420.jpeg"},
      {"video-001.q50.422.progressive.jpeg", "video-001.png", 26, "video-001.q50.422.jpeg"},
      {"video-001.q50.440.progressive.jpeg", "video-001.png", 26, "video-001.q50.440.jpeg"},
      {"video-001.q50.444.progressive.jpeg", "video-001.png", 26, "video-001.q50.444.jpeg"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.jpeg);
    QLM_CORPUS_FILE(jpeg, "go-image", c.jpeg);
    QLM_CORPUS_FILE(png, "go-image", c.png);
    const Rgb ref = read_png(png);
    ASSERT_GT(ref.w, 0);
    auto image = open_bytes(read_bytes(jpeg));
    ASSERT_TRUE(image->IsOpened()) << image->LastErrorText();
    ASSERT_EQ(image->Bitmap(0)->Width(), ref.w);
    ASSERT_EQ(image->Bitmap(0)->Height(), ref.h);
    EXPECT_GT(psnr_against(*image->Bitmap(0), ref), c.floor);
    if (c.twin != nullptr) {
      QLM_CORPUS_FILE(twin, "go-image", c.twin);
      auto other = open_bytes(read_bytes(twin));
      ASSERT_TRUE(other->IsOpened());
      EXPECT_TRUE(testenv::bitmaps_equal(*image->Bitmap(0), *other->Bitmap(0)));
    }
  }
}

// The CMYK file is refused with the add-on message. The "truncated" file is
// a complete stream with fewer scans (it ends in an end marker): it opens
// without a warning; cut in its scan data it opens with one.
TEST_F(JPEG, GoSpecialFrames) {
  QLM_CORPUS_FILE(cmyk, "go-image", "video-001.cmyk.jpeg");
  QLM_CORPUS_FILE(truncated, "go-image", "video-001.progressive.truncated.jpeg");
  QLM_CORPUS_FILE(truncated_png, "go-image", "video-001.progressive.truncated.png");
  QLM_CORPUS_FILE(progressive, "go-image", "video-001.progressive.jpeg");
  auto c = open_bytes(read_bytes(cmyk));
  EXPECT_EQ(c->LastErrorCode(), errJPEGError);
  EXPECT_TRUE(
      std::regex_search(c->LastErrorText(), std::regex(R"(^\{BMP output must be grayscale or RGB\(Code:[0-9]+\)\}$)")))
      << c->LastErrorText();

  const Rgb ref = read_png(truncated_png);
  auto t = open_bytes(read_bytes(truncated));
  ASSERT_TRUE(t->IsOpened()) << t->LastErrorText();
  EXPECT_EQ(t->Bitmap(0)->Width(), ref.w);
  EXPECT_EQ(t->Bitmap(0)->Height(), ref.h);
  EXPECT_GT(psnr_against(*t->Bitmap(0), ref), 30.0);

  Bytes cut = read_bytes(progressive);
  cut.resize(cut.size() / 2);
  auto p = open_bytes(cut);
  ASSERT_TRUE(p->IsOpened()) << p->LastErrorText();
  EXPECT_EQ(p->Bitmap(0)->Width(), ref.w);
  EXPECT_GE(count_rows(*p, R"(^\{Warning:Premature end of JPEG file\(MsgLevel:-1\)\}$)"), 1);
}

TEST_F(JPEG, GoGreyFrames) {
  QLM_CORPUS_FILE(png, "go-image", "video-005.gray.png");
  const Rgb ref = read_png(png);
  for (const char* name : {"video-005.gray.jpeg", "video-005.gray.q50.jpeg", "video-005.gray.q50.progressive.jpeg"}) {
    SCOPED_TRACE(name);
    QLM_CORPUS_FILE(jpeg, "go-image", name);
    auto image = open_bytes(read_bytes(jpeg));
    ASSERT_TRUE(image->IsOpened()) << image->LastErrorText();
    const cBitmap* b = image->Bitmap(0);
    ASSERT_EQ(b->Width(), ref.w);
    ASSERT_NE(b->Palette(), nullptr);
    EXPECT_EQ(b->Palette()->Count(), 256);
    EXPECT_TRUE(testenv::bitmap_matches(*b, [&](int32_t x, int32_t y) {
      const uint32_t v = pixel_argb(*b, x, y) & 0xFF;
      return color_rgba(uint8_t(v), uint8_t(v), uint8_t(v), 255);
    }));
    EXPECT_GT(psnr_against(*b, ref), 30.0);
  }
}

}  // namespace
