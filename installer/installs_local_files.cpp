// Reading an existing installation's uninstall manifest.
#include "installs_local_files.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "installs_manifest.h"
#include "installs_names.h"
#include "installs_settings.h"
#include "kvn_crypt.h"
#include "plat_shell_link_text.h"
#include "qlm_base_flow.h"
#include "qlm_base_util.h"
#include "qlm_parser_vormcode.h"
#include "qlm_parser_vormcode_queries.h"
#include "qlm_platform_file_flow.h"
#include "win_interfaces.h"

rLocalFile* cLocalFiles::Add(uint8_t kind, std::string_view value, bool current) {
  rLocalFile* e = nullptr;
  mIndexed = UINT32_MAX;
  try {
    e = Append(1);
    if (e == nullptr) return nullptr;
    e->kind = kind;
    e->value.assign(value);
    e->current = current;
    return e;
  } catch (...) {
    if (e != nullptr) RemoveLast(1);
    return nullptr;
  }
}

rLocalFile* cLocalFiles::Find(uint8_t kind, std::string_view value) const {
  try {
    if (mIndexed != Count()) {
      mIndex.clear();
      for (rLocalFile* e = First(); e != nullptr; e = e->next)
        mIndex[char(e->kind) + string_trim_upper(e->value)].push_back(e);
      mIndexed = Count();
    }
    const auto it = mIndex.find(char(kind) + string_trim_upper(value));
    if (it == mIndex.end()) return nullptr;
    for (rLocalFile* e : it->second)
      if (e->active && !e->excluded) return e;
    return nullptr;
  } catch (...) {
    // Without memory for the index: the plain walk.
    mIndex.clear();
    mIndexed = UINT32_MAX;
    const std::string wanted = string_trim_upper(value);
    for (rLocalFile* e = First(); e != nullptr; e = e->next)
      if (e->active && !e->excluded && e->kind == kind && string_trim_upper(e->value) == wanted) return e;
    return nullptr;
  }
}

namespace {

struct rItemKey {
  const char* name;
  uint8_t kind;
};
constexpr rItemKey kItemKeys[] = {{"ext", cnLocalExt},   {"file", cnLocalFile},   {"path", cnLocalPath},
                                  {"link", cnLocalLink}, {"group", cnLocalGroup}};
constexpr const char* kYesNoOptions[] = {"DesktopIcon", "OnlyCurrent", "IsPowerUser"};

// One item as read, before the whole section proved sound.
struct rReadItem {
  uint8_t kind;
  std::string value;
  bool current;
};

// What a section holds when every token is sound.
struct rSection {
  std::vector<rReadItem> items;
  bool has_desktop_icon = false;
  bool desktop_icon = false;
};

// A property as the writer makes it: a plain name, no type, no variable.
bool plain_property(const rTCProperty* p) { return p != nullptr && p->type == nullptr && p->variable == 0; }

// A quoted value as the writer makes it: UTF-8 text, not empty, without
// control characters. The cipher garbles a damaged block into random bytes;
// where such a block falls inside a value (or swallows the end of one tag
// and the start of the next), these rules are what tells it apart from a
// name, since random bytes are almost never UTF-8.
bool item_text(const rTCProperty* p, std::string& text) {
  if (!plain_property(p) || p->value.kind != ET_TEXT || !tblocks_property_text(p, text) || text.empty())
    return false;
  for (char c : text)
    if (inst_char_is_control(static_cast<unsigned char>(c))) return false;
  std::u16string wide;
  return plat::link_text::utf8_to_utf16(text, wide);
}

// A bare word, compared as the queries compare names.
bool bare_word(const rTCProperty* p, std::string& word) {
  if (!plain_property(p) || p->value.kind != ET_ID || !tblocks_property_text(p, word)) return false;
  word = string_trim_upper(word);
  return true;
}

// The number of properties of a tag token.
int32_t property_count(const rTCToken* token) {
  int32_t n = 0;
  for (const rTCProperty* p = token->Properties()->First(); p != nullptr; p = p->next) ++n;
  return n;
}

// One tag of the section: an item, a reg item with its hive, or an option.
// False for anything the writer does not make.
bool take_tag(rSection& section, const rTCToken* token) {
  if (token->partner != nullptr || token->Properties() == nullptr) return false;
  const int32_t count = property_count(token);
  const rTCProperty* p = nullptr;
  std::string text;
  for (const rItemKey& key : kItemKeys) {
    if (!tblocks_find_property(token, key.name, p)) continue;
    if (count != 1 || !item_text(p, text)) return false;
    section.items.push_back({key.kind, std::move(text), false});
    return true;
  }
  if (tblocks_find_property(token, "reg", p)) {
    const rTCProperty* hk = nullptr;
    std::string hive;
    if (count != 2 || !item_text(p, text) || !tblocks_find_property(token, "hk", hk) || !bare_word(hk, hive) ||
        (hive != "CURRENT" && hive != "LOCAL"))
      return false;
    std::string stored;
    tblocks_property_text(hk, stored);
    section.items.push_back({cnLocalReg, std::move(text), hive_is_current(stored)});
    return true;
  }
  for (const char* option : kYesNoOptions) {
    if (!tblocks_find_property(token, option, p)) continue;
    std::string word;
    if (count != 1 || !bare_word(p, word) || (word != "YES" && word != "NO")) return false;
    if (string_trim_upper(option) == "DESKTOPICON") {
      section.has_desktop_icon = true;
      section.desktop_icon = word == "YES";
    }
    return true;
  }
  // The main program's path (never empty in a manifest the engine wrote,
  // but nothing depends on it).
  if (tblocks_find_property(token, "Application", p))
    return count == 1 && plain_property(p) && p->value.kind == ET_TEXT && tblocks_property_text(p, text);
  return false;
}

// Reads the section from the token after its header up to its closing.
// False when the closing is missing or any token between is not one the
// writer makes: blanks, CR LF line ends and the tags above.
bool take_section(rSection& section, const rTCToken* t, const rTCMatch& match) {
  for (; t != nullptr; t = t->next) {
    switch (t->kind) {
      case TCT_SPACE: break;
      case TCT_CONTROL:
        if (t->Control() == nullptr || t->Control()->kind != cnControlCRLF) return false;
        break;
      case TCT_PROPERTIES:
        if (!take_tag(section, t)) return false;
        break;
      default:
        return tblocks_is_closing(t, &match);
    }
  }
  return false;
}

}  // namespace

bool local_files_parse(cLocalFiles* list, const void* data, int64_t size) {
  if (list == nullptr || data == nullptr || size <= 0 || size > INT32_MAX) return false;
  // A check line that does not match the text is a damaged manifest, even
  // where the damage still parses.
  if (manifest_check(std::string_view(static_cast<const char*>(data), size_t(size))) < 0) return false;
  try {
    std::unique_ptr<cMemoryFlow> flow = cMemoryFlow::ConstructReadOnly(true, data, size);
    std::unique_ptr<cParserVormCode> parser = cParserVormCode::Construct(false);
    if (parser == nullptr) return false;
    // The manifest is the engine's own text and grows with the installation:
    // a line costs the parser about 1,100 bytes, 75 per byte of the shortest
    // line the writer makes, so a large installation passes the default
    // budget. The budget grows with the text instead, still linear in it.
    parser->SetBudget(std::max(cnVormCodeDefaultBudget, uint64_t(size) * cnManifestParseBytesPerByte));
    if (flow == nullptr || !flow->Open() || !parser->OpenFlow(flow.get(), nullptr)) return false;
    rTCMatch match;
    const rTCToken* t = parser->FirstToken();
    while (t != nullptr && !tblocks_is_section(t, "application", "uninstall", &match)) t = t->next;
    if (t == nullptr) return false;
    rSection section;
    if (!take_section(section, t->next, match)) return false;
    // The list changes only once the whole section proved sound.
    const uint32_t before = list->Count();
    for (rReadItem& item : section.items) {
      if (list->Add(item.kind, item.value, item.current) == nullptr) {
        list->RemoveLast(list->Count() - before);
        return false;
      }
    }
    if (section.has_desktop_icon) gDesktopIcon = section.desktop_icon;
    return true;
  } catch (...) {
    return false;
  }
}

bool local_files_load(cLocalFiles* list, std::string_view folder) {
  if (list == nullptr) return false;
  void* buffer = nullptr;
  bool loaded = false;
  try {
    cFileFlow file(string_add_backslash(folder) + std::string(cnManifestFileName), 1);
    if (file.Open()) {
      const int64_t size = file.Size();
      if (size > 0 && size <= INT32_MAX && mem_alloc(buffer, size)) {
        const bool read = file.Read(buffer, int32_t(size)) && file.LastIO() == uint32_t(size);
        file.Close();
        loaded = read && crypt_decrypt_buffer(buffer, size, manifest_passphrase()) &&
                 local_files_parse(list, buffer, size);
      }
    }
  } catch (...) {
    loaded = false;
  }
  mem_free(buffer);
  return loaded;
}
