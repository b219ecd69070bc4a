#include "win_interfaces.h"

#include <vector>

#include "plat_file.h"
#include "plat_path_map.h"
#include "plat_registry.h"
#include "plat_security.h"
#include "plat_shell_folders.h"
#include "plat_utf8.h"
#include "qlm_base_util.h"
#include "qlm_platform_file_io.h"

namespace {

constexpr const char* kRunValueName = "Korvane-Snaprill";

plat::RegRoot root_of(bool only_current) {
  return only_current ? plat::RegRoot::CurrentUser : plat::RegRoot::LocalMachine;
}

std::string run_key() { return "\\" + windows_current_version_key() + "\\Run"; }

std::string run_value_name() { return gRunValuePrefix + kRunValueName; }

std::string quoted(const std::string& path) { return "\"" + path + "\""; }

// The length of the character at `at`; ASCII, a byte that cannot lead a
// sequence and a sequence cut short by the end of the text or by a byte that
// cannot continue it are one byte.
size_t char_length(std::string_view text, size_t at) {
  uint32_t cp;
  const size_t n = plat::utf8_sequence(text, at, cp);
  return n == 0 ? 1 : n;
}

// True when `ch` is one of the characters of `delimiters`.
bool is_delimiter(std::string_view delimiters, std::string_view ch) {
  for (size_t i = 0; i < delimiters.size();) {
    const size_t n = char_length(delimiters, i);
    if (delimiters.substr(i, n) == ch) return true;
    i += n;
  }
  return false;
}

// The folder's path, or "" when the host cannot give it.
std::string special_folder(int32_t folder) {
  std::string win;
  return plat::special_folder_path(folder, win) == plat::kFolderOk ? win : std::string();
}

// A folder that exists or was created now (one level only).
bool folder_ready(const std::string& folder) { return plat::make_dir(folder) == plat::kFileOk; }

}  // namespace

// ---- Small helpers ----------------------------------------------------------

bool shell_file_exists(const std::string& name) { return plat::file_exists(name); }

int32_t last_delimiter(std::string_view delimiters, std::string_view text) {
  int32_t found = 0;
  for (size_t i = 0; i < text.size();) {
    const size_t n = char_length(text, i);
    if (text[i] != '\0' && is_delimiter(delimiters, text.substr(i, n))) found = int32_t(i + 1);
    i += n;
  }
  return found;
}

std::string change_file_ext(std::string_view name, std::string_view extension) {
  const int32_t at = last_delimiter(".\\:", name);
  size_t keep = name.size();
  if (at > 0 && name[size_t(at) - 1] == '.') keep = size_t(at) - 1;
  std::string out(name.substr(0, keep));
  out.append(extension);
  return out;
}

// ---- Shell links ------------------------------------------------------------

std::string shell_link_target(const plat::ShellLink& link, const std::string& link_file) {
  std::string current;
  if (link.GetCurFile(current) == plat::kHrOk && !current.empty()) return current;
  if (shell_file_exists(link_file)) return link_file;
  const std::string pif = change_file_ext(link_file, ".pif");
  if (shell_file_exists(pif)) return pif;
  return link_file;
}

bool shell_link_create(const std::string& link_file, const rLinkFields& fields, std::string& link_name,
                       std::string& reported_target) {
  auto blank = [](const std::string& text) { return string_trim_right(text).empty(); };
  plat::ShellLink link;
  if (!blank(fields.target) && link.SetPath(fields.target) != plat::kHrOk) return false;
  if (!blank(fields.working_dir) && link.SetWorkingDirectory(fields.working_dir) != plat::kHrOk) return false;
  if (!blank(fields.arguments) && link.SetArguments(fields.arguments) != plat::kHrOk) return false;
  if (!blank(fields.description) && link.SetDescription(fields.description) != plat::kHrOk) return false;
  if (!blank(fields.icon_file) && link.SetIconLocation(fields.icon_file, fields.icon_index) != plat::kHrOk)
    return false;
  if (link.Save(link_file, true) != plat::kHrOk) return false;
  link_name = link_file;
  reported_target = shell_link_target(link, link_file);
  return true;
}

bool shortcut_group_create(const std::string& group, const std::string& name, const rLinkFields& fields,
                           std::string& link_name, std::string& reported_target) {
  const std::string programs = special_folder(plat::kFolderPrograms);
  if (programs.empty()) return false;
  const std::string folder = programs + "\\" + group;
  if (!folder_ready(folder)) return false;
  return shell_link_create(string_add_backslash(folder) + name + ".lnk", fields, link_name, reported_target);
}

bool shortcut_desktop_create(const std::string& name, const rLinkFields& fields, std::string& link_name,
                             std::string& reported_target) {
  const std::string desktop = special_folder(plat::kFolderDesktopDirectory);
  if (desktop.empty() || !folder_ready(desktop)) return false;
  return shell_link_create(string_add_backslash(desktop) + name + ".lnk", fields, link_name, reported_target);
}

// ---- Registry -----------------------------------------------------------------

std::string windows_current_version_key() { return "SOFTWARE\\Microsoft\\Windows\\CurrentVersion"; }

std::string uninstall_key(std::string_view name) {
  return windows_current_version_key() + "\\Uninstall\\" + std::string(name);
}

std::string hive_name(bool only_current) { return only_current ? "CURRENT" : "LOCAL"; }

bool hive_is_current(std::string_view text) { return text != "LOCAL"; }

bool uninstall_entry_create(bool only_current, const std::string& name, const std::string& uninstall_command,
                            const std::string& publisher, std::string& key_path, std::string* reason) {
  key_path = uninstall_key(name);
  auto failed = [reason](std::string why) {
    if (reason != nullptr) *reason = std::move(why);
    return false;
  };
  // An empty name would make the path end in "\" and name the Uninstall key
  // itself.
  if (name.empty()) return failed("no name for the key");
  plat::RegKey key;
  if (plat::reg_create_key(root_of(only_current), key_path, key) != plat::kRegOk)
    return failed(plat::reg_last_error_detail());
  const bool done = plat::reg_set_string(key, "UninstallString", uninstall_command) == plat::kRegOk &&
                    plat::reg_set_string(key, "DisplayName", name) == plat::kRegOk &&
                    plat::reg_set_string(key, "Publisher", publisher) == plat::kRegOk;
  plat::reg_close_key(key);
  return done || failed(plat::reg_last_error_detail());
}

std::string uninstall_string_read(bool only_current, const std::string& key_path) {
  plat::RegKey key;
  std::string uninstall;
  if (plat::reg_open_key(root_of(only_current), key_path, key) == plat::kRegOk) {
    std::vector<std::string> names;
    bool found = false;
    if (plat::reg_enum_values(key, names) == plat::kRegOk)
      for (const std::string& n : names)
        if (n == "UninstallString") found = plat::reg_query_string(key, n, uninstall) == plat::kRegOk;
    plat::reg_close_key(key);
    if (!found) uninstall.clear();
  }
  return uninstall;
}

std::string command_folder(std::string_view command) {
  const size_t cut = command.find_last_of('\\');
  return cut == std::string_view::npos ? std::string() : std::string(command.substr(0, cut + 1));
}

bool autorun_is_set(const std::string& app_path, bool only_current) {
  plat::RegKey key;
  if (plat::reg_open_key(root_of(only_current), run_key(), key) != plat::kRegOk) return false;
  bool is_set = false;
  std::vector<std::string> names;
  const std::string wanted = run_value_name();
  if (plat::reg_enum_values(key, names) == plat::kRegOk) {
    for (const std::string& value_name : names) {
      if (value_name != wanted) continue;
      std::string data;
      is_set = plat::reg_query_string(key, value_name, data) == plat::kRegOk &&
               string_trim_upper(data) == string_trim_upper(quoted(app_path));
      break;
    }
  }
  plat::reg_close_key(key);
  return is_set;
}

bool autorun_set(const std::string& app_path, bool only_current) {
  plat::RegKey key;
  if (plat::reg_open_key(root_of(only_current), run_key(), key) != plat::kRegOk) return false;
  const bool done = plat::reg_set_string(key, run_value_name(), string_trim(quoted(app_path))) == plat::kRegOk;
  plat::reg_close_key(key);
  return done;
}

bool autorun_remove(bool only_current) {
  plat::RegKey key;
  if (plat::reg_open_key(root_of(only_current), run_key(), key) != plat::kRegOk) return false;
  const int32_t code = plat::reg_delete_value(key, run_value_name());
  plat::reg_close_key(key);
  return code == plat::kRegOk || code == plat::kRegNotFound;
}

// ---- Privilege and folders ----------------------------------------------------

bool user_in_group(uint32_t rid) {
  if (plat::platform_version().platform_id != plat::kPlatformWin32NT) return true;
  return plat::token_in_builtin_alias(rid);
}

bool user_is_admin() { return user_in_group(plat::kAliasAdministrators); }

bool user_is_power_user() { return user_in_group(plat::kAliasPowerUsers); }

std::string path_drive(const std::string& path) {
  if (path.size() >= 2 && path[1] == ':') return path.substr(0, 2);
  return path;
}

int64_t destination_free_space(const std::string& path) {
  const int64_t whole = disk_free_space(path);
  if (whole >= 0) return whole;
  if (path.size() < 3 || path[1] != ':' || (path[2] != '\\' && path[2] != '/')) return whole;
  // The leading levels that a host name can hold, each ending a candidate.
  constexpr size_t kHostPathMax = 4095;
  std::vector<std::string> candidates{path.substr(0, 3)};
  std::string prefix = candidates.back();
  for (size_t at = 3; at < path.size();) {
    size_t end = path.find_first_of("\\/", at);
    if (end == std::string::npos) end = path.size();
    const std::string_view level(path.data() + at, end - at);
    if (!level.empty()) {
      if (!plat::name_level_valid(level) || prefix.size() + level.size() + 1 > kHostPathMax) break;
      prefix.append(level);
      prefix += '\\';
      candidates.push_back(prefix);
    }
    at = end + 1;
  }
  for (auto it = candidates.rbegin(); it != candidates.rend(); ++it)
    if (const int64_t free = disk_free_space(*it); free >= 0) return free;
  return -1;
}

std::string folder_local_app_data() { return special_folder(plat::kFolderLocalAppData); }

std::string folder_program_files() { return special_folder(plat::kFolderProgramFiles); }
