// Host file services behind the file layer: opening, transferring,
// positioning and truncating files; existence tests; folder creation and
// removal; a directory search with attributes and times; the free space
// under a path; the current folder; and a recursive delete that stays inside
// its tree.
//
// Every name is a Windows name; plat_path_map turns it into a host path.
// Failures answer a code numbered as the system's own error codes (see
// error_code_of); nothing raises.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace plat {

// Codes of host failures (errno mapped, see error_code_of).
constexpr int32_t kFileOk = 0;
constexpr int32_t kFileErrNotFound = 2;      // ENOENT
constexpr int32_t kFileErrPathNotFound = 3;  // ENOTDIR, or a name that cannot be mapped
constexpr int32_t kFileErrTooManyOpen = 4;   // EMFILE, ENFILE
constexpr int32_t kFileErrAccess = 5;        // EACCES, EPERM, EROFS, ETXTBSY, EISDIR, ENXIO, not a regular file
constexpr int32_t kFileErrBadDrive = 15;     // a drive other than C:, a network name
constexpr int32_t kFileErrExists = 80;       // EEXIST
constexpr int32_t kFileErrRead = 100;        // a read ended before the count
constexpr int32_t kFileErrWrite = 101;       // ENOSPC, EDQUOT, EFBIG; a write ended before the count
constexpr int32_t kFileErrNotEmpty = 145;    // ENOTEMPTY, EEXIST from rmdir
constexpr int32_t kFileErrOther = 258;       // anything else

// The code of an errno value.
int32_t error_code_of(int err);

// Access of open_file: 1 read only, 2 write only, anything else both.
// Opens an existing regular file (O_CLOEXEC; a FIFO or device is refused
// with kFileErrAccess without blocking). Answers the descriptor, or -1 with
// the code in `error`.
int open_file(std::string_view win, int32_t access, int32_t& error);
// Creates a regular file for reading and writing: with `truncate` an
// existing file is cut to length 0, otherwise an existing name is refused
// atomically (O_EXCL) with kFileErrExists. Mode 0666 less the umask; a name
// ending in ".exe" (any case) gets 0777 less the umask.
int create_file(std::string_view win, bool truncate, int32_t& error);
// The mode a new file of that name gets (before the umask): 0777 for a name
// ending in ".exe" (any case), 0666 otherwise.
mode_t new_file_mode(std::string_view name);
// Closes the descriptor; the code of a failed close (the descriptor is
// released either way).
int32_t close_file(int fd);

// Transfers exactly `count` bytes at the current position (read) or at
// `pos` (the _at forms, which leave the position alone); retries after
// EINTR and partial transfers. `done` receives the bytes moved. A read that
// meets the end answers kFileErrRead; a write that stops early answers
// kFileErrWrite.
int32_t read_full(int fd, void* buffer, int64_t count, int64_t& done);
int32_t write_full(int fd, const void* buffer, int64_t count, int64_t& done);
int32_t read_at(int fd, int64_t pos, void* buffer, int64_t count, int64_t& done);
int32_t write_at(int fd, int64_t pos, const void* buffer, int64_t count, int64_t& done);

// Test seam: the k-th write_at from now (1 = the next one) writes half of
// its bytes and then fails with kFileErrWrite; 0 switches the seam off.
// Only tests call it.
void write_at_fail_at(int64_t k);

// Size, position, positioning and truncation of an open descriptor.
int32_t file_size_of(int fd, int64_t& size);
int32_t file_position(int fd, int64_t& pos);
int32_t file_set_position(int fd, int64_t pos);
int32_t file_truncate(int fd, int64_t size);

// Flushes the file's data to the disk (fsync).
int32_t sync_file(int fd);
// Renames `from` over `to` in one step (an existing `to` is replaced; a
// folder in either place is refused), then syncs the folder of `to` so the
// new name survives a crash.
int32_t replace_file(std::string_view from, std::string_view to);

// Deletes a file (a folder is refused with kFileErrAccess).
int32_t remove_file(std::string_view win);
// A file of that name exists (anything but a folder); false on any failure.
bool file_exists(std::string_view win);
// A folder of that name exists; false on any failure.
bool dir_exists(std::string_view win);
// Creates one folder (mode 0777 less the umask); an existing folder of that
// name counts as created by someone else: kFileOk.
int32_t make_dir(std::string_view win);
// Removes one empty folder.
int32_t remove_dir(std::string_view win);
// Makes the folder the current folder of the process.
int32_t set_current_dir(std::string_view win);

// Free bytes the user may use (f_bavail) on the file system of the deepest
// existing folder of the path; -1 when the path cannot be mapped or no
// level of it can be asked.
int64_t free_space(std::string_view win);

// One entry of a directory search.
struct DirEntry {
  std::string name;         // the entry's own name, bytes as stored
  bool is_dir = false;      // a folder (a symbolic link never is)
  uint16_t attributes = 0;  // 2 read-only, 4 hidden, 32 folder, 1024 normal
  uint64_t size = 0;
  uint64_t created = 0;  // file times: 100 ns since 1 January 1601, UTC
  uint64_t written = 0;
  uint64_t accessed = 0;
};

// A search over the entries of one folder that match the last level of a
// pattern ("*" any run, "?" one character, "*.*" everything; bytes compared
// exactly). "." and ".." are skipped, and so is an entry whose name cannot
// be written as a Windows name. Symbolic links are reported as what they
// are, never as their targets. The order is the host's.
class DirSearch {
 public:
  DirSearch() = default;
  DirSearch(const DirSearch&) = delete;
  DirSearch& operator=(const DirSearch&) = delete;
  ~DirSearch();

  // Starts on the pattern; kFileErrNotFound when the folder has no match.
  int32_t Start(std::string_view win_pattern, DirEntry& first);
  // The next entry; false at the end.
  bool Next(DirEntry& entry);
  void Stop();

 private:
  bool Fill(DirEntry& entry);
  void* mDir = nullptr;  // DIR*
  std::string mMask;
};

// Matches a name against a Windows wildcard mask (exposed for tests).
bool wildcard_match(std::string_view mask, std::string_view name);

// Outcome of remove_tree.
struct TreeRemoval {
  int32_t code = kFileOk;
  // Where it failed: 0 nowhere, 1 deleting a file of the top folder, 2 inside
  // a subfolder, 3 the top folder itself (opening, reading or removing it).
  int32_t stage = 0;
};

// Removes the folder and everything in it. A symbolic link is removed as a
// link, never followed; an entry whose name cannot be written as a Windows
// name is left where it is (so its folder stays and the removal fails);
// every other entry is removed even after a failure, and the first failure
// is reported;
// the walk goes through descriptors (openat with O_NOFOLLOW, unlinkat), so
// a folder renamed meanwhile cannot redirect it. The folder itself must not
// be a symbolic link.
TreeRemoval remove_tree(std::string_view win);

}  // namespace plat
