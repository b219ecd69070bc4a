#include "qlm_progress.h"

#include "qlm_base_object.h"

void progress_report(ProgressCallback progress, cBase* object, double percent, std::string_view text) {
  if (progress != nullptr && !progress(object, percent)) raise_base_error(errProgressBreak, text);
}

void progress_report_part(ProgressCallback progress, cBase* object, double done, double total, std::string_view text) {
  if (progress == nullptr || !(total > 0)) return;
  progress_report(progress, object, 100.0 * done / total, text);
}
