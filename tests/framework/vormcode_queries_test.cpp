// Token queries over token lists built by hand: tag tests, closing tests
// (including the partners a parser never leaves, such as nil against nil),
// property look-up and the value readers.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "qlm_encoding.h"
#include "qlm_parser_vormcode.h"
#include "qlm_parser_vormcode_queries.h"

namespace {

// A token list under construction; owns what it holds.
struct HandTokens {
  cVormCodeTokens list;

  rTCToken* add(uint8_t kind) {
    rTCToken* t = list.Append(1);
    t->kind = kind;
    return t;
  }
  rTCToken* section(uint8_t kind, const std::string& label, const std::string& name) {
    rTCToken* t = add(kind);
    auto* s = new rTCT_SECTION();
    s->label = label;
    s->name = name;
    t->payload.pointer = s;
    return t;
  }
  rTCToken* structure(uint8_t kind, const std::string& label, const std::string& name) {
    rTCToken* t = add(kind);
    auto* s = new rTCT_STRUCTURE();
    s->label = label;
    s->name = name;
    t->payload.pointer = s;
    return t;
  }
  rTCToken* metadata(uint8_t kind, uint8_t metadata_kind, const std::string& label, const std::string& name) {
    rTCToken* t = add(kind);
    auto* m = new rTCT_METADATA();
    m->kind = metadata_kind;
    m->label = label;
    m->name = name;
    t->payload.pointer = m;
    return t;
  }
  // A property tag with properties of these names (values ET_NONE).
  rTCToken* properties(uint8_t kind, std::initializer_list<const char*> names) {
    rTCToken* t = add(kind);
    auto* list = new cTCProperties();
    for (const char* n : names) list->Append(1)->name = n;
    t->payload.pointer = list;
    return t;
  }
};

void pair_tokens(rTCToken* a, rTCToken* b) {
  a->partner = b;
  b->partner = a;
}

TEST(VormCodeQueries, TagTestsCompareNamesWithoutCaseAndTrailingBlanks) {
  HandTokens h;
  rTCToken* sec = h.section(TCT_SECTION, "config", "capture_commons");
  rTCToken* str = h.structure(TCT_STRUCTURE, "s", "n");
  rTCToken* meta = h.metadata(TCT_METADATA, cnMetadataProperties, "m", "");
  rTCToken* bare = h.add(TCT_SECTION);  // a section kind without payload
  struct Case {
    const char* what;
    bool result;
    bool got;
  } cases[] = {
      {"section exact", true, tblocks_is_section(sec, "config", "capture_commons", nullptr)},
      {"section case, blanks and NULs", true,
       tblocks_is_section(sec, "CONFIG  ", std::string_view("Capture_Commons \0", 17), nullptr)},
      {"section any name", true, tblocks_is_section(sec, "Config", "~", nullptr)},
      {"wildcard is exact", false, tblocks_is_section(sec, "config", "~ ", nullptr)},
      {"leading blank counts", false, tblocks_is_section(sec, " config", "~", nullptr)},
      {"other name", false, tblocks_is_section(sec, "config", "capture", nullptr)},
      {"section without payload", false, tblocks_is_section(bare, "", "", nullptr)},
      {"nil token", false, tblocks_is_section(nullptr, "config", "~", nullptr)},
      {"structure", true, tblocks_is_structure(str, "S", "N ", nullptr)},
      {"structure has no wildcard", false, tblocks_is_structure(str, "s", "~", nullptr)},
      {"structure is no section", false, tblocks_is_section(str, "s", "n", nullptr)},
      {"metadata kind in set", true,
       tblocks_is_metadata(meta, tc_metadata_bit(1) | tc_metadata_bit(2), "M", "", nullptr)},
      {"metadata kind not in set", false, tblocks_is_metadata(meta, tc_metadata_bit(0), "m", "", nullptr)},
      {"metadata empty set", false, tblocks_is_metadata(meta, 0, "m", "", nullptr)},
      {"metadata name differs", false, tblocks_is_metadata(meta, 0xFF, "m", "x", nullptr)},
  };
  for (const Case& c : cases) EXPECT_EQ(c.got, c.result) << c.what;
}

TEST(VormCodeQueries, ClosingFollowsTheMatchedPartner) {
  HandTokens h;
  // ~\s\ ... ~\\ (generic) and ~\t\ ... ~\~t\ (by name)
  rTCToken* s_open = h.section(TCT_SECTION, "s", "");
  rTCToken* s_close = h.add(TCT_SECTION_END);
  pair_tokens(s_open, s_close);
  rTCToken* t_open = h.section(TCT_SECTION, "t", "");
  rTCToken* t_close = h.section(TCT_SECTION_END, "t", "");
  t_open->Section()->partner = t_close->Section();
  t_close->Section()->partner = t_open->Section();
  // An unpaired opening and a payload-less "~\\" that nothing paired.
  rTCToken* u_open = h.section(TCT_SECTION, "u", "");
  rTCToken* loose_close = h.add(TCT_SECTION_END);
  // Structures: generic and by name.
  rTCToken* st_open = h.structure(TCT_STRUCTURE, "st", "");
  rTCToken* st_close = h.add(TCT_STRUCTURE_END);
  pair_tokens(st_open, st_close);
  rTCToken* sn_open = h.structure(TCT_STRUCTURE, "sn", "n");
  rTCToken* sn_close = h.structure(TCT_STRUCTURE_END, "sn", "n");
  sn_open->Structure()->partner = sn_close->Structure();
  rTCToken* su_open = h.structure(TCT_STRUCTURE, "su", "");
  rTCToken* su_loose = h.add(TCT_STRUCTURE_END);
  // Metadata by name, and an unpaired one.
  rTCToken* m_open = h.metadata(TCT_METADATA, 1, "m", "");
  rTCToken* m_close = h.metadata(TCT_METADATA_END, 1, "m", "");
  m_open->Metadata()->partner = m_close->Metadata();
  rTCToken* mu_open = h.metadata(TCT_METADATA, 1, "mu", "");
  rTCToken* mu_close = h.metadata(TCT_METADATA_END, 1, "mu", "");
  // Property tags: generic, and a closing property list.
  rTCToken* p_open = h.properties(TCT_PROPERTIES, {"b", "i"});
  rTCToken* p_close = h.add(TCT_PROPERTIES_END);
  pair_tokens(p_open, p_close);
  rTCToken* pn_close = h.properties(TCT_PROPERTIES_END, {"x", "i"});
  rTCProperty* opened_i = p_open->Properties()->First()->next;
  opened_i->partner = pn_close->Properties()->First()->next;

  rTCMatch m;
  ASSERT_TRUE(tblocks_is_section(s_open, "s", "", &m));
  EXPECT_EQ(m.kind, TCT_SECTION);
  EXPECT_TRUE(tblocks_is_closing(s_close, &m));
  EXPECT_FALSE(tblocks_is_closing(t_close, &m));
  EXPECT_FALSE(tblocks_is_closing(loose_close, &m));

  ASSERT_TRUE(tblocks_is_section(t_open, "t", "~", &m));
  EXPECT_TRUE(tblocks_is_closing(t_close, &m));
  EXPECT_FALSE(tblocks_is_closing(s_close, &m));

  // Nil partners never match nil: neither the payload-less "~\\" (payload
  // nil) nor a token whose partner is nil.
  ASSERT_TRUE(tblocks_is_section(u_open, "u", "", &m));
  EXPECT_EQ(m.partner_token, nullptr);
  EXPECT_EQ(m.partner_payload, nullptr);
  EXPECT_FALSE(tblocks_is_closing(loose_close, &m));
  EXPECT_FALSE(tblocks_is_closing(s_close, &m));
  EXPECT_FALSE(tblocks_is_closing(t_close, &m));

  ASSERT_TRUE(tblocks_is_structure(st_open, "st", "", &m));
  EXPECT_EQ(m.kind, TCT_STRUCTURE);
  EXPECT_TRUE(tblocks_is_closing(st_close, &m));
  EXPECT_FALSE(tblocks_is_closing(s_close, &m));  // a section end is no structure end
  ASSERT_TRUE(tblocks_is_structure(sn_open, "sn", "n", &m));
  EXPECT_TRUE(tblocks_is_closing(sn_close, &m));
  EXPECT_FALSE(tblocks_is_closing(st_close, &m));
  ASSERT_TRUE(tblocks_is_structure(su_open, "su", "", &m));
  EXPECT_FALSE(tblocks_is_closing(su_loose, &m));

  ASSERT_TRUE(tblocks_is_metadata(m_open, tc_metadata_bit(1), "m", "", &m));
  EXPECT_EQ(m.kind, TCT_METADATA);
  EXPECT_TRUE(tblocks_is_closing(m_close, &m));
  EXPECT_FALSE(tblocks_is_closing(mu_close, &m));
  ASSERT_TRUE(tblocks_is_metadata(mu_open, tc_metadata_bit(1), "mu", "", &m));
  EXPECT_FALSE(tblocks_is_closing(mu_close, &m));  // not paired: same name is not enough

  // Property tags are matched by a reader filling the match itself.
  rTCMatch pm{TCT_PROPERTIES, p_open->partner, nullptr};
  EXPECT_TRUE(tblocks_is_closing(p_close, &pm));
  EXPECT_FALSE(tblocks_is_closing(pn_close, &pm));
  pm = {TCT_PROPERTIES, nullptr, opened_i};
  EXPECT_FALSE(tblocks_is_closing(pn_close, &pm));  // the opening property is not in the closing list
  pm.partner_payload = opened_i->partner;
  EXPECT_TRUE(tblocks_is_closing(pn_close, &pm));
  EXPECT_FALSE(tblocks_is_closing(p_close, &pm));
  pm = {TCT_PROPERTIES, nullptr, nullptr};
  EXPECT_FALSE(tblocks_is_closing(p_close, &pm));

  rTCMatch other{TCT_DATA, s_close, nullptr};
  EXPECT_FALSE(tblocks_is_closing(s_close, &other));
  EXPECT_FALSE(tblocks_is_closing(nullptr, &m));
  EXPECT_FALSE(tblocks_is_closing(s_close, nullptr));
}

TEST(VormCodeQueries, FindPropertyGivesTheFirstOfThatName) {
  HandTokens h;
  rTCToken* t = h.properties(TCT_PROPERTIES, {"b", "Color", "color"});
  rTCToken* closing = h.properties(TCT_PROPERTIES_END, {"Color"});
  rTCToken* empty = h.add(TCT_PROPERTIES);
  const rTCProperty* second = t->Properties()->First()->next;
  for (const char* name : {"Color", "color", "COLOR ", "COLOR   "}) {
    const rTCProperty* found = nullptr;
    EXPECT_TRUE(tblocks_find_property(t, name, found)) << name;
    EXPECT_EQ(found, second) << name;
  }
  const rTCProperty* found = nullptr;
  EXPECT_FALSE(tblocks_find_property(t, " color", found));
  EXPECT_FALSE(tblocks_find_property(t, "color\t", found));  // a TAB is no trailing blank here
  EXPECT_FALSE(tblocks_find_property(t, "colo", found));
  EXPECT_FALSE(tblocks_find_property(closing, "Color", found));
  EXPECT_FALSE(tblocks_find_property(empty, "b", found));
  EXPECT_FALSE(tblocks_find_property(nullptr, "b", found));
  EXPECT_EQ(found, nullptr);
}

// One property whose value the case sets.
struct HandValue {
  rTCProperty property;
  HandValue() = default;
  HandValue(const HandValue&) = delete;
  ~HandValue() { tc_entry_free(property.value); }
  HandValue& integer(int64_t v, bool hex = false) {
    tc_entry_free(property.value);
    property.value.kind = ET_INTEGER;
    property.value.value.integer = v;
    property.value.hex = hex;
    return *this;
  }
  HandValue& real(double v) {
    tc_entry_free(property.value);
    property.value.kind = ET_FLOAT;
    property.value.value.real = v;
    return *this;
  }
  HandValue& boolean(bool v) {
    tc_entry_free(property.value);
    property.value.kind = ET_BOOLEAN;
    property.value.value.boolean = v;
    return *this;
  }
  HandValue& string(uint8_t kind, const std::string& s) {
    tc_entry_free(property.value);
    property.value.kind = kind;
    property.value.value.pointer = new std::string(s);
    return *this;
  }
  HandValue& text(const std::u16string& s) {
    tc_entry_free(property.value);
    auto* en = new cEncoding();
    EXPECT_EQ(en->AdoptWideString(s, 0, false), int32_t(s.size()));
    property.value.kind = ET_TEXT;
    property.value.value.pointer = en;
    return *this;
  }
  HandValue& kind_only(uint8_t kind) {
    tc_entry_free(property.value);
    property.value.kind = kind;
    return *this;
  }
};

TEST(VormCodeQueries, TextReaders) {
  struct Case {
    const char* what;
    std::function<void(HandValue&)> make;
    bool ok;
    std::string text;
    bool yesno;  // when ok
  } cases[] = {
      {"text", [](HandValue& v) { v.text(u"Arial"); }, true, "Arial", false},
      {"text on", [](HandValue& v) { v.text(u"on"); }, true, "on", true},
      {"latin-1 text", [](HandValue& v) { v.text(u"\u00e9t\u00e9"); }, true, "\xe9t\xe9", false},
      {"wide code point", [](HandValue& v) { v.text(u"a\u0100b"); }, true, "", false},
      {"text without storage", [](HandValue& v) { v.kind_only(ET_TEXT); }, true, "", false},
      {"id", [](HandValue& v) { v.string(ET_ID, "Yes"); }, true, "Yes", true},
      {"id TRUE", [](HandValue& v) { v.string(ET_ID, "TRUE"); }, true, "TRUE", true},
      {"id no", [](HandValue& v) { v.string(ET_ID, "no"); }, true, "no", false},
      {"label", [](HandValue& v) { v.string(ET_LABEL, "a.b:c"); }, true, "a.b:c", false},
      {"idlabel", [](HandValue& v) { v.string(ET_IDLABEL, "id@x"); }, true, "id@x", false},
      {"variable", [](HandValue& v) { v.string(ET_VAR, "v"); }, true, "#v", false},
      {"variable without storage", [](HandValue& v) { v.kind_only(ET_VAR); }, true, "", false},
      {"integer", [](HandValue& v) { v.integer(1); }, false, "", false},
      {"none", [](HandValue& v) { v.kind_only(ET_NONE); }, false, "", false},
      {"boolean", [](HandValue& v) { v.boolean(true); }, false, "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    HandValue v;
    c.make(v);
    std::string text = "stale";
    EXPECT_EQ(tblocks_property_text(&v.property, text), c.ok);
    EXPECT_EQ(text, c.text);  // cleared first, also on failure
    bool yes = !c.yesno;
    EXPECT_EQ(tblocks_property_yesno(&v.property, yes), c.ok);
    if (c.ok) {
      EXPECT_EQ(yes, c.yesno);
    }
  }
  std::string text = "stale";
  EXPECT_FALSE(tblocks_property_text(nullptr, text));
  EXPECT_EQ(text, "");
  bool b = false;
  EXPECT_FALSE(tblocks_property_yesno(nullptr, b));
}

TEST(VormCodeQueries, NumberAndBooleanReaders) {
  HandValue v;
  int32_t i = 0;
  double d = 0;
  bool b = false;

  v.integer(16, true);
  EXPECT_TRUE(tblocks_property_int(&v.property, i));
  EXPECT_EQ(i, 16);
  EXPECT_TRUE(tblocks_property_float(&v.property, d));
  EXPECT_EQ(d, 16.0);
  EXPECT_FALSE(tblocks_property_bool(&v.property, b));

  // The low 32 bits of a wide (hexadecimal) integer.
  v.integer(int64_t(0x1FFFFFFFFll));
  EXPECT_TRUE(tblocks_property_int(&v.property, i));
  EXPECT_EQ(i, -1);
  v.integer(INT64_MIN);
  EXPECT_TRUE(tblocks_property_int(&v.property, i));
  EXPECT_EQ(i, 0);
  EXPECT_TRUE(tblocks_property_float(&v.property, d));
  EXPECT_EQ(d, -9223372036854775808.0);

  v.real(1.5);
  i = 7;
  EXPECT_FALSE(tblocks_property_int(&v.property, i));
  EXPECT_EQ(i, 7);
  EXPECT_TRUE(tblocks_property_float(&v.property, d));
  EXPECT_EQ(d, 1.5);

  v.boolean(false);
  b = true;
  EXPECT_TRUE(tblocks_property_bool(&v.property, b));
  EXPECT_FALSE(b);
  v.boolean(true);
  EXPECT_TRUE(tblocks_property_bool(&v.property, b));
  EXPECT_TRUE(b);
  EXPECT_FALSE(tblocks_property_float(&v.property, d));

  v.kind_only(ET_NONE);  // a property written without "="
  b = false;
  EXPECT_TRUE(tblocks_property_bool(&v.property, b));
  EXPECT_TRUE(b);
  EXPECT_FALSE(tblocks_property_int(&v.property, i));

  v.string(ET_ID, "true");
  EXPECT_FALSE(tblocks_property_bool(&v.property, b));

  EXPECT_FALSE(tblocks_property_int(nullptr, i));
  EXPECT_FALSE(tblocks_property_float(nullptr, d));
  EXPECT_FALSE(tblocks_property_bool(nullptr, b));
}

// ---------------------------------------------------------------------------
// Parsed texts.

struct ParsedText {
  std::string text;  // the encoding reads it in place
  cEncoding en;
  std::unique_ptr<cParserVormCode> parser = cParserVormCode::Construct(false);
  explicit ParsedText(std::string t) : text(std::move(t)) {
    EXPECT_GE(en.AttachCharString(text, 0), 0);
    EXPECT_TRUE(parser->OpenEncoding(&en, nullptr)) << text << ": " << parser->LastErrorText();
  }
  ParsedText(const ParsedText&) = delete;
  // The n-th token (0-based); nil past the end.
  const rTCToken* at(int n) const {
    const rTCToken* t = parser->FirstToken();
    while (t != nullptr && n-- > 0) t = t->next;
    return t;
  }
  const rTCToken* last() const {
    const rTCToken* t = parser->FirstToken();
    while (t != nullptr && t->next != nullptr) t = t->next;
    return t;
  }
  // The property of that name of the first token that has one.
  const rTCProperty* property(std::string_view name) const {
    const rTCProperty* p = nullptr;
    for (const rTCToken* t = parser->FirstToken(); t != nullptr; t = t->next)
      if (tblocks_find_property(t, name, p)) return p;
    return nullptr;
  }
};

TEST(VormCodeQueriesParsed, TagsAndTheirClosings) {
  rTCMatch m;
  {
    ParsedText p("~\\s\\x~\\\\");  // ~\s\x~\\ : generic closing
    ASSERT_TRUE(tblocks_is_section(p.at(0), "S", "~", &m));
    EXPECT_NE(m.partner_token, nullptr);
    EXPECT_FALSE(tblocks_is_closing(p.at(1), &m));
    EXPECT_TRUE(tblocks_is_closing(p.at(2), &m));
  }
  {
    ParsedText p("~\\s\\x~\\~s\\");  // closing by name
    ASSERT_TRUE(tblocks_is_section(p.at(0), "s", "", &m));
    EXPECT_EQ(p.at(2)->kind, TCT_SECTION_END);
    EXPECT_TRUE(tblocks_is_closing(p.at(2), &m));
  }
  {
    // A "~\\" that nothing paired, before an opening that nothing closes:
    // both partners are nil and must not match each other.
    ParsedText p("~\\\\~\\s\\x");
    ASSERT_EQ(p.at(0)->kind, TCT_SECTION_END);
    ASSERT_TRUE(tblocks_is_section(p.at(1), "s", "~", &m));
    EXPECT_EQ(m.partner_token, nullptr);
    EXPECT_EQ(m.partner_payload, nullptr);
    EXPECT_FALSE(tblocks_is_closing(p.at(0), &m));
  }
  {
    ParsedText p("~{m<a=1>}x~{~m}");
    EXPECT_FALSE(tblocks_is_metadata(p.at(0), tc_metadata_bit(0) | tc_metadata_bit(2), "m", "", &m));
    ASSERT_TRUE(tblocks_is_metadata(p.at(0), tc_metadata_bit(1), "M", "", &m));
    EXPECT_TRUE(tblocks_is_closing(p.last(), &m));
  }
  {
    ParsedText p("~[s@n<k=1>]x~[~s@n]~[t]y~]");
    ASSERT_TRUE(tblocks_is_structure(p.at(0), "s", "N", &m));
    EXPECT_TRUE(tblocks_is_closing(p.at(2), &m));
    EXPECT_FALSE(tblocks_is_closing(p.last(), &m));
    ASSERT_TRUE(tblocks_is_structure(p.at(3), "t", "", &m));
    EXPECT_TRUE(tblocks_is_closing(p.last(), &m));
  }
  {
    // Property tags: the generic closing, and a closing by name whose
    // property is the partner of the first opening "b".
    ParsedText p("~<b>~<b>x~<~b>~<i>y~>");
    const rTCProperty* first_b = p.at(0)->Properties()->First();
    rTCMatch pm{TCT_PROPERTIES, nullptr, first_b->partner};
    EXPECT_TRUE(tblocks_is_closing(p.at(3), &pm));
    rTCMatch gm{TCT_PROPERTIES, p.at(4)->partner, nullptr};
    EXPECT_TRUE(tblocks_is_closing(p.last(), &gm));
    EXPECT_FALSE(tblocks_is_closing(p.at(3), &gm));
  }
}

TEST(VormCodeQueriesParsed, PropertyValues) {
  ParsedText p("~<Color=Red;i=0x10;f=1.5;g=2;v=#v;n=12;y=Yes;q=\"on\";one=1;b;t=!;w=$100$41;k=\"caf\" + $E9>");
  ASSERT_NE(p.at(0), nullptr);
  const rTCProperty* found = nullptr;
  for (const char* name : {"color", "COLOR ", "Color"}) {
    EXPECT_TRUE(tblocks_find_property(p.at(0), name, found)) << name;
    EXPECT_EQ(found, p.at(0)->Properties()->First()) << name;
  }
  std::string text;
  int32_t i = 0;
  double d = 0;
  bool b = false;
  EXPECT_TRUE(tblocks_property_int(p.property("i"), i));
  EXPECT_EQ(i, 16);
  EXPECT_FALSE(tblocks_property_int(p.property("f"), i));
  EXPECT_TRUE(tblocks_property_float(p.property("g"), d));
  EXPECT_EQ(d, 2.0);
  EXPECT_TRUE(tblocks_property_text(p.property("v"), text));
  EXPECT_EQ(text, "#v");
  EXPECT_FALSE(tblocks_property_text(p.property("n"), text));
  EXPECT_TRUE(tblocks_property_text(p.property("w"), text));  // U+0100 then "A": no 8-bit text
  EXPECT_EQ(text, "");
  EXPECT_TRUE(tblocks_property_text(p.property("k"), text));
  EXPECT_EQ(text, "caf\xE9");
  for (const char* yes : {"y", "q"}) {
    b = false;
    EXPECT_TRUE(tblocks_property_yesno(p.property(yes), b)) << yes;
    EXPECT_TRUE(b) << yes;
  }
  EXPECT_FALSE(tblocks_property_yesno(p.property("one"), b));
  b = false;
  EXPECT_TRUE(tblocks_property_bool(p.property("b"), b));
  EXPECT_TRUE(b);
  EXPECT_TRUE(tblocks_property_bool(p.property("t"), b));
  EXPECT_FALSE(b);
}

// The uninstall manifest as its reader walks it: find the section, then
// read each line's item until the section closes.
TEST(VormCodeQueriesParsed, ManifestLikeWalk) {
  ParsedText p(
      "~\\application@uninstall\\\r\n\r\n"
      "  ~<ext=\".qlm\">\r\n\r\n"
      "  ~<file=\"Images\\water3_2.jpg\">\r\n"
      "  ~<path=\"C:\\Apps\\Korvane\\\">\r\n"
      "  ~<file=\"uninstall.config\">\r\n\r\n"
      "  ~<link=\"C:\\Links\\Korvane.lnk\">\r\n"
      "  ~<group=\"C:\\Menu\\Korvane\\\">\r\n"
      "  ~<reg=\"Software\\Korvane\";hk=CURRENT>\r\n"
      "  ~<reg=\"Software\\NoHive\">\r\n\r\n"
      "  ~<DesktopIcon=yes>\r\n"
      "  ~<OnlyCurrent=no>\r\n"
      "  ~<Application=\"C:\\Apps\\Korvane\\k.exe\">\r\n"
      "~\\\\\r\n"
      "  ~<file=\"after.txt\">\r\n");
  std::vector<std::string> items;
  bool desktop_icon = false;
  rTCMatch section;
  bool in_section = false;
  for (const rTCToken* t = p.parser->FirstToken(); t != nullptr; t = t->next) {
    if (!in_section) {
      in_section = tblocks_is_section(t, "APPLICATION", "Uninstall", &section);
      continue;
    }
    const rTCProperty* prop = nullptr;
    std::string text;
    bool handled = false;
    for (const char* key : {"ext", "file", "link", "group"}) {
      if (tblocks_find_property(t, key, prop)) {
        if (tblocks_property_text(prop, text)) items.push_back(std::string(key) + ":" + text);
        handled = true;
        break;
      }
    }
    if (handled) continue;
    if (tblocks_find_property(t, "reg", prop)) {
      const rTCProperty* hk = nullptr;
      std::string hive;
      if (tblocks_property_text(prop, text) && tblocks_find_property(t, "hk", hk) && tblocks_property_text(hk, hive))
        items.push_back("reg:" + text + "@" + hive);
      continue;
    }
    if (tblocks_find_property(t, "DesktopIcon", prop)) {
      EXPECT_TRUE(tblocks_property_yesno(prop, desktop_icon));
      continue;
    }
    if (tblocks_is_closing(t, &section)) break;
  }
  EXPECT_TRUE(in_section);
  EXPECT_TRUE(desktop_icon);
  EXPECT_EQ(items, (std::vector<std::string>{"ext:.qlm", "file:Images\\water3_2.jpg", "file:uninstall.config",
                                             "link:C:\\Links\\Korvane.lnk", "group:C:\\Menu\\Korvane\\",
                                             "reg:Software\\Korvane@CURRENT"}));
}

// A configuration section read key by key, the way a settings reader walks
// it: options by name until the section's "~\\".
TEST(VormCodeQueriesParsed, ConfigurationLikeWalk) {
  ParsedText p(
      "~\\other@capture_commons\\  ~<OnlyCurr = *>~\\\\\r\n"
      "~\\config@capture_commons\\\r\n"
      "  ~<OnlyCurr = *>\r\n"
      "  ~<Folder = \"C:\\Capture\">\r\n"
      "  ~<Depth = 3; Scale = 1.5>\r\n"
      "  ~<Verbose>\r\n"
      "  ~<Mode = on>\r\n"
      "~\\\\\r\n"
      "  ~<Depth = 99>\r\n");
  struct Settings {
    bool only_current = false;
    std::string folder;
    int32_t depth = 0;
    double scale = 0;
    bool verbose = false;
    bool mode = false;
  } s;
  const rTCToken* t = p.parser->FirstToken();
  rTCMatch section;
  while (t != nullptr && !tblocks_is_section(t, "config", "capture_commons", &section)) t = t->next;
  ASSERT_NE(t, nullptr);
  for (t = t->next; t != nullptr && !tblocks_is_closing(t, &section); t = t->next) {
    const rTCProperty* prop = nullptr;
    if (tblocks_find_property(t, "onlycurr", prop)) {
      EXPECT_TRUE(tblocks_property_bool(prop, s.only_current));
    }
    if (tblocks_find_property(t, "folder", prop)) {
      EXPECT_TRUE(tblocks_property_text(prop, s.folder));
    }
    if (tblocks_find_property(t, "depth", prop)) {
      EXPECT_TRUE(tblocks_property_int(prop, s.depth));
    }
    if (tblocks_find_property(t, "scale", prop)) {
      EXPECT_TRUE(tblocks_property_float(prop, s.scale));
    }
    if (tblocks_find_property(t, "verbose", prop)) {
      EXPECT_TRUE(tblocks_property_bool(prop, s.verbose));
    }
    if (tblocks_find_property(t, "mode", prop)) {
      EXPECT_TRUE(tblocks_property_yesno(prop, s.mode));
    }
  }
  ASSERT_NE(t, nullptr);  // the walk ended at the closing, not at the end of the list
  EXPECT_TRUE(s.only_current);
  EXPECT_EQ(s.folder, "C:\\Capture");
  EXPECT_EQ(s.depth, 3);
  EXPECT_EQ(s.scale, 1.5);
  EXPECT_TRUE(s.verbose);
  EXPECT_TRUE(s.mode);
}

}  // namespace
