// State record of the AC-3 decoding core (private to audio/codec/ac3_*.cpp).
#pragma once

#include <complex>
#include <cstdint>

#include "audio/codec/ac3_core.h"

namespace ac3 {

constexpr int kMaxFbw = 5;
constexpr int kCpl = 5;  // channel index of the coupling channel
constexpr int kLfe = 6;  // channel index of the LFE channel
constexpr int kChannels = 7;

// Reads the frame's big-endian words through a 64-bit window; never past
// the frame's end (reads there give 0 and set overrun). The word array must
// hold 4 words past the frame: the window loads ahead.
struct BitReader {
  const uint16_t* words = nullptr;
  uint32_t pos = 0;    // bits from the frame start
  uint32_t limit = 0;  // frame bits
  bool overrun = false;
  uint64_t cache = 0;  // next bits, first in the top bit
  int avail = 0;       // valid bits in cache
  uint32_t next = 0;   // next word to load

  void start(const uint16_t* w, uint32_t bit, uint32_t end) {
    words = w;
    limit = end;
    overrun = false;
    seek(bit);
  }
  void seek(uint32_t bit) {
    pos = bit;
    next = bit >> 4;
    cache = 0;
    avail = 0;
    fill();
    const int drop = static_cast<int>(bit & 15);
    cache <<= drop;
    avail -= drop;
  }
  void fill() {
    while (avail <= 48) {
      cache |= static_cast<uint64_t>(words[next++]) << (48 - avail);
      avail += 16;
    }
  }
  uint32_t get(int n) {
    if (n == 0) return 0;
    if (pos + static_cast<uint32_t>(n) > limit) {
      overrun = true;
      pos = limit;
      return 0;
    }
    if (avail < n) fill();
    const uint32_t r = static_cast<uint32_t>(cache >> (64 - n));
    cache <<= n;
    avail -= n;
    pos += static_cast<uint32_t>(n);
    return r;
  }
  int32_t get_signed(int n) {
    const uint32_t v = get(n);
    return static_cast<int32_t>(v << (32 - n)) >> (32 - n);
  }
  void skip(uint32_t n) {
    if (pos + n > limit) {
      overrun = true;
      pos = limit;
    } else if (static_cast<int>(n) < avail) {
      cache <<= n;
      avail -= static_cast<int>(n);
      pos += n;
    } else {
      seek(pos + n);
    }
  }
};

struct DeltaBa {
  int mode = 2;  // 0 reuse, 1 new, 2 none
  int nseg = 0;
  uint8_t offset[8] = {}, length[8] = {}, code[8] = {};
};

// Side information that persists from block to block.
struct SideInfo {
  int blksw[kMaxFbw] = {};
  int dithflag[kMaxFbw] = {};
  int dynrng = 0, dynrng2 = 0;  // signed 8-bit codes
  int cplinu = 0;
  int chincpl[kMaxFbw] = {};
  int phsflginu = 0;
  int cplbegf = 0, cplendf = 0;
  int ncplsubnd = 0, ncplbnd = 0;
  int cplbndstrc[18] = {};
  int band_of_subband[18] = {};
  double cplco[kMaxFbw][18] = {};
  int phsflg[18] = {};
  int rematflg[4] = {};
  int nrematbd = 0;
  int expstr[kChannels] = {};  // by channel index (cpl 5, lfe 6)
  int chbwcod[kMaxFbw] = {};
  int start[kChannels] = {}, end[kChannels] = {};
  int sdcycod = 0, fdcycod = 0, sgaincod = 0, dbpbcod = 0, floorcod = 0;
  int csnroffst = 0;
  int fsnroffst[kChannels] = {}, fgaincod[kChannels] = {};
  int cplfleak = 0, cplsleak = 0;
  DeltaBa delta[kChannels];
  bool realloc[kChannels] = {};  // bit allocation must be recomputed
  bool got_side = false;         // a block 0 was parsed in this frame
};

struct Output {
  double* ptr = nullptr;
  int stride = 0;
};

}  // namespace ac3

struct ac3_dec_state {
  AC3Bsi bsi;
  int nfchans = 0, nchans = 0;
  ac3_dec_frame_info info{};
  int16_t error_input = 0;
  int16_t status = 0;
  bool started = false;

  // Frame facts from the bit stream information.
  int reduced_rate = 0;
  int annex_d = 0;
  int karaoke = 0;
  uint32_t audio_start = 0;  // bit position of block 0
  uint32_t block_start[6] = {};  // bit position of each block of the frame
  uint32_t frame_bits = 0;

  ac3::SideInfo side;
  int8_t exp[ac3::kChannels][256] = {};
  uint8_t bap[ac3::kChannels][256] = {};

  // Coefficients: the block in hand and the last intact one (for repeats).
  double coef[2][ac3::kChannels][256] = {};
  int cur = 0;
  int coef_blksw[2][ac3::kChannels] = {};
  double gain[2][ac3::kChannels] = {};
  int coef_chans[2] = {};  // input channels (full-band + LFE) of the coefficients
  double mix[2][6][6] = {};  // [slot][input channel]
  bool have_good = false;

  // Transform work and per-slot output.
  double mixed[256] = {};
  double window_out[ac3::kChannels][512] = {};
  double acc[6][512] = {};
  double delay[6][256] = {};

  ac3::BitReader br;
  ac3::Output out[6];
  int16_t spare[6][6] = {};
  int block = 0;
  int repeat_count = 0;
  uint16_t dither = 1;
  int output_mode = 2, output_lfe = 0, nout = 2;
  int prev_output_mode = -1, prev_output_lfe = -1;
  int compression = 2, dual_mono = 0, stereo_mode = 2;
  double cut_scale = 1.0, boost_scale = 1.0, pcm_scale = 1.0;
  int repeat_limit = 0;
  const double (*user_downmix)[6] = nullptr;
  const void* karaoke_table = nullptr;
  int effective_mode = 2;
};
