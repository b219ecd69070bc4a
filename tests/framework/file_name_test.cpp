#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>

#include "plat_path_map.h"
#include "qlm_platform.h"
#include "qlm_platform_file.h"
#include "sandbox.h"

namespace {

// The file part (name and extension) as the marks give it.
std::string file_part(const std::string& name) {
  rFileNameMarks m;
  int32_t levels = 0;
  cFileName::scan_name(name, m, levels);
  return m.fileStart == rFileNameMarks::npos ? std::string() : name.substr(m.fileStart);
}

// The code and text a parse of `name` raises; code 0 when it parses.
std::pair<int32_t, std::string> parse_failure(const std::string& name) {
  rFileNameMarks m;
  int32_t levels = 0;
  try {
    cFileName::scan_name(name, m, levels);
  } catch (const exError& e) {
    EXPECT_EQ(e.Function(), &qlm_platform_file_exception_string) << name;
    return {e.Code(), e.Message()};
  }
  return {0, ""};
}

std::string repeat(char c, size_t n) { return std::string(n, c); }

}  // namespace

TEST(FileNameGrammar, NamesSplitIntoParts) {
  struct {
    std::string name, drive, directory, path, file, extension;
    int32_t levels;
  } cases[] = {
      {"C:\\a\\b\\file.txt", "C:", "\\a\\b\\", "C:\\a\\b\\", "file.txt", ".txt", 3},
      {"C:", "C:", "", "C:", "", "", 0},
      {"C:f.txt", "C:", "", "C:", "f.txt", ".txt", 0},
      {"C:\\", "C:", "\\", "C:\\", "", "", 1},
      {"C", "", "", "", "C", "", 0},  // a single letter is a file name
      {"a:b", "a:", "", "a:", "b", "", 0},
      {"\\", "", "\\", "\\", "", "", 1},
      {"\\dir\\f", "", "\\dir\\", "\\dir\\", "f", "", 2},
      {"dir\\f", "", "dir\\", "dir\\", "f", "", 1},
      {"..\\x", "", "..\\", "..\\", "x", "", 1},
      {"a..\\x", "", "a..\\", "a..\\", "x", "", 1},
      {"a.b.\\x", "", "a.b.\\", "a.b.\\", "x", "", 1},
      {".local\\share\\", "", ".local\\share\\", ".local\\share\\", "", "", 2},
      {"\\\\host\\share", "\\\\host\\share", "", "\\\\host\\share", "", "", 0},
      {"\\\\host\\share\\", "\\\\host\\share", "\\", "\\\\host\\share\\", "", "", 1},
      {"\\\\host\\share\\dir\\f.x", "\\\\host\\share", "\\dir\\", "\\\\host\\share\\dir\\", "f.x", ".x", 2},
      {"\\\\?\\C:\\x\\y.z", "C:", "\\x\\", "C:\\x\\", "y.z", ".z", 2},
      {"\\\\?\\\\\\host\\share\\f", "\\\\host\\share", "\\", "\\\\host\\share\\", "f", "", 1},
      {"\\\\?\\UNC\\host\\f", "", "UNC\\host\\", "UNC\\host\\", "f", "", 2},  // a folder named UNC
      {"\\\\?\\\\x", "", "\\", "\\", "x", "", 1},
      {"\\\\?\\\\", "", "\\", "\\", "", "", 1},
      {"\\\\?\\a", "", "", "", "a", "", 0},
      {"abc.", "", "", "", "abc.", "", 0},  // trailing dots belong to the name
      {"abc..", "", "", "", "abc..", "", 0},
      {".abc", "", "", "", ".abc", ".abc", 0},  // all extension
      {".abc.txt", "", "", "", ".abc.txt", ".txt", 0},
      {"a.b.c", "", "", "", "a.b.c", ".c", 0},
      {"C:\\d\\*.*", "C:", "\\d\\", "C:\\d\\", "*.*", ".*", 2},
      {"caf\xc3\xa9\\\xc3\xa9t\xc3\xa9.txt", "", "caf\xc3\xa9\\", "caf\xc3\xa9\\", "\xc3\xa9t\xc3\xa9.txt", ".txt", 1},
      {"C:\\x. \\CON", "C:", "\\x. \\", "C:\\x. \\", "CON", "", 2},
  };
  for (const auto& c : cases) {
    cFileName f(c.name);
    EXPECT_EQ(f.Drive(), c.drive) << c.name;
    EXPECT_EQ(f.Directory(), c.directory) << c.name;
    EXPECT_EQ(f.Path(), c.path) << c.name;
    EXPECT_EQ(f.Extension(), c.extension) << c.name;
    EXPECT_EQ(f.PathLevels(), c.levels) << c.name;
    EXPECT_EQ(f.LastError(), 0) << c.name;
    EXPECT_EQ(file_part(c.name), c.file) << c.name;
  }
}

TEST(FileNameGrammar, RefusedNamesNameTheFaultAndItsOffset) {
  const std::string not_allowed = "{#0..#31,<>/:\"| at offs ";
  const std::string after_letter = "{#0..#31,<>/\"| at offs ";
  struct {
    std::string name;
    int32_t code;
    std::string text;
  } cases[] = {
      {"\\\\host", 302, "{\\\\UNC at offs 6}"},
      {"\\\\host\\", 302, "{\\\\UNC at offs 7}"},
      {"\\\\host\\\\", 301, "{\\\\ at offs 7}"},
      {"\\\\", 302, "{\\\\ at offs 2}"},
      {"\\\\\\x", 301, "{\\\\\\ at offs 2}"},
      {"\\\\?", 302, "{\\\\? at offs 3}"},
      {"\\\\?x", 301, "{\\\\?x at offs 3}"},
      {"\\\\?\\\\\\", 302, "{\\\\ at offs 6}"},
      {"\\\\?\\\\\\?", 301, "{\\\\? at offs 6}"},
      {"\\\\?\\\\\\\\", 301, "{\\\\\\ at offs 6}"},
      {"\\\\?\\\\\\host", 302, "{\\\\UNC at offs 10}"},
      {".\\x", 301, "{.\\ at offs 1}"},
      {"C:\\a.\\f", 301, "{.\\ at offs 5}"},
      {"x\\...\\y", 301, "{.\\ at offs 5}"},
      {"a...\\", 301, "{.\\ at offs 4}"},
      {"C:\\dir\\\\", 301, "{\\\\ at offs 7}"},
      {"a\\b\\c\\\\", 301, "{\\\\ at offs 6}"},
      // Right after a first letter (a possible drive) ":" is allowed and the
      // text leaves it out.
      {"a/b", 300, after_letter + "1}"},
      {"a|b", 300, after_letter + "1}"},
      {"1|b", 300, not_allowed + "1}"},
      {"C:\\x\tb", 300, not_allowed + "4}"},
      {"_<b", 300, not_allowed + "1}"},
      {"\\a>b", 300, not_allowed + "2}"},
      {"..\"b", 300, not_allowed + "2}"},
      {"d\\a/b", 300, not_allowed + "3}"},
      {std::string("ab\0", 3), 300, not_allowed + "2}"},
      {"ab:c", 300, not_allowed + "2}"},
      {"C:\\a:b", 300, not_allowed + "4}"},
      {"\\\\?\\C|", 300, after_letter + "5}"},
  };
  for (const auto& c : cases) {
    const auto [code, text] = parse_failure(c.name);
    EXPECT_EQ(code, c.code) << c.name;
    EXPECT_EQ(text, c.text) << c.name;
    // Through the object: PathLevels keeps the parse's code, every other
    // getter reports the failed private parse.
    cFileName f(c.name);
    EXPECT_EQ(f.PathLevels(), -1) << c.name;
    EXPECT_EQ(f.LastError(), c.code) << c.name;
    EXPECT_EQ(f.Drive(), "") << c.name;
    EXPECT_EQ(f.LastError(), errPrivateCall) << c.name;
    EXPECT_EQ(f.LastDirectory(), "") << c.name;
    EXPECT_EQ(f.LastError(), errPrivateCall) << c.name;
    EXPECT_FALSE(f.SetName("n")) << c.name;
    EXPECT_EQ(f.LastError(), errPrivateCall) << c.name;
    // A failed setter keeps the name.
    const bool prefixed = c.name.rfind("\\\\?\\", 0) == 0;
    EXPECT_EQ(f.FullName(), prefixed ? c.name.substr(4) : c.name) << c.name;
  }
}

TEST(FileNameGrammar, MessageFunction) {
  const struct {
    uint32_t code;
    const char* name;
    const char* message;
  } rows[] = {
      {299, "errInvalidPathString", "Raised by DecreasePath method when Path part contains unexpected characters."},
      {300, "errCharNotAllowed", "cFileName string contains character which is not allowed."},
      {301, "errCharNotExpected", "cFileName string contains illegal sequence of characters."},
      {302, "errSeqNotComplete", "cFileName string contains an unfinished sequence of characters."},
  };
  for (const auto& r : rows) {
    auto s = qlm_platform_file_exception_string(r.code);
    ASSERT_TRUE(s->Valid());
    EXPECT_EQ(s->Name(), r.name);
    EXPECT_EQ(s->Message(), r.message);
    EXPECT_EQ(s->Function(), &qlm_platform_file_exception_string);
  }
  // Other codes belong to the base table.
  auto base = qlm_platform_file_exception_string(281);
  ASSERT_TRUE(base->Valid());
  EXPECT_EQ(base->Name(), "errInvariant");
  EXPECT_EQ(base->Function(), &qlm_base_exception_string);
  EXPECT_FALSE(qlm_platform_file_exception_string(303)->Valid());
}

TEST(FileName, IdentifiesAsItselfAndAsRoot) {
  cFileName f;
  EXPECT_NE(id_cFileName, 0u);
  EXPECT_TRUE(object_identify(&f, id_cFileName));
  EXPECT_TRUE(object_identify(&f, id_cBase));
  EXPECT_FALSE(object_identify(&f, id_cArray));
}

TEST(FileName, EmptyObject) {
  cFileName f;
  for (auto get : {&cFileName::Drive, &cFileName::Directory, &cFileName::Path, &cFileName::Extension,
                   &cFileName::LastDirectory, &cFileName::FullName, &cFileName::SystemName}) {
    EXPECT_EQ((f.*get)(), "");
    EXPECT_EQ(f.LastError(), errInvariant);
  }
  EXPECT_EQ(f.PathLevel(1), "");
  EXPECT_EQ(f.LastError(), errInvariant);
  EXPECT_EQ(f.PathLevels(), -1);
  EXPECT_EQ(f.LastError(), errInvariant);
  EXPECT_FALSE(f.Expand());
  EXPECT_EQ(f.LastError(), errInvariant);
  EXPECT_TRUE(f.Assign(nullptr));
  EXPECT_TRUE(f.IsEmpty());

  EXPECT_TRUE(f.SetPath("C:\\d"));
  EXPECT_EQ(f.FullName(), "C:\\d\\");
  EXPECT_EQ(f.LastError(), 0);

  // Every setter on an empty object composes from its part alone.
  const struct {
    bool (cFileName::*set)(std::string_view);
    std::string part, result;
  } empties[] = {
      {&cFileName::SetDrive, "C", "C:"},        {&cFileName::SetDirectory, "a\\b", "\\a\\b\\"},
      {&cFileName::SetName, "f", "f"},          {&cFileName::SetExtension, "txt", ".txt"},
      {&cFileName::IncreasePath, "b", "\\b\\"},
  };
  for (const auto& e : empties) {
    cFileName g;
    EXPECT_TRUE((g.*e.set)(e.part));
    EXPECT_EQ(g.FullName(), e.result) << e.part;
  }
}

TEST(FileName, Levels) {
  cFileName f("C:\\a\\b\\file.txt");
  EXPECT_EQ(f.PathLevel(1), "\\");
  EXPECT_EQ(f.PathLevel(2), "a\\");
  EXPECT_EQ(f.PathLevel(3), "b\\");
  EXPECT_EQ(f.LastDirectory(), "b\\");
  EXPECT_EQ(f.PathLevel(4), "");
  EXPECT_EQ(f.LastError(), errInvariant);
  EXPECT_EQ(f.PathLevel(0), "");
  EXPECT_EQ(f.LastError(), errInvariant);
  EXPECT_EQ(f.PathLevel(-1), "");

  cFileName rel("a\\b\\f");
  EXPECT_EQ(rel.PathLevel(1), "a\\");
  EXPECT_EQ(rel.LastDirectory(), "b\\");

  cFileName share("\\\\host\\share\\d\\f");
  EXPECT_EQ(share.PathLevels(), 2);
  EXPECT_EQ(share.PathLevel(1), "\\");
  EXPECT_EQ(share.PathLevel(2), "d\\");

  cFileName none("C:f.txt");
  EXPECT_EQ(none.LastDirectory(), "");
  EXPECT_EQ(none.LastError(), 0);
  EXPECT_EQ(none.PathLevel(1), "");
  EXPECT_EQ(none.LastError(), errInvariant);

  // The default destination's last level, as the autorun value uses it.
  cFileName dest("C:\\home\\u\\.local\\share\\Korvane-Snaprill\\");
  EXPECT_EQ(dest.LastDirectory(), "Korvane-Snaprill\\");
}

TEST(FileName, GettersAnswerCopiesThatOutliveAChange) {
  cFileName f("C:\\a\\f.txt");
  const std::string drive = f.Drive();
  const std::string level = f.PathLevel(2);
  ASSERT_TRUE(f.Assign("\\\\host\\share\\z\\g.png"));
  EXPECT_EQ(drive, "C:");
  EXPECT_EQ(level, "a\\");
  EXPECT_EQ(f.Drive(), "\\\\host\\share");
  EXPECT_EQ(f.PathLevel(2), "z\\");
  EXPECT_EQ(f.Extension(), ".png");
}

TEST(FileName, Composing) {
  struct {
    std::string path, name, ext, result;
  } compose[] = {
      {"C:", "f", "txt", "C:f.txt"},
      {"C:\\d", "f", ".txt", "C:\\d\\f.txt"},
      {"C:\\d\\", "f", "", "C:\\d\\f"},
      {"", "f", "txt", "f.txt"},
      {"", "", "", ""},
  };
  for (const auto& c : compose) {
    cFileName f("old");
    EXPECT_TRUE(f.Compose(c.path, c.name, c.ext));
    EXPECT_EQ(f.FullName(), c.result) << c.path << "|" << c.name;
  }
  struct {
    std::string drive, dir, name, ext, result;
  } full[] = {
      {"C", "a\\b", "f", "txt", "C:\\a\\b\\f.txt"},
      {"C:", "\\a\\", "f", "", "C:\\a\\f"},
      {"\\\\host\\share", "d", "f", "x", "\\\\host\\share\\d\\f.x"},
      {"1", "", "f", "", "1f"},  // ":" only after a letter
      {"", "", "f", ".e", "f.e"},
  };
  for (const auto& c : full) {
    cFileName f;
    EXPECT_TRUE(f.ComposeFull(c.drive, c.dir, c.name, c.ext));
    EXPECT_EQ(f.FullName(), c.result) << c.drive << "|" << c.dir;
  }
}

TEST(FileName, SettingParts) {
  using Setter = bool (cFileName::*)(std::string_view);
  struct {
    std::string name;
    Setter set;
    std::string part, result;
  } cases[] = {
      {"C:\\x\\f.txt", &cFileName::SetDrive, "D", "D:\\x\\f.txt"},
      {"\\x\\f", &cFileName::SetDrive, "C:", "C:\\x\\f"},
      {"\\\\?\\C:\\x", &cFileName::SetDrive, "E", "E:\\x"},
      {"C:\\x\\f.txt", &cFileName::SetDirectory, "a\\b", "C:\\a\\b\\f.txt"},
      {"f.txt", &cFileName::SetDirectory, "a\\b", "\\a\\b\\f.txt"},  // always rooted
      {"C:\\x\\f.txt", &cFileName::SetDirectory, "", "C:f.txt"},
      {"C:\\x\\f.txt", &cFileName::SetPath, "D:\\y", "D:\\y\\f.txt"},
      {"C:\\x\\f.txt", &cFileName::SetPath, "", "f.txt"},
      {"C:\\x\\", &cFileName::SetPath, "C:\\z\\", "C:\\z\\"},
      {"C:\\x\\f.txt", &cFileName::SetName, "g", "C:\\x\\g.txt"},
      {"C:\\x\\", &cFileName::SetName, "g", "C:\\x\\g"},
      {".abc", &cFileName::SetName, "f", "f.abc"},
      {"\\\\?\\C:\\x\\y.z", &cFileName::SetName, "w", "C:\\x\\w.z"},
      {"\\\\host\\share", &cFileName::SetName, "f", "\\\\host\\share\\f"},
      {"C:\\x\\f.txt", &cFileName::SetExtension, "png", "C:\\x\\f.png"},
      {"C:\\x\\f.txt", &cFileName::SetExtension, ".png", "C:\\x\\f.png"},
      {"C:\\x\\f.txt", &cFileName::SetExtension, "", "C:\\x\\f"},
      {"C:\\x\\f", &cFileName::SetExtension, "q", "C:\\x\\f.q"},
      {"\\\\?\\C:\\x\\y.z", &cFileName::SetExtension, "q", "C:\\x\\y.q"},
      {"\\\\host\\share", &cFileName::SetExtension, "q", "\\\\host\\share\\.q"},
      {"C:\\a\\f", &cFileName::IncreasePath, "\\", "C:\\a\\f"},
      {"C:\\a\\f", &cFileName::IncreasePath, "\\b", "C:\\a\\b\\f"},
      {"C:\\a\\f", &cFileName::IncreasePath, "b\\c", "C:\\a\\b\\c\\f"},
      {"C:", &cFileName::IncreasePath, "\\", "C:\\"},
      {"C:\\", &cFileName::IncreasePath, "a\\", "C:\\a\\"},
      {"C:f", &cFileName::IncreasePath, "\\", "C:\\f"},
  };
  for (const auto& c : cases) {
    cFileName f(c.name);
    EXPECT_TRUE((f.*c.set)(c.part)) << c.name << " <- " << c.part;
    EXPECT_EQ(f.FullName(), c.result) << c.name << " <- " << c.part;
    EXPECT_EQ(f.LastError(), 0);
  }
}

TEST(FileName, FolderWalkBuildsEachLevel) {
  // The way folder creation walks a name: the drive, then one level at a time.
  cFileName target("C:\\a\\b\\c\\f.txt");
  cFileName walk(target.Drive());
  std::vector<std::string> paths;
  for (int32_t i = 1; i <= target.PathLevels(); ++i) {
    ASSERT_TRUE(walk.IncreasePath(target.PathLevel(i)));
    paths.push_back(walk.Path());
  }
  EXPECT_EQ(paths, (std::vector<std::string>{"C:\\", "C:\\a\\", "C:\\a\\b\\", "C:\\a\\b\\c\\"}));
}

TEST(FileName, LongNames) {
  const std::string prefix = "\\\\?\\";
  const std::string at_limit = "C:\\" + repeat('a', 257);  // 260 characters
  const std::string beyond = "C:\\" + repeat('a', 258);    // 261 characters
  ASSERT_EQ(at_limit.size(), 260u);

  cFileName f(at_limit);
  EXPECT_EQ(f.SystemName(), at_limit);

  f.Assign(beyond);
  const std::string drive = f.Drive();
  EXPECT_EQ(f.SystemName(), prefix + beyond);
  EXPECT_EQ(f.FullName(), beyond);
  EXPECT_EQ(f.Drive(), drive);  // cached parts stay

  f.Assign(prefix + at_limit);
  EXPECT_EQ(f.SystemName(), at_limit);
  EXPECT_EQ(f.FullName(), at_limit);

  f.Assign(prefix + beyond);
  EXPECT_EQ(f.SystemName(), prefix + beyond);

  // A bare prefix is an empty long name; a broken prefix is no prefix.
  f.Assign(prefix);
  EXPECT_EQ(f.FullName(), "");
  f.Assign("\\\\?x");
  EXPECT_EQ(f.FullName(), "\\\\?x");
}

TEST(FileName, CloneCopiesNameCachesAndCode) {
  cFileName f("\\\\?\\C:\\x\\y.z");
  EXPECT_EQ(f.PathLevel(2), "x\\");
  EXPECT_EQ(f.FullName(), "C:\\x\\y.z");
  auto c = f.Clone();
  ASSERT_TRUE(c);
  EXPECT_TRUE(object_identify(c.get(), id_cFileName));
  EXPECT_EQ(c->FullName(), "C:\\x\\y.z");
  EXPECT_EQ(c->PathLevel(2), "x\\");
  EXPECT_EQ(c->SystemName(), "C:\\x\\y.z");
  ASSERT_TRUE(c->Assign("z"));
  EXPECT_EQ(f.PathLevel(2), "x\\");  // the original is independent
  EXPECT_EQ(f.SystemName(), "C:\\x\\y.z");

  cFileName bad("a|b");
  EXPECT_EQ(bad.Drive(), "");
  auto d = bad.Clone();
  ASSERT_TRUE(d);
  EXPECT_EQ(d->LastError(), errPrivateCall);
}

class FileNameExpand : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = std::filesystem::current_path();
    dir_ = testenv::sandbox_dir("expand");
    std::filesystem::current_path(dir_);
    cwd_ = plat::current_dir();
    ASSERT_FALSE(cwd_.empty());
  }
  void TearDown() override { std::filesystem::current_path(saved_); }
  std::filesystem::path saved_;
  std::string dir_, cwd_;
};

TEST_F(FileNameExpand, ResolvesLexicallyAgainstTheCurrentFolder) {
  // The current folder's parent, in Windows form.
  const std::string parent = cwd_.substr(0, cwd_.rfind('\\'));
  struct {
    std::string name, result;
  } cases[] = {
      {"f.txt", cwd_ + "\\f.txt"},
      {"*.*", cwd_ + "\\*.*"},  // patterns keep their wildcards
      {"a\\b\\", cwd_ + "\\a\\b\\"},
      {".\\a\\.\\b", cwd_ + "\\a\\b"},
      {"..\\x", parent + "\\x"},
      {"C:x", cwd_ + "\\x"},
      {"C:", cwd_},
      {"a/b", cwd_ + "\\a\\b"},
      {"\\x\\y", "C:\\x\\y"},
      {"C:\\a\\..\\b\\.\\c", "C:\\b\\c"},
      {"C:\\..\\..\\x", "C:\\x"},  // never above the root
      {"C:\\a\\\\b", "C:\\a\\b"},
      {"C:\\a\\b\\..", "C:\\a"},
      {"C:\\a\\..", "C:\\"},
      {"C:\\x. \\y.", "C:\\x. \\y."},  // trailing dots and blanks stay
      {"D:x", "D:\\x"},
      {"\\\\host\\share\\a\\..\\..\\b", "\\\\host\\share\\b"},
      {"\\\\host\\share\\", "\\\\host\\share\\"},
      {"\\\\?\\C:\\a\\..\\b", "C:\\a\\..\\b"},  // long names stay as they are
  };
  for (const auto& c : cases) {
    cFileName f(c.name);
    EXPECT_TRUE(f.Expand()) << c.name;
    EXPECT_EQ(f.FullName(), c.result) << c.name;
    EXPECT_EQ(f.LastError(), 0) << c.name;
  }
}

TEST_F(FileNameExpand, FailsWhenTheCurrentFolderCannotBeWritten) {
  std::filesystem::create_directory(dir_ + "/p|q");
  std::filesystem::current_path(dir_ + "/p|q");
  cFileName f("f.txt");
  EXPECT_FALSE(f.Expand());
  EXPECT_EQ(f.LastError(), errWinAPICall);
  EXPECT_EQ(f.FullName(), "f.txt");
  // Names that do not need the current folder still expand.
  cFileName g("C:\\a\\..\\b");
  EXPECT_TRUE(g.Expand());
  EXPECT_EQ(g.FullName(), "C:\\b");
}

TEST_F(FileNameExpand, CurrentFolderAndProgramRoundTrip) {
  // The current folder: expanded, mapped to the host, and the same folder.
  cFileName here("x");
  ASSERT_TRUE(here.Expand());
  ASSERT_TRUE(here.SetName(""));
  std::string host;
  ASSERT_EQ(plat::to_posix(here.FullName(), host), 0);
  EXPECT_TRUE(std::filesystem::equivalent(host, dir_));
  EXPECT_EQ(here.Path(), cwd_ + "\\");

  // The program's own path parses, and its folder is a folder on the host.
  cFileName self(param_str(0));
  ASSERT_GT(self.PathLevels(), 0) << param_str(0);
  EXPECT_EQ(self.Drive(), "C:");
  ASSERT_EQ(plat::to_posix(self.Path(), host), 0);
  EXPECT_TRUE(std::filesystem::is_directory(host)) << host;
  ASSERT_EQ(plat::to_posix(self.FullName(), host), 0);
  EXPECT_TRUE(std::filesystem::is_regular_file(host)) << host;
  std::string back;
  ASSERT_TRUE(plat::from_posix(host, back));
  EXPECT_EQ(back, self.FullName());
}

TEST(FileNameGrammar, EveryShortNameSplitsIntoConsistentParts) {
  // Every name of up to six characters over the characters that steer the
  // parse: it parses or fails with a parse code, and when it parses its parts
  // join up again to the name.
  const std::string alphabet = "\\?.C:x";
  std::string name;
  size_t parsed = 0;
  std::function<void(size_t)> walk = [&](size_t depth) {
    if (!name.empty()) {
      rFileNameMarks m;
      int32_t levels = 0;
      bool ok = true;
      try {
        cFileName::scan_name(name, m, levels);
      } catch (const exError& e) {
        ok = false;
        EXPECT_TRUE(e.Code() >= errCharNotAllowed && e.Code() <= errSeqNotComplete) << name;
      }
      if (ok) {
        ++parsed;
        cFileName f(name);
        const std::string full = f.FullName();
        const std::string file = m.fileStart == rFileNameMarks::npos ? "" : name.substr(m.fileStart);
        const std::string path = f.Path();
        EXPECT_EQ(path + file, full) << name;
        EXPECT_EQ(f.Drive() + f.Directory(), path) << name;
        const std::string ext = f.Extension();
        EXPECT_TRUE(file.size() >= ext.size() && file.compare(file.size() - ext.size(), ext.size(), ext) == 0) << name;
        EXPECT_EQ(f.PathLevels(), levels) << name;
        std::string joined;
        for (int32_t i = 1; i <= levels; ++i) joined += f.PathLevel(i);
        EXPECT_EQ(joined, f.Directory()) << name;
        EXPECT_EQ(f.LastDirectory(), levels > 0 ? f.PathLevel(levels) : "") << name;
      }
    }
    if (depth == 6) return;
    for (char c : alphabet) {
      name.push_back(c);
      walk(depth + 1);
      name.pop_back();
    }
  };
  walk(0);
  EXPECT_GT(parsed, 1000u);
}
