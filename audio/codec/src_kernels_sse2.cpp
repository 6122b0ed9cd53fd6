// SSE2 conversion kernels: both channels of a stereo frame run at once,
// four taps by one pmaddwd on the deinterleaved frames. Integer sums, so
// the results equal the plain kernels' bit for bit.
#include <emmintrin.h>

#include "audio/codec/src_kernels.h"

namespace {

int stereo_sse2(const SrcPlan& plan, int16_t* out, int, const int16_t* in, int, int frames, int j0, int* consumed) {
  return src_walk_blocks(plan, frames, j0, consumed, [&](int f, const SrcTap& t, int produced) {
    const int16_t* x = in + 2 * f;
    // L0 R0 L1 R1 L2 R2 L3 R3 -> L0 L1 L2 L3 R0 R1 R2 R3
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(x));
    v = _mm_shufflelo_epi16(v, 0xD8);
    v = _mm_shufflehi_epi16(v, 0xD8);
    v = _mm_shuffle_epi32(v, 0xD8);
    const __m128i w = _mm_setr_epi16(int16_t(t.w[0]), int16_t(t.w[1]), int16_t(t.w[2]), int16_t(t.w[3]),
                                     int16_t(t.w[0]), int16_t(t.w[1]), int16_t(t.w[2]), int16_t(t.w[3]));
    const __m128i p = _mm_madd_epi16(v, w);                          // L01 L23 R01 R23
    const __m128i s = _mm_add_epi32(p, _mm_shuffle_epi32(p, 0xB1));  // L L R R
    int32_t left = _mm_cvtsi128_si32(s);
    int32_t right = _mm_cvtsi128_si32(_mm_shuffle_epi32(s, 0x02));
    if (t.w[4]) {
      left += t.w[4] * x[8];
      right += t.w[4] * x[9];
    }
    out[2 * produced] = src_round(left);
    out[2 * produced + 1] = src_round(right);
  });
}

}  // namespace

const SrcDsp src_dsp_sse2 = {{src_kernel_c, src_kernel_m2s_c, src_kernel_s2m_c}, stereo_sse2};
