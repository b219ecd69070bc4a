// libFuzzer target: the uninstall manifest as the uninstaller loads it
// (local_files_load: the file read whole, decrypted in place, parsed). The
// first byte picks what the rest is: bit 0 clear, the file's bytes as they
// are; set, the plain text, which the target encrypts into the file (so
// inputs reach the reader). The load must answer as the decryption and the
// reader do on the same bytes, with the same items; decryption and
// encryption undo each other at every length.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_temp_dir.h"
#include "installs_local_files.h"
#include "installs_manifest.h"
#include "kvn_crypt.h"
#include "plat_path_map.h"
#include "qlm_startup.h"

namespace {

std::string g_folder;  // the temporary folder in Windows form

bool same_items(cLocalFiles& a, cLocalFiles& b) {
  if (a.Count() != b.Count()) return false;
  for (const rLocalFile *x = a.First(), *y = b.First(); x != nullptr; x = x->next, y = y->next)
    if (x->kind != y->kind || x->value != y->value || x->current != y->current) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  framework_start(*argc, *argv);
  if (!plat::from_posix(fuzz_temp_dir(), g_folder)) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > (size_t(1) << 20)) return 0;
  std::vector<uint8_t> file(data + 1, data + size);
  const auto passphrase = manifest_passphrase();
  if ((data[0] & 1) != 0 && !file.empty()) {
    const std::vector<uint8_t> plain = file;
    if (!crypt_encrypt_buffer(file.data(), int64_t(file.size()), passphrase)) std::abort();
    std::vector<uint8_t> back = file;
    if (!crypt_decrypt_buffer(back.data(), int64_t(back.size()), passphrase) || back != plain) std::abort();
  }
  fuzz_write_file(std::string(cnManifestFileName), file.data(), file.size());
  cLocalFiles loaded;
  const bool ok = local_files_load(&loaded, g_folder);
  // The same steps on the bytes in memory.
  cLocalFiles parsed;
  bool expected = false;
  if (!file.empty()) {
    std::vector<uint8_t> plain = file;
    if (!crypt_decrypt_buffer(plain.data(), int64_t(plain.size()), passphrase)) std::abort();
    std::vector<uint8_t> again = plain;
    if (!crypt_encrypt_buffer(again.data(), int64_t(again.size()), passphrase) || again != file) std::abort();
    expected = local_files_parse(&parsed, plain.data(), int64_t(plain.size()));
  }
  if (ok != expected || !same_items(loaded, parsed)) std::abort();
  return 0;
}
