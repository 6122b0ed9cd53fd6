// Macroblock decisions: the thresholds as tables, the vector classes, the
// fixed decisions without search, and every progressive P and B decision
// of `tamsel-dev me --mbs` on a real clip recomputed from its printed
// candidates with sums written out here.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "encode/me_search.h"
#include "me_frames.h"
#include "support.h"

namespace {

using metest::FramePtr;

TEST(MeDecide, PictureThresholds) {
  struct Case {
    uint32_t var, vmc, e0;
    int type;
  };
  const Case cases[] = {
      {2000, 2304, 1u << 20, kMBIntra},  // vmc above var and at the threshold
      {2000, 2303, 1u << 20, kMBForward},  // just below: the vector
      {2304, 2304, 1u << 20, kMBForward},  // vmc not above var
      {4000, 4000, 5000, 0},             // 4 x 5000 = 5 x 4000: no compensation
      {4000, 4000, 5001, kMBForward},
      {100000, 0, 2303, 0},              // zero-vector error too small to be worth a vector
      {100000, 0, 2304, kMBForward},
      {0, 2303, 2304, 0},                // not intra below 2304; 4 x 2304 is not above 5 x 2303
      {0, 1000, 2304, kMBForward},
  };
  for (const Case& c : cases) EXPECT_EQ(choose_p(c.var, c.vmc, c.e0), c.type) << c.var << " " << c.vmc << " " << c.e0;
}

TEST(MeDecide, BThresholdsAndTies) {
  struct Case {
    uint32_t d_f, d_b, d_i;
    int type;
  };
  const uint32_t none = 0x0FFFFFFF;  // what backward_only puts in
  const Case cases[] = {
      {10, 10, 10, kMBForward}, {11, 10, 10, kMBBackward}, {11, 11, 10, kMBInterpolated},
      {10, 11, 10, kMBForward}, {12, 10, 11, kMBBackward}, {none, 5000, none, kMBBackward},
      {none, 0, none, kMBBackward},
  };
  for (const Case& c : cases) EXPECT_EQ(choose_b_progressive(c.d_f, c.d_b, c.d_i), c.type);
  struct Six {
    uint32_t costs[6];
    int pick;
  };
  const Six six[] = {
      {{5, 5, 5, 5, 5, 5}, 0},  // six-way tie: frame interpolated
      {{6, 5, 5, 5, 5, 5}, 1}, {{6, 6, 5, 5, 5, 5}, 2}, {{6, 6, 6, 5, 5, 5}, 3},
      {{6, 6, 6, 6, 5, 5}, 4},  // backward tie: frame
      {{6, 6, 6, 6, 5, 4}, 5}, {{3, 6, 6, 6, 5, 4}, 0}, {{6, 6, 2, 6, 5, 4}, 2},
      {{65535, 65535, 65535, 65535, 900, 800}, 5},
  };
  for (const Six& s : six) EXPECT_EQ(choose_b_interlaced(s.costs), s.pick);
  EXPECT_TRUE(b_is_intra(2000, 2304));
  EXPECT_FALSE(b_is_intra(2000, 2303));
  EXPECT_FALSE(b_is_intra(2304, 2304));
}

// Small vectors leave their mark in the class of the P macroblock.
TEST(MeDecide, VectorClassesOfProgressiveAndInterlacedPictures) {
  FramePtr ref = metest::texture(160, 96, 41);
  struct Case {
    unsigned word;
    int vx, vy, cls;
  };
  const Case cases[] = {
      {kMEDefaultProgressive, 1, 0, 0x31}, {kMEDefaultProgressive, 0, -1, 0x13},
      {kMEDefaultProgressive, -1, 1, 0x11}, {kMEDefaultProgressive, 4, 3, 0x00},
      {kMEDefaultProgressive, 0, 6, 0x03},  {0x86 | kMEInterlaced, 1, 0, 0x0D},
      {0x86 | kMEInterlaced, 0, 1, 0x07},   {0x86 | kMEInterlaced, 5, 5, 0x00},
  };
  for (const Case& c : cases) {
    FramePtr cur = metest::moved(ref.get(), c.vx, c.vy);
    MESearch me(c.word);
    std::vector<MBInfo> mbi(60);
    me.motion_estimate_p(cur.get(), ref.get(), 7, 7, mbi.data());
    int hits = 0;
    for (int j = 1; j < 5; ++j)
      for (int i = 1; i < 9; ++i)
        hits += mbi[j * 10 + i].motion_type == kMotionFrame && me.mv_class[j * 10 + i] == c.cls;
    EXPECT_EQ(hits, 32) << std::hex << "word 0x" << c.word << std::dec << " vector " << c.vx << "," << c.vy;
  }
}

TEST(MeDecide, SkipSearchFillsFixedDecisions) {
  FramePtr a = metest::texture(64, 32, 1), b = metest::texture(64, 32, 2);
  MESearch me(kMEDefaultProgressive);
  me.skip_search = 1;
  std::vector<MBInfo> mbi(8);
  EXPECT_EQ(me.motion_estimate_intra(a.get(), mbi.data()), 8);
  for (MBInfo& m : mbi) EXPECT_TRUE(m.mb_type == kMBIntra && mbi_variance(m) == 1);
  EXPECT_EQ(me.last_cost, 65535);
  EXPECT_EQ(me.motion_estimate_p(b.get(), a.get(), 7, 7, mbi.data()), 0);
  EXPECT_EQ(me.last_cost, 0);
  for (MBInfo& m : mbi) EXPECT_TRUE(m.mb_type == 0 && m.motion_type == kMotionFrame && mbi_variance(m) == 1);
  EXPECT_EQ(me.motion_estimate_b(b.get(), a.get(), a.get(), 7, 7, 7, 7, mbi.data(), 0), 0);
  for (MBInfo& m : mbi) EXPECT_TRUE(m.mb_type == kMBBackward && mbi_variance(m) == 1);
}

// ---- decisions recomputed from the tool's output -------------------------------

struct Clip {
  int w, h;
  std::vector<uint8_t> bytes;
  const uint8_t* luma(int n) const { return bytes.data() + static_cast<size_t>(n) * w * h * 3 / 2; }
};

int sample(const Clip& c, int n, int hx, int hy) {  // half-pel position, inside
  const uint8_t* p = c.luma(n);
  const int x = hx >> 1, y = hy >> 1;
  auto s = [&](int dx, int dy) { return static_cast<int>(p[(y + dy) * c.w + x + dx]); };
  switch ((hx & 1) | (hy & 1) << 1) {
    case 0: return s(0, 0);
    case 1: return (s(0, 0) + s(1, 0) + 1) >> 1;
    case 2: return (s(0, 0) + s(0, 1) + 1) >> 1;
    default: return (s(0, 0) + s(1, 0) + s(0, 1) + s(1, 1) + 2) >> 2;
  }
}

// Squared error of macroblock (mx, my) of picture n against one or the
// average of two predictions at absolute half-pel positions.
long long sse(const Clip& c, int n, int mx, int my, int r1, int x1, int y1, int r2 = -1, int x2 = 0, int y2 = 0) {
  long long s = 0;
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) {
      int p = sample(c, r1, x1 + 2 * x, y1 + 2 * y);
      if (r2 >= 0) p = (p + sample(c, r2, x2 + 2 * x, y2 + 2 * y) + 1) >> 1;
      const int d = c.luma(n)[(my + y) * c.w + mx + x] - p;
      s += d * d;
    }
  return s;
}

long long variance(const Clip& c, int n, int mx, int my) {
  long long s = 0, q = 0;
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) {
      const int v = c.luma(n)[(my + y) * c.w + mx + x];
      s += v;
      q += v * v;
    }
  return q - (s >> 4) * (s >> 4);
}

std::vector<int> ints(const std::string& v) {  // "a,b,c"
  std::vector<int> out;
  for (size_t i = 0; i <= v.size();) {
    const size_t j = v.find(',', i);
    out.push_back(std::atoi(v.substr(i, j == std::string::npos ? std::string::npos : j - i).c_str()));
    if (j == std::string::npos) break;
    i = j + 1;
  }
  return out;
}

TEST(MeDecide, ToolDecisionsFollowTheirPrintedCandidates) {
  // Seven frames of a real clip: I0 P3 B1 B2 P6 B4 B5.
  Clip c{720, 576, tsupport::read_file(tsupport::fixture("me_pan.yuv"))};
  const size_t frame = static_cast<size_t>(c.w) * c.h * 3 / 2;
  ASSERT_GE(c.bytes.size(), 7 * frame);
  c.bytes.resize(7 * frame);
  const std::string path = tsupport::temp_dir() + "/seven.yuv";
  ASSERT_TRUE(tsupport::write_file(path, c.bytes));
  std::vector<std::string> lines;
  ASSERT_EQ(tsupport::dev("me " + tsupport::sh_quote(path) + " 720 576 --mbs", &lines), 0);
  const std::map<int, std::pair<int, int>> refs = {{3, {0, -1}}, {6, {3, -1}}, {1, {0, 3}},
                                                   {2, {0, 3}},  {4, {3, 6}},  {5, {3, 6}}};
  int checked = 0;
  for (const std::string& l : lines) {
    if (l.rfind("mb ", 0) != 0) continue;
    const int n = static_cast<int>(tsupport::field_int(l, "n")), i = static_cast<int>(tsupport::field_int(l, "i"));
    if (n == 0) continue;
    const int mx = 16 * (i % 45), my = 16 * (i / 45);
    const int type = static_cast<int>(tsupport::field_int(l, "type"));
    const long long var = tsupport::field_int(l, "var");
    const std::vector<int> f = ints(tsupport::field(l, "cand")), b = ints(tsupport::field(l, "bcand")),
                           f0 = ints(tsupport::field(l, "f0")), b0 = ints(tsupport::field(l, "b0"));
    const auto [fwd, bwd] = refs.at(n);
    const long long v = variance(c, n, mx, my);
    if (bwd < 0) {  // P
      const long long vmc = sse(c, n, mx, my, fwd, f[0], f[1]), e0 = sse(c, n, mx, my, fwd, 2 * mx, 2 * my);
      const int want = choose_p(static_cast<uint32_t>(v), static_cast<uint32_t>(vmc), static_cast<uint32_t>(e0));
      ASSERT_EQ(type, want) << l;
      ASSERT_EQ(var, want == kMBIntra ? v : want == kMBForward ? vmc : e0) << l;
      const int cls = static_cast<int>(std::strtol(tsupport::field(l, "class").c_str(), nullptr, 16));
      if (want == kMBForward) {
        ASSERT_EQ(f0[0], f[0] - 2 * mx) << l;
        ASSERT_EQ(f0[1], f[1] - 2 * my) << l;
        auto part = [](int d, int zero, int one) { return d == 0 ? zero : (d == 1 || d == -1) ? one : 0; };
        ASSERT_EQ(cls, part(f0[0], 3, 1) | part(f0[1], 0x30, 0x10)) << l;
      } else {
        ASSERT_EQ(cls, want == kMBIntra ? 0 : 0x33) << l;
      }
    } else {  // B
      const long long d_f = sse(c, n, mx, my, fwd, f[0], f[1]), d_b = sse(c, n, mx, my, bwd, b[0], b[1]);
      const long long d_i = sse(c, n, mx, my, fwd, f[0], f[1], bwd, b[0], b[1]);
      const int dir = choose_b_progressive(static_cast<uint32_t>(d_f), static_cast<uint32_t>(d_b),
                                           static_cast<uint32_t>(d_i));
      const long long vmc = dir == kMBForward ? d_f : dir == kMBBackward ? d_b : d_i;
      const bool intra = b_is_intra(static_cast<uint32_t>(v), static_cast<uint32_t>(vmc));
      ASSERT_EQ(type, intra ? kMBIntra : dir) << l;
      ASSERT_EQ(var, intra ? v : vmc) << l;
      if (!intra) {
        ASSERT_EQ(f0[0], f[0] - 2 * mx) << l;
        ASSERT_EQ(b0[1], b[1] - 2 * my) << l;
      }
    }
    ++checked;
  }
  EXPECT_EQ(checked, 6 * 1620);
}

}  // namespace
