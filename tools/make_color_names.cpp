// Build-time tool: turns the colour-name table (imaging/data/color_names.txt)
// into the compressed "CNL1.0" block and writes it as a C++ source holding
// cnBuiltInColorNames and cnBuiltInColorNamesSize (see imaging/qlm_colors.h
// for the layout).
//
//   make_color_names <table> <output.cpp>
//
// Any fault in the table stops the build with a message naming the line.

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "qlm_colors.h"

namespace {

struct Color {
  std::string name;
  uint32_t value = 0;
};

struct Family {
  std::string name;
  std::vector<Color> colors;
};

struct Failure {
  std::string text;
};

[[noreturn]] void fail(const std::string& text) { throw Failure{text}; }

std::string upper(std::string_view s) {
  std::string u(s);
  for (char& c : u)
    if (c >= 'a' && c <= 'z') c = char(c - 32);
  return u;
}

// The register of the reflected CRC-32 (polynomial 0xEDB88320), without the
// start value or final inversion, the same as the framework's crc32_update.
uint32_t crc32_register(uint32_t reg, const uint8_t* data, size_t length) {
  static const std::array<uint32_t, 256> table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  for (size_t i = 0; i < length; ++i) reg = table[(reg ^ data[i]) & 0xFF] ^ (reg >> 8);
  return reg;
}

bool parse_hex6(const std::string& s, uint32_t& value) {
  if (s.size() != 6) return false;
  value = 0;
  for (char c : s) {
    int d;
    // clang-format off
    if (c >= '0' && c <= '9') d = c - '0';
    else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
    else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else return false;
    // clang-format on
    value = value << 4 | uint32_t(d);
  }
  return true;
}

std::vector<Family> read_table(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) fail("cannot open " + path);
  std::vector<Family> families;
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    const std::string where = path + ":" + std::to_string(number) + ": ";
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::istringstream words(line);
    std::string first, second, extra;
    words >> first >> second >> extra;
    if (first.empty() || first[0] == '#') continue;
    if (second.empty() || !extra.empty()) fail(where + "expected two words");
    if (first == "family") {
      for (const Family& f : families)
        if (upper(f.name) == upper(second)) fail(where + "family " + second + " given twice");
      if (second.size() > size_t(cnCNLMaxNameLength)) fail(where + "family name too long");
      families.push_back({second, {}});
      continue;
    }
    if (families.empty()) fail(where + "colour before the first family line");
    if (first.size() > size_t(cnCNLMaxNameLength))
      fail(where + "colour name longer than " + std::to_string(cnCNLMaxNameLength) + " characters");
    Color color{first, 0};
    if (!parse_hex6(second, color.value)) fail(where + "colour value must be six hex digits");
    for (const Color& c : families.back().colors)
      if (upper(c.name) == upper(first)) fail(where + "colour " + first + " given twice in its family");
    families.back().colors.push_back(color);
  }
  if (in.bad()) fail("cannot read " + path);
  if (families.empty()) fail(path + ": no family");
  return families;
}

void put_u32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + size_t(i)] = uint8_t(v >> (8 * i));
}

void append_u32(std::vector<uint8_t>& b, uint32_t v) {
  b.resize(b.size() + 4);
  put_u32(b, b.size() - 4, v);
}

void append_name(std::vector<uint8_t>& b, const std::string& name) {
  b.insert(b.end(), name.begin(), name.end());
  b.push_back(0);
}

// Offsets must fit the format's 32-bit fields (and a signed reader).
uint32_t offset_of(const std::vector<uint8_t>& b) {
  if (b.size() > 0x7FFFFFFFu) fail("block too large");
  return uint32_t(b.size());
}

std::vector<uint8_t> build_inner(const std::vector<Family>& families) {
  std::vector<uint8_t> b(size_t(cnCNLHeaderSize) + 4 * families.size(), 0);
  std::copy(cnCNL_UID.begin(), cnCNL_UID.end(), b.begin());
  put_u32(b, cnCNLFamilyCountOffset, uint32_t(families.size()));
  for (size_t f = 0; f < families.size(); ++f) {
    const Family& family = families[f];
    const size_t record = offset_of(b);
    put_u32(b, size_t(cnCNLHeaderSize) + 4 * f, uint32_t(record));
    b.resize(b.size() + size_t(cnCNLFamilyRecordSize), 0);
    append_name(b, family.name);
    put_u32(b, record, uint32_t(family.colors.size()));
    put_u32(b, record + 4, offset_of(b));

    std::vector<uint32_t> nodes;
    for (const Color& c : family.colors) {
      nodes.push_back(offset_of(b));
      append_u32(b, 0);  // link slot
      append_u32(b, c.value);
      append_u32(b, 0);  // name slot
      append_name(b, c.name);
    }

    std::vector<size_t> order(family.colors.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    // Name index: bytes after upper-casing, a prefix first (which is what a
    // lexicographic compare of the upper-cased names gives).
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t x, size_t y) { return upper(family.colors[x].name) < upper(family.colors[y].name); });
    put_u32(b, record + 8, offset_of(b));
    for (size_t i : order) append_u32(b, nodes[i]);
    // Colour index: ascending colour; equal colours keep their stored order.
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t x, size_t y) { return family.colors[x].value < family.colors[y].value; });
    put_u32(b, record + 12, offset_of(b));
    for (size_t i : order) append_u32(b, nodes[i]);
  }
  put_u32(b, cnCNLCheckSizeOffset, offset_of(b));
  put_u32(b, cnCNLCheckCrcOffset,
          crc32_register(cnCNLCrcStart, b.data() + cnCNLHeaderSize, b.size() - size_t(cnCNLHeaderSize)));
  return b;
}

std::vector<uint8_t> build_outer(const std::vector<uint8_t>& inner) {
  uLongf length = compressBound(uLong(inner.size()));
  std::vector<uint8_t> z(length);
  if (compress2(z.data(), &length, inner.data(), uLong(inner.size()), Z_BEST_COMPRESSION) != Z_OK)
    fail("compression failed");
  z.resize(length);
  if (z.size() > 0x7FFFFFFFu - size_t(cnCNLOuterHeaderSize)) fail("block too large");
  std::vector<uint8_t> out(size_t(cnCNLOuterHeaderSize), 0);
  put_u32(out, 0, uint32_t(z.size()));
  put_u32(out, 4, crc32_register(cnCNLCrcStart, z.data(), z.size()));
  out.insert(out.end(), z.begin(), z.end());
  return out;
}

void write_source(const std::string& path, const std::string& table, const std::vector<uint8_t>& block) {
  std::ostringstream s;
  s << "// Generated by make_color_names from " << std::filesystem::path(table).filename().string()
    << "; do not edit.\n"
    << "#include \"qlm_colors.h\"\n\n"
    << "const uint8_t cnBuiltInColorNames[] = {";
  static const char digits[] = "0123456789abcdef";
  for (size_t i = 0; i < block.size(); ++i) {
    s << (i % 16 == 0 ? "\n   " : "") << " 0x" << digits[block[i] >> 4] << digits[block[i] & 15] << ",";
  }
  s << "\n};\n\nconst int32_t cnBuiltInColorNamesSize = " << block.size() << ";\n";
  // Write beside the target and rename, so a failed run leaves no half file.
  const std::string temp = path + ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out << s.str();
    out.close();
    if (!out) fail("cannot write " + temp);
  }
  if (std::rename(temp.c_str(), path.c_str()) != 0) {
    std::remove(temp.c_str());
    fail("cannot write " + path);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: make_color_names <table> <output.cpp>\n";
    return 2;
  }
  try {
    const std::vector<Family> families = read_table(argv[1]);
    const std::vector<uint8_t> inner = build_inner(families);
    write_source(argv[2], argv[1], build_outer(inner));
  } catch (const Failure& f) {
    std::cerr << "make_color_names: " << f.text << "\n";
    return 1;
  } catch (const std::exception& e) {
    std::cerr << "make_color_names: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
