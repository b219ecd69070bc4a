// The install engine's bindings to the shell, the registry and security:
// shell links in the user's Programs group and on the desktop, the Uninstall
// entry, the Run value that starts the application with the session, the
// user's membership of the Administrators and Power Users aliases, and two
// special folders.
//
// Names are in the system's drive-letter form. Every operation reports
// failure only through its Boolean result or an empty text; none raises.
// The only-current flag chooses the registry root: the current user's hive
// when true, the local machine's when false.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "installs_settings.h"
#include "plat_shell_link.h"

// ---- Small helpers ----------------------------------------------------------

// True when the name exists and is not a folder.
bool shell_file_exists(const std::string& name);
// 1-based byte index of the last character of `text` that is one of the
// characters of `delimiters`, stepping through the text by UTF-8 characters
// (a byte of a longer character never matches on its own); 0 when none. NUL
// never matches.
int32_t last_delimiter(std::string_view delimiters, std::string_view text);
// The name with its extension replaced: cut before the last "." when it comes
// after the last "\" and ":", then `extension` appended.
std::string change_file_ext(std::string_view name, std::string_view extension);

// ---- Shell links ------------------------------------------------------------

// The path a saved link reports: its current file, else the link file when
// it exists, else its ".pif" twin when that exists, else the link file.
std::string shell_link_target(const plat::ShellLink& link, const std::string& link_file);

// What a link holds: its target, working folder, arguments, description and
// icon file with the icon's index.
struct rLinkFields {
  std::string target;
  std::string working_dir;
  std::string arguments;
  std::string description;
  std::string icon_file;
  int32_t icon_index = 0;
};

// Writes the link file. Each of target, working folder, arguments,
// description and icon file (with its index) is set only when it is not
// blank after trimming trailing blanks and NULs; the text set is untrimmed.
// On success `link_name` is the link file and `reported_target` its
// shell_link_target; both stay untouched on failure. A text the link cannot
// hold (not UTF-8, too long) fails the whole link.
bool shell_link_create(const std::string& link_file, const rLinkFields& fields, std::string& link_name,
                       std::string& reported_target);
// The link "<Programs>\<group>\<name>.lnk"; the group folder is created
// when missing (one level) and reused when it exists.
bool shortcut_group_create(const std::string& group, const std::string& name, const rLinkFields& fields,
                           std::string& link_name, std::string& reported_target);
// The link "<Desktop>\<name>.lnk".
bool shortcut_desktop_create(const std::string& name, const rLinkFields& fields, std::string& link_name,
                             std::string& reported_target);

// ---- Registry -----------------------------------------------------------------

// "SOFTWARE\Microsoft\Windows\CurrentVersion".
std::string windows_current_version_key();
// "CURRENT" for the current user's hive, "LOCAL" for the local machine's.
std::string hive_name(bool only_current);
// False only for the text "LOCAL" exactly.
bool hive_is_current(std::string_view text);

// The path (without a root) of an application's Uninstall key:
// windows_current_version_key + "\Uninstall\" + name.
std::string uninstall_key(std::string_view name);
// Creates (or opens) the key uninstall_key(name) and sets "UninstallString",
// "DisplayName" (the name) and "Publisher", in that order, stopping at the
// first failure; true only when all three were set. `key_path` receives the
// key's path (without a root) in any case. An empty name is refused. On a
// failure `reason`, when given, receives why (the registry's own account:
// the hive file, its line or its lock).
bool uninstall_entry_create(bool only_current, const std::string& name, const std::string& uninstall_command,
                            const std::string& publisher, std::string& key_path, std::string* reason = nullptr);

// The "UninstallString" value (that name exactly: case matters) of the key
// `key_path` under the hive of only_current, read without creating the key;
// empty when the key or the value is missing or cannot be read.
std::string uninstall_string_read(bool only_current, const std::string& key_path);
// The folder part of a command: up to and including its last "\"; empty
// when it has none.
std::string command_folder(std::string_view command);

// The Run value is gRunValuePrefix + "Korvane-Snaprill" under the existing
// key "SOFTWARE\Microsoft\Windows\CurrentVersion\Run" (never created here);
// its data is the application path in double quotes.
//
// True when the value exists with exactly that name (case matters) and its
// data equals the quoted path ignoring letter case and trailing blanks.
bool autorun_is_set(const std::string& app_path, bool only_current);
// Writes the value; true when the key opened and the write succeeded.
bool autorun_set(const std::string& app_path, bool only_current);
// Deletes the value; true when the key opened and the value is gone
// (including when it was not there).
bool autorun_remove(bool only_current);

// ---- Privilege and folders ----------------------------------------------------

// Membership of the current user in the builtin alias S-1-5-32-<rid>; true
// on a system outside the NT family.
bool user_in_group(uint32_t rid);
bool user_is_admin();       // user_in_group(544)
bool user_is_power_user();  // user_in_group(547)

// The drive part of a destination, for messages: "C:" of "C:\...", else the
// path as it stands.
std::string path_drive(const std::string& path);
// The free space for a destination, measured on the destination itself (its
// deepest existing folder answers), since the drive's root may be another
// file system than the destination's. A destination that cannot be measured
// as it stands (a level too long, a character no name may hold, a name
// longer than the host takes) is measured on its longest leading part that
// can be, down to the drive: such a name is refused when its folder is
// created, not reported as a full disk. Only a drive whose space cannot be
// read at all answers -1.
int64_t destination_free_space(const std::string& path);

// The user's local application-data folder; "" when it cannot be had.
std::string folder_local_app_data();
// The Program Files folder; "" when it cannot be had (always, on this host).
std::string folder_program_files();
