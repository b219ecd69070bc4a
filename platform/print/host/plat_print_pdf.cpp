#include "plat_print_pdf.h"

#include <cairo-pdf.h>
#include <cairo.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace plat::print {

void PdfSink::discard() {
  close_fd();
  if (!temp.empty()) ::unlink(temp.c_str());
  temp.clear();
}

bool PdfSink::write(const unsigned char* data, size_t size) {
  if (fd < 0) return false;
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= size_t(n);
  }
  return true;
}

bool PdfSink::close_fd() {
  if (fd < 0) return true;
  const int rc = ::close(fd);
  fd = -1;
  return rc == 0 || errno == EINTR;
}

namespace {

// True when the text is well-formed UTF-8 (cairo takes metadata as UTF-8).
bool is_utf8(const std::string& s) {
  size_t i = 0;
  while (i < s.size()) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    size_t n = 0;
    uint32_t cp = 0;
    if (c < 0x80) {
      ++i;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      n = 1, cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      n = 2, cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      n = 3, cp = c & 0x07;
    } else {
      return false;
    }
    if (i + n >= s.size()) return false;
    for (size_t k = 1; k <= n; ++k) {
      const unsigned char d = static_cast<unsigned char>(s[i + k]);
      if ((d & 0xC0) != 0x80) return false;
      cp = cp << 6 | (d & 0x3F);
    }
    if ((n == 1 && cp < 0x80) || (n == 2 && cp < 0x800) || (n == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    i += n + 1;
  }
  return true;
}

class PdfDevice final : public Device {
 public:
  PdfDevice(const PrinterSettings& settings, std::unique_ptr<PdfSink> sink)
      : mCaps(compute_caps(settings)), mSink(std::move(sink)) {}
  ~PdfDevice() override { abort(); }

  DeviceCaps caps() const override { return mCaps; }

  bool start_doc(const std::string& title) override {
    if (mState != State::Idle) return false;
    if (!mSink->open()) {
      mSink->discard();
      return false;
    }
    mWriteFailed = false;
    mPages = 0;
    mSurface = cairo_pdf_surface_create_for_stream(&PdfDevice::Write, this, mCaps.sheet_width_pt,
                                                   mCaps.sheet_height_pt);
    if (cairo_surface_status(mSurface) == CAIRO_STATUS_SUCCESS && is_utf8(title))
      cairo_pdf_surface_set_metadata(mSurface, CAIRO_PDF_METADATA_TITLE, title.c_str());
    mCairo = cairo_create(mSurface);
    if (cairo_status(mCairo) != CAIRO_STATUS_SUCCESS || cairo_surface_status(mSurface) != CAIRO_STATUS_SUCCESS) {
      Drop();
      return false;
    }
    mTitle = title;
    mState = State::Document;
    return true;
  }

  bool start_page() override {
    if (mState != State::Document) return false;
    // The size applies to the page about to start, before anything is drawn.
    cairo_pdf_surface_set_size(mSurface, mCaps.sheet_width_pt, mCaps.sheet_height_pt);
    if (!Healthy()) return false;
    mState = State::Page;
    return true;
  }

  bool end_page() override {
    if (mState != State::Page) return false;
    cairo_show_page(mCairo);
    if (!Healthy()) return false;
    ++mPages;
    mState = State::Document;
    return true;
  }

  bool end_doc() override {
    if (mState != State::Document) return false;
    cairo_destroy(mCairo);
    mCairo = nullptr;
    cairo_surface_finish(mSurface);
    const bool written = cairo_surface_status(mSurface) == CAIRO_STATUS_SUCCESS && !mWriteFailed;
    cairo_surface_destroy(mSurface);
    mSurface = nullptr;
    mState = State::Idle;
    // A document without pages is not sent: there is nothing to print.
    if (!written || mPages == 0) {
      mSink->discard();
      return written;
    }
    const bool delivered = mSink->deliver(mTitle);
    mSink->discard();  // removes whatever deliver left behind
    return delivered;
  }

  void abort() override {
    if (mState == State::Idle && mSurface == nullptr) return;
    Drop();
  }

  bool blit_xrgb(int32_t x, int32_t y, int32_t w, int32_t h, const uint8_t* rows, int64_t stride) override {
    if (mState != State::Page || w <= 0 || h <= 0 || rows == nullptr || stride < int64_t(w) * 4) return false;
    cairo_surface_t* image = cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h);
    if (cairo_surface_status(image) != CAIRO_STATUS_SUCCESS) {
      cairo_surface_destroy(image);
      return false;
    }
    cairo_surface_flush(image);
    uint8_t* dst = cairo_image_surface_get_data(image);
    const int dst_stride = cairo_image_surface_get_stride(image);
    for (int32_t r = 0; r < h; ++r) std::memcpy(dst + int64_t(r) * dst_stride, rows + r * stride, size_t(w) * 4);
    cairo_surface_mark_dirty(image);

    // Device pixels to points, with the origin at the printable corner.
    const double ox = double(mCaps.offset_x) + x, oy = double(mCaps.offset_y) + y;
    cairo_save(mCairo);
    cairo_scale(mCairo, 72.0 / mCaps.dpi_x, 72.0 / mCaps.dpi_y);
    cairo_set_source_surface(mCairo, image, ox, oy);
    cairo_pattern_set_filter(cairo_get_source(mCairo), CAIRO_FILTER_NEAREST);
    cairo_rectangle(mCairo, ox, oy, w, h);
    cairo_fill(mCairo);
    cairo_restore(mCairo);
    cairo_surface_destroy(image);
    return Healthy();
  }

 private:
  enum class State { Idle, Document, Page };

  static cairo_status_t Write(void* closure, const unsigned char* data, unsigned int length) {
    auto* self = static_cast<PdfDevice*>(closure);
    if (self->mWriteFailed || !self->mSink->write(data, length)) {
      self->mWriteFailed = true;
      return CAIRO_STATUS_WRITE_ERROR;
    }
    return CAIRO_STATUS_SUCCESS;
  }

  // False (and the job dropped) once cairo or the file reported an error.
  bool Healthy() {
    if (cairo_status(mCairo) == CAIRO_STATUS_SUCCESS && cairo_surface_status(mSurface) == CAIRO_STATUS_SUCCESS &&
        !mWriteFailed)
      return true;
    Drop();
    return false;
  }

  // Drops the job: nothing more is written, the temporary file goes.
  void Drop() {
    mWriteFailed = true;  // whatever cairo still flushes is refused
    if (mCairo != nullptr) cairo_destroy(mCairo);
    if (mSurface != nullptr) cairo_surface_destroy(mSurface);
    mCairo = nullptr;
    mSurface = nullptr;
    mSink->discard();
    mState = State::Idle;
  }

  DeviceCaps mCaps;
  std::unique_ptr<PdfSink> mSink;
  cairo_surface_t* mSurface = nullptr;
  cairo_t* mCairo = nullptr;
  State mState = State::Idle;
  bool mWriteFailed = false;
  int32_t mPages = 0;
  std::string mTitle;
};

}  // namespace

std::unique_ptr<Device> make_pdf_device(const PrinterSettings& settings, std::unique_ptr<PdfSink> sink) {
  if (!sink) return nullptr;
  return std::make_unique<PdfDevice>(settings, std::move(sink));
}

}  // namespace plat::print
