// Names shared between processes of one user: a named mutex, and finding
// another program's main window by class and caption and sending it a
// message.
//
// Both live in the abstract socket namespace, which needs no folder and
// leaves no files: the kernel frees a name when the last socket bound to it
// is closed, so a holder that dies (even by SIGKILL) frees its names at
// once. The abstract name is
//   "kvn-<kind>:<uid>:<name>"            (no token set)
//   "kvn-<kind>:<uid>:<token>:<name>"    (a token set, as the tests do)
// with the kind "mutex" or "wnd" and, for a window, the name
// "<class>:<caption>". The uid keeps users apart; the token keeps parallel
// test runs apart.
//
// A window is a listening stream socket that the program serves. A request
// is 20 bytes, little-endian: message (u32), wparam (u64), lparam (i64); the
// reply is 8 bytes (i64). Only a peer of our own user id counts, on both
// sides (SO_PEERCRED). Every wait is bounded.
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
// The abstract name (without its leading NUL) for the kind and the name; ""
// when it does not fit a socket address (107 bytes).
std::string ipc_abstract_name(std::string_view kind, std::string_view name);

// ---- Named mutex --------------------------------------------------------------

enum class MutexState : uint8_t {
  Created,        // this handle holds the name until it is closed
  AlreadyExists,  // another handle holds it; this one holds nothing
  Failed,         // no socket, or a name that does not fit (errno kept in Error())
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
  int mFd = -1;
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

// Looks for the window of that class and caption: connects to its endpoint
// without waiting. Invalid when no endpoint serves the name, its backlog is
// full, or its server runs under another user id.
AppWindow app_window_find(std::string_view window_class, std::string_view caption);

enum class SendResult : uint8_t {
  Replied,   // the reply arrived; *reply holds it
  Closed,    // the window went away without a reply
  TimedOut,  // no reply within the time
  Failed,    // an invalid window, or the request could not be written
};

// Sends the message and waits at most timeout_ms (0 or less: not at all) for
// the reply. The window stays connected whatever the answer.
SendResult app_window_send(AppWindow& window, uint32_t message, uint64_t wparam, int64_t lparam,
                           int32_t timeout_ms, int64_t* reply = nullptr);

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

  // Starts serving the name. False when it is served already, does not fit,
  // or no socket can be had (errno in Error()).
  bool Listen(std::string_view window_class, std::string_view caption);
  enum class eServe : uint8_t { Served, Idle, Failed };
  // Waits at most timeout_ms for one request and hands it to the handler.
  // Idle: nothing came (or a peer of another user, or one that sent no whole
  // request within the time, was turned away). Failed: not listening.
  eServe ServeOne(int32_t timeout_ms, const Handler& handler);
  // Stops serving and closes every connection still open.
  void Close();
  bool Listening() const { return mFd >= 0; }
  int Error() const { return mError; }

 private:
  int mFd = -1;
  int mError = 0;
  std::vector<int> mHeld;  // connections left unanswered
};

}  // namespace plat
