// Ratio choice, kernel edge rules and placement (the SIMD column filter is
// in tests/checkasm).
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "picture/frame.h"
#include "picture/scale.h"
#include "picture/scale_kernels.h"
#include "support/support.h"

using tsupport::TraceCapture;

TEST(ScaleChoose, RatioTable) {
  struct Row {
    int sw, sh, tw, th, flags, ow, oh;
  } rows[] = {
      {720, 576, 352, 288, 0x3, 368, 288},         // r = 20 both ways
      {720, 480, 480, 320, 0x30, 480, 320},        // r = 15: 3:2
      {352, 240, 720, 480, 0x3000, 704, 480},      // r = 20: 1:2
      {704, 480, 720, 480, 0, 0, 0},               // r = 10, equal heights
      {720, 576, 176, 144, 0x300, 192, 144},       // r = 40: 4:1
      {176, 144, 720, 576, 0x30000, 704, 576},     // 1:4
      {480, 320, 720, 480, 0x300000, 720, 480},    // 2:3
      {720, 576, 704, 288, 0x1, 720, 288},         // width kept unrounded
      {720, 288, 352, 576, 0x1002, 368, 576},      // mixed: width reduced, height enlarged
      {352, 288, 720, 576, 0x3000, 704, 576},
  };
  for (const Row& r : rows) {
    int ow = 0, oh = 0;
    EXPECT_EQ(scale_choose(r.sw, r.sh, r.tw, r.th, &ow, &oh), r.flags) << r.sw << "x" << r.sh << "->" << r.tw;
    if (r.flags) {
      EXPECT_EQ(ow, r.ow);
      EXPECT_EQ(oh, r.oh);
    }
  }
}

TEST(ScaleKernels, EdgeRulesAndValues) {
  uint8_t out[64];
  const uint8_t a[3] = {10, 20, 31};
  ASSERT_EQ(decimate_3to2_line(a, 3, out), 2);
  EXPECT_EQ(out[0], 10);
  EXPECT_EQ(out[1], 26);
  const uint8_t b[4] = {10, 20, 31, 40};
  ASSERT_EQ(decimate_3to2_line(b, 4, out), 3);
  EXPECT_EQ(out[2], 40);

  std::vector<uint8_t> flat(24, 100);
  ASSERT_EQ(interpolate_line_2(flat.data(), 24, out), 48);
  for (int i = 0; i < 48; ++i) ASSERT_EQ(out[i], 100);
  // The 1:4 phases are normalised: a flat line stays flat.
  ASSERT_EQ(interpolate_line(flat.data(), 12, out), 48);
  for (int i = 0; i < 48; ++i) ASSERT_EQ(out[i], 100) << i;
  ASSERT_EQ(interpolate_group10_line(flat.data(), 20, out), 30);
  for (int i = 0; i < 30; ++i) ASSERT_EQ(out[i], 100);
  ASSERT_EQ(decimate_line(flat.data(), 24, out), 6);
  for (int i = 0; i < 6; ++i) ASSERT_EQ(out[i], 100);

  // A step overshoots before clamping.
  uint8_t step[16];
  for (int i = 0; i < 16; ++i) step[i] = i < 8 ? 0 : 255;
  ASSERT_EQ(decimate_line_4(step, 16, out), 8);
  EXPECT_EQ(out[3], 0);    // -29 x 255 before clamping
  EXPECT_EQ(out[4], 196);
  EXPECT_EQ(out[5], 255);  // 285 x 255 / 256 before clamping
  EXPECT_EQ(decimate_line_4(step, 15, out), 8);

  // decimate_line_2: (x[-1] + 7 x0 + 7 x1 + x2 + 8) >> 4 with x[-1] = x[2].
  const uint8_t c[6] = {16, 32, 48, 64, 80, 96};
  ASSERT_EQ(decimate_line_2(c, 6, out), 3);
  EXPECT_EQ(out[0], (48 + 7 * 16 + 7 * 32 + 48 + 8) >> 4);
  EXPECT_EQ(out[2], (64 + 7 * 80 + 7 * 96 + 64 + 8) >> 4);  // x[6] taken as x[3]
  ASSERT_EQ(decimate_line_2(c, 5, out), 3);
  EXPECT_EQ(out[2], (14 * 80 + 2 * 64 + 8) >> 4);
  // interpolate_line_2 end: (7 x[n-1] + x[n-2] + 4) >> 3.
  ASSERT_EQ(interpolate_line_2(c, 6, out), 12);
  EXPECT_EQ(out[11], (7 * 96 + 80 + 4) >> 3);
  EXPECT_EQ(out[10], 96);
}

namespace {

void fill_frame(Frame& f, uint8_t y, uint8_t cb, uint8_t cr) {
  std::memset(f.y_plane(), y, f.y_size());
  std::memset(f.cb_plane(), cb, f.c_size());
  std::memset(f.cr_plane(), cr, f.c_size());
}

}  // namespace

TEST(ScaleFrames, PlacementAndMixedRequests) {
  // 2:1 in both directions: 720x576 into 352x288 uses the middle 704 columns.
  Frame src(720, 576, 1, 0), dst(352, 288, 1, 0);
  for (int r = 0; r < 576; ++r)
    for (int x = 0; x < 720; ++x) src.y_plane()[r * 720 + x] = static_cast<uint8_t>(x < 8 || x >= 712 ? 250 : 60);
  ASSERT_EQ(src.decimation(&dst, 0x3), 0);
  for (int x = 0; x < 352; ++x) ASSERT_EQ(dst.y_plane()[100 * 352 + x], 60) << x;

  // Width reduced, height enlarged: only the reduction runs and the picture
  // keeps its height, centred in the taller target.
  Frame wide(720, 288, 1, 0);
  fill_frame(wide, 90, 100, 110);
  std::unique_ptr<Frame> out(wide.create_scaled(352, 576));
  ASSERT_TRUE(out);
  EXPECT_EQ(out->get_width(), 352);
  EXPECT_EQ(out->get_height(), 576);
  for (int r : {0, 143, 144, 431, 432, 575}) {
    const uint8_t want = (r >= 144 && r < 432) ? 90 : 0;
    EXPECT_EQ(out->y_plane()[r * 352 + 10], want) << r;
  }
  EXPECT_EQ(out->cb_plane()[(72 + 5) * 176 + 5], 100);
  EXPECT_EQ(out->cb_plane()[10 * 176 + 5], 128);

  TraceCapture cap;
  EXPECT_EQ(src.deci2(&dst, 0x300), 1);
  EXPECT_TRUE(cap.contains("Frame::deci2 (ERROR): NO filter selected"));
  EXPECT_EQ(src.interpolation(&dst, 0x3), 1);
  EXPECT_EQ(wide.create_half(720, 288), nullptr);
}

TEST(ScaleFrames, Chroma422KeepsItsGeometry) {
  // A 4:2:2 frame whose chroma rows differ top to bottom: enlarging 1:2
  // must scale all of its chroma rows, not the upper half only.
  Frame src(176, 144, 2, 0), dst(352, 288, 2, 0);
  fill_frame(src, 100, 0, 0);
  for (int r = 0; r < 144; ++r) {
    std::memset(src.cb_plane() + r * 88, r < 72 ? 60 : 200, 88);
    std::memset(src.cr_plane() + r * 88, r < 72 ? 70 : 190, 88);
  }
  ASSERT_EQ(src.interpolation(&dst, 0x3000 | 0x1000), 0);
  EXPECT_EQ(dst.cb_plane()[20 * 176 + 50], 60);
  EXPECT_EQ(dst.cb_plane()[250 * 176 + 50], 200);
  EXPECT_EQ(dst.cr_plane()[287 * 176 + 175], 190);
}

TEST(ScaleFrames, LayersOfTheEncoder) {
  Frame f(64, 32, 1, 0);
  for (int i = 0; i < f.y_size(); ++i) f.y_plane()[i] = 77;
  f.get_layer2(1, 1);
  ASSERT_TRUE(f.layer2() && f.layer4() && f.layer2_fields());
  for (int i = 0; i < 32 * 16; ++i) ASSERT_EQ(f.layer2()[i], 77);
  for (int i = 0; i < 16 * 8; ++i) ASSERT_EQ(f.layer4()[i], 77);
  for (int i = 0; i < 64 * 8; ++i) ASSERT_EQ(f.layer2_fields()[i], 77);
  Frame wide(4112, 16, 1, 0);
  TraceCapture cap;
  wide.get_layer2(1, 0);
  EXPECT_EQ(wide.layer2(), nullptr);
  EXPECT_TRUE(cap.contains("Frame::get_layer2 (ERROR)"));
}

TEST(ScaleSimd, RowFilterBlocksMatchLineByLine) {
  // Whole planes go through the column kernel on transposed blocks when the
  // processor allows; single lines through the plain row loop.
  std::mt19937 rng(11);
  const ScaleKernel kernels[] = {SK_DEC2_H, SK_DEC2_V, SK_DEC32, SK_DEC4, SK_INT2, SK_INT23, SK_INT4};
  for (ScaleKernel k : kernels) {
    for (int n : {7, 16, 45, 90}) {
      const int rows = 41, outs = scale_out_count(k, n), ds = outs + 16;
      std::vector<uint8_t> src(static_cast<size_t>(rows) * n);
      for (auto& v : src) v = static_cast<uint8_t>(rng() % 3 == 0 ? (rng() & 1) * 255 : rng());
      std::vector<uint8_t> whole(static_cast<size_t>(rows) * ds + 32, 0x33), lines = whole;
      scale_plane_h(k, src.data(), n, n, rows, whole.data() + 16, ds, outs);
      for (int r = 0; r < rows; ++r)
        scale_plane_h(k, src.data() + r * n, n, n, 1, lines.data() + 16 + r * ds, ds, outs);
      ASSERT_EQ(whole, lines) << "kernel " << k << " n " << n;
    }
  }
}
