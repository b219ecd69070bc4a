// Path groups: capture into a group while drawing, and drawing a group again
// as one object (its passes run through RenderPath, so every painter of the
// drawing core serves them).
#include <cmath>

#include "qlm_renderer_engine.h"
#include "qlm_renderer_ids.h"

// --- Capture ---------------------------------------------------------------------

bool cRendererSurface::SetCaptureGroup(cPathGroup* group, bool captureOnly) {
  if (!object_identify(group, id_cPathGroup)) return false;
  mCaptureGroup = group;
  mCaptureOnly = captureOnly;
  return true;
}

void cRendererSurface::ClearCaptureGroup() { mCaptureGroup = nullptr; }
cPathGroup* cRendererSurface::GetCaptureGroup() { return mCaptureGroup; }
bool cRendererSurface::IsCaptureOnly() { return mCaptureOnly; }

void cRendererSurface::CaptureCurrentPath(uint8_t mode) {
  rPathGroupEntry* e = mCaptureGroup->Append();
  if (e == nullptr) return;
  // Vertex for vertex, curve commands and polygon flags included.
  e->mPath.concat_path(*mCurrentPath);
  e->mAtX = mCurrentX;
  e->mAtY = mCurrentY;
  const bool fill = mFill.kind != eFillKind::off;
  const bool pen = mPen.kind != ePenKind::off;
  switch (mode) {
    case 1: e->mMode = fill ? 1 : 0; break;
    case 2: e->mMode = pen ? 2 : 0; break;
    case 3: e->mMode = fill && pen ? 3 : (fill ? 1 : (pen ? 2 : 0)); break;
    default: e->mMode = 0; break;
  }
}

// --- Replay --------------------------------------------------------------------------

void cRendererSurface::SelectGroupEntry(rPathGroupEntry* entry) {
  mCurrentPath = &entry->mPath;
  mCurrentX = mCurrentY = 0;
  // The offset places the entry: through the position matrix, so the
  // pattern painter and the chain see the same move. With the pen outside
  // device space the replay copy carries the move and the stages already.
  mPosition.reset();
  if (entry->mOffsetX != 0 || entry->mOffsetY != 0)
    mPosition = agg::trans_affine_translation(entry->mOffsetX, entry->mOffsetY);
  mGroupSource = (!mPen.device_space && entry->mSource == &entry->mReplayPath) ? &entry->mReplayPath : nullptr;
}

void cRendererSurface::RenderGroupStrokes(cPathGroup* group, cHitTest* hit) {
  mGroupPass = kGroupStroke;
  for (rPathGroupEntry* e = group->First(); e != nullptr; e = e->mNext) {
    if (e->mMode != 2 && e->mMode != 3) continue;
    SelectGroupEntry(e);
    RenderPath(2, hit, true, false, nullptr);
  }
  if (mPen.start_marker || mPen.end_marker) {
    mGroupPass = kGroupMarkers;
    for (rPathGroupEntry* e = group->First(); e != nullptr; e = e->mNext) {
      if (e->mMode != 2 && e->mMode != 3) continue;
      SelectGroupEntry(e);
      RenderPath(2, hit, true, false, nullptr);
    }
  }
  mGroupPass = kGroupNone;
}

void cRendererSurface::DrawPathGroup(cPathGroup* group, cHitTest* hit, double x, double y) {
  if (!object_identify(group, id_cPathGroup) || mSurface == nullptr) return;
  if (!std::isfinite(x) || !std::isfinite(y)) return;
  hit = AsHitTest(hit);
  // 1. The current path is forgotten: pattern fills take each entry's own
  // bounds.
  SetCurrentPath(nullptr, 0, 0);

  // 2.-3. Offsets (the union box moved to (x, y), each entry further by its
  // own draw position) and, with the pen outside device space, the replay
  // copies moved and mapped. With the pen in device space every entry
  // replays its own path (a copy of an earlier replay would be moved twice).
  rRectD bounds;
  bool have_bounds = false;
  for (rPathGroupEntry* e = group->First(); e != nullptr; e = e->mNext) {
    if (x == 0 && y == 0 && e->mAtX == 0 && e->mAtY == 0) {
      e->mOffsetX = e->mOffsetY = 0;
    } else {
      if (!have_bounds) {
        group->GetBounds(bounds);
        have_bounds = true;
      }
      e->mOffsetX = x + e->mAtX - bounds.x1;
      e->mOffsetY = y + e->mAtY - bounds.y1;
    }
    if (!mPen.device_space) {
      e->mReplayPath.remove_all();
      e->mReplayPath.concat_path(e->mPath);
      if (e->mOffsetX != 0 || e->mOffsetY != 0) {
        agg::trans_affine_translation move(e->mOffsetX, e->mOffsetY);
        e->mReplayPath.transform_all_paths(move);
      }
      TransformPathByList(e->mReplayPath);
      e->mSource = &e->mReplayPath;
    } else {
      e->mSource = &e->mPath;
    }
  }

  // 4. The start/end marker collector is hooked by the stroke pipeline
  // itself for every stroke RenderPath draws.

  // 5. One shadow for the whole group, under everything else.
  if (mShadow.kind != eShadowKind::off) RenderGroupShadow(group);

  // 6. Strokes under the fill.
  if (mPen.under_fill) RenderGroupStrokes(group, hit);

  // 7. Fill pass. With the fill off, RenderPath registers the interior of
  // these entries itself (the first half of the hit pass).
  mGroupPass = kGroupFill;
  for (rPathGroupEntry* e = group->First(); e != nullptr; e = e->mNext) {
    if (e->mMode != 1 && e->mMode != 3) continue;
    SelectGroupEntry(e);
    RenderPath(1, hit, true, false, nullptr);
  }

  // 8. Hit pass: the interior of the stroke-only entries.
  if (hit != nullptr && hit->IsHitInterior()) {
    mGroupPass = kGroupHit;
    for (rPathGroupEntry* e = group->First(); e != nullptr; e = e->mNext) {
      if (e->mMode != 2) continue;
      SelectGroupEntry(e);
      RenderPath(2, hit, true, false, nullptr);
    }
  }
  mGroupPass = kGroupNone;

  // 9. Strokes over the fill.
  if (!mPen.under_fill) RenderGroupStrokes(group, hit);

  // 10. Vertex markers of the entries with mode 2 or 3 come with the marker
  // painters.

  mGroupSource = nullptr;
  SetCurrentPath(nullptr, 0, 0);
}
