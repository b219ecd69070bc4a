#include <gtest/gtest.h>

#include "qlm_colors.h"

TEST(Colors, PackAndSplit) {
  struct Case {
    uint8_t r, g, b, a;
    uint32_t value;
  };
  const Case cases[] = {
      {0x12, 0x34, 0x56, 0x78, 0x78123456u},
      {0xFF, 0x00, 0x80, 0xFF, 0xFFFF0080u},
      {0x00, 0x00, 0x00, 0x00, rgb_none},
      {0xFF, 0xFF, 0xFF, 0x01, 0x01FFFFFFu},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(color_rgba(c.r, c.g, c.b, c.a), c.value);
    EXPECT_EQ(color_rgb(c.r, c.g, c.b), c.value | 0xFF000000u);
    uint8_t r = 1, g = 1, b = 1, a = 1;
    color_split_rgba(c.value, r, g, b, a);
    EXPECT_EQ(r, c.r);
    EXPECT_EQ(g, c.g);
    EXPECT_EQ(b, c.b);
    EXPECT_EQ(a, c.a);
    r = g = b = 7;
    color_split_rgb(c.value | 0xAB000000u, r, g, b);  // alpha ignored
    EXPECT_EQ(r, c.r);
    EXPECT_EQ(g, c.g);
    EXPECT_EQ(b, c.b);
  }
}

TEST(Colors, AlphaAndByteOrder) {
  EXPECT_EQ(color_set_alpha(0x00F0F8FFu, 255), 0xFFF0F8FFu);
  EXPECT_EQ(color_set_alpha(0xFF123456u, 0), 0x00123456u);
  EXPECT_EQ(color_swap_rb(0x80112233u), 0x80332211u);
  EXPECT_EQ(color_swap_rb(color_swap_rb(0xA1B2C3D4u)), 0xA1B2C3D4u);
  EXPECT_EQ(color_swap_rb(0xFF00FF00u), 0xFF00FF00u);
}
