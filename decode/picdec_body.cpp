// Picture body: slices, macroblocks, blocks, prediction and reconstruction,
// for MPEG-1 and MPEG-2 frame and field pictures at full and reduced size,
// and the parse-only pass that fills MBInfo records.
#include <emmintrin.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "decode/conceal.h"
#include "decode/idct.h"
#include "decode/mc.h"
#include "decode/picdec.h"
#include "decode/picdec_bits.h"
#include "decode/vlc.h"
#include "foundation/seq_header.h"

namespace {

// ---- variable-length code readers ----

inline int get_mb_address_increment(MBReader& bs, const VlcTables& t) {
  int add = 0;
  for (;;) {
    const uint32_t v = bs.show(11);
    if (v >= 1024) {
      bs.skip(1);
      return add + 1;
    }
    const VlcEntry e = t.mb_addr[v];
    if (!e.len) return 0;
    bs.skip(e.len);
    if (e.value == MB_ADDR_ESCAPE) {
      add += 33;
    } else if (e.value != MB_ADDR_STUFFING) {
      return add + e.value;
    }
    if (bs.overrun()) return 0;
  }
}

inline int get_mb_type(MBReader& bs, const VlcTables& t, int ptype) {
  if (ptype == 1) {
    const uint32_t v = bs.show(2);
    if (v & 2) {
      bs.skip(1);
      return MB_INTRA;
    }
    if (v == 1) {
      bs.skip(2);
      return MB_INTRA | MB_QUANT;
    }
    return 0;
  }
  const VlcEntry e = (ptype == 2 ? t.mb_type_p : t.mb_type_b)[bs.show(6)];
  if (!e.len) return 0;
  bs.skip(e.len);
  return e.value;
}

// Returns -1 for no code; the pattern-0 code gives 0.
inline int get_coded_block_pattern(MBReader& bs, const VlcTables& t) {
  const VlcEntry e = t.cbp[bs.show(9)];
  if (!e.len) return -1;
  bs.skip(e.len);
  return e.value;
}

inline int dc_differential(MBReader& bs, int size) {
  if (!size) return 0;
  const int bits = static_cast<int>(bs.get(size));
  return bits >> (size - 1) ? bits : bits - (1 << size) + 1;
}
inline int get_dc_diff_luma(MBReader& bs, const VlcTables& t) {
  const VlcEntry e = t.dc_luma[bs.show(9)];
  bs.skip(e.len);
  return dc_differential(bs, e.value);
}
inline int get_dc_diff_chroma(MBReader& bs, const VlcTables& t) {
  const VlcEntry e = t.dc_chroma[bs.show(10)];
  bs.skip(e.len);
  return dc_differential(bs, e.value);
}

// motion_code -16..16; false for a code not in the table.
inline bool get_motion_code(MBReader& bs, const VlcTables& t, int* code) {
  if (bs.show(1)) {
    bs.skip(1);
    *code = 0;
    return true;
  }
  const VlcEntry e = t.motion[bs.show(11)];
  if (!e.len) return false;
  bs.skip(e.len);
  *code = e.value;
  return true;
}

// New vector component (13818-2 7.6.3.1, wrapped into [-16 f, 16 f - 1]);
// halve: the prediction is halved before and the result doubled after
// (MPEG-1 full_pel vectors, vertical field vectors of frame pictures).
inline int reconstruct_mv_component(int prediction, int r_size, int motion_code, int motion_residual, int halve) {
  int pred = halve ? prediction >> 1 : prediction;
  if (motion_code) {
    const int f = 1 << r_size;
    int delta = ((std::abs(motion_code) - 1) << r_size) + motion_residual + 1;
    if (motion_code < 0) delta = -delta;
    int v = pred + delta;
    if (v < -16 * f) v += 32 * f;
    if (v > 16 * f - 1) v -= 32 * f;
    pred = v;
  }
  return halve ? pred * 2 : pred;
}

// One component: code, residual, reconstruction into *pmv. False on a bad code.
inline bool read_mv_component(MBReader& bs, const VlcTables& t, int r_size, int halve, int* pmv) {
  int code;
  if (!get_motion_code(bs, t, &code)) return false;
  const int residual = code && r_size ? static_cast<int>(bs.get(r_size)) : 0;
  *pmv = reconstruct_mv_component(*pmv, r_size, code, residual, halve);
  return true;
}

inline int get_dmvector(MBReader& bs) {
  if (!bs.show(1)) {
    bs.skip(1);
    return 0;
  }
  const int v = bs.show(2);
  bs.skip(2);
  return v == 2 ? 1 : -1;
}

inline uint8_t clip8(int v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }

// Result of a full transform of a block holding only its DC coefficient
// (v in -256..255): saturating byte adds give exactly clip(dst + v).
inline void dc_fill(uint8_t* dst, int stride, int v, int add) {
  if (!add) {
    const __m128i p = _mm_set1_epi8(static_cast<char>(clip8(v + 128)));
    for (int y = 0; y < 8; ++y, dst += stride) _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), p);
    return;
  }
  const __m128i up = _mm_set1_epi8(static_cast<char>(v > 0 ? std::min(v, 255) : 0));
  const __m128i down = _mm_set1_epi8(static_cast<char>(v < 0 ? std::min(-v, 255) : 0));
  for (int y = 0; y < 8; ++y, dst += stride) {
    const __m128i d = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(dst));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), _mm_subs_epu8(_mm_adds_epu8(d, up), down));
  }
}

// ---- per-picture state ----

struct Ctx {
  PicDecoder* d;
  const VlcTables* t;
  MBReader bs;
  int mpeg1;
  int ptype;
  int ps;           // picture_structure
  int parity;       // 0 top, 1 bottom (field pictures)
  int second;       // second field of a pair
  int fpfd, cmv, qst, ivlc, dcprec, tff;
  int r_size[2][2];
  int full_pel[2];
  const uint8_t* scan;
  const uint8_t* qtab;
  int sm;           // size mode shift
  int bsz;          // output block size 8 >> sm
  int mbs;          // macroblock size 16 >> sm
  int cf;           // chroma format (1 or 2)
  int nblocks;
  int parse_only;
  // destination geometry
  Frame* frame;
  Frame* fwd;
  Frame* bwd;
  int W, Wc;          // frame line strides (luma, chroma)
  int H;              // frame padded height
  int lstride, cstride;  // line strides of the picture (doubled for fields)
  int loff, coff;     // byte offset of the first line of the picture
  // macroblock state
  int dc_pred[3];
  int pmv[2][2][2];
  int sel[2][2];
  int dmv[2];
  int mb_type, motion_type, dct_type, cbp;
  int last_dirs;      // prediction bits of the previous macroblock (skips)
  int16_t* blk[12];
  uint8_t coded_dc_only[12];
  double activity;
};

// ---- blocks ----

// Coefficient loop shared by the MPEG-2 block decoders: one window per code
// gives the code, its sign and (for escapes) run and level. Returns the last
// scan index reached, or -2 on a bad code.
template <bool LIMITED, bool INTRA>
static inline int mpeg2_coefficients(MBReader& bs, const DctEntry* shrt, const DctEntry* lng, const uint8_t* scan,
                                     const uint16_t* qm, int limit, int16_t* blk, int i, int* sum_io) {
  int sum = *sum_io;
  // w: the bits from bs.pos + used on, left-aligned; at least 24 valid
  // while used <= 33 (a load brings 57 or more).
  uint64_t w = bs.window();
  int used = 0;
  for (;;) {
    if (used > 32) {
      bs.pos += static_cast<size_t>(used);
      used = 0;
      w = bs.window();
    }
    const uint32_t v = static_cast<uint32_t>(w >> 48);
    const DctEntry e = v >= 1024 ? shrt[v >> 8] : lng[v];
    int run, level, neg;
    if (__builtin_expect(e.run < DCT_EOB, 1)) {
      run = e.run;
      level = e.level;
      neg = static_cast<int>((w >> (63 - e.len)) & 1);
      w <<= e.pad;  // code and sign
      used += e.pad;
    } else if (e.run == DCT_EOB) {
      used += e.len;
      break;
    } else if (e.run == DCT_ESC) {
      // 6 escape, 6 run, 12 level
      run = static_cast<int>((w >> 52) & 63);
      int lv = static_cast<int>((w >> 40) & 4095);
      w <<= 24;
      used += 24;
      if ((lv & 2047) == 0) return -2;
      if (lv >= 2048) lv -= 4096;
      neg = lv < 0;
      level = neg ? -lv : lv;
    } else {
      return -2;
    }
    const int before = i;
    i += run + 1;
    if (i > 63) return -2;
    const int pos = scan[i];
    // limit < 0: reduced sizes keep the 4x4 low-frequency square
    if (LIMITED && (limit < 0 ? (pos & 0x24) != 0 : before > limit)) continue;
    int val = INTRA ? (level * qm[i]) >> 4 : ((2 * level + 1) * qm[i]) >> 5;
    if (val > 2047) val = neg ? 2048 : 2047;
    if (neg) val = -val;
    blk[pos] = static_cast<int16_t>(val);
    sum += val;
  }
  bs.pos += static_cast<size_t>(used);
  *sum_io = sum;
  return i;
}

// MPEG-2 intra block; LIMITED keeps coefficients only while the scan index
// before the run is within the limit. Returns 0, or 1 on a bad code.
template <bool LIMITED>
int decode_mpeg2_intra_block(Ctx& c, int k, const uint16_t* qm) {
  MBReader bs = c.bs;
  int16_t* blk = c.blk[k];
  const int cc = k < 4 ? 0 : 1 + ((k - 4) & 1);
  c.dc_pred[cc] += cc ? get_dc_diff_chroma(bs, *c.t) : get_dc_diff_luma(bs, *c.t);
  int dc = c.dc_pred[cc] << (3 - c.dcprec);
  dc = dc < -2048 ? -2048 : dc > 2047 ? 2047 : dc;
  blk[0] = static_cast<int16_t>(dc);
  int sum = dc;
  const DctEntry* shrt = c.ivlc ? c.t->dct1_short : c.t->dct0_short;
  const DctEntry* lng = c.ivlc ? c.t->dct1_long : c.t->dct0_long;
  const int last = mpeg2_coefficients<LIMITED, true>(bs, shrt, lng, c.scan, qm,
                                                     c.d->size_mode ? -1 : c.d->coef_limit, blk, 0, &sum);
  if (last < -1) return 1;
  int only_dc = last == 0;
  if (!(sum & 1)) {
    blk[63] ^= 1;
    only_dc = 0;
  }
  c.coded_dc_only[k] = static_cast<uint8_t>(only_dc);
  c.bs = bs;
  return 0;
}

template <bool LIMITED>
int decode_mpeg2_inter_block(Ctx& c, int k, const uint16_t* qm) {
  MBReader bs = c.bs;
  int16_t* blk = c.blk[k];
  const uint8_t* scan = c.scan;
  int sum = 0;
  int i = -1;
  if (bs.show(1)) {
    // "1s" as the first coefficient: run 0, level 1
    const int neg = static_cast<int>(bs.show(2) & 1);
    bs.skip(2);
    i = 0;
    int val = (3 * qm[0]) >> 5;
    if (val > 2047) val = neg ? 2048 : 2047;
    if (neg) val = -val;
    blk[scan[0]] = static_cast<int16_t>(val);
    sum = val;
  }
  const int last = mpeg2_coefficients<LIMITED, false>(bs, c.t->dct0_short, c.t->dct0_long, scan, qm,
                                                      c.d->size_mode ? -1 : c.d->coef_limit, blk, i, &sum);
  if (last < 0) return 1;  // bad code, or end of block before any coefficient
  int only_dc = last == 0 && scan[0] == 0;
  if (!(sum & 1)) {
    blk[63] ^= 1;
    only_dc = 0;
  }
  c.coded_dc_only[k] = static_cast<uint8_t>(only_dc);
  c.bs = bs;
  return 0;
}

// MPEG-1 block: intra when dc is given. Values are made odd toward zero and
// saturated.
int decode_block(Ctx& c, int k, int intra) {
  MBReader bs = c.bs;
  int16_t* blk = c.blk[k];
  const DctEntry* shrt = c.t->dct0_short;
  const DctEntry* lng = c.t->dct0_long;
  const uint8_t* scan = kZigZag;
  const int qs = c.d->quantiser_scale;
  const int limit = c.d->size_mode ? -1 : c.d->coef_limit;
  const uint8_t* matrix = intra ? c.d->intra_matrix : c.d->non_intra_matrix;
  int only_dc = 1;
  int i;
  bool first;
  if (intra) {
    const int cc = k < 4 ? 0 : 1 + ((k - 4) & 1);
    c.dc_pred[cc] += cc ? get_dc_diff_chroma(bs, *c.t) : get_dc_diff_luma(bs, *c.t);
    int dc = c.dc_pred[cc] * 8;
    dc = dc < -2048 ? -2048 : dc > 2047 ? 2047 : dc;
    blk[0] = static_cast<int16_t>(dc);
    i = 0;
    first = false;
  } else {
    i = -1;
    first = true;
  }
  for (;;) {
    const uint32_t v = bs.show(16);
    int run, level, neg;
    if (first && (v & 0x8000)) {
      bs.skip(1);
      run = 0;
      level = 1;
      neg = static_cast<int>(bs.get1());
    } else {
      const DctEntry e = v >= 1024 ? shrt[v >> 8] : lng[v];
      if (e.run < DCT_EOB) {
        bs.skip(e.len);
        run = e.run;
        level = e.level;
        neg = static_cast<int>(bs.get1());
      } else if (e.run == DCT_EOB) {
        if (first) return 1;
        bs.skip(e.len);
        break;
      } else if (e.run == DCT_ESC) {
        bs.skip(6);
        run = static_cast<int>(bs.get(6));
        int lv = static_cast<int>(bs.get(8));
        if (lv == 0) {
          lv = static_cast<int>(bs.get(8));
        } else if (lv == 128) {
          lv = static_cast<int>(bs.get(8)) - 256;
        } else if (lv > 128) {
          lv -= 256;
        }
        neg = lv < 0;
        level = neg ? -lv : lv;
        if (!level) return 1;
      } else {
        return 1;
      }
    }
    first = false;
    const int before = i < 0 ? 0 : i;
    i += run + 1;
    if (i > 63) return 1;
    const int pos = scan[i];
    if (limit < 0 ? (pos & 0x24) != 0 : before > limit) continue;
    int val = intra ? (2 * level * qs * matrix[pos]) >> 4 : ((2 * level + 1) * qs * matrix[pos]) >> 4;
    if (val && !(val & 1)) val -= 1;
    if (val > 2047) val = neg ? 2048 : 2047;
    if (neg) val = -val;
    blk[pos] = static_cast<int16_t>(val);
    if (pos) only_dc = 0;
  }
  c.coded_dc_only[k] = static_cast<uint8_t>(only_dc);
  c.bs = bs;
  return 0;
}

// ---- reconstruction ----

// Destination of block k of the macroblock at luma (x, y) of the picture.
inline uint8_t* block_dest(Ctx& c, int k, int x, int y, int* stride) {
  const int b = c.bsz;
  if (k < 4) {
    if (c.dct_type) {
      *stride = c.lstride * 2;
      return c.frame->y_plane() + c.loff + (y + (k >> 1)) * c.lstride + x + b * (k & 1);
    }
    *stride = c.lstride;
    return c.frame->y_plane() + c.loff + (y + b * (k >> 1)) * c.lstride + x + b * (k & 1);
  }
  uint8_t* plane = (k & 1) ? c.frame->cr_plane() : c.frame->cb_plane();
  const int cx = x >> 1;
  if (c.cf == 1) {
    *stride = c.cstride;
    return plane + c.coff + (y >> 1) * c.cstride + cx;
  }
  const int lower = k >= 6;
  if (c.dct_type) {
    *stride = c.cstride * 2;
    return plane + c.coff + (y + lower) * c.cstride + cx;
  }
  *stride = c.cstride;
  return plane + c.coff + (y + b * lower) * c.cstride + cx;
}

// Stores or adds block k and leaves it zeroed (blocks are all zero between
// macroblocks, so that only the coefficients decoded need writing).
inline void transform_block(Ctx& c, int k, uint8_t* dst, int stride, int add) {
  int16_t* blk = c.blk[k];
  if (c.sm == 0 && c.coded_dc_only[k]) {
    dc_fill(dst, stride, idct_dc_value(blk[0]), add);
    blk[0] = 0;
  } else if (c.sm == 0 && c.d->inverse_transform == idct_dispatch) {
    if (add)
      idct_kernels.add(blk, dst, stride);
    else
      idct_kernels.put(blk, dst, stride);
  } else {
    c.d->inverse_transform(blk, dst, stride, add);
    std::memset(blk, 0, 128);
  }
}

// One region of luma with its chroma, from one or two references. Vectors in
// half samples of the current scale; (x, y) in lines of the region's own
// line stride; soff/doff: first line (0 or 1) of the field read or written.
void mc_block(Ctx& c, Frame* r1, int mx1, int my1, int soff1, Frame* r2, int mx2, int my2, int soff2, int x, int y,
              int doff, int lstride, int w, int h) {
  const int W = c.W;
  const int lines = lstride > W ? c.H / 2 : c.H;
  auto bound = [&](int* mx, int* my) {
    if (2 * x + *mx < 0 || 2 * x + *mx > 2 * (W - w)) *mx = 0;
    if (2 * y + *my < 0 || 2 * y + *my > 2 * (lines - h)) *my = 0;
  };
  bound(&mx1, &my1);
  if (r2) bound(&mx2, &my2);
  Frame* f = c.frame;
  // luma
  {
    uint8_t* dst = f->y_plane() + doff * W + y * lstride + x;
    const uint8_t* s1 = r1->y_plane() + soff1 * W + (y + (my1 >> 1)) * lstride + x + (mx1 >> 1);
    const int m1 = (mx1 & 1) | ((my1 & 1) << 1);
    if (r2) {
      const uint8_t* s2 = r2->y_plane() + soff2 * W + (y + (my2 >> 1)) * lstride + x + (mx2 >> 1);
      const int m2 = (mx2 & 1) | ((my2 & 1) << 1);
      prediction_table.avg[4 * m2 + m1](dst, s1, s2, lstride, w, h);
    } else {
      prediction_table.single[m1](dst, s1, lstride, w, h);
    }
  }
  // chroma
  const int Wc = c.Wc;
  const int cs = lstride >> 1;
  const int cx = x >> 1, cw = w >> 1;
  const int cy = c.cf == 1 ? y >> 1 : y, ch = c.cf == 1 ? h >> 1 : h;
  const int cmx1 = mx1 / 2, cmy1 = c.cf == 1 ? my1 / 2 : my1;
  const int cmx2 = mx2 / 2, cmy2 = c.cf == 1 ? my2 / 2 : my2;
  const int m1 = (cmx1 & 1) | ((cmy1 & 1) << 1);
  const int m2 = (cmx2 & 1) | ((cmy2 & 1) << 1);
  for (int p = 0; p < 2; ++p) {
    uint8_t* dplane = p ? f->cr_plane() : f->cb_plane();
    uint8_t* dst = dplane + doff * Wc + cy * cs + cx;
    const uint8_t* p1 = p ? r1->cr_plane() : r1->cb_plane();
    const uint8_t* s1 = p1 + soff1 * Wc + (cy + (cmy1 >> 1)) * cs + cx + (cmx1 >> 1);
    if (r2) {
      const uint8_t* p2 = p ? r2->cr_plane() : r2->cb_plane();
      const uint8_t* s2 = p2 + soff2 * Wc + (cy + (cmy2 >> 1)) * cs + cx + (cmx2 >> 1);
      prediction_table.avg[4 * m2 + m1](dst, s1, s2, cs, cw, ch);
    } else {
      prediction_table.single[m1](dst, s1, cs, cw, ch);
    }
  }
}

inline void calc_dual_prime(int v, int m, int* out) {
  *out = (m * v + (v > 0)) >> 1;
}

// Prediction of one macroblock. vec[r][s][t]: vectors in half samples of
// full size (field vectors in field lines). Returns 0 when the residual is
// to be added, 1 when a zero-vector fallback was used.
int predict_mb(Ctx& c, int mbx, int mby, int mb_type, int motion_type, int vec[2][2][2], int sel[2][2], int dmv[2]) {
  const int sm = c.sm;
  const int s = c.mbs;
  int dirs = mb_type & (MB_FORWARD | MB_BACKWARD);
  if (c.ptype != 3 && (dirs & MB_BACKWARD)) {
    // backward prediction outside a B picture: forward only, vector 0
    dirs = MB_FORWARD;
    vec[0][0][0] = vec[0][0][1] = vec[1][0][0] = vec[1][0][1] = 0;
  }
  Frame* F = (dirs & MB_FORWARD) ? c.fwd : nullptr;
  Frame* B = (dirs & MB_BACKWARD) ? c.bwd : nullptr;
  if (!F && !B) {
    // no reference: zero-vector copy of whatever reference there is
    Frame* r = c.fwd ? c.fwd : c.bwd;
    if (!r) return 1;
    if (c.ps == 3)
      mc_block(c, r, 0, 0, 0, nullptr, 0, 0, 0, mbx * s, mby * s, 0, c.W, s, s);
    else
      mc_block(c, r, 0, 0, c.parity, nullptr, 0, 0, 0, mbx * s, mby * s, c.parity, 2 * c.W, s, s);
    return 1;
  }
  Frame* r1 = F ? F : B;
  Frame* r2 = F && B ? B : nullptr;
  const int s1 = F ? 0 : 1;  // direction of r1
  const int x = mbx * s;
  if (c.ps == 3) {
    if (motion_type == 2 || c.mpeg1) {
      mc_block(c, r1, vec[0][s1][0] >> sm, vec[0][s1][1] >> sm, 0, r2, vec[0][1][0] >> sm, vec[0][1][1] >> sm, 0,
               x, mby * s, 0, c.W, s, s);
      return 0;
    }
    if (motion_type == 1) {
      for (int r = 0; r < 2; ++r)
        mc_block(c, r1, vec[r][s1][0] >> sm, vec[r][s1][1] >> sm, sel[r][s1], r2, vec[r][1][0] >> sm,
                 vec[r][1][1] >> sm, sel[r][1], x, mby * s / 2, r, 2 * c.W, s, s / 2);
      return 0;
    }
    if (motion_type == 3 && F && !B) {
      const int vx = vec[0][0][0], vy = vec[0][0][1];
      for (int r = 0; r < 2; ++r) {
        // field r from the same parity (vector) and the other parity (derived)
        const int m = (r == 0) == (c.tff != 0) ? 1 : 3;
        int dx, dy;
        calc_dual_prime(vx, m, &dx);
        calc_dual_prime(vy, m, &dy);
        dx += dmv[0];
        dy += dmv[1] + (r == 0 ? -1 : 1);
        mc_block(c, F, vx >> sm, vy >> sm, r, F, dx >> sm, dy >> sm, 1 - r, x, mby * s / 2, r, 2 * c.W, s, s / 2);
      }
      return 0;
    }
  } else {
    const int p = c.parity;
    const int y = mby * s;
    // Reference frame of a field select for direction dir.
    auto ref_of = [&](int dir, int field) -> Frame* {
      if (dir == 1) return c.bwd;
      if (c.second && field != p && c.ptype == 2) return c.frame;
      return c.fwd;
    };
    if (motion_type == 1 || motion_type == 2) {
      const int parts = motion_type == 2 ? 2 : 1;
      const int h = motion_type == 2 ? s / 2 : s;
      for (int r = 0; r < parts; ++r) {
        Frame* a = ref_of(s1, sel[r][s1]);
        Frame* b = r2 ? ref_of(1, sel[r][1]) : nullptr;
        mc_block(c, a, vec[r][s1][0] >> sm, vec[r][s1][1] >> sm, sel[r][s1], b, vec[r][1][0] >> sm,
                 vec[r][1][1] >> sm, sel[r][1], x, y + r * h, p, 2 * c.W, s, h);
      }
      return 0;
    }
    if (motion_type == 3 && F && !B) {
      const int vx = vec[0][0][0], vy = vec[0][0][1];
      int dx, dy;
      calc_dual_prime(vx, 1, &dx);
      calc_dual_prime(vy, 1, &dy);
      dx += dmv[0];
      dy += dmv[1] + (p == 0 ? -1 : 1);
      Frame* opp = c.second ? c.frame : c.fwd;
      mc_block(c, c.fwd, vx >> sm, vy >> sm, p, opp, dx >> sm, dy >> sm, 1 - p, x, y, p, 2 * c.W, s, s);
      return 0;
    }
  }
  // reserved or unusable motion type: zero vectors from the references named
  if (c.ps == 3)
    mc_block(c, r1, 0, 0, 0, r2, 0, 0, 0, x, mby * s, 0, c.W, s, s);
  else
    mc_block(c, r1 == c.bwd ? c.bwd : c.fwd, 0, 0, c.parity, r2, 0, 0, c.parity, x, mby * s, c.parity, 2 * c.W, s,
             s);
  return 1;
}

}  // namespace

// ---- the body ----

int PicDecoder::decode_body(const uint8_t* data, int length, Frame* frame, Frame* forward, Frame* backward,
                            int parse_only, MBInfo* records, int* decoded) {
  *decoded = 0;
  if (length < 0) length = 0;
  padded_data.resize(static_cast<size_t>(length) + MB_READER_PADDING);
  if (length) std::memcpy(padded_data.data(), data, static_cast<size_t>(length));
  std::memset(padded_data.data() + length, 0, MB_READER_PADDING);

  Ctx c;
  std::memset(&c, 0, sizeof c);
  c.d = this;
  c.t = &vlc_tables();
  c.bs.buf = padded_data.data();
  c.bs.pos = 0;
  c.bs.end = static_cast<size_t>(length) * 8;
  c.mpeg1 = !pic.mpeg2;
  c.ptype = pic.picture_coding_type;
  const PicCodingExt* ext = pic.mpeg2 ? pic.coding_ext.get() : nullptr;
  c.ps = ext ? ext->picture_structure : 3;
  if (c.ps < 1 || c.ps > 3) c.ps = 3;
  c.parity = c.ps == 2 ? 1 : 0;
  c.second = c.ps != 3 && second_field;
  if (ext) {
    c.fpfd = ext->frame_pred_frame_dct;
    c.cmv = ext->concealment_motion_vectors;
    c.qst = ext->q_scale_type;
    c.ivlc = ext->intra_vlc_format;
    c.dcprec = ext->intra_dc_precision & 3;
    c.tff = ext->top_field_first;
    for (int s = 0; s < 2; ++s)
      for (int t = 0; t < 2; ++t) {
        int f = ext->f_code[s][t];
        c.r_size[s][t] = (f >= 1 && f <= 9 ? f : 1) - 1;
      }
    scan = ext->alternate_scan ? scan_alternate : kZigZag;
    qscale_table = ext->q_scale_type ? quant_scale_nonlinear : quant_scale_linear;
    if (pic.has_quant_matrix_ext) load_quant_matrix_ext();
  } else {
    c.fpfd = 1;
    const int ff = pic.forward_f_code >= 1 && pic.forward_f_code <= 7 ? pic.forward_f_code : 1;
    const int bf = pic.backward_f_code >= 1 && pic.backward_f_code <= 7 ? pic.backward_f_code : 1;
    c.r_size[0][0] = c.r_size[0][1] = ff - 1;
    c.r_size[1][0] = c.r_size[1][1] = bf - 1;
    c.full_pel[0] = pic.full_pel_forward_vector;
    c.full_pel[1] = pic.full_pel_backward_vector;
    scan = kZigZag;
  }
  c.scan = scan;
  c.qtab = qscale_table;
  std::memset(qweights_valid, 0, sizeof qweights_valid);  // matrices or scan may have changed
  c.sm = size_mode;
  c.bsz = 8 >> size_mode;
  c.mbs = 16 >> size_mode;
  c.cf = chroma_format == 2 ? 2 : 1;
  c.nblocks = c.cf == 2 ? 8 : 6;
  c.parse_only = parse_only;
  c.frame = frame;
  c.fwd = forward;
  c.bwd = backward;
  for (int k = 0; k < 12; ++k) c.blk[k] = blocks[k];

  // Macroblocks of this picture body, bounded by the frame's own grid.
  int cols = mb_cols, rows = mb_rows;
  if (c.ps != 3) rows = mb_rows / 2;
  if (frame && !parse_only) {
    c.W = frame->padded_width();
    c.Wc = frame->c_width();
    c.H = frame->padded_height();
    const int fcols = c.W / c.mbs;
    const int frows = (c.ps == 3 ? c.H : c.H / 2) / c.mbs;
    cols = std::min(cols, fcols);
    rows = std::min(rows, frows);
    if (c.ps == 3) {
      c.lstride = c.W;
      c.cstride = c.Wc;
      c.loff = c.coff = 0;
    } else {
      c.lstride = 2 * c.W;
      c.cstride = 2 * c.Wc;
      c.loff = c.parity * c.W;
      c.coff = c.parity * c.Wc;
    }
  }
  const int to_decode = cols * rows;
  // map: this body's part (second field of a pair: second half)
  uint8_t* map = mb_map.data();
  const int map_base = c.second ? mb_count / 2 : 0;
  if (c.ps == 3 || !c.second) std::memset(map, 0, mb_map.size());
  MBInfo* rec = nullptr;
  if (records) {
    rec = records + (parse_only ? 0 : map_base);
  }
  quant_sum = 0;
  mb_tally = 0;
  if (c.ps == 3) second_field = 0;

  const bool limited = coef_limit < 63 || size_mode > 0;
  int last_row = -1;
  int count = 0;
  int mb = 0;
  int prev_mb_type = 0;
  int vec[2][2][2] = {};

  // ---- slice loop ----
  bool dirty = false;  // blocks hold coefficients not yet consumed
  for (;;) {
  slice_search:
    if (dirty) {
      for (int k = 0; k < 12; ++k) std::memset(blocks[k], 0, 128);
      dirty = false;
    }
    if (count >= to_decode) break;
    c.bs.align();
    {
      // find the next start code
      const uint8_t* b = c.bs.buf;
      size_t i = c.bs.pos >> 3;
      const size_t n = static_cast<size_t>(length);
      bool found = false;
      while (i + 3 < n + 1) {
        const void* z = std::memchr(b + i, 0, n - i);
        if (!z) break;
        i = static_cast<size_t>(static_cast<const uint8_t*>(z) - b);
        if (i + 3 < n + 1 && b[i + 1] == 0 && b[i + 2] == 1) {
          found = true;
          break;
        }
        ++i;
      }
      if (!found || i + 3 >= n) {
        c.bs.pos = c.bs.end;
        break;
      }
      const int code = b[i + 3];
      if (code < 0x01 || code > 0xAF) {
        c.bs.pos = i * 8;
        break;
      }
      c.bs.pos = (i + 4) * 8;
      int row = code - 1;
      if (!c.mpeg1 && padded_height > 2800) row += static_cast<int>(c.bs.get(3)) << 7;
      if (row < last_row) break;
      if (row >= rows) break;  // a slice below the picture ends it
      last_row = row;
      const int qcode = static_cast<int>(c.bs.get(5));
      quantiser_scale = c.mpeg1 ? qcode : c.qtab[qcode];
      while (c.bs.get1()) {
        c.bs.skip(8);
        if (c.bs.overrun()) break;
      }
      const int inc = get_mb_address_increment(c.bs, *c.t);
      if (!inc || c.bs.overrun()) goto slice_search;
      mb = row * cols + inc - 1;
      if (inc - 1 >= cols && !c.mpeg1) goto slice_search;
    }
    c.dc_pred[0] = c.dc_pred[1] = c.dc_pred[2] = 0;
    std::memset(c.pmv, 0, sizeof c.pmv);

    // ---- macroblock loop ----
    for (;;) {
      if (mb >= to_decode) goto slice_search;
      if (c.bs.overrun()) goto slice_search;
      const int mbx = mb % cols, mby = mb / cols;
      // macroblock_type
      int type = get_mb_type(c.bs, *c.t, c.ptype);
      if (!type) goto slice_search;
      int motion_type = 0;
      c.dct_type = 0;
      int mv_count = 1, mv_field = 0, dual = 0;
      if (!c.mpeg1) {
        if (type & (MB_FORWARD | MB_BACKWARD)) {
          if (c.ps == 3 && c.fpfd)
            motion_type = 2;
          else
            motion_type = static_cast<int>(c.bs.get(2));
        } else if ((type & MB_INTRA) && c.cmv) {
          motion_type = c.ps == 3 ? 2 : 1;
        }
        if (c.ps != 3) {
          mv_count = motion_type == 2 ? 2 : 1;
          mv_field = 1;
          dual = motion_type == 3;
        } else {
          mv_count = motion_type == 1 ? 2 : 1;
          mv_field = motion_type == 1 || motion_type == 3;
          dual = motion_type == 3;
        }
        if (c.ps == 3 && !c.fpfd && (type & (MB_INTRA | MB_PATTERN))) c.dct_type = static_cast<int>(c.bs.get1());
      }
      if (type & MB_QUANT) {
        const int qcode = static_cast<int>(c.bs.get(5));
        quantiser_scale = c.mpeg1 ? qcode : c.qtab[qcode];
      }
      // motion vectors
      const int halve = !c.mpeg1 && c.ps == 3 && mv_field;
      bool bad = false;
      for (int s = 0; s < 2 && !bad; ++s) {
        const bool want = s == 0 ? ((type & MB_FORWARD) || ((type & MB_INTRA) && c.cmv && !c.mpeg1))
                                 : (type & MB_BACKWARD) != 0;
        if (!want) continue;
        if (c.mpeg1) {
          const int fp = c.full_pel[s];
          bad = !read_mv_component(c.bs, *c.t, c.r_size[s][0], fp, &c.pmv[0][s][0]) ||
                !read_mv_component(c.bs, *c.t, c.r_size[s][1], fp, &c.pmv[0][s][1]);
          c.pmv[1][s][0] = c.pmv[0][s][0];
          c.pmv[1][s][1] = c.pmv[0][s][1];
          continue;
        }
        if (mv_count == 1) {
          if (mv_field && !dual) c.sel[0][s] = c.sel[1][s] = static_cast<int>(c.bs.get1());
          if (!read_mv_component(c.bs, *c.t, c.r_size[s][0], 0, &c.pmv[0][s][0])) {
            bad = true;
            break;
          }
          if (dual) c.dmv[0] = get_dmvector(c.bs);
          if (!read_mv_component(c.bs, *c.t, c.r_size[s][1], halve, &c.pmv[0][s][1])) {
            bad = true;
            break;
          }
          if (dual) c.dmv[1] = get_dmvector(c.bs);
          c.pmv[1][s][0] = c.pmv[0][s][0];
          c.pmv[1][s][1] = c.pmv[0][s][1];
        } else {
          for (int r = 0; r < 2 && !bad; ++r) {
            c.sel[r][s] = static_cast<int>(c.bs.get1());
            bad = !read_mv_component(c.bs, *c.t, c.r_size[s][0], 0, &c.pmv[r][s][0]) ||
                  !read_mv_component(c.bs, *c.t, c.r_size[s][1], halve, &c.pmv[r][s][1]);
          }
        }
      }
      if (bad) goto slice_search;
      for (int r = 0; r < 2; ++r)
        for (int s = 0; s < 2; ++s) {
          vec[r][s][0] = c.pmv[r][s][0];
          vec[r][s][1] = halve ? c.pmv[r][s][1] >> 1 : c.pmv[r][s][1];
        }
      // blocks
      int cbp = 0;
      const int nb = c.nblocks;
      const bool recon = !parse_only && frame;
      int mpeg1_partial = 0;  // MPEG-1 intra macroblock cut short after block 0
      if (type & MB_INTRA) {
        if (!c.mpeg1 && c.cmv) c.bs.skip(1);  // marker
        if (!c.mpeg1 && !c.cmv) std::memset(c.pmv, 0, sizeof c.pmv);
        cbp = (1 << nb) - 1;
        dirty = true;
        for (int k = 0; k < nb; ++k) {
          int fail;
          if (c.mpeg1) {
            fail = decode_block(c, k, 1);
          } else {
            const uint16_t* m = quant_weights(k >= 4 && c.cf != 1 ? 2 : 0);
            fail = limited ? decode_mpeg2_intra_block<true>(c, k, m) : decode_mpeg2_intra_block<false>(c, k, m);
          }
          if (fail || c.bs.overrun()) {
            if (c.mpeg1 && k > 0) {
              mpeg1_partial = k;
              break;
            }
            goto slice_search;
          }
        }
        if (c.mpeg1) std::memset(c.pmv, 0, sizeof c.pmv);
      } else {
        c.dc_pred[0] = c.dc_pred[1] = c.dc_pred[2] = 0;
        if (type & MB_PATTERN) {
          cbp = get_coded_block_pattern(c.bs, *c.t);
          if (cbp < 0) goto slice_search;
          if (c.cf == 2 && !c.mpeg1) cbp = (cbp << 2) | static_cast<int>(c.bs.get(2));
          if (cbp == 0) goto slice_search;
          if (c.cf == 1 && c.mpeg1) cbp &= 63;
          for (int k = 0; k < nb; ++k) {
            if (!(cbp & (1 << (nb - 1 - k)))) continue;
            dirty = true;
            int fail;
            if (c.mpeg1) {
              fail = decode_block(c, k, 0);
            } else {
              const uint16_t* m = quant_weights(k >= 4 && c.cf != 1 ? 3 : 1);
              fail = limited ? decode_mpeg2_inter_block<true>(c, k, m) : decode_mpeg2_inter_block<false>(c, k, m);
            }
            if (fail || c.bs.overrun()) goto slice_search;
          }
        }
        if (c.ptype == 2 && !(type & MB_FORWARD)) {
          // P macroblock without motion compensation: forward vector 0
          std::memset(c.pmv[0][0], 0, sizeof c.pmv[0][0]);
          std::memset(c.pmv[1][0], 0, sizeof c.pmv[1][0]);
          vec[0][0][0] = vec[0][0][1] = vec[1][0][0] = vec[1][0][1] = 0;
          motion_type = c.ps == 3 ? 2 : 1;
          if (c.ps != 3) c.sel[0][0] = c.sel[1][0] = c.parity;
        }
      }
      // reconstruct
      if (recon) {
        const int x = mbx * c.mbs, y = mby * c.mbs;
        if (type & MB_INTRA) {
          // an MPEG-1 macroblock cut short keeps the failed block as it
          // stands and zero blocks after it
          const int upto = mpeg1_partial ? mpeg1_partial + 1 : nb;
          if (mpeg1_partial) c.coded_dc_only[mpeg1_partial] = 0;
          for (int k = upto; k < nb; ++k) {
            std::memset(c.blk[k], 0, 128);
            c.coded_dc_only[k] = 1;
          }
          for (int k = 0; k < nb; ++k) {
            int stride;
            uint8_t* dst = block_dest(c, k, x, y, &stride);
            transform_block(c, k, dst, stride, 0);
          }
          dirty = false;
        } else {
          int pt = type;
          if (c.ptype == 2 && !(type & MB_FORWARD)) pt |= MB_FORWARD;
          const int mt = c.mpeg1 ? 2 : motion_type;
          const int drop = predict_mb(c, mbx, mby, pt, mt, vec, c.sel, c.dmv);
          if (!drop && cbp) {
            for (int k = 0; k < nb; ++k) {
              if (!(cbp & (1 << (nb - 1 - k)))) continue;
              int stride;
              uint8_t* dst = block_dest(c, k, x, y, &stride);
              transform_block(c, k, dst, stride, 1);
            }
            dirty = false;
          }
        }
      }
      if (records) {
        MBInfo& r = rec[mb];
        r.reset();
        r.mb_type = type & 13;
        r.motion_type = c.mpeg1 && !(type & MB_INTRA) ? 2 : motion_type;
        r.dct_type = c.dct_type;
        r.quantiser_scale = quantiser_scale;
        r.cbp = (type & MB_INTRA) ? (1 << nb) - 1 : cbp;
        for (int rr = 0; rr < 2; ++rr)
          for (int s = 0; s < 2; ++s)
            for (int t = 0; t < 2; ++t) r.mv[rr * 4 + s * 2 + t] = vec[rr][s][t];
        if (!parse_only) {
          r.mv[8] = c.sel[0][0];
          r.mv[9] = c.sel[0][1];
          r.mv[10] = c.sel[1][0];
          r.mv[11] = c.sel[1][1];
          r.mv[12] = c.dmv[0];
          r.mv[13] = c.dmv[1];
        } else {
          double act = 0;
          for (int k = 0; k < nb; ++k) {
            if (!(r.cbp & (1 << (nb - 1 - k)))) continue;
            if (c.mpeg1 && (type & MB_INTRA)) continue;
            int s = 0;
            for (int i = 0; i < 64; ++i) s += std::abs(c.blk[k][i]);
            act += s;
          }
          r.activity = act;
        }
        r.valid = 1;
      }
      if (dirty) {  // parsed only, or residual dropped
        for (int k = 0; k < nb; ++k) std::memset(c.blk[k], 0, 128);
        dirty = false;
      }
      if (!map[map_base + mb]) {
        map[map_base + mb] = 1;
        ++count;
      }
      quant_sum += quantiser_scale;
      ++mb_tally;
      prev_mb_type = type;
      if (mpeg1_partial) goto slice_search;

      // next macroblock address
      if (c.bs.show(23) == 0 || c.bs.overrun()) goto slice_search;
      int inc = get_mb_address_increment(c.bs, *c.t);
      if (!inc) goto slice_search;
      if (c.ptype == 1) inc = 1;
      if (!c.mpeg1 && inc > cols - mbx) goto slice_search;
      // skipped macroblocks
      for (int k = 1; k < inc; ++k) {
        const int smb = mb + k;
        if (smb >= to_decode) goto slice_search;
        c.dc_pred[0] = c.dc_pred[1] = c.dc_pred[2] = 0;
        int stype = prev_mb_type & ~(MB_INTRA | MB_PATTERN | MB_QUANT);
        if (c.ptype == 2) {
          std::memset(c.pmv, 0, sizeof c.pmv);
          stype = MB_FORWARD;
        }
        if (!stype) stype = MB_FORWARD;
        int smt = c.ps == 3 ? 2 : 1;
        int svec[2][2][2];
        int ssel[2][2];
        for (int s = 0; s < 2; ++s) {
          svec[0][s][0] = svec[1][s][0] = c.ptype == 2 ? 0 : c.pmv[0][s][0];
          svec[0][s][1] = svec[1][s][1] = c.ptype == 2 ? 0 : c.pmv[0][s][1];
          ssel[0][s] = ssel[1][s] = c.parity;
        }
        if (!parse_only && frame) {
          const int sx = smb % cols, sy = smb / cols;
          if (c.mpeg1) smt = 2;
          predict_mb(c, sx, sy, stype, smt, svec, ssel, c.dmv);
        }
        if (records) {
          MBInfo& r = rec[smb];
          if (parse_only) {
            const int n = r.mb_number;
            r.assign(rec[smb - 1 >= 0 ? smb - 1 : 0]);
            r.mb_number = n;
            r.skipped = 1;
          } else {
            r.reset();
            if (smb > 0) {
              if (c.mpeg1)
                r.set_from_mpeg1_mb(&rec[smb - 1]);
              else
                r.set_from_mpeg2_mb(&rec[smb - 1]);
            }
            r.mb_type = stype & 13;
            if (c.mpeg1) r.motion_type = 2;
            r.skipped = 1;
            r.valid = 1;
          }
        }
        if (!map[map_base + smb]) {
          map[map_base + smb] = 1;
          ++count;
        }
        quant_sum += quantiser_scale;
        ++mb_tally;
      }
      mb += inc;
    }
  }
  if (dirty)
    for (int k = 0; k < 12; ++k) std::memset(blocks[k], 0, 128);
  *decoded = count;
  size_t consumed = (std::min(c.bs.pos, c.bs.end) + 7) >> 3;
  if (consumed > static_cast<size_t>(length)) consumed = static_cast<size_t>(length);
  return static_cast<int>(consumed);
}
