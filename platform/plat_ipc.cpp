#include "plat_ipc.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <mutex>
#include <string_view>
#include <thread>

namespace plat {
namespace {

std::mutex g_token_lock;
std::string g_token;
std::string g_fallback_parent;  // guarded by g_token_lock; empty: "/tmp"

constexpr size_t kRequestBytes = 20;
constexpr size_t kReplyBytes = 8;
// Waiting connections the kernel keeps before the endpoint takes them (the
// system's own cap, somaxconn, may lower it).
constexpr int kBacklog = 128;
constexpr size_t kFileNameMax = 255;

using Clock = std::chrono::steady_clock;

int64_t now_ms() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch()).count();
}

// The socket address of a path; false when it does not fit.
bool path_address(const std::string& path, sockaddr_un& addr, socklen_t& len) {
  if (path.empty() || path.size() + 1 > sizeof(addr.sun_path)) return false;
  std::memset(&addr, 0, sizeof(addr));
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, path.data(), path.size());
  len = socklen_t(offsetof(sockaddr_un, sun_path) + path.size() + 1);
  return true;
}

std::string window_name(std::string_view window_class, std::string_view caption) {
  std::string name(window_class);
  name += ':';
  name += caption;
  return name;
}

// Removes from the opened fallback folder every entry of another user (and,
// inside a foreign folder, what it can). The folder was open to others once
// (made so by someone, or by an old umask) or another user planted names in
// it before it was ours to check: an empty file named like our mutex made
// the mutex fail with EACCES for ever, a socket path taken by them kept our
// endpoint from listening. 0 when none is left, else the errno of the first
// entry that stays.
int clear_foreign_entries(int folder_fd) {
  const int fd = ::dup(folder_fd);
  if (fd < 0) return errno;
  DIR* dir = ::fdopendir(fd);
  if (dir == nullptr) {
    const int err = errno;
    ::close(fd);
    return err;
  }
  int err = 0;
  const uid_t self = ::geteuid();
  for (const dirent* e; (e = ::readdir(dir)) != nullptr;) {
    const std::string_view name(e->d_name);
    if (name == "." || name == "..") continue;
    struct stat st {};
    if (::fstatat(folder_fd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;  // gone meanwhile
    if (st.st_uid == self) continue;
    // A foreign folder is not entered: only an empty one can go.
    if (::unlinkat(folder_fd, e->d_name, S_ISDIR(st.st_mode) ? AT_REMOVEDIR : 0) != 0 && err == 0) err = errno;
  }
  ::closedir(dir);
  return err;
}

// The folder open without following a link at its last level: 0 when it is
// a folder of ours that no one else may enter, else the errno. With
// `fix_mode` (our own fallback folder) a looser mode is set right and every
// entry of another user is removed first: what others put there while they
// could is not trusted.
int check_folder(const std::string& path, bool fix_mode) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    const int err = errno;
    // A link at the last level fails as "not a folder": say which it is.
    struct stat st {};
    if (err == ENOTDIR && ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) return ELOOP;
    return err;
  }
  struct stat st {};
  int err = 0;
  if (::fstat(fd, &st) != 0) {
    err = errno;
  } else if (!S_ISDIR(st.st_mode)) {
    err = ENOTDIR;
  } else if (st.st_uid != ::geteuid()) {
    err = EPERM;
  } else if ((st.st_mode & 0777) != 0700) {
    // Ours, but others may enter (or we may not): the fallback is set
    // right through the descriptor, never through its name again.
    if (!fix_mode || ::fchmod(fd, 0700) != 0) err = EPERM;
  }
  // Also when the mode is right: an earlier run may have set it and kept
  // what others had put there.
  if (err == 0 && fix_mode) err = clear_foreign_entries(fd);
  ::close(fd);
  return err;
}

// The fallback folder's parent must keep others from replacing the folder:
// a folder others may write to only with the sticky bit (as /tmp has).
int check_parent(const std::string& parent) {
  struct stat st {};
  if (::stat(parent.c_str(), &st) != 0) return errno;
  if (!S_ISDIR(st.st_mode)) return ENOTDIR;
  if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (st.st_mode & S_ISVTX) == 0) return EPERM;
  if (st.st_uid != 0 && st.st_uid != ::geteuid()) return EPERM;
  return 0;
}

// "/" and "%" would make a name a path or be read back wrongly.
std::string escaped(std::string_view name) {
  std::string out;
  for (const char c : name) {
    if (c == '/')
      out += "%2F";
    else if (c == '%')
      out += "%25";
    else
      out += c;
  }
  return out;
}

// The peer runs under our own user id.
bool peer_is_us(int fd) {
  ucred cred{};
  socklen_t len = sizeof(cred);
  if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0 || len != sizeof(cred)) return false;
  return cred.uid == geteuid();
}

int ms_left(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left <= 0 ? 0 : int(left);
}

// Waits until the descriptor is readable or the deadline passes; false on
// the deadline or an error.
bool wait_readable(int fd, Clock::time_point deadline) {
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    const int n = ::poll(&p, 1, ms_left(deadline));
    if (n > 0) return true;
    if (n == 0) return false;
    if (errno != EINTR) return false;
  }
}

// Reads exactly `size` bytes before the deadline. Answers the bytes read:
// `size`, fewer when the peer closed first (or the read failed), or -1 when
// the deadline passed.
ptrdiff_t read_full(int fd, uint8_t* out, size_t size, Clock::time_point deadline) {
  size_t got = 0;
  while (got < size) {
    if (!wait_readable(fd, deadline)) return -1;
    const ssize_t n = ::recv(fd, out + got, size - got, MSG_DONTWAIT);
    if (n > 0) {
      got += size_t(n);
    } else if (n == 0) {
      break;
    } else if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) {
      break;
    }
  }
  return ptrdiff_t(got);
}

bool write_full(int fd, const uint8_t* data, size_t size) {
  size_t put = 0;
  while (put < size) {
    const ssize_t n = ::send(fd, data + put, size - put, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      put += size_t(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      return false;
    }
  }
  return true;
}

void put_le(uint8_t* at, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) at[i] = uint8_t(v >> (8 * i));
}
uint64_t get_le(const uint8_t* at, int bytes) {
  uint64_t v = 0;
  for (int i = 0; i < bytes; ++i) v |= uint64_t(at[i]) << (8 * i);
  return v;
}

void close_fd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

// Takes an exclusive lock on the file (made 0600 when missing) without
// waiting: its descriptor, or -1 with errno (EWOULDBLOCK: another holds it).
// A holder removes the file while it still holds the lock, so a lock taken
// on a file that is no longer the one under the name is let go and the
// name tried again.
int lock_file_take(const std::string& path) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    // O_NONBLOCK: something other than a file in its place never holds us.
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (fd < 0) return -1;
    struct stat held {};
    int err = 0;
    if (::fstat(fd, &held) != 0)
      err = errno;
    else if (!S_ISREG(held.st_mode))
      err = EEXIST;
    else if (held.st_uid != ::geteuid())
      err = EPERM;
    else if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
      err = errno;
    if (err != 0) {
      ::close(fd);
      errno = err;
      return -1;
    }
    struct stat named {};
    if (::lstat(path.c_str(), &named) == 0 && named.st_ino == held.st_ino && named.st_dev == held.st_dev) return fd;
    ::close(fd);  // its holder removed it meanwhile: the name is free again
  }
  errno = EAGAIN;
  return -1;
}

}  // namespace

void ipc_set_name_token(std::string_view token) {
  std::lock_guard<std::mutex> lock(g_token_lock);
  g_token.assign(token);
}

std::string ipc_name_token() {
  std::lock_guard<std::mutex> lock(g_token_lock);
  return g_token;
}

void ipc_set_runtime_fallback_parent(std::string_view parent) {
  std::lock_guard<std::mutex> lock(g_token_lock);
  g_fallback_parent.assign(parent);
}

int ipc_runtime_folder(std::string& folder) {
  folder.clear();
  // The session's runtime folder, when it is what it should be: a folder of
  // ours that no one else may enter. Anything else is not used (and never
  // changed).
  const char* xdg = ::getenv("XDG_RUNTIME_DIR");
  if (xdg != nullptr && xdg[0] == '/' && check_folder(xdg, false) == 0) {
    folder = xdg;
    return 0;
  }
  std::string parent;
  {
    std::lock_guard<std::mutex> lock(g_token_lock);
    parent = g_fallback_parent.empty() ? std::string("/tmp") : g_fallback_parent;
  }
  if (const int err = check_parent(parent); err != 0) return err;
  const std::string path = parent + "/kvn-" + std::to_string(::geteuid());
  // Made with 0700 (the umask may take more away: check_folder sets it
  // right); when it is there already, it must be ours, a folder and no
  // link, which is checked on the opened folder itself.
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return errno;
  int err = check_folder(path, true);
  if (err != 0 && err != ELOOP && err != ENOTDIR) {
    // A folder of ours that keeps a foreign entry it cannot shed (another
    // user's folder with files in it) is moved aside, under a name of its
    // own in the same parent, and a fresh private folder takes its place.
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid()) {
      const std::string aside = path + ".untrusted-" + std::to_string(::getpid()) + "-" + std::to_string(now_ms());
      if (::rename(path.c_str(), aside.c_str()) == 0 && ::mkdir(path.c_str(), 0700) == 0)
        err = check_folder(path, true);
    }
  }
  if (err != 0) return err;
  folder = path;
  return 0;
}

std::string ipc_name_path(std::string_view kind, std::string_view name) {
  if (name.empty() || name.find('\0') != std::string_view::npos) return {};
  std::string leaf = "kvn-";
  leaf += kind;
  leaf += ':';
  {
    std::lock_guard<std::mutex> lock(g_token_lock);
    if (!g_token.empty()) {
      leaf += escaped(g_token);
      leaf += ':';
    }
  }
  leaf += escaped(name);
  // A window's lock file adds ".lock" to its socket's name.
  if (leaf.size() + 5 > kFileNameMax) return {};
  std::string folder;
  if (ipc_runtime_folder(folder) != 0) return {};
  std::string path = folder + "/" + leaf;
  sockaddr_un addr;
  if (kind == "wnd" && path.size() + 1 > sizeof(addr.sun_path)) return {};
  return path;
}

// ---- Named mutex --------------------------------------------------------------

MutexState NamedMutex::Create(std::string_view name) {
  Close();
  mError = 0;
  std::string folder;
  if (const int err = ipc_runtime_folder(folder); err != 0) {
    mError = err;
    return MutexState::Failed;
  }
  const std::string path = ipc_name_path("mutex", name);
  if (path.empty()) {
    mError = ENAMETOOLONG;
    return MutexState::Failed;
  }
  const int fd = lock_file_take(path);
  if (fd < 0) {
    mError = errno;
    return mError == EWOULDBLOCK ? MutexState::AlreadyExists : MutexState::Failed;
  }
  mFd = fd;
  mOwner = int(::getpid());
  mPath = path;
  return MutexState::Created;
}

void NamedMutex::Close() {
  if (mFd < 0) return;
  // Removed while still locked, so no one can be left holding a lock on a
  // file that is no longer under the name.
  if (mOwner == int(::getpid())) ::unlink(mPath.c_str());
  close_fd(mFd);
  mPath.clear();
}

// ---- Windows of other programs ----------------------------------------------

AppWindow& AppWindow::operator=(AppWindow&& other) noexcept {
  if (this != &other) {
    Close();
    mFd = other.mFd;
    other.mFd = -1;
  }
  return *this;
}

void AppWindow::Close() { close_fd(mFd); }

AppWindow app_window_find(std::string_view window_class, std::string_view caption) {
  sockaddr_un addr;
  socklen_t len = 0;
  if (!path_address(ipc_name_path("wnd", window_name(window_class, caption)), addr, len)) return AppWindow();
  // Non-blocking: a server whose backlog is full is tried again for a short
  // while, then counts as no window rather than holding the caller.
  const Clock::time_point give_up = Clock::now() + std::chrono::milliseconds(kFindBusyMs);
  for (;;) {
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return AppWindow();
    int rc;
    do {
      rc = ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), len);
    } while (rc != 0 && errno == EINTR);
    const int err = rc == 0 ? 0 : errno;
    if (rc == 0 && peer_is_us(fd)) return AppWindow(fd);
    ::close(fd);
    if (err != EAGAIN || Clock::now() >= give_up) return AppWindow();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

SendResult app_window_send(AppWindow& window, uint32_t message, uint64_t wparam, int64_t lparam, int32_t timeout_ms,
                           int64_t* reply) {
  if (!window.Valid()) return SendResult::Failed;
  uint8_t request[kRequestBytes];
  put_le(request, message, 4);
  put_le(request + 4, wparam, 8);
  put_le(request + 12, uint64_t(lparam), 8);
  if (!write_full(window.Fd(), request, sizeof(request))) return SendResult::Failed;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms);
  uint8_t answer[kReplyBytes];
  const ptrdiff_t got = read_full(window.Fd(), answer, sizeof(answer), deadline);
  if (got < 0) return SendResult::TimedOut;
  if (size_t(got) < sizeof(answer)) return SendResult::Closed;
  if (reply) *reply = int64_t(get_le(answer, 8));
  return SendResult::Replied;
}

bool AppWindowEndpoint::Listen(std::string_view window_class, std::string_view caption) {
  Close();
  mError = 0;
  std::string folder;
  if (const int err = ipc_runtime_folder(folder); err != 0) {
    mError = err;
    return false;
  }
  const std::string path = ipc_name_path("wnd", window_name(window_class, caption));
  sockaddr_un addr;
  socklen_t len = 0;
  if (!path_address(path, addr, len)) {
    mError = ENAMETOOLONG;
    return false;
  }
  // Whoever holds the lock serves the name; a socket file under the name
  // without a holder was left by an ended server and goes.
  const std::string lock_path = path + ".lock";
  mLockFd = lock_file_take(lock_path);
  if (mLockFd < 0) {
    mError = errno == EWOULDBLOCK ? EADDRINUSE : errno;
    return false;
  }
  mOwner = int(::getpid());
  mPath = path;
  ::unlink(path.c_str());
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr*>(&addr), len) != 0 || ::listen(fd, kBacklog) != 0) {
    mError = errno;
    if (fd >= 0) ::close(fd);
    Close();
    return false;
  }
  mFd = fd;
  return true;
}

namespace {

// Reads what the peer has sent of its request without waiting; false when
// it closed or failed before the request was whole.
template <typename PendingT>
bool read_pending(PendingT& p) {
  while (p.got < kRequestBytes) {
    const ssize_t n = ::recv(p.fd, p.request + p.got, kRequestBytes - p.got, MSG_DONTWAIT);
    if (n > 0) {
      p.got = uint8_t(p.got + size_t(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
  }
  return true;
}

}  // namespace

void AppWindowEndpoint::AcceptWaiting() {
  // A bounded round: peers that keep connecting must not keep the endpoint
  // accepting for ever instead of serving.
  for (int round = 0; round < kBacklog * 2; ++round) {
    if (mPending.size() >= kMaxPending) {
      // Room is made by dropping the oldest peer that has not sent its whole
      // request; when every one has, the rest wait in the backlog.
      auto silent =
          std::find_if(mPending.begin(), mPending.end(), [](const Pending& p) { return p.got < kRequestBytes; });
      if (silent == mPending.end()) return;
      ::close(silent->fd);
      mPending.erase(silent);
    }
    int conn = ::accept4(mFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (conn < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      return;  // none left (EAGAIN), or out of descriptors: the rest wait
    }
    if (!peer_is_us(conn)) {
      ::close(conn);
      continue;
    }
    Pending p;
    p.fd = conn;
    p.deadline_ms = now_ms() + kRequestReadMs;
    // A peer sends its request as soon as it is connected: read it now, so
    // that it is whole before other peers could push it out.
    if (!read_pending(p)) {
      ::close(conn);
      continue;
    }
    mPending.push_back(p);
  }
}

AppWindowEndpoint::eServe AppWindowEndpoint::ServeOne(int32_t timeout_ms, const Handler& handler) {
  if (mFd < 0) return eServe::Failed;
  const int64_t deadline = now_ms() + (timeout_ms < 0 ? 0 : timeout_ms);
  std::vector<pollfd> polled;
  for (;;) {
    AcceptWaiting();
    // Read what every waiting peer has sent; the first whole request is
    // served.
    const int64_t now = now_ms();
    constexpr size_t kNone = ~size_t(0);
    size_t ready = kNone;
    for (size_t i = 0; i < mPending.size();) {
      Pending& p = mPending[i];
      const bool open = read_pending(p);
      if (p.got < kRequestBytes && (!open || now >= p.deadline_ms)) {
        ::close(p.fd);
        mPending.erase(mPending.begin() + std::ptrdiff_t(i));
        continue;
      }
      if (p.got == kRequestBytes && ready == kNone) ready = i;
      ++i;
    }
    if (ready != kNone) {
      const Pending p = mPending[ready];
      mPending.erase(mPending.begin() + std::ptrdiff_t(ready));
      AppMessage m;
      m.message = uint32_t(get_le(p.request, 4));
      m.wparam = get_le(p.request + 4, 8);
      m.lparam = int64_t(get_le(p.request + 12, 8));
      const std::optional<int64_t> answer = handler ? handler(m) : std::optional<int64_t>(0);
      if (!answer) {
        if (mHeld.size() >= kMaxHeld) {
          ::close(mHeld.front());
          mHeld.erase(mHeld.begin());
        }
        mHeld.push_back(p.fd);
        return eServe::Served;
      }
      uint8_t out[kReplyBytes];
      put_le(out, uint64_t(*answer), 8);
      write_full(p.fd, out, sizeof(out));
      ::close(p.fd);
      return eServe::Served;
    }
    if (now >= deadline) return eServe::Idle;
    // Sleep until a peer comes or sends, a waiting peer's time ends, or ours.
    int64_t wake = deadline;
    polled.clear();
    polled.push_back({mFd, POLLIN, 0});
    for (const Pending& p : mPending) {
      polled.push_back({p.fd, POLLIN, 0});
      wake = std::min(wake, p.deadline_ms);
    }
    const int n = ::poll(polled.data(), nfds_t(polled.size()), int(std::max<int64_t>(0, wake - now_ms())));
    if (n < 0 && errno != EINTR) return eServe::Idle;
  }
}

void AppWindowEndpoint::Close() {
  for (int& fd : mHeld) close_fd(fd);
  mHeld.clear();
  for (Pending& p : mPending) close_fd(p.fd);
  mPending.clear();
  const bool ours = mOwner == int(::getpid());
  if (mFd >= 0 && ours) ::unlink(mPath.c_str());
  close_fd(mFd);
  if (mLockFd >= 0 && ours) ::unlink((mPath + ".lock").c_str());
  close_fd(mLockFd);
  mPath.clear();
}

}  // namespace plat
