// libFuzzer target: the manifest reader on any decrypted bytes. Every input
// must end with an answer and a list of well-formed items: no crash, no
// hang, no item of a kind the reader does not make.
#include <cstdint>
#include <cstdlib>

#include "installs_local_files.h"
#include "qlm_startup.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  framework_start(*argc, *argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  cLocalFiles list;
  const bool loaded = local_files_parse(&list, data, int64_t(size));
  for (const rLocalFile* e = list.First(); e != nullptr; e = e->next) {
    if (!loaded || e->kind < cnLocalFile || e->kind > cnLocalReg) std::abort();
    if (e->kind != cnLocalReg && e->current) std::abort();
  }
  return 0;
}
