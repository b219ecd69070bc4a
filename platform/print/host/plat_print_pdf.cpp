#include "plat_print_pdf.h"

#include "plat_utf8.h"

#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <vector>

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
    if (n <= 0) {
      reason = std::string("the print file ") + temp + " cannot be written: " + std::strerror(n < 0 ? errno : EIO);
      return false;
    }
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

// True when the text is well-formed UTF-8 (the title goes into the document
// as UTF-16).
bool is_utf8(const std::string& s) {
  for (size_t i = 0; i < s.size();) {
    uint32_t cp;
    const size_t n = static_cast<unsigned char>(s[i]) < 0x80 ? 1 : plat::utf8_decode(s, i, cp);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

// Numbers in PDF syntax: fixed notation, at most four decimals, no locale.
std::string pdf_number(double v) {
  char buf[64];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 4);
  if (ec != std::errc()) return "0";
  std::string s(buf, end);
  if (s.find('.') != std::string::npos) {
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
  }
  return s == "-0" ? "0" : s;
}

// The title as a PDF text string: UTF-16BE with its byte-order mark, in hex.
std::string pdf_text(const std::string& utf8) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out = "<FEFF";
  auto unit = [&](uint32_t u) {
    for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(u >> shift) & 15];
  };
  for (size_t i = 0; i < utf8.size();) {
    // The title was checked (is_utf8); a stray byte would stand for itself.
    const unsigned char c = static_cast<unsigned char>(utf8[i]);
    uint32_t cp = c;
    const size_t n = c < 0x80 ? 0 : plat::utf8_decode(utf8, i, cp);
    if (n == 0) cp = c;
    i += n == 0 ? 1 : n;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      unit(0xD800 | (cp >> 10));
      unit(0xDC00 | (cp & 0x3FF));
    } else {
      unit(cp);
    }
  }
  return out + ">";
}

// A PDF document whose pages hold pictures: every drawn rectangle becomes an
// image of its own, placed at its spot on the page. The rows are converted
// and compressed one at a time as the source hands them over, straight into
// the sink, so no copy of a page or of a rectangle is ever held. Compression
// is zlib's fastest level: a sheet at 300 dpi is 26 MB of pixels, and the
// slower levels cost several times as much for little gain on printed pages.
class PdfDevice final : public Device {
 public:
  PdfDevice(const PrinterSettings& settings, std::unique_ptr<PdfSink> sink)
      : mCaps(compute_caps(settings)), mSink(std::move(sink)) {}
  ~PdfDevice() override { abort(); }

  DeviceCaps caps() const override { return mCaps; }

  bool start_doc(const std::string& title) override {
    if (mState != State::Idle) return false;
    mFailure.clear();
    if (!mSink->open()) {
      Fail(mSink->failure());
      return false;
    }
    mWritten = 0;
    mWriteFailed = false;
    mOffsets.assign(3, 0);  // 0 unused, 1 the catalogue, 2 the page tree
    mPages.clear();
    mTitle = is_utf8(title) ? title : std::string();
    mDocTitle = title;
    if (!Put("%PDF-1.4\n%\xE2\xE3\xCF\xD3\n")) return false;
    mState = State::Document;
    return true;
  }

  bool start_page() override {
    if (mState != State::Document) return false;
    mContent.clear();
    mImages.clear();
    mState = State::Page;
    return true;
  }

  bool draw_rows(int32_t x, int32_t y, int32_t w, int32_t h, const RowSource& source) override {
    if (mState != State::Page || w <= 0 || h <= 0 || !source) return false;
    const int32_t image = NewObject();
    const int32_t length = NewObject();
    if (!Begin(image) ||
        !Put("<< /Type /XObject /Subtype /Image /Width " + std::to_string(w) + " /Height " + std::to_string(h) +
             " /ColorSpace /DeviceRGB /BitsPerComponent 8 /Filter /FlateDecode /Length " + std::to_string(length) +
             " 0 R >>\nstream\n"))
      return false;
    const int64_t before = mWritten;
    if (!Deflate(w, h, source)) return false;
    const int64_t size = mWritten - before;
    if (!Put("\nendstream\nendobj\n") || !Begin(length) || !Put(std::to_string(size) + "\nendobj\n")) return false;

    // Device pixels to points, with the origin at the printable corner;
    // PDF's y axis runs up from the bottom of the sheet.
    const double sx = 72.0 / mCaps.dpi_x, sy = 72.0 / mCaps.dpi_y;
    const double left = (double(mCaps.offset_x) + x) * sx;
    const double bottom = mCaps.sheet_height_pt - (double(mCaps.offset_y) + y + h) * sy;
    mContent += "q " + pdf_number(w * sx) + " 0 0 " + pdf_number(h * sy) + " " + pdf_number(left) + " " +
                pdf_number(bottom) + " cm /I" + std::to_string(mImages.size()) + " Do Q\n";
    mImages.push_back(image);
    return true;
  }

  bool end_page() override {
    if (mState != State::Page) return false;
    const int32_t content = NewObject();
    const int32_t page = NewObject();
    std::string resources = "<< /XObject << ";
    for (size_t i = 0; i < mImages.size(); ++i)
      resources += "/I" + std::to_string(i) + " " + std::to_string(mImages[i]) + " 0 R ";
    resources += ">> >>";
    if (!Begin(content) ||
        !Put("<< /Length " + std::to_string(mContent.size()) + " >>\nstream\n" + mContent + "endstream\nendobj\n") ||
        !Begin(page) ||
        !Put("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + pdf_number(mCaps.sheet_width_pt) + " " +
             pdf_number(mCaps.sheet_height_pt) + "] /Resources " + resources + " /Contents " + std::to_string(content) +
             " 0 R >>\nendobj\n"))
      return false;
    mPages.push_back(page);
    mState = State::Document;
    return true;
  }

  bool end_doc() override {
    if (mState != State::Document) return false;
    // A document without pages is not sent: there is nothing to print.
    if (mPages.empty()) {
      Drop();
      return true;
    }
    std::string kids;
    for (int32_t p : mPages) kids += std::to_string(p) + " 0 R ";
    const int32_t info = mTitle.empty() ? 0 : NewObject();
    if (!Begin(2) ||
        !Put("<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(mPages.size()) + " >>\nendobj\n") ||
        !Begin(1) || !Put("<< /Type /Catalog /Pages 2 0 R >>\nendobj\n"))
      return false;
    if (info != 0 && (!Begin(info) || !Put("<< /Title " + pdf_text(mTitle) + " >>\nendobj\n"))) return false;
    const int64_t xref = mWritten;
    std::string table = "xref\n0 " + std::to_string(mOffsets.size()) + "\n0000000000 65535 f \n";
    for (size_t i = 1; i < mOffsets.size(); ++i) {
      char entry[32];
      std::snprintf(entry, sizeof entry, "%010lld 00000 n \n", static_cast<long long>(mOffsets[i]));
      table += entry;
    }
    table += "trailer\n<< /Size " + std::to_string(mOffsets.size()) + " /Root 1 0 R" +
             (info != 0 ? " /Info " + std::to_string(info) + " 0 R" : std::string()) + " >>\nstartxref\n" +
             std::to_string(xref) + "\n%%EOF\n";
    if (!Put(table)) return false;
    mState = State::Idle;
    const bool delivered = mSink->deliver(mDocTitle);
    if (!delivered) mFailure = mSink->failure();
    mSink->discard();  // removes whatever deliver left behind
    return delivered;
  }

  void abort() override {
    if (mState == State::Idle) return;
    Drop();
  }

  std::string failure() const override { return mFailure; }

 private:
  enum class State { Idle, Document, Page };

  int32_t NewObject() {
    mOffsets.push_back(0);
    return int32_t(mOffsets.size() - 1);
  }

  // Starts object `id` at the current offset.
  bool Begin(int32_t id) {
    mOffsets[size_t(id)] = mWritten;
    return Put(std::to_string(id) + " 0 obj\n");
  }

  bool Put(const std::string& text) { return Write(reinterpret_cast<const unsigned char*>(text.data()), text.size()); }

  bool Write(const unsigned char* data, size_t size) {
    if (mWriteFailed || !mSink->write(data, size)) {
      Fail(mSink->failure());
      return false;
    }
    mWritten += int64_t(size);
    return true;
  }

  // The rows as RGB bytes through zlib into the sink.
  bool Deflate(int32_t w, int32_t h, const RowSource& source) {
    z_stream z{};
    if (deflateInit(&z, Z_BEST_SPEED) != Z_OK) {
      Fail("the printer's output cannot be compressed");
      return false;
    }
    std::vector<uint32_t> words(static_cast<size_t>(w));
    std::vector<unsigned char> rgb(size_t(w) * 3);
    std::vector<unsigned char> out(size_t(1) << 16);
    bool ok = true;
    for (int32_t r = 0; ok && r <= h; ++r) {
      const bool last = r == h;
      if (!last) {
        source(r, words.data());
        unsigned char* p = rgb.data();
        for (uint32_t v : words) {
          p[0] = uint8_t(v >> 16), p[1] = uint8_t(v >> 8), p[2] = uint8_t(v);
          p += 3;
        }
      }
      z.next_in = last ? nullptr : rgb.data();
      z.avail_in = last ? 0 : uInt(rgb.size());
      int rc = Z_OK;
      do {
        z.next_out = out.data();
        z.avail_out = uInt(out.size());
        rc = deflate(&z, last ? Z_FINISH : Z_NO_FLUSH);
        const size_t produced = out.size() - z.avail_out;
        if (rc == Z_STREAM_ERROR || (produced > 0 && !Write(out.data(), produced))) ok = false;
      } while (ok && (z.avail_out == 0 || (last && rc != Z_STREAM_END)));
    }
    deflateEnd(&z);
    if (!ok && !mWriteFailed) Fail("the printer's output cannot be compressed");
    return ok;
  }

  // Drops the job with its reason: nothing more is written, the temporary
  // file goes.
  void Fail(const std::string& reason) {
    if (mFailure.empty()) mFailure = reason;
    Drop();
  }

  void Drop() {
    mWriteFailed = true;
    mSink->discard();
    mState = State::Idle;
    mPages.clear();
  }

  DeviceCaps mCaps;
  std::unique_ptr<PdfSink> mSink;
  State mState = State::Idle;
  bool mWriteFailed = false;
  int64_t mWritten = 0;
  std::vector<int64_t> mOffsets;  // of every object, by number
  std::vector<int32_t> mPages;    // the page objects
  std::vector<int32_t> mImages;   // the images of the open page
  std::string mContent;           // the open page's drawing operators
  std::string mTitle;             // as metadata (valid UTF-8 only)
  std::string mDocTitle;          // as given, for the job
  std::string mFailure;
};

}  // namespace

std::unique_ptr<Device> make_pdf_device(const PrinterSettings& settings, std::unique_ptr<PdfSink> sink) {
  if (!sink) return nullptr;
  return std::make_unique<PdfDevice>(settings, std::move(sink));
}

}  // namespace plat::print
