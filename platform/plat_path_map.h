// The one place where a Windows path name becomes a host path and back.
//
// The drive C: is the host root: "C:\home\u\x" is "/home/u/x". "C:rest" is
// relative to the current folder, "\rest" is rooted, "C:" alone is the
// current folder. Other drive letters and network names (\\host\share,
// \\?\UNC\...) are refused, never turned into relative paths. Both "\" and
// "/" separate levels. Everything else passes byte for byte: no case folding,
// no collapsing of "." or "..", no stripping of trailing dots or blanks.
//
// A host name that cannot be written as a Windows name (one of its levels
// holds "\", ":", "<", ">", "\"", "|", "?", "*" or a byte below 32) cannot be
// reached: from_posix refuses it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace plat {

// Codes of the refusals, numbered as the system's own error codes.
constexpr int32_t kPathOk = 0;
// A name the host cannot take: empty, or holding a character Windows refuses.
constexpr int32_t kPathErrNotFound = 3;
// A drive other than C:, or a network name.
constexpr int32_t kPathErrBadDrive = 15;

enum class PathUse {
  Name,     // a file or folder name: "?" and "*" are refused
  Pattern,  // a search pattern: "?" and "*" are allowed in the last level
};

// Longest level (one file or folder name) the host takes, in bytes.
constexpr size_t kNameMax = 255;

// A character no level of a name may hold: a byte below 32, ":", "<", ">",
// "\"" or "|" ("?" and "*" are wildcards, see name_char_wildcard).
bool name_char_refused(char c);
bool name_char_wildcard(char c);

// One level that the mapping accepts and the host can create: not empty,
// not "." or "..", at most kNameMax bytes, no separator ("\" or "/"), no
// refused character and no wildcard. The rule that every writer of names
// (the install container's builder and reader among them) checks against.
bool name_level_valid(std::string_view level);

// Maps a Windows name to a host path. Answers kPathOk and sets `host`, or a
// refusal code and leaves `host` empty.
int32_t to_posix(std::string_view win, std::string& host, PathUse use = PathUse::Name);

// Maps an absolute host path to its Windows form ("/" is "C:\", "/a/b" is
// "C:\a\b"); repeated "/" count as one. Answers false and leaves `win` empty
// when the path is not absolute or a level cannot be written as a Windows name.
bool from_posix(std::string_view host, std::string& win);

// The process's current folder in Windows form, ending without "\" except
// for the root "C:\"; empty when it cannot be had or cannot be written as a
// Windows name.
std::string current_dir();

}  // namespace plat
