#include "audio/codec/layer3_tables.h"

#include <cmath>
#include <cstring>
#include <mutex>

const uint8_t kLayer3Pretab[22] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 3, 3, 3, 2, 0};

namespace {

const int16_t kLong[9][23] = {
    {0, 4, 8, 12, 16, 20, 24, 30, 36, 44, 52, 62, 74, 90, 110, 134, 162, 196, 238, 288, 342, 418, 576},
    {0, 4, 8, 12, 16, 20, 24, 30, 36, 42, 50, 60, 72, 88, 106, 128, 156, 190, 230, 276, 330, 384, 576},
    {0, 4, 8, 12, 16, 20, 24, 30, 36, 44, 54, 66, 82, 102, 126, 156, 194, 240, 296, 364, 448, 550, 576},
    {0, 6, 12, 18, 24, 30, 36, 44, 54, 66, 80, 96, 116, 140, 168, 200, 238, 284, 336, 396, 464, 522, 576},
    {0, 6, 12, 18, 24, 30, 36, 44, 54, 66, 80, 96, 114, 136, 162, 194, 232, 278, 332, 394, 464, 540, 576},
    {0, 6, 12, 18, 24, 30, 36, 44, 54, 66, 80, 96, 116, 140, 168, 200, 238, 284, 336, 396, 464, 522, 576},
    {0, 6, 12, 18, 24, 30, 36, 44, 54, 66, 80, 96, 116, 140, 168, 200, 238, 284, 336, 396, 464, 522, 576},
    {0, 6, 12, 18, 24, 30, 36, 44, 54, 66, 80, 96, 116, 140, 168, 200, 238, 284, 336, 396, 464, 522, 576},
    {0, 12, 24, 36, 48, 60, 72, 88, 108, 132, 160, 192, 232, 280, 336, 400, 476, 566, 568, 570, 572, 574, 576},
};
const int16_t kShort[9][14] = {
    {0, 4, 8, 12, 16, 22, 30, 40, 52, 66, 84, 106, 136, 192}, {0, 4, 8, 12, 16, 22, 28, 38, 50, 64, 80, 100, 126, 192},
    {0, 4, 8, 12, 16, 22, 30, 42, 58, 78, 104, 138, 180, 192}, {0, 4, 8, 12, 18, 24, 32, 42, 56, 74, 100, 132, 174, 192},
    {0, 4, 8, 12, 18, 26, 36, 48, 62, 80, 104, 136, 180, 192}, {0, 4, 8, 12, 18, 26, 36, 48, 62, 80, 104, 134, 174, 192},
    {0, 4, 8, 12, 18, 26, 36, 48, 62, 80, 104, 134, 174, 192}, {0, 4, 8, 12, 18, 26, 36, 48, 62, 80, 104, 134, 174, 192},
    {0, 8, 16, 24, 36, 52, 72, 96, 124, 160, 162, 164, 166, 192},
};

Layer3Tables* g_tables = nullptr;
std::once_flag g_once;

void build(Layer3Tables& t) {
  for (int i = 0; i < 8207; ++i) t.pow43[i] = std::pow(static_cast<double>(i), 4.0 / 3.0);
  for (int i = 0; i < 8207; ++i) {
    t.pow43_signed[8206 + i] = t.pow43[i];
    if (i) t.pow43_signed[8206 - i] = -t.pow43[i];
  }
  for (int e = -512; e < 128; ++e) t.pow2q[e + 512] = std::exp2(e / 4.0);
  std::memset(t.win_long, 0, sizeof t.win_long);
  for (int i = 0; i < 36; ++i) t.win_long[0][i] = std::sin(M_PI / 36 * (i + 0.5));
  for (int i = 0; i < 18; ++i) t.win_long[1][i] = t.win_long[0][i];
  for (int i = 18; i < 24; ++i) t.win_long[1][i] = 1.0;
  for (int i = 24; i < 30; ++i) t.win_long[1][i] = std::sin(M_PI / 12 * (i - 18 + 0.5));
  for (int i = 6; i < 12; ++i) t.win_long[3][i] = std::sin(M_PI / 12 * (i - 6 + 0.5));
  for (int i = 12; i < 18; ++i) t.win_long[3][i] = 1.0;
  for (int i = 18; i < 36; ++i) t.win_long[3][i] = t.win_long[0][i];
  for (int i = 0; i < 12; ++i) t.win_short[i] = std::sin(M_PI / 12 * (i + 0.5));
  for (int n = 0; n < 18; ++n)
    for (int k = 0; k < 18; ++k) t.cos18t[k][n] = std::cos(M_PI / 18 * (n + 0.5) * (k + 0.5));
  for (int n = 0; n < 6; ++n)
    for (int k = 0; k < 6; ++k) t.cos6[n][k] = std::cos(M_PI / 6 * (n + 0.5) * (k + 0.5));
  static const double kAlias[8] = {-0.6, -0.535, -0.33, -0.185, -0.095, -0.041, -0.0142, -0.0037};
  for (int i = 0; i < 8; ++i) {
    const double d = std::sqrt(1.0 + kAlias[i] * kAlias[i]);
    t.cs[i] = 1.0 / d;
    t.ca[i] = kAlias[i] / d;
  }
  for (int p = 0; p < 7; ++p) {
    if (p == 6) {
      t.is_ratio[p][0] = 1.0;
      t.is_ratio[p][1] = 0.0;
      continue;
    }
    const double r = std::tan(p * M_PI / 12);
    t.is_ratio[p][0] = r / (1.0 + r);
    t.is_ratio[p][1] = 1.0 / (1.0 + r);
  }
  for (int s = 0; s < 2; ++s) {
    const double io = s ? M_SQRT1_2 : std::pow(2.0, -0.25);
    for (int p = 0; p < 32; ++p) {
      double l = 1.0, r = 1.0;
      if (p & 1) l = std::pow(io, (p + 1) / 2);
      else if (p) r = std::pow(io, p / 2);
      t.is_lsf[s][p][0] = l;
      t.is_lsf[s][p][1] = r;
    }
  }
  std::memcpy(t.sfb_long, kLong, sizeof kLong);
  std::memcpy(t.sfb_short, kShort, sizeof kShort);
}

}  // namespace

const Layer3Tables& layer3_tables() {
  std::call_once(g_once, [] {
    static Layer3Tables tables;
    build(tables);
    g_tables = &tables;
  });
  return *g_tables;
}
