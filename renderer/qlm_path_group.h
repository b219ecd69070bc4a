// cPathGroup: a list of recorded paths. The renderer appends one entry for
// every path it is asked to draw while the group is its capture group; the
// group is then drawn again as one object, used as a clip shape or casts one
// shared shadow. The entries (AGG paths) live in qlm_path_group_entry.h.
#pragma once

#include <cstdint>
#include <memory>

#include "qlm_base_object.h"
#include "qlm_base_util.h"

struct rPathGroupEntry;
class cPathGroupEntries;

class cPathGroup : public cBase {
 public:
  cPathGroup();
  ~cPathGroup() override;
  cPathGroup(const cPathGroup&) = delete;
  cPathGroup& operator=(const cPathGroup&) = delete;
  bool Identify(uint32_t id) const override;

  uint32_t Count() const;
  // Frees every entry.
  void Clear();
  // One new entry at the end: empty paths, mSource = mPath, mode 0, at (0, 0);
  // nil when the array cannot grow (nothing changed then). Invalidates the
  // cached union.
  rPathGroupEntry* Append();
  // The first entry (the others follow through mNext); nil when empty.
  rPathGroupEntry* First() const;
  // The union of the entries' bounds (entries without vertices skipped),
  // all zero when no entry has any; cached until the entries change.
  void GetBounds(rRectD& bounds);
  // The array that holds the entries.
  cPathGroupEntries& Entries() { return *mEntries; }

 private:
  std::unique_ptr<cPathGroupEntries> mEntries;
  rRectD mBounds;
  bool mBoundsValid = false;
};
