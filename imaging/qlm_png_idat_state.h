// The inflate and deflate state of one image-data read or write, shared by
// the PNG image data coder and the JNG alpha coder (which reuses its filter
// and deflate steps).
#pragma once

#include <zlib.h>

#include <cstdint>
#include <string>

#include "qlm_png.h"

struct cPNG_IDAT::rReadState {
  z_stream z;
  cFlow* flow = nullptr;
  rPNG_ChunkHeader* header = nullptr;
  uint32_t crc = 0;
  int64_t chunk_end = 0;
  bool ended = false;  // inflate has reached the stream's end
};

struct cPNG_IDAT::rWriteState {
  z_stream z;
  cFlow* flow = nullptr;
};

// zlib's message, or the text of its answer when it gave none, as
// "{what:message}".
std::string png_zlib_text(const char* what, const z_stream& z, int rc);
