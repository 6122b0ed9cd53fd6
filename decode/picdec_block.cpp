// Block decoding: DC differentials and the coefficient loops of MPEG-2
// intra and non-intra blocks and of MPEG-1 blocks, with inverse
// quantisation, saturation and mismatch control.
//
// The loops take one 11-bit look-up per common code, whose entry carries
// the sign; sign and saturation are applied without branches (the sign of a
// coefficient is a coin toss that a branch predictor loses half the time).
// The window stays in a register and is shifted by each code, so a code's
// look-up waits for a shift, not for a load.
#include <algorithm>

#include "decode/picdec_internal.h"
#include "foundation/big_endian.h"

namespace {

inline int dc_differential(MBReader& bs, int size) {
  if (!size) return 0;
  const int bits = static_cast<int>(bs.get(size));
  return bits >> (size - 1) ? bits : bits - (1 << size) + 1;
}

inline int get_dc_diff(MBReader& bs, const VlcTables& t, int cc) {
  const VlcEntry e = cc ? t.dc_chroma[bs.show(10)] : t.dc_luma[bs.show(9)];
  bs.skip(e.len);
  return dc_differential(bs, e.value);
}

// The bits of the blocks of a macroblock, kept in locals from the first
// block to the last: w holds the next avail bits, left-aligned, zeros below
// them; next is the first byte not yet in w. refill() tops w up whenever
// fewer than 32 bits are left, so every code (an escape takes 28 at most)
// finds its bits there. The refill's load
// address does not depend on the codes being decoded, so the load is issued
// early and only a shift and an OR wait for the code lengths. Reads stay
// within 8 bytes of the reader's position, inside the zero padding.
struct CoefBits {
  const uint8_t* next;
  uint64_t w;
  int avail;

  explicit CoefBits(const MBReader& bs)
      : next(bs.buf + (bs.pos >> 3) + 8),
        w(load_be64(bs.buf + (bs.pos >> 3)) << (bs.pos & 7)),
        avail(64 - static_cast<int>(bs.pos & 7)) {}
  inline void refill() {
    if (avail < 32) {
      w |= static_cast<uint64_t>(load_be32(next)) << (32 - avail);
      next += 4;
      avail += 32;
    }
  }
  inline void skip(int n) {
    w <<= n;
    avail -= n;
  }
  // Bit position in the reader's buffer.
  inline size_t pos(const MBReader& bs) const {
    return static_cast<size_t>(next - bs.buf) * 8 - static_cast<size_t>(avail);
  }
};

// A DC differential from the window: 21 bits at most. A block ends with a
// refilled window less an end of block (4 bits at most), so the next block
// starts with 28 bits or more.
inline int get_dc_diff(CoefBits& b, const VlcTables& t, int cc) {
  const VlcEntry e = cc ? t.dc_chroma[b.w >> 54] : t.dc_luma[b.w >> 55];
  b.skip(e.len);
  const int size = e.value;
  if (!size) return 0;
  const int bits = static_cast<int>(b.w >> (64 - size));
  b.skip(size);
  return bits >> (size - 1) ? bits : bits - (1 << size) + 1;
}


// Saturated to -2048..2047 and signed: sign is 0 or -1, magnitude >= 0.
inline int signed_saturated(int magnitude, int sign) {
  const int v = std::min(magnitude, 2047 - sign);
  return (v ^ sign) - sign;
}

// A code of the 16-bit tables (11 bits or more with its sign); false for no
// code.
inline bool long_code(const VlcTables& t, bool table_one, uint64_t w, int* run, int* level, int* sign, size_t* pos) {
  const uint32_t v = static_cast<uint32_t>(w >> 48);
  const DctEntry e = v >= 1024 ? (table_one ? t.dct1_short : t.dct0_short)[v >> 8]
                               : (table_one ? t.dct1_long : t.dct0_long)[v];
  if (e.run >= DCT_EOB) return false;  // end of block and escape are short codes
  *run = e.run;
  *level = e.level;
  *sign = -static_cast<int>((w >> (63 - e.len)) & 1);
  *pos += e.pad;
  return true;
}

// Coefficient loop of the MPEG-2 blocks from scan index i on (non-intra
// blocks from -1, their first coefficient included). Returns the
// last scan index reached, or -2 on a bad code. parity: low bit of the sum
// of the coefficients.
template <bool LIMITED, bool INTRA>
inline int mpeg2_coefficients(BodyCtx& c, CoefBits& b, bool table_one, const uint16_t* qm, int16_t* blk, int i,
                              int* parity_io, int* used_io) {
  const DctFast* fast = table_one ? c.t->dct1_fast : c.t->dct0_fast;
  const uint8_t* scan = c.scan;
  const int limit = c.limit;
  int parity = *parity_io;
  int used = 0;  // OR of the positions written
  if (!INTRA && (b.w >> 63)) {
    // "1s" as the first coefficient of a non-intra block: run 0, level 1
    const int sign = -static_cast<int>((b.w >> 62) & 1);
    b.skip(2);
    i = 0;
    const int val = signed_saturated((3 * qm[0]) >> 5, sign);
    blk[scan[0]] = static_cast<int16_t>(val);
    parity = val;
    used = scan[0];
  }
  for (;;) {
    b.refill();
    const uint64_t w = b.w;
    const DctFast e = fast[w >> (64 - DCT_FAST_BITS)];
    int run = dct_fast_run(e);
    int level, sign;  // level: INTRA ? level : 2 x level + 1
    if (__builtin_expect(dct_fast_is_coefficient(e), 1)) {
      level = INTRA ? dct_fast_level(e) : dct_fast_level21(e);
      sign = dct_fast_sign(e);
      b.skip(dct_fast_len(e));
    } else if (run == DCT_EOB) {
      b.skip(dct_fast_len(e));
      break;
    } else if (run == DCT_ESC) {
      // 6 escape, 6 run, 12 level
      run = static_cast<int>((w >> 52) & 63);
      int lv = static_cast<int>((w >> 40) & 4095);
      b.skip(24);
      if ((lv & 2047) == 0) return -2;
      if (lv >= 2048) lv -= 4096;
      sign = lv < 0 ? -1 : 0;
      level = lv < 0 ? -lv : lv;
      if (!INTRA) level = 2 * level + 1;
    } else {
      size_t taken = 0;
      if (!long_code(*c.t, table_one, w, &run, &level, &sign, &taken)) return -2;
      b.skip(static_cast<int>(taken));
      if (!INTRA) level = 2 * level + 1;
    }
    const int before = i;
    i += run + 1;
    if (i > 63) return -2;
    const int p = scan[i];
    // limit < 0: reduced sizes keep the 4x4 low-frequency square
    if (LIMITED && (limit < 0 ? (p & 0x24) != 0 : before > limit)) continue;
    const int magnitude = (level * qm[i]) >> (INTRA ? 4 : 5);
    const int val = signed_saturated(magnitude, sign);
    blk[p] = static_cast<int16_t>(val);
    parity ^= val;
    used |= p;
  }
  *parity_io = parity;
  *used_io = used;
  return i;
}

// Mismatch control on a block whose coefficients sum to an even number, and
// the kind of transform the block needs. Without branches: the parity is
// a coin toss, as the sign is. used: OR of the positions written; without
// bit 5 all lie in rows 0-3, and coefficient 63 is then 0 or 1.
inline uint8_t finish_mpeg2_block(int16_t* blk, int parity, bool dc_alone, int used) {
  const int even = ~parity & 1;
  blk[63] = static_cast<int16_t>(blk[63] ^ even);
  static_assert(BLOCK_DC63 == BLOCK_DC + 1, "the kind of a DC block is chosen by adding the parity");
  const uint8_t coded = (used & 0x20) ? BLOCK_FULL : BLOCK_UPPER;
  return dc_alone ? static_cast<uint8_t>(BLOCK_DC + even) : coded;
}

template <bool LIMITED>
int intra_block(BodyCtx& c, CoefBits& bs, int k, const uint16_t* qm) {
  int16_t* blk = c.blk[k];
  const int cc = k < 4 ? 0 : 1 + ((k - 4) & 1);
  c.dc_pred[cc] += get_dc_diff(bs, *c.t, cc);
  const int dc = std::clamp(c.dc_pred[cc] << (3 - c.dcprec), -2048, 2047);
  blk[0] = static_cast<int16_t>(dc);
  int parity = dc, used = 0;
  const int last = mpeg2_coefficients<LIMITED, true>(c, bs, c.ivlc != 0, qm, blk, 0, &parity, &used);
  if (last < -1) return 1;
  c.kind[k] = finish_mpeg2_block(blk, parity, last == 0, used);
  return 0;
}

template <bool LIMITED>
int inter_block(BodyCtx& c, CoefBits& bs, int k, const uint16_t* qm) {
  int16_t* blk = c.blk[k];
  int parity = 0, used = 0;
  const int last = mpeg2_coefficients<LIMITED, false>(c, bs, false, qm, blk, -1, &parity, &used);
  if (last < 0) return 1;  // bad code, or end of block before any coefficient
  c.kind[k] = finish_mpeg2_block(blk, parity, last == 0 && c.scan[0] == 0, used);
  return 0;
}

// Whole macroblocks, so that the block loop inlines into one function and
// the window passes from block to block in registers. The reader is left
// after the last block, or at the start of a block with a bad code, or
// past the end after a block that reads beyond it.
inline bool block_done(BodyCtx& c, const CoefBits& b, size_t* start) {
  *start = b.pos(c.bs);
  return *start <= c.bs.end;
}

template <bool LIMITED>
bool intra_blocks(BodyCtx& c) {
  CoefBits b(c.bs);
  size_t start = c.bs.pos;
  bool ok = true;
  for (int k = 0; ok && k < c.nblocks; ++k)
    ok = !intra_block<LIMITED>(c, b, k, c.qw[k >= 4 && c.cf != 1 ? 2 : 0]) && block_done(c, b, &start);
  c.bs.pos = start;
  return ok;
}

// Only the coded blocks are visited: a test per block on the pattern's
// bits would mispredict on every irregular pattern.
template <bool LIMITED>
bool inter_blocks(BodyCtx& c, int cbp) {
  // block k at bit 31 - k
  CoefBits b(c.bs);
  size_t start = c.bs.pos;
  bool ok = true;
  for (uint32_t m = static_cast<uint32_t>(cbp) << (32 - c.nblocks); ok && m;) {
    const int k = __builtin_clz(m);
    m ^= 0x80000000u >> k;
    ok = !inter_block<LIMITED>(c, b, k, c.qw[k >= 4 && c.cf != 1 ? 3 : 1]) && block_done(c, b, &start);
  }
  c.bs.pos = start;
  return ok;
}

}  // namespace

bool decode_mpeg2_intra_blocks(BodyCtx& c) { return c.limited ? intra_blocks<true>(c) : intra_blocks<false>(c); }

bool decode_mpeg2_inter_blocks(BodyCtx& c, int cbp) {
  return c.limited ? inter_blocks<true>(c, cbp) : inter_blocks<false>(c, cbp);
}

// MPEG-1 block: values are made odd toward zero and saturated; escapes
// carry 8 or 16 level bits.
int decode_mpeg1_block(BodyCtx& c, int k, const uint16_t* qm, bool intra) {
  MBReader bs = c.bs;
  int16_t* blk = c.blk[k];
  const DctFast* fast = c.t->dct0_fast;
  const uint8_t* scan = kZigZag;
  const int limit = c.limit;
  bool only_dc = true;
  bool first = !intra;
  int i = -1;
  if (intra) {
    const int cc = k < 4 ? 0 : 1 + ((k - 4) & 1);
    c.dc_pred[cc] += get_dc_diff(bs, *c.t, cc);
    blk[0] = static_cast<int16_t>(std::clamp(c.dc_pred[cc] * 8, -2048, 2047));
    i = 0;
  }
  CoefBits b(bs);
  for (;; first = false) {
    b.refill();
    const uint64_t w = b.w;
    int run, level, sign;
    if (first && (w >> 63)) {
      run = 0;
      level = 1;
      sign = -static_cast<int>((w >> 62) & 1);
      b.skip(2);
    } else {
      const DctFast e = fast[w >> (64 - DCT_FAST_BITS)];
      run = dct_fast_run(e);
      if (__builtin_expect(dct_fast_is_coefficient(e), 1)) {
        level = dct_fast_level(e);
        sign = dct_fast_sign(e);
        b.skip(dct_fast_len(e));
      } else if (run == DCT_EOB) {
        b.skip(dct_fast_len(e));
        break;
      } else if (run == DCT_ESC) {
        // 6 escape, 6 run, 8 level; level 0 and -128 take 8 more bits
        run = static_cast<int>((w >> 52) & 63);
        int lv = static_cast<int>((w >> 44) & 255);
        const int more = static_cast<int>((w >> 36) & 255);
        b.skip(20);
        if (lv == 0) {
          lv = more;
          b.skip(8);
        } else if (lv == 128) {
          lv = more - 256;
          b.skip(8);
        } else if (lv > 128) {
          lv -= 256;
        }
        sign = lv < 0 ? -1 : 0;
        level = lv < 0 ? -lv : lv;
        if (!level) return 1;
      } else {
        size_t taken = 0;
        if (!long_code(*c.t, false, w, &run, &level, &sign, &taken)) return 1;
        b.skip(static_cast<int>(taken));
      }
    }
    const int before = i < 0 ? 0 : i;
    i += run + 1;
    if (i > 63) return 1;
    const int p = scan[i];
    if (limit < 0 ? (p & 0x24) != 0 : before > limit) continue;
    int magnitude = intra ? (2 * level * qm[i]) >> 4 : ((2 * level + 1) * qm[i]) >> 4;
    magnitude -= (magnitude != 0) & ~magnitude & 1;  // even values step toward zero
    blk[p] = static_cast<int16_t>(signed_saturated(magnitude, sign));
    only_dc &= p == 0;
  }
  bs.pos = b.pos(bs);
  c.kind[k] = only_dc ? BLOCK_DC : BLOCK_FULL;
  c.bs = bs;
  return 0;
}
