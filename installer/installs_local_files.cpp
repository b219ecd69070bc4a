// Reading an existing installation's uninstall manifest.
#include "installs_local_files.h"

#include <memory>

#include "installs_manifest.h"
#include "installs_settings.h"
#include "kvn_crypt.h"
#include "qlm_base_flow.h"
#include "qlm_base_util.h"
#include "qlm_parser_vormcode.h"
#include "qlm_parser_vormcode_queries.h"
#include "qlm_platform_file_flow.h"
#include "win_interfaces.h"

rLocalFile* cLocalFiles::Add(uint8_t kind, std::string_view value, bool current) {
  rLocalFile* e = nullptr;
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
  const std::string wanted = string_trim_upper(value);
  for (rLocalFile* e = First(); e != nullptr; e = e->next)
    if (e->active && !e->excluded && e->kind == kind && string_trim_upper(e->value) == wanted) return e;
  return nullptr;
}

namespace {

struct rItemKey {
  const char* name;
  uint8_t kind;
};
constexpr rItemKey kItemKeys[] = {{"ext", cnLocalExt},   {"file", cnLocalFile},   {"path", cnLocalPath},
                                  {"link", cnLocalLink}, {"group", cnLocalGroup}};

// One token inside the section; false when it closes the section.
bool take_token(cLocalFiles& list, const rTCToken* token, const rTCMatch& match) {
  const rTCProperty* p = nullptr;
  std::string text;
  for (const rItemKey& key : kItemKeys) {
    if (!tblocks_find_property(token, key.name, p)) continue;
    if (tblocks_property_text(p, text) && list.Add(key.kind, text, false) == nullptr)
      raise_base_error(errNEnoughMem, "{cLocalFiles.Add}");
    return true;
  }
  if (tblocks_find_property(token, "reg", p)) {
    const rTCProperty* hk = nullptr;
    std::string hive;
    if (tblocks_property_text(p, text) && tblocks_find_property(token, "hk", hk) &&
        tblocks_property_text(hk, hive) && list.Add(cnLocalReg, text, hive_is_current(hive)) == nullptr)
      raise_base_error(errNEnoughMem, "{cLocalFiles.Add}");
    return true;
  }
  if (tblocks_find_property(token, "DesktopIcon", p)) {
    bool value = false;
    if (tblocks_property_yesno(p, value)) gDesktopIcon = value;
    return true;
  }
  return !tblocks_is_closing(token, &match);
}

}  // namespace

bool local_files_parse(cLocalFiles* list, const void* data, int64_t size) {
  if (list == nullptr || data == nullptr || size <= 0 || size > INT32_MAX) return false;
  try {
    std::unique_ptr<cMemoryFlow> flow = cMemoryFlow::ConstructReadOnly(true, data, size);
    std::unique_ptr<cParserVormCode> parser = cParserVormCode::Construct(false);
    if (flow == nullptr || !flow->Open() || parser == nullptr || !parser->OpenFlow(flow.get(), nullptr)) return false;
    bool in_section = false;
    rTCMatch match;
    for (const rTCToken* t = parser->FirstToken(); t != nullptr; t = t->next) {
      if (!in_section) {
        in_section = tblocks_is_section(t, "application", "uninstall", &match);
      } else if (!take_token(*list, t, match)) {
        break;
      }
    }
    return in_section;
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
