#include <gtest/gtest.h>

#include <deque>
#include <random>
#include <vector>

#include "foundation/es_buffer.h"

namespace {

TEST(ESBuffer, SizesAndGrowth) {
  ESBuffer a(0);
  EXPECT_EQ(a.size, 32768u);
  EXPECT_FALSE(a.is_time_set());
  ESBuffer b(16384);
  EXPECT_EQ(b.resize(20000), 32768u);  // 16384 x ceil(1.25 x 20000 / 16384)
  EXPECT_EQ(b.resize(100), 32768u);    // never shrinks
  EXPECT_EQ(b.resize(0), 81920u);      // doubling request, rounded the same way
  uint8_t x;
  EXPECT_EQ(b.peek(&x, 1), 0);
}

TEST(ESBuffer, RingKeepsOrderThroughWrapsAndGrowth) {
  std::mt19937 rng(11);
  ESBuffer buf(16384);
  std::deque<uint8_t> model;
  uint8_t counter = 0;
  std::vector<uint8_t> tmp(70000);
  for (int op = 0; op < 4000; ++op) {
    int n = int(rng() % 9000);
    if (rng() % 2) {
      for (int i = 0; i < n; ++i) tmp[i] = counter++;
      ASSERT_EQ(buf.write(tmp.data(), n), n);
      model.insert(model.end(), tmp.begin(), tmp.begin() + n);
    } else {
      int got = buf.read(tmp.data(), n);
      ASSERT_EQ(got, std::min<int>(n, int(model.size())));
      for (int i = 0; i < got; ++i) {
        ASSERT_EQ(tmp[i], model.front()) << op;
        model.pop_front();
      }
    }
    ASSERT_EQ(buf.bytes, int(model.size()));
  }
}

TEST(ESBuffer, SetBytesClampsAndDiscardFrontCompacts) {
  ESBuffer buf(16384);
  for (int i = 0; i < 100; ++i) buf.data[i] = uint8_t(i);
  buf.set_bytes(100000);
  EXPECT_EQ(buf.bytes, 16384);
  buf.set_bytes(100);
  buf.first_frame = 7;
  buf.discard_front(40);
  EXPECT_EQ(buf.bytes, 60);
  EXPECT_EQ(buf.data[0], 40);
  EXPECT_EQ(buf.first_frame, 0);
  buf.discard_front(60);
  EXPECT_EQ(buf.bytes, 0);
}

}  // namespace
