// cImageJPEG: Open and SaveFrom over the library routines of qlm_jpeg_lib.
#include "qlm_jpeg.h"

#include <cstring>
#include <memory>

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
// they always did; a grey picture keeps none, see Open).
struct rBackgroundRows {
  cBitmap* bitmap = nullptr;
  int64_t kept = 0;
  explicit rBackgroundRows(cBitmap* b) : bitmap(b) {}
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

    auto state = std::make_unique<rJPEGDecodeState>();
    jpeg_decompress_struct* d = &state->d;
    const ProgressCallback progress = mProgress;
    jpeg_call(jpeg_common(d), [d] { jpeg_create_decompress(d); });
    d->client_data = static_cast<cBase*>(this);
    jpeg_call(jpeg_common(d), [d, flow, progress] {
      jpeg_progress_init(jpeg_common(d), progress);
      jpeg_flow_source(d, flow);
      jpeg_read_header(d, TRUE);
    });
    d->dct_method = J_DCT_METHOD(mDctMethod);
    mWidth = d->image_width;
    mHeight = d->image_height;
    // Before the bitmap and before the library sizes its own buffers
    // (jpeg_start_decompress).
    image_check_read_limits(d->image_width, d->image_height, cnBitmapNative);

    auto bitmap = std::make_unique<cBitmap>(int32_t(d->image_width), int32_t(d->image_height), cnBitmapNative);
    bitmap->SetBackground(mBackground);
    if (!bitmap->CreateUnfilled(0, 0)) raise_base_error(errQLMCall, "{mCommonImageSpace.Create}");
    jpeg_advise_huge_pages(bitmap->Data(), bitmap->DataSize());
    cBitmap* target = bitmap.get();
    AdoptCommonBitmap(bitmap.release());
    rBackgroundRows background(target);

    rJPEGWriter* writer = &state->writer;
    jpeg_call(jpeg_common(d), [d, writer, target] { jpeg_bitmap_writer(d, *writer, target, true, true); });
    if (int64_t(d->output_width) != target->Width() || int64_t(d->output_height) > target->Height())
      raise_condition_error(errInvariant, "{output size}");
    if (d->output_components == 1) {
      // Rows of the padded width for every bitmap row, in 64 bits: mem_alloc
      // refuses 2^31 bytes and more.
      const int64_t size = writer->padded * int64_t(target->Height());
      void* block = nullptr;
      if (!mem_alloc(block, size)) raise_base_error(errNEnoughMem, "{mem_alloc}");
      state->index = static_cast<uint8_t*>(block);
      jpeg_writer_target(*writer, state->index, writer->padded, writer->unpadded);
    } else if (d->output_components != 3) {
      raise_error(errJPEGError, &jpeg_exception_string, "{not IsRGB}");
    }

    jpeg_call(jpeg_common(d), [d] { jpeg_start_decompress(d); });
    try {
      // With a callback the stop is checked before each row, read one per
      // call; without one, every row is read under one jump point, as many
      // per call as the library has ready.
      if (progress == nullptr) {
        bool read = false;
        jpeg_call(jpeg_common(d), [d, writer, &read] { read = jpeg_read_all_rows(d, *writer); });
        // The flow source never suspends, so every call gives a row.
        if (!read) raise_condition_error(errInvariant, "{jpeg_read_scanlines=0}");
      }
      while (d->output_scanline < d->output_height) {
        if (!jpeg_progress_go_on(jpeg_common(d))) {
          jpeg_abort(jpeg_common(d));
          raise_base_error(errProgressBreak, "{cImageJPEG.Open}");
        }
        JDIMENSION rows = 0;
        jpeg_call(jpeg_common(d), [d, writer, &rows] {
          JSAMPROW row = jpeg_writer_row(*writer);
          rows = jpeg_read_scanlines(d, &row, 1);
          if (rows == 1) jpeg_put_rows(*writer);
        });
        if (rows != 1) raise_condition_error(errInvariant, "{jpeg_read_scanlines=0}");
      }

      std::unique_ptr<cPalette> palette;
      if (state->index != nullptr || writer->grey_expanded) palette = jpeg_grey_palette(nullptr);
      jpeg_call(jpeg_common(d), [d] { jpeg_finish_decompress(d); });
      if (state->index != nullptr)
        jpeg_expand_grey(target, state->index, writer->padded, std::move(palette));
      else if (palette != nullptr)
        target->SetPalette(std::move(palette));
      background.kept = state->index != nullptr ? target->Height() : writer->rows_put;
    } catch (...) {
      // The rows decoded so far stay, but a grey picture shows nothing of a
      // failed decode, as when it was decoded into index rows and expanded
      // only at the end: its bitmap is all background.
      if (state->index == nullptr && !writer->grey_expanded) background.kept = writer->rows_put;
      throw;
    }
    jpeg_progress_finish(jpeg_common(d));
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
