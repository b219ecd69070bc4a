// image_load: an image from a registered resource or a file, by extension.
#include <exception>
#include <string>

#include "qlm_base_flow.h"
#include "qlm_base_lists.h"
#include "qlm_base_util.h"
#include "qlm_base_view_flow.h"
#include "qlm_image_load.h"
#include "qlm_jng.h"
#include "qlm_jpeg.h"
#include "qlm_platform_file.h"
#include "qlm_platform_file_flow.h"
#include "qlm_png.h"
#include "qlm_renderer_image.h"

namespace {
// Rows kept in a thread's load log; older rows are dropped first.
constexpr uint32_t cnImageLoadLogLimit = 64;
}  // namespace

cException& image_load_log() {
  thread_local cException log;
  return log;
}

void image_load_log_failure(std::exception_ptr failure, std::source_location loc) noexcept {
  try {
    cException& holder = image_load_log();
    if (cExceptionLog* log = holder.Log(); log != nullptr && log->Count() >= cnImageLoadLogLimit)
      log->Delete(1, log->Count() - cnImageLoadLogLimit + 1);
    exception_log_append(failure, &holder, loc);
  } catch (...) {
    // The row is lost; the load answers nil all the same.
  }
}

void image_load_check_name(std::string_view file_name, std::string_view extension, bool handled) {
  if (handled) return;
  // A host path ("/usr/share/x.png", "C:/x/a.png") is no Windows name: its
  // last level cannot be told, so neither can its extension.
  if (file_name.find('/') != std::string_view::npos)
    raise_base_error(errPathNF, "{not a Windows name (\"/\" in it): ", file_name, "}");
  raise_base_error(errPreCondition, "{no reader for the extension \"", extension, "\"}");
}

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

std::unique_ptr<cFlow> image_load_open(std::string_view file_name) {
  std::unique_ptr<cFlow> flow = open_registered_or_file(file_name);
  if (flow == nullptr) raise_base_error(errFileNOpen, "{neither a resource nor a readable file: ", file_name, "}");
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
    image_load_check_name(file_name, ext, image != nullptr);
    std::unique_ptr<cFlow> flow = image_load_open(file_name);
    if (!image->Open(flow.get())) raise_base_error(errQLMCall, "{image.Open: ", image->LastErrorText(), "}");
    return image;
  } catch (...) {
    // Every failure answers nil, with its reason in the load log; the flow
    // and the image are freed on the way.
    image_load_log_failure(std::current_exception());
    return nullptr;
  }
}
