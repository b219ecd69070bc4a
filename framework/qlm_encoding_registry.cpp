// encoding_attach over the empty encoding registry.
#include "qlm_encoding_registry.h"

#include "qlm_base_flow.h"
#include "qlm_encoding.h"

std::unique_ptr<cEncoding> encoding_attach(cFlow* flow, int32_t unit, std::string_view signature, int32_t& error) {
  error = 0;
  try {
    if (!signature.empty()) {
      error = errEncoding_NotFound;
      return nullptr;
    }
    // The first byte, as the signature detection reads it: nothing is
    // registered, so it only tells an empty or unreadable flow apart.
    if (flow == nullptr || !flow->IsOpened() || !flow->IsReadable() || !flow->Seek(0)) {
      error = errEncoding_WrongInputParameters;
      return nullptr;
    }
    const int64_t size = flow->Size();
    if (size < 0) {
      error = errEncoding_WrongInputParameters;
      return nullptr;
    }
    if (size == 0) {
      error = errEncoding_NoDataAtThatPosition;
      return nullptr;
    }
    uint8_t first = 0;
    if (!flow->Read(&first, 1)) {
      error = errEncoding_DataReadFailure;
      return nullptr;
    }
    auto encoding = std::make_unique<cEncoding>();
    const int32_t r = encoding->AttachFlow(flow, unit, 0);
    if (r < 0) {
      error = r;
      return nullptr;
    }
    return encoding;
  } catch (...) {
    error = errEncoding_SystemFailure;
    return nullptr;
  }
}
