// The VormCode token model: payload access and ownership.
#include "qlm_parser_vormcode_tokens.h"

#include <new>
#include <vector>

#include "qlm_base_flow.h"
#include "qlm_encoding.h"

// ---------------------------------------------------------------------------
// The worklist.

namespace {

struct rPending {
  uint8_t kind;
  void* object;
};

// The worklist of the free loop running on this thread; nil when none runs.
thread_local std::vector<rPending>* gPending = nullptr;

void delete_now(uint8_t kind, void* object) noexcept {
  switch (kind) {
    case cnDisposeEntries: delete static_cast<cTCEntries*>(object); break;
    case cnDisposeProperties: delete static_cast<cTCProperties*>(object); break;
    case cnDisposeCast: {
      auto* cast = static_cast<rTCCast*>(object);
      tc_entry_free(cast->value);
      delete cast;
      break;
    }
    case cnDisposeDeref: delete static_cast<cTCDeref*>(object); break;
    case cnDisposeIndex: delete static_cast<cTCIndex*>(object); break;
    default: break;
  }
}

}  // namespace

void tc_dispose(uint8_t kind, void* object) noexcept {
  if (object == nullptr) return;
  if (gPending != nullptr) {
    try {
      gPending->push_back(rPending{kind, object});
      return;
    } catch (...) {
      // No room on the worklist: free it here (one level deeper).
    }
    delete_now(kind, object);
    return;
  }
  std::vector<rPending> pending;
  gPending = &pending;
  delete_now(kind, object);
  while (!pending.empty()) {
    const rPending next = pending.back();
    pending.pop_back();
    delete_now(next.kind, next.object);
  }
  gPending = nullptr;
}

// ---------------------------------------------------------------------------
// Values.

namespace {
template <typename T>
T* pointer_if(const rTCEntry& e, bool match) {
  return match ? static_cast<T*>(e.value.pointer) : nullptr;
}
}  // namespace

cEncoding* rTCEntry::Text() const { return pointer_if<cEncoding>(*this, kind == ET_TEXT); }
std::string* rTCEntry::String() const { return pointer_if<std::string>(*this, kind >= ET_ID && kind <= ET_VAR); }
cTCDeref* rTCEntry::Deref() const { return pointer_if<cTCDeref>(*this, kind == ET_DEREF); }
cTCEntries* rTCEntry::List() const { return pointer_if<cTCEntries>(*this, kind == ET_LIST); }
cTCProperties* rTCEntry::Record() const { return pointer_if<cTCProperties>(*this, kind == ET_RECORD); }
rTCCast* rTCEntry::Cast() const { return pointer_if<rTCCast>(*this, kind == ET_CAST); }

void tc_entry_free(rTCEntry& entry) noexcept {
  void* p = entry.value.pointer;
  switch (entry.kind) {
    case ET_TEXT: delete static_cast<cEncoding*>(p); break;
    case ET_ID:
    case ET_LABEL:
    case ET_IDLABEL:
    case ET_VAR: delete static_cast<std::string*>(p); break;
    case ET_DEREF: tc_dispose(cnDisposeDeref, p); break;
    case ET_LIST: tc_dispose(cnDisposeEntries, p); break;
    case ET_RECORD: tc_dispose(cnDisposeProperties, p); break;
    case ET_CAST: tc_dispose(cnDisposeCast, p); break;
    default: break;
  }
  entry.kind = ET_NONE;
  entry.hex = 0;
  entry.value.integer = 0;
}

void tc_type_free(rTCType* type) noexcept {
  if (type == nullptr) return;
  delete type->dimensions;
  delete type;
}

void tc_cast_free(rTCCast* cast) noexcept { tc_dispose(cnDisposeCast, cast); }

rTCTagMap::~rTCTagMap() {
  delete text;
  delete entries;
}

// ---------------------------------------------------------------------------
// Payload access.

cTCProperties* rTCT_METADATA::Properties() const {
  return (kind == cnMetadataProperties || kind == cnMetadataRecordType) ? static_cast<cTCProperties*>(data) : nullptr;
}
cTCEntries* rTCT_METADATA::List() const { return kind == cnMetadataList ? static_cast<cTCEntries*>(data) : nullptr; }
rTCEntry* rTCT_METADATA::Value() const { return kind == cnMetadataValue ? static_cast<rTCEntry*>(data) : nullptr; }

cTCProperties* rTCT_INSERTABLE::Properties() const {
  return kind == cnInsertableName ? static_cast<cTCProperties*>(data) : nullptr;
}
rTCCast* rTCT_INSERTABLE::Cast() const { return kind == cnInsertableCast ? static_cast<rTCCast*>(data) : nullptr; }
cTCDeref* rTCT_INSERTABLE::Deref() const {
  return kind == cnInsertableReference ? static_cast<cTCDeref*>(data) : nullptr;
}
cEncoding* rTCT_INSERTABLE::Text() const { return kind == cnInsertableText ? static_cast<cEncoding*>(data) : nullptr; }

namespace {
template <typename T>
T* payload_if(const rTCToken& t, bool match) {
  return match ? static_cast<T*>(t.payload.pointer) : nullptr;
}
}  // namespace

rTCT_CONTROL* rTCToken::Control() const { return payload_if<rTCT_CONTROL>(*this, kind == TCT_CONTROL); }
cEncoding* rTCToken::Data() const { return payload_if<cEncoding>(*this, kind == TCT_DATA); }
int64_t rTCToken::Count() const { return (kind == TCT_SPACE || kind == TCT_NBSP) ? payload.count : 0; }
rTCT_SECTION* rTCToken::Section() const {
  return payload_if<rTCT_SECTION>(*this, kind == TCT_SECTION || kind == TCT_SECTION_END);
}
cTCProperties* rTCToken::Properties() const {
  return payload_if<cTCProperties>(*this, kind == TCT_PROPERTIES || kind == TCT_PROPERTIES_END);
}
rTCT_METADATA* rTCToken::Metadata() const {
  return payload_if<rTCT_METADATA>(*this, kind == TCT_METADATA || kind == TCT_METADATA_END);
}
rTCT_STRUCTURE* rTCToken::Structure() const {
  return payload_if<rTCT_STRUCTURE>(*this, kind == TCT_STRUCTURE || kind == TCT_STRUCTURE_END);
}
rTCT_INSERTABLE* rTCToken::Insertable() const { return payload_if<rTCT_INSERTABLE>(*this, kind == TCT_INSERTABLE); }
cWriteFlow* rTCToken::Embedded() const { return payload_if<cWriteFlow>(*this, kind == TCT_EMBEDDED); }
cEncoding* rTCToken::Delimiter() const { return payload_if<cEncoding>(*this, kind == TCT_DELIMITER); }

// ---------------------------------------------------------------------------
// Freeing a token.

void tc_token_free(rTCToken& token) noexcept {
  void* p = token.payload.pointer;
  switch (token.kind) {
    case TCT_CONTROL: delete static_cast<rTCT_CONTROL*>(p); break;
    case TCT_DATA:
    case TCT_DELIMITER: delete static_cast<cEncoding*>(p); break;
    case TCT_PROPERTIES:
    case TCT_PROPERTIES_END: tc_dispose(cnDisposeProperties, p); break;
    case TCT_SECTION:
    case TCT_SECTION_END: {
      auto* section = static_cast<rTCT_SECTION*>(p);
      if (section != nullptr) {
        tc_dispose(cnDisposeProperties, section->properties);
        delete section;
      }
      break;
    }
    case TCT_METADATA:
    case TCT_METADATA_END: {
      auto* metadata = static_cast<rTCT_METADATA*>(p);
      if (metadata != nullptr) {
        tc_type_free(metadata->type);
        switch (metadata->kind) {
          case cnMetadataProperties:
          case cnMetadataRecordType: tc_dispose(cnDisposeProperties, metadata->data); break;
          case cnMetadataList: tc_dispose(cnDisposeEntries, metadata->data); break;
          case cnMetadataValue: {
            auto* value = static_cast<rTCEntry*>(metadata->data);
            if (value != nullptr) {
              tc_entry_free(*value);
              delete value;
            }
            break;
          }
          default: break;
        }
        delete metadata;
      }
      break;
    }
    case TCT_STRUCTURE:
    case TCT_STRUCTURE_END: {
      auto* structure = static_cast<rTCT_STRUCTURE*>(p);
      if (structure != nullptr) {
        tc_dispose(cnDisposeProperties, structure->properties);
        delete structure;
      }
      break;
    }
    case TCT_INSERTABLE: {
      auto* insertable = static_cast<rTCT_INSERTABLE*>(p);
      if (insertable != nullptr) {
        switch (insertable->kind) {
          case cnInsertableName: tc_dispose(cnDisposeProperties, insertable->data); break;
          case cnInsertableCast: tc_dispose(cnDisposeCast, insertable->data); break;
          case cnInsertableReference: tc_dispose(cnDisposeDeref, insertable->data); break;
          case cnInsertableText: delete static_cast<cEncoding*>(insertable->data); break;
          default: break;
        }
        delete insertable;
      }
      break;
    }
    case TCT_EMBEDDED: delete static_cast<cWriteFlow*>(p); break;
    default: break;
  }
  delete token.map;
  token.kind = TCT_NONE;
  token.payload.pointer = nullptr;
  token.map = nullptr;
  token.partner = nullptr;
}

// ---------------------------------------------------------------------------
// Finalizers: each frees what its entries own, then destroys the entries.

void cTCDeref::FinalizeEntries(void* first, uint32_t n) {
  auto* item = static_cast<rTCDerefItem*>(first);
  for (uint32_t i = 0; i < n && item != nullptr; ++i, item = item->next) {
    tc_dispose(cnDisposeIndex, item->indices);
    item->indices = nullptr;
  }
  cTCList<rTCDerefItem, 1>::FinalizeEntries(first, n);
}

void cTCIndex::FinalizeEntries(void* first, uint32_t n) {
  auto* item = static_cast<rTCIndexItem*>(first);
  for (uint32_t i = 0; i < n && item != nullptr; ++i, item = item->next) {
    tc_dispose(cnDisposeDeref, item->deref);
    item->deref = nullptr;
  }
  cTCList<rTCIndexItem, 1>::FinalizeEntries(first, n);
}

void cTCProperties::FinalizeEntries(void* first, uint32_t n) {
  auto* property = static_cast<rTCProperty*>(first);
  for (uint32_t i = 0; i < n && property != nullptr; ++i, property = property->next) {
    tc_type_free(property->type);
    property->type = nullptr;
    tc_entry_free(property->value);
  }
  cTCList<rTCProperty, 1>::FinalizeEntries(first, n);
}

void cTCEntries::FinalizeEntries(void* first, uint32_t n) {
  auto* entry = static_cast<rTCEntry*>(first);
  for (uint32_t i = 0; i < n && entry != nullptr; ++i, entry = entry->next) tc_entry_free(*entry);
  cTCList<rTCEntry, 1>::FinalizeEntries(first, n);
}

void cVormCodeTokens::FinalizeEntries(void* first, uint32_t n) {
  auto* token = static_cast<rTCToken*>(first);
  for (uint32_t i = 0; i < n && token != nullptr; ++i, token = token->next) tc_token_free(*token);
  cTCList<rTCToken, 1>::FinalizeEntries(first, n);
}
