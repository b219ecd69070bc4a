// Durable replacement of files: the one routine through which the installed
// files, the uninstall manifest, the registry hives, the link files and the
// printed PDF files reach the disk.
//
// A replacement writes the new bytes to a temporary file beside the target,
// makes them durable, renames the temporary file over the target and syncs
// the folder, so that a crash at any point leaves the target wholly old or
// wholly new. A batch does the same for many files with one sync for all of
// them: every file is written to its temporary name first, then the file
// system is synced once (syncfs; an fsync of each file where that fails),
// then every temporary file is renamed over its target in the order of
// staging, and then every folder touched is synced once.
//
// Temporary names are ".~kvn<ns>-<pid>-<n>-" followed by the end of the
// target's own name, cut so that the whole name stays within kNameMax bytes
// (the end keeps the extension, which decides a file's mode elsewhere). <ns>
// is the writer's process-id namespace, <pid> its process id, <n> a counter.
// A run killed before its renames leaves such files behind; the sweep
// (durable_remove_stale) removes only what this writer can have made: names
// of that pattern, regular files (never through a link) of this user, whose
// writer provably ended (a process of this namespace that no longer exists)
// or, for writers it cannot ask, older than kDurableStaleSeconds. A file of
// another user or program that merely looks alike ("~/Desktop/.~12-1-x")
// is never touched.
//
// Names here are host paths. Failures carry the errno value and the stage.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace plat {

// Where a replacement failed.
enum class DurableStage : uint8_t {
  None,    // no failure
  Create,  // the temporary file could not be created
  Write,   // writing it failed (ENOSPC, EFBIG under a file-size limit, ...)
  Sync,    // making it durable failed
  Rename,  // putting it in place failed (the target is a folder, ...)
  Folder,  // the folder could not be synced after the rename
};

struct DurableFailure {
  DurableStage stage = DurableStage::None;
  int err = 0;         // errno; EIO for a write that stopped without one
  std::string target;  // the target of the failed step (a folder for Folder)
  int64_t item = -1;   // in a batch: the staging index of that target
};

// What marks a temporary name of this writer.
inline constexpr std::string_view kDurableTempMarker = ".~kvn";
// A temporary file whose writer cannot be asked (another process-id
// namespace) is taken as left behind once it is older than this: a writer
// renames its files within seconds, never a day.
inline constexpr int64_t kDurableStaleSeconds = 24 * 60 * 60;

// The parts of a temporary name.
struct DurableTempName {
  uint64_t pid_namespace = 0;  // 0: the writer's namespace was unknown
  pid_t pid = 0;
  uint64_t number = 0;
  size_t tail = 0;  // where the end of the target's name starts
};

// The temporary name for a replacement of the target (same folder).
std::string durable_temp_name(std::string_view host_target);
// The start of a temporary name for process `pid` of this process's
// namespace and counter value `number` (the target's name follows it).
std::string durable_temp_prefix(pid_t pid, uint64_t number);
// True when the level name has the temporary pattern; its parts.
bool durable_temp_parse(std::string_view name, DurableTempName& temp);
// True when the level name has the temporary pattern; its process id.
bool durable_temp_pid(std::string_view name, pid_t& pid);
// Removes from the folder the temporary files this writer left behind, as
// said above (a running process, this one included, keeps its files).
// Answers how many were removed; a folder that cannot be read gives 0.
int32_t durable_remove_stale(std::string_view host_folder);
// The same for the temporary files of one target only: those whose name
// durable_temp_name could have made for it (its folder, the end of its
// name). Answers how many were removed.
int32_t durable_remove_stale_of(std::string_view host_target);

// A set of replacements made durable together.
class DurableBatch {
 public:
  DurableBatch() = default;
  DurableBatch(const DurableBatch&) = delete;
  DurableBatch& operator=(const DurableBatch&) = delete;
  // Removes every temporary file that was not renamed.
  ~DurableBatch();

  // Writes the bytes to a new temporary file beside the target, with the
  // mode (less the umask). Nothing is synced or renamed yet. False on a
  // failure (see Failure); the temporary file is removed again.
  bool Stage(std::string_view host_target, const void* data, int64_t size, mode_t mode);
  // A folder whose entries Commit must sync too (the parent of a folder
  // made for the staged files, so that the new folder itself survives).
  void SyncFolder(std::string_view host_folder);
  // Syncs every staged file, renames each over its target and syncs each
  // folder once (those given to SyncFolder included). False on the first failure: the files renamed before it
  // are new, the others stay old and their temporary files are removed.
  bool Commit();
  // Removes every temporary file that was not renamed.
  void Abandon();
  size_t Staged() const { return mItems.size(); }
  const DurableFailure& Failure() const { return mFailure; }

 private:
  struct Item {
    std::string temp, target;
  };
  bool Fail(DurableStage stage, int err, const std::string& target, int64_t item);
  std::vector<Item> mItems;
  std::vector<std::string> mFolders;  // from SyncFolder
  DurableFailure mFailure;
};

// One replacement whose bytes arrive in pieces (a document its producer
// streams out page by page). Open creates the temporary file beside the
// target, Write appends to it, Commit syncs it, renames it over the target
// and syncs the folder. The target is untouched until that rename: a failed
// step, Abandon and the destructor remove the temporary file and leave the
// target as it was. Failures name the target, for the folder stage too.
class DurableFile {
 public:
  DurableFile() = default;
  DurableFile(const DurableFile&) = delete;
  DurableFile& operator=(const DurableFile&) = delete;
  ~DurableFile() { Abandon(); }

  // Creates the temporary file with the mode (less the umask); a file still
  // open from before is abandoned first.
  bool Open(std::string_view host_target, mode_t mode);
  // Appends the bytes; false (and the file abandoned) on a failure or when
  // no file is open.
  bool Write(const void* data, int64_t size);
  // Puts the file in place; afterwards no file is open, whatever the answer.
  bool Commit();
  // Closes and removes the temporary file, if any.
  void Abandon();
  bool IsOpen() const { return mFd >= 0; }
  const DurableFailure& Failure() const { return mFailure; }

 private:
  bool Fail(DurableStage stage, int err);
  int mFd = -1;
  std::string mTemp, mTarget;
  DurableFailure mFailure;
};

// One replacement: a DurableFile written at once.
bool durable_replace(std::string_view host_target, const void* data, int64_t size, mode_t mode,
                     DurableFailure& failure);

}  // namespace plat
