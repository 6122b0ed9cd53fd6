// Layer III frames: bit reservoir, side information, scale factors, Huffman
// decoding and requantisation, stereo processing, alias reduction and the
// hybrid filter bank.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "audio/codec/layer3_huffman.h"
#include "audio/codec/layer3_tables.h"
#include "audio/codec/mpa_decoder.h"
#include "audio/codec/mpa_dsp.h"
#include "foundation/trace.h"

namespace {

enum BlockType { kNormal = 0, kStart = 1, kShort = 2, kStop = 3 };

// An intensity position no band can hold: the band is decoded as mid/side
// or left/right.
constexpr int kNoIntensity = 1000;

struct GranuleInfo {
  int part2_3_length;
  int big_values;
  int global_gain;
  int scalefac_compress;
  int window_switching;
  int block_type;
  int mixed;
  int table_select[3];
  int subblock_gain[3];
  int region0_count;
  int region1_count;
  int preflag;
  int scalefac_scale;
  int count1table_select;
  int region1start;  // spectral lines
  int region2start;
};

struct SideInfo {
  int main_data_begin;
  int scfsi[2][4];
  GranuleInfo gr[2][2];
};

// Scale factors of one channel: long bands 0..21, short bands 0..12 by
// window, and for the intensity positions of the lower frequencies the
// largest value each band's width allows (that value marks "no intensity").
struct ScaleFactors {
  int l[23];
  int s[13][3];
  int l_max[23];
  int s_max[13];
};

int side_info_error(const char* who, const char* what) {
  trace("%s (): %s\n", who, what);
  return 1;
}

int read_granule(BS& bs, GranuleInfo& g, bool lsf, int sampling_index, const char* who) {
  g.part2_3_length = static_cast<int>(bs.get_bits(12));
  g.big_values = static_cast<int>(bs.get_bits(9));
  g.global_gain = static_cast<int>(bs.get_bits(8));
  g.scalefac_compress = static_cast<int>(bs.get_bits(lsf ? 9 : 4));
  g.window_switching = static_cast<int>(bs.get_bits(1));
  if (g.window_switching) {
    g.block_type = static_cast<int>(bs.get_bits(2));
    g.mixed = static_cast<int>(bs.get_bits(1));
    g.table_select[0] = static_cast<int>(bs.get_bits(5));
    g.table_select[1] = static_cast<int>(bs.get_bits(5));
    g.table_select[2] = 0;
    for (int w = 0; w < 3; ++w) g.subblock_gain[w] = static_cast<int>(bs.get_bits(3));
    // Implicit region counts: region 1 starts after band 8 of the long
    // table (band 3 of the short one for short blocks), which is line 36
    // at the MPEG-1 rates but lies higher at the lower ones.
    g.region0_count = g.block_type == kShort && !g.mixed ? 8 : 7;
    g.region1_count = 36 - g.region0_count;
    const Layer3Tables& t = layer3_tables();
    g.region1start = g.block_type == kShort ? 3 * t.sfb_short[sampling_index][3]
                                                       : t.sfb_long[sampling_index][8];
    g.region2start = 576;
  } else {
    g.block_type = kNormal;
    g.mixed = 0;
    for (int r = 0; r < 3; ++r) g.table_select[r] = static_cast<int>(bs.get_bits(5));
    g.subblock_gain[0] = g.subblock_gain[1] = g.subblock_gain[2] = 0;
    g.region0_count = static_cast<int>(bs.get_bits(4));
    g.region1_count = static_cast<int>(bs.get_bits(3));
    // Damaged counts can name bands past the table: stop at its end.
    const int16_t* bands = layer3_tables().sfb_long[sampling_index];
    const int r1 = std::min(g.region0_count + 1, 22);
    const int r2 = std::min(g.region0_count + g.region1_count + 2, 22);
    g.region1start = bands[r1];
    g.region2start = bands[r2];
  }
  if (!lsf) g.preflag = static_cast<int>(bs.get_bits(1));
  else g.preflag = 0;
  g.scalefac_scale = static_cast<int>(bs.get_bits(1));
  g.count1table_select = static_cast<int>(bs.get_bits(1));
  if (g.big_values > 288) {
    g.big_values = 288;
    return side_info_error(who, "big_values too large!");
  }
  if (g.window_switching && g.block_type == kNormal)
    return side_info_error(who, "Blocktype == 0 and window-switching == 1 not allowed.");
  return 0;
}

int get_side_info_1(SideInfo& si, int channels, int sampling_index, BS& bs) {
  si.main_data_begin = static_cast<int>(bs.get_bits(9));
  bs.skip_bits(channels == 1 ? 5 : 3);
  for (int ch = 0; ch < channels; ++ch)
    for (int b = 0; b < 4; ++b) si.scfsi[ch][b] = static_cast<int>(bs.get_bits(1));
  for (int gr = 0; gr < 2; ++gr)
    for (int ch = 0; ch < channels; ++ch)
      if (read_granule(bs, si.gr[gr][ch], false, sampling_index, "get_side_info_1")) return 1;
  return 0;
}

int get_side_info_2(SideInfo& si, int channels, int sampling_index, BS& bs) {
  si.main_data_begin = static_cast<int>(bs.get_bits(8));
  bs.skip_bits(channels == 1 ? 1 : 2);
  for (int ch = 0; ch < channels; ++ch)
    if (read_granule(bs, si.gr[0][ch], true, sampling_index, "get_side_info_2")) return 1;
  return 0;
}

// MPEG-1 scale factors; granule 1 may take bands groups from granule 0.
void scale_factors_1(BS& bs, const GranuleInfo& g, const int* scfsi, int gr, ScaleFactors& sf) {
  static const int kSlen[2][16] = {{0, 0, 0, 0, 3, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4},
                                   {0, 1, 2, 3, 0, 1, 2, 3, 1, 2, 3, 1, 2, 3, 2, 3}};
  const int slen1 = kSlen[0][g.scalefac_compress], slen2 = kSlen[1][g.scalefac_compress];
  for (int b = 0; b < 23; ++b) sf.l_max[b] = 7;
  for (int b = 0; b < 13; ++b) sf.s_max[b] = 7;
  if (g.block_type == kShort) {
    int sfb = 0;
    if (g.mixed) {
      for (; sfb < 8; ++sfb) sf.l[sfb] = static_cast<int>(bs.get_bits(slen1));
      sfb = 3;
    }
    for (; sfb < 12; ++sfb)
      for (int w = 0; w < 3; ++w) sf.s[sfb][w] = static_cast<int>(bs.get_bits(sfb < 6 ? slen1 : slen2));
    sf.s[12][0] = sf.s[12][1] = sf.s[12][2] = 0;
    return;
  }
  static const int kGroup[5] = {0, 6, 11, 16, 21};
  for (int k = 0; k < 4; ++k) {
    if (gr == 1 && scfsi[k]) continue;  // kept from granule 0
    for (int sfb = kGroup[k]; sfb < kGroup[k + 1]; ++sfb) sf.l[sfb] = static_cast<int>(bs.get_bits(k < 2 ? slen1 : slen2));
  }
  sf.l[21] = sf.l[22] = 0;
}

// Lower-frequency scale factors: four partitions whose sizes and widths
// come from scalefac_compress (with its own variant for the intensity
// positions of the right channel).
void scale_factors_2(BS& bs, GranuleInfo& g, bool intensity_right, ScaleFactors& sf) {
  static const uint8_t kParts[6][3][4] = {
      {{6, 5, 5, 5}, {9, 9, 9, 9}, {6, 9, 9, 9}},     {{6, 5, 7, 3}, {9, 9, 12, 6}, {6, 9, 12, 6}},
      {{11, 10, 0, 0}, {18, 18, 0, 0}, {15, 18, 0, 0}}, {{7, 7, 7, 0}, {12, 12, 12, 0}, {6, 15, 12, 0}},
      {{6, 6, 6, 3}, {12, 9, 9, 6}, {6, 12, 9, 6}},   {{8, 8, 5, 0}, {15, 12, 9, 0}, {6, 18, 9, 0}}};
  int slen[4] = {0, 0, 0, 0};
  int table;
  int sfc = g.scalefac_compress;
  if (!intensity_right) {
    if (sfc < 400) {
      slen[0] = (sfc >> 4) / 5;
      slen[1] = (sfc >> 4) % 5;
      slen[2] = (sfc & 15) >> 2;
      slen[3] = sfc & 3;
      table = 0;
    } else if (sfc < 500) {
      sfc -= 400;
      slen[0] = (sfc >> 2) / 5;
      slen[1] = (sfc >> 2) % 5;
      slen[2] = sfc & 3;
      table = 1;
    } else {
      sfc -= 500;
      slen[0] = sfc / 3;
      slen[1] = sfc % 3;
      table = 2;
      g.preflag = 1;
    }
  } else {
    sfc >>= 1;
    if (sfc < 180) {
      slen[0] = sfc / 36;
      slen[1] = (sfc % 36) / 6;
      slen[2] = (sfc % 36) % 6;
      table = 3;
    } else if (sfc < 244) {
      sfc -= 180;
      slen[0] = (sfc % 64) >> 4;
      slen[1] = (sfc % 16) >> 2;
      slen[2] = sfc % 4;
      table = 4;
    } else {
      sfc -= 244;
      slen[0] = sfc / 3;
      slen[1] = sfc % 3;
      table = 5;
    }
  }
  const int kind = g.block_type == kShort ? (g.mixed ? 2 : 1) : 0;
  const uint8_t* parts = kParts[table][kind];
  // Values in stream order: long bands, or short bands by window, or for
  // mixed blocks six long bands and then short bands from 3 on.
  int long_sfb = 0, short_sfb = kind == 2 ? 3 : 0, win = 0;
  for (int p = 0; p < 4; ++p) {
    const int max = (1 << slen[p]) - 1;
    for (int i = 0; i < parts[p]; ++i) {
      const int v = static_cast<int>(bs.get_bits(slen[p]));
      if (kind == 0 || (kind == 2 && long_sfb < 6)) {
        if (long_sfb < 22) {
          sf.l[long_sfb] = v;
          sf.l_max[long_sfb] = max;
        }
        ++long_sfb;
      } else if (short_sfb < 13) {
        sf.s[short_sfb][win] = v;
        sf.s_max[short_sfb] = max;
        if (++win == 3) {
          win = 0;
          ++short_sfb;
        }
      }
    }
  }
  for (; long_sfb < 23; ++long_sfb) sf.l[long_sfb] = 0, sf.l_max[long_sfb] = 0;
  for (; short_sfb < 13; ++short_sfb) {
    for (; win < 3; ++win) sf.s[short_sfb][win] = 0;
    sf.s_max[short_sfb] = 0;
    win = 0;
  }
}

// Huffman-decoded magnitudes with signs, and the count of lines up to the
// last one that may be non-zero.
int decode_spectrum(BS& bs, const GranuleInfo& g, uint64_t end_bit, int* ix, const char* who) {
  const int big = g.big_values * 2;
  const int r1 = std::min(g.region1start, big);
  const int r2 = std::min(g.region2start, big);
  if (big > r1 && big > r2 && r2 < r1) {
    trace("%s (ERROR): big=%d, reg1=%d, reg2=%d\n", who, g.big_values, g.region1start, g.region2start);
    return -1;
  }
  int line = 0;
  for (int r = 0; r < 3; ++r) {
    const int end = r == 0 ? r1 : r == 1 ? std::max(r1, r2) : big;
    const int tab = g.table_select[r];
    if (tab == 0) {
      for (; line < end; ++line) ix[line] = 0;
      continue;
    }
    const HuffLookup* h = huff_lookup(tab);
    if (!h) return -1;
    const int linbits = h->linbits;
    for (; line < end; line += 2) {
      const int v = huff_decode(bs, *h);
      if (v < 0) return -1;
      int x = v >> 4, y = v & 15;
      if (x) {
        if (x == 15 && linbits) x += static_cast<int>(bs.get_bits(linbits));
        if (bs.get_bits(1)) x = -x;
      }
      if (y) {
        if (y == 15 && linbits) y += static_cast<int>(bs.get_bits(linbits));
        if (bs.get_bits(1)) y = -y;
      }
      ix[line] = x;
      ix[line + 1] = y;
    }
  }
  const HuffLookup& q = *huff_lookup(32 + g.count1table_select);
  while (line < 576 && bs.bit_position() < end_bit) {
    const int v = huff_decode(bs, q);
    if (v < 0) return -1;
    for (int k = 0; k < 4; ++k) {
      int a = (v >> (3 - k)) & 1;
      if (a && bs.get_bits(1)) a = -1;
      ix[line + k] = a;
    }
    line += 4;
  }
  if (line > 576) line = 576;
  for (int i = line; i < 576; ++i) ix[i] = 0;
  return line;
}

// xr = sign |ix|^(4/3) 2^((global_gain - 210 - 8 subblock_gain)/4
// - (1 + scalefac_scale)/2 (scalefac + preflag pretab)), band by band.
void requantize(const int* ix, int lines, const GranuleInfo& g, const ScaleFactors& sf, int sampling_index,
                double* xr) {
  const Layer3Tables& t = layer3_tables();
  const int shift = 2 * (1 + g.scalefac_scale);  // quarter steps per scale-factor step
  auto gain = [&](int e) { return t.pow2q[std::clamp(e, -512, 127) + 512]; };
  // Values lie within +-(15 + 2^13 - 1) = +-8206, the signed table's range.
  const double* pow43 = t.pow43_signed + 8206;
  auto put = [&](int i, double f) { xr[i] = pow43[ix[i]] * f; };
  const int16_t* lb = t.sfb_long[sampling_index];
  const int16_t* sb = t.sfb_short[sampling_index];
  int i = 0;
  if (g.block_type != kShort || g.mixed) {
    const int long_end = g.block_type == kShort ? 36 : 576;
    for (int b = 0; b < 22 && i < long_end && i < lines; ++b) {
      const int e = g.global_gain - 210 - shift * (sf.l[b] + (g.preflag ? kLayer3Pretab[b] : 0));
      const double f = gain(e);
      const int stop = std::min<int>(std::min<int>(lb[b + 1], long_end), lines);
      for (; i < stop; ++i) put(i, f);
    }
  }
  if (g.block_type == kShort) {
    int b = g.mixed ? 3 : 0;
    for (; b < 13 && i < lines; ++b) {
      const int width = sb[b + 1] - sb[b];
      for (int w = 0; w < 3; ++w) {
        const int e = g.global_gain - 210 - 8 * g.subblock_gain[w] - shift * sf.s[b][w];
        const double f = gain(e);
        const int stop = std::min(i + width, lines);
        for (; i < stop; ++i) put(i, f);
      }
    }
  }
  for (; i < 576; ++i) xr[i] = 0.0;
}

}  // namespace

struct Layer3Frame {
  MpegAudioDecoder& d;
  const FrmHdr& h;
  SideInfo si;
  ScaleFactors sf[2];
  int ix[2][580];
  int lines[2];

  Layer3Frame(MpegAudioDecoder& dec) : d(dec), h(dec.header_) {}

  int run(BS& bs, int16_t* out);
  void stereo(const GranuleInfo& g1, bool ms, bool intensity);
  void hybrid(int ch, const GranuleInfo& g, int lines_used);
};

namespace {

// Highest non-zero line of a channel within [from, to), plus one; from if none.
int last_nonzero(const int* ix, int from, int to) {
  for (int i = to; i > from; --i)
    if (ix[i - 1]) return i;
  return from;
}

void ms_lines(double* l, double* r, int from, int to) {
  for (int i = from; i < to; ++i) {
    const double m = l[i], s = r[i];
    l[i] = (m + s) * M_SQRT1_2;
    r[i] = (m - s) * M_SQRT1_2;
  }
}

}  // namespace

// Mid/side and intensity stereo on one granule, in stream order. Intensity
// bands start above the right channel's last non-zero line (per window for
// short blocks); a band whose position is the illegal value is decoded as
// mid/side (or left/right) instead.
void Layer3Frame::stereo(const GranuleInfo& g1, bool ms, bool intensity) {
  const Layer3Tables& t = layer3_tables();
  double* l = d.xr_[0];
  double* r = d.xr_[1];
  const int n = std::max(lines[0], lines[1]);
  if (!intensity) {
    if (ms) ms_lines(l, r, 0, n);
    return;
  }
  const int si_idx = h.sampling_index;
  const int16_t* lb = t.sfb_long[si_idx];
  const int16_t* sb = t.sfb_short[si_idx];
  const ScaleFactors& f = sf[1];
  auto apply = [&](int from, int to, int pos, int max) {
    if (h.lsf) {
      if (pos == max || pos == kNoIntensity) {
        if (ms) ms_lines(l, r, from, to);
        return;
      }
      const double* k = t.is_lsf[g1.scalefac_compress & 1][pos & 31];
      for (int i = from; i < to; ++i) {
        const double v = l[i];
        l[i] = v * k[0];
        r[i] = v * k[1];
      }
    } else {
      if (pos >= 7) {
        if (ms) ms_lines(l, r, from, to);
        return;
      }
      const double* k = t.is_ratio[pos];
      for (int i = from; i < to; ++i) {
        const double v = l[i];
        l[i] = v * k[0];
        r[i] = v * k[1];
      }
    }
  };
  const int* right = ix[1];
  if (g1.block_type != kShort) {
    const int last = last_nonzero(right, 0, 576);
    int b = 0;
    while (b < 22 && lb[b + 1] <= last) ++b;
    if (last > lb[b]) ++b;  // the band holding the last non-zero line is not intensity
    if (ms) ms_lines(l, r, 0, std::min<int>(lb[std::min(b, 22)], 576));
    // The top band has no position of its own: it takes band 20's when
    // that band is intensity coded too, else it is not intensity coded.
    const int top_from = b;
    for (; b < 22; ++b) {
      if (b < 21) apply(lb[b], lb[b + 1], f.l[b], f.l_max[b]);
      else if (top_from <= 20) apply(lb[b], lb[b + 1], f.l[20], f.l_max[20]);
      else apply(lb[b], lb[b + 1], kNoIntensity, kNoIntensity);
    }
    return;
  }
  // Short (and mixed) blocks: stream order is band, window, line.
  const int first_short = g1.mixed ? 3 : 0;
  const int short_base = g1.mixed ? 36 : 0;
  int start_band[3];
  bool short_part_used = false;
  for (int w = 0; w < 3; ++w) {
    int top = first_short;  // first band of window w above its last non-zero line
    int pos = short_base;
    for (int b = first_short; b < 13; ++b) {
      const int width = sb[b + 1] - sb[b];
      const int at = pos + w * width;
      for (int i = 0; i < width; ++i)
        if (right[at + i]) {
          top = b + 1;
          short_part_used = true;
        }
      pos += 3 * width;
    }
    start_band[w] = top;
  }
  bool long_part_is = false;
  int long_start = 0;
  if (g1.mixed) {
    if (!short_part_used) {
      const int last = last_nonzero(right, 0, 36);
      int b = 0;
      while (b < 8 && lb[b + 1] <= last) ++b;
      if (last > lb[b]) ++b;
      long_start = b;
      long_part_is = true;
    }
    if (!long_part_is) {
      if (ms) ms_lines(l, r, 0, 36);
    } else {
      if (ms) ms_lines(l, r, 0, lb[long_start]);
      for (int b = long_start; b < 22 && lb[b + 1] <= 36; ++b) apply(lb[b], lb[b + 1], f.l[b], f.l_max[b]);
    }
  }
  int pos = short_base;
  for (int b = first_short; b < 13; ++b) {
    const int width = sb[b + 1] - sb[b];
    for (int w = 0; w < 3; ++w) {
      const int from = pos + w * width, to = from + width;
      if (b < start_band[w]) {
        if (ms) ms_lines(l, r, from, to);
      } else if (b < 12) {
        apply(from, to, f.s[b][w], f.s_max[b]);
      } else if (start_band[w] <= 11) {  // the top band as for long blocks
        apply(from, to, f.s[11][w], f.s_max[11]);
      } else {
        apply(from, to, kNoIntensity, kNoIntensity);
      }
    }
    pos += 3 * width;
  }
}

// Short-block reordering, alias reduction, IMDCT with overlap-add and the
// frequency inversion of odd subbands, into hybrid_[ch] as [subband][slot].
void Layer3Frame::hybrid(int ch, const GranuleInfo& g, int lines_used) {
  const Layer3Tables& t = layer3_tables();
  double* xr = d.xr_[ch];
  double* out = d.hybrid_[ch];
  double* ov = d.overlap_[ch];
  const int16_t* sb = t.sfb_short[h.sampling_index];
  double re[576];
  const bool is_short = g.block_type == kShort;
  if (is_short) {
    const int base = g.mixed ? 36 : 0;
    std::memcpy(re, xr, sizeof(double) * static_cast<size_t>(base));
    int pos = base;
    for (int b = g.mixed ? 3 : 0; b < 13; ++b) {
      const int width = sb[b + 1] - sb[b];
      for (int w = 0; w < 3; ++w)
        for (int i = 0; i < width; ++i) {
          const int k = sb[b] + i;  // line within the window
          re[(k / 6) * 18 + w * 6 + k % 6] = xr[pos + w * width + i];
        }
      pos += 3 * width;
    }
    xr = re;
    lines_used = 576;
  }
  // Alias reduction across subband edges: none between short blocks, only
  // the first edge for mixed blocks.
  const int used_sb = std::min(32, (lines_used + 17) / 18);
  const int edges = is_short ? (g.mixed ? 1 : 0) : std::min(31, used_sb);
  for (int e = 1; e <= edges; ++e) {
    double* a = xr + 18 * e;
    for (int i = 0; i < 8; ++i) {
      const double lo = a[-1 - i], hi = a[i];
      a[-1 - i] = lo * t.cs[i] - hi * t.ca[i];
      a[i] = hi * t.cs[i] + lo * t.ca[i];
    }
  }
  const int active = is_short ? 32 : std::min(32, used_sb + 1);
  for (int s = 0; s < active; ++s) {
    const double* X = xr + 18 * s;
    double z[36];
    const bool long_block = !is_short || (g.mixed && s < 2);
    if (long_block) {
      double tt[18];
      d.dsp_->dct4_18(X, t.cos18t, tt);
      const double* w = t.win_long[is_short ? kNormal : g.block_type];
      for (int i = 0; i < 9; ++i) z[i] = tt[i + 9] * w[i];
      for (int i = 9; i < 27; ++i) z[i] = -tt[26 - i] * w[i];
      for (int i = 27; i < 36; ++i) z[i] = -tt[i - 27] * w[i];
    } else {
      for (int i = 0; i < 36; ++i) z[i] = 0.0;
      for (int win = 0; win < 3; ++win) {
        const double* Xw = X + 6 * win;
        double tt[6] = {};
        for (int k = 0; k < 6; ++k)
          for (int n = 0; n < 6; ++n) tt[n] += Xw[k] * t.cos6[n][k];
        double y[12];
        for (int i = 0; i < 3; ++i) y[i] = tt[i + 3];
        for (int i = 3; i < 9; ++i) y[i] = -tt[8 - i];
        for (int i = 9; i < 12; ++i) y[i] = -tt[i - 9];
        for (int i = 0; i < 12; ++i) z[6 + 6 * win + i] += y[i] * t.win_short[i];
      }
    }
    double* o = out + 18 * s;
    double* keep = ov + 18 * s;
    for (int i = 0; i < 18; ++i) {
      o[i] = z[i] + keep[i];
      keep[i] = z[18 + i];
    }
    if (s & 1)
      for (int i = 1; i < 18; i += 2) o[i] = -o[i];
  }
  // Subbands above the spectrum give what their overlap held.
  for (int s = active; s < 32; ++s) {
    double* o = out + 18 * s;
    double* keep = ov + 18 * s;
    for (int i = 0; i < 18; ++i) {
      o[i] = (s & 1) && (i & 1) ? -keep[i] : keep[i];
      keep[i] = 0.0;
    }
  }
}

int Layer3Frame::run(BS& bs, int16_t* out) {
  const int nch = h.channels;
  const bool lsf = h.lsf != 0;
  const bool ms = h.mode == 1 && (h.mode_extension & 2);
  const bool intensity = h.mode == 1 && (h.mode_extension & 1);
  std::memset(&si, 0, sizeof si);
  if ((lsf ? get_side_info_2(si, nch, h.sampling_index, bs) : get_side_info_1(si, nch, h.sampling_index, bs)) != 0)
    return 0;
  const int granules = lsf ? 1 : 2;

  // Reservoir: carry the back data this frame asks for in front of the
  // write position, then append this frame's main data.
  const int B = si.main_data_begin;
  const int W = MpegAudioDecoder::kReservoirWrite;
  if (B > 0) std::memmove(d.reservoir_ + W - B, d.reservoir_ + W + d.prev_main_data_ - B, static_cast<size_t>(B));
  d.main_data_received_ += d.prev_main_data_;
  const bool short_of_data = d.main_data_received_ < B;
  const int side_bytes = lsf ? (nch == 1 ? 9 : 17) : (nch == 1 ? 17 : 32);
  const int crc_bytes = h.error_protection ? 2 : 0;
  int main_bytes = h.frame_size - side_bytes - crc_bytes - 4;
  if (main_bytes < 0) {
    trace("III_frame (ERROR): negative prev_data_bytes = %d\n", main_bytes);
    d.main_data_received_ = 0;
    main_bytes = 0;
  }
  main_bytes = std::min(main_bytes, MpegAudioDecoder::kReservoirSize - W);
  d.prev_main_data_ = main_bytes;
  std::memcpy(d.reservoir_ + W, d.frame_data_ + 4 + crc_bytes + side_bytes, static_cast<size_t>(main_bytes));
  // The counter only needs to know whether 511 bytes are there.
  if (d.main_data_received_ > 4096) d.main_data_received_ = 4096;

  const int per_channel = 576 * granules;
  if (short_of_data) {
    std::memset(out, 0, sizeof(int16_t) * static_cast<size_t>(per_channel * nch));
    return per_channel * nch;
  }

  BS md(d.reservoir_ + W - B, static_cast<size_t>(B + main_bytes));
  std::memset(sf, 0, sizeof sf);
  for (int gr = 0; gr < granules; ++gr) {
    for (int ch = 0; ch < nch; ++ch) {
      GranuleInfo& g = si.gr[gr][ch];
      const uint64_t start = md.bit_position();
      const uint64_t end = start + static_cast<uint64_t>(g.part2_3_length);
      if (lsf) scale_factors_2(md, g, intensity && ch == 1, sf[ch]);
      else scale_factors_1(md, g, si.scfsi[ch], gr, sf[ch]);
      const bool pair = ch == 1 && ms;
      const char* who = pair ? "III_dequantize_sample_ms" : "III_dequantize_sample";
      const int n = decode_spectrum(md, g, end, ix[ch], who);
      if (n < 0) return 0;
      if (md.bit_position() > end) {
        trace(pair ? "dequantize_sample_ms (): Can't rewind stream by %d bits!\n"
                   : "dequantize_sample (): Can't rewind stream by %d bits!\n",
              static_cast<int>(md.bit_position() - end));
        return 0;
      }
      for (uint64_t left = end - md.bit_position(); left > 0;) {
        const int step = left > 32 ? 32 : static_cast<int>(left);
        md.skip_bits(step);
        left -= static_cast<uint64_t>(step);
        if (md.at_end()) break;
      }
      lines[ch] = n;
      requantize(ix[ch], n, g, sf[ch], h.sampling_index, d.xr_[ch]);
    }
    if (nch == 2) {
      if (ms || intensity) {
        stereo(si.gr[gr][1], ms, intensity);
        lines[0] = lines[1] = std::max(lines[0], lines[1]);
      }
    }
    for (int ch = 0; ch < nch; ++ch) hybrid(ch, si.gr[gr][ch], lines[ch]);
    for (int slot = 0; slot < 18; ++slot) {
      double s[2][32];
      for (int ch = 0; ch < nch; ++ch)
        for (int sbi = 0; sbi < 32; ++sbi) s[ch][sbi] = d.hybrid_[ch][sbi * 18 + slot];
      d.output_slot(s, nch, out + (gr * 18 + slot) * 32 * nch);
    }
  }
  return per_channel * nch;
}

int MpegAudioDecoder::III_frame(BS& reader, int16_t* out) {
  Layer3Frame f(*this);
  return f.run(reader, out);
}
