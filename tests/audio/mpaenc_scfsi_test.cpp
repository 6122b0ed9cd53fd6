// Layer II scale-factor selection: the standard's transmission patterns by
// the classes of the two index differences, and the rule they keep: a
// part's scale factor may only grow (its index only fall), so no sample
// clips.
#include <gtest/gtest.h>

#include <algorithm>

#include "audio/codec/mpaenc_tables.h"

namespace {

TEST(MpaEncScfsi, PatternsOfTheStandardsTable) {
  const struct {
    int in[3];
    int scfsi;
    int out[3];
  } cases[] = {
      {{10, 20, 30}, 0, {10, 20, 30}},  // far apart both ways: all three sent
      {{10, 10, 10}, 2, {10, 10, 10}},
      {{10, 11, 12}, 2, {10, 10, 10}},  // rising by one: the first for all (111)
      {{10, 12, 11}, 2, {10, 10, 10}},  // 444: the largest factor for all
      {{12, 10, 11}, 2, {10, 10, 10}},  // 222
      {{12, 11, 10}, 2, {10, 10, 10}},  // 333
      {{10, 10, 20}, 2, {10, 10, 10}},  // 111 in row 2, column 0
      {{10, 10, 0}, 1, {10, 10, 0}},    // 113
      {{10, 11, 20}, 1, {10, 10, 20}},
      {{20, 10, 11}, 3, {20, 10, 10}},  // 122
      {{20, 11, 10}, 3, {20, 10, 10}},  // 133
      {{5, 20, 21}, 3, {5, 20, 20}},
      {{20, 5, 3}, 3, {20, 3, 3}},
      {{10, 20, 10}, 0, {10, 20, 10}},
      {{12, 10, 0}, 0, {12, 10, 0}},    // 123 in row 3, column 4
      {{12, 10, 30}, 2, {10, 10, 10}},  // 222 in row 3, column 0
  };
  for (const auto& c : cases) {
    int s[3] = {c.in[0], c.in[1], c.in[2]};
    SCOPED_TRACE(testing::Message() << c.in[0] << " " << c.in[1] << " " << c.in[2]);
    EXPECT_EQ(mpaenc_select_scfsi(s), c.scfsi);
    EXPECT_EQ(s[0], c.out[0]);
    EXPECT_EQ(s[1], c.out[1]);
    EXPECT_EQ(s[2], c.out[2]);
  }
}

TEST(MpaEncScfsi, FactorsOnlyGrowAndTheSentOnesAgree) {
  for (int a = 0; a < 63; ++a)
    for (int b = std::max(0, a - 6); b < std::min(63, a + 7); ++b)
      for (int c = std::max(0, b - 6); c < std::min(63, b + 7); ++c) {
        int s[3] = {a, b, c};
        const int scfsi = mpaenc_select_scfsi(s);
        ASSERT_LE(s[0], a);
        ASSERT_LE(s[1], b);
        ASSERT_LE(s[2], c);
        if (scfsi == 1) {
          ASSERT_EQ(s[0], s[1]);
        }
        if (scfsi == 2) {
          ASSERT_TRUE(s[0] == s[1] && s[1] == s[2]);
        }
        if (scfsi == 3) {
          ASSERT_EQ(s[1], s[2]);
        }
        if (scfsi == 0) {
          ASSERT_TRUE(s[0] == a && s[1] == b && s[2] == c);
        }
      }
}

}  // namespace
