#include "formats/jpeg_idct.h"

#include <cstring>

#include "formats/jpeg_common.h"
#include "formats/jpeg_tables.h"

namespace {

// Multipliers in units of 1/256.
constexpr int kC1_414 = 362;  // sqrt(2)
constexpr int kC1_847 = 473;  // 2 cos(pi / 8)
constexpr int kC1_082 = 277;  // 2 (cos(pi / 8) - cos(3 pi / 8))
constexpr int kC2_613 = 669;  // 2 (cos(pi / 8) + cos(3 pi / 8))

// 64-bit intermediates: damaged input may carry any coefficient and no
// intermediate can then overflow.
using acc = int64_t;
inline acc mul(acc x, int c) { return (x * c) >> 8; }

// Output carries kDequantBits fractional bits and the transform's gain of 8.
constexpr int kShift = Quant::kDequantBits + 3;

template <int S>
inline void butterflies(acc i0, acc i1, acc i2, acc i3, acc i4, acc i5, acc i6, acc i7, acc* o) {
  // Even part.
  acc t10 = i0 + i4, t11 = i0 - i4;
  acc t13 = i2 + i6;
  acc t12 = mul(i2 - i6, kC1_414) - t13;
  const acc e0 = t10 + t13, e3 = t10 - t13, e1 = t11 + t12, e2 = t11 - t12;
  // Odd part.
  const acc z13 = i5 + i3, z10 = i5 - i3, z11 = i1 + i7, z12 = i1 - i7;
  const acc t7 = z11 + z13;
  const acc t11o = mul(z11 - z13, kC1_414);
  const acc z5 = mul(z10 + z12, kC1_847);
  const acc t10o = mul(z12, kC1_082) - z5;
  const acc t12o = z5 - mul(z10, kC2_613);
  const acc t6 = t12o - t7;
  const acc t5 = t11o - t6;
  const acc t4 = t10o + t5;
  o[0 * S] = e0 + t7;
  o[7 * S] = e0 - t7;
  o[1 * S] = e1 + t6;
  o[6 * S] = e1 - t6;
  o[2 * S] = e2 + t5;
  o[5 * S] = e2 - t5;
  o[4 * S] = e3 + t4;
  o[3 * S] = e3 - t4;
}

}  // namespace

void jpeg_idct_put(const int16_t* c, const int32_t* q, uint8_t* out, int stride) {
  acc ws[64];
  for (int col = 0; col < 8; ++col) {
    const int16_t* in = c + col;
    const int32_t* qq = q + col;
    if ((in[8] | in[16] | in[24] | in[32] | in[40] | in[48] | in[56]) == 0) {
      const acc dc = static_cast<acc>(in[0]) * qq[0];
      for (int r = 0; r < 8; ++r) ws[r * 8 + col] = dc;
      continue;
    }
    butterflies<8>(static_cast<acc>(in[0]) * qq[0], static_cast<acc>(in[8]) * qq[8],
                   static_cast<acc>(in[16]) * qq[16], static_cast<acc>(in[24]) * qq[24],
                   static_cast<acc>(in[32]) * qq[32], static_cast<acc>(in[40]) * qq[40],
                   static_cast<acc>(in[48]) * qq[48], static_cast<acc>(in[56]) * qq[56], ws + col);
  }
  const uint8_t* lim = kJpegRangeLimit;
  for (int r = 0; r < 8; ++r, out += stride) {
    acc* w = ws + r * 8;
    const acc bias = acc{1} << (kShift - 1);
    if ((w[1] | w[2] | w[3] | w[4] | w[5] | w[6] | w[7]) == 0) {
      const uint8_t v = lim[((w[0] + bias) >> kShift) & 1023];
      std::memset(out, v, 8);
      continue;
    }
    acc o[8];
    butterflies<1>(w[0] + bias, w[1], w[2], w[3], w[4], w[5], w[6], w[7], o);
    for (int i = 0; i < 8; ++i) out[i] = lim[(o[i] >> kShift) & 1023];
  }
}

void jpeg_idct_dc_put(int dc, const int32_t* q, uint8_t* out, int stride) {
  const acc v = static_cast<acc>(dc) * q[0] + (acc{1} << (kShift - 1));
  const uint8_t s = kJpegRangeLimit[(v >> kShift) & 1023];
  for (int r = 0; r < 8; ++r, out += stride) std::memset(out, s, 8);
}
