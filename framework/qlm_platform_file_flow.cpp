#include "qlm_platform_file_flow.h"

#include <algorithm>
#include <new>

#include "qlm_base_util.h"

uint32_t id_cFileFlow = 0;

void qlm_file_flow_types_start() { new_type_id(id_cFileFlow); }

namespace {

// A 64-bit count as the flow's 32-bit LastIO.
int32_t clamp32(int64_t v) { return int32_t(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); }

[[noreturn]] void failed_call(std::string_view text) { raise_base_error(errQLMCall, text); }

}  // namespace

cFileFlow::cFileFlow(std::string_view file_name, int32_t access) : mAccess(access) {
  file_clear(&mFile);
  mFileName.reset(new (std::nothrow) cFileName());
  if (!file_name.empty()) Assign(file_name, access);
}

cFileFlow::cFileFlow(cFileName* file_name, int32_t access) : mAccess(access) {
  file_clear(&mFile);
  mFileName.reset(new (std::nothrow) cFileName());
  if (file_name != nullptr && !string_trim(file_name->FullName()).empty()) Assign(file_name, access);
}

cFileFlow::~cFileFlow() {
  if (IsOpened()) file_close(&mFile);
  FreeCopyBuffer();
}

bool cFileFlow::Identify(uint32_t id) const { return (id != 0 && id == id_cFileFlow) || cFlow::Identify(id); }

void cFileFlow::NeedOpened() {
  if (!IsOpened()) raise_condition_error(errInvariant, "{not IsOpened}");
}

void cFileFlow::NeedClosed() {
  if (IsOpened()) raise_condition_error(errInvariant, "{IsOpened}");
}

void cFileFlow::NeedAssigned() {
  if (!mFileName || string_trim(mFileName->FullName()).empty())
    raise_condition_error(errPreCondition, "{not Assigned}");
}

void cFileFlow::CopyBuffer() {
  if (mCopyBuffer == nullptr && !mem_alloc(mCopyBuffer, mCopyBufferSize))
    raise_base_error(errNEnoughMem, "{mem_alloc}");
}

void cFileFlow::FreeCopyBuffer() { mem_free(mCopyBuffer); }

bool cFileFlow::Assign(std::string_view file_name, int32_t access) {
  return log_and_fail(this, false, [&] {
    NeedClosed();
    if (string_trim_right(file_name).empty()) raise_condition_error(errPreCondition, "{fn = \"\"}");
    if (!mFileName || !mFileName->Assign(file_name)) failed_call("{mName.Assign}");
    mAccess = access;
    return true;
  });
}

bool cFileFlow::Assign(cFileName* file_name, int32_t access) {
  return log_and_fail(this, false, [&] {
    NeedClosed();
    if (file_name == nullptr) raise_condition_error(errPreCondition, "{fn = NIL}");
    // The copy keeps the FullName, which drops a long prefix: a long-form
    // network name ("\\?\UNC\...") would become a relative folder "UNC".
    if (file_name->IsLongNetwork()) raise_base_error(errBadDrive, "{\\\\?\\UNC}");
    const std::string full = file_name->FullName();
    if (full.empty()) raise_condition_error(errPreCondition, "{fn.FullName = \"\"}");
    if (!mFileName || !mFileName->Assign(full)) failed_call("{mName.Assign}");
    mAccess = access;
    return true;
  });
}

std::unique_ptr<cFlow> cFileFlow::Clone() {
  return log_and_fail(this, std::unique_ptr<cFlow>(),
                      []() -> std::unique_ptr<cFlow> { raise_condition_error(errInvariant, "{cFileFlow.Clone}"); });
}

bool cFileFlow::Open() {
  return log_and_fail(this, false, [&] {
    NeedClosed();
    NeedAssigned();
    if (!file_open(&mFile, mFileName.get(), mAccess)) failed_call("{file_open}");
    return true;
  });
}

bool cFileFlow::OpenAppend() {
  return log_and_fail(this, false, [&] {
    NeedClosed();
    NeedAssigned();
    if (!IsWritable()) raise_condition_error(errInvariant, "{not IsWritable}");
    if (!IsScalable()) raise_condition_error(errInvariant, "{not IsScalable}");
    if (!file_open(&mFile, mFileName.get(), mAccess)) failed_call("{file_open}");
    if (!file_seek(&mFile, cnFileOffsEOF)) {
      // A flow that failed to open stays closed.
      const int32_t code = mFile.lastError;
      file_close(&mFile);
      mFile.lastError = code;
      failed_call("{file_seek(cnFileOffsEOF)}");
    }
    return true;
  });
}

bool cFileFlow::Create() {
  return log_and_fail(this, false, [&] {
    NeedClosed();
    NeedAssigned();
    if (!IsWritable()) raise_condition_error(errInvariant, "{not IsWritable}");
    if (!file_create(&mFile, mFileName.get(), 1)) failed_call("{file_create}");
    return true;
  });
}

bool cFileFlow::Close() {
  return log_and_fail(this, false, [&] {
    NeedOpened();
    const bool closed = file_close(&mFile);
    FreeCopyBuffer();
    if (!closed) failed_call("{file_close}");
    return true;
  });
}

int64_t cFileFlow::Size() {
  return log_and_fail(this, cnUndefinedValue, [&] {
    NeedOpened();
    const int64_t size = file_size(&mFile);
    if (size < 0 || mFile.lastError != 0) failed_call("{file_size}");
    return size;
  });
}

int64_t cFileFlow::Curr() {
  return log_and_fail(this, cnUndefinedValue, [&] {
    NeedOpened();
    const int64_t pos = file_offs(&mFile);
    if (pos < 0 || mFile.lastError != 0) failed_call("{file_offs}");
    return pos;
  });
}

bool cFileFlow::Eof() {
  return log_and_fail(this, false, [&] {
    NeedOpened();
    const bool eof = file_eof(&mFile);
    if (mFile.lastError != 0) failed_call("{file_eof}");
    return eof;
  });
}

bool cFileFlow::Seek(int64_t offset) {
  return log_and_fail(this, false, [&] {
    NeedOpened();
    if (!file_seek(&mFile, offset)) failed_call("{file_seek}");
    return true;
  });
}

bool cFileFlow::IsOpened() { return mFile.mode != eFileMode::Closed; }
bool cFileFlow::IsReadable() { return mAccess == 1 || mAccess == 3; }
bool cFileFlow::IsWritable() { return mAccess == 2 || mAccess == 3; }
bool cFileFlow::IsScalable() { return IsWritable(); }

bool cFileFlow::Read(void* buffer, int32_t n) {
  return log_and_fail(this, false, [&] {
    mLastIO = 0;
    NeedOpened();
    if (!IsReadable()) raise_condition_error(errInvariant, "{not IsReadable}");
    if (n < 0) raise_condition_error(errPreCondition, "{sz<0}");
    if (!file_read(&mFile, buffer, n)) {
      mLastIO = clamp32(mFile.lastCount);
      failed_call("{file_read}");
    }
    mLastIO = n;
    return true;
  });
}

bool cFileFlow::Write(const void* buffer, int32_t n) {
  return log_and_fail(this, false, [&] {
    mLastIO = 0;
    NeedOpened();
    if (!IsWritable()) raise_condition_error(errInvariant, "{not IsWritable}");
    if (n < 0) raise_condition_error(errPreCondition, "{sz<0}");
    const int64_t pos = file_offs(&mFile);
    const int64_t size = file_size(&mFile);
    if (pos < 0 || size < 0) failed_call(pos < 0 ? "{file_offs}" : "{file_size}");
    if (pos + n > size && !IsScalable()) raise_condition_error(errInvariant, "{not IsScalable}");
    if (!file_write(&mFile, buffer, n)) {
      mLastIO = clamp32(mFile.lastCount);
      failed_call("{file_write}");
    }
    mLastIO = n;
    return true;
  });
}

bool cFileFlow::Insert(int32_t n, int64_t offset) {
  return log_and_fail(this, false, [&] {
    mLastIO = 0;
    NeedOpened();
    if (!IsScalable()) raise_condition_error(errInvariant, "{not IsScalable}");
    if (!IsWritable()) raise_condition_error(errInvariant, "{not IsWritable}");
    if (n < 0) raise_condition_error(errPreCondition, "{sz<0}");
    if (offset < cnFileOffsEOF) raise_condition_error(errPreCondition, "{offs<0}");
    int64_t target = offset;
    if (offset == cnFileOffsEOF) {
      target = file_size(&mFile);
      if (target < 0) failed_call("{file_size}");
    }
    if (!file_insert(&mFile, offset, n)) {
      mLastIO = clamp32(mFile.lastCount);
      failed_call("{file_insert}");
    }
    mLastIO = n;
    if (!file_seek(&mFile, target)) failed_call("{file_seek}");
    return true;
  });
}

bool cFileFlow::Delete(int32_t n, int64_t offset) {
  return log_and_fail(this, false, [&] {
    mLastIO = 0;
    NeedOpened();
    if (!IsScalable()) raise_condition_error(errInvariant, "{not IsScalable}");
    if (!IsWritable()) raise_condition_error(errInvariant, "{not IsWritable}");
    if (n < 0) raise_condition_error(errPreCondition, "{sz<0}");
    if (!file_delete(&mFile, offset, n)) {
      mLastIO = clamp32(mFile.lastCount);
      failed_call("{file_delete}");
    }
    mLastIO = n;
    if (!file_seek(&mFile, offset)) failed_call("{file_seek}");
    return true;
  });
}

bool cFileFlow::Crop(int32_t n) {
  return log_and_fail(this, false, [&] {
    mLastIO = 0;
    NeedOpened();
    if (!IsScalable()) raise_condition_error(errInvariant, "{not IsScalable}");
    if (n < 0) raise_condition_error(errPreCondition, "{sz<0}");
    if (!file_crop(&mFile, n)) {
      mLastIO = clamp32(mFile.lastCount);
      failed_call("{file_crop}");
    }
    mLastIO = n;
    if (!file_seek(&mFile, cnFileOffsEOF)) failed_call("{file_seek}");
    return true;
  });
}

bool cFileFlow::SetSize(int64_t size) {
  return log_and_fail(this, false, [&] {
    mLastIO = 0;
    NeedOpened();
    if (!IsScalable()) raise_condition_error(errInvariant, "{not IsScalable}");
    if (size < 0) raise_condition_error(errPreCondition, "{sz<0}");
    const int64_t current = file_size(&mFile);
    if (current < 0) failed_call("{file_size}");
    // Both sizes are 64-bit: a size beyond 4 GiB is never taken for a
    // smaller one.
    const int64_t delta = size - current;
    if (delta > 0) {
      if (!IsWritable()) raise_condition_error(errInvariant, "{not IsWritable}");
      if (!file_insert(&mFile, cnFileOffsEOF, delta)) failed_call("{file_insert}");
    } else if (delta < 0) {
      if (!file_crop(&mFile, -delta)) failed_call("{file_crop}");
    }
    mLastIO = clamp32(delta < 0 ? -delta : delta);
    if (!file_seek(&mFile, 0)) failed_call("{file_seek}");
    return true;
  });
}

bool cFileFlow::CopyFrom(cFlow* source, int32_t n) {
  return log_and_fail(this, false, [&] {
    mLastIO = -1;
    if (source == nullptr) raise_condition_error(errPreCondition, "{fl=NIL}");
    if (n < 0) raise_condition_error(errPreCondition, "{sz<0}");
    NeedOpened();
    if (!source->IsOpened()) raise_condition_error(errPreCondition, "{not fl.IsOpened}");
    if (!source->IsReadable()) raise_condition_error(errPreCondition, "{not fl.IsReadable}");
    if (!IsWritable()) raise_condition_error(errInvariant, "{not IsWritable}");
    const int64_t source_curr = source->Curr();
    const int64_t source_size = source->Size();
    if (source_curr < 0 || source_size < 0 || source_curr + n > source_size)
      raise_condition_error(errInvariant, "{fl.Curr + sz > fl.Size}");
    const int64_t curr = Curr();
    const int64_t size = Size();
    if (curr < 0 || size < 0) failed_call("{Self.Size}");
    if (curr + n > size && !IsScalable()) raise_condition_error(errInvariant, "{not IsScalable}");
    int32_t done = 0;
    if (n > 0) CopyBuffer();
    while (done < n) {
      const int32_t piece = std::min(mCopyBufferSize, n - done);
      if (!source->Read(mCopyBuffer, piece)) {
        mLastIO = done;
        failed_call("{fl.Read}");
      }
      if (!Write(mCopyBuffer, piece)) {
        mLastIO = done + int32_t(LastIO());
        failed_call("{Self.Write}");
      }
      done += piece;
    }
    mLastIO = done;
    return true;
  });
}

bool cFileFlow::CopyTo(cFlow* target, int32_t n) {
  return log_and_fail(this, false, [&] {
    mLastIO = -1;
    if (target == nullptr) raise_condition_error(errPreCondition, "{fl=NIL}");
    if (n < 0) raise_condition_error(errPreCondition, "{sz<0}");
    NeedOpened();
    if (!target->IsOpened()) raise_condition_error(errPreCondition, "{not fl.IsOpened}");
    if (!IsReadable()) raise_condition_error(errInvariant, "{not IsReadable}");
    if (!target->IsWritable()) raise_condition_error(errPreCondition, "{not fl.IsWritable}");
    const int64_t curr = Curr();
    const int64_t size = Size();
    if (curr < 0 || size < 0 || curr + n > size) raise_condition_error(errInvariant, "{Curr+sz>Size}");
    const int64_t target_curr = target->Curr();
    const int64_t target_size = target->Size();
    if (target_curr < 0 || target_size < 0) failed_call("{fl.Size}");
    if (target_curr + n > target_size && !target->IsScalable())
      raise_condition_error(errInvariant, "{not fl.IsScalable}");
    int32_t done = 0;
    if (n > 0) CopyBuffer();
    while (done < n) {
      const int32_t piece = std::min(mCopyBufferSize, n - done);
      if (!Read(mCopyBuffer, piece)) {
        mLastIO = done;
        failed_call("{Self.Read}");
      }
      if (!target->Write(mCopyBuffer, piece)) {
        mLastIO = done + int32_t(target->LastIO());
        failed_call("{fl.Write}");
      }
      done += piece;
    }
    mLastIO = done;
    return true;
  });
}

uint32_t cFileFlow::LastIO() { return mLastIO == -1 ? 0 : uint32_t(mLastIO); }
