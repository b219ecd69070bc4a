// PNG decode and encode cost beside libpng, in one run, from memory, CRC
// checks on, one thread. Decode: Go's bench* files of the external corpus
// (tools/fetch_corpora.sh; missing files are skipped) and a generated
// 1920 x 1080 RGB noise image, ours into the bitmap (which it fills with the
// background colour first, a cost counted as ours), libpng's simplified API
// into 8-bit RGB(A) memory not cleared first; the W3C SVG suite's reference
// PNGs (corpus w3c-svg) as one set decoded per iteration, ours without and
// with the blend toward the bKGD colour (libpng has no such step). Encode:
// the noise image, a smooth gradient, photo-like pictures of 4000 x 3000 and
// 1024 x 1024 and a 64 x 64 RGBA icon at level 1 (ours: the repetition-count
// filter choice; libpng: its adaptive filters), output size reported beside
// the time. Prints time ratios at the end (1.0 = as fast as libpng).
#include <benchmark/benchmark.h>
#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "bench_ratio.h"
#include "qlm_base_flow.h"
#include "qlm_base_view_flow.h"
#include "qlm_png.h"
#include "qlm_startup.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::string corpora_dir() {
  if (const char* env = std::getenv("QLM_CORPORA_DIR"); env != nullptr && *env != '\0') return env;
  if (const char* cache = std::getenv("XDG_CACHE_HOME"); cache != nullptr && *cache != '\0')
    return std::string(cache) + "/qlm-corpora";
  if (const char* home = std::getenv("HOME"); home != nullptr) return std::string(home) + "/.cache/qlm-corpora";
  return {};
}

Bytes read_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

void write_to_memory(png_structp png, png_bytep data, png_size_t n) {
  auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + n);
}
void flush_nothing(png_structp) {}

// libpng's encode of 8-bit RGB or RGBA rows at a level.
Bytes libpng_encode(const Bytes& pixels, uint32_t w, uint32_t h, bool alpha, int level) {
  Bytes out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  std::vector<png_bytep> rows(h);
  const size_t stride = size_t(w) * (alpha ? 4 : 3);
  for (uint32_t y = 0; y < h; ++y) rows[y] = const_cast<uint8_t*>(pixels.data()) + y * stride;
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return {};
  }
  png_set_write_fn(png, &out, &write_to_memory, &flush_nothing);
  png_set_compression_level(png, level);
  png_set_IHDR(png, info, w, h, 8, alpha ? PNG_COLOR_TYPE_RGBA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  png_write_image(png, rows.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return out;
}

struct Source {
  std::string name;
  Bytes file;
};

Bytes noise_pixels(uint32_t w, uint32_t h) {
  Bytes p(size_t(w) * h * 3);
  std::mt19937 rng(1);
  for (uint8_t& b : p) b = uint8_t(rng());
  return p;
}

Bytes gradient_pixels(uint32_t w, uint32_t h) {
  Bytes p(size_t(w) * h * 3);
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x) {
      uint8_t* q = p.data() + (size_t(y) * w + x) * 3;
      q[0] = uint8_t(x / 8);
      q[1] = uint8_t(y / 5);
      q[2] = uint8_t((x + y) / 12);
    }
  return p;
}

// A photograph's kind of content: smooth shading with a little grain, 8-bit
// RGB, or RGBA with a soft round alpha edge (an icon).
Bytes photo_pixels(uint32_t w, uint32_t h, bool alpha) {
  const uint32_t n = alpha ? 4 : 3;
  Bytes p(size_t(w) * h * n);
  std::mt19937 rng(3);
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x) {
      uint8_t* q = p.data() + (size_t(y) * w + x) * n;
      const double u = double(x) / w, v = double(y) / h;
      const int grain = int(rng() % 7) - 3;
      q[0] = uint8_t(std::clamp(int(120 + 90 * std::sin(6 * u + 2 * v)) + grain, 0, 255));
      q[1] = uint8_t(std::clamp(int(110 + 80 * std::cos(4 * v - 3 * u)) + grain, 0, 255));
      q[2] = uint8_t(std::clamp(int(100 + 70 * std::sin(5 * (u + v))) + grain, 0, 255));
      if (alpha) {
        const double r = std::hypot(u - 0.5, v - 0.5) * 2;
        q[3] = uint8_t(std::clamp(int((1.1 - r) * 10 * 255), 0, 255));
      }
    }
  return p;
}

void decode_ours(benchmark::State& state, const Bytes* file) {
  for (auto _ : state) {
    auto flow = std::make_unique<cViewFlow>(file->data(), int64_t(file->size()));
    flow->Open();
    cImagePNG png;
    if (!png.Open(flow.get())) state.SkipWithError("open failed");
    benchmark::DoNotOptimize(png.Bitmap(0));
  }
}

// Output memory for libpng, left uninitialised as a libpng program would
// leave it: the reader writes every byte of it (a zeroed vector would charge
// libpng a memset of the whole picture that ours does not owe it).
std::unique_ptr<uint8_t[]> new_pixels(size_t size) { return std::unique_ptr<uint8_t[]>(new uint8_t[size]); }

// Like ours, each decode gets new output memory, as a loader's caller would.
void decode_libpng(benchmark::State& state, const Bytes* file) {
  for (auto _ : state) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, file->data(), file->size())) state.SkipWithError("libpng");
    image.format = (image.format & PNG_FORMAT_FLAG_ALPHA) ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB;
    const std::unique_ptr<uint8_t[]> out = new_pixels(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, out.get(), 0, nullptr)) state.SkipWithError("libpng");
    png_image_free(&image);
    benchmark::DoNotOptimize(out.get());
  }
}

// Opens one file with our reader, blending toward a bKGD colour or not;
// false when it fails.
bool open_ours(const Bytes& file, bool blend = true) {
  auto flow = cMemoryFlow::ConstructReadOnly(true, file.data(), int64_t(file.size()));
  flow->Open();
  cImagePNG png;
  png.mBlendOnBackground = blend;
  const bool ok = png.Open(flow.get());
  benchmark::DoNotOptimize(png.Bitmap(0));
  return ok;
}

// Reads one file with libpng into new 8-bit RGB(A) memory; false on failure.
bool open_libpng(const Bytes& file) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, file.data(), file.size())) return false;
  image.format = (image.format & PNG_FORMAT_FLAG_ALPHA) ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB;
  const std::unique_ptr<uint8_t[]> out = new_pixels(PNG_IMAGE_SIZE(image));
  const bool ok = png_image_finish_read(&image, nullptr, out.get(), 0, nullptr) != 0;
  png_image_free(&image);
  benchmark::DoNotOptimize(out.get());
  return ok;
}

// Every file of a set per iteration.
void decode_set_ours(benchmark::State& state, const std::vector<Bytes>* files, bool blend) {
  for (auto _ : state)
    for (const Bytes& f : *files)
      if (!open_ours(f, blend)) state.SkipWithError("open failed");
}

void decode_set_libpng(benchmark::State& state, const std::vector<Bytes>* files) {
  for (auto _ : state)
    for (const Bytes& f : *files)
      if (!open_libpng(f)) state.SkipWithError("libpng");
}

// An encode case: 8-bit RGB or RGBA pixels, row after row.
struct Picture {
  const Bytes* pixels;
  uint32_t w, h;
  bool alpha;
};

void encode_ours(benchmark::State& state, Picture pic, int level) {
  const uint32_t w = pic.w, h = pic.h, n = pic.alpha ? 4 : 3;
  cImage image(w, h, 0);
  image.Create();
  cBitmap* b = image.Bitmap(0);
  if (pic.alpha) b->Convert(cnBitmap32BGRA);
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x) {
      const uint8_t* q = pic.pixels->data() + (size_t(y) * w + x) * n;
      uint8_t* p = b->ScanLine(int32_t(y)) + size_t(x) * n;
      p[0] = q[2];
      p[1] = q[1];
      p[2] = q[0];
      if (pic.alpha) p[3] = q[3];
    }
  size_t size = 0;
  for (auto _ : state) {
    auto flow = cMemoryFlow::Construct();
    flow->Create();
    cImagePNG png;
    png.mDeflateLevel = level;
    if (!png.SaveFrom(flow.get(), &image)) state.SkipWithError("save failed");
    size = size_t(flow->Size());
  }
  state.counters["bytes"] = double(size);
}

void encode_libpng(benchmark::State& state, Picture pic, int level) {
  size_t size = 0;
  for (auto _ : state) {
    const Bytes out = libpng_encode(*pic.pixels, pic.w, pic.h, pic.alpha, level);
    if (out.empty()) state.SkipWithError("libpng");
    size = out.size();
  }
  state.counters["bytes"] = double(size);
}

}  // namespace

int main(int argc, char** argv) {
  framework_start(argc, argv);
  qlm_bitmap_start();
  qlm_png_start();
  static std::vector<Source> sources;
  const std::string dir = corpora_dir() + "/go-png/";
  for (const char* name : {"benchGray.png", "benchNRGBA-gradient.png", "benchNRGBA-opaque.png", "benchPaletted.png",
                           "benchRGB.png", "benchRGB-interlace.png"})
    if (std::filesystem::exists(dir + name)) sources.push_back({name, read_bytes(dir + name)});
  static const Bytes noise = noise_pixels(1920, 1080);
  static const Bytes gradient = gradient_pixels(1920, 1080);
  sources.push_back({"noise-1920x1080", libpng_encode(noise, 1920, 1080, false, 6)});
  std::vector<std::pair<std::string, std::string>> pairs;
  for (const Source& s : sources) {
    benchmark::RegisterBenchmark(("decode/ours/" + s.name).c_str(), decode_ours, &s.file)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("decode/libpng/" + s.name).c_str(), decode_libpng, &s.file)
        ->Unit(benchmark::kMillisecond);
    pairs.emplace_back("decode/ours/" + s.name, "decode/libpng/" + s.name);
  }
  // The W3C reference PNGs that both readers open, in name order.
  static std::vector<Bytes> w3c;
  const std::string w3c_dir = corpora_dir() + "/w3c-svg";
  if (std::filesystem::is_directory(w3c_dir)) {
    std::vector<std::filesystem::path> names;
    for (const auto& item : std::filesystem::directory_iterator(w3c_dir))
      if (item.path().extension() == ".png") names.push_back(item.path());
    std::sort(names.begin(), names.end());
    for (const auto& n : names) {
      Bytes b = read_bytes(n.string());
      if (open_ours(b) && open_libpng(b)) w3c.push_back(std::move(b));
    }
  }
  if (!w3c.empty()) {
    // libpng does not blend toward the bKGD colour: the pair that does the
    // same work has ours without the blend; the blend's cost shows beside.
    const std::string n = "w3c-svg-" + std::to_string(w3c.size()) + "-files";
    benchmark::RegisterBenchmark(("decode/ours/" + n).c_str(), decode_set_ours, &w3c, false)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("decode/ours-blend/" + n).c_str(), decode_set_ours, &w3c, true)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("decode/libpng/" + n).c_str(), decode_set_libpng, &w3c)
        ->Unit(benchmark::kMillisecond);
    pairs.emplace_back("decode/ours/" + n, "decode/libpng/" + n);
    pairs.emplace_back("decode/ours-blend/" + n, "decode/libpng/" + n);
  }
  static const Bytes photo_large = photo_pixels(4000, 3000, false);
  static const Bytes photo = photo_pixels(1024, 1024, false);
  static const Bytes icon = photo_pixels(64, 64, true);
  const std::pair<const char*, Picture> pictures[] = {{"noise", {&noise, 1920, 1080, false}},
                                                      {"gradient", {&gradient, 1920, 1080, false}},
                                                      {"photo-4000x3000", {&photo_large, 4000, 3000, false}},
                                                      {"photo-1024x1024", {&photo, 1024, 1024, false}},
                                                      {"icon-64-rgba", {&icon, 64, 64, true}}};
  for (const auto& [name, pic] : pictures) {
    const std::string n = name;
    benchmark::RegisterBenchmark(("encode/ours/" + n).c_str(), encode_ours, pic, 1)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("encode/libpng/" + n).c_str(), encode_libpng, pic, 1)->Unit(benchmark::kMillisecond);
    pairs.emplace_back("encode/ours/" + n, "encode/libpng/" + n);
  }
  const int rc = bench::run_with_ratios(argc, argv, pairs);
  framework_stop();
  return rc;
}
