// The cipher of the uninstall manifest.
//
// AES-192 in CBC mode over the whole 16-byte blocks of a buffer; the key is
// the SHA-1 digest of a passphrase followed by four zero bytes, and the
// initial chaining value is the encryption of a zero block under that key.
// A final partial block of 1 to 15 bytes is XORed with the encryption of the
// last chaining value (the last whole ciphertext block, or the initial
// vector when there is none), so the output has exactly the input's length
// and no padding. The scheme is deterministic: it hides the manifest from a
// casual reader, nothing more, and must stay as it is so that every earlier
// manifest still reads.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

// The passphrase that writer and reader of the manifest share: three
// printable characters and four control bytes. Changing it makes every
// existing manifest unreadable.
inline constexpr std::array<char, 7> cnManifestPassphrase = {'Z', 'q', '4', '\x1B', '\x06', '\x11', '\x02'};

inline std::string_view manifest_passphrase() {
  return std::string_view(cnManifestPassphrase.data(), cnManifestPassphrase.size());
}

// Encrypt / decrypt the first `size` bytes of `buffer` in place. Both answer
// false and leave the buffer as it was when there is nothing to do (nil
// buffer, size 0 or below), for sizes of 2^31 and above, or when the
// cryptographic library reports a failure. Encryption goes through a working
// copy and also fails when that cannot be allocated; decryption (the
// installer's common case) works in the buffer itself and allocates nothing.
// Nothing is raised.
bool crypt_encrypt_buffer(void* buffer, int64_t size, std::string_view passphrase);
bool crypt_decrypt_buffer(void* buffer, int64_t size, std::string_view passphrase);

// Test seam: make the k-th call into the cryptographic library from now
// (1 = the next one) report failure; 0 switches the seam off. Only tests
// call this.
void crypt_fail_step_at(int64_t k);
