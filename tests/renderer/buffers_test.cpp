// The renderer's buffers (grey, grey mask, RGBA, tile) and the feeders of
// AGG converters.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "renderer_support.h"

namespace {

using testenv::RendererTest;

class BuffersTest : public RendererTest {};

// The mask's bytes over a plane rectangle, row by row (-1 outside the bounds).
std::vector<int> plane(gray8_mask_buffer& m, int x1, int y1, int x2, int y2) {
  std::vector<int> out;
  for (int y = y1; y < y2; ++y)
    for (int x = x1; x < x2; ++x) {
      const bool in = x >= m.OriginX() && x < m.X2() && y >= m.OriginY() && y < m.Y2();
      out.push_back(in ? m.row_ptr(y - m.OriginY())[x - m.OriginX()] : -1);
    }
  return out;
}

TEST_F(BuffersTest, MaskGrowsKeepingWhatItHolds) {
  gray8_mask_buffer m;
  EXPECT_FALSE(m.IsValid());
  ASSERT_TRUE(m.Grow(2, 1, 4, 3, 7));
  EXPECT_EQ(plane(m, 2, 1, 4, 3), (std::vector<int>{7, 7, 7, 7}));
  m.row_ptr(0)[0] = 9;
  // Overlapping to the left and below: old bytes stay, new ones are 0.
  ASSERT_TRUE(m.Grow(1, 2, 3, 4, 7));
  EXPECT_EQ(m.OriginX(), 1);
  EXPECT_EQ(m.OriginY(), 1);
  EXPECT_EQ(plane(m, 1, 1, 4, 4), (std::vector<int>{0, 9, 7, 0, 7, 7, 0, 0, 0}));
  EXPECT_EQ(m.AllocatedWidth(), 3);
  EXPECT_EQ(m.AllocatedHeight(), 3);
  // An empty rectangle is refused and the mask stays usable.
  EXPECT_FALSE(m.Grow(5, 5, 5, 9, 1));
  EXPECT_FALSE(m.Grow(5, 9, 6, 2, 1));
  EXPECT_TRUE(m.IsValid());
  EXPECT_EQ(plane(m, 1, 1, 4, 4), (std::vector<int>{0, 9, 7, 0, 7, 7, 0, 0, 0}));
  // A failed allocation too.
  mem_alloc_fail_at(1);
  EXPECT_FALSE(m.Grow(0, 0, 10, 10, 1));
  mem_alloc_fail_at(0);
  EXPECT_TRUE(m.IsValid());
  EXPECT_EQ(m.X2(), 4);
  m.Reset();
  EXPECT_FALSE(m.IsValid());
  EXPECT_TRUE(m.IsEmpty());
  EXPECT_EQ(m.GreyAccessor(), nullptr);
}

TEST_F(BuffersTest, MaskAndWorksOnTheTrueOverlap) {
  // The other image: 6 x 4, zero in column 4 and row 3.
  gray8_buffer other;
  ASSERT_TRUE(other.Init(6, 4, false));
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 6; ++x) other.row_ptr(y)[x] = (x == 4 || y == 3) ? 0 : 1;
  struct {
    int x1, y1, x2, y2;
    std::vector<int> expect;  // the mask after And, over its own bounds
  } cases[] = {
      {3, 2, 6, 4, {5, 0, 5, 0, 0, 0}},          // partly covered
      {-2, -1, 0, 1, {5, 5, 5, 5}},              // left of and above the image
      {6, 0, 9, 2, {5, 5, 5, 5, 5, 5}},          // wholly right of it
      {0, 4, 2, 6, {5, 5, 5, 5}},                // wholly below it
      {100000, 100000, 100002, 100001, {5, 5}},  // far away
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.x1 << "," << c.y1);
    gray8_mask_buffer m;
    ASSERT_TRUE(m.Grow(c.x1, c.y1, c.x2, c.y2, 5));
    m.And(*other.GreyAccessor());
    EXPECT_EQ(plane(m, c.x1, c.y1, c.x2, c.y2), c.expect);
  }
}

TEST_F(BuffersTest, HostileSizesFailBeforeAllocating) {
  struct {
    int32_t w, h;
  } sizes[] = {{65536, 16385}, {65536, 65536}, {2147483647, 2}, {-1, 5}, {0, 3}};
  for (const auto& s : sizes) {
    SCOPED_TRACE(testing::Message() << s.w << " x " << s.h);
    const int64_t before = mem_alloc_count();
    gray8_buffer g;
    EXPECT_FALSE(g.Init(s.w, s.h, true));
    EXPECT_FALSE(g.IsValid());
    rgba8_buffer r;
    EXPECT_FALSE(r.Init(s.w, s.h));
    gray8_mask_buffer m;
    EXPECT_FALSE(m.Grow(0, 0, s.w, s.h, 1));
    rgba8_tile t(s.w, s.h);
    if (s.w > 0 && s.h > 0) {
      EXPECT_FALSE(t.IsValid());
      EXPECT_EQ(g.LastError(), 203);
      EXPECT_EQ(r.LastError(), 203);
      EXPECT_EQ(m.LastError(), 203);
    }
    EXPECT_EQ(mem_alloc_count(), before + ((s.w > 0 && s.h > 0) ? 0 : 1));  // only the 1 x 1 tile
  }
  // A mask whose union would pass the cap keeps what it had.
  gray8_mask_buffer m;
  ASSERT_TRUE(m.Grow(-2147483647, 0, -2147483000, 1, 3));
  EXPECT_FALSE(m.Grow(2147483000, 0, 2147483647, 70000, 3));
  EXPECT_TRUE(m.IsValid());
  EXPECT_EQ(m.OriginX(), -2147483647);
}

TEST_F(BuffersTest, GreyBufferReusesItsMemory) {
  gray8_buffer g;
  ASSERT_TRUE(g.Init(8, 4, true));
  const uint8_t* memory = g.row_ptr(0);
  std::memset(g.row_ptr(0), 0xAB, 8 * 4);
  ASSERT_TRUE(g.Init(5, 3, true));
  EXPECT_EQ(g.row_ptr(0), memory);
  EXPECT_EQ(g.stride(), 8);
  EXPECT_EQ(g.row_ptr(1)[4], 0);
  EXPECT_EQ(g.row_ptr(1)[5], 0xAB);  // beyond the width: not cleared
  ASSERT_TRUE(g.Init(5, 6, false));  // taller: new memory
  EXPECT_EQ(g.AllocatedHeight(), 6);
  EXPECT_EQ(g.stride(), 5);
}

TEST_F(BuffersTest, RgbaBufferLoadsBitmapsOnce) {
  struct {
    int32_t kind;
    bool alpha;
  } kinds[] = {{cnBitmap24RGB, false}, {cnBitmap24BGR, false}, {cnBitmap32RGBA, true},
               {cnBitmap32BGRA, true}, {cnBitmap32ARGB, true}, {cnBitmap32ABGR, true}};
  for (const auto& k : kinds) {
    SCOPED_TRACE(k.kind);
    auto bitmap = testenv::make_pattern(5, 3, k.kind);
    rgba8_buffer r;
    ASSERT_TRUE(r.LoadBitmap(bitmap.get()));
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 5; ++x) {
        const uint32_t argb = testenv::pixel_argb(*bitmap, x, y);
        const uint8_t* p = r.row_ptr(y) + x * 4;
        EXPECT_EQ(color_rgba(p[0], p[1], p[2], p[3]), k.alpha ? argb : (argb | 0xFF000000u));
      }
    // Unchanged: nothing is converted (the poison stays).
    r.row_ptr(0)[0] ^= 0xFF;
    const uint8_t poisoned = r.row_ptr(0)[0];
    ASSERT_TRUE(r.LoadBitmap(bitmap.get()));
    EXPECT_EQ(r.row_ptr(0)[0], poisoned);
    // Changed: converted again.
    bitmap->Changed();
    ASSERT_TRUE(r.LoadBitmap(bitmap.get()));
    EXPECT_NE(r.row_ptr(0)[0], poisoned);
  }
  rgba8_buffer r;
  EXPECT_FALSE(r.LoadBitmap(nullptr));
  cBitmap closed;
  EXPECT_FALSE(r.LoadBitmap(&closed));
  EXPECT_FALSE(r.IsValid());
}

TEST_F(BuffersTest, RgbaBufferGrowsByEachSideAndClonesDeep) {
  rgba8_buffer r;
  ASSERT_TRUE(r.Init(8, 2));
  // Fewer bytes than the block holds, but one side longer: new memory.
  ASSERT_TRUE(r.Init(3, 4));
  EXPECT_EQ(r.AllocatedWidth(), 3);
  EXPECT_EQ(r.AllocatedHeight(), 4);
  EXPECT_EQ(r.stride(), 12);
  r.row_ptr(3)[11] = 42;
  auto copy = r.Clone();
  ASSERT_NE(copy, nullptr);
  EXPECT_NE(copy->row_ptr(3), r.row_ptr(3));
  EXPECT_EQ(copy->row_ptr(3)[11], 42);
  EXPECT_TRUE(copy->IsValid());
  r.row_ptr(3)[11] = 1;
  EXPECT_EQ(copy->row_ptr(3)[11], 42);
  mem_alloc_fail_at(1);
  EXPECT_EQ(r.Clone(), nullptr);
  mem_alloc_fail_at(0);
}

// --------------------------------------------------------------------------
// Feeders

TEST_F(BuffersTest, MarkerSourceWalksItsCommands) {
  cCustomPath start = {
      {cnPathMoveTo, 1, 2}, {cnPathLineTo, 3, 4}, {cnPathCurve3, 5, 6, 7, 8}, {cnPathCurve4, 9, 10, 11, 12, 13, 14},
      {cnPathClose},        {99, 1, 1},           {cnPathLineTo, 0, 0}};
  cCustomPath end = {{cnPathMoveTo, -1, -2}};
  marker_vertex_source src;
  src.SetStartPath(&start);
  src.SetEndPath(&end);
  struct {
    unsigned cmd;
    double x, y;
  } expect[] = {{agg::path_cmd_move_to, 1, 2},  {agg::path_cmd_line_to, 3, 4},
                {agg::path_cmd_curve3, 5, 6},   {agg::path_cmd_curve3, 7, 8},
                {agg::path_cmd_curve4, 9, 10},  {agg::path_cmd_curve4, 11, 12},
                {agg::path_cmd_curve4, 13, 14}, {0x5F, 13, 14},
                {agg::path_cmd_stop, 13, 14},   {agg::path_cmd_stop, 13, 14}};
  src.rewind(0);
  for (const auto& e : expect) {
    double x = 13, y = 14;
    const unsigned cmd = src.vertex(&x, &y);
    EXPECT_EQ(cmd, e.cmd);
    if (cmd != agg::path_cmd_stop && cmd != 0x5F) {
      EXPECT_EQ(x, e.x);
      EXPECT_EQ(y, e.y);
    }
  }
  double x = 0, y = 0;
  src.rewind(1);
  EXPECT_EQ(src.vertex(&x, &y), unsigned(agg::path_cmd_move_to));
  EXPECT_EQ(x, -1);
  src.rewind(2);  // no vertex-marker path
  EXPECT_EQ(src.vertex(&x, &y), unsigned(agg::path_cmd_stop));
  src.rewind(7);
  EXPECT_EQ(src.vertex(&x, &y), unsigned(agg::path_cmd_stop));
}

TEST_F(BuffersTest, PatternSourceReadsBitmapsWithOpacity) {
  bitmap_pattern_source plain(nullptr, 128);
  EXPECT_EQ(plain.width(), 1);
  EXPECT_EQ(plain.height(), 1);
  EXPECT_EQ(plain.pixel(0, 0).a, 128);
  plain.SetColor(agg::rgba8(1, 2, 3, 4));
  EXPECT_EQ(plain.pixel(0, 0).b, 3);

  auto bitmap = testenv::solid_bitmap(3, 2, cnBitmap32ARGB, color_rgba(10, 20, 30, 200));
  struct {
    uint8_t opacity, alpha;
  } cases[] = {{255, 200}, {128, 100}, {0, 0}, {1, 1}};  // trunc(200/255 x o/255 x 255 + 0.5)
  for (const auto& c : cases) {
    bitmap_pattern_source src(bitmap.get(), c.opacity);
    EXPECT_EQ(src.width(), 3);
    const agg::rgba8 p = src.pixel(2, 1);
    EXPECT_EQ(p.r, 10);
    EXPECT_EQ(p.g, 20);
    EXPECT_EQ(p.b, 30);
    EXPECT_EQ(p.a, c.alpha) << int(c.opacity);
  }
  auto rgb = testenv::solid_bitmap(2, 2, cnBitmap24BGR, color_rgb(5, 6, 7));
  EXPECT_EQ(bitmap_pattern_source(rgb.get(), 255).pixel(1, 1).a, 255);
}

TEST_F(BuffersTest, TintConverterCombinesAndScales) {
  const auto* table = qlm_agg::comp_op_table<agg::order_rgba>::funcs;
  // clang-format off
  struct {
    unsigned op;
    agg::rgba8 tint, in, out;
  } cases[] = {
      {0, {255, 0, 0, 255}, {10, 20, 30, 255}, {10, 20, 30, 255}},     // no operation: unchanged
      {3, {255, 0, 0, 255}, {10, 20, 30, 255}, {10, 20, 30, 255}},     // destination
      {2, {255, 0, 0, 255}, {10, 20, 30, 255}, {255, 0, 0, 255}},      // source
      {16, {255, 0, 0, 255}, {10, 20, 30, 255}, {255, 20, 30, 255}},   // screen
      {99, {0, 0, 0, 128}, {100, 200, 255, 255}, {50, 100, 127, 127}}, // alpha only: x 128 / 256
  };
  // clang-format on
  for (const auto& c : cases) {
    image_tint_converter conv(c.op, c.tint, table);
    agg::rgba8 span[2] = {c.in, c.in};
    conv.prepare();
    conv.generate(span, 0, 0, 2);
    for (const auto& s : span) {
      EXPECT_EQ(s.r, c.out.r) << c.op;
      EXPECT_EQ(s.g, c.out.g) << c.op;
      EXPECT_EQ(s.b, c.out.b) << c.op;
      EXPECT_EQ(s.a, c.out.a) << c.op;
    }
  }
}

}  // namespace
