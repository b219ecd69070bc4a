// Gouraud-shaded triangle meshes: each triangle through the placement, the
// transformation list and the device matrix, painted with span_gouraud_rgba.
#include "qlm_gouraud.h"
#include "qlm_renderer_engine.h"
#include "qlm_renderer_ids.h"

bool cGouraudMesh::Identify(uint32_t id) const { return (id != 0 && id == id_cGouraudMesh) || cBase::Identify(id); }

void cRendererSurface::RenderGouraudMesh(cBase* object, bool placeAt, double x, double y) {
  if (!object_identify(object, id_cGouraudMesh)) return;
  cGouraudMesh* mesh = static_cast<cGouraudMesh*>(object);
  rRectD box;
  if (!mesh->GetBounds(box) || !(box.x1 < box.x2) || !(box.y1 < box.y2)) return;
  double dx = 0, dy = 0;
  if (placeAt) {
    dx = x - box.x1;
    dy = y - box.y1;
  }
  if (!std::isfinite(dx) || !std::isfinite(dy)) return;
  const double dilation = mesh->Dilation();
  qlm_agg::rasterizer ras;
  ras.clip_box(mUpdateRect.x1, mUpdateRect.y1, mUpdateRect.x2, mUpdateRect.y2);
  if (mMaster.anti_aliasing)
    ras.gamma(agg::gamma_linear(0.0, mesh->Gamma()));
  else
    ras.gamma(agg::gamma_threshold(0.5));
  qlm_agg::renderer_any& base = BeginDraw();
  const uint8_t master = mMaster.master_alpha;
  rGouraudTriangle t;
  for (bool more = mesh->FirstTriangle(t); more; more = mesh->NextTriangle(t)) {
    double px[3], py[3];
    bool usable = std::isfinite(dilation);
    for (int i = 0; i < 3; ++i) {
      px[i] = t.x[i] + dx;
      py[i] = t.y[i] + dy;
      MapForward(px[i], py[i], true, true, true);
      usable = usable && std::isfinite(px[i]) && std::isfinite(py[i]) && std::fabs(px[i]) < 1099511627776.0 &&
               std::fabs(py[i]) < 1099511627776.0;
    }
    if (!usable) continue;  // a triangle that cannot be placed draws nothing
    agg::rgba8 c[3];
    for (int i = 0; i < 3; ++i) {
      uint8_t a = t.rgba[i][3];
      if (master != 255) a = uint8_t(double(a) / 255.0 * double(master) / 255.0 * 255.0 + 0.5);
      c[i] = agg::rgba8(t.rgba[i][0], t.rgba[i][1], t.rgba[i][2], a);
    }
    agg::span_gouraud_rgba<agg::rgba8> sg(c[0], c[1], c[2], px[0], py[0], px[1], py[1], px[2], py[2], dilation);
    ras.reset();
    ras.add_path(sg);
    agg::render_scanlines_aa(ras, mScanline, base, mSpanAlloc, sg);
  }
  EndDraw();
}

void cRendererSurface::DrawGouraudMesh(cBase* mesh, cHitTest*) { RenderGouraudMesh(mesh, false, 0, 0); }
void cRendererSurface::DrawGouraudMeshAt(cBase* mesh, cHitTest*, double x, double y) {
  RenderGouraudMesh(mesh, true, x, y);
}
