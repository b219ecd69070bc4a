// The VormCode tag phases: sections, property tags, property lists,
// metadata, structures and insertables, with pairing by name.
//
// A phase still without its table treats every code point inside its tag as
// unexpected input (300 with the phase and its state), and a text that ends
// inside a tag gives 301.
#include "qlm_parser_vormcode_run.h"
#include "qlm_parser_vormcode_values.h"

namespace {

[[noreturn]] void raise_parser(std::string_view text) {
  raise_error(errVormCodeParser, &qlm_parser_vormcode_exception_string, text);
}

// Gives the current token (still without payload) a payload of the kind,
// owned by the token; its syntax map stays.
template <typename T>
T* set_payload(cVormCodeRun& r, uint8_t kind) {
  r.Charge(vc_cost<T>());
  rTCToken* token = r.token;
  T* payload = new T();
  token->kind = kind;
  token->payload.pointer = payload;
  return payload;
}

rTCProperty* append_property(cVormCodeRun& r) {
  if (r.cur_properties == nullptr) raise_parser("{PROPERTIES,properties=NIL}");
  r.ChargeAppend(*r.cur_properties);
  rTCProperty* p = r.cur_properties->Append(1);
  if (p == nullptr) raise_parser("{PROPERTIES,properties.Append}");
  r.cur_property = p;
  return p;
}

// Ends the tag: back to running text.
void end_tag(cVormCodeRun& r, uint8_t map_kind) {
  r.MapRecord(map_kind, r.current);
  r.phase = cnPhaseText;
}

// Starts the property list of a tag in `list` (owned by the caller's
// payload); the tag continues in `after` when the list ends.
void start_properties(cVormCodeRun& r, cTCProperties* list, uint8_t after) {
  r.cur_properties = list;
  r.cur_property = nullptr;
  r.tag_state = after;
  r.PushPhase(r.phase);
  r.parenthesized = false;
  r.properties_state = 10;
  r.phase = cnPhaseProperties;
  r.MapRecord(15, r.current);
}

std::string property_key(const rTCProperty& p) {
  std::string key(1, p.variable != 0 ? '#' : '-');
  key += p.name;
  return key;
}

std::string section_key(const rTCT_SECTION& s) {
  std::string key = s.label;  // an identifier or "text": never holds a NUL
  key.push_back('\0');
  key += s.name;
  return key;
}

// Brings the name indexes up to the token before the current one. Tokens
// before the current one are finished, so each is looked at once.
void scan_named(cVormCodeRun& r) {
  rTCToken* t = r.named_scanned != nullptr ? r.named_scanned->next : r.tokens->First();
  while (t != nullptr && t != r.token) {
    if (t->kind == TCT_SECTION) {
      r.open_named_properties.clear();
      if (rTCT_SECTION* s = t->Section()) {
        std::string key = section_key(*s);
        if (r.first_sections.find(key) == r.first_sections.end()) {
          r.Charge(cnVcCostIndexKey + key.size() * cnVcCostChar);
          r.first_sections.emplace(std::move(key), s);
        }
      }
    } else if (t->kind == TCT_PROPERTIES && t->Properties() != nullptr) {
      for (rTCProperty* p = t->Properties()->First(); p != nullptr; p = p->next) {
        if (p->partner != nullptr) continue;
        std::string key = property_key(*p);
        auto found = r.open_named_properties.find(key);
        if (found == r.open_named_properties.end()) {
          r.Charge(cnVcCostIndexKey + key.size() * cnVcCostChar);
          found = r.open_named_properties.emplace(std::move(key), std::vector<rTCProperty*>()).first;
        }
        r.Charge(cnVcCostIndexSlot);
        found->second.push_back(p);
      }
    }
    r.named_scanned = t;
    t = t->next;
  }
}

// "~\~label@name\": pairs with the first section token of the whole list
// whose label and name are equal, paired or not.
void pair_section_by_name(cVormCodeRun& r) {
  rTCT_SECTION* closing = r.token->Section();
  if (closing == nullptr) return;
  scan_named(r);
  auto found = r.first_sections.find(section_key(*closing));
  if (found == r.first_sections.end()) return;
  found->second->partner = closing;
  closing->partner = found->second;
}

// "~<~name": every unpaired property of the same variable flag and name in
// the property tags back to the last section token is paired with the
// closing property, which ends paired with the earliest of them (what a
// backward search over all matches gives).
void pair_property_by_name(cVormCodeRun& r, rTCProperty* closing) {
  scan_named(r);
  auto found = r.open_named_properties.find(property_key(*closing));
  if (found == r.open_named_properties.end()) return;
  rTCProperty* earliest = nullptr;
  for (rTCProperty* p : found->second) {
    if (p->partner != nullptr) continue;
    p->partner = closing;
    if (earliest == nullptr) earliest = p;
  }
  if (earliest != nullptr) closing->partner = earliest;
  r.open_named_properties.erase(found);
}

}  // namespace

// ---------------------------------------------------------------------------
// SECTION

void cVormCodeRun::PhaseSection(int32_t c) {
  // An opening ("~\" label, "@" name) or a closing by name ("~\~").
  const auto start = [&](uint8_t kind, bool with_label) -> rTCT_SECTION* {
    rTCT_SECTION* section = set_payload<rTCT_SECTION>(*this, kind);
    if (with_label)
      section->label.assign(1, char(c));
    else
      section->label = "text";
    last_section = token;
    return section;
  };
  switch (tag_state) {
    case 10:
      if (c == '\\') {
        token->kind = TCT_SECTION_END;
        if (last_section != nullptr) {
          last_section->partner = token;
          token->partner = last_section;
          last_section = nullptr;
        }
        return end_tag(*this, 0);
      }
      if (c == '~') {
        MapRecord(0, c);
        tag_state = 23;
        return;
      }
      [[fallthrough]];
    case 11:
      if (vc_skip_space(*this, c)) {
        tag_state = 11;
        return;
      }
      if (c == '@') {
        rTCT_SECTION* section = start(TCT_SECTION, false);
        tag_state = 14;
        return EnterLabel(&section->name, 6);
      }
      if (vc_is_letter(c)) {
        rTCT_SECTION* section = start(TCT_SECTION, true);
        tag_state = 13;
        return EnterId(&section->label, 5);
      }
      SyntaxError();
    case 13:
    case 14:
      if (vc_skip_space(*this, c)) {
        tag_state = 14;
        return;
      }
      if (c == '<') {
        rTCT_SECTION* section = token->Section();
        if (section == nullptr) raise_parser("{SECTION,section=NIL}");
        if (section->properties == nullptr) {
          Charge(vc_cost<cTCProperties>());
          section->properties = new cTCProperties();
        }
        return start_properties(*this, section->properties, 33);
      }
      if (c == '\\') return end_tag(*this, 0);
      if (c == '@' && tag_state == 13) {
        rTCT_SECTION* section = token->Section();
        if (section == nullptr) raise_parser("{SECTION,section=NIL}");
        tag_state = 14;
        return EnterLabel(&section->name, 6);
      }
      SyntaxError();
    case 23:
      if (c == '@') {
        rTCT_SECTION* section = start(TCT_SECTION_END, false);
        tag_state = 26;
        return EnterLabel(&section->name, 6);
      }
      if (vc_is_letter(c)) {
        rTCT_SECTION* section = start(TCT_SECTION_END, true);
        tag_state = 25;
        return EnterId(&section->label, 5);
      }
      SyntaxError();
    case 25:
    case 26:
      if (vc_skip_space(*this, c)) {
        tag_state = 26;
        return;
      }
      if (c == '\\') {
        pair_section_by_name(*this);
        return end_tag(*this, 0);
      }
      if (c == '@' && tag_state == 25) {
        rTCT_SECTION* section = token->Section();
        if (section == nullptr) raise_parser("{SECTION,section=NIL}");
        tag_state = 26;
        return EnterLabel(&section->name, 6);
      }
      SyntaxError();
    case 33:
      if (vc_skip_space(*this, c)) return;
      if (c == '\\') return end_tag(*this, 0);
      SyntaxError();
    default: SyntaxError();
  }
}

// ---------------------------------------------------------------------------
// PROPERTY: after "~<", and the closings "~<~a;~#b>".

void cVormCodeRun::PhaseProperty(int32_t c) {
  // A closing property: "#" name (variable) or a name.
  const auto closing_property = [&](bool first) {
    if (c != '#' && !vc_is_letter(c)) SyntaxError();
    if (first) set_payload<cTCProperties>(*this, TCT_PROPERTIES_END);
    cur_properties = token->Properties();
    rTCProperty* p = append_property(*this);
    tag_state = 14;
    if (c == '#') {
      p->variable = 1;
      return EnterId(&p->name, 8);
    }
    p->name.assign(1, char(c));
    EnterId(&p->name, 5);
  };
  switch (tag_state) {
    case 10:
      if (c == '>') return end_tag(*this, 19);
      if (c == '~') {
        MapRecord(0, c);
        tag_state = 23;
        return;
      }
      // The list starts with this code point; when it ends, running text
      // follows (the phase stack gets TEXT, not PROPERTY).
      cur_properties = set_payload<cTCProperties>(*this, TCT_PROPERTIES);
      cur_property = nullptr;
      PushPhase(cnPhaseText);
      parenthesized = false;
      properties_state = 10;
      phase = cnPhaseProperties;
      HandBack();
      return;
    case 23: return closing_property(true);
    case 22: return closing_property(false);
    case 14:
      if (!(vc_is_blank(c) || vc_is_break(c) || c == ';' || c == '>' || c == '{')) SyntaxError();
      if (cur_property == nullptr) raise_parser("{PROPERTY,property=NIL}");
      pair_property_by_name(*this, cur_property);
      if (c == ';') {
        MapRecord(16, c);
        tag_state = 29;
      } else if (c == '>') {
        end_tag(*this, 19);
      } else {
        tag_state = 33;
        vc_skip_space(*this, c);
      }
      return;
    case 29:
      if (vc_skip_space(*this, c)) return;
      if (c == '>') return end_tag(*this, 19);
      if (c != '~') SyntaxError();
      MapRecord(0, c);
      tag_state = 22;
      return;
    case 33:
      if (vc_skip_space(*this, c)) return;
      if (c == '>') return end_tag(*this, 19);
      if (c != ';') SyntaxError();
      MapRecord(16, c);
      tag_state = 29;
      return;
    default: SyntaxError();
  }
}

// ---------------------------------------------------------------------------
// PROPERTIES: "name:type=value;..." up to ">" (or ")" when the list was
// opened by "("). The list is the current properties list of the tag.

void cVormCodeRun::PhaseProperties(int32_t c) {
  const auto list_ends = [&] {
    MapRecord(19, c);
    PopPhase();
  };
  switch (properties_state) {
    case 10: {
      if (vc_skip_space(*this, c)) return;
      if (c == '>') return list_ends();
      if (c != '#' && !vc_is_letter(c)) SyntaxError();
      rTCProperty* p = append_property(*this);
      properties_state = 11;
      if (c == '#') {
        p->variable = 1;
        return EnterId(&p->name, 8);
      }
      p->name.assign(1, char(c));
      return EnterId(&p->name, 5);
    }
    case 11:
    case 12:
    case 13:
      if (vc_skip_space(*this, c)) return;
      if (c == '>') return list_ends();
      if (c == ')') {
        if (!parenthesized) SyntaxError();
        return list_ends();
      }
      if (c == ';') {
        MapRecord(16, c);
        properties_state = 10;
        return;
      }
      if (cur_property == nullptr) raise_parser("{PROPERTIES,property=NIL}");
      if (c == ':' && properties_state == 11) {
        Charge(vc_cost<rTCType>());
        auto type = std::make_unique<rTCType>();
        tc_type_free(cur_property->type);
        cur_property->type = type.release();
        MapRecord(17, c);
        properties_state = 12;
        return vc_start_type(*this, cur_property->type);
      }
      if (c == '=' && properties_state != 13) {
        MapRecord(18, c);
        properties_state = 13;
        return vc_start_value(*this, &cur_property->value);
      }
      SyntaxError();
    default: SyntaxError();
  }
}
