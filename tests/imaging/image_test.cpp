#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bitmap_builders.h"
#include "image_test_util.h"
#include "qlm_base_array.h"
#include "qlm_image.h"

using testenv::bitmap_matches;
using testenv::bitmaps_equal;
using testenv::cTableImage;
using testenv::make_pattern;
using testenv::pixel_argb;
using testenv::TableFrame;

namespace {

class Image : public ::testing::Test {
 protected:
  void SetUp() override { qlm_bitmap_start(); }
  void TearDown() override { mem_alloc_fail_at(0); }
};

bool last_is(const cException& o, int32_t code, const char* text) {
  return o.LastErrorCode() == code && o.LastErrorText().find(text) != std::string::npos;
}

// An image of one pattern bitmap (the common bitmap after Open).
std::unique_ptr<cTableImage> pattern_image(int32_t w, int32_t h, int32_t kind = cnBitmap24BGR, uint32_t seed = 1) {
  auto image = std::make_unique<cTableImage>(std::vector<TableFrame>{{w, h, kind, seed, 0, 0}});
  EXPECT_TRUE(image->Open(nullptr));
  return image;
}

// An image that does not keep its originals when resizing.
class cReplacingImage : public cTableImage {
 public:
  using cTableImage::cTableImage;
  void DropKeepFlag() { mFlags = 0; }
};

}  // namespace

TEST_F(Image, ConstructCreateAndClose) {
  cImage empty(0, 0, 0);
  EXPECT_EQ(empty.Width(), 1u);
  EXPECT_EQ(empty.Height(), 1u);
  EXPECT_EQ(empty.Background(), 0xFF000000u);
  EXPECT_EQ(empty.Flags(), cnImageKeepOriginals);
  EXPECT_EQ(empty.FramesCount(), 0);
  EXPECT_TRUE(object_identify(&empty, id_cImage));
  EXPECT_EQ(empty.Bitmap(0), nullptr);
  EXPECT_TRUE(last_is(empty, errInvariant, "{not IsOpened}"));
  EXPECT_FALSE(empty.Open(nullptr));
  EXPECT_TRUE(last_is(empty, errAbstractCall, "{cImage.Open}"));
  EXPECT_FALSE(empty.SaveFrom(nullptr, &empty));
  EXPECT_TRUE(last_is(empty, errAbstractCall, "{cImage.SaveFrom}"));

  cImage image(200, 100, 0xFF336699u);
  ASSERT_TRUE(image.Create());
  EXPECT_FALSE(image.Create());
  EXPECT_TRUE(last_is(image, errInvariant, "{IsOpened}"));
  cBitmap* common = image.Bitmap(0);
  ASSERT_NE(common, nullptr);
  EXPECT_EQ(image.Bitmap(1), common);
  EXPECT_EQ(image.Bitmap(2), nullptr);
  EXPECT_TRUE(last_is(image, errPreCondition, "{index<>0..FramesCount}"));
  EXPECT_EQ(image.Bitmap(-1), nullptr);
  EXPECT_EQ(image.FramesCount(), 1);
  EXPECT_EQ(common->Width(), 200);
  EXPECT_EQ(common->PixelFormat(), px24BGR);
  EXPECT_TRUE(bitmap_matches(*common, [](int32_t, int32_t) { return 0xFF336699u; }));
  EXPECT_EQ(image.SpaceWidth(), 200u);

  ASSERT_TRUE(image.Close());
  EXPECT_FALSE(image.Close());
  EXPECT_TRUE(last_is(image, errInvariant, "{not IsOpened}"));
  EXPECT_EQ(image.CurrentFrame(), -1);
  EXPECT_EQ(image.SpaceWidth(), 0u);
  EXPECT_EQ(image.Width(), 200u);  // the nominal size stays
  ASSERT_TRUE(image.Create());
  EXPECT_EQ(image.Bitmap(0)->Height(), 100);

  // A failed Create leaves the image closed, not open on a bitmap without pixels.
  cImage huge(70000, 70000, 0);
  EXPECT_FALSE(huge.Create());
  EXPECT_TRUE(last_is(huge, errQLMCall, "{mCommonImageSpace.Create}"));
  EXPECT_FALSE(huge.IsOpened());
}

TEST_F(Image, ResizeStartsFromTheOriginals) {
  auto image = pattern_image(200, 100);
  cBitmap* original = image->Bitmap(0);
  auto expected100 = original->Clone(100, 50, cnResizeBilinear);
  auto expected400 = original->Clone(400, 200, cnResizeBilinear);

  // Unchanged: the one-frame list with the original as the current bitmap.
  ASSERT_TRUE(image->Resize(0, 0, 0));
  ASSERT_NE(image->Frames(), nullptr);
  EXPECT_EQ(image->CommonImageSpace(), nullptr);
  EXPECT_EQ(image->FramesCount(), 1);
  EXPECT_EQ(image->Bitmap(0), original);

  ASSERT_TRUE(image->Resize(100, 50, cnResizeBilinear));
  cBitmap* small = image->Bitmap(0);
  ASSERT_NE(small, original);
  EXPECT_TRUE(bitmaps_equal(*small, *expected100));
  EXPECT_EQ(image->Width(), 100u);
  EXPECT_EQ(image->Height(), 50u);
  EXPECT_EQ(image->SpaceWidth(), 200u);
  EXPECT_EQ(image->Frames()->Get(1)->original_bitmap, original);
  EXPECT_EQ(small->ResizeCount(), 1);
  small->Changed();
  small->Changed();

  // Resize(50 x 25) then (400 x 200) equals a direct scale of the original.
  ASSERT_TRUE(image->Resize(50, 25, cnResizeBilinear));
  EXPECT_EQ(image->Bitmap(0)->ResizeCount(), 2);
  EXPECT_EQ(image->Bitmap(0)->ChangeCount(), 2);  // the noted change count
  ASSERT_TRUE(image->Resize(400, 200, cnResizeBilinear));
  EXPECT_TRUE(bitmaps_equal(*image->Bitmap(0), *expected400));
  EXPECT_EQ(image->Bitmap(0)->ResizeCount(), 3);

  // The space's own size: unchanged (the original shows again) unless forced
  // or a crop or tiling is asked.
  ASSERT_TRUE(image->Resize(200, 100, cnResizeBilinear));
  EXPECT_EQ(image->Bitmap(0), original);
  EXPECT_EQ(image->Width(), 200u);
  ASSERT_TRUE(image->Resize(200, 100, cnResizeCrop));
  EXPECT_NE(image->Bitmap(0), original);
  EXPECT_TRUE(bitmaps_equal(*image->Bitmap(0), *original));
  ASSERT_TRUE(image->Resize(200, 100, cnImageResizeForce | cnResizeNearest));
  EXPECT_TRUE(bitmaps_equal(*image->Bitmap(0), *original));

  EXPECT_FALSE(image->Resize(0, 50, cnResizeBilinear));
  EXPECT_TRUE(last_is(*image, errPreCondition, "{width<1}"));
  EXPECT_FALSE(image->Resize(10, -1, cnResizeBilinear));
  EXPECT_TRUE(last_is(*image, errPreCondition, "{height<1}"));
  cImage closed;
  EXPECT_FALSE(closed.Resize(10, 10, 0));
  EXPECT_TRUE(last_is(closed, errInvariant, "{not IsOpened}"));
}

TEST_F(Image, FramesAreComposedOntoTheSpace) {
  // Two frames on a 6 x 5 space: one covering it, one 2 x 2 at (3, 2).
  cTableImage image({{6, 5, cnBitmap24BGR, 1, 0, 0}, {2, 2, cnBitmap32RGBA, 2, 3, 2}}, 6, 5, 0xFF0000FFu);
  ASSERT_TRUE(image.Open(nullptr));
  EXPECT_EQ(image.FramesCount(), 2);
  cBitmap* first = image.Bitmap(1);
  EXPECT_EQ(first, image.Frames()->Get(1)->original_bitmap);
  cBitmap* second = image.Bitmap(2);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(image.CurrentFrame(), 2);
  EXPECT_EQ(second, image.Frames()->Get(2)->modified_bitmap);
  const cBitmap& small = *image.Frames()->Get(2)->original_bitmap;
  EXPECT_TRUE(bitmap_matches(*second, [&](int32_t x, int32_t y) {
    return x >= 3 && x < 5 && y >= 2 && y < 4 ? pixel_argb(small, x - 3, y - 2) | 0xFF000000u : 0xFF0000FFu;
  }));
  EXPECT_EQ(image.Bitmap(0), second);

  // Resizing scales each composed frame.
  auto expected = second->Clone(12, 10, cnResizeNearest);
  ASSERT_TRUE(image.Resize(12, 10, cnResizeNearest));
  EXPECT_TRUE(bitmaps_equal(*image.Bitmap(2), *expected));
  EXPECT_EQ(image.Bitmap(1)->Width(), 12);
}

TEST_F(Image, ReplacingOriginalsLeavesSharedCopiesAlone) {
  cReplacingImage image({{8, 6, cnBitmap32BGRA, 4, 0, 0}});
  ASSERT_TRUE(image.Open(nullptr));
  image.DropKeepFlag();
  std::unique_ptr<cImage> copy(image.Clone(false));
  ASSERT_NE(copy, nullptr);
  cBitmap* shared = image.Bitmap(0);
  EXPECT_EQ(copy->Bitmap(0), shared);
  EXPECT_EQ(shared->ShareCount(), 1);
  ASSERT_TRUE(image.Resize(4, 3, cnResizeNearest));
  // The image now has a private, resized original; the copy keeps the old one.
  cBitmap* own = image.Frames()->Get(1)->original_bitmap;
  EXPECT_NE(own, shared);
  EXPECT_EQ(own->Width(), 4);
  // It no longer covers the 8 x 6 space, so it shows composed onto it.
  cBitmap* shown = image.Bitmap(0);
  ASSERT_NE(shown, nullptr);
  EXPECT_EQ(shown->Width(), 8);
  EXPECT_EQ(pixel_argb(*shown, 3, 2), pixel_argb(*own, 3, 2) | 0xFF000000u);
  EXPECT_EQ(copy->Bitmap(0), shared);
  EXPECT_EQ(shared->Width(), 8);
  EXPECT_EQ(shared->ShareCount(), 0);
}

// Lifetimes under ASan/LSan: every way of copying and destroying frees each
// bitmap exactly once.
TEST_F(Image, LifetimeTable) {
  struct Case {
    const char* name;
    std::function<void()> run;
  };
  auto framed = [] {
    auto image = pattern_image(9, 7, cnBitmap32RGBA);
    EXPECT_TRUE(image->Resize(5, 5, cnResizeBilinear));
    return image;
  };
  const Case cases[] = {
      {"shallow, copy destroyed first",
       [] {
         auto image = pattern_image(4, 4);
         std::unique_ptr<cImage> copy(image->Clone(false));
         ASSERT_NE(copy, nullptr);
         EXPECT_EQ(copy->Bitmap(0), image->Bitmap(0));
         copy.reset();
         EXPECT_EQ(image->Bitmap(0)->ShareCount(), 0);
       }},
      {"shallow, source destroyed first",
       [] {
         auto image = pattern_image(4, 4);
         std::unique_ptr<cImage> copy(image->Clone(false));
         ASSERT_NE(copy, nullptr);
         image.reset();
         EXPECT_EQ(copy->Bitmap(0)->Width(), 4);
       }},
      {"deep, both orders",
       [] {
         auto image = pattern_image(4, 4);
         std::unique_ptr<cImage> a(image->Clone(true));
         std::unique_ptr<cImage> b(image->Clone(true));
         ASSERT_NE(a, nullptr);
         EXPECT_NE(a->Bitmap(0), image->Bitmap(0));
         EXPECT_TRUE(bitmaps_equal(*a->Bitmap(0), *image->Bitmap(0)));
         a.reset();
         image.reset();
         EXPECT_EQ(b->Bitmap(0)->ShareCount(), 0);
       }},
      {"frame form, shallow",
       [&] {
         auto image = framed();
         std::unique_ptr<cImage> copy(image->Clone(false));
         ASSERT_NE(copy, nullptr);
         EXPECT_NE(copy->Frames(), image->Frames());
         EXPECT_EQ(copy->Frames()->Get(1)->original_bitmap, image->Frames()->Get(1)->original_bitmap);
         // The modified bitmap is always copied; the current one follows it.
         EXPECT_NE(copy->Bitmap(0), image->Bitmap(0));
         EXPECT_EQ(copy->Bitmap(0), copy->Frames()->Get(1)->modified_bitmap);
         EXPECT_TRUE(bitmaps_equal(*copy->Bitmap(0), *image->Bitmap(0)));
         image.reset();
         EXPECT_TRUE(copy->Resize(3, 3, cnResizeNearest));
       }},
      {"frame form, deep, source destroyed first",
       [&] {
         auto image = framed();
         std::unique_ptr<cImage> copy(image->Clone(true));
         ASSERT_NE(copy, nullptr);
         EXPECT_NE(copy->Frames()->Get(1)->original_bitmap, image->Frames()->Get(1)->original_bitmap);
         image.reset();
         EXPECT_EQ(copy->Bitmap(0)->Width(), 5);
       }},
      {"frame list from a shared common bitmap",
       [] {
         auto image = pattern_image(6, 6);
         std::unique_ptr<cImage> copy(image->Clone(false));
         ASSERT_TRUE(image->Resize(3, 3, cnResizeNearest));  // the shared bitmap moves into a frame
         ASSERT_TRUE(copy->Resize(12, 12, cnResizeNearest));
         EXPECT_EQ(image->Frames()->Get(1)->original_bitmap, copy->Frames()->Get(1)->original_bitmap);
         copy.reset();
         EXPECT_EQ(image->Frames()->Get(1)->original_bitmap->ShareCount(), 0);
       }},
      {"into a codec object, then Close and Create",
       [] {
         auto image = pattern_image(5, 3);
         auto into = std::make_unique<cTableImage>(std::vector<TableFrame>{});
         EXPECT_EQ(image->Clone(false, into.get()), into.get());
         EXPECT_TRUE(into->Close());
         EXPECT_TRUE(into->Create());
         EXPECT_EQ(into->Bitmap(0)->Width(), 5);
         EXPECT_EQ(image->Bitmap(0)->ShareCount(), 0);
         // A target that is already open is refused rather than overwritten.
         EXPECT_EQ(image->Clone(false, into.get()), nullptr);
         EXPECT_TRUE(last_is(*image, errPreCondition, "{into.IsOpened}"));
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.run();
  }
}

TEST_F(Image, ExtraBlocksAreCopiedAndFreedOnlyWithASize) {
  auto image = pattern_image(3, 3);
  ASSERT_TRUE(image->Resize(0, 0, 0));
  rBitmapFrame* frame = image->Frames()->Get(1);
  frame->extra_value1 = 11;
  frame->extra_value2 = 22;
  frame->extra_flag = 3;
  ASSERT_TRUE(mem_alloc(frame->extra_data, 4));
  std::memcpy(frame->extra_data, "abcd", 4);
  frame->extra_size = 4;
  for (bool deep : {false, true}) {
    std::unique_ptr<cImage> copy(image->Clone(deep));
    ASSERT_NE(copy, nullptr);
    const rBitmapFrame* c = copy->Frames()->Get(1);
    EXPECT_NE(c->extra_data, frame->extra_data);
    EXPECT_EQ(std::memcmp(c->extra_data, "abcd", 4), 0);
    EXPECT_EQ(c->extra_value1, 11u);
    EXPECT_EQ(c->extra_value2, 22u);
    EXPECT_EQ(c->extra_flag, 3);
  }
  // Size 0: the block is the caller's; neither copied nor freed.
  char outside[4] = {};
  auto other = pattern_image(2, 2);
  ASSERT_TRUE(other->Resize(0, 0, 0));
  other->Frames()->Get(1)->extra_data = outside;
  std::unique_ptr<cImage> copy(other->Clone(false));
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->Frames()->Get(1)->extra_data, nullptr);
  other.reset();  // would free `outside` (an ASan error) if it were freed
}

TEST_F(Image, EveryFailedAllocationOfCloneAndResize) {
  struct Op {
    const char* name;
    std::function<std::unique_ptr<cImage>()> make;
    std::function<bool(cImage&)> run;
  };
  auto common = [] { return std::unique_ptr<cImage>(pattern_image(9, 7, cnBitmap32RGBA).release()); };
  auto framed = [] {
    auto image = std::make_unique<cTableImage>(
        std::vector<TableFrame>{{8, 6, cnBitmap24RGB, 1, 0, 0}, {3, 3, cnBitmap32RGBA, 2, 2, 1}}, 8, 6);
    EXPECT_TRUE(image->Open(nullptr));
    EXPECT_TRUE(image->Resize(4, 3, cnResizeNearest));
    EXPECT_NE(image->Bitmap(2), nullptr);
    return std::unique_ptr<cImage>(image.release());
  };
  auto clone = [](bool deep) {
    return [deep](cImage& image) {
      std::unique_ptr<cImage> copy(image.Clone(deep));
      return copy != nullptr;
    };
  };
  const Op ops[] = {
      {"shallow clone, common", common, clone(false)},
      {"deep clone, common", common, clone(true)},
      {"shallow clone, frames", framed, clone(false)},
      {"deep clone, frames", framed, clone(true)},
      {"resize, common", common, [](cImage& i) { return i.Resize(20, 10, cnResizeNearest); }},
      {"resize, frames", framed, [](cImage& i) { return i.Resize(16, 12, cnResizeBilinear); }},
      {"create", [] { return std::make_unique<cImage>(5, 5, 0); }, [](cImage& i) { return i.Create(); }},
  };
  for (const Op& op : ops) {
    SCOPED_TRACE(op.name);
    auto probe = op.make();
    mem_alloc_fail_at(0);
    ASSERT_TRUE(op.run(*probe)) << probe->LastErrorText();
    const int64_t allocations = mem_alloc_count();  // 0 for a shallow copy of a common bitmap
    for (int64_t k = 1; k <= allocations; ++k) {
      SCOPED_TRACE(k);
      auto image = op.make();
      // What each frame shows before, by value.
      std::vector<std::unique_ptr<cBitmap>> before;
      for (int32_t f = 1; f <= image->FramesCount(); ++f) before.push_back(image->Bitmap(f)->Clone(0, 0, 1));
      const uint32_t width = image->Width();
      mem_alloc_fail_at(k);
      const bool ok = op.run(*image);
      mem_alloc_fail_at(0);
      EXPECT_FALSE(ok);
      EXPECT_GE(image->LastErrorCode(), errNEnoughMem);
      if (std::string(op.name).rfind("resize", 0) == 0) {
        EXPECT_EQ(image->Width(), width);
        // Every frame still answers a live bitmap (ASan would catch a freed one).
        for (int32_t f = 1; f <= image->FramesCount(); ++f) {
          cBitmap* b = image->Bitmap(f);
          ASSERT_NE(b, nullptr) << image->LastErrorText();
          EXPECT_GT(b->ColorsCount(), 0);
        }
      } else {
        for (int32_t f = 1; f <= image->FramesCount(); ++f)
          EXPECT_TRUE(bitmaps_equal(*image->Bitmap(f), *before[size_t(f - 1)]));
      }
    }
  }
}
