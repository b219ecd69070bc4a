// Path groups: the entries' bounds, appending and the union of the bounds.
#include "qlm_path_group_entry.h"

#include <new>

#include "qlm_renderer_ids.h"

bool rPathGroupEntry::EnsureBounds() {
  if (mBoundsValid) return true;
  double x1, y1, x2, y2;
  if (agg::bounding_rect_single(mCurve, 0, &x1, &y1, &x2, &y2)) {
    mBounds.x1 = x1;
    mBounds.y1 = y1;
    mBounds.x2 = x2;
    mBounds.y2 = y2;
    mBoundsValid = true;
  } else {
    mBounds = rRectD{};
  }
  return mBoundsValid;
}

cArray* cPathGroupEntries::NewEmpty() const { return new (std::nothrow) cPathGroupEntries(); }

cPathGroup::cPathGroup() : mEntries(std::make_unique<cPathGroupEntries>()) {}
cPathGroup::~cPathGroup() = default;

bool cPathGroup::Identify(uint32_t id) const { return (id != 0 && id == id_cPathGroup) || cBase::Identify(id); }

uint32_t cPathGroup::Count() const { return mEntries->Count(); }

void cPathGroup::Clear() {
  mEntries->Clear();
  mBoundsValid = false;
}

rPathGroupEntry* cPathGroup::First() const { return mEntries->First(); }

rPathGroupEntry* cPathGroup::Append() {
  // The typed container builds the entry in place (empty paths, the curve
  // over mPath, mSource = mPath).
  rPathGroupEntry* e = mEntries->Append(1);
  if (e == nullptr) return nullptr;
  mBoundsValid = false;
  return e;
}

void cPathGroup::GetBounds(rRectD& bounds) {
  if (!mBoundsValid) {
    mBounds = rRectD{};
    bool first = true;
    for (rPathGroupEntry* e = First(); e != nullptr; e = e->mNext) {
      if (!e->EnsureBounds()) continue;
      const rRectD& b = e->mBounds;
      if (first) {
        mBounds = b;
        first = false;
        continue;
      }
      // Strict comparisons: ties keep the stored value.
      if (b.x1 < mBounds.x1) mBounds.x1 = b.x1;
      if (b.y1 < mBounds.y1) mBounds.y1 = b.y1;
      if (b.x2 > mBounds.x2) mBounds.x2 = b.x2;
      if (b.y2 > mBounds.y2) mBounds.y2 = b.y2;
    }
    mBoundsValid = true;
  }
  bounds = mBounds;
}
