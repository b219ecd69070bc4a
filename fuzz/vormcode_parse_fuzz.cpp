// libFuzzer target: the VormCode parser on any text, then every query over
// what it made (invariants: vormcode_fuzz_check.h).
//
// The first byte chooses how the rest is parsed:
//   bit 0     syntax maps on (the tokens must then give the text back);
//   bits 1-2  the source: 0 an 8-bit string, 1 and 3 a memory flow (the
//             only source that carries embedded data), 2 a buffer of 32-bit
//             units (wide and negative code points);
//   bits 3-7  k: a progress callback that answers false at its k-th call
//             (0: no callback).
// A failed parse is repeated on the same parser, which appends behind the
// half-built tokens of the first attempt; both must stay queryable and be
// freed cleanly. A successful parse is repeated on a new parser whose memory
// budget is below what the first one counted: it must fail with 299 and
// leave queryable tokens.
#include <cstdint>
#include <cstring>
#include <vector>

#include "qlm_colors.h"
#include "qlm_startup.h"
#include "vormcode_fuzz_check.h"

namespace {

int g_calls = 0;
int g_stop_at = 0;

bool progress(cParserVormCode*, double percent) {
  if (!(percent > 0.0 && percent <= 100.0)) vormcode_fuzz::fail("progress outside 0-100");
  return ++g_calls != g_stop_at;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  framework_start(*argc, *argv);
  qlm_colors_start();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t options = data[0];
  const bool record_map = options & 1;
  const int source = (options >> 1) & 3;
  g_stop_at = options >> 3;
  const tVormCodeProgress callback = g_stop_at != 0 ? &progress : nullptr;
  const uint8_t* text = data + 1;
  const size_t text_size = size - 1;

  std::vector<int32_t> input;
  std::vector<int32_t> units;
  std::string bytes(reinterpret_cast<const char*>(text), text_size);
  if (source == 2) {
    units.resize(text_size / 4);
    if (!units.empty()) std::memcpy(units.data(), text, units.size() * 4);
    input = units;
  } else {
    for (uint8_t b : bytes) input.push_back(b);
  }

  const auto parse = [&](cParserVormCode& parser) -> bool {
    g_calls = 0;
    if (source == 1 || source == 3) {
      auto flow = cMemoryFlow::ConstructReadOnly(true, bytes.data(), int64_t(bytes.size()));
      if (!flow || !flow->Open()) vormcode_fuzz::fail("the memory flow did not open");
      return parser.OpenFlow(flow.get(), callback);
    }
    cEncoding en;
    static const int32_t kNoUnits = 0;
    const void* block = units.empty() ? &kNoUnits : static_cast<const void*>(units.data());
    const int32_t attached =
        source == 2 ? en.AttachBuffer(block, 4, int32_t(units.size() * 4), 0) : en.AttachCharString(bytes, 0);
    if (attached < 0) vormcode_fuzz::fail("the text could not be attached");
    return parser.OpenEncoding(&en, callback);
  };

  auto parser = cParserVormCode::Construct(record_map);
  if (!parser) return 0;
  bool first_ok = false;
  for (int attempt = 0; attempt < 2; ++attempt) {
    const bool ok = parse(*parser);
    if (attempt == 0) {
      first_ok = ok;
      vormcode_fuzz::check_parse(*parser, ok, input);
    } else {
      vormcode_fuzz::run_queries(*parser);
    }
    if (ok) break;
  }
  vormcode_fuzz::require(parser->Spent() <= parser->Budget(), "more counted than the budget");

  // The same text under a budget below what it took: the parse stops with
  // 299 somewhere inside, and what it built must stay well formed.
  const uint64_t spent = parser->Spent();
  if (!first_ok || spent == 0) return 0;
  auto limited = cParserVormCode::Construct(record_map);
  if (!limited) return 0;
  limited->SetBudget(spent * (1 + size % 7) / 8);
  const bool ok = parse(*limited);
  vormcode_fuzz::require(!ok && limited->LastErrorCode() == errVormCodeParser, "a parse passed its budget");
  vormcode_fuzz::check_parse(*limited, ok, input);
  return 0;
}
