// The type id of cFont. It belongs with the renderer module's other ids
// (taken in their fixed order by the renderer's start); this definition
// stands in for that module until it joins the build, and goes away then.
#include <cstdint>

uint32_t id_cFont = 0;
