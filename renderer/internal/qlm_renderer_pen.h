// The pen painters' shared pieces: a vertex source passed by reference
// without its type (the outline, pen-pattern and vertex-marker painters take
// whatever RenderPath builds), and the limits the pen family holds its input
// to.
#pragma once

#include <cstddef>
#include <cstdint>

#include "qlm_agg_extensions.h"

// Any AGG vertex source behind two function pointers. It refers to the
// source (which must outlive it) and copies nothing.
struct rVertexSourceRef {
  void* obj = nullptr;
  void (*rewind_fn)(void*, unsigned) = nullptr;
  unsigned (*vertex_fn)(void*, double*, double*) = nullptr;

  template <class VertexSource>
  static rVertexSourceRef Of(VertexSource& source) {
    rVertexSourceRef r;
    r.obj = &source;
    r.rewind_fn = [](void* o, unsigned id) { static_cast<VertexSource*>(o)->rewind(id); };
    r.vertex_fn = [](void* o, double* x, double* y) { return static_cast<VertexSource*>(o)->vertex(x, y); };
    return r;
  }
  bool valid() const { return obj != nullptr; }
  void rewind(unsigned id) { rewind_fn(obj, id); }
  unsigned vertex(double* x, double* y) { return vertex_fn(obj, x, y); }
};

// A vertex source cut off after `limit` vertices per pass (dashes far
// shorter than the path they lie on would otherwise make billions).
template <class VertexSource>
struct vertex_budget {
  VertexSource* source;
  size_t limit;
  size_t left = 0;
  void rewind(unsigned id) {
    left = limit;
    source->rewind(id);
  }
  unsigned vertex(double* x, double* y) {
    if (left == 0) return agg::path_cmd_stop;
    --left;
    return source->vertex(x, y);
  }
};

// Limits of the pen family.
constexpr size_t cnDashVertexBudget = size_t(1) << 18;    // dash vertices per pass
constexpr size_t cnStrokeVertexBudget = size_t(1) << 21;  // stroke vertices per pass
// The budgets in force: the ones above unless a fuzz target lowered them
// (pen_set_vertex_budgets), so that an input reaching them costs seconds
// less and the same code still runs out of its budget.
size_t pen_dash_vertex_budget();
size_t pen_stroke_vertex_budget();
// Sets both budgets (0: the default of each). For fuzz targets and tests.
void pen_set_vertex_budgets(size_t dash, size_t stroke);
constexpr int32_t cnPenTileSide = 4096;  // pen pattern tile sides
constexpr int64_t cnPenTileArea = int64_t(4) * 1024 * 1024;
constexpr double cnPenPatternMinScale = 0.25;  // AGG's integer distances overflow below
constexpr double cnPenPatternStartLimit = 4194304.0;
constexpr size_t cnMarkerCommandLimit = 4096;    // entries of one marker list
constexpr double cnMarkerCoordinateLimit = 1e6;  // |coordinate| of a marker command
// A round join or cap of half-width w at approximation scale s makes about
// 2 pi sqrt(w s) vertices: strokes keep w s under this (some 1,000 per join).
constexpr double cnStrokeArcLimit = 25000.0;
