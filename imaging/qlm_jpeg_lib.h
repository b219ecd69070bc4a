// Driving the JPEG library: the records and routines shared by cImageJPEG and
// the JNG colour coder.
//
// Error bridge. The library reports a fatal error by calling the error
// manager's error_exit, which must not return; a C++ exception must not pass
// through the library's C frames either. So every library call runs inside
// jpeg_call: a small frame sets a jump point (setjmp) and calls the step;
// jpeg_error_exit formats the message into the error record and jumps back
// (longjmp); jpeg_call then raises 299 errJPEGError with that text in C++.
// A step runs only library calls and the plain routines below: no object with
// a destructor lives between the jump point and the library.
//
// Messages. Warnings and trace messages are logged in the coder's client
// object (the image) as 299 rows, at most cnJPEGMaxTraceRows trace rows and
// cnJPEGMaxWarningRows warnings per coder object, each kind capped on its
// own so that trace rows never crowd a warning out; the rest are counted
// and jpeg_log_dropped adds one row for them.
//
// Scans. The progress manager is always installed: besides reporting
// progress when a callback is given, it stops a decoder after
// cnJPEGMaxScans scans (a many-scan progressive file would otherwise cost
// time in proportion to scans x image size).
#pragma once

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string_view>
#include <type_traits>

#include <jerror.h>
#include <jpeglib.h>

#include "qlm_base_util.h"
#include "qlm_bitmap.h"
#include "qlm_progress.h"

class cFlow;

// The add-on messages of the system (the library's add-on table).
constexpr int cnJPEGMsgNotGrayOrRGB = 1000;  // "BMP output must be grayscale or RGB"
constexpr int cnJPEGMsgTooManyScans = 1001;  // "JPEG image has more than %d scans"
constexpr int32_t cnJPEGMaxScans = 500;
constexpr int32_t cnJPEGMaxTraceRows = 100;
constexpr int32_t cnJPEGMaxWarningRows = 100;
// Message rows a coder object can log, the dropped-messages row aside.
constexpr int32_t cnJPEGMaxMessages = cnJPEGMaxTraceRows + cnJPEGMaxWarningRows;
// Size of the flow buffers of the source and destination managers.
constexpr int32_t cnJPEGBufferSize = 4096;

// ---------------------------------------------------------------------------
// Error manager and bridge.

struct rJPEGError {
  jpeg_error_mgr pub;  // first: what the library sees
  jmp_buf jump;
  bool armed;
  char text[JMSG_LENGTH_MAX + 32];  // "{message(Code:n)}" of the last error exit
  int32_t traces;                   // trace rows logged
  int32_t warnings;                 // warning rows logged
  int32_t dropped;                  // messages past their cap
  // The client object as a cException (nil: it is none), found for
  // `holder_of`, the client_data it was found for.
  cException* holder;
  const void* holder_of;
};

// The library's standard error manager with error_exit and emit_message
// replaced; answers the record's library part for cinfo->err.
jpeg_error_mgr* jpeg_error_init(rJPEGError& err);
// Formats "{message(Code:n)}" into the record and jumps back to jpeg_call.
[[noreturn]] void jpeg_error_exit(j_common_ptr cinfo);
// Logs "[Warning:]message(MsgLevel:n)" in the client object (nothing without
// one); never stops the coding.
void jpeg_emit_message(j_common_ptr cinfo, int level);
// One row "{n further messages dropped}" when the cap dropped messages.
void jpeg_log_dropped(j_common_ptr cinfo);

// Runs step(arg) under a jump point; false when the library took the error
// exit (the text is in the error record).
using tJPEGStep = void (*)(void* arg);
bool jpeg_bridge(j_common_ptr cinfo, tJPEGStep step, void* arg);
// Raises 299 errJPEGError with the error record's text.
[[noreturn]] void jpeg_raise_library_error(j_common_ptr cinfo);

// Runs the callable (library calls only) under the bridge; a library error
// becomes 299 errJPEGError "{message(Code:n)}" raised here, in C++.
template <typename F>
void jpeg_call(j_common_ptr cinfo, F&& f) {
  auto trampoline = [](void* arg) { (*static_cast<std::remove_reference_t<F>*>(arg))(); };
  if (!jpeg_bridge(cinfo, trampoline, &f)) jpeg_raise_library_error(cinfo);
}

// ---------------------------------------------------------------------------
// Progress.

struct rJPEGProgress {
  jpeg_progress_mgr pub;
  double last;  // last reported percentage; -1 at the start
  int32_t extra_completed;
  int32_t extra_total;
  bool go_on;  // the callback's last answer
  ProgressCallback callback;
};

// Installs the progress record (permanent pool) with the callback (may be
// nil: then only the scan guard works). Runs inside jpeg_call.
void jpeg_progress_init(j_common_ptr cinfo, ProgressCallback callback);
// The library's progress hook: the scan guard, then the percentage.
void jpeg_progress_monitor(j_common_ptr cinfo);
// Reports 100 once when the last report was another value (answer ignored).
void jpeg_progress_finish(j_common_ptr cinfo);
// False once the callback answered false.
bool jpeg_progress_go_on(j_common_ptr cinfo);

// ---------------------------------------------------------------------------
// Flow managers (both run inside jpeg_call).

// A source manager over any reader: `read` fills up to `size` bytes and
// answers how many it gave (0 at the end, a negative value on failure; both
// end the data with an inserted end marker and a warning). A skip past the
// end stops at that marker.
using tJPEGRead = int64_t (*)(void* context, JOCTET* buffer, int32_t size);
void jpeg_source(j_decompress_ptr cinfo, tJPEGRead read, void* context);
// The source manager over a flow, from its current position.
void jpeg_flow_source(j_decompress_ptr cinfo, cFlow* flow);
// Destination manager writing to the flow at its current position.
void jpeg_flow_dest(j_compress_ptr cinfo, cFlow* flow);

// ---------------------------------------------------------------------------
// Row writer: decoded rows into a bitmap (or an index buffer for grey).

struct rJPEGWriter {
  cBitmap* bitmap;
  uint8_t* target;     // the next row to fill
  int64_t step;        // bytes from one target row to the next
  int64_t unpadded;    // output width x output components
  int64_t padded;      // unpadded rounded up to a multiple of 4
  int64_t row_bytes;   // bytes of pixels in one target row
  int64_t padding;     // bytes set to 0 after a row's pixels (0: already zero)
  bool one_byte;       // grey: one byte per pixel, copied unchanged
  bool direct;         // the library writes the target row itself
  bool grey_expanded;  // grey written by the library as 24-bit pixels
  int64_t rows_put;    // rows stored at the target since it was set
  JSAMPARRAY buffer;   // one row of samples for the per-pixel copy
  rChannelOrder order;
  int32_t bytes_per_pixel;
  int32_t width;
};

// Chooses the output colour space (grey: one byte; RGB: three; anything else
// takes the error exit with "BMP output must be grayscale or RGB"), computes
// the output dimensions and the row widths, and targets the bitmap's first
// row. With allow_direct, a 24-bit bitmap is decoded straight into its rows
// in its channel order; grey too with grey_into_bitmap (grey_expanded is
// then set: the pixels are those of the identity grey palette, which the
// caller attaches). Runs inside jpeg_call.
void jpeg_bitmap_writer(j_decompress_ptr cinfo, rJPEGWriter& writer, cBitmap* bitmap, bool allow_direct,
                        bool grey_into_bitmap = false);
// Moves the target to another buffer (the grey index buffer): rows `step`
// bytes apart holding `row_bytes` bytes of pixels each.
void jpeg_writer_target(rJPEGWriter& writer, uint8_t* target, int64_t step, int64_t row_bytes);
// Where the library writes the next scanline.
JSAMPROW jpeg_writer_row(const rJPEGWriter& writer);
// Stores the scanline at the target (per-pixel copy unless direct), zeroes
// the row's padding (unless the writer found the bitmap's padding all zero)
// and moves to the next row.
void jpeg_put_rows(rJPEGWriter& writer);
// Reads every remaining scanline. A direct writer hands the library the
// addresses of all the rows left at once (its own rows, from the target on),
// so each call gives as many rows as the library has ready instead of one;
// otherwise one row per call goes through jpeg_put_rows. rows_put counts
// the rows of completed calls only: rows of a call that took the error exit
// are not counted. False when a call gave no row (a suspending source).
// Runs inside jpeg_call, after jpeg_start_decompress.
bool jpeg_read_all_rows(j_decompress_ptr cinfo, rJPEGWriter& writer);

// Advice for a new block that the decoder is about to fill: the pixels of a
// big picture are written once, row after row, into memory the system has
// not mapped yet, and with small pages the first write to each 4 KB takes a
// page fault; for a 12 MP picture those faults can cost more than the
// decoding itself. The block's whole 2 MB stretches are offered huge pages
// (one fault each). Only advice: where the system has none to give, or the
// pages are mapped already, nothing changes; blocks under 4 MB are left.
void jpeg_advise_huge_pages(uint8_t* block, int64_t size);

// The palette of a grey picture decoded into index rows: 256 grey entries,
// level i at index i, or levels[i] (a gamma table) when given. Raises 283
// when it cannot be made.
std::unique_ptr<cPalette> jpeg_grey_palette(const uint8_t* levels);
// Every pixel's red, green and blue from its index's palette entry (alpha
// untouched; the index rows are `step` bytes apart), then hands the palette
// to the bitmap.
void jpeg_expand_grey(cBitmap* target, const uint8_t* index, int64_t step, std::unique_ptr<cPalette> palette);

// ---------------------------------------------------------------------------
// Row reader: bitmap rows handed to the encoder.

struct rJPEGReader {
  cBitmap* bitmap;
  const uint8_t* source;  // the next row to hand over
  int64_t step;
  JSAMPARRAY buffer;  // width x 3 samples for the per-pixel copy
  bool direct;        // rows go to the library as they are
  rChannelOrder order;
  int32_t bytes_per_pixel;
  int32_t width;
};

// Image size, input components and colour space from the bitmap (it must
// have a channel order): RGB samples, or with allow_direct the bitmap's own
// byte order (alpha ignored). Runs inside jpeg_call.
void jpeg_bitmap_reader(j_compress_ptr cinfo, rJPEGReader& reader, cBitmap* bitmap, bool allow_direct);
// The sample buffer and the first row. Runs inside jpeg_call.
void jpeg_reader_start(j_compress_ptr cinfo, rJPEGReader& reader);
// The next row for jpeg_write_scanlines (red, green, blue from the bitmap's
// offsets, or the bitmap's row itself when direct).
JSAMPROW jpeg_get_rows(rJPEGReader& reader);

// The records live in frames that the error exit jumps over.
static_assert(std::is_trivially_destructible_v<rJPEGError>);
static_assert(std::is_trivially_destructible_v<rJPEGWriter>);
static_assert(std::is_trivially_destructible_v<rJPEGReader>);

inline j_common_ptr jpeg_common(j_decompress_ptr d) { return reinterpret_cast<j_common_ptr>(d); }
inline j_common_ptr jpeg_common(j_compress_ptr c) { return reinterpret_cast<j_common_ptr>(c); }

// The decoder's and encoder's state of one call, released in the right order
// whatever happens: the dropped-messages row, then the coder object (with
// its pools: managers, progress record, sample buffers), then the index
// buffer; a palette not handed to the bitmap goes with its unique_ptr.
struct rJPEGDecodeState {
  jpeg_decompress_struct d;
  rJPEGError err;
  rJPEGWriter writer{};
  uint8_t* index = nullptr;
  rJPEGDecodeState() {
    std::memset(&d, 0, sizeof d);
    d.err = jpeg_error_init(err);
  }
  ~rJPEGDecodeState() {
    jpeg_log_dropped(jpeg_common(&d));
    jpeg_destroy_decompress(&d);
    mem_free(index);
  }
  rJPEGDecodeState(const rJPEGDecodeState&) = delete;
  rJPEGDecodeState& operator=(const rJPEGDecodeState&) = delete;
};

// ---------------------------------------------------------------------------
// The decode driver: one decode of a JPEG stream into a bitmap, as the JPEG
// image and the JNG colour coder both run it; what differs between them is
// in the setup.

struct rJPEGDecodeSetup {
  cBase* client = nullptr;              // the coder's client data: messages are logged there
  ProgressCallback progress = nullptr;  // the progress record's callback (nil: the scan guard only)
  const char* stop_text = "";           // errProgressBreak's text when the callback answers false
  tJPEGRead read = nullptr;             // the source: a reader over `context`,
  void* context = nullptr;
  cFlow* flow = nullptr;  // or else the flow from its position
  uint8_t dct_method = 0;
  bool grey_into_bitmap = false;         // see jpeg_bitmap_writer
  const uint8_t* grey_levels = nullptr;  // the grey palette's levels (nil: level i at i)
  // After the header: the bitmap to decode into. It must be of the header's
  // size; the hook raises when it is not.
  std::function<cBitmap*(const jpeg_decompress_struct& d)> target;
  // After each call that read rows, with their count. Without it and without
  // a progress callback all rows are read at once.
  std::function<void(JDIMENSION rows)> rows_read;
  // When the decode ends, failed or not: the rows from the top that hold
  // decoded pixels (a grey picture decoded into index rows has all of them
  // after its expansion, none after a failure).
  int64_t kept = 0;
};

// Decodes the stream into the target: output width or height other than the
// target's raises errInvariant "{output size}", so no row is left out and
// none is written beyond it. A progress callback's stop aborts the decoder
// and raises errProgressBreak with the stop text; the rows_read hook's
// exceptions abort it too.
void jpeg_decode_into_bitmap(rJPEGDecodeSetup& setup);

struct rJPEGEncodeState {
  jpeg_compress_struct c;
  rJPEGError err;
  rJPEGReader reader{};
  rJPEGEncodeState() {
    std::memset(&c, 0, sizeof c);
    c.err = jpeg_error_init(err);
  }
  ~rJPEGEncodeState() {
    jpeg_log_dropped(jpeg_common(&c));
    jpeg_destroy_compress(&c);
  }
  rJPEGEncodeState(const rJPEGEncodeState&) = delete;
  rJPEGEncodeState& operator=(const rJPEGEncodeState&) = delete;
};
