// Token queries over token lists built by hand: tag tests, closing tests
// (including the partners a parser never leaves, such as nil against nil),
// property look-up and the value readers.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "qlm_encoding.h"
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
      {"section case, blanks and NULs", true, tblocks_is_section(sec, "CONFIG  ", std::string_view("Capture_Commons \0", 17), nullptr)},
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

}  // namespace
