#include "plat_durable.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <ctime>
#include <set>

#include "plat_path_map.h"

namespace plat {
namespace {

std::atomic<uint64_t> g_temp_counter{0};

std::string folder_of(std::string_view host) {
  const size_t slash = host.rfind('/');
  if (slash == std::string_view::npos) return ".";
  if (slash == 0) return "/";
  return std::string(host.substr(0, slash));
}

int sync_fd(int fd) {
  for (;;) {
    if (fsync(fd) == 0) return 0;
    if (errno != EINTR) return errno;
  }
}

// Syncs a folder; 0 or the errno.
int sync_folder(const std::string& folder) {
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return errno;
  const int err = sync_fd(fd);
  close(fd);
  return err;
}

// Writes everything; 0 or the errno (EIO when a write moved nothing).
int write_all(int fd, const void* data, int64_t size) {
  const char* p = static_cast<const char*>(data);
  int64_t done = 0;
  while (done < size) {
    const int64_t chunk = std::min<int64_t>(size - done, int64_t(1) << 30);
    const ssize_t n = write(fd, p + done, size_t(chunk));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) return EIO;
    done += n;
  }
  return 0;
}

// Creates a new temporary file for the target; its descriptor, or -1 with
// errno set. An ended earlier process with this process's id (ids are
// reused) may have left a file of the same name: that file is never
// written over, the next number is taken instead.
int create_temp(std::string_view host_target, mode_t mode, std::string& temp) {
  for (int attempt = 0; attempt < 1000; ++attempt) {
    temp = durable_temp_name(host_target);
    const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;  // errno is EEXIST
}

bool all_digits(std::string_view s) {
  if (s.empty() || s.size() > 19) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

// The process-id namespace this process lives in (the inode of
// /proc/self/ns/pid), 0 where it cannot be read. Two processes with the same
// process id in different namespaces are different processes.
uint64_t own_pid_namespace() {
  static const uint64_t ns = [] {
    struct stat st {};
    return stat("/proc/self/ns/pid", &st) == 0 ? uint64_t(st.st_ino) : uint64_t(0);
  }();
  return ns;
}

// Reads "<marker><ns>-<pid>-<n>-<tail>": its numbers and where the tail starts.
bool parse_temp_name(std::string_view name, DurableTempName& out) {
  if (!name.starts_with(kDurableTempMarker)) return false;
  size_t at = kDurableTempMarker.size();
  std::string_view field[3];
  for (std::string_view& f : field) {
    const size_t dash = name.find('-', at);
    if (dash == std::string_view::npos) return false;
    f = name.substr(at, dash - at);
    if (!all_digits(f)) return false;
    at = dash + 1;
  }
  uint64_t value[3] = {};
  for (int i = 0; i < 3; ++i)
    if (std::from_chars(field[i].data(), field[i].data() + field[i].size(), value[i]).ec != std::errc{}) return false;
  if (value[1] == 0 || value[1] > uint64_t(INT32_MAX)) return false;
  out.pid_namespace = value[0];
  out.pid = pid_t(value[1]);
  out.number = value[2];
  out.tail = at;
  return true;
}

// True when a temporary name whose prefix is `prefix_size` bytes long, with
// the tail `tail`, was made for a target named `target_name`: the tail is
// the end of that name that durable_temp_name keeps.
bool temp_of(std::string_view tail, size_t prefix_size, std::string_view target_name) {
  const size_t room = kNameMax > prefix_size ? kNameMax - prefix_size : 0;
  return tail == (target_name.size() <= room ? target_name : target_name.substr(target_name.size() - room));
}

// True when the writer of a temporary file has provably ended: a process of
// this namespace that no longer exists. A writer in another namespace (a
// sandboxed copy of the program sharing the folder) cannot be asked; its
// files go only once they are older than kDurableStaleSeconds.
bool writer_ended(const DurableTempName& temp, const struct stat& st) {
  if (temp.pid_namespace != 0 && temp.pid_namespace == own_pid_namespace()) {
    if (temp.pid == getpid()) return false;
    if (kill(temp.pid, 0) != 0 && errno == ESRCH) return true;
  }
  struct timespec now {};
  clock_gettime(CLOCK_REALTIME, &now);
  return now.tv_sec - st.st_mtim.tv_sec > kDurableStaleSeconds;
}

// Removes from the folder the temporary files this program's writer left
// (of the target named `target_name` only, when it is given): files of the
// marked pattern, regular (never a link), owned by this user, whose writer
// has ended.
int32_t remove_stale(std::string_view host_folder, std::string_view target_name) {
  const std::string folder(host_folder.empty() ? "." : host_folder);
  const int dfd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd < 0) return 0;
  DIR* dir = fdopendir(dfd);
  if (dir == nullptr) {
    close(dfd);
    return 0;
  }
  int32_t removed = 0;
  const uid_t self = geteuid();
  for (const dirent* e; (e = readdir(dir)) != nullptr;) {
    DurableTempName temp;
    const std::string_view name(e->d_name);
    if (!parse_temp_name(name, temp)) continue;
    if (!target_name.empty() && !temp_of(name.substr(temp.tail), temp.tail, target_name)) continue;
    struct stat st {};
    if (fstatat(dfd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) || st.st_uid != self) continue;
    if (!writer_ended(temp, st)) continue;
    if (unlinkat(dfd, e->d_name, 0) == 0) ++removed;
  }
  closedir(dir);
  return removed;
}

}  // namespace

std::string durable_temp_name(std::string_view host_target) {
  const size_t slash = host_target.rfind('/');
  const std::string_view name = slash == std::string_view::npos ? host_target : host_target.substr(slash + 1);
  std::string out(host_target.substr(0, slash == std::string_view::npos ? 0 : slash + 1));
  const std::string prefix = durable_temp_prefix(getpid(), g_temp_counter.fetch_add(1));
  const size_t room = kNameMax > prefix.size() ? kNameMax - prefix.size() : 0;
  out += prefix;
  out += name.size() <= room ? name : name.substr(name.size() - room);
  return out;
}

std::string durable_temp_prefix(pid_t pid, uint64_t number) {
  std::string out(kDurableTempMarker);
  out += std::to_string(own_pid_namespace()) + "-" + std::to_string(pid) + "-" + std::to_string(number) + "-";
  return out;
}

bool durable_temp_parse(std::string_view name, DurableTempName& temp) { return parse_temp_name(name, temp); }

bool durable_temp_pid(std::string_view name, pid_t& pid) {
  DurableTempName temp;
  if (!parse_temp_name(name, temp)) return false;
  pid = temp.pid;
  return true;
}

int32_t durable_remove_stale(std::string_view host_folder) { return remove_stale(host_folder, {}); }

int32_t durable_remove_stale_of(std::string_view host_target) {
  const size_t slash = host_target.rfind('/');
  const std::string_view name = slash == std::string_view::npos ? host_target : host_target.substr(slash + 1);
  if (name.empty()) return 0;
  return remove_stale(folder_of(host_target), name);
}

DurableBatch::~DurableBatch() { Abandon(); }

void DurableBatch::Abandon() {
  for (const Item& item : mItems) unlink(item.temp.c_str());
  mItems.clear();
}

bool DurableBatch::Fail(DurableStage stage, int err, const std::string& target, int64_t item) {
  mFailure.stage = stage;
  mFailure.err = err;
  mFailure.target = target;
  mFailure.item = item;
  return false;
}

bool DurableBatch::Stage(std::string_view host_target, const void* data, int64_t size, mode_t mode) {
  const std::string target(host_target);
  if (size < 0 || (data == nullptr && size > 0))
    return Fail(DurableStage::Write, EINVAL, target, int64_t(mItems.size()));
  std::string temp;
  const int fd = create_temp(host_target, mode, temp);
  if (fd < 0) return Fail(DurableStage::Create, errno, target, int64_t(mItems.size()));
  int err = write_all(fd, data, size);
  if (close(fd) != 0 && err == 0) err = errno;
  if (err != 0) {
    unlink(temp.c_str());
    return Fail(DurableStage::Write, err, target, int64_t(mItems.size()));
  }
  try {
    mItems.push_back({std::move(temp), target});
  } catch (...) {
    unlink(temp.c_str());
    return Fail(DurableStage::Write, ENOMEM, target, int64_t(mItems.size()));
  }
  return true;
}

void DurableBatch::SyncFolder(std::string_view host_folder) {
  try {
    mFolders.emplace_back(host_folder);
  } catch (...) {
    // Without memory the folder is left to the file system's own ordering.
  }
}

bool DurableBatch::Commit() {
  // One sync per file system of the staged files; where syncfs fails, each
  // file is synced on its own.
  std::set<std::string> folders;
  for (const Item& item : mItems) folders.insert(folder_of(item.target));
  std::set<std::string> parents;
  for (std::string& folder : mFolders)
    if (folders.count(folder) == 0) parents.insert(std::move(folder));
  mFolders.clear();
  std::set<dev_t> synced;
  bool each = false;
  for (const std::string& folder : folders) {
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || fstat(fd, &st) != 0) {
      if (fd >= 0) close(fd);
      each = true;
      break;
    }
    if (synced.insert(st.st_dev).second && syncfs(fd) != 0) each = true;
    close(fd);
    if (each) break;
  }
  if (each) {
    for (size_t i = 0; i < mItems.size(); ++i) {
      const int fd = open(mItems[i].temp.c_str(), O_RDONLY | O_CLOEXEC);
      const int err = fd < 0 ? errno : sync_fd(fd);
      if (fd >= 0) close(fd);
      if (err != 0) {
        const std::string target = mItems[i].target;
        Abandon();
        return Fail(DurableStage::Sync, err, target, int64_t(i));
      }
    }
  }
  size_t renamed = 0;
  int err = 0;
  for (; renamed < mItems.size(); ++renamed) {
    const Item& item = mItems[renamed];
    struct stat st {};
    // A folder is never replaced, even an empty one.
    if (stat(item.target.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
      err = EISDIR;
      break;
    }
    if (rename(item.temp.c_str(), item.target.c_str()) != 0) {
      err = errno;
      break;
    }
  }
  if (renamed < mItems.size()) {
    const std::string target = mItems[renamed].target;
    mItems.erase(mItems.begin(), mItems.begin() + std::ptrdiff_t(renamed));
    Abandon();
    for (const std::string& folder : folders) sync_folder(folder);
    return Fail(DurableStage::Rename, err, target, int64_t(renamed));
  }
  mItems.clear();
  for (const std::string& folder : folders)
    if ((err = sync_folder(folder)) != 0) return Fail(DurableStage::Folder, err, folder, -1);
  // A folder above that the process may not read (write and search rights
  // suffice to make a folder in it) is left to the file system's ordering.
  for (const std::string& folder : parents)
    if ((err = sync_folder(folder)) != 0 && err != EACCES) return Fail(DurableStage::Folder, err, folder, -1);
  return true;
}

void DurableFile::Abandon() {
  if (mFd >= 0) close(mFd);
  mFd = -1;
  if (!mTemp.empty()) unlink(mTemp.c_str());
  mTemp.clear();
}

bool DurableFile::Fail(DurableStage stage, int err) {
  Abandon();
  mFailure.stage = stage;
  mFailure.err = err;
  mFailure.target = mTarget;
  return false;
}

bool DurableFile::Open(std::string_view host_target, mode_t mode) {
  Abandon();
  mFailure = DurableFailure{};
  mTarget.assign(host_target);
  std::string temp;
  const int fd = create_temp(host_target, mode, temp);
  if (fd < 0) return Fail(DurableStage::Create, errno);
  mFd = fd;
  mTemp = std::move(temp);
  return true;
}

bool DurableFile::Write(const void* data, int64_t size) {
  if (mFd < 0 || size < 0 || (data == nullptr && size > 0)) return Fail(DurableStage::Write, EINVAL);
  const int err = write_all(mFd, data, size);
  return err == 0 || Fail(DurableStage::Write, err);
}

bool DurableFile::Commit() {
  if (mFd < 0) return Fail(DurableStage::Write, EINVAL);
  int err = sync_fd(mFd);
  if (err != 0) return Fail(DurableStage::Sync, err);
  const int fd = mFd;
  mFd = -1;
  if (close(fd) != 0) return Fail(DurableStage::Write, errno);
  struct stat st {};
  // A folder is never replaced, even an empty one.
  if (stat(mTarget.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return Fail(DurableStage::Rename, EISDIR);
  if (rename(mTemp.c_str(), mTarget.c_str()) != 0) return Fail(DurableStage::Rename, errno);
  mTemp.clear();  // it is the target now
  if ((err = sync_folder(folder_of(mTarget))) != 0) return Fail(DurableStage::Folder, err);
  return true;
}

bool durable_replace(std::string_view host_target, const void* data, int64_t size, mode_t mode,
                     DurableFailure& failure) {
  failure = DurableFailure{};
  if (size < 0 || (data == nullptr && size > 0)) {
    failure.stage = DurableStage::Write;
    failure.err = EINVAL;
    failure.target.assign(host_target);
    return false;
  }
  DurableFile file;
  const bool ok = file.Open(host_target, mode) && file.Write(data, size) && file.Commit();
  if (!ok) failure = file.Failure();
  return ok;
}

}  // namespace plat
