#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include <agg_conv_curve.h>
#include <agg_conv_transform.h>

#include "corpora.h"
#include "qlm_base_util.h"
#include "svg_support.h"
#include "test_files.h"

namespace {

using svgtest::doc;
using svgtest::load;
using svgtest::log_text;

class SvgModel : public ::testing::Test {
 protected:
  void SetUp() override { svgtest::start_modules(); }
};

void expect_bounds(cImageSVG& image, double y1, double x1, double x2, double y2, double tolerance = 1e-9) {
  rRectD b;
  image.Bounds(b);
  EXPECT_NEAR(b.y1, y1, tolerance);
  EXPECT_NEAR(b.x1, x1, tolerance);
  EXPECT_NEAR(b.x2, x2, tolerance);
  EXPECT_NEAR(b.y2, y2, tolerance);
}

TEST_F(SvgModel, MessagesAndIdentity) {
  const std::pair<uint32_t, const char*> rows[] = {{299, "SVG parser failure."},
                                                   {300, "SVG internal structure is corrupted."},
                                                   {301, "Unknown color definition."},
                                                   {302, "SVG Path parsing syntax error."}};
  for (const auto& [code, text] : rows) {
    auto answer = qlm_svg_exception_string(code);
    EXPECT_TRUE(answer->Valid());
    EXPECT_EQ(answer->Message(), text);
  }
  EXPECT_EQ(qlm_svg_exception_string(203)->Function(), &qlm_base_exception_string);
  cImageSVG image;
  EXPECT_NE(id_cImageSVG, 0u);
  EXPECT_TRUE(image.Identify(id_cImageSVG));
  EXPECT_TRUE(image.Identify(id_cException));
  EXPECT_FALSE(image.IsOpened());
}

// Bounds of paths: transformed, flattened, without stroke widths.
TEST_F(SvgModel, BoundsOfPaths) {
  struct Case {
    const char* body;
    double y1, x1, x2, y2;
    double tolerance = 1e-9;
  };
  const Case cases[] = {
      {"<path d='M10 20 H40 V60 H10 Z'/>", 20, 10, 40, 60},
      {"<path transform='translate(5,0)' d='M10 20 H40 V60 H10 Z'/>", 20, 15, 45, 60},
      {"<path stroke-width='7' d='M40 50 A10 10 0 1 0 60 50 A10 10 0 1 0 40 50'/>", 40, 40, 60, 60},
      {"<path d='M0 0 L1 1'/><path d='M-5 3 L2 9'/>", 0, -5, 2, 9},
      // A curve's control points lie outside its flattened outline.
      {"<path d='M0 0 C0 100 100 100 100 0'/>", 0, 0, 100, 75, 0.25},
      // Huge curves are flattened at a coarser tolerance: quick, and close.
      {"<path d='M0 0 C0 1e15 1e15 1e15 1e15 0'/>", 0, 0, 1e15, 7.5e14, 1e11},
      {"<g/><title>t</title>", 0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body);
    auto l = load(doc(c.body));
    ASSERT_TRUE(l.ok) << log_text(*l.image);
    expect_bounds(*l.image, c.y1, c.x1, c.x2, c.y2, c.tolerance);
    svgtest::expect_model_invariants(*l.image);
  }
}

// The bounds equal those of the plain walk (every record through the curve
// and transform converters) also where records are skipped because their
// hull lies inside the box already, and where a curve starts after a close
// (the converter then starts it from 0, 0).
rRectD plain_bounds(cImageSVG& image) {
  rRectD b;
  bool first = true;
  agg::trans_affine m;
  agg::conv_curve<agg::path_storage> curve(*image.PathStorage());
  agg::conv_transform<agg::conv_curve<agg::path_storage>> t(curve, m);
  for (const rSVGPathAttr* a = image.Attributes()->First(); a != nullptr; a = image.Attributes()->Next(a)) {
    m = a->transform;
    t.rewind(a->index);
    double x, y;
    unsigned cmd;
    while (!agg::is_stop(cmd = t.vertex(&x, &y))) {
      if (!agg::is_vertex(cmd)) continue;
      if (first) {
        b.x1 = b.x2 = x;
        b.y1 = b.y2 = y;
        first = false;
      }
      b.x1 = std::min(b.x1, x);
      b.x2 = std::max(b.x2, x);
      b.y1 = std::min(b.y1, y);
      b.y2 = std::max(b.y2, y);
    }
  }
  return b;
}

TEST_F(SvgModel, BoundsEqualThePlainWalk) {
  const char* bodies[] = {
      "<path d='M0 0 L200 200'/><path d='M10 10 C20 190 190 20 150 150 Q 100 0 50 50 T 20 20'/>",
      "<path d='M100 100 L110 110'/><path d='M100 100 L110 110 Z C100 110 110 100 105 105'/>",
      "<path d='M100 100 L110 110'/><path d='C100 110 110 100 105 105'/>",
      "<path d='M0 0 L100 100'/><path transform='rotate(30,50,50)' d='M10 10 A 40 20 15 1 1 90 90 z'/>",
      "<path d='M0 0 L100 100'/><path transform='translate(5,5)' d='M10 10 c10 10 20 -10 30 0 s 10 10 20 0'/>",
  };
  for (const char* body : bodies) {
    SCOPED_TRACE(body);
    auto l = load(doc(body));
    ASSERT_TRUE(l.ok) << log_text(*l.image);
    const rRectD want = plain_bounds(*l.image);
    expect_bounds(*l.image, want.y1, want.x1, want.x2, want.y2);
  }
}

TEST_F(SvgModel, DocumentWithoutPathsOpensEmpty) {
  auto l = load("<?xml version='1.0'?>\n<svg width='10'><title>Hello</title><text>x</text></svg>");
  ASSERT_TRUE(l.ok);
  EXPECT_TRUE(l.image->IsOpened());
  EXPECT_EQ(l.image->Attributes()->Count(), 0u);
  EXPECT_EQ(l.image->Title(), "Hello");
  EXPECT_EQ(l.image->Gradients(), nullptr);
  expect_bounds(*l.image, 0, 0, 0, 0);
}

// Every record has an index of its own: an empty path does not take the
// next path's vertices.
TEST_F(SvgModel, EmptyPathKeepsItsOwnIndex) {
  auto l = load(doc("<path d=''/><path d='M0 0 L10 10'/><path/><path/><path d='M1 1 L2 2'/>"));
  ASSERT_TRUE(l.ok) << log_text(*l.image);
  cSVGAttributes& attrs = *l.image->Attributes();
  ASSERT_EQ(attrs.Count(), 5u);
  agg::path_storage& ps = *l.image->PathStorage();
  EXPECT_EQ(svgtest::dump(ps, attrs.Get(1)->index), "");
  EXPECT_EQ(svgtest::dump(ps, attrs.Get(2)->index), "M0,0 L10,10");
  EXPECT_EQ(svgtest::dump(ps, attrs.Get(3)->index), "");
  EXPECT_EQ(svgtest::dump(ps, attrs.Get(4)->index), "");
  EXPECT_EQ(svgtest::dump(ps, attrs.Get(5)->index), "M1,1 L2,2");
  EXPECT_NE(attrs.Get(1)->index, attrs.Get(2)->index);
  EXPECT_NE(attrs.Get(3)->index, attrs.Get(4)->index);
  EXPECT_NE(attrs.Get(4)->index, attrs.Get(5)->index);
  svgtest::expect_model_invariants(*l.image);
  expect_bounds(*l.image, 0, 0, 10, 10);
}

TEST_F(SvgModel, FlowErrors) {
  cImageSVG image;
  EXPECT_FALSE(image.Open(nullptr, nullptr));
  EXPECT_EQ(log_text(image), "299 {flow=NIL}");

  // An empty flow, and one positioned at its end.
  for (const char* text : {"", "<svg/>"}) {
    SCOPED_TRACE(text);
    auto flow = cMemoryFlow::ConstructReadOnly(true, text, int64_t(std::strlen(text)));
    ASSERT_TRUE(flow->Open());
    if (*text != 0) {
      ASSERT_TRUE(flow->Seek(flow->Size()));
    }
    cImageSVG empty;
    EXPECT_FALSE(empty.Open(flow.get(), nullptr));
    EXPECT_FALSE(empty.IsOpened());
    EXPECT_EQ(log_text(empty), "299 {XML_Parse=\"no element found\" at line 1}");
  }
  auto broken = load("<svg>\n<path d='M0 0'>\n</svg>");
  EXPECT_FALSE(broken.ok);
  EXPECT_EQ(log_text(*broken.image), "299 {XML_Parse=\"mismatched tag\" at line 3}");
}

TEST_F(SvgModel, SecondOpenReadsNothing) {
  const std::string text = doc("<path d='M0 0 L5 5'/>");
  auto flow = cMemoryFlow::ConstructReadOnly(true, text.data(), int64_t(text.size()));
  ASSERT_TRUE(flow->Open());
  cImageSVG image;
  ASSERT_TRUE(image.Open(flow.get(), nullptr));
  ASSERT_TRUE(flow->Seek(0));
  EXPECT_TRUE(image.Open(flow.get(), nullptr));
  EXPECT_EQ(flow->Curr(), 0);
  EXPECT_EQ(image.Attributes()->Count(), 1u);
}

// A document of exactly `size` bytes: the failing path on line 2 (first) or
// as the last element, the rest padded with a comment.
std::string sized_document(size_t size, bool failing_first) {
  const std::string head = "<svg>\n";
  const std::string bad = "<path d='M 10'/>\n";
  const std::string good = "<path d='M0 0 L1 1'/>\n";
  const std::string tail = "</svg>";
  std::string body = failing_first ? bad + good : good + "<!---->\n" + bad;
  const size_t fixed = head.size() + body.size() + tail.size() + 8;  // "<!--" "-->\n" around the padding
  std::string pad(size - fixed, 'x');
  std::string text =
      failing_first ? head + body + "<!--" + pad + "-->\n" + tail : head + "<!--" + pad + "-->\n" + body + tail;
  EXPECT_EQ(text.size(), size);
  return text;
}

std::vector<double> gProgress;
bool record_progress(cSVG*, double percent) {
  gProgress.push_back(percent);
  return true;
}
bool stop_progress(cSVG*, double) { return false; }

TEST_F(SvgModel, BlockBoundariesAndFailureLines) {
  const size_t block = size_t(cnSVGBlockSize);
  for (size_t size : {block, block + 1, 2 * block + block / 5}) {
    for (bool first : {true, false}) {
      SCOPED_TRACE(testing::Message() << size << (first ? " first" : " last"));
      gProgress.clear();
      auto l = load(sized_document(size, first), &record_progress);
      EXPECT_FALSE(l.ok);
      EXPECT_FALSE(l.image->IsOpened());
      const int line = first ? 2 : 5;
      EXPECT_EQ(log_text(*l.image), "302 {mArgs.Count mod 2 <> 0,cmd=M} | 300 {at line " + std::to_string(line) + "}");
      // The model keeps what was built: both paths.
      EXPECT_EQ(l.image->Attributes()->Count(), 2u);
      // Progress rises to 100 after the block in which the load ended.
      ASSERT_FALSE(gProgress.empty());
      if (size == block) {
        EXPECT_EQ(gProgress, std::vector<double>{100.0});
      }
      if (size == block + 1 && !first) {
        // The element ended in the first block.
        EXPECT_EQ(gProgress, std::vector<double>{100.0 * double(block) / double(block + 1)});
      }
      if (size > block + 1 && !first) {
        EXPECT_EQ(gProgress.back(), 100.0);  // the element ended in the last block
      }
      if (first && size > block) {
        EXPECT_EQ(gProgress.size(), 1u);  // stopped after the first block
      }
    }
  }
  auto stopped = load(doc("<path d='M0 0'/>"), &stop_progress);
  EXPECT_FALSE(stopped.ok);
  EXPECT_EQ(log_text(*stopped.image), "297 {cImageSVG.Open}");
}

TEST_F(SvgModel, EveryAllocationMayFail) {
  const std::string text = doc("<g fill='red'><path d='M0 0 L5 5'/><path d=''/></g>" + std::string(600, ' '));
  int failures = 0;
  for (int64_t k = 1; k < 40; ++k) {
    SCOPED_TRACE(k);
    auto flow = cMemoryFlow::ConstructReadOnly(true, text.data(), int64_t(text.size()));
    ASSERT_TRUE(flow->Open());
    cImageSVG image;
    mem_alloc_fail_at(k);
    const bool ok = image.Open(flow.get(), nullptr);
    mem_alloc_fail_at(0);
    if (ok) {
      svgtest::expect_model_invariants(image);
      EXPECT_EQ(image.Attributes()->Count(), 2u);
    } else {
      ++failures;
      EXPECT_NE(image.LastErrorCode(), 0);
    }
  }
  EXPECT_GT(failures, 0);
}

TEST_F(SvgModel, GradientIdsIndexLikeAScan) {
  cSVGGradients list;
  rSVGGradient* a = list.AppendGradient();
  rSVGGradient* b = list.AppendGradient();
  rSVGGradient* c = list.AppendGradient();
  EXPECT_EQ(gradient_find_by_ref(&list, ""), a);  // no id yet: all empty
  list.SetId(b, "Grad ");
  list.SetId(c, "grad");
  EXPECT_EQ(gradient_find_by_ref(&list, "GRAD"), b);
  EXPECT_EQ(gradient_find_by_ref(&list, "grad  "), b);
  EXPECT_EQ(gradient_find_by_ref(&list, " grad"), nullptr);  // leading blanks count
  list.SetId(a, "grad");
  EXPECT_EQ(gradient_find_by_ref(&list, "grad"), a);
  list.SetId(a, "other");
  EXPECT_EQ(gradient_find_by_ref(&list, "grad"), b);
  list.SetId(b, "x");
  EXPECT_EQ(gradient_find_by_ref(&list, "grad"), c);
  EXPECT_EQ(gradient_find_by_ref(&list, ""), nullptr);
  EXPECT_EQ(gradient_find_by_ref(nullptr, "grad"), nullptr);
}

// The W3C SVG 1.1 files and the crash fixtures of the external corpora
// (tools/fetch_corpora.sh) load or fail cleanly and keep the model's
// invariants. Without the corpora the tests skip; where the test scripts
// require them, an empty corpus fails.
std::vector<std::filesystem::path> corpus_files(const std::string& prefix) {
  std::vector<std::filesystem::path> files;
  const std::string dir = testenv::corpora_dir();
  if (dir.empty()) return files;
  for (const char* corpus : {"w3c-svg", "rsvg-crash"}) {
    const std::filesystem::path root = std::filesystem::path(dir) / corpus;
    std::error_code ec;
    if (!std::filesystem::is_directory(root, ec)) continue;
    for (auto it = std::filesystem::recursive_directory_iterator(root, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
      const auto& p = it->path();
      if (p.extension() == ".svg" && p.filename().string().rfind(prefix, 0) == 0) files.push_back(p);
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

void load_or_fail_cleanly(const std::string& prefix) {
  const auto files = corpus_files(prefix);
  if (files.empty()) {
    if (testenv::corpora_required()) FAIL() << "no SVG corpus files: run tools/fetch_corpora.sh";
    GTEST_SKIP() << "the SVG corpora are not fetched (tools/fetch_corpora.sh)";
  }
  for (const auto& file : files) {
    SCOPED_TRACE(file.string());
    auto l = load(testenv::read_file(file.string()));
    if (l.ok) {
      svgtest::expect_model_invariants(*l.image);
    } else {
      EXPECT_NE(l.image->LastErrorCode(), 0);
    }
  }
}

TEST_F(SvgModel, W3CPathDataFiles) { load_or_fail_cleanly("paths-data-"); }

// Every SVG file of the corpora (W3C tests and crash fixtures).
TEST_F(SvgModel, TestCorpusFilesLoadOrFailCleanly) { load_or_fail_cleanly(""); }

}  // namespace
