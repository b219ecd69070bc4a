#include "qlm_platform_file.h"

#include <iterator>

uint32_t id_cFileName = 0;

namespace {

struct FileRow {
  uint32_t code;
  const char* name;
  const char* message;
};

constexpr FileRow kFileRows[] = {
    {299, "errInvalidPathString", "Raised by DecreasePath method when Path part contains unexpected characters."},
    {300, "errCharNotAllowed", "cFileName string contains character which is not allowed."},
    {301, "errCharNotExpected", "cFileName string contains illegal sequence of characters."},
    {302, "errSeqNotComplete", "cFileName string contains an unfinished sequence of characters."},
};

}  // namespace

std::unique_ptr<cExceptionString> qlm_platform_file_exception_string(uint32_t code) {
  for (const FileRow& row : kFileRows) {
    if (row.code != code) continue;
    auto answer = std::make_unique<cExceptionString>(int32_t(code), &qlm_platform_file_exception_string);
    answer->Set(row.name, localization_translate(0, row.message, 0, 0));
    return answer;
  }
  return qlm_base_exception_string(code);
}

void qlm_platform_file_start() { new_type_id(id_cFileName); }

void qlm_platform_file_stop() {}
