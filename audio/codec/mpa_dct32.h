// The 32-point DCT-II of the synthesis matrixing, X[m] = sum over k of
// x[k] cos(pi m (2k+1) / 64), by Lee's split written level by level: five
// levels of butterflies (sums, and differences scaled by
// 1 / (2 cos((2k+1) pi / 2N))) halve the blocks down to pairs, then four
// levels of recombination (odd outputs as sums of neighbours) build them up
// again. Included by the plain and the SIMD kernel files alike: the same
// operations in the same order, vectorised by the compiler as each target
// allows.
#pragma once

namespace mpa_dct_detail {

// One split level over all blocks of size n held contiguously in 32 values.
template <int n>
inline void split(const double* in, double* out, const double* f) {
  for (int base = 0; base < 32; base += n)
    for (int k = 0; k < n / 2; ++k) {
      const double lo = in[base + k], hi = in[base + n - 1 - k];
      out[base + k] = lo + hi;
      out[base + n / 2 + k] = (lo - hi) * f[k];
    }
}

// One recombination level: each block of size n holds the DCT of its sum
// half (A) then of its difference half (B); interleave A with the
// neighbour sums of B.
template <int n>
inline void merge(const double* in, double* out) {
  for (int base = 0; base < 32; base += n) {
    const double* A = in + base;
    const double* B = in + base + n / 2;
    double* X = out + base;
    for (int m = 0; m < n / 2 - 1; ++m) {
      X[2 * m] = A[m];
      X[2 * m + 1] = B[m] + B[m + 1];
    }
    X[n - 2] = A[n / 2 - 1];
    X[n - 1] = B[n / 2 - 1];
  }
}

}  // namespace mpa_dct_detail

// f32, f16, f8, f4, f2: the 16, 8, 4, 2 and 1 scale factors of each level.
inline void mpa_dct32(const double* x, double* X, const double* f32, const double* f16, const double* f8,
                      const double* f4, const double* f2) {
  using namespace mpa_dct_detail;
  double a[32], b[32];
  split<32>(x, a, f32);
  split<16>(a, b, f16);
  split<8>(b, a, f8);
  split<4>(a, b, f4);
  split<2>(b, a, f2);  // a pair's DCT-II is its sum and scaled difference
  merge<4>(a, b);
  merge<8>(b, a);
  merge<16>(a, b);
  merge<32>(b, X);
}
