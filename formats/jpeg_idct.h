// Inverse 8 x 8 transform of the JPEG decoder: dequantisation with
// AAN-scaled tables (Quant::decode_table), Arai-Agui-Nakajima butterflies,
// level shift and saturation to 0..255 (out-of-range samples clamp rather
// than wrap).
#pragma once

#include <cstdint>

#include "foundation/cpu.h"

// coef: 64 coefficients in natural order; writes 8 rows of 8 samples.
using JpegIdctFn = void (*)(const int16_t* coef, const int32_t* dequant, uint8_t* out, int stride);

// The transform, one table per processor level, all bit-exact with the plain
// one.
struct JpegIdctDsp {
  JpegIdctFn put;
};
// The table of one level; null when that level has no variant of its own.
const JpegIdctDsp* jpeg_idct_dsp_for(CpuLevel level);
// The table for this processor (TAMSEL_CPU honoured), chosen once.
const JpegIdctDsp& jpeg_idct_dsp();

// The transform through jpeg_idct_dsp().
void jpeg_idct_put(const int16_t* coef, const int32_t* dequant, uint8_t* out, int stride);
// Only the DC coefficient is non-zero: a flat block.
void jpeg_idct_dc_put(int dc, const int32_t* dequant, uint8_t* out, int stride);
