#include "formats/jpeg_idct.h"
#include "formats/jpeg_idct_kernels.h"

#include <cstring>

#include "formats/jpeg_common.h"
#include "foundation/cpu.h"

namespace {

// Multipliers in units of 1/256.
constexpr int kC1_414 = 362;  // sqrt(2)
constexpr int kC1_847 = 473;  // 2 cos(pi / 8)
constexpr int kC1_082 = 277;  // 2 (cos(pi / 8) - cos(3 pi / 8))
constexpr int kC2_613 = 669;  // 2 (cos(pi / 8) + cos(3 pi / 8))

// Coefficients are held to +-2^12 and dequantised inputs to +-2^14 (valid
// pictures stay below both): then no intermediate of either pass can leave
// 32 bits, whatever a damaged picture holds.
constexpr int32_t kCoefLimit = 1 << 12;
constexpr int32_t kInputLimit = 1 << 14;
constexpr int kDown = Quant::kTableBits - Quant::kDequantBits;

inline int32_t dequantise(int32_t c, int32_t q) {
  c = c < -kCoefLimit ? -kCoefLimit : (c > kCoefLimit ? kCoefLimit : c);
  const int32_t v = (c * q + (1 << (kDown - 1))) >> kDown;
  return v < -kInputLimit ? -kInputLimit : (v > kInputLimit ? kInputLimit : v);
}
// Output carries kDequantBits fractional bits and the transform's gain of 8.
constexpr int kShift = Quant::kDequantBits + 3;

inline int32_t mul(int32_t x, int c) { return (x * c) >> 8; }

// One-dimensional transform of 8 lanes at once: input k of lane l is
// in[k * 8 + l], output k goes to out[k * 8 + l]. Straight-line code over
// contiguous lanes, so that the compiler can use vector registers.
inline void idct_lanes(const int32_t* in, int32_t* out) {
  for (int l = 0; l < 8; ++l) {
    const int32_t i0 = in[l], i1 = in[8 + l], i2 = in[16 + l], i3 = in[24 + l];
    const int32_t i4 = in[32 + l], i5 = in[40 + l], i6 = in[48 + l], i7 = in[56 + l];
    // Even part.
    const int32_t t10 = i0 + i4, t11 = i0 - i4, t13 = i2 + i6;
    const int32_t t12 = mul(i2 - i6, kC1_414) - t13;
    const int32_t e0 = t10 + t13, e3 = t10 - t13, e1 = t11 + t12, e2 = t11 - t12;
    // Odd part.
    const int32_t z13 = i5 + i3, z10 = i5 - i3, z11 = i1 + i7, z12 = i1 - i7;
    const int32_t t7 = z11 + z13;
    const int32_t t11o = mul(z11 - z13, kC1_414);
    const int32_t z5 = mul(z10 + z12, kC1_847);
    const int32_t t10o = mul(z12, kC1_082) - z5;
    const int32_t t12o = z5 - mul(z10, kC2_613);
    const int32_t t6 = t12o - t7, t5 = t11o - t6, t4 = t10o + t5;
    out[l] = e0 + t7;
    out[56 + l] = e0 - t7;
    out[8 + l] = e1 + t6;
    out[48 + l] = e1 - t6;
    out[16 + l] = e2 + t5;
    out[40 + l] = e2 - t5;
    out[32 + l] = e3 + t4;
    out[24 + l] = e3 - t4;
  }
}

inline void transpose(const int32_t* a, int32_t* b) {
  for (int r = 0; r < 8; ++r)
    for (int c = 0; c < 8; ++c) b[c * 8 + r] = a[r * 8 + c];
}

inline uint8_t to_sample(int32_t v) {
  v = (v >> kShift) + 128;
  return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

void jpeg_idct_put_c(const int16_t* c, const int32_t* q, uint8_t* out, int stride) {
  alignas(32) int32_t a[64], b[64];
  for (int i = 0; i < 64; ++i) a[i] = dequantise(c[i], q[i]);
  idct_lanes(a, b);  // columns: lane = column
  transpose(b, a);   // a[k * 8 + r]: entry k of row r
  for (int r = 0; r < 8; ++r) a[r] += 1 << (kShift - 1);  // rounding, through the DC input
  idct_lanes(a, b);  // rows: lane = row, b[k * 8 + r] = sample (r, k)
  for (int r = 0; r < 8; ++r, out += stride)
    for (int k = 0; k < 8; ++k) out[k] = to_sample(b[k * 8 + r]);
}

const JpegIdctDsp jpeg_idct_dsp_c = {jpeg_idct_put_c};

}  // namespace

void jpeg_idct_dc_put(int dc, const int32_t* q, uint8_t* out, int stride) {
  const uint8_t s = to_sample(dequantise(dc, q[0]) + (1 << (kShift - 1)));
  for (int r = 0; r < 8; ++r, out += stride) std::memset(out, s, 8);
}

const JpegIdctDsp* jpeg_idct_dsp_for(CpuLevel level) {
  switch (level) {
    case CpuLevel::c: return &jpeg_idct_dsp_c;
#if TAMSEL_X86_SIMD
    case CpuLevel::sse41: return &jpeg_idct_dsp_sse41;
    case CpuLevel::avx2: return &jpeg_idct_dsp_avx2;
#endif
    default: return nullptr;
  }
}

const JpegIdctDsp& jpeg_idct_dsp() {
  static const JpegIdctDsp& dsp = cpu_pick(jpeg_idct_dsp_for);
  return dsp;
}

void jpeg_idct_put(const int16_t* c, const int32_t* q, uint8_t* out, int stride) {
  static const JpegIdctFn put = jpeg_idct_dsp().put;
  put(c, q, out, stride);
}
