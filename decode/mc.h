// Block prediction kernels for motion compensation.
//
// Half-sample mode = (vertical half << 1) | horizontal half. One reference:
// full = s, one half = (a + b + 1) >> 1, both = (a + b + c + d + 2) >> 2.
// Two references: each rounded by its own rule, then (p1 + p2 + 1) >> 1.
// Widths 16, 8, 4 or 2; heights 1..16; every result fits a byte.
#pragma once

#include <cstdint>

#include "foundation/cpu.h"

using PredFn = void (*)(uint8_t* dst, const uint8_t* src, int stride, int width, int height);
using PredAvgFn = void (*)(uint8_t* dst, const uint8_t* src1, const uint8_t* src2, int stride, int width,
                           int height);

// A 4:2:0 macroblock region predicted in one call: 16 x height luma and the
// two 8 x height / 2 chroma blocks, from one reference (src2[0] null) or the
// average of two. Chroma lines are half the luma line stride apart.
struct Pred420 {
  uint8_t* dst[3];
  const uint8_t* src1[3];
  const uint8_t* src2[3];
  int stride;
  int luma_mode[2];    // half-sample mode per reference
  int chroma_mode[2];
  int height;
};

// avg: two-reference average, index 4 x m2 + m1; single: one reference;
// pred420: the three planes of a 4:2:0 region at once.
struct McDsp {
  PredAvgFn avg[16];
  PredFn single[4];
  void (*pred420)(const Pred420& p);
};

// The table of one level; null when that level has no variant of its own
// (the SIMD variants fall back to plain code for widths below 8).
const McDsp* mc_dsp_for(CpuLevel level);
// The table for this processor (TAMSEL_CPU honoured), chosen once.
const McDsp& mc_dsp();
