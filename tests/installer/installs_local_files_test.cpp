// Reading an old uninstall manifest back.
#include "installs_local_files.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <fstream>
#include <optional>
#include <random>
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
    host_ =
        testenv::sandbox_dir("local-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
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
  Write(lines({"  ~<file=\"before.txt\">", "~\\APPLICATION@Uninstall\\", "", "  ~<ext=\".jpg\">",
               manifest_item_line("file", "Images\\water3_2.jpg"), manifest_item_line("path", "C:\\k\\a \"b\"\\"),
               manifest_item_line("link", "C:\\p\\K.lnk"), manifest_item_line("group", "C:\\p\\"),
               manifest_reg_line("SOFTWARE\\A", true), manifest_reg_line("SOFTWARE\\B", false),
               "  ~<reg=\"SOFTWARE\\C\";hk=local>", "", "  ~<DesktopIcon=no>", "  ~<OnlyCurrent=yes>",
               "  ~<Application=\"C:\\k\\a.exe\">", "~\\\\", "  ~<file=\"after.txt\">"}));
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
  EXPECT_FALSE(local_files_load(nullptr, win_));
}

// A section with anything the writer does not make is a damaged manifest:
// false, and neither the list nor gDesktopIcon changes.
TEST_F(LocalFiles, DamagedSectionsAnswerFalse) {
  const std::string head = "~\\application@uninstall\\\r\n\r\n";
  const std::string good = "  ~<file=\"a.txt\">\r\n  ~<DesktopIcon=no>\r\n";
  const struct {
    const char* what;
    std::string text;
  } cases[] = {
      {"no closing", head + good},
      {"cut inside a tag", head + good + "  ~<file=\"b"},
      {"unknown key", head + good + "  ~<fime=\"b.txt\">\r\n~\\\\\r\n"},
      {"two keys", head + "  ~<file=\"a\";path=\"b\">\r\n~\\\\\r\n"},
      {"reg without hive", head + "  ~<reg=\"SOFTWARE\\A\">\r\n~\\\\\r\n"},
      {"reg with another hive", head + "  ~<reg=\"SOFTWARE\\A\";hk=LOCAM>\r\n~\\\\\r\n"},
      {"bare value", head + "  ~<file=a.txt>\r\n~\\\\\r\n"},
      {"empty value", head + "  ~<file=\"\">\r\n~\\\\\r\n"},
      {"not UTF-8", head + "  ~<file=\"caf\xE9.txt\">\r\n~\\\\\r\n"},
      {"control character", head + "  ~<file=\"a\x01.txt\">\r\n~\\\\\r\n"},
      {"option not yes or no", head + "  ~<DesktopIcon=yef>\r\n~\\\\\r\n"},
      {"text between tags", head + good + "  stray\r\n~\\\\\r\n"},
      {"lone line feed", head + "  ~<file=\"a.txt\">\n~\\\\\r\n"},
      {"another closing", head + good + "~\\other@x\\\r\n"},
  };
  for (const auto& c : cases) {
    gDesktopIcon = true;
    Write(c.text);
    EXPECT_FALSE(Load()) << c.what;
    EXPECT_TRUE(gDesktopIcon) << c.what;
    cLocalFiles list;
    ASSERT_NE(list.Add(cnLocalFile, "kept", false), nullptr);
    EXPECT_FALSE(local_files_parse(&list, c.text.data(), int64_t(c.text.size()))) << c.what;
    EXPECT_EQ(list.Count(), 1u) << c.what;
  }
  // The same section, closed, loads.
  Write(head + good + "~\\\\\r\n");
  EXPECT_EQ(Load(), (std::vector<Item>{{1, "a.txt", false}}));
  EXPECT_FALSE(gDesktopIcon);
}

// The check line after the closing: a matching one loads, a mismatched one
// is a damaged manifest, and a text without one (or with one that is itself
// damaged, so that it is no check line any more) is read as it stands.
TEST_F(LocalFiles, CheckLineAfterTheClosing) {
  const std::string text = "~\\application@uninstall\\\r\n  ~<file=\"a.txt\">\r\n~\\\\\r\n";
  const std::string check = manifest_check_line(text);
  ASSERT_EQ(check.size(), 19u);
  std::string other = check;
  other[10] = other[10] == '0' ? '1' : '0';
  std::string changed = text;
  changed[6] = 'X';
  std::string lower = check;
  for (char& c : lower) c = char(std::tolower(static_cast<unsigned char>(c)));
  const struct {
    const char* what;
    std::string text;
    int32_t check;
  } cases[] = {
      {"none", text, 0},
      {"matching", text + check + "\r\n", 1},
      {"matching, no line end", text + check, 1},
      {"another value", text + other + "\r\n", -1},
      {"a changed byte before it", changed + check + "\r\n", -1},
      {"lower-case digits", text + lower + "\r\n", 0},
      {"not at a line start", text.substr(0, text.size() - 2) + check + "\r\n", 0},
      {"cut inside", text + check.substr(0, 15), 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(manifest_check(c.text), c.check) << c.what;
    if (c.check == 0) continue;
    Write(c.text);
    if (c.check > 0) {
      EXPECT_EQ(Load(), (std::vector<Item>{{1, "a.txt", false}})) << c.what;
    } else {
      EXPECT_FALSE(Load()) << c.what;
    }
  }
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
  // An item added after a lookup is found by the next one.
  rLocalFile* d = list.Add(4, "Images\\water3_2.jpg", false);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(list.Find(4, "images\\water3_2.jpg"), nullptr);  // not active yet
  d->active = true;
  EXPECT_EQ(list.Find(4, "images\\water3_2.jpg"), d);
}

}  // namespace

namespace {

// An installation of many files writes a long manifest: its own engine must
// read it back, or every later update and the uninstall would fail. The
// parser's default memory budget is made for texts of unknown origin.
TEST(LocalFilesLarge, AManifestOfManyFilesLoads) {
  constexpr int kFiles = 300000;
  std::string text = std::string(cnManifestHeader) + "\r\n\r\n";
  for (int i = 0; i < kFiles; ++i)
    text += manifest_item_line("file", "Data\\set" + std::to_string(i / 1000) + "\\item" + std::to_string(i) + ".dat") +
            "\r\n";
  text += manifest_item_line("file", "uninstall.config") + "\r\n\r\n" + std::string(cnManifestClosing) + "\r\n";
  cLocalFiles list;
  ASSERT_TRUE(local_files_parse(&list, text.data(), int64_t(text.size())));
  EXPECT_EQ(list.Count(), uint32_t(kFiles + 1));
}

}  // namespace

namespace {

// A manifest of 2,000,000 short lines (30 MB): read in a child whose heap
// may not pass 400 MiB (the text, the list of its items, and one line at a
// time besides). Not under the sanitizers, whose own memory counts too.
TEST(LocalFilesLarge, ShortLinesAreReadWithinAMemoryBound) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer's shadow memory counts against the limit";
#endif
  constexpr int kLines = 2000000;
  std::string text = std::string(cnManifestHeader) + "\r\n";
  text.reserve(size_t(kLines) * 15 + 64);
  for (int i = 0; i < kLines; ++i) text += "  ~<ext=\"" + std::string(1, char('a' + i % 26)) + "\">\r\n";
  text += std::string(cnManifestClosing) + "\r\n";
  const pid_t pid = fork();
  if (pid == 0) {
    const rlimit r{rlim_t(400) << 20, rlim_t(400) << 20};
    setrlimit(RLIMIT_DATA, &r);
    cLocalFiles list;
    const bool read = local_files_parse(&list, text.data(), int64_t(text.size()));
    _exit(read && list.Count() == uint32_t(kLines) ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

// A manifest over the cap is refused before it is read, and says why.
TEST_F(LocalFiles, AManifestOverTheCapIsRefused) {
  Write(lines({"~\\application@uninstall\\", "  ~<file=\"a.txt\">", "~\\\\"}));
  std::filesystem::resize_file(host_ + "/uninstall.config", cnManifestMaxBytes + 1);
  cLocalFiles list;
  std::string why;
  EXPECT_FALSE(local_files_load(&list, win_, &why));
  EXPECT_EQ(why, "uninstall.config is larger than 64 MiB");
  const std::string big(size_t(cnManifestMaxBytes) + 1, ' ');
  EXPECT_FALSE(local_files_parse(&list, big.data(), int64_t(big.size())));
  EXPECT_EQ(list.Count(), 0u);
}

// The fast reading of the writer's forms agrees with the parser's on every
// line, over lines made of the writer's forms with random values and random
// damage (quotes, "~", blanks, control and non-UTF-8 bytes, cut ends).
TEST(LocalFilesLines, FastFormsReadAsTheParserReadsThem) {
  const std::vector<std::string> keys = {"ext",         "file",        "path",        "link", "group", "Application",
                                         "DesktopIcon", "OnlyCurrent", "IsPowerUser", "FILE", "reg",   "fime"};
  const std::string alphabet = std::string("abcXYZ019 .\\:;=<>\"~\t\x7F") + "\xC3\xA9" + "\xE9";
  std::mt19937 random(20261211);
  int fast_read = 0;
  for (int round = 0; round < 20000; ++round) {
    const std::string& key = keys[random() % keys.size()];
    std::string value;
    const int n = int(random() % 8);
    for (int i = 0; i < n; ++i) value += alphabet[random() % alphabet.size()];
    std::string line;
    switch (random() % 4) {
      case 0: line = manifest_item_line(key, value); break;
      case 1: line = manifest_reg_line(value, random() % 2 == 0); break;
      case 2: line = "  ~<" + key + "=" + (random() % 2 ? "yes" : "no") + ">"; break;
      default: line = "  ~<" + key + "=\"" + value + "\">"; break;
    }
    if (random() % 8 == 0 && !line.empty()) line[random() % line.size()] = alphabet[random() % alphabet.size()];
    if (random() % 16 == 0) line.resize(random() % (line.size() + 1));
    SCOPED_TRACE(line);
    cLocalFiles fast, parsed;
    int32_t fast_icon = -1, parsed_icon = -1;
    const int32_t a = local_files_read_line(line, &fast, fast_icon, false);
    const int32_t b = local_files_read_line(line, &parsed, parsed_icon, true);
    ASSERT_EQ(a, b);
    ASSERT_EQ(fast_icon, parsed_icon);
    ASSERT_EQ(fast.Count(), parsed.Count());
    for (const rLocalFile *x = fast.First(), *y = parsed.First(); x != nullptr; x = x->next, y = y->next) {
      ASSERT_EQ(x->kind, y->kind);
      ASSERT_EQ(x->value, y->value);
      ASSERT_EQ(x->current, y->current);
    }
    fast_read += a == 0 && fast.Count() > 0;
  }
  EXPECT_GT(fast_read, 2000);
}

}  // namespace
