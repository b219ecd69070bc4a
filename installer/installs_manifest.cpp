// The uninstall manifest's lines and its writing.
#include "installs_manifest.h"

#include <unistd.h>

#include <atomic>
#include <cstring>

#include "kvn_crypt.h"
#include "plat_file.h"
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

namespace {
std::atomic<uint64_t> g_temp_counter{0};
}

int32_t file_replace_atomic(std::string_view target, const void* data, int64_t size) {
  if (size < 0 || (data == nullptr && size > 0)) return 2;
  // The temporary file sits in the target's folder (so the rename stays on
  // one file system) and keeps the target's name at its end, so that it gets
  // the same mode (an ".exe" is made executable).
  const size_t cut = target.find_last_of('\\');
  const std::string folder(target.substr(0, cut == std::string_view::npos ? 0 : cut + 1));
  const std::string name(target.substr(cut == std::string_view::npos ? 0 : cut + 1));
  const std::string temp = folder + ".~" + std::to_string(getpid()) + "-" +
                           std::to_string(g_temp_counter.fetch_add(1)) + "-" + name;
  int32_t error = 0;
  const int fd = plat::create_file(temp, false, error);
  if (fd < 0) return 1;
  int64_t done = 0;
  bool ok = plat::write_full(fd, data, size, done) == plat::kFileOk && plat::sync_file(fd) == plat::kFileOk;
  ok = plat::close_file(fd) == plat::kFileOk && ok;
  ok = ok && plat::replace_file(temp, target) == plat::kFileOk;
  if (!ok) {
    plat::remove_file(temp);
    return 2;
  }
  return 0;
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
