// Forward DCT, quantisers and the coefficient range check of the encoder.
//
// The transform's output is the true DCT times 8 times s(u) x s(v) (s(0) =
// 1, s(k) = sqrt(2) cos(k pi / 16)), the scaling of the Arai-Agui-Nakajima
// fast DCT. The quantisers divide by matrices that carry those factors
// (scale_quant_matrix), so one division per coefficient both descales and
// quantises. It is computed as two passes of 16-bit by 16-bit products
// summed in 32 bits, with 3 fraction bits kept between the passes: within
// 1.4 output units of the exact transform on -255..255 input.
#pragma once

#include <cstdint>
#include <vector>

#include "foundation/cpu.h"

// 64 coefficients in raster order, then the count of non-zero quantised
// coefficients the quantisers store.
struct alignas(32) CoefBlock {
  int16_t c[64];
  int16_t count;
};

// round(16384 x s(u) x s(v)), raster order.
extern const int32_t kAanScale[64];

// out[i] = matrix[i] x kAanScale[i].
void scale_quant_matrix(int32_t out[64], const uint8_t matrix[64]);

// The divisions of one (matrix, quantiser) pair as multiplications:
// floor(n / q) = (n x magic) >> shift, exact for every n < 2^31 (all the
// quantisers' numerators), with the rounding offset of each coefficient.
struct alignas(32) QuantSteps {
  uint32_t magic[64];  // in 2^31 .. 2^32 - 1
  uint32_t bias[64];
  uint32_t shift[64];
};
// False (nothing usable) when a step is 2^30 or more or an entry below 1.
bool make_quant_steps(QuantSteps* out, const int32_t* matrix, int mquant, bool intra);

// The steps of every quantiser value (1..112) of one matrix, each made on
// first use and kept while the matrix stays the same: pictures mostly
// reuse the few values their neighbours had.
class QuantStepTable {
 public:
  // Forgets the steps when `matrix` differs from the one they were made for.
  void prepare(const int32_t* matrix, bool intra);
  // Steps of `mquant` for the prepared matrix; null when the pair has none
  // (the plain quantiser then divides).
  const QuantSteps* get(int mquant);

 private:
  int32_t matrix_[64] = {};
  bool intra_ = false;
  std::vector<QuantSteps> steps_;
  std::vector<int8_t> state_;  // 0 not made, 1 made, -1 unusable
};

// The kernels, one table per processor level, all bit-exact with the plain
// one on any input (sums wrap at 32 bits, passes saturate at 16).
struct EncDctDsp {
  void (*fdct)(int16_t* block);  // in place, 64 values
  // Intra: DC rounded by 2^(3 - dc_prec) x 8, AC with a 3/8 step offset;
  // dst[64] = non-zero AC count. Returns 1.
  int (*quant_intra)(const int16_t* src, const int32_t* matrix, int mquant, int dc_prec, int max, int16_t* dst);
  // Non-intra: offset of a quarter of the matrix entry; dst[64] = non-zero
  // count; returns 1 when any coefficient is non-zero.
  int (*quant_non_intra)(const int16_t* src, const int32_t* matrix, int mquant, int max, int16_t* dst);
  // The same results from prepared steps (make_quant_steps).
  int (*quant_intra_steps)(const int16_t* src, const QuantSteps* steps, int dc_prec, int max, int16_t* dst);
  int (*quant_non_intra_steps)(const int16_t* src, const QuantSteps* steps, int max, int16_t* dst);
};

const EncDctDsp* enc_dct_dsp_for(CpuLevel level);
const EncDctDsp& enc_dct_dsp();

// The plain kernels (the reference of the SIMD ones).
void fdct_8x8(int16_t* block);
int quant_intra(const int16_t* src, const int32_t* matrix, int mquant, int dc_prec, int max, int16_t* dst);
int quant_non_intra(const int16_t* src, const int32_t* matrix, int mquant, int max, int16_t* dst);
int quant_intra_steps(const int16_t* src, const QuantSteps* steps, int dc_prec, int max, int16_t* dst);
int quant_non_intra_steps(const int16_t* src, const QuantSteps* steps, int max, int16_t* dst);

// 1 when a block of the six has coefficient 1 outside -5667..5667 or
// coefficient 8 outside -5676..5676 (MPEG-1 intra levels that would clip).
int check_coef_range(CoefBlock* const* blocks);
