// The shell-link reader: parses a link file back into its fields, checking
// every size and offset against the bytes it has.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "plat_shell_link.h"
#include "plat_shell_link_text.h"

namespace plat {
namespace {

constexpr unsigned char kLinkClsid[16] = {0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                          0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
constexpr size_t kMaxLinkBytes = size_t(16) << 20;

class Bytes {
 public:
  Bytes(const std::string& s, size_t begin, size_t end) : s_(s), begin_(begin), end_(end) {}
  bool u16(size_t at, uint16_t& v) const {
    if (!has(at, 2)) return false;
    v = uint16_t(byte(at) | (byte(at + 1) << 8));
    return true;
  }
  bool u32(size_t at, uint32_t& v) const {
    if (!has(at, 4)) return false;
    v = 0;
    for (size_t i = 0; i < 4; ++i) v |= uint32_t(byte(at + i)) << (8 * i);
    return true;
  }
  // A NUL-terminated string of bytes starting at `at`.
  bool cstr(size_t at, std::string& out) const {
    out.clear();
    for (size_t i = at; has(i, 1); ++i) {
      if (byte(i) == 0) return true;
      out.push_back(char(byte(i)));
    }
    return false;
  }
  // A NUL-terminated UTF-16 string starting at `at`.
  bool wstr(size_t at, std::u16string& out) const {
    out.clear();
    for (size_t i = at;; i += 2) {
      uint16_t c = 0;
      if (!u16(i, c)) return false;
      if (c == 0) return true;
      out.push_back(char16_t(c));
    }
  }
  bool has(size_t at, size_t n) const { return at <= end_ - begin_ && n <= end_ - begin_ - at; }

 private:
  uint32_t byte(size_t at) const { return (unsigned char)s_[begin_ + at]; }
  const std::string& s_;
  size_t begin_, end_;
};

bool parse_link_info(const std::string& bytes, size_t at, size_t size, ShellLinkData& link, std::string& error) {
  const Bytes b(bytes, at, at + size);
  uint32_t header = 0, flags = 0, volume_at = 0, base_at = 0, suffix_at = 0;
  if (!b.u32(4, header) || !b.u32(8, flags) || !b.u32(12, volume_at) || !b.u32(16, base_at) || !b.u32(24, suffix_at) ||
      header < 0x1C || header > size) {
    error = "the link info header is cut short";
    return false;
  }
  if (flags & 1) {
    uint32_t volume_size = 0;
    if (!b.u32(volume_at, volume_size) || volume_size <= 0x10 || !b.has(volume_at, volume_size) ||
        !b.u32(volume_at + 4, link.drive_type)) {
      error = "the volume id does not fit the link info";
      return false;
    }
    if (!b.cstr(base_at, link.target_ansi)) {
      error = "the local base path does not fit the link info";
      return false;
    }
    link.target = link.target_ansi;
  }
  std::string suffix;
  if (!b.cstr(suffix_at, suffix)) {
    error = "the common path suffix does not fit the link info";
    return false;
  }
  uint32_t base_w_at = 0;
  if ((flags & 1) && header >= 0x24 && b.u32(28, base_w_at) && base_w_at != 0) {
    std::u16string wide;
    if (!b.wstr(base_w_at, wide) || !link_text::utf16_to_utf8(wide, link.target)) {
      error = "the Unicode base path is not well formed";
      return false;
    }
    link.unicode_base_path = true;
  }
  link.target += suffix;
  return true;
}

}  // namespace

bool shell_link_parse(const std::string& bytes, ShellLinkData& link, std::string& error) {
  link = ShellLinkData{};
  const Bytes b(bytes, 0, bytes.size());
  uint32_t header = 0, icon = 0;
  if (!b.u32(0, header) || header != 0x4C || bytes.size() < 0x4C) {
    error = "no link header";
    return false;
  }
  if (std::memcmp(bytes.data() + 4, kLinkClsid, sizeof kLinkClsid) != 0) {
    error = "not the link class";
    return false;
  }
  b.u32(20, link.flags);
  b.u32(24, link.attributes);
  b.u32(52, link.file_size);
  b.u32(56, icon);
  link.icon_index = int32_t(icon);
  b.u32(60, link.show_command);
  b.u16(64, link.hot_key);
  size_t pos = 0x4C;
  if (link.flags & kLinkHasIdList) {
    uint16_t n = 0;
    if (!b.u16(pos, n) || !b.has(pos + 2, n)) {
      error = "the item id list is cut short";
      return false;
    }
    pos += 2 + size_t(n);
  }
  if (link.flags & kLinkHasLinkInfo) {
    uint32_t n = 0;
    if (!b.u32(pos, n) || n < 0x1C || !b.has(pos, n)) {
      error = "the link info is cut short";
      return false;
    }
    if (!parse_link_info(bytes, pos, n, link, error)) return false;
    pos += n;
  }
  const std::pair<uint32_t, std::string*> strings[] = {{kLinkHasName, &link.description},
                                                       {kLinkHasRelativePath, &link.relative_path},
                                                       {kLinkHasWorkingDir, &link.working_dir},
                                                       {kLinkHasArguments, &link.arguments},
                                                       {kLinkHasIconLocation, &link.icon_location}};
  const bool unicode = (link.flags & kLinkIsUnicode) != 0;
  for (const auto& [flag, field] : strings) {
    if ((link.flags & flag) == 0) continue;
    uint16_t count = 0;
    const size_t unit = unicode ? 2 : 1;
    if (!b.u16(pos, count) || !b.has(pos + 2, size_t(count) * unit)) {
      error = "a string of the string data is cut short";
      return false;
    }
    pos += 2;
    if (unicode) {
      std::u16string wide;
      for (size_t i = 0; i < count; ++i, pos += 2) {
        uint16_t c = 0;
        b.u16(pos, c);
        wide.push_back(char16_t(c));
      }
      if (!link_text::utf16_to_utf8(wide, *field)) {
        error = "a string of the string data is not well formed";
        return false;
      }
    } else {
      field->assign(bytes, pos, count);
      pos += count;
    }
  }
  // Extra data blocks up to the terminal block (a size below 4).
  for (;;) {
    uint32_t n = 0;
    if (!b.u32(pos, n)) {
      error = "the terminal block is missing";
      return false;
    }
    if (n < 4) break;
    if (!b.has(pos, n)) {
      error = "an extra data block is cut short";
      return false;
    }
    pos += n;
  }
  return true;
}

bool shell_link_read(const std::string& host_file, ShellLinkData& link, std::string& error) {
  link = ShellLinkData{};
  const int fd = open(host_file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    error = "cannot open " + host_file;
    return false;
  }
  struct stat st {};
  std::string bytes;
  bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && uint64_t(st.st_size) <= kMaxLinkBytes;
  char buf[4096];
  while (ok) {
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    bytes.append(buf, size_t(n));
    ok = bytes.size() <= kMaxLinkBytes;
  }
  close(fd);
  if (!ok) {
    error = "cannot read " + host_file;
    return false;
  }
  return shell_link_parse(bytes, link, error);
}

}  // namespace plat
