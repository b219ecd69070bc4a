#include "qlm_base_lists.h"

#include "qlm_base_util.h"

rCharStringsEntry* cCharStringsList::Add(std::string_view text) {
  rCharStringsEntry* e = Append(1);
  if (e == nullptr) return nullptr;
  try {
    e->text.assign(text);
  } catch (...) {
    RemoveLast(1);
    return nullptr;
  }
  return e;
}

// ---------------------------------------------------------------------------
// Resources

cResources* gResources = nullptr;

rResourceEntry* cResources::Find(std::string_view name) const {
  const std::string key = string_trim_upper(name);
  for (rResourceEntry* e = First(); e != nullptr; e = e->next)
    if (string_trim_upper(e->name) == key) return e;
  return nullptr;
}

void resource_start() {
  delete gResources;
  gResources = nullptr;
}

void resource_stop() {
  delete gResources;
  gResources = nullptr;
}

rResourceEntry* resource_register(std::string_view name, const void* data, int32_t size) {
  if (rResourceEntry* existing = resource_find(name)) return existing;
  rResourceEntry* e = nullptr;
  try {
    if (gResources == nullptr) gResources = new cResources();
    e = gResources->Append(1);
    if (e == nullptr) return nullptr;
    e->name.assign(name);
    e->data = data;
    e->size = size;
    return e;
  } catch (...) {
    if (e != nullptr) gResources->RemoveLast(1);
    return nullptr;
  }
}

rResourceEntry* resource_find(std::string_view name) {
  if (gResources == nullptr) return nullptr;
  try {
    return gResources->Find(name);
  } catch (...) {
    return nullptr;
  }
}

// ---------------------------------------------------------------------------
// cPhaseStack

void cPhaseStack::Push(uint8_t value) {
  auto* e = static_cast<uint8_t*>(Append(1));
  if (e != nullptr) *e = value;
}

uint8_t cPhaseStack::Pop() {
  auto* e = static_cast<const uint8_t*>(Last());
  if (e == nullptr) return 36;
  const uint8_t value = *e;
  RemoveLast(1);
  return value;
}
