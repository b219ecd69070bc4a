// The encoding registry: encodings created by signature, by uid, or by
// recognising a signature at the start of a flow. The system registers no
// encoding of its own, so the registry stays empty and `encoding_attach`
// always gives a plain cEncoding reading a flow's units as code points.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

class cEncoding;
class cFlow;

using tEncodingFactory = std::function<cEncoding*()>;
using tSignatureGetter = std::function<std::string()>;

// Creates the registry (both lists, next uid 1, default uid 0) unless it
// exists; encoding_stop frees it. Called by the encoding module's start/stop.
void encoding_registry_start();
void encoding_registry_stop();

// A new encoding from the factory registered under the uid; nil when none.
std::unique_ptr<cEncoding> encoding_create_by_uid(int32_t uid);
int32_t encoding_default_uid();

// The flow's bytes one by one from position 0: -1 for an unusable flow, -2 at
// its size, -5 when a read fails.
class cFlowByteReader {
 public:
  explicit cFlowByteReader(cFlow* flow);
  int32_t Next();

 private:
  cFlow* mFlow = nullptr;
  bool mUsable = false;
  int64_t mPosition = 0;
  int64_t mSize = 0;
};

// Recognises a registered signature at the start of a flow, given its first
// byte and a reader positioned after it; the new encoding or nil. `consumed`
// is the signature's length in bytes, 0 when nothing was recognised.
std::unique_ptr<cEncoding> encoding_detect(int32_t first_byte, cFlowByteReader& reader, int32_t& consumed);

// The encoding for a flow, attached to it with code units of `unit` bytes,
// or nil with a negative encoding code in `error`: -15 for an unknown
// signature name, -1 for an unusable flow, -2 for an empty one, -16 when no
// encoding can be made, or the code of the attach. An empty signature name
// counts as none. Never raises.
std::unique_ptr<cEncoding> encoding_attach(cFlow* flow, int32_t unit, std::string_view signature, int32_t& error);

// Registration is not part of the system; tests use this to exercise the
// lookups. Lists stay sorted; a signature already present gives -10, an
// exhausted uid -9; otherwise the new uid.
int32_t encoding_register_for_test(const std::string& signature, tEncodingFactory factory);
