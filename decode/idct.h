// Inverse DCT of 8x8 blocks and the reduced-size transforms.
//
// Every routine behind `IdctFn` takes (64 coefficients in row-major order,
// destination, line stride, mode): mode 0 stores saturate(v + 128) (intra
// samples are coded 128 low because the DC predictors start at 0), nonzero
// adds saturate(dst + v). The coefficients must lie in -2048..2047; the
// block is left in an unspecified state.
#pragma once

#include <cstdint>

using IdctFn = void (*)(int16_t* block, uint8_t* dst, int stride, int mode);

// Processor variant picked at start-up: 0 plain, 1 SSE2, 2 AVX2.
extern int idct_mode;
// Reads the processor features (or TAMSEL_CPU=c) once and fills the kernel
// tables; safe to call repeatedly and from several threads.
void detect_cpu_features();

// In-place transforms, bit-exact with each other. Output clamped to -256..255.
void idct_c(int16_t* block);
void idct_sse2(int16_t* block);
void idct_avx2(int16_t* block);

// Transform + store/add in one pass, one per variant (table `idct_kernels`);
// these leave the block zeroed.
struct IdctKernels {
  void (*put)(int16_t* block, uint8_t* dst, int stride);
  void (*add)(int16_t* block, uint8_t* dst, int stride);
};
extern IdctKernels idct_kernels_c;
extern IdctKernels idct_kernels_sse2;
extern IdctKernels idct_kernels_avx2;
// The variant in use.
extern IdctKernels idct_kernels;

void idct_put_c(int16_t* block, uint8_t* dst, int stride);
void idct_add_c(int16_t* block, uint8_t* dst, int stride);
void idct_put_sse2(int16_t* block, uint8_t* dst, int stride);
void idct_add_sse2(int16_t* block, uint8_t* dst, int stride);
void idct_put_avx2(int16_t* block, uint8_t* dst, int stride);
void idct_add_avx2(int16_t* block, uint8_t* dst, int stride);

// Full transform through the selected variant.
void idct_dispatch(int16_t* block, uint8_t* dst, int stride, int mode);
// Three-coefficient transform (DC, first horizontal, first vertical).
void idct_reduced(int16_t* block, uint8_t* dst, int stride, int mode);
void idct_reduced_put(int16_t* block, uint8_t* dst, int stride);
void idct_reduced_add(int16_t* block, uint8_t* dst, int stride);
// 4x4 and 2x2 outputs: the 8x8 transform of the 4x4 low-frequency
// coefficients averaged over 2x2 / 4x4 squares.
void idct_half(int16_t* block, uint8_t* dst, int stride, int mode);
void idct_quarter(int16_t* block, uint8_t* dst, int stride, int mode);

// Block with only a DC coefficient: the exact result of the full transform.
inline int idct_dc_value(int dc) {
  int v = (dc + 4) >> 3;
  return v < -256 ? -256 : v > 255 ? 255 : v;
}

// Byte saturation: saturation_table[i] = clamp(i, 0, 255) for -1024 <= i < 1280.
extern const uint8_t* const saturation_table;
