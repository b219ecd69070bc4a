#include "kvn_cursors.h"

#include <memory>
#include <string>
#include <string_view>

#include "qlm_base_flow.h"
#include "qlm_base_lists.h"
#include "qlm_png.h"
#include "ui_app.h"

const rCursorSlot cnCursorTable[36] = {
    {1, "C_PAN_WAIT"},   {2, "C_PAN_DRAG"},    {3, "C_ZOOM_IN"},    {4, "C_ZOOM_OUT"},    {5, "C_EDIT"},
    {6, "C_ADD"},        {7, "C_DRAW"},        {8, "C_SIZE_ALL"},   {9, "C_SIZE_HOR"},    {10, "C_SIZE_VER"},
    {11, "C_SIZE_PROP"}, {12, "C_ROTATE"},     {13, "C_PLUS"},      {14, "C_CROSS"},      {15, "C_HELP"},
    {16, "C_PUSH"},      {17, "C_FLIP_HOR"},   {18, "C_FLIP_VER"},  {19, "C_SKEW_HOR"},   {20, "C_SKEW_VER"},
    {21, "C_ANNOTATE"},  {22, "C_ADD_IMAGE"},  {23, "C_ADD_OBJ"},   {24, "C_ADD_TEXT"},   {25, "C_DRAW_ELLIPSE"},
    {26, "C_DRAW_RECT"}, {27, "C_DRAW_RRECT"}, {28, "C_DRAW_LINE"}, {29, "C_POINT_MOVE"}, {30, "C_POINT_EDIT"},
    {31, "C_EDIT_TEXT"}, {32, "C_ADD_MULTI"},  {33, "C_ADD_STAR"},  {34, "C_SCALE"},      {35, "C_TOOL_MAGN"},
    {99, "C_HREF"},
};

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
      image.Pixels[size_t(y) * kSide + size_t(x)] =
          a << 24 | uint32_t(p[o.red]) << 16 | uint32_t(p[o.green]) << 8 | p[o.blue];
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
