// The framework's pixel formats: codes 1 to 187 with their names and the
// geometry record of each, the channel orders of the six formats whose pixels
// the bitmap operations read and write, and the row-stride rule.
//
// Only the 24-bit RGB/BGR and 32-bit RGBA/BGRA/ARGB/ABGR formats hold pixels
// that anything reads or writes; the other codes are names with a geometry
// that follows the name (bits per channel from the number or the channel
// sizes in the name; a "T" channel is one bit in a slot as wide as the
// others; a "W" channel is an unused slot).
#pragma once

#include <cstdint>

// The geometry of one pixel format. The name is NUL-terminated.
struct rPixelGeometry {
  uint8_t pixel_format = 0;  // the code; 0 = no format
  char name[24] = {};
  uint8_t channels = 0;
  uint8_t bits_per_channel = 0;
  uint8_t bits_per_pixel = 0;  // bits that carry information
  uint8_t unused_bits = 0;     // padding bits inside a pixel
  uint8_t extra_bits = 0;      // bits per pixel shared by a group (subsampled chroma, exponent)
  uint8_t bytes_per_group = 0;
  uint8_t pixels_per_group = 0;
  uint8_t row_alignment = 0;  // rows padded to a multiple of this many bytes; 0 none
};

// The format codes.
constexpr uint8_t px1BW = 1;
constexpr uint8_t px1T = 2;
constexpr uint8_t px1LUT = 3;
constexpr uint8_t px2LUT = 4;
constexpr uint8_t px3RGB = 5;
constexpr uint8_t px3BGR = 6;
constexpr uint8_t px4RGBI = 7;
constexpr uint8_t px4BGRI = 8;
constexpr uint8_t px4IRGB = 9;
constexpr uint8_t px4IBGR = 10;
constexpr uint8_t px4LUT = 11;
constexpr uint8_t px6RGB = 12;
constexpr uint8_t px6BGR = 13;
constexpr uint8_t px8GRAY = 14;
constexpr uint8_t px8A = 15;
constexpr uint8_t px8T = 16;
constexpr uint8_t px8YUV_4_0_0 = 17;
constexpr uint8_t px8LUT = 18;
constexpr uint8_t px9RGB = 19;
constexpr uint8_t px9BGR = 20;
constexpr uint8_t px12RGB = 21;
constexpr uint8_t px12BGR = 22;
constexpr uint8_t px12YUV_4_2_0 = 23;
constexpr uint8_t px16GRAY = 24;
constexpr uint8_t px16GRAY_Fix16 = 25;
constexpr uint8_t px16GRAY_Half = 26;
constexpr uint8_t px16A = 27;
constexpr uint8_t px16A_Fix16 = 28;
constexpr uint8_t px16A_Half = 29;
constexpr uint8_t px16GRAYA = 30;
constexpr uint8_t px16AGRAY = 31;
constexpr uint8_t px16GRAYT = 32;
constexpr uint8_t px16TGRAY = 33;
constexpr uint8_t px16RGB_5_5_5 = 34;
constexpr uint8_t px16BGR_5_5_5 = 35;
constexpr uint8_t px16RGB_5_6_5 = 36;
constexpr uint8_t px16BGR_5_6_5 = 37;
constexpr uint8_t px16YUV_4_2_2 = 38;
constexpr uint8_t px16RGBA_4_4_4_4 = 39;
constexpr uint8_t px16BGRA_4_4_4_4 = 40;
constexpr uint8_t px16ARGB_4_4_4_4 = 41;
constexpr uint8_t px16ABGR_4_4_4_4 = 42;
constexpr uint8_t px16RGBT_4_4_4_1 = 43;
constexpr uint8_t px16BGRT_4_4_4_1 = 44;
constexpr uint8_t px16TRGB_1_4_4_4 = 45;
constexpr uint8_t px16TBGR_1_4_4_4 = 46;
constexpr uint8_t px16RGBT_5_5_5_1 = 47;
constexpr uint8_t px16BGRT_5_5_5_1 = 48;
constexpr uint8_t px16TRGB_1_5_5_5 = 49;
constexpr uint8_t px16TBGR_1_5_5_5 = 50;
constexpr uint8_t px18RGB = 51;
constexpr uint8_t px18BGR = 52;
constexpr uint8_t px24RGB = 53;
constexpr uint8_t px24BGR = 54;
constexpr uint8_t px24YUV_4_4_4 = 55;
constexpr uint8_t px32GRAY = 56;
constexpr uint8_t px32GRAY_Fix32 = 57;
constexpr uint8_t px32GRAY_Float = 58;
constexpr uint8_t px32A = 59;
constexpr uint8_t px32A_Fix32 = 60;
constexpr uint8_t px32A_Float = 61;
constexpr uint8_t px32RGBW = 62;
constexpr uint8_t px32BGRW = 63;
constexpr uint8_t px32RGB_10_10_10 = 64;
constexpr uint8_t px32BGR_10_10_10 = 65;
constexpr uint8_t px32RGBE_Half = 66;
constexpr uint8_t px32BGRE_Half = 67;
constexpr uint8_t px32ERGB_Half = 68;
constexpr uint8_t px32EBGR_Half = 69;
constexpr uint8_t px32RGBA_10_10_10_2 = 70;
constexpr uint8_t px32BGRA_10_10_10_2 = 71;
constexpr uint8_t px32ARGB_2_10_10_10 = 72;
constexpr uint8_t px32ABGR_2_10_10_10 = 73;
constexpr uint8_t px32RGBT_10_10_10_1 = 74;
constexpr uint8_t px32BGRT_10_10_10_1 = 75;
constexpr uint8_t px32TRGB_1_10_10_10 = 76;
constexpr uint8_t px32TBGR_1_10_10_10 = 77;
constexpr uint8_t px32RGBA = 78;
constexpr uint8_t px32BGRA = 79;
constexpr uint8_t px32ARGB = 80;
constexpr uint8_t px32ABGR = 81;
constexpr uint8_t px32RGBT = 82;
constexpr uint8_t px32BGRT = 83;
constexpr uint8_t px32TRGB = 84;
constexpr uint8_t px32TBGR = 85;
constexpr uint8_t px32CMYK = 86;
constexpr uint8_t px32AYUV_4_4_4 = 87;
constexpr uint8_t px32YUVA_4_4_4 = 88;
constexpr uint8_t px36RGB = 89;
constexpr uint8_t px36BGR = 90;
constexpr uint8_t px40CMYKA = 91;
constexpr uint8_t px40ACMYK = 92;
constexpr uint8_t px40CMYKT = 93;
constexpr uint8_t px40TCMYK = 94;
constexpr uint8_t px48RGB = 95;
constexpr uint8_t px48BGR = 96;
constexpr uint8_t px48RGB_Fix16 = 97;
constexpr uint8_t px48BGR_Fix16 = 98;
constexpr uint8_t px48RGB_Half = 99;
constexpr uint8_t px48BGR_Half = 100;
constexpr uint8_t px48RGBA = 101;
constexpr uint8_t px48BGRA = 102;
constexpr uint8_t px48ARGB = 103;
constexpr uint8_t px48ABGR = 104;
constexpr uint8_t px48RGBT = 105;
constexpr uint8_t px48BGRT = 106;
constexpr uint8_t px48TRGB = 107;
constexpr uint8_t px48TBGR = 108;
constexpr uint8_t px64RGBA = 109;
constexpr uint8_t px64BGRA = 110;
constexpr uint8_t px64ARGB = 111;
constexpr uint8_t px64ABGR = 112;
constexpr uint8_t px64RGBT = 113;
constexpr uint8_t px64BGRT = 114;
constexpr uint8_t px64TRGB = 115;
constexpr uint8_t px64TBGR = 116;
constexpr uint8_t px64RGBA_Fix16 = 117;
constexpr uint8_t px64BGRA_Fix16 = 118;
constexpr uint8_t px64ARGB_Fix16 = 119;
constexpr uint8_t px64ABGR_Fix16 = 120;
constexpr uint8_t px64RGBT_Fix16 = 121;
constexpr uint8_t px64BGRT_Fix16 = 122;
constexpr uint8_t px64TRGB_Fix16 = 123;
constexpr uint8_t px64TBGR_Fix16 = 124;
constexpr uint8_t px64RGBA_Half = 125;
constexpr uint8_t px64BGRA_Half = 126;
constexpr uint8_t px64ARGB_Half = 127;
constexpr uint8_t px64ABGR_Half = 128;
constexpr uint8_t px64RGBT_Half = 129;
constexpr uint8_t px64BGRT_Half = 130;
constexpr uint8_t px64TRGB_Half = 131;
constexpr uint8_t px64TBGR_Half = 132;
constexpr uint8_t px64CMYK = 133;
constexpr uint8_t px80CMYKA = 134;
constexpr uint8_t px80ACMYK = 135;
constexpr uint8_t px80CMYKT = 136;
constexpr uint8_t px80TCMYK = 137;
constexpr uint8_t px96RGB = 138;
constexpr uint8_t px96BGR = 139;
constexpr uint8_t px96RGB_Fix32 = 140;
constexpr uint8_t px96BGR_Fix32 = 141;
constexpr uint8_t px96RGB_Float = 142;
constexpr uint8_t px96BGR_Float = 143;
constexpr uint8_t px96PixelHLS = 144;
constexpr uint8_t px96PixelHSV = 145;
constexpr uint8_t px96PixelXYZ = 146;
constexpr uint8_t px96PixelLab = 147;
constexpr uint8_t px96PixelYUV = 148;
constexpr uint8_t px96PixelYCbCr = 149;
constexpr uint8_t px96PixelHLSA = 150;
constexpr uint8_t px96PixelHSVA = 151;
constexpr uint8_t px96PixelXYZA = 152;
constexpr uint8_t px96PixelLabA = 153;
constexpr uint8_t px96PixelYUVA = 154;
constexpr uint8_t px96PixelYCbCrA = 155;
constexpr uint8_t px128RGBW = 156;
constexpr uint8_t px128BGRW = 157;
constexpr uint8_t px128RGBW_Fix32 = 158;
constexpr uint8_t px128BGRW_Fix32 = 159;
constexpr uint8_t px128RGBW_Float = 160;
constexpr uint8_t px128BGRW_Float = 161;
constexpr uint8_t px128RGBA = 162;
constexpr uint8_t px128BGRA = 163;
constexpr uint8_t px128ARGB = 164;
constexpr uint8_t px128ABGR = 165;
constexpr uint8_t px128RGBT = 166;
constexpr uint8_t px128BGRT = 167;
constexpr uint8_t px128TRGB = 168;
constexpr uint8_t px128TBGR = 169;
constexpr uint8_t px128RGBA_Fix32 = 170;
constexpr uint8_t px128BGRA_Fix32 = 171;
constexpr uint8_t px128ARGB_Fix32 = 172;
constexpr uint8_t px128ABGR_Fix32 = 173;
constexpr uint8_t px128RGBT_Fix32 = 174;
constexpr uint8_t px128BGRT_Fix32 = 175;
constexpr uint8_t px128TRGB_Fix32 = 176;
constexpr uint8_t px128TBGR_Fix32 = 177;
constexpr uint8_t px128RGBA_Float = 178;
constexpr uint8_t px128BGRA_Float = 179;
constexpr uint8_t px128ARGB_Float = 180;
constexpr uint8_t px128ABGR_Float = 181;
constexpr uint8_t px128RGBT_Float = 182;
constexpr uint8_t px128BGRT_Float = 183;
constexpr uint8_t px128TRGB_Float = 184;
constexpr uint8_t px128TBGR_Float = 185;
constexpr uint8_t px128PixelCMYK = 186;
constexpr uint8_t px136PixelCMYKA = 187;
constexpr uint8_t cnPixelFormatLast = px136PixelCMYKA;

// One record per code, indexed by the code; entry 0 is the empty record.
// Code 20 is the BGR twin of code 19 (same geometry).
inline constexpr rPixelGeometry cnPixelFormats[cnPixelFormatLast + 1] = {
    {},
    {1, "px1BW", 1, 1, 1, 0, 0, 1, 8, 0},
    {2, "px1T", 1, 1, 1, 0, 0, 1, 8, 0},
    {3, "px1LUT", 1, 1, 1, 0, 0, 1, 8, 0},
    {4, "px2LUT", 1, 2, 2, 0, 0, 1, 4, 0},
    {5, "px3RGB", 3, 1, 3, 0, 0, 1, 2, 0},
    {6, "px3BGR", 3, 1, 3, 0, 0, 1, 2, 0},
    {7, "px4RGBI", 4, 1, 4, 0, 0, 1, 2, 0},
    {8, "px4BGRI", 4, 1, 4, 0, 0, 1, 2, 0},
    {9, "px4IRGB", 4, 1, 4, 0, 0, 1, 2, 0},
    {10, "px4IBGR", 4, 1, 4, 0, 0, 1, 2, 0},
    {11, "px4LUT", 1, 4, 4, 0, 0, 1, 2, 0},
    {12, "px6RGB", 3, 2, 6, 0, 0, 3, 4, 0},
    {13, "px6BGR", 3, 2, 6, 0, 0, 3, 4, 0},
    {14, "px8GRAY", 1, 8, 8, 0, 0, 1, 1, 0},
    {15, "px8A", 1, 8, 8, 0, 0, 1, 1, 0},
    {16, "px8T", 1, 1, 8, 7, 0, 1, 1, 0},
    {17, "px8YUV_4_0_0", 3, 8, 8, 0, 0, 4, 4, 0},
    {18, "px8LUT", 1, 8, 8, 0, 0, 1, 1, 0},
    {19, "px9RGB", 3, 3, 9, 7, 0, 2, 1, 0},
    {20, "px9BGR", 3, 3, 9, 7, 0, 2, 1, 0},
    {21, "px12RGB", 3, 4, 12, 4, 0, 2, 1, 0},
    {22, "px12BGR", 3, 4, 12, 4, 0, 2, 1, 0},
    {23, "px12YUV_4_2_0", 3, 8, 12, 0, 4, 6, 4, 4},
    {24, "px16GRAY", 1, 16, 16, 0, 0, 2, 1, 0},
    {25, "px16GRAY_Fix16", 1, 16, 16, 0, 0, 2, 1, 0},
    {26, "px16GRAY_Half", 1, 16, 16, 0, 0, 2, 1, 0},
    {27, "px16A", 1, 16, 16, 0, 0, 2, 1, 0},
    {28, "px16A_Fix16", 1, 16, 16, 0, 0, 2, 1, 0},
    {29, "px16A_Half", 1, 16, 16, 0, 0, 2, 1, 0},
    {30, "px16GRAYA", 2, 8, 16, 0, 0, 2, 1, 0},
    {31, "px16AGRAY", 2, 8, 16, 0, 0, 2, 1, 0},
    {32, "px16GRAYT", 2, 8, 9, 7, 0, 2, 1, 0},
    {33, "px16TGRAY", 2, 8, 9, 7, 0, 2, 1, 0},
    {34, "px16RGB_5_5_5", 3, 5, 15, 1, 0, 2, 1, 0},
    {35, "px16BGR_5_5_5", 3, 5, 15, 1, 0, 2, 1, 0},
    {36, "px16RGB_5_6_5", 3, 6, 16, 0, 0, 2, 1, 0},
    {37, "px16BGR_5_6_5", 3, 6, 16, 0, 0, 2, 1, 0},
    {38, "px16YUV_4_2_2", 3, 8, 16, 0, 8, 8, 4, 0},
    {39, "px16RGBA_4_4_4_4", 4, 4, 16, 0, 0, 2, 1, 0},
    {40, "px16BGRA_4_4_4_4", 4, 4, 16, 0, 0, 2, 1, 0},
    {41, "px16ARGB_4_4_4_4", 4, 4, 16, 0, 0, 2, 1, 0},
    {42, "px16ABGR_4_4_4_4", 4, 4, 16, 0, 0, 2, 1, 0},
    {43, "px16RGBT_4_4_4_1", 4, 4, 13, 3, 0, 2, 1, 0},
    {44, "px16BGRT_4_4_4_1", 4, 4, 13, 3, 0, 2, 1, 0},
    {45, "px16TRGB_1_4_4_4", 4, 4, 13, 3, 0, 2, 1, 0},
    {46, "px16TBGR_1_4_4_4", 4, 4, 13, 3, 0, 2, 1, 0},
    {47, "px16RGBT_5_5_5_1", 4, 5, 16, 0, 0, 2, 1, 0},
    {48, "px16BGRT_5_5_5_1", 4, 5, 16, 0, 0, 2, 1, 0},
    {49, "px16TRGB_1_5_5_5", 4, 5, 16, 0, 0, 2, 1, 0},
    {50, "px16TBGR_1_5_5_5", 4, 5, 16, 0, 0, 2, 1, 0},
    {51, "px18RGB", 3, 6, 18, 6, 0, 3, 1, 0},
    {52, "px18BGR", 3, 6, 18, 6, 0, 3, 1, 0},
    {53, "px24RGB", 3, 8, 24, 0, 0, 3, 1, 4},
    {54, "px24BGR", 3, 8, 24, 0, 0, 3, 1, 4},
    {55, "px24YUV_4_4_4", 3, 8, 24, 0, 0, 3, 1, 0},
    {56, "px32GRAY", 1, 32, 32, 0, 0, 4, 1, 0},
    {57, "px32GRAY_Fix32", 1, 32, 32, 0, 0, 4, 1, 0},
    {58, "px32GRAY_Float", 1, 32, 32, 0, 0, 4, 1, 0},
    {59, "px32A", 1, 32, 32, 0, 0, 4, 1, 0},
    {60, "px32A_Fix32", 1, 32, 32, 0, 0, 4, 1, 0},
    {61, "px32A_Float", 1, 32, 32, 0, 0, 4, 1, 0},
    {62, "px32RGBW", 3, 8, 24, 8, 0, 4, 1, 0},
    {63, "px32BGRW", 3, 8, 24, 8, 0, 4, 1, 0},
    {64, "px32RGB_10_10_10", 3, 10, 30, 2, 0, 4, 1, 0},
    {65, "px32BGR_10_10_10", 3, 10, 30, 2, 0, 4, 1, 0},
    {66, "px32RGBE_Half", 3, 16, 48, 0, 8, 4, 1, 0},
    {67, "px32BGRE_Half", 3, 16, 48, 0, 8, 4, 1, 0},
    {68, "px32ERGB_Half", 3, 16, 48, 0, 8, 4, 1, 0},
    {69, "px32EBGR_Half", 3, 16, 48, 0, 8, 4, 1, 0},
    {70, "px32RGBA_10_10_10_2", 4, 10, 32, 0, 0, 4, 1, 0},
    {71, "px32BGRA_10_10_10_2", 4, 10, 32, 0, 0, 4, 1, 0},
    {72, "px32ARGB_2_10_10_10", 4, 10, 32, 0, 0, 4, 1, 0},
    {73, "px32ABGR_2_10_10_10", 4, 10, 32, 0, 0, 4, 1, 0},
    {74, "px32RGBT_10_10_10_1", 4, 10, 31, 1, 0, 4, 1, 0},
    {75, "px32BGRT_10_10_10_1", 4, 10, 31, 1, 0, 4, 1, 0},
    {76, "px32TRGB_1_10_10_10", 4, 10, 31, 1, 0, 4, 1, 0},
    {77, "px32TBGR_1_10_10_10", 4, 10, 31, 1, 0, 4, 1, 0},
    {78, "px32RGBA", 4, 8, 32, 0, 0, 4, 1, 0},
    {79, "px32BGRA", 4, 8, 32, 0, 0, 4, 1, 0},
    {80, "px32ARGB", 4, 8, 32, 0, 0, 4, 1, 0},
    {81, "px32ABGR", 4, 8, 32, 0, 0, 4, 1, 0},
    {82, "px32RGBT", 4, 8, 25, 7, 0, 4, 1, 0},
    {83, "px32BGRT", 4, 8, 25, 7, 0, 4, 1, 0},
    {84, "px32TRGB", 4, 8, 25, 7, 0, 4, 1, 0},
    {85, "px32TBGR", 4, 8, 25, 7, 0, 4, 1, 0},
    {86, "px32CMYK", 4, 8, 32, 0, 0, 4, 1, 0},
    {87, "px32AYUV_4_4_4", 4, 8, 32, 0, 0, 4, 1, 0},
    {88, "px32YUVA_4_4_4", 4, 8, 32, 0, 0, 4, 1, 0},
    {89, "px36RGB", 3, 12, 36, 4, 0, 5, 1, 4},
    {90, "px36BGR", 3, 12, 36, 4, 0, 5, 1, 4},
    {91, "px40CMYKA", 5, 8, 40, 0, 0, 5, 1, 4},
    {92, "px40ACMYK", 5, 8, 40, 0, 0, 5, 1, 4},
    {93, "px40CMYKT", 5, 8, 33, 7, 0, 5, 1, 4},
    {94, "px40TCMYK", 5, 8, 33, 7, 0, 5, 1, 4},
    {95, "px48RGB", 3, 16, 48, 0, 0, 6, 1, 4},
    {96, "px48BGR", 3, 16, 48, 0, 0, 6, 1, 4},
    {97, "px48RGB_Fix16", 3, 16, 48, 0, 0, 6, 1, 4},
    {98, "px48BGR_Fix16", 3, 16, 48, 0, 0, 6, 1, 4},
    {99, "px48RGB_Half", 3, 16, 48, 0, 0, 6, 1, 4},
    {100, "px48BGR_Half", 3, 16, 48, 0, 0, 6, 1, 4},
    {101, "px48RGBA", 4, 12, 48, 0, 0, 6, 1, 4},
    {102, "px48BGRA", 4, 12, 48, 0, 0, 6, 1, 4},
    {103, "px48ARGB", 4, 12, 48, 0, 0, 6, 1, 4},
    {104, "px48ABGR", 4, 12, 48, 0, 0, 6, 1, 4},
    {105, "px48RGBT", 4, 12, 37, 11, 0, 6, 1, 4},
    {106, "px48BGRT", 4, 12, 37, 11, 0, 6, 1, 4},
    {107, "px48TRGB", 4, 12, 37, 11, 0, 6, 1, 4},
    {108, "px48TBGR", 4, 12, 37, 11, 0, 6, 1, 4},
    {109, "px64RGBA", 4, 16, 64, 0, 0, 8, 1, 0},
    {110, "px64BGRA", 4, 16, 64, 0, 0, 8, 1, 0},
    {111, "px64ARGB", 4, 16, 64, 0, 0, 8, 1, 0},
    {112, "px64ABGR", 4, 16, 64, 0, 0, 8, 1, 0},
    {113, "px64RGBT", 4, 16, 49, 15, 0, 8, 1, 0},
    {114, "px64BGRT", 4, 16, 49, 15, 0, 8, 1, 0},
    {115, "px64TRGB", 4, 16, 49, 15, 0, 8, 1, 0},
    {116, "px64TBGR", 4, 16, 49, 15, 0, 8, 1, 0},
    {117, "px64RGBA_Fix16", 4, 16, 64, 0, 0, 8, 1, 0},
    {118, "px64BGRA_Fix16", 4, 16, 64, 0, 0, 8, 1, 0},
    {119, "px64ARGB_Fix16", 4, 16, 64, 0, 0, 8, 1, 0},
    {120, "px64ABGR_Fix16", 4, 16, 64, 0, 0, 8, 1, 0},
    {121, "px64RGBT_Fix16", 4, 16, 49, 15, 0, 8, 1, 0},
    {122, "px64BGRT_Fix16", 4, 16, 49, 15, 0, 8, 1, 0},
    {123, "px64TRGB_Fix16", 4, 16, 49, 15, 0, 8, 1, 0},
    {124, "px64TBGR_Fix16", 4, 16, 49, 15, 0, 8, 1, 0},
    {125, "px64RGBA_Half", 4, 16, 64, 0, 0, 8, 1, 0},
    {126, "px64BGRA_Half", 4, 16, 64, 0, 0, 8, 1, 0},
    {127, "px64ARGB_Half", 4, 16, 64, 0, 0, 8, 1, 0},
    {128, "px64ABGR_Half", 4, 16, 64, 0, 0, 8, 1, 0},
    {129, "px64RGBT_Half", 4, 16, 49, 15, 0, 8, 1, 0},
    {130, "px64BGRT_Half", 4, 16, 49, 15, 0, 8, 1, 0},
    {131, "px64TRGB_Half", 4, 16, 49, 15, 0, 8, 1, 0},
    {132, "px64TBGR_Half", 4, 16, 49, 15, 0, 8, 1, 0},
    {133, "px64CMYK", 4, 16, 64, 0, 0, 8, 1, 0},
    {134, "px80CMYKA", 5, 16, 80, 0, 0, 10, 1, 0},
    {135, "px80ACMYK", 5, 16, 80, 0, 0, 10, 1, 0},
    {136, "px80CMYKT", 5, 16, 65, 15, 0, 10, 1, 0},
    {137, "px80TCMYK", 5, 16, 65, 15, 0, 10, 1, 0},
    {138, "px96RGB", 3, 32, 96, 0, 0, 12, 1, 0},
    {139, "px96BGR", 3, 32, 96, 0, 0, 12, 1, 0},
    {140, "px96RGB_Fix32", 3, 32, 96, 0, 0, 12, 1, 0},
    {141, "px96BGR_Fix32", 3, 32, 96, 0, 0, 12, 1, 0},
    {142, "px96RGB_Float", 3, 32, 96, 0, 0, 12, 1, 0},
    {143, "px96BGR_Float", 3, 32, 96, 0, 0, 12, 1, 0},
    {144, "px96PixelHLS", 3, 32, 96, 0, 0, 12, 1, 0},
    {145, "px96PixelHSV", 3, 32, 96, 0, 0, 12, 1, 0},
    {146, "px96PixelXYZ", 3, 32, 96, 0, 0, 12, 1, 0},
    {147, "px96PixelLab", 3, 32, 96, 0, 0, 12, 1, 0},
    {148, "px96PixelYUV", 3, 32, 96, 0, 0, 12, 1, 0},
    {149, "px96PixelYCbCr", 3, 32, 96, 0, 0, 12, 1, 0},
    {150, "px96PixelHLSA", 4, 32, 104, 0, 0, 13, 1, 0},
    {151, "px96PixelHSVA", 4, 32, 104, 0, 0, 13, 1, 0},
    {152, "px96PixelXYZA", 4, 32, 104, 0, 0, 13, 1, 0},
    {153, "px96PixelLabA", 4, 32, 104, 0, 0, 13, 1, 0},
    {154, "px96PixelYUVA", 4, 32, 104, 0, 0, 13, 1, 0},
    {155, "px96PixelYCbCrA", 4, 32, 104, 0, 0, 13, 1, 0},
    {156, "px128RGBW", 3, 32, 96, 32, 0, 16, 1, 0},
    {157, "px128BGRW", 3, 32, 96, 32, 0, 16, 1, 0},
    {158, "px128RGBW_Fix32", 3, 32, 96, 32, 0, 16, 1, 0},
    {159, "px128BGRW_Fix32", 3, 32, 96, 32, 0, 16, 1, 0},
    {160, "px128RGBW_Float", 3, 32, 96, 32, 0, 16, 1, 0},
    {161, "px128BGRW_Float", 3, 32, 96, 32, 0, 16, 1, 0},
    {162, "px128RGBA", 4, 32, 128, 0, 0, 16, 1, 0},
    {163, "px128BGRA", 4, 32, 128, 0, 0, 16, 1, 0},
    {164, "px128ARGB", 4, 32, 128, 0, 0, 16, 1, 0},
    {165, "px128ABGR", 4, 32, 128, 0, 0, 16, 1, 0},
    {166, "px128RGBT", 4, 32, 97, 31, 0, 16, 1, 0},
    {167, "px128BGRT", 4, 32, 97, 31, 0, 16, 1, 0},
    {168, "px128TRGB", 4, 32, 97, 31, 0, 16, 1, 0},
    {169, "px128TBGR", 4, 32, 97, 31, 0, 16, 1, 0},
    {170, "px128RGBA_Fix32", 4, 32, 128, 0, 0, 16, 1, 0},
    {171, "px128BGRA_Fix32", 4, 32, 128, 0, 0, 16, 1, 0},
    {172, "px128ARGB_Fix32", 4, 32, 128, 0, 0, 16, 1, 0},
    {173, "px128ABGR_Fix32", 4, 32, 128, 0, 0, 16, 1, 0},
    {174, "px128RGBT_Fix32", 4, 32, 97, 31, 0, 16, 1, 0},
    {175, "px128BGRT_Fix32", 4, 32, 97, 31, 0, 16, 1, 0},
    {176, "px128TRGB_Fix32", 4, 32, 97, 31, 0, 16, 1, 0},
    {177, "px128TBGR_Fix32", 4, 32, 97, 31, 0, 16, 1, 0},
    {178, "px128RGBA_Float", 4, 32, 128, 0, 0, 16, 1, 0},
    {179, "px128BGRA_Float", 4, 32, 128, 0, 0, 16, 1, 0},
    {180, "px128ARGB_Float", 4, 32, 128, 0, 0, 16, 1, 0},
    {181, "px128ABGR_Float", 4, 32, 128, 0, 0, 16, 1, 0},
    {182, "px128RGBT_Float", 4, 32, 97, 31, 0, 16, 1, 0},
    {183, "px128BGRT_Float", 4, 32, 97, 31, 0, 16, 1, 0},
    {184, "px128TRGB_Float", 4, 32, 97, 31, 0, 16, 1, 0},
    {185, "px128TBGR_Float", 4, 32, 97, 31, 0, 16, 1, 0},
    {186, "px128PixelCMYK", 4, 32, 128, 0, 0, 16, 1, 0},
    {187, "px136PixelCMYKA", 5, 32, 136, 0, 0, 17, 1, 0},
};

// The byte offsets of red, green, blue and alpha inside one pixel. Formats
// without alpha have 0 in the alpha entry; whether a format has alpha is
// told by its code (pixel_has_alpha), not by the entry.
struct rChannelOrder {
  uint8_t red = 0;
  uint8_t green = 0;
  uint8_t blue = 0;
  uint8_t alpha = 0;
  bool operator==(const rChannelOrder&) const = default;
};

inline constexpr rChannelOrder cnOrder24RGB = {0, 1, 2, 0};
inline constexpr rChannelOrder cnOrder24BGR = {2, 1, 0, 0};
inline constexpr rChannelOrder cnOrder32RGBA = {0, 1, 2, 3};
inline constexpr rChannelOrder cnOrder32BGRA = {2, 1, 0, 3};
inline constexpr rChannelOrder cnOrder32ARGB = {1, 2, 3, 0};
inline constexpr rChannelOrder cnOrder32ABGR = {3, 2, 1, 0};

// The channel order of a format; nil for the formats that have none.
constexpr const rChannelOrder* pixel_order(uint8_t code) {
  switch (code) {
    case px24RGB: return &cnOrder24RGB;
    case px24BGR: return &cnOrder24BGR;
    case px32RGBA: return &cnOrder32RGBA;
    case px32BGRA: return &cnOrder32BGRA;
    case px32ARGB: return &cnOrder32ARGB;
    case px32ABGR: return &cnOrder32ABGR;
    default: return nullptr;
  }
}

// True for the four 32-bit formats with an alpha byte.
constexpr bool pixel_has_alpha(uint8_t code) { return code >= px32RGBA && code <= px32ABGR; }

// The geometry of a code; the empty record for 0 and codes above 187.
constexpr const rPixelGeometry& pixel_geometry(uint8_t code) {
  return code <= cnPixelFormatLast ? cnPixelFormats[code] : cnPixelFormats[0];
}

// Row stride rule: the smallest whole number of bytes not below
// width / pixels-per-group x bytes-per-group, rounded up to a multiple of the
// row alignment when it is not 0. 0 for the empty record or a width below 1.
// Computed in 64 bits: a caller multiplies by the height in 64 bits too.
constexpr int64_t pixel_stride(const rPixelGeometry& pixel, int64_t width) {
  if (pixel.pixel_format == 0 || pixel.pixels_per_group == 0 || width < 1) return 0;
  int64_t stride = (width * pixel.bytes_per_group + pixel.pixels_per_group - 1) / pixel.pixels_per_group;
  if (pixel.row_alignment != 0) stride = (stride + pixel.row_alignment - 1) / pixel.row_alignment * pixel.row_alignment;
  return stride;
}
