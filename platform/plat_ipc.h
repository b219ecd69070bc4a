// Names shared between processes of one user: a named mutex, and finding
// another program's main window by class and caption and sending it a
// message.
//
// Both live in the user's runtime folder, which only the user can enter:
// $XDG_RUNTIME_DIR when it is an absolute path to a folder of this user
// that no one else may enter, otherwise "/tmp/kvn-<euid>", made with mode
// 0700 when missing and used only when it is a real folder (not a link) of
// this user. Another user can neither take a name nor reach an endpoint, nor
// learn who asks. The names in the folder are
//   "kvn-<kind>:<name>"             (no token set)
//   "kvn-<kind>:<token>:<name>"     (a token set, as the tests do)
// with the kind "mutex" or "wnd" and, for a window, the name
// "<class>:<caption>"; "/" and "%" in a name are written "%2F" and "%25".
// The token keeps parallel test runs apart.
//
// A named mutex is an exclusive flock on its file: the kernel drops the lock
// when its holder dies (even by SIGKILL), and the holder removes the file
// when it lets go.
//
// A window is a listening stream socket that the program serves, held by a
// lock file beside it (the socket's name with ".lock"); whoever takes that
// lock removes a socket file an ended server left. A request is 20 bytes,
// little-endian: message (u32), wparam (u64), lparam (i64); the reply is 8
// bytes (i64). Only a peer of our own user id counts, on both sides
// (SO_PEERCRED). Every wait is bounded.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace plat {

// The token put into every name from now on (empty: none). The test sandbox
// sets it; a child program gets it on its command line.
void ipc_set_name_token(std::string_view token);
std::string ipc_name_token();

// The runtime folder the names live in (see above), made when it is the
// fallback and missing: 0 and the folder, or the errno why there is none
// (EPERM: a folder of another user or one that others may enter, ELOOP or
// ENOTDIR: a link or a file in its place).
int ipc_runtime_folder(std::string& folder);
// Test seam: the folder that holds the fallback "kvn-<euid>" in place of
// "/tmp"; empty restores "/tmp".
void ipc_set_runtime_fallback_parent(std::string_view parent);
// The host path of a name of the kind ("mutex", "wnd") in the runtime
// folder; "" when there is no runtime folder, the name is empty or holds a
// NUL, or the path does not fit (a window's socket address holds 107 bytes,
// a file name 255).
std::string ipc_name_path(std::string_view kind, std::string_view name);

// ---- Named mutex --------------------------------------------------------------

enum class MutexState : uint8_t {
  Created,        // this handle holds the name until it is closed
  AlreadyExists,  // another handle holds it; this one holds nothing
  Failed,         // no runtime folder, or a name that does not fit (errno kept in Error())
};

// A named mutex handle, as CreateMutex with no initial owner gives one:
// creating either takes the name or finds it taken.
class NamedMutex {
 public:
  NamedMutex() = default;
  NamedMutex(const NamedMutex&) = delete;
  NamedMutex& operator=(const NamedMutex&) = delete;
  ~NamedMutex() { Close(); }

  // Closes what the handle held, then creates or finds the name.
  MutexState Create(std::string_view name);
  // Frees the name when this handle holds it.
  void Close();
  bool Holds() const { return mFd >= 0; }
  int Error() const { return mError; }

 private:
  int mFd = -1;    // the locked file
  int mOwner = 0;  // the process that locked it (a forked child never removes it)
  std::string mPath;
  int mError = 0;
};

// ---- Windows of other programs ----------------------------------------------

struct AppMessage {
  uint32_t message = 0;
  uint64_t wparam = 0;
  int64_t lparam = 0;
};

// A found window: a connection to its endpoint. Move-only; the connection is
// closed with the object.
class AppWindow {
 public:
  AppWindow() = default;
  explicit AppWindow(int fd) : mFd(fd) {}
  AppWindow(AppWindow&& other) noexcept : mFd(other.mFd) { other.mFd = -1; }
  AppWindow& operator=(AppWindow&& other) noexcept;
  AppWindow(const AppWindow&) = delete;
  AppWindow& operator=(const AppWindow&) = delete;
  ~AppWindow() { Close(); }

  bool Valid() const { return mFd >= 0; }
  int Fd() const { return mFd; }
  void Close();

 private:
  int mFd = -1;
};

// Looks for the window of that class and caption: connects to its endpoint.
// Invalid when no endpoint serves the name, its backlog stays full for
// kFindBusyMs, or its server runs under another user id.
constexpr int32_t kFindBusyMs = 500;
AppWindow app_window_find(std::string_view window_class, std::string_view caption);

enum class SendResult : uint8_t {
  Replied,   // the reply arrived; *reply holds it
  Closed,    // the window went away without a reply
  TimedOut,  // no reply within the time
  Failed,    // an invalid window, or the request could not be written
};

// Sends the message and waits at most timeout_ms (0 or less: not at all) for
// the reply. The window stays connected whatever the answer.
SendResult app_window_send(AppWindow& window, uint32_t message, uint64_t wparam, int64_t lparam, int32_t timeout_ms,
                           int64_t* reply = nullptr);

// The serving side: the endpoint of one window.
class AppWindowEndpoint {
 public:
  // A reply to send, or none to leave the request unanswered (its
  // connection then stays open until the endpoint is closed).
  using Handler = std::function<std::optional<int64_t>(const AppMessage&)>;

  AppWindowEndpoint() = default;
  AppWindowEndpoint(const AppWindowEndpoint&) = delete;
  AppWindowEndpoint& operator=(const AppWindowEndpoint&) = delete;
  ~AppWindowEndpoint() { Close(); }

  // Starts serving the name. False when it is served already (EADDRINUSE),
  // does not fit, or no runtime folder or socket can be had (errno in
  // Error()).
  bool Listen(std::string_view window_class, std::string_view caption);
  enum class eServe : uint8_t { Served, Idle, Failed };
  // Waits at most timeout_ms for one request and hands it to the handler.
  // The waiting connections are taken at once (up to twice the backlog a
  // round) and read without blocking, so peers that send nothing never hold
  // up one that sends its request: a peer of another user is closed at
  // once, one that has not sent its whole request kRequestReadMs after it
  // was taken is closed, and beyond kMaxPending waiting peers the oldest
  // that has not is closed. Idle: no request came within the time. Failed:
  // not listening.
  eServe ServeOne(int32_t timeout_ms, const Handler& handler);
  // Stops serving and closes every connection still open.
  void Close();
  bool Listening() const { return mFd >= 0; }
  int Error() const { return mError; }

  static constexpr int32_t kRequestReadMs = 1000;
  static constexpr size_t kMaxPending = 64;
  // Connections left unanswered beyond this many close, the oldest first.
  static constexpr size_t kMaxHeld = 64;

 private:
  struct Pending {
    int fd = -1;
    int64_t deadline_ms = 0;  // steady clock
    uint8_t request[20] = {};
    uint8_t got = 0;
  };
  void AcceptWaiting();
  int mFd = -1;
  int mLockFd = -1;  // the endpoint's lock file, held while listening
  int mOwner = 0;    // the process that listens (a forked child never removes the files)
  std::string mPath;
  int mError = 0;
  std::vector<Pending> mPending;  // taken, request not complete or not served yet
  std::vector<int> mHeld;         // connections left unanswered
};

}  // namespace plat
