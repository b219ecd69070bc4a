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

std::string markup_escape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '~') {
      out += "~(~)";
      ++i;
    } else if (c >= 0x20 && c < 0x7F) {
      out += char(c);
      ++i;
    } else {
      uint32_t cp = c;
      size_t n = c >= 0x80 ? plat::utf8_decode(text, i, cp) : 0;
      if (n == 0) {
        cp = c;
        n = 1;
      }
      out += "~(%" + std::to_string(cp) + ")";
      i += n;
    }
  }
  return out;
}
