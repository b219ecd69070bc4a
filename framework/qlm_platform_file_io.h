// The flat file layer: a file record with open, create, close, read, write,
// size, position, seek and end test; insertion and deletion of bytes inside
// a file and cutting off its end; existence tests and deletion of files;
// folder creation level by level with roll-back; removal of folder trees;
// the directory search and the list of logical drives; free space; the
// current folder.
//
// Error convention: every function answers its outcome and lets nothing out
// (rm_dir_all alone raises). Functions over a record keep the code of a
// failure in the record's lastError, functions over a cFileName in the
// name's LastError; functions over plain strings keep none. Counts, offsets
// and sizes are signed 64-bit; a negative count or offset (other than -1 =
// the end, where allowed) is refused with 279.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "qlm_platform.h"
#include "qlm_platform_file.h"

// The end of the file, for file_insert and file_seek.
constexpr int64_t cnFileOffsEOF = -1;
// Largest buffer the layer uses to move data inside a file.
constexpr int64_t cnFileMoveChunk = 65520;

enum class eFileMode : uint8_t { Closed = 0, Input = 1, Output = 2, InOut = 3 };

// One open file. file_clear gives the closed state with no name.
struct rFileRecord {
  int handle = -1;
  eFileMode mode = eFileMode::Closed;
  int32_t recordSize = 1;
  std::string name;  // the whole name the record was opened with
  int32_t lastError = 0;
  int64_t lastCount = 0;
};

// Starts and stops the file layer (the open lock); both are idempotent.
void file_layer_start();
void file_layer_stop();
bool file_layer_started();

void file_clear(rFileRecord* f);
// access: 1 read only, 2 write only, anything else read and write.
bool file_open(rFileRecord* f, cFileName* fn, int32_t access);
// Creates the file open for reading and writing; flag bit 0 (value 1) cuts
// an existing file to length 0, without it an existing file is refused
// (281) and left untouched.
bool file_create(rFileRecord* f, cFileName* fn, uint32_t flags);
bool file_close(rFileRecord* f);
// Exactly `count` bytes at the current position; lastCount = bytes moved.
bool file_read(rFileRecord* f, void* buffer, int64_t count);
bool file_write(rFileRecord* f, const void* buffer, int64_t count);
// Makes `count` zero bytes stand at `offs` (-1 = the end; beyond the end the
// file grows with zeros up to offs + count). The position afterwards is the
// offset, or the old end when the offset lay beyond it; lastCount = bytes
// appended. On failure the file keeps its old content and size, except after
// 281 "{UnrecoverableError}".
bool file_insert(rFileRecord* f, int64_t offs, int64_t count);
// Removes `count` bytes at `offs`; position afterwards the offset,
// lastCount = count.
bool file_delete(rFileRecord* f, int64_t offs, int64_t count);
// Cuts `count` bytes off the end; position afterwards the new end.
bool file_crop(rFileRecord* f, int64_t count);
// Size and position, -1 on failure (also for a nil record).
int64_t file_size(rFileRecord* f);
int64_t file_offs(rFileRecord* f);
bool file_seek(rFileRecord* f, int64_t offs);
bool file_eof(rFileRecord* f);

bool file_remove(cFileName* fn);
bool file_exists(cFileName* fn);
bool file_exists(std::string_view path);
// The string names an existing folder.
bool dir_exists(std::string_view path);
// The name's Path (drive and directory) names an existing folder.
bool dir_exists(cFileName* fn);

// Flag of mk_dir: create missing parent levels first; of rm_dir: remove the
// contents too.
constexpr uint32_t cnDirRecursive = 8;

// Creates the folder of the name's Path when missing. With flag 8 the
// missing parents are created first; on failure only the levels this call
// created are removed again (deepest first, each only while empty).
bool mk_dir(cFileName* fn, uint32_t flags);
// The string is taken as a folder (SetPath: a "\" is added).
bool mk_dir(std::string_view path, uint32_t flags);

// Called with the full name (ending in "\") of each folder mk_dir_all
// creates; false fails the walk.
using tCreatedFolder = std::function<bool(const std::string& folder)>;
bool mk_dir_all_notify(cFileName* fn, uint32_t flags, const tCreatedFolder& created);
bool mk_dir_all_notify(std::string_view path, uint32_t flags, const tCreatedFolder& created);
// Creates every missing level of the name's Path from the top down. With a
// list (anything with Add(text) answering non-nil, cCharStringsList in the
// system), the full name of each created folder is appended. Folders created
// before a failure stay, and stay in the list.
inline bool mk_dir_all(cFileName* fn, uint32_t flags = 0) { return mk_dir_all_notify(fn, flags, nullptr); }
inline bool mk_dir_all(std::string_view path, uint32_t flags = 0) { return mk_dir_all_notify(path, flags, nullptr); }
template <typename tList>
bool mk_dir_all(cFileName* fn, uint32_t flags, tList* list) {
  if (list == nullptr) return mk_dir_all_notify(fn, flags, nullptr);
  return mk_dir_all_notify(fn, flags, [list](const std::string& t) { return list->Add(t) != nullptr; });
}
template <typename tList>
bool mk_dir_all(std::string_view path, uint32_t flags, tList* list) {
  if (list == nullptr) return mk_dir_all_notify(path, flags, nullptr);
  return mk_dir_all_notify(path, flags, [list](const std::string& t) { return list->Add(t) != nullptr; });
}

// Removes the (empty) folder of the name's Path; flag 8 removes its contents
// first (through rm_dir_all on a copy of the name).
bool rm_dir(cFileName* fn, uint32_t flags);
// Removes the folder of the name's Path with everything in it, and sets the
// name's file part to "*.*". Symbolic links are removed, never followed; an
// entry whose name cannot be written as a Windows name is left (and its
// folder with it). Raises on failure: 287 "{file_remove}", 288 "{rm_dir_all}"
// (inside a subfolder), 279 for a missing name or an empty Path, or the
// system's code for the folder itself.
bool rm_dir_all(cFileName* fn, int32_t ignored = 0);

bool dir_set_current(std::string_view path);
// Free bytes the user may use on the disk that holds the path, measured on
// its deepest existing folder; -1 when unknown.
int64_t disk_free_space(std::string_view path);

// ---------------------------------------------------------------------------
// Directory search

enum : uint16_t {
  faArchive = 1,
  faReadOnly = 2,
  faHidden = 4,
  faSysFile = 8,
  faDirectory = 32,
  faCompressed = 128,
  faTemporary = 512,
  faNormal = 1024,
};

namespace plat {
class DirSearch;
}

struct rFileFind {
  rFileFind();
  ~rFileFind();
  rFileFind(const rFileFind&) = delete;
  rFileFind& operator=(const rFileFind&) = delete;

  std::unique_ptr<plat::DirSearch> search;  // nil in drive mode
  std::string buffer;                       // drive mode: the drive names, each NUL-ended
  size_t position = 0;                      // drive mode: offset of the next drive name
  bool driveMode = false;
  std::unique_ptr<cFileName> found;    // full name of the entry; a folder's ends in "\"
  std::unique_ptr<cFileName> pattern;  // the expanded pattern (search mode)
  uint32_t sizeLow = 0;
  uint32_t sizeHigh = 0;
  uint16_t attributes = 0;
  rDateTime created;
  rDateTime written;
  rDateTime accessed;
};

// A search on the pattern's folder ("*" and "?" in its last level; the order
// of entries is not defined), or, for nil or a blank pattern, over the
// logical drives ("C:\"). Nil when nothing is found.
rFileFind* find_first(cFileName* pattern);
bool find_next(rFileFind* ff);
void find_close(rFileFind* ff);
