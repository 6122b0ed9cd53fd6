#include "decode/mc.h"

#include <mutex>

#include "decode/idct.h"
#include "foundation/cpu.h"

template <int M>
static inline int sample(const uint8_t* s, int x, int stride) {
  if (M == 0) return s[x];
  if (M == 1) return (s[x] + s[x + 1] + 1) >> 1;
  if (M == 2) return (s[x] + s[x + stride] + 1) >> 1;
  return (s[x] + s[x + 1] + s[x + stride] + s[x + stride + 1] + 2) >> 2;
}

template <int M>
static void pred_single_c(uint8_t* d, const uint8_t* s, int stride, int w, int h) {
  for (int y = 0; y < h; ++y, d += stride, s += stride)
    for (int x = 0; x < w; ++x) d[x] = static_cast<uint8_t>(sample<M>(s, x, stride));
}

template <int M1, int M2>
static void pred_avg_c(uint8_t* d, const uint8_t* s1, const uint8_t* s2, int stride, int w, int h) {
  for (int y = 0; y < h; ++y, d += stride, s1 += stride, s2 += stride)
    for (int x = 0; x < w; ++x) d[x] = static_cast<uint8_t>((sample<M1>(s1, x, stride) + sample<M2>(s2, x, stride) + 1) >> 1);
}

#define AVG_ROW(m2) pred_avg_c<0, m2>, pred_avg_c<1, m2>, pred_avg_c<2, m2>, pred_avg_c<3, m2>
const PredictionTable prediction_table_c = {
    {AVG_ROW(0), AVG_ROW(1), AVG_ROW(2), AVG_ROW(3)},
    {pred_single_c<0>, pred_single_c<1>, pred_single_c<2>, pred_single_c<3>},
};

PredictionTable prediction_table;
static std::once_flag g_pred_once;

void init_prediction_table() {
  std::call_once(g_pred_once, [] {
    detect_cpu_features();
    prediction_table = idct_mode > 0 ? prediction_table_sse2 : prediction_table_c;
  });
}
