// cImageJPEG: JPEG images read into the image's common bitmap and written
// from any image's current bitmap, over the JPEG library (libjpeg-turbo, the
// libjpeg 6.2 interface). The routines that drive the library (error bridge,
// flow managers, progress, row writer and reader) are in qlm_jpeg_lib.h; the
// JNG colour coder uses them too.
#pragma once

#include <cstdint>
#include <memory>

#include "qlm_image.h"
#include "qlm_progress.h"

// The module's code (message function jpeg_exception_string).
constexpr int32_t errJPEGError = 299;  // "JPEGLib processing failure."

// 299 errJPEGError; every other code goes to the base module's function.
std::unique_ptr<cExceptionString> jpeg_exception_string(uint32_t code);

// Module start: takes id_cImageJPEG from the framework's counter (once per
// process). Call it after framework_start and qlm_bitmap_start.
extern uint32_t id_cImageJPEG;
void qlm_jpeg_start();
void qlm_jpeg_stop();

// DCT methods of the decoder (the library's numbers).
constexpr uint8_t cnJPEGDctIntSlow = 0;
constexpr uint8_t cnJPEGDctIntFast = 1;
constexpr uint8_t cnJPEGDctFloat = 2;

class cImageJPEG : public cImage {
 public:
  // The image of cImage(0, 0, 0) with the decoder's DCT method (0..2), the
  // encoder's quality (0..100) and an optional progress callback.
  explicit cImageJPEG(uint8_t dct_method = cnJPEGDctIntSlow, int32_t quality = 85, ProgressCallback progress = nullptr);
  bool Identify(uint32_t id) const override;

  // A new cImageJPEG with the same settings and a copy of the bitmaps
  // (`into` is not used). Nil on failure, logged in this image.
  cImage* Clone(bool deep, cImage* into = nullptr) override;
  // Decodes the stream at the flow's position into a new common bitmap of
  // the native 24-bit format; greyscale images also get a 256-entry grey
  // palette. The image must be closed.
  bool Open(cFlow* flow) override;
  // Writes from.Bitmap(0) as a baseline JPEG at the flow's position (alpha
  // is dropped). This image need not be open and does not change.
  bool SaveFrom(cFlow* flow, cImage* from) override;

  uint8_t DctMethod() const { return mDctMethod; }
  int32_t Quality() const { return mQuality; }
  ProgressCallback Progress() const { return mProgress; }

 private:
  uint8_t mDctMethod = cnJPEGDctIntSlow;
  int32_t mQuality = 85;
  ProgressCallback mProgress = nullptr;
};
