// The flat file layer over the platform's file services.
#include "qlm_platform_file_io.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <limits>
#include <mutex>
#include <vector>

#include "plat_file.h"
#include "qlm_base_util.h"
#include "qlm_mem_block.h"

namespace {

// Serialises the open steps of the file layer. The host needs no shared open
// mode, but the lock keeps the layer's open steps one at a time as its
// callers expect.
std::mutex gFileOpenLock;
std::atomic<bool> gFileLayerStarted{false};

constexpr int64_t kInt64Max = std::numeric_limits<int64_t>::max();

// The framework code for a platform failure: the codes the base module knows
// pass unchanged, the rest become the general input/output error.
int32_t base_code(int32_t plat_code) {
  switch (plat_code) {
    case plat::kFileErrNotFound:
    case plat::kFileErrPathNotFound:
    case plat::kFileErrTooManyOpen:
    case plat::kFileErrAccess:
    case plat::kFileErrBadDrive:
    case plat::kFileErrRead:
    case plat::kFileErrWrite: return plat_code;
    case plat::kFileErrExists: return errAccessDenied;
    default: return errEInOutError;
  }
}

void check_host(int32_t plat_code, std::string_view text) {
  if (plat_code != plat::kFileOk) raise_base_error(base_code(plat_code), text);
}

bool is_open(const rFileRecord* f) { return f->mode != eFileMode::Closed; }

void need_open(const rFileRecord* f) {
  if (!is_open(f)) raise_base_error(errAccessDenied, "{TFileRec.Mode}");
}

void need_mode(bool allowed) {
  if (!allowed) raise_base_error(errAccessDenied, "{TFileRec.Mode}");
}

bool readable(const rFileRecord* f) { return f->mode == eFileMode::Input || f->mode == eFileMode::InOut; }
bool writable(const rFileRecord* f) { return f->mode == eFileMode::Output || f->mode == eFileMode::InOut; }

int64_t host_size(const rFileRecord* f) {
  int64_t size = -1;
  check_host(plat::file_size_of(f->handle, size), "{FileSize}");
  return size;
}

void host_seek(const rFileRecord* f, int64_t offs) { check_host(plat::file_set_position(f->handle, offs), "{Seek}"); }

// The buffer of one move operation, from mem_alloc, zero-filled.
class MoveBuffer {
 public:
  explicit MoveBuffer(int64_t size) : mSize(size) {
    if (size <= 0) return;
    if (!mem_alloc(mData.Ref(), size)) raise_base_error(errNEnoughMem, "{mem_alloc}");
    std::memset(mData.Get(), 0, size_t(size));
  }
  uint8_t* Data() { return mData.Get(); }
  void Zero() {
    if (mData.Get() != nullptr) std::memset(mData.Get(), 0, size_t(mSize));
  }

 private:
  cMemBlock<uint8_t> mData;
  int64_t mSize = 0;
};

// Runs `body` keeping the code in the name's last error; 0 on success.
template <typename R, typename F>
R keep_name_code(cFileName* fn, R failure, F&& body) {
  int32_t code = 0;
  R result = keep_code(code, failure, body);
  fn->SetLastError(code);
  return result;
}

// Refused with 15 before anything reaches the host (see IsLongNetwork).
void refuse_long_network(cFileName* fn) {
  if (fn->IsLongNetwork()) raise_base_error(errBadDrive, "{\\\\?\\UNC}");
}

// A level that is "." or ".." (after a drive's colon, if any).
bool has_dot_level(std::string_view text) {
  if (text.size() >= 2 && text[1] == ':') text.remove_prefix(2);
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t end = text.find_first_of("\\/", pos);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view level = text.substr(pos, end - pos);
    if (level == "." || level == "..") return true;
    pos = end + 1;
  }
  return false;
}

// The text the host is given for a name. The system resolves "." and ".."
// on the text before any file system sees the name, as Expand does; the host
// would follow ".." through a symbolic link and act on another folder than
// the one the name shows, and than the one a search lists. Names without
// such levels pass unchanged (a relative name stays relative).
// A long-form name ("\\?\...") is resolved as the operations over a
// cFileName resolve it: Expand leaves such names as they are, and their
// FullName drops the prefix, so the text is taken without it (a long-form
// network name is refused first, as everywhere).
std::string host_text(std::string_view text) {
  if (!has_dot_level(text)) return std::string(text);
  cFileName resolved(text);
  refuse_long_network(&resolved);
  if (text.starts_with("\\\\?\\") && !resolved.Assign(resolved.FullName())) raise_base_error(errWinAPICall, "{Expand}");
  if (!resolved.Expand()) raise_base_error(errWinAPICall, "{Expand}");
  return resolved.FullName();
}

// host_text for the functions that answer only true or false.
bool host_text_of(std::string_view text, std::string& out) {
  try {
    out = host_text(text);
    return true;
  } catch (...) {
    return false;
  }
}

// The name's full name, which must not be blank.
std::string checked_full_name(cFileName* fn) {
  if (fn == nullptr) raise_condition_error(errPreCondition, "{fn=NIL}");
  refuse_long_network(fn);
  std::string full = fn->FullName();
  if (string_trim(full).empty()) raise_condition_error(errPreCondition, "{fn.FullName=\"\"}");
  return full;
}

}  // namespace

void file_layer_start() { gFileLayerStarted = true; }
void file_layer_stop() { gFileLayerStarted = false; }
bool file_layer_started() { return gFileLayerStarted; }

// ---------------------------------------------------------------------------
// The file record

void file_clear(rFileRecord* f) {
  if (f == nullptr) return;
  // An open descriptor is released rather than leaked.
  if (is_open(f) && f->handle >= 0) plat::close_file(f->handle);
  *f = rFileRecord();
}

bool file_open(rFileRecord* f, cFileName* fn, int32_t access) {
  if (f == nullptr) return false;
  f->lastError = errInvariant;
  return keep_code(f->lastError, false, [&] {
    std::lock_guard<std::mutex> lock(gFileOpenLock);
    const std::string full = checked_full_name(fn);
    if (is_open(f)) raise_base_error(errAccessDenied, "{TFileRec.Mode}");
    f->lastError = 0;
    f->name = full;
    int32_t error = 0;
    const int fd = plat::open_file(host_text(full), access, error);
    check_host(error, "{Reset}");
    f->handle = fd;
    f->mode = access == 1 ? eFileMode::Input : access == 2 ? eFileMode::Output : eFileMode::InOut;
    f->lastCount = 0;
    return true;
  });
}

bool file_create(rFileRecord* f, cFileName* fn, uint32_t flags) {
  if (f == nullptr) return false;
  f->lastError = errInvariant;
  return keep_code(f->lastError, false, [&] {
    const std::string full = checked_full_name(fn);
    if (is_open(f)) raise_base_error(errAccessDenied, "{TFileRec.Mode}");
    f->lastError = 0;
    f->name = full;
    int32_t error = 0;
    // Without flag bit 0 an existing name is refused by the creation itself.
    const int fd = plat::create_file(host_text(full), (flags & 1) != 0, error);
    if (error == plat::kFileErrExists) raise_base_error(errInvariant, "{file_exists(fn )}");
    check_host(error, "{Rewrite}");
    f->handle = fd;
    f->mode = eFileMode::InOut;
    f->lastCount = 0;
    return true;
  });
}

bool file_close(rFileRecord* f) {
  if (f == nullptr) return false;
  f->lastError = 0;
  return keep_code(f->lastError, false, [&] {
    if (!is_open(f)) raise_base_error(errAccessDenied, "{Close(f.handle)}");
    const int32_t code = plat::close_file(f->handle);
    f->handle = -1;
    f->mode = eFileMode::Closed;
    check_host(code, "{Close(f.handle)}");
    return true;
  });
}

bool file_read(rFileRecord* f, void* buffer, int64_t count) {
  if (f == nullptr) return false;
  f->lastError = 0;
  return keep_code(f->lastError, false, [&] {
    f->lastCount = 0;
    need_mode(readable(f));
    if (count < 0) raise_condition_error(errPreCondition, "{sz<0}");
    if (buffer == nullptr) raise_condition_error(errPreCondition, "{bf=NIL}");
    int64_t done = 0;
    const int32_t code = plat::read_full(f->handle, buffer, count, done);
    f->lastCount = done;
    if (code != plat::kFileOk) raise_base_error(errDiskRead, "{BlockRead}");
    return true;
  });
}

bool file_write(rFileRecord* f, const void* buffer, int64_t count) {
  if (f == nullptr) return false;
  f->lastError = 0;
  return keep_code(f->lastError, false, [&] {
    f->lastCount = 0;
    need_mode(writable(f));
    if (count < 0) raise_condition_error(errPreCondition, "{sz<0}");
    if (buffer == nullptr && count > 0) raise_condition_error(errPreCondition, "{bf=NIL & sz > 0}");
    if (count == 0) return true;
    int64_t done = 0;
    const int32_t code = plat::write_full(f->handle, buffer, count, done);
    f->lastCount = done;
    if (code != plat::kFileOk) raise_base_error(errDiskWrite, "{BlockWrite}");
    return true;
  });
}

bool file_insert(rFileRecord* f, int64_t offs, int64_t count) {
  if (f == nullptr) return false;
  f->lastError = 0;
  return keep_code(f->lastError, false, [&] {
    need_mode(f->mode == eFileMode::InOut);
    if (count < 0) raise_condition_error(errPreCondition, "{sz<0}");
    if (offs < cnFileOffsEOF) raise_condition_error(errPreCondition, "{offs<0}");
    const int fd = f->handle;
    const int64_t size = host_size(f);
    if (offs == cnFileOffsEOF) offs = size;
    if (offs > size) {
      // Beyond the end: the file grows with zeros up to the old offset.
      if (count > kInt64Max - (offs - size)) raise_condition_error(errPreCondition, "{offs+sz}");
      count += offs - size;
      offs = size;
    }
    if (count > kInt64Max - size) raise_condition_error(errPreCondition, "{fsz+sz}");
    f->lastCount = 0;
    if (count == 0) {
      host_seek(f, offs);
      return true;
    }
    const int64_t tail = size - offs;
    const int64_t chunk = std::min(std::max(count, tail), cnFileMoveChunk);
    MoveBuffer buffer(chunk);
    uint8_t* buf = buffer.Data();

    // Append count zero bytes; on failure cut them off again.
    while (f->lastCount < count) {
      const int64_t n = std::min(chunk, count - f->lastCount);
      int64_t done = 0;
      const int32_t code = plat::write_at(fd, size + f->lastCount, buf, n, done);
      f->lastCount += done;
      if (code != plat::kFileOk) {
        const bool cut = plat::file_truncate(fd, size) == plat::kFileOk;
        raise_base_error(errInvariant, cut ? "{BlockWrite@eof}" : "{file_crop}");
      }
    }

    // Move the tail up by count, the last chunk first.
    int64_t moved = 0;
    while (moved < tail) {
      const int64_t n = std::min(chunk, tail - moved);
      const int64_t src = size - moved - n;
      int64_t done = 0;
      bool restorable = true;
      bool failed = false;
      if (plat::read_at(fd, src, buf, n, done) != plat::kFileOk) {
        failed = true;
      } else if (plat::write_at(fd, src + count, buf, n, done) != plat::kFileOk) {
        failed = true;
        // A partial write may have overwritten this chunk's own bytes: put
        // them back from the buffer before anything else.
        restorable = plat::write_at(fd, src, buf, n, done) == plat::kFileOk;
      }
      if (!failed) {
        moved += n;
        continue;
      }
      // Move the chunks already moved back down, lowest first.
      for (int64_t at = size - moved; restorable && at < size; at += chunk) {
        const int64_t m = std::min(chunk, size - at);
        restorable = plat::read_at(fd, at + count, buf, m, done) == plat::kFileOk &&
                     plat::write_at(fd, at, buf, m, done) == plat::kFileOk;
      }
      if (!restorable) raise_base_error(errInvariant, "{UnrecoverableError}");
      const bool cut = plat::file_truncate(fd, size) == plat::kFileOk;
      raise_base_error(errInvariant, cut ? "{UnexpectedError}" : "{file_crop}");
    }

    // Zeros over the inserted range. A failure leaves stale bytes there, so
    // it is reported.
    buffer.Zero();
    for (int64_t z = 0; z < count;) {
      const int64_t n = std::min(chunk, count - z);
      int64_t done = 0;
      if (plat::write_at(fd, offs + z, buf, n, done) != plat::kFileOk)
        raise_base_error(errInvariant, "{UnrecoverableError}");
      z += n;
    }
    host_seek(f, offs);
    return true;
  });
}

bool file_delete(rFileRecord* f, int64_t offs, int64_t count) {
  if (f == nullptr) return false;
  f->lastError = 0;
  return keep_code(f->lastError, false, [&] {
    need_mode(f->mode == eFileMode::InOut);
    if (count < 0) raise_condition_error(errPreCondition, "{sz<0}");
    if (offs < 0) raise_condition_error(errPreCondition, "{offs<0}");
    const int fd = f->handle;
    const int64_t size = host_size(f);
    if (offs > size || count > size - offs) raise_base_error(errInvariant, "{offs+sz>fsz}");
    const int64_t tail = size - offs - count;
    const int64_t chunk = count == 0 ? 0 : std::min(tail, cnFileMoveChunk);
    MoveBuffer buffer(chunk);
    f->lastCount = 0;
    while (count > 0 && f->lastCount < tail) {
      const int64_t n = std::min(chunk, tail - f->lastCount);
      int64_t done = 0;
      if (plat::read_at(fd, offs + count + f->lastCount, buffer.Data(), n, done) != plat::kFileOk ||
          plat::write_at(fd, offs + f->lastCount, buffer.Data(), n, done) != plat::kFileOk)
        raise_base_error(errInvariant, "{UnrecoverableError}");
      f->lastCount += n;
    }
    if (plat::file_truncate(fd, size - count) != plat::kFileOk) raise_base_error(errInvariant, "{UnrecoverableError}");
    f->lastCount = count;
    host_seek(f, offs);
    return true;
  });
}

bool file_crop(rFileRecord* f, int64_t count) {
  if (f == nullptr) return false;
  f->lastError = 0;
  return keep_code(f->lastError, false, [&] {
    need_mode(writable(f));
    if (count < 0) raise_condition_error(errPreCondition, "{sz<0}");
    const int64_t size = host_size(f);
    if (count > size) raise_base_error(errInvariant, "{sz>fsz}");
    check_host(plat::file_truncate(f->handle, size - count), "{Truncate}");
    host_seek(f, size - count);
    return true;
  });
}

int64_t file_size(rFileRecord* f) {
  if (f == nullptr) return -1;
  f->lastError = 0;
  return keep_code(f->lastError, int64_t(-1), [&] {
    need_open(f);
    return host_size(f);
  });
}

int64_t file_offs(rFileRecord* f) {
  if (f == nullptr) return -1;
  f->lastError = 0;
  return keep_code(f->lastError, int64_t(-1), [&] {
    need_open(f);
    int64_t pos = -1;
    check_host(plat::file_position(f->handle, pos), "{FilePos}");
    return pos;
  });
}

bool file_seek(rFileRecord* f, int64_t offs) {
  if (f == nullptr) return false;
  f->lastError = 0;
  return keep_code(f->lastError, false, [&] {
    need_open(f);
    const int64_t size = host_size(f);
    if (offs == cnFileOffsEOF) offs = size;
    if (offs < 0 || offs > size) raise_base_error(errInvariant, "{(offs<0) or (offs>fsz)}");
    host_seek(f, offs);
    return true;
  });
}

bool file_eof(rFileRecord* f) {
  if (f == nullptr) return false;
  f->lastError = 0;
  return keep_code(f->lastError, false, [&] {
    need_open(f);
    int64_t pos = -1;
    check_host(plat::file_position(f->handle, pos), "{FilePos}");
    return pos == host_size(f);
  });
}

// ---------------------------------------------------------------------------
// Names and folders

bool file_remove(cFileName* fn) {
  if (fn == nullptr) return false;
  return keep_name_code(fn, false, [&] {
    check_host(plat::remove_file(host_text(checked_full_name(fn))), "{DeleteFile}");
    return true;
  });
}

bool file_exists(cFileName* fn) {
  if (fn == nullptr || fn->IsLongNetwork()) return false;
  const std::string full = fn->FullName();
  std::string host;
  return !full.empty() && host_text_of(full, host) && plat::file_exists(host);
}

bool file_exists(std::string_view path) {
  std::string host;
  return host_text_of(path, host) && plat::file_exists(host);
}

bool dir_exists(std::string_view path) {
  std::string host;
  return host_text_of(path, host) && plat::dir_exists(host);
}

bool dir_exists(cFileName* fn) {
  if (fn == nullptr || fn->IsLongNetwork()) return false;
  const std::string path = fn->Path();
  std::string host;
  return !path.empty() && host_text_of(path, host) && plat::dir_exists(host);
}

bool mk_dir(cFileName* fn, uint32_t flags) {
  if (fn == nullptr) return false;
  std::vector<std::string> created;
  const bool ok = keep_name_code(fn, false, [&] {
    refuse_long_network(fn);
    const std::string path = fn->Path();
    if (path.empty()) raise_condition_error(errPreCondition, "{fn.Path=\"\"}");
    const std::string host = host_text(path);
    if (plat::dir_exists(host)) return true;
    const int32_t levels = fn->PathLevels();
    if ((flags & cnDirRecursive) != 0 && levels >= 2) {
      // The walker grows from the drive level by level, so a relative name
      // stays relative.
      std::string walker = fn->Drive();
      for (int32_t i = 1; i < levels; ++i) {
        const std::string level = fn->PathLevel(i);
        if (level.empty()) raise_base_error(errQLMCall, "{scn.IncreasePath}");
        walker += level;
        const std::string level_host = host_text(walker);
        if (plat::dir_exists(level_host)) continue;
        check_host(plat::make_dir(level_host), "{CreateDir}");
        created.push_back(level_host);
      }
    }
    check_host(plat::make_dir(host), "{CreateDir}");
    created.clear();
    return true;
  });
  // Roll back: only the levels this call created, deepest first, and only
  // while empty (anything put there meanwhile stays).
  for (auto it = created.rbegin(); it != created.rend(); ++it) plat::remove_dir(*it);
  return ok;
}

bool mk_dir(std::string_view path, uint32_t flags) {
  cFileName name;
  if (!name.SetPath(path)) return false;
  return mk_dir(&name, flags);
}

bool mk_dir_all_notify(cFileName* fn, uint32_t /*flags*/, const tCreatedFolder& created) {
  if (fn == nullptr) return false;
  try {
    refuse_long_network(fn);
    const int32_t levels = fn->PathLevels();
    if (levels < 0) raise_base_error(errRunTime, "");
    std::string text = fn->Drive();
    for (int32_t i = 1; i <= levels; ++i) {
      const std::string level = fn->PathLevel(i);
      if (level.empty()) raise_base_error(errRunTime, "");
      text += level;
      if (plat::dir_exists(host_text(text))) continue;
      if (!mk_dir(text, 0)) raise_base_error(errRunTime, "");
      if (created && !created(text)) raise_base_error(errRunTime, "");
    }
    return true;
  } catch (...) {
    return false;
  }
}

bool mk_dir_all_notify(std::string_view path, uint32_t flags, const tCreatedFolder& created) {
  cFileName name;
  if (!name.SetPath(path)) return false;
  return mk_dir_all_notify(&name, flags, created);
}

bool rm_dir_all(cFileName* fn, int32_t /*ignored*/) {
  if (fn == nullptr) raise_condition_error(errPreCondition, "{fn=NIL}");
  refuse_long_network(fn);
  // Never the current folder by default: an empty Path is refused.
  const std::string path = fn->Path();
  if (path.empty()) raise_condition_error(errPreCondition, "{fn.Path=\"\"}");
  // A Path ending in "." or ".." names a folder the caller did not spell
  // out (the current one or a parent): refused as before resolving.
  {
    std::string_view last = path;
    while (!last.empty() && (last.back() == '\\' || last.back() == '/')) last.remove_suffix(1);
    const size_t cut = last.find_last_of("\\/:");
    if (cut != std::string_view::npos) last.remove_prefix(cut + 1);
    if (last == "." || last == "..") raise_base_error(errAccessDenied, "{RemoveDir}");
  }
  const std::string host = host_text(path);
  fn->SetName("*");
  fn->SetExtension("*");
  const plat::TreeRemoval r = plat::remove_tree(host);
  switch (r.stage) {
    case 0: return true;
    case 1: raise_base_error(errQLMCall, "{file_remove}");
    case 2: raise_base_error(errSubFnCall, "{rm_dir_all}");
    default: raise_base_error(base_code(r.code), "{RemoveDir}");
  }
}

bool rm_dir(cFileName* fn, uint32_t flags) {
  if (fn == nullptr) return false;
  return keep_name_code(fn, false, [&] {
    refuse_long_network(fn);
    if ((flags & cnDirRecursive) != 0) {
      std::unique_ptr<cFileName> copy = fn->Clone();
      if (!copy) raise_base_error(errQLMCall, "{fn.Clone}");
      try {
        rm_dir_all(copy.get(), 0);
      } catch (...) {
        raise_base_error(errSubFnCall, "{rm_dir_all}");
      }
      return true;
    }
    const std::string path = fn->Path();
    if (path.empty()) raise_condition_error(errPreCondition, "{fn.Path=\"\"}");
    check_host(plat::remove_dir(host_text(path)), "{RemoveDir}");
    return true;
  });
}

bool dir_set_current(std::string_view path) {
  std::string host;
  return host_text_of(path, host) && plat::set_current_dir(host) == plat::kFileOk;
}

int64_t disk_free_space(std::string_view path) {
  std::string host;
  return host_text_of(path, host) ? plat::free_space(host) : -1;
}

// ---------------------------------------------------------------------------
// Directory search

rFileFind::rFileFind() = default;
rFileFind::~rFileFind() = default;

namespace {

bool fill_found(rFileFind* ff, const plat::DirEntry& e) {
  ff->attributes = e.attributes;
  ff->sizeLow = uint32_t(e.size & 0xFFFFFFFFu);
  ff->sizeHigh = uint32_t(e.size >> 32);
  filetime_to_datetime(ff->created, e.created);
  filetime_to_datetime(ff->written, e.written);
  filetime_to_datetime(ff->accessed, e.accessed);
  std::string text = ff->pattern->Path();
  text += e.name;
  if (e.is_dir) text += '\\';
  if (!ff->found) ff->found = std::make_unique<cFileName>();
  return ff->found->Assign(text);
}

}  // namespace

rFileFind* find_first(cFileName* pattern) {
  try {
    auto ff = std::make_unique<rFileFind>();
    if (pattern == nullptr || string_trim(pattern->FullName()).empty()) {
      // The logical drives: C: alone, as a NUL-ended list.
      ff->driveMode = true;
      ff->buffer.assign("C:\\\0\0", 5);
      ff->found = std::make_unique<cFileName>();
      const size_t end = ff->buffer.find('\0');
      if (!ff->found->Assign(std::string_view(ff->buffer).substr(0, end))) return nullptr;
      ff->position = end + 1;
      return ff.release();
    }
    if (pattern->IsLongNetwork()) return nullptr;
    std::unique_ptr<cFileName> expanded = pattern->Clone();
    if (!expanded || !expanded->Expand()) return nullptr;
    const std::string full = expanded->FullName();
    if (full.empty()) return nullptr;
    ff->pattern = std::move(expanded);
    ff->search = std::make_unique<plat::DirSearch>();
    plat::DirEntry e;
    if (ff->search->Start(host_text(full), e) != plat::kFileOk) return nullptr;
    if (!fill_found(ff.get(), e)) return nullptr;
    return ff.release();
  } catch (...) {
    return nullptr;
  }
}

bool find_next(rFileFind* ff) {
  if (ff == nullptr) return false;
  try {
    if (ff->driveMode) {
      if (ff->position >= ff->buffer.size() || ff->buffer[ff->position] == '\0') return false;
      const size_t end = ff->buffer.find('\0', ff->position);
      const std::string_view name = std::string_view(ff->buffer).substr(ff->position, end - ff->position);
      ff->position = end + 1;
      return ff->found->Assign(name);
    }
    if (!ff->search) return false;
    plat::DirEntry e;
    while (ff->search->Next(e))
      if (fill_found(ff, e)) return true;
    return false;
  } catch (...) {
    return false;
  }
}

void find_close(rFileFind* ff) { delete ff; }
