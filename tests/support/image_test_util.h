// Helpers for the image and codec tests: flows over bytes, a write flow that
// fails after n bytes, a progress recorder that can cancel, and a small
// cImage whose Open builds its frames from a table.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bitmap_builders.h"
#include "qlm_base_flow.h"
#include "qlm_image.h"
#include "qlm_progress.h"

namespace testenv {

// An open read-only flow over a copy of the bytes (fixed size).
inline std::unique_ptr<cMemoryFlow> read_flow(const void* data, int64_t size) {
  auto flow = cMemoryFlow::ConstructReadOnly(true, data, size);
  EXPECT_TRUE(flow->Open());
  return flow;
}
inline std::unique_ptr<cMemoryFlow> read_flow(const std::vector<uint8_t>& bytes) {
  return read_flow(bytes.data(), int64_t(bytes.size()));
}

// Everything written to a memory flow, from its start.
inline std::vector<uint8_t> flow_bytes(cFlow& flow) {
  std::vector<uint8_t> out(size_t(flow.Size()));
  const int64_t at = flow.Curr();
  if (!out.empty() && (!flow.Seek(0) || !flow.Read(out.data(), int32_t(out.size())))) out.clear();
  flow.Seek(at);
  return out;
}

// A growing memory flow whose writes fail once `limit` bytes would be passed
// (the bytes up to the limit are written; the failure is logged as 101
// "{BlockWrite}", as a full disk would be).
class cFailingWriteFlow : public cMemoryFlow {
 public:
  static std::unique_ptr<cFailingWriteFlow> Construct(int64_t limit) {
    std::unique_ptr<cFailingWriteFlow> f(new cFailingWriteFlow());
    f->InitSized(nullptr, 0, 0, 0);
    f->mLimit = limit;
    EXPECT_TRUE(f->Create());
    return f;
  }
  bool Write(const void* buffer, int32_t n) override {
    if (n > 0 && Curr() + n > mLimit) {
      const int64_t room = mLimit - Curr();
      if (room > 0) cMemoryFlow::Write(buffer, int32_t(room));
      ++mFailures;
      return log_and_fail(this, false, []() -> bool { raise_base_error(101, "{BlockWrite}"); });
    }
    return cMemoryFlow::Write(buffer, n);
  }
  int32_t Failures() const { return mFailures; }

 private:
  cFailingWriteFlow() = default;
  int64_t mLimit = 0;
  int32_t mFailures = 0;
};

// Records progress reports; answers false at report `cancel_at` (1-based; 0
// never). One recorder is active at a time (the callback has no user value).
class ProgressRecorder {
 public:
  explicit ProgressRecorder(int32_t cancel_at = 0) : mCancelAt(cancel_at) { Active() = this; }
  ~ProgressRecorder() { Active() = nullptr; }
  ProgressRecorder(const ProgressRecorder&) = delete;
  ProgressRecorder& operator=(const ProgressRecorder&) = delete;

  static bool Callback(cBase* object, double percent) {
    ProgressRecorder* r = Active();
    if (r == nullptr) return true;
    r->reports.push_back(percent);
    r->objects.push_back(object);
    return r->mCancelAt == 0 || int32_t(r->reports.size()) != r->mCancelAt;
  }

  std::vector<double> reports;
  std::vector<cBase*> objects;

 private:
  static ProgressRecorder*& Active() {
    static thread_local ProgressRecorder* active = nullptr;
    return active;
  }
  int32_t mCancelAt = 0;
};

// One frame of a cTableImage: a pattern bitmap of the size and kind, placed
// at left, top.
struct TableFrame {
  int32_t width = 1, height = 1, kind = cnBitmap32RGBA;
  uint32_t seed = 1;
  int32_t left = 0, top = 0;
};

// An image whose Open ignores the flow and builds its frames from the table:
// one frame becomes the common bitmap; more become a frame list over a space
// of space_width x space_height.
class cTableImage : public cImage {
 public:
  cTableImage(std::vector<TableFrame> frames, uint32_t space_width = 0, uint32_t space_height = 0,
              uint32_t background = 0)
      : cImage(0, 0, background), mTable(std::move(frames)), mTableWidth(space_width), mTableHeight(space_height) {}

  cImage* Clone(bool deep, cImage* into = nullptr) override {
    std::unique_ptr<cTableImage> made;
    if (into == nullptr) made = std::make_unique<cTableImage>(mTable, mTableWidth, mTableHeight, mBackground);
    cImage* result = cImage::Clone(deep, into != nullptr ? into : made.get());
    if (result != nullptr) made.release();
    return result;
  }

  bool Open(cFlow*) override {
    return log_and_fail(this, false, [&] {
      if (IsOpened()) raise_condition_error(errInvariant, "{IsOpened}");
      if (mTable.size() == 1) {
        const TableFrame& f = mTable[0];
        AdoptCommonBitmap(make_pattern(f.width, f.height, f.kind, f.seed).release());
        return true;
      }
      auto list = std::make_unique<cBitmapFrame>();
      for (const TableFrame& f : mTable) {
        rBitmapFrame* e = list->Append(1);
        if (e == nullptr) raise_base_error(errNEnoughMem, "{new_frame=NIL}");
        e->original_bitmap = make_pattern(f.width, f.height, f.kind, f.seed).release();
        e->current_bitmap = e->original_bitmap;
        e->background = mBackground;
        e->left = f.left;
        e->top = f.top;
      }
      mFrames = list.release();
      mWidth = mSpaceWidth = mTableWidth;
      mHeight = mSpaceHeight = mTableHeight;
      mCurrentFrame = 1;
      return true;
    });
  }

 private:
  std::vector<TableFrame> mTable;
  uint32_t mTableWidth = 0, mTableHeight = 0;
};

}  // namespace testenv
