// The activity pass of rate control and the rate-control record's reset
// and copy.
#include <gtest/gtest.h>

#include <vector>

#include "encode/me_rc_record.h"
#include "encode/me_search.h"

namespace {

// A luma plane of `mbw` x `mbh` macroblocks where macroblock k holds a
// checkerboard of amplitude amp[k] in its lower-right 8x8 block (so the
// other three blocks are flat and the smallest variance is 0) or in all
// four (`all`).
std::vector<uint8_t> plane(int mbw, int mbh, const std::vector<int>& amp, bool all) {
  const int w = 16 * mbw;
  std::vector<uint8_t> p(static_cast<size_t>(w) * 16 * mbh, 100);
  for (int k = 0; k < mbw * mbh; ++k)
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 16; ++x)
        if (all || (x >= 8 && y >= 8))
          p[static_cast<size_t>(16 * (k / mbw) + y) * w + 16 * (k % mbw) + x] =
              static_cast<uint8_t>(100 + (((x + y) & 1) ? amp[k] : -amp[k]));
  return p;
}

TEST(MeActivity, FlatBlocksGiveOneAndEdgesStayRaw) {
  // One row: nothing is smoothed.
  std::vector<int> amp = {0, 3, 10};
  auto p = plane(3, 1, amp, true);
  std::vector<MBInfo> mbi(3);
  const double avg = calc_activity(p.data(), 48, 16, 48, false, mbi.data());
  EXPECT_EQ(mbi[0].activity, 1.0);  // flat: variance 0
  EXPECT_EQ(mbi[1].activity, 10.0); // +-3 around 100: variance 9
  EXPECT_EQ(mbi[2].activity, 101.0);
  EXPECT_DOUBLE_EQ(avg, 112.0 / 3);
}

TEST(MeActivity, InteriorMacroblocksAreSmoothed) {
  std::vector<int> amp(9, 0);
  amp[4] = 10;  // centre: raw 101; neighbours raw 1
  amp[3] = 3;   // left: raw 10
  auto p = plane(3, 3, amp, true);
  std::vector<MBInfo> mbi(9);
  calc_activity(p.data(), 48, 48, 48, false, mbi.data());
  EXPECT_EQ(mbi[4].activity, (10 + 4 * 101 + 1 + 1 + 1) >> 3);
  EXPECT_EQ(mbi[3].activity, 10.0);  // border: raw
  // Only one block textured: the smallest variance of the four is 0.
  auto q = plane(3, 3, std::vector<int>(9, 10), false);
  calc_activity(q.data(), 48, 48, 48, false, mbi.data());
  for (const MBInfo& m : mbi) EXPECT_EQ(m.activity, 1.0);
}

// Field blocks compete in frame pictures of interlaced sequences: lines
// alternating between two values are busy as a frame and flat per field.
TEST(MeActivity, FieldBlocksCompeteWhenAsked) {
  std::vector<uint8_t> p(16 * 16);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) p[y * 16 + x] = (y & 1) ? 120 : 80;
  MBInfo m;
  calc_activity(p.data(), 16, 16, 16, false, &m);
  EXPECT_EQ(m.activity, 401.0);
  calc_activity(p.data(), 16, 16, 16, true, &m);
  EXPECT_EQ(m.activity, 1.0);
}

TEST(MeActivity, RateControlRecordClearAndAssign) {
  RateControlRecord a, b;
  a.Xi = 5;
  a.avg_act = 400.0;
  a.stuffing_total = 7;
  b.assign(a);
  EXPECT_EQ(b.Xi, 5);
  EXPECT_EQ(b.avg_act, 400.0);
  EXPECT_EQ(&b.assign(b), &b);  // self-assignment keeps the record
  EXPECT_EQ(b.stuffing_total, 7);
  b.clear();
  EXPECT_EQ(b.Xi, 0);
  EXPECT_EQ(b.avg_act, 0.0);
}

}  // namespace
