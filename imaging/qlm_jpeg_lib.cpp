// The routines that drive the JPEG library (see qlm_jpeg_lib.h). Everything
// here that the library calls back is plain code: exceptions are caught
// inside each routine, and the error exit leaves by longjmp only from frames
// without objects that need destroying.
#include "qlm_jpeg_lib.h"

#include <sys/mman.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <exception>
#include <source_location>
#include <string>
#include <type_traits>

#include "qlm_base_array.h"
#include "qlm_base_flow.h"
#include "qlm_base_util.h"
#include "qlm_base_view_flow.h"
#include "qlm_jpeg.h"

namespace {

// The add-on table, indexed from cnJPEGMsgNotGrayOrRGB.
const char* const kAddonMessages[] = {
    "BMP output must be grayscale or RGB",
    "JPEG image has more than %d scans",
};

rJPEGError* error_record(j_common_ptr cinfo) { return reinterpret_cast<rJPEGError*>(cinfo->err); }

// The message tables and formatter every coder's error manager has: the
// library's standard ones with the add-on table. Filled once; the tables
// are static, so a row can be formatted with them long after its coder.
void set_message_tables(jpeg_error_mgr& err) {
  jpeg_std_error(&err);
  err.addon_message_table = kAddonMessages;
  err.first_addon_message = cnJPEGMsgNotGrayOrRGB;
  err.last_addon_message = cnJPEGMsgTooManyScans;
}

const jpeg_error_mgr& message_tables() {
  static const jpeg_error_mgr tables = [] {
    jpeg_error_mgr err;
    std::memset(&err, 0, sizeof err);
    set_message_tables(err);
    return err;
  }();
  return tables;
}

// True when the error manager formats its messages exactly as
// message_tables() does, so a message can be formatted later from its code
// and parameters alone.
bool formats_as_the_tables(const jpeg_error_mgr& err) {
  const jpeg_error_mgr& t = message_tables();
  return err.format_message == t.format_message && err.jpeg_message_table == t.jpeg_message_table &&
         err.last_jpeg_message == t.last_jpeg_message && err.addon_message_table == t.addon_message_table &&
         err.first_addon_message == t.first_addon_message && err.last_addon_message == t.last_addon_message;
}

// "{" ["Warning:"] message "(MsgLevel:" level ")}" in one allocation.
std::string braced_message(const char* message, int level) {
  const std::string_view prefix = level < 0 ? "{Warning:" : "{";
  const size_t length = ::strnlen(message, JMSG_LENGTH_MAX);
  char digits[16];
  const char* digits_end = std::to_chars(digits, digits + sizeof digits, level).ptr;
  const std::string_view level_text(digits, size_t(digits_end - digits));
  std::string braced;
  braced.reserve(prefix.size() + length + level_text.size() + 12);
  braced.append(prefix).append(message, length).append("(MsgLevel:").append(level_text).append(")}");
  return braced;
}

// What a message row's text is made from when it is read: the library's
// message code and parameters as they were when the message was emitted.
struct rJPEGMessage {
  int32_t code;
  int32_t level;
  decltype(jpeg_error_mgr::msg_parm) parm;
};
static_assert(sizeof(rJPEGMessage) <= cnDeferredTextBytes);
static_assert(std::is_trivially_copyable_v<rJPEGMessage>);

// The row's text, formatted by the library's own format_message over the
// stored code and parameters: the text the message had when it was emitted.
std::string message_row_text(const rDeferredText& deferred) {
  rJPEGMessage m;
  std::memcpy(&m, deferred.bytes, sizeof m);
  jpeg_error_mgr err = message_tables();
  err.msg_code = m.code;
  err.msg_parm = m.parm;
  jpeg_common_struct common;
  std::memset(&common, 0, sizeof common);
  common.err = &err;
  char message[JMSG_LENGTH_MAX];
  (*err.format_message)(&common, message);
  return braced_message(message, m.level);
}

// Appends one 299 row to the client object's log, a cException, its log
// created when missing: the row that a raised and caught errJPEGError gives,
// its text still to be set. Rows are appended as they are, without throwing
// and rethrowing the exception: a decode logs a few dozen trace messages,
// and the exception machinery was most of the cost of opening a small
// picture. Nil when the object holds no log (or it cannot be made).
rExceptionLog* append_row(cException* holder) {
  const rCodeAddress at = rCodeAddress::From(std::source_location::current());
  cExceptionLog* log = exception_log_ensure(holder);
  if (log == nullptr) return nullptr;
  rExceptionLog* row = log->Append(1);
  if (row == nullptr) return nullptr;
  row->code = errJPEGError;
  row->function = &jpeg_exception_string;
  row->raise_address = at;
  row->logged_at = at;
  datetime_now(row->date, row->time);
  return row;
}

// Appends one 299 row with the text in braces to the client object's log.
// The text starts with '{' and ends with '}', so the trimming of a raised
// error's text would leave it unchanged. Objects that are not a cException
// get it through the exception logging.
void log_braced_row(j_common_ptr cinfo, std::string&& braced) noexcept {
  cBase* object = static_cast<cBase*>(cinfo->client_data);
  if (object == nullptr) return;
  try {
    if (auto* holder = dynamic_cast<cException*>(object); holder != nullptr) {
      if (rExceptionLog* row = append_row(holder); row != nullptr) row->message = std::move(braced);
      return;
    }
    exception_log_append(std::make_exception_ptr(exError(errJPEGError, &jpeg_exception_string, braced,
                                                         rCodeAddress::From(std::source_location::current()))),
                         object);
  } catch (...) {
  }
}

// Logs the message the error manager holds at the level. In a cException's
// log the row keeps the code and parameters and its text is made when read
// (most rows never are); otherwise the text is formatted now.
void log_message_row(j_common_ptr cinfo, int level) noexcept {
  try {
    // The cast is made once per client object, not once per message.
    rJPEGError* err = error_record(cinfo);
    if (err->holder_of != cinfo->client_data) {
      err->holder = dynamic_cast<cException*>(static_cast<cBase*>(cinfo->client_data));
      err->holder_of = cinfo->client_data;
    }
    cException* holder = err->holder;
    if (holder != nullptr && formats_as_the_tables(*cinfo->err)) {
      rExceptionLog* row = append_row(holder);
      if (row == nullptr) return;
      rJPEGMessage m;
      m.code = cinfo->err->msg_code;
      m.level = level;
      m.parm = cinfo->err->msg_parm;
      std::memcpy(row->deferred.bytes, &m, sizeof m);
      row->deferred.make = &message_row_text;
      return;
    }
    char message[JMSG_LENGTH_MAX];
    (*cinfo->err->format_message)(cinfo, message);
    log_braced_row(cinfo, braced_message(message, level));
  } catch (...) {
    // Out of memory while logging: the message is lost, the coding goes on.
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// Error manager and bridge.

jpeg_error_mgr* jpeg_error_init(rJPEGError& err) {
  std::memset(&err, 0, sizeof err);
  set_message_tables(err.pub);
  err.pub.error_exit = &jpeg_error_exit;
  err.pub.emit_message = &jpeg_emit_message;
  return &err.pub;
}

void jpeg_error_exit(j_common_ptr cinfo) {
  rJPEGError* err = error_record(cinfo);
  char message[JMSG_LENGTH_MAX];
  (*cinfo->err->format_message)(cinfo, message);
  std::snprintf(err->text, sizeof err->text, "{%s(Code:%d)}", message, cinfo->err->msg_code);
  // Every library call runs inside jpeg_call; an exit outside one is a fault
  // of this module, and returning to the library is not allowed.
  if (!err->armed) std::abort();
  err->armed = false;
  std::longjmp(err->jump, 1);
}

void jpeg_emit_message(j_common_ptr cinfo, int level) {
  rJPEGError* err = error_record(cinfo);
  if (level < 0) ++cinfo->err->num_warnings;
  if (cinfo->client_data == nullptr) return;
  int32_t& logged = level < 0 ? err->warnings : err->traces;
  if (logged >= (level < 0 ? cnJPEGMaxWarningRows : cnJPEGMaxTraceRows)) {
    ++err->dropped;
    return;
  }
  ++logged;
  log_message_row(cinfo, level);
}

void jpeg_log_dropped(j_common_ptr cinfo) {
  const rJPEGError* err = error_record(cinfo);
  if (err == nullptr || err->dropped <= 0) return;
  try {
    std::string braced = "{";
    braced.append(std::to_string(err->dropped)).append(" further messages dropped}");
    log_braced_row(cinfo, std::move(braced));
  } catch (...) {
  }
}

bool jpeg_bridge(j_common_ptr cinfo, tJPEGStep step, void* arg) {
  rJPEGError* err = error_record(cinfo);
  if (setjmp(err->jump) != 0) return false;
  err->armed = true;
  step(arg);
  err->armed = false;
  return true;
}

void jpeg_raise_library_error(j_common_ptr cinfo) {
  raise_error(errJPEGError, &jpeg_exception_string, error_record(cinfo)->text);
}

// ---------------------------------------------------------------------------
// Progress.

void jpeg_progress_init(j_common_ptr cinfo, ProgressCallback callback) {
  auto* p = static_cast<rJPEGProgress*>((*cinfo->mem->alloc_small)(cinfo, JPOOL_PERMANENT, sizeof(rJPEGProgress)));
  std::memset(p, 0, sizeof *p);
  p->pub.progress_monitor = &jpeg_progress_monitor;
  p->last = -1.0;
  p->go_on = true;
  p->callback = callback;
  cinfo->progress = &p->pub;
}

void jpeg_progress_monitor(j_common_ptr cinfo) {
  if (cinfo->is_decompressor) {
    const auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (d->input_scan_number > cnJPEGMaxScans) ERREXIT1(cinfo, cnJPEGMsgTooManyScans, cnJPEGMaxScans);
  }
  auto* p = reinterpret_cast<rJPEGProgress*>(cinfo->progress);
  // Once the callback answered "stop" it is not asked again: its next answer
  // would take the stop back before the check between rows sees it (a
  // progressive decode reports many times inside jpeg_start_decompress).
  if (p->callback == nullptr || cinfo->client_data == nullptr || !p->go_on) return;
  const int32_t total = p->pub.total_passes + p->extra_total;
  if (total <= 0 || p->pub.pass_limit <= 0) return;
  const int32_t in_pass = int32_t(p->pub.pass_counter * 100);
  const int32_t passes = (p->pub.completed_passes + p->extra_completed) * 100;
  const double percent = (double(in_pass) / double(p->pub.pass_limit) + double(passes)) / double(total);
  if (percent == p->last) return;
  p->last = percent;
  try {
    p->go_on = p->callback(static_cast<cBase*>(cinfo->client_data), percent);
  } catch (...) {
    p->go_on = false;
  }
}

void jpeg_progress_finish(j_common_ptr cinfo) {
  auto* p = reinterpret_cast<rJPEGProgress*>(cinfo->progress);
  if (p == nullptr || p->callback == nullptr || p->last == 100.0) return;
  p->last = 100.0;
  try {
    p->callback(static_cast<cBase*>(cinfo->client_data), 100.0);
  } catch (...) {
  }
}

bool jpeg_progress_go_on(j_common_ptr cinfo) {
  const auto* p = reinterpret_cast<const rJPEGProgress*>(cinfo->progress);
  return p == nullptr || p->go_on;
}

// ---------------------------------------------------------------------------
// Source manager.

namespace {

struct rJPEGSource {
  jpeg_source_mgr pub;
  tJPEGRead read;
  void* context;
  JOCTET* buffer;
  boolean start_of_file;
  boolean at_end;  // a read found the end: the buffer holds an inserted end marker
  // Taken in place: the library reads the flow's own bytes from `start` on,
  // all `available` of them at once; nothing is read through `read`.
  cFlow* in_place;
  int64_t start;
  int64_t available;
};

void source_init(j_decompress_ptr cinfo) { reinterpret_cast<rJPEGSource*>(cinfo->src)->start_of_file = TRUE; }

boolean source_fill(j_decompress_ptr cinfo) {
  auto* src = reinterpret_cast<rJPEGSource*>(cinfo->src);
  // In place, every byte was handed over at the start: a refill is the end
  // (as a read past a flow's last byte is, after the first read).
  if (src->in_place != nullptr) src->start_of_file = FALSE;
  int64_t n = src->in_place != nullptr ? 0 : src->read(src->context, src->buffer, cnJPEGBufferSize);
  if (n > cnJPEGBufferSize) n = -1;
  if (n <= 0) {
    if (src->start_of_file) ERREXIT(cinfo, JERR_INPUT_EMPTY);
    WARNMS(cinfo, JWRN_JPEG_EOF);
    src->buffer[0] = JOCTET(0xFF);
    src->buffer[1] = JOCTET(JPEG_EOI);
    n = 2;
    src->at_end = TRUE;
  } else {
    src->at_end = FALSE;
  }
  src->pub.next_input_byte = src->buffer;
  src->pub.bytes_in_buffer = size_t(n);
  src->start_of_file = FALSE;
  return TRUE;
}

void source_skip(j_decompress_ptr cinfo, long count) {
  auto* src = reinterpret_cast<rJPEGSource*>(cinfo->src);
  if (count <= 0) return;
  while (count > long(src->pub.bytes_in_buffer)) {
    count -= long(src->pub.bytes_in_buffer);
    (void)source_fill(cinfo);
    // Past the end every refill is the same inserted end marker: the rest of
    // the skip would only repeat it (up to 32,767 times for one marker), so
    // it stops at the marker.
    if (src->at_end) return;
  }
  src->pub.next_input_byte += count;
  src->pub.bytes_in_buffer -= size_t(count);
}

// In place, the flow's position moves past the bytes the library used.
void source_term(j_decompress_ptr cinfo) {
  auto* src = reinterpret_cast<rJPEGSource*>(cinfo->src);
  if (src->in_place == nullptr || src->at_end) return;
  try {
    src->in_place->Seek(src->start + src->available - int64_t(src->pub.bytes_in_buffer));
  } catch (...) {
  }
}

// Reads from a flow: up to the buffer's size, but no more than the flow has
// left (a read past the end would only log a failed read in the caller's
// flow).
int64_t flow_read(void* context, JOCTET* buffer, int32_t size) {
  auto* flow = static_cast<cFlow*>(context);
  try {
    int64_t want = size;
    const int64_t total = flow->Size(), at = flow->Curr();
    if (total >= 0 && at >= 0) want = std::min<int64_t>(want, std::max<int64_t>(total - at, 0));
    if (want <= 0) return 0;
    flow->Read(buffer, int32_t(want));
    return int64_t(flow->LastIO());
  } catch (...) {
    return -1;
  }
}

}  // namespace

void jpeg_source(j_decompress_ptr cinfo, tJPEGRead read, void* context) {
  j_common_ptr common = reinterpret_cast<j_common_ptr>(cinfo);
  auto* src = static_cast<rJPEGSource*>((*cinfo->mem->alloc_small)(common, JPOOL_PERMANENT, sizeof(rJPEGSource)));
  std::memset(src, 0, sizeof *src);
  src->buffer = static_cast<JOCTET*>((*cinfo->mem->alloc_small)(common, JPOOL_PERMANENT, cnJPEGBufferSize));
  src->read = read;
  src->context = context;
  src->pub.init_source = &source_init;
  src->pub.fill_input_buffer = &source_fill;
  src->pub.skip_input_data = &source_skip;
  src->pub.resync_to_restart = &jpeg_resync_to_restart;
  src->pub.term_source = &source_term;
  src->pub.bytes_in_buffer = 0;
  src->pub.next_input_byte = nullptr;
  cinfo->src = &src->pub;
}

void jpeg_flow_source(j_decompress_ptr cinfo, cFlow* flow) {
  jpeg_source(cinfo, &flow_read, flow);
  // A view flow over the caller's bytes is read in place: no copy of the
  // file in buffer-sized pieces.
  auto* view = dynamic_cast<cViewFlow*>(flow);
  const uint8_t* bytes = view != nullptr ? view->Here() : nullptr;
  const int64_t available = bytes != nullptr ? view->Size() - view->Curr() : 0;
  if (available <= 0) return;
  auto* src = reinterpret_cast<rJPEGSource*>(cinfo->src);
  src->in_place = flow;
  src->start = flow->Curr();
  src->available = available;
  src->pub.next_input_byte = bytes;
  src->pub.bytes_in_buffer = size_t(available);
  flow->Seek(src->start + available);  // every byte is the library's now
}

// ---------------------------------------------------------------------------
// Destination manager.

namespace {

struct rJPEGDest {
  jpeg_destination_mgr pub;
  cFlow* flow;
  JOCTET* buffer;
};

void dest_init(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<rJPEGDest*>(cinfo->dest);
  dest->buffer = static_cast<JOCTET*>(
      (*cinfo->mem->alloc_small)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE, cnJPEGBufferSize));
  dest->pub.next_output_byte = dest->buffer;
  dest->pub.free_in_buffer = cnJPEGBufferSize;
}

// Writes count bytes of the buffer; false on a failed or short write.
bool dest_write(rJPEGDest* dest, int32_t count) {
  try {
    return dest->flow->Write(dest->buffer, count) && dest->flow->LastIO() == uint32_t(count);
  } catch (...) {
    return false;
  }
}

boolean dest_empty(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<rJPEGDest*>(cinfo->dest);
  if (!dest_write(dest, cnJPEGBufferSize)) ERREXIT(cinfo, JERR_FILE_WRITE);
  dest->pub.next_output_byte = dest->buffer;
  dest->pub.free_in_buffer = cnJPEGBufferSize;
  return TRUE;
}

void dest_term(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<rJPEGDest*>(cinfo->dest);
  const int32_t count = cnJPEGBufferSize - int32_t(dest->pub.free_in_buffer);
  if (count > 0 && !dest_write(dest, count)) ERREXIT(cinfo, JERR_FILE_WRITE);
}

}  // namespace

void jpeg_flow_dest(j_compress_ptr cinfo, cFlow* flow) {
  auto* dest = static_cast<rJPEGDest*>(
      (*cinfo->mem->alloc_small)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_PERMANENT, sizeof(rJPEGDest)));
  std::memset(dest, 0, sizeof *dest);
  dest->flow = flow;
  dest->pub.init_destination = &dest_init;
  dest->pub.empty_output_buffer = &dest_empty;
  dest->pub.term_destination = &dest_term;
  cinfo->dest = &dest->pub;
}

// ---------------------------------------------------------------------------
// Row writer.

void jpeg_bitmap_writer(j_decompress_ptr cinfo, rJPEGWriter& w, cBitmap* bitmap, bool allow_direct,
                        bool grey_into_bitmap) {
  w = rJPEGWriter{};
  w.bitmap = bitmap;
  w.order = *bitmap->Order();
  w.bytes_per_pixel = bitmap->BytesPerPixel();
  w.width = bitmap->Width();
  switch (cinfo->out_color_space) {
    case JCS_GRAYSCALE:
      // The library repeats each grey sample into red, green and blue in
      // the bitmap's byte order: the bytes that expanding the index rows
      // through the identity grey palette gives, without the index rows.
      if (allow_direct && grey_into_bitmap && (bitmap->PixelFormat() == px24BGR || bitmap->PixelFormat() == px24RGB)) {
        cinfo->out_color_space = bitmap->PixelFormat() == px24BGR ? JCS_EXT_BGR : JCS_EXT_RGB;
        w.direct = true;
        w.grey_expanded = true;
        break;
      }
      w.one_byte = true;
      w.direct = allow_direct;
      break;
    case JCS_RGB:
      // The library writes the bitmap's byte order itself: the same samples
      // as the per-pixel copy, without the copy.
      if (allow_direct && bitmap->PixelFormat() == px24BGR) {
        cinfo->out_color_space = JCS_EXT_BGR;
        w.direct = true;
      } else if (allow_direct && bitmap->PixelFormat() == px24RGB) {
        cinfo->out_color_space = JCS_EXT_RGB;
        w.direct = true;
      }
      break;
    default: ERREXIT(cinfo, cnJPEGMsgNotGrayOrRGB);
  }
  jpeg_calc_output_dimensions(cinfo);
  w.unpadded = int64_t(cinfo->output_width) * cinfo->output_components;
  w.padded = (w.unpadded + 3) / 4 * 4;
  if (!w.direct) {
    w.buffer = (*cinfo->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE, JDIMENSION(w.padded), 1);
  }
  // The bitmap's own stride decides the padding (its rows may have none).
  jpeg_writer_target(w, bitmap->Data(), bitmap->Stride(),
                     w.one_byte ? w.unpadded : int64_t(w.width) * w.bytes_per_pixel);
  // A bitmap's padding is zeroed when it is made, and neither the library
  // nor the copy writes past a row's pixels: where it is still all zero, it
  // need not be zeroed row by row.
  if (w.padding > 0 && !w.one_byte) {
    bool zero = true;
    for (int32_t y = 0; y < bitmap->Height() && zero; ++y) {
      const uint8_t* p = bitmap->Data() + int64_t(y) * w.step + w.row_bytes;
      for (int64_t i = 0; i < w.padding; ++i) zero = zero && p[i] == 0;
    }
    if (zero) w.padding = 0;
  }
}

void jpeg_writer_target(rJPEGWriter& w, uint8_t* target, int64_t step, int64_t row_bytes) {
  w.target = target;
  w.step = step;
  w.row_bytes = row_bytes;
  w.padding = step > row_bytes ? step - row_bytes : 0;
  w.rows_put = 0;
}

JSAMPROW jpeg_writer_row(const rJPEGWriter& w) { return w.direct ? w.target : w.buffer[0]; }

void jpeg_put_rows(rJPEGWriter& w) {
  if (!w.direct) {
    const uint8_t* s = w.buffer[0];
    if (w.one_byte) {
      std::memcpy(w.target, s, size_t(w.unpadded));
    } else {
      uint8_t* p = w.target;
      for (int32_t x = 0; x < w.width; ++x, s += 3, p += w.bytes_per_pixel) {
        p[w.order.red] = s[0];
        p[w.order.green] = s[1];
        p[w.order.blue] = s[2];
      }
    }
  }
  if (w.padding > 0) std::memset(w.target + w.row_bytes, 0, size_t(w.padding));
  w.target += w.step;
  ++w.rows_put;
}

bool jpeg_read_all_rows(j_decompress_ptr cinfo, rJPEGWriter& w) {
  if (!w.direct || w.one_byte) {
    while (cinfo->output_scanline < cinfo->output_height) {
      JSAMPROW row = jpeg_writer_row(w);
      if (jpeg_read_scanlines(cinfo, &row, 1) != 1) return false;
      jpeg_put_rows(w);
    }
    return true;
  }
  const JDIMENSION first = cinfo->output_scanline;
  const JDIMENSION count = cinfo->output_height - first;
  if (count == 0) return true;
  // From the image pool: released with the decoder, whatever happens.
  auto* rows = static_cast<JSAMPARRAY>(
      (*cinfo->mem->alloc_large)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE, size_t(count) * sizeof(JSAMPROW)));
  for (JDIMENSION i = 0; i < count; ++i) rows[i] = w.target + int64_t(i) * w.step;
  while (cinfo->output_scanline < cinfo->output_height) {
    const JDIMENSION done = cinfo->output_scanline - first;
    const JDIMENSION got = jpeg_read_scanlines(cinfo, rows + done, count - done);
    if (got == 0) return false;
    if (w.padding > 0)
      for (JDIMENSION i = 0; i < got; ++i) std::memset(rows[done + i] + w.row_bytes, 0, size_t(w.padding));
    w.target += int64_t(got) * w.step;
    w.rows_put += got;
  }
  return true;
}

void jpeg_advise_huge_pages(uint8_t* block, int64_t size) {
#ifdef MADV_HUGEPAGE
  constexpr uintptr_t kHuge = uintptr_t(2) << 20;
  if (block == nullptr || size < int64_t(2 * kHuge)) return;
  const uintptr_t begin = (reinterpret_cast<uintptr_t>(block) + kHuge - 1) & ~(kHuge - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(block) + uintptr_t(size)) & ~(kHuge - 1);
  if (end > begin) (void)::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
  (void)block;
  (void)size;
#endif
}

// ---------------------------------------------------------------------------
// Row reader.

void jpeg_bitmap_reader(j_compress_ptr cinfo, rJPEGReader& r, cBitmap* bitmap, bool allow_direct) {
  r = rJPEGReader{};
  r.bitmap = bitmap;
  r.order = *bitmap->Order();
  r.bytes_per_pixel = bitmap->BytesPerPixel();
  r.width = bitmap->Width();
  cinfo->image_width = JDIMENSION(bitmap->Width());
  cinfo->image_height = JDIMENSION(bitmap->Height());
  cinfo->input_components = 3;
  cinfo->in_color_space = JCS_RGB;
  cinfo->data_precision = 8;
  if (!allow_direct) return;
  // The bitmap's own byte order; the X byte of the 32-bit orders (alpha) is
  // not read, as the per-pixel copy does not read it.
  J_COLOR_SPACE space = JCS_UNKNOWN;
  switch (bitmap->PixelFormat()) {
    case px24RGB: space = JCS_EXT_RGB; break;
    case px24BGR: space = JCS_EXT_BGR; break;
    case px32RGBA: space = JCS_EXT_RGBX; break;
    case px32BGRA: space = JCS_EXT_BGRX; break;
    case px32ARGB: space = JCS_EXT_XRGB; break;
    case px32ABGR: space = JCS_EXT_XBGR; break;
    default: return;
  }
  cinfo->in_color_space = space;
  cinfo->input_components = r.bytes_per_pixel;
  r.direct = true;
}

void jpeg_reader_start(j_compress_ptr cinfo, rJPEGReader& r) {
  if (!r.direct) {
    r.buffer =
        (*cinfo->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE, JDIMENSION(r.width) * 3, 1);
  }
  r.source = r.bitmap->Data();
  r.step = r.bitmap->Stride();
}

JSAMPROW jpeg_get_rows(rJPEGReader& r) {
  const uint8_t* p = r.source;
  r.source += r.step;
  if (r.direct) return const_cast<JSAMPROW>(p);
  uint8_t* s = r.buffer[0];
  for (int32_t x = 0; x < r.width; ++x, s += 3, p += r.bytes_per_pixel) {
    s[0] = p[r.order.red];
    s[1] = p[r.order.green];
    s[2] = p[r.order.blue];
  }
  return r.buffer[0];
}

// ---------------------------------------------------------------------------
// Grey palettes

std::unique_ptr<cPalette> jpeg_grey_palette(const uint8_t* levels) {
  auto palette = std::make_unique<cPalette>();
  if (palette->Create(256) == nullptr) raise_base_error(errQLMCall, "{palette.Create}");
  for (int32_t i = 0; i < 256; ++i) {
    uint8_t* e = palette->Entries() + 4 * i;
    e[0] = e[1] = e[2] = levels != nullptr ? levels[i] : uint8_t(i);
    e[3] = 0;
  }
  return palette;
}

void jpeg_expand_grey(cBitmap* target, const uint8_t* index, int64_t step, std::unique_ptr<cPalette> palette) {
  // The index is a byte, so its entry always exists in the 256.
  const rChannelOrder o = *target->Order();
  const int32_t bpp = target->BytesPerPixel();
  const uint8_t* entries = palette->Entries();
  for (int32_t y = 0; y < target->Height(); ++y) {
    const uint8_t* s = index + int64_t(y) * step;
    uint8_t* p = target->Data() + int64_t(y) * target->Stride();
    for (int32_t x = 0; x < target->Width(); ++x, ++s, p += bpp) {
      const uint8_t* e = entries + 4 * int32_t(*s);
      p[o.red] = e[0];
      p[o.green] = e[1];
      p[o.blue] = e[2];
    }
  }
  target->SetPalette(std::move(palette));
}

// ---------------------------------------------------------------------------
// The decode driver.

void jpeg_decode_into_bitmap(rJPEGDecodeSetup& setup) {
  setup.kept = 0;
  auto state = std::make_unique<rJPEGDecodeState>();
  jpeg_decompress_struct* d = &state->d;
  jpeg_call(jpeg_common(d), [d] { jpeg_create_decompress(d); });
  d->client_data = setup.client;
  jpeg_call(jpeg_common(d), [d, &setup] {
    jpeg_progress_init(jpeg_common(d), setup.progress);
    if (setup.read != nullptr)
      jpeg_source(d, setup.read, setup.context);
    else
      jpeg_flow_source(d, setup.flow);
    jpeg_read_header(d, TRUE);
  });
  d->dct_method = J_DCT_METHOD(setup.dct_method);
  cBitmap* target = setup.target(*d);

  rJPEGWriter* writer = &state->writer;
  const bool grey_into_bitmap = setup.grey_into_bitmap;
  jpeg_call(jpeg_common(d),
            [d, writer, target, grey_into_bitmap] { jpeg_bitmap_writer(d, *writer, target, true, grey_into_bitmap); });
  if (int64_t(d->output_width) != target->Width() || int64_t(d->output_height) != target->Height())
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
    // call; without one and without a rows hook, every row is read under one
    // jump point, as many per call as the library has ready.
    if (setup.progress == nullptr && !setup.rows_read) {
      bool read = false;
      jpeg_call(jpeg_common(d), [d, writer, &read] { read = jpeg_read_all_rows(d, *writer); });
      // The sources never suspend, so every call gives a row.
      if (!read) raise_condition_error(errInvariant, "{jpeg_read_scanlines=0}");
    }
    while (d->output_scanline < d->output_height) {
      if (!jpeg_progress_go_on(jpeg_common(d))) {
        jpeg_abort(jpeg_common(d));
        raise_base_error(errProgressBreak, setup.stop_text);
      }
      JDIMENSION rows = 0;
      jpeg_call(jpeg_common(d), [d, writer, &rows] {
        JSAMPROW row = jpeg_writer_row(*writer);
        rows = jpeg_read_scanlines(d, &row, 1);
        if (rows == 1) jpeg_put_rows(*writer);
      });
      if (rows != 1) raise_condition_error(errInvariant, "{jpeg_read_scanlines=0}");
      if (setup.rows_read) {
        try {
          setup.rows_read(rows);
        } catch (...) {
          jpeg_abort(jpeg_common(d));
          throw;
        }
      }
    }

    std::unique_ptr<cPalette> palette;
    if (state->index != nullptr || writer->grey_expanded) palette = jpeg_grey_palette(setup.grey_levels);
    jpeg_call(jpeg_common(d), [d] { jpeg_finish_decompress(d); });
    if (state->index != nullptr)
      jpeg_expand_grey(target, state->index, writer->padded, std::move(palette));
    else if (palette != nullptr)
      target->SetPalette(std::move(palette));
    setup.kept = state->index != nullptr ? target->Height() : writer->rows_put;
  } catch (...) {
    // The rows decoded so far stay, but a grey picture shows nothing of a
    // failed decode, as when it was decoded into index rows and expanded
    // only at the end.
    if (state->index == nullptr && !writer->grey_expanded) setup.kept = writer->rows_put;
    throw;
  }
  jpeg_progress_finish(jpeg_common(d));
}
