// The VormCode parser's metadata, structure and insertable tags, their
// pairing by name, embedded data and syntax maps.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "qlm_base_flow.h"
#include "qlm_base_util.h"
#include "qlm_encoding.h"
#include "qlm_parser_vormcode.h"
#include "qlm_parser_vormcode_run.h"

namespace {

using Tokens = std::vector<std::string>;

std::string codepoints(cEncoding* en) {
  std::string s;
  for (int32_t t = 1; en != nullptr && en->IsAssociated() && t <= en->Length(); ++t) {
    const int32_t c = en->Get(t);
    if (c < 256) {
      s.push_back(char(uint8_t(c)));
    } else {
      s += '<';
      s += int_to_hex(0, 0, c);
      s += '>';
    }
  }
  return s;
}

std::string value_text(const rTCEntry& e);

std::string type_text(const rTCType* t) {
  if (t == nullptr) return {};
  std::string s = ":";
  if (t->cast) s += "&";
  s += t->name;
  if (!t->enum_name.empty()) s += "(" + t->enum_name + ")";
  if (t->dimensions != nullptr) {
    s += "[";
    for (const rTCSizeItem* d = t->dimensions->First(); d != nullptr; d = d->next)
      s += int_to_str(0, 0, d->size) + (d->next ? "," : "");
    s += "]";
  }
  return s;
}

std::string properties_text(const cTCProperties* list, const char* open = "<", const char* close = ">") {
  std::string s = open;
  for (const rTCProperty* p = list ? list->First() : nullptr; p != nullptr; p = p->next) {
    if (p->variable) s += "#";
    s += p->name + type_text(p->type);
    if (p->value.kind != ET_NONE) s += "=" + value_text(p->value);
    if (p->next != nullptr) s += ";";
  }
  return s + close;
}

std::string deref_text(const cTCDeref* d) {
  std::string s;
  for (const rTCDerefItem* item = d ? d->First() : nullptr; item != nullptr; item = item->next) {
    s += (s.empty() ? "#" : ".") + item->name;
    if (item->indices == nullptr) continue;
    s += "[";
    for (const rTCIndexItem* x = item->indices->First(); x != nullptr; x = x->next)
      s += (x->kind == cnIndexNumber ? int_to_str(0, 0, x->number) : deref_text(x->deref)) + (x->next ? "," : "");
    s += "]";
  }
  return s;
}

std::string list_text(const cTCEntries* list) {
  std::string s = "[";
  for (const rTCEntry* e = list ? list->First() : nullptr; e != nullptr; e = e->next)
    s += value_text(*e) + (e->next ? "," : "");
  return s + "]";
}

std::string value_text(const rTCEntry& e) {
  switch (e.kind) {
    case ET_NONE: return "NONE";
    case ET_INTEGER: return (e.hex ? "0x" : "") + int_to_str(0, 0, e.value.integer);
    case ET_FLOAT: {
      char buffer[32];
      std::snprintf(buffer, sizeof buffer, "%g", e.value.real);
      return buffer;
    }
    case ET_BOOLEAN: return e.value.boolean ? "*" : "!";
    case ET_TEXT: return "\"" + codepoints(e.Text()) + "\"";
    case ET_ID:
    case ET_IDLABEL: return *e.String();
    case ET_LABEL: return "@" + *e.String();
    case ET_VAR: return "#" + *e.String();
    case ET_DEREF: return deref_text(e.Deref());
    case ET_LIST: return list_text(e.List());
    case ET_RECORD: return properties_text(e.Record(), "(", ")");
    case ET_CAST: return "&" + e.Cast()->type_name + "(" + value_text(e.Cast()->value) + ")";
    default: return "?";
  }
}

std::string flow_bytes(cWriteFlow* flow) {
  if (flow == nullptr) return "<nil>";
  const int64_t size = flow->Size();
  std::string s(size_t(size), '\0');
  if (size > 0 && !(flow->Seek(0) && flow->Read(s.data(), int32_t(size)))) return "<unreadable>";
  return s;
}

std::string name_text(const std::string& label, const std::string& name, uint8_t variable) {
  return (variable ? "#" : "") + label + (name.empty() ? "" : "@" + name);
}

// One line per token: kind and payload.
std::string describe(const rTCToken* t) {
  switch (t->kind) {
    case TCT_NONE: return "NONE";
    case TCT_DATA: return "DATA \"" + codepoints(t->Data()) + "\"";
    case TCT_SPACE: return "SPACE " + int_to_str(0, 0, t->Count());
    case TCT_CONTROL: return "CONTROL";
    case TCT_PROPERTIES: return "PROPERTIES" + properties_text(t->Properties());
    case TCT_PROPERTIES_END: return "PROPERTIES_END";
    case TCT_PAREN_CLOSE: return "PAREN_CLOSE";
    case TCT_METADATA:
    case TCT_METADATA_END: {
      const rTCT_METADATA* m = t->Metadata();
      std::string s = t->kind == TCT_METADATA ? "METADATA{" : "METADATA_END{";
      if (m == nullptr) return s + "nil}";
      s += int_to_str(0, 0, m->kind) + "," + name_text(m->label, m->name, m->variable);
      if (m->kind == cnMetadataType) s += "=";
      s += type_text(m->type);
      if (m->kind == cnMetadataProperties) s += properties_text(m->Properties());
      if (m->kind == cnMetadataRecordType) s += "=" + properties_text(m->Properties(), "(", ")");
      if (m->kind == cnMetadataList) s += list_text(m->List());
      if (m->kind == cnMetadataValue) s += "=" + value_text(*m->Value());
      return s + "}";
    }
    case TCT_STRUCTURE:
    case TCT_STRUCTURE_END: {
      const rTCT_STRUCTURE* s = t->Structure();
      std::string out = t->kind == TCT_STRUCTURE ? "STRUCTURE" : "STRUCTURE_END";
      if (s == nullptr) return out;
      out += "{" + name_text(s->label, s->name, s->variable);
      if (s->properties != nullptr) out += properties_text(s->properties);
      return out + "}";
    }
    case TCT_INSERTABLE: {
      const rTCT_INSERTABLE* ins = t->Insertable();
      std::string s = "INSERTABLE{" + int_to_str(0, 0, ins->kind) + ",";
      switch (ins->kind) {
        case cnInsertableName:
          s += name_text(ins->name, ins->label, ins->variable);
          if (ins->Properties() != nullptr) s += properties_text(ins->Properties());
          break;
        case cnInsertableCast: s += "&" + ins->Cast()->type_name + "(" + value_text(ins->Cast()->value) + ")"; break;
        case cnInsertableReference: s += deref_text(ins->Deref()); break;
        case cnInsertableText: s += "\"" + codepoints(ins->Text()) + "\""; break;
        case cnInsertableTildes: s += int_to_str(0, 0, ins->count); break;
        default: break;
      }
      return s + "}";
    }
    case TCT_EMBEDDED: return "EMBEDDED \"" + flow_bytes(t->Embedded()) + "\"";
    case TCT_DELIMITER: return "DELIMITER \"" + codepoints(t->Delimiter()) + "\"";
    default: return "kind " + int_to_str(0, 0, t->kind);
  }
}

Tokens describe_all(const cParserVormCode& p) {
  Tokens out;
  for (const rTCToken* t = p.FirstToken(); t != nullptr; t = t->next) out.push_back(describe(t));
  return out;
}

// The source text of a token: its map text, or what running text and the
// map-less closings stand for.
std::string source_of(const rTCToken* t) {
  if (t->map != nullptr) return codepoints(t->map->text);
  switch (t->kind) {
    case TCT_DATA: return codepoints(t->Data());
    case TCT_SPACE: return std::string(size_t(t->Count()), ' ');
    case TCT_NBSP: return std::string(size_t(t->Count()), '\xA0');
    case TCT_CONTROL: return t->Control()->text;
    case TCT_PROPERTIES_END: return "~>";
    case TCT_STRUCTURE_END: return "~]";
    case TCT_PAREN_CLOSE: return "~)";
    case TCT_BRACE_CLOSE: return "~}";
    case TCT_EMBEDDED: return flow_bytes(t->Embedded());
    case TCT_DELIMITER: return codepoints(t->Delimiter());
    default: return "<no source>";
  }
}

std::string joined_sources(const cParserVormCode& p) {
  std::string s;
  for (const rTCToken* t = p.FirstToken(); t != nullptr; t = t->next) s += source_of(t);
  return s;
}

using MapEntries = std::vector<std::vector<int32_t>>;

MapEntries map_entries(const rTCToken* t) {
  MapEntries out;
  if (t == nullptr || t->map == nullptr) return out;
  for (const rTCTagMapEntry* e = t->map->entries->First(); e != nullptr; e = e->next)
    out.push_back({e->kind, e->first, e->length});
  return out;
}

struct Parsed {
  std::unique_ptr<cParserVormCode> parser;
  cEncoding en;
  std::string text;
  bool ok = false;
};

// Parses an 8-bit text attached as a string (each byte one code point).
std::unique_ptr<Parsed> parse(const std::string& text, bool record_map = false) {
  auto r = std::make_unique<Parsed>();
  r->text = text;
  r->parser = cParserVormCode::Construct(record_map);
  EXPECT_GE(r->en.AttachCharString(r->text, 0), 0);
  r->ok = r->parser->OpenEncoding(&r->en, nullptr);
  return r;
}

// The code, text and position of a failed parse, as "300 {...} @4".
std::string error_of(const cParserVormCode& p) {
  std::string text;
  if (p.Log() != nullptr && p.Log()->Count() > 0) text = p.Log()->Last()->message;
  return int_to_str(0, 0, p.LastErrorCode()) + " " + text + " @" + int_to_str(0, 0, p.ErrorPosition());
}

rTCToken* token_at(const cParserVormCode& p, int n) {
  rTCToken* t = p.FirstToken();
  while (t != nullptr && --n > 0) t = t->next;
  return t;
}

// ---------------------------------------------------------------------------

TEST(VormCodeMetaTags, TextsGiveTheirTokens) {
  struct Case {
    std::string text;
    Tokens tokens;
  } cases[] = {
      {"~{}", {"NONE"}},
      {"~[]", {"NONE"}},
      {"~()", {"NONE"}},
      {"~{ {note} \r\n}", {"NONE"}},
      {"~[ ]~( )", {"NONE", "NONE"}},
      {"~{label}", {"METADATA{0,label}"}},
      {"~{ lab_1 {c} }x", {"METADATA{0,lab_1}", "DATA \"x\""}},
      {"~{label@a.\"b c\":d }", {"METADATA{0,label@a.b c:d}"}},
      {"~{~m}", {"METADATA_END{0,m}"}},
      {"~{~m@n {c}}", {"METADATA_END{0,m@n}"}},
      {"~[s@n]x~[~s@n]", {"STRUCTURE{s@n}", "DATA \"x\"", "STRUCTURE_END{s@n}"}},
      {"~[#v9 ]", {"STRUCTURE{#v9}"}},
      {"~[#]", {"STRUCTURE{#}"}},
      {"~[ s ]~]", {"STRUCTURE{s}", "STRUCTURE_END"}},
      {"~(p)", {"INSERTABLE{1,p}"}},
      {"~(~~~)", {"INSERTABLE{5,3}"}},
      {"~(a;b)", {"INSERTABLE{1,a}", "INSERTABLE{1,b}"}},
      {"~( a@l.x ; #v {c} ;~~)", {"INSERTABLE{1,a@l.x}", "INSERTABLE{1,#v}", "INSERTABLE{5,2}"}},
      // An empty statement before ";" or ")" is a token of its own.
      {"~(;)", {"NONE", "NONE"}},
      {"~(a;)", {"INSERTABLE{1,a}", "NONE"}},
      {"~(;~)", {"NONE", "INSERTABLE{5,1}"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    auto r = parse(c.text);
    EXPECT_TRUE(r->ok) << error_of(*r->parser);
    EXPECT_EQ(describe_all(*r->parser), c.tokens);
  }
}

TEST(VormCodeMetaTags, ErrorsNamePhaseStateAndPosition) {
  struct Case {
    std::string text;
    std::string error;
  } cases[] = {
      // A variable needs a value, a property list or a list.
      {"~{#a}", "300 {METADATA,VAR_END,TextPoint:6,ByteOffs:5} @5"},
      {"~{#a @n}", "300 {METADATA,VAR_END_AFTER,TextPoint:7,ByteOffs:6} @6"},
      {"~{a b}", "300 {METADATA,ID_END_AFTER,TextPoint:6,ByteOffs:5} @5"},
      // "@" must follow the label at once.
      {"~{a @n}", "300 {METADATA,ID_END_AFTER,TextPoint:6,ByteOffs:5} @5"},
      // A list needs a label without a name.
      {"~{m@n[1]}", "300 {METADATA,LABEL_AFTER,TextPoint:7,ByteOffs:6} @6"},
      {"~{&}", "300 {METADATA,TYPEDECL_BEFORE,TextPoint:5,ByteOffs:4} @4"},
      {"~{&T x}", "300 {METADATA,TYPEDECL_AFTER,TextPoint:7,ByteOffs:6} @6"},
      {"~{&T(1)}", "300 {METADATA,ALIAS_OPEN,TextPoint:7,ByteOffs:6} @6"},
      {"~{~1}", "300 {METADATA,EXIT_OPEN,TextPoint:5,ByteOffs:4} @4"},
      {"~{~m x}", "300 {METADATA,EXIT_AFTER,TextPoint:7,ByteOffs:6} @6"},
      {"~{ ~m}", "300 {METADATA,OPEN_AFTER,TextPoint:5,ByteOffs:4} @4"},
      {"~[#v@n]", "300 {STRUCTURE,ID_END_AFTER,TextPoint:6,ByteOffs:5} @5"},
      {"~[s x]", "300 {STRUCTURE,ID_END_AFTER,TextPoint:6,ByteOffs:5} @5"},
      {"~[~s x]", "300 {STRUCTURE,EXIT_AFTER,TextPoint:7,ByteOffs:6} @6"},
      {"~[1]", "300 {STRUCTURE,OPEN,TextPoint:4,ByteOffs:3} @3"},
      {"~(#v@l)", "300 {INSERTABLE,VAR_END,TextPoint:6,ByteOffs:5} @5"},
      {"~(a b)", "300 {INSERTABLE,ID_END_AFTER,TextPoint:6,ByteOffs:5} @5"},
      {"~(&t x)", "300 {INSERTABLE,CAST_ID_END,TextPoint:6,ByteOffs:5} @5"},
      {"~(~~ a)", "300 {INSERTABLE,PROPERTIES_AFTER,TextPoint:7,ByteOffs:6} @6"},
      {"~(1)", "300 {INSERTABLE,OPEN,TextPoint:4,ByteOffs:3} @3"},
      // Texts that end inside a tag.
      {"~{m", "301 {ph_main=ID} @4"},
      {"~{m ", "301 {ph_main=METADATA} @5"},
      {"~{m@", "301 {ph_main=LABEL} @5"},
      {"~[s {c", "301 {ph_main=COMMENT} @7"},
      {"~(a;", "301 {ph_main=INSERTABLE} @5"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    auto r = parse(c.text);
    EXPECT_FALSE(r->ok);
    EXPECT_EQ(error_of(*r->parser), c.error);
  }
}

// ---------------------------------------------------------------------------
// Pairing by name.

TEST(VormCodeMetaTags, StructuresPairByNameWithTheNearestUnpairedOpening) {
  struct Case {
    std::string text;
    int opening;  // 1-based token paired with the last token; 0: none
  } cases[] = {
      {"~[s@n]x~[~s@n]", 1},
      {"~[s@n]~[s@n]~[~s@n]", 2},
      {"~[s@n]~[s@n]~[~s@n]~[~s@n]", 1},
      {"~[s@n]~[~s@n]~[~s@n]", 0},
      {"~[s]~[~s@n]", 0},
      {"~[s@n]~[~s@N]", 0},  // names compare exactly
      {"~[#s]~[~s]", 0},     // a variable structure never pairs by name
      {"~[s]~[t]~[~s]", 1},
      {"~[s]x~]~[~s]", 1},   // the generic close paired the tokens only
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    auto r = parse(c.text);
    ASSERT_TRUE(r->ok) << error_of(*r->parser);
    const rTCToken* last = token_at(*r->parser, int(r->parser->Tokens()->Count()));
    ASSERT_EQ(last->kind, TCT_STRUCTURE_END);
    const rTCT_STRUCTURE* closing = last->Structure();
    if (c.opening == 0) {
      EXPECT_EQ(closing->partner, nullptr);
      continue;
    }
    const rTCT_STRUCTURE* opening = token_at(*r->parser, c.opening)->Structure();
    EXPECT_EQ(closing->partner, opening);
    EXPECT_EQ(opening->partner, closing);
    EXPECT_EQ(last->partner, nullptr);  // payloads pair, not tokens
  }
}

TEST(VormCodeMetaTags, PairingByNameStopsAtASection) {
  // A section token made by hand before the text (the parse appends behind
  // what an earlier failed parse left): the search does not cross it.
  auto p = cParserVormCode::Construct(false);
  const std::string first = "~[s@n]~{";
  cEncoding en1;
  ASSERT_GE(en1.AttachCharString(first, 0), 0);
  ASSERT_FALSE(p->OpenEncoding(&en1, nullptr));
  rTCToken* section = p->Tokens()->Append(1);
  section->kind = TCT_SECTION;
  auto* payload = new rTCT_SECTION();
  payload->label = "x";
  section->payload.pointer = payload;
  const std::string second = "~[~s@n]";
  cEncoding en2;
  ASSERT_GE(en2.AttachCharString(second, 0), 0);
  ASSERT_TRUE(p->OpenEncoding(&en2, nullptr)) << error_of(*p);
  EXPECT_EQ(describe_all(*p), (Tokens{"STRUCTURE{s@n}", "NONE", "kind 5", "STRUCTURE_END{s@n}"}));
  EXPECT_EQ(token_at(*p, 4)->Structure()->partner, nullptr);
  EXPECT_EQ(token_at(*p, 1)->Structure()->partner, nullptr);
}

TEST(VormCodeMetaTags, LabelOnlyMetadataNeverPairs) {
  auto r = parse("~{m}x~{~m}");
  ASSERT_TRUE(r->ok);
  EXPECT_EQ(token_at(*r->parser, 3)->Metadata()->partner, nullptr);
  EXPECT_EQ(token_at(*r->parser, 1)->Metadata()->partner, nullptr);
}

// ---------------------------------------------------------------------------
// Syntax maps.

TEST(VormCodeMetaTags, SyntaxMapsOfTagsWithoutValues) {
  struct Case {
    std::string text;
    std::vector<MapEntries> maps;  // per token
  } cases[] = {
      {"~[s@n {c}]", {{{0, 1, 2}, {5, 3, 1}, {6, 4, 2}, {2, 6, 1}, {4, 7, 3}, {0, 10, 1}}}},
      {"~(a;~~)", {{{0, 1, 2}, {5, 3, 1}}, {{14, 1, 1}, {1, 2, 2}, {0, 4, 1}}}},
      {"~{~m@n}", {{{0, 1, 3}, {5, 4, 1}, {6, 5, 2}, {0, 7, 1}}}},
      {"~{#v\r\n}", {{{0, 1, 2}, {8, 3, 2}, {3, 5, 2}}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    auto r = parse(c.text, true);
    std::vector<MapEntries> maps;
    for (const rTCToken* t = r->parser->FirstToken(); t != nullptr; t = t->next) maps.push_back(map_entries(t));
    EXPECT_EQ(maps, c.maps);
    if (r->ok) {
      EXPECT_EQ(joined_sources(*r->parser), c.text);
    }
  }
}

// ---------------------------------------------------------------------------
// Embedded data, driven from the "}" of a metadata tag whose property list
// is made by hand: the run starts in the metadata phase at that "}".

struct EmbeddedRun {
  std::unique_ptr<cParserVormCode> parser = cParserVormCode::Construct(false);
  std::unique_ptr<cMemoryFlow> flow;
  cEncoding en;
  std::string source;
  std::string error;
  int64_t i_after = 0;

  // `after` is what follows the "}"; the delimiter property's value is set
  // by `set`.
  template <typename Set>
  EmbeddedRun(const std::string& after, Set set, bool through_flow = true, int64_t fail_at = 0)
      : source("}" + after) {
    if (through_flow) {
      flow = cMemoryFlow::ConstructOnData(source.data(), int64_t(source.size()));
      EXPECT_TRUE(flow->Open());
      EXPECT_GE(en.AttachFlow(flow.get(), 1, 0), 0);
    } else {
      EXPECT_GE(en.AttachCharString(source, 0), 0);
    }
    cVormCodeRun run(parser.get(), &en, nullptr);
    run.NewToken();
    auto* md = new rTCT_METADATA();
    md->kind = cnMetadataProperties;
    md->label = "m";
    auto* list = new cTCProperties();
    md->data = list;
    run.token->kind = TCT_METADATA;
    run.token->payload.pointer = md;
    rTCProperty* other = list->Append(1);
    other->name = "size";
    other->value.kind = ET_INTEGER;
    other->value.value.integer = 2;
    rTCProperty* p = list->Append(1);
    p->name = "Delimiter ";
    set(p->value);
    run.phase = cnPhaseMetadata;
    run.tag_state = 33;
    mem_alloc_fail_at(fail_at);
    try {
      run.Run();
    } catch (const exError& e) {
      error = int_to_str(0, 0, e.Code()) + " " + e.Message();
    }
    mem_alloc_fail_at(0);
    i_after = run.i;
  }
  // The tokens after the metadata token.
  Tokens after_metadata() const {
    Tokens all = describe_all(*parser);
    return Tokens(all.begin() + 1, all.end());
  }
};

auto integer(int64_t v) {
  return [v](rTCEntry& e) {
    e.kind = ET_INTEGER;
    e.value.integer = v;
  };
}
auto real(double v) {
  return [v](rTCEntry& e) {
    e.kind = ET_FLOAT;
    e.value.real = v;
  };
}
auto text(const std::string& s) {
  return [s](rTCEntry& e) {
    auto* en = new cEncoding();
    if (!s.empty()) en->AdoptCharString(s, 0, false);
    e.kind = ET_TEXT;
    e.value.pointer = en;
  };
}
auto identifier(const std::string& s) {
  return [s](rTCEntry& e) {
    e.kind = ET_ID;
    e.value.pointer = new std::string(s);
  };
}

TEST(VormCodeEmbedded, CountAndDelimiterModes) {
  struct Case {
    const char* what;
    std::function<void(rTCEntry&)> value;
    std::string after;
    Tokens tokens;
  } cases[] = {
      {"count", integer(4), "abcdXYZ", {"EMBEDDED \"abcd\"", "DATA \"XYZ\""}},
      {"count to the end", integer(3), "a~{", {"EMBEDDED \"a~{\""}},
      {"tag characters are data", integer(5), "~{#a}~", {"EMBEDDED \"~{#a}\"", "DATA \"~\""}},
      {"low 32 bits", integer(0x100000002LL), "abc", {"EMBEDDED \"ab\"", "DATA \"c\""}},
      {"real truncated", real(2.9), "abc", {"EMBEDDED \"ab\"", "DATA \"c\""}},
      {"delimiter", text("END"), "12ENEND x", {"EMBEDDED \"12EN\"", "DELIMITER \"END\"", "SPACE 1", "DATA \"x\""}},
      {"overlap", text("AAB"), "xAAAB", {"EMBEDDED \"xA\"", "DELIMITER \"AAB\""}},
      {"overlap twice", text("ABAC"), "ABABAC.", {"EMBEDDED \"AB\"", "DELIMITER \"ABAC\"", "DATA \".\""}},
      {"identifier", identifier("EOD"), "\r\n\x01" "EOD", {"EMBEDDED \"\r\n\x01\"", "DELIMITER \"EOD\""}},
      {"empty block", text("END"), "END", {"EMBEDDED \"\"", "DELIMITER \"END\""}},
      {"first match wins", text("--"), "a----", {"EMBEDDED \"a\"", "DELIMITER \"--\"", "DATA \"--\""}},
      {"boolean ignored",
       [](rTCEntry& e) {
         e.kind = ET_BOOLEAN;
         e.value.boolean = 1;
       },
       "ab",
       {"DATA \"ab\""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EmbeddedRun r(c.after, c.value);
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(r.after_metadata(), c.tokens);
  }
}

TEST(VormCodeEmbedded, FailuresAndTheirTexts) {
  struct Case {
    const char* what;
    std::function<void(rTCEntry&)> value;
    std::string after;
    bool through_flow;
    std::string error;
  } cases[] = {
      {"count 0", integer(0), "abc", true, "299 {not mem_alloc(embf,emal)}"},
      {"negative count", integer(-5), "abc", true, "299 {not mem_alloc(embf,emal)}"},
      {"huge negative real", real(-1e300), "abc", true, "299 {not mem_alloc(embf,emal)}"},
      // A count beyond the text is refused before anything is allocated.
      {"count past the end", integer(4), "abc", true, "301 {ph_main=EMBEDDED}"},
      {"huge count", integer(0x7FFFFFFF), "abc", true, "301 {ph_main=EMBEDDED}"},
      {"huge real", real(1e300), "abc", true, "301 {ph_main=EMBEDDED}"},
      {"nothing after", integer(1), "", true, "301 {ph_main=EMBEDDED}"},
      {"no delimiter", text("END"), "abcEN", true, "301 {ph_main=EMBEDDED}"},
      {"empty delimiter", text(""), "abc", true, "301 {ph_main=EMBEDDED}"},
      // Only a flow can be read raw.
      {"string source", integer(2), "abc", false, "299 {not en.DFRawRead(em_from,emal,embf)}"},
      {"string source, delimiter", text("c"), "abc", false, "299 {not en.DFRawRead(em_from,emal,embf)}"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EmbeddedRun r(c.after, c.value, c.through_flow);
    EXPECT_EQ(r.error, c.error);
  }
}

TEST(VormCodeEmbedded, EmptyDelimiterBlockThroughAStringNeedsNoRawRead) {
  EmbeddedRun r("ENDx", text("END"), false);
  EXPECT_EQ(r.error, "");
  EXPECT_EQ(r.after_metadata(), (Tokens{"EMBEDDED \"\"", "DELIMITER \"END\"", "DATA \"x\""}));
}

TEST(VormCodeEmbedded, OrdinalStaysRightAfterTheBlock) {
  // "}" is 1, the block 2-5; the "~{#a}" after it fails at its "}" (10).
  EmbeddedRun r("abcd~{#a}", integer(4));
  EXPECT_EQ(r.error, "300 {METADATA,VAR_END,TextPoint:11,ByteOffs:10}");
  EXPECT_EQ(r.i_after, 10);
  EmbeddedRun d("xyENDz~{#a}", text("END"));
  EXPECT_EQ(d.error, "300 {METADATA,VAR_END,TextPoint:13,ByteOffs:12}");
}

TEST(VormCodeEmbedded, EveryFailedAllocationIsAParserError) {
  // Fail each allocation of the parse in turn until one runs through.
  bool finished = false;
  for (int64_t k = 1; k <= 200 && !finished; ++k) {
    SCOPED_TRACE(k);
    EmbeddedRun r("abcd", integer(4), true, k);
    if (r.error.empty()) {
      finished = true;
      EXPECT_EQ(r.after_metadata(), (Tokens{"EMBEDDED \"abcd\""}));
    } else {
      EXPECT_EQ(r.error.substr(0, 4), "299 ");
    }
  }
  EXPECT_TRUE(finished);
}

}  // namespace
