// Compiled (syntax only) with the include folders of a library above the
// renderer; it must stop at the second line. The first line is found, so
// the folders passed are the library's own and not simply missing.
#include "qlm_renderer.h"
#include "qlm_renderer_engine.h"
