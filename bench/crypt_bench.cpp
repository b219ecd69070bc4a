// Throughput of the manifest cipher against a plain AES-192-CBC pass of the
// library over the same 1 MiB, key derivation and context set-up included on
// both sides: encryption beside a raw encryption, decryption beside a raw
// decryption (CBC decryption runs blocks in parallel, encryption cannot, so
// the two directions are not comparable with each other). Prints the ratio
// of the times at the end (1.0 = as fast).
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <cstdint>
#include <string>
#include <vector>

#include "bench_ratio.h"
#include "kvn_crypt.h"

namespace {

constexpr int64_t cnSize = int64_t(1) << 20;

std::vector<uint8_t> data_block() {
  std::vector<uint8_t> v(static_cast<size_t>(cnSize));
  for (size_t i = 0; i < v.size(); ++i) v[i] = uint8_t(i * 131 + 7);
  return v;
}

void BM_ManifestEncrypt(benchmark::State& state) {
  std::vector<uint8_t> buf = data_block();
  for (auto _ : state) {
    if (!crypt_encrypt_buffer(buf.data(), cnSize, manifest_passphrase())) state.SkipWithError("encrypt failed");
    benchmark::DoNotOptimize(buf.data());
  }
  state.SetBytesProcessed(state.iterations() * cnSize);
}

void BM_ManifestDecrypt(benchmark::State& state) {
  std::vector<uint8_t> buf = data_block();
  for (auto _ : state) {
    if (!crypt_decrypt_buffer(buf.data(), cnSize, manifest_passphrase())) state.SkipWithError("decrypt failed");
    benchmark::DoNotOptimize(buf.data());
  }
  state.SetBytesProcessed(state.iterations() * cnSize);
}

// A raw AES-192-CBC pass in either direction, the key the SHA-1 of the
// passphrase and a zero IV, without padding.
void raw_cbc(benchmark::State& state, bool encrypt) {
  const std::vector<uint8_t> in = data_block();
  std::vector<uint8_t> out(in.size());
  const std::string_view pass = manifest_passphrase();
  for (auto _ : state) {
    uint8_t key[24] = {};
    unsigned key_len = 0;
    const uint8_t iv[16] = {};
    EVP_Digest(pass.data(), pass.size(), key, &key_len, EVP_sha1(), nullptr);
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    int len = 0;
    const bool ok =
        ctx != nullptr && EVP_CipherInit_ex(ctx, EVP_aes_192_cbc(), nullptr, key, iv, encrypt ? 1 : 0) == 1 &&
        EVP_CIPHER_CTX_set_padding(ctx, 0) == 1 && EVP_CipherUpdate(ctx, out.data(), &len, in.data(), int(cnSize)) == 1;
    EVP_CIPHER_CTX_free(ctx);
    if (!ok) state.SkipWithError("EVP failed");
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(state.iterations() * cnSize);
}

void BM_RawCbcEncrypt(benchmark::State& state) { raw_cbc(state, true); }
void BM_RawCbcDecrypt(benchmark::State& state) { raw_cbc(state, false); }

BENCHMARK(BM_ManifestEncrypt);
BENCHMARK(BM_ManifestDecrypt);
BENCHMARK(BM_RawCbcEncrypt);
BENCHMARK(BM_RawCbcDecrypt);

}  // namespace

int main(int argc, char** argv) {
  return bench::run_with_ratios(
      argc, argv, {{"BM_ManifestEncrypt", "BM_RawCbcEncrypt"}, {"BM_ManifestDecrypt", "BM_RawCbcDecrypt"}});
}
