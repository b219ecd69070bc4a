// The VormCode tag phases for metadata "~{...}", structures "~[...]" and
// insertables "~(...)", with the pairing of their closings by name.
//
// Conventions of every state below: blanks (TAB, space) are recorded with
// map kind 2, line breaks (LF, CR) with 3; "{" starts a comment; ending a
// tag records map kind 0 and returns to running text; any code point a
// state does not list is a syntax error of the phase and state. A state
// that enters ID, LABEL, a value, a type or a property list sets the tag
// state it returns to first: the entered phase pops back to this phase and
// hands it the code point that ended it.
#include <memory>

#include "qlm_encoding.h"
#include "qlm_parser_vormcode_embedded.h"
#include "qlm_parser_vormcode_run.h"
#include "qlm_parser_vormcode_values.h"

namespace {

constexpr int32_t cnTab = 9;
constexpr int32_t cnLF = 10;
constexpr int32_t cnCR = 13;
constexpr int32_t cnSpace = 32;

bool is_letter(int32_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool is_blank(int32_t c) { return c == cnTab || c == cnSpace; }
bool is_break(int32_t c) { return c == cnLF || c == cnCR; }

[[noreturn]] void raise_parser(int32_t code, std::string_view text) {
  raise_error(code, &qlm_parser_vormcode_exception_string, text);
}

// Blank or break: recorded, and the tag state becomes `next`.
bool skip_space(cVormCodeRun& run, int32_t c, uint8_t next) {
  if (is_blank(c)) {
    run.MapRecord(2, c);
  } else if (is_break(c)) {
    run.MapRecord(3, c);
  } else {
    return false;
  }
  run.tag_state = next;
  return true;
}

// "{": a comment, after which the tag state is `next`.
bool skip_comment(cVormCodeRun& run, int32_t c, uint8_t next) {
  if (c != '{') return false;
  run.tag_state = next;
  run.EnterComment();
  return true;
}

bool skip_space_or_comment(cVormCodeRun& run, int32_t c, uint8_t next) {
  return skip_space(run, c, next) || skip_comment(run, c, next);
}

// The character that ends a tag.
void end_tag(cVormCodeRun& run, int32_t c) {
  run.MapRecord(0, c);
  run.phase = cnPhaseText;
}

// A new token for the statement after ";", its map starting with the ";".
void start_statement_token(cVormCodeRun& run) {
  static constexpr uint8_t kKinds[] = {14};
  run.NewToken();
  run.MapStart(";", kKinds, 1, "{start_metadata_token,token.maps.data.Adopt}");
}

// Enters the property list "<" ... ">" (or "(" ... ")" when parenthesized)
// that fills `list`; the tag continues in state `next` after it.
void enter_properties(cVormCodeRun& run, int32_t c, cTCProperties* list, bool parenthesized, uint8_t next) {
  run.MapRecord(15, c);
  run.cur_properties = list;
  run.cur_property = nullptr;
  run.tag_state = next;
  run.PushPhase(run.phase);
  run.parenthesized = parenthesized;
  run.properties_state = 10;
  run.phase = cnPhaseProperties;
}

// Enters a value for `entry`; the tag continues in state `next` after it.
void enter_value(cVormCodeRun& run, int32_t c, uint8_t map_kind, rTCEntry* entry, uint8_t next) {
  run.MapRecord(map_kind, c);
  run.cur_entries = nullptr;
  run.cur_entry = entry;
  run.tag_state = next;
  run.PushPhase(run.phase);
  run.entry_stack.Clear();
  run.value_state = 10;
  run.phase = cnPhaseEntry;
}

// Enters a type for `type` with the code point handed back; the tag
// continues in state `next` after it.
void enter_type(cVormCodeRun& run, rTCType* type, uint8_t next) {
  run.cur_type = type;
  run.tag_state = next;
  run.PushPhase(run.phase);
  run.type_state = 10;
  run.phase = cnPhaseType;
}

// Enters a type after ":" (recorded with map kind 17).
void enter_colon_type(cVormCodeRun& run, int32_t c, rTCType* type, uint8_t next) {
  run.MapRecord(17, c);
  enter_type(run, type, next);
}

// Appends an entry to `list` and makes it the current value entry.
rTCEntry* append_entry(cVormCodeRun& run, cTCEntries* list) {
  run.ChargeAppend(*list);
  rTCEntry* entry = list->Append(1);
  if (entry == nullptr) raise_parser(errVormCodeParser, "{not entries.Append}");
  run.cur_entries = list;
  run.cur_entry = entry;
  return entry;
}

// ---------------------------------------------------------------------------
// Pairing by name. A closing "~[~label@name]" pairs with the nearest earlier
// structure token of equal label and name whose payload is unpaired and not
// a variable, the search stopping at a section token; "~{~label@name}" the
// same with metadata of kind 1 or 2. Instead of walking back over the list
// at every closing (quadratic on a text of many closings), the run keeps the
// candidate openings since the last section token by name. They are
// collected lazily: at each closing the tokens between the last one looked
// at and the current token are scanned once (a section token empties both
// indexes). Tokens before the current one are finished, and a payload is
// paired only through these indexes, so the nearest candidate is the last
// one kept under its name that is still unpaired.

std::string name_key(const std::string& label, const std::string& name) {
  std::string key = label;
  key.push_back('\0');
  key += name;
  return key;
}

// Pushes a candidate on its name in `index`, counting what the index grows by.
void index_opening(cVormCodeRun& run, std::unordered_map<std::string, std::vector<rTCToken*>>& index, std::string key,
                   rTCToken* t) {
  auto found = index.find(key);
  if (found == index.end()) {
    run.Charge(cnVcCostIndexKey + key.size() * cnVcCostChar);
    found = index.emplace(std::move(key), std::vector<rTCToken*>()).first;
  }
  run.Charge(cnVcCostIndexSlot);
  found->second.push_back(t);
}

void scan_named_openings(cVormCodeRun& run) {
  rTCToken* t = run.named_scanned_meta != nullptr ? run.named_scanned_meta->next : run.tokens->First();
  while (t != nullptr && t != run.token) {
    if (t->kind == TCT_SECTION) {
      run.open_named_structures.clear();
      run.open_named_metadata.clear();
    } else if (const rTCT_STRUCTURE* s = t->kind == TCT_STRUCTURE ? t->Structure() : nullptr) {
      if (s->partner == nullptr && s->variable == 0)
        index_opening(run, run.open_named_structures, name_key(s->label, s->name), t);
    } else if (const rTCT_METADATA* m = t->kind == TCT_METADATA ? t->Metadata() : nullptr) {
      if (m->partner == nullptr && m->variable == 0 && (m->kind == cnMetadataProperties || m->kind == cnMetadataList))
        index_opening(run, run.open_named_metadata, name_key(m->label, m->name), t);
    }
    run.named_scanned_meta = t;
    t = t->next;
  }
}

// The nearest unpaired candidate kept under the name, taken out of the
// index; nil when there is none.
template <typename Payload>
rTCToken* take_named_opening(std::unordered_map<std::string, std::vector<rTCToken*>>& index, const std::string& key,
                             Payload* (rTCToken::*payload)() const) {
  auto found = index.find(key);
  if (found == index.end()) return nullptr;
  std::vector<rTCToken*>& open = found->second;
  while (!open.empty() && (open.back()->*payload)()->partner != nullptr) open.pop_back();
  if (open.empty()) return nullptr;
  rTCToken* opening = open.back();
  open.pop_back();
  return opening;
}

void pair_structure_by_name(cVormCodeRun& run) {
  rTCT_STRUCTURE* closing = run.token->Structure();
  if (closing == nullptr) return;
  scan_named_openings(run);
  rTCToken* opening =
      take_named_opening(run.open_named_structures, name_key(closing->label, closing->name), &rTCToken::Structure);
  if (opening == nullptr) return;
  opening->Structure()->partner = closing;
  closing->partner = opening->Structure();
}

void pair_metadata_by_name(cVormCodeRun& run) {
  rTCT_METADATA* closing = run.token->Metadata();
  if (closing == nullptr) return;
  scan_named_openings(run);
  rTCToken* opening =
      take_named_opening(run.open_named_metadata, name_key(closing->label, closing->name), &rTCToken::Metadata);
  if (opening == nullptr) return;
  opening->Metadata()->partner = closing;
  closing->partner = opening->Metadata();
}

// ---------------------------------------------------------------------------
// Metadata.

rTCT_METADATA* new_metadata(cVormCodeRun& run, uint8_t kind) {
  run.Charge(vc_cost<rTCT_METADATA>());
  auto md = std::make_unique<rTCT_METADATA>();
  rTCT_METADATA* p = md.get();
  run.token->payload.pointer = md.release();
  run.token->kind = kind;
  return p;
}

rTCT_METADATA* current_metadata(cVormCodeRun& run) {
  rTCT_METADATA* md = run.token->Metadata();
  if (md == nullptr) raise_parser(errVormCodeParser, "{token.metadata=NIL}");
  return md;
}

// "<" after a metadata label or variable: metadata kind 1.
void metadata_properties(cVormCodeRun& run, int32_t c) {
  rTCT_METADATA* md = current_metadata(run);
  run.Charge(vc_cost<cTCProperties>());
  auto list = std::make_unique<cTCProperties>();
  md->data = list.get();
  md->kind = cnMetadataProperties;
  enter_properties(run, c, list.release(), false, 33);
}

// "[" after a metadata label or variable: metadata kind 2. The elements are
// read as those of a value list: the list context pushed here (state 14,
// whose value entry is a borrowed list view of the metadata's list) makes
// "," append the next element and "]" come back to the tag.
void metadata_list(cVormCodeRun& run, int32_t c) {
  rTCT_METADATA* md = current_metadata(run);
  run.Charge(vc_cost<cTCEntries>());
  auto list = std::make_unique<cTCEntries>();
  md->data = list.get();
  md->kind = cnMetadataList;
  cTCEntries* l = list.release();
  run.MapRecord(24, c);
  run.metadata_list_view = rTCEntry{};
  run.metadata_list_view.kind = ET_LIST;
  run.metadata_list_view.value.pointer = l;
  run.entry_stack.Clear();
  run.cur_entry = &run.metadata_list_view;
  run.cur_entries = nullptr;
  push_en_cache(run, 14);
  append_entry(run, l);
  run.tag_state = 33;
  run.PushPhase(run.phase);
  run.value_state = 10;
  run.phase = cnPhaseEntry;
}

// "(" of an alias: the name follows, then ")" and the state `back`.
void metadata_alias(cVormCodeRun& run, int32_t c, uint8_t map_kind, uint8_t back) {
  run.MapRecord(map_kind, c);
  run.id_map_kind = map_kind;
  run.value_substate = back;
  run.tag_state = 15;
}

// The first code point of a metadata statement: in states 10 and 11 (and
// after ";" in state 0, where a label is not allowed).
bool metadata_open(cVormCodeRun& run, int32_t c, bool allow_label) {
  if (c == '#') {
    rTCT_METADATA* md = new_metadata(run, TCT_METADATA);
    md->variable = 1;
    run.tag_state = 31;
    run.EnterId(&md->label, 8);
    return true;
  }
  if (c == '&') {
    run.MapRecord(9, c);
    run.tag_state = 1;
    return true;
  }
  if (c == '}') {
    end_tag(run, c);
    return true;
  }
  if (allow_label && is_letter(c)) {
    rTCT_METADATA* md = new_metadata(run, TCT_METADATA);
    md->label.assign(1, char(c));
    run.tag_state = 13;
    run.EnterId(&md->label, 5);
    return true;
  }
  return false;
}

// States 31, 32, 34 and 35 of a variable: `accepts` lists what the state
// takes besides blanks and comments.
void metadata_variable(cVormCodeRun& run, int32_t c, const char* accepts, uint8_t after_space) {
  if (skip_space_or_comment(run, c, after_space)) return;
  if (c < 0x80 && c > 0 && std::string_view(accepts).find(char(c)) != std::string_view::npos) {
    switch (c) {
      case '(': metadata_alias(run, c, 8, 34); return;
      case ':': {
        rTCT_METADATA* md = current_metadata(run);
        run.Charge(vc_cost<rTCType>());
        md->type = new rTCType();
        enter_colon_type(run, c, md->type, 35);
        return;
      }
      case '<': metadata_properties(run, c); return;
      case '[': metadata_list(run, c); return;
      case '=': {
        rTCT_METADATA* md = current_metadata(run);
        run.Charge(vc_cost<rTCEntry>());
        md->data = new rTCEntry();
        md->kind = cnMetadataValue;
        enter_value(run, c, 13, static_cast<rTCEntry*>(md->data), 29);
        return;
      }
      default: break;
    }
  }
  run.SyntaxError();
}

void metadata_close(cVormCodeRun& run, int32_t c) {
  end_tag(run, c);
  pair_metadata_by_name(run);
}

}  // namespace

void cVormCodeRun::PhaseMetadata(int32_t c) {
  switch (tag_state) {
    case 10:
      if (c == '~') {
        MapRecord(0, c);
        tag_state = 23;
        return;
      }
      [[fallthrough]];
    case 11:
      if (skip_space_or_comment(*this, c, 11) || metadata_open(*this, c, true)) return;
      break;
    case 0:
      if (skip_space_or_comment(*this, c, 0) || metadata_open(*this, c, false)) return;
      break;
    case 1:  // TYPEDECL_BEFORE
      if (is_letter(c)) {
        rTCT_METADATA* md = new_metadata(*this, TCT_METADATA);
        md->label.assign(1, char(c));
        tag_state = 2;
        EnterId(&md->label, 9);
        return;
      }
      break;
    case 2:  // TYPEDECL_END
      if (c == '(') {
        metadata_alias(*this, c, 9, 3);
        return;
      }
      [[fallthrough]];
    case 3:  // TYPEDECL_AFTER
      if (skip_space_or_comment(*this, c, 3)) return;
      if (c == '=') {
        MapRecord(13, c);
        tag_state = 4;
        return;
      }
      break;
    case 4:  // TYPEDECL_ASSIGN
      if (skip_space_or_comment(*this, c, 4)) return;
      if (c == '&' || is_letter(c)) {
        rTCT_METADATA* md = current_metadata(*this);
        Charge(vc_cost<rTCType>());
        md->kind = cnMetadataType;
        md->type = new rTCType();
        enter_type(*this, md->type, 29);
        HandBack();
        return;
      }
      if (c == '(') {
        rTCT_METADATA* md = current_metadata(*this);
        Charge(vc_cost<cTCProperties>());
        auto list = std::make_unique<cTCProperties>();
        md->data = list.get();
        md->kind = cnMetadataRecordType;
        enter_properties(*this, c, list.release(), true, 29);
        return;
      }
      break;
    case 13:  // ID_END
      if (c == '@') {
        tag_state = 21;
        EnterLabel(&current_metadata(*this)->name, 6);
        return;
      }
      [[fallthrough]];
    case 14:  // ID_END_AFTER
      if (skip_space_or_comment(*this, c, 14)) return;
      if (c == '<') {
        metadata_properties(*this, c);
        return;
      }
      if (c == '[') {
        metadata_list(*this, c);
        return;
      }
      if (c == '}') {
        end_tag(*this, c);
        return;
      }
      break;
    case 15:  // ALIAS_OPEN
      if (is_letter(c)) {
        rTCT_METADATA* md = current_metadata(*this);
        md->name.assign(1, char(c));
        tag_state = 16;
        EnterId(&md->name, id_map_kind);
        return;
      }
      break;
    case 16:  // ALIAS_END
      if (c == ')') {
        MapRecord(id_map_kind, c);
        tag_state = value_substate;
        return;
      }
      break;
    case 21:  // LABEL_AFTER
      if (skip_space_or_comment(*this, c, 21)) return;
      if (c == '<') {
        metadata_properties(*this, c);
        return;
      }
      if (c == '}') {
        end_tag(*this, c);
        return;
      }
      break;
    case 23:  // EXIT_OPEN
      if (is_letter(c)) {
        rTCT_METADATA* md = new_metadata(*this, TCT_METADATA_END);
        md->label.assign(1, char(c));
        tag_state = 25;
        EnterId(&md->label, 5);
        return;
      }
      break;
    case 25:  // EXIT_ID_END
      if (c == '@') {
        tag_state = 26;
        EnterLabel(&current_metadata(*this)->name, 6);
        return;
      }
      [[fallthrough]];
    case 26:  // EXIT_AFTER
      if (skip_space_or_comment(*this, c, 26)) return;
      if (c == '}') {
        metadata_close(*this, c);
        return;
      }
      break;
    case 29:  // VAR_DATA_AFTER
      if (skip_space_or_comment(*this, c, 29)) return;
      if (c == ';') {
        start_statement_token(*this);
        tag_state = 0;
        return;
      }
      if (c == '}') {
        end_tag(*this, c);
        return;
      }
      break;
    case 31: metadata_variable(*this, c, "(:<=[", 32); return;  // VAR_END
    case 32: metadata_variable(*this, c, ":<=[", 32); return;   // VAR_END_AFTER
    case 34: metadata_variable(*this, c, ":=", 34); return;     // ALIAS_AFTER
    case 35: metadata_variable(*this, c, "=", 35); return;      // VAR_TYPE_AFTER
    case 33:                                                    // PROPERTIES_AFTER
      if (skip_space_or_comment(*this, c, 33)) return;
      if (c == '}') {
        end_tag(*this, c);
        vormcode_embedded_check(*this, token->Metadata());
        return;
      }
      break;
    default: break;
  }
  SyntaxError();
}

// ---------------------------------------------------------------------------
// Structures.

namespace {

rTCT_STRUCTURE* new_structure(cVormCodeRun& run, uint8_t kind) {
  run.Charge(vc_cost<rTCT_STRUCTURE>());
  auto s = std::make_unique<rTCT_STRUCTURE>();
  rTCT_STRUCTURE* p = s.get();
  run.token->payload.pointer = s.release();
  run.token->kind = kind;
  return p;
}

rTCT_STRUCTURE* current_structure(cVormCodeRun& run) {
  rTCT_STRUCTURE* s = run.token->Structure();
  if (s == nullptr) raise_parser(errVormCodeParser, "{token.structure=NIL}");
  return s;
}

}  // namespace

void cVormCodeRun::PhaseStructure(int32_t c) {
  switch (tag_state) {
    case 10:  // OPEN
      if (c == '~') {
        MapRecord(0, c);
        tag_state = 23;
        return;
      }
      [[fallthrough]];
    case 11:  // OPEN_AFTER
      if (skip_space_or_comment(*this, c, 11)) return;
      if (c == '#') {
        rTCT_STRUCTURE* s = new_structure(*this, TCT_STRUCTURE);
        s->variable = 1;
        tag_state = 14;
        EnterId(&s->label, 8);
        return;
      }
      if (is_letter(c)) {
        rTCT_STRUCTURE* s = new_structure(*this, TCT_STRUCTURE);
        s->label.assign(1, char(c));
        tag_state = 13;
        EnterId(&s->label, 5);
        return;
      }
      if (c == ']') {
        end_tag(*this, c);
        return;
      }
      break;
    case 13:  // ID_END
      if (c == '@') {
        tag_state = 14;
        EnterLabel(&current_structure(*this)->name, 6);
        return;
      }
      [[fallthrough]];
    case 14:  // ID_END_AFTER
      if (skip_space_or_comment(*this, c, 14)) return;
      if (c == '<') {
        rTCT_STRUCTURE* s = current_structure(*this);
        Charge(vc_cost<cTCProperties>());
        s->properties = new cTCProperties();
        enter_properties(*this, c, s->properties, false, 33);
        return;
      }
      if (c == ']') {
        end_tag(*this, c);
        return;
      }
      break;
    case 23:  // EXIT_OPEN
      if (is_letter(c)) {
        rTCT_STRUCTURE* s = new_structure(*this, TCT_STRUCTURE_END);
        s->label.assign(1, char(c));
        tag_state = 25;
        EnterId(&s->label, 5);
        return;
      }
      break;
    case 25:  // EXIT_ID_END
      if (c == '@') {
        tag_state = 26;
        EnterLabel(&current_structure(*this)->name, 6);
        return;
      }
      [[fallthrough]];
    case 26:  // EXIT_AFTER
      if (skip_space_or_comment(*this, c, 26)) return;
      if (c == ']') {
        end_tag(*this, c);
        pair_structure_by_name(*this);
        return;
      }
      break;
    case 33:  // PROPERTIES_AFTER
      if (skip_space_or_comment(*this, c, 33)) return;
      if (c == ']') {
        end_tag(*this, c);
        return;
      }
      break;
    default: break;
  }
  SyntaxError();
}

// ---------------------------------------------------------------------------
// Insertables.

namespace {

rTCT_INSERTABLE* new_insertable(cVormCodeRun& run, uint8_t kind) {
  run.Charge(vc_cost<rTCT_INSERTABLE>());
  auto s = std::make_unique<rTCT_INSERTABLE>();
  s->kind = kind;
  rTCT_INSERTABLE* p = s.get();
  run.token->payload.pointer = s.release();
  run.token->kind = TCT_INSERTABLE;
  return p;
}

rTCT_INSERTABLE* current_insertable(cVormCodeRun& run) {
  rTCT_INSERTABLE* s = run.token->Insertable();
  if (s == nullptr) raise_parser(errVormCodeParser, "{token.insertable=NIL}");
  return s;
}

// The cast of the current statement.
rTCCast* current_cast(cVormCodeRun& run) {
  rTCCast* cast = current_insertable(run)->Cast();
  if (cast == nullptr) raise_parser(errVormCodeParser, "{token.insertable.cast=NIL}");
  return cast;
}

// ")" ends the tag; ";" starts the next statement's token.
bool insertable_next(cVormCodeRun& run, int32_t c) {
  if (c == ')') {
    end_tag(run, c);
    return true;
  }
  if (c == ';') {
    start_statement_token(run);
    run.tag_state = 10;
    return true;
  }
  return false;
}

// A text statement: '"', "$" or "%" starts a text sequence in `sub_state`.
void insertable_text(cVormCodeRun& run, int32_t c, uint8_t sub_state) {
  run.Charge(vc_cost<cEncoding>());
  rTCT_INSERTABLE* ins = new_insertable(run, cnInsertableText);
  ins->data = new cEncoding();
  run.MapRecord(11, c);
  run.text_target = static_cast<cEncoding*>(ins->data);
  run.text_length = 0;
  run.tag_state = 33;
  run.PushPhase(run.phase);
  run.entry_stack.Clear();
  run.value_state = 28;
  run.value_substate = sub_state;
  run.phase = cnPhaseEntry;
}

// "," after the first argument of a cast: its value becomes a list of the
// arguments. The list is complete before the value changes hands, so a
// failure leaves the cast as it was.
void cast_to_list(cVormCodeRun& run, int32_t c) {
  rTCCast* cast = current_cast(run);
  run.Charge(vc_cost<cTCEntries>());
  auto list = std::make_unique<cTCEntries>();
  run.ChargeAppend(*list);
  rTCEntry* first = list->Append(1);
  if (first != nullptr) run.ChargeAppend(*list);
  rTCEntry* second = first != nullptr ? list->Append(1) : nullptr;
  if (second == nullptr) raise_parser(errVormCodeParser, "{not entries.Append}");
  first->kind = cast->value.kind;
  first->hex = cast->value.hex;
  first->value = cast->value.value;
  cast->value.kind = ET_LIST;
  cast->value.hex = 0;
  cast->value.value.pointer = list.release();
  run.cur_entries = cast->value.List();
  run.cur_entry = second;
  run.MapRecord(32, c);
  run.tag_state = 3;
  run.PushPhase(run.phase);
  run.entry_stack.Clear();
  run.value_state = 10;
  run.phase = cnPhaseEntry;
}

}  // namespace

void cVormCodeRun::PhaseInsertable(int32_t c) {
  switch (tag_state) {
    case 10:  // OPEN
      if (skip_space_or_comment(*this, c, 10) || insertable_next(*this, c)) return;
      switch (c) {
        case '"': insertable_text(*this, c, 28); return;
        case '$': insertable_text(*this, c, 17); return;
        case '%': insertable_text(*this, c, 13); return;
        case '#': {
          rTCT_INSERTABLE* ins = new_insertable(*this, cnInsertableName);
          ins->variable = 1;
          tag_state = 31;
          EnterId(&ins->name, 8);
          return;
        }
        case '&': {
          Charge(vc_cost<rTCCast>());
          rTCT_INSERTABLE* ins = new_insertable(*this, cnInsertableCast);
          auto* cast = new rTCCast();
          ins->data = cast;
          tag_state = 1;
          EnterId(&cast->type_name, 11);
          return;
        }
        case '~': {
          rTCT_INSERTABLE* ins = new_insertable(*this, cnInsertableTildes);
          ins->count = 1;
          MapRecord(1, c);
          tag_state = 32;
          return;
        }
        default: break;
      }
      if (is_letter(c)) {
        rTCT_INSERTABLE* ins = new_insertable(*this, cnInsertableName);
        ins->name.assign(1, char(c));
        tag_state = 13;
        EnterId(&ins->name, 5);
        return;
      }
      break;
    case 31:  // VAR_END
      if (c == '.' || c == '[') {
        rTCT_INSERTABLE* ins = current_insertable(*this);
        Charge(vc_cost<cTCDeref>() + ins->name.size() * cnVcCostChar);
        auto deref = std::make_unique<cTCDeref>();
        ChargeAppend(*deref);
        rTCDerefItem* item = deref->Append(1);
        if (item == nullptr) raise_parser(errVormCodeParser, "{not deref.Append}");
        item->name = ins->name;
        ins->kind = cnInsertableReference;
        ins->data = deref.get();
        cur_deref = deref.release();
        cur_deref_item = item;
        tag_state = 33;
        PushPhase(phase);
        deref_stack.Clear();
        deref_state = 11;
        phase = cnPhaseDeref;
        HandBack();
        return;
      }
      if (skip_space_or_comment(*this, c, 14)) return;
      [[fallthrough]];
    case 13:  // ID_END
      if (c == '@' && tag_state == 13) {
        tag_state = 14;
        EnterLabel(&current_insertable(*this)->label, 6);
        return;
      }
      [[fallthrough]];
    case 14:  // ID_END_AFTER
      if (skip_space_or_comment(*this, c, 14) || insertable_next(*this, c)) return;
      if (c == '<') {
        rTCT_INSERTABLE* ins = current_insertable(*this);
        Charge(vc_cost<cTCProperties>());
        auto* list = new cTCProperties();
        ins->data = list;
        enter_properties(*this, c, list, false, 33);
        return;
      }
      break;
    case 32:  // a run of "~"
      if (c == '~') {
        rTCT_INSERTABLE* ins = current_insertable(*this);
        if (ins->count == INT32_MAX) raise_parser(errVormCodeParser, "{insertable.count}");
        ++ins->count;
        MapRecord(1, c);
        return;
      }
      tag_state = 33;
      HandBack();
      return;
    case 33:  // PROPERTIES_AFTER
      if (skip_space_or_comment(*this, c, 33) || insertable_next(*this, c)) return;
      break;
    case 1:  // CAST_ID_END
      if (c == '(') {
        rTCCast* cast = current_cast(*this);
        enter_value(*this, c, 31, &cast->value, 2);
        return;
      }
      break;
    case 2:  // CAST_ENTRY_AFTER
    case 3:  // CAST_NEXT_AFTER
      if (skip_space_or_comment(*this, c, tag_state)) return;
      if (c == ')') {
        MapRecord(33, c);
        tag_state = 33;
        return;
      }
      if (c == ',') {
        if (tag_state == 2) {
          cast_to_list(*this, c);
          return;
        }
        cTCEntries* list = current_cast(*this)->value.List();
        if (list == nullptr) raise_parser(errVormCodeParser, "{cast.value.list=NIL}");
        append_entry(*this, list);
        MapRecord(32, c);
        PushPhase(phase);
        entry_stack.Clear();
        value_state = 10;
        phase = cnPhaseEntry;
        return;
      }
      break;
    default: break;
  }
  SyntaxError();
}
