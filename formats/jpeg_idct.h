// Inverse 8 x 8 transform of the JPEG decoder: dequantisation with
// AAN-scaled tables (Quant::decode_table), Arai-Agui-Nakajima butterflies,
// level shift and saturation to 0..255 (out-of-range samples clamp rather
// than wrap).
#pragma once

#include <cstdint>

// coef: 64 coefficients in natural order; writes 8 rows of 8 samples.
// Runs the fastest variant the processor has (plain with TAMSEL_CPU=c).
void jpeg_idct_put(const int16_t* coef, const int32_t* dequant, uint8_t* out, int stride);

// The variants, bit-exact with each other.
using JpegIdctFn = void (*)(const int16_t*, const int32_t*, uint8_t*, int);
void jpeg_idct_put_c(const int16_t* coef, const int32_t* dequant, uint8_t* out, int stride);
void jpeg_idct_put_sse41(const int16_t* coef, const int32_t* dequant, uint8_t* out, int stride);
void jpeg_idct_put_avx2(const int16_t* coef, const int32_t* dequant, uint8_t* out, int stride);
// The variant jpeg_idct_put uses.
JpegIdctFn jpeg_idct_selected();
// Only the DC coefficient is non-zero: a flat block.
void jpeg_idct_dc_put(int dc, const int32_t* dequant, uint8_t* out, int stride);
