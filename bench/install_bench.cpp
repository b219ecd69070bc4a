// The installation's passes against their limits: the check pass (walk and
// CRC of every payload) against zlib's crc32 over the same payloads, and a
// whole installation (check, inflate, write each file through a temporary
// name with fsync and rename, shortcuts, Uninstall entry, manifest) against
// raw zlib inflate of the same payloads followed by a plain write, with and
// without the fsync and rename that make a replacement safe.
//
// Everything happens in a temporary home made for the run (HOME and the XDG
// folders point into it), removed at the end.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_ratio.h"
#include "installs_container.h"
#include "installs_settings.h"
#include "installs_thread.h"
#include "plat_path_map.h"
#include "qlm_base_lists.h"
#include "qlm_startup.h"

namespace {

namespace fs = std::filesystem;

struct rFile {
  std::string name, plain, packed;
};

std::string g_home;
std::vector<rFile> g_files;
std::string g_container;

std::string text_like(size_t n, uint32_t seed) {
  std::string v(n, ' ');
  uint32_t x = seed;
  for (size_t i = 0; i < n; ++i) {
    x = x * 1103515245u + 12345u;
    v[i] = "etaoin shrdlu\r\n"[(x >> 16) % 15];
  }
  return v;
}

void put(std::string& b, size_t at, uint32_t v, int n) {
  for (int i = 0; i < n; ++i) b[at + size_t(i)] = char(uint8_t(v >> (8 * i)));
}

uint32_t check_of(const std::string& s) {
  return ~uint32_t(crc32(0, reinterpret_cast<const Bytef*>(s.data()), uInt(s.size())));
}

// About the shape of the shipped container: one large program, one medium,
// a few small files.
void make_container() {
  const std::pair<const char*, size_t> sizes[] = {
      {"app.exe", 4u << 20}, {"uninstall.exe", 768u << 10}, {"readme.txt", 8u << 10}, {"a.png", 12u << 10},
      {"b.jpg", 20u << 10}, {"c.jpg", 16u << 10}};
  uint32_t seed = 1;
  for (const auto& [name, size] : sizes) {
    rFile f{name, text_like(size, seed++), {}};
    uLongf n = compressBound(uLong(f.plain.size()));
    f.packed.resize(n);
    compress2(reinterpret_cast<Bytef*>(f.packed.data()), &n, reinterpret_cast<const Bytef*>(f.plain.data()),
              uLong(f.plain.size()), 6);
    f.packed.resize(n);
    g_files.push_back(std::move(f));
  }
  g_container = "IDF100";
  for (size_t k = 0; k <= g_files.size(); ++k) {
    const bool end = k == g_files.size();
    const std::string name = end ? "" : g_files[k].name;
    const size_t at = g_container.size();
    g_container.resize(at + 32 + name.size());
    std::memcpy(&g_container[at], "ientry", 6);
    g_container[at + 6] = char(end ? 4 : 1);
    put(g_container, at + 7, uint32_t(name.size()), 2);
    std::memcpy(&g_container[at + 9], name.data(), name.size());
    const size_t f = at + 11 + name.size();
    if (!end) {
      put(g_container, f, uint32_t(g_files[k].plain.size()), 4);
      put(g_container, f + 4, check_of(g_files[k].plain), 4);
      put(g_container, f + 8, uint32_t(g_files[k].packed.size()), 4);
      put(g_container, f + 12, check_of(g_files[k].packed), 4);
    }
    put(g_container, f + 16, end ? 0xFFFFFFFFu : uint32_t(g_container.size() + g_files[k].packed.size()), 4);
    g_container[f + 20] = char(k == 0 ? 1 : 0);
    if (!end) g_container += g_files[k].packed;
  }
}

class cBenchWindow : public iInstallWindow {
 public:
  std::shared_ptr<cWorkEntries> InstallLog() override { return log; }
  void SetInstallSuccess(bool value) override { success = value; }
  void InstallThreadTerminate(TInstallThread&) override {}
  std::shared_ptr<cWorkEntries> log = std::make_shared<cWorkEntries>();
  bool success = false;
};

void BM_CheckPass(benchmark::State& state) {
  for (auto _ : state) {
    cInstWalker walker;
    if (walker.OpenInstallData() != cInstWalker::eOpen::Opened || !walker.ReadSignature())
      state.SkipWithError("open failed");
    rInstEntry e;
    while (walker.Next(e) == eInstStep::Entry && e.kind != cnInstKindEnd) {
      if (!walker.PayloadMatches()) state.SkipWithError("check failed");
      walker.SeekNext();
    }
  }
}

void BM_RawCrc(benchmark::State& state) {
  for (auto _ : state) {
    for (const rFile& f : g_files)
      benchmark::DoNotOptimize(crc32(0, reinterpret_cast<const Bytef*>(f.packed.data()), uInt(f.packed.size())));
  }
}

void BM_Install(benchmark::State& state) {
  for (auto _ : state) {
    cBenchWindow window;
    TInstallThread* thread = TInstallThread::Create(&window);
    thread->Execute();
    delete thread;
    if (!window.success) state.SkipWithError("installation failed");
  }
}

// Inflate every payload with zlib and write it to the destination; with
// `safe`, through a temporary file that is synced and renamed into place.
void inflate_and_write(benchmark::State& state, bool safe) {
  const std::string dest = g_home + "/raw";
  fs::create_directories(dest);
  std::vector<uint8_t> out;
  for (auto _ : state) {
    for (const rFile& f : g_files) {
      out.resize(f.plain.size());
      uLongf size = uLongf(out.size());
      if (uncompress(out.data(), &size, reinterpret_cast<const Bytef*>(f.packed.data()), uLong(f.packed.size())) !=
          Z_OK)
        state.SkipWithError("inflate failed");
      const std::string target = dest + "/" + f.name;
      const std::string file = safe ? target + ".tmp" : target;
      const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
      if (fd < 0 || write(fd, out.data(), size) != ssize_t(size)) state.SkipWithError("write failed");
      if (safe && fsync(fd) != 0) state.SkipWithError("fsync failed");
      close(fd);
      if (safe && rename(file.c_str(), target.c_str()) != 0) state.SkipWithError("rename failed");
    }
  }
}

void BM_InflateAndWrite(benchmark::State& state) { inflate_and_write(state, false); }
void BM_InflateAndWriteSynced(benchmark::State& state) { inflate_and_write(state, true); }

BENCHMARK(BM_CheckPass)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RawCrc)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Install)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InflateAndWrite)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InflateAndWriteSynced)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  char home[] = "/tmp/install-bench-XXXXXX";
  if (mkdtemp(home) == nullptr) return 1;
  g_home = home;
  setenv("HOME", home, 1);
  setenv("XDG_DATA_HOME", (g_home + "/.local/share").c_str(), 1);
  setenv("XDG_CONFIG_HOME", (g_home + "/.config").c_str(), 1);
  framework_start(argc, argv);
  make_container();
  resource_register(cnInstallDataName, g_container.data(), int32_t(g_container.size()));
  fs::create_directories(g_home + "/dest");
  plat::from_posix(g_home + "/dest", gDestination);
  const int rc = bench::run_with_ratios(argc, argv,
                                        {{"BM_CheckPass", "BM_RawCrc"},
                                         {"BM_Install", "BM_InflateAndWriteSynced"},
                                         {"BM_Install", "BM_InflateAndWrite"}});
  framework_stop();
  fs::remove_all(g_home);
  return rc;
}
