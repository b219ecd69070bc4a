// image_load: an image from a registered resource or a file, by extension.
#include <exception>
#include <string>

#include "qlm_base_flow.h"
#include "qlm_base_view_flow.h"
#include "qlm_base_lists.h"
#include "qlm_base_util.h"
#include "qlm_jng.h"
#include "qlm_jpeg.h"
#include "qlm_platform_file.h"
#include "qlm_platform_file_flow.h"
#include "qlm_png.h"
#include "qlm_renderer_image.h"

std::unique_ptr<cFlow> open_registered_or_file(std::string_view file_name) {
  std::unique_ptr<cFlow> flow;
  // A resource's bytes are built in and outlive every reader: read in place,
  // not copied into a memory flow first.
  if (const rResourceEntry* entry = resource_find(file_name); entry != nullptr)
    flow = std::make_unique<cViewFlow>(entry->data, entry->size);
  else
    flow = std::make_unique<cFileFlow>(file_name, 1);
  if (flow == nullptr || !flow->Open()) return nullptr;
  return flow;
}

std::unique_ptr<cImage> image_load(std::string_view file_name) {
  try {
    cFileName name(file_name);
    const std::string ext = string_trim_upper(name.Extension());
    std::unique_ptr<cImage> image;
    if (ext == ".JPG" || ext == ".JPEG")
      image = std::make_unique<cImageJPEG>(cnJPEGDctIntSlow, 85, nullptr);
    else if (ext == ".PNG")
      image = std::make_unique<cImagePNG>();
    else if (ext == ".JNG")
      image = std::make_unique<cImageJNG>(nullptr);
    else
      return nullptr;
    std::unique_ptr<cFlow> flow = open_registered_or_file(file_name);
    if (flow == nullptr) return nullptr;
    if (!image->Open(flow.get())) return nullptr;
    return image;
  } catch (...) {
    // Every failure answers nil; the flow and the image are freed on the way.
    return nullptr;
  }
}
