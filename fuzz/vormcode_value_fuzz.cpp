// libFuzzer target: VormCode values. The input is placed where a value
// stands, in a property tag ("~<a=" input ">"), in a variable
// ("~{#a=" input "}") and as the delimiter of embedded data read from a flow
// ("~{d<delimiter=" input ">}" and some bytes), so that numbers, texts,
// lists, records, casts, references and byte counts get most of the
// mutations. Every parse goes through the invariants of vormcode_fuzz_check.h
// with syntax maps on.
#include <cstdint>
#include <string>
#include <vector>

#include "qlm_colors.h"
#include "qlm_startup.h"
#include "vormcode_fuzz_check.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  framework_start(*argc, *argv);
  qlm_colors_start();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string value(reinterpret_cast<const char*>(data), size);
  const std::string texts[] = {
      "~<a=" + value + ">x~>",
      "~{#a=" + value + "}",
      "~{d<delimiter=" + value + ">}0123456789ENDx",
  };
  for (int k = 0; k < 3; ++k) {
    const std::string& text = texts[k];
    std::vector<int32_t> input;
    for (uint8_t b : text) input.push_back(b);
    auto parser = cParserVormCode::Construct(true);
    if (!parser) return 0;
    bool ok = false;
    if (k == 2) {
      auto flow = cMemoryFlow::ConstructReadOnly(true, text.data(), int64_t(text.size()));
      if (!flow || !flow->Open()) return 0;
      ok = parser->OpenFlow(flow.get(), nullptr);
    } else {
      cEncoding en;
      if (en.AttachCharString(text, 0) < 0) vormcode_fuzz::fail("the text could not be attached");
      ok = parser->OpenEncoding(&en, nullptr);
    }
    vormcode_fuzz::check_parse(*parser, ok, input);
  }
  return 0;
}
