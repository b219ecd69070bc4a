// The registry store: string values under keys, kept in one text file per
// hive in the registry export format.
//
// The current user's hive is "$XDG_CONFIG_HOME/korvane-registry/
// HKEY_CURRENT_USER.reg" (XDG_CONFIG_HOME defaults to ~/.config); the local
// machine's hive is "/etc/korvane-registry/HKEY_LOCAL_MACHINE.reg", which
// only root can write. Every operation reads the hive afresh; every change
// rewrites it atomically through plat_durable.h (temporary file, fsync,
// rename, fsync of the folder) while holding an exclusive flock on the sidecar "<hive>.lock", so
// concurrent writers in several processes never lose each other's updates.
// A change waits at most kRegLockWaitMs for a lock another process holds.
//
// Key paths are backslash-separated, relative to the hive's root; one
// leading backslash is accepted. Key and value names compare ignoring ASCII
// case and keep the case they were created with. A value name may hold a
// backslash; the empty value name is the key's default value. Names and data
// may not hold control characters (NUL included).
//
// Results are the Windows error codes below. A hive file that cannot be
// parsed is never overwritten: every operation on it answers kRegCorrupt and
// reg_last_error_detail() names the file, the line and the fault.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace plat {

enum class RegRoot : uint8_t { CurrentUser, LocalMachine };

constexpr int32_t kRegOk = 0;                 // ERROR_SUCCESS
constexpr int32_t kRegNotFound = 2;           // ERROR_FILE_NOT_FOUND: no such key or value
constexpr int32_t kRegPathNotFound = 3;       // ERROR_PATH_NOT_FOUND: no folder for the hive
constexpr int32_t kRegAccessDenied = 5;       // ERROR_ACCESS_DENIED
constexpr int32_t kRegInvalidHandle = 6;      // ERROR_INVALID_HANDLE: the key is not open
constexpr int32_t kRegInvalidParameter = 87;  // ERROR_INVALID_PARAMETER
constexpr int32_t kRegCorrupt = 1009;         // ERROR_BADDB: the hive file cannot be parsed
constexpr int32_t kRegIoFailed = 1016;        // ERROR_REGISTRY_IO_FAILED: reading or writing failed
constexpr int32_t kRegKeyDeleted = 1018;      // ERROR_KEY_DELETED: the open key is gone

// The deepest key a hive holds, counted in names below the hive's root (the
// limit of the Windows registry). A hive with a deeper key is corrupt, and
// creating one is refused with kRegInvalidParameter.
constexpr size_t kRegMaxKeyDepth = 512;
// How long a change waits for the hive's lock while another process holds
// it; then it fails with kRegIoFailed and reg_last_error_detail() says so.
constexpr int32_t kRegLockWaitMs = 10000;

// An open key: the hive and the key's path with its stored case.
struct RegKey {
  RegRoot root = RegRoot::CurrentUser;
  std::string path;
  bool open = false;
};

// Creates the key (and missing parents) or opens it when it exists;
// `created` (optional) tells which.
int32_t reg_create_key(RegRoot root, std::string_view path, RegKey& key, bool* created = nullptr);
// Opens an existing key; kRegNotFound when it does not exist.
int32_t reg_open_key(RegRoot root, std::string_view path, RegKey& key);
void reg_close_key(RegKey& key);

// Sets a string value, creating or replacing it (a replaced value keeps the
// case of its stored name).
int32_t reg_set_string(const RegKey& key, std::string_view name, std::string_view data);
// Reads a string value; kRegNotFound when there is none.
int32_t reg_query_string(const RegKey& key, std::string_view name, std::string& data);
// The names of the key's values and of its direct subkeys, in stored order
// and stored case.
int32_t reg_enum_values(const RegKey& key, std::vector<std::string>& names);
int32_t reg_enum_subkeys(const RegKey& key, std::vector<std::string>& names);
// Deletes a value; kRegNotFound when there is none.
int32_t reg_delete_value(const RegKey& key, std::string_view name);
// Deletes a key that has no subkeys; kRegAccessDenied when it has some,
// kRegInvalidParameter for the hive's root.
int32_t reg_delete_key(RegRoot root, std::string_view path);

// Host path of a hive's file.
std::string reg_hive_file(RegRoot root);
// The hive's name as it heads its sections: "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE".
const char* reg_root_name(RegRoot root);
// What went wrong in this thread's last failed operation (file, line, cause).
std::string reg_last_error_detail();

// Parses hive text as every operation reads a hive file and writes it back
// as a change would store it (`canonical`). kRegCorrupt for text the reader
// refuses; kRegIoFailed when the written hive would pass the largest size
// the reader takes. For tests and fuzzing.
int32_t reg_parse_hive(RegRoot root, std::string_view text, std::string& canonical);

// Test seam: the wait for another process's hive lock (negative restores
// kRegLockWaitMs).
void reg_set_lock_wait_ms(int32_t ms);
// Test seam: the folder of the local machine's hive ("" restores the default).
void reg_set_machine_folder(const std::string& folder);

}  // namespace plat
