// Queries over a parsed VormCode token list.
//
// Readers walk the tokens themselves (cParserVormCode::FirstToken, then the
// next links) and use these functions to recognise tags and to read property
// values. None of them changes the list. Every function answers true when
// the token or value has the asked shape and the result was delivered; a nil
// token, property or value gives false.
//
// Names compare in the form of string_trim_upper on both sides: ASCII case
// and trailing blanks (and NULs) are ignored. This differs on purpose from
// the parser, whose pairing searches compare exactly.
//
// The colour readers (tblocks_property_color, tblocks_color) need the
// colour-name list and live with it in the imaging layer
// (qlm_parser_vormcode_colors.h).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "qlm_parser_vormcode_tokens.h"

// What a tag test found: the opening's kind (TCT_SECTION, TCT_PROPERTIES,
// TCT_METADATA or TCT_STRUCTURE) and the two partners through which a
// closing is recognised.
struct rTCMatch {
  uint8_t kind = TCT_NONE;
  // The opening token's partner (a generic closing "~\\", "~>" or "~]").
  const rTCToken* partner_token = nullptr;
  // The opening payload's partner: the payload of a closing by name; for a
  // property tag, the partner property.
  const void* partner_payload = nullptr;
};

// One bit per metadata kind for tblocks_is_metadata.
constexpr uint8_t tc_metadata_bit(uint8_t kind) { return kind < 8 ? uint8_t(1u << kind) : uint8_t(0); }

// A TCT_SECTION token with a payload whose label equals `label` and whose
// name equals `name`, or any name when `name` is exactly "~". The match (may
// be nil) gets TCT_SECTION and the partners.
bool tblocks_is_section(const rTCToken* token, std::string_view label, std::string_view name, rTCMatch* match);
// A TCT_STRUCTURE token with a payload of that label and name.
bool tblocks_is_structure(const rTCToken* token, std::string_view label, std::string_view name, rTCMatch* match);
// A TCT_METADATA token with a payload of that label and name whose metadata
// kind is in `kinds` (tc_metadata_bit per kind).
bool tblocks_is_metadata(const rTCToken* token, uint8_t kinds, std::string_view label, std::string_view name,
                         rTCMatch* match);
// The first property of that name of a TCT_PROPERTIES token's list.
bool tblocks_find_property(const rTCToken* token, std::string_view name, const rTCProperty*& property);
// The token closes the tag the match describes. A nil partner never matches.
bool tblocks_is_closing(const rTCToken* token, const rTCMatch* match);

// Value readers. `text` is cleared first. ET_TEXT gives its code points as
// bytes (empty when any is 256 or more); ET_ID, ET_LABEL and ET_IDLABEL the
// stored string; ET_VAR "#" and the name.
bool tblocks_property_text(const rTCProperty* property, std::string& text);
// ET_INTEGER: its low 32 bits.
bool tblocks_property_int(const rTCProperty* property, int32_t& value);
// ET_INTEGER (converted) or ET_FLOAT.
bool tblocks_property_float(const rTCProperty* property, double& value);
// ET_NONE (a property without "=": true) or ET_BOOLEAN.
bool tblocks_property_bool(const rTCProperty* property, bool& value);
// A text-like value read by string_to_bool ("true", "on", "yes" in any case).
bool tblocks_property_yesno(const rTCProperty* property, bool& value);
