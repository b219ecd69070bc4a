// Compiled (syntax only) with the include folders of a library above the
// renderer; it must stop at the second line: AGG's include folder is not
// among them. The first line is found, so the folders passed are the
// library's own and not simply missing.
#include <agg_basics.h>
#include "qlm_renderer.h"
