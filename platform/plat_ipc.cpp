#include "plat_ipc.h"

#include <errno.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <cstring>
#include <mutex>

namespace plat {
namespace {

std::mutex g_token_lock;
std::string g_token;

constexpr size_t kRequestBytes = 20;
constexpr size_t kReplyBytes = 8;
constexpr int kBacklog = 8;
// How long a connected peer may take to deliver its whole request.
constexpr int32_t kRequestReadMs = 1000;

using Clock = std::chrono::steady_clock;

// The socket address of an abstract name; false when it does not fit.
bool abstract_address(const std::string& name, sockaddr_un& addr, socklen_t& len) {
  if (name.empty() || name.size() + 1 > sizeof(addr.sun_path)) return false;
  std::memset(&addr, 0, sizeof(addr));
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path + 1, name.data(), name.size());
  len = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  return true;
}

std::string window_name(std::string_view window_class, std::string_view caption) {
  std::string name(window_class);
  name += ':';
  name += caption;
  return ipc_abstract_name("wnd", name);
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

}  // namespace

void ipc_set_name_token(std::string_view token) {
  std::lock_guard<std::mutex> lock(g_token_lock);
  g_token.assign(token);
}

std::string ipc_name_token() {
  std::lock_guard<std::mutex> lock(g_token_lock);
  return g_token;
}

std::string ipc_abstract_name(std::string_view kind, std::string_view name) {
  std::string out = "kvn-";
  out += kind;
  out += ':';
  out += std::to_string(geteuid());
  out += ':';
  {
    std::lock_guard<std::mutex> lock(g_token_lock);
    if (!g_token.empty()) {
      out += g_token;
      out += ':';
    }
  }
  out += name;
  sockaddr_un addr;
  if (out.size() + 1 > sizeof(addr.sun_path)) return {};
  return out;
}

// ---- Named mutex --------------------------------------------------------------

MutexState NamedMutex::Create(std::string_view name) {
  Close();
  mError = 0;
  sockaddr_un addr;
  socklen_t len = 0;
  if (name.empty() || !abstract_address(ipc_abstract_name("mutex", name), addr, len)) {
    mError = ENAMETOOLONG;
    return MutexState::Failed;
  }
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    mError = errno;
    return MutexState::Failed;
  }
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&addr), len) != 0) {
    mError = errno;
    ::close(fd);
    return mError == EADDRINUSE ? MutexState::AlreadyExists : MutexState::Failed;
  }
  mFd = fd;
  return MutexState::Created;
}

void NamedMutex::Close() { close_fd(mFd); }

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
  if (!abstract_address(window_name(window_class, caption), addr, len)) return AppWindow();
  // Non-blocking: a server whose backlog is full counts as no window rather
  // than holding the caller.
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return AppWindow();
  int rc;
  do {
    rc = ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), len);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0 || !peer_is_us(fd)) {
    ::close(fd);
    return AppWindow();
  }
  return AppWindow(fd);
}

SendResult app_window_send(AppWindow& window, uint32_t message, uint64_t wparam, int64_t lparam,
                           int32_t timeout_ms, int64_t* reply) {
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
  sockaddr_un addr;
  socklen_t len = 0;
  if (!abstract_address(window_name(window_class, caption), addr, len)) {
    mError = ENAMETOOLONG;
    return false;
  }
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) {
    mError = errno;
    return false;
  }
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&addr), len) != 0 || ::listen(fd, kBacklog) != 0) {
    mError = errno;
    ::close(fd);
    return false;
  }
  mFd = fd;
  return true;
}

AppWindowEndpoint::eServe AppWindowEndpoint::ServeOne(int32_t timeout_ms, const Handler& handler) {
  if (mFd < 0) return eServe::Failed;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms);
  if (!wait_readable(mFd, deadline)) return eServe::Idle;
  int conn = ::accept4(mFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
  if (conn < 0) return eServe::Idle;
  if (!peer_is_us(conn)) {
    ::close(conn);
    return eServe::Idle;
  }
  uint8_t request[kRequestBytes];
  const ptrdiff_t got =
      read_full(conn, request, sizeof(request), Clock::now() + std::chrono::milliseconds(kRequestReadMs));
  if (got != ptrdiff_t(sizeof(request))) {
    ::close(conn);
    return eServe::Idle;
  }
  AppMessage m;
  m.message = uint32_t(get_le(request, 4));
  m.wparam = get_le(request + 4, 8);
  m.lparam = int64_t(get_le(request + 12, 8));
  const std::optional<int64_t> answer = handler ? handler(m) : std::optional<int64_t>(0);
  if (!answer) {
    mHeld.push_back(conn);
    return eServe::Served;
  }
  uint8_t out[kReplyBytes];
  put_le(out, uint64_t(*answer), 8);
  write_full(conn, out, sizeof(out));
  ::close(conn);
  return eServe::Served;
}

void AppWindowEndpoint::Close() {
  for (int& fd : mHeld) close_fd(fd);
  mHeld.clear();
  close_fd(mFd);
}

}  // namespace plat
