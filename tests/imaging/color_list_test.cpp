// The colour-name list: lookups through the process-wide list, the search
// modes, opening damaged or crafted blocks, the first use from several
// threads, and the palette.
#include <gtest/gtest.h>
#include <malloc.h>
#include <zlib.h>

#include <atomic>
#include <climits>
#include <cstring>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "qlm_base_array.h"
#include "qlm_base_flow.h"
#include "qlm_base_util.h"
#include "qlm_colors.h"
#include "qlm_startup.h"

namespace {

class ColorList : public ::testing::Test {
 protected:
  // Each test starts without the process-wide list, so its log is fresh.
  void SetUp() override {
    qlm_colors_start();
    color_list_free();
  }
};

// The complement of the standard CRC-32 is the register the block stores.
uint32_t crc_register(const uint8_t* data, size_t size) { return ~uint32_t(crc32(0, data, uInt(size))); }

void put_u32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + size_t(i)] = uint8_t(v >> (8 * i));
}

std::vector<uint8_t> builtin_outer() {
  return std::vector<uint8_t>(cnBuiltInColorNames, cnBuiltInColorNames + cnBuiltInColorNamesSize);
}

std::vector<uint8_t> builtin_inner() {
  std::vector<uint8_t> out(1 << 16);
  uLongf size = out.size();
  if (uncompress(out.data(), &size, cnBuiltInColorNames + cnCNLOuterHeaderSize,
                 uLong(cnBuiltInColorNamesSize - cnCNLOuterHeaderSize)) != Z_OK)
    throw std::runtime_error("inflate failed");
  out.resize(size);
  return out;
}

// The inner block with its chck_crc set right again.
void reseal_inner(std::vector<uint8_t>& inner) {
  put_u32(inner, cnCNLCheckCrcOffset,
          crc_register(inner.data() + cnCNLHeaderSize, inner.size() - size_t(cnCNLHeaderSize)));
}

// The outer form of an inner block, written into `out` (level 0 keeps the
// sweeps fast; reusing `out` keeps them from churning the heap).
void outer_into(const std::vector<uint8_t>& inner, std::vector<uint8_t>& out, int level = 0) {
  out.resize(cnCNLOuterHeaderSize + compressBound(uLong(inner.size())));
  uLongf size = out.size() - cnCNLOuterHeaderSize;
  if (compress2(out.data() + cnCNLOuterHeaderSize, &size, inner.data(), uLong(inner.size()), level) != Z_OK)
    throw std::runtime_error("deflate failed");
  out.resize(cnCNLOuterHeaderSize + size);
  put_u32(out, 0, uint32_t(size));
  put_u32(out, 4, crc_register(out.data() + cnCNLOuterHeaderSize, size));
}

std::vector<uint8_t> outer_of(const std::vector<uint8_t>& inner, int level = 0) {
  std::vector<uint8_t> out;
  outer_into(inner, out, level);
  return out;
}

// Opens a list over the bytes; `text` receives the last logged error.
std::unique_ptr<cColorNamesList> open_bytes(const std::vector<uint8_t>& bytes, bool& ok, std::string& text) {
  auto flow = cMemoryFlow::ConstructReadOnly(true, int64_t(bytes.size()), bytes.data());
  EXPECT_TRUE(flow->Open());
  auto list = std::make_unique<cColorNamesList>();
  ok = list->Open(flow.get());
  text = list->LastErrorText();
  return list;
}

std::string text_of(const char* s) { return s == nullptr ? "(nil)" : s; }

}  // namespace

TEST_F(ColorList, LookupsByName) {
  struct Case {
    std::string name, family;
    bool found;
    uint32_t color;
    std::string name_found, family_found;
  };
  const Case cases[] = {
      {"AliceBlue", "svg", true, 0xFFF0F8FF, "aliceblue", "svg"},
      {"aliceblue", "svg", true, 0xFFF0F8FF, "aliceblue", "svg"},
      {"ALICEBLUE", "svg", true, 0xFFF0F8FF, "aliceblue", "svg"},
      {"aliceblue", "html", true, 0xFFF0F8FF, "AliceBlue", "html"},
      {"LightGray", "html", false, 0, "", ""},
      {"LightGrey", "html", true, 0xFFD3D3D3, "LightGrey", "html"},
      {"Grey", "html", false, 0, "", ""},
      {"Grey", "svg", true, 0xFF808080, "grey", "svg"},
      {"Gray", "", true, 0xFF808080, "gray", "vga"},
      {"Gray", "x11", true, 0xFFBEBEBE, "Gray", "x11"},
      {"maroon", "X11", true, 0xFFB03060, "Maroon", "x11"},
      {"grey", "SVG", true, 0xFF808080, "grey", "svg"},
      {"grey", "svg ", true, 0xFF808080, "grey", "svg"},
      {"orange", "vga", true, 0xFFFFA500, "orange", "vga"},
      {"fuchsia", "vga", true, 0xFFFF00FF, "fuchsia", "vga"},
      {"DarkGoldenrod", "html", true, 0xFFB8860B, "DarkGoldenrod", "html"},
      {"redofeasyorange", "web", true, 0xFFFF9966, "RedOfEasyOrange", "web"},
      {"BluePitchdark", "web", true, 0xFF000033, "BluePitchdark", "web"},
      {"ThreeDDarkShadow", "ui", true, 0xFF404040, "ThreeDDarkShadow", "ui"},
      {"windowtext", "", true, 0xFF000000, "WindowText", "ui"},  // only in the last family
      {"red ", "svg", false, 0, "", ""},                         // names compare with their full length
      {"re", "svg", false, 0, "", ""},                           // a prefix is not the name
      {"yellowgreenx", "svg", false, 0, "", ""},
      {std::string(99, 'a'), "", false, 0, "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name + " in '" + c.family + "'");
    rColorFind find;
    ASSERT_EQ(color_find_by_name(&find, c.name, c.family), c.found);
    ASSERT_NE(gQLMColors.load(), nullptr);
    EXPECT_EQ(gQLMColors.load()->LastErrorCode(), 0);  // nothing found is no error
    if (!c.found) continue;
    EXPECT_EQ(find.color_found, c.color);
    EXPECT_EQ(text_of(find.name_found), c.name_found);
    EXPECT_EQ(text_of(find.family_name_found), c.family_found);
  }
}

TEST_F(ColorList, LookupErrorsAreLogged) {
  struct Case {
    std::string name, family, error;
  };
  const Case cases[] = {
      {std::string(100, 'a'), "svg", "{ColorNameTooLong}"},
      {"red", "svgx", "{FamilyNotFound}"},
      {"red", " ", "{FamilyNotFound}"},
      {"", "svg", "{name=\"\"}"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error);
    rColorFind find;
    EXPECT_FALSE(color_find_by_name(&find, c.name, c.family));
    EXPECT_EQ(gQLMColors.load()->LastErrorText(), c.error);
  }
  EXPECT_FALSE(gQLMColors.load()->FindFirst(nullptr, "red", ""));
  EXPECT_EQ(gQLMColors.load()->LastErrorText(), "{cf=NIL}");
}

TEST_F(ColorList, EnumerateByColourInOneFamily) {
  rColorFind find;
  ASSERT_TRUE(color_find_by_name(&find, "Enum_By_Color  ", "vga"));
  std::vector<uint32_t> colors{find.color_found};
  std::string last_name = find.name_found;
  while (gQLMColors.load()->FindNext(&find)) {
    colors.push_back(find.color_found);
    last_name = find.name_found;
  }
  ASSERT_EQ(colors.size(), 17u);
  EXPECT_EQ(colors.front(), 0xFF000000u);
  EXPECT_EQ(colors.back(), 0xFFFFFFFFu);
  EXPECT_EQ(last_name, "white");
  for (size_t i = 1; i < colors.size(); ++i) EXPECT_LT(colors[i - 1], colors[i]);
  // After the end: false again, the last values kept, nothing logged.
  EXPECT_FALSE(gQLMColors.load()->FindNext(&find));
  EXPECT_EQ(find.color_found, 0xFFFFFFFFu);
  EXPECT_EQ(text_of(find.name_found), "white");
  EXPECT_EQ(gQLMColors.load()->LastErrorCode(), 0);
}

TEST_F(ColorList, EnumerateByNameAcrossFamilies) {
  rColorFind find;
  ASSERT_TRUE(color_find_by_name(&find, "enum_by_name", ""));
  std::vector<std::pair<std::string, size_t>> counts;
  std::string previous;
  do {
    const std::string family = text_of(find.family_name_found);
    const std::string name = text_of(find.name_found);
    if (counts.empty() || counts.back().first != family) {
      counts.push_back({family, 0});
    } else {
      EXPECT_LT(
          buf_compare(previous.data(), int32_t(previous.size()), name.data(), int32_t(name.size()), cnFmtIgnoreCase), 0)
          << previous << " before " << name;
    }
    EXPECT_EQ(find.color_found >> 24, 0xFFu);
    ++counts.back().second;
    previous = name;
  } while (gQLMColors.load()->FindNext(&find));
  const std::vector<std::pair<std::string, size_t>> expected = {{"vga", 17},  {"html", 140}, {"x11", 140},
                                                                {"svg", 147}, {"web", 216},  {"ui", 28}};
  EXPECT_EQ(counts, expected);
  EXPECT_EQ(find.family_name_found, nullptr);  // ran past the last family
  EXPECT_FALSE(gQLMColors.load()->FindNext(&find));
  EXPECT_EQ(gQLMColors.load()->LastErrorCode(), 0);
}

TEST_F(ColorList, SearchByNameGoesOnThroughTheFamilies) {
  rColorFind find;
  ASSERT_TRUE(color_find_by_name(&find, "GRAY", ""));
  std::vector<std::pair<std::string, uint32_t>> hits{{find.family_name_found, find.color_found}};
  while (gQLMColors.load()->FindNext(&find)) hits.push_back({find.family_name_found, find.color_found});
  const std::vector<std::pair<std::string, uint32_t>> expected = {
      {"vga", 0xFF808080}, {"html", 0xFF808080}, {"x11", 0xFFBEBEBE}, {"svg", 0xFF808080}, {"web", 0xFFCCCCCC}};
  EXPECT_EQ(hits, expected);
  EXPECT_EQ(find.family_name_found, nullptr);
  EXPECT_EQ(gQLMColors.load()->LastErrorCode(), 0);
  // Stepping again once no family is left is an error.
  EXPECT_FALSE(gQLMColors.load()->FindNext(&find));
  EXPECT_EQ(gQLMColors.load()->LastErrorText(), "{NotInitialized}");

  // In one family: the step after a miss says so.
  ASSERT_TRUE(color_find_by_name(&find, "navy", "svg"));
  const uint32_t rows = gQLMColors.load()->Log()->Count();
  EXPECT_FALSE(gQLMColors.load()->FindNext(&find));
  EXPECT_EQ(gQLMColors.load()->Log()->Count(), rows);
  EXPECT_FALSE(gQLMColors.load()->FindNext(&find));
  EXPECT_EQ(gQLMColors.load()->LastErrorText(), "{NotFoundFirst}");
  EXPECT_EQ(text_of(find.name_found), "navy");  // kept from the last hit
}

TEST_F(ColorList, CallerPreparedModes) {
  rColorFind find;
  ASSERT_TRUE(color_find_by_name(&find, "black", "vga"));
  const cColorNamesList* list = gQLMColors.load();
  const rColorFamily* vga = find.family;
  const rColorFamily* svg = list->Families()->Get(4);
  ASSERT_EQ(text_of(svg->name), "svg");

  auto prepared = [&](uint8_t flags, const rColorFamily* family) {
    rColorFind f;
    f.flags = flags;
    f.family = family;
    f.list = list;
    return f;
  };
  auto collect = [&](rColorFind f) {
    std::vector<std::string> names;
    for (bool ok = list->FindNext(&f); ok; ok = list->FindNext(&f)) names.push_back(f.name_found);
    return names;
  };

  // By colour: both spellings of grey, and a colour that is not there.
  rColorFind by_color = prepared(cnColorFindByColor, svg);
  by_color.color = 0x808080;
  const std::vector<std::string> greys = collect(by_color);
  EXPECT_EQ(greys.size(), 2u);
  for (const std::string& n : greys) EXPECT_TRUE(n == "gray" || n == "grey") << n;
  by_color.color = 0x123457;
  EXPECT_TRUE(collect(by_color).empty());
  by_color.color = 0xFF808080;  // alpha set: compared as a signed value, never found
  EXPECT_TRUE(collect(by_color).empty());

  // Stored order of one family, then every family.
  const std::vector<std::string> vga_order = {"black",  "silver", "gray",   "white", "navy",    "blue",
                                              "aqua",   "teal",   "green",  "lime",  "fuchsia", "purple",
                                              "maroon", "red",    "yellow", "olive", "orange"};
  EXPECT_EQ(collect(prepared(cnColorFindWalk, vga)), vga_order);
  EXPECT_EQ(collect(prepared(cnColorFindWalk | cnColorFindAllFamilies, vga)).size(), 688u);

  rColorFind walk = prepared(cnColorFindWalk, nullptr);
  walk.family_walk = 1;
  std::vector<std::string> families;
  while (list->FindNext(&walk)) families.push_back(walk.family_name_found);
  EXPECT_EQ(families, (std::vector<std::string>{"vga", "html", "x11", "svg", "web", "ui"}));
  EXPECT_EQ(walk.family_name_found, nullptr);

  // Records this list did not prepare, or without a mode.
  cColorNamesList other;
  rColorFind foreign = prepared(cnColorFindWalk, vga);
  foreign.list = &other;
  EXPECT_FALSE(list->FindNext(&foreign));
  EXPECT_EQ(list->LastErrorText(), "{NotInitialized}");
  foreign = prepared(0, vga);
  EXPECT_FALSE(list->FindNext(&foreign));
  EXPECT_EQ(list->LastErrorText(), "{NotInitialized}");
  rColorFamily stray;
  foreign = prepared(cnColorFindWalk, &stray);
  EXPECT_FALSE(list->FindNext(&foreign));
  EXPECT_EQ(list->LastErrorText(), "{NotInitialized}");
  EXPECT_FALSE(other.FindFirst(&foreign, "red", ""));
  EXPECT_EQ(other.LastErrorText(), "{NotOpened}");
}

TEST_F(ColorList, LogOfTheSharedListIsCapped) {
  rColorFind find;
  for (int i = 0; i < 3 * int(cnColorNamesLogLimit); ++i) EXPECT_FALSE(color_find_by_name(&find, "red", "nosuch"));
  ASSERT_NE(gQLMColors.load()->Log(), nullptr);
  EXPECT_EQ(gQLMColors.load()->Log()->Count(), cnColorNamesLogLimit);
  EXPECT_EQ(gQLMColors.load()->LastErrorText(), "{FamilyNotFound}");
}

TEST_F(ColorList, FirstUseFromManyThreads) {
  for (int round = 0; round < 20; ++round) {
    color_list_free();
    ASSERT_EQ(gQLMColors.load(), nullptr);
    std::atomic<int> ready{0};
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
      threads.emplace_back([&, t] {
        ready.fetch_add(1);
        while (ready.load() < 8) std::this_thread::yield();
        for (int i = 0; i < 20; ++i) {
          rColorFind find;
          if (!color_find_by_name(&find, t % 2 ? "DodgerBlue" : "dodgerblue", "svg") || find.color_found != 0xFF1E90FF)
            wrong.fetch_add(1);
          if (color_find_by_name(&find, "red", "nosuch")) wrong.fetch_add(1);  // logs, under the list's lock
        }
      });
    for (std::thread& th : threads) th.join();
    EXPECT_EQ(wrong.load(), 0);
    ASSERT_NE(gQLMColors.load(), nullptr);
    EXPECT_EQ(gQLMColors.load()->Log()->Count(), cnColorNamesLogLimit);
  }
}

TEST_F(ColorList, FailedLoadIsRetried) {
  color_list_free();
  rColorFind find;
  for (int64_t k = 1;; ++k) {
    mem_alloc_fail_at(k);
    const bool ok = color_find_by_name(&find, "red", "vga");
    const int64_t used = mem_alloc_count();
    mem_alloc_fail_at(0);
    if (ok) {
      EXPECT_GT(k, 1);
      break;
    }
    ASSERT_EQ(gQLMColors.load(), nullptr) << k;
    ASSERT_LE(k, used) << "no allocation left to fail";
  }
  EXPECT_EQ(find.color_found, 0xFFFF0000u);
}

TEST_F(ColorList, ShutDownFreesTheList) {
  rColorFind find;
  ASSERT_TRUE(color_find_by_name(&find, "red", ""));
  ASSERT_NE(gQLMColors.load(), nullptr);
  framework_stop();
  EXPECT_EQ(gQLMColors.load(), nullptr);
  framework_start(0, nullptr);
  qlm_colors_start();
  EXPECT_TRUE(color_find_by_name(&find, "red", ""));
  framework_stop();
  EXPECT_EQ(gQLMColors.load(), nullptr);
  framework_start(0, nullptr);
}

TEST_F(ColorList, TypeIds) {
  cColorNamesList list;
  cPalette palette;
  EXPECT_NE(id_cColorNamesList, 0u);
  EXPECT_NE(id_cPalette, id_cColorNamesList);
  EXPECT_TRUE(list.Identify(id_cColorNamesList));
  EXPECT_TRUE(list.Identify(id_cException));
  EXPECT_FALSE(list.Identify(id_cPalette));
  EXPECT_TRUE(palette.Identify(id_cPalette));
  EXPECT_TRUE(palette.Identify(id_cBase));
  EXPECT_FALSE(palette.Identify(id_cException));
}

// ---------------------------------------------------------------------------
// Opening blocks

TEST_F(ColorList, OpenRefusesDamagedBlocks) {
  const std::vector<uint8_t> inner = builtin_inner();
  ASSERT_EQ(inner.size(), 21362u);
  auto inner_with = [&](auto change) {
    std::vector<uint8_t> b = inner;
    change(b);
    return b;
  };
  std::vector<uint8_t> stream_flipped = builtin_outer();
  stream_flipped[cnCNLOuterHeaderSize + 100] ^= 0x01;
  std::vector<uint8_t> garbage_stream = {0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 4, 5};
  put_u32(garbage_stream, 0, 5);
  put_u32(garbage_stream, 4, crc_register(garbage_stream.data() + 8, 5));
  std::vector<uint8_t> long_length = builtin_outer();
  put_u32(long_length, 0, uint32_t(cnBuiltInColorNamesSize));  // more than the flow holds
  std::vector<uint8_t> huge_length = builtin_outer();
  put_u32(huge_length, 0, 0x7FFFFFF0u);
  std::vector<uint8_t> negative_length = builtin_outer();
  put_u32(negative_length, 0, 0xFFFFFFF0u);

  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    std::string error;
  };
  const Case cases[] = {
      {"flipped stream byte", stream_flipped, "{ccrc<>zhdr.check_crc}"},
      {"flipped block byte", outer_of(inner_with([](auto& b) { b[5000] ^= 0x20; })), "{ccrc<>mHeader.chck_crc}"},
      {"block size", outer_of(inner_with([](auto& b) { b.push_back(0); })), "{mHeader.check_sz<>mAloc(21362<>21363)}"},
      {"identifier", outer_of(inner_with([](auto& b) { b[5] = '1'; })), "{mHeader.list_uid<>cnCNL_UID}"},
      {"short block", outer_of({'C', 'N', 'L', '1', '.', '0', 12, 0, 0, 0}), "{mAloc<cnCNLHeaderSize}"},
      {"garbage stream", garbage_stream, "{zlib_decompress}"},
      {"short header", {1, 2, 3}, "{sf.Read}"},
      {"length beyond the flow", long_length, "{sf.Read}"},
      {"huge length", huge_length, "{sf.Read}"},
      {"negative length", negative_length, "{mem_alloc}"},
      // Family count and offsets with the CRCs made right: the layout check
      // stops them before anything is read through them.
      {"family count", outer_of(inner_with([](auto& b) { put_u32(b, cnCNLFamilyCountOffset, 0x40000000); })),
       "{mHeader.layout: family count 1073741824 outside the block}"},
      {"family offset", outer_of(inner_with([](auto& b) {
         put_u32(b, cnCNLHeaderSize + 4, 0xFFFFFFF0u);
         reseal_inner(b);
       })),
       "{mHeader.layout: family 2: record outside the block}"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    bool ok = true;
    std::string text;
    auto list = open_bytes(c.bytes, ok, text);
    EXPECT_FALSE(ok);
    EXPECT_EQ(text, c.error);
    EXPECT_FALSE(list->IsOpened());
    EXPECT_EQ(list->Families(), nullptr);
    rColorFind find;
    EXPECT_FALSE(list->FindFirst(&find, "red", ""));
    EXPECT_EQ(list->LastErrorText(), "{NotOpened}");
  }

  // A block made here (its own compression) opens and reads from the flow's
  // current offset; a second Open is refused and leaves the list as it was.
  std::vector<uint8_t> bytes = {9, 9, 9};
  const std::vector<uint8_t> outer = outer_of(inner, 6);
  bytes.insert(bytes.end(), outer.begin(), outer.end());
  auto flow = cMemoryFlow::ConstructReadOnly(true, int64_t(bytes.size()), bytes.data());
  ASSERT_TRUE(flow->Open());
  ASSERT_TRUE(flow->Seek(3));
  cColorNamesList list;
  EXPECT_FALSE(list.Open(nullptr));
  EXPECT_EQ(list.LastErrorText(), "{sf = NIL}");
  ASSERT_TRUE(list.Open(flow.get()));
  EXPECT_EQ(list.Aloc(), 21362);
  EXPECT_FALSE(list.Open(flow.get()));
  EXPECT_EQ(list.LastErrorText(), "{IsOpened}");
  rColorFind find;
  ASSERT_TRUE(list.FindFirst(&find, "dodgerblue", "svg"));
  EXPECT_EQ(find.color_found, 0xFF1E90FFu);
}

// An empty family: searches in it find nothing without reading its
// indexes, and a search of all families passes over it.
TEST_F(ColorList, EmptyFamily) {
  std::vector<uint8_t> inner = builtin_inner();
  put_u32(inner, cnl_get_u32(inner.data() + cnCNLHeaderSize), 0);  // vga's node count
  reseal_inner(inner);
  bool ok = false;
  std::string text;
  auto list = open_bytes(outer_of(inner), ok, text);
  ASSERT_TRUE(ok) << text;

  rColorFind find;
  EXPECT_FALSE(list->FindFirst(&find, "black", "vga"));
  EXPECT_EQ(text_of(find.family_name_found), "vga");
  EXPECT_EQ(list->LastErrorCode(), 0);
  EXPECT_FALSE(list->FindNext(&find));
  EXPECT_EQ(list->LastErrorText(), "{NotFoundFirst}");
  for (const char* mode : {"enum_by_name", "enum_by_color"}) {
    EXPECT_FALSE(list->FindFirst(&find, mode, "vga"));
    EXPECT_FALSE(list->FindNext(&find));
  }
  ASSERT_TRUE(list->FindFirst(&find, "BLACK", ""));
  EXPECT_EQ(text_of(find.family_name_found), "html");
  EXPECT_EQ(text_of(find.name_found), "Black");
  int count = 0;
  for (bool found = list->FindFirst(&find, "enum_by_color", ""); found; found = list->FindNext(&find)) {
    if (count++ == 0) {
      EXPECT_EQ(text_of(find.family_name_found), "html");
    }
  }
  EXPECT_EQ(count, 688 - 17);
}

TEST_F(ColorList, OpenSurvivesEveryFailedAllocation) {
  const std::vector<uint8_t> outer = builtin_outer();
  for (int64_t k = 1;; ++k) {
    auto flow = cMemoryFlow::ConstructReadOnly(true, int64_t(outer.size()), outer.data());
    ASSERT_TRUE(flow->Open());
    cColorNamesList list;
    mem_alloc_fail_at(k);
    const bool ok = list.Open(flow.get());
    const int64_t used = mem_alloc_count();
    mem_alloc_fail_at(0);
    if (ok) break;
    EXPECT_FALSE(list.IsOpened());
    EXPECT_NE(list.LastErrorCode(), 0);
    ASSERT_LE(k, used) << "no allocation left to fail";
  }
}

// Bytes of the inner block changed in turn, and random multi-byte damage, with both CRCs made right so that the
// structure check and the searches see the damage: a block either fails to open or every search over it stays inside it
// and ends.
TEST_F(ColorList, DamagedBlocksWithValidChecksums) {
  // Each round frees a few hundred KiB at the top of the heap; without this
  // the C library hands it back to the system and takes it again every
  // round, which is many times slower than the work itself.
  mallopt(M_TRIM_THRESHOLD, 64 << 20);
  const std::vector<uint8_t> inner = builtin_inner();
  std::mt19937 random(20261210);
  int opened = 0;
  std::vector<uint8_t> block;
  std::vector<uint8_t> outer;
  auto exercise = [&](const std::string& what) {
    reseal_inner(block);
    outer_into(block, outer);
    bool ok = false;
    std::string text;
    auto list = open_bytes(outer, ok, text);
    if (!ok) {
      ASSERT_FALSE(text.empty()) << what;
      ASSERT_FALSE(list->IsOpened()) << what;
      return;
    }
    ++opened;
    const uint8_t* begin = list->Block();
    const uint8_t* end = begin + list->Aloc();
    auto inside = [&](const void* p) {
      return p >= static_cast<const void*>(begin) && p < static_cast<const void*>(end);
    };
    const int limit = int(list->Families()->Count()) * (list->Aloc() / 13) + 1;
    for (const char* mode : {"enum_by_name", "enum_by_color", "red", "gray"}) {
      rColorFind find;
      int steps = 0;
      for (bool found = list->FindFirst(&find, mode, ""); found; found = list->FindNext(&find)) {
        ASSERT_TRUE(inside(find.name_found) && inside(find.node)) << what;
        ASSERT_LE(++steps, limit) << what;
      }
    }
    rColorFind walk;
    walk.flags = cnColorFindWalk | cnColorFindAllFamilies;
    walk.list = list.get();
    walk.family = list->Families()->First();
    int steps = 0;
    while (list->FindNext(&walk)) ASSERT_LE(++steps, limit) << what;
  };
  // Every byte of the header, the family records and the indexes; every
  // seventh byte of the nodes' colours and names.
  std::vector<rCNLFamily> families;
  std::string fault;
  ASSERT_TRUE(cnl_check_layout(inner.data(), int32_t(inner.size()), families, fault)) << fault;
  std::vector<bool> structure(inner.size(), false);
  auto mark = [&](size_t from, size_t to) {
    for (size_t i = from; i < to && i < structure.size(); ++i) structure[i] = true;
  };
  mark(0, size_t(cnCNLHeaderSize) + 4 * families.size());
  for (const rCNLFamily& f : families) {
    mark(f.record, f.first_node);
    mark(f.name_index, f.name_index + 4 * size_t(f.count));
    mark(f.color_index, f.color_index + 4 * size_t(f.count));
  }
  for (size_t at = 0; at < inner.size(); at += structure[at] ? 1 : 7) {
    if (at >= size_t(cnCNLCheckSizeOffset) && at < size_t(cnCNLFamilyCountOffset)) continue;  // size and CRC
    block = inner;
    block[at] ^= uint8_t(0x80 | (at % 127));
    exercise("byte " + std::to_string(at));
    if (HasFatalFailure()) return;
  }
  for (int round = 0; round < 500; ++round) {
    block = inner;
    const int changes = 1 + int(random() % 8);
    for (int i = 0; i < changes; ++i) {
      const size_t at = cnCNLFamilyCountOffset + random() % (block.size() - cnCNLFamilyCountOffset);
      block[at] = uint8_t(random());
    }
    exercise("round " + std::to_string(round));
    if (HasFatalFailure()) return;
  }
  EXPECT_GT(opened, 500);  // most changes to names and colours still make a readable list
}

// ---------------------------------------------------------------------------
// cPalette

TEST(Palette, EntriesOpenCreateAndClone) {
  const uint32_t source[3] = {0x00112233u, 0x00445566u, 0x00778899u};
  cPalette palette;
  EXPECT_EQ(palette.Entry(1), nullptr);
  uint8_t* block = static_cast<uint8_t*>(palette.Open(source, 3));
  ASSERT_NE(block, nullptr);
  EXPECT_NE(static_cast<const void*>(block), static_cast<const void*>(source));
  struct Case {
    int32_t index;
    int64_t offset;  // -1: nil
  };
  const Case cases[] = {{0, -1}, {1, 0}, {2, 4}, {3, 8}, {4, -1}, {-1, -1}, {INT_MIN, -1}, {INT_MAX, -1}};
  for (const Case& c : cases) EXPECT_EQ(palette.Entry(c.index), c.offset < 0 ? nullptr : block + c.offset) << c.index;
  EXPECT_EQ(std::memcmp(palette.Entry(2), &source[1], 4), 0);

  // A copy of the palette's own entries (the old block is read before it goes).
  ASSERT_NE(palette.Open(palette.Entry(2), 2), nullptr);
  EXPECT_EQ(palette.Count(), 2);
  EXPECT_EQ(std::memcmp(palette.Entry(1), &source[1], 8), 0);

  auto copy = palette.Clone();
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->Count(), 2);
  EXPECT_NE(copy->Entries(), palette.Entries());
  EXPECT_EQ(std::memcmp(copy->Entry(1), palette.Entry(1), 8), 0);
  mem_alloc_fail_at(1);
  EXPECT_EQ(palette.Clone(), nullptr);
  mem_alloc_fail_at(0);
  cPalette empty;
  auto empty_copy = empty.Clone();
  ASSERT_NE(empty_copy, nullptr);
  EXPECT_EQ(empty_copy->Count(), 0);
  EXPECT_EQ(empty_copy->Entries(), nullptr);

  uint8_t* zeroed = static_cast<uint8_t*>(palette.Create(5));
  ASSERT_NE(zeroed, nullptr);
  EXPECT_EQ(palette.Count(), 5);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(zeroed[i], 0);
  EXPECT_EQ(palette.Entry(5), zeroed + 16);
}

TEST(Palette, RefusedSizes) {
  const uint32_t one = 0x00ABCDEFu;
  cPalette palette;
  ASSERT_NE(palette.Create(2), nullptr);
  // Refused before anything changes.
  EXPECT_EQ(palette.Open(nullptr, 1), nullptr);
  EXPECT_EQ(palette.Open(&one, 0), nullptr);
  EXPECT_EQ(palette.Open(&one, -3), nullptr);
  EXPECT_EQ(palette.Create(0), nullptr);
  EXPECT_EQ(palette.Count(), 2);
  EXPECT_NE(palette.Entry(2), nullptr);

  // Sizes the block cannot have: no block, the new count, no entry. A count
  // of 2^29 + 1 is 4 bytes when multiplied in 32 bits.
  struct Case {
    bool create;
    int32_t count;
  };
  const Case cases[] = {{true, -1}, {true, INT_MIN}, {true, INT_MAX}, {true, 0x20000001}, {false, 0x20000001}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.count);
    ASSERT_NE(palette.Create(1), nullptr);
    EXPECT_EQ(c.create ? palette.Create(c.count) : palette.Open(&one, c.count), nullptr);
    EXPECT_EQ(palette.Entries(), nullptr);
    EXPECT_EQ(palette.Count(), c.count);
    EXPECT_EQ(palette.Entry(1), nullptr);
    EXPECT_EQ(palette.Entry(2), nullptr);
    auto copy = palette.Clone();
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->Entries(), nullptr);
  }
}
