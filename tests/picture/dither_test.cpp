// Colour conversion: table values, geometry, and bitmaps checked by ffmpeg
// and ImageMagick (the SIMD kernels are in tests/checkasm).
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "picture/dither.h"
#include "picture/frame.h"
#include "picture/yuv2rgb.h"
#include "picture/bmp.h"
#include "support/support.h"

using namespace tsupport;

namespace {

// Converts one flat 4:2:0 picture and returns the first pixel's bytes.
std::vector<uint8_t> convert_flat(int bits, uint8_t y, uint8_t cb, uint8_t cr) {
  Frame f(32, 32, 1, 0);
  std::memset(f.y_plane(), y, f.y_size());
  std::memset(f.cb_plane(), cb, f.c_size());
  std::memset(f.cr_plane(), cr, f.c_size());
  BMP bmp;
  EXPECT_EQ(bmp.set_from_frame(&f, bits, 1), 1);
  return std::vector<uint8_t>(bmp.dib_data, bmp.dib_data + bits / 8);
}

}  // namespace

TEST(Yuv2Rgb, TableValues) {
  auto grey = convert_flat(24, 128, 128, 128);
  EXPECT_EQ(grey, (std::vector<uint8_t>{130, 130, 130}));
  auto blue = convert_flat(24, 235, 240, 128);  // lane B past 255
  EXPECT_EQ(blue[0], 255);
  // BT.601 limited range: Y 81 Cb 90 Cr 240 is pure red.
  auto red = convert_flat(24, 81, 90, 240);
  EXPECT_NEAR(red[2], 255, 1);
  EXPECT_NEAR(red[1], 0, 1);
  EXPECT_NEAR(red[0], 0, 1);
  // The packed words hold the separate terms in their lanes.
  const Yuv2RgbTables& t = yuv2rgb_tables();
  for (int i = 0; i < 256; ++i) {
    ASSERT_EQ(t.y[i] & 0x3ff, static_cast<uint32_t>(yuv2rgb_y_term(i)));
    ASSERT_EQ(t.cr[i] & 0x3ff, static_cast<uint32_t>(yuv2rgb_r_cr(i)) & 0x3ff);
    ASSERT_EQ((t.cb[i] >> 11) & 0x3ff, static_cast<uint32_t>(yuv2rgb_b_cb(i)) & 0x3ff);
  }
  EXPECT_EQ(yuv2rgb_r_cr(240), 179);  // 112 x 1.596 = 178.8
  EXPECT_EQ(yuv2rgb_b_cb(16), -226);
}

TEST(Yuv2Rgb, SixteenAndThirtyTwoBitLayouts) {
  // 16 bits: the saturated colour equals the channels limited, then >> 3.
  const std::vector<uint8_t> px24 = convert_flat(24, 235, 240, 16);
  const std::vector<uint8_t> px16 = convert_flat(16, 235, 240, 16);
  const uint16_t w = static_cast<uint16_t>(px16[0] | px16[1] << 8);
  EXPECT_EQ(w, ((px24[2] >> 3) << 10) | ((px24[1] >> 3) << 5) | (px24[0] >> 3));
  // 32 bits: B, G, R, 0 in memory.
  const std::vector<uint8_t> px32 = convert_flat(32, 81, 90, 240);
  const std::vector<uint8_t> red24 = convert_flat(24, 81, 90, 240);
  EXPECT_EQ(px32[0], red24[0]);
  EXPECT_EQ(px32[1], red24[1]);
  EXPECT_EQ(px32[2], red24[2]);
  EXPECT_EQ(px32[3], 0);
}

TEST(Yuv2Rgb, FlipCentringAndBlackBorders) {
  // Rows of distinct grey; with flip, memory row 0 is the bottom picture row.
  Frame f(16, 8, 1, 0);
  for (int r = 0; r < 8; ++r) std::memset(f.y_plane() + r * 16, 40 + 20 * r, 16);
  BMP bmp;
  ASSERT_EQ(bmp.set_from_frame(&f, 24, 1), 1);
  const int bpl = bmp.get_bytes_per_line();
  const auto& t = yuv2rgb_tables();
  EXPECT_EQ(bmp.dib_data[0], t.y[40 + 20 * 7] & 0xff);
  EXPECT_EQ(bmp.dib_data[7 * bpl], t.y[40] & 0xff);
  // A taller and wider bitmap: the picture sits in the middle, rest black.
  Frame g(16, 16, 1, 0);
  for (int r = 0; r < 16; ++r) std::memset(g.y_plane() + r * 16, 40 + 10 * r, 16);
  BMP big;
  ASSERT_EQ(big.init_dib_header(32, 24, 20), 0);
  ASSERT_EQ(big.init_dib_data(), 0);
  std::memset(big.dib_data, 0xEE, big.get_dib_data_size());
  Dither d(24, 20, 32);
  ASSERT_EQ(d.dither(g.image(), &big, 0), 0);
  for (int r = 0; r < 20; ++r)
    for (int x = 0; x < 24; ++x) {
      const uint8_t* p = big.dib_data + r * 96 + 4 * x;
      const bool inside = r >= 2 && r < 18 && x >= 4 && x < 20;
      if (!inside) ASSERT_TRUE(p[0] == 0 && p[1] == 0 && p[2] == 0 && p[3] == 0) << r << "," << x;
      else ASSERT_EQ(p[0], t.y[40 + 10 * (r - 2)] & 0xff);
    }
}

TEST(Dither, HeaderAndPalette) {
  Dither d8(64, 32, 8);
  EXPECT_EQ(d8.get_dib_header_size(), 1068);
  EXPECT_EQ(d8.dib_header->header.biClrUsed, 256u);
  EXPECT_EQ(d8.dib_header->header.biXPelsPerMeter, 3937);
  Dither d24(64, 32, 24);
  EXPECT_EQ(d24.get_dib_header_size(), 44);
  d24.dib_header->header.biBitCount = 4;
  EXPECT_EQ(d24.get_dib_header_size(), 108);
  TraceCapture cap;
  EXPECT_EQ(d24.init_cmap(15), 0);
  EXPECT_TRUE(cap.contains("Dither::init_cmap (ERROR): 15-bit colors is NOT supported"));
  EXPECT_EQ(d24.get_cmap(), nullptr);
  // Palette entries 0 and 255 by the palette formula (black level 16 removed).
  const RGBQuad& e0 = d8.dib_header->colors[0];
  const RGBQuad& e255 = d8.dib_header->colors[255];
  EXPECT_EQ(e0.reserved, 0);
  EXPECT_EQ(e255.red, 255);
  EXPECT_EQ(e0.red, 0);  // Y 8 is below black: (8 - 16) x 1.164 - 1.402 x 54.6
  EXPECT_EQ(e255.blue, static_cast<int>(1.1643835616438356 * 232 + 1.772 * 48 * 1.1383928571428572 + 0.5) > 255
                           ? 255
                           : static_cast<int>(1.1643835616438356 * 232 + 1.772 * 48 * 1.1383928571428572 + 0.5));
  EXPECT_EQ(dither_palette_index(128, 128, 128), (7 << 4) | (1 << 2) | 1);
}

TEST(Dither, EightBitFieldShowsOneField) {
  Frame f(16, 8, 1, 0);
  for (int r = 0; r < 8; ++r) std::memset(f.y_plane() + r * 16, r % 2 ? 230 : 20, 16);
  Dither d(16, 8, 8);
  BMP top, bottom;
  ASSERT_EQ(d.dither_field(1, f.image(), &top, 0), 0);
  ASSERT_EQ(d.dither_field(0, f.image(), &bottom, 0), 0);
  for (int r = 0; r < 8; ++r)
    for (int x = 0; x < 16; ++x) {
      ASSERT_LE(top.dib_data[r * 16 + x] >> 4, 2) << "top field is dark";
      ASSERT_GE(bottom.dib_data[r * 16 + x] >> 4, 13) << "bottom field is bright";
    }
}

namespace {

std::string yuv2bmp(const std::string& yuv, int w, int h, const char* chroma, int bits, const std::string& out) {
  std::vector<std::string> lines;
  EXPECT_EQ(dev("yuv2bmp " + sh_quote(yuv) + " " + std::to_string(w) + " " + std::to_string(h) + " " + chroma + " " +
                    std::to_string(bits) + " " + sh_quote(out),
                &lines),
            0);
  return out;
}

std::string read_back(const std::string& tool_cmd) {
  std::string out;
  EXPECT_EQ(run(tool_cmd, &out), 0) << tool_cmd;
  return out;
}

}  // namespace

TEST(Yuv2RgbOracle, TwentyFourBitsMatchesFfmpegOnFlatAreas) {
  const int W = 352, H = 288;
  const std::string dir = temp_dir();
  const std::string bmp = yuv2bmp(fixture("pic_352x288.yuv"), W, H, "420", 24, dir + "/o.bmp");
  const auto ref = read_file(fixture("pic_352x288.bgr"));
  ASSERT_EQ(ref.size(), static_cast<size_t>(W * H * 3));
  const std::string ff = read_back("ffmpeg -nostdin -loglevel error -i " + sh_quote(bmp) + " -f rawvideo -pix_fmt bgr24 -");
  const std::string im = read_back("convert " + sh_quote(bmp) + " -depth 8 bgr:-");
  ASSERT_EQ(ff.size(), ref.size());
  EXPECT_EQ(ff, im);
  BMP ours;
  ASSERT_GT(ours.load(bmp.c_str()), 0);
  ASSERT_EQ(std::memcmp(ours.dib_data, ff.data(), ff.size()), 0);  // upright, same pixels
  // Flat: every neighbour within 2 levels of the pixel in ffmpeg's picture.
  int flat = 0, worst = 0;
  for (int r = 1; r < H - 1; ++r)
    for (int x = 1; x < W - 1; ++x) {
      bool is_flat = true;
      for (int dy = -1; dy <= 1 && is_flat; ++dy)
        for (int dx = -1; dx <= 1 && is_flat; ++dx)
          for (int c = 0; c < 3; ++c)
            if (std::abs(ref[((r + dy) * W + x + dx) * 3 + c] - ref[(r * W + x) * 3 + c]) > 2) is_flat = false;
      if (!is_flat) continue;
      ++flat;
      for (int c = 0; c < 3; ++c)
        worst = std::max(worst, std::abs(static_cast<uint8_t>(ff[(r * W + x) * 3 + c]) - ref[(r * W + x) * 3 + c]));
    }
  EXPECT_GT(flat, W * H / 4);
  EXPECT_LE(worst, 3);
}

TEST(Yuv2RgbOracle, AllDepthsOpenWithTheRightColours) {
  // Moderate colours that the 8-bit palette can reach, in 16x16 patches.
  const int W = 64, H = 32;
  const uint8_t patches[8][3] = {{128, 128, 128}, {60, 110, 150}, {170, 140, 100}, {90, 150, 120},
                                 {200, 120, 135}, {110, 100, 110}, {150, 128, 160}, {40, 135, 125}};
  std::vector<uint8_t> yuv(W * H * 3 / 2);
  for (int r = 0; r < H; ++r)
    for (int x = 0; x < W; ++x) {
      const int p = (r / 16) * 4 + x / 16;
      yuv[r * W + x] = patches[p][0];
      if (r % 2 == 0 && x % 2 == 0) {
        yuv[W * H + (r / 2) * (W / 2) + x / 2] = patches[p][1];
        yuv[W * H * 5 / 4 + (r / 2) * (W / 2) + x / 2] = patches[p][2];
      }
    }
  const std::string dir = temp_dir();
  ASSERT_TRUE(write_file(dir + "/flat.yuv", yuv));
  const std::string ref = read_back("ffmpeg -nostdin -loglevel error -f rawvideo -pix_fmt yuv420p -s 64x32 -i " +
                                    sh_quote(dir + "/flat.yuv") +
                                    " -vf scale=in_range=tv:out_range=pc -sws_flags accurate_rnd+full_chroma_int "
                                    "-f rawvideo -pix_fmt bgr24 -");
  ASSERT_EQ(ref.size(), static_cast<size_t>(W * H * 3));
  for (int bits : {8, 16, 24, 32}) {
    SCOPED_TRACE(bits);
    const std::string bmp = yuv2bmp(dir + "/flat.yuv", W, H, "420", bits, dir + "/d" + std::to_string(bits) + ".bmp");
    const std::string im = read_back("convert " + sh_quote(bmp) + " -depth 8 bgr:-");
    ASSERT_EQ(im.size(), ref.size());
    // Patch means, away from the patch edges (8-bit output is dithered).
    const double tolerance = bits == 8 ? 10.0 : (bits == 16 ? 9.0 : 2.0);  // 5-bit channels truncate
    for (int p = 0; p < 8; ++p)
      for (int c = 0; c < 3; ++c) {
        double a = 0, b = 0;
        for (int r = 4; r < 12; ++r)
          for (int x = 4; x < 12; ++x) {
            const int i = (((p / 4) * 16 + r) * W + (p % 4) * 16 + x) * 3 + c;
            a += static_cast<uint8_t>(im[i]);
            b += static_cast<uint8_t>(ref[i]);
          }
        EXPECT_NEAR(a / 64, b / 64, tolerance) << "patch " << p << " channel " << c;
      }
  }
}

TEST(Yuv2RgbOracle, Chroma422Converts) {
  const std::string dir = temp_dir();
  const std::string bmp = yuv2bmp(fixture("pic_352x288_422.yuv"), 352, 288, "422", 24, dir + "/o.bmp");
  const std::string ours = read_back("convert " + sh_quote(bmp) + " -depth 8 bgr:-");
  const std::string ref = read_back("ffmpeg -nostdin -loglevel error -f rawvideo -pix_fmt yuv422p -s 352x288 -i " +
                                    sh_quote(fixture("pic_352x288_422.yuv")) +
                                    " -vf scale=in_range=tv:out_range=pc -sws_flags accurate_rnd+full_chroma_int "
                                    "-f rawvideo -pix_fmt bgr24 -");
  ASSERT_EQ(ours.size(), ref.size());
  EXPECT_GE(psnr(reinterpret_cast<const uint8_t*>(ours.data()), reinterpret_cast<const uint8_t*>(ref.data()),
                 ours.size()),
            25.0);
}
