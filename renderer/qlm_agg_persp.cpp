// qlm_agg::perspective over AGG's trans_perspective. This is the only source
// file of the program that includes agg_trans_perspective.h: the header
// defines member functions without `inline`.
#include <cstring>

#include <agg_trans_perspective.h>

#include "qlm_agg_extensions.h"

namespace qlm_agg {

namespace {
agg::trans_perspective load(const double* m) {
  agg::trans_perspective t;
  t.load_from(m);
  return t;
}
}  // namespace

perspective::perspective() { agg::trans_perspective().store_to(m); }

bool perspective::rect_to_quad(double x1, double y1, double x2, double y2, const double* q) {
  agg::trans_perspective t;
  const bool ok = t.rect_to_quad(x1, y1, x2, y2, q);
  t.store_to(m);
  return ok;
}

bool perspective::quad_to_rect(const double* q, double x1, double y1, double x2, double y2) {
  agg::trans_perspective t;
  const bool ok = t.quad_to_rect(q, x1, y1, x2, y2);
  t.store_to(m);
  return ok;
}

bool perspective::is_valid() const { return load(m).is_valid(); }

bool perspective::invert() {
  agg::trans_perspective t = load(m);
  const bool ok = t.invert();
  t.store_to(m);
  return ok;
}

void perspective::transform(double* x, double* y) const { load(m).transform(x, y); }

void perspective::inverse_transform(double* x, double* y) const {
  agg::trans_perspective t = load(m);
  if (t.invert()) t.transform(x, y);
}

void perspective::store_to(double* m9) const { std::memcpy(m9, m, sizeof m); }
void perspective::load_from(const double* m9) { std::memcpy(m, m9, sizeof m); }

}  // namespace qlm_agg
