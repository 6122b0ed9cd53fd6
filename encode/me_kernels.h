// Pixel kernels of the motion search and the macroblock decisions.
//
// Half-pel prediction of a sample at vector (vx, vy), half-pel units, from a
// reference pointer already advanced by the full-pel part:
//   full a; horizontal (a + right + 1) >> 1; vertical (a + below + 1) >> 1;
//   diagonal (a + right + below + below_right + 2) >> 2;
//   two references: (f + b + 1) >> 1 of the two predictions.
// Flag index of a vector: bit 0 horizontal half, bit 1 vertical half; of a
// pair: bits 0-1 the first (forward) vector, bits 2-3 the second.
//
// Two kinds of tables:
//   - DistortionKernels / PredictionErrorKernels: every flag combination,
//     plain code, constant tables (the decisions call them once per
//     macroblock);
//   - MeDsp: the search's hot loops, chosen per processor like every kernel
//     family (me_dsp_for / me_dsp), bit-exact across levels.
#pragma once

#include <cstdint>

#include "foundation/cpu.h"

using DistFn = uint32_t (*)(const uint8_t* src, const uint8_t* ref, int stride, int height);
using DistBiFn = uint32_t (*)(const uint8_t* src, const uint8_t* fwd, const uint8_t* bwd, int stride, int height);
using PredErrFn = int (*)(const uint8_t* src, const uint8_t* ref, int stride, int16_t* out);
using PredErrBiFn = int (*)(const uint8_t* src, const uint8_t* fwd, const uint8_t* bwd, int stride, int16_t* out);

// Block width 16, the given height; costs summed over the whole block.
struct DistortionKernels {
  DistBiFn sad_bi[16];  // entries 0-15
  DistFn sad[4];        // 16-19
  DistBiFn sse_bi[16];  // 20-35
  DistFn sse[4];        // 36-39
};

// 8x8 blocks of source - prediction, 64 values in raster order.
struct PredictionErrorKernels {
  PredErrBiFn bi[16];
  PredErrFn single[4];
};

const DistortionKernels& distortion_kernels();
const PredictionErrorKernels& prediction_error_kernels();
// The tables are constants; kept for callers that initialise explicitly.
void init_distortion_kernels();

// One predicted sample at flag index M (0 full, 1 horizontal, 2
// vertical, 3 both) from the sample at `s + x`.
template <int M>
inline int half_pel_sample(const uint8_t* s, int x, int stride) {
  if constexpr (M == 0) return s[x];
  if constexpr (M == 1) return (s[x] + s[x + 1] + 1) >> 1;
  if constexpr (M == 2) return (s[x] + s[x + stride] + 1) >> 1;
  return (s[x] + s[x + 1] + s[x + stride] + s[x + stride + 1] + 2) >> 2;
}

inline int vector_flags(int vx, int vy) { return (vx & 1) | ((vy & 1) << 1); }
inline const uint8_t* vector_base(const uint8_t* ref, int stride, int vx, int vy) {
  return ref + static_cast<long>(vy >> 1) * stride + (vx >> 1);
}

// Costs at half-pel vectors relative to `src` (the references point at the
// co-located block).
uint32_t sad_at(const uint8_t* src, const uint8_t* ref, int stride, int x, int y, int height);
uint32_t sse_at(const uint8_t* src, const uint8_t* ref, int stride, int x, int y, int height);
uint32_t sad_bidir_at(const uint8_t* src, const uint8_t* fwd, const uint8_t* bwd, int stride, int fx, int fy, int bx,
                      int by, int height);
uint32_t sse_bidir_at(const uint8_t* src, const uint8_t* fwd, const uint8_t* bwd, int stride, int fx, int fy, int bx,
                      int by, int height);

// The limits of the line-pair matchers: total, even lines, odd lines.
struct FieldSums {
  uint32_t total, even, odd;
};

// The search's hot kernels. Early-exit matchers stop after the line (or
// line pair) at which the running sum reaches `limit`, and return that sum.
struct MeDsp {
  // 16 x height SAD at one flag index, whole block (members by index: kSad).
  DistFn sad_full, sad_h, sad_v, sad_hv;
  // 16 x height sum of squared differences at one flag index (kSse).
  DistFn sse_full, sse_h, sse_v, sse_hv;
  // 16 x height sum of squared differences of the average of two
  // predictions, by pair index (bits 0-1 first vector, 2-3 second).
  DistBiFn sse_bi[16];
  // The same as sums of absolute differences.
  DistBiFn sad_bi[16];
  // Full-pel 16 x height SAD with early exit; and its checkerboard variant
  // (even lines even columns, odd lines odd columns).
  uint32_t (*sad16_limit)(const uint8_t* src, const uint8_t* ref, int stride, int height, uint32_t limit);
  uint32_t (*sad16_checker_limit)(const uint8_t* src, const uint8_t* ref, int stride, int height, uint32_t limit);
  // 16-wide line-pair sums over `height` lines: total, even-line and
  // odd-line sums; stops once every sum has reached its limit.
  FieldSums (*sad16_fields)(const uint8_t* src, const uint8_t* ref, int stride, int height, FieldSums limit);
  // The same over the even columns only (strategy bit 0x08).
  FieldSums (*sad16_fields_sub)(const uint8_t* src, const uint8_t* ref, int stride, int height, FieldSums limit);
  // Reduced-layer matchers (both blocks at `stride`).
  uint32_t (*match_8x8)(const uint8_t* src, const uint8_t* ref, int stride, uint32_t limit);
  FieldSums (*match_8x8_fields)(const uint8_t* src, const uint8_t* ref, int stride, FieldSums limit);
  uint32_t (*match_4x4)(const uint8_t* src, const uint8_t* ref, int stride, uint32_t limit);
  // Whole 8x8 SADs at the eight columns ref .. ref + 7 (reads 15 columns).
  void (*match_8x8_row8)(const uint8_t* src, const uint8_t* ref, int stride, uint32_t out[8]);
  // The nine half-pel SADs around `ref` (a full-pel position whose
  // neighbours all lie in the picture), in the refiner's order:
  // (0,0) (-1,-1) (0,-1) (1,-1) (-1,0) (1,0) (-1,1) (0,1) (1,1).
  void (*sad_half9)(const uint8_t* src, const uint8_t* ref, int stride, int height, uint32_t out[9]);
  // 16x16: sum of squares - ((sum >> 4) squared).
  uint32_t (*mb_variance)(const uint8_t* p, int stride);
};
inline constexpr DistFn MeDsp::*kSad[4] = {&MeDsp::sad_full, &MeDsp::sad_h, &MeDsp::sad_v, &MeDsp::sad_hv};
inline constexpr DistFn MeDsp::*kSse[4] = {&MeDsp::sse_full, &MeDsp::sse_h, &MeDsp::sse_v, &MeDsp::sse_hv};

const MeDsp* me_dsp_for(CpuLevel level);
const MeDsp& me_dsp();

// Plain-only search operations.
// 4x4 SAD: lines 3-4 only when lines 1-2 stay below `limit`.
uint32_t match_4x4_plain(const uint8_t* src, const uint8_t* ref, int stride, uint32_t limit);
// Best 4x4 match along `count` positions of one line (rounded down to a
// multiple of 4); leftmost on ties; offset of the winner in *offset.
uint32_t scan_4x4_row(const uint8_t* src, const uint8_t* ref, int stride, int count, int* offset);
// 8x8 SADs at columns c, c+1, c+2: the smallest; c+1 beats c on a tie, c+2
// wins only when strictly below both. *which gets 0, 1 or 2.
uint32_t match_8x8_three(const uint8_t* src, const uint8_t* ref, int stride, int* which);
// At c and c+1; c wins ties.
uint32_t match_8x8_two(const uint8_t* src, const uint8_t* ref, int stride, int* which);

// 8x8 block variance: max(q >> 6, m * m) - m * m with m = sum >> 6.
int block_variance_8x8(const uint8_t* p, int stride);

// Prediction-error blocks of a 4:2:0 macroblock at (mx, my): four luma
// blocks then Cb and Cr. Planes share the luma stride (chroma half of it).
struct PlaneSet {
  const uint8_t* y;
  const uint8_t* cb;
  const uint8_t* cr;
  int stride;  // luma
};
void predict_error_single(const PlaneSet& picture, int mx, int my, int16_t blocks[6][64], const PlaneSet& ref, int vx,
                          int vy);
void predict_error_bidir(const PlaneSet& picture, int mx, int my, int16_t blocks[6][64], const PlaneSet& fwd,
                         const PlaneSet& bwd, int fx, int fy, int bx, int by);
void intra_blocks(const PlaneSet& picture, int mx, int my, int16_t blocks[6][64]);
// Chroma component of a luma vector: halved towards zero.
inline int chroma_vector(int v) { return v / 2; }

class Image;
// Pulls near-equal luma samples of `target` towards `other` (same size
// only): ((256 - w) * b + w * a + 128) >> 8 with w from |a - b|.
void filter_luma_temporal(Image* target, const Image* other);
