#include "plat_path_map.h"

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <vector>

namespace plat {
namespace {

bool is_separator(char c) { return c == '\\' || c == '/'; }

bool is_ascii_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

bool is_refused(char c) { return name_char_refused(c); }

bool is_wildcard(char c) { return name_char_wildcard(c); }

constexpr std::string_view kLongPrefix = "\\\\?\\";

}  // namespace

// Characters Windows refuses in every level of a name. "?" and "*" are
// handled apart because a search pattern may hold them.
bool name_char_refused(char c) {
  const unsigned char u = static_cast<unsigned char>(c);
  return u < 32 || c == ':' || c == '<' || c == '>' || c == '"' || c == '|';
}

bool name_char_wildcard(char c) { return c == '?' || c == '*'; }

bool name_level_valid(std::string_view level) {
  if (level.empty() || level.size() > kNameMax || level == "." || level == "..") return false;
  for (char c : level)
    if (is_separator(c) || name_char_refused(c) || name_char_wildcard(c)) return false;
  return true;
}

int32_t to_posix(std::string_view win, std::string& host, PathUse use) {
  host.clear();
  std::string_view s = win;
  const bool long_form = s.starts_with(kLongPrefix);
  if (long_form) s.remove_prefix(kLongPrefix.size());
  if (s.empty()) return kPathErrNotFound;
  // Two leading separators start a network or device name.
  if (s.size() >= 2 && is_separator(s[0]) && is_separator(s[1])) return kPathErrBadDrive;
  // After the long prefix, "UNC\" names a network share.
  if (long_form && s.size() >= 3 && (s[0] == 'U' || s[0] == 'u') && (s[1] == 'N' || s[1] == 'n') &&
      (s[2] == 'C' || s[2] == 'c') && (s.size() == 3 || is_separator(s[3])))
    return kPathErrBadDrive;

  std::string out;
  if (s.size() >= 2 && s[1] == ':' && is_ascii_letter(s[0])) {
    if (s[0] != 'C' && s[0] != 'c') return kPathErrBadDrive;
    s.remove_prefix(2);
    // "C:" alone is the current folder; "C:rest" is relative to it.
    if (s.empty()) {
      host.assign(1, '.');
      return kPathOk;
    }
  }
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    if (is_separator(c)) {
      out.push_back('/');
      continue;
    }
    if (is_refused(c)) return kPathErrNotFound;
    if (is_wildcard(c)) {
      // Wildcards only in the last level of a pattern.
      if (use != PathUse::Pattern) return kPathErrNotFound;
      for (size_t j = i + 1; j < s.size(); ++j)
        if (is_separator(s[j])) return kPathErrNotFound;
    }
    out.push_back(c);
  }
  host = std::move(out);
  return kPathOk;
}

bool from_posix(std::string_view host, std::string& win) {
  win.clear();
  if (host.empty() || host[0] != '/') return false;
  std::string out = "C:";
  bool any_level = false;
  size_t i = 0;
  while (i < host.size()) {
    while (i < host.size() && host[i] == '/') ++i;
    if (i == host.size()) break;
    const size_t start = i;
    while (i < host.size() && host[i] != '/') {
      const char c = host[i];
      if (c == '\\' || is_refused(c) || is_wildcard(c)) return false;
      ++i;
    }
    out.push_back('\\');
    out.append(host.substr(start, i - start));
    any_level = true;
  }
  // The root, and a path that ends in "/", end in "\".
  if (!any_level || host.back() == '/') out.push_back('\\');
  win = std::move(out);
  return true;
}

std::string current_dir() {
  std::vector<char> buf(PATH_MAX);
  for (;;) {
    if (getcwd(buf.data(), buf.size()) != nullptr) break;
    if (errno != ERANGE || buf.size() > (size_t(1) << 20)) return {};
    buf.resize(buf.size() * 2);
  }
  std::string win;
  if (!from_posix(std::string_view(buf.data()), win)) return {};
  return win;
}

}  // namespace plat
