// The framework's byte paths against their limits, in one run: inflation
// through zlib_decompress against zlib's own uncompress into a buffer of the
// right size, the CRC register against zlib's crc32, memory-flow writes and
// reads against memcpy, and the array container against std::vector.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstring>
#include <vector>

#include "bench_ratio.h"
#include "qlm_base_array.h"
#include "qlm_base_crc.h"
#include "qlm_base_flow.h"
#include "qlm_base_util.h"
#include "qlm_startup.h"
#include "qlm_zlib.h"

namespace {

constexpr size_t kSize = size_t(4) << 20;

std::vector<uint8_t> sample() {
  // Text-like data that compresses about 3:1.
  std::vector<uint8_t> v(kSize);
  uint32_t x = 1;
  for (size_t i = 0; i < v.size(); ++i) {
    x = x * 1103515245u + 12345u;
    v[i] = uint8_t("etaoin shrdlu\r\n"[(x >> 16) % 15]);
  }
  return v;
}

std::vector<uint8_t> packed() {
  const auto plain = sample();
  uLongf size = compressBound(uLong(plain.size()));
  std::vector<uint8_t> out(size);
  compress2(out.data(), &size, plain.data(), uLong(plain.size()), 6);
  out.resize(size);
  return out;
}

void BM_ZlibDecompress(benchmark::State& state) {
  const auto z = packed();
  for (auto _ : state) {
    void* out = nullptr;
    int32_t size = 0;
    if (!zlib_decompress(z.data(), int32_t(z.size()), out, size)) state.SkipWithError("inflate failed");
    mem_free(out);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kSize));
}

void BM_RawUncompress(benchmark::State& state) {
  const auto z = packed();
  std::vector<uint8_t> out(kSize);
  for (auto _ : state) {
    uLongf size = uLongf(out.size());
    if (uncompress(out.data(), &size, z.data(), uLong(z.size())) != Z_OK) state.SkipWithError("inflate failed");
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kSize));
}

void BM_Crc32Update(benchmark::State& state) {
  const auto data = sample();
  for (auto _ : state) benchmark::DoNotOptimize(crc32_update(0xFFFFFFFFu, data.data(), int32_t(data.size())));
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kSize));
}

void BM_ZlibCrc32(benchmark::State& state) {
  const auto data = sample();
  for (auto _ : state) benchmark::DoNotOptimize(crc32(0, data.data(), uInt(data.size())));
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kSize));
}

// Writes the sample in 4 KiB pieces into a new memory flow, then reads it back.
void BM_MemoryFlowWriteRead(benchmark::State& state) {
  const auto data = sample();
  std::vector<uint8_t> back(kSize);
  for (auto _ : state) {
    auto flow = cMemoryFlow::Construct();
    flow->Create();
    for (size_t at = 0; at < kSize; at += 4096) flow->Write(data.data() + at, 4096);
    flow->Seek(0);
    for (size_t at = 0; at < kSize; at += 4096) flow->Read(back.data() + at, 4096);
    benchmark::DoNotOptimize(back.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kSize) * 2);
}

void BM_MemcpyWriteRead(benchmark::State& state) {
  const auto data = sample();
  std::vector<uint8_t> back(kSize);
  for (auto _ : state) {
    std::vector<uint8_t> store;
    for (size_t at = 0; at < kSize; at += 4096) store.insert(store.end(), data.begin() + long(at), data.begin() + long(at + 4096));
    for (size_t at = 0; at < kSize; at += 4096) std::memcpy(back.data() + at, store.data() + at, 4096);
    benchmark::DoNotOptimize(back.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kSize) * 2);
}

constexpr uint32_t kEntries = 100000;

void BM_ArrayAppendWalk(benchmark::State& state) {
  for (auto _ : state) {
    cArray a(16, 1, 6);
    for (uint32_t i = 0; i < kEntries; ++i) *static_cast<uint64_t*>(static_cast<void*>(static_cast<char*>(a.Append(1)) + 8)) = i;
    uint64_t sum = 0;
    for (void* e = a.First(); e != nullptr; e = a.NextOf(e)) sum += *static_cast<uint64_t*>(static_cast<void*>(static_cast<char*>(e) + 8));
    benchmark::DoNotOptimize(sum);
  }
}

void BM_VectorAppendWalk(benchmark::State& state) {
  for (auto _ : state) {
    std::vector<uint64_t> v;
    for (uint32_t i = 0; i < kEntries; ++i) v.push_back(i);
    uint64_t sum = 0;
    for (uint64_t x : v) sum += x;
    benchmark::DoNotOptimize(sum);
  }
}

BENCHMARK(BM_ZlibDecompress);
BENCHMARK(BM_RawUncompress);
BENCHMARK(BM_Crc32Update);
BENCHMARK(BM_ZlibCrc32);
BENCHMARK(BM_MemoryFlowWriteRead);
BENCHMARK(BM_MemcpyWriteRead);
BENCHMARK(BM_ArrayAppendWalk);
BENCHMARK(BM_VectorAppendWalk);

}  // namespace

int main(int argc, char** argv) {
  framework_start(argc, argv);
  const int rc = bench::run_with_ratios(argc, argv,
                                        {{"BM_ZlibDecompress", "BM_RawUncompress"},
                                         {"BM_Crc32Update", "BM_ZlibCrc32"},
                                         {"BM_MemoryFlowWriteRead", "BM_MemcpyWriteRead"},
                                         {"BM_ArrayAppendWalk", "BM_VectorAppendWalk"}});
  framework_stop();
  return rc;
}
