// Layer I and II frame layout shared by the decoder and the rescaler.
#pragma once

#include <cstdint>

class FrmHdr;

// One row of a layer II allocation table: the allocation code's width and
// the quantisation class (index into MpaTables::levels) of codes 1..15.
struct Layer2Row {
  int bits;
  int8_t cls[16];  // cls[0] unused
};

struct Layer2Table {
  int sblimit;
  const Layer2Row* rows[32];
};

// The allocation table of a layer II stream (0..4: the 27-, 30-, 8- and
// 12-subband tables and the lower-sampling-frequency table), or -1 when the
// header's indexes are out of range (traced).
int layer2_choose_table(const FrmHdr& h);
const Layer2Table& layer2_table(int index);

// Bits of one code of class c, and whether three samples share it.
inline int layer2_code_bits(int c) {
  static const int8_t kBits[17] = {5, 7, 3, 10, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  return kBits[c];
}
inline bool layer2_grouped(int c) { return c == 0 || c == 1 || c == 3; }

// Joint-stereo bound: 4 x mode extension + 4 in joint stereo, never above
// the subband limit (the 8- and 12-subband tables have fewer subbands than
// a mode extension of 2 or 3 names).
int joint_bound(const FrmHdr& h, int sblimit);
