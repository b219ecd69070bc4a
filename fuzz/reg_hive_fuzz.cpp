// libFuzzer target: the registry hive reader on any text. The first byte
// picks the hive (bit 0: the local machine's). Every input ends with an
// answer; a hive that reads is written back (reg_parse_hive's canonical
// text), and that text reads again and writes back unchanged, within the
// largest hive the reader takes. Deep keys need long inputs: -max_len
// defaults to 4 MiB.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz_flags.h"
#include "plat_registry.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  fuzz_default_flags(argc, argv, {"-max_len=4194304"});
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const plat::RegRoot root = (data[0] & 1) != 0 ? plat::RegRoot::LocalMachine : plat::RegRoot::CurrentUser;
  const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::string canonical;
  const int32_t rc = plat::reg_parse_hive(root, text, canonical);
  if (rc == plat::kRegCorrupt || rc == plat::kRegIoFailed) {
    if (!canonical.empty() || plat::reg_last_error_detail().empty()) std::abort();
    return 0;
  }
  if (rc != plat::kRegOk || canonical.size() > (size_t(64) << 20)) std::abort();
  std::string again;
  if (plat::reg_parse_hive(root, canonical, again) != plat::kRegOk || again != canonical) std::abort();
  return 0;
}
