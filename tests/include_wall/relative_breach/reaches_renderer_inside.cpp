// Scanned, never compiled: a source of a library beside the renderer that
// reaches the renderer's inside by a path relative to its own folder. The
// include scan must report it.
#include "../../../renderer/internal/qlm_mask_blend.h"
