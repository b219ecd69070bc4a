// libFuzzer target: the manifest reader on any decrypted bytes. Every input
// must end with an answer and a list of well-formed items: no crash, no
// hang, no item of a kind the reader does not make. Each of its lines must
// read alike through the fast forms and through the parser alone.
#include <cstdint>
#include <cstdlib>
#include <string_view>

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
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find("\r\n", at);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(at, end - at);
    at = end + 2;
    cLocalFiles fast, parsed;
    int32_t fast_icon = -1, parsed_icon = -1;
    if (local_files_read_line(line, &fast, fast_icon, false) !=
            local_files_read_line(line, &parsed, parsed_icon, true) ||
        fast_icon != parsed_icon || fast.Count() != parsed.Count())
      std::abort();
    for (const rLocalFile *x = fast.First(), *y = parsed.First(); x != nullptr; x = x->next, y = y->next)
      if (x->kind != y->kind || x->value != y->value || x->current != y->current) std::abort();
  }
  return 0;
}
