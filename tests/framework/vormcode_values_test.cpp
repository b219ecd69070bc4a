// VormCode values, types and references, and the section, property-tag and
// property-list phases with their pairing.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "qlm_base_util.h"
#include "qlm_encoding.h"
#include "qlm_parser_vormcode.h"
#include "qlm_parser_vormcode_values.h"

namespace {

// Joins its parts (appending, which keeps the compiler's overlap check
// quiet).
template <typename... T>
std::string cat(const T&... parts) {
  std::string s;
  (s.append(parts), ...);
  return s;
}

std::string codepoints(cEncoding* en) {
  std::string s;
  for (int32_t t = 1; en != nullptr && t <= en->Length(); ++t) {
    const int32_t c = en->Get(t);
    if (c < 256)
      s.push_back(char(uint8_t(c)));
    else
      s += cat("<", int_to_hex(0, 0, c), ">");
  }
  return s;
}

std::string show_properties(const cTCProperties* list);

std::string show_deref(const cTCDeref* deref) {
  std::string s;
  for (const rTCDerefItem* item = deref->First(); item != nullptr; item = item->next) {
    if (!s.empty()) s += ".";
    s += item->name;
    if (item->indices == nullptr) continue;
    s += "[";
    for (const rTCIndexItem* x = item->indices->First(); x != nullptr; x = x->next) {
      if (x != item->indices->First()) s += ",";
      if (x->kind == cnIndexNumber) {
        s += int_to_str(0, 0, x->number);
      } else {
        s += '#';
        s += show_deref(x->deref);
      }
    }
    s += "]";
  }
  return s;
}

// A value as text: 12, hex:31, f:1.5, *, !, "text", id:x, @lab, il:a@b, #v,
// ref:v.x[2,#i], [..], (..), &t(..), none.
std::string show(const rTCEntry& e) {
  switch (e.kind) {
    case ET_NONE: return "none";
    case ET_INTEGER: return cat(e.hex ? "hex:" : "", int_to_str(0, 0, e.value.integer));
    case ET_FLOAT: {
      char buf[64];
      snprintf(buf, sizeof buf, "f:%g", e.value.real);
      return buf;
    }
    case ET_BOOLEAN: return e.value.boolean ? "*" : "!";
    case ET_TEXT: return cat("\"", codepoints(e.Text()), "\"");
    case ET_ID: return cat("id:", *e.String());
    case ET_LABEL: return cat("@", *e.String());
    case ET_IDLABEL: return cat("il:", *e.String());
    case ET_VAR: return cat("#", *e.String());
    case ET_DEREF: return cat("ref:", show_deref(e.Deref()));
    case ET_LIST: {
      std::string s = "[";
      for (const rTCEntry* x = e.List()->First(); x != nullptr; x = x->next)
        s += cat(x == e.List()->First() ? "" : ",", show(*x));
      return s + "]";
    }
    case ET_RECORD: return cat("(", show_properties(e.Record()), ")");
    case ET_CAST: return cat("&", e.Cast()->type_name, "(", show(e.Cast()->value), ")");
    default: return "?";
  }
}

std::string show_type(const rTCType* t) {
  std::string s = cat(t->cast ? "&" : "", t->name);
  if (t->cast && !t->enum_name.empty()) s += cat("(", t->enum_name, ")");
  if (t->dimensions != nullptr) {
    s += "[";
    for (const rTCSizeItem* d = t->dimensions->First(); d != nullptr; d = d->next)
      s += cat(d == t->dimensions->First() ? "" : ",", int_to_str(0, 0, d->size));
    s += "]";
  }
  return s;
}

// "name:type=value;..." with "#" for variables; "=value" left out for none.
std::string show_properties(const cTCProperties* list) {
  std::string s;
  for (const rTCProperty* p = list->First(); p != nullptr; p = p->next) {
    if (p != list->First()) s += ";";
    if (p->variable) s += "#";
    s += p->name;
    if (p->type != nullptr) s += cat(":", show_type(p->type));
    if (p->value.kind != ET_NONE) s += cat("=", show(p->value));
  }
  return s;
}

struct Parsed {
  std::unique_ptr<cParserVormCode> parser;
  bool ok = false;
  std::vector<const rTCToken*> tokens;
};

Parsed parse(const std::string& text) {
  Parsed r;
  r.parser = cParserVormCode::Construct(false);
  cEncoding en;
  EXPECT_GE(en.AttachCharString(text, 0), 0);
  r.ok = r.parser->OpenEncoding(&en, nullptr);
  for (const rTCToken* t = r.parser->FirstToken(); t != nullptr; t = t->next) r.tokens.push_back(t);
  return r;
}

std::string error_text(const cParserVormCode& p) {
  return p.Log() != nullptr && p.Log()->Count() > 0 ? p.Log()->Last()->message : "";
}

// The property list of a one-tag text "~<...>", as text.
std::string properties_of(const std::string& text) {
  Parsed r = parse(text);
  EXPECT_TRUE(r.ok) << error_text(*r.parser);
  if (!r.ok || r.tokens.empty() || r.tokens[0]->Properties() == nullptr) return "<failed>";
  return show_properties(r.tokens[0]->Properties());
}

struct ValueCase {
  const char* text;
  std::string properties;
};
const ValueCase kValueCases[] = {
    // Numbers: decimal integers in the signed 32-bit range, hexadecimal in
    // 64 bits, reals with a signed exponent.
    {"~<a=12>", "a=12"},
    {"~<a=-3>", "a=-3"},
    {"~<a=+7>", "a=7"},
    {"~<a=3000000000>", "a=0"},
    {"~<a=->", "a=0"},
    {"~<a=0x1F>", "a=hex:31"},
    {"~<a=0X1f>", "a=hex:31"},
    {"~<a=0x>", "a=hex:0"},
    {"~<a=-0x1F>", "a=hex:-31"},
    {"~<a=+0x1F>", "a=hex:31"},
    {"~<a=0x10000000000000001>", "a=hex:1"},
    {"~<a=1.5>", "a=f:1.5"},
    {"~<a=1.5E+3>", "a=f:1500"},
    {"~<a=-2.5e-1>", "a=f:-0.25"},
    {"~<a=1.>", "a=f:1"},
    {"~<a=*;b=!>", "a=*;b=!"},
    // Texts: quoted parts, "$" and "%" codes, joined directly or by "+".
    {"~<a=\"Arial\">", "a=\"Arial\""},
    {"~<a=\"\">", "a=\"\""},
    {"~<a=\"a\"\"b\">", "a=\"a\"b\""},
    {"~<a=\"a\" + \"b\">", "a=\"ab\""},
    {"~<a=\"a\"+{x}\"b\">", "a=\"ab\""},
    {"~<a=$41$42>", "a=\"AB\""},
    {"~<a=%65>", "a=\"A\""},
    {"~<a=$41%66 + \"c\">", "a=\"ABc\""},
    {"~<a=$20AC>", "a=\"<20AC>\""},
    // Codes out of the signed 32-bit range give the code point 0.
    {"~<a=$FFFFFFFF>", std::string("a=\"\0\"", 5)},
    {"~<a=%4294967296>", std::string("a=\"\0\"", 5)},
    {"~<a=\"x\"  ;b>", "a=\"x\";b"},
    // Names, labels, variables and references.
    {"~<ct=dodgerblue>", "ct=id:dodgerblue"},
    {"~<a=@lab.x:y>", "a=@lab.x:y"},
    {"~<a=id@\"q\"\"t\">", "a=il:id@q\"t"},
    {"~<a=#v>", "a=#v"},
    {"~<a=#>", "a=#"},
    {"~<a=#v.x[2, #i].y>", "a=ref:v.x[2,#i].y"},
    {"~<a=#a[1].b>", "a=ref:a[1].b"},
    {"~<a=#a[#b[#c.d],3]>", "a=ref:a[#b[#c.d],3]"},
    // Lists, records and casts.
    {"~<a=[1,[2,3]]>", "a=[1,[2,3]]"},
    {"~<a=[ 1 , \"x\" , [*] ]>", "a=[1,\"x\",[*]]"},
    {"~<a=(a=1, b)>", "a=(a=1;=id:b)"},
    {"~<a=(1, 2)>", "a=(=1;=2)"},
    {"~<a=()>", "a=()"},
    {"~<a=(x=(y=[1]),z)>", "a=(x=(y=[1]);=id:z)"},
    // A record closes back into the tag's list: later properties belong
    // to the tag, not to the record.
    {"~<a=(x=1);b=2>", "a=(x=1);b=2"},
    {"~<a=(x=1) ;b>", "a=(x=1);b"},
    {"~<a=[(x=1)];b>", "a=[(x=1)];b"},
    {"~<a=&t((x=1));b>", "a=&t((x=1));b"},
    {"~<a=&pt(3)>", "a=&pt(3)"},
    {"~<a=&pt(3,4)>", "a=[3,4]"},
    {"~<a=&pt(3, &q(\"s\"), 5)>", "a=[3,&q(\"s\"),5]"},
    {"~<a=[&p(1,2),&q(3)]>", "a=[[1,2],&q(3)]"},
    // Types: names, casts with enumerations, dimensions.
    {"~<fs:pt=10>", "fs:pt=10"},
    {"~<a:&e(Name)>", "a:&e(Name)"},
    {"~<a:int[3,4]>", "a:int[3,4]"},
    {"~<a:int[]>", "a:int[]"},
    {"~<a:int[ 3 , ]>", "a:int[3]"},
    {"~<a : &e[2] = 1>", "a:&e[2]=1"},
    {"~<#v:t=2;b>", "#v:t=2;b"},
    // Names without "=" read as true (ET_NONE); comments and blanks.
    {"~<b;ct=green>", "b;ct=id:green"},
    {"~<a;>", "a"},
    {"~<a= ;b=>", "a;b"},
    {"~< >", ""},
    {"~<{c} a {c} = {c} 1 {c} ; b>", "a=1;b"},
};

TEST(VormCodeValues, ValuesTypesAndReferences) {
  for (const ValueCase& c : kValueCases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(properties_of(c.text), c.properties);
  }
}

TEST(VormCodeValues, SyntaxErrorsNameThePhaseAndState) {
  struct Case {
    const char* text;
    int32_t code;
    const char* message;  // the start of the error text
  } cases[] = {
      // Numbers: "1e5" is 1 followed by a stray "e"; the exponent sign is
      // mandatory.
      {"~<a=1e5>", 300, "{PROPERTIES,DATA_AFTER,TextPoint:7,ByteOffs:6}"},
      {"~<a=1.5E3>", 300, "{VALUE,NUMBER,TextPoint:10,ByteOffs:9}"},
      {"~<a=1.5E>", 300, "{VALUE,NUMBER,"},
      {"~<a=12x>", 300, "{PROPERTIES,DATA_AFTER,TextPoint:8,ByteOffs:7}"},
      // Texts: control characters, too many code digits, a code without
      // digits, and two quoted parts without "+".
      {"~<a=\"x\ty\">", 300, "{VALUE,DATA_SEQUENCE,TextPoint:8,ByteOffs:7}"},
      {"~<a=$123456789>", 300, "{VALUE,DATA_SEQUENCE,TextPoint:15,ByteOffs:14}"},
      {"~<a=%12345678901>", 300, "{VALUE,DATA_SEQUENCE,TextPoint:17,ByteOffs:16}"},
      {"~<a=$>", 300, "{VALUE,DATA_SEQUENCE,"},
      {"~<a=%x>", 300, "{VALUE,DATA_SEQUENCE,"},
      {"~<a=\"a\" \"b\">", 300, "{PROPERTIES,DATA_AFTER,TextPoint:10,ByteOffs:9}"},
      {"~<a=\"a\"{c}\"b\">", 300, "{PROPERTIES,DATA_AFTER,TextPoint:12,ByteOffs:11}"},
      {"~<a=\"a\" $41>", 300, "{PROPERTIES,DATA_AFTER,"},
      // Empty and unclosed lists, records and casts.
      {"~<a=[]>", 300, "{PROPERTIES,DATA_AFTER,TextPoint:7,ByteOffs:6}"},
      {"~<a=[1,]>", 300, "{PROPERTIES,DATA_AFTER,TextPoint:9,ByteOffs:8}"},
      {"~<a=[>", 300, "{PROPERTIES,DATA_AFTER,TextPoint:7,ByteOffs:6}"},
      {"~<a=(>", 300, "{PROPERTIES,DATA_AFTER,TextPoint:7,ByteOffs:6}"},
      {"~<a=(b=)>", 300, "{PROPERTIES,DATA_AFTER,TextPoint:9,ByteOffs:8}"},
      {"~<a=(b=;c>", 300, "{PROPERTIES,DATA_AFTER,TextPoint:9,ByteOffs:8}"},
      {"~<a=&t()>", 300, "{PROPERTIES,DATA_AFTER,TextPoint:9,ByteOffs:8}"},
      {"~<a=[1 2]>", 300, "{VALUE,ARRAY,"},
      {"~<a=&t>", 300, "{VALUE,CAST_ID_END,"},
      {"~<a=&t(1;>", 300, "{VALUE,CAST_ENTRY_AFTER,"},
      {"~<a=&t(1,2;>", 300, "{VALUE,CAST_NEXT_AFTER,"},
      {"~<a=(a b)>", 300, "{VALUE,RECORD_ID_AFTER,"},
      {"~<a=(1 2)>", 300, "{VALUE,RECORD_ENTRY_AFTER,"},
      // References and types.
      {"~<a=#v[x]>", 300, "{DEREF,INDEX_OPEN,"},
      {"~<a=#v.1>", 300, "{DEREF,DEREF_OPEN,"},
      {"~<a=#v[1 x]>", 300, "{DEREF,INDEX_AFTER,"},
      {"~<a=#v[1][2]>", 300, "{PROPERTIES,DATA_AFTER,"},
      {"~<a:1>", 300, "{TYPE,OPEN,"},
      {"~<a:&1>", 300, "{TYPE,OPEN_CAST,"},
      {"~<a:&e(x]>", 300, "{TYPE,ENUM_END,"},
      {"~<a:t[x]>", 300, "{TYPE,DIM_BEFORE,"},
      {"~<a:t[1x]>", 300, "{TYPE,DIM_AFTER,"},
      {"~<a:t[1 x]>", 300, "{TYPE,DIM_NEXT,"},
      {"~<a:&e(N)[2]>", 300, "{PROPERTIES,TYPE_AFTER,"},
      // Property lists: an empty item, ")" outside parentheses, a second
      // type, a "," after a value.
      {"~<a;;b>", 300, "{PROPERTIES,IDVAR_BEFORE,TextPoint:6,ByteOffs:5}"},
      {"~<a)>", 300, "{PROPERTIES,IDVAR_AFTER,"},
      {"~<a:t:u>", 300, "{PROPERTIES,TYPE_AFTER,"},
      {"~<a=1:t>", 300, "{PROPERTIES,DATA_AFTER,"},
      {"~<a=1,2>", 300, "{PROPERTIES,DATA_AFTER,TextPoint:7,ByteOffs:6}"},
      {"~<a=1=2>", 300, "{PROPERTIES,DATA_AFTER,"},
      // Closing property tags.
      {"~<~1>", 300, "{PROPERTY,EXIT_OPEN,"},
      {"~<~a=>", 300, "{PROPERTY,EXIT_AFTER,"},
      {"~<~a;b>", 300, "{PROPERTY,EXIT_ESCAPE,"},
      {"~<~a b>", 300, "{PROPERTY,EXIT_NEXT,"},
      // Sections.
      {"~\\x=\\", 300, "{SECTION,ID_END,TextPoint:5,ByteOffs:4}"},
      {"~\\a b\\", 300, "{SECTION,IDLABEL_AFTER,"},
      {"~\\a @b\\", 300, "{SECTION,IDLABEL_AFTER,"},
      {"~\\ \\", 300, "{SECTION,OPEN_AFTER,"},
      {"~\\x<a>y\\", 300, "{SECTION,PROPERTIES_AFTER,"},
      {"~\\~ x\\", 300, "{SECTION,EXIT_OPEN,"},
      {"~\\~x<a>\\", 300, "{SECTION,EXIT_ID_END,"},
      {"~\\~x y\\", 300, "{SECTION,EXIT_AFTER,"},
      {"~\\~x @y\\", 300, "{SECTION,EXIT_AFTER,"},
      // The text ends inside a value, a type, a path, a digit run.
      {"~<a=", 301, "{ph_main=ENTRY}"},
      {"~<a=[1", 301, "{ph_main=ENTRY}"},
      {"~<a=\"x", 301, "{ph_main=ENTRY}"},
      {"~<a=#v.x", 301, "{ph_main=DEREF}"},
      {"~<a:t[", 301, "{ph_main=TYPE}"},
      {"~<a:t[1", 301, "{ph_main=NUMB}"},
      {"~<a", 301, "{ph_main=ID}"},
      {"~<a ", 301, "{ph_main=PROPERTIES}"},
      {"~\\x", 301, "{ph_main=ID}"},
      {"~\\x <", 301, "{ph_main=PROPERTIES}"},
      {"~\\x@", 301, "{ph_main=LABEL}"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Parsed r = parse(c.text);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.parser->LastErrorCode(), c.code);
    EXPECT_EQ(error_text(*r.parser).rfind(c.message, 0), 0u) << error_text(*r.parser);
  }
  // The error position is the ordinal of the bad character; the section
  // token made before it stays.
  Parsed r = parse("~\\x=\\");
  EXPECT_EQ(r.parser->ErrorPosition(), 4);
  ASSERT_EQ(r.tokens.size(), 1u);
  ASSERT_NE(r.tokens[0]->Section(), nullptr);
  EXPECT_EQ(r.tokens[0]->kind, TCT_SECTION);
  EXPECT_EQ(r.tokens[0]->Section()->label, "x");
}

// One token as text, with its token partner as "->n" (1-based index).
std::string describe(const Parsed& r, const rTCToken* t) {
  static const char* const kNames[] = {"NONE",         "CONTROL",     "DATA",          "SPACE",          "NBSP",
                                       "SECTION",      "SECTION_END", "PROPERTIES",    "PROPERTIES_END", "METADATA",
                                       "METADATA_END", "STRUCTURE",   "STRUCTURE_END", "INSERTABLE",     "PAREN_CLOSE",
                                       "BRACE_CLOSE",  "EMBEDDED",    "DELIMITER"};
  std::string s = t->kind < 18 ? kNames[t->kind] : "?";
  switch (t->kind) {
    case TCT_DATA: s += cat(" \"", codepoints(t->Data()), "\""); break;
    case TCT_SPACE: s += cat(" ", int_to_str(0, 0, t->Count())); break;
    case TCT_CONTROL:
      s += cat("{", int_to_str(0, 0, t->Control()->kind), ",", int_to_str(0, 0, t->Control()->count), "}");
      break;
    case TCT_SECTION:
    case TCT_SECTION_END:
      if (const rTCT_SECTION* x = t->Section()) {
        s += cat("{", x->label, "@", x->name);
        if (x->properties != nullptr) s += cat(" <", show_properties(x->properties), ">");
        s += "}";
      }
      break;
    case TCT_PROPERTIES:
    case TCT_PROPERTIES_END:
      if (t->Properties() != nullptr) s += cat("[", show_properties(t->Properties()), "]");
      break;
    default: break;
  }
  for (size_t k = 0; k < r.tokens.size(); ++k)
    if (t->partner == r.tokens[k]) s += cat("->", int_to_str(0, 0, int64_t(k + 1)));
  return s;
}

std::vector<std::string> describe_all(const Parsed& r) {
  std::vector<std::string> out;
  for (const rTCToken* t : r.tokens) out.push_back(describe(r, t));
  return out;
}

using Tokens = std::vector<std::string>;

TEST(VormCodeTags, TextsGiveTheirTokens) {
  struct Case {
    std::string text;
    Tokens tokens;
  } cases[] = {
      {"~<ct=dodgerblue;b>Hi~>~)",
       {"PROPERTIES[ct=id:dodgerblue;b]->3", "DATA \"Hi\"", "PROPERTIES_END->1", "PAREN_CLOSE"}},
      {"~\\config@capture_commons\\\r\n  ~<OnlyCurr = true>\r\n~\\\\",
       {"SECTION{config@capture_commons}->6", "CONTROL{4,1}", "SPACE 2", "PROPERTIES[OnlyCurr=id:true]", "CONTROL{4,1}",
        "SECTION_END->1"}},
      {"~\\@n\\", {"SECTION{text@n}"}},
      {"~\\ {c} s@\"a b\".c <k=1;#v> {c} \\", {"SECTION{s@a b.c <k=1;#v>}"}},
      {"~\\s\\x~\\\\", {"SECTION{s@}->3", "DATA \"x\"", "SECTION_END->1"}},
      // "~\\" pairs with the latest section with a payload, once.
      {"~\\a\\~\\b\\~\\\\~\\\\", {"SECTION{a@}", "SECTION{b@}->3", "SECTION_END->2", "SECTION_END"}},
      {"~\\\\", {"SECTION_END"}},
      {"~<>~< >", {"NONE", "PROPERTIES[]"}},
      {"~<b>x~>", {"PROPERTIES[b]->3", "DATA \"x\"", "PROPERTIES_END->1"}},
      // The generic close does not look past a section token.
      {"~<b>x~\\s\\~>", {"PROPERTIES[b]", "DATA \"x\"", "SECTION{s@}", "PROPERTIES_END"}},
      {"~<~a;~#b>", {"PROPERTIES_END[a;#b]"}},
      {"~<~a ; {c} ~b >x", {"PROPERTIES_END[a;b]", "DATA \"x\""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Parsed r = parse(c.text);
    EXPECT_TRUE(r.ok) << error_text(*r.parser);
    EXPECT_EQ(describe_all(r), c.tokens);
  }
}

// The property of a token's list by position (0-based).
rTCProperty* property(const Parsed& r, size_t token, size_t index) {
  cTCProperties* list = r.tokens.at(token)->Properties();
  rTCProperty* p = list != nullptr ? list->First() : nullptr;
  for (size_t k = 0; k < index && p != nullptr; ++k) p = p->next;
  return p;
}

TEST(VormCodeTags, ClosingPropertiesPairByNameAndFlag) {
  struct Case {
    std::string text;
    // For each opening (token, property): the closing (token, property) it
    // is paired with, or -1.
    std::vector<std::vector<int>> pairs;
  } cases[] = {
      {"~<a=1>~<~a>", {{0, 0, 1, 0}}},
      {"~<#v>~<~#v>", {{0, 0, 1, 0}}},
      {"~<#v>~<~v>", {{0, 0, -1, -1}}},
      {"~<a;b>~<~b;~a>", {{0, 0, 1, 1}, {0, 1, 1, 0}}},
      {"~<A>~<~a>", {{0, 0, -1, -1}}},
      // The search stops at a section token.
      {"~<a>~\\s\\~<~a>", {{0, 0, -1, -1}}},
      // Every unpaired match points to the closing property.
      {"~<b>~<b>x~<~b>", {{0, 0, 3, 0}, {1, 0, 3, 0}}},
      // A paired property is not paired again.
      {"~<b>~<~b>~<~b>", {{0, 0, 1, 0}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Parsed r = parse(c.text);
    ASSERT_TRUE(r.ok) << error_text(*r.parser);
    for (const auto& row : c.pairs) {
      rTCProperty* opening = property(r, size_t(row[0]), size_t(row[1]));
      ASSERT_NE(opening, nullptr);
      if (row[2] < 0) {
        EXPECT_EQ(opening->partner, nullptr);
        continue;
      }
      EXPECT_EQ(opening->partner, property(r, size_t(row[2]), size_t(row[3])));
    }
  }
  // The closing property ends paired with the earliest match.
  Parsed r = parse("~<b>~<b>x~<~b>");
  EXPECT_EQ(property(r, 3, 0)->partner, property(r, 0, 0));
  r = parse("~<b>~<~b>~<~b>");
  EXPECT_EQ(property(r, 1, 0)->partner, property(r, 0, 0));
  EXPECT_EQ(property(r, 2, 0)->partner, nullptr);
}

TEST(VormCodeTags, SectionsCloseByName) {
  // The first equal section of the whole list, paired or not; the closing
  // becomes the section that "~\\" pairs with.
  Parsed r = parse("~\\a@n\\x~\\~a@n\\~\\~a@n\\~\\b\\~\\~a@N\\~\\@n\\~\\~@n\\~\\\\");
  ASSERT_TRUE(r.ok) << error_text(*r.parser);
  ASSERT_EQ(r.tokens.size(), 9u);
  const auto section = [&](size_t k) { return r.tokens[k]->Section(); };
  EXPECT_EQ(describe(r, r.tokens[2]), "SECTION_END{a@n}");
  EXPECT_EQ(section(0)->partner, section(3));
  EXPECT_EQ(section(2)->partner, section(0));
  EXPECT_EQ(section(3)->partner, section(0));
  EXPECT_EQ(section(5)->partner, nullptr);  // names compare exactly
  EXPECT_EQ(section(6)->partner, section(7));
  EXPECT_EQ(section(7)->partner, section(6));
  EXPECT_EQ(r.tokens[8]->partner, r.tokens[7]);
  EXPECT_EQ(r.tokens[7]->partner, r.tokens[8]);
}

TEST(VormCodeTags, ManyClosingsByNameTakeLinearTime) {
  // 50,000 openings and 50,000 closings that match none of them: a search
  // over the list for each closing would take about 5*10^9 steps.
  std::string text;
  for (int k = 0; k < 50000; ++k) text += "~<a>~\\s\\";
  for (int k = 0; k < 50000; ++k) text += "~<~b>~\\~x\\";
  text += "~<a>~<~a>~\\~s\\";
  Parsed r = parse(text);
  ASSERT_TRUE(r.ok) << error_text(*r.parser);
  ASSERT_EQ(r.tokens.size(), 200003u);
  // Only the last "~<a>" follows the last section token; the section
  // closing pairs with the very first section.
  EXPECT_EQ(property(r, 200000, 0)->partner, property(r, 200001, 0));
  EXPECT_EQ(property(r, 99998, 0)->partner, nullptr);
  EXPECT_EQ(r.tokens[200002]->Section()->partner, r.tokens[1]->Section());
}

TEST(VormCodeValues, NestingIsCapped) {
  struct Case {
    std::string open;
    size_t levels;  // nesting accepted
    std::string close;
  } cases[] = {
      {"[", 999, "]"},
      {"&t(", 999, ")"},
      {"(", 499, ")"},
      {"#a[", 1000, "]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.open);
    std::string deep = "~<v=";
    for (size_t k = 0; k < c.levels; ++k) deep += c.open;
    const std::string inner = c.open[0] == '#' ? "#z" : "1";
    std::string text = deep + inner;
    for (size_t k = 0; k < c.levels; ++k) text += c.close;
    Parsed ok = parse(text + ">");
    EXPECT_TRUE(ok.ok) << error_text(*ok.parser);
    // One level more is a syntax error at the opening that goes too deep;
    // a million levels fail the same way, and the partial value is freed.
    Parsed too_deep = parse(deep + c.open + inner);
    EXPECT_EQ(too_deep.parser->LastErrorCode(), 300);
    std::string huge = "~<v=";
    for (size_t k = 0; k < 1000000; ++k) huge += c.open;
    Parsed failed = parse(huge);
    EXPECT_EQ(failed.parser->LastErrorCode(), 300);
    EXPECT_LT(failed.parser->ErrorPosition(), 4100);
  }
}

TEST(VormCodeValues, SyntaxMapHoldsEveryCharacterOfTheTag) {
  std::vector<std::string> texts = {"~\\config@capture_commons\\", "~\\ {c} s@\"a b\".c <k=1;#v> {c} \\", "~\\~a@n \\",
                                    "~<~a ; {c} ~#b >", "~<>"};
  for (const ValueCase& c : kValueCases) texts.push_back(c.text);
  for (const std::string& text : texts) {
    SCOPED_TRACE(text);
    auto p = cParserVormCode::Construct(true);
    cEncoding en;
    ASSERT_GE(en.AttachCharString(text, 0), 0);
    ASSERT_TRUE(p->OpenEncoding(&en, nullptr)) << error_text(*p);
    const rTCToken* t = p->FirstToken();
    ASSERT_NE(t, nullptr);
    ASSERT_NE(t->map, nullptr);
    EXPECT_EQ(codepoints(t->map->text), text);
    // The entries cover the text without gaps, each a run of one kind.
    int32_t next = 1;
    uint8_t last_kind = 255;
    for (const rTCTagMapEntry* e = t->map->entries->First(); e != nullptr; e = e->next) {
      EXPECT_EQ(e->first, next);
      EXPECT_NE(e->kind, last_kind);
      next = e->first + e->length;
      last_kind = e->kind;
    }
    EXPECT_EQ(next, int32_t(text.size()) + 1);
  }
}

TEST(VormCodeValues, EveryFailedAllocationFailsTheParseCleanly) {
  // Fail each allocation of the parse in turn until one runs through: every
  // failure is a parser or storage error, and the half-built values are
  // freed with the tokens.
  const std::string text =
      "~\\s@n <k=1>\\~<a=&t(1,[2,(x=\"q\"+$41,y)]);b:&e(N);c:int[3,4]=#v.x[2,#i[#j]].y;d=@l;e=i@l;f=1.5E+3>"
      "~<~a;~#b>~\\~s@n\\";
  bool finished = false;
  for (int64_t k = 1; k <= 2000 && !finished; ++k) {
    SCOPED_TRACE(k);
    auto p = cParserVormCode::Construct(k % 2 == 0);
    ASSERT_NE(p, nullptr);
    cEncoding en;
    ASSERT_GE(en.AttachCharString(text, 0), 0);
    mem_alloc_fail_at(k);
    const bool ok = p->OpenEncoding(&en, nullptr);
    mem_alloc_fail_at(0);
    if (ok) {
      finished = true;
      EXPECT_EQ(show_properties(p->FirstToken()->next->Properties()),
                "a=[1,[2,(x=\"qA\";=id:y)]];b:&e(N);c:int[3,4]=ref:v.x[2,#i[#j]].y;d=@l;e=il:i@l;f=f:1500");
    } else {
      const int32_t code = p->LastErrorCode();
      EXPECT_TRUE(code == 299 || code == 203 || code < 0) << code << " " << error_text(*p);
    }
  }
  EXPECT_TRUE(finished);
}

TEST(VormCodeValues, RandomTagTextsEndInSuccessOrASyntaxError) {
  // Texts made of the characters that drive the value and tag tables: every
  // one parses or fails with 300 or 301, and its tokens are freed cleanly.
  static const char kAlphabet[] = "~~~<<>>\\\\[](){}==,,;;::#&@\"\"$%+-.09aFxEe \t\n*!";
  std::mt19937 random(8);
  std::uniform_int_distribution<size_t> pick(0, sizeof kAlphabet - 2);
  std::uniform_int_distribution<int> size(1, 40);
  int parsed = 0;
  for (int n = 0; n < 20000; ++n) {
    static const char* const kStarts[] = {"~<a=", "~\\s<a=", "~{#v=", "~(&t(", "~{&T=(", "~{m["};
    std::string text = kStarts[n % 6];
    for (int k = size(random); k > 0; --k) text.push_back(kAlphabet[pick(random)]);
    auto p = cParserVormCode::Construct(n % 5 == 0);
    cEncoding en;
    ASSERT_GE(en.AttachCharString(text, 0), 0);
    if (p->OpenEncoding(&en, nullptr)) {
      ++parsed;
      continue;
    }
    const int32_t code = p->LastErrorCode();
    ASSERT_TRUE(code == 300 || code == 301) << text << " " << code << " " << error_text(*p);
  }
  EXPECT_GT(parsed, 100);
}

}  // namespace
