// The VormCode parser's metadata, structure and insertable tags, their
// pairing by name, embedded data and syntax maps.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <random>
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
    if (p->value.kind != ET_NONE) {
      s += '=';
      s += value_text(p->value);
    }
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

// Parses the bytes of a memory flow through OpenFlow.
std::unique_ptr<cParserVormCode> parse_flow(const std::string& text, bool* ok, bool record_map = false) {
  auto parser = cParserVormCode::Construct(record_map);
  auto flow = cMemoryFlow::ConstructOnData(text.data(), int64_t(text.size()));
  EXPECT_TRUE(flow->Open());
  *ok = parser->OpenFlow(flow.get(), nullptr);
  return parser;
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
// Tags with values.

// Texts that parse, with the tokens they give. Every one of them is also
// parsed with syntax maps, where the tokens' source texts joined give the
// text back.
struct ValueCase {
  std::string text;
  Tokens tokens;
};
const ValueCase kValueCases[] = {
    {"~{text <ff=\"Arial\";alignx=LEFT;spacing=6;fs:pt=10>}",
     {"METADATA{1,text<ff=\"Arial\";alignx=LEFT;spacing=6;fs:pt=10>}"}},
    {"~{cp<#ASCII>}", {"METADATA{1,cp<#ASCII>}"}},
    {"~{m@n.1 {c} < a ; >}", {"METADATA{1,m@n.1<a>}"}},
    {"~{m<>}", {"METADATA{1,m<>}"}},
    // A record value keeps its own members; later properties stay the tag's.
    {"~{m<a=(x=1);b=2>}", {"METADATA{1,m<a=(x=1);b=2>}"}},
    {"~(i<r=(x=[1]);b>)", {"INSERTABLE{1,i<r=(x=[1]);b>}"}},
    {"~[s<r=(x);b>]", {"STRUCTURE{s<r=(=x);b>}"}},
    {"~{#a=1;#b=2}", {"METADATA{3,#a=1}", "METADATA{3,#b=2}"}},
    {"~{#a=1;}", {"METADATA{3,#a=1}", "NONE"}},
    {"~{#a = \"x\" + $41 ; {c} #b=*}", {"METADATA{3,#a=\"xA\"}", "METADATA{3,#b=*}"}},
    {"~{#v(al):int=5}", {"METADATA{3,#v@al:int=5}"}},
    {"~{#v(al) : &e[2,3] = [1,2]}", {"METADATA{3,#v@al:&e[2,3]=[1,2]}"}},
    {"~{#v(al) {c} : &e(Kind) = 1}", {"METADATA{3,#v@al:&e(Kind)=1}"}},
    {"~{#v=(x=1,y);#w=#v.x}", {"METADATA{3,#v=(x=1;=y)}", "METADATA{3,#w=#v.x}"}},
    {"~{#r<a=1;b>}", {"METADATA{1,#r<a=1;b>}"}},
    {"~{#r [1]}", {"METADATA{2,#r[1]}"}},
    {"~{m[1,2]}", {"METADATA{2,m[1,2]}"}},
    {"~{m[ 1 , [2,3] ,\"t\"]}", {"METADATA{2,m[1,[2,3],\"t\"]}"}},
    {"~{m[[1]]}", {"METADATA{2,m[[1]]}"}},
    {"~{m[&p(1),&p(1,2),(a=[3])]}", {"METADATA{2,m[&p(1),[1,2],(a=[3])]}"}},
    {"~{&T(Alias)=int}", {"METADATA{4,T@Alias=:int}"}},
    {"~{&T = &e(Colors)}", {"METADATA{4,T=:&e(Colors)}"}},
    {"~{&T=int[]}", {"METADATA{4,T=:int[]}"}},
    {"~{&T = (a:int;b)}", {"METADATA{5,T=(a:int;b)}"}},
    {"~{&P=(x;y);&Q=int;#q:Q=1}", {"METADATA{5,P=(x;y)}", "METADATA{4,Q=:int}", "METADATA{3,#q:Q=1}"}},
    {"~{&A=int;#a=1}", {"METADATA{4,A=:int}", "METADATA{3,#a=1}"}},
    {"~[s@n<k=1>]x~[~s@n]~(&t(1,2);~~~;#v.x)",
     {"STRUCTURE{s@n<k=1>}", "DATA \"x\"", "STRUCTURE_END{s@n}", "INSERTABLE{2,&t([1,2])}", "INSERTABLE{5,3}",
      "INSERTABLE{3,#v.x}"}},
    {"~[#v <a>]", {"STRUCTURE{#v<a>}"}},
    {"~(\"a\"\"b\" + $41%66)", {"INSERTABLE{4,\"a\"bAB\"}"}},
    {"~(%65;$42)", {"INSERTABLE{4,\"A\"}", "INSERTABLE{4,\"B\"}"}},
    {"~(&t(1))", {"INSERTABLE{2,&t(1)}"}},
    {"~( &t( [1] , x , &u(2,3) ) )", {"INSERTABLE{2,&t([[1],x,[2,3]])}"}},
    {"~(#v[1, #i.k].y ; #w)", {"INSERTABLE{3,#v[1,#i.k].y}", "INSERTABLE{1,#w}"}},
    {"~(a@l <b=1;c>;#v<x>)", {"INSERTABLE{1,a@l<b=1;c>}", "INSERTABLE{1,#v<x>}"}},
    {"~(p)~{text <alignx=JUSTIFY>}~<ct=Green>x~>~)",
     {"INSERTABLE{1,p}", "METADATA{1,text<alignx=JUSTIFY>}", "PROPERTIES<ct=Green>", "DATA \"x\"", "PROPERTIES_END",
      "PAREN_CLOSE"}},
};

TEST(VormCodeMetaValues, TextsGiveTheirTokensAndMapsGiveTheTextBack) {
  for (const ValueCase& c : kValueCases) {
    SCOPED_TRACE(c.text);
    auto r = parse(c.text);
    EXPECT_TRUE(r->ok) << error_of(*r->parser);
    EXPECT_EQ(describe_all(*r->parser), c.tokens);
    auto m = parse(c.text, true);
    EXPECT_TRUE(m->ok);
    EXPECT_EQ(joined_sources(*m->parser), c.text);
    for (const rTCToken* t = m->parser->FirstToken(); t != nullptr; t = t->next) {
      if (t->map == nullptr) continue;
      // The entries cover the map text without gaps.
      int32_t next = 1;
      for (const rTCTagMapEntry* e = t->map->entries->First(); e != nullptr; e = e->next) {
        EXPECT_EQ(e->first, next);
        EXPECT_NE(e->kind, 10);
        next += e->length;
      }
      EXPECT_EQ(next, t->map->text->Length() + 1);
    }
  }
}

// ---------------------------------------------------------------------------
// Pairing by name.

TEST(VormCodeMetaTags, StructuresPairByNameWithTheNearestUnpairedOpening) {
  struct Case {
    std::string text;
    int opening;  // 1-based token paired with the last token; 0: none
  } cases[] = {
      {"~[s@n]x~[~s@n]", 1},       {"~[s@n]~[s@n]~[~s@n]", 2}, {"~[s@n]~[s@n]~[~s@n]~[~s@n]", 1},
      {"~[s@n]~[~s@n]~[~s@n]", 0}, {"~[s]~[~s@n]", 0},         {"~[s@n]~[~s@N]", 0},  // names compare exactly
      {"~[#s]~[~s]", 0},                                 // a variable structure never pairs by name
      {"~[s]~[t]~[~s]", 1},        {"~[s]x~]~[~s]", 1},  // the generic close paired the tokens only
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
  EmbeddedRun(const std::string& after, Set set, bool through_flow = true, int64_t fail_at = 0) : source("}" + after) {
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
      // clang-format off
      {"identifier", identifier("EOD"), "\r\n\x01" "EOD", {"EMBEDDED \"\r\n\x01\"", "DELIMITER \"EOD\""}},
      // clang-format on
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

// Blocks larger than the piece the raw bytes are copied through arrive
// whole and in order, in both modes.
TEST(VormCodeEmbedded, LargeBlocksArriveWhole) {
  std::string block;
  for (int32_t k = 0; k < 200003; ++k) block.push_back(char('a' + (k * 7 + k / 251) % 26));
  EmbeddedRun counted(block + "x", integer(int64_t(block.size())));
  EXPECT_EQ(counted.error, "");
  EXPECT_EQ(counted.after_metadata(), (Tokens{"EMBEDDED \"" + block + "\"", "DATA \"x\""}));
  EmbeddedRun delimited(block + "END", text("END"));
  EXPECT_EQ(delimited.error, "");
  EXPECT_EQ(delimited.after_metadata(), (Tokens{"EMBEDDED \"" + block + "\"", "DELIMITER \"END\""}));
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

TEST(VormCodeMetaValues, Errors) {
  struct Case {
    std::string text;
    std::string error;
  } cases[] = {
      // An empty list is an error of the tag: the "]" comes back to it.
      {"~{m[]}", "300 {METADATA,PROPERTIES_AFTER,TextPoint:6,ByteOffs:5} @5"},
      {"~{m[1,]}", "300 {METADATA,PROPERTIES_AFTER,TextPoint:8,ByteOffs:7} @7"},
      // The alias and the cast's "(" follow their names at once.
      {"~{#v (al)=1}", "300 {METADATA,VAR_END_AFTER,TextPoint:7,ByteOffs:6} @6"},
      {"~(&t (1))", "300 {INSERTABLE,CAST_ID_END,TextPoint:6,ByteOffs:5} @5"},
      {"~{&P=(x;)}", "300 {PROPERTIES,IDVAR_BEFORE,TextPoint:10,ByteOffs:9} @9"},
      {"~{m[1}", "300 {VALUE,ARRAY,TextPoint:7,ByteOffs:6} @6"},
      {"~{&T=()}", "300 {PROPERTIES,IDVAR_BEFORE,TextPoint:8,ByteOffs:7} @7"},
      {"~{&T=(a;)}", "300 {PROPERTIES,IDVAR_BEFORE,TextPoint:10,ByteOffs:9} @9"},
      {"~{&T=1}", "300 {METADATA,TYPEDECL_ASSIGN,TextPoint:7,ByteOffs:6} @6"},
      // After ";" only variables and type declarations follow.
      {"~{#a=1;b=2}", "300 {METADATA,NEXT_TOKEN_AFTER,TextPoint:9,ByteOffs:8} @8"},
      {"~{#a=1 2}", "300 {METADATA,VAR_DATA_AFTER,TextPoint:9,ByteOffs:8} @8"},
      {"~{#a:int<p>}", "300 {METADATA,VAR_TYPE_AFTER,TextPoint:10,ByteOffs:9} @9"},
      {"~{#a(x)<p>}", "300 {METADATA,ALIAS_AFTER,TextPoint:9,ByteOffs:8} @8"},
      {"~{#a(x y)}", "300 {METADATA,ALIAS_END,TextPoint:8,ByteOffs:7} @7"},
      {"~{m<a>;}", "300 {METADATA,PROPERTIES_AFTER,TextPoint:8,ByteOffs:7} @7"},
      {"~(&t(1;2))", "300 {INSERTABLE,CAST_ENTRY_AFTER,TextPoint:8,ByteOffs:7} @7"},
      {"~(&t(1,2;3))", "300 {INSERTABLE,CAST_NEXT_AFTER,TextPoint:10,ByteOffs:9} @9"},
      {"~(\"a\" x)", "300 {INSERTABLE,PROPERTIES_AFTER,TextPoint:8,ByteOffs:7} @7"},
      {"~(\"a", "301 {ph_main=ENTRY} @5"},
      {"~{#a=", "301 {ph_main=ENTRY} @6"},
      {"~{m[1", "301 {ph_main=ENTRY} @6"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    auto r = parse(c.text);
    EXPECT_FALSE(r->ok);
    EXPECT_EQ(error_of(*r->parser), c.error);
  }
}

TEST(VormCodeMetaValues, MetadataPairsByNameWithPropertyOrListOpenings) {
  struct Case {
    std::string text;
    int opening;  // 1-based token paired with the last token; 0: none
  } cases[] = {
      {"~{m<a=1>}x~{~m}", 1},  {"~{m[1]}~{~m}", 1}, {"~{m@n<a>}~{m@n<b>}~{~m@n}", 2}, {"~{m@n<a>}~{~m@n}~{~m@n}", 0},
      {"~{m}~{~m}", 0},                              // label only
      {"~{#m<a>}~{~m}", 0},                          // variable
      {"~{#m=1}~{~m}", 0},     {"~{m<a>}~{~M}", 0},  // exact names
      {"~{m<a>}~[m]~{~m}", 1},                       // other tags are passed over
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    auto r = parse(c.text);
    ASSERT_TRUE(r->ok) << error_of(*r->parser);
    const rTCToken* last = token_at(*r->parser, int(r->parser->Tokens()->Count()));
    ASSERT_EQ(last->kind, TCT_METADATA_END);
    if (c.opening == 0) {
      EXPECT_EQ(last->Metadata()->partner, nullptr);
      continue;
    }
    const rTCT_METADATA* opening = token_at(*r->parser, c.opening)->Metadata();
    EXPECT_EQ(last->Metadata()->partner, opening);
    EXPECT_EQ(opening->partner, last->Metadata());
  }
  // The structure of the text "~[s@n<k=1>]x~[~s@n]": payloads paired.
  auto r = parse("~[s@n<k=1>]x~[~s@n]");
  ASSERT_TRUE(r->ok);
  EXPECT_EQ(token_at(*r->parser, 1)->Structure()->partner, token_at(*r->parser, 3)->Structure());
}

TEST(VormCodeMetaValues, ExactSyntaxMaps) {
  auto r = parse("~{#a=1;#b=2}", true);
  ASSERT_TRUE(r->ok);
  const rTCToken* first = r->parser->FirstToken();
  const rTCToken* second = first->next;
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(codepoints(first->map->text), "~{#a=1");
  EXPECT_EQ(map_entries(first), (MapEntries{{0, 1, 2}, {8, 3, 2}, {13, 5, 1}, {11, 6, 1}}));
  EXPECT_EQ(codepoints(second->map->text), ";#b=2}");
  EXPECT_EQ(map_entries(second), (MapEntries{{14, 1, 1}, {8, 2, 2}, {13, 4, 1}, {11, 5, 1}, {0, 6, 1}}));
  auto b = parse("~<b>", true);
  ASSERT_TRUE(b->ok);
  EXPECT_EQ(codepoints(b->parser->FirstToken()->map->text), "~<b>");
  EXPECT_EQ(map_entries(b->parser->FirstToken()), (MapEntries{{0, 1, 1}, {15, 2, 1}, {5, 3, 1}, {19, 4, 1}}));
  // Kinds of the other tag parts.
  struct Case {
    std::string text;
    MapEntries entries;
  } cases[] = {
      {"~{&T(A)=(x)}", {{0, 1, 2}, {9, 3, 5}, {13, 8, 1}, {15, 9, 1}, {5, 10, 1}, {19, 11, 1}, {0, 12, 1}}},
      {"~{m[1,2]}", {{0, 1, 2}, {5, 3, 1}, {24, 4, 1}, {11, 5, 1}, {25, 6, 1}, {11, 7, 1}, {26, 8, 1}, {0, 9, 1}}},
      {"~(&t(1,2))", {{0, 1, 2}, {11, 3, 2}, {31, 5, 1}, {11, 6, 1}, {32, 7, 1}, {11, 8, 1}, {33, 9, 1}, {0, 10, 1}}},
      {"~(#v.x)", {{0, 1, 2}, {8, 3, 4}, {0, 7, 1}}},
      {"~{#v:t=1}", {{0, 1, 2}, {8, 3, 2}, {17, 5, 1}, {7, 6, 1}, {13, 7, 1}, {11, 8, 1}, {0, 9, 1}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    auto m = parse(c.text, true);
    ASSERT_TRUE(m->ok) << error_of(*m->parser);
    EXPECT_EQ(map_entries(m->parser->FirstToken()), c.entries);
  }
}

TEST(VormCodeMetaValues, PairingByNameMatchesTheBackwardSearchOnRandomTexts) {
  const char* const pieces[] = {"~[s]",  "~[s@n]",    "~[t]",    "~[#s]",   "~[~s]", "~[~s@n]",
                                "~[~t]", "~]",        "~{m<a>}", "~{m[1]}", "~{m}",  "~{#m<a>}",
                                "~{~m}", "~{m@n<a>}", "~{~m@n}", "~\\x\\",  "~\\\\", "x"};
  std::mt19937 random(7);
  for (int round = 0; round < 400; ++round) {
    std::string text;
    const int n = int(random() % 40);
    for (int k = 0; k < n; ++k) text += pieces[random() % (sizeof pieces / sizeof pieces[0])];
    SCOPED_TRACE(text);
    auto r = parse(text);
    ASSERT_TRUE(r->ok) << error_of(*r->parser);
    std::vector<const rTCToken*> list;
    for (const rTCToken* t = r->parser->FirstToken(); t != nullptr; t = t->next) list.push_back(t);
    // Replay the closings in text order with a backward walk.
    std::vector<const void*> paired;
    const auto is_paired = [&](const void* p) { return std::find(paired.begin(), paired.end(), p) != paired.end(); };
    for (size_t k = 0; k < list.size(); ++k) {
      const rTCToken* closing = list[k];
      const void* expected = nullptr;
      if (closing->kind == TCT_STRUCTURE_END && closing->Structure() != nullptr) {
        const rTCT_STRUCTURE* c = closing->Structure();
        for (size_t j = k; j-- > 0 && list[j]->kind != TCT_SECTION;) {
          const rTCT_STRUCTURE* o = list[j]->kind == TCT_STRUCTURE ? list[j]->Structure() : nullptr;
          if (o != nullptr && !is_paired(o) && o->variable == 0 && o->label == c->label && o->name == c->name) {
            expected = o;
            break;
          }
        }
        EXPECT_EQ(static_cast<const void*>(c->partner), expected) << "token " << k + 1;
      } else if (closing->kind == TCT_METADATA_END) {
        const rTCT_METADATA* c = closing->Metadata();
        for (size_t j = k; j-- > 0 && list[j]->kind != TCT_SECTION;) {
          const rTCT_METADATA* o = list[j]->kind == TCT_METADATA ? list[j]->Metadata() : nullptr;
          if (o != nullptr && !is_paired(o) && o->variable == 0 && (o->kind == 1 || o->kind == 2) &&
              o->label == c->label && o->name == c->name) {
            expected = o;
            break;
          }
        }
        EXPECT_EQ(static_cast<const void*>(c->partner), expected) << "token " << k + 1;
      }
      if (expected != nullptr) paired.push_back(expected);
    }
  }
}

TEST(VormCodeMetaValues, ManyClosingsByNameTakeLinearTime) {
  // 20,000 openings followed by 20,000 closings of other names and then
  // their own: a backward walk per closing would take billions of steps.
  std::string text;
  for (int k = 0; k < 20000; ++k) text += "~[s]~{m<a>}";
  for (int k = 0; k < 20000; ++k) text += "~[~t]~{~n}";
  for (int k = 0; k < 20000; ++k) text += "~[~s]~{~m}";
  auto r = parse(text);
  ASSERT_TRUE(r->ok);
  const rTCToken* last = token_at(*r->parser, int(r->parser->Tokens()->Count()));
  EXPECT_EQ(last->Metadata()->partner, r->parser->FirstToken()->next->Metadata());
}

// ---------------------------------------------------------------------------
// Embedded data from whole texts.

TEST(VormCodeEmbedded, ThroughOpenFlowAndThroughAString) {
  struct Case {
    std::string text;
    Tokens tokens;  // after the metadata token
  } cases[] = {
      {"~{m<delimiter=4>}abcdXYZ", {"EMBEDDED \"abcd\"", "DATA \"XYZ\""}},
      {"~{m<DELIMITER = 1.5E+0 >}ab", {"EMBEDDED \"a\"", "DATA \"b\""}},
      {"~{m<a=1;delimiter=END>}12ENEND ", {"EMBEDDED \"12EN\"", "DELIMITER \"END\"", "SPACE 1"}},
      {"~{m<delimiter=\"AAB\">}xAAAB", {"EMBEDDED \"xA\"", "DELIMITER \"AAB\""}},
      {"~{m<delimiter=\"END\">}END", {"EMBEDDED \"\"", "DELIMITER \"END\""}},
      {"~{#v<delimiter=$7E>}a~b~{m}", {"EMBEDDED \"a\"", "DELIMITER \"~\"", "DATA \"b\"", "METADATA{0,m}"}},
      {"~{m<delimiter=*>}ab", {"DATA \"ab\""}},
      {"~{m<delimiter=[4]>}ab", {"DATA \"ab\""}},
      {"~{m[4]}ab", {"DATA \"ab\""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    for (bool record_map : {false, true}) {
      bool ok = false;
      auto p = parse_flow(c.text, &ok, record_map);
      ASSERT_TRUE(ok) << error_of(*p);
      Tokens all = describe_all(*p);
      EXPECT_EQ(Tokens(all.begin() + 1, all.end()), c.tokens);
      if (record_map) {
        EXPECT_EQ(joined_sources(*p), c.text);
      }
    }
    // A string cannot be read raw.
    auto s = parse(c.text);
    if (c.tokens.front().rfind("EMBEDDED", 0) == 0 && c.tokens.front() != "EMBEDDED \"\"") {
      EXPECT_FALSE(s->ok);
      EXPECT_EQ(error_of(*s->parser).substr(0, 43), "299 {not en.DFRawRead(em_from,emal,embf)} @");
    } else {
      EXPECT_TRUE(s->ok);
    }
  }
}

TEST(VormCodeEmbedded, BadBlocksThroughOpenFlow) {
  struct Case {
    std::string text;
    std::string error;
  } cases[] = {
      {"~{m<delimiter=0>}abc", "299 {not mem_alloc(embf,emal)} @18"},
      {"~{m<delimiter=-1>}abc", "299 {not mem_alloc(embf,emal)} @19"},
      // A count past the end is refused at the block's first unit.
      {"~{m<delimiter=4>}abc", "301 {ph_main=EMBEDDED} @18"},
      {"~{m<delimiter=2147483647>}a", "301 {ph_main=EMBEDDED} @27"},
      {"~{m<delimiter=4>}", "301 {ph_main=EMBEDDED} @18"},
      {"~{m<delimiter=\"\">}abc", "301 {ph_main=EMBEDDED} @22"},
      {"~{m<delimiter=END>}abcEN", "301 {ph_main=EMBEDDED} @25"},
      // The ordinal goes on from the block's end.
      {"~{m<delimiter=2>}ab~{#a}", "300 {METADATA,VAR_END,TextPoint:25,ByteOffs:24} @24"},
      {"~{m<delimiter=E>}abE~{#a}", "300 {METADATA,VAR_END,TextPoint:26,ByteOffs:25} @25"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    bool ok = true;
    auto p = parse_flow(c.text, &ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(error_of(*p), c.error);
  }
}

TEST(VormCodeEmbedded, RandomTagTextsGiveTheirSourceBackOrAClearError) {
  // Random texts built from tag pieces, parsed from a flow with syntax maps:
  // a text that parses gives itself back from its tokens' source texts, and
  // one that does not fails with a parser error.
  // clang-format off
  const char* const pieces[] = {"~{", "~[",  "~(", "~<", "~\\", "}",   "]",  ")",  ">",  "\\", "#",  "&",
                                "@",  "=",   ";",  ",",  "[",   "(",   "a",  "b1", "2",  " ",  "\"", "$41",
                                "~",  ":",   ".",  "{c}", "\r\n", "<",  "~{m<delimiter=", "~{m<delimiter=\"x\">}", "*"};
  // clang-format on
  std::mt19937 random(11);
  int parsed = 0;
  int embedded = 0;
  for (int round = 0; round < 20000; ++round) {
    std::string text;
    const int n = 1 + int(random() % 14);
    for (int k = 0; k < n; ++k) text += pieces[random() % (sizeof pieces / sizeof pieces[0])];
    SCOPED_TRACE(::testing::PrintToString(text));
    bool ok = false;
    auto p = parse_flow(text, &ok, true);
    if (ok) {
      ++parsed;
      ASSERT_EQ(joined_sources(*p), text);
      for (const rTCToken* t = p->FirstToken(); t != nullptr; t = t->next) embedded += t->kind == TCT_EMBEDDED;
    } else {
      const int32_t code = p->LastErrorCode();
      ASSERT_TRUE(code == 299 || code == 300 || code == 301) << error_of(*p);
    }
  }
  EXPECT_GT(parsed, 2000);
  EXPECT_GT(embedded, 100);
}

TEST(VormCodeEmbedded, RawReadStaysInsideTheText) {
  // A text attached to a range of a flow: a raw read must not reach the
  // bytes after the range.
  const std::string bytes = "0123456789";
  auto flow = cMemoryFlow::ConstructOnData(bytes.data(), int64_t(bytes.size()));
  ASSERT_TRUE(flow->Open());
  cEncoding en;
  ASSERT_EQ(en.AttachFlowRange(flow.get(), 1, 2, 4, 0), 4);
  ASSERT_EQ(en.DFOpen(), '2');
  char raw[4] = {0, 0, 0, 0};
  EXPECT_FALSE(en.DFRawRead(2, 4, raw));
  EXPECT_FALSE(en.DFRawRead(2, INT32_MAX, raw));
  ASSERT_TRUE(en.DFRawRead(2, 2, raw));
  EXPECT_EQ(std::string(raw, 2), "45");
}

}  // namespace
