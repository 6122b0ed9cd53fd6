// Walks the macroblocks of one MPEG-1 slice without decoding them. MPEG-1
// slices may span rows, so only the address of a slice's last macroblock
// tells whether the picture it ends is whole.
#pragma once

#include <cstdint>

// slice points at a slice start code (00 00 01 01..AF) with length bytes
// behind it; the slice ends at the next start code or at the end of the
// data. Returns the address of its last macroblock, or -1 when the data
// ends inside a macroblock, holds a code no table has, or runs beyond
// mb_count macroblocks. coding_type 1-4 (I, P, B, D); f codes as in the
// picture header.
int mpeg1_slice_last_address(const uint8_t* slice, int length, int mb_cols, int mb_count, int coding_type,
                             int forward_f_code, int backward_f_code);
