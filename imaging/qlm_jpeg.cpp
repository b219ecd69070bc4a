// cImageJPEG: Open and SaveFrom over the library routines of qlm_jpeg_lib.
#include "qlm_jpeg.h"

#include <cstring>
#include <memory>
#include <optional>

#include "qlm_base_flow.h"
#include "qlm_jpeg_lib.h"

// ---------------------------------------------------------------------------
// Messages and module start.

std::unique_ptr<cExceptionString> jpeg_exception_string(uint32_t code) {
  if (code == uint32_t(errJPEGError)) {
    auto answer = std::make_unique<cExceptionString>(errJPEGError, &jpeg_exception_string);
    answer->Set("errJPEGError", localization_translate(0, "JPEGLib processing failure.", 0, 0));
    return answer;
  }
  return qlm_base_exception_string(code);
}

uint32_t id_cImageJPEG = 0;

void qlm_jpeg_start() {
  if (id_cImageJPEG == 0) new_type_id(id_cImageJPEG);
}

void qlm_jpeg_stop() {}

// ---------------------------------------------------------------------------
// cImageJPEG

namespace {

// The decoder's bitmap is made without its background fill: the decoder
// writes the rows itself. Whatever the outcome, every row from `kept` on
// gets the background when Open ends, so the pixels are those of a bitmap
// filled when made and then written (rows decoded before a failure stay, as
// they always did; a grey picture keeps none).
struct rBackgroundRows {
  cBitmap* bitmap = nullptr;
  const int64_t& kept;
  rBackgroundRows(cBitmap* b, const int64_t& k) : bitmap(b), kept(k) {}
  ~rBackgroundRows() {
    if (kept >= bitmap->Height()) return;
    const rRect rows = rRect::Construct(0, int32_t(kept), bitmap->Width(), bitmap->Height());
    bitmap->Clear(rgb_none, cnOpacityAlpha, &rows, cnBitmapNoCount);
  }
  rBackgroundRows(const rBackgroundRows&) = delete;
  rBackgroundRows& operator=(const rBackgroundRows&) = delete;
};

}  // namespace

cImageJPEG::cImageJPEG(uint8_t dct_method, int32_t quality, ProgressCallback progress)
    : cImage(0, 0, 0), mDctMethod(dct_method), mQuality(quality), mProgress(progress) {}

bool cImageJPEG::Identify(uint32_t id) const { return id == id_cImageJPEG || cImage::Identify(id); }

cImage* cImageJPEG::Clone(bool deep, cImage*) {
  return log_and_fail(this, static_cast<cImage*>(nullptr), [&] {
    auto made = std::make_unique<cImageJPEG>(mDctMethod, mQuality, mProgress);
    if (cImage::Clone(deep, made.get()) == nullptr) raise_base_error(errNEnoughMem, "{inherited Clone}");
    return static_cast<cImage*>(made.release());
  });
}

bool cImageJPEG::Open(cFlow* flow) {
  return log_and_fail(this, false, [&] {
    if (IsOpened()) raise_condition_error(errInvariant, "{IsOpened}");
    if (flow == nullptr) raise_condition_error(errPreCondition, "{flow=NIL}");
    if (!flow->IsOpened()) raise_condition_error(errPreCondition, "{not flow.IsOpened}");
    // The library's enumeration has three values; any other would be an
    // undefined enumerator.
    if (mDctMethod > cnJPEGDctFloat) raise_condition_error(errPreCondition, "{mDctMethod>2}");

    rJPEGDecodeSetup setup;
    setup.client = this;
    setup.progress = mProgress;
    setup.stop_text = "{cImageJPEG.Open}";
    setup.flow = flow;
    setup.dct_method = mDctMethod;
    setup.grey_into_bitmap = true;
    std::optional<rBackgroundRows> background;
    setup.target = [&](const jpeg_decompress_struct& d) {
      mWidth = d.image_width;
      mHeight = d.image_height;
      // Before the bitmap and before the library sizes its own buffers
      // (jpeg_start_decompress).
      image_check_read_limits(d.image_width, d.image_height, cnBitmapNative);
      auto bitmap = std::make_unique<cBitmap>(int32_t(d.image_width), int32_t(d.image_height), cnBitmapNative);
      bitmap->SetBackground(mBackground);
      if (!bitmap->CreateUnfilled(0, 0)) raise_base_error(errQLMCall, "{mCommonImageSpace.Create}");
      jpeg_advise_huge_pages(bitmap->Data(), bitmap->DataSize());
      cBitmap* target = bitmap.get();
      AdoptCommonBitmap(bitmap.release());
      background.emplace(target, setup.kept);
      return target;
    };
    jpeg_decode_into_bitmap(setup);
    return true;
  });
}

bool cImageJPEG::SaveFrom(cFlow* flow, cImage* from) {
  return log_and_fail(this, false, [&] {
    if (flow == nullptr) raise_condition_error(errPreCondition, "{flow=NIL}");
    if (!flow->IsOpened()) raise_condition_error(errPreCondition, "{not flow.IsOpened}");
    if (from == nullptr) raise_condition_error(errPreCondition, "{from=NIL}");
    if (!from->IsOpened()) raise_condition_error(errPreCondition, "{not from.IsOpened}");
    cBitmap* bitmap = from->Bitmap(0);
    if (bitmap == nullptr) raise_condition_error(errPreCondition, "{from.Bitmap=NIL}");
    if (bitmap->Order() == nullptr || bitmap->Data() == nullptr)
      raise_condition_error(errPreCondition, "{from.Bitmap.Order=NIL}");

    auto state = std::make_unique<rJPEGEncodeState>();
    jpeg_compress_struct* c = &state->c;
    rJPEGReader* reader = &state->reader;
    const ProgressCallback progress = mProgress;
    const int32_t quality = mQuality;
    jpeg_call(jpeg_common(c), [c] { jpeg_create_compress(c); });
    c->client_data = static_cast<cBase*>(this);
    jpeg_call(jpeg_common(c), [c, flow, progress, reader, bitmap, quality] {
      jpeg_progress_init(jpeg_common(c), progress);
      jpeg_flow_dest(c, flow);
      c->in_color_space = JCS_RGB;
      jpeg_set_defaults(c);
      jpeg_bitmap_reader(c, *reader, bitmap, true);
      jpeg_reader_start(c, *reader);
      jpeg_default_colorspace(c);
      jpeg_set_quality(c, quality, TRUE);
      jpeg_start_compress(c, TRUE);
    });
    while (c->next_scanline < c->image_height) {
      if (progress != nullptr && !jpeg_progress_go_on(jpeg_common(c))) {
        jpeg_abort(jpeg_common(c));
        raise_base_error(errProgressBreak, "{cImageJPEG.SaveFrom}");
      }
      jpeg_call(jpeg_common(c), [c, reader] {
        JSAMPROW row = jpeg_get_rows(*reader);
        jpeg_write_scanlines(c, &row, 1);
      });
    }
    jpeg_call(jpeg_common(c), [c] { jpeg_finish_compress(c); });
    jpeg_progress_finish(jpeg_common(c));
    return true;
  });
}
