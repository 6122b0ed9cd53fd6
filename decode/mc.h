// Block prediction kernels for motion compensation.
//
// Half-sample mode = (vertical half << 1) | horizontal half. One reference:
// full = s, one half = (a + b + 1) >> 1, both = (a + b + c + d + 2) >> 2.
// Two references: each rounded by its own rule, then (p1 + p2 + 1) >> 1.
// Widths 16, 8, 4 or 2; heights 1..16; every result fits a byte.
#pragma once

#include <cstdint>

using PredFn = void (*)(uint8_t* dst, const uint8_t* src, int stride, int width, int height);
using PredAvgFn = void (*)(uint8_t* dst, const uint8_t* src1, const uint8_t* src2, int stride, int width,
                           int height);

// Entries 0-15: two-reference average, index 4 x m2 + m1; 16-19: one reference.
struct PredictionTable {
  PredAvgFn avg[16];
  PredFn single[4];
};

// The table in use, filled once by init_prediction_table (std::call_once).
extern PredictionTable prediction_table;
void init_prediction_table();

// The plain and SIMD variants (the SIMD ones fall back to plain code for
// widths below 8).
extern const PredictionTable prediction_table_c;
extern const PredictionTable prediction_table_sse2;
