// Path groups: recording while drawing, replaying against direct drawing,
// the bounds cache, capture lifetime, clipping to a group and freeing.
#include <gtest/gtest.h>

#include <chrono>
#include <limits>
#include <vector>

#include "qlm_base_util.h"
#include "qlm_renderer_engine.h"
#include "renderer_support.h"

namespace {

using testenv::RendererTest;

class cGroupProbe : public cRendererSurface {
 public:
  void Draw(agg::path_storage& p, uint8_t mode, double x = 0, double y = 0) {
    SetCurrentPath(&p, x, y);
    RenderPath(mode, nullptr, true, true, nullptr);
    SetCurrentPath(nullptr, 0, 0);
  }
};

struct Scene {
  explicit Scene(int w = 40, int h = 36) : bitmap(testenv::solid_bitmap(w, h, cnBitmap32BGRA, 0xFF102030u)) {
    EXPECT_TRUE(surface.Attach(bitmap.get(), true));
    EXPECT_TRUE(r.AttachSurface(&surface));
    r.SetFillColor(renderer_color(250, 240, 10, 255));
    r.SetPenColor(renderer_color(0, 90, 200, 255));
  }
  std::vector<uint8_t> Bytes() const {
    return std::vector<uint8_t>(bitmap->Data(), bitmap->Data() + int64_t(bitmap->Stride()) * bitmap->Height());
  }
  std::unique_ptr<cBitmap> bitmap;
  cSurfaceBitmap surface;
  cGroupProbe r;
};

agg::path_storage square(double x1, double y1, double x2, double y2) {
  agg::path_storage p;
  p.move_to(x1, y1);
  p.line_to(x2, y1);
  p.line_to(x2, y2);
  p.line_to(x1, y2);
  p.close_polygon();
  return p;
}

class PathGroupTest : public RendererTest {};

// Asked mode x fill x pen -> recorded mode; capture-only paints nothing.
TEST_F(PathGroupTest, RecordingTable) {
  struct Case {
    uint8_t asked;
    bool fill, pen;
    int32_t mode;
  };
  const Case cases[] = {
      {1, true, true, 1}, {1, true, false, 1}, {1, false, true, 0}, {1, false, false, 0},
      {2, true, true, 2}, {2, true, false, 0}, {2, false, true, 2}, {2, false, false, 0},
      {3, true, true, 3}, {3, true, false, 1}, {3, false, true, 2}, {3, false, false, 0},
  };
  Scene s;
  cPathGroup g;
  ASSERT_TRUE(s.r.SetCaptureGroup(&g, true));
  const std::vector<uint8_t> before = s.Bytes();
  agg::path_storage p;
  p.move_to(3, 4);
  p.curve4(10, 2, 20, 30, 25, 8);
  p.line_to(5, 20);
  p.close_polygon();
  for (const Case& c : cases) {
    // clang-format off
    if (c.fill) s.r.FillSolid(); else s.r.FillOff();
    if (c.pen) s.r.PenSolid(); else s.r.PenOff();
    // clang-format on
    s.r.Draw(p, c.asked, 7, 9);
  }
  EXPECT_EQ(s.Bytes(), before) << "capture-only drew";
  ASSERT_EQ(g.Count(), std::size(cases));
  rPathGroupEntry* e = g.First();
  for (const Case& c : cases) {
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->mMode, c.mode) << int(c.asked) << c.fill << c.pen;
    EXPECT_EQ(e->mAtX, 7);
    EXPECT_EQ(e->mAtY, 9);
    EXPECT_EQ(e->mSource, &e->mPath);
    // The input path itself, curve commands included.
    ASSERT_EQ(e->mPath.total_vertices(), p.total_vertices());
    for (unsigned i = 0; i < p.total_vertices(); ++i) {
      double ax, ay, bx, by;
      EXPECT_EQ(e->mPath.vertex(i, &ax, &ay), p.vertex(i, &bx, &by));
      EXPECT_EQ(ax, bx);
      EXPECT_EQ(ay, by);
    }
    e = e->mNext;
  }
  // Without capture-only the shape is drawn and recorded.
  s.r.FillSolid();
  s.r.PenSolid();
  ASSERT_TRUE(s.r.SetCaptureGroup(&g, false));
  s.r.Draw(p, 3);
  EXPECT_EQ(g.Count(), std::size(cases) + 1);
  EXPECT_NE(s.Bytes(), before);
}

// A replayed filled and stroked rectangle equals drawing it directly, byte
// for byte, at its own place and moved; a hit test sees the same shape.
TEST_F(PathGroupTest, ReplayEqualsDirectDrawing) {
  struct Case {
    double x, y;    // replay position
    double rx, ry;  // where the direct drawing puts the rectangle
    bool under_fill;
  };
  const Case cases[] = {
      {0, 0, 2, 2, false}, {10, 20, 10, 20, false}, {10, 20, 10, 20, true}, {3.5, 7.25, 3.5, 7.25, false}};
  for (const Case& c : cases) {
    cPathGroup g;
    Scene a, b;
    for (Scene* s : {&a, &b}) {
      s->r.SetPenWidth(1.5);
      s->r.SetPenUnderFill(c.under_fill);
    }
    ASSERT_TRUE(a.r.SetCaptureGroup(&g, true));
    a.r.DrawRectangle(nullptr, 2, 2, 6, 6);
    a.r.ClearCaptureGroup();
    ASSERT_EQ(g.Count(), 1u);
    cHitTest ha, hb;
    a.r.DrawPathGroup(&g, &ha, c.x, c.y);
    b.r.DrawRectangle(&hb, c.rx, c.ry, c.rx + 4, c.ry + 4);
    EXPECT_EQ(a.Bytes(), b.Bytes()) << c.x << "," << c.y;
    for (int y = 0; y < 36; ++y)
      for (int x = 0; x < 40; ++x) ASSERT_EQ(ha.HitTestInt(x, y), hb.HitTestInt(x, y)) << x << "," << y;
  }
}

// An entry drawn at a position replays where it was drawn (one entry), and
// the pen outside device space gives the same picture through the replay
// copy, also under a transformation.
TEST_F(PathGroupTest, DrawPositionAndReplayCopy) {
  for (bool device_space : {true, false}) {
    cPathGroup g;
    Scene a, b;
    for (Scene* s : {&a, &b}) {
      s->r.SetPenDeviceSpace(device_space);
      s->r.Rotate(10);
      s->r.Scale(1.2, 0.9);
    }
    agg::path_storage p = square(0, 0, 9, 5);
    cPath path;
    path.GetStorage().concat_path(p);
    ASSERT_TRUE(a.r.SetCaptureGroup(&g, true));
    a.r.DrawPath(&path, nullptr, 15, 12);
    a.r.ClearCaptureGroup();
    a.r.DrawPathGroup(&g, nullptr, 0, 0);
    b.r.DrawPath(&path, nullptr, 15, 12);
    EXPECT_EQ(a.Bytes(), b.Bytes()) << device_space;
    rPathGroupEntry* e = g.First();
    EXPECT_EQ(e->mSource, device_space ? &e->mPath : &e->mReplayPath);
    EXPECT_EQ(e->mOffsetX, 15);
    EXPECT_EQ(e->mOffsetY, 12);
    // A second replay at the same place draws the same again (the offset is
    // not applied twice).
    a.r.DrawPathGroup(&g, nullptr, 0, 0);
    b.r.DrawPath(&path, nullptr, 15, 12);
    EXPECT_EQ(a.Bytes(), b.Bytes()) << device_space;
  }
}

TEST_F(PathGroupTest, BoundsUnionAndCache) {
  cPathGroup g;
  rRectD b;
  g.GetBounds(b);
  EXPECT_EQ(b.x1, 0);
  EXPECT_EQ(b.x2, 0);
  g.Append();  // no vertices: no bounds
  g.GetBounds(b);
  EXPECT_EQ(b.x1, 0);
  EXPECT_EQ(b.y2, 0);
  // The all-zero answer is cached: a path added behind the group's back is
  // not seen until the next Append.
  agg::path_storage s1 = square(1, 1, 2, 2);
  g.First()->mPath.concat_path(s1);
  g.GetBounds(b);
  EXPECT_EQ(b.x2, 0);
  rPathGroupEntry* e = g.Append();
  agg::path_storage s2 = square(-3, 4, 5, 9);
  e->mPath.concat_path(s2);
  g.GetBounds(b);
  EXPECT_EQ(b.x1, -3);
  EXPECT_EQ(b.y1, 1);
  EXPECT_EQ(b.x2, 5);
  EXPECT_EQ(b.y2, 9);
  EXPECT_TRUE(g.First()->mBoundsValid);
}

TEST_F(PathGroupTest, CaptureLifetime) {
  Scene s;
  cPathGroup g, other;
  EXPECT_FALSE(s.r.SetCaptureGroup(nullptr, true));
  EXPECT_EQ(s.r.GetCaptureGroup(), nullptr);
  ASSERT_TRUE(s.r.SetCaptureGroup(&g, true));
  EXPECT_FALSE(s.r.SetCaptureGroup(nullptr, false));  // refused: the old state stays
  EXPECT_EQ(s.r.GetCaptureGroup(), &g);
  EXPECT_TRUE(s.r.IsCaptureOnly());
  s.r.DrawRectangle(nullptr, 2, 2, 12, 12);
  ASSERT_EQ(g.Count(), 1u);
  // Replaying the capturing group draws it (capture-only does not apply) and
  // appends nothing.
  const std::vector<uint8_t> before = s.Bytes();
  s.r.DrawPathGroup(&g, nullptr, 0, 0);
  EXPECT_EQ(g.Count(), 1u);
  EXPECT_NE(s.Bytes(), before);
  s.r.ClearCaptureGroup();
  EXPECT_EQ(s.r.GetCaptureGroup(), nullptr);
  EXPECT_TRUE(s.r.IsCaptureOnly());
  ASSERT_TRUE(s.r.SetCaptureGroup(&other, true));
  EXPECT_TRUE(s.r.AttachSurface(&s.surface));
  EXPECT_EQ(s.r.GetCaptureGroup(), nullptr);
  EXPECT_FALSE(s.r.IsCaptureOnly());
  s.r.DrawRectangle(nullptr, 2, 2, 12, 12);
  EXPECT_EQ(other.Count(), 0u);
  // Nil groups and entries without vertices draw nothing.
  s.r.DrawPathGroup(nullptr, nullptr, 0, 0);
  cPathGroup empty;
  empty.Append();
  const std::vector<uint8_t> now = s.Bytes();
  s.r.DrawPathGroup(&empty, nullptr, 5, 5);
  EXPECT_EQ(s.Bytes(), now);
}

// A group that cannot grow gets no entry: with capture-only nothing is drawn,
// without it the drawing goes on.
TEST_F(PathGroupTest, GroupThatCannotGrow) {
  for (bool only : {true, false}) {
    Scene s;
    cPathGroup g;
    ASSERT_TRUE(s.r.SetCaptureGroup(&g, only));
    const std::vector<uint8_t> before = s.Bytes();
    mem_alloc_fail_at(1, true);
    s.r.DrawRectangle(nullptr, 2, 2, 12, 12);
    mem_alloc_fail_at(0);
    EXPECT_EQ(g.Count(), 0u);
    EXPECT_EQ(s.Bytes() == before, only);
  }
}

// The control kit's clip: a rounded rectangle captured with capture-only,
// then clipped to; equals clipping to the same path.
TEST_F(PathGroupTest, ClipToGroupEqualsClipToPath) {
  Scene a, b;
  cPathGroup g;
  ASSERT_TRUE(a.r.SetCaptureGroup(&g, true));
  a.r.DrawRoundRect(nullptr, 4.5, 3, 30, 25, 6);
  a.r.ClearCaptureGroup();
  a.r.ClipPathGroup(&g, 0, 0);
  cPath path;
  path.GetStorage().concat_path(g.First()->mPath);
  b.r.ClipPath(&path, 0, 0);
  for (Scene* s : {&a, &b}) {
    s->r.PenOff();
    s->r.DrawRectangle(nullptr, 0, 0, 40, 36);
    s->r.ClipOff();
  }
  EXPECT_EQ(a.Bytes(), b.Bytes());
  // Clipped to the group moved to (10, 10): the same as the path moved there.
  Scene c, d;
  c.r.ClipPathGroup(&g, 10, 10);
  d.r.ClipPath(&path, 10 - 4.5, 10 - 3);
  for (Scene* s : {&c, &d}) {
    s->r.PenOff();
    s->r.DrawRectangle(nullptr, 0, 0, 40, 36);
    s->r.ClipOff();
  }
  EXPECT_EQ(c.Bytes(), d.Bytes());
  c.r.ClipPathGroup(nullptr, 0, 0);  // ignored
}

// A group records paths the drawing then refuses (a line to a NaN or an
// infinite end): as clip shapes they take no part in the mask, and neither
// does such a cPath (they once overflowed AGG's integer cells and took
// seconds).
TEST_F(PathGroupTest, ClipShapesThatCannotBePlaced) {
  const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
  Scene want, grouped, pathed;
  cPathGroup g, good;
  for (cPathGroup* group : {&g, &good}) {
    ASSERT_TRUE(grouped.r.SetCaptureGroup(group, true));
    grouped.r.DrawRectangle(nullptr, 4, 3, 30, 25);
    if (group == &g) {
      grouped.r.DrawLine(nullptr, 0, 0, nan, 3);
      grouped.r.DrawLine(nullptr, 2, 2, inf, 30);
    }
    grouped.r.ClearCaptureGroup();
  }
  ASSERT_EQ(g.Count(), 3u);
  want.r.ClipPathGroup(&good, 0, 0);
  grouped.r.ClipPathGroup(&g, 0, 0);
  cPath hostile;
  hostile.MoveTo(0, 0);
  hostile.LineTo(nan, 3);
  hostile.LineTo(0, 5);
  pathed.r.ClipPathGroup(&good, 0, 0);
  pathed.r.ClipPath(&hostile, 0, 0);
  const auto t0 = std::chrono::steady_clock::now();
  for (Scene* s : {&want, &grouped, &pathed}) {
    s->r.PenOff();
    s->r.DrawRectangle(nullptr, 0, 0, 40, 36);
    s->r.ClipOff();
  }
  // A bound for the hang the fault was (seconds of work for a few pixels),
  // far above any scheduling pause; the benches measure the speed.
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(3));
  EXPECT_EQ(grouped.Bytes(), want.Bytes());
  EXPECT_EQ(pathed.Bytes(), want.Bytes());
}

// Entries own AGG path storages and a curve converter that points into the
// entry: thousands of them, across pool blocks, freed by RemoveAll, Clear
// and destruction (the sanitizer build checks nothing leaks or dangles).
TEST_F(PathGroupTest, ManyEntriesFreedClean) {
  auto g = std::make_unique<cPathGroup>();
  auto fill = [&](int n) {
    for (int i = 0; i < n; ++i) {
      rPathGroupEntry* e = g->Append();
      ASSERT_NE(e, nullptr);
      agg::path_storage p = square(i, 0, i + 1 + i % 7, 3);
      e->mPath.concat_path(p);
      e->mReplayPath.concat_path(p);
    }
  };
  fill(2000);
  ASSERT_EQ(g->Count(), 2000u);
  ASSERT_GT(uint64_t(g->Count()) * cArray::StrideOf(g->Entries().EntrySize()), g->Entries().PoolBlockBytes());
  rRectD b;
  g->GetBounds(b);
  EXPECT_EQ(b.x2, 1999 + 1 + 1999 % 7);
  // Entries never moved: each curve converter still reads its own path.
  int n = 0;
  for (rPathGroupEntry* e = g->First(); e != nullptr; e = e->mNext, ++n) ASSERT_EQ(e->mBounds.x1, n);
  EXPECT_TRUE(g->Entries().RemoveAll());
  fill(2000);
  g->Clear();
  fill(2000);
  g.reset();
}

}  // namespace
