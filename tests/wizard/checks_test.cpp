#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "form_install_checks.h"
#include "installs_container.h"
#include "qlm_base_lists.h"
#include "qlm_platform_file_io.h"

extern "C" const uint8_t qlm_wizard_install_data[];
extern "C" const uint64_t qlm_wizard_install_data_size;

namespace {

TEST(FormatByteSize, DecimalUnitsRoundedHalfToEven) {
  const struct {
    int64_t size;
    const char* text;
  } cases[] = {
      {0, "0 bytes"},
      {999, "999 bytes"},
      {-1, "-1 bytes"},
      {INT64_MIN, "-9,223,372,036,854,775,808 bytes"},
      {1000, "1 KB"},
      {1500, "2 KB"},
      {2500, "2 KB"},
      {3500, "4 KB"},
      {999499, "999 KB"},
      {999999, "1,000 KB"},
      {1000000, "1 MB"},
      {2500000, "2 MB"},
      {2500001, "3 MB"},
      {1250000000, "1,250 MB"},
      {int64_t(1) << 40, "1,099,512 MB"},
      {INT64_MAX, "9,223,372,036,855 MB"},
  };
  for (const auto& c : cases) EXPECT_EQ(format_byte_size(c.size), c.text) << c.size;
}

// The space message: the sizes when the free space was read, and no
// negative size for a drive that cannot be read (another drive than C:).
TEST(SpaceMessage, SaysWhyTheDestinationCannotTakeTheInstallation) {
  EXPECT_EQ(space_message("C:", 1500000, 999),
            "Selected destination drive ~<ct=dodgerblue;b>\"C:\"~> has not enough free disk space.~(p) "
            "This installation requires at least ~<ct=dodgerblue;b>2 MB~> of free disk space, while the destination "
            "drive has only ~<ct=red;b>999 bytes~> of free disk space.~(p) ~<ct=Green>Please select drive with "
            "enough free disk space to continue with installation.~> ");
  const int64_t free = disk_free_space("D:\\Korvane-Snaprill");
  EXPECT_LT(free, 0);
  const std::string missing = space_message("D:", 1500000, free);
  EXPECT_NE(missing.find("\"D:\"~> does not exist"), std::string::npos) << missing;
  EXPECT_EQ(missing.find("-1"), std::string::npos) << missing;
}

TEST(IsRootPath, OnlyADriveFolderWithAName) {
  const struct {
    const char* path;
    bool refused;
  } cases[] = {
      // clang-format off
      {"C:\\", true},         {"C:\\   ", true},   {"C:\\ x", false},       {"c:\\x", false},
      {"C:\\Program", false}, {"", true},         {"\\\\server\\share", true}, {"C:", true},
      {"C:x", true},          {"1:\\x", true},    {"x", true},             {"\\x", true},
      {"C:/x", true},         {"C :\\x", true},   {"z:\\a\\", false},      {"C:\\\t", false},
      // clang-format on
  };
  for (const auto& c : cases) EXPECT_EQ(is_root_path(c.path), c.refused) << '"' << c.path << '"';
}

// ---- The container scan --------------------------------------------------------

using Bytes = std::vector<uint8_t>;

void le(Bytes& out, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

// One header with an empty payload and no name path. `next` < 0: the end of
// this header (the end entry: 0xFFFFFFFF).
struct Header {
  uint8_t kind;
  std::string name;
  uint32_t unpacked;
  uint8_t main = 0;
  int64_t next = -1;
};

Bytes container(const std::vector<Header>& headers, const char* signature = "IDF100") {
  Bytes out(signature, signature + 6);
  for (const Header& h : headers) {
    const size_t start = out.size();
    out.insert(out.end(), {'i', 'e', 'n', 't', 'r', 'y', h.kind});
    le(out, h.name.size(), 2);
    out.insert(out.end(), h.name.begin(), h.name.end());
    le(out, 0, 2);                 // path
    le(out, h.unpacked, 4);        // unpacked size
    out.insert(out.end(), 12, 0);  // unpacked check, stored size, stored check
    const uint64_t end = start + 32 + h.name.size();
    le(out, h.next >= 0 ? uint64_t(h.next) : h.kind == cnInstKindEnd ? 0xFFFFFFFFu : end, 4);
    out.push_back(h.main);
  }
  return out;
}

class ScanInstallDataTest : public ::testing::Test {
 protected:
  void SetUp() override { form_install_globals_reset(); }
  void TearDown() override {
    resource_stop();
    resource_start();
    form_install_globals_reset();
  }
  int64_t Scan(const void* data, int64_t size) {
    resource_stop();
    resource_start();
    EXPECT_NE(resource_register(cnInstallDataName, data, int32_t(size)), nullptr);
    return ScanInstallData();
  }
};

// The installer's own container: the total is the sum of the files the
// builder packed, read from its listing.
TEST_F(ScanInstallDataTest, TheRealContainerGivesTheBuildersSumAndItsMainProgram) {
  std::ifstream listing(QLM_INSTALL_DATA_LISTING);
  ASSERT_TRUE(listing.good());
  int64_t sum = 0;
  int files = 0;
  for (std::string line; std::getline(listing, line);) {
    if (line.rfind("file", 0) != 0) continue;
    std::vector<std::string> fields;
    std::stringstream in(line);
    for (std::string f; std::getline(in, f, '|');) {
      f.erase(0, f.find_first_not_of(' '));
      f.erase(f.find_last_not_of(' ') + 1);
      fields.push_back(f);
    }
    ASSERT_EQ(fields.size(), 5u) << line;
    sum += int64_t(std::filesystem::file_size(fields[3]));
    ++files;
  }
  ASSERT_GT(files, 1);
  EXPECT_EQ(ScanInstallData(), 0) << "nothing registered";
  EXPECT_EQ(gMainProgramName, "");
  EXPECT_EQ(Scan(qlm_wizard_install_data, int64_t(qlm_wizard_install_data_size)), sum);
  EXPECT_EQ(gMainProgramName, "Korvane-Snaprill.exe");
}

TEST_F(ScanInstallDataTest, BrokenContainersGiveThePartialTotalInBoundedTime) {
  const uint32_t big = 0xF0000000u;
  const Header ext{cnInstKindExt, ".txt", 0};
  const Header end{cnInstKindEnd, "", 0};
  Bytes truncated = container({{cnInstKindFile, "a", 10}, {cnInstKindFile, "b", 20}, end});
  truncated.resize(6 + 33 + 20);  // the second header cut short
  // The second file's header points back at the first.
  const Bytes backward = container({{cnInstKindFile, "a", 10}, {cnInstKindFile, "b", 20, 0, 6}, end});
  const struct {
    const char* what;
    Bytes bytes;
    int64_t total;
    const char* main;
  } cases[] = {
      {"a sound container",
       container({ext, {cnInstKindFile, "a", 10, 1}, {cnInstKindFolder, "", 99}, {cnInstKindFile, "b", 20, 1}, end}),
       30, "b"},
      {"a wrong signature", container({{cnInstKindFile, "a", 10}, end}, "IDF101"), 0, ""},
      {"too short for a signature", Bytes{'I', 'D', 'F'}, 0, ""},
      {"a truncated header", truncated, 10, ""},
      {"a backward offset", backward, 10, ""},
      {"an unknown kind ends the scan",
       container({{cnInstKindFile, "a", 10}, {5, "x", 7}, {cnInstKindFile, "b", 20}, end}), 10, ""},
      {"two files claiming 0xF0000000 bytes",
       container({{cnInstKindFile, "a", big, 1}, {cnInstKindFile, "b", big}, end}), 2 * int64_t(big), "a"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    form_install_globals_reset();
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(Scan(c.bytes.data(), int64_t(c.bytes.size())), c.total);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
    EXPECT_EQ(gMainProgramName, c.main);
  }
}

}  // namespace
