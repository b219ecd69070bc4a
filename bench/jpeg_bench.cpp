// Overhead of cImageJPEG over the JPEG library itself: decoding (from a flow
// over the file's bytes, read in place as jpeg_mem_src reads them) and encoding
// the external video frames (tools/fetch_corpora.sh; skipped when missing)
// and a 12 MP photo-like picture made here, beside the same library driven
// directly (jpeg_mem_src / jpeg_mem_dest, a plain one-row read_scanlines or
// write_scanlines loop over BGR rows of a buffer allocated per picture, not
// cleared first).
// Both sides produce a new picture per iteration. Prints ours / direct at the
// end (1.0 = no overhead).
//
// Decoding photo-like pictures of 320 x 240, 1024 x 768 and 4000 x 3000 is
// also set beside TurboJPEG's tjDecompress2 (BGR out, default flags: the same
// DCT and upsampling as ours; a new, uncleared buffer per picture with our
// row stride), the call a program that only wants pixels would make: with a
// handle made per picture (as ours makes its decoder per picture) and with
// one handle kept for all pictures. Both sides do all their work under the
// timer: ours makes its decoder, flow, image and bitmap and frees them; the
// peer makes and destroys its handle (the "-kept" variant aside), reads the
// header, allocates its buffer and frees it. Both read the same bytes from
// memory. Before timing, each picture is decoded once by both and the
// pixels must be byte-identical (the program stops otherwise).
//
// Our decoder offers the bitmap of a big picture huge pages
// (jpeg_advise_huge_pages); the "-hugepages" variant gives the peer's buffer
// the same advice, so that its ratio is that of the decoding alone, without
// the page faults of first writing a new buffer.
#include <benchmark/benchmark.h>
#include <turbojpeg.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "bench_ratio.h"
#include "qlm_base_flow.h"
#include "qlm_base_view_flow.h"
#include "qlm_bitmap.h"
#include "qlm_jpeg.h"
#include "qlm_jpeg_lib.h"
#include "qlm_startup.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A photo-like picture: smooth shading, edges and a little grain.
Bytes make_photo(int w, int h) {
  jpeg_compress_struct c{};
  jpeg_error_mgr err{};
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &out, &size);
  c.image_width = JDIMENSION(w);
  c.image_height = JDIMENSION(h);
  c.input_components = 3;
  c.in_color_space = JCS_RGB;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, 85, TRUE);
  jpeg_start_compress(&c, TRUE);
  std::vector<uint8_t> row(size_t(w) * 3);
  uint32_t noise = 12345;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      noise = noise * 1664525u + 1013904223u;
      const double grain = double(noise >> 28) - 8.0;
      const double sky = 150 + 80 * std::sin(x / 400.0) * std::cos(y / 300.0);
      const double hill = (y > h / 2 + 200 * std::sin(x / 500.0)) ? -70 : 0;
      for (int k = 0; k < 3; ++k) {
        const double v = sky + hill + 25 * std::sin((x * (k + 1)) / 37.0 + y / 53.0) + grain;
        row[size_t(x) * 3 + size_t(k)] = uint8_t(std::lround(std::fmin(255, std::fmax(0, v))));
      }
    }
    JSAMPROW p = row.data();
    jpeg_write_scanlines(&c, &p, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  Bytes bytes(out, out + size);
  std::free(out);
  return bytes;
}

Bytes read_file(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

void decode_ours(benchmark::State& state, const Bytes* bytes) {
  for (auto _ : state) {
    auto flow = std::make_unique<cViewFlow>(bytes->data(), int64_t(bytes->size()));
    if (!flow->Open()) state.SkipWithError("flow");
    cImageJPEG image;
    if (!image.Open(flow.get())) state.SkipWithError("Open failed");
    benchmark::DoNotOptimize(image.Bitmap(0)->Data());
  }
}

void decode_direct(benchmark::State& state, const Bytes* bytes) {
  for (auto _ : state) {
    jpeg_decompress_struct d{};
    jpeg_error_mgr err{};
    d.err = jpeg_std_error(&err);
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, bytes->data(), bytes->size());
    jpeg_read_header(&d, TRUE);
    d.out_color_space = JCS_EXT_BGR;
    jpeg_start_decompress(&d);
    const size_t stride = (size_t(d.output_width) * 3 + 3) / 4 * 4;
    // Left uninitialised, as the decoder writes every row (a zeroed vector
    // would charge the direct side a memset of the whole picture).
    std::unique_ptr<uint8_t[]> pixels(new uint8_t[stride * d.output_height]);
    while (d.output_scanline < d.output_height) {
      JSAMPROW row = pixels.get() + stride * d.output_scanline;
      jpeg_read_scanlines(&d, &row, 1);
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
    benchmark::DoNotOptimize(pixels.get());
  }
}

// The peer's variants: a handle per picture (as ours keeps no decoder
// between pictures) or one kept for all iterations ("tjDecompress2-kept");
// a plain new buffer or one given the huge-page advice that ours gives its
// bitmap ("tjDecompress2-hugepages").
enum class Peer { kPlain, kKeptHandle, kHugePages };

struct FreeDeleter {
  void operator()(uint8_t* p) const { std::free(p); }
};
using PeerPixels = std::unique_ptr<uint8_t, FreeDeleter>;

// One tjDecompress2 of the picture into a new buffer with our row stride;
// nil on failure.
PeerPixels turbojpeg_once(tjhandle tj, const Bytes& bytes, Peer peer, int& w, int& h, int& stride) {
  int subsampling = 0, colorspace = 0;
  if (tjDecompressHeader3(tj, bytes.data(), static_cast<unsigned long>(bytes.size()), &w, &h, &subsampling,
                          &colorspace) != 0)
    return nullptr;
  stride = (w * 3 + 3) / 4 * 4;
  const size_t size = size_t(stride) * size_t(h);
  PeerPixels pixels(static_cast<uint8_t*>(std::malloc(size)));
  if (pixels == nullptr) return nullptr;
  if (peer == Peer::kHugePages) jpeg_advise_huge_pages(pixels.get(), int64_t(size));
  if (tjDecompress2(tj, bytes.data(), static_cast<unsigned long>(bytes.size()), pixels.get(), w, stride, h, TJPF_BGR,
                    0) != 0)
    return nullptr;
  return pixels;
}

void decode_turbojpeg(benchmark::State& state, const Bytes* bytes, Peer peer) {
  tjhandle kept = peer == Peer::kKeptHandle ? tjInitDecompress() : nullptr;
  for (auto _ : state) {
    tjhandle tj = kept != nullptr ? kept : tjInitDecompress();
    int w = 0, h = 0, stride = 0;
    PeerPixels pixels = turbojpeg_once(tj, *bytes, peer, w, h, stride);
    if (kept == nullptr) tjDestroy(tj);
    if (pixels == nullptr) {
      state.SkipWithError("tjDecompress2");
      break;
    }
    benchmark::DoNotOptimize(pixels.get());
  }
  if (kept != nullptr) tjDestroy(kept);
}

// Ours and tjDecompress2 give the same bytes for every pixel.
bool same_pixels_as_turbojpeg(const std::string& name, const Bytes& bytes) {
  auto flow = std::make_unique<cViewFlow>(bytes.data(), int64_t(bytes.size()));
  cImageJPEG image;
  if (!flow->Open() || !image.Open(flow.get())) {
    std::fprintf(stderr, "%s: our decoder failed\n", name.c_str());
    return false;
  }
  const cBitmap* b = image.Bitmap(0);
  tjhandle tj = tjInitDecompress();
  int w = 0, h = 0, stride = 0;
  PeerPixels pixels = turbojpeg_once(tj, bytes, Peer::kPlain, w, h, stride);
  tjDestroy(tj);
  if (pixels == nullptr || w != b->Width() || h != b->Height() || b->PixelFormat() != px24BGR) {
    std::fprintf(stderr, "%s: tjDecompress2 failed or gave another size or format\n", name.c_str());
    return false;
  }
  for (int y = 0; y < h; ++y) {
    if (std::memcmp(b->Data() + int64_t(y) * b->Stride(), pixels.get() + size_t(y) * size_t(stride), size_t(w) * 3) !=
        0) {
      std::fprintf(stderr, "%s: row %d differs from tjDecompress2's\n", name.c_str(), y);
      return false;
    }
  }
  return true;
}

// The bitmap that both encoders write: the picture decoded once.
std::shared_ptr<cImageJPEG> decoded(const Bytes* bytes) {
  auto flow = cMemoryFlow::ConstructReadOnly(true, bytes->data(), int64_t(bytes->size()));
  auto image = std::make_shared<cImageJPEG>();
  if (!flow->Open() || !image->Open(flow.get())) return nullptr;
  return image;
}

void encode_ours(benchmark::State& state, const Bytes* bytes) {
  auto from = decoded(bytes);
  if (from == nullptr) state.SkipWithError("decode");
  for (auto _ : state) {
    auto flow = cMemoryFlow::Construct();
    cImageJPEG codec(cnJPEGDctIntSlow, 85);
    if (!flow->Create() || !codec.SaveFrom(flow.get(), from.get())) state.SkipWithError("SaveFrom failed");
    benchmark::DoNotOptimize(flow->Size());
  }
}

void encode_direct(benchmark::State& state, const Bytes* bytes) {
  auto from = decoded(bytes);
  if (from == nullptr) state.SkipWithError("decode");
  cBitmap* b = from->Bitmap(0);
  for (auto _ : state) {
    jpeg_compress_struct c{};
    jpeg_error_mgr err{};
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &out, &size);
    c.image_width = JDIMENSION(b->Width());
    c.image_height = JDIMENSION(b->Height());
    c.input_components = 3;
    c.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 85, TRUE);
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
      JSAMPROW row = b->Data() + int64_t(c.next_scanline) * b->Stride();
      jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    benchmark::DoNotOptimize(size);
    std::free(out);
  }
}

}  // namespace

int main(int argc, char** argv) {
  framework_start(argc, argv);
  qlm_bitmap_start();
  qlm_jpeg_start();

  std::vector<std::pair<std::string, Bytes>> inputs;
  inputs.emplace_back("photo12MP", make_photo(4000, 3000));
  const char* env = std::getenv("QLM_CORPORA_DIR");
  const std::filesystem::path corpora =
      env != nullptr && *env != '\0' ? std::filesystem::path(env) : std::filesystem::path(QLM_CORPORA_DIR);
  for (const char* name :
       {"video-001.jpeg", "video-001.progressive.jpeg", "video-001.q50.420.jpeg", "video-005.gray.jpeg"}) {
    const std::filesystem::path p = corpora / "go-image" / name;
    if (std::filesystem::is_regular_file(p))
      inputs.emplace_back(name, read_file(p));
    else
      std::fprintf(stderr, "%s missing: run tools/fetch_corpora.sh\n", p.c_str());
  }

  std::vector<std::pair<std::string, std::string>> pairs;
  // Decoding beside TurboJPEG at three sizes.
  static std::vector<std::pair<std::string, Bytes>> sized;
  for (const auto& [w, h] : {std::pair{320, 240}, std::pair{1024, 768}})
    sized.emplace_back("photo" + std::to_string(w) + "x" + std::to_string(h), make_photo(w, h));
  sized.emplace_back("photo4000x3000", inputs.front().second);  // the 12 MP picture
  for (const auto& [name, bytes] : sized) {
    if (!same_pixels_as_turbojpeg(name, bytes)) return 1;
    const std::string ours = "Decode/ours/" + name;
    benchmark::RegisterBenchmark(ours.c_str(), decode_ours, &bytes)->Unit(benchmark::kMicrosecond);
    for (const auto& [variant, peer] : {std::pair{"", Peer::kPlain}, std::pair{"-kept", Peer::kKeptHandle},
                                        std::pair{"-hugepages", Peer::kHugePages}}) {
      const std::string tj = std::string("Decode/tjDecompress2") + variant + "/" + name;
      benchmark::RegisterBenchmark(tj.c_str(), decode_turbojpeg, &bytes, peer)->Unit(benchmark::kMicrosecond);
      pairs.emplace_back(ours, tj);
    }
  }
  for (const auto& [name, bytes] : inputs) {
    const Bytes* b = &bytes;
    for (const char* op : {"Decode", "Encode"}) {
      const std::string ours = std::string(op) + "/ours/" + name, direct = std::string(op) + "/direct/" + name;
      const bool decode = op[0] == 'D';
      benchmark::RegisterBenchmark(ours.c_str(), decode ? decode_ours : encode_ours, b)->Unit(benchmark::kMicrosecond);
      benchmark::RegisterBenchmark(direct.c_str(), decode ? decode_direct : encode_direct, b)
          ->Unit(benchmark::kMicrosecond);
      pairs.emplace_back(ours, direct);
    }
  }
  const int rc = bench::run_with_ratios(argc, argv, pairs);
  framework_stop();
  return rc;
}
