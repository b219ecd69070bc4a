#include "plat_shell_folders.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string_view>
#include <vector>

#include "plat_path_map.h"

namespace plat {
namespace {

// An absolute path from the environment, or "" when unset, empty or relative.
std::string absolute_env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && value[0] == '/' ? std::string(value) : std::string();
}

std::string home_folder() {
  std::string home = absolute_env("HOME");
  if (!home.empty()) return home;
  std::vector<char> buf(4096);
  passwd pw{};
  passwd* found = nullptr;
  if (getpwuid_r(geteuid(), &pw, buf.data(), buf.size(), &found) == 0 && found != nullptr && pw.pw_dir != nullptr &&
      pw.pw_dir[0] == '/')
    return pw.pw_dir;
  return {};
}

// Drops trailing "/" (the root stays "/").
std::string without_trailing_slash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::string data_home() {
  std::string data = absolute_env("XDG_DATA_HOME");
  if (!data.empty()) return data;
  const std::string home = home_folder();
  return home.empty() ? std::string() : home + "/.local/share";
}

std::string config_home() {
  std::string config = absolute_env("XDG_CONFIG_HOME");
  if (!config.empty()) return config;
  const std::string home = home_folder();
  return home.empty() ? std::string() : home + "/.config";
}

// One line of user-dirs.dirs: `XDG_DESKTOP_DIR="$HOME/Desktop"` or an
// absolute path in the quotes, a backslash escaping the next character.
// Answers false for any other line; `value` is the path with "$HOME"
// replaced.
bool desktop_line(std::string_view line, const std::string& home, std::string& value) {
  size_t i = 0;
  auto skip_blanks = [&] {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
  };
  skip_blanks();
  constexpr std::string_view kKey = "XDG_DESKTOP_DIR";
  if (line.substr(i, kKey.size()) != kKey) return false;
  i += kKey.size();
  skip_blanks();
  if (i >= line.size() || line[i] != '=') return false;
  ++i;
  skip_blanks();
  if (i >= line.size() || line[i] != '"') return false;
  ++i;
  std::string text;
  bool closed = false;
  while (i < line.size()) {
    char c = line[i++];
    if (c == '"') {
      closed = true;
      break;
    }
    if (c == '\\' && i < line.size()) c = line[i++];
    text.push_back(c);
  }
  if (!closed) return false;
  constexpr std::string_view kHome = "$HOME";
  if (text.compare(0, kHome.size(), kHome) == 0) {
    const std::string rest = text.substr(kHome.size());
    if (!rest.empty() && rest[0] != '/') return false;
    if (home.empty()) return false;
    value = home + rest;
  } else if (!text.empty() && text[0] == '/') {
    value = text;
  } else {
    return false;
  }
  return true;
}

std::string desktop_folder() {
  const std::string home = home_folder();
  std::string desktop = home.empty() ? std::string() : home + "/Desktop";
  const std::string config = config_home();
  if (config.empty()) return desktop;
  std::ifstream in(config + "/user-dirs.dirs", std::ios::binary);
  const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  user_dirs_desktop(text, home, desktop);
  return desktop;
}

// mkdir -p with mode 0700 for the levels it creates.
bool make_folders(const std::string& folder) {
  for (size_t i = 1; i <= folder.size(); ++i) {
    if (i < folder.size() && folder[i] != '/') continue;
    const std::string part = folder.substr(0, i);
    if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  struct stat st {};
  return stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

bool user_dirs_desktop(std::string_view text, const std::string& home, std::string& desktop) {
  bool found = false;
  std::string value;
  // The last valid line wins, as with a shell reading the file.
  while (!text.empty()) {
    const size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (desktop_line(line, home, value)) {
      desktop = value;
      found = true;
    }
  }
  return found;
}

std::string special_folder_host_path(int32_t folder) {
  std::string host;
  switch (folder) {
    case kFolderLocalAppData: host = data_home(); break;
    case kFolderPrograms:
      host = data_home();
      if (!host.empty()) host += "/applications";
      break;
    case kFolderDesktopDirectory: host = desktop_folder(); break;
    default: return {};
  }
  return host.empty() ? host : without_trailing_slash(host);
}

int32_t special_folder_path(int32_t folder, std::string& win) {
  win.clear();
  if (folder != kFolderLocalAppData && folder != kFolderPrograms && folder != kFolderDesktopDirectory)
    return kFolderNone;
  const std::string host = special_folder_host_path(folder);
  if (host.empty() || !make_folders(host)) return kFolderUnusable;
  std::string mapped;
  if (!from_posix(host, mapped)) return kFolderUnusable;
  win = std::move(mapped);
  return kFolderOk;
}

}  // namespace plat
