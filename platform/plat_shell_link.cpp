#include "plat_shell_link.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <vector>

#include "plat_durable.h"
#include "plat_shell_link_text.h"

namespace plat {
namespace {

std::atomic<LinkPathMapper> g_mapper{nullptr};

// The link class identifier 00021401-0000-0000-C000-000000000046 as stored.
constexpr unsigned char kLinkClsid[16] = {0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                          0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
constexpr uint32_t kHeaderSize = 0x4C;
constexpr uint32_t kDriveFixed = 3;
constexpr uint32_t kAttrDirectory = 0x10;
constexpr uint32_t kAttrArchive = 0x20;

void put16(std::string& out, uint16_t v) {
  out.push_back(char(v & 0xFF));
  out.push_back(char(v >> 8));
}

void put32(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(char((v >> (8 * i)) & 0xFF));
}

void set32(std::string& out, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) out[at + size_t(i)] = char((v >> (8 * i)) & 0xFF);
}

// A text as a setter takes it: cut at the first NUL, UTF-8, not too long.
bool accept_text(const std::string& in, std::string& out) {
  const std::string text = in.substr(0, in.find('\0'));
  std::u16string wide;
  if (!link_text::utf8_to_utf16(text, wide) || wide.size() > kLinkMaxText) return false;
  out = text;
  return true;
}

bool map_name(const std::string& name, std::string& host) {
  const LinkPathMapper mapper = g_mapper.load();
  if (mapper == nullptr) {
    host = name;
    return true;
  }
  return mapper(name, host);
}

char lower(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

bool drive_absolute(const std::string& s) {
  return s.size() >= 3 && ((s[0] >= 'A' && s[0] <= 'Z') || (s[0] >= 'a' && s[0] <= 'z')) && s[1] == ':' && s[2] == '\\';
}

std::vector<std::string> split(const std::string& path) {
  std::vector<std::string> parts;
  size_t start = 3;
  while (start <= path.size()) {
    const size_t end = std::min(path.find('\\', start), path.size());
    if (end > start) parts.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

bool same_name(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (lower(a[i]) != lower(b[i])) return false;
  return true;
}

// The target relative to the link's folder ("..\x\app.exe", ".\app.exe"),
// or "" when they are not on the same drive.
std::string relative_path(const std::string& link_file, const std::string& target) {
  if (!drive_absolute(link_file) || !drive_absolute(target) || lower(link_file[0]) != lower(target[0])) return {};
  std::vector<std::string> from = split(link_file);
  const std::vector<std::string> to = split(target);
  if (from.empty() || to.empty()) return {};
  from.pop_back();  // the link's own name
  size_t common = 0;
  while (common < from.size() && common + 1 < to.size() && same_name(from[common], to[common])) ++common;
  std::string rel;
  for (size_t i = common; i < from.size(); ++i) rel += "..\\";
  if (rel.empty()) rel = ".\\";
  for (size_t i = common; i < to.size(); ++i) {
    rel += to[i];
    if (i + 1 < to.size()) rel.push_back('\\');
  }
  return rel;
}

void put_string_data(std::string& out, const std::string& text) {
  std::u16string wide;
  link_text::utf8_to_utf16(text, wide);  // checked by the setter
  put16(out, uint16_t(wide.size()));
  for (char16_t c : wide) put16(out, uint16_t(c));
}

// LinkInfo with a fixed-drive volume and the target as local base path.
std::string link_info(const std::string& target) {
  bool ascii = true;
  for (unsigned char c : target) ascii = ascii && c < 0x80;
  std::u16string wide;
  link_text::utf8_to_utf16(target, wide);
  // The code-page variant: one '?' for every character beyond ASCII.
  std::string ansi;
  for (size_t i = 0; i < wide.size(); ++i) {
    const char16_t c = wide[i];
    if (c >= 0xDC00 && c <= 0xDFFF) continue;  // second half of a pair
    ansi.push_back(c < 0x80 ? char(c) : '?');
  }
  const uint32_t header = ascii ? 0x1C : 0x24;
  std::string volume;
  put32(volume, 0x11);         // VolumeIDSize
  put32(volume, kDriveFixed);  // DriveType
  put32(volume, 0);            // DriveSerialNumber
  put32(volume, 0x10);         // VolumeLabelOffset
  volume.push_back('\0');      // empty label

  const uint32_t volume_at = header;
  const uint32_t base_at = volume_at + uint32_t(volume.size());
  const uint32_t suffix_at = base_at + uint32_t(ansi.size()) + 1;
  const uint32_t base_w_at = suffix_at + 1;
  const uint32_t suffix_w_at = base_w_at + 2 * (uint32_t(wide.size()) + 1);

  std::string out;
  put32(out, 0);  // LinkInfoSize, set below
  put32(out, header);
  put32(out, 1);  // VolumeIDAndLocalBasePath
  put32(out, volume_at);
  put32(out, base_at);
  put32(out, 0);  // no network link
  put32(out, suffix_at);
  if (!ascii) {
    put32(out, base_w_at);
    put32(out, suffix_w_at);
  }
  out += volume;
  out += ansi;
  out.push_back('\0');
  out.push_back('\0');  // empty common path suffix
  if (!ascii) {
    for (char16_t c : wide) put16(out, uint16_t(c));
    put16(out, 0);
    put16(out, 0);  // empty Unicode suffix
  }
  set32(out, 0, uint32_t(out.size()));
  return out;
}

int32_t hresult_of_errno(int err) {
  switch (err) {
    case ENOENT:
    case ENOTDIR: return kHrPathNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR: return kHrAccessDenied;
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return kHrDiskFull;
    default: return kHrFail;
  }
}

}  // namespace

void shell_link_set_path_mapper(LinkPathMapper mapper) { g_mapper.store(mapper); }

int32_t ShellLink::SetPath(const std::string& target) { return accept_text(target, path_) ? kHrOk : kHrInvalidArg; }

int32_t ShellLink::SetWorkingDirectory(const std::string& folder) {
  return accept_text(folder, working_dir_) ? kHrOk : kHrInvalidArg;
}

int32_t ShellLink::SetArguments(const std::string& arguments) {
  return accept_text(arguments, arguments_) ? kHrOk : kHrInvalidArg;
}

int32_t ShellLink::SetDescription(const std::string& description) {
  return accept_text(description, description_) ? kHrOk : kHrInvalidArg;
}

int32_t ShellLink::SetIconLocation(const std::string& icon_file, int32_t index) {
  if (!accept_text(icon_file, icon_file_)) return kHrInvalidArg;
  icon_index_ = index;
  return kHrOk;
}

int32_t ShellLink::SetShowCmd(int32_t show) {
  if (show != kShowNormal && show != kShowMaximized && show != kShowMinNoActive) return kHrInvalidArg;
  show_ = show;
  return kHrOk;
}

int32_t ShellLink::GetCurFile(std::string& file) const {
  file = cur_file_;
  return cur_file_.empty() ? kHrFalse : kHrOk;
}

int32_t ShellLink::Save(const std::string& file, bool remember) {
  // Only the texts stored inside the link must be UTF-8: the link's own
  // name is a file name and passes through as bytes.
  std::string host;
  if (file.empty() || file.find('\0') != std::string::npos) return kHrInvalidArg;
  if (!map_name(file, host) || host.empty()) return kHrPathNotFound;

  const std::string relative = path_.empty() ? std::string() : relative_path(file, path_);
  uint32_t flags = kLinkIsUnicode;
  if (!path_.empty()) flags |= kLinkHasLinkInfo;
  if (!description_.empty()) flags |= kLinkHasName;
  if (!relative.empty()) flags |= kLinkHasRelativePath;
  if (!working_dir_.empty()) flags |= kLinkHasWorkingDir;
  if (!arguments_.empty()) flags |= kLinkHasArguments;
  if (!icon_file_.empty()) flags |= kLinkHasIconLocation;

  // The target's attributes and size, when the host can see it.
  uint32_t attributes = 0, size = 0;
  std::string target_host;
  struct stat st {};
  if (!path_.empty() && map_name(path_, target_host) && stat(target_host.c_str(), &st) == 0) {
    attributes = S_ISDIR(st.st_mode) ? kAttrDirectory : kAttrArchive;
    if (!S_ISDIR(st.st_mode)) size = uint32_t(uint64_t(st.st_size) & 0xFFFFFFFFu);
  }

  std::string out;
  put32(out, kHeaderSize);
  out.append(reinterpret_cast<const char*>(kLinkClsid), sizeof kLinkClsid);
  put32(out, flags);
  put32(out, attributes);
  out.append(24, '\0');  // creation, access and write times
  put32(out, size);
  put32(out, uint32_t(icon_index_));
  put32(out, uint32_t(show_));
  put16(out, 0);         // hot key
  out.append(10, '\0');  // reserved
  if (flags & kLinkHasLinkInfo) out += link_info(path_);
  if (flags & kLinkHasName) put_string_data(out, description_);
  if (flags & kLinkHasRelativePath) put_string_data(out, relative);
  if (flags & kLinkHasWorkingDir) put_string_data(out, working_dir_);
  if (flags & kLinkHasArguments) put_string_data(out, arguments_);
  if (flags & kLinkHasIconLocation) put_string_data(out, icon_file_);
  put32(out, 0);  // terminal block

  // Written beside the link under a short temporary name, then renamed over
  // it, and the folder synced; what a killed earlier save left there goes.
  const size_t slash = host.rfind('/');
  durable_remove_stale(slash == std::string::npos ? "." : slash == 0 ? "/" : host.substr(0, slash));
  DurableFailure failure;
  if (!durable_replace(host, out.data(), int64_t(out.size()), 0666, failure)) return hresult_of_errno(failure.err);
  if (remember) cur_file_ = file;
  return kHrOk;
}

}  // namespace plat
