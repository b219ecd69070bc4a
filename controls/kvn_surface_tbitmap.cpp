#include "kvn_surface_tbitmap.h"

#include "qlm_base_codes.h"
#include "qlm_base_object.h"

bool cSurfaceTBitmap::AttachBitmap(ui::TBitmap* bitmap, bool topDown) {
  const bool ok = log_and_fail(this, false, [&] {
    if (bitmap == nullptr) raise_condition_error(errPreCondition, "{bitmap=NIL}");
    if (bitmap->Empty()) raise_condition_error(errPreCondition, "{bitmap.Empty}");
    uint8_t code = 0;
    switch (bitmap->PixelFormat()) {
      case ui::pf24bit: code = px24BGR; break;
      case ui::pf32bit: code = px32BGRA; break;
      // Checked before any row is asked for: other formats have no rows.
      default: raise_condition_error(errPreCondition, "{bitmap.PixelFormat}");
    }
    // Rows are top-down in one block, so scan line 0 is the lowest address
    // and the step is positive; the memory surface negates it bottom-up.
    uint8_t* base = bitmap->ScanLine(0);
    const int32_t step = int32_t(bitmap->RowStep());
    if (IsAssigned() && Data() == base && GetWidth() == bitmap->Width() && GetHeight() == bitmap->Height() &&
        Stride() == (topDown ? step : -step) && FormatCode() == code && IsTopDown() == topDown)
      return true;
    return Attach(base, bitmap->Width(), bitmap->Height(), step, code, topDown);
  });
  if (!ok) Detach();
  return ok;
}
