// The manifest cipher through OpenSSL's EVP interface: one AES-192-ECB
// context for the single-block encryptions (initial vector, keystream of the
// partial last block) and one AES-192-CBC context for the run of whole
// blocks, both without padding. Decryption runs in the caller's buffer;
// encryption through a working copy.
#include "kvn_crypt.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <atomic>
#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>

#include "qlm_base_util.h"

namespace {

constexpr int cnBlockSize = 16;
constexpr unsigned cnDigestSize = 20;
constexpr size_t cnKeySize = 24;

std::atomic<int64_t> g_step_count{0};
std::atomic<int64_t> g_fail_step_at{0};

// Every result of the library passes through here (1 is success), so that
// tests can make any single step fail.
bool step_ok(int rc) {
  const int64_t n = g_step_count.fetch_add(1) + 1;
  const int64_t k = g_fail_step_at.load();
  if (k > 0 && n == k) return false;
  return rc == 1;
}

struct CtxFree {
  void operator()(EVP_CIPHER_CTX* ctx) const { EVP_CIPHER_CTX_free(ctx); }
};
using CtxPtr = std::unique_ptr<EVP_CIPHER_CTX, CtxFree>;

// Key, chaining value and working copy of one call; the key material is
// burnt and the copy freed on every way out.
struct CryptState {
  std::array<uint8_t, cnKeySize> key{};
  std::array<uint8_t, cnBlockSize> chain{};
  uint8_t* temp = nullptr;
  CryptState() = default;
  CryptState(const CryptState&) = delete;
  CryptState& operator=(const CryptState&) = delete;
  ~CryptState() {
    OPENSSL_cleanse(key.data(), key.size());
    OPENSSL_cleanse(chain.data(), chain.size());
    mem_free(temp);
  }
};

CtxPtr new_context(const EVP_CIPHER* cipher, const uint8_t* key, const uint8_t* iv, int encrypt) {
  CtxPtr ctx(EVP_CIPHER_CTX_new());
  if (!step_ok(ctx != nullptr ? 1 : 0)) return nullptr;
  if (!step_ok(EVP_CipherInit_ex(ctx.get(), cipher, nullptr, key, iv, encrypt))) return nullptr;
  if (!step_ok(EVP_CIPHER_CTX_set_padding(ctx.get(), 0))) return nullptr;
  return ctx;
}

// chain := AES(chain) through the ECB context.
bool encrypt_chain(EVP_CIPHER_CTX* ecb, std::array<uint8_t, cnBlockSize>& chain) {
  uint8_t out[cnBlockSize];
  int len = 0;
  if (!step_ok(EVP_EncryptUpdate(ecb, out, &len, chain.data(), cnBlockSize)) || len != cnBlockSize) return false;
  std::memcpy(chain.data(), out, cnBlockSize);
  OPENSSL_cleanse(out, sizeof out);
  return true;
}

// Key: SHA-1 of the passphrase, then four zero bytes (already zero).
bool derive_key(std::string_view passphrase, CryptState& st) {
  unsigned digest_len = 0;
  return step_ok(EVP_Digest(passphrase.data(), passphrase.size(), st.key.data(), &digest_len, EVP_sha1(), nullptr)) &&
         digest_len == cnDigestSize;
}

// Encryption through a working copy: the chaining value of the partial last
// block is the last ciphertext block, known only once the run is done.
bool encrypt_buffer(void* buffer, int64_t size, std::string_view passphrase) {
  if (buffer == nullptr || size <= 0) return false;
  CryptState st;
  if (!derive_key(passphrase, st)) return false;

  // Initial vector: the encryption of a zero block.
  CtxPtr ecb = new_context(EVP_aes_192_ecb(), st.key.data(), nullptr, 1);
  if (!ecb || !encrypt_chain(ecb.get(), st.chain)) return false;

  if (!mem_alloc(st.temp, size)) return false;
  const auto* in = static_cast<const uint8_t*>(buffer);
  // mem_alloc refuses 2^31 bytes and more, so the counts fit an int.
  const int whole = int(size - size % cnBlockSize);
  const int rest = int(size % cnBlockSize);

  if (whole > 0) {
    CtxPtr cbc = new_context(EVP_aes_192_cbc(), st.key.data(), st.chain.data(), 1);
    if (!cbc) return false;
    int len = 0;
    if (!step_ok(EVP_CipherUpdate(cbc.get(), st.temp, &len, in, whole)) || len != whole) return false;
    // The last whole ciphertext block chains into the partial block.
    std::memcpy(st.chain.data(), st.temp + whole - cnBlockSize, cnBlockSize);
  }
  if (rest > 0) {
    if (!encrypt_chain(ecb.get(), st.chain)) return false;
    for (int i = 0; i < rest; ++i) st.temp[whole + i] = uint8_t(in[whole + i] ^ st.chain[size_t(i)]);
  }

  std::memcpy(buffer, st.temp, size_t(size));
  return true;
}

// Decryption in place, without a working copy: everything that can fail
// runs before the buffer changes (the partial block's keystream comes from
// the last ciphertext block, still in the buffer), except the run of whole
// blocks itself, which is last. When that run reports failure after writing,
// encrypting the blocks again with the same key and initial vector (CBC
// encryption is the exact inverse) puts the ciphertext back.
bool decrypt_buffer(void* buffer, int64_t size, std::string_view passphrase) {
  if (buffer == nullptr || size <= 0 || size > int64_t(INT32_MAX)) return false;
  CryptState st;
  if (!derive_key(passphrase, st)) return false;

  CtxPtr ecb = new_context(EVP_aes_192_ecb(), st.key.data(), nullptr, 1);
  if (!ecb || !encrypt_chain(ecb.get(), st.chain)) return false;
  const std::array<uint8_t, cnBlockSize> iv = st.chain;

  auto* data = static_cast<uint8_t*>(buffer);
  const int whole = int(size - size % cnBlockSize);
  const int rest = int(size % cnBlockSize);

  std::array<uint8_t, cnBlockSize> keystream{};
  if (rest > 0) {
    if (whole > 0)
      std::memcpy(keystream.data(), data + whole - cnBlockSize, cnBlockSize);
    else
      keystream = st.chain;
    if (!encrypt_chain(ecb.get(), keystream)) return false;
  }
  if (whole > 0) {
    CtxPtr cbc = new_context(EVP_aes_192_cbc(), st.key.data(), iv.data(), 0);
    CtxPtr undo = cbc ? new_context(EVP_aes_192_cbc(), st.key.data(), iv.data(), 1) : nullptr;
    if (!undo) return false;
    int len = 0;
    if (!step_ok(EVP_CipherUpdate(cbc.get(), data, &len, data, whole)) || len != whole) {
      EVP_CipherUpdate(undo.get(), data, &len, data, whole);
      OPENSSL_cleanse(keystream.data(), keystream.size());
      return false;
    }
  }
  for (int i = 0; i < rest; ++i) data[whole + i] = uint8_t(data[whole + i] ^ keystream[size_t(i)]);
  OPENSSL_cleanse(keystream.data(), keystream.size());
  return true;
}

}  // namespace

bool crypt_encrypt_buffer(void* buffer, int64_t size, std::string_view passphrase) {
  return encrypt_buffer(buffer, size, passphrase);
}

bool crypt_decrypt_buffer(void* buffer, int64_t size, std::string_view passphrase) {
  return decrypt_buffer(buffer, size, passphrase);
}

void crypt_fail_step_at(int64_t k) {
  g_step_count.store(0);
  g_fail_step_at.store(k);
}
