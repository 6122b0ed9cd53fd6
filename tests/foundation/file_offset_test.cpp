#include <gtest/gtest.h>

#include <random>

#include "foundation/file_offset.h"

namespace {

constexpr uint64_t k31 = 1ull << 31;

FileOffset pair(uint32_t low, uint32_t high) {
  FileOffset f;
  f.set_pair(low, high);
  return f;
}

TEST(FileOffset, TwoWordViewAndCarry) {
  struct Case {
    uint32_t set;
    uint32_t low, high;
    double as_double;
  } cases[] = {
      {0, 0, 0, 0.0},
      {0x7FFFFFFF, 0x7FFFFFFF, 0, 2147483647.0},
      {0x80000000, 0, 1, 2147483648.0},
      {0xFFFFFFFF, 0x7FFFFFFF, 1, 4294967295.0},
  };
  for (const auto& c : cases) {
    FileOffset f;
    f.set(c.set);
    EXPECT_EQ(f.low(), c.low) << c.set;
    EXPECT_EQ(f.high(), c.high) << c.set;
    EXPECT_EQ(f.to_double(), c.as_double) << c.set;
    EXPECT_EQ(FileOffset(c.set), f);
  }
  // set_pair carries a low word >= 2^31 once into the count.
  FileOffset f = pair(0xFFFFFFFF, 2);
  EXPECT_EQ(f.low(), 0x7FFFFFFFu);
  EXPECT_EQ(f.high(), 3u);
  // add_offset carries out of the low word.
  FileOffset a = pair(0x7FFFFFFF, 1);
  a.add_offset(pair(1, 0));
  EXPECT_EQ(a.low(), 0u);
  EXPECT_EQ(a.high(), 2u);
  // A low word that sums to exactly 2^31 + (2^31 - 2).
  a = pair(0x7FFFFFFF, 0);
  a.add_offset(pair(0x7FFFFFFF, 0));
  EXPECT_EQ(a.low(), 0x7FFFFFFEu);
  EXPECT_EQ(a.high(), 1u);
}

TEST(FileOffset, SubtractionStopsAtZero) {
  FileOffset three(3);
  three.add(-5);
  EXPECT_EQ(three.value(), 0u);

  FileOffset f = pair(3, 1);  // 2^31 + 3
  f.add(-5);
  EXPECT_EQ(f.low(), 0x7FFFFFFEu);
  EXPECT_EQ(f.high(), 0u);

  EXPECT_EQ(FileOffset::minus(FileOffset(10), FileOffset(11)).value(), 0u);
  EXPECT_EQ(FileOffset::minus(pair(5, 1), pair(6, 1)).value(), 0u);  // equal counts, low borrow
  EXPECT_EQ(FileOffset::minus(pair(5, 1), pair(6, 2)).value(), 0u);
  EXPECT_EQ(FileOffset::minus(pair(5, 2), pair(6, 1)).value(), k31 - 1);

  FileOffset g(100);
  g.sub(0xFFFFFFFFu);  // an unsigned step larger than int32 must still subtract
  EXPECT_EQ(g.value(), 0u);
  g = pair(0, 4);
  g.sub(0xFFFFFFFFu);
  EXPECT_EQ(g.value(), 4 * k31 - 0xFFFFFFFFull);
  EXPECT_EQ(FileOffset::minus_int(FileOffset(7), 8).value(), 0u);
  EXPECT_EQ(FileOffset::plus_int(FileOffset(7), -7).value(), 0u);
  EXPECT_EQ(FileOffset::plus_int(pair(0, 1), -1).value(), k31 - 1);
}

TEST(FileOffset, CompareHighCountFirst) {
  const FileOffset small = pair(0x7FFFFFFF, 0), big = pair(0, 1);
  EXPECT_TRUE(big.greater(small));
  EXPECT_TRUE(big.greater_or_equal(small));
  EXPECT_TRUE(small.less(big));
  EXPECT_TRUE(small.less_or_equal(big));
  EXPECT_FALSE(small.equals(big));
  EXPECT_TRUE(small.not_equals(big));
  EXPECT_TRUE(big.less_or_equal(big));
  EXPECT_TRUE(big.greater_or_equal(big));
  EXPECT_FALSE(big.less(big));
  EXPECT_LT(small, big);
}

TEST(FileOffset, DoubleConversionAndSectorAlignment) {
  FileOffset f;
  f.from_double(-1.0);
  EXPECT_EQ(f.value(), 0u);
  f.from_double(3.0 * 2147483648.0);
  EXPECT_EQ(f.low(), 0u);
  EXPECT_EQ(f.high(), 3u);
  f.from_double(5368709120.75);  // 5 GiB, fraction dropped
  EXPECT_EQ(f.low(), 1u << 30);
  EXPECT_EQ(f.high(), 2u);
  EXPECT_EQ(f.to_double(), 5368709120.0);

  f = pair(5000, 1);
  f.align_sector();
  EXPECT_EQ(f.low(), 4096u);
  EXPECT_EQ(f.high(), 1u);
}

// Every operation against a plain 64-bit model that clamps at zero.
TEST(FileOffset, MatchesClampedIntegerModel) {
  std::mt19937_64 rng(31);
  auto random_value = [&] {
    switch (rng() % 4) {
      case 0: return uint64_t(rng() % 4096);
      case 1: return uint64_t(k31 - 2048 + rng() % 4096);  // around 2^31
      case 2: return uint64_t(2 * k31 - 2048 + rng() % 4096);  // around 2^32
      default: return uint64_t(rng() % (1ull << 40));
    }
  };
  for (int i = 0; i < 20000; ++i) {
    const uint64_t a = random_value(), b = random_value();
    const FileOffset fa = FileOffset::from_u64(a), fb = FileOffset::from_u64(b);
    ASSERT_LT(fa.low(), k31);
    ASSERT_EQ(uint64_t(fa.high()) * k31 + fa.low(), a);
    ASSERT_EQ(FileOffset::plus(fa, fb).value(), a + b);
    ASSERT_EQ(FileOffset::minus(fa, fb).value(), a >= b ? a - b : 0);
    const int32_t d = int32_t(uint32_t(rng()));
    const int64_t expect = int64_t(a) + d;
    ASSERT_EQ(FileOffset::plus_int(fa, d).value(), uint64_t(expect < 0 ? 0 : expect)) << a << " " << d;
    ASSERT_EQ(fa.less(fb), a < b);
    ASSERT_EQ(fa.greater_or_equal(fb), a >= b);
    FileOffset fd;
    fd.from_double(fa.to_double());
    ASSERT_EQ(fd.value(), a);
    FileOffset s = fa;
    s.align_sector();
    ASSERT_EQ(s.value(), a / 2048 * 2048);
  }
}

}  // namespace
