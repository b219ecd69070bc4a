// The framework's byte paths against their limits, in one run: inflation
// through zlib_decompress (and its expected-size form) against raw inflate
// into a new buffer of the known size, on 4 MiB and 64 MiB of text-like and
// zero-heavy data (/0 text 4 MiB, /1 text 64 MiB, /2 zeros 4 MiB, /3 zeros
// 64 MiB), the CRC register against zlib's crc32, memory-flow writes and
// reads against memcpy, and the array container against std::vector.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdlib>
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

// Payloads for the inflation pair: 4 MiB and 64 MiB of text-like data
// (about 2:1) and of zero-heavy data (zeros with a few bytes of noise every
// 4 KiB, far above 100:1).
enum ePayload : int64_t { kText4 = 0, kText64 = 1, kZero4 = 2, kZero64 = 3 };

std::vector<uint8_t> payload_plain(int64_t which) {
  const size_t size = (which == kText4 || which == kZero4) ? size_t(4) << 20 : size_t(64) << 20;
  std::vector<uint8_t> v(size, 0);
  uint32_t x = 7;
  for (size_t i = 0; i < size; ++i) {
    x = x * 1103515245u + 12345u;
    if (which == kText4 || which == kText64)
      v[i] = uint8_t("etaoin shrdlu\r\n"[(x >> 16) % 15]);
    else if (i % 4096 < 8)
      v[i] = uint8_t(x >> 16);
  }
  return v;
}

struct rPacked {
  std::vector<uint8_t> bytes;
  size_t plain_size = 0;
};

const rPacked& payload_packed(int64_t which) {
  static rPacked cache[4];
  rPacked& p = cache[which];
  if (p.bytes.empty()) {
    const auto plain = payload_plain(which);
    uLongf size = compressBound(uLong(plain.size()));
    p.bytes.resize(size);
    compress2(p.bytes.data(), &size, plain.data(), uLong(plain.size()), 6);
    p.bytes.resize(size);
    p.plain_size = plain.size();
  }
  return p;
}

// Ours: the size is not known, the block grows in place.
void BM_ZlibDecompress(benchmark::State& state) {
  const rPacked& z = payload_packed(state.range(0));
  for (auto _ : state) {
    void* out = nullptr;
    int32_t size = 0;
    if (!zlib_decompress(z.bytes.data(), int32_t(z.bytes.size()), out, size)) state.SkipWithError("inflate failed");
    benchmark::DoNotOptimize(out);
    mem_free(out);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(z.plain_size));
}

// Ours with the size known in advance (as the install engine calls it).
void BM_ZlibDecompressSized(benchmark::State& state) {
  const rPacked& z = payload_packed(state.range(0));
  for (auto _ : state) {
    void* out = nullptr;
    if (zlib_decompress_sized(z.bytes.data(), int32_t(z.bytes.size()), int32_t(z.plain_size), out) != cnZlibOk)
      state.SkipWithError("inflate failed");
    benchmark::DoNotOptimize(out);
    mem_free(out);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(z.plain_size));
}

// The baseline: a new buffer of the known size, raw inflate into it.
void BM_RawInflate(benchmark::State& state) {
  const rPacked& z = payload_packed(state.range(0));
  for (auto _ : state) {
    auto* out = static_cast<Bytef*>(std::malloc(z.plain_size));
    uLongf size = uLongf(z.plain_size);
    if (out == nullptr || uncompress(out, &size, z.bytes.data(), uLong(z.bytes.size())) != Z_OK)
      state.SkipWithError("inflate failed");
    benchmark::DoNotOptimize(out);
    std::free(out);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(z.plain_size));
}

std::vector<uint8_t> sample() {
  // Text-like data that compresses about 2:1.
  std::vector<uint8_t> v(kSize);
  uint32_t x = 1;
  for (size_t i = 0; i < v.size(); ++i) {
    x = x * 1103515245u + 12345u;
    v[i] = uint8_t("etaoin shrdlu\r\n"[(x >> 16) % 15]);
  }
  return v;
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
    for (size_t at = 0; at < kSize; at += 4096)
      store.insert(store.end(), data.begin() + long(at), data.begin() + long(at + 4096));
    for (size_t at = 0; at < kSize; at += 4096) std::memcpy(back.data() + at, store.data() + at, 4096);
    benchmark::DoNotOptimize(back.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kSize) * 2);
}

constexpr uint32_t kEntries = 100000;

void BM_ArrayAppendWalk(benchmark::State& state) {
  for (auto _ : state) {
    cArray a(16, 1, 6);
    for (uint32_t i = 0; i < kEntries; ++i)
      *static_cast<uint64_t*>(static_cast<void*>(static_cast<char*>(a.Append(1)) + 8)) = i;
    uint64_t sum = 0;
    for (void* e = a.First(); e != nullptr; e = a.NextOf(e))
      sum += *static_cast<uint64_t*>(static_cast<void*>(static_cast<char*>(e) + 8));
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

BENCHMARK(BM_ZlibDecompress)->DenseRange(kText4, kZero64)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ZlibDecompressSized)->DenseRange(kText4, kZero64)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RawInflate)->DenseRange(kText4, kZero64)->Unit(benchmark::kMillisecond)->UseRealTime();
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
                                        {{"BM_ZlibDecompress/0", "BM_RawInflate/0"},
                                         {"BM_ZlibDecompress/1", "BM_RawInflate/1"},
                                         {"BM_ZlibDecompress/2", "BM_RawInflate/2"},
                                         {"BM_ZlibDecompress/3", "BM_RawInflate/3"},
                                         {"BM_ZlibDecompressSized/0", "BM_RawInflate/0"},
                                         {"BM_ZlibDecompressSized/1", "BM_RawInflate/1"},
                                         {"BM_ZlibDecompressSized/2", "BM_RawInflate/2"},
                                         {"BM_ZlibDecompressSized/3", "BM_RawInflate/3"},
                                         {"BM_Crc32Update", "BM_ZlibCrc32"},
                                         {"BM_MemoryFlowWriteRead", "BM_MemcpyWriteRead"},
                                         {"BM_ArrayAppendWalk", "BM_VectorAppendWalk"}});
  framework_stop();
  return rc;
}
