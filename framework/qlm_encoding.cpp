#include "qlm_encoding.h"

#include <algorithm>
#include <cstring>

#include "qlm_base_flow.h"
#include "qlm_base_fullstring.h"
#include "qlm_base_util.h"
#include "qlm_encoding_blocks.h"
#include "qlm_encoding_registry.h"

uint32_t id_cEncoding = 0;

namespace {

struct EncodingRow {
  int32_t code;
  const char* name;
  const char* message;
};

constexpr EncodingRow kEncodingRows[] = {
    {-1, "errEncoding_WrongInputParameters", "Initialization parameters were not valid."},
    {-2, "errEncoding_NoDataAtThatPosition", "Reading of data past the end of the range (not error)."},
    {-3, "errEncoding_TextPointOutOfRange",
     "Given TextPoint value is beyond defined range of encoding values for the given encoding."},
    {-4, "errEncoding_IllegalSourceData",
     "The value in source data is not allowed to be there in given encoding (illform)."},
    {-5, "errEncoding_DataReadFailure", "Encountered reading error where data were expected to be."},
    {-6, "errEncoding_DataWriteFailure", "Attempt to write data where it is not allowed."},
    {-7, "errEncoding_InsertableParse", "Function vorm_insertable_parse failed to finish."},
    {-8, "errEncoding_SystemFailure", "Application-wide encoding system failure (not initialized or RTE)."},
    {-9, "errEncoding_ExhaustedUID", "UID for new encoding reached it's limits."},
    {-10, "errEncoding_SignatureExists", "Signature must be unique, but it is already present in the system."},
    {-11, "errEncoding_SourceDataCompatibility", "Attempt to associate incompatible data source."},
    {-12, "errEncoding_CantReAssociate", "Reassociation failed or not allowed."},
    {-13, "errEncoding_BufferCreate", "Encoding class failed to create internal buffer (Or string allocation error)."},
    {-14, "errEncoding_NotAssociated", "Encoding class seems to be empty (not associated with data)."},
    {-15, "errEncoding_NotFound", "Encoding by signature was not found registered in the system."},
    {-16, "errEncoding_CantCreate", "Encoding system failed to create a new encoding instance."},
    {-17, "errEncoding_ExistingSession", "There is a problem with existing data feeding session."},
};

// The encoding code of a caught exception: a framework error's own code when
// it is one of this module's, otherwise `fallback`.
int32_t encoding_code_of(std::exception_ptr e, int32_t fallback) {
  try {
    std::rethrow_exception(e);
  } catch (const exError& error) {
    return error.Code() < 0 && error.Code() >= -17 ? error.Code() : fallback;
  } catch (...) {
    return fallback;
  }
}

// Runs `body`; any exception becomes an encoding code.
template <typename F>
int32_t guarded(int32_t fallback, F&& body) {
  try {
    return body();
  } catch (...) {
    return encoding_code_of(std::current_exception(), fallback);
  }
}

bool valid_unit(int32_t unit) { return unit == 1 || unit == 2 || unit == 4; }

// Reads one little-endian unit from raw bytes.
int32_t unit_from_bytes(const uint8_t* p, int32_t unit) {
  switch (unit) {
    case 1: return p[0];
    case 2: return int32_t(uint32_t(p[0]) | uint32_t(p[1]) << 8);
    default: return int32_t(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24);
  }
}

// A 32-bit unit holding a negative value is not a code point; passing it on
// would make readers take it for a code such as the end of the data.
int32_t checked_unit(int32_t value) { return value < 0 ? errEncoding_IllegalSourceData : value; }

void unit_to_bytes(uint8_t* p, int32_t unit, int32_t value) {
  const uint32_t v = uint32_t(value);
  p[0] = uint8_t(v);
  if (unit >= 2) p[1] = uint8_t(v >> 8);
  if (unit == 4) {
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
  }
}

}  // namespace

std::unique_ptr<cExceptionString> qlm_encoding_exception_string(uint32_t code) {
  const int32_t c = int32_t(code);
  if (c >= -17 && c <= -1) {
    auto answer = std::make_unique<cExceptionString>(c, &qlm_encoding_exception_string);
    const EncodingRow& row = kEncodingRows[-c - 1];
    answer->Set(row.name, localization_translate(0, row.message, 0, 0));
    return answer;
  }
  return qlm_base_exception_string(code);
}

// ===========================================================================
// Character feed

namespace {

int32_t feed_begin(rCharFeed& feed, uint8_t kind, const void* source, int32_t unit, int32_t length, bool expand) {
  feed_close(feed);
  feed.kind = kind;
  feed.source = source;
  feed.unit = unit;
  feed.length = length < 0 ? 0 : length;
  feed.expand = expand ? 1 : 0;
  return feed_read(feed);
}

}  // namespace

int32_t feed_open_charstring(const std::string& s, rCharFeed& feed, bool expand) {
  if (s.size() > size_t(INT32_MAX)) return errEncoding_WrongInputParameters;
  return feed_begin(feed, cnSourceCharString, &s, 1, int32_t(s.size()), expand);
}

int32_t feed_open_widestring(const std::u16string& s, rCharFeed& feed, bool expand) {
  if (s.size() > size_t(INT32_MAX)) return errEncoding_WrongInputParameters;
  return feed_begin(feed, cnSourceWideString, &s, 2, int32_t(s.size()), expand);
}

int32_t feed_open_fullstring(const int32_t* s, rCharFeed& feed, bool expand) {
  if (s == nullptr) return errEncoding_WrongInputParameters;
  return feed_begin(feed, cnSourceFullString, s, 4, fullstring_length(s), expand);
}

int32_t feed_open_pchar(const char* p, rCharFeed& feed, bool expand) {
  if (p == nullptr) return errEncoding_WrongInputParameters;
  return feed_begin(feed, cnSourcePChar, p, 1, char_length(p), expand);
}

int32_t feed_open_pwidechar(const char16_t* p, rCharFeed& feed, bool expand) {
  if (p == nullptr) return errEncoding_WrongInputParameters;
  return feed_begin(feed, cnSourcePWideChar, p, 2, widechar_length(p), expand);
}

int32_t feed_open_pfullchar(const int32_t* p, rCharFeed& feed, bool expand) {
  if (p == nullptr) return errEncoding_WrongInputParameters;
  return feed_begin(feed, cnSourcePFullChar, p, 4, fullchar_length(p), expand);
}

int32_t feed_open_flow(cFlow* flow, int32_t unit, rCharFeed& feed, int64_t position, int64_t size, bool expand) {
  if (flow == nullptr || !valid_unit(unit) || position < 0 || size < 0) return errEncoding_WrongInputParameters;
  if (!flow->IsOpened() || !flow->IsReadable()) return errEncoding_WrongInputParameters;
  const int64_t flow_size = flow->Size();
  if (flow_size < 0 || position > flow_size || flow_size - position < size || !flow->Seek(position))
    return errEncoding_WrongInputParameters;
  if (size / unit > INT32_MAX) return errEncoding_WrongInputParameters;
  feed_close(feed);
  feed.flow_position = position;
  feed.kind = cnSourceFlow;
  feed.source = flow;
  feed.unit = unit;
  feed.length = int32_t(size / unit);
  feed.expand = expand ? 1 : 0;
  return feed_read(feed);
}

int32_t feed_open_buffer(const void* block, int32_t unit, int32_t size, rCharFeed& feed, bool expand) {
  if (block == nullptr || !valid_unit(unit) || size < 0) return errEncoding_WrongInputParameters;
  return feed_begin(feed, cnSourceBuffer, block, unit, size / unit, expand);
}

int32_t feed_open_encoding(cEncoding* encoding, rCharFeed& feed, bool expand) {
  if (encoding == nullptr) return errEncoding_WrongInputParameters;
  const int32_t length = encoding->Length();
  return feed_begin(feed, cnSourceEncoding, encoding, 4, length < 0 ? 0 : length, expand);
}

int32_t feed_read_raw(rCharFeed& feed) {
  if (feed.position >= feed.length) return errEncoding_NoDataAtThatPosition;
  const int32_t i = feed.position++;
  switch (feed.kind) {
    case cnSourceCharString: {
      const auto& s = *static_cast<const std::string*>(feed.source);
      return size_t(i) < s.size() ? int32_t(uint8_t(s[size_t(i)])) : errEncoding_DataReadFailure;
    }
    case cnSourceWideString: {
      const auto& s = *static_cast<const std::u16string*>(feed.source);
      return size_t(i) < s.size() ? int32_t(s[size_t(i)]) : errEncoding_DataReadFailure;
    }
    case cnSourceFullString: return checked_unit(fullstring_get(static_cast<const int32_t*>(feed.source), i + 1));
    case cnSourcePChar: return static_cast<const uint8_t*>(feed.source)[i];
    case cnSourcePWideChar: return static_cast<const char16_t*>(feed.source)[i];
    case cnSourcePFullChar: return checked_unit(static_cast<const int32_t*>(feed.source)[i]);
    case cnSourceFlow: {
      // The flow is read sequentially from the range's start.
      uint8_t bytes[4];
      auto* flow = static_cast<cFlow*>(const_cast<void*>(feed.source));
      if (!flow->Read(bytes, feed.unit)) return errEncoding_DataReadFailure;
      return checked_unit(unit_from_bytes(bytes, feed.unit));
    }
    case cnSourceBuffer:
      return checked_unit(
          unit_from_bytes(static_cast<const uint8_t*>(feed.source) + int64_t(i) * feed.unit, feed.unit));
    case cnSourceEncoding: return static_cast<cEncoding*>(const_cast<void*>(feed.source))->Get(i + 1);
    default: return errEncoding_WrongInputParameters;
  }
}

int32_t feed_read(rCharFeed& feed) {
  if (feed.expand) return feed_read_expanded(feed);
  return feed_read_raw(feed);
}

int32_t feed_rewind(rCharFeed& feed) {
  feed.position = 0;
  feed.state = 0;
  feed.collected.clear();
  feed.expansion.clear();
  feed.collected_count = feed.expansion_count = feed.index = 0;
  feed.held = feed.depth = feed.blanks = feed.terminator = 0;
  if (feed.kind == cnSourceFlow) {
    auto* flow = static_cast<cFlow*>(const_cast<void*>(feed.source));
    if (!flow->Seek(feed.flow_position)) return errEncoding_DataReadFailure;
  }
  return feed_read(feed);
}

int32_t feed_length(const rCharFeed& feed) { return feed.length; }

bool feed_close(rCharFeed& feed) {
  feed = rCharFeed{};
  return true;
}

// ===========================================================================
// cEncoding

cEncoding::~cEncoding() = default;

bool cEncoding::Identify(uint32_t id) const { return id == id_cEncoding || cBase::Identify(id); }

void cEncoding::ReleaseOwned() {
  mText8.clear();
  mText8.shrink_to_fit();
  mText16.clear();
  mText16.shrink_to_fit();
  mText32.clear();
  mText32.shrink_to_fit();
}

bool cEncoding::Dissociate() {
  ReleaseOwned();
  mSrc = rDataSource{};
  return true;
}

bool cEncoding::Prepare(int32_t purpose, uint8_t /*kind*/, int32_t count, int32_t unit) {
  if (purpose == errEncoding_SourceDataCompatibility) return true;
  if (purpose != errEncoding_BufferCreate || !valid_unit(unit)) return false;
  ReleaseOwned();
  mSrc = rDataSource{};
  mSrc.enunit = uint8_t(unit);
  mSrc.kind = unit == 1 ? cnSourceCharString : unit == 2 ? cnSourceWideString : cnSourceFullString;
  mSrc.mode = 2;
  mSrc.owned = 1;
  mSrc.offset = count;
  return true;
}

int32_t cEncoding::Length() const {
  if (!IsAssociated()) return errEncoding_NotAssociated;
  if (mSrc.owned) {
    switch (mSrc.kind) {
      case cnSourceCharString: return int32_t(mText8.size());
      case cnSourceWideString: return int32_t(mText16.size());
      default: return int32_t(mText32.size());
    }
  }
  return mSrc.length;
}

int32_t cEncoding::ReadUnitAt(int32_t cursor) const {
  try {
    const int64_t i = int64_t(mSrc.start) + cursor;
    if (cursor < 0 || i < 0) return errEncoding_DataReadFailure;
    if (mSrc.owned) {
      switch (mSrc.kind) {
        case cnSourceCharString:
          return size_t(i) < mText8.size() ? int32_t(uint8_t(mText8[size_t(i)])) : errEncoding_DataReadFailure;
        case cnSourceWideString:
          return size_t(i) < mText16.size() ? int32_t(mText16[size_t(i)]) : errEncoding_DataReadFailure;
        default: return size_t(i) < mText32.size() ? mText32[size_t(i)] : errEncoding_DataReadFailure;
      }
    }
    // Attached sources: the length was taken at attach time; the caller
    // keeps the data unchanged, but a shrunken string variable must still
    // not be read past its end.
    if (cursor >= mSrc.length && mSrc.kind != cnSourceEncoding) return errEncoding_DataReadFailure;
    switch (mSrc.kind) {
      case cnSourceCharString: {
        const auto& s = *static_cast<const std::string*>(mSrc.source);
        return size_t(i) < s.size() ? int32_t(uint8_t(s[size_t(i)])) : errEncoding_DataReadFailure;
      }
      case cnSourceWideString: {
        const auto& s = *static_cast<const std::u16string*>(mSrc.source);
        return size_t(i) < s.size() ? int32_t(s[size_t(i)]) : errEncoding_DataReadFailure;
      }
      case cnSourceFullString: return checked_unit(static_cast<const int32_t*>(mSrc.source)[i]);
      case cnSourcePChar: return static_cast<const uint8_t*>(mSrc.source)[i];
      case cnSourcePWideChar: return static_cast<const char16_t*>(mSrc.source)[i];
      case cnSourcePFullChar: return checked_unit(static_cast<const int32_t*>(mSrc.source)[i]);
      case cnSourceFlow: {
        auto* flow = static_cast<cFlow*>(const_cast<void*>(mSrc.source));
        uint8_t bytes[4];
        const int64_t pos = int64_t(mSrc.offset) + mSrc.start + int64_t(cursor) * mSrc.enunit;
        if (!flow->Seek(pos) || !flow->Read(bytes, mSrc.enunit)) return errEncoding_DataReadFailure;
        return checked_unit(unit_from_bytes(bytes, mSrc.enunit));
      }
      case cnSourceBuffer:
        return checked_unit(unit_from_bytes(
            static_cast<const uint8_t*>(mSrc.source) + mSrc.start + int64_t(cursor) * mSrc.enunit, mSrc.enunit));
      case cnSourceEncoding: return static_cast<cEncoding*>(const_cast<void*>(mSrc.source))->Get(cursor + 1);
      default: return errEncoding_NotAssociated;
    }
  } catch (...) {
    return errEncoding_DataReadFailure;
  }
}

int32_t cEncoding::StoreAt(int32_t cursor, int32_t code_point) {
  const size_t i = size_t(cursor);
  switch (mSrc.kind) {
    case cnSourceCharString: mText8[i] = char(uint8_t(code_point)); break;
    case cnSourceWideString: mText16[i] = char16_t(code_point); break;
    default: mText32[i] = code_point; break;
  }
  return 0;
}

// Builds storage of the new width and length, copies every code point and
// pads the new positions; on any failure the old storage stays.
int32_t cEncoding::Widen(int32_t new_length, int32_t new_unit, int32_t pad) {
  return guarded(errEncoding_DataWriteFailure, [&]() -> int32_t {
    const int32_t length = Length();
    if (!mSrc.owned || length < 0 || new_length < length || (new_unit != 2 && new_unit != 4) || pad < 0 ||
        (new_unit == 2 && pad > 0xFFFF) || new_unit < mSrc.enunit)
      return errEncoding_DataWriteFailure;
    if (new_unit == 2) {
      std::u16string text(size_t(new_length), static_cast<char16_t>(pad));
      for (int32_t i = 0; i < length; ++i) {
        const int32_t c = ReadUnitAt(i);
        if (c < 0 || c > 0xFFFF) return errEncoding_DataWriteFailure;
        text[size_t(i)] = char16_t(c);
      }
      mText8.clear();
      mText16 = std::move(text);
      mSrc.kind = cnSourceWideString;
    } else {
      std::vector<int32_t> text(static_cast<size_t>(new_length), pad);
      for (int32_t i = 0; i < length; ++i) {
        const int32_t c = ReadUnitAt(i);
        if (c < 0) return errEncoding_DataWriteFailure;
        text[size_t(i)] = c;
      }
      mText8.clear();
      mText16.clear();
      mText32 = std::move(text);
      mSrc.kind = cnSourceFullString;
      mSrc.size = mSrc.length = new_length;
    }
    mSrc.enunit = uint8_t(new_unit);
    return 0;
  });
}

int32_t cEncoding::WidenFor(int32_t code_point) {
  if (code_point > 0xFFFF && mSrc.enunit != 4) return Widen(Length(), 4, 0);
  if (code_point >= 256 && mSrc.enunit == 1) return Widen(Length(), 2, 0);
  return 0;
}

// ---------------------------------------------------------------------------
// Attaching

int32_t cEncoding::AttachCommon(uint8_t kind, int32_t unit, const void* source, int32_t start, int32_t offset,
                                int32_t size, int32_t length) {
  if (!Prepare(errEncoding_SourceDataCompatibility, kind, length, unit)) return errEncoding_SourceDataCompatibility;
  if (!Dissociate()) return errEncoding_CantReAssociate;
  mSrc.enunit = uint8_t(unit);
  mSrc.kind = kind;
  mSrc.source = source;
  mSrc.start = start;
  mSrc.offset = offset;
  mSrc.size = size;
  mSrc.length = length;
  return length;
}

namespace {
// The text points of a string or buffer of `size` units read from `from`;
// negative when `from` lies outside it.
int32_t units_after(int64_t size, int64_t from) {
  if (from < 0 || from > size || size > INT32_MAX) return errEncoding_WrongInputParameters;
  return int32_t(size - from);
}
}  // namespace

int32_t cEncoding::AttachCharString(const std::string& s, int32_t from) {
  const int32_t length = units_after(int64_t(s.size()), from);
  if (length < 0) return length;
  return AttachCommon(cnSourceCharString, 1, &s, from, 0, int32_t(s.size()), length);
}

int32_t cEncoding::AttachWideString(const std::u16string& s, int32_t from) {
  const int32_t length = units_after(int64_t(s.size()), from);
  if (length < 0) return length;
  return AttachCommon(cnSourceWideString, 2, &s, from, 0, int32_t(s.size()), length);
}

int32_t cEncoding::AttachFullString(const int32_t* s, int32_t from) {
  if (s == nullptr) return errEncoding_WrongInputParameters;
  const int32_t size = fullstring_length(s);
  const int32_t length = units_after(size, from);
  if (length < 0) return length;
  return AttachCommon(cnSourceFullString, 4, s, from, 0, size, length);
}

int32_t cEncoding::AttachPChar(const char* p, int32_t from) {
  if (p == nullptr) return errEncoding_WrongInputParameters;
  const int32_t size = char_length(p);
  const int32_t length = units_after(size, from);
  if (length < 0) return length;
  return AttachCommon(cnSourcePChar, 1, p, from, 0, size, length);
}

int32_t cEncoding::AttachPWideChar(const char16_t* p, int32_t from) {
  if (p == nullptr) return errEncoding_WrongInputParameters;
  const int32_t size = widechar_length(p);
  const int32_t length = units_after(size, from);
  if (length < 0) return length;
  return AttachCommon(cnSourcePWideChar, 2, p, from, 0, size, length);
}

int32_t cEncoding::AttachPFullChar(const int32_t* p, int32_t from) {
  if (p == nullptr) return errEncoding_WrongInputParameters;
  const int32_t size = fullchar_length(p);
  const int32_t length = units_after(size, from);
  if (length < 0) return length;
  return AttachCommon(cnSourcePFullChar, 4, p, from, 0, size, length);
}

int32_t cEncoding::AttachFlow(cFlow* flow, int32_t unit, int32_t from) {
  if (flow == nullptr || !valid_unit(unit) || !flow->IsOpened() || !flow->IsReadable())
    return errEncoding_WrongInputParameters;
  const int64_t size = flow->Size();
  if (size < 0 || size > INT32_MAX || from < 0 || from > size) return errEncoding_WrongInputParameters;
  return AttachCommon(cnSourceFlow, unit, flow, from, 0, int32_t(size), int32_t((size - from) / unit));
}

int32_t cEncoding::AttachFlowRange(cFlow* flow, int32_t unit, int64_t offset, int64_t size, int32_t from) {
  if (flow == nullptr || !valid_unit(unit) || !flow->IsOpened() || !flow->IsReadable() || offset < 0 || size < 0 ||
      offset > INT32_MAX || size > INT32_MAX || from < 0 || from > size)
    return errEncoding_WrongInputParameters;
  const int64_t flow_size = flow->Size();
  if (flow_size < 0 || offset > flow_size || !flow->Seek(offset) || flow_size - offset < size)
    return errEncoding_WrongInputParameters;
  return AttachCommon(cnSourceFlow, unit, flow, from, int32_t(offset), int32_t(size), int32_t((size - from) / unit));
}

int32_t cEncoding::AttachBuffer(const void* block, int32_t unit, int32_t size, int32_t from) {
  if (block == nullptr || !valid_unit(unit) || size < 0 || from < 0 || from > size)
    return errEncoding_WrongInputParameters;
  return AttachCommon(cnSourceBuffer, unit, block, from, 0, size, (size - from) / unit);
}

int32_t cEncoding::AttachEncoding(cEncoding* source) {
  if (source == nullptr) return errEncoding_WrongInputParameters;
  // An encoding cannot read through itself, directly or along a chain of
  // attached encodings: reading would never end.
  for (const cEncoding* e = source; e != nullptr;
       e = e->mSrc.kind == cnSourceEncoding ? static_cast<const cEncoding*>(e->mSrc.source) : nullptr)
    if (e == this) return errEncoding_WrongInputParameters;
  const int32_t length = source->Length();
  if (length < 0) return errEncoding_WrongInputParameters;
  return AttachCommon(cnSourceEncoding, 4, source, 0, 0, length, length);
}

// ---------------------------------------------------------------------------
// Adopting

// Common tail of the adoptions: `first` is the feed's first value; `skip`
// code points are dropped (string and buffer forms).
int32_t cEncoding::AdoptCommon(rCharFeed& feed, int32_t first, int32_t /*expected*/, int32_t /*unit*/, int32_t skip) {
  int32_t result;
  if (first == errEncoding_NoDataAtThatPosition) {
    result = 0;
  } else if (first < 0) {
    result = first;
  } else {
    int32_t current = first;
    for (int32_t i = 0; i < skip && current >= 0; ++i) current = feed_read(feed);
    if (current < 0)
      result = current;
    else
      result = AdoptFeed(current, feed);
  }
  feed_close(feed);
  return result;
}

#define ADOPT_PREPARE(kind, expected, unit)                                                        \
  do {                                                                                             \
    if (!Dissociate()) return errEncoding_CantReAssociate;                                         \
    if (!Prepare(errEncoding_BufferCreate, kind, expected, unit)) return errEncoding_BufferCreate; \
  } while (0)

int32_t cEncoding::AdoptCharString(const std::string& s, int32_t from, bool expand) {
  return guarded(errEncoding_BufferCreate, [&]() -> int32_t {
    if (from < 0) return errEncoding_WrongInputParameters;
    ADOPT_PREPARE(cnSourceCharString, int32_t(s.size()) - from, 1);
    rCharFeed feed;
    return AdoptCommon(feed, feed_open_charstring(s, feed, expand), 0, 1, from);
  });
}

int32_t cEncoding::AdoptWideString(const std::u16string& s, int32_t from, bool expand) {
  return guarded(errEncoding_BufferCreate, [&]() -> int32_t {
    if (from < 0) return errEncoding_WrongInputParameters;
    ADOPT_PREPARE(cnSourceWideString, int32_t(s.size()) - from, 2);
    rCharFeed feed;
    return AdoptCommon(feed, feed_open_widestring(s, feed, expand), 0, 2, from);
  });
}

int32_t cEncoding::AdoptFullString(const int32_t* s, int32_t from, bool expand) {
  return guarded(errEncoding_BufferCreate, [&]() -> int32_t {
    if (s == nullptr || from < 0) return errEncoding_WrongInputParameters;
    ADOPT_PREPARE(cnSourceFullString, fullstring_length(s) - from, 4);
    rCharFeed feed;
    return AdoptCommon(feed, feed_open_fullstring(s, feed, expand), 0, 4, from);
  });
}

int32_t cEncoding::AdoptPChar(const char* p, int32_t from, bool expand) {
  return guarded(errEncoding_BufferCreate, [&]() -> int32_t {
    if (p == nullptr || from < 0) return errEncoding_WrongInputParameters;
    ADOPT_PREPARE(cnSourcePChar, char_length(p) - from, 1);
    rCharFeed feed;
    return AdoptCommon(feed, feed_open_pchar(p, feed, expand), 0, 1, from);
  });
}

int32_t cEncoding::AdoptPWideChar(const char16_t* p, int32_t from, bool expand) {
  return guarded(errEncoding_BufferCreate, [&]() -> int32_t {
    if (p == nullptr || from < 0) return errEncoding_WrongInputParameters;
    ADOPT_PREPARE(cnSourcePWideChar, widechar_length(p) - from, 2);
    rCharFeed feed;
    return AdoptCommon(feed, feed_open_pwidechar(p, feed, expand), 0, 2, from);
  });
}

int32_t cEncoding::AdoptPFullChar(const int32_t* p, int32_t from, bool expand) {
  return guarded(errEncoding_BufferCreate, [&]() -> int32_t {
    if (p == nullptr || from < 0) return errEncoding_WrongInputParameters;
    ADOPT_PREPARE(cnSourcePFullChar, fullchar_length(p) - from, 4);
    rCharFeed feed;
    return AdoptCommon(feed, feed_open_pfullchar(p, feed, expand), 0, 4, from);
  });
}

int32_t cEncoding::AdoptFlow(cFlow* flow, int32_t unit, int64_t offset, int64_t size, int32_t from, bool expand) {
  return guarded(errEncoding_BufferCreate, [&]() -> int32_t {
    if (flow == nullptr || !valid_unit(unit) || from < 0 || offset < 0 || size < from)
      return errEncoding_WrongInputParameters;
    ADOPT_PREPARE(cnSourceFlow, int32_t(std::min<int64_t>(size - from, INT32_MAX)), unit);
    rCharFeed feed;
    return AdoptCommon(feed, feed_open_flow(flow, unit, feed, offset + from, size - from, expand), 0, unit, 0);
  });
}

int32_t cEncoding::AdoptBuffer(const void* block, int32_t unit, int32_t size, int32_t from, bool expand) {
  return guarded(errEncoding_BufferCreate, [&]() -> int32_t {
    if (block == nullptr) {
      if (size != 0) return errEncoding_WrongInputParameters;
      ADOPT_PREPARE(cnSourceBuffer, 0, unit);
      return 0;
    }
    if (!valid_unit(unit) || from < 0 || size < from) return errEncoding_WrongInputParameters;
    ADOPT_PREPARE(cnSourceBuffer, size - from, unit);
    rCharFeed feed;
    const auto* bytes = static_cast<const uint8_t*>(block) + from;
    return AdoptCommon(feed, feed_open_buffer(bytes, unit, size - from, feed, expand), 0, unit, 0);
  });
}

int32_t cEncoding::AdoptEncoding(cEncoding* source, bool expand) {
  return guarded(errEncoding_BufferCreate, [&]() -> int32_t {
    if (source == nullptr) return errEncoding_WrongInputParameters;
    // Adopting itself, or an encoding that reads through it (directly or
    // along a chain of attached encodings): read from an owned copy, since
    // dropping this encoding's text first would lose what the source shows.
    for (const cEncoding* e = source; e != nullptr;
         e = e->mSrc.kind == cnSourceEncoding ? static_cast<const cEncoding*>(e->mSrc.source) : nullptr) {
      if (e != this) continue;
      std::unique_ptr<cEncoding> copy = source->Clone(true);
      if (!copy) return errEncoding_BufferCreate;
      return AdoptEncoding(copy.get(), expand);
    }
    ADOPT_PREPARE(cnSourceEncoding, std::max(source->Length(), 0), 4);
    rCharFeed feed;
    const int32_t first = feed_open_encoding(source, feed, expand);
    if (first < 0) {
      feed_close(feed);
      return first == errEncoding_NoDataAtThatPosition ? 0 : first;
    }
    const int32_t result = AdoptEncodingFeed(first, feed);
    feed_close(feed);
    return result;
  });
}

#undef ADOPT_PREPARE

int32_t cEncoding::AdoptFeed(int32_t first, rCharFeed& feed) {
  return guarded(errEncoding_BufferCreate, [&]() -> int32_t {
    std::vector<int32_t> points;
    points.reserve(size_t(mSrc.offset > 0 ? mSrc.offset : 30));
    int32_t current = first;
    int32_t max_point = 0;
    while (current != errEncoding_NoDataAtThatPosition) {
      if (current < 0) return current;  // the empty storage stays
      points.push_back(current);
      max_point = std::max(max_point, current);
      current = feed_read(feed);
    }
    if (!points.empty()) {
      ReleaseOwned();
      if (max_point < 256) {
        mText8.resize(points.size());
        for (size_t i = 0; i < points.size(); ++i) mText8[i] = char(uint8_t(points[i]));
        mSrc.kind = cnSourceCharString;
        mSrc.enunit = 1;
      } else if (max_point <= 0xFFFF) {
        mText16.resize(points.size());
        for (size_t i = 0; i < points.size(); ++i) mText16[i] = char16_t(points[i]);
        mSrc.kind = cnSourceWideString;
        mSrc.enunit = 2;
      } else {
        mText32 = std::move(points);
        mSrc.kind = cnSourceFullString;
        mSrc.enunit = 4;
        mSrc.size = mSrc.length = int32_t(mText32.size());
      }
    }
    mSrc.offset = 0;
    return Length();
  });
}

int32_t cEncoding::AdoptEncodingFeed(int32_t first, rCharFeed& feed) { return AdoptFeed(first, feed); }

// ---------------------------------------------------------------------------
// Reading

int32_t cEncoding::Curr() const {
  if (Length() <= 0) return 0;
  return mSrc.cursor + 1;
}

int32_t cEncoding::First() {
  if (Length() <= 0) return errEncoding_NoDataAtThatPosition;
  const int32_t c = ReadUnitAt(0);
  if (c < 0) return c;
  mSrc.cursor = 1;
  return Decode(c);
}

int32_t cEncoding::Last() {
  const int32_t length = Length();
  if (length <= 0) return errEncoding_NoDataAtThatPosition;
  const int32_t c = ReadUnitAt(length - 1);
  if (c < 0) return c;
  mSrc.cursor = length;
  return Decode(c);
}

int32_t cEncoding::Get(int32_t text_point) {
  const int32_t length = Length();
  if (length <= 0 || text_point < 1 || text_point > length) return errEncoding_NoDataAtThatPosition;
  const int32_t c = ReadUnitAt(text_point - 1);
  if (c < 0) return c;
  mSrc.cursor = text_point;
  return Decode(c);
}

int32_t cEncoding::GoTo(int32_t text_point) {
  const int32_t length = Length();
  if (length <= 0) return Curr();
  if (text_point >= 1 && text_point <= length)
    mSrc.cursor = text_point - 1;
  else if (text_point < 0)
    mSrc.cursor = 0;
  else if (text_point > length)
    mSrc.cursor = length - 1;
  else
    mSrc.cursor = -1;  // before the first text point: Curr gives 0
  return Curr();
}

int32_t cEncoding::Next() {
  const int32_t length = Length();
  if (length <= 0) return errEncoding_NoDataAtThatPosition;
  // Standing before the first text point, Next reads the first one.
  if (mSrc.cursor < 0) mSrc.cursor = 0;
  if (mSrc.cursor >= length) return errEncoding_NoDataAtThatPosition;
  const int32_t c = ReadUnitAt(mSrc.cursor);
  if (c < 0) return c;
  ++mSrc.cursor;
  return Decode(c);
}

int32_t cEncoding::Prev() {
  if (Length() <= 0 || mSrc.cursor <= 0) return errEncoding_NoDataAtThatPosition;
  const int32_t c = ReadUnitAt(mSrc.cursor - 1);
  if (c < 0) return c;
  --mSrc.cursor;
  return Decode(c);
}

// ---------------------------------------------------------------------------
// Editing (owned storage only)

int32_t cEncoding::Modify(int32_t text_point, int32_t code_point) {
  return guarded(errEncoding_DataWriteFailure, [&]() -> int32_t {
    if (!IsWritable()) return errEncoding_DataWriteFailure;
    const int32_t length = Length();
    if (length <= 0 || text_point < 1 || text_point > length) return errEncoding_NoDataAtThatPosition;
    if (code_point < 0) return errEncoding_TextPointOutOfRange;
    if (WidenFor(code_point) < 0) return errEncoding_TextPointOutOfRange;
    mSrc.cursor = text_point - 1;
    const int32_t old = ReadUnitAt(text_point - 1);
    if (old < 0) return old;
    StoreAt(text_point - 1, Encode(code_point));
    return Decode(old);
  });
}

int32_t cEncoding::SetLength(int32_t length, int32_t fill) {
  return guarded(errEncoding_DataWriteFailure, [&]() -> int32_t {
    if (!IsResizable() || length < 0) return errEncoding_DataWriteFailure;
    const int32_t current = Length();
    if (length != current) {
      if (length > current) {
        if (fill < 0) return errEncoding_DataWriteFailure;
        if ((mSrc.enunit == 1 && fill >= 256) || (mSrc.enunit == 2 && fill > 0xFFFF)) {
          if (Widen(length, fill > 0xFFFF ? 4 : 2, fill) < 0) return errEncoding_DataWriteFailure;
        } else {
          switch (mSrc.kind) {
            case cnSourceCharString: mText8.resize(size_t(length), char(uint8_t(fill))); break;
            case cnSourceWideString: mText16.resize(size_t(length), char16_t(fill)); break;
            default: mText32.resize(size_t(length), fill); break;
          }
        }
      } else {
        switch (mSrc.kind) {
          case cnSourceCharString: mText8.resize(size_t(length)); break;
          case cnSourceWideString: mText16.resize(size_t(length)); break;
          default: mText32.resize(size_t(length)); break;
        }
      }
      if (mSrc.kind == cnSourceFullString) mSrc.size = mSrc.length = length;
    }
    if (length < mSrc.cursor + 1) mSrc.cursor = length - 1;
    return Length();
  });
}

int32_t cEncoding::Insert(int32_t text_point, int32_t count, int32_t code_point) {
  return guarded(errEncoding_DataWriteFailure, [&]() -> int32_t {
    if (!IsResizable()) return errEncoding_DataWriteFailure;
    if (count <= 0) return errEncoding_WrongInputParameters;
    const int32_t length = Length();
    if (length <= 0 || text_point < 1 || text_point > length) return errEncoding_NoDataAtThatPosition;
    if (code_point < 0) return errEncoding_TextPointOutOfRange;
    if (int64_t(length) + count > INT32_MAX) return errEncoding_DataWriteFailure;
    if (WidenFor(code_point) < 0) return errEncoding_TextPointOutOfRange;
    mSrc.cursor = text_point - 1;
    const size_t at = size_t(text_point - 1);
    switch (mSrc.kind) {
      case cnSourceCharString: mText8.insert(at, size_t(count), char(uint8_t(code_point))); break;
      case cnSourceWideString: mText16.insert(at, size_t(count), char16_t(code_point)); break;
      default:
        mText32.insert(mText32.begin() + ptrdiff_t(at), size_t(count), code_point);
        mSrc.size = mSrc.length = int32_t(mText32.size());
        break;
    }
    return count;
  });
}

int32_t cEncoding::Delete(int32_t text_point, int32_t count) {
  return guarded(errEncoding_DataWriteFailure, [&]() -> int32_t {
    if (!IsResizable()) return errEncoding_DataWriteFailure;
    if (count <= 0) return errEncoding_WrongInputParameters;
    const int32_t length = Length();
    if (length <= 0 || text_point < 1 || text_point > length) return errEncoding_NoDataAtThatPosition;
    if (int64_t(text_point) + count - 1 > length) count = length - text_point + 1;
    mSrc.cursor = text_point - 1;
    const size_t at = size_t(text_point - 1);
    switch (mSrc.kind) {
      case cnSourceCharString: mText8.erase(at, size_t(count)); break;
      case cnSourceWideString: mText16.erase(at, size_t(count)); break;
      default:
        mText32.erase(mText32.begin() + ptrdiff_t(at), mText32.begin() + ptrdiff_t(at + size_t(count)));
        mSrc.size = mSrc.length = int32_t(mText32.size());
        break;
    }
    return count;
  });
}

// ---------------------------------------------------------------------------
// Whole-text operations

std::string cEncoding::CodePageTag() const {
  switch (IsAssociated() ? mSrc.enunit : 0) {
    case 1: return "~{cp<#ASCII>}";
    case 2: return "~{cp<#UCS-2>}";
    case 4: return "~{cp<#UCS-4>}";
    default: return {};
  }
}

std::string cEncoding::Signature() const { return "UCS"; }

std::string cEncoding::Description() const {
  return localization_translate(0,
                                "<group> Universal <region> World <full> Universal Multiple-Octet Coded "
                                "Character Set <standard> ISO/IEC 10646",
                                0, 0);
}

int32_t cEncoding::GetBuffer(void* buffer, int32_t& size, bool with_tag) {
  return guarded(errEncoding_DataWriteFailure, [&]() -> int32_t {
    if (buffer == nullptr || size < 0) return errEncoding_WrongInputParameters;
    if (!IsAssociated()) return 0;
    const int32_t length = Length();
    const std::string tag = with_tag ? CodePageTag() : std::string();
    const int64_t needed64 = int64_t(mSrc.enunit) * length + int64_t(tag.size());
    if (needed64 > INT32_MAX) return errEncoding_DataWriteFailure;
    const int32_t needed = int32_t(needed64);
    if (size < needed) {
      size = 0;
      return needed;
    }
    auto* out = static_cast<uint8_t*>(buffer);
    std::memcpy(out, tag.data(), tag.size());
    out += tag.size();
    if (mSrc.kind == cnSourceFlow) {
      auto* flow = static_cast<cFlow*>(const_cast<void*>(mSrc.source));
      const int32_t bytes = length * mSrc.enunit;
      if (bytes > 0 && (!flow->Seek(int64_t(mSrc.offset) + mSrc.start) || !flow->Read(out, bytes)))
        return errEncoding_DataWriteFailure;
      return needed;
    }
    for (int32_t i = 0; i < length; ++i) {
      const int32_t c = ReadUnitAt(i);
      if (c < 0) return errEncoding_DataWriteFailure;
      unit_to_bytes(out + int64_t(i) * mSrc.enunit, mSrc.enunit, c);
    }
    return needed;
  });
}

std::unique_ptr<cEncoding> cEncoding::CreateNew() const { return std::make_unique<cEncoding>(); }

std::unique_ptr<cEncoding> cEncoding::Clone(bool deep) const {
  try {
    std::unique_ptr<cEncoding> copy = CreateNew();
    if (!IsAssociated()) return copy;
    const void* src = mSrc.source;
    int32_t r;
    if (deep || mSrc.mode != 0) {
      if (Length() <= 0) {
        r = copy->AdoptBuffer(nullptr, mSrc.enunit, 0, 0, false);
      } else if (mSrc.owned) {
        switch (mSrc.kind) {
          case cnSourceCharString: r = copy->AdoptCharString(mText8, 0, false); break;
          case cnSourceWideString: r = copy->AdoptWideString(mText16, 0, false); break;
          default: r = copy->AdoptBuffer(mText32.data(), 4, int32_t(mText32.size() * 4), 0, false); break;
        }
      } else {
        switch (mSrc.kind) {
          case cnSourceCharString:
            r = copy->AdoptCharString(*static_cast<const std::string*>(src), mSrc.start, false);
            break;
          case cnSourceWideString:
            r = copy->AdoptWideString(*static_cast<const std::u16string*>(src), mSrc.start, false);
            break;
          case cnSourceFullString:
            r = copy->AdoptFullString(static_cast<const int32_t*>(src), mSrc.start, false);
            break;
          case cnSourcePChar: r = copy->AdoptPChar(static_cast<const char*>(src), mSrc.start, false); break;
          case cnSourcePWideChar: r = copy->AdoptPWideChar(static_cast<const char16_t*>(src), mSrc.start, false); break;
          case cnSourcePFullChar: r = copy->AdoptPFullChar(static_cast<const int32_t*>(src), mSrc.start, false); break;
          case cnSourceFlow:
            r = copy->AdoptFlow(static_cast<cFlow*>(const_cast<void*>(src)), mSrc.enunit, mSrc.offset, mSrc.size,
                                mSrc.start, false);
            break;
          case cnSourceBuffer: r = copy->AdoptBuffer(src, mSrc.enunit, mSrc.size, mSrc.start, false); break;
          default: r = copy->AdoptEncoding(static_cast<cEncoding*>(const_cast<void*>(src)), false); break;
        }
      }
      if (r < 0) raise_base_error(errNEnoughMem, "{cEncoding.Adopt}");
    } else {
      switch (mSrc.kind) {
        case cnSourceCharString: r = copy->AttachCharString(*static_cast<const std::string*>(src), mSrc.start); break;
        case cnSourceWideString:
          r = copy->AttachWideString(*static_cast<const std::u16string*>(src), mSrc.start);
          break;
        case cnSourceFullString: r = copy->AttachFullString(static_cast<const int32_t*>(src), mSrc.start); break;
        case cnSourcePChar: r = copy->AttachPChar(static_cast<const char*>(src), mSrc.start); break;
        case cnSourcePWideChar: r = copy->AttachPWideChar(static_cast<const char16_t*>(src), mSrc.start); break;
        case cnSourcePFullChar: r = copy->AttachPFullChar(static_cast<const int32_t*>(src), mSrc.start); break;
        case cnSourceFlow:
          r = copy->AttachFlowRange(static_cast<cFlow*>(const_cast<void*>(src)), mSrc.enunit, mSrc.offset, mSrc.size,
                                    mSrc.start);
          break;
        case cnSourceBuffer: r = copy->AttachBuffer(src, mSrc.enunit, mSrc.size, mSrc.start); break;
        default: r = copy->AttachEncoding(static_cast<cEncoding*>(const_cast<void*>(src))); break;
      }
      if (r < 0) raise_base_error(errNEnoughMem, "{cEncoding.Attach}");
    }
    copy->mSrc.cursor = 0;
    return copy;
  } catch (...) {
    return nullptr;
  }
}

// ---------------------------------------------------------------------------
// Code-point space

int32_t cEncoding::NextCodePoint(int32_t code_point) const { return codepoint_next(code_point); }
int32_t cEncoding::PrevCodePoint(int32_t code_point) const { return codepoint_prev(code_point); }
int32_t cEncoding::CodePointCount() const { return codepoint_count(); }

// ---------------------------------------------------------------------------
// The data feed

int32_t cEncoding::DFOpen() {
  if (mFeed) return errEncoding_ExistingSession;
  if (!IsAssociated() || Length() <= 0) return errEncoding_NoDataAtThatPosition;
  try {
    mFeed = std::make_unique<rFeedState>();
    mFeed->text_point = 1;
    mSrc.cursor = 0;
    return DFRead();
  } catch (...) {
    mFeed.reset();
    return encoding_code_of(std::current_exception(), errEncoding_WrongInputParameters);
  }
}

int32_t cEncoding::DFRead() {
  if (!mFeed) return errEncoding_ExistingSession;
  try {
    // Put the cursor back where the feed stopped, whatever other calls did
    // in between. Setting it directly (not through GoTo, which clamps to
    // before the last text point) keeps the end of the text the end.
    const int32_t length = Length();
    const int32_t wanted = std::clamp(mFeed->text_point - 1, 0, std::max(length, 0));
    if (mSrc.cursor != wanted) mSrc.cursor = wanted;
    const int32_t c = Next();
    if (c == errEncoding_NoDataAtThatPosition) return c;
    if (c < 0) return c;
    mFeed->last = c;
    ++mFeed->text_point;
    return c;
  } catch (...) {
    return encoding_code_of(std::current_exception(), errEncoding_SystemFailure);
  }
}

int32_t cEncoding::DFPosition() const { return mFeed ? mFeed->text_point : 0; }

int32_t cEncoding::DFTextPoint() {
  if (!mFeed) return 0;
  mSrc.cursor = std::clamp(mFeed->text_point - 1, 0, std::max(Length(), 0));
  return mFeed->text_point - 1;
}

bool cEncoding::DFRawRead(int32_t from, int32_t count, void* buffer) {
  try {
    // The block must lie inside the text: a range of a flow must not read
    // the bytes around it.
    if (!mFeed || from < 0 || from >= Length() || count < 0 || count > Length() - from) return false;
    if (mSrc.kind != cnSourceFlow) return count == 0;
    mSrc.cursor = from;
    if (count == 0) return true;
    if (buffer == nullptr) return false;
    auto* flow = static_cast<cFlow*>(const_cast<void*>(mSrc.source));
    return flow->Seek(int64_t(mSrc.offset) + mSrc.start + from) && flow->Read(buffer, count);
  } catch (...) {
    return false;
  }
}

std::string encoding_to_charstring(cEncoding* encoding) {
  if (encoding == nullptr || !encoding->IsAssociated()) return {};
  const int32_t length = encoding->Length();
  if (length <= 0) return {};
  std::string out;
  out.reserve(size_t(length));
  for (int32_t t = 1; t <= length; ++t) {
    const int32_t c = encoding->Get(t);
    if (c < 0 || c > 255) return {};
    out.push_back(char(uint8_t(c)));
  }
  return out;
}

void encoding_start() {
  encoding_registry_start();
  if (id_cEncoding != 0) return;
  // The module draws six type ids, the first cEncoding's; the code-page
  // modules (Windows/OEM/ISO-8859, the Unicode transformation formats, and
  // the East Asian code pages) draw theirs too, though no class of theirs
  // exists in this system.
  new_type_id(id_cEncoding);
  uint32_t unused = 0;
  for (int i = 0; i < 5 + 31 + 6 + 4; ++i) new_type_id(unused);
}

void encoding_stop() { encoding_registry_stop(); }
