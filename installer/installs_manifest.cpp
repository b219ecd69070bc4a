// The uninstall manifest's lines and its writing.
#include "installs_manifest.h"

#include <cstring>

#include "kvn_crypt.h"
#include "plat_durable.h"
#include "plat_file.h"
#include "plat_path_map.h"
#include "qlm_base_util.h"
#include "win_interfaces.h"

std::string manifest_quote(std::string_view value) {
  std::string out = "\"";
  for (char c : value) {
    out += c;
    if (c == '"') out += '"';
  }
  out += '"';
  return out;
}

std::string manifest_item_line(std::string_view key, std::string_view value) {
  return "  ~<" + std::string(key) + "=" + manifest_quote(value) + ">";
}

std::string manifest_reg_line(std::string_view key_path, bool current) {
  return "  ~<reg=" + manifest_quote(key_path) + ";hk=" + hive_name(current) + ">";
}

std::string manifest_option_line(std::string_view key, bool value) {
  return "  ~<" + std::string(key) + "=" + bool_to_str(value, 8) + ">";
}

std::string manifest_option_line(std::string_view key, std::string_view value) {
  return "  ~<" + std::string(key) + "=" + manifest_quote(value) + ">";
}

int32_t file_replace_atomic(std::string_view target, const void* data, int64_t size) {
  if (size < 0 || (data == nullptr && size > 0)) return 2;
  std::string host;
  if (plat::to_posix(target, host) != plat::kPathOk) return 1;
  plat::DurableFailure failure;
  if (plat::durable_replace(host, data, size, plat::new_file_mode(target), failure)) return 0;
  return failure.stage == plat::DurableStage::Create ? 1 : 2;
}

int32_t manifest_write(std::string_view folder, std::string_view text) {
  if (text.empty()) return 2;
  void* buffer = nullptr;
  if (!mem_alloc(buffer, int64_t(text.size()))) return 1;
  std::memcpy(buffer, text.data(), text.size());
  int32_t result = 0;
  if (!crypt_encrypt_buffer(buffer, int64_t(text.size()), manifest_passphrase())) {
    result = 2;
  } else {
    const std::string target = string_add_backslash(folder) + std::string(cnManifestFileName);
    const int32_t written = file_replace_atomic(target, buffer, int64_t(text.size()));
    result = written == 0 ? 0 : written + 2;
  }
  mem_free(buffer);
  return result;
}
