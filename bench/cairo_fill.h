// The timed loop of the cairo baselines: a w x h rectangle filled with the
// source set on `cr`, then the image surface flushed so that its pixels are
// there, as ours are when a draw returns.
#pragma once

#include <benchmark/benchmark.h>
#include <cairo.h>

namespace bench {

inline void time_cairo_fill(benchmark::State& state, cairo_t* cr, cairo_surface_t* surface, double w, double h) {
  for (auto _ : state) {
    cairo_rectangle(cr, 0, 0, w, h);
    cairo_fill(cr);
    cairo_surface_flush(surface);
    benchmark::DoNotOptimize(cairo_image_surface_get_data(surface));
  }
}

}  // namespace bench
