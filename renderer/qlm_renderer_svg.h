// svg_load: an SVG drawing from a registered resource or a file.
#pragma once

#include <memory>
#include <string_view>

class cImageSVG;

// A new drawing for a name with the extension ".svg" (any letter case): the
// registered bytes of that name, else the file, opened read-only. Nil for
// any other extension, a flow that does not open or a document that does
// not parse. The caller owns the drawing.
std::unique_ptr<cImageSVG> svg_load(std::string_view file_name);
