// The VormCode value phases: values (ENTRY), types (TYPE), reference paths
// (DEREF) and digit runs (NUMB), with the entry and reference context stacks.
//
// A value is read into the current value entry. Nested values (list
// elements, record members, cast arguments, the parts of a number or a text)
// save the enclosing context on the entry stack and come back to it when
// they end; a value that ends with an empty entry stack pops the phase stack
// back to the construct that asked for it.
#include "qlm_parser_vormcode_values.h"

#include <memory>
#include <string>

#include "qlm_base_util.h"
#include "qlm_encoding.h"

namespace {

[[noreturn]] void raise_parser(int32_t code, std::string_view text) {
  raise_error(code, &qlm_parser_vormcode_exception_string, text);
}

// A negative encoding result is raised as the encoding's error, anything
// else as 299.
[[noreturn]] void raise_encoding_result(int32_t result, std::string_view text) {
  if (result < 0) raise_error(result, &qlm_encoding_exception_string, text);
  raise_parser(errVormCodeParser, text);
}

// Value states.
constexpr uint8_t cnValueOpen = 10;
constexpr uint8_t cnValueCastIdEnd = 1;
constexpr uint8_t cnValueCastEntryAfter = 2;
constexpr uint8_t cnValueCastNextAfter = 3;
constexpr uint8_t cnValueRecordIdAfter = 12;
constexpr uint8_t cnValueIdAfter = 13;
constexpr uint8_t cnValueArray = 14;
constexpr uint8_t cnValueVarAfter = 20;
constexpr uint8_t cnValueConvert = 22;
constexpr uint8_t cnValueNumber = 23;
constexpr uint8_t cnValueRecordOpen = 27;
constexpr uint8_t cnValueSequence = 28;
constexpr uint8_t cnValueEnded = 29;
constexpr uint8_t cnValueRecordEntryAfter = 33;

// Frees what the entry held and gives it an owned object.
void set_owned(rTCEntry& entry, uint8_t kind, void* object) {
  tc_entry_free(entry);
  entry.kind = kind;
  entry.value.pointer = object;
}

rTCEntry* current_entry(cVormCodeRun& r) {
  if (r.cur_entry == nullptr) raise_parser(errVormCodeParser, "{ENTRY,entry=NIL}");
  return r.cur_entry;
}

rTCProperty* append_member(cVormCodeRun& r) {
  if (r.cur_properties == nullptr) raise_parser(errVormCodeParser, "{ENTRY,properties=NIL}");
  r.ChargeAppend(*r.cur_properties);
  rTCProperty* p = r.cur_properties->Append(1);
  if (p == nullptr) raise_parser(errVormCodeParser, "{ENTRY,properties.Append}");
  r.cur_property = p;
  return p;
}

rTCEntry* append_element(cVormCodeRun& r) {
  if (r.cur_entries == nullptr) raise_parser(errVormCodeParser, "{ENTRY,entries=NIL}");
  r.ChargeAppend(*r.cur_entries);
  rTCEntry* e = r.cur_entries->Append(1);
  if (e == nullptr) raise_parser(errVormCodeParser, "{ENTRY,entries.Append}");
  r.cur_entry = e;
  return e;
}

void restore(cVormCodeRun& r, const rEntryStackItem& item) {
  r.cur_properties = item.properties;
  r.cur_property = item.property;
  r.cur_entries = item.entries;
  r.cur_entry = item.entry;
}

// Value ends, handing back: back to the enclosing value, or to the construct
// that asked for the value.
void ends_handing_back(cVormCodeRun& r) {
  if (r.entry_stack.Count() > 0) {
    pop_en_cache(r);
  } else {
    r.PopPhase();
    r.HandBack();
  }
}

// Value ends, consuming the code point with map kind k.
void ends_consuming(cVormCodeRun& r, uint8_t k) {
  if (r.entry_stack.Count() > 0) {
    pop_en_map(r, k);
  } else {
    r.PopPhase();
    r.MapRecord(k, r.current);
  }
}

// Nothing that starts a value: the value stays ET_NONE and the code point
// goes back to the construct that asked for the value. Inside a list, a
// cast or a record (entry stack not empty) that construct can no longer be
// closed: the empty element is a syntax error, named after the enclosing tag
// and its state as the code point would be there ("[]", "[1,]", "(a=)", and
// an unclosed "[" or "(" before ">").
void no_value(cVormCodeRun& r) {
  if (r.entry_stack.Count() > 0) {
    restore(r, *r.entry_stack.First());
    r.entry_stack.Clear();
    r.PopPhase();
    r.SyntaxError();
  }
  r.PopPhase();
  r.HandBack();
}

// Appends one code point to the text target.
void text_append(cVormCodeRun& r, int32_t c) {
  cEncoding* text = r.text_target;
  if (text == nullptr) raise_parser(errVormCodeParser, "{ENTRY,dt=NIL}");
  r.Charge(cnVcCostCodePoint);
  if (r.text_length == 0) {
    const int32_t unit = c < 256 ? 1 : (c < 65536 ? 2 : 4);
    uint8_t bytes[4] = {0, 0, 0, 0};
    const uint32_t v = uint32_t(c);
    for (int32_t k = 0; k < unit; ++k) bytes[k] = uint8_t(v >> (8 * k));
    const int32_t result = text->AdoptBuffer(bytes, unit, unit, 0, false);
    if (result != 1) raise_encoding_result(result, "{ENTRY,dt.Adopt}");
  } else {
    if (r.text_length == INT32_MAX) raise_parser(errVormCodeParser, "{ENTRY,dt.SetLength}");
    const int32_t result = text->SetLength(r.text_length + 1, c);
    if (result < 0) raise_error(result, &qlm_encoding_exception_string, "{ENTRY,dt.SetLength}");
  }
  ++r.text_length;
}

// The start of a value (value state 10).
void value_open(cVormCodeRun& r, int32_t c) {
  if (vc_skip_space(r, c)) return;
  rTCEntry* e = current_entry(r);
  switch (c) {
    case '!':
    case '*':
      tc_entry_free(*e);
      e->kind = ET_BOOLEAN;
      e->value.boolean = c == '*' ? 1 : 0;
      ends_consuming(r, 11);
      return;
    case '"':
    case '$':
    case '%': {
      push_en_cache(r, cnValueEnded);
      r.Charge(vc_cost<cEncoding>());
      auto text = std::make_unique<cEncoding>();
      r.text_target = text.get();
      r.text_length = 0;
      set_owned(*e, ET_TEXT, text.release());
      r.MapRecord(11, c);
      r.value_state = cnValueSequence;
      r.value_substate = c == '"' ? 28 : (c == '$' ? 17 : 13);
      return;
    }
    case '#': {
      r.Charge(vc_cost<std::string>());
      auto name = std::make_unique<std::string>();
      std::string* target = name.get();
      set_owned(*e, ET_VAR, name.release());
      r.value_state = cnValueVarAfter;
      r.EnterId(target, 11);
      return;
    }
    case '&': {
      r.Charge(vc_cost<rTCCast>());
      auto cast = std::make_unique<rTCCast>();
      std::string* target = &cast->type_name;
      set_owned(*e, ET_CAST, cast.release());
      r.value_state = cnValueCastIdEnd;
      r.EnterId(target, 11);
      return;
    }
    case '(': {
      // The record's context is saved first, so that its ")" brings back
      // the enclosing list: properties after the record belong to the tag.
      push_en_cache(r, cnValueEnded);
      r.Charge(vc_cost<cTCProperties>());
      auto record = std::make_unique<cTCProperties>();
      r.ChargeAppend(*record);
      rTCProperty* first = record->Append(1);
      if (first == nullptr) raise_parser(errVormCodeParser, "{ENTRY,properties.Append}");
      r.cur_properties = record.get();
      r.cur_property = first;
      set_owned(*e, ET_RECORD, record.release());
      r.MapRecord(27, c);
      r.value_state = cnValueRecordOpen;
      return;
    }
    case '@': {
      r.Charge(vc_cost<std::string>());
      auto label = std::make_unique<std::string>();
      std::string* target = label.get();
      set_owned(*e, ET_LABEL, label.release());
      r.value_state = cnValueEnded;
      r.EnterLabel(target, 11);
      return;
    }
    case '[': {
      push_en_cache(r, cnValueArray);
      r.Charge(vc_cost<cTCEntries>());
      auto list = std::make_unique<cTCEntries>();
      r.ChargeAppend(*list);
      rTCEntry* first = list->Append(1);
      if (first == nullptr) raise_parser(errVormCodeParser, "{ENTRY,entries.Append}");
      r.cur_entries = list.get();
      r.cur_entry = first;
      set_owned(*e, ET_LIST, list.release());
      r.MapRecord(24, c);
      r.value_state = cnValueOpen;
      return;
    }
    default: break;
  }
  if (c == '+' || c == '-' || vc_is_digit(c)) {
    push_en_cache(r, cnValueConvert);
    r.number_text.clear();
    r.Charge(cnVcCostChar);
    if (c != '+') r.number_text.push_back(char(c));
    r.MapRecord(11, c);
    r.value_state = cnValueNumber;
    r.value_substate = 10;
    return;
  }
  if (vc_is_letter(c)) {
    r.Charge(vc_cost<std::string>());
    auto id = std::make_unique<std::string>(1, char(c));
    std::string* target = id.get();
    set_owned(*e, ET_ID, id.release());
    r.value_state = cnValueIdAfter;
    r.EnterId(target, 11);
    return;
  }
  no_value(r);
}

// NUMBER (value state 23). Accepted characters join the number text; where
// the number ends, the saved context comes back in state 22, which converts.
void value_number(cVormCodeRun& r, int32_t c) {
  const auto accept = [&](uint8_t next) {
    r.Charge(cnVcCostChar);
    r.number_text.push_back(char(c));
    r.MapRecord(11, c);
    r.value_substate = next;
  };
  switch (r.value_substate) {
    case 10:
      if (c == '.') return accept(11);
      if (vc_is_digit(c)) return accept(10);
      if ((c == 'X' || c == 'x') && (r.number_text == "0" || r.number_text == "-0")) {
        // "0x": the digits follow; "-0x" keeps its sign, so "-0x1F" is -31.
        r.number_text.pop_back();
        r.MapRecord(11, c);
        r.value_substate = 17;
        return;
      }
      break;
    case 11:
      if (vc_is_digit(c)) return accept(11);
      if (c == 'E' || c == 'e') return accept(14);
      break;
    case 14:
      if (c == '+' || c == '-') return accept(15);
      r.SyntaxError();
    case 15:
      if (vc_is_digit(c)) return accept(16);
      r.SyntaxError();
    case 16:
      if (vc_is_digit(c)) return accept(16);
      break;
    case 17:
      if (vc_is_hex_digit(c)) return accept(17);
      break;
    default: r.SyntaxError();
  }
  pop_en_cache(r);
}

// State 22: the number text becomes the value.
void value_convert(cVormCodeRun& r) {
  rTCEntry* e = current_entry(r);
  tc_entry_free(*e);
  switch (r.value_substate) {
    case 10:
      e->kind = ET_INTEGER;
      e->value.integer = string_to_int(r.number_text, cnTypeInt32, cnClampZero);
      break;
    case 17:
      e->kind = ET_INTEGER;
      e->hex = 1;
      e->value.integer = hex_to_int(r.number_text, cnTypeInt64, cnClampZero);
      break;
    case 11:
    case 16:
      e->kind = ET_FLOAT;
      e->value.real = string_to_float(r.number_text, cnTypeRealInt64, 0);
      break;
    default: r.SyntaxError();
  }
  ends_handing_back(r);
}

// After a "$" or "%" code: what may follow it.
void sequence_after_code(cVormCodeRun& r, int32_t c) {
  if (c == '$' || c == '%') {
    r.MapRecord(11, c);
    r.value_substate = c == '$' ? 17 : 13;
  } else if (c == '+') {
    r.MapRecord(12, c);
    r.value_substate = 10;
  } else if (vc_skip_space(r, c)) {
    r.value_substate = 30;
  } else {
    ends_handing_back(r);
  }
}

// DATA_SEQUENCE (value state 28): quoted parts, "$" hexadecimal and "%"
// decimal codes, joined directly or by "+".
void value_sequence(cVormCodeRun& r, int32_t c) {
  switch (r.value_substate) {
    case 10:
      if (vc_skip_space(r, c)) return;
      if (c == '"' || c == '$' || c == '%') {
        r.MapRecord(11, c);
        r.value_substate = c == '"' ? 28 : (c == '$' ? 17 : 13);
        return;
      }
      return ends_handing_back(r);
    case 28:
      if (c < 32) r.SyntaxError();
      r.MapRecord(11, c);
      if (c == '"')
        r.value_substate = 29;
      else
        text_append(r, c);
      return;
    case 29:
      // Only a quote directly after the closing quote is a doubled quote;
      // after a blank or a comment the quoted part is over.
      if (c == '"') {
        r.MapRecord(11, c);
        text_append(r, '"');
        r.value_substate = 28;
        return;
      }
      if (c == '+') {
        r.MapRecord(12, c);
        r.value_substate = 10;
        return;
      }
      if (vc_skip_space(r, c)) {
        r.value_substate = 30;
        return;
      }
      return ends_handing_back(r);
    case 13:
    case 17: {
      const bool hex = r.value_substate == 17;
      if (!(hex ? vc_is_hex_digit(c) : vc_is_digit(c))) r.SyntaxError();
      r.number_text.assign(1, char(c));
      r.MapRecord(11, c);
      r.value_substate = hex ? 18 : 14;
      return;
    }
    case 14:
    case 18: {
      const bool hex = r.value_substate == 18;
      if (hex ? vc_is_hex_digit(c) : vc_is_digit(c)) {
        if (r.number_text.size() >= (hex ? 8u : 10u)) r.SyntaxError();
        r.number_text.push_back(char(c));
        r.MapRecord(11, c);
        return;
      }
      const int64_t code = hex ? hex_to_int(r.number_text, cnTypeInt32, cnClampZero)
                               : string_to_int(r.number_text, cnTypeInt32, cnClampZero);
      text_append(r, int32_t(code < 0 ? 0 : code));
      return sequence_after_code(r, c);
    }
    case 30:
      if (vc_skip_space(r, c)) return;
      if (c == '+') {
        r.MapRecord(12, c);
        r.value_substate = 10;
        return;
      }
      return ends_handing_back(r);
    default: r.SyntaxError();
  }
}

// State 2 ",": the cast's single argument becomes the first element of a
// list that replaces the cast. The list is built before the cast is freed.
void cast_to_list(cVormCodeRun& r, int32_t c) {
  rTCEntry* e = current_entry(r);
  rTCCast* cast = e->Cast();
  if (cast == nullptr) raise_parser(errVormCodeParser, "{ENTRY,cast=NIL}");
  push_en_cache(r, cnValueEnded);
  r.Charge(vc_cost<cTCEntries>());
  auto list = std::make_unique<cTCEntries>();
  r.ChargeAppend(*list);
  rTCEntry* first = list->Append(1);
  if (first == nullptr) raise_parser(errVormCodeParser, "{ENTRY,entries.Append}");
  first->kind = cast->value.kind;
  first->hex = cast->value.hex;
  first->value = cast->value.value;
  cast->value.kind = ET_NONE;  // moved into the list
  tc_cast_free(cast);
  e->kind = ET_LIST;
  e->hex = 0;
  e->value.pointer = list.get();
  r.cur_entries = list.release();
  push_en_cache(r, cnValueCastNextAfter);
  append_element(r);
  r.MapRecord(32, c);
  r.value_state = cnValueOpen;
}

// State 20 "." or "[": the variable becomes a reference path whose first
// item is named by the variable.
void var_to_deref(cVormCodeRun& r) {
  rTCEntry* e = current_entry(r);
  std::string* name = e->String();
  if (name == nullptr) raise_parser(errVormCodeParser, "{ENTRY,var=NIL}");
  r.Charge(vc_cost<cTCDeref>() + name->size() * cnVcCostChar);
  auto deref = std::make_unique<cTCDeref>();
  r.ChargeAppend(*deref);
  rTCDerefItem* item = deref->Append(1);
  if (item == nullptr) raise_parser(errVormCodeParser, "{ENTRY,deref.Append}");
  item->name = *name;
  r.cur_deref = deref.get();
  r.cur_deref_item = item;
  set_owned(*e, ET_DEREF, deref.release());
  r.value_state = cnValueEnded;
  r.PushPhase(cnPhaseEntry);
  r.deref_stack.Clear();
  r.deref_state = 11;
  r.phase = cnPhaseDeref;
  r.HandBack();
}

}  // namespace

// ---------------------------------------------------------------------------
// Shared steps.

bool vc_skip_space(cVormCodeRun& run, int32_t c) {
  if (vc_is_blank(c)) {
    run.MapRecord(2, c);
    return true;
  }
  if (vc_is_break(c)) {
    run.MapRecord(3, c);
    return true;
  }
  if (c == '{') {
    run.EnterComment();
    return true;
  }
  return false;
}

void push_en_cache(cVormCodeRun& run, uint8_t state) {
  if (run.entry_stack.Count() >= cnVormCodeMaxNesting) run.SyntaxError();
  rEntryStackItem* item = run.entry_stack.Append(1);
  if (item == nullptr) raise_parser(errVormCodeParser, "{push_en_cache,entry_stack.Append}");
  item->state = state;
  item->properties = run.cur_properties;
  item->property = run.cur_property;
  item->entries = run.cur_entries;
  item->entry = run.cur_entry;
}

namespace {
void pop_entry(cVormCodeRun& run, const char* empty_text) {
  rEntryStackItem* item = run.entry_stack.Last();
  if (item == nullptr) raise_parser(errVormCodeSyntaxError, empty_text);
  run.value_state = item->state;
  restore(run, *item);
  run.entry_stack.RemoveLast(1);
}
}  // namespace

void pop_en_cache(cVormCodeRun& run) {
  pop_entry(run, "{pop_en_cache=PHASE_ERROR}");
  run.HandBack();
}

void pop_en_map(cVormCodeRun& run, uint8_t map_kind) {
  pop_entry(run, "{pop_en_map=PHASE_ERROR}");
  run.MapRecord(map_kind, run.current);
}

void push_de_cache(cVormCodeRun& run, uint8_t state) {
  if (run.deref_stack.Count() >= cnVormCodeMaxNesting) run.SyntaxError();
  rDerefStackItem* item = run.deref_stack.Append(1);
  if (item == nullptr) raise_parser(errVormCodeParser, "{push_de_cache,deref_stack.Append}");
  item->state = state;
  item->deref = run.cur_deref;
  item->item = run.cur_deref_item;
}

void pop_de_cache(cVormCodeRun& run) {
  rDerefStackItem* item = run.deref_stack.Last();
  if (item == nullptr) raise_parser(errVormCodeSyntaxError, "{pop_de_cache=PHASE_ERROR}");
  run.deref_state = item->state;
  run.cur_deref = item->deref;
  run.cur_deref_item = item->item;
  run.deref_stack.RemoveLast(1);
  run.HandBack();
}

void vc_start_value(cVormCodeRun& run, rTCEntry* entry) {
  run.cur_entries = nullptr;
  run.cur_entry = entry;
  run.PushPhase(run.phase);
  run.entry_stack.Clear();
  run.phase = cnPhaseEntry;
  run.value_state = cnValueOpen;
}

void vc_start_type(cVormCodeRun& run, rTCType* type) {
  run.cur_type = type;
  run.PushPhase(run.phase);
  run.phase = cnPhaseType;
  run.type_state = 10;
}

void vc_enter_numb(cVormCodeRun& run, uint8_t map_kind) {
  run.number_text.assign(1, char(run.current));
  run.id_map_kind = map_kind;
  run.MapRecord(map_kind, run.current);
  run.PushPhase(run.phase);
  run.phase = cnPhaseNumb;
}

// ---------------------------------------------------------------------------
// ENTRY

void cVormCodeRun::PhaseEntry(int32_t c) {
  switch (value_state) {
    case cnValueOpen: return value_open(*this, c);
    case cnValueCastIdEnd: {
      if (c != '(') SyntaxError();
      rTCCast* cast = current_entry(*this)->Cast();
      if (cast == nullptr) raise_parser(errVormCodeParser, "{ENTRY,cast=NIL}");
      push_en_cache(*this, cnValueCastEntryAfter);
      cur_entries = nullptr;
      cur_entry = &cast->value;
      MapRecord(31, c);
      value_state = cnValueOpen;
      return;
    }
    case cnValueCastEntryAfter:
    case cnValueCastNextAfter:
      if (vc_skip_space(*this, c)) return;
      if (c == ')') return ends_consuming(*this, 33);
      if (c != ',') SyntaxError();
      if (value_state == cnValueCastEntryAfter) return cast_to_list(*this, c);
      push_en_cache(*this, cnValueCastNextAfter);
      append_element(*this);
      MapRecord(32, c);
      value_state = cnValueOpen;
      return;
    case cnValueRecordIdAfter: {
      if (vc_skip_space(*this, c)) return;
      if (cur_property == nullptr) raise_parser(errVormCodeParser, "{ENTRY,property=NIL}");
      if (c == ')' || c == ',') {
        // A bare identifier member: no name, the identifier as its value.
        Charge(vc_cost<std::string>() + number_text.size() * cnVcCostChar);
        set_owned(cur_property->value, ET_ID, new std::string(number_text));
        if (c == ')') return ends_consuming(*this, 30);
        append_member(*this);
        MapRecord(28, c);
        value_state = cnValueRecordOpen;
        return;
      }
      if (c != '=') SyntaxError();
      Charge(number_text.size() * cnVcCostChar);
      cur_property->name = number_text;
      push_en_cache(*this, cnValueRecordEntryAfter);
      cur_entries = nullptr;
      cur_entry = &cur_property->value;
      MapRecord(29, c);
      value_state = cnValueOpen;
      return;
    }
    case cnValueIdAfter:
      if (c == '@') {
        std::string* id = current_entry(*this)->String();
        if (id == nullptr) raise_parser(errVormCodeParser, "{ENTRY,id=NIL}");
        Charge(cnVcCostChar);
        cur_entry->kind = ET_IDLABEL;
        id->push_back('@');
        value_state = cnValueEnded;
        EnterLabel(id, 11);
        return;
      }
      return ends_handing_back(*this);
    case cnValueArray: {
      if (vc_skip_space(*this, c)) return;
      if (c == ']') return ends_consuming(*this, 26);
      if (c != ',') SyntaxError();
      cTCEntries* list = current_entry(*this)->List();
      if (list == nullptr) raise_parser(errVormCodeParser, "{ENTRY,list=NIL}");
      push_en_cache(*this, cnValueArray);
      cur_entries = list;
      append_element(*this);
      MapRecord(25, c);
      value_state = cnValueOpen;
      return;
    }
    case cnValueVarAfter:
      if (c == '.' || c == '[') return var_to_deref(*this);
      return ends_handing_back(*this);
    case cnValueConvert: return value_convert(*this);
    case cnValueNumber: return value_number(*this, c);
    case cnValueRecordOpen:
      if (vc_skip_space(*this, c)) return;
      if (c == ')') return ends_consuming(*this, 30);
      if (cur_property == nullptr) raise_parser(errVormCodeParser, "{ENTRY,property=NIL}");
      if (vc_is_letter(c)) {
        number_text.assign(1, char(c));
        value_state = cnValueRecordIdAfter;
        EnterId(&number_text, 11);
        return;
      }
      push_en_cache(*this, cnValueRecordEntryAfter);
      cur_entries = nullptr;
      cur_entry = &cur_property->value;
      value_state = cnValueOpen;
      HandBack();
      return;
    case cnValueSequence: return value_sequence(*this, c);
    case cnValueEnded: return ends_handing_back(*this);
    case cnValueRecordEntryAfter:
      if (vc_skip_space(*this, c)) return;
      if (c == ')') return ends_consuming(*this, 30);
      if (c != ',') SyntaxError();
      append_member(*this);
      MapRecord(28, c);
      value_state = cnValueRecordOpen;
      return;
    default: SyntaxError();
  }
}

// ---------------------------------------------------------------------------
// TYPE

void cVormCodeRun::PhaseType(int32_t c) {
  if (cur_type == nullptr) raise_parser(errVormCodeParser, "{TYPE,type=NIL}");
  switch (type_state) {
    case 10:
      if (vc_skip_space(*this, c)) return;
      if (c == '&') {
        cur_type->cast = 1;
        MapRecord(7, c);
        type_state = 11;
        return;
      }
      [[fallthrough]];
    case 11:
      if (!vc_is_letter(c)) SyntaxError();
      cur_type->name.assign(1, char(c));
      type_state = 13;
      EnterId(&cur_type->name, 7);
      return;
    case 13:
      if (c == '(' && cur_type->cast != 0) {
        cur_type->enum_name.clear();
        type_state = 14;
        EnterId(&cur_type->enum_name, 7);
        return;
      }
      if (c == '[') {
        if (cur_type->dimensions == nullptr) {
          Charge(vc_cost<cTCSize>());
          cur_type->dimensions = new cTCSize();
        }
        MapRecord(20, c);
        type_state = 1;
        return;
      }
      PopPhase();
      HandBack();
      return;
    case 14:
      if (c != ')') SyntaxError();
      PopPhase();
      MapRecord(7, c);
      return;
    case 1:
      if (vc_skip_space(*this, c)) return;
      if (vc_is_digit(c)) {
        type_state = 2;
        vc_enter_numb(*this, 22);
        return;
      }
      if (c != ']') SyntaxError();
      PopPhase();
      MapRecord(23, c);
      return;
    case 2: {
      if (!(vc_is_blank(c) || vc_is_break(c) || c == ',' || c == ']' || c == '{')) SyntaxError();
      if (cur_type->dimensions != nullptr) ChargeAppend(*cur_type->dimensions);
      rTCSizeItem* size = cur_type->dimensions != nullptr ? cur_type->dimensions->Append(1) : nullptr;
      if (size == nullptr) raise_parser(errVormCodeParser, "{TYPE,dimensions.Append}");
      size->size = int32_t(string_to_int(number_text, cnTypeInt32, cnClampZero));
      if (c == ',') {
        MapRecord(21, c);
        type_state = 1;
      } else {
        type_state = 3;
        HandBack();
      }
      return;
    }
    case 3:
      if (vc_skip_space(*this, c)) return;
      if (c == ',') {
        MapRecord(21, c);
        type_state = 1;
        return;
      }
      if (c != ']') SyntaxError();
      PopPhase();
      MapRecord(23, c);
      return;
    default: SyntaxError();
  }
}

// ---------------------------------------------------------------------------
// DEREF

void cVormCodeRun::PhaseDeref(int32_t c) {
  // The path ends: back to the enclosing path, or to its value or tag.
  const auto path_ends = [this] {
    if (deref_stack.Count() > 0) {
      pop_de_cache(*this);
    } else {
      PopPhase();
      HandBack();
    }
  };
  const auto item_indices = [this]() -> cTCIndex* {
    if (cur_deref_item == nullptr) raise_parser(errVormCodeParser, "{DEREF,item=NIL}");
    if (cur_deref_item->indices == nullptr) {
      Charge(vc_cost<cTCIndex>());
      cur_deref_item->indices = new cTCIndex();
    }
    return cur_deref_item->indices;
  };
  switch (deref_state) {
    case 10: {
      if (!vc_is_letter(c)) SyntaxError();
      if (cur_deref == nullptr) raise_parser(errVormCodeParser, "{DEREF,deref=NIL}");
      ChargeAppend(*cur_deref);
      Charge(cnVcCostChar);
      rTCDerefItem* item = cur_deref->Append(1);
      if (item == nullptr) raise_parser(errVormCodeParser, "{DEREF,deref.Append}");
      item->name.assign(1, char(c));
      cur_deref_item = item;
      MapRecord(id_map_kind, c);
      deref_state = 11;
      return;
    }
    case 11:
      if (c == '.') {
        deref_state = 10;
      } else if (vc_is_name_char(c)) {
        if (cur_deref_item == nullptr) raise_parser(errVormCodeParser, "{DEREF,item=NIL}");
        Charge(cnVcCostChar);
        cur_deref_item->name.push_back(char(c));
      } else if (c == '[') {
        deref_state = 12;
      } else {
        return path_ends();
      }
      MapRecord(id_map_kind, c);
      return;
    case 12:
      if (vc_skip_space(*this, c)) return;
      if (c == '#') {
        cTCIndex* indices = item_indices();
        Charge(vc_cost<cTCDeref>());
        auto inner = std::make_unique<cTCDeref>();
        push_de_cache(*this, 23);
        ChargeAppend(*indices);
        rTCIndexItem* index = indices->Append(1);
        if (index == nullptr) raise_parser(errVormCodeParser, "{DEREF,indices.Append}");
        index->kind = cnIndexReference;
        index->deref = inner.release();
        cur_deref = index->deref;
        cur_deref_item = nullptr;
        MapRecord(id_map_kind, c);
        deref_state = 10;
        return;
      }
      if (!vc_is_digit(c)) SyntaxError();
      deref_state = 18;
      vc_enter_numb(*this, id_map_kind);
      return;
    case 18: {
      cTCIndex* indices = item_indices();
      ChargeAppend(*indices);
      rTCIndexItem* index = indices->Append(1);
      if (index == nullptr) raise_parser(errVormCodeParser, "{DEREF,indices.Append}");
      index->kind = cnIndexNumber;
      index->number = int32_t(string_to_int(number_text, cnTypeInt32, cnClampZero));
      deref_state = 23;
      HandBack();
      return;
    }
    case 23:
      if (vc_skip_space(*this, c)) return;
      if (c == ',') {
        deref_state = 12;
      } else if (c == ']') {
        deref_state = 33;
      } else {
        SyntaxError();
      }
      MapRecord(id_map_kind, c);
      return;
    case 33:
      if (c != '.') return path_ends();
      MapRecord(id_map_kind, c);
      deref_state = 10;
      return;
    default: SyntaxError();
  }
}

// ---------------------------------------------------------------------------
// NUMB

void cVormCodeRun::PhaseNumb(int32_t c) {
  if (vc_is_digit(c)) {
    Charge(cnVcCostChar);
    number_text.push_back(char(c));
    MapRecord(id_map_kind, c);
    return;
  }
  PopPhase();
  HandBack();
}
