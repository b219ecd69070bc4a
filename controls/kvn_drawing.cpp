#include "kvn_drawing.h"

#include "kvn_scene.h"
#include "kvn_scrollbox.h"
#include "qlm_renderer.h"
#include "ui_app.h"

void container_color(const ui::TControl* control, uint32_t& color) {
  if (dynamic_cast<const ui::TForm*>(control) != nullptr || dynamic_cast<const ui::TPanel*>(control) != nullptr ||
      dynamic_cast<const cScrollBox*>(control) != nullptr)
    color = color_from_tcolor(control->Color());
}

void draw_crisp_frame(cRenderer& r, int32_t width, int32_t height, uint32_t color) {
  r.SetPixelSnap(0.5, 0.5);
  r.SetPenWidth(1.0);
  r.FillOff();
  r.PenOn();
  r.SetPenColorARGB(color);
  r.DrawRectangle(nullptr, 0, 0, width - 1, height - 1);
}
