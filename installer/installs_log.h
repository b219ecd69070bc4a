// The installation log: the channel through which the installation thread
// reports every step to the window that shows it. Each entry is one line of
// mark-up; the window polls the changed flag, and when it is set walks the
// entries under the log's mutex and shows them joined.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "qlm_base_array.h"

// The kinds of a log line: plain text, text with a percentage, text with a
// done/total count (the window draws the figures after the text).
constexpr uint8_t cnWorkText = 0, cnWorkPercentage = 1, cnWorkCount = 2;

// One log line. The installation appends cnWorkText only.
struct rWorkEntry {
  rWorkEntry* next = nullptr;
  uint8_t kind = cnWorkText;
  std::string text;
  double percentage = 0;
  int32_t total = 0;
  int32_t done = 0;
};

// cWorkEntries: linked entries (capacity class 6) with a changed flag, true
// after construction and after every append, and a mutex that every writer
// and reader holds while it touches the entries.
class cWorkEntries : public cArrayOf<rWorkEntry, 1> {
 public:
  cWorkEntries() : cArrayOf<rWorkEntry, 1>(6) {}

  // Appends a kind-0 entry holding a copy of the text, under the mutex, and
  // sets the changed flag. Nil when the append failed; the flag then stays.
  rWorkEntry* AddText(std::string_view text);
  // Answers the changed flag and clears it in one step; a flag set by a
  // concurrent append is never lost. Takes no lock.
  bool TakeChanged() { return mChanged.exchange(false); }
  // Readers (and Clear while no installation runs) hold this mutex while
  // they walk the entries along their next links.
  std::mutex& Mutex() { return mMutex; }
  // The texts of all entries in order, read under the mutex.
  std::string Joined();

 protected:
  cArray* NewEmpty() const override { return new (std::nothrow) cWorkEntries(); }

 private:
  std::mutex mMutex;
  std::atomic<bool> mChanged{true};
};
