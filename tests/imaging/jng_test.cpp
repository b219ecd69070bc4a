#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bitmap_builders.h"
#include "image_test_util.h"
#include "png_test_util.h"
#include "qlm_base_flow.h"
#include "qlm_jng.h"
#include "qlm_jpeg.h"
#include "sandbox.h"
#include "test_files.h"

using testenv::Bytes;
using testenv::flow_bytes;
using testenv::make_bitmap;
using testenv::pixel_argb;
using testenv::png_chunk_bytes;
using testenv::read_flow;
using testenv::zlib_pack;

namespace {

class JNG : public ::testing::Test {
 protected:
  void SetUp() override {
    qlm_bitmap_start();
    qlm_jng_start();
  }
  void TearDown() override {
    mem_alloc_fail_at(0);
    bitmap_set_size_limit(0);
  }
};

class cBitmapImage : public cImage {
 public:
  explicit cBitmapImage(std::unique_ptr<cBitmap> b) : cImage(0, 0, 0) { AdoptCommonBitmap(b.release()); }
};

bool logged(const cException& o, int32_t code, const std::string& text) {
  const cExceptionLog* log = o.Log();
  if (log == nullptr) return false;
  for (uint32_t i = 1; i <= log->Count(); ++i) {
    const rExceptionLog* row = log->Get(i);
    if (row->code == code && exception_log_row_text(*row).find(text) != std::string::npos) return true;
  }
  return false;
}

Bytes fixture(const std::string& name) {
  const std::string s = testenv::read_file(std::string(QLM_TEST_DATA_DIR) + "/jng/" + name);
  return Bytes(s.begin(), s.end());
}

struct rChunk {
  std::string type;
  Bytes data;
};

// The chunks of a stream behind its 8-byte signature.
std::vector<rChunk> chunks_of(const Bytes& s) {
  std::vector<rChunk> out;
  for (size_t p = 8; p + 12 <= s.size();) {
    const uint32_t n = png_get_u32(&s[p]);
    out.push_back({std::string(reinterpret_cast<const char*>(&s[p + 4]), 4), Bytes(&s[p + 8], &s[p + 8] + n)});
    p += 12 + n;
  }
  return out;
}

const Bytes kSignature(cnJNG_Signature, cnJNG_Signature + 8);

Bytes stream_of(const std::vector<rChunk>& chunks, bool signature = true) {
  Bytes out = signature ? kSignature : Bytes{};
  for (const rChunk& c : chunks) {
    const Bytes b = png_chunk_bytes(c.type, c.data);
    out.insert(out.end(), b.begin(), b.end());
  }
  return out;
}

// The data of every chunk of a type, joined.
Bytes joined(const std::vector<rChunk>& chunks, const std::string& type) {
  Bytes out;
  for (const rChunk& c : chunks)
    if (c.type == type) out.insert(out.end(), c.data.begin(), c.data.end());
  return out;
}

// Cuts data into chunks of `piece` bytes.
std::vector<rChunk> cut(const std::string& type, const Bytes& data, size_t piece) {
  std::vector<rChunk> out;
  for (size_t at = 0; at < data.size(); at += piece)
    out.push_back({type, Bytes(data.begin() + long(at), data.begin() + long(std::min(data.size(), at + piece)))});
  return out;
}

// The fixture's chunks with the alpha and colour data rearranged: `order`
// 0 as made (IDAT then JDAT), 1 JDAT before IDAT, 2 both cut into pieces
// and interleaved, 3 the JPEG cut into 1-byte JDAT chunks.
Bytes rearranged(const Bytes& file, int order) {
  const std::vector<rChunk> all = chunks_of(file);
  std::vector<rChunk> head, out;
  for (const rChunk& c : all)
    if (c.type != "IDAT" && c.type != "JDAT" && c.type != "IEND") head.push_back(c);
  const Bytes alpha = joined(all, "IDAT"), colour = joined(all, "JDAT");
  std::vector<rChunk> a = alpha.empty() ? std::vector<rChunk>{} : cut("IDAT", alpha, order == 2 ? 37 : alpha.size());
  std::vector<rChunk> j = cut("JDAT", colour, order == 2 ? 53 : order == 3 ? 1 : colour.size());
  out = head;
  if (order == 1) {
    out.insert(out.end(), j.begin(), j.end());
    out.insert(out.end(), a.begin(), a.end());
  } else if (order == 2) {
    for (size_t i = 0; i < std::max(a.size(), j.size()); ++i) {
      if (i < a.size()) out.push_back(a[i]);
      if (i < j.size()) out.push_back(j[i]);
    }
  } else {
    out.insert(out.end(), a.begin(), a.end());
    out.insert(out.end(), j.begin(), j.end());
  }
  out.push_back({"IEND", {}});
  return stream_of(out);
}

uint8_t channel(uint32_t argb, int shift) { return uint8_t(argb >> shift); }

// A JHDR record.
Bytes jhdr(uint32_t w, uint32_t h, uint8_t ctype, uint8_t adepth, uint8_t acompr = 0) {
  Bytes d;
  testenv::put_be32(d, w);
  testenv::put_be32(d, h);
  for (uint8_t b : {ctype, uint8_t(8), uint8_t(8), uint8_t(0), adepth, acompr, uint8_t(0), uint8_t(0)}) d.push_back(b);
  return d;
}

// A baseline JPEG of a bitmap, written by the JPEG codec.
Bytes jpeg_of(int32_t w, int32_t h, uint32_t seed = 3) {
  cBitmapImage from(testenv::make_pattern(w, h, cnBitmapNative, seed));
  cImageJPEG codec(cnJPEGDctIntSlow, 90);
  auto flow = cMemoryFlow::Construct();
  EXPECT_TRUE(flow->Create());
  EXPECT_TRUE(codec.SaveFrom(flow.get(), &from));
  return flow_bytes(*flow);
}

std::unique_ptr<cImageJNG> open_bytes(const Bytes& bytes, bool& ok) {
  auto image = std::make_unique<cImageJNG>();
  auto flow = read_flow(bytes);
  ok = image->Open(flow.get());
  return image;
}

Bytes save_jng(cImageJNG& codec, cImage& from) {
  auto flow = cMemoryFlow::Construct();
  EXPECT_TRUE(flow->Create());
  EXPECT_TRUE(codec.SaveFrom(flow.get(), &from)) << codec.LastErrorText();
  return flow_bytes(*flow);
}

// ---------------------------------------------------------------------------
// ImageMagick's files.

TEST_F(JNG, FixturesDecodeAsImageMagickDoesInEveryChunkOrder) {
  struct Case {
    const char* name;
    bool alpha;
  };
  for (const Case& c :
       {Case{"c10", false}, Case{"c12a1", true}, Case{"c12a8", true}, Case{"c14a1", true}, Case{"c14a8", true}}) {
    SCOPED_TRACE(c.name);
    const Bytes file = fixture(std::string(c.name) + ".jng");
    const Bytes reference = fixture(std::string(c.name) + ".rgba");
    ASSERT_FALSE(file.empty());
    ASSERT_EQ(reference.size(), 40u * 30u * 4u);
    bool ok = false;
    auto image = open_bytes(file, ok);
    ASSERT_TRUE(ok) << image->LastErrorText();
    const cBitmap* b = image->Bitmap(0);
    ASSERT_NE(b, nullptr);
    ASSERT_EQ(b->Width(), 40);
    ASSERT_EQ(b->Height(), 30);
    EXPECT_EQ(b->HasAlpha(), c.alpha);
    int worst = 0;
    for (int32_t y = 0; y < 30; ++y)
      for (int32_t x = 0; x < 40; ++x) {
        const uint8_t* r = &reference[(size_t(y) * 40 + size_t(x)) * 4];
        const uint32_t v = pixel_argb(*b, x, y);
        worst = std::max(
            {worst, std::abs(channel(v, 16) - r[0]), std::abs(channel(v, 8) - r[1]), std::abs(channel(v, 0) - r[2])});
        if (c.alpha) {
          ASSERT_EQ(channel(v, 24), r[3]) << x << "," << y;
        }
      }
    EXPECT_LE(worst, 1);
    for (int order : {1, 2, 3}) {
      SCOPED_TRACE(order);
      bool same = false;
      auto other = open_bytes(rearranged(file, order), same);
      ASSERT_TRUE(same) << other->LastErrorText();
      EXPECT_TRUE(testenv::bitmaps_equal(*other->Bitmap(0), *b));
    }
  }
}

// ---------------------------------------------------------------------------
// Streams that open, and what they give.

TEST_F(JNG, AcceptedVariants) {
  const Bytes jpeg = jpeg_of(10, 4);
  // Alpha rows of a 10 x 4 image: 8-bit rows (filter byte first) and 1-bit rows.
  Bytes alpha8, alpha8_paeth, alpha1_sub;
  for (int y = 0; y < 4; ++y) {
    alpha8.push_back(0);
    for (int x = 0; x < 10; ++x) alpha8.push_back(uint8_t(x * 25 + y * 3));
  }
  // The same alpha filtered with Paeth throughout (a = left, b = above, c = upper left).
  for (int y = 0; y < 4; ++y) {
    alpha8_paeth.push_back(4);
    for (int x = 0; x < 10; ++x) {
      auto at = [&](int xx, int yy) -> int { return xx < 0 || yy < 0 ? 0 : alpha8[size_t(yy * 11 + 1 + xx)]; };
      alpha8_paeth.push_back(
          uint8_t(at(x, y) - png_paeth(uint8_t(at(x - 1, y)), uint8_t(at(x, y - 1)), uint8_t(at(x - 1, y - 1)))));
    }
  }
  // 1-bit: bits 1011001110 per row, Sub-filtered with a distance of one byte.
  for (int y = 0; y < 4; ++y) {
    const uint8_t b0 = 0xB3, b1 = 0x80;
    alpha1_sub.push_back(1);
    alpha1_sub.push_back(b0);
    alpha1_sub.push_back(uint8_t(b1 - b0));
  }
  auto alpha_of = [](const cBitmap& b, int x, int y) { return int(channel(pixel_argb(b, x, y), 24)); };
  const Bytes jdat = png_chunk_bytes("JDAT", jpeg), end = png_chunk_bytes("IEND", {});
  auto build = [&](const Bytes& header, std::initializer_list<Bytes> middle) {
    Bytes s = kSignature;
    const Bytes h = png_chunk_bytes("JHDR", header);
    s.insert(s.end(), h.begin(), h.end());
    for (const Bytes& m : middle) s.insert(s.end(), m.begin(), m.end());
    s.insert(s.end(), end.begin(), end.end());
    return s;
  };
  const Bytes plain = build(jhdr(10, 4, 10, 0), {jdat});
  const Bytes without_signature(plain.begin() + 8, plain.end());
  struct Case {
    const char* what;
    Bytes stream;
    bool skip_signature;
    int bytes_per_pixel;
    int alpha_at_9_3;  // -1: not checked
  };
  const Case cases[] = {
      {"colour only", build(jhdr(10, 4, 10, 0), {jdat}), false, 3, -1},
      {"8-bit alpha", build(jhdr(10, 4, 14, 8), {png_chunk_bytes("IDAT", zlib_pack(alpha8)), jdat}), false, 4,
       9 * 25 + 9},
      {"8-bit alpha, Paeth rows", build(jhdr(10, 4, 14, 8), {png_chunk_bytes("IDAT", zlib_pack(alpha8_paeth)), jdat}),
       false, 4, 9 * 25 + 9},
      {"1-bit alpha, Sub rows", build(jhdr(10, 4, 14, 1), {png_chunk_bytes("IDAT", zlib_pack(alpha1_sub)), jdat}),
       false, 4, 0},
      {"alpha data of an image without alpha",
       build(jhdr(10, 4, 10, 8), {png_chunk_bytes("IDAT", zlib_pack(alpha8)), jdat}), false, 3, -1},
      {"JDAA and JSEP skipped",
       build(jhdr(10, 4, 14, 8), {png_chunk_bytes("JDAA", {1, 2, 3}), jdat, png_chunk_bytes("JSEP", {})}), false, 4,
       -1},
      {"no signature", without_signature, true, 3, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    cImageJNG image;
    image.mSkipReadSignature = c.skip_signature;
    auto flow = read_flow(c.stream);
    ASSERT_TRUE(image.Open(flow.get())) << image.LastErrorText();
    const cBitmap& b = *image.Bitmap(0);
    EXPECT_EQ(b.BytesPerPixel(), c.bytes_per_pixel);
    if (c.alpha_at_9_3 >= 0) {
      EXPECT_EQ(alpha_of(b, 9, 3), c.alpha_at_9_3);
      if (std::string(c.what).find("1-bit") != std::string::npos) {
        const int bits[10] = {1, 0, 1, 1, 0, 0, 1, 1, 1, 0};
        for (int x = 0; x < 10; ++x) EXPECT_EQ(alpha_of(b, x, 2), bits[x] ? 255 : 0) << x;
      } else {
        for (int y = 0; y < 4; ++y)
          for (int x = 0; x < 10; ++x) EXPECT_EQ(alpha_of(b, x, y), x * 25 + y * 3);
      }
    }
  }
}

TEST_F(JNG, ColourStreamEndingEarlyIsAWarning) {
  Bytes jpeg = jpeg_of(64, 64);
  jpeg.resize(jpeg.size() - 200);
  Bytes s = kSignature;
  for (const Bytes& b :
       {png_chunk_bytes("JHDR", jhdr(64, 64, 10, 0)), png_chunk_bytes("JDAT", jpeg), png_chunk_bytes("IEND", {})})
    s.insert(s.end(), b.begin(), b.end());
  bool ok = false;
  auto image = open_bytes(s, ok);
  EXPECT_TRUE(ok) << image->LastErrorText();
  EXPECT_TRUE(logged(*image, errJPEGError, "Premature end of JPEG file"));
  // One warning: after the end no further chunk is read.
  int warnings = 0;
  for (uint32_t i = 1; i <= image->Log()->Count(); ++i)
    warnings += exception_log_row_text(*image->Log()->Get(i)).find("Premature") != std::string::npos ? 1 : 0;
  EXPECT_EQ(warnings, 1);
}

TEST_F(JNG, GreyFollowsTheGammaTableColourDoesNot) {
  const Bytes grey_file = fixture("c12a8.jng");
  std::vector<rChunk> chunks = chunks_of(grey_file);
  // gAMA 0.5 / 2.2 (a strong curve) in place of ImageMagick's 1 / 2.2.
  for (rChunk& c : chunks)
    if (c.type == "gAMA") c.data = {0, 0, 0x58, 0xC6};
  bool ok = false;
  auto plain = open_bytes(grey_file, ok);
  ASSERT_TRUE(ok);
  auto curved = open_bytes(stream_of(chunks), ok);
  ASSERT_TRUE(ok) << curved->LastErrorText();
  const long double e = 1.0L / (22726.0L / 100000.0L * 2.2L);
  for (int32_t x = 0; x < 40; x += 7) {
    const int v = channel(pixel_argb(*plain->Bitmap(0), x, 5), 16);
    const int mapped = int(std::nearbyint(255.0L * std::pow(v / 255.0L, e)));
    EXPECT_EQ(channel(pixel_argb(*curved->Bitmap(0), x, 5), 16), mapped) << x;
  }
  // The colour fixture with the same gAMA added decodes unchanged.
  const Bytes colour_file = fixture("c14a8.jng");
  std::vector<rChunk> colour = chunks_of(colour_file);
  colour.insert(colour.begin() + 1, rChunk{"gAMA", {0, 0, 0x58, 0xC6}});
  auto base = open_bytes(colour_file, ok);
  ASSERT_TRUE(ok);
  auto with_gamma = open_bytes(stream_of(colour), ok);
  ASSERT_TRUE(ok) << with_gamma->LastErrorText();
  EXPECT_TRUE(testenv::bitmaps_equal(*base->Bitmap(0), *with_gamma->Bitmap(0)));
}

// ---------------------------------------------------------------------------
// Streams that fail, each with its rows, in bounded time.

TEST_F(JNG, RefusedStreams) {
  const Bytes jpeg = jpeg_of(10, 4);
  Bytes alpha8;
  for (int y = 0; y < 4; ++y) {
    alpha8.push_back(0);
    for (int x = 0; x < 10; ++x) alpha8.push_back(uint8_t(x + y));
  }
  const Bytes packed = zlib_pack(alpha8);
  Bytes short_stream = zlib_pack(Bytes(alpha8.begin(), alpha8.begin() + 22));
  for (int i = 0; i < 40; ++i) short_stream.push_back(uint8_t(0x5A ^ i));
  auto chunk = [](const char* type, const Bytes& d) { return png_chunk_bytes(type, d); };
  auto raw_header = [](uint32_t length, const char* type) {
    Bytes b;
    testenv::put_be32(b, length);
    for (int i = 0; i < 4; ++i) b.push_back(uint8_t(type[i]));
    return b;
  };
  auto build = [&](std::initializer_list<Bytes> parts, bool signature = true) {
    Bytes s = signature ? kSignature : Bytes{};
    for (const Bytes& p : parts) s.insert(s.end(), p.begin(), p.end());
    return s;
  };
  const Bytes jh = chunk("JHDR", jhdr(10, 4, 14, 8)), jdat = chunk("JDAT", jpeg), end = chunk("IEND", {});
  Bytes huge_jdat = raw_header(0xFFFFFFF0u, "JDAT");
  huge_jdat.insert(huge_jdat.end(), jpeg.begin(), jpeg.end());
  Bytes huge_idat = raw_header(0xFFFFFFF0u, "IDAT");
  huge_idat.insert(huge_idat.end(), packed.begin(), packed.end());
  const Bytes half_a(packed.begin(), packed.begin() + long(packed.size() / 2)),
      half_b(packed.begin() + long(packed.size() / 2), packed.end());
  Bytes bad_crc = jdat;
  bad_crc.back() ^= 1;
  struct Case {
    const char* what;
    Bytes stream;
    int32_t code;
    std::string text;
  };
  const Case cases[] = {
      {"PNG signature", build({Bytes(cnPNG_Signature, cnPNG_Signature + 8), jh, jdat, end}, false), errInvariant,
       "{jngh<>cnJNG_Signature}"},
      {"JDAT length 0xFFFFFFF0", build({jh, huge_jdat}), errPNGInvalidChunkSize, "{aloc>flow.Size}"},
      {"alpha IDAT length 0xFFFFFFF0", build({jh, huge_idat}), errPNGInvalidChunkSize, "{aloc>flow.Size}"},
      {"JHDR 65500 x 65500", build({chunk("JHDR", jhdr(65500, 65500, 14, 8)), jdat, end}), errJNGBuildBitmap,
       "{BuildBitmap}"},
      {"JHDR 20000 x 20000", build({chunk("JHDR", jhdr(20000, 20000, 14, 8)), jdat, end}), errNEnoughMem,
       "{20000x20000 over the image read limits}"},
      {"alpha stream ends early, then garbage", build({jh, chunk("IDAT", short_stream), jdat, end}),
       errPNGFlowCorrupted, "{zlib stream ended early}"},
      {"IEND inside the alpha data", build({jh, chunk("IDAT", half_a), end}), errPNGInvalidChunkType, "{\"IEND\"}"},
      {"JSEP between alpha chunks", build({jh, chunk("IDAT", half_a), chunk("JSEP", {}), chunk("IDAT", half_b), end}),
       errPNGInvalidChunkType, "{\"JSEP\"}"},
      {"JPEG wider than the JHDR", build({chunk("JHDR", jhdr(20, 4, 10, 0)), jdat, end}), errPNGInvalidImageDims,
       "{cinfo:dims<>mPng.Bitmap:dims}"},
      // Neither left-over rows nor rows with nowhere to go: both refused.
      {"JPEG taller than the JHDR", build({chunk("JHDR", jhdr(10, 3, 10, 0)), jdat, end}), errPNGInvalidImageDims,
       "{cinfo:dims<>mPng.Bitmap:dims}"},
      {"JPEG shorter than the JHDR", build({chunk("JHDR", jhdr(10, 5, 10, 0)), jdat, end}), errPNGInvalidImageDims,
       "{cinfo:dims<>mPng.Bitmap:dims}"},
      {"JPEG wider than the JHDR (reading row)", build({chunk("JHDR", jhdr(20, 4, 10, 0)), jdat, end}),
       errJNGReadingJPEG, "{JDAT.LoadChunk}"},
      {"alpha depth 16", build({chunk("JHDR", jhdr(10, 4, 14, 16)), chunk("IDAT", packed), jdat, end}),
       errJNGInvalidDepth, "{decode=NIL}"},
      {"alpha depth 16 (reading row)", build({chunk("JHDR", jhdr(10, 4, 14, 16)), chunk("IDAT", packed), jdat, end}),
       errJNGReadingJPEG, "{IDAT.LoadChunk}"},
      {"alpha compression 1", build({chunk("JHDR", jhdr(10, 4, 14, 8, 1)), chunk("IDAT", packed), jdat, end}),
       errInvariant, "{cImageJNG(mPng).JHDR.mData.acompr<>0}"},
      // The first JHDR is listed, so a second one is not first.
      {"second JHDR", build({jh, jh, jdat, end}), errJNGJHDRNotFirst, "{mChunks.Count>0}"},
      {"colour type 9", build({chunk("JHDR", jhdr(10, 4, 9, 0)), jdat, end}), errJNGInvalidCType, "{9}"},
      {"colour type 9 (list row)", build({chunk("JHDR", jhdr(10, 4, 9, 0)), jdat, end}), errPNGLoadChunkFailed,
       "{entry.cobj.LoadChunk}"},
      {"JDAT before the JHDR", build({jdat, jh, end}), errJNGJHDRNotFound, "{JHDR=NIL}"},
      {"JHDR after a listed chunk", build({chunk("sRGB", {0}), jh, jdat, end}), errJNGJHDRNotFirst,
       "{mChunks.Count>0}"},
      {"JHDR of 0 x 4", build({chunk("JHDR", jhdr(0, 4, 10, 0)), jdat, end}), errPNGInvalidImageDims, "{dx or dy = 0}"},
      {"JDAT CRC", build({jh, bad_crc, end}), errPNGInvalidCRC, "{lcrc<>ccrc}"},
      {"no IEND", build({jh, jdat}), errPNGFlowCorrupted, "{flow.Read}"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const auto start = std::chrono::steady_clock::now();
    bool ok = true;
    auto image = open_bytes(c.stream, ok);
    EXPECT_FALSE(ok);
    EXPECT_TRUE(logged(*image, c.code, c.text)) << image->LastErrorText();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  }
}

TEST_F(JNG, AlphaProgressReportsEachRowAndStops) {
  const Bytes file = fixture("c14a8.jng");
  {
    testenv::ProgressRecorder recorder;
    cImageJNG image(&testenv::ProgressRecorder::Callback);
    auto flow = read_flow(file);
    ASSERT_TRUE(image.Open(flow.get())) << image.LastErrorText();
    EXPECT_EQ(std::count(recorder.reports.begin(), recorder.reports.end(), -99.99), 30);
  }
  {
    // 0 from Open, then the first alpha row's report answers false.
    testenv::ProgressRecorder recorder(2);
    cImageJNG image(&testenv::ProgressRecorder::Callback);
    auto flow = read_flow(file);
    EXPECT_FALSE(image.Open(flow.get()));
    EXPECT_TRUE(logged(image, errProgressBreak, "{cJNG_IDAT.LoadChunk}"));
    ASSERT_NE(image.Bitmap(0), nullptr);
    // Nothing of the alpha data reached the bitmap: its first row keeps the
    // alpha it was built with.
    const uint8_t built = channel(pixel_argb(*image.Bitmap(0), 0, 0), 24);
    for (int32_t x = 0; x < 40; ++x) EXPECT_EQ(channel(pixel_argb(*image.Bitmap(0), x, 0), 24), built);
  }
}

// ---------------------------------------------------------------------------
// Writing.

double psnr(const cBitmap& a, const cBitmap& b) {
  double sum = 0;
  int64_t n = 0;
  for (int32_t y = 0; y < a.Height(); ++y)
    for (int32_t x = 0; x < a.Width(); ++x) {
      const uint32_t p = pixel_argb(a, x, y), q = pixel_argb(b, x, y);
      for (int s : {0, 8, 16}) {
        const double d = double(channel(p, s)) - double(channel(q, s));
        sum += d * d;
        ++n;
      }
    }
  return sum == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / (sum / double(n)));
}

uint32_t smooth_argb(int32_t x, int32_t y) {
  auto v = [](double t) { return uint8_t(std::lround(127 + 100 * std::sin(t))); };
  return color_rgba(v(x / 11.0), v(y / 7.0 + 1), v((x + y) / 13.0 + 2), uint8_t((x * 7 + y * 13) & 0xFF));
}

TEST_F(JNG, RoundTripsAndTheirLayout) {
  const bool magick = std::system("command -v convert-im6.q16 >/dev/null 2>&1") == 0;
  for (int32_t kind : {cnBitmapNative, cnBitmap32RGBA, cnBitmap32BGRA}) {
    SCOPED_TRACE(kind);
    auto source = make_bitmap(100, 100, kind, smooth_argb);
    const bool alpha = source->HasAlpha();
    cBitmapImage from(std::move(source));
    cImageJNG codec;
    codec.mSkipWriteSignature = true;  // not consulted
    const Bytes file = save_jng(codec, from);
    ASSERT_GT(file.size(), 8u);
    EXPECT_TRUE(std::equal(kSignature.begin(), kSignature.end(), file.begin()));
    const std::vector<rChunk> chunks = chunks_of(file);
    std::string layout;
    for (const rChunk& c : chunks)
      if (layout.empty() || layout.substr(layout.size() - 4) != c.type) layout += c.type;
    EXPECT_EQ(layout, alpha ? "JHDRIDATJDATIEND" : "JHDRJDATIEND");
    EXPECT_EQ(chunks[0].data, jhdr(100, 100, alpha ? 14 : 10, alpha ? 8 : 0));
    if (alpha) {
      // 100 rows of a filter byte and 100 alpha bytes.
      const Bytes packed = joined(chunks, "IDAT");
      Bytes raw(100 * 101);
      uLongf size = uLongf(raw.size());
      ASSERT_EQ(uncompress(raw.data(), &size, packed.data(), uLong(packed.size())), Z_OK);
      EXPECT_EQ(size, 100u * 101u);
    }
    bool ok = false;
    auto back = open_bytes(file, ok);
    ASSERT_TRUE(ok) << back->LastErrorText();
    const cBitmap& b = *back->Bitmap(0);
    const cBitmap& a = *from.Bitmap(0);
    EXPECT_EQ(b.HasAlpha(), alpha);
    EXPECT_GT(psnr(a, b), 35.0);
    if (alpha) {
      for (int32_t y = 0; y < 100; ++y)
        for (int32_t x = 0; x < 100; ++x) ASSERT_EQ(channel(pixel_argb(b, x, y), 24), channel(smooth_argb(x, y), 24));
    }
    if (magick) {
      // ImageMagick reads the file back with the same pixels (its decoder and
      // ours run the same library: colour within 1, alpha exact).
      const std::string path = testenv::sandbox_dir("jng") + "/out.jng";
      testenv::write_file(path, std::string(file.begin(), file.end()));
      ASSERT_EQ(std::system(("convert-im6.q16 " + path + " -depth 8 rgba:" + path + ".rgba 2>/dev/null").c_str()), 0);
      const std::string theirs = testenv::read_file(path + ".rgba");
      ASSERT_EQ(theirs.size(), 100u * 100u * 4u);
      int worst = 0;
      for (int32_t y = 0; y < 100; ++y)
        for (int32_t x = 0; x < 100; ++x) {
          const auto* r = reinterpret_cast<const uint8_t*>(theirs.data()) + (size_t(y) * 100 + size_t(x)) * 4;
          const uint32_t v = pixel_argb(b, x, y);
          worst = std::max(
              {worst, std::abs(channel(v, 16) - r[0]), std::abs(channel(v, 8) - r[1]), std::abs(channel(v, 0) - r[2])});
          if (alpha) {
            ASSERT_EQ(channel(v, 24), r[3]);
          }
        }
      EXPECT_LE(worst, 1);
    }
  }
}

TEST_F(JNG, LargeStreamsAreCutIntoChunksAndQualityApplies) {
  // A noisy 300 x 300 picture gives a JPEG and alpha data over one chunk each.
  auto noise = [](int32_t x, int32_t y) {
    uint32_t h = uint32_t(x) * 0x9E3779B1u + uint32_t(y) * 0x85EBCA77u;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    return color_rgba(uint8_t(h), uint8_t(h >> 8), uint8_t(h >> 16), uint8_t(h >> 24));
  };
  cBitmapImage from(make_bitmap(300, 300, cnBitmap32RGBA, noise));
  cImageJNG codec;
  codec.mQuality = 95;
  const Bytes high = save_jng(codec, from);
  codec.mQuality = 50;
  const Bytes low = save_jng(codec, from);
  EXPECT_LT(low.size(), high.size());
  const std::vector<rChunk> chunks = chunks_of(high);
  std::vector<size_t> jdat_sizes, idat_sizes;
  for (const rChunk& c : chunks) {
    if (c.type == "JDAT") jdat_sizes.push_back(c.data.size());
    if (c.type == "IDAT") idat_sizes.push_back(c.data.size());
  }
  ASSERT_GE(jdat_sizes.size(), 2u);
  ASSERT_GE(idat_sizes.size(), 2u);
  for (size_t i = 0; i + 1 < jdat_sizes.size(); ++i) EXPECT_EQ(jdat_sizes[i], size_t(cnJNG_ChunkData));
  for (size_t i = 0; i + 1 < idat_sizes.size(); ++i) EXPECT_EQ(idat_sizes[i], size_t(cnJNG_ChunkData));
  bool ok = false;
  auto back = open_bytes(high, ok);
  ASSERT_TRUE(ok) << back->LastErrorText();
  for (int32_t y = 0; y < 300; y += 17)
    for (int32_t x = 0; x < 300; x += 13)
      EXPECT_EQ(channel(pixel_argb(*back->Bitmap(0), x, y), 24), channel(noise(x, y), 24));
}

TEST_F(JNG, SaveFailures) {
  cBitmapImage from(make_bitmap(64, 64, cnBitmap32RGBA, smooth_argb));
  cImageJNG sizing;
  const int64_t size = int64_t(save_jng(sizing, from).size());
  for (int64_t limit : {int64_t(0), int64_t(30), int64_t(200), size / 2, size - 1}) {
    SCOPED_TRACE(limit);
    cImageJNG codec;
    auto flow = testenv::cFailingWriteFlow::Construct(limit);
    EXPECT_FALSE(codec.SaveFrom(flow.get(), &from));
    EXPECT_NE(codec.Log(), nullptr);
  }
  cImageJNG codec, closed;
  auto flow = cMemoryFlow::Construct();
  ASSERT_TRUE(flow->Create());
  EXPECT_FALSE(codec.SaveFrom(flow.get(), &closed));
  EXPECT_TRUE(logged(codec, errPreCondition, "{not from.IsOpened}"));
  EXPECT_FALSE(codec.SaveFrom(nullptr, &from));
  EXPECT_TRUE(logged(codec, errPreCondition, "{flow=NIL}"));
}

TEST_F(JNG, CloneKeepsChunksAndPixels) {
  cImageJNG image;
  image.mKeepChunks = true;
  image.mQuality = 60;
  auto flow = read_flow(fixture("c12a8.jng"));
  ASSERT_TRUE(image.Open(flow.get())) << image.LastErrorText();
  ASSERT_NE(image.JHDR, nullptr);
  ASSERT_NE(image.mChunks, nullptr);
  EXPECT_EQ(image.mChunks->IHDR, image.JHDR->mAlphaIHDR);
  std::unique_ptr<cImage> copy(image.Clone(true));
  ASSERT_NE(copy, nullptr);
  auto* jng = dynamic_cast<cImageJNG*>(copy.get());
  ASSERT_NE(jng, nullptr);
  EXPECT_TRUE(copy->Identify(id_cImageJNG));
  EXPECT_TRUE(copy->Identify(id_cImagePNG));
  EXPECT_EQ(jng->mQuality, 60);
  ASSERT_NE(jng->JHDR, nullptr);
  EXPECT_NE(jng->JHDR, image.JHDR);
  EXPECT_EQ(jng->mChunks->IHDR, jng->JHDR->mAlphaIHDR);
  ASSERT_NE(jng->mChunks->gAMA, nullptr);
  EXPECT_EQ(jng->mChunks->gAMA->table, jng->mChunks->IHDR->gamma);
  EXPECT_EQ(jng->JHDR->mData.ctype, 12);
  EXPECT_TRUE(testenv::bitmaps_equal(*copy->Bitmap(0), *image.Bitmap(0)));
  EXPECT_NE(jng->mChunks->bKGD->Colour(), 0u);
  // Opening again clears the kept list first.
  image.Close();
  auto again = read_flow(fixture("c10.jng"));
  ASSERT_TRUE(image.Open(again.get())) << image.LastErrorText();
  EXPECT_EQ(image.JHDR->mData.ctype, 10);
}

TEST_F(JNG, PngClonedIntoAJngTakesItsHeaderAway) {
  // The JNG's header belongs to its kept chunk list, which the clone
  // replaces: the header must go with it.
  cImageJNG target;
  target.mKeepChunks = true;
  target.mQuality = 60;
  auto jng = read_flow(fixture("c12a8.jng"));
  ASSERT_TRUE(target.Open(jng.get())) << target.LastErrorText();
  target.Close();  // a clone goes into a closed image; the kept chunks stay
  ASSERT_NE(target.JHDR, nullptr);
  cBitmapImage from(testenv::make_pattern(5, 4, cnBitmapNative, 7));
  cImagePNG writer;
  auto written = cMemoryFlow::Construct();
  ASSERT_TRUE(written->Create());
  ASSERT_TRUE(writer.SaveFrom(written.get(), &from)) << writer.LastErrorText();
  cImagePNG png;
  png.mKeepChunks = true;
  auto flow = read_flow(flow_bytes(*written));
  ASSERT_TRUE(png.Open(flow.get())) << png.LastErrorText();
  ASSERT_NE(png.mChunks, nullptr);

  ASSERT_EQ(png.Clone(true, &target), &target) << png.LastErrorText();
  EXPECT_EQ(target.JHDR, nullptr);
  EXPECT_EQ(target.mQuality, 60);  // a PNG has no JPEG settings to give
  EXPECT_TRUE(testenv::bitmaps_equal(*target.Bitmap(0), *png.Bitmap(0)));
}

TEST_F(JNG, AllocationFailuresAreReported) {
  const Bytes file = fixture("c14a8.jng");
  int failures = 0;
  for (int n = 1; n < 400; ++n) {
    cImageJNG image;
    auto flow = read_flow(file);
    mem_alloc_fail_at(n);
    const bool ok = image.Open(flow.get());
    mem_alloc_fail_at(0);
    if (ok) break;
    ++failures;
    EXPECT_NE(image.Log(), nullptr);
  }
  EXPECT_GT(failures, 3);
}

}  // namespace
