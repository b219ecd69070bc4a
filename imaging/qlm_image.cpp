#include "qlm_image.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <string>

// ---------------------------------------------------------------------------
// cBitmapFrame

void cBitmapFrame::FinalizeEntries(void* first, uint32_t n) {
  rBitmapFrame* e = static_cast<rBitmapFrame*>(first);
  for (uint32_t i = 0; i < n && e != nullptr; ++i, ++e) {
    if (e->original_bitmap != nullptr) e->original_bitmap->Release();
    delete e->modified_bitmap;
    if (e->extra_size > 0) mem_free(e->extra_data);
    *e = rBitmapFrame{};
  }
}

bool cBitmapFrame::CopyEntries(const void* source, void* target, uint32_t n) {
  if (n != 1 || source == nullptr || target == nullptr) return false;
  const rBitmapFrame& s = *static_cast<const rBitmapFrame*>(source);
  rBitmapFrame& t = *static_cast<rBitmapFrame*>(target);
  try {
    // Whatever is set in t when a step fails is released by FinalizeEntries
    // when the half-made list is freed.
    if (s.original_bitmap == nullptr) raise_condition_error(errInvariant, "{src.original_bitmap=NIL}");
    if (mDeepCopy) {
      t.original_bitmap = s.original_bitmap->Clone(0, 0, cnResizeCopy).release();
      if (t.original_bitmap == nullptr) raise_base_error(errQLMCall, "{src.original_bitmap.Clone}");
    } else {
      t.original_bitmap = s.original_bitmap->AddRef();
    }
    if (s.modified_bitmap != nullptr) {
      t.modified_bitmap = s.modified_bitmap->Clone(0, 0, cnResizeCopy).release();
      if (t.modified_bitmap == nullptr) raise_base_error(errQLMCall, "{src.modified_bitmap.Clone}");
    }
    if (s.current_bitmap != nullptr && s.current_bitmap == s.original_bitmap)
      t.current_bitmap = t.original_bitmap;
    else if (s.current_bitmap != nullptr && s.current_bitmap == s.modified_bitmap)
      t.current_bitmap = t.modified_bitmap;
    t.extra_value1 = s.extra_value1;
    t.extra_value2 = s.extra_value2;
    t.extra_flag = s.extra_flag;
    t.background = s.background;
    t.left = s.left;
    t.top = s.top;
    t.extra_size = s.extra_size;
    if (s.extra_size > 0 && s.extra_data != nullptr) {
      if (!mem_alloc(t.extra_data, s.extra_size)) raise_base_error(errNEnoughMem, "{mem_alloc}");
      std::memcpy(t.extra_data, s.extra_data, size_t(s.extra_size));
    }
    return true;
  } catch (...) {
    return false;
  }
}

// ---------------------------------------------------------------------------
// cImage

cImage::cImage(uint32_t width, uint32_t height, uint32_t background) {
  mWidth = std::max<uint32_t>(width, 1);
  mHeight = std::max<uint32_t>(height, 1);
  mBackground = background == 0 ? color_rgba(0, 0, 0, 255) : background;
}

cImage::~cImage() {
  delete mFrames;
  if (mCommonImageSpace != nullptr) mCommonImageSpace->Release();
}

bool cImage::Identify(uint32_t id) const { return id == id_cImage || cException::Identify(id); }

int32_t cImage::FramesCount() const {
  if (mFrames != nullptr) return int32_t(mFrames->Count());
  return mCommonImageSpace != nullptr ? 1 : 0;
}

cImage* cImage::Clone(bool deep, cImage* into) {
  return log_and_fail(this, static_cast<cImage*>(nullptr), [&] {
    // A target that already holds bitmaps would lose them.
    if (into != nullptr && into->IsOpened()) raise_condition_error(errPreCondition, "{into.IsOpened}");
    std::unique_ptr<cImage> made;
    cImage* t = into;
    if (t == nullptr) {
      made = std::make_unique<cImage>(0, 0, 0);
      t = made.get();
    }
    t->mCurrentFrame = mCurrentFrame;
    t->mWidth = mWidth;
    t->mHeight = mHeight;
    t->mFlags = mFlags;
    t->mBackground = mBackground;
    t->mSpaceWidth = mSpaceWidth;
    t->mSpaceHeight = mSpaceHeight;
    if (mFrames != nullptr) {
      mFrames->SetDeepCopy(deep);
      auto list = std::make_unique<cBitmapFrame>();
      if (mFrames->Clone(list.get()) == nullptr) raise_base_error(errQLMCall, "{mFrames.Clone}");
      t->mFrames = list.release();
    }
    if (mCommonImageSpace != nullptr) {
      t->mCommonImageSpace =
          deep ? mCommonImageSpace->Clone(0, 0, cnResizeCopy).release() : mCommonImageSpace->AddRef();
      if (t->mCommonImageSpace == nullptr) raise_condition_error(errInvariant, "{copy.mCommonImageSpace=NIL}");
    }
    made.release();
    return t;
  });
}

bool cImage::Open(cFlow*) {
  return log_and_fail(this, false, []() -> bool { raise_base_error(errAbstractCall, "{cImage.Open}"); });
}

bool cImage::SaveFrom(cFlow*, cImage*) {
  return log_and_fail(this, false, []() -> bool { raise_base_error(errAbstractCall, "{cImage.SaveFrom}"); });
}

namespace {

std::atomic<int32_t> g_read_width{cnImageReadLimits.width};
std::atomic<int32_t> g_read_height{cnImageReadLimits.height};
std::atomic<int64_t> g_read_bytes{cnImageReadLimits.bytes};

}  // namespace

void image_set_read_limits(const rImageReadLimits& limits) {
  g_read_width.store(limits.width > 0 ? limits.width : cnImageReadLimits.width);
  g_read_height.store(limits.height > 0 ? limits.height : cnImageReadLimits.height);
  g_read_bytes.store(limits.bytes > 0 ? limits.bytes : cnImageReadLimits.bytes);
}

rImageReadLimits image_read_limits() { return {g_read_width.load(), g_read_height.load(), g_read_bytes.load()}; }

void image_check_read_limits(int64_t width, int64_t height, int32_t kind) {
  const rImageReadLimits limits = image_read_limits();
  bool over = width > limits.width || height > limits.height;
  if (!over) {
    // The bitmap's own layout (row stride with its alignment): what Create
    // would allocate. Width and height are at most int32 here.
    const int64_t stride = pixel_stride(cnPixelFormats[bitmap_kind_format(kind)], width);
    over = stride > 0 && height > 0 && stride > limits.bytes / height;
  }
  if (over)
    raise_base_error(errNEnoughMem,
                     "{" + std::to_string(width) + "x" + std::to_string(height) + " over the image read limits}");
}

namespace {
// A bitmap side from a nominal size: values beyond int32 are passed as the
// largest int32, so that the bitmap refuses them instead of making 1 pixel.
int32_t bitmap_side(uint32_t v) { return int32_t(std::min<uint32_t>(v, INT32_MAX)); }
}  // namespace

bool cImage::Create() {
  return log_and_fail(this, false, [&] {
    if (IsOpened()) raise_condition_error(errInvariant, "{IsOpened}");
    auto bitmap = std::make_unique<cBitmap>(bitmap_side(mWidth), bitmap_side(mHeight), cnBitmapNative);
    bitmap->SetBackground(mBackground);
    // A failure leaves the image closed (no common bitmap without pixels).
    if (!bitmap->Create()) raise_base_error(errQLMCall, "{mCommonImageSpace.Create}");
    mCommonImageSpace = bitmap.release();
    mCurrentFrame = 1;
    mSpaceWidth = mWidth;
    mSpaceHeight = mHeight;
    return true;
  });
}

void cImage::AdoptCommonBitmap(cBitmap* bitmap) {
  if (IsOpened()) raise_condition_error(errInvariant, "{IsOpened}");
  if (bitmap == nullptr) raise_condition_error(errPreCondition, "{bitmap=NIL}");
  mCommonImageSpace = bitmap;
  mWidth = mSpaceWidth = uint32_t(bitmap->Width());
  mHeight = mSpaceHeight = uint32_t(bitmap->Height());
  mCurrentFrame = 1;
}

bool cImage::Close() {
  return log_and_fail(this, false, [&] {
    if (!IsOpened()) raise_condition_error(errInvariant, "{not IsOpened}");
    delete mFrames;
    mFrames = nullptr;
    if (mCommonImageSpace != nullptr) mCommonImageSpace->Release();
    mCommonImageSpace = nullptr;
    mCurrentFrame = -1;
    mSpaceWidth = 0;
    mSpaceHeight = 0;
    return true;
  });
}

void cImage::MakeFrameList() {
  if (mCommonImageSpace == nullptr) raise_condition_error(errInvariant, "{mCommonImageSpace=NIL}");
  auto list = std::make_unique<cBitmapFrame>();
  rBitmapFrame* frame = list->Append(1);
  if (frame == nullptr) raise_condition_error(errPostCondition, "{new_frame=NIL}");
  frame->original_bitmap = mCommonImageSpace;
  frame->current_bitmap = mCommonImageSpace;
  frame->background = mBackground;
  mFrames = list.release();
  mCommonImageSpace = nullptr;
}

bool cImage::Covers(const rBitmapFrame& frame) const {
  return frame.left == 0 && frame.top == 0 && frame.original_bitmap != nullptr &&
         uint32_t(frame.original_bitmap->Width()) == mSpaceWidth &&
         uint32_t(frame.original_bitmap->Height()) == mSpaceHeight;
}

void cImage::MakeModifiedBitmap(rBitmapFrame* frame) {
  if (frame == nullptr) raise_condition_error(errPreCondition, "{at_frame=NIL}");
  auto bitmap = std::make_unique<cBitmap>(bitmap_side(mSpaceWidth), bitmap_side(mSpaceHeight), cnBitmapNative);
  bitmap->SetBackground(frame->background);
  if (!bitmap->Create()) raise_base_error(errQLMCall, "{at_frame.modified_bitmap.Create}");
  if (!bitmap->CopyBitmap(frame->original_bitmap, frame->left, frame->top, -1))
    raise_base_error(errQLMCall, "{at_frame.modified_bitmap.CopyBitmap}");
  // The current bitmap never points at a bitmap that is gone.
  if (frame->current_bitmap == frame->modified_bitmap) frame->current_bitmap = nullptr;
  delete frame->modified_bitmap;
  frame->modified_bitmap = bitmap.release();
}

bool cImage::Resize(int32_t width, int32_t height, uint16_t flags, int32_t p1, int32_t p2, int32_t p3, int32_t p4) {
  return log_and_fail(this, false, [&] {
    if (!IsOpened()) raise_condition_error(errInvariant, "{not IsOpened}");
    if (FramesCount() < 1) raise_condition_error(errInvariant, "{FramesCount<1}");
    const bool unchanged = (width == 0 || uint32_t(width) == mSpaceWidth) &&
                           (height == 0 || uint32_t(height) == mSpaceHeight) &&
                           (flags & (cnResizeCrop | cnResizeTile | cnImageResizeForce)) == 0;
    if (!unchanged) {
      if (width < 1) raise_condition_error(errPreCondition, "{width<1}");
      if (height < 1) raise_condition_error(errPreCondition, "{height<1}");
    }
    if (mFrames == nullptr) MakeFrameList();
    const int32_t count = FramesCount();
    for (int32_t i = 1; i <= count; ++i) {
      rBitmapFrame* e = mFrames->Get(uint32_t(i));
      if (e == nullptr) raise_condition_error(errInvariant, "{resize_frame=NIL}");
      int32_t noted_change = 0, noted_resize = 0;
      if (e->modified_bitmap != nullptr) {
        noted_change = e->modified_bitmap->ChangeCount();
        noted_resize = e->modified_bitmap->ResizeCount();
        if (e->current_bitmap == e->modified_bitmap) e->current_bitmap = nullptr;
        delete e->modified_bitmap;
        e->modified_bitmap = nullptr;
      }
      if (!Covers(*e)) MakeModifiedBitmap(e);
      if (unchanged) {
        e->current_bitmap = e->modified_bitmap != nullptr ? e->modified_bitmap : e->original_bitmap;
        continue;
      }
      if (mFlags & cnImageKeepOriginals) {
        if (e->modified_bitmap != nullptr) {
          if (!e->modified_bitmap->Resize(width, height, flags, p1, p2, p3, p4))
            raise_base_error(errQLMCall, "{resize_frame.modified_bitmap.Resize}");
        } else {
          std::unique_ptr<cBitmap> made = e->original_bitmap->Clone(width, height, flags, p1, p2, p3, p4);
          if (made == nullptr) raise_base_error(errQLMCall, "{resize_frame.original_bitmap.Clone}");
          e->modified_bitmap = made.release();
        }
        // A new bitmap may take the address of the one just freed: its
        // counters move past the noted ones so that caches see a new state.
        e->modified_bitmap->mChangeCount = noted_change;
        e->modified_bitmap->mResizeCount = noted_resize + 1;
        e->current_bitmap = e->modified_bitmap;
      } else {
        cBitmap* own = e->original_bitmap->Unique();
        if (own == nullptr) raise_condition_error(errInvariant, "{resize_frame.original_bitmap=NIL}");
        e->original_bitmap = own;
        if (!own->Resize(width, height, flags, p1, p2, p3, p4))
          raise_base_error(errQLMCall, "{resize_frame.original_bitmap.Resize}");
        e->current_bitmap = own;
      }
    }
    if (unchanged) {
      mWidth = mSpaceWidth;
      mHeight = mSpaceHeight;
    } else {
      mWidth = uint32_t(width);
      mHeight = uint32_t(height);
    }
    return true;
  });
}

cBitmap* cImage::Bitmap(int32_t index) {
  return log_and_fail(this, static_cast<cBitmap*>(nullptr), [&] {
    if (!IsOpened()) raise_condition_error(errInvariant, "{not IsOpened}");
    if (FramesCount() < 1) raise_condition_error(errInvariant, "{FramesCount<1}");
    if (index == 0) index = mCurrentFrame;
    if (index < 1 || index > FramesCount()) raise_condition_error(errPreCondition, "{index<>0..FramesCount}");
    if (mFrames == nullptr) {
      mCurrentFrame = 1;
      return mCommonImageSpace;
    }
    rBitmapFrame* e = mFrames->Get(uint32_t(index));
    if (e == nullptr) raise_condition_error(errInvariant, "{get_frame=NIL}");
    if (e->modified_bitmap == nullptr && !Covers(*e)) {
      MakeModifiedBitmap(e);
      e->current_bitmap = e->modified_bitmap;
    }
    if (e->current_bitmap == nullptr) e->current_bitmap = e->original_bitmap;
    mCurrentFrame = index;
    return e->current_bitmap;
  });
}
