// Reading an old uninstall manifest back.
#include "installs_local_files.h"

#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "installs_manifest.h"
#include "installs_settings.h"
#include "kvn_crypt.h"
#include "plat_path_map.h"
#include "sandbox.h"

namespace {

struct Item {
  int kind;
  std::string value;
  bool current;
  bool operator==(const Item&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Item& i) {
  return os << "{" << i.kind << ", " << i.value << ", " << i.current << "}";
}

class LocalFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    host_ = testenv::sandbox_dir("local-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    ASSERT_TRUE(plat::from_posix(host_, win_));
    install_settings_reset();
  }
  void TearDown() override { install_settings_reset(); }

  void WriteRaw(const std::string& bytes) { std::ofstream(host_ + "/uninstall.config", std::ios::binary) << bytes; }
  void Write(std::string text, std::string_view passphrase = manifest_passphrase()) {
    if (!text.empty()) {
      ASSERT_TRUE(crypt_encrypt_buffer(text.data(), int64_t(text.size()), passphrase));
    }
    WriteRaw(text);
  }
  // Loads; "false" or the items.
  std::optional<std::vector<Item>> Load() {
    cLocalFiles list;
    if (!local_files_load(&list, win_)) return std::nullopt;
    std::vector<Item> items;
    for (const rLocalFile* e = list.First(); e != nullptr; e = e->next) {
      EXPECT_FALSE(e->active || e->excluded || e->covered);
      items.push_back({e->kind, e->value, e->current});
    }
    return items;
  }

  std::string host_, win_;
};

std::string lines(const std::vector<std::string>& ls) {
  std::string t;
  for (const auto& l : ls) t += l + "\r\n";
  return t;
}

TEST_F(LocalFiles, ReadsTheItemsOfTheSectionOnly) {
  gDesktopIcon = true;
  Write(lines({"  ~<file=\"before.txt\">",
               "~\\APPLICATION@Uninstall\\", "",
               "  ~<ext=\".jpg\">",
               manifest_item_line("file", "Images\\water3_2.jpg"),
               manifest_item_line("path", "C:\\k\\a \"b\"\\"),
               manifest_item_line("link", "C:\\p\\K.lnk"),
               manifest_item_line("group", "C:\\p\\"),
               manifest_reg_line("SOFTWARE\\A", true),
               manifest_reg_line("SOFTWARE\\B", false),
               "  ~<reg=\"SOFTWARE\\C\";hk=local>",
               "  ~<reg=\"SOFTWARE\\NoHive\">",
               "  ~<unknown=\"x\">", "",
               "  ~<DesktopIcon=no>", "  ~<OnlyCurrent=yes>", "  ~<Application=\"C:\\k\\a.exe\">",
               "~\\\\",
               "  ~<file=\"after.txt\">"}));
  const auto items = Load();
  ASSERT_TRUE(items);
  EXPECT_EQ(*items, (std::vector<Item>{{3, ".jpg", false},
                                       {1, "Images\\water3_2.jpg", false},
                                       {2, "C:\\k\\a \"b\"\\", false},
                                       {4, "C:\\p\\K.lnk", false},
                                       {5, "C:\\p\\", false},
                                       {6, "SOFTWARE\\A", true},
                                       {6, "SOFTWARE\\B", false},
                                       {6, "SOFTWARE\\C", true}}));
  EXPECT_FALSE(gDesktopIcon);
}

TEST_F(LocalFiles, FailuresAnswerFalse) {
  EXPECT_FALSE(Load()) << "missing";
  Write("");
  EXPECT_FALSE(Load()) << "empty";
  Write(lines({"  ~<file=\"a.txt\">"}));
  EXPECT_FALSE(Load()) << "no header";
  Write(lines({"~\\application@other\\", "  ~<file=\"a.txt\">", "~\\\\"}));
  EXPECT_FALSE(Load()) << "another section";
  const char kOther[7] = {'a', 'b', 'c', 1, 2, 3, 4};
  Write(lines({"~\\application@uninstall\\", "  ~<file=\"a.txt\">", "~\\\\"}), std::string_view(kOther, 7));
  EXPECT_FALSE(Load()) << "another passphrase";
  Write(lines({"~\\application@uninstall\\", "  ~<file=\"a.txt>", "~\\\\"}));
  EXPECT_FALSE(Load()) << "does not parse";
  // A section that is never closed reads to the end of the text.
  Write(lines({"~\\application@uninstall\\", "  ~<file=\"a.txt\">"}));
  EXPECT_EQ(Load(), (std::vector<Item>{{1, "a.txt", false}}));
  EXPECT_FALSE(local_files_load(nullptr, win_));
}

TEST(LocalFilesFind, IgnoresCaseAndTheCoveredFlag) {
  cLocalFiles list;
  rLocalFile* a = list.Add(1, "Images\\water3_2.jpg", false);
  rLocalFile* b = list.Add(1, "Images\\Water3_2.JPG", false);
  rLocalFile* c = list.Add(3, "images\\water3_2.jpg", false);
  ASSERT_TRUE(a && b && c);
  EXPECT_EQ(list.Find(1, "images\\water3_2.jpg"), nullptr);  // nothing active yet
  for (rLocalFile* e = list.First(); e != nullptr; e = e->next) e->active = true;
  EXPECT_EQ(list.Find(1, "images\\water3_2.jpg  "), a);
  a->covered = true;
  EXPECT_EQ(list.Find(1, "IMAGES\\WATER3_2.JPG"), a);  // covered items are found
  a->excluded = true;
  EXPECT_EQ(list.Find(1, "images\\water3_2.jpg"), b);
  EXPECT_EQ(list.Find(3, "IMAGES\\water3_2.jpg"), c);
  EXPECT_EQ(list.Find(4, "images\\water3_2.jpg"), nullptr);
}

}  // namespace
