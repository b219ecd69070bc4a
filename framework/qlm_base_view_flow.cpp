#include "qlm_base_view_flow.h"

#include <algorithm>
#include <cstring>

#include "qlm_base_codes.h"
#include "qlm_base_object.h"

bool cViewFlow::Open() {
  return log_and_fail(this, false, [&] {
    if (mSize < 0 || (mData == nullptr && mSize > 0)) raise_condition_error(errPreCondition, "{no data}");
    mOffset = 0;
    mLastIO = 0;
    mOpened = true;
    return true;
  });
}

bool cViewFlow::Close() {
  mOpened = false;
  mOffset = 0;
  return true;
}

bool cViewFlow::Seek(int64_t offset) {
  return log_and_fail(this, false, [&] {
    if (!mOpened) raise_condition_error(errInvariant, "{not IsOpened}");
    if (offset < 0 || offset > mSize) raise_condition_error(errPreCondition, "{offset outside}");
    mOffset = offset;
    return true;
  });
}

bool cViewFlow::Read(void* buffer, int32_t n) {
  return log_and_fail(this, false, [&] {
    mLastIO = 0;
    if (!mOpened) raise_condition_error(errInvariant, "{not IsOpened}");
    if (n < 0) raise_condition_error(errPreCondition, "{sz<0}");
    if (buffer == nullptr && n > 0) raise_condition_error(errPreCondition, "{bf=NIL}");
    const int64_t piece = std::min<int64_t>(n, mSize - mOffset);
    if (piece > 0) std::memcpy(buffer, mData + mOffset, size_t(piece));
    mOffset += piece;
    mLastIO = uint32_t(piece);
    if (piece < n) raise_base_error(errDiskRead, "");
    return true;
  });
}
