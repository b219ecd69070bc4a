// The installation against a plain program doing the same work, in one run,
// on a generated container shaped like a real product: 3,000 files, about
// 211 MB unpacked (60% text-like, 30% random, 10% mixed; four large files
// of 25 MB, the rest between 2 and 72 KB) in 30 folders.
//
// Pairs (throughput, ours / baseline):
//  (a) the check pass (walk, CRC of every payload) against zlib's crc32
//      over the same payloads;
//  (b) a whole installation into tmpfs against the plain program: walk the
//      container, make the folders, inflate each payload into a new buffer
//      of its known size, write it to its file;
//  (c) a whole installation on disk, with its batched sync, against the
//      plain program on disk followed by one syncfs.
// The installation also makes its links, its Uninstall entry and its
// manifest; the plain program does none of that.
//
// The installation's peak heap (above what was in use when it started) is
// measured by counting every malloc and free of the process and reported
// as the counter peak_heap_MiB beside the largest file (largest_MiB).
//
// Each iteration starts from an empty destination (emptied with the timer
// paused). The home (links, hives) and the disk destinations are made under
// /tmp, the tmpfs destinations under /dev/shm; all are removed at the end.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "bench_ratio.h"
#include "installs_container.h"
#include "installs_settings.h"
#include "installs_thread.h"
#include "plat_path_map.h"
#include "qlm_base_lists.h"
#include "qlm_startup.h"

// ---- Heap accounting: every allocation of the process passes here -----------

extern "C" {
void* __libc_malloc(size_t);
void __libc_free(void*);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);
}

namespace {
std::atomic<int64_t> g_heap{0};
std::atomic<int64_t> g_peak{0};

void heap_note(int64_t delta) {
  const int64_t now = g_heap.fetch_add(delta, std::memory_order_relaxed) + delta;
  int64_t peak = g_peak.load(std::memory_order_relaxed);
  while (now > peak && !g_peak.compare_exchange_weak(peak, now, std::memory_order_relaxed)) {
  }
}
int64_t usable(void* p) { return p == nullptr ? 0 : int64_t(malloc_usable_size(p)); }
}  // namespace

extern "C" void* malloc(size_t n) noexcept {
  void* p = __libc_malloc(n);
  heap_note(usable(p));
  return p;
}
extern "C" void free(void* p) noexcept {
  heap_note(-usable(p));
  __libc_free(p);
}
extern "C" void* calloc(size_t n, size_t m) noexcept {
  void* p = __libc_calloc(n, m);
  heap_note(usable(p));
  return p;
}
extern "C" void* realloc(void* old, size_t n) noexcept {
  const int64_t before = usable(old);
  void* p = __libc_realloc(old, n);
  if (p != nullptr || n == 0) heap_note(usable(p) - before);
  return p;
}
extern "C" void* memalign(size_t align, size_t n) noexcept {
  void* p = __libc_memalign(align, n);
  heap_note(usable(p));
  return p;
}
extern "C" void* aligned_alloc(size_t align, size_t n) noexcept { return memalign(align, n); }
extern "C" int posix_memalign(void** out, size_t align, size_t n) noexcept {
  void* p = memalign(align, n);
  if (p == nullptr) return ENOMEM;
  *out = p;
  return 0;
}

namespace {

namespace fs = std::filesystem;

struct rFile {
  std::string name, path, plain, packed;
};

std::string g_home, g_disk, g_tmpfs;
std::vector<rFile> g_files;
std::string g_container;
size_t g_largest = 0;

void put(std::string& b, size_t at, uint32_t v, int n) {
  for (int i = 0; i < n; ++i) b[at + size_t(i)] = char(uint8_t(v >> (8 * i)));
}

uint32_t check_of(const std::string& s) {
  return ~uint32_t(crc32(0, reinterpret_cast<const Bytef*>(s.data()), uInt(s.size())));
}

uint32_t g_seed = 12345;
uint32_t next_random() {
  g_seed ^= g_seed << 13;
  g_seed ^= g_seed >> 17;
  g_seed ^= g_seed << 5;
  return g_seed;
}

// Text-like (a 15-letter alphabet, about 2:1), random (stored as it is) or
// mixed (4 KiB runs of each).
std::string make_plain(size_t n, int kind, uint32_t seed) {
  std::string v(n, ' ');
  uint32_t x = seed | 1;
  for (size_t i = 0; i < n; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    const bool text = kind == 0 || (kind == 2 && (i / 4096) % 2 == 0);
    v[i] = text ? "etaoin shrdlu\r\n"[(x >> 8) % 15] : char(x >> 8);
  }
  return v;
}

void make_container() {
  constexpr int kCount = 3000;
  g_files.resize(kCount);
  for (int i = 0; i < kCount; ++i) {
    rFile& f = g_files[size_t(i)];
    f.name = "file" + std::to_string(i) + (i == 0 ? ".exe" : ".dat");
    f.path = i % 31 == 0 ? "" : "folder" + std::to_string(i % 31) + "\\";
    const size_t size = i % 750 == 1 ? size_t(25) << 20 : size_t(2048 + next_random() % (70 << 10));
    const int kind = i % 10 < 6 ? 0 : i % 10 < 9 ? 1 : 2;
    f.plain = make_plain(size, kind, next_random());
    g_largest = std::max(g_largest, size);
  }
  std::vector<std::thread> workers;
  for (int w = 0; w < 3; ++w)
    workers.emplace_back([w] {
      for (size_t i = size_t(w); i < g_files.size(); i += 3) {
        rFile& f = g_files[i];
        uLongf n = compressBound(uLong(f.plain.size()));
        f.packed.resize(n);
        compress2(reinterpret_cast<Bytef*>(f.packed.data()), &n, reinterpret_cast<const Bytef*>(f.plain.data()),
                  uLong(f.plain.size()), 6);
        f.packed.resize(n);
      }
    });
  for (std::thread& t : workers) t.join();

  g_container = "IDF100";
  for (size_t k = 0; k <= g_files.size(); ++k) {
    const bool end = k == g_files.size();
    const std::string name = end ? "" : g_files[k].name;
    const std::string path = end ? "" : g_files[k].path;
    const size_t at = g_container.size();
    g_container.resize(at + 32 + name.size() + path.size());
    std::memcpy(&g_container[at], "ientry", 6);
    g_container[at + 6] = char(end ? 4 : 1);
    put(g_container, at + 7, uint32_t(name.size()), 2);
    std::memcpy(&g_container[at + 9], name.data(), name.size());
    put(g_container, at + 9 + name.size(), uint32_t(path.size()), 2);
    std::memcpy(&g_container[at + 11 + name.size()], path.data(), path.size());
    const size_t f = at + 11 + name.size() + path.size();
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
  // The plain texts are no longer needed: the container holds everything.
  size_t unpacked = 0;
  for (rFile& f : g_files) {
    unpacked += f.plain.size();
    std::string().swap(f.plain);
    std::string().swap(f.packed);
  }
  std::fprintf(stderr, "container: %zu files, %.1f MB unpacked, %.1f MB stored, largest %.1f MB\n", g_files.size(),
               double(unpacked) / 1e6, double(g_container.size()) / 1e6, double(g_largest) / 1e6);
}

// An empty destination folder for the next iteration.
void fresh(const std::string& dest) {
  fs::remove_all(dest);
  fs::create_directories(dest);
}

class cBenchWindow : public iInstallWindow {
 public:
  std::shared_ptr<cWorkEntries> InstallLog() override { return log; }
  void SetInstallSuccess(bool value) override { success = value; }
  void InstallThreadTerminate(TInstallThread&) override {}
  std::shared_ptr<cWorkEntries> log = std::make_shared<cWorkEntries>();
  bool success = false;
};

// (a)
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
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(g_container.size()));
}

// The payloads as the plain program finds them: walking the headers.
struct rPayload {
  const uint8_t* data;
  uint32_t stored, unpacked;
  std::string name, path;
};

std::vector<rPayload> plain_walk() {
  std::vector<rPayload> out;
  const auto* b = reinterpret_cast<const uint8_t*>(g_container.data());
  const auto u16 = [b](size_t at) { return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8; };
  const auto u32 = [b](size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
  };
  size_t at = 6;
  for (;;) {
    const uint8_t kind = b[at + 6];
    if (kind == 4) break;
    const uint32_t n = u16(at + 7);
    const uint32_t p = u16(at + 9 + n);
    const size_t f = at + 11 + n + p;
    out.push_back({b + f + 21, u32(f + 8), u32(f), std::string(reinterpret_cast<const char*>(b + at + 9), n),
                   std::string(reinterpret_cast<const char*>(b + at + 11 + n), p)});
    at = u32(f + 16);
  }
  return out;
}

void BM_RawCrc(benchmark::State& state) {
  const std::vector<rPayload> payloads = plain_walk();
  for (auto _ : state)
    for (const rPayload& p : payloads) benchmark::DoNotOptimize(crc32(0, p.data, uInt(p.stored)));
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(g_container.size()));
}

void install(benchmark::State& state, const std::string& dest) {
  plat::from_posix(dest, gDestination);
  int64_t peak = 0;
  for (auto _ : state) {
    state.PauseTiming();
    fresh(dest);
    const int64_t base = g_heap.load();
    g_peak.store(base);
    state.ResumeTiming();
    cBenchWindow window;
    TInstallThread* thread = TInstallThread::Create(&window);
    thread->Execute();
    delete thread;
    if (!window.success) state.SkipWithError("installation failed");
    peak = std::max(peak, g_peak.load() - base);
  }
  state.counters["peak_heap_MiB"] = double(peak) / double(1 << 20);
  state.counters["largest_MiB"] = double(g_largest) / double(1 << 20);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(g_container.size()));
}

// The plain program: folders, a new buffer of the known size for each
// payload, raw inflate, one write; with `sync`, one syncfs at the end.
void plain(benchmark::State& state, const std::string& dest, bool sync) {
  const std::vector<rPayload> payloads = plain_walk();
  for (auto _ : state) {
    state.PauseTiming();
    fresh(dest);
    state.ResumeTiming();
    std::set<std::string> folders;
    for (const rPayload& p : payloads) {
      std::string rel = p.path;
      for (char& c : rel)
        if (c == '\\') c = '/';
      if (!rel.empty() && folders.insert(rel).second) mkdir((dest + "/" + rel).c_str(), 0777);
      auto* out = static_cast<Bytef*>(std::malloc(p.unpacked == 0 ? 1 : p.unpacked));
      uLongf size = p.unpacked;
      if (out == nullptr || uncompress(out, &size, p.data, p.stored) != Z_OK || size != p.unpacked)
        state.SkipWithError("inflate failed");
      const int fd = open((dest + "/" + rel + p.name).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
      if (fd < 0 || write(fd, out, size) != ssize_t(size)) state.SkipWithError("write failed");
      if (fd >= 0) close(fd);
      std::free(out);
    }
    if (sync) {
      const int dfd = open(dest.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      if (dfd < 0 || syncfs(dfd) != 0) state.SkipWithError("syncfs failed");
      if (dfd >= 0) close(dfd);
    }
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(g_container.size()));
}

// (b)
void BM_InstallTmpfs(benchmark::State& state) { install(state, g_tmpfs + "/dest"); }
void BM_PlainTmpfs(benchmark::State& state) { plain(state, g_tmpfs + "/plain", false); }
// (c)
void BM_InstallDisk(benchmark::State& state) { install(state, g_disk + "/dest"); }
void BM_PlainDiskSyncfs(benchmark::State& state) { plain(state, g_disk + "/plain", true); }

BENCHMARK(BM_CheckPass)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RawCrc)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_InstallTmpfs)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_PlainTmpfs)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_InstallDisk)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_PlainDiskSyncfs)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
  char home[] = "/tmp/install-bench-XXXXXX";
  char shm[] = "/dev/shm/install-bench-XXXXXX";
  if (mkdtemp(home) == nullptr || mkdtemp(shm) == nullptr) return 1;
  g_home = home;
  g_disk = g_home + "/disk";
  g_tmpfs = shm;
  setenv("HOME", home, 1);
  setenv("XDG_DATA_HOME", (g_home + "/.local/share").c_str(), 1);
  setenv("XDG_CONFIG_HOME", (g_home + "/.config").c_str(), 1);
  framework_start(argc, argv);
  make_container();
  resource_register(cnInstallDataName, g_container.data(), int32_t(g_container.size()));
  const int rc = bench::run_with_ratios(
      argc, argv,
      {{"BM_CheckPass", "BM_RawCrc"}, {"BM_InstallTmpfs", "BM_PlainTmpfs"}, {"BM_InstallDisk", "BM_PlainDiskSyncfs"}});
  framework_stop();
  fs::remove_all(g_home);
  fs::remove_all(g_tmpfs);
  return rc;
}
