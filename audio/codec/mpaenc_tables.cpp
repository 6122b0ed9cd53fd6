#include "audio/codec/mpaenc_tables.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "audio/codec/mpa_layer12.h"
#include "audio/codec/mpa_tables.h"
#include "foundation/trace.h"

const int kMpaEncBitRates[2][15] = {
    {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384}};

int load_bit_alloc_table(int number, MpaAllocTable& table) {
  if (number < 0 || number > 3) return -1;
  std::memset(&table, 0, sizeof(table));
  // The decoder's table, seen from the encoder: levels, code bits and grouping
  // of each code's quantisation class.
  const Layer2Table& t = layer2_table(number);
  const MpaTables& q = mpa_tables();
  for (int sb = 0; sb < t.sblimit; ++sb) {
    const Layer2Row& row = *t.rows[sb];
    table[sb][0] = {0, row.bits, 0, 0};
    for (int index = 1; index < (1 << row.bits); ++index) {
      const int c = row.cls[index];
      table[sb][index] = {q.levels[c], layer2_code_bits(c), layer2_grouped(c) ? 1 : 3, c};
    }
  }
  return t.sblimit;
}

int audio_encoder_pick_table(int rate_khz, int kbps_per_channel) {
  if ((rate_khz == 48 && kbps_per_channel >= 56) || (kbps_per_channel >= 56 && kbps_per_channel <= 80)) return 0;
  if (rate_khz != 48 && kbps_per_channel >= 96) return 1;
  if (rate_khz != 32 && kbps_per_channel <= 48) return 2;
  return 3;
}

int audio_encoder_get_js_bound(int layer, int mode_extension) {
  if (layer < 1 || layer > 3 || mode_extension < 0 || mode_extension > 3) {
    trace("audio_encoder_get_js_bound (ERROR): layer=%d, mode_ext=%d\n", layer, mode_extension);
    return -1;
  }
  return 4 * (mode_extension + 1);
}

const float* mpaenc_scale_factors() {
  static const struct Table {
    float v[64];
    Table() {
      for (int j = 0; j < 63; ++j) v[j] = static_cast<float>(std::exp2(1.0 - j / 3.0));
      v[63] = 0.0f;
    }
  } table;
  return table.v;
}

double mpaenc_snr_of_class(int quant) {
  static const double kSnr[18] = {0.00,  7.00,  11.00, 16.00, 20.84, 25.28, 31.59, 37.75, 43.84,
                                  49.89, 55.93, 61.96, 67.98, 74.01, 80.03, 86.05, 92.01, 98.01};
  return kSnr[quant + 1];
}

int mpaenc_select_scfsi(int scf[3]) {
  // Patterns by (class of scf0 - scf1, class of scf1 - scf2): each digit
  // names the scale factor a part sends, 4 the largest of the three.
  static const int kPattern[5][5] = {{0x123, 0x122, 0x122, 0x133, 0x123},
                                     {0x113, 0x111, 0x111, 0x444, 0x113},
                                     {0x111, 0x111, 0x111, 0x333, 0x113},
                                     {0x222, 0x222, 0x222, 0x333, 0x123},
                                     {0x123, 0x122, 0x122, 0x133, 0x123}};
  auto cls = [](int d) { return d <= -3 ? 0 : d < 0 ? 1 : d == 0 ? 2 : d < 3 ? 3 : 4; };
  switch (kPattern[cls(scf[0] - scf[1])][cls(scf[1] - scf[2])]) {
    case 0x122:
      scf[2] = scf[1];
      return 3;
    case 0x133:
      scf[1] = scf[2];
      return 3;
    case 0x113:
      scf[1] = scf[0];
      return 1;
    case 0x111:
      scf[1] = scf[2] = scf[0];
      return 2;
    case 0x222:
      scf[0] = scf[2] = scf[1];
      return 2;
    case 0x333:
      scf[0] = scf[1] = scf[2];
      return 2;
    case 0x444: {
      const int top = std::min({scf[0], scf[1], scf[2]});
      scf[0] = scf[1] = scf[2] = top;
      return 2;
    }
    default:
      return 0;
  }
}
