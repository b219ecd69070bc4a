#include "plat_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <limits>
#include <vector>

#include "plat_path_map.h"

namespace plat {

int32_t error_code_of(int err) {
  switch (err) {
    case 0: return kFileOk;
    case ENOENT: return kFileErrNotFound;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP: return kFileErrPathNotFound;
    case EMFILE:
    case ENFILE: return kFileErrTooManyOpen;
    case EACCES:
    case EPERM:
    case EROFS:
    case ETXTBSY:
    case EISDIR:
    case ENXIO:  // a FIFO without a reader, a device that is not there
      return kFileErrAccess;
    case EEXIST: return kFileErrExists;
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return kFileErrWrite;
    case ENOTEMPTY: return kFileErrNotEmpty;
    default: return kFileErrOther;
  }
}

namespace {

// A single system transfer is kept well below SSIZE_MAX.
constexpr int64_t kMaxTransfer = int64_t(1) << 30;

int32_t map_name(std::string_view win, std::string& host, PathUse use = PathUse::Name) {
  const int32_t code = to_posix(win, host, use);
  if (code == kPathOk) return kFileOk;
  return code == kPathErrBadDrive ? kFileErrBadDrive : kFileErrPathNotFound;
}

// A host name that can be written as a Windows name.
bool windows_name_ok(std::string_view name) {
  // The characters from_posix refuses in a level.
  if (name.empty()) return false;
  for (const char c : name) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 32 || c == '\\' || c == ':' || c == '<' || c == '>' || c == '"' || c == '|' || c == '?' || c == '*')
      return false;
  }
  return true;
}

}  // namespace

mode_t new_file_mode(std::string_view s) {
  if (s.size() < 4) return 0666;
  std::string_view tail = s.substr(s.size() - 4);
  if (tail[0] != '.') return 0666;
  const char* want = "exe";
  for (int i = 0; i < 3; ++i) {
    char c = tail[size_t(i) + 1];
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    if (c != want[i]) return 0666;
  }
  return 0777;
}

namespace {

// Accepts the descriptor of a freshly opened file only when it is a regular
// file, then switches blocking mode back on.
int keep_regular(int fd, int32_t& error) {
  struct stat st {};
  if (fstat(fd, &st) != 0) {
    error = error_code_of(errno);
    close(fd);
    return -1;
  }
  if (!S_ISREG(st.st_mode)) {
    error = kFileErrAccess;
    close(fd);
    return -1;
  }
  const int fl = fcntl(fd, F_GETFL);
  if (fl == -1 || fcntl(fd, F_SETFL, fl & ~O_NONBLOCK) == -1) {
    error = error_code_of(errno);
    close(fd);
    return -1;
  }
  error = kFileOk;
  return fd;
}

uint64_t filetime_of(const struct statx_timestamp& t) {
  // Seconds between 1601-01-01 and 1970-01-01.
  constexpr int64_t kEpochShift = 11644473600;
  if (t.tv_sec < -kEpochShift) return 0;
  const uint64_t secs = uint64_t(t.tv_sec + kEpochShift);
  return secs * 10000000u + t.tv_nsec / 100u;
}

}  // namespace

int open_file(std::string_view win, int32_t access, int32_t& error) {
  std::string host;
  error = map_name(win, host);
  if (error != kFileOk) return -1;
  int flags = O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
  flags |= access == 1 ? O_RDONLY : access == 2 ? O_WRONLY : O_RDWR;
  const int fd = open(host.c_str(), flags);
  if (fd < 0) {
    error = error_code_of(errno);
    return -1;
  }
  return keep_regular(fd, error);
}

int create_file(std::string_view win, bool truncate, int32_t& error) {
  std::string host;
  error = map_name(win, host);
  if (error != kFileOk) return -1;
  const int flags = O_RDWR | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | (truncate ? O_TRUNC : O_EXCL);
  const mode_t mode = new_file_mode(win);
  const int fd = open(host.c_str(), flags, mode);
  if (fd < 0) {
    error = error_code_of(errno);
    return -1;
  }
  return keep_regular(fd, error);
}

int32_t close_file(int fd) {
  if (fd < 0) return kFileErrOther;
  // Linux releases the descriptor even when close reports an error; never
  // close it twice.
  return close(fd) == 0 || errno == EINTR ? kFileOk : error_code_of(errno);
}

namespace {

template <typename Op>
int32_t transfer(int64_t count, int64_t& done, int32_t short_code, Op op) {
  done = 0;
  if (count < 0) return kFileErrOther;
  while (done < count) {
    const int64_t want = count - done < kMaxTransfer ? count - done : kMaxTransfer;
    const ssize_t got = op(done, size_t(want));
    if (got < 0) {
      if (errno == EINTR) continue;
      return short_code;
    }
    if (got == 0) return short_code;
    done += got;
  }
  return kFileOk;
}

}  // namespace

int32_t read_full(int fd, void* buffer, int64_t count, int64_t& done) {
  auto* p = static_cast<char*>(buffer);
  return transfer(count, done, kFileErrRead, [&](int64_t at, size_t n) { return read(fd, p + at, n); });
}

int32_t write_full(int fd, const void* buffer, int64_t count, int64_t& done) {
  const auto* p = static_cast<const char*>(buffer);
  return transfer(count, done, kFileErrWrite, [&](int64_t at, size_t n) { return write(fd, p + at, n); });
}

int32_t read_at(int fd, int64_t pos, void* buffer, int64_t count, int64_t& done) {
  auto* p = static_cast<char*>(buffer);
  if (pos < 0 || count > std::numeric_limits<int64_t>::max() - pos) {
    done = 0;
    return kFileErrRead;
  }
  return transfer(count, done, kFileErrRead,
                  [&](int64_t at, size_t n) { return pread(fd, p + at, n, off_t(pos + at)); });
}

namespace {
std::atomic<int64_t> gWriteAtFailAt{0};
}

void write_at_fail_at(int64_t k) { gWriteAtFailAt = k; }

int32_t write_at(int fd, int64_t pos, const void* buffer, int64_t count, int64_t& done) {
  const auto* p = static_cast<const char*>(buffer);
  if (pos < 0 || count > std::numeric_limits<int64_t>::max() - pos) {
    done = 0;
    return kFileErrWrite;
  }
  if (gWriteAtFailAt.load(std::memory_order_relaxed) > 0 && --gWriteAtFailAt == 0) {
    transfer(count / 2, done, kFileErrWrite,
             [&](int64_t at, size_t n) { return pwrite(fd, p + at, n, off_t(pos + at)); });
    return kFileErrWrite;
  }
  return transfer(count, done, kFileErrWrite,
                  [&](int64_t at, size_t n) { return pwrite(fd, p + at, n, off_t(pos + at)); });
}

int32_t file_size_of(int fd, int64_t& size) {
  struct stat st {};
  size = -1;
  if (fstat(fd, &st) != 0) return error_code_of(errno);
  size = int64_t(st.st_size);
  return kFileOk;
}

int32_t file_position(int fd, int64_t& pos) {
  const off_t at = lseek(fd, 0, SEEK_CUR);
  pos = int64_t(at);
  return at < 0 ? error_code_of(errno) : kFileOk;
}

int32_t file_set_position(int fd, int64_t pos) {
  if (pos < 0) return kFileErrOther;
  return lseek(fd, off_t(pos), SEEK_SET) < 0 ? error_code_of(errno) : kFileOk;
}

int32_t file_truncate(int fd, int64_t size) {
  if (size < 0) return kFileErrOther;
  for (;;) {
    if (ftruncate(fd, off_t(size)) == 0) return kFileOk;
    if (errno != EINTR) return error_code_of(errno);
  }
}

int32_t sync_file(int fd) {
  for (;;) {
    if (fsync(fd) == 0) return kFileOk;
    if (errno != EINTR) return error_code_of(errno);
  }
}

int32_t replace_file(std::string_view from, std::string_view to) {
  std::string host_from, host_to;
  if (const int32_t code = map_name(from, host_from); code != kFileOk) return code;
  if (const int32_t code = map_name(to, host_to); code != kFileOk) return code;
  struct stat st {};
  if (stat(host_from.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return kFileErrAccess;
  if (rename(host_from.c_str(), host_to.c_str()) != 0) return error_code_of(errno);
  const size_t slash = host_to.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : host_to.substr(0, slash));
  const int dfd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd < 0) return error_code_of(errno);
  const int32_t code = sync_file(dfd);
  close(dfd);
  return code;
}

int32_t remove_file(std::string_view win) {
  std::string host;
  if (const int32_t code = map_name(win, host); code != kFileOk) return code;
  return unlink(host.c_str()) == 0 ? kFileOk : error_code_of(errno);
}

bool file_exists(std::string_view win) {
  std::string host;
  if (map_name(win, host) != kFileOk) return false;
  struct stat st {};
  return stat(host.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool dir_exists(std::string_view win) {
  std::string host;
  if (map_name(win, host) != kFileOk) return false;
  struct stat st {};
  return stat(host.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int32_t make_dir(std::string_view win) {
  std::string host;
  if (const int32_t code = map_name(win, host); code != kFileOk) return code;
  if (mkdir(host.c_str(), 0777) == 0) return kFileOk;
  const int err = errno;
  struct stat st {};
  if (err == EEXIST && stat(host.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return kFileOk;
  return error_code_of(err);
}

int32_t remove_dir(std::string_view win) {
  std::string host;
  if (const int32_t code = map_name(win, host); code != kFileOk) return code;
  if (rmdir(host.c_str()) == 0) return kFileOk;
  // rmdir reports a folder that is not empty as EEXIST or ENOTEMPTY.
  return errno == EEXIST ? kFileErrNotEmpty : error_code_of(errno);
}

int32_t set_current_dir(std::string_view win) {
  std::string host;
  if (const int32_t code = map_name(win, host); code != kFileOk) return code;
  return chdir(host.c_str()) == 0 ? kFileOk : error_code_of(errno);
}

int64_t free_space(std::string_view win) {
  std::string host;
  if (map_name(win, host) != kFileOk) return -1;
  for (;;) {
    struct statvfs sv {};
    if (statvfs(host.c_str(), &sv) == 0) {
      const unsigned __int128 bytes = (unsigned __int128)sv.f_bavail * sv.f_frsize;
      constexpr auto kMax = uint64_t(std::numeric_limits<int64_t>::max());
      return bytes > kMax ? int64_t(kMax) : int64_t(bytes);
    }
    if (errno != ENOENT && errno != ENOTDIR) return -1;
    // Up one level: drop trailing separators, then the last level.
    while (host.size() > 1 && host.back() == '/') host.pop_back();
    const size_t slash = host.rfind('/');
    if (slash == std::string::npos) {
      if (host == ".") return -1;
      host.assign(1, '.');
    } else if (slash == 0) {
      if (host.size() == 1) return -1;
      host.resize(1);
    } else {
      host.resize(slash);
    }
  }
}

// ---------------------------------------------------------------------------
// Directory search

namespace {

// Length of the UTF-8 character that starts at s[i] (1 for a stray byte).
size_t char_length(std::string_view s, size_t i) {
  const unsigned char c = static_cast<unsigned char>(s[i]);
  size_t n = c < 0xC0 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
  size_t k = 1;
  while (k < n && i + k < s.size() && (static_cast<unsigned char>(s[i + k]) & 0xC0) == 0x80) ++k;
  return k;
}

}  // namespace

bool wildcard_match(std::string_view mask, std::string_view name) {
  if (mask == "*" || mask == "*.*") return true;
  // Iterative glob with one backtrack point for the last "*".
  size_t m = 0, n = 0;
  size_t star = std::string_view::npos, star_n = 0;
  while (n < name.size()) {
    if (m < mask.size() && mask[m] == '*') {
      star = m++;
      star_n = n;
    } else if (m < mask.size() && mask[m] == '?') {
      ++m;
      n += char_length(name, n);
    } else if (m < mask.size() && mask[m] == name[n]) {
      ++m;
      ++n;
    } else if (star != std::string_view::npos) {
      m = star + 1;
      star_n += char_length(name, star_n);
      n = star_n;
    } else {
      return false;
    }
  }
  while (m < mask.size() && mask[m] == '*') ++m;
  return m == mask.size();
}

DirSearch::~DirSearch() { Stop(); }

void DirSearch::Stop() {
  if (mDir != nullptr) closedir(static_cast<DIR*>(mDir));
  mDir = nullptr;
}

int32_t DirSearch::Start(std::string_view win_pattern, DirEntry& first) {
  Stop();
  std::string host;
  if (const int32_t code = map_name(win_pattern, host, PathUse::Pattern); code != kFileOk) return code;
  std::string folder;
  const size_t slash = host.rfind('/');
  if (slash == std::string::npos) {
    folder = ".";
    mMask = host;
  } else {
    folder = slash == 0 ? "/" : host.substr(0, slash);
    mMask = host.substr(slash + 1);
  }
  if (mMask.empty()) return kFileErrNotFound;
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return error_code_of(errno);
  mDir = dir;
  if (!Next(first)) {
    Stop();
    return kFileErrNotFound;
  }
  return kFileOk;
}

bool DirSearch::Next(DirEntry& entry) {
  while (mDir != nullptr) {
    errno = 0;
    const dirent* d = readdir(static_cast<DIR*>(mDir));
    if (d == nullptr) return false;
    const std::string_view name(d->d_name);
    if (name == "." || name == "..") continue;
    if (!windows_name_ok(name) || !wildcard_match(mMask, name)) continue;
    entry = DirEntry();
    entry.name.assign(name);
    if (Fill(entry)) return true;
  }
  return false;
}

bool DirSearch::Fill(DirEntry& entry) {
  struct statx sx {};
  const int dfd = dirfd(static_cast<DIR*>(mDir));
  if (statx(dfd, entry.name.c_str(), AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0)
    return false;  // gone meanwhile
  entry.is_dir = S_ISDIR(sx.stx_mode);
  entry.size = entry.is_dir ? 0 : sx.stx_size;
  entry.written = filetime_of(sx.stx_mtime);
  entry.accessed = filetime_of(sx.stx_atime);
  entry.created = (sx.stx_mask & STATX_BTIME) ? filetime_of(sx.stx_btime) : entry.written;
  uint16_t attr = 0;
  if (entry.is_dir) attr |= 32;
  if (!entry.is_dir && !S_ISLNK(sx.stx_mode) && (sx.stx_mode & S_IWUSR) == 0) attr |= 2;
  if (entry.name[0] == '.') attr |= 4;
  entry.attributes = attr == 0 ? 1024 : attr;
  return true;
}

// ---------------------------------------------------------------------------
// Recursive removal

namespace {

constexpr int kTreeFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// Levels below the top that a removal enters. No host name reaches deeper
// (PATH_MAX bytes, at least two per level), and each level costs a stack
// frame and a descriptor: a deeper folder (made level by level with
// mkdirat) is left alone like an entry of an unreachable name, so its
// parent stays and the removal fails.
constexpr int kTreeDepthMax = PATH_MAX / 2;

// Empties the folder open on `dfd`, `depth` levels below the top. Stage 1:
// a file of this folder; 2: a subfolder; 3: this folder could not be read.
TreeRemoval empty_folder(int dfd, int depth = 0) {
  const int own = dup(dfd);
  if (own < 0) return {error_code_of(errno), 3};
  DIR* dir = fdopendir(own);
  if (dir == nullptr) {
    const int err = errno;
    close(own);
    return {error_code_of(err), 3};
  }
  std::vector<std::string> names;
  for (;;) {
    errno = 0;
    const dirent* d = readdir(dir);
    if (d == nullptr) break;
    const std::string_view name(d->d_name);
    if (name == "." || name == "..") continue;
    // A name no Windows caller could have written is left alone.
    if (!windows_name_ok(name)) continue;
    names.emplace_back(name);
  }
  const int read_err = errno;
  closedir(dir);
  if (read_err != 0) return {error_code_of(read_err), 3};

  // Every entry is tried, so the outcome does not depend on the order of the
  // entries; the first failure is reported.
  TreeRemoval first;
  auto note = [&first](int32_t code, int32_t stage) {
    if (first.code == kFileOk) first = {code, stage};
  };
  for (const std::string& name : names) {
    struct stat st {};
    if (fstatat(dfd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno != ENOENT) note(error_code_of(errno), 1);
      continue;
    }
    if (S_ISDIR(st.st_mode)) {
      if (depth >= kTreeDepthMax) {
        note(kFileErrNotEmpty, 2);
        continue;
      }
      const int sub = openat(dfd, name.c_str(), kTreeFlags);
      if (sub < 0) {
        note(error_code_of(errno), 2);
        continue;
      }
      const TreeRemoval inner = empty_folder(sub, depth + 1);
      close(sub);
      if (inner.code != kFileOk) {
        note(inner.code, 2);
        continue;
      }
      if (unlinkat(dfd, name.c_str(), AT_REMOVEDIR) != 0)
        note(errno == EEXIST ? kFileErrNotEmpty : error_code_of(errno), 2);
    } else if (unlinkat(dfd, name.c_str(), 0) != 0 && errno != ENOENT) {
      note(error_code_of(errno), 1);
    }
  }
  return first;
}

}  // namespace

TreeRemoval remove_tree(std::string_view win) {
  std::string host;
  if (const int32_t code = map_name(win, host); code != kFileOk) return {code, 3};
  while (host.size() > 1 && host.back() == '/') host.pop_back();
  std::string parent, base;
  const size_t slash = host.rfind('/');
  if (slash == std::string::npos) {
    parent = ".";
    base = host;
  } else {
    parent = slash == 0 ? "/" : host.substr(0, slash);
    base = host.substr(slash + 1);
  }
  // The host root, "." and ".." are never removed.
  if (base.empty() || base == "." || base == "..") return {kFileErrAccess, 3};
  const int pfd = open(parent.c_str(), kTreeFlags & ~O_NOFOLLOW);
  if (pfd < 0) return {error_code_of(errno), 3};
  const int dfd = openat(pfd, base.c_str(), kTreeFlags);
  if (dfd < 0) {
    const int err = errno;
    close(pfd);
    return {err == ELOOP ? kFileErrAccess : error_code_of(err), 3};
  }
  TreeRemoval result = empty_folder(dfd);
  close(dfd);
  if (result.code == kFileOk && unlinkat(pfd, base.c_str(), AT_REMOVEDIR) != 0)
    result = {errno == EEXIST ? kFileErrNotEmpty : error_code_of(errno), 3};
  close(pfd);
  return result;
}

}  // namespace plat
