// Colour values of VormCode properties: names of the "html" family, "none",
// and [r,g,b(,a)] lists.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "qlm_base_codes.h"
#include "qlm_base_object.h"
#include "qlm_colors.h"
#include "qlm_encoding.h"
#include "qlm_parser_vormcode.h"
#include "qlm_parser_vormcode_colors.h"

namespace {

// An element of a hand-built list: an integer, or (for `text`) an identifier.
struct Item {
  int64_t integer = 0;
  const char* text = nullptr;
};

// A property whose value is an identifier or a list of items.
struct ColorValue {
  rTCProperty property;
  explicit ColorValue(const std::string& id) {
    property.value.kind = ET_ID;
    property.value.value.pointer = new std::string(id);
  }
  explicit ColorValue(const std::vector<Item>& items) {
    auto* list = new cTCEntries();
    for (const Item& i : items) {
      rTCEntry* e = list->Append(1);
      if (i.text != nullptr) {
        e->kind = ET_ID;
        e->value.pointer = new std::string(i.text);
      } else {
        e->kind = ET_INTEGER;
        e->value.integer = i.integer;
      }
    }
    property.value.kind = ET_LIST;
    property.value.value.pointer = list;
  }
  ColorValue(const ColorValue&) = delete;
  ~ColorValue() { tc_entry_free(property.value); }
};

TEST(VormCodeColors, NamesAndLists) {
  qlm_colors_start();
  struct Case {
    const char* what;
    ColorValue* value;
    bool ok;
    uint32_t color;
  } cases[] = {
      {"Green", new ColorValue("Green"), true, 0xFF008000},
      {"any case", new ColorValue("dodgerBLUE"), true, 0xFF1E90FF},
      // The colour list compares names at full length; only "none" is read
      // without trailing blanks.
      {"colour name with a blank", new ColorValue("Green "), false, 0},
      {"none", new ColorValue("none"), true, 0},
      {"NONE with a blank", new ColorValue("NONE "), true, 0},
      {"html spells LightGrey", new ColorValue("LightGrey"), true, 0xFFD3D3D3},
      {"html has no LightGray", new ColorValue("LightGray"), false, 0},
      {"unknown name", new ColorValue("notacolour"), false, 0},
      {"a 100-character name", new ColorValue(std::string(100, 'a')), false, 0},
      {"rgb", new ColorValue(std::vector<Item>{{255}, {0}, {0}}), true, 0xFFFF0000},
      {"rgba", new ColorValue(std::vector<Item>{{255}, {0}, {0}, {128}}), true, 0x80FF0000},
      {"two elements", new ColorValue(std::vector<Item>{{255}, {0}}), false, 0},
      {"256", new ColorValue(std::vector<Item>{{256}, {0}, {0}}), false, 0},
      {"negative", new ColorValue(std::vector<Item>{{1}, {-1}, {0}}), false, 0},
      {"wide integer", new ColorValue(std::vector<Item>{{1}, {2}, {int64_t(1) << 32}}), false, 0},
      {"stops at x", new ColorValue(std::vector<Item>{{1}, {2}, {3}, {0, "x"}}), true, 0xFF010203},
      {"fifth ignored", new ColorValue(std::vector<Item>{{1}, {2}, {3}, {4}, {999}}), true, 0x04010203},
      {"empty list", new ColorValue(std::vector<Item>{}), false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    uint32_t color = 0x12345678;
    EXPECT_EQ(tblocks_color(&c.value->property, color), c.ok);
    if (c.ok) {
      EXPECT_EQ(color, c.color);
    } else {
      EXPECT_EQ(color, 0x12345678u);
    }
    uint32_t direct = 0;
    EXPECT_EQ(tblocks_property_color(&c.value->property.value, direct), c.ok);
    delete c.value;
  }
}

TEST(VormCodeColors, OtherKindsAndMissingStorage) {
  uint32_t color = 7;
  rTCProperty p;
  for (uint8_t kind : {ET_NONE, ET_INTEGER, ET_FLOAT, ET_BOOLEAN, ET_TEXT, ET_LABEL, ET_RECORD}) {
    p.value.kind = kind;
    EXPECT_FALSE(tblocks_color(&p, color)) << int(kind);
  }
  p.value.kind = ET_LIST;  // a list without its entries
  EXPECT_FALSE(tblocks_color(&p, color));
  EXPECT_FALSE(tblocks_color(nullptr, color));
  EXPECT_FALSE(tblocks_property_color(nullptr, color));
  EXPECT_EQ(color, 7u);

  // An identifier without its string is a fault of whoever built the value:
  // the one query that raises.
  p.value.kind = ET_ID;
  try {
    tblocks_color(&p, color);
    ADD_FAILURE() << "no exception";
  } catch (const exError& e) {
    EXPECT_EQ(e.Code(), errRunTime);
    EXPECT_NE(std::string(e.what()).find("{tblocks_property_color.ET_ID.ename=NIL}"), std::string::npos) << e.what();
  }
  p.value.kind = ET_NONE;
}

// Colours as the rich-text layer reads them from parsed mark-up.
TEST(VormCodeColors, ParsedProperties) {
  qlm_colors_start();
  const std::string text =
      "~{text <alignx=JUSTIFY>}~<ct=Green>a~>~<ct=dodgerblue;b>b~>~<ct=none>~<ct=[255,0,0]>"
      "~<ct=[255,0,0,128]>~<ct=[255,0]>~<ct=[256,0,0]>~<ct=[1,2,3,x]>~<ct=LightGray>~<ct=\"Green\">";
  cEncoding en;
  ASSERT_GE(en.AttachCharString(text, 0), 0);
  auto parser = cParserVormCode::Construct(false);
  ASSERT_TRUE(parser->OpenEncoding(&en, nullptr)) << parser->LastErrorText();
  struct Seen {
    bool ok;
    uint32_t color;
    bool operator==(const Seen&) const = default;
  };
  std::vector<Seen> seen;
  for (const rTCToken* t = parser->FirstToken(); t != nullptr; t = t->next) {
    const rTCProperty* ct = nullptr;
    if (!tblocks_find_property(t, "CT", ct)) continue;
    uint32_t color = 0xDEADBEEF;
    const bool ok = tblocks_color(ct, color);
    seen.push_back({ok, color});
  }
  const std::vector<Seen> expected = {
      {true, 0xFF008000},  {true, 0xFF1E90FF},  {true, 0},           {true, 0xFFFF0000},
      {true, 0x80FF0000},  {false, 0xDEADBEEF}, {false, 0xDEADBEEF}, {true, 0xFF010203},
      {false, 0xDEADBEEF}, {false, 0xDEADBEEF},  // html spells LightGrey; a quoted text is no colour
  };
  ASSERT_EQ(seen.size(), expected.size());
  for (size_t i = 0; i < seen.size(); ++i) {
    EXPECT_EQ(seen[i].ok, expected[i].ok) << i;
    EXPECT_EQ(seen[i].color, expected[i].color) << i;
  }
}

}  // namespace
