#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "plat_path_map.h"
#include "qlm_base_array.h"
#include "qlm_platform_file_flow.h"
#include "sandbox.h"
#include "test_files.h"

namespace fs = std::filesystem;

namespace {

using testenv::win_of;
const auto& put = testenv::write_file;
const auto& get = testenv::read_file;

uint32_t log_rows(const cException& e) { return e.Log() == nullptr ? 0 : e.Log()->Count(); }

// A flow opened with access 3 on a file holding `bytes`.
struct Flow {
  Flow(const std::string& bytes, int32_t access = 3)
      : host(testenv::sandbox_dir("flow") + "/f"), flow((put(host, bytes), win_of(host)), access) {
    EXPECT_TRUE(flow.Open()) << flow.LastErrorText();
  }
  std::string host;
  cFileFlow flow;
};

}  // namespace

TEST(FileFlow, NamingAndState) {
  cFileFlow unnamed("", 3);
  EXPECT_EQ(unnamed.LastIO(), 0u);
  EXPECT_EQ(log_rows(unnamed), 0u);
  EXPECT_FALSE(unnamed.Open());
  EXPECT_EQ(unnamed.LastErrorText(), "{not Assigned}");
  EXPECT_EQ(unnamed.LastErrorCode(), errPreCondition);
  EXPECT_FALSE(unnamed.Assign(std::string_view(" \0 ", 3), 3));
  EXPECT_EQ(unnamed.LastErrorText(), "{fn = \"\"}");
  EXPECT_FALSE(unnamed.Assign(static_cast<cFileName*>(nullptr), 3));
  EXPECT_EQ(unnamed.LastErrorText(), "{fn = NIL}");

  // Readable and writable follow the access alone, open or not.
  struct {
    int32_t access;
    bool readable, writable;
  } cases[] = {{1, true, false}, {2, false, true}, {3, true, true}, {0, false, false}};
  for (const auto& c : cases) {
    cFileFlow f("x", c.access);
    EXPECT_EQ(f.IsReadable(), c.readable);
    EXPECT_EQ(f.IsWritable(), c.writable);
    EXPECT_EQ(f.IsScalable(), c.writable);
    EXPECT_FALSE(f.IsOpened());
  }

  // Clone is not supported and logs one row.
  Flow f("0123456789");
  const uint32_t rows = log_rows(f.flow);
  EXPECT_EQ(f.flow.Clone(), nullptr);
  EXPECT_EQ(log_rows(f.flow), rows + 1);
  EXPECT_EQ(f.flow.LastErrorText(), "{cFileFlow.Clone}");
  EXPECT_TRUE(object_identify(&f.flow, id_cFileFlow));
  EXPECT_TRUE(object_identify(&f.flow, id_cFlow));

  // The name changes only while closed; a name object gives its FullName.
  EXPECT_FALSE(f.flow.Assign("other", 3));
  EXPECT_EQ(f.flow.LastErrorText(), "{IsOpened}");
  EXPECT_FALSE(f.flow.Open());
  EXPECT_TRUE(f.flow.Close());
  EXPECT_FALSE(f.flow.Close());
  EXPECT_EQ(f.flow.LastErrorText(), "{not IsOpened}");
  cFileName long_form("\\\\?\\" + win_of(f.host));
  EXPECT_TRUE(f.flow.Assign(&long_form, 1));
  EXPECT_EQ(f.flow.FileName()->FullName(), win_of(f.host));
  cFileFlow from_name(&long_form, 1);
  EXPECT_TRUE(from_name.Open());
  EXPECT_EQ(from_name.Size(), 10);
}

TEST(FileFlow, CreateOpenAndAccess) {
  const std::string dir = testenv::sandbox_dir("flowacc");
  put(dir + "/f", "old content");
  cFileFlow f(win_of(dir + "/f"), 3);
  ASSERT_TRUE(f.Create());
  EXPECT_EQ(f.Size(), 0);
  EXPECT_TRUE(f.Write("abc", 3));
  EXPECT_EQ(f.LastIO(), 3u);
  EXPECT_TRUE(f.Eof());
  ASSERT_TRUE(f.Close());
  EXPECT_EQ(get(dir + "/f"), "abc");

  cFileFlow ro(win_of(dir + "/f"), 1);
  ASSERT_TRUE(ro.Open());
  EXPECT_FALSE(ro.Write("x", 1));
  EXPECT_EQ(ro.LastErrorText(), "{not IsWritable}");
  EXPECT_FALSE(ro.Create());
  char buf[4] = {};
  EXPECT_FALSE(ro.Read(buf, 4));  // only 3 there
  EXPECT_EQ(ro.LastErrorText(), "{file_read}");
  EXPECT_EQ(ro.LastErrorCode(), errQLMCall);
  EXPECT_EQ(ro.LastIO(), 3u);
  EXPECT_EQ(ro.FileRecord().lastError, errDiskRead);
  EXPECT_TRUE(ro.Seek(-1));
  EXPECT_EQ(ro.Curr(), 3);
  EXPECT_FALSE(ro.Seek(4));
  EXPECT_EQ(ro.LastErrorText(), "{file_seek}");
  ro.Close();
  EXPECT_FALSE(ro.OpenAppend());
  EXPECT_EQ(ro.LastErrorText(), "{not IsWritable}");

  cFileFlow app(win_of(dir + "/f"), 2);
  ASSERT_TRUE(app.OpenAppend());
  EXPECT_EQ(app.Curr(), 3);
  EXPECT_TRUE(app.Write("de", 2));
  EXPECT_FALSE(app.Read(buf, 1));
  EXPECT_EQ(app.LastErrorText(), "{not IsReadable}");
  app.Close();
  EXPECT_EQ(get(dir + "/f"), "abcde");

  cFileFlow missing(win_of(dir + "/missing"), 3);
  EXPECT_FALSE(missing.Open());
  EXPECT_EQ(missing.LastErrorText(), "{file_open}");
  EXPECT_EQ(missing.FileRecord().lastError, errFileNF);
  EXPECT_FALSE(missing.IsOpened());
}

TEST(FileFlow, EditingOperationsAndPositions) {
  struct {
    const char* what;
    std::function<bool(cFileFlow&)> op;
    std::string content;
    int64_t pos;
    uint32_t last_io;
  } cases[] = {
      {"insert 5 at end", [](cFileFlow& f) { return f.Insert(5, -1); },
       std::string("0123456789") + std::string(5, '\0'), 10, 5},
      {"insert 2 at 12", [](cFileFlow& f) { return f.Insert(2, 12); }, std::string("0123456789") + std::string(4, '\0'),
       12, 2},
      {"insert 3 at 4", [](cFileFlow& f) { return f.Insert(3, 4); },
       std::string("0123") + std::string(3, '\0') + "456789", 4, 3},
      {"delete 3 at 2", [](cFileFlow& f) { return f.Delete(3, 2); }, "0156789", 2, 3},
      {"crop 3", [](cFileFlow& f) { return f.Crop(3); }, "0123456", 7, 3},
      {"set size 4", [](cFileFlow& f) { return f.SetSize(4); }, "0123", 0, 6},
      {"set size 12", [](cFileFlow& f) { return f.SetSize(12); }, std::string("0123456789") + std::string(2, '\0'), 0,
       2},
      {"set size 10", [](cFileFlow& f) { return f.SetSize(10); }, "0123456789", 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Flow f("0123456789");
    ASSERT_TRUE(f.flow.Seek(7));
    EXPECT_TRUE(c.op(f.flow)) << f.flow.LastErrorText();
    EXPECT_EQ(f.flow.Curr(), c.pos);
    EXPECT_EQ(f.flow.LastIO(), c.last_io);
    f.flow.Close();
    EXPECT_TRUE(get(f.host) == c.content);
  }

  // Negative counts are refused and change nothing.
  Flow f("0123456789");
  char buf[4];
  EXPECT_FALSE(f.flow.Read(buf, -1));
  EXPECT_EQ(f.flow.LastErrorText(), "{sz<0}");
  EXPECT_FALSE(f.flow.Write(buf, -1));
  EXPECT_FALSE(f.flow.Insert(-1, 2));
  EXPECT_FALSE(f.flow.Delete(-2, 5));
  EXPECT_FALSE(f.flow.Crop(-1));
  EXPECT_FALSE(f.flow.SetSize(-1));
  EXPECT_EQ(f.flow.LastErrorCode(), errPreCondition);
  EXPECT_FALSE(f.flow.Delete(3, 8));
  EXPECT_EQ(f.flow.LastErrorText(), "{file_delete}");
  EXPECT_EQ(f.flow.FileRecord().lastError, errInvariant);
  f.flow.Close();
  EXPECT_EQ(get(f.host), "0123456789");
}

TEST(FileFlow, SetSizeBeyondFourGigabytesNeverCrops) {
  // The growth cannot finish under a small file-size limit; the file keeps
  // its 10 bytes instead of losing any.
  const std::string dir = testenv::sandbox_dir("flowbig");
  put(dir + "/f", "0123456789");
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit lim = {1 << 20, 1 << 20};
    setrlimit(RLIMIT_FSIZE, &lim);
    cFileFlow f(win_of(dir + "/f"), 3);
    if (!f.Open()) _exit(10);
    const bool ok = f.SetSize((int64_t(1) << 32) + 4);
    _exit(!ok && f.LastErrorText() == "{file_insert}" && f.Size() == 10 ? 0 : 11);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(get(dir + "/f"), "0123456789");
}

TEST(FileFlow, CopiesBetweenFlows) {
  // The writer pattern: build text in a write flow, copy what was written.
  auto wf = cWriteFlow::Construct();
  ASSERT_TRUE(wf->Create());
  wf->WriteLine("first");
  wf->WriteLine("second");
  ASSERT_TRUE(wf->Seek(0));
  const std::string dir = testenv::sandbox_dir("copy");
  cFileFlow out(win_of(dir + "/out"), 3);
  ASSERT_TRUE(out.Create());
  ASSERT_TRUE(out.CopyFrom(wf.get(), int32_t(wf->Written())));
  EXPECT_EQ(out.LastIO(), uint32_t(wf->Written()));
  out.Close();
  EXPECT_EQ(get(dir + "/out"), "first\r\nsecond\r\n");

  // Beyond what the source holds: refused before anything is written.
  ASSERT_TRUE(out.Open());
  ASSERT_TRUE(wf->Seek(0));
  EXPECT_FALSE(out.CopyFrom(wf.get(), 2000));
  EXPECT_EQ(out.LastErrorText(), "{fl.Curr + sz > fl.Size}");
  EXPECT_EQ(out.Size(), 15);
  EXPECT_TRUE(out.CopyFrom(wf.get(), 0));
  EXPECT_EQ(out.LastIO(), 0u);
  EXPECT_FALSE(out.CopyFrom(nullptr, 1));
  EXPECT_EQ(out.LastErrorText(), "{fl=NIL}");
  out.Close();

  // File to file across several buffers, in both directions.
  std::string big(150000, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = char(i * 31 + i / 977);
  put(dir + "/big", big);
  cFileFlow src(win_of(dir + "/big"), 1);
  cFileFlow dst(win_of(dir + "/dst"), 3);
  ASSERT_TRUE(src.Open());
  ASSERT_TRUE(dst.Create());
  EXPECT_TRUE(src.CopyTo(&dst, 150000));
  EXPECT_EQ(src.LastIO(), 150000u);
  EXPECT_FALSE(dst.CopyFrom(&src, 1));  // the source is at its end
  EXPECT_FALSE(src.CopyFrom(&dst, 1));  // read only
  EXPECT_EQ(src.LastErrorText(), "{not IsWritable}");
  EXPECT_FALSE(dst.CopyTo(&src, 0));  // a target that cannot be written
  EXPECT_EQ(dst.LastErrorText(), "{not fl.IsWritable}");
  EXPECT_EQ(dst.LastErrorCode(), errPreCondition);
  src.Close();
  EXPECT_FALSE(dst.CopyFrom(&src, 0));
  EXPECT_EQ(dst.LastErrorText(), "{not fl.IsOpened}");
  dst.Close();
  EXPECT_TRUE(get(dir + "/dst") == big);
}
