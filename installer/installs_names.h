// The rules that an install-container entry's name and path follow, shared
// by the container reader and the container builder in tools/ (header only,
// so that the builder needs no installer library).
//
// Every target the installer writes is the destination folder + path + name,
// so these rules are what keeps an entry inside the destination folder: a
// name is one plain component, a path is a run of plain components each
// followed by "\".
#pragma once

#include <string_view>

// A control character (0-31, 127): never part of a name or a path, since
// neither the file system nor the manifest's quoted values take them safely.
inline bool inst_char_is_control(unsigned char c) { return c < 0x20 || c == 0x7F; }

// One plain component: not empty, not "." or "..", no "\", "/" or ":" (no
// drive, no separator on either system) and no control character. Bytes
// from 128 on (UTF-8) are allowed.
inline bool inst_name_valid(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return false;
  for (char ch : name) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (c == '\\' || c == '/' || c == ':' || inst_char_is_control(c)) return false;
  }
  return true;
}

// A folder below the destination: empty (the destination itself), or plain
// components each followed by "\" ("Images\", "a\b\"). A leading "\" (an
// empty first component) is an absolute path and fails.
inline bool inst_path_valid(std::string_view path) {
  if (path.empty()) return true;
  if (path.back() != '\\') return false;
  size_t start = 0;
  while (start < path.size()) {
    const size_t end = path.find('\\', start);
    if (!inst_name_valid(path.substr(start, end - start))) return false;
    start = end + 1;
  }
  return true;
}
