#include "qlm_colors.h"

void color_split_rgb(uint32_t color, uint8_t& red, uint8_t& green, uint8_t& blue) {
  red = uint8_t(color >> 16);
  green = uint8_t(color >> 8);
  blue = uint8_t(color);
}

void color_split_rgba(uint32_t color, uint8_t& red, uint8_t& green, uint8_t& blue, uint8_t& alpha) {
  color_split_rgb(color, red, green, blue);
  alpha = uint8_t(color >> 24);
}
