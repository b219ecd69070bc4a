// What every VormCode parse must satisfy, whatever its text: shared by the
// parser and value fuzz targets (and their corpus replays).
//
// After any parse, successful or not, every query runs over every token and
// every property without crashing. After a successful parse the tokens are
// well formed: each payload fits its kind, generic partners are mutual and
// of one tag family, payload partners point to payloads of the matching
// kind, and (with syntax maps) the tokens' source texts put together give
// the input exactly. A failed parse reports a known code and a position
// inside the text (or one past its end, for a text that ends inside a tag).
// Any violation aborts, so the fuzzer reports it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "qlm_base_flow.h"
#include "qlm_encoding.h"
#include "qlm_parser_vormcode.h"
#include "qlm_parser_vormcode_colors.h"
#include "qlm_parser_vormcode_queries.h"

namespace vormcode_fuzz {

[[noreturn]] inline void fail(const char* what) {
  std::fprintf(stderr, "VormCode invariant broken: %s\n", what);
  std::abort();
}
inline void require(bool condition, const char* what) {
  if (!condition) fail(what);
}

inline void append_codepoints(std::vector<int32_t>& out, cEncoding* en) {
  if (en == nullptr) return;
  const int32_t n = en->Length();
  for (int32_t t = 1; t <= n; ++t) out.push_back(en->Get(t));
}

// Every property list a token holds directly.
inline std::vector<const cTCProperties*> token_lists(const rTCToken* t) {
  std::vector<const cTCProperties*> lists;
  if (const cTCProperties* p = t->Properties()) lists.push_back(p);
  if (const rTCT_SECTION* s = t->Section(); s && s->properties) lists.push_back(s->properties);
  if (const rTCT_STRUCTURE* s = t->Structure(); s && s->properties) lists.push_back(s->properties);
  if (const rTCT_METADATA* m = t->Metadata(); m && m->Properties()) lists.push_back(m->Properties());
  if (const rTCT_INSERTABLE* in = t->Insertable(); in && in->Properties()) lists.push_back(in->Properties());
  return lists;
}

// Walks every value below the token (lists, records, casts, metadata
// values) without recursion; `on_value` sees each entry, `on_property` each
// property of a list or record.
template <typename V, typename P>
void walk_values(const rTCToken* t, V&& on_value, P&& on_property) {
  std::vector<const rTCEntry*> values;
  std::vector<const cTCProperties*> records = token_lists(t);
  if (const rTCT_METADATA* m = t->Metadata()) {
    if (const cTCEntries* list = m->List())
      for (const rTCEntry* e = list->First(); e; e = e->next) values.push_back(e);
    if (const rTCEntry* v = m->Value()) values.push_back(v);
  }
  if (const rTCT_INSERTABLE* in = t->Insertable())
    if (const rTCCast* c = in->Cast()) values.push_back(&c->value);
  while (!values.empty() || !records.empty()) {
    if (!records.empty()) {
      const cTCProperties* list = records.back();
      records.pop_back();
      for (const rTCProperty* p = list->First(); p; p = p->next) {
        on_property(p);
        values.push_back(&p->value);
      }
      continue;
    }
    const rTCEntry* v = values.back();
    values.pop_back();
    on_value(v);
    if (const cTCEntries* list = v->List())
      for (const rTCEntry* e = list->First(); e; e = e->next) values.push_back(e);
    if (const cTCProperties* record = v->Record()) records.push_back(record);
    if (const rTCCast* c = v->Cast()) values.push_back(&c->value);
  }
}

// Runs every query over every token and property. Must never crash, also on
// the half-built tokens a failed parse leaves.
inline void run_queries(const cParserVormCode& parser) {
  constexpr int kClosingLookAhead = 64;
  for (const rTCToken* t = parser.FirstToken(); t != nullptr; t = t->next) {
    rTCMatch match;
    bool matched = false;
    if (const rTCT_SECTION* s = t->Section()) {
      matched = tblocks_is_section(t, s->label, "~", &match);
      if (t->kind == TCT_SECTION)
        require(matched && tblocks_is_section(t, s->label, s->name, nullptr),
                "a section does not match its own label and name");
    }
    if (const rTCT_STRUCTURE* s = t->Structure()) {
      const bool is = tblocks_is_structure(t, s->label, s->name, &match);
      require(is == (t->kind == TCT_STRUCTURE), "structure test");
      matched = matched || is;
    }
    if (const rTCT_METADATA* m = t->Metadata()) {
      const bool is = tblocks_is_metadata(t, 0xFF, m->label, m->name, &match);
      require(is == (t->kind == TCT_METADATA && m->kind < 8), "metadata test");
      matched = matched || is;
    }
    if (matched) {
      // A tag may be closed twice (a generic "~\\" and a closing by name):
      // only that the tests run and agree with the partners is checked.
      const rTCToken* n = t->next;
      for (int k = 0; n != nullptr && k < kClosingLookAhead; ++k, n = n->next)
        if (tblocks_is_closing(n, &match))
          require(n == match.partner_token || match.partner_payload != nullptr, "closing without a partner");
    }
    for (const cTCProperties* list : token_lists(t)) {
      for (const rTCProperty* p = list->First(); p; p = p->next) {
        const rTCProperty* found = nullptr;
        if (tblocks_find_property(t, p->name, found)) require(found != nullptr, "find_property without result");
      }
    }
    walk_values(
        t,
        [](const rTCEntry* v) {
          uint32_t color = 0;
          tblocks_property_color(v, color);
        },
        [](const rTCProperty* p) {
          std::string text;
          int32_t i = 0;
          double d = 0;
          bool b = false;
          uint32_t color = 0;
          const bool is_text = tblocks_property_text(p, text);
          require(tblocks_property_yesno(p, b) == is_text, "yesno differs from text");
          tblocks_property_int(p, i);
          tblocks_property_float(p, d);
          tblocks_property_bool(p, b);
          tblocks_color(p, color);
        });
  }
}

// Payloads by kind, and the values below them, on a finished parse.
inline void check_payloads(const cParserVormCode& parser) {
  for (const rTCToken* t = parser.FirstToken(); t != nullptr; t = t->next) {
    require(t->kind <= TCT_DELIMITER, "token kind out of range");
    switch (t->kind) {
      case TCT_NONE:
      case TCT_PAREN_CLOSE:
      case TCT_BRACE_CLOSE: require(t->payload.pointer == nullptr, "payload on a payload-less kind"); break;
      case TCT_CONTROL: {
        const rTCT_CONTROL* c = t->Control();
        require(c != nullptr && !c->text.empty(), "control token without text");
        for (char ch : c->text) require(uint8_t(ch) < 32, "control text holds a non-control byte");
        const int32_t size = int32_t(c->text.size());
        switch (c->kind) {
          case cnControlMixed: require(c->count == size, "mixed control count"); break;
          case cnControlTab: require(c->count == size && c->text == std::string(size_t(size), '\t'), "TAB run"); break;
          case cnControlCR: require(c->count == size && c->text == std::string(size_t(size), '\r'), "CR run"); break;
          case cnControlLF: require(c->count == size && c->text == std::string(size_t(size), '\n'), "LF run"); break;
          case cnControlCRLF: {
            require(size % 2 == 0 && c->count == size / 2, "CR LF count");
            for (int32_t k = 0; k < size; ++k) require(c->text[size_t(k)] == (k % 2 ? '\n' : '\r'), "CR LF run");
            break;
          }
          default: fail("control kind out of range");
        }
        break;
      }
      case TCT_DATA: require(t->Data() != nullptr && t->Data()->Length() > 0, "empty data token"); break;
      case TCT_SPACE:
      case TCT_NBSP: require(t->Count() > 0, "empty blank run"); break;
      case TCT_SECTION: require(t->Section() != nullptr, "section without payload"); break;
      case TCT_PROPERTIES: require(t->Properties() != nullptr, "property tag without list"); break;
      case TCT_METADATA:
      case TCT_METADATA_END: {
        const rTCT_METADATA* m = t->Metadata();
        require(m != nullptr && m->kind <= cnMetadataRecordType, "metadata payload");
        if (m->kind == cnMetadataLabel || m->kind == cnMetadataType) require(m->data == nullptr, "metadata data");
        if (m->kind == cnMetadataValue) require(m->data != nullptr, "metadata value missing");
        if (m->kind == cnMetadataType) require(m->type != nullptr, "type declaration without type");
        break;
      }
      case TCT_STRUCTURE: require(t->Structure() != nullptr, "structure without payload"); break;
      case TCT_INSERTABLE: {
        const rTCT_INSERTABLE* in = t->Insertable();
        require(in != nullptr && in->kind <= cnInsertableTildes, "insertable payload");
        if (in->kind == cnInsertableCast) require(in->data != nullptr, "insertable cast missing");
        if (in->kind == cnInsertableReference) require(in->data != nullptr, "insertable reference missing");
        if (in->kind == cnInsertableText) require(in->data != nullptr, "insertable text missing");
        if (in->kind == cnInsertableTildes) require(in->count > 0, "insertable run of ~ without count");
        break;
      }
      case TCT_EMBEDDED: require(t->Embedded() != nullptr, "embedded token without flow"); break;
      case TCT_DELIMITER: require(t->Delimiter() != nullptr, "delimiter token without text"); break;
      default: break;  // the closings by name carry an optional payload
    }
    walk_values(
        t,
        [](const rTCEntry* v) {
          require(v->kind <= ET_CAST, "value kind out of range");
          if (v->kind >= ET_TEXT) require(v->value.pointer != nullptr, "value without its storage");
          if (v->kind != ET_INTEGER) require(v->hex == 0, "hex flag on a non-integer");
        },
        [](const rTCProperty*) {});
  }
}

// Generic partners are mutual and of one family, the opening first; payload
// partners point to payloads of the same family in this list.
inline void check_partners(const cParserVormCode& parser) {
  auto family = [](uint8_t kind) { return kind >= TCT_SECTION && kind <= TCT_STRUCTURE_END ? (kind - 5) / 2 : -1; };
  std::set<const void*> sections, structures, metadata;
  std::set<const rTCProperty*> opening_properties, closing_properties;
  for (const rTCToken* t = parser.FirstToken(); t != nullptr; t = t->next) {
    if (t->Section()) sections.insert(t->Section());
    if (t->Structure()) structures.insert(t->Structure());
    if (t->Metadata()) metadata.insert(t->Metadata());
    if (const cTCProperties* list = t->Properties())
      for (const rTCProperty* p = list->First(); p; p = p->next)
        (t->kind == TCT_PROPERTIES ? opening_properties : closing_properties).insert(p);
  }
  std::set<const rTCToken*> seen;
  for (const rTCToken* t = parser.FirstToken(); t != nullptr; t = t->next) {
    seen.insert(t);
    if (const rTCToken* p = t->partner) {
      require(p->partner == t, "generic partners are not mutual");
      require(family(t->kind) >= 0 && family(t->kind) == family(p->kind), "generic partner of another family");
      if (t->kind == TCT_PROPERTIES_END || t->kind == TCT_STRUCTURE_END)
        require(t->payload.pointer == nullptr && seen.count(p) == 1, "generic closing paired forwards");
    }
    if (const rTCT_SECTION* s = t->Section(); s && s->partner) require(sections.count(s->partner), "section partner");
    if (const rTCT_STRUCTURE* s = t->Structure(); s && s->partner)
      require(structures.count(s->partner), "structure partner");
    if (const rTCT_METADATA* m = t->Metadata(); m && m->partner)
      require(metadata.count(m->partner), "metadata partner");
  }
  for (const rTCProperty* p : opening_properties)
    if (p->partner) require(closing_properties.count(p->partner), "opening property paired with a non-closing");
  for (const rTCProperty* p : closing_properties)
    if (p->partner)
      require(opening_properties.count(p->partner) && p->partner->partner == p, "closing property partner");
}

// The input again from the tokens (needs syntax maps): running text from
// its runs, tags from their map texts, raw embedded bytes and delimiters.
inline std::vector<int32_t> reconstruct(const cParserVormCode& parser) {
  std::vector<int32_t> out;
  auto put = [&out](const char* s) {
    while (*s) out.push_back(uint8_t(*s++));
  };
  for (const rTCToken* t = parser.FirstToken(); t != nullptr; t = t->next) {
    switch (t->kind) {
      case TCT_CONTROL:
        for (char ch : t->Control()->text) out.push_back(uint8_t(ch));
        break;
      case TCT_DATA: append_codepoints(out, t->Data()); break;
      case TCT_SPACE: out.insert(out.end(), size_t(t->Count()), 32); break;
      case TCT_NBSP: out.insert(out.end(), size_t(t->Count()), 0xA0); break;
      case TCT_PAREN_CLOSE: put("~)"); break;
      case TCT_BRACE_CLOSE: put("~}"); break;
      case TCT_EMBEDDED: {
        cWriteFlow* flow = t->Embedded();
        const int64_t size = flow->Size();
        require(size >= 0 && size <= (int64_t(1) << 24), "embedded size");
        std::vector<uint8_t> bytes(static_cast<size_t>(size));
        require(flow->Seek(0) && (size == 0 || flow->Read(bytes.data(), int32_t(size))), "embedded bytes unreadable");
        out.insert(out.end(), bytes.begin(), bytes.end());
        break;
      }
      case TCT_DELIMITER: append_codepoints(out, t->Delimiter()); break;
      default:
        if (t->kind == TCT_PROPERTIES_END && t->payload.pointer == nullptr && t->map == nullptr) {
          put("~>");
        } else if (t->kind == TCT_STRUCTURE_END && t->payload.pointer == nullptr && t->map == nullptr) {
          put("~]");
        } else {
          require(t->map != nullptr && t->map->text != nullptr, "tag token without syntax map");
          append_codepoints(out, t->map->text);
        }
    }
  }
  return out;
}

// Checks one parse of `input` (its code points) that answered `ok`.
inline void check_parse(const cParserVormCode& parser, bool ok, const std::vector<int32_t>& input) {
  if (!ok) {
    const int32_t code = parser.LastErrorCode();
    require(code == 297 || code == 299 || code == 300 || code == 301 || code < 0, "unexpected error code");
    const int64_t position = parser.ErrorPosition();
    // Position 0: the flow could not be read as text at all (an empty flow
    // gets no encoding), nothing was examined.
    require((position == 0 && code == 299) || (position >= 1 && position <= int64_t(input.size()) + 1),
            "error position outside the text");
    if (position == int64_t(input.size()) + 1) require(code != 297 && code >= 299, "error past the end");
  } else {
    check_payloads(parser);
    check_partners(parser);
    if (parser.RecordMap() && reconstruct(parser) != input) fail("the tokens do not give the input back");
  }
  run_queries(parser);
}

}  // namespace vormcode_fuzz
