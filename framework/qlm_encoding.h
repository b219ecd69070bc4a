// The text model: `cEncoding` is a view of a sequence of code points held in
// one data source (an 8-bit or 16-bit string variable, a full string, a
// NUL-terminated buffer of 8, 16 or 32-bit units, a byte range of a flow, a
// memory block or another encoding), read and written through 1-based text
// points. It either attaches to data the caller keeps (read-only, never
// changed) or adopts a copy into storage of its own, stored at the narrowest
// unit width (1, 2 or 4 bytes) that holds every code point and widened on
// its own when a larger code point is written.
//
// One code unit holds one code point: there are no surrogate pairs and no
// multi-byte sequences. An 8-bit unit is the code point of that byte.
//
// Operations never raise: they answer a negative code of the table below
// (-2 is the normal end of data, not an error).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "qlm_base_object.h"

class cFlow;
class cEncoding;

constexpr int32_t errEncoding_WrongInputParameters = -1;
constexpr int32_t errEncoding_NoDataAtThatPosition = -2;
constexpr int32_t errEncoding_TextPointOutOfRange = -3;
constexpr int32_t errEncoding_IllegalSourceData = -4;
constexpr int32_t errEncoding_DataReadFailure = -5;
constexpr int32_t errEncoding_DataWriteFailure = -6;
constexpr int32_t errEncoding_InsertableParse = -7;
constexpr int32_t errEncoding_SystemFailure = -8;
constexpr int32_t errEncoding_ExhaustedUID = -9;
constexpr int32_t errEncoding_SignatureExists = -10;
constexpr int32_t errEncoding_SourceDataCompatibility = -11;
constexpr int32_t errEncoding_CantReAssociate = -12;
constexpr int32_t errEncoding_BufferCreate = -13;
constexpr int32_t errEncoding_NotAssociated = -14;
constexpr int32_t errEncoding_NotFound = -15;
constexpr int32_t errEncoding_CantCreate = -16;
constexpr int32_t errEncoding_ExistingSession = -17;

// The module's message function: -17..-1 here, everything else to the base.
std::unique_ptr<cExceptionString> qlm_encoding_exception_string(uint32_t code);

extern uint32_t id_cEncoding;

// Source kinds.
constexpr uint8_t cnSourceNone = 0;
constexpr uint8_t cnSourceCharString = 1;
constexpr uint8_t cnSourceWideString = 2;
constexpr uint8_t cnSourceFullString = 3;
constexpr uint8_t cnSourcePChar = 4;
constexpr uint8_t cnSourcePWideChar = 5;
constexpr uint8_t cnSourcePFullChar = 6;
constexpr uint8_t cnSourceFlow = 7;
constexpr uint8_t cnSourceBuffer = 8;
constexpr uint8_t cnSourceEncoding = 9;

constexpr uint8_t EU_CHAR = 1;
constexpr uint8_t EU_WIDE = 2;
constexpr uint8_t EU_FULL = 4;

// ---------------------------------------------------------------------------
// The character feed: a reader record that walks any data source of
// cEncoding from its first unit to its end, one code point per call, without
// an encoding object. The caller owns the record; the feed never owns its
// source.

struct rCharFeed {
  uint8_t kind = 0;
  const void* source = nullptr;
  int32_t unit = 0;
  int32_t length = 0;    // units of the source
  int32_t position = 0;  // units read so far
  uint8_t expand = 0;
  int64_t flow_position = 0;  // flow sources: byte position of the range
  // Expansion state of insertables.
  std::vector<int32_t> collected;
  int32_t collected_count = 0;
  uint8_t state = 0;
  int32_t held = 0;
  int32_t depth = 0;
  int32_t blanks = 0;
  int32_t terminator = 0;
  std::vector<int32_t> expansion;
  int32_t expansion_count = 0;
  int32_t index = 0;
};

// Each open fills the record and answers the first code point, -2 for an
// empty source, -1 for a nil source or bad arguments.
int32_t feed_open_charstring(const std::string& s, rCharFeed& feed, bool expand);
int32_t feed_open_widestring(const std::u16string& s, rCharFeed& feed, bool expand);
// The feed reads the variable at each call: a temporary would dangle.
int32_t feed_open_charstring(std::string&& s, rCharFeed& feed, bool expand) = delete;
int32_t feed_open_widestring(std::u16string&& s, rCharFeed& feed, bool expand) = delete;
int32_t feed_open_fullstring(const int32_t* s, rCharFeed& feed, bool expand);
int32_t feed_open_pchar(const char* p, rCharFeed& feed, bool expand);
int32_t feed_open_pwidechar(const char16_t* p, rCharFeed& feed, bool expand);
int32_t feed_open_pfullchar(const int32_t* p, rCharFeed& feed, bool expand);
int32_t feed_open_flow(cFlow* flow, int32_t unit, rCharFeed& feed, int64_t position, int64_t size, bool expand);
int32_t feed_open_buffer(const void* block, int32_t unit, int32_t size, rCharFeed& feed, bool expand);
int32_t feed_open_encoding(cEncoding* encoding, rCharFeed& feed, bool expand);
// The next code point; -2 at the end (and on every further call); -5 when a
// unit cannot be read; -4 for a negative 32-bit unit. With expand set,
// VormCode insertables "~(" ... ")" are replaced by the code points they
// stand for (a failed one is delivered as written; one still open at the
// end of the source is dropped).
int32_t feed_read(rCharFeed& feed);
// feed_read with expansion, whatever the record's expand flag says.
int32_t feed_read_expanded(rCharFeed& feed);
// The code points the inside of one insertable stands for, written to
// `expansion` (emptied first): their number, or -7 when the text is not a
// valid insertable.
int32_t vorm_insertable_parse(const std::vector<int32_t>& collected, std::vector<int32_t>& expansion);
// The next unit of the source, unexpanded.
int32_t feed_read_raw(rCharFeed& feed);
// Back to the start; answers the first code point again.
int32_t feed_rewind(rCharFeed& feed);
int32_t feed_length(const rCharFeed& feed);
// Releases what the feed holds and zeroes the record.
bool feed_close(rCharFeed& feed);

// ---------------------------------------------------------------------------

struct rDataSource {
  uint8_t enunit = 0;
  uint8_t kind = 0;
  uint8_t mode = 0;  // 0 read-only, 2 writable and resizable (owned storage)
  uint8_t owned = 0;
  int32_t start = 0;
  int32_t offset = 0;
  int32_t size = 0;
  int32_t length = 0;
  int32_t cursor = 0;
  const void* source = nullptr;
};

class cEncoding : public cBase {
 public:
  cEncoding() = default;
  ~cEncoding() override;
  bool Identify(uint32_t id) const override;

  // Attaching: the caller keeps the data alive and unchanged. Results: the
  // new Length, or a negative code.
  int32_t AttachCharString(const std::string& s, int32_t from);
  int32_t AttachWideString(const std::u16string& s, int32_t from);
  // The variable is read at each access: a temporary would dangle.
  int32_t AttachCharString(std::string&& s, int32_t from) = delete;
  int32_t AttachWideString(std::u16string&& s, int32_t from) = delete;
  int32_t AttachFullString(const int32_t* s, int32_t from);
  int32_t AttachPChar(const char* p, int32_t from);
  int32_t AttachPWideChar(const char16_t* p, int32_t from);
  int32_t AttachPFullChar(const int32_t* p, int32_t from);
  int32_t AttachFlow(cFlow* flow, int32_t unit, int32_t from);
  int32_t AttachFlowRange(cFlow* flow, int32_t unit, int64_t offset, int64_t size, int32_t from);
  int32_t AttachBuffer(const void* block, int32_t unit, int32_t size, int32_t from);
  int32_t AttachEncoding(cEncoding* source);

  // Adopting: a copy into owned storage. Results: code points adopted, or a
  // negative code. `from` counts code points (string and buffer forms) or
  // bytes (flow and block forms).
  int32_t AdoptCharString(const std::string& s, int32_t from, bool expand);
  int32_t AdoptWideString(const std::u16string& s, int32_t from, bool expand);
  int32_t AdoptFullString(const int32_t* s, int32_t from, bool expand);
  int32_t AdoptPChar(const char* p, int32_t from, bool expand);
  int32_t AdoptPWideChar(const char16_t* p, int32_t from, bool expand);
  int32_t AdoptPFullChar(const int32_t* p, int32_t from, bool expand);
  int32_t AdoptFlow(cFlow* flow, int32_t unit, int64_t offset, int64_t size, int32_t from, bool expand);
  int32_t AdoptBuffer(const void* block, int32_t unit, int32_t size, int32_t from, bool expand);
  int32_t AdoptEncoding(cEncoding* source, bool expand);

  // The data feed: one reader with its own position.
  int32_t DFOpen();
  int32_t DFPosition() const;
  int32_t DFTextPoint();
  bool DFRawRead(int32_t from, int32_t count, void* buffer);

  virtual std::unique_ptr<cEncoding> CreateNew() const;
  virtual std::unique_ptr<cEncoding> Clone(bool deep) const;
  virtual std::string CodePageTag() const;
  virtual std::string Signature() const;
  virtual std::string Description() const;
  virtual bool IsReadOnly() const { return mSrc.mode == 0; }
  virtual bool IsWritable() const { return mSrc.mode == 1 || mSrc.mode == 2; }
  virtual bool IsResizable() const { return mSrc.mode == 2; }
  virtual bool IsAssociated() const { return mSrc.kind >= 1 && mSrc.kind <= 9; }
  virtual int32_t Decode(int32_t unit_value) const { return unit_value; }
  virtual int32_t Encode(int32_t code_point) const { return code_point; }
  // Bytes needed or written, or a code; `size` becomes 0 when too small.
  virtual int32_t GetBuffer(void* buffer, int32_t& size, bool with_tag);
  virtual int32_t Length() const;
  virtual int32_t First();
  virtual int32_t Last();
  virtual int32_t Get(int32_t text_point);
  virtual int32_t GoTo(int32_t text_point);
  virtual int32_t Curr() const;
  virtual int32_t Next();
  virtual int32_t Prev();
  virtual int32_t Modify(int32_t text_point, int32_t code_point);
  virtual int32_t SetLength(int32_t length, int32_t fill);
  virtual int32_t Insert(int32_t text_point, int32_t count, int32_t code_point);
  virtual int32_t Delete(int32_t text_point, int32_t count);
  virtual int32_t MinCodePoint() const { return 0; }
  virtual int32_t NextCodePoint(int32_t code_point) const;
  virtual int32_t PrevCodePoint(int32_t code_point) const;
  virtual int32_t MaxCodePoint() const { return 0xE01EF; }
  virtual int32_t CodePointCount() const;
  virtual int32_t DFRead();
  virtual bool Dissociate();
  virtual bool Prepare(int32_t purpose, uint8_t kind, int32_t count, int32_t unit);
  virtual int32_t AdoptFeed(int32_t first, rCharFeed& feed);
  virtual int32_t AdoptEncodingFeed(int32_t first, rCharFeed& feed);

  // Read-only view of the source record (tests and the parser read it).
  const rDataSource& DataSource() const { return mSrc; }

 private:
  int32_t ReadUnitAt(int32_t cursor) const;
  int32_t StoreAt(int32_t cursor, int32_t code_point);
  int32_t Widen(int32_t new_length, int32_t new_unit, int32_t pad);
  int32_t WidenFor(int32_t code_point);
  int32_t AttachCommon(uint8_t kind, int32_t unit, const void* source, int32_t start, int32_t offset, int32_t size,
                       int32_t length);
  int32_t AdoptCommon(rCharFeed& feed, int32_t first, int32_t expected, int32_t unit, int32_t skip);
  void ReleaseOwned();

  rDataSource mSrc;
  std::string mText8;
  std::u16string mText16;
  std::vector<int32_t> mText32;
  // The data feed: text point of the next code point, 0 while closed.
  struct rFeedState {
    int32_t last = 0;
    int32_t text_point = 0;
  };
  std::unique_ptr<rFeedState> mFeed;
};

// All code points of the encoding as an 8-bit string; empty when the
// encoding is nil, not associated, empty, or holds a code point of 256 or
// more.
std::string encoding_to_charstring(cEncoding* encoding);

// Module start and stop: the module's type ids.
void encoding_start();
void encoding_stop();
