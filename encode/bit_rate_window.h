// Peak and lowest bit rate over a sliding window of about one second of
// coded GOPs, for re-encoding that must stay within the source's rate.
#pragma once

#include <cstdint>
#include <vector>

struct BitRateWindow {
  int rounded_rate = 0;  // frames per second, rounded
  int next = 0;          // slot the next GOP goes to
  int64_t picture_sum = 0;
  int64_t bit_sum = 0;
  int64_t peak_rate = 0;
  int64_t lowest_rate = 20000000;
  std::vector<int64_t> pictures;
  std::vector<int64_t> bits;
};

// A frame rate of 0 or below counts as 30000/1001, a GOP size below 1 as
// half a second; the window holds ceil(rate / gop_size) GOPs, all empty.
void bit_rate_window_init(BitRateWindow* w, double frame_rate, int gop_size);
// Adds one GOP (replacing the oldest); once the window holds more than half
// a second, its rate updates the peak and the lowest. Returns the peak.
int64_t bit_rate_window_add(BitRateWindow* w, int64_t pictures, int64_t bits);
void bit_rate_window_reset(BitRateWindow* w);
