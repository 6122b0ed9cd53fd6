// Shared machinery of the scaling filters: every kernel is described per
// output sample by a fixed number of (input index, tap) pairs in 1/256 units,
// with the edge rules already folded into the indexes, so one row routine and
// one column routine serve all ratios.
#pragma once

#include <cstdint>
#include <vector>

#include "foundation/cpu.h"

enum ScaleKernel {
  SK_NONE = 0,
  SK_DEC2_H,   // decimate_line_4
  SK_DEC2_V,   // decimate_line_2
  SK_DEC32,    // decimate_3to2_line
  SK_DEC4,     // decimate_line
  SK_INT2,     // interpolate_line_2
  SK_INT23,    // interpolate_group10_line
  SK_INT4,     // interpolate_line
};

struct TapTable {
  int out_count = 0;
  int ntaps = 0;
  std::vector<int> index;     // out_count x ntaps
  std::vector<int16_t> tap;   // out_count x ntaps
};

// Number of outputs the kernel makes from n inputs.
int scale_out_count(ScaleKernel k, int n);
void build_taps(ScaleKernel k, int n, TapTable& t);

// One output row from ntaps (1..12) source rows: dst[c] = clamp((sum
// taps[i] x rows[i][c] + 128) >> 8).
using VFilterRowFn = void (*)(const uint8_t* const* rows, const int16_t* taps, int ntaps, uint8_t* dst, int width);
// The column filter, one table per processor level, bit-exact with the plain
// one.
struct ScaleDsp {
  VFilterRowFn vfilter_row;
};
// The table of one level; null when that level has no variant of its own.
const ScaleDsp* scale_dsp_for(CpuLevel level);
// The table for this processor (TAMSEL_CPU honoured), chosen once.
const ScaleDsp& scale_dsp();

#if TAMSEL_X86_SIMD
extern const ScaleDsp scale_dsp_avx2;
#endif

// Runs kernel k along rows (n_in samples of each of `rows` rows) or along
// columns (n_in rows of `columns` samples); writes at most n_out outputs.
void scale_plane_h(ScaleKernel k, const uint8_t* src, int src_stride, int n_in, int rows, uint8_t* dst,
                   int dst_stride, int n_out);
void scale_plane_v(ScaleKernel k, const uint8_t* src, int src_stride, int n_in, int columns, uint8_t* dst,
                   int dst_stride, int n_out);
