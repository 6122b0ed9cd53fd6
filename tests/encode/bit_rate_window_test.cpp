// The bit-rate window: about one second of GOPs, rate per second from the
// bits per picture, peak and lowest kept over the stream.
#include <gtest/gtest.h>

#include "encode/bit_rate_window.h"

namespace {

TEST(BitRateWindow, SlotsHoldAboutOneSecondOfGops) {
  struct Case {
    double rate;
    int gop;
    int rounded;
    size_t slots;
  };
  for (const Case& c : {Case{25.0, 12, 25, 3}, Case{25.0, 25, 25, 1}, Case{30000.0 / 1001, 15, 30, 2},
                        Case{0.0, 15, 30, 2},      // no rate: 29.97
                        Case{-5.0, 0, 30, 2},      // no GOP size: half a second
                        Case{24000.0 / 1001, 0, 24, 2}, Case{50.0, 7, 50, 8}}) {
    SCOPED_TRACE(c.rate);
    BitRateWindow w;
    bit_rate_window_init(&w, c.rate, c.gop);
    EXPECT_EQ(w.rounded_rate, c.rounded);
    EXPECT_EQ(w.pictures.size(), c.slots);
    EXPECT_EQ(w.peak_rate, 0);
    EXPECT_EQ(w.lowest_rate, 20000000);
  }
}

TEST(BitRateWindow, PeakAndLowestOnceMoreThanHalfASecondIsIn) {
  BitRateWindow w;
  bit_rate_window_init(&w, 25.0, 12);  // 3 slots
  // 12 pictures: not yet half a second (12.5).
  EXPECT_EQ(bit_rate_window_add(&w, 12, 12 * 160000), 0);
  EXPECT_EQ(w.lowest_rate, 20000000);
  // 24 pictures of 160000 bits: 4 Mbit/s.
  EXPECT_EQ(bit_rate_window_add(&w, 12, 12 * 160000), 4000000);
  // A heavy GOP raises the peak: (36 x 160000 + 12 x 80000) / 36 per picture.
  EXPECT_EQ(bit_rate_window_add(&w, 12, 12 * 240000), 25 * 186667);
  EXPECT_EQ(w.lowest_rate, 4000000);
  // The window slides: the oldest GOP is replaced, the sums follow.
  bit_rate_window_add(&w, 12, 12 * 40000);
  EXPECT_EQ(w.picture_sum, 36);
  EXPECT_EQ(w.bit_sum, 12 * (160000 + 240000 + 40000));
  EXPECT_EQ(w.peak_rate, 25 * 186667);
  bit_rate_window_add(&w, 12, 12 * 40000);
  bit_rate_window_add(&w, 12, 12 * 40000);
  EXPECT_EQ(w.lowest_rate, 1000000);
  bit_rate_window_reset(&w);
  EXPECT_EQ(w.peak_rate, 0);
  EXPECT_EQ(w.picture_sum, 0);
}

}  // namespace
