// Per-macroblock spatial activity for rate control.
#include <algorithm>
#include <vector>

#include "encode/me_search.h"

double calc_activity(const uint8_t* luma, int width, int height, int stride, bool field_blocks, MBInfo* mbi) {
  const int mbw = width >> 4, mbh = height >> 4, n = mbw * mbh;
  if (n <= 0 || !luma) return 0.0;
  std::vector<int> raw(static_cast<size_t>(n));
  for (int j = 0; j < mbh; ++j)
    for (int i = 0; i < mbw; ++i) {
      const uint8_t* p = luma + static_cast<long>(16 * j) * stride + 16 * i;
      int v = INT32_MAX;
      for (int b = 0; b < 4; ++b) v = std::min(v, block_variance_8x8(p + (b >> 1) * 8 * stride + (b & 1) * 8, stride));
      if (field_blocks)  // top field left, right; bottom field left, right
        for (int b = 0; b < 4; ++b)
          v = std::min(v, block_variance_8x8(p + (b >> 1) * stride + (b & 1) * 8, 2 * stride));
      raw[static_cast<size_t>(j * mbw + i)] = v + 1;
    }
  double sum = 0;
  for (int j = 0; j < mbh; ++j)
    for (int i = 0; i < mbw; ++i) {
      const int k = j * mbw + i;
      int a = raw[static_cast<size_t>(k)];
      if (i > 0 && j > 0 && i + 1 < mbw && j + 1 < mbh)
        a = (raw[k - 1] + 4 * a + raw[k + 1] + raw[k - mbw] + raw[k + mbw]) >> 3;
      mbi[k].activity = a;
      sum += a;
    }
  return sum / n;
}
