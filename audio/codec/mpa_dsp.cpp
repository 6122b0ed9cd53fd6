#include "audio/codec/mpa_dct32.h"
#include "audio/codec/mpa_dsp.h"

namespace {

void synth_window_c(const double* const* v, const double (*w0)[32], const double (*w1)[32], double* acc) {
  for (int j = 0; j < 32; ++j) acc[j] = 0.0;
  for (int p = 0; p < 8; ++p) {
    const double* a = v[2 * p];
    const double* b = v[2 * p + 1];
    for (int j = 0; j < 32; ++j) acc[j] += w0[p][j] * a[j] + w1[p][j] * b[j];
  }
}

void dct4_18_c(const double* x, const double (*c)[18], double* t) {
  for (int n = 0; n < 18; ++n) t[n] = 0.0;
  for (int k = 0; k < 18; ++k) {
    const double xk = x[k];
    for (int n = 0; n < 18; ++n) t[n] += xk * c[k][n];
  }
}

void dct32_c(const double* x, double* X, const double* const* f) {
  mpa_dct32(x, X, f[0], f[1], f[2], f[3], f[4]);
}

const MpaDsp kPlain = {synth_window_c, dct4_18_c, dct32_c};

}  // namespace

#if TAMSEL_X86_SIMD
extern const MpaDsp mpa_dsp_avx2;
#endif

const MpaDsp* mpa_dsp_for(CpuLevel level) {
  switch (level) {
    case CpuLevel::c: return &kPlain;
#if TAMSEL_X86_SIMD
    case CpuLevel::avx2: return &mpa_dsp_avx2;
#endif
    default: return nullptr;
  }
}

const MpaDsp& mpa_dsp() {
  static const MpaDsp& dsp = cpu_pick(mpa_dsp_for);
  return dsp;
}
