// Variable-length code writers of the macroblock and block layers. The
// code tables are built once from the decoder's lists, so both directions
// share one source of truth.
#pragma once

#include <cstdint>

#include "foundation/bitstream.h"

struct EncCode {
  uint16_t code = 0;
  uint8_t len = 0;  // 0: no code
};

struct EncVlcTables {
  EncCode addrinc[34];     // 1..33
  EncCode mb_type[4][32];  // by picture_coding_type, flags (1 intra, 2 pattern, 4 backward, 8 forward, 16 quant)
  EncCode cbp[64];
  EncCode motion[33];      // motion_code + 16
  EncCode dc_luma[12], dc_chroma[12];
  EncCode dct[2][32][41];  // table zero / one, by run and |level| (code without sign)
};

const EncVlcTables& enc_vlc_tables();

// macroblock_address_increment (>= 1), with macroblock_escape above 33.
void put_addrinc(int increment, BitWriter& bw);
// False when the picture type has no code for the flags.
bool put_mb_type(int picture_coding_type, int mb_type, BitWriter& bw);
// coded_block_pattern of 4:2:0 (six bits, 1..63; 0 only in MPEG-2).
void put_cbp(int cbp, BitWriter& bw);
// DC differential of component cc (0 luminance) with its size code.
void put_dc(int cc, int difference, BitWriter& bw);
// One run/level pair (level != 0) with the sign bit, or the escape.
void put_ac(int table, int run, int level, int mpeg1, BitWriter& bw);
inline void put_ac_b14(int run, int level, int mpeg1, BitWriter& bw) { put_ac(0, run, level, mpeg1, bw); }
inline void put_ac_b15(int run, int level, int mpeg1, BitWriter& bw) { put_ac(1, run, level, mpeg1, bw); }
// motion_code and residual of one vector difference. The difference is
// folded into the range of f_code; one still outside it is traced and not
// written (the caller keeps vectors in range). Returns false then.
bool put_mv(int difference, int f_code, BitWriter& bw);
