#include "kvn_commons.h"

#include <cctype>

#include "kvn_scene.h"
#include "plat_shell_open.h"
#include "qlm_base_flow.h"
#include "qlm_base_lists.h"
#include "qlm_png.h"
#include "qlm_renderer.h"
#include "kvn_scrollbox.h"
#include "ui_app.h"

std::string gDialogCaption;

void container_color(const ui::TControl* control, uint32_t& color) {
  if (dynamic_cast<const ui::TForm*>(control) != nullptr || dynamic_cast<const ui::TPanel*>(control) != nullptr ||
      dynamic_cast<const cScrollBox*>(control) != nullptr)
    color = color_from_tcolor(control->Color());
}

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

void folder_browse(const std::string& title, const std::string& initialFolder, bool allowNewFolder,
                   std::string& path) {
  std::string chosen;
  if (ui::BrowseFolder(title, initialFolder, allowNewFolder, chosen))
    path = chosen;
  else
    path.clear();
}

// ---------------------------------------------------------------------------
// Cursors

// clang-format off
const rCursorSlot cnCursorTable[36] = {
    {1, "C_PAN_WAIT"},   {2, "C_PAN_DRAG"},     {3, "C_ZOOM_IN"},     {4, "C_ZOOM_OUT"},    {5, "C_EDIT"},
    {6, "C_ADD"},        {7, "C_DRAW"},         {8, "C_SIZE_ALL"},    {9, "C_SIZE_HOR"},    {10, "C_SIZE_VER"},
    {11, "C_SIZE_PROP"}, {12, "C_ROTATE"},      {13, "C_PLUS"},       {14, "C_CROSS"},      {15, "C_HELP"},
    {16, "C_PUSH"},      {17, "C_FLIP_HOR"},    {18, "C_FLIP_VER"},   {19, "C_SKEW_HOR"},   {20, "C_SKEW_VER"},
    {21, "C_ANNOTATE"},  {22, "C_ADD_IMAGE"},   {23, "C_ADD_OBJ"},    {24, "C_ADD_TEXT"},   {25, "C_DRAW_ELLIPSE"},
    {26, "C_DRAW_RECT"}, {27, "C_DRAW_RRECT"},  {28, "C_DRAW_LINE"},  {29, "C_POINT_MOVE"}, {30, "C_POINT_EDIT"},
    {31, "C_EDIT_TEXT"}, {32, "C_ADD_MULTI"},   {33, "C_ADD_STAR"},   {34, "C_SCALE"},      {35, "C_TOOL_MAGN"},
    {99, "C_HREF"},
};
// clang-format on

namespace {

// The hot spots of the pictures the program carries.
ui::TPoint hot_spot(std::string_view name) {
  struct Spot {
    const char* name;
    ui::TPoint at;
  };
  static const Spot spots[] = {{"C_CROSS", {17, 13}}, {"C_EDIT", {7, 5}},     {"C_FLIP_HOR", {6, 11}},
                               {"C_HREF", {8, 2}},    {"C_ROTATE", {15, 14}}, {"C_SIZE_PROP", {15, 14}}};
  for (const Spot& s : spots)
    if (name == s.name) return s.at;
  return {0, 0};
}

// The picture as straight ARGB, or false when it is not a 32 x 32 picture.
bool decode_cursor(const rResourceEntry& entry, ui::TCursorImage& image) {
  std::unique_ptr<cFlow> flow = cMemoryFlow::ConstructOnData(entry.data, entry.size);
  cImagePNG png;
  if (flow == nullptr || !flow->Open() || !png.Open(flow.get())) return false;
  cBitmap* b = png.Bitmap(0);
  constexpr int kSide = ui::TCursorImage::kSide;
  if (b == nullptr || !b->IsOpened() || b->Width() != kSide || b->Height() != kSide || b->Order() == nullptr)
    return false;
  const rChannelOrder& o = *b->Order();
  const int32_t step = b->BytesPerPixel();
  const bool hasAlpha = step == 4;
  image.Pixels.assign(size_t(kSide) * kSide, 0);
  for (int y = 0; y < kSide; ++y) {
    const uint8_t* row = b->Data() + int64_t(y) * b->Stride();
    for (int x = 0; x < kSide; ++x) {
      const uint8_t* p = row + int64_t(x) * step;
      const uint32_t a = hasAlpha ? p[o.alpha] : 255;
      image.Pixels[size_t(y) * kSide + size_t(x)] = a << 24 | uint32_t(p[o.red]) << 16 | uint32_t(p[o.green]) << 8 | p[o.blue];
    }
  }
  return true;
}

}  // namespace

void cursors_load() {
  if (ui::Screen == nullptr) return;
  for (const rCursorSlot& s : cnCursorTable) {
    const rResourceEntry* entry = resource_find(std::string("..\\") + s.name + ".png");
    ui::TCursorImage image;
    if (entry == nullptr || !decode_cursor(*entry, image)) continue;
    const ui::TPoint spot = hot_spot(s.name);
    image.HotX = spot.X;
    image.HotY = spot.Y;
    ui::Screen->SetCursors(s.slot, std::move(image));
  }
}

ui::TCursor link_cursor() {
  return ui::Screen != nullptr && ui::Screen->Cursors(cnLinkCursor) != nullptr ? ui::TCursor(cnLinkCursor)
                                                                              : ui::crHandPoint;
}

// ---------------------------------------------------------------------------
// Web pages

std::function<bool(const std::string&)> gOpenUrl = [](const std::string& url) { return plat::shell_open_url(url); };

bool web_address_allowed(const std::string& url) {
  // The scheme, letters up to the first ':' (compared without case).
  const size_t colon = url.find(':');
  if (colon == std::string::npos) return false;
  std::string scheme;
  for (size_t i = 0; i < colon; ++i) scheme += char(std::tolower(static_cast<unsigned char>(url[i])));
  return scheme == "http" || scheme == "https" || scheme == "mailto";
}

bool open_web_page(const std::string& url) { return web_address_allowed(url) && gOpenUrl && gOpenUrl(url); }

void draw_crisp_frame(cRenderer& r, int32_t width, int32_t height, uint32_t color) {
  r.SetPixelSnap(0.5, 0.5);
  r.SetPenWidth(1.0);
  r.FillOff();
  r.PenOn();
  r.SetPenColorARGB(color);
  r.DrawRectangle(nullptr, 0, 0, width - 1, height - 1);
}
