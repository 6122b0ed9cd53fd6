// AVX2 kernels: four sums side by side, each product and addition as
// separate instructions (no fused multiply-add), so the results equal the
// plain kernels' bit for bit.
#include <immintrin.h>

#include "audio/codec/mpa_dct32.h"
#include "audio/codec/mpa_dsp.h"

namespace {

void synth_window_avx2(const double* const* v, const double (*w0)[32], const double (*w1)[32], double* acc) {
  __m256d s[8];
  for (int q = 0; q < 8; ++q) s[q] = _mm256_setzero_pd();
  for (int p = 0; p < 8; ++p) {
    const double* a = v[2 * p];
    const double* b = v[2 * p + 1];
    for (int q = 0; q < 8; ++q) {
      const __m256d x = _mm256_mul_pd(_mm256_loadu_pd(w0[p] + 4 * q), _mm256_loadu_pd(a + 4 * q));
      const __m256d y = _mm256_mul_pd(_mm256_loadu_pd(w1[p] + 4 * q), _mm256_loadu_pd(b + 4 * q));
      s[q] = _mm256_add_pd(s[q], _mm256_add_pd(x, y));
    }
  }
  for (int q = 0; q < 8; ++q) _mm256_storeu_pd(acc + 4 * q, s[q]);
}

void dct4_18_avx2(const double* x, const double (*c)[18], double* t) {
  __m256d s0 = _mm256_setzero_pd(), s1 = s0, s2 = s0, s3 = s0;
  __m128d s4 = _mm_setzero_pd();
  for (int k = 0; k < 18; ++k) {
    const __m256d xk = _mm256_set1_pd(x[k]);
    const double* ck = c[k];
    s0 = _mm256_add_pd(s0, _mm256_mul_pd(xk, _mm256_loadu_pd(ck)));
    s1 = _mm256_add_pd(s1, _mm256_mul_pd(xk, _mm256_loadu_pd(ck + 4)));
    s2 = _mm256_add_pd(s2, _mm256_mul_pd(xk, _mm256_loadu_pd(ck + 8)));
    s3 = _mm256_add_pd(s3, _mm256_mul_pd(xk, _mm256_loadu_pd(ck + 12)));
    s4 = _mm_add_pd(s4, _mm_mul_pd(_mm256_castpd256_pd128(xk), _mm_loadu_pd(ck + 16)));
  }
  _mm256_storeu_pd(t, s0);
  _mm256_storeu_pd(t + 4, s1);
  _mm256_storeu_pd(t + 8, s2);
  _mm256_storeu_pd(t + 12, s3);
  _mm_storeu_pd(t + 16, s4);
}

void dct32_avx2(const double* x, double* X, const double* const* f) {
  mpa_dct32(x, X, f[0], f[1], f[2], f[3], f[4]);
}

}  // namespace

extern const MpaDsp mpa_dsp_avx2 = {synth_window_avx2, dct4_18_avx2, dct32_avx2};
