// Inverse DCT of 8x8 blocks and the reduced-size transforms.
//
// Every routine behind `IdctFn` takes (64 coefficients in row-major order,
// destination, line stride, mode): mode 0 stores saturate(v + 128) (intra
// samples are coded 128 low because the DC predictors start at 0), nonzero
// adds saturate(dst + v). The coefficients must lie in -2048..2047; the
// block is left in an unspecified state.
#pragma once

#include <cstdint>

#include "foundation/cpu.h"

using IdctFn = void (*)(int16_t* block, uint8_t* dst, int stride, int mode);

// The full transform, one table per processor level, all bit-exact with the
// plain one. put/add transform and store or add in one pass and leave the
// block zeroed; put_dc/add_dc write a block whose transform is the constant
// v (-256..255, see idct_dc_value); dc63 is idct_dc63. put_upper and
// add_upper are put and add for blocks whose coefficients lie in rows 0-3
// but for coefficient 63, which is 0 or 1 (what mismatch control leaves);
// they read and clear only those, and a level without a shorter way there
// uses put and add themselves.
struct IdctDsp {
  void (*transform)(int16_t* block);  // in place, output clamped to -256..255
  void (*put)(int16_t* block, uint8_t* dst, int stride);
  void (*add)(int16_t* block, uint8_t* dst, int stride);
  void (*put_upper)(int16_t* block, uint8_t* dst, int stride);
  void (*add_upper)(int16_t* block, uint8_t* dst, int stride);
  void (*put_dc)(uint8_t* dst, int stride, int v);
  void (*add_dc)(uint8_t* dst, int stride, int v);
  void (*dc63)(int dc, int c63, uint8_t* dst, int stride, int mode);
};
// The table of one level; null when that level has no variant of its own.
const IdctDsp* idct_dsp_for(CpuLevel level);
// The table for this processor (TAMSEL_CPU honoured), chosen once.
const IdctDsp& idct_dsp();

// Full transform through idct_dsp().
void idct_dispatch(int16_t* block, uint8_t* dst, int stride, int mode);
// Three-coefficient transform (DC, first horizontal, first vertical).
void idct_reduced(int16_t* block, uint8_t* dst, int stride, int mode);
// 4x4 and 2x2 outputs: the 8x8 transform of the 4x4 low-frequency
// coefficients averaged over 2x2 / 4x4 squares.
void idct_half(int16_t* block, uint8_t* dst, int stride, int mode);
void idct_quarter(int16_t* block, uint8_t* dst, int stride, int mode);

// Block with only a DC coefficient: the exact result of the full transform.
inline int idct_dc_value(int dc) {
  int v = (dc + 4) >> 3;
  return v < -256 ? -256 : v > 255 ? 255 : v;
}

// Block with only coefficients 0 and 63 (an intra DC whose mismatch control
// set the last coefficient): exactly what the full transform gives, with
// far less work. Stores (mode 0) or adds like an IdctFn; the block itself is
// not read beyond those two values and not written.
void idct_dc63(int dc, int c63, uint8_t* dst, int stride, int mode);
// The same as transform output (for tests).
void idct_dc63_values(int dc, int c63, int16_t out[64]);
// For c63 = +-1 the block is (dc + 4) >> 3 plus a pattern of -1, 0 and 1
// chosen by (dc + 4) & 7: that pattern, 64 values in row-major order.
const int16_t* idct_dc63_pattern(int c63, int phase);
