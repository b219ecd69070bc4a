// The installation thread: one installation (or update) of the embedded
// install container into gDestination, run on a thread of its own while the
// window stays responsive. It checks the container, unpacks its files and
// folders, makes the shortcuts and the Uninstall entry of a new
// installation, writes the encrypted uninstall manifest, and reports every
// step as a mark-up line in the window's log.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <thread>

#include "installs_log.h"

// The name the shortcuts, the program group and the Uninstall entry carry.
inline constexpr std::string_view cnApplicationName = "Korvane Snaprill";
// The Uninstall entry's Publisher value.
inline constexpr std::string_view cnPublisher = "korvane.example";

class TInstallThread;

// What the installation needs of the window that starts it. The window
// fills the settings of installs_settings.h before it starts the thread and
// reads gAppPath after the end handler ran.
class iInstallWindow {
 public:
  virtual ~iInstallWindow() = default;
  // The log the thread appends to. The window keeps it in shared ownership,
  // so it stays alive until the thread has ended even when the window goes
  // first.
  virtual std::shared_ptr<cWorkEntries> InstallLog() = 0;
  // The success flag: false when the work starts, true after its last step.
  virtual void SetInstallSuccess(bool success) = 0;
  // The end handler: called once after the work, before the thread object
  // frees itself. It is called on the installation's own thread; a window
  // hands it over to its GUI thread and waits there until it has run, and
  // reports its failures there. An exception it lets out is logged on
  // stderr by the thread, which still ends and frees itself.
  virtual void InstallThreadTerminate(TInstallThread& thread) = 0;
};

class TInstallThread {
 public:
  // A thread that has not started yet (suspended); nil without an owner.
  static TInstallThread* Create(iInstallWindow* owner);
  // Starts the thread. It runs Execute, then the owner's end handler, and
  // then frees itself: the caller must not touch the object afterwards.
  // False (and nothing started) when it was resumed before or the thread
  // cannot be started; the caller then still owns the object.
  bool Resume();
  // The installation itself. It never lets an exception out: every failure
  // becomes log lines. Callers without a thread of their own (tests) may run
  // it directly on an object they delete themselves.
  void Execute();
  // How many resumed threads have not finished yet (their objects are freed
  // by the time this drops).
  static int32_t Running();

  ~TInstallThread() = default;
  TInstallThread(const TInstallThread&) = delete;
  TInstallThread& operator=(const TInstallThread&) = delete;

 private:
  explicit TInstallThread(iInstallWindow* owner);
  // Runs the owner's end handler; what it lets out is logged on stderr.
  void EndHandler() noexcept;
  iInstallWindow* mOwner;
  std::shared_ptr<cWorkEntries> mLog;
  bool mResumed = false;
};
