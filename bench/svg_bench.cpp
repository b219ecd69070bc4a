// Loading SVG documents to paths: cImageSVG::Open beside the SVG example
// parser that AGG ships with its documentation (the same expat and path
// storage, built into this benchmark only), on generated documents of about
// 10 KB, 100 KB and 1 MB made of groups and paths inside the common subset.
// Before timing, both must find the same number of paths and vertices.
// expat's own parse of the same bytes in the loader's blocks
// (cnSVGBlockSize), with no handlers, is printed as the floor. At the end:
// the ratio ours / AGG example per size.
#include <benchmark/benchmark.h>
#include <expat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

// The example keeps its storage private; this benchmark only counts it.
#define private public
#include "agg_svg_parser.h"
#undef private

#include "bench_ratio.h"
#include "qlm_base_flow.h"
#include "qlm_colors.h"
#include "qlm_startup.h"
#include "qlm_svg.h"

namespace {

// A document of about `target` bytes: groups with paint and a transform,
// each holding paths of lines and cubic curves in absolute and relative form.
std::string make_document(size_t target) {
  std::string s = "<?xml version=\"1.0\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"512\" height=\"512\">\n";
  s += "<title>generated</title>\n";
  unsigned seed = 12345;
  auto rnd = [&seed](int range) {
    seed = seed * 1103515245u + 12345u;
    return int((seed >> 8) % unsigned(range));
  };
  int group = 0;
  while (s.size() < target) {
    char buf[256];
    std::snprintf(buf, sizeof buf,
                  "<g fill=\"#%02x%02x%02x\" stroke=\"#102030\" stroke-width=\"%d\" transform=\"translate(%d,%d)\">\n",
                  rnd(256), rnd(256), rnd(256), 1 + rnd(3), rnd(50), rnd(50));
    s += buf;
    for (int p = 0; p < 5; ++p) {
      std::snprintf(buf, sizeof buf, "<path d=\"M%d %d L%d,%d C%d %d %d %d %d %d l%d %d c1.5 2.25 3 4 5.5 6 Z\"/>\n",
                    rnd(500), rnd(500), rnd(500), rnd(500), rnd(500), rnd(500), rnd(500), rnd(500), rnd(500), rnd(500),
                    rnd(20) - 10, rnd(20) - 10);
      s += buf;
    }
    s += "</g>\n";
    ++group;
  }
  s += "</svg>\n";
  return s;
}

struct Sample {
  std::string text;
  std::string file;
};

std::vector<Sample>& samples() {
  static std::vector<Sample> list = [] {
    std::vector<Sample> v;
    const auto dir = std::filesystem::temp_directory_path();
    for (size_t size : {size_t(10) << 10, size_t(100) << 10, size_t(1) << 20}) {
      Sample s;
      s.text = make_document(size);
      s.file = (dir / ("qlm_svg_bench_" + std::to_string(size) + ".svg")).string();
      std::ofstream(s.file, std::ios::binary) << s.text;
      v.push_back(std::move(s));
    }
    return v;
  }();
  return list;
}

// Vertices of a path storage, a trailing stop marker not counted (the example
// leaves one after its last path).
uint32_t vertex_count(const agg::path_storage& ps) {
  uint32_t n = ps.total_vertices();
  if (n > 0 && agg::is_stop(ps.command(n - 1))) --n;
  return n;
}

bool load_ours(const std::string& text, uint32_t& paths, uint32_t& vertices) {
  auto flow = cMemoryFlow::ConstructReadOnly(true, text.data(), int64_t(text.size()));
  if (!flow->Open()) return false;
  cImageSVG image;
  if (!image.Open(flow.get(), nullptr)) return false;
  paths = image.Attributes()->Count();
  vertices = vertex_count(*image.PathStorage());
  return true;
}

bool load_agg(const std::string& file, uint32_t& paths, uint32_t& vertices) {
  try {
    agg::svg::path_renderer renderer;
    agg::svg::parser parser(renderer);
    parser.parse(file.c_str());
    paths = renderer.m_attr_storage.size();
    vertices = vertex_count(renderer.m_storage);
    return true;
  } catch (...) {
    return false;
  }
}

void BM_Ours(benchmark::State& state) {
  const Sample& s = samples()[size_t(state.range(0))];
  for (auto _ : state) {
    uint32_t paths = 0, vertices = 0;
    if (!load_ours(s.text, paths, vertices)) state.SkipWithError("load failed");
    benchmark::DoNotOptimize(vertices);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(s.text.size()));
}

void BM_AggExample(benchmark::State& state) {
  const Sample& s = samples()[size_t(state.range(0))];
  for (auto _ : state) {
    uint32_t paths = 0, vertices = 0;
    if (!load_agg(s.file, paths, vertices)) state.SkipWithError("load failed");
    benchmark::DoNotOptimize(vertices);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(s.text.size()));
}

void BM_ExpatFloor(benchmark::State& state) {
  const Sample& s = samples()[size_t(state.range(0))];
  for (auto _ : state) {
    XML_Parser p = XML_ParserCreate(nullptr);
    size_t done = 0;
    bool ok = true;
    while (ok) {
      const size_t load = std::min<size_t>(size_t(cnSVGBlockSize), s.text.size() - done);
      ok = XML_Parse(p, s.text.data() + done, int(load), done + load == s.text.size()) != XML_STATUS_ERROR;
      done += load;
      if (done == s.text.size()) break;
    }
    XML_ParserFree(p);
    if (!ok) state.SkipWithError("expat failed");
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(s.text.size()));
}

BENCHMARK(BM_Ours)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_AggExample)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ExpatFloor)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  framework_start(argc, argv);
  qlm_colors_start();
  qlm_svg_start();
  // Equal work first: the same paths and vertices on both sides.
  for (const Sample& s : samples()) {
    uint32_t p1 = 0, v1 = 0, p2 = 0, v2 = 0;
    if (!load_ours(s.text, p1, v1) || !load_agg(s.file, p2, v2)) {
      std::fprintf(stderr, "%s: a load failed\n", s.file.c_str());
      return 1;
    }
    std::printf("%s: %zu bytes, paths %u / %u, vertices %u / %u\n", s.file.c_str(), s.text.size(), p1, p2, v1, v2);
    if (p1 != p2 || v1 != v2) {
      std::fprintf(stderr, "the two loaders did different work\n");
      return 1;
    }
  }
  const int rc = bench::run_with_ratios(argc, argv,
                                        {{"BM_Ours/0", "BM_AggExample/0"},
                                         {"BM_Ours/1", "BM_AggExample/1"},
                                         {"BM_Ours/2", "BM_AggExample/2"},
                                         {"BM_ExpatFloor/2", "BM_AggExample/2"}});
  for (const Sample& s : samples()) std::filesystem::remove(s.file);
  framework_stop();
  return rc;
}
