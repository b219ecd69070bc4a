// The rules that an install-container entry's name and path follow, shared
// by the container reader and the container builder in tools/ (header only,
// so that the builder needs no installer library). A level is valid when
// the platform's own name rule (plat::name_level_valid, the rule its path
// mapping applies) takes it, so a container that passes the check pass
// holds no name that the platform would refuse half-way through the
// extraction.
//
// Every target the installer writes is the destination folder + path + name,
// so these rules are what keeps an entry inside the destination folder: a
// name is one plain component, a path is a run of plain components each
// followed by "\".
#pragma once

#include <string>
#include <string_view>

#include "installs_manifest.h"
#include "plat_path_map.h"
#include "plat_shell_link_text.h"

// A control character (0-31, 127): never part of a name or a path, since
// neither the file system nor the manifest's quoted values take them safely.
inline bool inst_char_is_control(unsigned char c) { return c < 0x20 || c == 0x7F; }

// One plain component the platform can create (plat::name_level_valid: not
// empty, not "." or "..", at most 255 bytes, none of \ / : < > " | ? * and
// no byte below 32), without DEL, and UTF-8: the names go into the
// manifest, whose reader takes no control character and nothing but UTF-8
// in a value (installs_local_files.h), so an installation's own names never
// make its manifest unreadable.
inline bool inst_name_valid(std::string_view name) {
  if (!plat::name_level_valid(name)) return false;
  for (char ch : name)
    if (inst_char_is_control(static_cast<unsigned char>(ch))) return false;
  std::u16string wide;
  return plat::link_text::utf8_to_utf16(std::string(name), wide);
}

// Longest relative name (path and name together) of an entry: no host
// takes a longer path, whatever the destination (PATH_MAX, with its NUL).
inline constexpr size_t cnInstRelativeMax = 4095;

// A folder below the destination: empty (the destination itself), or plain
// components each followed by "\" ("Images\", "a\b\"), at most
// cnInstRelativeMax bytes. A leading "\" (an empty first component) is an
// absolute path and fails.
inline bool inst_path_valid(std::string_view path) {
  if (path.empty()) return true;
  if (path.size() > cnInstRelativeMax) return false;
  if (path.back() != '\\') return false;
  size_t start = 0;
  while (start < path.size()) {
    const size_t end = path.find('\\', start);
    if (!inst_name_valid(path.substr(start, end - start))) return false;
    start = end + 1;
  }
  return true;
}

// True when a folder below the destination takes the manifest's own name
// at its first level ("uninstall.config\", "uninstall.config\a\"): the
// manifest could then never be written there.
// The manifest's journal beside it is the engine's too.
inline bool inst_engine_name(std::string_view name) { return name == cnManifestFileName || name == cnJournalFileName; }
inline bool inst_path_takes_manifest(std::string_view path) {
  return !path.empty() && inst_engine_name(path.substr(0, path.find('\\')));
}

// A folder entry's folder: valid, and not in the manifest's place.
inline bool inst_folder_valid(std::string_view path) {
  return inst_path_valid(path) && !inst_path_takes_manifest(path);
}

// A file's name in its folder: both valid, and together at most
// cnInstRelativeMax bytes. The manifest's own name in the destination
// itself belongs to the engine, as a file or as a folder: a file of that
// name would be put in place with the other files, before the manifest is
// written, and a run that failed or was killed in between would leave the
// container's file as the manifest; a folder of that name (made for a file
// below it) would stop every run at the manifest's writing.
inline bool inst_file_valid(std::string_view name, std::string_view path) {
  if (path.empty() ? inst_engine_name(name) : inst_path_takes_manifest(path)) return false;
  return inst_name_valid(name) && inst_path_valid(path) && name.size() + path.size() <= cnInstRelativeMax;
}
