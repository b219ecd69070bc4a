// The install container: the embedded data block that holds everything the
// installer puts on disk, its entry reader and the one walker that every
// pass over it uses.
//
// Layout (all integers little-endian, unsigned): the signature "IDF100", then
// entries, each a header followed by its payload. A header is 32 + N + P
// bytes: tag "ientry" (6), kind (1), name length N (2), name, path length P
// (2), path, unpacked size (4), unpacked check (4), stored size (4), stored
// check (4), next-entry offset (4, absolute), main-program flag (1). A file's
// payload is a zlib stream; a check is the CRC-32 register started at
// 0xFFFFFFFF without the final inversion. The end entry has every number 0
// except the next-entry offset 0xFFFFFFFF. Containers are written by
// tools/idf_build.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "qlm_base_flow.h"
#include "qlm_base_view_flow.h"

// The name under which the program registers the container.
inline constexpr std::string_view cnInstallDataName = "..\\install_data.idf";
inline constexpr std::string_view cnInstSignature = "IDF100";
inline constexpr std::string_view cnInstEntryTag = "ientry";
// Size of a header without its name and path.
inline constexpr int64_t cnInstHeaderFixed = 32;
// The next-entry offset of the end entry.
inline constexpr uint32_t cnInstNoNext = 0xFFFFFFFFu;

// Entry kinds.
inline constexpr uint8_t cnInstKindFile = 1;    // a file; its payload is a zlib stream
inline constexpr uint8_t cnInstKindFolder = 2;  // an (empty) folder to create: the path
inline constexpr uint8_t cnInstKindExt = 3;     // a file extension for the uninstaller: the name
inline constexpr uint8_t cnInstKindEnd = 4;     // the last entry

// One entry header. The caller owns it.
struct rInstEntry {
  char tag[6] = {};
  uint8_t kind = 0;
  std::string name;
  std::string path;
  uint32_t unpacked_check = 0;
  uint32_t stored_check = 0;
  uint32_t unpacked_size = 0;
  uint32_t stored_size = 0;
  uint32_t next_offset = 0;
  uint8_t main_program = 0;
};

// Reads the header at the flow's position into the entry. True: the entry
// holds the header and the flow stands at the first payload byte. False (a
// nil or closed flow, a nil entry, a short read, a tag other than "ientry"):
// the entry may be partly filled and the flow's position is undefined.
// Nothing else is checked here: kind, sizes and offsets are taken as they
// stand. Never raises.
bool inst_entry_read(cFlow* flow, rInstEntry* entry);

// What one step of a walk found.
enum class eInstStep : uint8_t {
  Entry,       // a header that passed every check below
  BadHeader,   // the header could not be read (short, or a wrong tag)
  BadName,     // a name or path that could leave the destination folder
  BadPayload,  // the payload does not lie inside the container
  BadNext,     // the next-entry offset does not lie after the payload, inside the container
};

// cInstWalker: the walk over a container held in memory, shared by every
// reader of the container (the installation's check and extraction passes
// and the wizard's size scan). Headers are read through a read-only view
// flow on the caller's bytes (cViewFlow: nothing is copied, the container
// stays where the program holds it); payloads are taken from the same bytes
// at the flow's position, within the same bounds.
//
// Every header that `Next` answers Entry for has been validated, so the
// walk ends on every input:
// - a file's (kind 1) name is one plain component and its path a relative
//   folder ("" or "a\b\"), see installs_names.h; so is a folder's (kind 2)
//   path, and an extension's (kind 3) name;
// - except for the end entry, the payload lies inside the container and the
//   next-entry offset lies between the payload's end and the container's
//   end, so every seek moves forward.
// The end entry (kind 4) is taken as it stands: no walk goes past it.
// Entries of other kinds pass the same offset checks; what to do with them
// is the caller's choice.
class cInstWalker {
 public:
  cInstWalker() = default;
  cInstWalker(const cInstWalker&) = delete;
  cInstWalker& operator=(const cInstWalker&) = delete;

  // Makes and opens the view flow on `size` bytes at `data` (which must
  // outlive the walker and stay unchanged). False for nil data, a negative size, a size of 2 GiB or
  // more, or a flow that cannot be made or opened.
  bool Open(const void* data, int64_t size);
  // Open on the bytes registered as "..\install_data.idf": NotRegistered
  // when the registry has no such block, Unreadable when Open fails.
  enum class eOpen : uint8_t { Opened, NotRegistered, Unreadable };
  eOpen OpenInstallData();
  // Reads the first 6 bytes and compares them with "IDF100".
  bool ReadSignature();
  // Reads and validates the header at the flow's position.
  eInstStep Next(rInstEntry& entry);
  // The payload of the last entry that Next answered Entry for, and its
  // stored size.
  const uint8_t* Payload() const { return mData + mPayload; }
  int32_t PayloadSize() const { return mPayloadSize; }
  // True when the CRC-32 register over the payload equals the stored check.
  bool PayloadMatches() const;
  // Seeks to the next-entry offset of the last entry (never the end entry's).
  bool SeekNext();
  // Seeks back to the first entry, after the signature.
  bool Rewind();
  // True once an entry of kind 1 with the main-program flag passed Next.
  bool MainSeen() const { return mMainSeen; }
  cFlow* Flow() const { return mFlow.get(); }

 private:
  const uint8_t* mData = nullptr;
  int64_t mSize = 0;
  std::unique_ptr<cViewFlow> mFlow;
  int64_t mPayload = 0;
  int32_t mPayloadSize = 0;
  uint32_t mStoredCheck = 0;
  int64_t mNext = -1;
  bool mMainSeen = false;
};
