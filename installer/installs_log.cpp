// The installation log.
#include "installs_log.h"

#include "plat_utf8.h"

rWorkEntry* cWorkEntries::AddText(std::string_view text) {
  std::lock_guard<std::mutex> lock(mMutex);
  rWorkEntry* entry = nullptr;
  try {
    entry = Append(1);
    if (entry == nullptr) return nullptr;
    entry->kind = cnWorkText;
    entry->text.assign(text);
  } catch (...) {
    if (entry != nullptr) RemoveLast(1);
    return nullptr;
  }
  mChanged.store(true);
  return entry;
}

std::string cWorkEntries::Joined() {
  std::lock_guard<std::mutex> lock(mMutex);
  std::string joined;
  for (const rWorkEntry* e = First(); e != nullptr; e = e->next) joined += e->text;
  return joined;
}
