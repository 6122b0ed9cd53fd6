#include "audio/codec/ac3_block.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "audio/codec/ac3_core_state.h"
#include "audio/codec/ac3_tables.h"
#include "foundation/trace.h"

namespace ac3 {
namespace {

enum Slot { kL = 0, kC = 1, kR = 2, kLs = 3, kRs = 4, kLfeSlot = 5 };

// Slot of each full-band input channel by acmod; the single surround of
// acmod 4 and 5 sits in slot 3 with -1 after it.
constexpr int kInputSlot[8][5] = {
    {kL, kR, -1, -1, -1},    {kC, -1, -1, -1, -1},     {kL, kR, -1, -1, -1},      {kL, kC, kR, -1, -1},
    {kL, kR, kLs, -1, -1},   {kL, kC, kR, kLs, -1},    {kL, kR, kLs, kRs, -1},    {kL, kC, kR, kLs, kRs},
};
// Output slots of each output mode (the LFE slot comes on top).
constexpr bool kHasSlot[8][5] = {
    {true, false, true, false, false}, {false, true, false, false, false}, {true, false, true, false, false},
    {true, true, true, false, false},  {true, false, true, true, false},   {true, true, true, true, false},
    {true, false, true, true, true},   {true, true, true, true, true},
};

constexpr double kMinus3dB = 0.7071067811865476;

struct ExpScale {
  double v[32];
  ExpScale() {
    for (int e = 0; e < 32; ++e) v[e] = std::ldexp(1.0, -e);
  }
};
const ExpScale kExpScale;

bool bad(const char* message) {
  trace("%s", message);
  return true;
}

// Exponent groups of one channel: absolute value then 7-bit groups of three
// deltas, each repeated by the strategy's group size.
bool unpack_exponents(BitReader& br, int8_t* exp, int first_bin, int absexp, int ngrps, int strategy, int limit) {
  const int grpsize = strategy == 3 ? 4 : strategy;
  int prev = absexp;
  int bin = first_bin;
  for (int g = 0; g < ngrps; ++g) {
    const int code = static_cast<int>(br.get(7));
    if (code >= 125) return bad("xdcall: exponent group out of range");
    const int d[3] = {code / 25 - 2, code % 25 / 5 - 2, code % 5 - 2};
    for (int k = 0; k < 3; ++k) {
      prev += d[k];
      if (prev < 0 || prev > 24) return bad("xdcall: exponent out of range");
      for (int r = 0; r < grpsize && bin < limit; ++r) exp[bin++] = static_cast<int8_t>(prev);
    }
  }
  return false;
}

bool read_delta(BitReader& br, DeltaBa& d) {
  d.nseg = static_cast<int>(br.get(3)) + 1;
  for (int i = 0; i < d.nseg; ++i) {
    d.offset[i] = static_cast<uint8_t>(br.get(5));
    d.length[i] = static_cast<uint8_t>(br.get(4));
    d.code[i] = static_cast<uint8_t>(br.get(3));
  }
  return false;
}

}  // namespace

void reset_frame_side_info(ac3_dec_state* s) {
  s->side.dynrng = 0;
  s->side.dynrng2 = 0;
  for (DeltaBa& d : s->side.delta) d = DeltaBa();
  s->side.got_side = false;
}

int parse_side_info(ac3_dec_state* s) {
  BitReader& br = s->br;
  SideInfo& si = s->side;
  const int nf = s->nfchans;
  const int acmod = s->bsi.acmod;
  const bool first = s->block == 0;
  bool newexp[kChannels] = {};

  for (int ch = 0; ch < nf; ++ch) si.blksw[ch] = static_cast<int>(br.get(1));
  for (int ch = 0; ch < nf; ++ch) si.dithflag[ch] = static_cast<int>(br.get(1));
  if (br.get(1)) si.dynrng = br.get_signed(8);
  if (acmod == 0 && br.get(1)) si.dynrng2 = br.get_signed(8);

  // Coupling strategy.
  if (br.get(1)) {
    si.cplinu = static_cast<int>(br.get(1));
    if (si.cplinu) {
      if (acmod == 0) return bad("xdcall: can't couple in 1+1 dual mono mode");
      for (int ch = 0; ch < nf; ++ch) si.chincpl[ch] = static_cast<int>(br.get(1));
      si.phsflginu = acmod == 2 ? static_cast<int>(br.get(1)) : 0;
      si.cplbegf = static_cast<int>(br.get(4));
      si.cplendf = static_cast<int>(br.get(4));
      si.ncplsubnd = 3 + si.cplendf - si.cplbegf;
      if (si.ncplsubnd < 1) {
        si.cplinu = 0;
        return bad("xdcall: coupling end below its start");
      }
      si.ncplbnd = si.ncplsubnd;
      si.band_of_subband[0] = 0;
      for (int b = 1; b < si.ncplsubnd; ++b) {
        si.cplbndstrc[b] = static_cast<int>(br.get(1));
        si.ncplbnd -= si.cplbndstrc[b];
        si.band_of_subband[b] = si.band_of_subband[b - 1] + (si.cplbndstrc[b] ? 0 : 1);
      }
      si.start[kCpl] = si.cplbegf * 12 + 37;
      si.end[kCpl] = si.cplendf * 12 + 73;
    } else {
      for (int ch = 0; ch < nf; ++ch) si.chincpl[ch] = 0;
    }
  } else if (first) {
    return bad("xdcall: trying to reuse coupling strategy in block 0");
  }

  // Coupling coordinates and phase flags.
  if (si.cplinu) {
    bool any_new = false;
    for (int ch = 0; ch < nf; ++ch) {
      if (!si.chincpl[ch]) continue;
      if (br.get(1)) {
        any_new = true;
        const int mstrcplco = static_cast<int>(br.get(2));
        for (int b = 0; b < si.ncplbnd; ++b) {
          const int e = static_cast<int>(br.get(4));
          const int m = static_cast<int>(br.get(4));
          const double mant = e == 15 ? m / 16.0 : (m + 16) / 32.0;
          si.cplco[ch][b] = std::ldexp(mant, -(e + 3 * mstrcplco));
        }
      } else if (first) {
        return bad("xdcall: trying to reuse coupling coordinates in block 0");
      }
    }
    if (acmod == 2 && si.phsflginu && any_new)
      for (int b = 0; b < si.ncplbnd; ++b) si.phsflg[b] = static_cast<int>(br.get(1));
    if (!si.phsflginu) std::fill(std::begin(si.phsflg), std::end(si.phsflg), 0);
  }

  // Rematrixing.
  if (acmod == 2) {
    si.nrematbd = (!si.cplinu || si.cplbegf > 2) ? 4 : si.cplbegf > 0 ? 3 : 2;
    if (br.get(1)) {
      for (int b = 0; b < si.nrematbd; ++b) si.rematflg[b] = static_cast<int>(br.get(1));
    } else if (first) {
      return bad("xdcall: trying to reuse rematrix flags in block 0");
    }
  }

  // Exponent strategies and bandwidths.
  if (si.cplinu) {
    si.expstr[kCpl] = static_cast<int>(br.get(2));
    if (si.expstr[kCpl] == 0 && first) return bad("xdcall: trying to reuse CPL exp strategy in block 0");
    newexp[kCpl] = si.expstr[kCpl] != 0;
  }
  for (int ch = 0; ch < nf; ++ch) {
    si.expstr[ch] = static_cast<int>(br.get(2));
    if (si.expstr[ch] == 0 && first) return bad("xdcall: trying to reuse exponent strategy in block 0");
    newexp[ch] = si.expstr[ch] != 0;
  }
  if (s->bsi.lfeon) {
    si.expstr[kLfe] = static_cast<int>(br.get(1));
    if (si.expstr[kLfe] == 0 && first) return bad("xdcall: trying to reuse LFE exp strategy in block 0");
    newexp[kLfe] = si.expstr[kLfe] != 0;
  }
  for (int ch = 0; ch < nf; ++ch) {
    if (newexp[ch] && !si.chincpl[ch]) {
      const int code = static_cast<int>(br.get(6));
      if (code > 60) return bad("xdcall: chbwcod too high");
      si.chbwcod[ch] = code;
    }
  }
  for (int ch = 0; ch < nf; ++ch) {
    si.start[ch] = 0;
    si.end[ch] = si.cplinu && si.chincpl[ch] ? si.start[kCpl] : 3 * si.chbwcod[ch] + 73;
  }
  si.start[kLfe] = 0;
  si.end[kLfe] = 7;

  // Exponents.
  if (si.cplinu && newexp[kCpl]) {
    const int absexp = static_cast<int>(br.get(4)) << 1;
    const int ngrps = (si.end[kCpl] - si.start[kCpl]) / (3 << (si.expstr[kCpl] - 1));
    if (unpack_exponents(br, s->exp[kCpl], si.start[kCpl], absexp, ngrps, si.expstr[kCpl], 256)) return 1;
  }
  for (int ch = 0; ch < nf; ++ch) {
    if (!newexp[ch]) continue;
    const int absexp = static_cast<int>(br.get(4));
    s->exp[ch][0] = static_cast<int8_t>(absexp);
    const int end = si.end[ch];
    const int ngrps = si.expstr[ch] == 1 ? (end - 1) / 3 : si.expstr[ch] == 2 ? (end - 1 + 3) / 6 : (end - 1 + 9) / 12;
    if (unpack_exponents(br, s->exp[ch], 1, absexp, ngrps, si.expstr[ch], 256)) return 1;
    br.skip(2);  // gainrng: the transform keeps full precision
  }
  if (s->bsi.lfeon && newexp[kLfe]) {
    const int absexp = static_cast<int>(br.get(4));
    s->exp[kLfe][0] = static_cast<int8_t>(absexp);
    if (unpack_exponents(br, s->exp[kLfe], 1, absexp, 2, 1, 7)) return 1;
  }

  // Bit allocation parameters.
  bool realloc_all = false;
  if (br.get(1)) {
    si.sdcycod = static_cast<int>(br.get(2));
    si.fdcycod = static_cast<int>(br.get(2));
    si.sgaincod = static_cast<int>(br.get(2));
    si.dbpbcod = static_cast<int>(br.get(2));
    si.floorcod = static_cast<int>(br.get(3));
    realloc_all = true;
  } else if (first) {
    return bad("xdcall: trying to reuse bit allocation info in block 0");
  }
  if (br.get(1)) {
    si.csnroffst = static_cast<int>(br.get(6));
    if (si.cplinu) {
      si.fsnroffst[kCpl] = static_cast<int>(br.get(4));
      si.fgaincod[kCpl] = static_cast<int>(br.get(3));
    }
    for (int ch = 0; ch < nf; ++ch) {
      si.fsnroffst[ch] = static_cast<int>(br.get(4));
      si.fgaincod[ch] = static_cast<int>(br.get(3));
    }
    if (s->bsi.lfeon) {
      si.fsnroffst[kLfe] = static_cast<int>(br.get(4));
      si.fgaincod[kLfe] = static_cast<int>(br.get(3));
    }
    realloc_all = true;
  } else if (first) {
    return bad("xdcall: trying to reuse SNR offsets in block 0");
  }
  if (si.cplinu) {
    if (br.get(1)) {
      si.cplfleak = static_cast<int>(br.get(3));
      si.cplsleak = static_cast<int>(br.get(3));
      si.realloc[kCpl] = true;
    } else if (first) {
      return bad("xdcall: trying to reuse cpl leak terms in block 0");
    }
  }

  // Delta bit allocation.
  bool newdelta[kChannels] = {};
  if (br.get(1)) {
    if (si.cplinu) {
      const int m = static_cast<int>(br.get(2));
      if (m != 0) {
        si.delta[kCpl].mode = m;
        newdelta[kCpl] = true;
      }
    }
    for (int ch = 0; ch < nf; ++ch) {
      const int m = static_cast<int>(br.get(2));
      if (m != 0) {
        si.delta[ch].mode = m;
        newdelta[ch] = true;
      }
    }
    if (si.cplinu && si.delta[kCpl].mode == 1 && newdelta[kCpl]) read_delta(br, si.delta[kCpl]);
    for (int ch = 0; ch < nf; ++ch)
      if (si.delta[ch].mode == 1 && newdelta[ch]) read_delta(br, si.delta[ch]);
  }

  // Skip field.
  if (br.get(1)) br.skip(br.get(9) * 8u);

  if (br.overrun) return bad("xdcall: side information runs past the frame");
  for (int ch = 0; ch < kChannels; ++ch)
    if (newexp[ch] || newdelta[ch] || realloc_all) si.realloc[ch] = true;
  si.got_side = true;
  return 0;
}

namespace {

int logadd(int a, int b) {
  const int c = a - b;
  const int address = std::min(std::abs(c) >> 1, 255);
  return c >= 0 ? a + kLogAdd[address] : b + kLogAdd[address];
}

int calc_lowcomp(int a, int b0, int b1, int bin) {
  if (bin < 7) {
    if (b0 + 256 == b1)
      a = 384;
    else if (b0 > b1)
      a = std::max(0, a - 64);
  } else if (bin < 20) {
    if (b0 + 256 == b1)
      a = 320;
    else if (b0 > b1)
      a = std::max(0, a - 64);
  } else {
    a = std::max(0, a - 128);
  }
  return a;
}

// A/52 bit allocation of one channel into s->bap[ch].
void allocate(ac3_dec_state* s, int ch, bool zero_snr) {
  const SideInfo& si = s->side;
  const int start = si.start[ch], end = si.end[ch];
  uint8_t* bap = s->bap[ch];
  if (end <= start) return;
  if (zero_snr) {
    std::memset(bap + start, 0, static_cast<size_t>(end - start));
    return;
  }
  const int sdecay = kSlowDecay[si.sdcycod] >> s->reduced_rate;
  const int fdecay = kFastDecay[si.fdcycod] >> s->reduced_rate;
  const int sgain = kSlowGain[si.sgaincod];
  const int dbknee = kDbPerBit[si.dbpbcod];
  const int floor = kFloor[si.floorcod];
  const int fgain = kFastGain[si.fgaincod[ch]];
  const int snroffset = (((si.csnroffst - 15) << 4) + si.fsnroffst[ch]) << 2;
  const int8_t* exp = s->exp[ch];

  int psd[256];
  for (int i = start; i < end; ++i) psd[i] = 3072 - (exp[i] << 7);

  int bndpsd[50];
  const int bndstrt = kBinToBand[start];
  const int bndend = kBinToBand[end - 1] + 1;
  {
    int j = start;
    for (int k = bndstrt; k < bndend; ++k) {
      const int lastbin = std::min<int>(kBandStart[k + 1], end);
      int v = psd[j++];
      for (; j < lastbin; ++j) v = logadd(v, psd[j]);
      bndpsd[k] = v;
    }
  }

  int excite[50];
  int begin;
  int fastleak = 0, slowleak = 0;
  if (bndstrt == 0) {
    int lowcomp = calc_lowcomp(0, bndpsd[0], bndpsd[1], 0);
    excite[0] = bndpsd[0] - fgain - lowcomp;
    lowcomp = calc_lowcomp(lowcomp, bndpsd[1], bndpsd[2], 1);
    excite[1] = bndpsd[1] - fgain - lowcomp;
    begin = 7;
    for (int bin = 2; bin < 7; ++bin) {
      if (bndend != 7 || bin != 6) lowcomp = calc_lowcomp(lowcomp, bndpsd[bin], bndpsd[bin + 1], bin);
      fastleak = bndpsd[bin] - fgain;
      slowleak = bndpsd[bin] - sgain;
      excite[bin] = fastleak - lowcomp;
      if (bndend != 7 || bin != 6) {
        if (bndpsd[bin] <= bndpsd[bin + 1]) {
          begin = bin + 1;
          break;
        }
      }
    }
    for (int bin = begin; bin < std::min(bndend, 22); ++bin) {
      if (bndend != 7 || bin != 6) lowcomp = calc_lowcomp(lowcomp, bndpsd[bin], bndpsd[bin + 1], bin);
      fastleak = std::max(fastleak - fdecay, bndpsd[bin] - fgain);
      slowleak = std::max(slowleak - sdecay, bndpsd[bin] - sgain);
      excite[bin] = std::max(fastleak - lowcomp, slowleak);
    }
    begin = 22;
  } else {
    begin = bndstrt;
    fastleak = (si.cplfleak << 8) + 768;
    slowleak = (si.cplsleak << 8) + 768;
  }
  for (int bin = begin; bin < bndend; ++bin) {
    fastleak = std::max(fastleak - fdecay, bndpsd[bin] - fgain);
    slowleak = std::max(slowleak - sdecay, bndpsd[bin] - sgain);
    excite[bin] = std::max(fastleak, slowleak);
  }

  int mask[50];
  const int fs = s->bsi.fscod > 2 ? 0 : s->bsi.fscod;
  for (int bin = bndstrt; bin < bndend; ++bin) {
    int e = excite[bin];
    if (bndpsd[bin] < dbknee) e += (dbknee - bndpsd[bin]) >> 2;
    mask[bin] = std::max<int>(e, kHearing[fs][bin]);
  }

  const DeltaBa& d = si.delta[ch];
  if (ch != kLfe && d.mode == 1) {
    int band = 0;
    for (int seg = 0; seg < d.nseg; ++seg) {
      band += d.offset[seg];
      const int delta = d.code[seg] >= 4 ? (d.code[seg] - 3) << 7 : (d.code[seg] - 4) << 7;
      for (int k = 0; k < d.length[seg]; ++k, ++band) {
        if (band >= 50) {
          trace("expand_delta: delta bit alloc past end of array");
          break;
        }
        if (band >= bndstrt && band < bndend) mask[band] += delta;
      }
    }
  }

  int i = start;
  for (int j = bndstrt; j < bndend; ++j) {
    int m = mask[j] - snroffset - floor;
    if (m < 0) m = 0;
    m = (m & 0x1fe0) + floor;
    const int lastbin = std::min<int>(kBandStart[j + 1], end);
    for (; i < lastbin; ++i) {
      int address = (psd[i] - m) >> 5;
      address = std::clamp(address, 0, 63);
      bap[i] = kBap[address];
    }
  }
}

// Mantissa groups run on across channels within a block.
struct Groups {
  const float* g1 = nullptr;
  const float* g2 = nullptr;
  const float* g4 = nullptr;
  int n1 = 0, n2 = 0, n4 = 0;
};

inline double dither_value(uint16_t& state) {
  // x2 = 47989 x1 = 47989^2 s: both from s, so one multiply per step of the chain
  const uint16_t x1 = static_cast<uint16_t>(47989u * state);
  const uint16_t x2 = static_cast<uint16_t>(((47989u * 47989u) & 0xFFFFu) * state);
  state = x2;
  return (static_cast<int16_t>(x1) + static_cast<int16_t>(x2)) / 65536.0;
}

// Multipliers that step the dither generator k times at once: x1 and x2 of
// step k are 47989^(2k+1) s and 47989^(2k+2) s (mod 2^16).
struct DitherSteps {
  uint32_t a1[4], a2[4];
  DitherSteps() {
    uint32_t p = 1;
    for (int k = 0; k < 4; ++k) {
      p = (p * 47989u) & 0xFFFF;
      a1[k] = p;
      p = (p * 47989u) & 0xFFFF;
      a2[k] = p;
    }
  }
};
const DitherSteps kDitherSteps;

// A run of empty bins [i, j) filled with dither, four generator steps at a
// time so that the multiplications do not wait on each other.
void dither_run(uint16_t& state, const int8_t* exp, int i, int j, double* out) {
  uint32_t s = state;
  constexpr double kScale = 1.0 / 65536.0;
  for (; i + 4 <= j; i += 4) {
    for (int k = 0; k < 4; ++k) {
      const int16_t x1 = static_cast<int16_t>(kDitherSteps.a1[k] * s);
      const int16_t x2 = static_cast<int16_t>(kDitherSteps.a2[k] * s);
      out[i + k] = (x1 + x2) * kScale * kExpScale.v[exp[i + k]];
    }
    s = (kDitherSteps.a2[3] * s) & 0xFFFF;
  }
  uint16_t d = static_cast<uint16_t>(s);
  for (; i < j; ++i) out[i] = dither_value(d) * kExpScale.v[exp[i]];
  state = d;
}

// Mantissas of bins [start, end) scaled by their exponents. Bins of bap 0
// get dither when dither is non-null, else 0.
void read_mantissas(BitReader& br, const uint8_t* bap, const int8_t* exp, int start, int end, Groups& g,
                    uint16_t* dither, double* out) {
  for (int i = start; i < end; ++i) {
    // Empty bins come in long runs: take them whole.
    if (bap[i] == 0) {
      int j = i + 1;
      while (j < end && bap[j] == 0) ++j;
      if (dither)
        dither_run(*dither, exp, i, j, out);
      else
        std::fill(out + i, out + j, 0.0);
      i = j - 1;
      continue;
    }
    double v;
    switch (bap[i]) {
      case 1:
        if (g.n1 == 0) {
          g.g1 = kGroup3[br.get(5)];
          g.n1 = 3;
        }
        v = g.g1[3 - g.n1--];
        break;
      case 2:
        if (g.n2 == 0) {
          g.g2 = kGroup5[br.get(7)];
          g.n2 = 3;
        }
        v = g.g2[3 - g.n2--];
        break;
      case 3:
        v = kLevel7[br.get(3)];
        break;
      case 4:
        if (g.n4 == 0) {
          g.g4 = kGroup11[br.get(7)];
          g.n4 = 2;
        }
        v = g.g4[2 - g.n4--];
        break;
      case 5:
        v = kLevel15[br.get(4)];
        break;
      default: {
        const int bits = kMantBits[bap[i]];
        v = br.get_signed(bits) * kExpScale.v[bits - 1];
      }
    }
    out[i] = v * kExpScale.v[exp[i]];
  }
}

double dynrng_gain(int code) {
  // X (3 bits, signed) octaves and 1.YYYYY: (32 + Y) * 2^(X - 5).
  const int x = code >> 5;  // arithmetic: code is signed 8-bit
  const int y = code & 31;
  return std::ldexp(32 + y, x - 5);
}

double scaled(double g, double cut, double boost) {
  if (g == 1.0) return g;
  return std::pow(g, g < 1.0 ? cut : boost);
}

double dialnorm_gain(int dialnorm) {
  const int dn = dialnorm == 0 ? 31 : dialnorm;
  return std::pow(10.0, -(31 - dn) / 20.0);
}

// Gain of one channel from its dynamic-range and compression words.
double channel_gain(const ac3_dec_state* s, int dynrng, int compre, int compr, int dialnorm, bool overload) {
  double g = dynrng_gain(dynrng);
  switch (s->compression) {
    case 3: {
      // Line-level words unless a heavy-compression word is present.
      if (compre) {
        const int c = static_cast<int8_t>(compr);
        const double cg = std::ldexp((c & 15) + 16, (c >> 4) - 4 + 1 - 5) * 2.0;
        g = cg * std::pow(10.0, 11.0 / 20.0);
      } else if (overload) {
        g *= std::pow(10.0, -11.0 / 20.0);
      }
      break;
    }
    case 2:
      if (g < 1.0)
        g = overload ? g : scaled(g, s->cut_scale, 1.0);
      else
        g = scaled(g, 1.0, s->boost_scale);
      break;
    default:
      g = scaled(g, s->cut_scale, s->boost_scale);
      if (overload) g *= std::pow(10.0, -11.0 / 20.0);
  }
  if (s->compression != 0) g *= dialnorm_gain(dialnorm);
  return g * s->pcm_scale;
}

// Set when the coefficients feeding an output sum to 1.0 or more (before any
// scaling), or for karaoke.
bool mix_overload(const ac3_dec_state* s, const double (*mix)[6]) {
  bool overload = s->karaoke != 0;
  for (int o = 0; o < 6; ++o) {
    double sum = 0.0;
    for (int ch = 0; ch < 6; ++ch) sum += std::fabs(mix[o][ch]);
    if (sum >= 1.0) overload = true;
  }
  return overload;
}

}  // namespace

bool build_mix(const ac3_dec_state* s, double (*mix)[6]) {
  std::memset(mix, 0, sizeof(double) * 36);
  const AC3Bsi& b = s->bsi;
  const int acmod = b.acmod;
  if (s->user_downmix) {
    std::memcpy(mix, s->user_downmix, sizeof(double) * 36);
    return mix_overload(s, mix);
  }
  const int mode = s->effective_mode;
  double clev = kCentreLevel[b.cmixlev & 3];
  double slev = kSurroundLevel[b.surmixlev & 3];
  if (s->annex_d) {
    clev = kExtLevel[(mode == 0 ? b.ltrtcmixlev : b.lorocmixlev) & 7];
    slev = kExtLevel[(mode == 0 ? b.ltrtsurmixlev : b.lorosurmixlev) & 7];
  }
  const bool* has = kHasSlot[mode];

  if (acmod == 0) {
    // 1+1: channel 1 in the left input position, channel 2 in the right.
    const int dm = s->dual_mono;
    if (mode == 1) {
      mix[kC][0] = dm == 1 ? 1.0 : dm == 2 ? 0.0 : 0.5;
      mix[kC][1] = dm == 2 ? 1.0 : dm == 1 ? 0.0 : 0.5;
    } else if (mode == 2 || !has[kC]) {
      // 0: each to its own side; 1, 2: one channel at half level on both;
      // 3: half of each on both. Outputs without a centre do the same.
      const double one = dm == 1 || dm == 3 ? 0.5 : 0.0;
      const double two = dm == 2 || dm == 3 ? 0.5 : 0.0;
      mix[kL][0] = dm == 0 ? 1.0 : one;
      mix[kL][1] = dm == 0 ? 0.0 : two;
      mix[kR][0] = dm == 0 ? 0.0 : one;
      mix[kR][1] = dm == 0 ? 1.0 : two;
    } else if (dm == 0) {
      mix[kL][0] = 1.0;
      mix[kR][1] = 1.0;
    } else {
      mix[kC][0] = dm == 1 ? 1.0 : dm == 2 ? 0.0 : 0.5;
      mix[kC][1] = dm == 2 ? 1.0 : dm == 1 ? 0.0 : 0.5;
    }
  } else {
    const bool single_surround = acmod == 4 || acmod == 5;
    for (int ch = 0; ch < s->nfchans; ++ch) {
      const int slot = kInputSlot[acmod][ch];
      if (mode == 0) {
        // Matrix-surround compatible: surrounds in and out of phase.
        if (slot == kL || slot == kR) mix[slot][ch] = 1.0;
        if (slot == kC) mix[kL][ch] = mix[kR][ch] = acmod == 1 ? kMinus3dB : clev;
        if (slot == kLs || slot == kRs) {
          const double l = single_surround ? slev * kMinus3dB : slev;
          mix[kL][ch] = -l;
          mix[kR][ch] = l;
        }
        continue;
      }
      if (mode == 1) {
        if (slot == kC)
          mix[kC][ch] = 1.0;
        else if (slot == kL || slot == kR)
          mix[kC][ch] = kMinus3dB;
        else
          mix[kC][ch] = slev * kMinus3dB;
        continue;
      }
      if (has[slot] && !(single_surround && slot == kLs && has[kRs])) {
        mix[slot][ch] = 1.0;
        continue;
      }
      if (slot == kC) {
        mix[kL][ch] = mix[kR][ch] = acmod == 1 ? kMinus3dB : clev;
      } else if (single_surround) {
        if (has[kLs] && has[kRs]) {
          mix[kLs][ch] = mix[kRs][ch] = kMinus3dB;
        } else {
          mix[kL][ch] = mix[kR][ch] = slev * kMinus3dB;
        }
      } else if (has[kLs]) {  // two surrounds into one
        mix[kLs][ch] = kMinus3dB;
      } else {
        mix[slot == kLs ? kL : kR][ch] = slev;
      }
    }
  }
  if (b.lfeon && s->output_lfe) mix[kLfeSlot][s->nfchans] = 1.0;
  const bool overload = mix_overload(s, mix);
  // Scale a downmix whose outputs could exceed full scale down to unity,
  // so that full-level sources do not clip.
  double peak = 0.0;
  for (int o = 0; o < kLfeSlot; ++o) {
    double sum = 0.0;
    for (int ch = 0; ch < 6; ++ch) sum += std::fabs(mix[o][ch]);
    peak = std::max(peak, sum);
  }
  if (peak > 1.0)
    for (int o = 0; o < kLfeSlot; ++o)
      for (int ch = 0; ch < 6; ++ch) mix[o][ch] /= peak;
  return overload;
}

int decode_channels(ac3_dec_state* s) {
  SideInfo& si = s->side;
  BitReader& br = s->br;
  const int nf = s->nfchans;
  const int set = 1 - s->cur;
  double (*coef)[256] = s->coef[set];

  bool zero_snr = si.csnroffst == 0;
  if (zero_snr) {
    for (int ch = 0; ch < nf; ++ch) zero_snr = zero_snr && si.fsnroffst[ch] == 0;
    if (si.cplinu) zero_snr = zero_snr && si.fsnroffst[kCpl] == 0;
    if (s->bsi.lfeon) zero_snr = zero_snr && si.fsnroffst[kLfe] == 0;
  }
  for (int ch = 0; ch < kChannels; ++ch) {
    const bool used = ch < nf || (ch == kCpl && si.cplinu) || (ch == kLfe && s->bsi.lfeon);
    if (used && si.realloc[ch]) {
      allocate(s, ch, zero_snr);
      si.realloc[ch] = false;
    }
  }

  // Mantissas in stream order; the coupling channel's follow the first
  // coupled channel's own.
  Groups g;
  double cplmant[256];
  bool got_cpl = false;
  for (int ch = 0; ch < nf; ++ch) {
    double* c = coef[ch];
    const int end = si.end[ch];
    read_mantissas(br, s->bap[ch], s->exp[ch], 0, end, g, si.dithflag[ch] ? &s->dither : nullptr, c);
    if (si.cplinu && si.chincpl[ch] && !got_cpl) {
      read_mantissas(br, s->bap[kCpl], s->exp[kCpl], si.start[kCpl], si.end[kCpl], g, nullptr, cplmant);
      got_cpl = true;
    }
    int stop = end;
    if (si.cplinu && si.chincpl[ch]) {
      const int8_t* cexp = s->exp[kCpl];
      const uint8_t* cbap = s->bap[kCpl];
      // One coordinate per 12-bin subband.
      for (int sub = 0, i0 = si.start[kCpl]; i0 < si.end[kCpl]; ++sub, i0 += 12) {
        const int band = si.band_of_subband[sub];
        double co = si.cplco[ch][band] * 8.0;
        if (ch == 1 && s->bsi.acmod == 2 && si.phsflg[band]) co = -co;
        for (int i = i0; i < i0 + 12; ++i) {
          const double v = cbap[i] != 0           ? cplmant[i]
                           : si.dithflag[ch] ? dither_value(s->dither) * kExpScale.v[cexp[i]]
                                             : 0.0;
          c[i] = v * co;
        }
      }
      stop = si.end[kCpl];
    }
    std::fill(c + stop, c + 256, 0.0);
  }
  if (s->bsi.lfeon) {
    double* c = coef[nf];
    read_mantissas(br, s->bap[kLfe], s->exp[kLfe], 0, 7, g, nullptr, c);
    std::fill(c + 7, c + 256, 0.0);
  }
  if (br.overrun) {
    trace("ac3_dec: mantissas run past the frame");
    return 1;
  }

  // Rematrixing of the 2/0 pair.
  if (s->bsi.acmod == 2) {
    int end = std::min(si.end[0], si.end[1]);
    if (si.cplinu) end = std::min(end, si.start[kCpl]);
    for (int b = 0; b < si.nrematbd; ++b) {
      if (!si.rematflg[b]) continue;
      const int lo = kRematrixEdge[b], hi = std::min<int>(kRematrixEdge[b + 1], end);
      for (int i = lo; i < hi; ++i) {
        const double l = coef[0][i], r = coef[1][i];
        coef[0][i] = l + r;
        coef[1][i] = l - r;
      }
    }
  }

  // Mix and gains.
  double (*mix)[6] = s->mix[set];
  const bool overload = build_mix(s, mix);
  const AC3Bsi& b = s->bsi;
  for (int ch = 0; ch < nf; ++ch) {
    const bool second = b.acmod == 0 && ch == 1;
    s->gain[set][ch] = second ? channel_gain(s, si.dynrng2, b.compr2e, b.compr2, b.dialnorm2, overload)
                              : channel_gain(s, si.dynrng, b.compre, b.compr, b.dialnorm, overload);
    s->coef_blksw[set][ch] = si.blksw[ch];
  }
  if (b.lfeon) {
    s->gain[set][nf] = s->gain[set][0];
    s->coef_blksw[set][nf] = 0;
  }
  s->coef_chans[set] = s->nchans;
  s->cur = set;
  s->have_good = true;
  return 0;
}

namespace {

struct Transform {
  double xcos1[128], xsin1[128], xcos2[64], xsin2[64];
  double stage_r[8][64], stage_i[8][64];  // e^{j 2 pi k / 2^stage}, k < 2^(stage-1)
  uint8_t rev7[128], rev6[64];
  Transform() {
    for (int stage = 1; stage < 8; ++stage)
      for (int k = 0; k < (1 << (stage - 1)); ++k) {
        stage_r[stage][k] = std::cos(2.0 * M_PI * k / (1 << stage));
        stage_i[stage][k] = std::sin(2.0 * M_PI * k / (1 << stage));
      }
    for (int k = 0; k < 128; ++k) {
      xcos1[k] = -std::cos(2.0 * M_PI * (8 * k + 1) / 4096.0);
      xsin1[k] = -std::sin(2.0 * M_PI * (8 * k + 1) / 4096.0);
    }
    for (int k = 0; k < 64; ++k) {
      xcos2[k] = -std::cos(2.0 * M_PI * (8 * k + 1) / 2048.0);
      xsin2[k] = -std::sin(2.0 * M_PI * (8 * k + 1) / 2048.0);
    }
    for (int i = 0; i < 128; ++i) {
      int r = 0;
      for (int b = 0; b < 7; ++b) r |= ((i >> b) & 1) << (6 - b);
      rev7[i] = static_cast<uint8_t>(r);
    }
    for (int i = 0; i < 64; ++i) {
      int r = 0;
      for (int b = 0; b < 6; ++b) r |= ((i >> b) & 1) << (5 - b);
      rev6[i] = static_cast<uint8_t>(r);
    }
  }
};
const Transform kT;

// In-place inverse complex FFT of n = 64 or 128 points (input already in
// bit-reversed order): z[n] = sum Z[k] e^{+j 2 pi k n / N}.
void ifft(double* re, double* im, int n) {
  // Sizes 2 and 4 need no multiplications (twiddles 1 and j).
  for (int i = 0; i < n; i += 4) {
    const double r0 = re[i] + re[i + 1], i0 = im[i] + im[i + 1];
    const double r1 = re[i] - re[i + 1], i1 = im[i] - im[i + 1];
    const double r2 = re[i + 2] + re[i + 3], i2 = im[i + 2] + im[i + 3];
    const double r3 = re[i + 2] - re[i + 3], i3 = im[i + 2] - im[i + 3];
    re[i] = r0 + r2;
    im[i] = i0 + i2;
    re[i + 2] = r0 - r2;
    im[i + 2] = i0 - i2;
    // j * (r3 + j i3) = -i3 + j r3
    re[i + 1] = r1 - i3;
    im[i + 1] = i1 + r3;
    re[i + 3] = r1 + i3;
    im[i + 3] = i1 - r3;
  }
  for (int size = 8, stage = 3; size <= n; size <<= 1, ++stage) {
    const int half = size >> 1;
    // Twiddles of the stage lie contiguous, so the butterflies of a group
    // run over consecutive values.
    const double* wr = kT.stage_r[stage];
    const double* wi = kT.stage_i[stage];
    for (int i = 0; i < n; i += size) {
      double* ra = re + i;
      double* ia = im + i;
      double* rb = ra + half;
      double* ib = ia + half;
      for (int k = 0; k < half; ++k) {
        const double tr = rb[k] * wr[k] - ib[k] * wi[k];
        const double ti = rb[k] * wi[k] + ib[k] * wr[k];
        rb[k] = ra[k] - tr;
        ib[k] = ia[k] - ti;
        ra[k] += tr;
        ia[k] += ti;
      }
    }
  }
}

}  // namespace

void imdct_window(const double* X, bool short_blocks, double* x) {
  constexpr int N = 512;
  const double* w = kWindow;
  if (!short_blocks) {
    double re[128], im[128];
    for (int k = 0; k < 128; ++k) {
      const double a = X[N / 2 - 2 * k - 1], b = X[2 * k];
      const int r = kT.rev7[k];
      re[r] = a * kT.xcos1[k] - b * kT.xsin1[k];
      im[r] = b * kT.xcos1[k] + a * kT.xsin1[k];
    }
    ifft(re, im, 128);
    double yr[128], yi[128];
    for (int n = 0; n < 128; ++n) {
      yr[n] = re[n] * kT.xcos1[n] - im[n] * kT.xsin1[n];
      yi[n] = im[n] * kT.xcos1[n] + re[n] * kT.xsin1[n];
    }
    for (int n = 0; n < N / 8; ++n) {
      x[2 * n] = -yi[N / 8 + n] * w[2 * n];
      x[2 * n + 1] = yr[N / 8 - n - 1] * w[2 * n + 1];
      x[N / 4 + 2 * n] = -yr[n] * w[N / 4 + 2 * n];
      x[N / 4 + 2 * n + 1] = yi[N / 4 - n - 1] * w[N / 4 + 2 * n + 1];
      x[N / 2 + 2 * n] = -yr[N / 8 + n] * w[N / 2 - 2 * n - 1];
      x[N / 2 + 2 * n + 1] = yi[N / 8 - n - 1] * w[N / 2 - 2 * n - 2];
      x[3 * N / 4 + 2 * n] = yi[n] * w[N / 4 - 2 * n - 1];
      x[3 * N / 4 + 2 * n + 1] = -yr[N / 4 - n - 1] * w[N / 4 - 2 * n - 2];
    }
    return;
  }
  double re1[64], im1[64], re2[64], im2[64];
  for (int k = 0; k < 64; ++k) {
    const int r = kT.rev6[k];
    // X1[k] = X[2k], X2[k] = X[2k+1]
    const double a1 = X[2 * (N / 4 - 2 * k - 1)], b1 = X[2 * (2 * k)];
    const double a2 = X[2 * (N / 4 - 2 * k - 1) + 1], b2 = X[2 * (2 * k) + 1];
    re1[r] = a1 * kT.xcos2[k] - b1 * kT.xsin2[k];
    im1[r] = b1 * kT.xcos2[k] + a1 * kT.xsin2[k];
    re2[r] = a2 * kT.xcos2[k] - b2 * kT.xsin2[k];
    im2[r] = b2 * kT.xcos2[k] + a2 * kT.xsin2[k];
  }
  ifft(re1, im1, 64);
  ifft(re2, im2, 64);
  double yr1[64], yi1[64], yr2[64], yi2[64];
  for (int n = 0; n < 64; ++n) {
    yr1[n] = re1[n] * kT.xcos2[n] - im1[n] * kT.xsin2[n];
    yi1[n] = im1[n] * kT.xcos2[n] + re1[n] * kT.xsin2[n];
    yr2[n] = re2[n] * kT.xcos2[n] - im2[n] * kT.xsin2[n];
    yi2[n] = im2[n] * kT.xcos2[n] + re2[n] * kT.xsin2[n];
  }
  for (int n = 0; n < N / 8; ++n) {
    x[2 * n] = -yi1[n] * w[2 * n];
    x[2 * n + 1] = yr1[N / 8 - n - 1] * w[2 * n + 1];
    x[N / 4 + 2 * n] = -yr1[n] * w[N / 4 + 2 * n];
    x[N / 4 + 2 * n + 1] = yi1[N / 8 - n - 1] * w[N / 4 + 2 * n + 1];
    x[N / 2 + 2 * n] = -yr2[n] * w[N / 2 - 2 * n - 1];
    x[N / 2 + 2 * n + 1] = yi2[N / 8 - n - 1] * w[N / 2 - 2 * n - 2];
    x[3 * N / 4 + 2 * n] = yi2[n] * w[N / 4 - 2 * n - 1];
    x[3 * N / 4 + 2 * n + 1] = -yr2[N / 8 - n - 1] * w[N / 4 - 2 * n - 2];
  }
}

void synthesize(ac3_dec_state* s) {
  // Each read slot's 512 values are written whole below: by its transform,
  // or cleared first (no source, or sources of both block shapes).
  bool filled[6] = {};
  if (s->status == AC3_BLOCK_OK || s->status == AC3_BLOCK_REPEAT) {
    const int set = s->cur;
    const double (*mix)[6] = s->mix[set];
    const int nch = s->coef_chans[set];
    const int* blksw = s->coef_blksw[set];
    const double* gain = s->gain[set];
    bool transformed[kChannels] = {};
    for (int o = 0; o < 6; ++o) {
      if (!s->out[o].ptr) continue;  // nobody reads this slot
      int shape = -1;
      bool same = true;
      for (int ch = 0; ch < nch; ++ch) {
        if (mix[o][ch] == 0.0) continue;
        if (shape < 0)
          shape = blksw[ch];
        else if (shape != blksw[ch])
          same = false;
      }
      if (shape < 0) continue;
      if (same) {
        // The transform is linear: mix the coefficients, transform once.
        double* c = s->mixed;
        std::memset(c, 0, sizeof s->mixed);
        for (int ch = 0; ch < nch; ++ch) {
          const double m = mix[o][ch] * gain[ch];
          if (m == 0.0) continue;
          const double* x = s->coef[set][ch];
          for (int k = 0; k < 256; ++k) c[k] += m * x[k];
        }
        imdct_window(c, shape != 0, s->acc[o]);
        filled[o] = true;
        continue;
      }
      // Long and short blocks meet in this output: mix after the window.
      std::memset(s->acc[o], 0, sizeof s->acc[o]);
      filled[o] = true;
      for (int ch = 0; ch < nch; ++ch) {
        const double m = mix[o][ch] * gain[ch];
        if (m == 0.0) continue;
        if (!transformed[ch]) {
          imdct_window(s->coef[set][ch], blksw[ch] != 0, s->window_out[ch]);
          transformed[ch] = true;
        }
        const double* x = s->window_out[ch];
        double* a = s->acc[o];
        for (int n = 0; n < 512; ++n) a[n] += m * x[n];
      }
    }
  }
  // Every slot of the output mode gets its samples; silent slots let their
  // delay line ring out.
  static const int kModeSlots[8][5] = {
      {0, 2, -1, -1, -1}, {1, -1, -1, -1, -1}, {0, 2, -1, -1, -1}, {0, 1, 2, -1, -1},
      {0, 2, 3, -1, -1},  {0, 1, 2, 3, -1},    {0, 2, 3, 4, -1},   {0, 1, 2, 3, 4},
  };
  int slots[6];
  int n = 0;
  for (int i = 0; i < 5 && kModeSlots[s->output_mode][i] >= 0; ++i) slots[n++] = kModeSlots[s->output_mode][i];
  if (s->output_lfe) slots[n++] = 5;
  for (int i = 0; i < n; ++i) {
    const int o = slots[i];
    double* a = s->acc[o];
    double* d = s->delay[o];
    double* out = s->out[o].ptr;
    if (!out) continue;
    if (!filled[o]) std::memset(a, 0, sizeof s->acc[o]);
    const int stride = s->out[o].stride;
    for (int k = 0; k < 256; ++k) {
      double v = 2.0 * (a[k] + d[k]);
      v = v > 0.999999999 ? 0.999999999 : v < -1.0 ? -1.0 : v;
      out[k * stride] = v;
      d[k] = a[256 + k];
    }
  }
}

}  // namespace ac3
