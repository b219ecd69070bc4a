// The VormCode token model: what one parse of a VormCode text produces.
//
// A parse gives a flat list of tokens in text order (`cVormCodeTokens`).
// Each token has a kind, an optional syntax map, an optional partner token
// (generic closings "~>", "~]", "~\\" and their openings) and a payload that
// depends on the kind: a record, a list or an object owned by the token, or
// a count. Values inside tags (`rTCEntry`) are typed: numbers and booleans
// are held in place, texts, names, lists, records, casts and references are
// owned objects.
//
// Ownership: the token list owns every payload and a payload owns everything
// below it. Every list here is a `cArray` whose entry finalizer frees what
// its entries own. Values nest without limit (lists in lists, records in
// records, casts in casts, references in indices), so freeing never recurses
// per nesting level: nested lists, records, casts and references are handed
// to a per-thread worklist (`tc_dispose`) that the outermost free drains in a
// loop. A value a million levels deep is freed with a constant stack.
//
// Pointer fields and payloads are pointer-sized. Lists are not cloneable:
// their entries own pointers, and a clone would share them (Clone fails with
// 276).
#pragma once

#include <cstdint>
#include <string>

#include "qlm_base_array.h"

class cEncoding;
class cWriteFlow;
class cTCEntries;
class cTCProperties;
class cTCDeref;
class cTCIndex;
class cTCSize;
class cTCTagMapEntries;
struct rTCCast;

// ---------------------------------------------------------------------------
// Token kinds.

constexpr uint8_t TCT_NONE = 0;
constexpr uint8_t TCT_CONTROL = 1;
constexpr uint8_t TCT_DATA = 2;
constexpr uint8_t TCT_SPACE = 3;
constexpr uint8_t TCT_NBSP = 4;
constexpr uint8_t TCT_SECTION = 5;
constexpr uint8_t TCT_SECTION_END = 6;
constexpr uint8_t TCT_PROPERTIES = 7;
constexpr uint8_t TCT_PROPERTIES_END = 8;
constexpr uint8_t TCT_METADATA = 9;
constexpr uint8_t TCT_METADATA_END = 10;
constexpr uint8_t TCT_STRUCTURE = 11;
constexpr uint8_t TCT_STRUCTURE_END = 12;
constexpr uint8_t TCT_INSERTABLE = 13;
constexpr uint8_t TCT_PAREN_CLOSE = 14;
constexpr uint8_t TCT_BRACE_CLOSE = 15;
constexpr uint8_t TCT_EMBEDDED = 16;
constexpr uint8_t TCT_DELIMITER = 17;

// Value kinds.

constexpr uint8_t ET_NONE = 0;
constexpr uint8_t ET_INTEGER = 1;
constexpr uint8_t ET_FLOAT = 2;
constexpr uint8_t ET_BOOLEAN = 3;
constexpr uint8_t ET_TEXT = 4;
constexpr uint8_t ET_ID = 5;
constexpr uint8_t ET_LABEL = 6;
constexpr uint8_t ET_IDLABEL = 7;
constexpr uint8_t ET_VAR = 8;
constexpr uint8_t ET_DEREF = 9;
constexpr uint8_t ET_LIST = 10;
constexpr uint8_t ET_RECORD = 11;
constexpr uint8_t ET_CAST = 12;

// Control-run kinds of rTCT_CONTROL.
constexpr uint8_t cnControlMixed = 0;
constexpr uint8_t cnControlTab = 1;
constexpr uint8_t cnControlCR = 2;
constexpr uint8_t cnControlLF = 3;
constexpr uint8_t cnControlCRLF = 4;

// ---------------------------------------------------------------------------
// Values.

// A typed value: an entry of cTCEntries, and embedded (its link unused) in
// rTCProperty and rTCCast. The value field holds the number in place, or a
// pointer to what the entry owns:
//   ET_INTEGER integer (hex set when written as 0x...), ET_FLOAT real,
//   ET_BOOLEAN boolean (0 or 1), ET_TEXT cEncoding, ET_ID / ET_LABEL /
//   ET_IDLABEL / ET_VAR std::string, ET_DEREF cTCDeref, ET_LIST cTCEntries,
//   ET_RECORD cTCProperties, ET_CAST rTCCast.
struct rTCEntry {
  rTCEntry* next = nullptr;
  uint8_t kind = ET_NONE;
  uint8_t hex = 0;
  union uValue {
    int64_t integer;
    double real;
    uint8_t boolean;
    void* pointer;
  } value{};

  // The owned object for the matching kind; nil for any other kind.
  cEncoding* Text() const;
  std::string* String() const;
  cTCDeref* Deref() const;
  cTCEntries* List() const;
  cTCProperties* Record() const;
  rTCCast* Cast() const;
};

// Frees what the value owns and makes it ET_NONE (hex flag cleared). Nested
// lists, records, casts and references go through the worklist.
void tc_entry_free(rTCEntry& entry) noexcept;

// A type: "name", "&name(enum)", either with "[n,n]" dimensions.
struct rTCType {
  std::string name;
  std::string enum_name;
  uint8_t cast = 0;
  cTCSize* dimensions = nullptr;  // owned; nil without "[...]"
};
// Frees the type with its dimensions; nil is allowed.
void tc_type_free(rTCType* type) noexcept;

// A cast "&type(value)". Created with new, freed with tc_cast_free.
struct rTCCast {
  std::string type_name;
  rTCEntry value;
};
void tc_cast_free(rTCCast* cast) noexcept;

// A property of a property list or record.
struct rTCProperty {
  rTCProperty* next = nullptr;
  std::string name;
  rTCType* type = nullptr;  // owned
  uint8_t variable = 0;
  rTCEntry value;
  rTCProperty* partner = nullptr;  // the paired property of a closing list
};

// One step of a reference path: ".name" or the variable itself, with the
// indices of a following "[...]".
struct rTCDerefItem {
  rTCDerefItem* next = nullptr;
  std::string name;
  cTCIndex* indices = nullptr;  // owned
};

constexpr uint8_t cnIndexNumber = 0;
constexpr uint8_t cnIndexReference = 1;

struct rTCIndexItem {
  rTCIndexItem* next = nullptr;
  uint8_t kind = cnIndexNumber;
  int32_t number = 0;         // kind 0
  cTCDeref* deref = nullptr;  // kind 1, owned
};

struct rTCSizeItem {
  rTCSizeItem* next = nullptr;
  int32_t size = 0;
};

// ---------------------------------------------------------------------------
// Syntax map of a tag token: its source characters and what each run of
// them is.

struct rTCTagMapEntry {
  rTCTagMapEntry* next = nullptr;
  uint8_t kind = 0;
  int32_t first = 0;  // 1-based position in the map text
  int32_t length = 0;
};

struct rTCTagMap {
  rTCTagMap() = default;
  rTCTagMap(const rTCTagMap&) = delete;
  rTCTagMap& operator=(const rTCTagMap&) = delete;
  ~rTCTagMap();
  cEncoding* text = nullptr;            // owned
  cTCTagMapEntries* entries = nullptr;  // owned
};

// ---------------------------------------------------------------------------
// Token payloads.

struct rTCT_CONTROL {
  uint8_t kind = cnControlMixed;
  std::string text;   // the control characters as read (low byte of each)
  int32_t count = 0;  // TABs, CRs, LFs, CR LF pairs; kind 0: characters
};

struct rTCT_SECTION {
  std::string label;
  std::string name;
  cTCProperties* properties = nullptr;  // owned
  rTCT_SECTION* partner = nullptr;
};

constexpr uint8_t cnMetadataLabel = 0;
constexpr uint8_t cnMetadataProperties = 1;
constexpr uint8_t cnMetadataList = 2;
constexpr uint8_t cnMetadataValue = 3;
constexpr uint8_t cnMetadataType = 4;
constexpr uint8_t cnMetadataRecordType = 5;

struct rTCT_METADATA {
  uint8_t kind = cnMetadataLabel;
  std::string label;
  std::string name;         // the "@" name or the alias
  rTCType* type = nullptr;  // owned
  uint8_t variable = 0;
  rTCT_METADATA* partner = nullptr;
  // Owned: cTCProperties (kinds 1 and 5), cTCEntries (kind 2), rTCEntry
  // (kind 3, created with new); nil otherwise.
  void* data = nullptr;

  cTCProperties* Properties() const;
  cTCEntries* List() const;
  rTCEntry* Value() const;
};

struct rTCT_STRUCTURE {
  std::string label;
  std::string name;
  uint8_t variable = 0;
  cTCProperties* properties = nullptr;  // owned
  rTCT_STRUCTURE* partner = nullptr;
};

constexpr uint8_t cnInsertableNone = 0;
constexpr uint8_t cnInsertableName = 1;
constexpr uint8_t cnInsertableCast = 2;
constexpr uint8_t cnInsertableReference = 3;
constexpr uint8_t cnInsertableText = 4;
constexpr uint8_t cnInsertableTildes = 5;

struct rTCT_INSERTABLE {
  uint8_t kind = cnInsertableNone;
  std::string name;
  std::string label;
  uint8_t variable = 0;
  // Owned: cTCProperties or nil (kind 1), rTCCast (2), cTCDeref (3),
  // cEncoding (4); nil for kind 5, whose count is below.
  void* data = nullptr;
  int32_t count = 0;  // kind 5: the number of "~"

  cTCProperties* Properties() const;
  rTCCast* Cast() const;
  cTCDeref* Deref() const;
  cEncoding* Text() const;
};

// ---------------------------------------------------------------------------
// The token.

struct rTCToken {
  rTCToken* next = nullptr;
  uint8_t kind = TCT_NONE;
  rTCTagMap* map = nullptr;  // owned; nil unless syntax maps are recorded
  rTCToken* partner = nullptr;
  // The payload: an owned object or record by kind, or the count of a
  // space or no-break-space run.
  union uPayload {
    void* pointer;
    int64_t count;
  } payload{};

  // The payload for the matching kind; nil (0) for any other kind.
  rTCT_CONTROL* Control() const;
  cEncoding* Data() const;            // TCT_DATA
  int64_t Count() const;              // TCT_SPACE, TCT_NBSP
  rTCT_SECTION* Section() const;      // TCT_SECTION, TCT_SECTION_END
  cTCProperties* Properties() const;  // TCT_PROPERTIES, TCT_PROPERTIES_END
  rTCT_METADATA* Metadata() const;    // TCT_METADATA, TCT_METADATA_END
  rTCT_STRUCTURE* Structure() const;  // TCT_STRUCTURE, TCT_STRUCTURE_END
  rTCT_INSERTABLE* Insertable() const;
  cWriteFlow* Embedded() const;  // TCT_EMBEDDED
  cEncoding* Delimiter() const;  // TCT_DELIMITER
};

// Frees the token's payload by its kind, then its syntax map; the token
// becomes TCT_NONE without payload, map or partner.
void tc_token_free(rTCToken& token) noexcept;

// ---------------------------------------------------------------------------
// The worklist. Hands an owned nested object to the free loop of this
// thread: freed at once when no free is running, otherwise when the running
// free gets to it. Nil is ignored.

constexpr uint8_t cnDisposeEntries = 1;     // cTCEntries
constexpr uint8_t cnDisposeProperties = 2;  // cTCProperties
constexpr uint8_t cnDisposeCast = 3;        // rTCCast
constexpr uint8_t cnDisposeDeref = 4;       // cTCDeref
constexpr uint8_t cnDisposeIndex = 5;       // cTCIndex
void tc_dispose(uint8_t kind, void* object) noexcept;

// ---------------------------------------------------------------------------
// The lists. Each owns what its entries own; none of them can be cloned.

// Base of the owning lists: refuses to copy entries.
template <typename E, uint8_t K>
class cTCList : public cArrayOf<E, K> {
 public:
  explicit cTCList(uint8_t capacity_class) : cArrayOf<E, K>(capacity_class) {}
  bool CopyEntries(const void*, void*, uint32_t) override { return false; }

 protected:
  cArray* NewEmpty() const override { return nullptr; }
};

// Context of an enclosing value while an inner one is parsed.
struct rEntryStackItem {
  uint8_t state = 0;
  cTCProperties* properties = nullptr;
  rTCProperty* property = nullptr;
  cTCEntries* entries = nullptr;
  rTCEntry* entry = nullptr;
};

// Context of an enclosing reference path while an index path is parsed.
struct rDerefStackItem {
  uint8_t state = 0;
  cTCDeref* deref = nullptr;
  rTCDerefItem* item = nullptr;
};

class cEntryStack : public cArrayOf<rEntryStackItem, 0> {
 public:
  cEntryStack() : cArrayOf<rEntryStackItem, 0>(5) {}
};

class cDerefStack : public cArrayOf<rDerefStackItem, 0> {
 public:
  cDerefStack() : cArrayOf<rDerefStackItem, 0>(5) {}
};

class cTCTagMapEntries : public cArrayOf<rTCTagMapEntry, 1> {
 public:
  cTCTagMapEntries() : cArrayOf<rTCTagMapEntry, 1>(5) {}
};

class cTCSize : public cArrayOf<rTCSizeItem, 1> {
 public:
  cTCSize() : cArrayOf<rTCSizeItem, 1>(5) {}
};

class cTCDeref : public cTCList<rTCDerefItem, 1> {
 public:
  cTCDeref() : cTCList<rTCDerefItem, 1>(5) {}
  ~cTCDeref() override { Clear(); }
  void FinalizeEntries(void* first, uint32_t n) override;
};

class cTCIndex : public cTCList<rTCIndexItem, 1> {
 public:
  cTCIndex() : cTCList<rTCIndexItem, 1>(5) {}
  ~cTCIndex() override { Clear(); }
  void FinalizeEntries(void* first, uint32_t n) override;
};

class cTCProperties : public cTCList<rTCProperty, 1> {
 public:
  cTCProperties() : cTCList<rTCProperty, 1>(5) {}
  ~cTCProperties() override { Clear(); }
  void FinalizeEntries(void* first, uint32_t n) override;
};

class cTCEntries : public cTCList<rTCEntry, 1> {
 public:
  cTCEntries() : cTCList<rTCEntry, 1>(5) {}
  ~cTCEntries() override { Clear(); }
  void FinalizeEntries(void* first, uint32_t n) override;
};

class cVormCodeTokens : public cTCList<rTCToken, 1> {
 public:
  cVormCodeTokens() : cTCList<rTCToken, 1>(6) {}
  ~cVormCodeTokens() override { Clear(); }
  void FinalizeEntries(void* first, uint32_t n) override;
};
