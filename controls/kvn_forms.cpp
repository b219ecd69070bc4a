#include "kvn_forms.h"

#include "ui_app.h"

std::string gDialogCaption;

void monitor_rect_at(ui::TPoint& point, ui::TRect& rect) {
  const int count = ui::Screen != nullptr ? ui::Screen->MonitorCount() : 0;
  for (int i = 0; i < count; ++i) {
    const ui::TRect bounds = ui::Screen->Monitors(i).BoundsRect;
    if (bounds.Contains(point.X, point.Y)) {
      rect = bounds;
      point = {point.X - bounds.Left, point.Y - bounds.Top};
      return;
    }
  }
  rect = {0, 0, ui::Screen != nullptr ? ui::Screen->Width() : 0, ui::Screen != nullptr ? ui::Screen->Height() : 0};
}

void form_place(ui::TForm* form, const ui::TForm* reference, uint8_t mode) {
  if (form == nullptr) return;
  ui::TRect area;
  if (reference != nullptr) {
    area = reference->BoundsRect();
  } else {
    ui::TPoint corner{form->Left(), form->Top()};
    monitor_rect_at(corner, area);
  }
  // In 64 bits: a form wider than its area must not overflow the sums.
  const int64_t aw = area.Width(), ah = area.Height(), fw = form->Width(), fh = form->Height();
  int64_t left = form->Left(), top = form->Top();
  switch (mode) {
    case cnPlaceCentre: left = area.Left + (aw - fw) / 2, top = area.Top + (ah - fh) / 2; break;
    case cnPlaceBottomLeft: left = area.Left + 20, top = area.Top + ah - fh - 20; break;
    case cnPlaceTopLeft: left = area.Left + 20, top = area.Top + 20; break;
    case cnPlaceBottomRight: left = area.Left + aw - fw - 20, top = area.Top + ah - fh - 20; break;
    case cnPlaceTopRight: left = area.Left + aw - fw - 20, top = area.Top + 20; break;
    default: return;
  }
  form->SetBounds(int(left), int(top), form->Width(), form->Height());
}

void form_clamp_to_monitor(ui::TForm* form, int32_t left, int32_t top) {
  if (form == nullptr) return;
  const int64_t fw = form->Width(), fh = form->Height();
  int64_t x = left, y = top;
  ui::TRect area;
  if (left == -1 && top == -1) {
    area = {0, 0, ui::Screen != nullptr ? ui::Screen->Width() : 0, ui::Screen != nullptr ? ui::Screen->Height() : 0};
    x = (area.Width() - fw) / 2;
    y = (area.Height() - fh) / 2;
  } else {
    ui::TPoint p{left, top};
    monitor_rect_at(p, area);
  }
  if (x + fw - area.Left > area.Width() - 10) x = area.Left + area.Width() - fw - 10;
  // Not left of or above the monitor: measured from its own top-left, so a
  // form on a monitor at negative coordinates stays on it.
  if (x <= area.Left) x = area.Left + 1;
  if (y + fh - area.Top > area.Height() - 35) y = area.Top + area.Height() - fh - 35;
  if (y <= area.Top) y = area.Top + 1;
  form->SetBounds(int(x), int(y), form->Width(), form->Height());
}
