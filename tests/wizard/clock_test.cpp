// The clock's state records: the face geometry at the status panel's
// size, the defaults the panel builds on, and digit pictures that are
// missing.
#include <gtest/gtest.h>

#include <cmath>

#include "kvn_clock.h"
#include "qlm_path.h"
#include "qlm_renderer_hittest.h"
#include "qlm_renderer_ids.h"

namespace {

TEST(Clock, FaceGeometryAtThePanelsSize) {
  qlm_renderer_start();
  rClockCommons* c = rClockCommons::New();
  ASSERT_NE(c, nullptr);
  const double D = 190 * std::sqrt(2.0);
  c->SetSize(380, D);
  const struct {
    const char* name;
    double value, expected;
  } cases[] = {
      // clang-format off
      {"ring 1", c->ring1, 32.2441},  {"ring 2", c->ring2, 20.1526},  {"ring 3", c->ring3, 64.4882},
      {"ring 4", c->ring4, 12.8976},  {"face left", c->face.x1, 55.6497}, {"face top", c->face.y1, 55.6497},
      {"face right", c->face.x2, 324.3503}, {"face bottom", c->face.y2, 324.3503},
      {"inner left", c->inner.x1, 87.8938}, {"inner top", c->inner.y1, 87.8938},
      {"inner right", c->inner.x2, 292.1062}, {"inner bottom", c->inner.y2, 292.1062},
      {"drawing left", c->drawing.x1, 87.8938}, {"drawing bottom", c->drawing.y2, 292.1062},
      // clang-format on
  };
  for (const auto& tc : cases) EXPECT_NEAR(tc.value, tc.expected, 1e-4) << tc.name;
  // The outlines lie inside the clock square, the crescent within the
  // face's circle plus its move.
  ASSERT_NE(c->outline1, nullptr);
  ASSERT_NE(c->outline2, nullptr);
  for (cPath* p : {c->outline1.get(), c->outline2.get()}) {
    const rPathBounds& b = p->GetBounds();
    EXPECT_GT(b.x2 - b.x1, 50);
    EXPECT_GT(b.y2 - b.y1, 20);
    EXPECT_GE(b.x1, 0);
    EXPECT_GE(b.y1, 0);
    EXPECT_LE(b.x2, 380);
    EXPECT_LE(b.y2, 380);
  }
  ASSERT_NE(c->faceGradient, nullptr);
  // A second call replaces the geometry.
  c->SetSize(200, 100);
  EXPECT_DOUBLE_EQ(c->face.x1, 50);
  EXPECT_DOUBLE_EQ(c->inner.x2, 50 + 12 + 100 - 24);
  rClockCommons::Free(c);
  EXPECT_EQ(c, nullptr);
  rClockCommons::Free(c);  // nil is ignored
}

TEST(Clock, DefaultsAndMissingDigits) {
  qlm_renderer_start();
  rClockCommons* c = rClockCommons::New();
  ASSERT_NE(c, nullptr);
  // No digit files in the test's folder: every picture is nil, width 0.
  for (const auto& d : c->digits) EXPECT_EQ(d, nullptr);
  EXPECT_EQ(c->digitWidth, 0);
  for (const auto& h : c->hits) {
    ASSERT_NE(h, nullptr);
    EXPECT_TRUE(h->IsHitInterior());
  }
  EXPECT_EQ(c->style.name, "Default");
  EXPECT_EQ(c->style.colors[11], 0xFF008000u);
  EXPECT_EQ(c->style.colors[14], 0x96000000u);
  EXPECT_EQ(c->style.fonts[1].size, 30);
  EXPECT_EQ(c->settings.flags2[4], 0);
  EXPECT_EQ(c->settings.numbers4[1], 7);
  EXPECT_EQ(c->geometry[7], -1.0);
  c->style.Finalize();
  EXPECT_TRUE(c->style.name.empty());
  rClockCommons::Free(c);
}

}  // namespace
