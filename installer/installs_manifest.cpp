// The uninstall manifest's lines and its writing.
#include "installs_manifest.h"

#include <cstring>

#include "kvn_crypt.h"
#include "plat_durable.h"
#include "plat_file.h"
#include "plat_path_map.h"
#include "qlm_base_crc.h"
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

std::string crc_hex(std::string_view text) {
  const uint32_t crc = ~crc32_update(0xFFFFFFFFu, text.data(), int32_t(text.size()));
  static const char kDigits[] = "0123456789ABCDEF";
  std::string hex(8, '0');
  for (int i = 0; i < 8; ++i) hex[size_t(i)] = kDigits[(crc >> (28 - 4 * i)) & 15];
  return hex;
}

}  // namespace

std::string manifest_check_line(std::string_view text_before) {
  return std::string(cnManifestCheckTag) + crc_hex(text_before) + "\">";
}

int32_t manifest_check(std::string_view text) {
  if (text.size() > size_t(INT32_MAX)) return -1;
  // The last line, with or without its CR LF, must be the whole check line
  // and start right after a CR LF.
  std::string_view body = text;
  if (body.size() >= 2 && body.substr(body.size() - 2) == "\r\n") body.remove_suffix(2);
  const size_t line_size = cnManifestCheckTag.size() + 8 + 2;
  if (body.size() < line_size + 2) return 0;
  const size_t at = body.size() - line_size;
  const std::string_view line = body.substr(at);
  if (body.substr(at - 2, 2) != "\r\n" || line.substr(0, cnManifestCheckTag.size()) != cnManifestCheckTag ||
      line.substr(line.size() - 2) != "\">")
    return 0;
  const std::string_view hex = line.substr(cnManifestCheckTag.size(), 8);
  for (char c : hex)
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return 0;
  return hex == crc_hex(text.substr(0, at)) ? 1 : -1;
}

int32_t file_replace_atomic(std::string_view target, const void* data, int64_t size, int* err) {
  if (size < 0 || (data == nullptr && size > 0)) return 2;
  std::string host;
  if (plat::to_posix(target, host) != plat::kPathOk) return 1;
  // What an earlier write of this file left when it was killed halfway goes
  // first (only temporary files of ended processes).
  plat::durable_remove_stale_of(host);
  plat::DurableFailure failure;
  if (plat::durable_replace(host, data, size, plat::new_file_mode(target), failure)) return 0;
  if (err != nullptr) *err = failure.err;
  return failure.stage == plat::DurableStage::Create ? 1 : 2;
}

int32_t manifest_write(std::string_view folder, std::string_view text, int* err) {
  if (text.empty()) return 2;
  void* buffer = nullptr;
  if (!mem_alloc(buffer, int64_t(text.size()))) return 1;
  std::memcpy(buffer, text.data(), text.size());
  int32_t result = 0;
  if (!crypt_encrypt_buffer(buffer, int64_t(text.size()), manifest_passphrase())) {
    result = 2;
  } else {
    const std::string target = string_add_backslash(folder) + std::string(cnManifestFileName);
    const int32_t written = file_replace_atomic(target, buffer, int64_t(text.size()), err);
    result = written == 0 ? 0 : written + 2;
  }
  mem_free(buffer);
  return result;
}

cInstallJournal::cInstallJournal(std::string_view folder)
    : mFile(string_add_backslash(folder) + std::string(cnJournalFileName)) {}

cInstallJournal::~cInstallJournal() {
  if (mFd >= 0) plat::close_file(mFd);
}

bool cInstallJournal::Append(std::string_view line) {
  if (mBroken) return false;
  int32_t error = 0;
  if (mFd < 0) {
    // An earlier run's journal is kept and added to; a line it left
    // without its end (killed while appending) is ended first.
    mFd = plat::create_file(mFile, false, error);
    if (mFd < 0 && error == plat::kFileErrExists) mFd = plat::open_file(mFile, 2, error);
    if (mFd < 0 || plat::file_size_of(mFd, mEnd) != plat::kFileOk) {
      mBroken = true;
      return false;
    }
  }
  std::string bytes = mEnd > 0 && !mOpened ? "\r\n" : "";
  bytes.append(line).append("\r\n");
  mOpened = true;
  int64_t done = 0;
  if (plat::write_at(mFd, mEnd, bytes.data(), int64_t(bytes.size()), done) != plat::kFileOk ||
      plat::sync_file(mFd) != plat::kFileOk) {
    mBroken = true;
    return false;
  }
  mEnd += done;
  return true;
}

void cInstallJournal::Remove() {
  if (mFd >= 0) plat::close_file(mFd);
  mFd = -1;
  mBroken = true;
  plat::remove_file(mFile);
}
