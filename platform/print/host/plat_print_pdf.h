// Inside the host backends: a device that writes its pages as a PDF stream,
// and the sink that receives the stream and delivers it.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "plat_print.h"

namespace plat::print {

// Where a document's bytes go. `open` begins a document, `write` appends to
// it, `deliver` is called after the whole document was written, `discard`
// drops what is left of it. After deliver or discard nothing of the document
// remains but what deliver put in place. The base writes to a temporary file
// that `open` makes (its descriptor in `fd`, its name in `temp`); `discard`
// closes and deletes it. A sink that keeps its bytes elsewhere overrides
// `write` and `discard`.
class PdfSink {
 public:
  virtual ~PdfSink() = default;
  virtual bool open() = 0;
  virtual bool write(const unsigned char* data, size_t size);
  virtual bool deliver(const std::string& title) = 0;
  virtual void discard();
  // Why the last step that failed failed, for the user; empty when not
  // known.
  virtual std::string failure() const { return reason; }

  int fd = -1;
  std::string temp;
  std::string reason;

 protected:
  // Closes the descriptor; false when the close reported an error.
  bool close_fd();
};

// A device over the sink with the metrics compute_caps(settings) gives: a
// PDF document whose pages hold the drawn pixels as images.
std::unique_ptr<Device> make_pdf_device(const PrinterSettings& settings, std::unique_ptr<PdfSink> sink);

}  // namespace plat::print
