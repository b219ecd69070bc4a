#include "qlm_encoding_registry.h"

#include <climits>
#include <mutex>

#include "qlm_base_array.h"
#include "qlm_base_flow.h"
#include "qlm_base_util.h"
#include "qlm_encoding.h"

namespace {

struct rEncodingEntry {
  tSignatureGetter getter;
  std::string signature;
  tEncodingFactory factory;
};

struct rHandleEntry {
  int32_t uid = 0;
  tEncodingFactory factory;
};

// The signature list, sorted by signature in ascending byte order.
class cEncodingEntry : public cArrayOf<rEncodingEntry, 0> {
 public:
  cEncodingEntry() : cArrayOf<rEncodingEntry, 0>(6) {}
};

// The uid list, sorted by uid.
class cHandleEntry : public cArrayOf<rHandleEntry, 0> {
 public:
  cHandleEntry() : cArrayOf<rHandleEntry, 0>(6) {}
};

struct rRegistry {
  cEncodingEntry signatures;
  cHandleEntry uids;
  int32_t next_uid = 1;
  int32_t default_uid = 0;
};

rRegistry* gRegistry = nullptr;

std::string signature_of(const rEncodingEntry& e) { return e.getter ? e.getter() : e.signature; }

int32_t compare(std::string_view a, std::string_view b) {
  return buf_compare(a.data(), int32_t(a.size()), b.data(), int32_t(b.size()), 0);
}

// Binary search by signature: the 1-based index of the equal entry, or 0
// with `insert_at` the index before which it would go.
uint32_t find_signature(std::string_view signature, uint32_t& insert_at) {
  uint32_t low = 1, high = gRegistry->signatures.Count();
  while (low <= high) {
    const uint32_t mid = low + (high - low) / 2;
    const int32_t c = compare(signature, signature_of(*gRegistry->signatures.Get(mid)));
    if (c == 0) return mid;
    if (c < 0)
      high = mid - 1;
    else
      low = mid + 1;
  }
  insert_at = low;
  return 0;
}

// Prefix search for detection: an entry whose signature equals the prefix
// (exact), or, failing that, whether any signature starts with it. Sorted
// order puts every signature that starts with the prefix right at or after
// the prefix's insertion point, so one look there answers the second
// question; a prefix that is itself registered is found first.
const rEncodingEntry* find_prefix(std::string_view prefix, bool& exact) {
  exact = false;
  uint32_t at = 0;
  const uint32_t found = find_signature(prefix, at);
  if (found != 0) {
    exact = true;
    return gRegistry->signatures.Get(found);
  }
  if (at > gRegistry->signatures.Count()) return nullptr;
  const rEncodingEntry* e = gRegistry->signatures.Get(at);
  const std::string sig = signature_of(*e);
  if (sig.size() >= prefix.size() && compare(prefix, std::string_view(sig).substr(0, prefix.size())) == 0) return e;
  return nullptr;
}

const rHandleEntry* find_uid(int32_t uid) {
  uint32_t low = 1, high = gRegistry->uids.Count();
  while (low <= high) {
    const uint32_t mid = low + (high - low) / 2;
    const rHandleEntry* e = gRegistry->uids.Get(mid);
    if (e->uid == uid) return e;
    if (uid < e->uid)
      high = mid - 1;
    else
      low = mid + 1;
  }
  return nullptr;
}

}  // namespace

void encoding_registry_start() {
  if (gRegistry != nullptr) return;
  gRegistry = new rRegistry();
}

void encoding_registry_stop() {
  delete gRegistry;
  gRegistry = nullptr;
}

std::unique_ptr<cEncoding> encoding_create_by_uid(int32_t uid) {
  try {
    if (gRegistry == nullptr) return nullptr;
    const rHandleEntry* e = find_uid(uid);
    if (e == nullptr || !e->factory) return nullptr;
    return std::unique_ptr<cEncoding>(e->factory());
  } catch (...) {
    return nullptr;
  }
}

int32_t encoding_default_uid() { return gRegistry ? gRegistry->default_uid : 0; }

cFlowByteReader::cFlowByteReader(cFlow* flow) : mFlow(flow) {
  if (flow == nullptr || !flow->IsOpened() || !flow->IsReadable()) return;
  mSize = flow->Size();
  if (mSize < 0 || !flow->Seek(0)) return;
  mUsable = true;
}

int32_t cFlowByteReader::Next() {
  if (!mUsable) return errEncoding_WrongInputParameters;
  if (mPosition >= mSize) return errEncoding_NoDataAtThatPosition;
  uint8_t b = 0;
  if (!mFlow->Seek(mPosition) || !mFlow->Read(&b, 1)) return errEncoding_DataReadFailure;
  ++mPosition;
  return b;
}

std::unique_ptr<cEncoding> encoding_detect(int32_t first_byte, cFlowByteReader& reader, int32_t& consumed) {
  consumed = 0;
  try {
    if (gRegistry == nullptr || first_byte < 0) return nullptr;
    std::string prefix(1, char(uint8_t(first_byte)));
    for (;;) {
      ++consumed;
      bool exact = false;
      const rEncodingEntry* e = find_prefix(prefix, exact);
      if (e == nullptr) break;
      if (exact) {
        std::unique_ptr<cEncoding> made(e->factory ? e->factory() : nullptr);
        if (made) return made;
        break;
      }
      const int32_t b = reader.Next();
      if (b < 0) break;
      prefix.push_back(char(uint8_t(b)));
    }
  } catch (...) {
  }
  consumed = 0;
  return nullptr;
}

std::unique_ptr<cEncoding> encoding_attach(cFlow* flow, int32_t unit, std::string_view signature, int32_t& error) {
  error = 0;
  try {
    std::unique_ptr<cEncoding> encoding;
    int32_t start = 0;
    if (!signature.empty()) {
      if (gRegistry == nullptr) {
        error = errEncoding_SystemFailure;
        return nullptr;
      }
      uint32_t at = 0;
      const uint32_t found = find_signature(signature, at);
      if (found == 0) {
        error = errEncoding_NotFound;
        return nullptr;
      }
      const rEncodingEntry* e = gRegistry->signatures.Get(found);
      if (e->factory) encoding.reset(e->factory());
    } else {
      cFlowByteReader reader(flow);
      const int32_t first = reader.Next();
      if (first < 0) {
        error = first;
        return nullptr;
      }
      int32_t consumed = 0;
      encoding = encoding_detect(first, reader, consumed);
      if (encoding) start = consumed;
      if (!encoding && encoding_default_uid() != 0) encoding = encoding_create_by_uid(encoding_default_uid());
      if (!encoding) encoding = std::make_unique<cEncoding>();
    }
    if (!encoding) {
      error = errEncoding_CantCreate;
      return nullptr;
    }
    const int32_t r = encoding->AttachFlow(flow, unit, start);
    if (r < 0) {
      error = r;
      return nullptr;
    }
    return encoding;
  } catch (const exError& e) {
    error = e.Code() < 0 ? e.Code() : errEncoding_SystemFailure;
  } catch (...) {
    error = errEncoding_SystemFailure;
  }
  return nullptr;
}

int32_t encoding_register_for_test(const std::string& signature, tEncodingFactory factory) {
  if (gRegistry == nullptr) return errEncoding_SystemFailure;
  if (gRegistry->next_uid == INT32_MAX) return errEncoding_ExhaustedUID;
  uint32_t at = 0;
  if (find_signature(signature, at) != 0) return errEncoding_SignatureExists;
  rEncodingEntry* e = gRegistry->signatures.Insert(at, 1);
  if (e == nullptr) return errEncoding_BufferCreate;
  e->signature = signature;
  e->factory = factory;
  const int32_t uid = gRegistry->next_uid++;
  // Uids grow, so the uid list stays sorted by appending.
  rHandleEntry* h = gRegistry->uids.Append(1);
  if (h == nullptr) return errEncoding_BufferCreate;
  h->uid = uid;
  h->factory = std::move(factory);
  return uid;
}
