// cImage: the base of every raster image. An image space (width, height,
// background) holds either one common bitmap or a list of frames, each a
// bitmap placed at a position in the space. The codecs derive from it and
// implement Open and SaveFrom; everything else lives here.
//
// Frames arise from Resize, which moves the common bitmap into a one-frame
// list so that each frame keeps its original next to a resized copy; every
// later resize starts again from the original. The bitmap that Bitmap
// answers belongs to the image and stays valid until the next Resize, Close
// or destruction; caches key on its address together with its change and
// resize counters.
#pragma once

#include <cstdint>

#include "qlm_base_array.h"
#include "qlm_bitmap.h"

class cFlow;

// One frame. `original_bitmap` may be shared with copies of the image (the
// bitmap's share count); `modified_bitmap` is owned; `current_bitmap` is one
// of the two or nil, never owned. The extra block is copied and freed only
// when `extra_size` is above 0.
struct rBitmapFrame {
  cBitmap* original_bitmap = nullptr;
  cBitmap* modified_bitmap = nullptr;
  cBitmap* current_bitmap = nullptr;
  uint32_t extra_value1 = 0;
  uint32_t extra_value2 = 0;
  uint8_t extra_flag = 0;
  uint32_t background = 0;
  int32_t left = 0;
  int32_t top = 0;
  void* extra_data = nullptr;
  int32_t extra_size = 0;
};

// The frame list. Entries never move, so pointers to frames stay valid while
// the list lives. Its hooks release what a frame owns and copy frames deeply
// (bitmaps copied) or shallowly (originals shared through AddRef; a modified
// bitmap is always copied).
class cBitmapFrame : public cArrayOf<rBitmapFrame, 0> {
 public:
  cBitmapFrame() : cArrayOf<rBitmapFrame, 0>(5) {}
  ~cBitmapFrame() override { Clear(); }

  bool DeepCopy() const { return mDeepCopy; }
  void SetDeepCopy(bool deep) { mDeepCopy = deep; }

  void FinalizeEntries(void* first, uint32_t n) override;
  bool CopyEntries(const void* source, void* target, uint32_t n) override;

 protected:
  cArray* NewEmpty() const override { return new (std::nothrow) cBitmapFrame(); }

 private:
  bool mDeepCopy = false;
};

// mFlags: keep the original bitmaps when resizing (the default).
constexpr uint8_t cnImageKeepOriginals = 2;
// Resize flag of the image's own: run the pass even when the size stays.
constexpr uint16_t cnImageResizeForce = 0x1000;

// The image readers' limits (PNG, JPEG, JNG), in the manner of libspng's
// image limits: the largest width and height a header may state and the
// most pixel memory the bitmap made for it may take. A reader checks them
// against the header before it allocates anything for the pixels (a file of
// a few dozen bytes may claim gigabytes) and refuses a larger picture with
// 203 "{WxH over the image read limits}". Process-wide; a program that
// needs other limits sets them once at start.
struct rImageReadLimits {
  int32_t width = 16384;
  int32_t height = 16384;
  int64_t bytes = int64_t(256) << 20;  // 256 MiB per bitmap
};
constexpr rImageReadLimits cnImageReadLimits{};
// Values of 0 or below take the default's.
void image_set_read_limits(const rImageReadLimits& limits);
rImageReadLimits image_read_limits();
// Raises 203 when a picture of width x height in a bitmap of `kind` passes
// the limits.
void image_check_read_limits(int64_t width, int64_t height, int32_t kind);

class cImage : public cException {
 public:
  // Width and height 0 become 1; background 0 becomes opaque black.
  explicit cImage(uint32_t width = 0, uint32_t height = 0, uint32_t background = 0);
  ~cImage() override;
  bool Identify(uint32_t id) const override;

  // A copy of the image: into `into` (a newly constructed image without
  // frames or common bitmap, which is answered) or a new plain cImage owned
  // by the caller. Deep copies the bitmaps; shallow shares them (AddRef).
  // Nil on failure, with the error in this image's log.
  virtual cImage* Clone(bool deep, cImage* into = nullptr);
  // Codecs: read the image from the open flow into a new common bitmap.
  // Here: 293 "{cImage.Open}".
  virtual bool Open(cFlow* flow);
  // A new common bitmap of the nominal size filled with the background.
  virtual bool Create();
  // Codecs: write from.Bitmap(0) to the flow. Here: 293 "{cImage.SaveFrom}".
  virtual bool SaveFrom(cFlow* flow, cImage* from);
  // Frees the frames and the common bitmap; the nominal size stays.
  virtual bool Close();
  virtual bool IsOpened() const { return mFrames != nullptr || mCommonImageSpace != nullptr; }
  // Rescales every frame from its original (flags and placement values of
  // cBitmap::Clone; cnImageResizeForce runs the pass at the same size).
  virtual bool Resize(int32_t width, int32_t height, uint16_t flags, int32_t p1 = 0, int32_t p2 = 0, int32_t p3 = 0,
                      int32_t p4 = 0);
  // The bitmap of frame `index` (1-based; 0 the current frame); nil on error.
  virtual cBitmap* Bitmap(int32_t index = 0);
  // Entries of the frame list; without one 1 with a common bitmap, else 0.
  int32_t FramesCount() const;

  uint32_t Width() const { return mWidth; }
  uint32_t Height() const { return mHeight; }
  uint32_t SpaceWidth() const { return mSpaceWidth; }
  uint32_t SpaceHeight() const { return mSpaceHeight; }
  uint32_t Background() const { return mBackground; }
  uint8_t Flags() const { return mFlags; }
  int32_t CurrentFrame() const { return mCurrentFrame; }
  cBitmapFrame* Frames() const { return mFrames; }
  cBitmap* CommonImageSpace() const { return mCommonImageSpace; }

 protected:
  // Moves the common bitmap into a new one-frame list.
  void MakeFrameList();
  // The frame composed onto the image space: its original at its position
  // over the frame's background, cut at the space's edges.
  void MakeModifiedBitmap(rBitmapFrame* frame);
  // A frame covers the space when it sits at 0, 0 with the space's size.
  bool Covers(const rBitmapFrame& frame) const;
  // Takes `bitmap` (made and filled by a codec) as the common bitmap and sets
  // the nominal size and the space to its size, frame 1.
  void AdoptCommonBitmap(cBitmap* bitmap);

  cBitmapFrame* mFrames = nullptr;
  int32_t mCurrentFrame = -1;
  uint32_t mWidth = 1;
  uint32_t mHeight = 1;
  cBitmap* mCommonImageSpace = nullptr;
  uint32_t mBackground = 0xFF000000u;
  uint32_t mSpaceWidth = 0;
  uint32_t mSpaceHeight = 0;
  uint8_t mFlags = cnImageKeepOriginals;
};
