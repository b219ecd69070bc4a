// libFuzzer target: the install container's walker and entry reader on any
// bytes. Every input must end the walk with an answer: no crash, no read
// outside the bytes, no seek that does not move forward.
#include <cstdint>
#include <cstdlib>

#include "installs_container.h"
#include "qlm_base_util.h"
#include "qlm_startup.h"
#include "qlm_zlib.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  framework_start(*argc, *argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The reader alone, on a flow at the first byte: the bytes as one header.
  if (auto flow = cMemoryFlow::ConstructReadOnly(true, data, int64_t(size)); flow && flow->Open()) {
    rInstEntry entry;
    inst_entry_read(flow.get(), &entry);
  }

  // The walk that every pass makes: signature, then header after header.
  cInstWalker walker;
  if (!walker.Open(data, int64_t(size)) || !walker.ReadSignature()) return 0;
  rInstEntry entry;
  int64_t last = walker.Flow()->Curr();
  while (walker.Next(entry) == eInstStep::Entry && entry.kind != cnInstKindEnd) {
    if (walker.PayloadSize() < 0 || walker.Payload() < data || walker.Payload() + walker.PayloadSize() > data + size)
      abort();
    if (entry.kind == cnInstKindFile && walker.PayloadMatches()) {
      void* plain = nullptr;
      int32_t plain_size = 0;
      if (zlib_decompress(walker.Payload(), walker.PayloadSize(), plain, plain_size)) mem_free(plain);
    }
    if (!walker.SeekNext()) break;
    if (walker.Flow()->Curr() <= last) abort();
    last = walker.Flow()->Curr();
  }
  return 0;
}
