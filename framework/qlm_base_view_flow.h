// cViewFlow: a read-only flow over bytes that the caller keeps (the
// program's own embedded data, a mapped file): nothing is copied, so
// opening it costs nothing whatever the size. The bytes must outlive the
// flow and must not change while it reads them.
#pragma once

#include <cstdint>

#include "qlm_base_flow.h"

class cViewFlow : public cFlow {
 public:
  // A closed flow over `size` bytes at `data`; Open fails for nil data with
  // a positive size or a negative size.
  cViewFlow(const void* data, int64_t size) : mData(static_cast<const uint8_t*>(data)), mSize(size) {}

  bool Open() override;
  bool Close() override;
  int64_t Size() override { return mSize; }
  int64_t Curr() override { return mOffset; }
  bool Eof() override { return mOffset >= mSize; }
  // Any position from 0 to the size.
  bool Seek(int64_t offset) override;
  bool IsOpened() override { return mOpened; }
  bool IsReadable() override { return true; }
  // Exactly n bytes from the position on; a read past the end moves what
  // there is, logs errDiskRead and answers false.
  bool Read(void* buffer, int32_t n) override;
  uint32_t LastIO() override { return mLastIO; }
  // The bytes at the position (nil when closed), for callers that read in
  // place.
  const uint8_t* Here() const { return mOpened ? mData + mOffset : nullptr; }

 private:
  const uint8_t* mData;
  int64_t mSize;
  int64_t mOffset = 0;
  uint32_t mLastIO = 0;
  bool mOpened = false;
};
