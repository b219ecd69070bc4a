#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "kvn_crypt.h"
#include "qlm_base_util.h"
#include "test_files.h"

namespace {

using testenv::from_hex;

using Bytes = std::vector<uint8_t>;

Bytes from_text(std::string_view text) { return Bytes(text.begin(), text.end()); }

// Deterministic, non-repeating test data.
Bytes pattern(size_t n) {
  Bytes out(n);
  uint32_t x = 0x2545F491u;
  for (auto& b : out) {
    x = x * 1664525u + 1013904223u;
    b = uint8_t(x >> 24);
  }
  return out;
}

const std::string_view kExamplePassphrase("abc\x01\x02\x03\x04", 7);

bool encrypt(Bytes& b, std::string_view pass) { return crypt_encrypt_buffer(b.data(), int64_t(b.size()), pass); }
bool decrypt(Bytes& b, std::string_view pass) { return crypt_decrypt_buffer(b.data(), int64_t(b.size()), pass); }

// The vectors were computed independently of this code: a script chaining
// single AES-192-ECB blocks by hand, cross-checked with the openssl tool.
TEST(ManifestCipher, GoldenVectorOfTheManifestPassphrase) {
  const Bytes plain = from_text("~\\application@uninstall\\\r\n\r\n  ~<file=\"uninstall.config\">\r\n");
  const Bytes expected = from_hex(
      "2316862f59500db339570b9409ee58a8501ddc3c30a43b4892aecb455c61542585f31f802af8c22e0749eea68add28d482431b6723d94a3"
      "2384f");
  ASSERT_EQ(plain.size(), expected.size());
  Bytes b = plain;
  ASSERT_TRUE(encrypt(b, manifest_passphrase()));
  EXPECT_EQ(b, expected);
  ASSERT_TRUE(decrypt(b, manifest_passphrase()));
  EXPECT_EQ(b, plain);
}

TEST(ManifestCipher, KnownVectorsBothWays) {
  const Bytes zeros(33, 0);
  const Bytes zero_stream = from_hex("6aed039353fc9c7a20102e22ec566669b26b0a56997b396a9ebed458227c2ef073");
  struct Case {
    Bytes plain;
    Bytes cipher;
  };
  const std::vector<Case> cases = {
      {from_text("A"), from_hex("2b")},
      {from_text("0123456789abcdef"), from_hex("f4c81b6eb37919de0482b0b13a9aa6ae")},
      // 17th byte: 'g' XOR the first byte of AES(first output block).
      {from_text("0123456789abcdefg"), from_hex("f4c81b6eb37919de0482b0b13a9aa6ae75")},
      {from_text("0123456789abcdef0123456789abcdef"),
       from_hex("f4c81b6eb37919de0482b0b13a9aa6ae255bef9f8f62cf75d533bb399b8e74a6")},
      {from_text("~\\application@uninstall\\\r\n\r\n"),
       from_hex("aba7e237aec8084eb3c142250d4f373d73b2b7e7a6c3d8b995b4894d")},
      {zeros, zero_stream},
      {Bytes(15, 0), Bytes(zero_stream.begin(), zero_stream.begin() + 15)},
      {Bytes(20, 0), Bytes(zero_stream.begin(), zero_stream.begin() + 20)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.plain.size());
    Bytes b = c.plain;
    ASSERT_TRUE(encrypt(b, kExamplePassphrase));
    EXPECT_EQ(b, c.cipher);
    ASSERT_TRUE(decrypt(b, kExamplePassphrase));
    EXPECT_EQ(b, c.plain);
  }
}

// Every length round-trips and touches exactly its own bytes; a change in
// the last byte leaves the output blocks ahead of it as they were.
TEST(ManifestCipher, RoundTripsKeepLengthAndBlockPrefix) {
  std::vector<size_t> lengths;
  for (size_t n = 1; n <= 48; ++n) lengths.push_back(n);
  lengths.push_back(1000);
  for (size_t n : lengths) {
    SCOPED_TRACE(n);
    const Bytes plain = pattern(n);
    Bytes b = plain;
    b.resize(n + 16, 0xA5);  // guard bytes behind the text
    ASSERT_TRUE(crypt_encrypt_buffer(b.data(), int64_t(n), manifest_passphrase()));
    EXPECT_EQ(Bytes(b.begin() + long(n), b.end()), Bytes(16, 0xA5));
    if (n >= 16) {
      EXPECT_NE(Bytes(b.begin(), b.begin() + long(n)), plain);
    }

    Bytes other_tail = plain;
    other_tail.back() ^= 0xFF;
    ASSERT_TRUE(encrypt(other_tail, manifest_passphrase()));
    const size_t before_last_block = (n - 1) / 16 * 16;  // blocks ahead of the changed byte
    EXPECT_TRUE(std::equal(b.begin(), b.begin() + long(before_last_block), other_tail.begin()));
    EXPECT_NE(Bytes(b.begin(), b.begin() + long(n)), other_tail);

    ASSERT_TRUE(crypt_decrypt_buffer(b.data(), int64_t(n), manifest_passphrase()));
    EXPECT_EQ(Bytes(b.begin(), b.begin() + long(n)), plain);
    EXPECT_EQ(Bytes(b.begin() + long(n), b.end()), Bytes(16, 0xA5));
  }
}

TEST(ManifestCipher, NothingToDoFailsAndLeavesTheBuffer) {
  Bytes b = pattern(8);
  const Bytes before = b;
  for (auto* fn : {&crypt_encrypt_buffer, &crypt_decrypt_buffer}) {
    EXPECT_FALSE(fn(b.data(), 0, manifest_passphrase()));
    EXPECT_FALSE(fn(b.data(), -1, manifest_passphrase()));
    EXPECT_FALSE(fn(nullptr, 8, manifest_passphrase()));
    EXPECT_EQ(b, before);
  }
}

TEST(ManifestCipher, OtherPassphraseDoesNotRoundTrip) {
  const std::string_view near_miss("Zq4\x1B\x06\x11\x03", 7);  // last byte differs
  for (size_t n : {size_t(5), size_t(16), size_t(33), size_t(1000)}) {
    SCOPED_TRACE(n);
    const Bytes plain = pattern(n);
    Bytes a = plain;
    Bytes b = plain;
    ASSERT_TRUE(encrypt(a, manifest_passphrase()));
    ASSERT_TRUE(encrypt(b, near_miss));
    EXPECT_NE(a, b);
    ASSERT_TRUE(decrypt(a, near_miss));
    EXPECT_NE(a, plain);
  }
}

// A failure of any library step or of the working copy's allocation answers
// false and leaves the buffer untouched; the next call works again.
// Decryption works in place and allocates nothing, so it goes on working
// while allocations fail.
TEST(ManifestCipher, FailuresAnswerFalseAndLeaveTheBuffer) {
  for (auto* fn : {&crypt_encrypt_buffer, &crypt_decrypt_buffer}) {
    const Bytes plain = pattern(37);  // whole blocks and a partial one: every step runs
    Bytes b = plain;
    int64_t k = 1;
    for (;; ++k) {
      ASSERT_LT(k, 50);
      crypt_fail_step_at(k);
      if (fn(b.data(), int64_t(b.size()), manifest_passphrase())) break;
      EXPECT_EQ(b, plain) << "step " << k;
    }
    crypt_fail_step_at(0);
    EXPECT_GE(k, 8);  // digest, two contexts of three steps each, two single blocks, the block run
    EXPECT_NE(b, plain);

    b = plain;
    mem_alloc_fail_at(1);
    if (fn == &crypt_encrypt_buffer) {
      EXPECT_FALSE(fn(b.data(), int64_t(b.size()), manifest_passphrase()));
      mem_alloc_fail_at(0);
      EXPECT_EQ(b, plain);
    } else {
      Bytes expected = plain;
      ASSERT_TRUE(fn(b.data(), int64_t(b.size()), manifest_passphrase()));
      mem_alloc_fail_at(0);
      ASSERT_TRUE(fn(expected.data(), int64_t(expected.size()), manifest_passphrase()));
      EXPECT_EQ(b, expected);
    }
  }
}

}  // namespace
