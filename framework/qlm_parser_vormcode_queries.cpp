// Queries over a parsed VormCode token list: tag tests, closing tests,
// property look-up and the typed value readers (colours: imaging layer).
#include "qlm_parser_vormcode_queries.h"

#include "qlm_base_util.h"
#include "qlm_encoding.h"

namespace {

// Name equality of the queries: both sides in the form of string_trim_upper.
bool same_key(std::string_view a, std::string_view b) { return string_trim_upper(a) == string_trim_upper(b); }

void fill(rTCMatch* match, uint8_t kind, const rTCToken* token, const void* partner_payload) {
  if (match == nullptr) return;
  match->kind = kind;
  match->partner_token = token->partner;
  match->partner_payload = partner_payload;
}

}  // namespace

// The tag tests answer false on any exception (string_trim_upper may run
// out of memory): a reader asking "is this my tag?" gets no.
bool tblocks_is_section(const rTCToken* token, std::string_view label, std::string_view name, rTCMatch* match) {
  try {
    if (token == nullptr || token->kind != TCT_SECTION) return false;
    const rTCT_SECTION* section = token->Section();
    if (section == nullptr || !same_key(section->label, label)) return false;
    if (name != "~" && !same_key(section->name, name)) return false;
    fill(match, TCT_SECTION, token, section->partner);
    return true;
  } catch (...) {
    return false;
  }
}

bool tblocks_is_structure(const rTCToken* token, std::string_view label, std::string_view name, rTCMatch* match) {
  try {
    if (token == nullptr || token->kind != TCT_STRUCTURE) return false;
    const rTCT_STRUCTURE* structure = token->Structure();
    if (structure == nullptr || !same_key(structure->label, label) || !same_key(structure->name, name)) return false;
    fill(match, TCT_STRUCTURE, token, structure->partner);
    return true;
  } catch (...) {
    return false;
  }
}

bool tblocks_is_metadata(const rTCToken* token, uint8_t kinds, std::string_view label, std::string_view name,
                         rTCMatch* match) {
  try {
    if (token == nullptr || token->kind != TCT_METADATA) return false;
    const rTCT_METADATA* metadata = token->Metadata();
    if (metadata == nullptr || (kinds & tc_metadata_bit(metadata->kind)) == 0) return false;
    if (!same_key(metadata->label, label) || !same_key(metadata->name, name)) return false;
    fill(match, TCT_METADATA, token, metadata->partner);
    return true;
  } catch (...) {
    return false;
  }
}

bool tblocks_find_property(const rTCToken* token, std::string_view name, const rTCProperty*& property) {
  try {
    if (token == nullptr || token->kind != TCT_PROPERTIES) return false;
    const cTCProperties* list = token->Properties();
    if (list == nullptr) return false;
    const std::string key = string_trim_upper(name);
    for (const rTCProperty* p = list->First(); p != nullptr; p = p->next) {
      if (string_trim_upper(p->name) == key) {
        property = p;
        return true;
      }
    }
    return false;
  } catch (...) {
    return false;
  }
}

bool tblocks_is_closing(const rTCToken* token, const rTCMatch* match) {
  if (token == nullptr || match == nullptr) return false;
  // Identity with a partner counts only when that partner exists: a
  // payload-less "~\\" must not "match" an opening that nothing closed.
  const bool is_partner_token = match->partner_token != nullptr && match->partner_token == token;
  const void* wanted = match->partner_payload;
  switch (match->kind) {
    case TCT_SECTION:
      if (token->kind != TCT_SECTION_END) return false;
      return is_partner_token || (wanted != nullptr && token->Section() == wanted);
    case TCT_PROPERTIES: {
      if (token->kind != TCT_PROPERTIES_END) return false;
      if (is_partner_token) return true;
      const cTCProperties* list = token->Properties();
      if (wanted == nullptr || list == nullptr) return false;
      for (const rTCProperty* p = list->First(); p != nullptr; p = p->next)
        if (p == wanted) return true;
      return false;
    }
    case TCT_METADATA: return token->kind == TCT_METADATA_END && wanted != nullptr && token->Metadata() == wanted;
    case TCT_STRUCTURE:
      if (token->kind != TCT_STRUCTURE_END) return false;
      return is_partner_token || (wanted != nullptr && token->Structure() == wanted);
    default: return false;
  }
}

bool tblocks_property_text(const rTCProperty* property, std::string& text) {
  text.clear();
  if (property == nullptr) return false;
  const rTCEntry& value = property->value;
  switch (value.kind) {
    case ET_TEXT:
      // Empty when any code point is 256 or more (or the value has no text).
      text = encoding_to_charstring(value.Text());
      return true;
    case ET_ID:
    case ET_LABEL:
    case ET_IDLABEL:
      if (const std::string* s = value.String()) text = *s;
      return true;
    case ET_VAR:
      if (const std::string* s = value.String()) text = "#" + *s;
      return true;
    default: return false;
  }
}

bool tblocks_property_int(const rTCProperty* property, int32_t& value) {
  if (property == nullptr || property->value.kind != ET_INTEGER) return false;
  value = int32_t(uint32_t(uint64_t(property->value.value.integer)));
  return true;
}

bool tblocks_property_float(const rTCProperty* property, double& value) {
  if (property == nullptr) return false;
  switch (property->value.kind) {
    case ET_INTEGER: value = double(property->value.value.integer); return true;
    case ET_FLOAT: value = property->value.value.real; return true;
    default: return false;
  }
}

bool tblocks_property_bool(const rTCProperty* property, bool& value) {
  if (property == nullptr) return false;
  switch (property->value.kind) {
    case ET_NONE: value = true; return true;
    case ET_BOOLEAN: value = property->value.value.boolean != 0; return true;
    default: return false;
  }
}

bool tblocks_property_yesno(const rTCProperty* property, bool& value) {
  std::string text;
  if (!tblocks_property_text(property, text)) return false;
  value = string_to_bool(text);
  return true;
}
