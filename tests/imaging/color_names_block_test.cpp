// The built-in colour-name block: its outer form and checks, and the inner
// "CNL1.0" structure walked with every offset bounds-checked, against the
// families and values the table is meant to hold.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "qlm_base_util.h"
#include "qlm_colors.h"

namespace {

struct Node {
  uint32_t offset = 0;
  uint32_t color = 0;
  std::string name;
};

struct Family {
  std::string name;
  std::vector<Node> stored;
  std::vector<uint32_t> by_name;   // node offsets, name index
  std::vector<uint32_t> by_color;  // node offsets, colour index
  const Node& at(uint32_t offset) const {
    for (const Node& n : stored)
      if (n.offset == offset) return n;
    throw std::runtime_error("index entry is not a node of " + name);
  }
};

// The complement of the standard CRC-32 is the register the block stores.
uint32_t crc_register(const uint8_t* data, size_t size) { return ~uint32_t(crc32(0, data, uInt(size))); }

std::vector<uint8_t> inflate_builtin() {
  const int32_t n = int32_t(cnl_get_u32(cnBuiltInColorNames));
  std::vector<uint8_t> out(1 << 20);
  uLongf size = out.size();
  if (uncompress(out.data(), &size, cnBuiltInColorNames + cnCNLOuterHeaderSize, uLong(n)) != Z_OK)
    throw std::runtime_error("inflate failed");
  out.resize(size);
  return out;
}

// Walks the inner block; any offset, count or name outside it throws.
class Walker {
 public:
  explicit Walker(const std::vector<uint8_t>& b) : b_(b) {}
  uint32_t u32(uint64_t at) const {
    if (at + 4 > b_.size()) throw std::runtime_error("read past the block at " + std::to_string(at));
    return cnl_get_u32(b_.data() + at);
  }
  std::string name(uint64_t at) const {
    std::string s;
    for (; at < b_.size(); ++at) {
      if (b_[at] == 0) return s;
      s.push_back(char(b_[at]));
    }
    throw std::runtime_error("name without terminator");
  }
  std::vector<Family> families() const {
    std::vector<Family> result;
    const uint32_t count = u32(cnCNLFamilyCountOffset);
    if (count > b_.size() / 4) throw std::runtime_error("family count too large");
    for (uint32_t f = 0; f < count; ++f) {
      const uint32_t record = u32(cnCNLHeaderSize + 4ull * f);
      Family fam;
      fam.name = name(uint64_t(record) + cnCNLFamilyRecordSize);
      const uint32_t n = u32(record);
      if (n > b_.size()) throw std::runtime_error("node count too large");
      // Nodes follow the record directly and each other without gaps.
      uint64_t node = u32(record + 4ull);
      if (node != uint64_t(record) + cnCNLFamilyRecordSize + fam.name.size() + 1)
        throw std::runtime_error("gap before the first node of " + fam.name);
      for (uint32_t i = 0; i < n; ++i) {
        if (u32(node) != 0 || u32(node + 8) != 0) throw std::runtime_error("slot not zero");
        Node nd{uint32_t(node), u32(node + 4), name(node + cnCNLNodeSize)};
        node += cnCNLNodeSize + nd.name.size() + 1;
        fam.stored.push_back(nd);
      }
      for (uint32_t i = 0; i < n; ++i) {
        fam.by_name.push_back(u32(u32(record + 8ull) + 4ull * i));
        fam.by_color.push_back(u32(u32(record + 12ull) + 4ull * i));
      }
      result.push_back(fam);
    }
    return result;
  }

 private:
  const std::vector<uint8_t>& b_;
};

int name_compare(const std::string& a, const std::string& b) {
  return buf_compare(a.data(), int32_t(a.size()), b.data(), int32_t(b.size()), cnFmtIgnoreCase);
}

}  // namespace

TEST(ColorNamesBlock, OuterFormHeaderAndChecks) {
  ASSERT_GT(cnBuiltInColorNamesSize, cnCNLOuterHeaderSize);
  const int32_t n = int32_t(cnl_get_u32(cnBuiltInColorNames));
  EXPECT_EQ(n + cnCNLOuterHeaderSize, cnBuiltInColorNamesSize);
  EXPECT_EQ(cnl_get_u32(cnBuiltInColorNames + 4), crc_register(cnBuiltInColorNames + cnCNLOuterHeaderSize, size_t(n)));

  const std::vector<uint8_t> inner = inflate_builtin();
  ASSERT_EQ(inner.size(), 21362u);  // the format followed to the byte: no padding, no extras
  EXPECT_EQ(std::string(inner.begin(), inner.begin() + 6), cnCNL_UID);
  EXPECT_EQ(cnl_get_u32(&inner[cnCNLCheckSizeOffset]), inner.size());
  EXPECT_EQ(cnl_get_u32(&inner[cnCNLCheckCrcOffset]),
            crc_register(inner.data() + cnCNLHeaderSize, inner.size() - cnCNLHeaderSize));
  EXPECT_EQ(cnl_get_u32(&inner[cnCNLFamilyCountOffset]), 6u);
}

TEST(ColorNamesBlock, FamiliesAndIndexes) {
  const std::vector<uint8_t> inner = inflate_builtin();
  std::vector<Family> families;
  ASSERT_NO_THROW(families = Walker(inner).families());

  const std::vector<std::pair<std::string, size_t>> expected = {{"vga", 17},  {"html", 140}, {"x11", 140},
                                                                {"svg", 147}, {"web", 216},  {"ui", 28}};
  ASSERT_EQ(families.size(), expected.size());
  uint64_t end = 0;
  for (size_t f = 0; f < families.size(); ++f) {
    const Family& fam = families[f];
    SCOPED_TRACE(fam.name);
    EXPECT_EQ(fam.name, expected[f].first);
    ASSERT_EQ(fam.stored.size(), expected[f].second);
    std::set<uint32_t> nodes;
    for (const Node& n : fam.stored) {
      nodes.insert(n.offset);
      EXPECT_LE(n.color, 0xFFFFFFu);
      EXPECT_FALSE(n.name.empty());
      EXPECT_LE(n.name.size(), size_t(cnCNLMaxNameLength));
    }
    // Both indexes list every node once; names strictly ascend, colours ascend.
    EXPECT_EQ(std::set<uint32_t>(fam.by_name.begin(), fam.by_name.end()), nodes);
    EXPECT_EQ(std::set<uint32_t>(fam.by_color.begin(), fam.by_color.end()), nodes);
    for (size_t i = 1; i < fam.stored.size(); ++i) {
      EXPECT_LT(name_compare(fam.at(fam.by_name[i - 1]).name, fam.at(fam.by_name[i]).name), 0)
          << fam.at(fam.by_name[i]).name;
      EXPECT_LE(fam.at(fam.by_color[i - 1]).color, fam.at(fam.by_color[i]).color);
    }
    end = std::max<uint64_t>(end, fam.stored.back().offset + cnCNLNodeSize + fam.stored.back().name.size() + 1);
  }
  EXPECT_LE(end, inner.size());

  // Stored orders: vga as listed, the others except web by name.
  std::vector<std::string> vga;
  for (const Node& n : families[0].stored) vga.push_back(n.name);
  EXPECT_EQ(vga, (std::vector<std::string>{"black", "silver", "gray", "white", "navy", "blue", "aqua", "teal", "green",
                                           "lime", "fuchsia", "purple", "maroon", "red", "yellow", "olive", "orange"}));
  for (size_t f : {1, 2, 3, 5})
    for (size_t i = 0; i < families[f].stored.size(); ++i)
      EXPECT_EQ(families[f].stored[i].offset, families[f].by_name[i]) << families[f].name << " " << i;

  // web holds the whole web-safe cube.
  std::set<uint32_t> cube;
  for (const Node& n : families[4].stored) {
    for (int shift : {0, 8, 16}) EXPECT_EQ((n.color >> shift & 0xFF) % 0x33, 0u) << n.name;
    cube.insert(n.color);
  }
  EXPECT_EQ(cube.size(), 216u);
}

TEST(ColorNamesBlock, KnownNamesAndValues) {
  const std::vector<uint8_t> inner = inflate_builtin();
  const std::vector<Family> families = Walker(inner).families();
  auto find = [&](const std::string& family, const std::string& name) -> const Node* {
    for (const Family& f : families)
      if (f.name == family)
        for (const Node& n : f.stored)
          if (name_compare(n.name, name) == 0) return &n;
    return nullptr;
  };
  struct Case {
    const char* family;
    const char* name;
    const char* stored;  // nullptr: absent
    uint32_t color;
  };
  // clang-format off
  const Case cases[] = {
      {"vga", "Orange", "orange", 0xFFA500},         {"vga", "gray", "gray", 0x808080},
      {"html", "ALICEBLUE", "AliceBlue", 0xF0F8FF},  {"html", "lightgrey", "LightGrey", 0xD3D3D3},
      {"html", "LightGray", nullptr, 0},             {"html", "Grey", nullptr, 0},
      {"html", "darkgoldenrod", "DarkGoldenrod", 0xB8860B},
      {"html", "lightgoldenrodyellow", "LightGoldenrodYellow", 0xFAFAD2},
      {"html", "Gray", "Gray", 0x808080},            {"html", "Purple", "Purple", 0x800080},
      {"x11", "gray", "Gray", 0xBEBEBE},             {"x11", "GREEN", "Green", 0x00FF00},
      {"x11", "maroon", "Maroon", 0xB03060},         {"x11", "purple", "Purple", 0xA020F0},
      {"x11", "Seashell", "Seashell", 0xFFF5EE},     {"svg", "grey", "grey", 0x808080},
      {"svg", "DodgerBlue", "dodgerblue", 0x1E90FF}, {"svg", "yellowgreen", "yellowgreen", 0x9ACD32},
      {"svg", "red ", nullptr, 0},                   {"web", "redofpink", "RedOfPink", 0xFF0033},
      {"web", "Shadow", "Shadow", 0x999999},         {"web", "PinkNight", "PinkNight", 0x660033},
      {"ui", "threeddarkshadow", "ThreeDDarkShadow", 0x404040},
      {"ui", "Background", "Background", 0x3A6EA5},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.family) + "/" + c.name);
    const Node* n = find(c.family, c.name);
    if (c.stored == nullptr) {
      EXPECT_EQ(n, nullptr);
      continue;
    }
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(n->name, c.stored);
    EXPECT_EQ(n->color, c.color);
  }
}

#ifdef QLM_MAKE_COLOR_NAMES
// The generator refuses a faulty table with a message and no output.
TEST(ColorNamesBlock, GeneratorRefusesFaultyTables) {
  struct Case {
    const char* table;
    const char* message;
  };
  const Case cases[] = {
      {"family a\nred FF000\n", "six hex digits"},
      {"family a\nred FF00GG\n", "six hex digits"},
      {"family a\nred FF0000\nRED 00FF00\n", "given twice"},
      {"family a\nfamily A\n", "given twice"},
      {"red FF0000\nfamily a\n", "before the first family"},
      {"family a\nred FF0000 extra\n", "two words"},
      {"family a\nfamily\n", "two words"},
      {"# nothing\n", "no family"},
      {"family a\nx", "two words"},
  };
  std::string long_name(cnCNLMaxNameLength + 1, 'n');
  std::vector<Case> all(std::begin(cases), std::end(cases));
  const std::string long_table = "family a\n" + long_name + " 000000\n";
  all.push_back({long_table.c_str(), "longer than 99"});
  for (const Case& c : all) {
    SCOPED_TRACE(c.table);
    std::ofstream("table.txt", std::ios::binary | std::ios::trunc) << c.table;
    std::remove("out.cpp");
    const std::string command = std::string("\"") + QLM_MAKE_COLOR_NAMES + "\" table.txt out.cpp 2>errors.txt";
    EXPECT_NE(std::system(command.c_str()), 0);
    std::ifstream errors("errors.txt");
    const std::string text((std::istreambuf_iterator<char>(errors)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find(c.message), std::string::npos) << text;
    EXPECT_FALSE(std::ifstream("out.cpp").good());
  }

  // A good table (with an empty family) is accepted.
  std::ofstream("table.txt", std::ios::binary | std::ios::trunc)
      << "# comment\n\nfamily a\nred FF0000\r\nfamily empty\nfamily b\nBlue 0000ff\n";
  const std::string command = std::string("\"") + QLM_MAKE_COLOR_NAMES + "\" table.txt out.cpp";
  EXPECT_EQ(std::system(command.c_str()), 0);
  EXPECT_TRUE(std::ifstream("out.cpp").good());
}
#endif

namespace {

void put_u32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + size_t(i)] = uint8_t(v >> (8 * i));
}

// Runs the layout check over an exactly sized heap copy of the first `size`
// bytes, so that AddressSanitizer sees any read past the end.
bool check_copy(const std::vector<uint8_t>& b, size_t size, std::string& fault) {
  std::unique_ptr<uint8_t[]> copy(new uint8_t[size ? size : 1]);
  std::copy(b.begin(), b.begin() + ptrdiff_t(size), copy.get());
  std::vector<rCNLFamily> families;
  const bool ok = cnl_check_layout(copy.get(), int32_t(size), families, fault);
  EXPECT_EQ(ok, !families.empty());
  return ok;
}

}  // namespace

TEST(ColorNamesBlock, LayoutCheckFindsTheFamilies) {
  const std::vector<uint8_t> inner = inflate_builtin();
  const std::vector<Family> walked = Walker(inner).families();
  std::vector<rCNLFamily> families;
  std::string fault = "x";
  ASSERT_TRUE(cnl_check_layout(inner.data(), int32_t(inner.size()), families, fault));
  EXPECT_EQ(fault, "");
  ASSERT_EQ(families.size(), walked.size());
  for (size_t f = 0; f < families.size(); ++f) {
    EXPECT_EQ(families[f].count, walked[f].stored.size());
    EXPECT_EQ(families[f].first_node, walked[f].stored.front().offset);
    EXPECT_EQ(reinterpret_cast<const char*>(inner.data() + families[f].name), walked[f].name);
    EXPECT_EQ(cnl_get_u32(&inner[families[f].name_index]), walked[f].by_name.front());
    EXPECT_EQ(cnl_get_u32(&inner[families[f].color_index]), walked[f].by_color.front());
  }
}

TEST(ColorNamesBlock, LayoutCheckRefusesBrokenBlocks) {
  const std::vector<uint8_t> inner = inflate_builtin();
  std::vector<rCNLFamily> fams;
  std::string fault;
  ASSERT_TRUE(cnl_check_layout(inner.data(), int32_t(inner.size()), fams, fault));
  const uint32_t size = uint32_t(inner.size());
  const rCNLFamily vga = fams.front();
  const rCNLFamily ui = fams.back();

  struct Patch {
    size_t at;
    uint32_t value;
    const char* fault;
  };
  const Patch patches[] = {
      {cnCNLFamilyCountOffset, 0x7FFFFFFF, "family count"},
      {cnCNLFamilyCountOffset, 0xFFFFFFFF, "family count"},
      {cnCNLHeaderSize, size, "family 1: record outside"},
      {cnCNLHeaderSize + 20, size - 10, "family 6: record outside"},
      {cnCNLHeaderSize, 0xFFFFFFF0, "family 1: record outside"},
      {vga.record, 0x10000000, "family 1: node count too large"},
      {vga.record + 4, size - 5, "family 1: node 1 outside"},
      {vga.record + 4, 0xFFFFFFFF, "family 1: node 1 outside"},
      {vga.record + 8, size - 8, "family 1: name index outside"},
      {vga.record + 12, 0xFFFFFFFC, "family 1: colour index outside"},
      {vga.color_index, 1, "family 1: colour index entry 1 is not a node"},
      {vga.name_index + 16 * 4, vga.first_node + 1, "family 1: name index entry 17 is not a node"},
      {ui.record, ui.count + 1, "family 6: colour index outside"},
  };
  for (const Patch& p : patches) {
    SCOPED_TRACE(p.fault);
    std::vector<uint8_t> b = inner;
    put_u32(b, p.at, p.value);
    EXPECT_FALSE(check_copy(b, b.size(), fault));
    EXPECT_NE(fault.find(p.fault), std::string::npos) << fault;
  }

  struct Cut {
    size_t size;
    const char* fault;
  };
  const Cut cuts[] = {
      {0, "shorter than its header"},
      {17, "shorter than its header"},
      {18, "family count"},
      {ui.name + 2, "family 6: name not terminated"},
      {ui.first_node + cnCNLNodeSize + 3, "family 6: node 1 name not terminated"},
      {size - 1, "family 6: colour index outside"},
  };
  for (const Cut& c : cuts) {
    SCOPED_TRACE(c.fault);
    EXPECT_FALSE(check_copy(inner, c.size, fault));
    EXPECT_NE(fault.find(c.fault), std::string::npos) << fault;
  }

  // Whatever byte is damaged and wherever the block ends, the check reads
  // nothing outside it (AddressSanitizer watches the exact-size copies).
  for (size_t at = 0; at < inner.size(); at += 7) {
    std::vector<uint8_t> b = inner;
    b[at] ^= 0xFF;
    check_copy(b, b.size(), fault);
  }
  for (size_t cut = 0; cut < inner.size(); cut += 5) check_copy(inner, cut, fault);
}
