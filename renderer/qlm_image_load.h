// image_load, the load log of image_load and svg_load, and the checks they
// share.
#pragma once

#include <exception>
#include <memory>
#include <source_location>
#include <string_view>

#include "qlm_base_object.h"
#include "qlm_image.h"

class cFlow;

// A new image of the class the name's extension picks (".jpg", ".jpeg",
// ".png", ".jng", in any letter case), decoded from the bytes registered
// under the name in the resource registry, or else from the file (opened
// for reading only). Nil for any failure; the image is the caller's.
std::unique_ptr<cImage> image_load(std::string_view file_name);

// One row per failed image_load or svg_load in this thread, giving the
// reason: 3 for a name with "/" (no Windows name: its last level and so its
// extension cannot be told), 279 for an extension no reader takes, 103 for a
// name that opens as neither resource nor file, 287 with the reader's own
// last row. At most 64 rows, the oldest dropped first. Read it through
// LastErrorText and Log.
cException& image_load_log();
// Appends a failed load's row to this thread's load log. Never raises.
void image_load_log_failure(std::exception_ptr failure,
                            std::source_location loc = std::source_location::current()) noexcept;
// Raises the reason a name is refused when no reader takes its extension
// (`handled` false): 3 for a name with "/", else 279.
void image_load_check_name(std::string_view file_name, std::string_view extension, bool handled);
// open_registered_or_file, raising 103 when neither opens.
std::unique_ptr<cFlow> image_load_open(std::string_view file_name);
