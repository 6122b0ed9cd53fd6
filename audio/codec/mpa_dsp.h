// Kernels of the MPEG audio decoder's two hot loops, chosen once per
// process from the processor level. Every variant adds the same products in
// the same order as the plain one, so the PCM never depends on the machine.
#pragma once

#include "foundation/cpu.h"

struct MpaDsp {
  // One synthesis slot: acc[j] += w0[p][j] v[2p][j] + w1[p][j] v[2p+1][j]
  // for p = 0..7, j = 0..31 (acc zeroed first; p ascending).
  void (*synth_window)(const double* const* v, const double (*w0)[32], const double (*w1)[32], double* acc);
  // The 18 DCT-IV sums of a long block: t[n] = sum over k ascending of
  // x[k] c[k][n].
  void (*dct4_18)(const double* x, const double (*c)[18], double* t);
  // The synthesis matrixing's 32-point DCT-II (mpa_dct32.h) with the scale
  // factors of its five levels.
  void (*dct32)(const double* x, double* X, const double* const* factors);
};

const MpaDsp* mpa_dsp_for(CpuLevel level);
const MpaDsp& mpa_dsp();
