// Process-wide tables of the MPEG audio decoder, built once (thread-safe)
// on first use.
#pragma once

#include <cstdint>

struct MpaTables {
  // Synthesis window times 32768, split for the output loop: win[p][j] is
  // the coefficient of vector 2p, element j; win_odd[p][j] of vector 2p+1,
  // element 32+j (p = 0..7, j = 0..31).
  double win[8][32];
  double win_odd[8][32];
  // 1 / (2 cos((2k+1) pi / 2N)) for the 32-, 16-, 8-, 4- and 2-point stages
  // of the matrixing DCT.
  double dct_factor32[16], dct_factor16[8], dct_factor8[4], dct_factor4[2], dct_factor2[1];

  // Scale factors 2^(1 - j/3), j = 0..62; entry 63 is 0.
  double scale[64];
  // Per quantisation class (levels 3, 5, 7, 9, 15, 31, ... 65535):
  // scale[j] / levels, so that a code v decodes to (2v - levels + 1) x it.
  double multiplier[17][64];
  int levels[17];
  // Grouped codes of the 3-, 5- and 9-level classes split into three
  // values, packed 4 bits each (first value lowest).
  uint16_t group3[32], group5[128], group9[1024];
};

const MpaTables& mpa_tables();

// The standard's synthesis window D[i], i = 0..511.
double mpa_synthesis_window(int i);
