// For the fuzz targets that draw SVG and images through the renderer: include
// it from the target's own source only (it defines the leak checker's
// suppressions for the whole program).
#pragma once

#include "fuzz_limits.h"
#include "qlm_colors.h"
#include "qlm_renderer_ids.h"
#include "qlm_svg.h"

// fontconfig keeps the configuration it loads for the life of the process
// (the renderer's start reaches it); the leak checker ignores it.
extern "C" const char* __lsan_default_suppressions();
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

// The imaging limits, the renderer with its fonts, the colour names and SVG.
inline void fuzz_drawing_start(int* argc, char*** argv) {
  fuzz_imaging_start(argc, argv);
  qlm_renderer_start();
  qlm_colors_start();
  qlm_svg_start();
}
