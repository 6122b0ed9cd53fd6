#include "encode/bit_rate_window.h"

#include <algorithm>
#include <cmath>

void bit_rate_window_init(BitRateWindow* w, double frame_rate, int gop_size) {
  if (!(frame_rate > 0)) frame_rate = 30000.0 / 1001.0;
  if (gop_size < 1) gop_size = std::max(1, int(frame_rate + 0.5) / 2);
  w->rounded_rate = int(frame_rate + 0.5);
  const int n = std::max(1, (w->rounded_rate + gop_size - 1) / gop_size);
  w->pictures.assign(size_t(n), 0);
  w->bits.assign(size_t(n), 0);
  bit_rate_window_reset(w);
}

void bit_rate_window_reset(BitRateWindow* w) {
  std::fill(w->pictures.begin(), w->pictures.end(), 0);
  std::fill(w->bits.begin(), w->bits.end(), 0);
  w->next = 0;
  w->picture_sum = w->bit_sum = 0;
  w->peak_rate = 0;
  w->lowest_rate = 20000000;
}

int64_t bit_rate_window_add(BitRateWindow* w, int64_t pictures, int64_t bits) {
  if (w->pictures.empty()) bit_rate_window_init(w, 0.0, 0);
  const size_t slot = size_t(w->next);
  w->pictures[slot] = pictures;
  w->bits[slot] = bits;
  w->next = int((slot + 1) % w->pictures.size());
  // Summed again over the slots: a running sum would keep the replaced GOP.
  w->picture_sum = w->bit_sum = 0;
  for (size_t i = 0; i < w->pictures.size(); ++i) {
    w->picture_sum += w->pictures[i];
    w->bit_sum += w->bits[i];
  }
  if (w->picture_sum > 0 && 2 * w->picture_sum > w->rounded_rate) {
    const int64_t per_picture = (w->bit_sum + w->picture_sum - 1) / w->picture_sum;
    const int64_t rate = per_picture * w->rounded_rate;
    w->peak_rate = std::max(w->peak_rate, rate);
    w->lowest_rate = std::min(w->lowest_rate, rate);
  }
  return w->peak_rate;
}
