// cTextBits: merging and widening of the runs of a paragraph.
#include "qlm_text_bits.h"

#include <algorithm>

#include "qlm_base_codes.h"
#include "qlm_base_util.h"
#include "qlm_complex_text_props.h"
#include "qlm_encoding.h"
#include "qlm_encoding_registry.h"
#include "qlm_layout_boxes.h"

namespace {

constexpr char32_t kNoBreakSpace = 160;

int32_t add_count(int32_t a, int32_t b) {
  const int64_t sum = int64_t(a) + int64_t(b);
  return int32_t(std::clamp<int64_t>(sum, INT32_MIN, cnBitMaxCount));
}

// A 32-bit copy of 8-bit text (each byte one code point).
std::u32string widen(const std::string& text) {
  std::u32string out;
  out.reserve(text.size());
  for (unsigned char c : text) out.push_back(char32_t(c));
  return out;
}

uint8_t unit_of(const std::u32string& text) {
  uint8_t unit = 1;
  for (char32_t c : text) unit = std::max(unit, text_unit_width(int64_t(c)));
  return unit;
}

}  // namespace

rStyleBit::rStyleBit() = default;
rStyleBit::rStyleBit(rStyleBit&&) noexcept = default;
rStyleBit::~rStyleBit() = default;

cTextBits::cTextBits() { mTranslator = encoding_create_by_uid(encoding_default_uid()); }

cTextBits::~cTextBits() {
  Clear();
  mTranslator.reset();
}

void cTextBits::Clear() {
  for (rTextBit* r = First(); r != nullptr;) {
    rTextBit* next = r->next;
    switch (r->kind) {
      case cnBitText:
      case cnBitWide:
      case cnBitNoBreak: r->AsRun().~rTextRun(); break;
      case cnBitStyle: static_cast<rStyleBit*>(r)->~rStyleBit(); break;
      default: break;  // the measured fields only: nothing to release
    }
    r = next;
  }
  while (mBlocks != nullptr) {
    void* block = mBlocks;
    mBlocks = mBlocks->prev;
    mem_free(block);
  }
  mLast = nullptr;
}

void cTextBits::TakeOver(cTextBits& from) {
  if (&from == this) return;
  Clear();
  mTranslator = std::move(from.mTranslator);
  if (from.mLast == nullptr) return;
  rTextBit* old = from.Inline();
  rTextBit* first = nullptr;
  switch (old->kind) {
    case cnBitText:
    case cnBitWide:
    case cnBitNoBreak:
      first = new (mInline) rTextRun(std::move(old->AsRun()));
      old->AsRun().~rTextRun();
      break;
    case cnBitStyle:
      first = new (mInline) rStyleBit(std::move(*static_cast<rStyleBit*>(old)));
      static_cast<rStyleBit*>(old)->~rStyleBit();
      break;
    default: first = new (mInline) rMeasuredBit(old->AsMeasured()); break;
  }
  // Only the first run itself can point at the first run (a word's end is
  // at or after its head).
  if (first->word_end == old) first->word_end = first;
  mLast = from.mLast == old ? first : from.mLast;
  mBlocks = from.mBlocks;
  from.mBlocks = nullptr;
  from.mLast = nullptr;
}

void* cTextBits::Take(size_t bytes) {
  bytes = (bytes + 7) & ~size_t(7);
  if (mLast == nullptr) return mInline;
  constexpr size_t kHeader = (sizeof(rBlock) + 15) & ~size_t(15);
  if (mBlocks == nullptr || mBlocks->size - mBlocks->used < bytes) {
    // Blocks twice the size of the one before, from 256 bytes up to 64 KB
    // (less the allocator's own word, so that no allocation is rounded up).
    size_t size = mBlocks == nullptr ? 240 : std::min<size_t>(2 * (kHeader + mBlocks->size + 8), 65536);
    size = std::max(size - 8 - kHeader, bytes);
    void* p = nullptr;
    if (!mem_alloc(p, int64_t(kHeader + size))) raise_base_error(errNEnoughMem, "{bits.Append}");
    mBlocks = new (p) rBlock{mBlocks, uint32_t(size), 0};
  }
  void* slot = reinterpret_cast<unsigned char*>(mBlocks) + kHeader + mBlocks->used;
  mBlocks->used += uint32_t(bytes);
  return slot;
}

rTextBit* cTextBits::NewBit(uint8_t kind) {
  rTextBit* bit = nullptr;
  switch (kind) {
    case cnBitText:
    case cnBitWide:
    case cnBitNoBreak: bit = new (Take(sizeof(rTextRun))) rTextRun{}; break;
    case cnBitStyle: bit = new (Take(sizeof(rStyleBit))) rStyleBit{}; break;
    default: bit = new (Take(sizeof(rMeasuredBit))) rMeasuredBit{}; break;
  }
  bit->kind = kind & 7;
  if (mLast != nullptr) mLast->next = bit;
  mLast = bit;
  return bit;
}

int32_t cTextBits::Translate(int32_t code_point) const {
  return mTranslator != nullptr ? mTranslator->Decode(code_point) : code_point;
}

std::u32string cTextBits::CodePoints(cEncoding* text) const {
  std::u32string out;
  if (text == nullptr) return out;
  for (int32_t c = text->First(); c >= 0; c = text->Next()) {
    const int32_t t = Translate(c);
    if (t < 0) raise_base_error(errQLMCall, "{ch<0}");
    out.push_back(char32_t(t));
  }
  return out;
}

uint8_t cTextBits::UnitWidthOfEncoding(cEncoding* text) { return unit_of(CodePoints(text)); }

uint8_t cTextBits::UnitWidthOfString(const std::string& text) {
  uint8_t unit = 1;
  for (unsigned char c : text) unit = std::max(unit, text_unit_width(Translate(c)));
  return unit;
}

std::string cTextBits::TranslateString(const std::string& text) {
  if (mTranslator == nullptr) return text;
  std::string out = text;
  for (char& c : out) c = char(Translate(static_cast<unsigned char>(c)) & 0xFF);
  return out;
}

void cTextBits::AddEncodedText(cEncoding* text) { AddPoints(CodePoints(text)); }

void cTextBits::AddCharString(const std::string& text) {
  if (text.empty()) return;
  std::u32string points;
  points.reserve(text.size());
  for (unsigned char c : text) points.push_back(char32_t(Translate(c)));
  AddPoints(points);
}

void cTextBits::AddPoints(const std::u32string& points) {
  const uint8_t w = unit_of(points);
  const auto narrow = [&] {
    std::string s;
    s.reserve(points.size());
    for (char32_t c : points) s.push_back(char(c));
    return s;
  };
  rTextBit* last = Last();
  if (last != nullptr && last->kind == cnBitText) {
    if (w == 1) {
      last->AsRun().text += narrow();
    } else {
      // Widening: the run's 8-bit text and the new code points become wide.
      last->AsRun().wide = widen(last->AsRun().text) + points;
      last->AsRun().text.clear();
      last->AsRun().text.shrink_to_fit();
      last->unit = w;
      last->kind = cnBitWide;
    }
  } else if (last != nullptr && last->kind == cnBitWide) {
    last->AsRun().wide += points;
    last->unit = std::max(last->unit, w);
  } else if (last != nullptr && last->kind == cnBitNoBreak) {
    // The no-break spaces become ordinary spaces in front of the text. Text
    // of unit width 1 makes an 8-bit run, so the run stays one the layout
    // measures like any other text.
    const size_t n = size_t(std::max(last->count, 0));
    if (w == 1) {
      last->AsRun().text = std::string(n, ' ') + narrow();
      last->kind = cnBitText;
    } else {
      last->AsRun().wide = std::u32string(n, U' ') + points;
      last->unit = w;
      last->kind = cnBitWide;
    }
    last->count = 0;
  } else if (w == 1) {
    NewBit(cnBitText)->AsRun().text = narrow();
  } else {
    rTextBit* bit = NewBit(cnBitWide);
    bit->AsRun().wide = points;
    bit->unit = w;
  }
}

void cTextBits::AddNoBreakSpaces(int32_t count) {
  rTextBit* last = Last();
  const size_t n = size_t(std::max(count, 0));
  if (last != nullptr && last->kind == cnBitText) {
    last->AsRun().text.append(n, char(kNoBreakSpace));
  } else if (last != nullptr && last->kind == cnBitWide) {
    last->AsRun().wide.append(n, kNoBreakSpace);
  } else if (last != nullptr && last->kind == cnBitNoBreak) {
    last->count = add_count(last->count, count);
  } else {
    NewBit(cnBitNoBreak)->count = count;
  }
}

void cTextBits::AddSpaces(int32_t count) {
  rTextBit* last = Last();
  if (last != nullptr && last->kind == cnBitSpaces)
    last->count = add_count(last->count, count);
  else
    NewBit(cnBitSpaces)->count = 1;
}

void cTextBits::AddBreakSpace() {
  const rTextBit* last = Last();
  if (last != nullptr && (last->kind == cnBitText || last->kind == cnBitWide)) NewBit(cnBitSpaces)->count = 1;
}

void cTextBits::AddLineBreaks(int32_t count) {
  rTextBit* last = Last();
  if (last != nullptr && last->kind == cnBitBreaks)
    last->count = add_count(last->count, count);
  else
    NewBit(cnBitBreaks)->count = count;
}

void cTextBits::AddStyleSwitch(std::unique_ptr<cPropertyEntries>& styles) {
  rTextBit* bit = NewBit(cnBitStyle);
  bit->StyleList() = std::move(styles);
}
