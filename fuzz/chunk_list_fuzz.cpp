// libFuzzer target: a memory flow's chunk list (cMemoryFlowChunk::LoadFrom)
// on any bytes. Every input must end with an answer, and a loaded list must
// hold only what its stream backs: each chunk's used bytes inside its
// allocation, the tail zero, the tails together no larger than the stream
// plus one default chunk per load step, and saving it again must give back
// the bytes it was read from. Loading the same bytes into the loaded list
// (whose blocks are then reused) must give the same list.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "qlm_base_flow.h"
#include "qlm_startup.h"

namespace {

// Entries a load appends per step (the array's own load step).
constexpr int64_t kLoadStep = 4096;

// The chunks as text: allocated, used and the used bytes of each.
std::string image_of(const cMemoryFlowChunk& list) {
  std::string out;
  for (const rMemoryFlowChunk* c = list.FirstChunk(); c != nullptr; c = c->next) {
    out.append(reinterpret_cast<const char*>(&c->allocated), 4);
    out.append(reinterpret_cast<const char*>(&c->used), 4);
    if (c->used > 0) out.append(reinterpret_cast<const char*>(c->block), size_t(c->used));
  }
  return out;
}

// Checks the loaded list against the stream of `size` bytes.
void check_loaded(const cMemoryFlowChunk& list, size_t size) {
  int64_t tails = 0;
  uint32_t count = 0;
  for (const rMemoryFlowChunk* c = list.FirstChunk(); c != nullptr; c = c->next, ++count) {
    if (c->used < 0 || c->allocated < c->used) std::abort();
    if (c->allocated > 0 && c->block == nullptr) std::abort();
    for (int32_t i = c->used; i < c->allocated; ++i)
      if (c->block[i] != 0) std::abort();
    tails += int64_t(c->allocated) - c->used;
  }
  if (count != list.Count()) std::abort();
  const int64_t steps = int64_t(count) / kLoadStep + 2;
  if (tails > int64_t(size) + steps * cnMemoryFlowChunkSize) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  framework_start(*argc, *argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto source = cMemoryFlow::ConstructOnData(data, int64_t(size));
  if (!source->Open()) return 0;
  cMemoryFlowChunk list;
  if (!list.LoadFrom(source.get())) {
    if (list.LastError() == 0) std::abort();
    return 0;
  }
  check_loaded(list, size);
  const int64_t consumed = source->Curr();
  if (consumed < 4 || consumed > int64_t(size)) std::abort();

  // Saved again, the list is the bytes it came from (a count of 0 or below
  // saves as 0).
  auto store = cMemoryFlow::Construct();
  if (!store->Create() || !list.SaveTo(store.get())) std::abort();
  if (store->Size() != (list.Count() == 0 ? 4 : consumed)) std::abort();
  if (list.Count() > 0) {
    std::string saved(size_t(store->Size()), '\0');
    if (!store->Seek(0) || !store->Read(saved.data(), int32_t(saved.size()))) std::abort();
    if (std::memcmp(saved.data(), data, saved.size()) != 0) std::abort();
  }

  // Loaded again over its own chunks: the same list.
  const std::string before = image_of(list);
  auto again = cMemoryFlow::ConstructOnData(data, int64_t(size));
  if (!again->Open() || !list.LoadFrom(again.get())) std::abort();
  check_loaded(list, size);
  if (image_of(list) != before) std::abort();
  return 0;
}
