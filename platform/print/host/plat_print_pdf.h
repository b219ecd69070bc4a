// Inside the host backends: a device that draws its pages with cairo into a
// PDF stream, and the sink that receives the stream and delivers it.
#pragma once

#include <memory>
#include <string>

#include "plat_print.h"

namespace plat::print {

// Where a document's bytes go. `open` makes the temporary file (its
// descriptor in `fd`, its name in `temp`); `deliver` is called after the
// whole document was written and closes the file; `discard` closes and
// deletes it. After deliver or discard the temporary file is gone (deliver
// may have renamed it into place).
class PdfSink {
 public:
  virtual ~PdfSink() = default;
  virtual bool open() = 0;
  virtual bool deliver(const std::string& title) = 0;
  void discard();

  int fd = -1;
  std::string temp;

 protected:
  // Closes the descriptor; false when the close reported an error.
  bool close_fd();
};

// A device over the sink with the metrics compute_caps(settings) gives.
std::unique_ptr<Device> make_pdf_device(const PrinterSettings& settings, std::unique_ptr<PdfSink> sink);

}  // namespace plat::print
