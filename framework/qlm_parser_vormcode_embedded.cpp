// VormCode embedded data: raw bytes after a metadata tag with a delimiter
// property, by count or up to a delimiter text.
//
// The units after the "}" are read through the data feed one per
// examination like any other text (so the ordinal, the error position and
// the progress calls stay right), and when the block is complete its bytes
// are read raw from the source with DFRawRead into a fixed-size cWriteFlow,
// the payload of a TCT_EMBEDDED token. Only an encoding attached to a flow
// with 1-byte units (OpenFlow) can be read raw; any other source fails with
// 299 and the raw-read text.
//
// Count mode checks the count before anything is allocated or read: a
// count of 0 or less fails with 299, a count beyond the end of the text is
// an unfinished tag (301 "{ph_main=EMBEDDED}"). Delimiter mode finds the
// first occurrence of the delimiter with a fallback table (a mismatch
// resumes inside the part already matched, so overlapping starts are
// found); an empty block gives an empty TCT_EMBEDDED token; the TCT_DELIMITER
// token that follows takes the delimiter text.
#include <algorithm>
#include <cmath>
#include <memory>

#include "qlm_base_flow.h"
#include "qlm_base_util.h"
#include "qlm_encoding.h"
#include "qlm_parser_vormcode_embedded.h"

namespace {

constexpr uint8_t cnEmbeddedCountFirst = 0;
constexpr uint8_t cnEmbeddedCounting = 1;
constexpr uint8_t cnEmbeddedDelimiterFirst = 10;
constexpr uint8_t cnEmbeddedScanning = 11;

[[noreturn]] void raise_parser(int32_t code, std::string_view text) {
  raise_error(code, &qlm_parser_vormcode_exception_string, text);
}

// The count of an ET_FLOAT value: truncated; values beyond the signed
// 32-bit range are clamped (a huge count then runs past the text, a huge
// negative one is refused like any count below 1).
int32_t float_count(double v) {
  if (std::isnan(v)) return 0;
  if (v >= 2147483647.0) return INT32_MAX;
  if (v <= -2147483648.0) return INT32_MIN;
  return int32_t(v);
}

// A flow's chunk list holding one chunk: the list with its directory,
// slots and first pool block.
constexpr uint64_t cnVcCostFlowChunks = vc_cost<cMemoryFlowChunk>() + 32 * sizeof(rArrayRecord) + 32 * sizeof(void*) +
                                        32 * vc_stride(sizeof(rMemoryFlowChunk)) + 32 + 3 * cnVcCostBlock;

struct rMemFree {
  void operator()(void* p) const {
    void* block = p;
    mem_free(block);
  }
};

// The raw bytes of a block go through a buffer of at most this size.
constexpr int32_t cnEmbeddedPiece = 65536;

// Makes the TCT_EMBEDDED token holding `count` raw units of the source from
// the 0-based offset `from`.
void store_block(cVormCodeRun& run, int32_t from, int32_t count) {
  rTCToken* token = run.NewToken();
  const int32_t piece = std::clamp(count, 0, cnEmbeddedPiece);
  run.Charge(vc_cost<cWriteFlow>() + cnVcCostFlowChunks + uint64_t(std::max(count, 0)) + uint64_t(piece));
  std::unique_ptr<cWriteFlow> flow = cWriteFlow::ConstructOnData(true, count, nullptr);
  if (!flow || !flow->Open()) raise_parser(errVormCodeParser, "{not token.embedded.Open}");
  cWriteFlow* f = flow.get();
  token->payload.pointer = flow.release();
  token->kind = TCT_EMBEDDED;
  if (count == 0) return;
  void* block = nullptr;
  if (count < 0 || !mem_alloc(block, piece)) raise_parser(errVormCodeParser, "{not mem_alloc(embf,emal)}");
  std::unique_ptr<void, rMemFree> buffer(block);
  // The raw read takes bytes at unit offsets: only 1-byte units fit, and
  // the block must lie inside the text. It is copied piece by piece, so
  // that a large block is not held twice.
  const bool inside = from >= 0 && int64_t(from) + count <= int64_t(run.length);
  if (!inside || run.encoding->DataSource().enunit != 1)
    raise_parser(errVormCodeParser, "{not en.DFRawRead(em_from,emal,embf)}");
  for (int32_t done = 0; done < count;) {
    const int32_t n = std::min(piece, count - done);
    if (!run.encoding->DFRawRead(from + done, n, buffer.get()))
      raise_parser(errVormCodeParser, "{not en.DFRawRead(em_from,emal,embf)}");
    if (!f->Write(buffer.get(), n)) raise_parser(errVormCodeParser, "{not token.embedded.Write(embf,emal)}");
    done += n;
  }
}

// Units of the block read so far, the current one included.
int64_t units_read(cVormCodeRun& run) { return int64_t(run.encoding->DFTextPoint()) - run.embedded_begin; }

void count_step(cVormCodeRun& run) {
  if (units_read(run) < run.embedded_count) {
    run.embedded_state = cnEmbeddedCounting;
    return;
  }
  store_block(run, run.embedded_begin, run.embedded_count);
  run.phase = cnPhaseText;
}

// The delimiter's fallback table (see cVormCodeRun::delimiter_fallback).
void build_fallback(cVormCodeRun& run) {
  const int32_t n = std::max(run.delimiter->Length(), 0);
  run.Charge((uint64_t(n) + 1) * sizeof(int32_t));
  std::vector<int32_t>& fail = run.delimiter_fallback;
  fail.assign(size_t(n) + 1, 0);
  int32_t k = 0;
  for (int32_t q = 1; q < n; ++q) {
    const int32_t c = run.delimiter->Get(q + 1);
    while (k > 0 && c != run.delimiter->Get(k + 1)) k = fail[size_t(k)];
    if (c == run.delimiter->Get(k + 1)) ++k;
    fail[size_t(q) + 1] = k;
  }
  run.match_count = 0;
}

void scan_step(cVormCodeRun& run, int32_t c) {
  const int32_t n = int32_t(run.delimiter_fallback.size()) - 1;
  if (n <= 0) return;  // an empty delimiter never matches
  int32_t& m = run.match_count;
  while (m > 0 && c != run.delimiter->Get(m + 1)) m = run.delimiter_fallback[size_t(m)];
  if (c == run.delimiter->Get(m + 1)) ++m;
  if (m < n) return;
  // The delimiter ends at the current unit; the block is what lies between
  // the "}" and its first unit.
  const int64_t count = int64_t(run.encoding->DFTextPoint()) - n - run.embedded_begin;
  store_block(run, run.embedded_begin, int32_t(count));
  run.NewToken();
  run.token->payload.pointer = run.delimiter.release();
  run.token->kind = TCT_DELIMITER;
  run.delimiter_fallback.clear();
  run.match_count = 0;
  run.phase = cnPhaseText;
}

}  // namespace

void vormcode_embedded_check(cVormCodeRun& run, rTCT_METADATA* metadata) {
  cTCProperties* list = metadata != nullptr ? metadata->Properties() : nullptr;
  if (list == nullptr) return;
  rTCProperty* property = list->First();
  while (property != nullptr && string_trim_upper(property->name) != "DELIMITER") property = property->next;
  if (property == nullptr) return;
  const rTCEntry& value = property->value;
  switch (value.kind) {
    case ET_INTEGER:
      // The low 32 bits.
      run.embedded_count = int32_t(uint32_t(uint64_t(value.value.integer)));
      run.embedded_state = cnEmbeddedCountFirst;
      break;
    case ET_FLOAT:
      run.embedded_count = float_count(value.value.real);
      run.embedded_state = cnEmbeddedCountFirst;
      break;
    case ET_TEXT:
    case ET_ID: {
      const cEncoding* source_text = value.Text();
      const std::string* source_id = value.String();
      const int64_t units = source_text != nullptr ? std::max(source_text->Length(), 0)
                            : source_id != nullptr ? int64_t(source_id->size())
                                                   : 0;
      run.Charge(vc_cost<cEncoding>() + uint64_t(units) * cnVcCostCodePoint);
      std::unique_ptr<cEncoding> text;
      if (value.kind == ET_TEXT) {
        cEncoding* source = value.Text();
        if (source == nullptr) return;
        if (source->IsAssociated() && source->Length() > 0) {
          text = source->Clone(true);
          if (!text) raise_parser(errVormCodeSyntaxError, "{del.entry.edata.Clone}");
        } else {
          text = std::make_unique<cEncoding>();
        }
      } else {
        const std::string* id = value.String();
        if (id == nullptr) return;
        text = std::make_unique<cEncoding>();
        if (text->AdoptCharString(*id, 0, false) != int32_t(id->size()))
          raise_parser(errVormCodeSyntaxError, "{mt_delim.Adopt}");
      }
      if (run.delimiter) raise_parser(errVormCodeSyntaxError, "{em_delim<>NIL}");
      run.delimiter = std::move(text);
      run.delimiter_cp = run.delimiter->Length() > 0 ? run.delimiter->Get(1) : -1;
      run.embedded_state = cnEmbeddedDelimiterFirst;
      break;
    }
    default: return;
  }
  run.embedded_begin = run.encoding->DFTextPoint();
  run.phase = cnPhaseEmbedded;
}

void cVormCodeRun::PhaseEmbedded(int32_t c) {
  switch (embedded_state) {
    case cnEmbeddedCountFirst:
      // Nothing is allocated or read before the count is known to fit.
      if (embedded_count <= 0) raise_parser(errVormCodeParser, "{not mem_alloc(embf,emal)}");
      if (int64_t(embedded_count) > int64_t(length) - embedded_begin) UnfinishedTag("EMBEDDED");
      count_step(*this);
      return;
    case cnEmbeddedCounting: count_step(*this); return;
    case cnEmbeddedDelimiterFirst:
      if (!delimiter) raise_parser(errVormCodeParser, "{em_delim=NIL}");
      build_fallback(*this);
      embedded_state = cnEmbeddedScanning;
      scan_step(*this, c);
      return;
    case cnEmbeddedScanning: scan_step(*this, c); return;
    default: SyntaxError();
  }
}
