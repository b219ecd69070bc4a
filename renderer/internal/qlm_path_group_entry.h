// The entries of a cPathGroup: AGG paths recorded by the renderer. Inside
// the renderer only.
#pragma once

#include <cstdint>

#include "qlm_agg_extensions.h"
#include "qlm_base_array.h"
#include "qlm_base_util.h"
#include "qlm_path_group.h"

// One recorded path. The curve converter points at mPath inside the same
// entry, so entries must never move: they live in cArray's pool blocks,
// which never relocate an entry, and are built and destroyed in place by the
// typed container's hooks (never copied byte-wise).
struct rPathGroupEntry {
  rPathGroupEntry* mNext = nullptr;                  // the link of the array (kind 1)
  agg::path_storage* mSource = nullptr;              // mPath, or mReplayPath after a pre-transformed replay
  int32_t mMode = 0;                                 // 0 nothing, 1 fill, 2 stroke, 3 fill and stroke
  double mAtX = 0, mAtY = 0;                         // the draw position of the recording
  agg::path_storage mPath;                           // the recorded input path, untransformed
  agg::path_storage mReplayPath;                     // the working copy of the last replay
  agg::conv_curve<agg::path_storage> mCurve{mPath};  // flattens mPath for the bounds
  double mOffsetX = 0, mOffsetY = 0;                 // the translation of the last replay
  rRectD mBounds;                                    // of mCurve, computed on demand
  bool mBoundsValid = false;                         // computed and not empty

  rPathGroupEntry() : mSource(&mPath) {}
  rPathGroupEntry(const rPathGroupEntry&) = delete;
  rPathGroupEntry& operator=(const rPathGroupEntry&) = delete;

  // Computes the bounds when they are not valid yet; false when the path
  // has no vertices (the bounds are then all zero).
  bool EnsureBounds();
};

// The typed array of a group's entries (capacity class 6).
class cPathGroupEntries : public cArrayOf<rPathGroupEntry, 1> {
 public:
  cPathGroupEntries() : cArrayOf<rPathGroupEntry, 1>(6) {}

 protected:
  cArray* NewEmpty() const override;
};
