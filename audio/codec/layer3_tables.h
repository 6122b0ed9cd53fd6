// Layer III tables, computed once per process from the standard's formulas
// (the scale-factor band edges are transcribed).
#pragma once

#include <cstdint>

struct Layer3Tables {
  // |v|^(4/3) for every magnitude a pair with 13 linbits can code.
  double pow43[8207];
  // sign(v) |v|^(4/3) for v = -8206..8206 at index v + 8206.
  double pow43_signed[2 * 8206 + 1];
  // 2^(e/4) for e = -512..127 at index e + 512.
  double pow2q[640];
  // Long windows by block type (0 normal, 1 start, 3 stop; 2 unused) and
  // the short window.
  double win_long[4][36];
  double win_short[12];
  // DCT-IV kernels of the 36- and 12-point IMDCTs.
  double cos18t[18][18];  // [k][n]
  double cos6[6][6];
  // Alias-reduction butterflies.
  double cs[8], ca[8];
  // MPEG-1 intensity ratios for positions 0..6: left and right factors.
  double is_ratio[7][2];
  // Lower-frequency intensity factors: [intensity_scale][position][l, r].
  double is_lsf[2][32][2];
  // Band edges by sampling index (0..8): long bands 0..22, short 0..13.
  int16_t sfb_long[9][23];
  int16_t sfb_short[9][14];
};

const Layer3Tables& layer3_tables();

// Pre-emphasis added to the long-block scale factors when preflag is set.
extern const uint8_t kLayer3Pretab[22];
