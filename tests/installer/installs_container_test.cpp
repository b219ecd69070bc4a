#include <gtest/gtest.h>
#include <sys/wait.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "installs_container.h"
#include "qlm_base_lists.h"
#include "qlm_base_util.h"
#include "qlm_zlib.h"
#include "sandbox.h"
#include "test_files.h"

extern "C" const uint8_t qlm_test_container[];
extern "C" const uint64_t qlm_test_container_size;

namespace {

using testenv::from_hex;

using Bytes = std::vector<uint8_t>;

// Hand-checked: ext ".txt"; file "a.txt" = "hello" (main); folder "Sub\"; end.
const Bytes kFixture = from_hex(
    "49444631303069656e7472790304002e7478740000000000000000000000000000000000002a0000000069656e747279010500612e74"
    "78740000050000007959efc90d000000bb017a555c00000001789ccb48cdc9c90700062c021569656e74727902000004005375625c"
    "00000000000000000000000000000000800000000069656e747279040000000000000000000000000000000000000000ffffffff0"
    "0");

// Header starts in kFixture.
const int64_t kFixtureHeaders[] = {6, 42, 92, 128, 160};

uint32_t std_crc(const void* p, size_t n) { return uint32_t(crc32(0, static_cast<const Bytef*>(p), uInt(n))); }

void put_u16(Bytes& b, size_t at, uint16_t v) {
  b[at] = uint8_t(v);
  b[at + 1] = uint8_t(v >> 8);
}
void put_u32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + size_t(i)] = uint8_t(v >> (8 * i));
}

// One entry for `assemble`: the next-entry offset is chained unless given.
struct Spec {
  uint8_t kind = 1;
  std::string name;
  std::string path;
  std::string plain;  // kind 1: deflated into the payload
  uint8_t main = 0;
  int64_t next = -1;
};

// A container written the way the builder writes one, for cases the builder
// refuses to make.
Bytes assemble(const std::vector<Spec>& specs) {
  Bytes out = {'I', 'D', 'F', '1', '0', '0'};
  for (const Spec& s : specs) {
    Bytes payload;
    if (s.kind == 1) {
      uLongf n = compressBound(uLong(s.plain.size()));
      payload.resize(n);
      EXPECT_EQ(compress2(payload.data(), &n, reinterpret_cast<const Bytef*>(s.plain.data()), uLong(s.plain.size()), 6),
                Z_OK);
      payload.resize(n);
    }
    const size_t at = out.size();
    out.resize(at + 32 + s.name.size() + s.path.size());
    std::memcpy(&out[at], "ientry", 6);
    out[at + 6] = s.kind;
    put_u16(out, at + 7, uint16_t(s.name.size()));
    std::memcpy(&out[at + 9], s.name.data(), s.name.size());
    const size_t p = at + 9 + s.name.size();
    put_u16(out, p, uint16_t(s.path.size()));
    std::memcpy(&out[p + 2], s.path.data(), s.path.size());
    const size_t f = p + 2 + s.path.size();
    if (s.kind == 1) {
      put_u32(out, f, uint32_t(s.plain.size()));
      put_u32(out, f + 4, ~std_crc(s.plain.data(), s.plain.size()));
      put_u32(out, f + 8, uint32_t(payload.size()));
      put_u32(out, f + 12, ~std_crc(payload.data(), payload.size()));
    }
    const uint32_t next = s.kind == 4 ? 0xFFFFFFFFu : uint32_t(out.size() + payload.size());
    put_u32(out, f + 16, s.next >= 0 ? uint32_t(s.next) : next);
    out[f + 20] = s.main;
    out.insert(out.end(), payload.begin(), payload.end());
  }
  return out;
}

std::unique_ptr<cMemoryFlow> open_flow(const Bytes& b, size_t size) {
  auto flow = cMemoryFlow::ConstructReadOnly(true, b.data(), int64_t(size));
  EXPECT_TRUE(flow->Open());
  return flow;
}

// Walks the container as the installation's check pass does; answers where
// and how it stopped: "end", "signature", "<index>:<step>" or "<index>:check".
std::string walk(const Bytes& b) {
  cInstWalker w;
  if (!w.Open(b.data(), int64_t(b.size()))) return "open";
  if (!w.ReadSignature()) return "signature";
  rInstEntry e;
  // Headers are at least 32 bytes apart, so a sound walk takes fewer steps
  // than this; more means it went round in a loop.
  for (int i = 1; i <= int(b.size() / 32) + 1; ++i) {
    const eInstStep step = w.Next(e);
    if (step != eInstStep::Entry) return std::to_string(i) + ":" + std::to_string(int(step));
    if (e.kind == cnInstKindEnd) return w.MainSeen() ? "end" : "end without main";
    if (e.kind == cnInstKindFile && !w.PayloadMatches()) return std::to_string(i) + ":check";
    if (!w.SeekNext()) return std::to_string(i) + ":seek";
  }
  return "loop";
}

const std::vector<Spec> kGood = {
    {3, ".txt", "", "", 0, -1}, {1, "a.txt", "", "hello", 1, -1}, {2, "", "Sub\\", "", 0, -1}, {4, "", "", "", 0, -1}};

Bytes file_bytes(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace

TEST(InstEntryRead, HandCheckedFixture) {
  ASSERT_EQ(kFixture.size(), 160u);
  EXPECT_EQ(assemble(kGood), kFixture);  // the test's own writer agrees with the hand-checked bytes
  struct Want {
    uint8_t kind;
    const char* name;
    const char* path;
    uint32_t usize, ucheck, ssize, scheck, next;
    uint8_t main;
  } const want[] = {
      {3, ".txt", "", 0, 0, 0, 0, 42, 0},
      {1, "a.txt", "", 5, 0xC9EF5979u, 13, 0x557A01BBu, 92, 1},
      {2, "", "Sub\\", 0, 0, 0, 0, 128, 0},
      {4, "", "", 0, 0, 0, 0, 0xFFFFFFFFu, 0},
  };
  auto flow = open_flow(kFixture, kFixture.size());
  for (size_t i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    ASSERT_TRUE(flow->Seek(kFixtureHeaders[i]));
    rInstEntry e;
    e.name = "stale";
    ASSERT_TRUE(inst_entry_read(flow.get(), &e));
    EXPECT_EQ(std::string(e.tag, 6), "ientry");
    EXPECT_EQ(e.kind, want[i].kind);
    EXPECT_EQ(e.name, want[i].name);
    EXPECT_EQ(e.path, want[i].path);
    EXPECT_EQ(e.unpacked_size, want[i].usize);
    EXPECT_EQ(e.unpacked_check, want[i].ucheck);
    EXPECT_EQ(e.stored_size, want[i].ssize);
    EXPECT_EQ(e.stored_check, want[i].scheck);
    EXPECT_EQ(e.next_offset, want[i].next);
    EXPECT_EQ(e.main_program, want[i].main);
    // The flow stands at the payload: header end = start + 32 + N + P.
    EXPECT_EQ(flow->Curr(), kFixtureHeaders[i] + 32 + int64_t(e.name.size() + e.path.size()));
  }
  EXPECT_EQ(walk(kFixture), "end");
}

TEST(InstEntryRead, EveryTruncationFails) {
  for (size_t h = 0; h < 4; ++h) {
    for (int64_t cut = kFixtureHeaders[h]; cut <= kFixtureHeaders[h + 1]; ++cut) {
      SCOPED_TRACE(testing::Message() << "header " << h << " cut at " << cut);
      auto flow = open_flow(kFixture, size_t(cut));
      ASSERT_TRUE(flow->Seek(kFixtureHeaders[h]));
      rInstEntry e;
      // Only a header that ends inside the bytes reads; the payload is not read.
      const int64_t header_end = kFixtureHeaders[h + 1] - (h == 1 ? 13 : 0);
      EXPECT_EQ(inst_entry_read(flow.get(), &e), cut >= header_end);
    }
  }
  for (size_t cut = 0; cut < kFixture.size(); ++cut) {
    Bytes part(kFixture.begin(), kFixture.begin() + std::ptrdiff_t(cut));
    EXPECT_NE(walk(part), "end") << cut;
  }
}

TEST(InstEntryRead, MalformedHeaders) {
  rInstEntry e;
  auto flow = open_flow(kFixture, kFixture.size());
  EXPECT_FALSE(inst_entry_read(nullptr, &e));
  EXPECT_FALSE(inst_entry_read(flow.get(), nullptr));
  auto closed = cMemoryFlow::ConstructReadOnly(true, kFixture.data(), int64_t(kFixture.size()));
  EXPECT_FALSE(inst_entry_read(closed.get(), &e));

  struct Case {
    const char* what;
    size_t at;
    Bytes patch;
    bool reads;
  } const cases[] = {
      {"tag in other case", 42, {'I', 'E', 'N', 'T', 'R', 'Y'}, false},
      {"name length past the end", 49, {0xFF, 0xFF}, false},
      {"path length past the end", 56, {0x00, 0x10}, false},
      {"unknown kind", 48, {7}, true},
      {"main flag 2", 78, {2}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes b = kFixture;
    std::copy(c.patch.begin(), c.patch.end(), b.begin() + std::ptrdiff_t(c.at));
    auto f = open_flow(b, b.size());
    ASSERT_TRUE(f->Seek(42));
    EXPECT_EQ(inst_entry_read(f.get(), &e), c.reads);
  }
}

// Whatever a container holds, the walk ends with a clear answer, and every
// step past a header lies inside the bytes.
TEST(InstWalker, HostileContainers) {
  const auto with = [](size_t at, Bytes patch) {
    Bytes b = kFixture;
    std::copy(patch.begin(), patch.end(), b.begin() + std::ptrdiff_t(at));
    return b;
  };
  const auto u32 = [](uint32_t v) { return Bytes{uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; };
  const std::string header = std::to_string(int(eInstStep::BadHeader));
  const std::string payload = std::to_string(int(eInstStep::BadPayload));
  const std::string next = std::to_string(int(eInstStep::BadNext));
  struct Case {
    const char* what;
    Bytes bytes;
    std::string want;
  } const cases[] = {
      {"signature IDF10X", with(5, {'X'}), "signature"},
      {"changed payload byte", with(90, {0x00}), "2:check"},
      {"stored size past the end", with(66, u32(1000)), "2:" + payload},
      {"stored size 0xFFFFFFFF", with(66, u32(0xFFFFFFFFu)), "2:" + payload},
      {"ext with a payload past the end", with(29, u32(200)), "1:" + payload},
      {"next at its own header", with(74, u32(42)), "2:" + next},
      {"next back to the first", with(92 + 31, u32(6)), "3:" + next},
      {"next inside the payload", with(74, u32(91)), "2:" + next},
      {"next past the end", with(92 + 31, u32(161)), "3:" + next},
      {"next 0xFFFFFFFF before the end", with(37, u32(0xFFFFFFFFu)), "1:" + next},
      {"next at the end of the bytes", with(92 + 31, u32(160)), "4:" + header},
      {"no end entry", Bytes(kFixture.begin(), kFixture.begin() + 128), "4:" + header},
      {"no main program", with(78, {0}), "end without main"},
      {"unknown kind passed over", with(92 + 6, {7}), "end"},
      {"empty", {}, "open"},
      {"signature only", Bytes(kFixture.begin(), kFixture.begin() + 6), "1:" + header},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(walk(c.bytes), c.want);
  }
  cInstWalker w;
  EXPECT_FALSE(w.Open(nullptr, 10));
  EXPECT_FALSE(w.Open(kFixture.data(), -1));
  EXPECT_FALSE(w.Open(kFixture.data(), int64_t(INT32_MAX) + 1));
  EXPECT_FALSE(w.ReadSignature());
}

TEST(InstWalker, NamesThatCouldLeaveTheDestination) {
  const std::string bad = "2:" + std::to_string(int(eInstStep::BadName));
  struct Case {
    uint8_t kind;
    std::string name;
    std::string path;
    bool ok;
  } const cases[] = {
      {1, "b.txt", "", true},
      {1, "b.txt", "Sub\\Deep\\", true},
      {1, "na\xC3\xAFve #1.txt", "", true},
      {1, "", "", false},
      {1, ".", "", false},
      {1, "..", "", false},
      {1, "a/b", "", false},
      {1, "a\\b", "", false},
      {1, "C:b", "", false},
      {1, "a\tb", "", false},
      {1, "a\x7F", "", false},
      {1, "b.txt", "..\\evil\\", false},
      {1, "b.txt", "Sub\\..\\..\\", false},
      {1, "b.txt", "\\abs\\", false},
      {1, "b.txt", "C:\\", false},
      {1, "b.txt", "Sub", false},
      {1, "b.txt", "a\\\\b\\", false},
      {1, "b.txt", ".\\", false},
      {1, "b.txt", "a/..\\", false},
      {1, "b.txt", "S\nb\\", false},
      // What the platform cannot create is refused like an escape.
      {1, "a<b", "", false},
      {1, "a>b", "", false},
      {1, "a\"b", "", false},
      {1, "a|b", "", false},
      {1, "a?b", "", false},
      {1, "a*b", "", false},
      {1, "caf\xE9.txt", "", false},  // not UTF-8: the manifest could not hold it
      {1, "b.txt", "caf\xE9\\", false},
      {1, std::string(255, 'n'), "", true},
      {1, std::string(256, 'n'), "", false},
      {1, "b.txt", "S|b\\", false},
      {1, "b.txt", std::string(256, 'd') + "\\", false},
      {3, ".a*", "", false},
      // No host takes a relative name of 4,096 bytes or more.
      // clang-format off
      {1, std::string(255, 'n'), [] { std::string p; for (int i = 0; i < 15; ++i) p += std::string(254, 'd') + "\\"; return p; }(), true},
      {1, std::string(255, 'n'), [] { std::string p; for (int i = 0; i < 16; ++i) p += std::string(254, 'd') + "\\"; return p; }(), false},
      {2, "", [] { std::string p; for (int i = 0; i < 17; ++i) p += std::string(254, 'd') + "\\"; return p; }(), false},
      // clang-format on
      {2, "", "Data\\", true},
      {2, "ignored/..", "Data\\", true},
      // The manifest's own place in the destination, as a file or a folder.
      {1, "uninstall.config", "", false},
      {1, "uninstall.journal", "", false},
      {2, "", "uninstall.journal\\", false},
      {1, "b.txt", "uninstall.config\\", false},
      {1, "b.txt", "uninstall.config\\Deep\\", false},
      {2, "", "uninstall.config\\", false},
      {2, "", "uninstall.config\\Deep\\", false},
      {2, "", "Sub\\uninstall.config\\", true},
      {2, "", "uninstall.configs\\", true},
      {2, "", "..\\", false},
      {2, "", "/tmp\\", false},
      {3, ".~", "", true},
      {3, "", "", false},
      {3, "../x", "", false},
      {7, "../x", "\\abs", true},  // not used by any pass
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << int(c.kind) << " '" << c.name << "' '" << c.path << "'");
    std::vector<Spec> specs = kGood;
    specs.insert(specs.begin() + 1, Spec{c.kind, c.name, c.path, "x", 0, -1});
    EXPECT_EQ(walk(assemble(specs)), c.ok ? "end" : bad);
  }
}

// The container the build makes from tests/fixtures/install_container.
TEST(InstContainerBuilder, OutputReadsBack) {
  const std::filesystem::path dir = QLM_TEST_CONTAINER_DIR;
  const Bytes b(qlm_test_container, qlm_test_container + qlm_test_container_size);
  struct Want {
    uint8_t kind;
    const char* name;
    const char* path;
    const char* source;
    uint8_t main;
  } const want[] = {
      // clang-format off
      {3, ".txt", "", nullptr, 0},         {3, ".~", "", nullptr, 0},
      {1, "readme.txt", "", "readme.txt", 0}, {1, "app.exe", "", "app.exe", 1},
      {2, "", "Data\\", nullptr, 0},       {1, "empty.dat", "Images\\Deep\\", "empty.dat", 0},
      {1, "logo.bin", "Images\\", "logo.bin", 0}, {4, "", "", nullptr, 0},
      // clang-format on
  };
  cInstWalker w;
  ASSERT_TRUE(w.Open(b.data(), int64_t(b.size())));
  ASSERT_TRUE(w.ReadSignature());
  int64_t start = 6;
  for (const Want& x : want) {
    SCOPED_TRACE(x.kind == 3 || x.kind == 1 ? x.name : x.path);
    rInstEntry e;
    ASSERT_EQ(w.Next(e), eInstStep::Entry);
    EXPECT_EQ(e.kind, x.kind);
    EXPECT_EQ(e.name, x.name);
    EXPECT_EQ(e.path, x.path);
    EXPECT_EQ(e.main_program, x.main);
    const int64_t header_end = start + 32 + int64_t(e.name.size() + e.path.size());
    EXPECT_EQ(w.Flow()->Curr(), header_end);
    if (x.kind == 4) {
      EXPECT_EQ(e.next_offset, 0xFFFFFFFFu);
      EXPECT_EQ(e.unpacked_size | e.unpacked_check | e.stored_size | e.stored_check | e.main_program, 0u);
      EXPECT_EQ(header_end, int64_t(b.size()));
      break;
    }
    EXPECT_EQ(e.next_offset, uint64_t(header_end) + e.stored_size);
    if (x.kind == 1) {
      const Bytes plain = file_bytes(dir / x.source);
      ASSERT_GE(e.stored_size, 2u);
      EXPECT_EQ(w.Payload()[0], 0x78);
      EXPECT_EQ(w.Payload()[1], 0x9C);
      EXPECT_EQ(e.stored_check, ~std_crc(w.Payload(), e.stored_size));
      EXPECT_EQ(e.unpacked_check, ~std_crc(plain.data(), plain.size()));
      EXPECT_EQ(e.unpacked_size, plain.size());
      EXPECT_TRUE(w.PayloadMatches());
      void* out = nullptr;
      int32_t out_size = 0;
      ASSERT_TRUE(zlib_decompress(w.Payload(), w.PayloadSize(), out, out_size));
      EXPECT_EQ(Bytes(static_cast<uint8_t*>(out), static_cast<uint8_t*>(out) + out_size), plain);
      mem_free(out);
    } else {
      EXPECT_EQ(e.unpacked_size | e.unpacked_check | e.stored_size | e.stored_check, 0u);
    }
    start = e.next_offset;
    ASSERT_TRUE(w.SeekNext());
  }
  EXPECT_TRUE(w.MainSeen());
  // A second pass starts again after the signature.
  ASSERT_TRUE(w.Rewind());
  rInstEntry e;
  ASSERT_EQ(w.Next(e), eInstStep::Entry);
  EXPECT_EQ(e.name, ".txt");
}

TEST(InstWalker, FindsTheRegisteredContainer) {
  cInstWalker w;
  EXPECT_EQ(w.OpenInstallData(), cInstWalker::eOpen::NotRegistered);
  ASSERT_NE(resource_register("..\\install_data.idf", kFixture.data(), -1), nullptr);
  EXPECT_EQ(w.OpenInstallData(), cInstWalker::eOpen::Unreadable);
  resource_stop();
  resource_start();
  ASSERT_NE(resource_register("..\\install_data.idf", qlm_test_container, int32_t(qlm_test_container_size)), nullptr);
  ASSERT_EQ(w.OpenInstallData(), cInstWalker::eOpen::Opened);
  EXPECT_TRUE(w.ReadSignature());
  rInstEntry e;
  ASSERT_EQ(w.Next(e), eInstStep::Entry);
  EXPECT_EQ(e.name, ".txt");
  resource_stop();
  resource_start();
}

// The builder's whole output, byte for byte, against the test's writer
// (which reproduces the hand-checked container with this zlib).
TEST(InstContainerBuilder, WritesTheHandCheckedLayout) {
  const std::string dir = testenv::sandbox_dir("idf_build_ok");
  std::filesystem::create_directory(dir + "/src");
  { std::ofstream(dir + "/src/hello") << "hello"; }
  {
    std::ofstream(dir + "/listing.txt") << "# comment\n\n"
                                        << "ext | .txt | | | \n"
                                        << "  file\t|a.txt|  | src/hello | 1\r\n"
                                        << "folder | | Sub\\ | | 0\n";
  }
  const std::string command = std::string("'") + QLM_IDF_BUILD + "' '" + dir + "/listing.txt' '" + dir + "/out.idf'";
  ASSERT_EQ(std::system(command.c_str()), 0);
  EXPECT_EQ(file_bytes(dir + "/out.idf"), assemble(kGood));
  EXPECT_EQ(walk(file_bytes(dir + "/out.idf")), "end");
}

// Listings the builder refuses: a message naming the line, exit code 1, and
// any container already at the output left as it was.
TEST(InstContainerBuilder, RefusesBadListings) {
  const std::string dir = testenv::sandbox_dir("idf_build");
  { std::ofstream(dir + "/a.txt") << "hello"; }
  struct Case {
    const char* listing;
    const char* message;
  } const cases[] = {
      {"file | a.txt | | a.txt | 1\nfolder | | Sub\\\nfile", "listing.txt:2: expected 5 fields"},
      {"blob | a.txt | | a.txt | 1", "listing.txt:1: unknown kind 'blob'"},
      {"file | a.txt | ..\\evil\\ | a.txt | 1", "listing.txt:1: a file needs a plain name"},
      {"file | a/b | | a.txt | 1", "listing.txt:1: a file needs a plain name"},
      {"file | a?.txt | | a.txt | 1", "listing.txt:1: a file needs a plain name"},
      {"file | a.txt | S<b\\ | a.txt | 1", "listing.txt:1: a file needs a plain name"},
      {"file | a.txt | | | 1", "listing.txt:1: a file needs a source file"},
      {"file | a.txt | | missing.txt | 1", "missing.txt: cannot open"},
      {"file | a.txt | | a.txt | 1\nfolder | | Sub\\ | | 1", "listing.txt:2: only a file has"},
      {"file | a.txt | | a.txt | 1\nfolder | | uninstall.config\\ | | 0", "listing.txt:2: a folder has"},
      {"file | a.txt | | a.txt | 1\next | .x | Sub\\ | | 0", "listing.txt:2: an extension has"},
      {"file | a.txt | | a.txt | yes", "listing.txt:1: the main flag is 0 or 1"},
      {"# only a comment\nfile | a.txt | | a.txt | 0", "no file carries the main flag"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.listing);
    { std::ofstream(dir + "/listing.txt") << c.listing << "\n"; }
    { std::ofstream(dir + "/out.idf") << "old"; }
    const std::string command =
        std::string("'") + QLM_IDF_BUILD + "' '" + dir + "/listing.txt' '" + dir + "/out.idf' 2>&1";
    FILE* p = popen(command.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string output;
    char buf[256];
    while (size_t n = fread(buf, 1, sizeof buf, p)) output.append(buf, n);
    const int status = pclose(p);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
    EXPECT_NE(output.find(c.message), std::string::npos) << output;
    EXPECT_EQ(file_bytes(dir + "/out.idf"), (Bytes{'o', 'l', 'd'}));
    EXPECT_FALSE(std::filesystem::exists(dir + "/out.idf.tmp"));
  }
}
