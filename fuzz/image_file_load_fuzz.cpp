// libFuzzer target: image_load and svg_load on files, the way the program
// loads its pictures by name (a file flow read through the file layer, not a
// memory flow). The first byte picks the extension (bits 0-1: ".png",
// ".jpg", ".jng", ".svg"; bit 2: written in capitals); the rest is written
// as the file. A load answers an image with a bitmap of its size (or an
// opened drawing), or nil with its reason as the last row of the load log.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz_limits.h"
#include "fuzz_renderer_start.h"
#include "fuzz_temp_dir.h"
#include "plat_path_map.h"
#include "qlm_base_array.h"
#include "qlm_colors.h"
#include "qlm_image_load.h"
#include "qlm_renderer_ids.h"
#include "qlm_renderer_image.h"
#include "qlm_renderer_svg.h"
#include "qlm_svg.h"

namespace {
std::string g_folder;  // the temporary folder in Windows form
}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  fuzz_drawing_start(argc, argv);
  if (!plat::from_posix(fuzz_temp_dir(), g_folder)) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > cnFuzzMaxInput) return 0;
  static const char* const kExtensions[] = {"png", "jpg", "jng", "svg"};
  std::string ext = kExtensions[data[0] & 3];
  if ((data[0] & 4) != 0)
    for (char& c : ext) c = char(c - 'a' + 'A');
  const std::string name = "in." + ext;
  fuzz_write_file(name, data + 1, size - 1);
  const std::string win = g_folder + "\\" + name;
  const uint32_t rows_before = image_load_log().Log() != nullptr ? image_load_log().Log()->Count() : 0;
  bool loaded = false;
  if ((data[0] & 3) == 3) {
    std::unique_ptr<cImageSVG> drawing = svg_load(win);
    loaded = drawing != nullptr;
    if (loaded && !drawing->IsOpened()) std::abort();
  } else {
    std::unique_ptr<cImage> image = image_load(win);
    loaded = image != nullptr;
    if (loaded) {
      // A PNG that ends before its image data opens without a bitmap.
      const cBitmap* bitmap = image->Bitmap(0);
      if (bitmap != nullptr &&
          (uint32_t(bitmap->Width()) != image->Width() || uint32_t(bitmap->Height()) != image->Height()))
        std::abort();
    }
  }
  // A nil answer leaves its reason; a full log drops its oldest row.
  const cExceptionLog* log = image_load_log().Log();
  if (!loaded && (log == nullptr || log->Count() == 0 || (rows_before < 64 && log->Count() != rows_before + 1) ||
                  image_load_log().LastErrorCode() == 0))
    std::abort();
  if (loaded && log != nullptr && log->Count() != rows_before) std::abort();
  return 0;
}
